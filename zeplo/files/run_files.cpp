// Opening and closing the run's input and output files, the overwrite
// question, the access modes of -a and the -L roll-over limits.
#include <sys/stat.h>

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

int OpenInput(RunOptions* opts) {
  char name[kFileNameLength + 1];
  ++opts->ReadFiles;
  bool first = opts->ReadFiles == 1;
  int rc = opts->Generic ? NextGenericFileName(opts, true, name, sizeof(name))
                         : ExpandFileName(opts, opts->InputFile, name, sizeof(name));
  if (rc == 0 && !first && std::strcmp(name, opts->CurrentInputFile) == 0) {
    --opts->ReadFiles;  // nothing was opened
    return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "Duplicate input file '%s'\n", name);
  }
  std::snprintf(opts->CurrentInputFile, sizeof(opts->CurrentInputFile), "%s", name);
  char mode[21];
  FileAccessModeFor(opts->FileAccessMode, 'r', mode);
  // A name too long to hold is never opened: the cut name is another file.
  FILE* stream = rc == 0 ? std::fopen(name, mode) : nullptr;
  if (stream == nullptr) {
    --opts->ReadFiles;
    // A later file of a numbered sequence that is missing ends the input.
    if (!first) return MQRC_FILE_SYSTEM_ERROR;
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
    if (rc == 0 && !opts->ForceOverwrite && stat(name, &st) == 0) {
      if (!mayPrompt) {
        return SetFilesError(opts, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
      }
      int answer = AskOverwrite(opts, name, stdin, stderr);
      if (answer != 0) return answer;
    }
    if (rc == 0) stream = std::fopen(name, mode);
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
  rc = NoteOutputOpened(opts, opts->OutputFilePosition);
  if (rc != 0) CloseOutputFile(opts);  // a file a backout could not undo
  return rc;
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

int CloseOutputFile(RunOptions* opts) {
  FILE* stream = opts->OutputStream;
  if (stream == nullptr) return 0;
  opts->OutputStream = nullptr;
  int failed = stream == stdout ? std::fflush(stream) : std::fclose(stream);
  if (failed != 0) {
    return SetFilesError(opts, MQRC_RESOURCE_PROBLEM, "Can not write to file '%s'",
                         opts->CurrentOutputFile);
  }
  return 0;
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
