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
bool IsOpenInput(const Run* run, const char* name) {
  struct stat in {
  }, out{};
  return run->Files.InputStream != nullptr && fstat(fileno(run->Files.InputStream), &in) == 0 &&
         stat(name, &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

int OpenInput(Run* run) {
  char name[kFileNameLength + 1];
  ++run->Counters.ReadFiles;
  bool first = run->Counters.ReadFiles == 1;
  int rc = run->Options->Generic ? NextGenericFileName(run, true, name, sizeof(name))
                         : ExpandFileName(run, run->Options->InputFile, name, sizeof(name));
  if (rc == 0 && !first && std::strcmp(name, run->Files.CurrentInputFile) == 0) {
    --run->Counters.ReadFiles;  // nothing was opened
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Duplicate input file '%s'\n", name);
  }
  std::snprintf(run->Files.CurrentInputFile, sizeof(run->Files.CurrentInputFile), "%s", name);
  char mode[21];
  FileAccessModeFor(run->Options->FileAccessMode, 'r', mode);
  // A name too long to hold is never opened: the cut name is another file.
  FILE* stream = rc == 0 ? std::fopen(name, mode) : nullptr;
  if (stream == nullptr) {
    --run->Counters.ReadFiles;
    // A later file of a numbered sequence that is missing ends the input.
    if (!first) return MQRC_FILE_SYSTEM_ERROR;
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
    if (rc == 0 && !run->Options->ForceOverwrite && !run->Files.OverwriteAll && stat(name, &st) == 0) {
      if (!mayPrompt) {
        return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "File '%s' already exists.\n", name);
      }
      int answer = AskOverwrite(run, name, stdin, stderr);
      if (answer != 0) return answer;
    }
    if (rc == 0) stream = std::fopen(name, mode);
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
  rc = NoteOutputOpened(run, run->Files.OutputFilePosition);
  if (rc != 0) CloseOutputFile(run);  // a file a backout could not undo
  return rc;
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

int OpenRunFiles(Run* run, bool mayPrompt, bool openInput, bool openOutput) {
  if (openInput && run->Options->InputFile[0] != '\0' && run->Files.InputStream == nullptr) {
    int rc = OpenInput(run);
    if (rc != 0) return rc;
  }
  if (openOutput && run->Options->OutputFile[0] != '\0' && run->Files.OutputStream == nullptr) {
    int rc = OpenOutput(run, mayPrompt);
    if (rc != 0) return rc;
  }
  return 0;
}

int CloseOutputFile(Run* run) {
  FILE* stream = run->Files.OutputStream;
  if (stream == nullptr) return 0;
  run->Files.OutputStream = nullptr;
  int failed = stream == stdout ? std::fflush(stream) : std::fclose(stream);
  if (failed != 0) {
    return SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Can not write to file '%s'",
                         run->Files.CurrentOutputFile);
  }
  return 0;
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
    int rc = OpenRunFiles(run, run->Options->Interactive, false, true);
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
