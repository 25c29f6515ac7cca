// The -j value and what it asks for: a formatted file to read, or the
// formatter to run on a log directory or on the queue manager's own log,
// with an optional LSN range; and the formatter's command line.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zeplo/logreplay/logreplay.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr int kRefused = 2046;  // MQRC_OPTIONS_ERROR, as every refusal

const char kBadFormat[] = "Unrecognised log file parameter format.\n";

int Refuse(const char* text) {
  fputs(text, stderr);
  return kRefused;
}

// Adds one word to the command line as shown (followed by a blank) and to
// the argument words. False when either would overflow.
bool AddWord(RunOptions* options, size_t* textUsed, const char* word) {
  size_t shown = strlen(options->LogCommand);
  size_t length = strlen(word);
  if (shown + length + 1 > kLogCommandLength ||
      *textUsed + length + 1 > sizeof options->LogArgText || options->LogArgCount >= kLogMaxArgs)
    return false;
  memcpy(options->LogCommand + shown, word, length);
  options->LogCommand[shown + length] = ' ';
  options->LogCommand[shown + length + 1] = '\0';
  memcpy(options->LogArgText + *textUsed, word, length + 1);
  *textUsed += length + 1;
  options->LogArgCount++;
  return true;
}

// The directory the formatter is to read, made absolute (the formatter
// takes only absolute paths), into out. *isDirectory is false when the
// path names a file to read instead. Returns 0 or 2046.
int LogDirectory(const char* path, char (&out)[kFileNameLength + 1], bool* isDirectory) {
  char directory[kFileNameLength + 1], fileName[kFileNameLength + 1];
  bool relative = false;
  SplitPath(path, false, directory, sizeof directory, fileName, sizeof fileName, &relative);
  struct stat st;
  if (fileName[0] != '\0' && stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
    // A directory with a dot in its name is still a directory.
    snprintf(directory, sizeof directory, "%s", path);
    relative = path[0] != '/';
  } else if (fileName[0] != '\0') {
    *isDirectory = false;
    return 0;
  }
  *isDirectory = true;
  if (!relative) {
    snprintf(out, sizeof out, "%s", directory);
    return 0;
  }
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) {
    fprintf(stderr, "Sorry, the log directory '%s' can not be made absolute: %s\n", directory,
            strerror(errno));
    return kRefused;
  }
  int n = snprintf(out, sizeof out, "%s/%s", cwd, directory);
  if (n < 0 || static_cast<size_t>(n) >= sizeof out) {
    fprintf(stderr, "Sorry, the log directory '%s/%s' is longer than %d characters.\n", cwd,
            directory, kFileNameLength);
    return kRefused;
  }
  return 0;
}

}  // namespace

size_t CopyUntil(char* out, size_t outSize, const char* text, size_t maximum, const char* stops) {
  size_t n = 0;
  if (outSize == 0) return 0;
  while (text[n] != '\0' && strchr(stops, text[n]) == nullptr && (maximum == 0 || n < maximum) &&
         n + 1 < outSize) {
    out[n] = text[n];
    n++;
  }
  out[n] = '\0';
  return n;
}

void SplitPath(const char* path, bool allowNoDot, char* directory, size_t directorySize,
               char* fileName, size_t fileNameSize, bool* relative) {
  while (*path == ' ') path++;
  const char* name = path;
  size_t directoryLength = 0;
  if (!allowNoDot && strchr(path, '.') == nullptr) {
    directoryLength = strlen(path);
    name = path + directoryLength;
  } else {
    for (const char* p = path; *p != '\0'; p++)
      if (*p == '/' || *p == '\\') name = p + 1;
    directoryLength = name > path ? static_cast<size_t>(name - path) : 0;
  }
  // The separator that ends the directory goes; "/" alone stays the root.
  if (directoryLength > 1 &&
      (path[directoryLength - 1] == '/' || path[directoryLength - 1] == '\\'))
    directoryLength--;
  if (directoryLength >= directorySize) directoryLength = directorySize - 1;
  memcpy(directory, path, directoryLength);
  directory[directoryLength] = '\0';
  snprintf(fileName, fileNameSize, "%s", name);
  *relative = directory[0] != '/';
}

int ParseLogParameter(RunOptions* options, const char* value) {
  size_t n = CopyUntil(options->LogPath, sizeof options->LogPath, value, 0, "(");
  const char* p = value + n;
  if (*p != '\0' && *p != '(') {
    fprintf(stderr, "Sorry, the log file path is longer than %d characters.\n", kFileNameLength);
    return kRefused;
  }
  options->LogStartLsn[0] = options->LogEndLsn[0] = '\0';
  if (*p == '(') {
    // Each copy stops at its delimiter or the end; anywhere else it ran
    // out of room.
    p++;
    p += CopyUntil(options->LogStartLsn, sizeof options->LogStartLsn, p, 0, "-)");
    bool tooLong = *p != '\0' && *p != '-' && *p != ')';
    if (!tooLong && *p == '-') {
      p++;
      p += CopyUntil(options->LogEndLsn, sizeof options->LogEndLsn, p, 0, ")");
      tooLong = *p != '\0' && *p != ')';
    }
    if (tooLong) {
      fprintf(stderr, "Sorry, an LSN of the log file parameter is longer than %d characters.\n",
              kLsnLength);
      return kRefused;
    }
    // The range ends the value: text after it would be silently lost.
    if (*p != ')' || p[1] != '\0') return Refuse(kBadFormat);
  }
  if (strcmp(options->LogPath, "*") == 0) options->LogPath[0] = '\0';
  options->LogSource = value;
  options->LogMode = true;
  return 0;
}

int PrepareLogCommand(RunOptions* options) {
  options->LogCommand[0] = '\0';
  options->LogArgCount = 0;
  char directory[kFileNameLength + 1] = "";
  bool isDirectory = true;
  if (options->LogPath[0] != '\0') {
    int rc = LogDirectory(options->LogPath, directory, &isDirectory);
    if (rc != 0) return rc;
  }
  options->LogPathIsFile = !isDirectory;
  if (options->LogPathIsFile) {
    // Only the formatter can start at an LSN; a file is read whole.
    if (options->LogStartLsn[0] != '\0' || options->LogEndLsn[0] != '\0')
      return Refuse("Sorry, an LSN range can only be used with a log directory, not a file.\n");
    return 0;
  }
  QmgrSlot* slot = &options->Qmgrs[options->InputSlot];
  size_t used = 0;
  bool fits = AddWord(options, &used, "dmpmqlog");
  if (slot->Name[0] != '\0') {
    fits = fits && AddWord(options, &used, "-m") && AddWord(options, &used, slot->Name);
    // The name only says whose log to read, unless messages are put there.
    slot->NoConnect =
        options->OutputQueueName[0] == '\0' || options->OutputSlot != options->InputSlot;
  }
  if (directory[0] != '\0')
    fits = fits && AddWord(options, &used, "-f") && AddWord(options, &used, directory);
  if (options->LogStartLsn[0] == '\0')
    fits = fits && AddWord(options, &used, "-b");
  else
    fits = fits && AddWord(options, &used, "-s") && AddWord(options, &used, options->LogStartLsn);
  if (options->LogEndLsn[0] != '\0')
    fits = fits && AddWord(options, &used, "-e") && AddWord(options, &used, options->LogEndLsn);
  if (!fits) {
    fprintf(stderr, "Sorry, the DMPMQLOG command would be longer than %d characters.\n",
            kLogCommandLength);
    return kRefused;
  }
  return 0;
}
