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
bool IsOpenInput(const Run* run, const char* name) {
  struct stat in {
  }, out{};
  return run->Files.InputStream != nullptr && fstat(fileno(run->Files.InputStream), &in) == 0 &&
         stat(name, &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// How far past a missing file of a numbered input sequence OpenInput
// looks for a later one, which would make the missing one a gap.
constexpr int32_t kSequenceLookahead = 1000;

// The name of input file number `number` (ReadFiles while it is opened).
int InputNameFor(Run* run, int32_t number, char* name, size_t size) {
  int32_t saved = run->Counters.ReadFiles;
  run->Counters.ReadFiles = number;
  int rc = run->Options->Generic ? NextGenericFileName(run, true, name, size)
                                 : ExpandFileName(run, run->Options->InputFile, name, size);
  run->Counters.ReadFiles = saved;
  return rc;
}

// True, with its name in `later`, when a file of the sequence after the
// missing file number `missing` (named `name`) exists.
bool LaterInputExists(Run* run, int32_t missing, const char* name, char* later, size_t size) {
  struct stat st {};
  for (int32_t k = 1; k <= kSequenceLookahead; ++k) {
    // A name that does not follow the number has no later files.
    if (InputNameFor(run, missing + k, later, size) != 0 || std::strcmp(later, name) == 0) break;
    if (stat(later, &st) == 0) return true;
  }
  return false;
}

int OpenInput(Run* run) {
  char name[kFileNameLength + 1];
  ++run->Counters.ReadFiles;
  bool first = run->Counters.ReadFiles == 1;
  int rc = InputNameFor(run, run->Counters.ReadFiles, name, sizeof(name));
  if (rc == 0 && !first && std::strcmp(name, run->Files.CurrentInputFile) == 0) {
    --run->Counters.ReadFiles;  // nothing was opened
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Duplicate input file '%s'\n", name);
  }
  std::snprintf(run->Files.CurrentInputFile, sizeof(run->Files.CurrentInputFile), "%s", name);
  char mode[21];
  FileAccessModeFor(run->Options->FileAccessMode, 'r', mode);
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
    --run->Counters.ReadFiles;
    char later[kFileNameLength + 1];
    if (!first && rc == 0 && error == ENOENT &&
        LaterInputExists(run, run->Counters.ReadFiles + 1, name, later, sizeof later)) {
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                            "Input file '%s' is missing but '%s' follows it\n", name, later);
    }
    // The first missing number of a numbered sequence ends the input.
    if (!first && (rc != 0 || error == ENOENT)) return 0;
    if (run->Options->FileAccessMode != nullptr) {
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Can not open input file '%s'(%s)\n", name,
                           mode);
    }
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Can not open input file '%s'\n", name);
  }
  run->Files.InputStream = stream;
  run->Files.InputFileBytes = 0;
  int64_t size = FileSize(stream);
  if (first && !run->Options->Generic) {
    // Generic load sets the total of a whole group of files itself.
    StartProgress(run, size);
    if (run->Files.ProgressTotal != 0) {
      std::fprintf(stderr, "\nLoading '%s' ", name);
      ShowProgress(run, ":  0%");
    }
  } else if (!run->Options->Generic && run->Files.ProgressTotal != 0) {
    // Later files of a numbered sequence stretch the total as they come.
    run->Files.ProgressTotal = run->Files.FinishedInputBytes + size;
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

int OpenOutput(Run* run, bool mayPrompt) {
  char name[kFileNameLength + 1];
  int rc = run->Options->Generic ? NextGenericFileName(run, false, name, sizeof(name))
                         : ExpandFileName(run, run->Options->OutputFile, name, sizeof(name));
  // The roll-over rename was refused (its text is set). Any other failure
  // is a name too long to hold, refused below as a file that cannot open.
  if (rc != 0 && run->Options->Generic && run->Counters.WrittenFiles == 1) return rc;
  bool special = std::strcmp(name, "stdout") == 0 || std::strcmp(name, "null") == 0;
  // A name that comes out the same as the file this run has just written
  // (a constant name, or %n while the input is one file) would overwrite
  // that file at every roll-over: refuse it whatever -F says.
  bool again =
      !special && run->Counters.WrittenFiles > 0 && std::strcmp(name, run->Files.CurrentOutputFile) == 0;
  std::snprintf(run->Files.CurrentOutputFile, sizeof(run->Files.CurrentOutputFile), "%s", name);
  if (again) {
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
  }
  char mode[21];
  FileAccessModeFor(run->Options->FileAccessMode, 'w', mode);
  FILE* stream = nullptr;
  bool created = false;
  if (rc == 0 && std::strcmp(name, "stdout") == 0) {
    stream = stdout;
  } else if (rc == 0 && std::strcmp(name, "null") == 0) {
    stream = stdout;
    run->Settings.OutputIsNull = true;
  } else {
    struct stat st {};
    if (rc == 0 && IsOpenInput(run, name)) {
      // Opening it for writing would destroy the messages being read.
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                           "Output file '%s' is the input file being read\n", name);
    }
    // lstat: a link, dangling or not, is a name that exists.
    bool exists = rc == 0 && lstat(name, &st) == 0;
    if (exists && !run->Options->ForceOverwrite && !run->Files.OverwriteAll) {
      if (!mayPrompt) {
        return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
      }
      int answer = AskOverwrite(run, name, stdin, stderr);
      if (answer != 0) return answer;
    }
    if (rc == 0) stream = OpenOutputStream(name, mode, exists, &created);
    if (rc == 0 && stream == nullptr && errno == EEXIST && !exists) {
      // Created by someone else since we looked: never ours to overwrite.
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
    }
    if (stream == nullptr) {
      if (run->Options->FileAccessMode != nullptr) {
        return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Can not open output file '%s'(%s)\n",
                             name, mode);
      }
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Can not open output file '%s'\n", name);
    }
  }
  run->Files.OutputStream = stream;
  ++run->Counters.WrittenFiles;
  run->Files.FileMessageCount = 0;
  run->Files.FileOpenTime = static_cast<int64_t>(std::time(nullptr));
  // Appending starts behind what the file already holds; the size limit
  // counts the whole file.
  run->Files.OutputFilePosition = stream == stdout ? 0 : FileSize(stream);
  run->Files.OutputSyncedPosition = run->Files.OutputFilePosition;
  run->Files.OutputDirectoryUnsynced = created;
  run->Files.OutputNeedsEnd = false;
  rc = NoteOutputOpened(run, run->Files.OutputFilePosition);
  if (rc != 0) CloseOutputFile(run);  // a file a backout could not undo
  return rc;
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

int FlushError(Run* run, const char* name, int error) {
  return SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Error flushing data to file '%s'RC(%d)", name,
                        error != 0 ? error : EIO);
}

}  // namespace

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

int AskOverwrite(Run* run, const char* name, FILE* in, FILE* out) {
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
      run->Files.OverwriteAll = true;
      return 0;
    }
    if (first == 'n' || first == 'N') break;
  }
  return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
}

int OpenInputFile(Run* run) {
  if (run->Options->InputFile[0] == '\0' || run->Files.InputStream != nullptr) return 0;
  return OpenInput(run);
}

int OpenOutputFile(Run* run) {
  if (run->Options->OutputFile[0] == '\0' || run->Files.OutputStream != nullptr) return 0;
  return OpenOutput(run, run->Options->Interactive);
}

int MakeOutputDurable(Run* run) {
  FILE* stream = run->Files.OutputStream;
  if (stream == nullptr || run->Settings.OutputIsNull) return 0;
  errno = 0;
  // A stream may report a failed write only through its error flag.
  if (std::fflush(stream) != 0 || std::ferror(stream)) {
    return FlushError(run, run->Files.CurrentOutputFile, errno);
  }
  struct stat st {};
  int fd = fileno(stream);
  bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  // Standard output may be a pipe or a terminal: nothing there to sync.
  if (regular && run->Files.OutputFilePosition != run->Files.OutputSyncedPosition) {
    if (fdatasync(fd) != 0) return FlushError(run, run->Files.CurrentOutputFile, errno);
    run->Files.OutputSyncedPosition = run->Files.OutputFilePosition;
  }
  if (run->Files.OutputDirectoryUnsynced) {
    // The file's data is no use after a crash if its name is lost.
    char dir[kFileNameLength + 1];
    DirectoryOf(run->Files.CurrentOutputFile, dir, sizeof dir);
    int dirFd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Some file systems cannot sync a directory (EINVAL): nothing to do.
    int failed = dirFd < 0 || (fsync(dirFd) != 0 && errno != EINVAL);
    int error = errno;
    if (dirFd >= 0) close(dirFd);
    if (failed) return FlushError(run, dir, error);
    run->Files.OutputDirectoryUnsynced = false;
  }
  return 0;
}

int CloseOutputFile(Run* run) {
  FILE* stream = run->Files.OutputStream;
  if (stream == nullptr) return 0;
  int rc = WriteFileEnd(run);
  // The messages of a unit still open must be on disk before its commit,
  // and the commit can no longer reach a file closed now.
  if (rc == 0 && run->Options->DestructiveGet) rc = MakeOutputDurable(run);
  run->Files.OutputStream = nullptr;
  int failed = stream == stdout ? std::fflush(stream) : std::fclose(stream);
  if (failed != 0) {
    return SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Can not write to file '%s'",
                         run->Files.CurrentOutputFile);
  }
  return rc;
}

void CloseInputFile(Run* run) {
  FILE* stream = run->Files.InputStream;
  if (stream == nullptr) return;
  run->Files.InputStream = nullptr;
  if (stream != stdin) std::fclose(stream);
}

int PrepareOutputFile(Run* run, int64_t messageLength, const char* sourceQueue) {
  if (run->Files.OutputStream != nullptr && run->Options->LimitsActive && run->Options->MaxFileSize > 0 &&
      run->Files.FileMessageCount > 0) {
    // Keep room for the message written out in full (twice its bytes
    // covers hex digits) and its descriptor lines. A file that holds no
    // message yet takes it whatever its size: closing it would only leave
    // an empty file behind.
    int64_t room = run->Options->MaxFileSize - run->Files.OutputFilePosition;
    if (room < 2 * (messageLength + 512)) {
      int rc = CloseOutputFile(run);
      if (rc != 0) return rc;
    }
  }
  if (run->Files.OutputStream == nullptr && !run->Settings.OutputIsNull) {
    int rc = OpenOutputFile(run);
    if (rc != 0) return rc;
    return WriteFileHeader(run, sourceQueue);
  }
  return 0;
}

bool FileLimitReachedAt(Run* run, int64_t now) {
  if (run->Files.OutputStream == nullptr || !run->Options->LimitsActive) return false;
  if (run->Options->MaxMessagesPerFile > 0 && run->Files.FileMessageCount >= run->Options->MaxMessagesPerFile) {
    return true;
  }
  if (run->Options->MaxFileAge > 0 && now - run->Files.FileOpenTime >= run->Options->MaxFileAge) return true;
  if (run->Options->MaxFileSize > 0 && run->Files.OutputFilePosition >= run->Options->MaxFileSize) return true;
  return false;
}

bool FileLimitReached(Run* run) {
  return FileLimitReachedAt(run, static_cast<int64_t>(std::time(nullptr)));
}
