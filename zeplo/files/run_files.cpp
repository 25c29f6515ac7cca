// Opening and closing the run's input and output files, the overwrite
// question, the access modes of -a and the -L roll-over limits.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

int64_t FileSize(FILE* stream) {
  struct stat st {};
  if (stream == nullptr || fstat(fileno(stream), &st) != 0) return 0;
  return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
}

// True when `name` is the very file the open input stream reads, under
// whatever name.
bool IsOpenInput(const RunOptions* opts, const char* name) {
  struct stat in {
  }, out{};
  return opts->InputStream != nullptr && fstat(fileno(opts->InputStream), &in) == 0 &&
         stat(name, &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// How far past a missing file of a numbered input sequence OpenInput
// looks for a later one, which would make the missing one a gap.
constexpr int32_t kSequenceLookahead = 1000;

// The name of input file number `number` (ReadFiles while it is opened).
int InputNameFor(RunOptions* opts, int32_t number, char* name, size_t size) {
  int32_t saved = opts->ReadFiles;
  opts->ReadFiles = number;
  int rc = opts->Generic ? NextGenericFileName(opts, true, name, size)
                         : ExpandFileName(opts, opts->InputFile, name, size);
  opts->ReadFiles = saved;
  return rc;
}

// True, with its name in `later`, when a file of the sequence after the
// missing file number `missing` (named `name`) exists.
bool LaterInputExists(RunOptions* opts, int32_t missing, const char* name, char* later,
                      size_t size) {
  struct stat st {};
  for (int32_t k = 1; k <= kSequenceLookahead; ++k) {
    // A name that does not follow the number has no later files.
    if (InputNameFor(opts, missing + k, later, size) != 0 || std::strcmp(later, name) == 0) break;
    if (stat(later, &st) == 0) return true;
  }
  return false;
}

int OpenInput(RunOptions* opts) {
  char name[kFileNameLength + 1];
  ++opts->ReadFiles;
  bool first = opts->ReadFiles == 1;
  int rc = InputNameFor(opts, opts->ReadFiles, name, sizeof(name));
  if (rc == 0 && !first && std::strcmp(name, opts->CurrentInputFile) == 0) {
    --opts->ReadFiles;  // nothing was opened
    return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "Duplicate input file '%s'\n", name);
  }
  std::snprintf(opts->CurrentInputFile, sizeof(opts->CurrentInputFile), "%s", name);
  char mode[21];
  FileAccessModeFor(opts->FileAccessMode, 'r', mode);
  // A name too long to hold is never opened: the cut name is another file.
  FILE* stream = rc == 0 ? std::fopen(name, mode) : nullptr;
  int error = stream == nullptr ? errno : 0;
  struct stat st {};
  if (stream != nullptr && fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode)) {
    // A directory opens, and then reads as nothing at all.
    std::fclose(stream);
    stream = nullptr;
    error = EISDIR;
  }
  if (stream == nullptr) {
    --opts->ReadFiles;
    char later[kFileNameLength + 1];
    if (!first && rc == 0 && error == ENOENT &&
        LaterInputExists(opts, opts->ReadFiles + 1, name, later, sizeof later)) {
      return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR,
                           "Input file '%s' is missing but '%s' follows it\n", name, later);
    }
    // The first missing number of a numbered sequence ends the input.
    if (!first && (rc != 0 || error == ENOENT)) return 0;
    if (opts->FileAccessMode != nullptr) {
      return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "Can not open input file '%s'(%s)\n", name,
                           mode);
    }
    return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "Can not open input file '%s'\n", name);
  }
  opts->InputStream = stream;
  opts->InputFileBytes = 0;
  int64_t size = FileSize(stream);
  if (first && !opts->Generic) {
    // Generic load sets the total of a whole group of files itself.
    StartProgress(opts, size);
    if (opts->ProgressTotal != 0) {
      std::fprintf(stderr, "\nLoading '%s' ", name);
      ShowProgress(opts, ":  0%");
    }
  } else if (!opts->Generic && opts->ProgressTotal != 0) {
    // Later files of a numbered sequence stretch the total as they come.
    opts->ProgressTotal = opts->FinishedInputBytes + size;
  }
  return 0;
}

// Opens output file `name` in fopen `mode` without ever writing through a
// symbolic link. A new file is created exclusively (a name planted between
// our look and the create is refused, not followed). Overwriting a file
// or a link (`replace`: -F or a yes at the overwrite question) unlinks the
// name first, so the name, never what a link points at, gets the new file;
// a device or pipe (/dev/null, a FIFO) is written in place, never unlinked.
// Appending opens an existing file itself, refusing a link. *created tells
// a new file apart.
FILE* OpenOutputStream(const char* name, const char* mode, bool replace, bool* created) {
  *created = false;
  bool append = mode[0] == 'a';
  int access = std::strchr(mode, '+') != nullptr ? O_RDWR : O_WRONLY;
  struct stat st {};
  bool exists = lstat(name, &st) == 0;
  bool special = exists && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode);
  int fd = -1;
  if (special || (append && exists)) {
    fd = open(name, access | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : 0));
  } else {
    if (exists && replace && unlink(name) != 0) return nullptr;
    fd = open(name, access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : 0),
              0666);
    *created = fd >= 0;
  }
  if (fd < 0) return nullptr;
  char streamMode[3] = {append ? 'a' : 'w', access == O_RDWR ? '+' : '\0', '\0'};
  FILE* stream = fdopen(fd, streamMode);
  if (stream == nullptr) close(fd);
  return stream;
}

int OpenOutput(RunOptions* opts, bool mayPrompt) {
  char name[kFileNameLength + 1];
  int rc = opts->Generic ? NextGenericFileName(opts, false, name, sizeof(name))
                         : ExpandFileName(opts, opts->OutputFile, name, sizeof(name));
  // The roll-over rename was refused (its text is set). Any other failure
  // is a name too long to hold, refused below as a file that cannot open.
  if (rc != 0 && opts->Generic && opts->WrittenFiles == 1) return rc;
  bool special = std::strcmp(name, "stdout") == 0 || std::strcmp(name, "null") == 0;
  // A name that comes out the same as the file this run has just written
  // (a constant name, or %n while the input is one file) would overwrite
  // that file at every roll-over: refuse it whatever -F says.
  bool again =
      !special && opts->WrittenFiles > 0 && std::strcmp(name, opts->CurrentOutputFile) == 0;
  std::snprintf(opts->CurrentOutputFile, sizeof(opts->CurrentOutputFile), "%s", name);
  if (again) {
    return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
  }
  char mode[21];
  FileAccessModeFor(opts->FileAccessMode, 'w', mode);
  FILE* stream = nullptr;
  bool created = false;
  if (rc == 0 && std::strcmp(name, "stdout") == 0) {
    stream = stdout;
  } else if (rc == 0 && std::strcmp(name, "null") == 0) {
    stream = stdout;
    opts->OutputIsNull = true;
  } else {
    struct stat st {};
    if (rc == 0 && IsOpenInput(opts, name)) {
      // Opening it for writing would destroy the messages being read.
      return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR,
                           "Output file '%s' is the input file being read\n", name);
    }
    // lstat: a link, dangling or not, is a name that exists.
    bool exists = rc == 0 && lstat(name, &st) == 0;
    if (exists && !opts->ForceOverwrite) {
      if (!mayPrompt) {
        return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
      }
      int answer = AskOverwrite(opts, name, stdin, stderr);
      if (answer != 0) return answer;
    }
    if (rc == 0) stream = OpenOutputStream(name, mode, exists, &created);
    if (rc == 0 && stream == nullptr && errno == EEXIST && !exists) {
      // Created by someone else since we looked: never ours to overwrite.
      return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
    }
    if (stream == nullptr) {
      if (opts->FileAccessMode != nullptr) {
        return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "Can not open output file '%s'(%s)\n",
                             name, mode);
      }
      return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "Can not open output file '%s'\n", name);
    }
  }
  opts->OutputStream = stream;
  ++opts->WrittenFiles;
  opts->FileMessageCount = 0;
  opts->FileOpenTime = static_cast<int64_t>(std::time(nullptr));
  // Appending starts behind what the file already holds; the size limit
  // counts the whole file.
  opts->OutputFilePosition = stream == stdout ? 0 : FileSize(stream);
  opts->OutputSyncedPosition = opts->OutputFilePosition;
  opts->OutputDirectoryUnsynced = created;
  opts->OutputNeedsEnd = false;
  return 0;
}

// The directory holding `name` ("." for a bare name) into `dir`.
void DirectoryOf(const char* name, char* dir, size_t size) {
  const char* slash = std::strrchr(name, '/');
  if (slash == nullptr) {
    std::snprintf(dir, size, ".");
  } else {
    int length = slash == name ? 1 : static_cast<int>(slash - name);
    std::snprintf(dir, size, "%.*s", length, name);
  }
}

int FlushError(RunOptions* opts, const char* name, int error) {
  return SetFilesError(opts, MQRC_RESOURCE_PROBLEM, "Error flushing data to file '%s'RC(%d)", name,
                       error != 0 ? error : EIO);
}

}  // namespace

int SetFilesError(RunOptions* opts, int rc, const char* format, ...) {
  if (opts->ExitMessage[0] == '\0') {
    va_list args;
    va_start(args, format);
    std::vsnprintf(opts->ExitMessage, sizeof(opts->ExitMessage), format, args);
    va_end(args);
  }
  return rc;
}

void FileAccessModeFor(const char* accessMode, char base, char* mode) {
  if (accessMode == nullptr) {
    mode[0] = base;
    mode[1] = '\0';
  } else if (std::strchr(accessMode, base) != nullptr ||
             (base == 'w' && std::strchr(accessMode, 'a') != nullptr)) {
    std::snprintf(mode, 21, "%.20s", accessMode);
  } else {
    std::snprintf(mode, 21, "%c%.19s", base, accessMode);
  }
}

int AskOverwrite(RunOptions* opts, const char* name, FILE* in, FILE* out) {
  for (;;) {
    std::fprintf(out, "File '%s' exists - overwrite (y)es/(n)o/(a)ll ?\n", name);
    std::fflush(out);
    char line[102];
    if (std::fgets(line, sizeof(line), in) == nullptr) break;  // end of input: no
    // An over-long answer is one answer: drop the rest of its line.
    if (std::strchr(line, '\n') == nullptr) {
      int c;
      do c = std::fgetc(in);
      while (c != EOF && c != '\n');
    }
    char first = line[0];
    if (first == 'y' || first == 'Y') return 0;
    if (first == 'a' || first == 'A') {
      opts->ForceOverwrite = true;
      return 0;
    }
    if (first == 'n' || first == 'N') break;
  }
  return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
}

int OpenRunFiles(RunOptions* opts, bool mayPrompt, bool openInput, bool openOutput) {
  if (openInput && opts->InputFile[0] != '\0' && opts->InputStream == nullptr) {
    int rc = OpenInput(opts);
    if (rc != 0) return rc;
  }
  if (openOutput && opts->OutputFile[0] != '\0' && opts->OutputStream == nullptr) {
    int rc = OpenOutput(opts, mayPrompt);
    if (rc != 0) return rc;
  }
  return 0;
}

int MakeOutputDurable(RunOptions* opts) {
  FILE* stream = opts->OutputStream;
  if (stream == nullptr || opts->OutputIsNull) return 0;
  errno = 0;
  // A stream may report a failed write only through its error flag.
  if (std::fflush(stream) != 0 || std::ferror(stream)) {
    return FlushError(opts, opts->CurrentOutputFile, errno);
  }
  struct stat st {};
  int fd = fileno(stream);
  bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  // Standard output may be a pipe or a terminal: nothing there to sync.
  if (regular && opts->OutputFilePosition != opts->OutputSyncedPosition) {
    if (fdatasync(fd) != 0) return FlushError(opts, opts->CurrentOutputFile, errno);
    opts->OutputSyncedPosition = opts->OutputFilePosition;
  }
  if (opts->OutputDirectoryUnsynced) {
    // The file's data is no use after a crash if its name is lost.
    char dir[kFileNameLength + 1];
    DirectoryOf(opts->CurrentOutputFile, dir, sizeof dir);
    int dirFd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Some file systems cannot sync a directory (EINVAL): nothing to do.
    int failed = dirFd < 0 || (fsync(dirFd) != 0 && errno != EINVAL);
    int error = errno;
    if (dirFd >= 0) close(dirFd);
    if (failed) return FlushError(opts, dir, error);
    opts->OutputDirectoryUnsynced = false;
  }
  return 0;
}

int CloseOutputFile(RunOptions* opts) {
  FILE* stream = opts->OutputStream;
  if (stream == nullptr) return 0;
  int rc = WriteFileEnd(opts);
  // The messages of a unit still open must be on disk before its commit,
  // and the commit can no longer reach a file closed now.
  if (rc == 0 && opts->DestructiveGet) rc = MakeOutputDurable(opts);
  opts->OutputStream = nullptr;
  int failed = stream == stdout ? std::fflush(stream) : std::fclose(stream);
  if (failed != 0) {
    return SetFilesError(opts, MQRC_RESOURCE_PROBLEM, "Can not write to file '%s'",
                         opts->CurrentOutputFile);
  }
  return rc;
}

void CloseInputFile(RunOptions* opts) {
  FILE* stream = opts->InputStream;
  if (stream == nullptr) return;
  opts->InputStream = nullptr;
  if (stream != stdin) std::fclose(stream);
}

int PrepareOutputFile(RunOptions* opts, int64_t messageLength, const char* sourceQueue) {
  if (opts->OutputStream != nullptr && opts->LimitsActive && opts->MaxFileSize > 0 &&
      opts->FileMessageCount > 0) {
    // Keep room for the message written out in full (twice its bytes
    // covers hex digits) and its descriptor lines. A file that holds no
    // message yet takes it whatever its size: closing it would only leave
    // an empty file behind.
    int64_t room = opts->MaxFileSize - opts->OutputFilePosition;
    if (room < 2 * (messageLength + 512)) {
      int rc = CloseOutputFile(opts);
      if (rc != 0) return rc;
    }
  }
  if (opts->OutputStream == nullptr && !opts->OutputIsNull) {
    int rc = OpenRunFiles(opts, opts->Interactive, false, true);
    if (rc != 0) return rc;
    return WriteFileHeader(opts, sourceQueue);
  }
  return 0;
}

bool FileLimitReachedAt(RunOptions* opts, int64_t now) {
  if (opts->OutputStream == nullptr || !opts->LimitsActive) return false;
  if (opts->MaxMessagesPerFile > 0 && opts->FileMessageCount >= opts->MaxMessagesPerFile) {
    return true;
  }
  if (opts->MaxFileAge > 0 && now - opts->FileOpenTime >= opts->MaxFileAge) return true;
  if (opts->MaxFileSize > 0 && opts->OutputFilePosition >= opts->MaxFileSize) return true;
  return false;
}

bool FileLimitReached(RunOptions* opts) {
  return FileLimitReachedAt(opts, static_cast<int64_t>(std::time(nullptr)));
}
