// Turns arbitrary bytes into a command line and runs the option loop and
// the whole-command-line checks on it, as the program does before it
// connects to anything. The bytes are split into words at every NUL or
// newline; argv[0] is the program's name. Nothing may crash, read or write
// out of bounds, leak, or end the process: a refusal is a return code.
//
// Help and paging read their answers from /dev/null (an ended input reads
// as an empty answer, so no prompt waits) and write to /dev/null; the
// refusals go to standard error, so run with -close_fd_mask=3 to keep the
// run quiet.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "zeplo/cs/cs.h"
#include "zeplo/driver/driver.h"
#include "zeplo/names/names.h"

namespace {

FILE* gHelpOut = nullptr;
FILE* gHelpIn = nullptr;

void Init() {
  gHelpOut = fopen("/dev/null", "w");
  gHelpIn = fopen("/dev/null", "r");
  if (gHelpOut == nullptr || gHelpIn == nullptr) abort();
  // The environment must not change how the command line reads.
  unsetenv("KALVO_ZEPLO_PARMS");
  unsetenv("LINES");
}

// A "file:" destination is read at once. Device and process files never
// end (/dev/zero) or block (/dev/stdin): naming one is the user's choice,
// not a parser fault.
bool NamesEndlessFile(const std::string& text) {
  return text.find("/dev") != std::string::npos || text.find("/proc") != std::string::npos ||
         text.find("/sys") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (gHelpOut == nullptr) Init();
  std::string text(reinterpret_cast<const char*>(data), size);
  if (NamesEndlessFile(text)) return 0;

  // Words own their storage for the whole run: -a, -j, -l, -u and -U keep
  // pointers into argv, and getopt reorders the pointers themselves.
  std::vector<std::string> words = {"zeplo"};
  size_t start = 0;
  for (size_t i = 0; i <= size; i++) {
    if (i == size || text[i] == '\0' || text[i] == '\n') {
      if (i < size || i > start) words.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(words.size());

  auto options = std::make_unique<RunOptions>();
  SetHelpStreams(gHelpOut, gHelpIn, true);
  ResetHelpState();
  RunOptionsInit(options.get(), argc, argv.data());
  bool endRun = true;
  int rc = ParseOptions(options.get(), argc, argv.data(), &endRun);
  if (endRun && rc != 0 && rc != kOptionsRefused) abort();  // an unknown way to end
  if (!endRun) {
    if (rc != 0) abort();  // a refusal must end the run
    rc = CheckOptions(options.get());
    if (rc != 0 && rc != kOptionsRefused) abort();
    if (rc == 0) {
      // What the checks promise the rest of the run.
      bool inputQueues = options->InputList != nullptr && options->InputList->Count > 0;
      // The one file of a queue unload has become the output file.
      if (inputQueues && options->InputFile[0] != '\0') abort();
      if (options->OutputFile[0] != '\0' && options->OutputQueueName[0] != '\0') abort();
      if (options->LimitsActive && !options->OutputFileHasInserts) abort();
      RangeLine line = NormaliseRange(options.get());
      if (options->RangeLast != 0 && options->RangeFirst > options->RangeLast) abort();
      (void)line;
    }
  }
  if (options->InnermostInclude != nullptr) abort();  // a destination file left open
  ReleaseParsedOptions(options.get());
  return 0;
}
