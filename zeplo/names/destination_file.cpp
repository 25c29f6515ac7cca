// Destination files: one destination per line, '*' comments, and "file:"
// lines that include further files relative to the including file.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "zeplo/names/names.h"
#include "zeplo/names/names_internal.h"
#include "zeplo/util/banned.h"

namespace {

constexpr int kOptionsError = 2046;  // MQRC_OPTIONS_ERROR
// Each level holds an open file and a stack frame; a chain of distinct
// files deeper than this is refused instead of exhausting either.
constexpr int kMaxIncludeDepth = 64;

bool IsTrimmed(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Splits `path` at its last '/' or '\' into directory (without the
// separator) and file name. Both fit: they are parts of `path`. A file in
// the root directory ("/list") keeps "/" as its directory, so that it
// stays absolute and its own includes are found beside it.
void SplitPath(IncludeFrame* frame, const char* path) {
  const char* cut = std::strrchr(path, '/');
  const char* backslash = std::strrchr(path, '\\');
  if (backslash != nullptr && (cut == nullptr || backslash > cut)) cut = backslash;
  if (cut == nullptr) {
    frame->Directory[0] = '\0';
    std::snprintf(frame->FileName, sizeof frame->FileName, "%s", path);
  } else {
    int length = (cut == path && *cut == '/') ? 1 : static_cast<int>(cut - path);
    std::snprintf(frame->Directory, sizeof frame->Directory, "%.*s", length, path);
    std::snprintf(frame->FileName, sizeof frame->FileName, "%s", cut + 1);
  }
}

// "  File 'a' includes file 'b' on line n." from the outermost file inwards.
void PrintIncludeChain(const IncludeFrame* frame) {
  if (frame->Parent == nullptr) return;
  PrintIncludeChain(frame->Parent);
  std::fprintf(stderr, "  File '%s' includes file '%s' on line %d.\n", frame->Parent->FullPath,
               frame->FullPath, frame->Parent->LineNumber);
}

int RefuseRecursion(const IncludeFrame* frame) {
  std::fprintf(stderr, "Recursive use of file '%s'.\n", frame->FullPath);
  PrintIncludeChain(frame);
  return kOptionsError;
}

// Characters of one physical line, blanks and comments included, that
// are read at most.
constexpr size_t kMaxPhysicalLine = 64 * 1024;

enum LineOverflow { kLineFits, kLineTooLong, kLineEndless };

// Reads one physical line into `line` (kDestinationLineLength + 1 bytes),
// trimmed of blanks, tabs, CRs and LFs at both ends. *overflow is
// kLineTooLong when the trimmed text is longer than the buffer (which then
// holds its first kDestinationLineLength characters; a '*' comment is read
// on to its end) and kLineEndless when the line, blanks included, passes
// kMaxPhysicalLine. The read stops at either, except in a comment, so a
// stream without line ends is never read for ever. Returns false at end
// of file.
bool ReadLine(FILE* file, char* line, LineOverflow* overflow) {
  size_t used = 0;
  size_t keep = 0;  // length up to the last character that is not trimmed
  size_t seen = 0;
  bool sawAny = false;
  *overflow = kLineFits;
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    sawAny = true;
    if (c == '\n') break;
    if (++seen > kMaxPhysicalLine) {
      *overflow = kLineEndless;
      break;
    }
    if (used == 0 && IsTrimmed(c)) continue;  // leading blanks
    if (used == static_cast<size_t>(kDestinationLineLength)) {
      if (!IsTrimmed(c)) *overflow = kLineTooLong;
      if (*overflow == kLineTooLong && line[0] != '*') break;
      continue;
    }
    line[used++] = static_cast<char>(c);
    if (!IsTrimmed(c)) keep = used;
  }
  line[*overflow != kLineFits ? used : keep] = '\0';
  return sawAny;
}

// Opens the frame's file and records its identity; refuses directories and
// a file that an enclosing frame already has open under another spelling.
int OpenIncluded(IncludeFrame* frame, FILE** out) {
  *out = nullptr;
  FILE* file = std::fopen(frame->FullPath, "r");
  struct stat st;
  if (file == nullptr || fstat(fileno(file), &st) != 0 || S_ISDIR(st.st_mode)) {
    if (file != nullptr) std::fclose(file);
    std::fprintf(stderr, "Can not open file '%s'.\n", frame->FullPath);
    return kOptionsError;
  }
  frame->Device = st.st_dev;
  frame->Inode = st.st_ino;
  for (const IncludeFrame* up = frame->Parent; up != nullptr; up = up->Parent) {
    if (up->Device == st.st_dev && up->Inode == st.st_ino) {
      std::fclose(file);
      return RefuseRecursion(frame);
    }
  }
  *out = file;
  return 0;
}

// Resolves the frame's FullPath from GivenName and the including frame.
int ResolvePath(IncludeFrame* frame) {
  SplitPath(frame, frame->GivenName);
  const IncludeFrame* parent = frame->Parent;
  if (frame->Directory[0] == '/' || parent == nullptr || parent->Directory[0] == '\0') {
    std::snprintf(frame->FullPath, sizeof frame->FullPath, "%s", frame->GivenName);
    return 0;
  }
  char composed[2 * (kIncludePathLength + 1) + 1];
  const char* joint = std::strcmp(parent->Directory, "/") == 0 ? "" : "/";
  std::snprintf(composed, sizeof composed, "%s%s%s", parent->Directory, joint, frame->GivenName);
  size_t length = std::strlen(composed);
  if (length > static_cast<size_t>(kIncludePathLength)) {
    std::fprintf(stderr, "The file name '%s' is too long.\n", composed);
    return kOptionsError;
  }
  std::memcpy(frame->FullPath, composed, length + 1);
  SplitPath(frame, frame->FullPath);
  return 0;
}

int ReadLines(RunOptions* options, IncludeFrame* frame, FILE* file, bool toInputList) {
  char line[kDestinationLineLength + 1];
  LineOverflow overflow = kLineFits;
  while (ReadLine(file, line, &overflow)) {
    ++frame->LineNumber;
    if (overflow == kLineEndless || (overflow == kLineTooLong && line[0] != '*')) {
      std::fprintf(stderr, "Line %d of file '%s' is too long.\n", frame->LineNumber,
                   frame->FullPath);
      return kOptionsError;
    }
    if (line[0] == '\0' || line[0] == '*') continue;
    int rc = AddDestination(options, line, toInputList);
    if (rc != 0) return rc;
  }
  if (std::ferror(file)) {
    std::fprintf(stderr, "Error reading file '%s'.\n", frame->FullPath);
    return kOptionsError;
  }
  return 0;
}

}  // namespace

int ReadDestinationFileText(RunOptions* options, std::string_view name, bool toInputList) {
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
  int shown = name.size() > 4096 ? 4096 : static_cast<int>(name.size());
  if (name.size() > static_cast<size_t>(kIncludePathLength)) {
    std::fprintf(stderr, "The file name '%.*s' is too long.\n", shown, name.data());
    return kOptionsError;
  }

  IncludeFrame frame{};
  frame.Parent = options->InnermostInclude;
  std::snprintf(frame.GivenName, sizeof frame.GivenName, "%.*s", shown, name.data());
  int depth = 0;
  for (const IncludeFrame* up = frame.Parent; up != nullptr; up = up->Parent) ++depth;
  if (depth >= kMaxIncludeDepth) {
    std::fprintf(stderr, "Files are nested more than %d deep at file '%s'.\n", kMaxIncludeDepth,
                 frame.GivenName);
    return kOptionsError;
  }
  int rc = ResolvePath(&frame);
  if (rc != 0) return rc;
  for (const IncludeFrame* up = frame.Parent; up != nullptr; up = up->Parent) {
    if (std::strcmp(up->FullPath, frame.FullPath) == 0) return RefuseRecursion(&frame);
  }

  FILE* file = nullptr;
  rc = OpenIncluded(&frame, &file);
  if (rc != 0) return rc;
  // Innermost while its lines are read; always restored, so RunOptions
  // never points at a frame that has gone.
  options->InnermostInclude = &frame;
  rc = ReadLines(options, &frame, file, toInputList);
  options->InnermostInclude = frame.Parent;
  std::fclose(file);
  return rc;
}

int ReadDestinationFile(RunOptions* options, const char* name, bool toInputList) {
  return ReadDestinationFileText(options, name != nullptr ? name : "", toInputList);
}
