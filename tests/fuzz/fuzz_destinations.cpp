// Feeds arbitrary bytes to the destination parsers: once as a destination
// file (read through "file:") and once as a destination text, with the
// first byte choosing the -$ separator and the list. The refusal messages
// go to standard error: run with -close_fd_mask=2 to keep the run quiet.
// The first input moves the process into a scratch directory (so that the
// includes it names stay there): give corpus directories as absolute
// paths, as scripts/test.sh does, or the seeds after the first are not
// found and libFuzzer stops with "no interesting inputs".
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "zeplo/names/names.h"

namespace {

std::string* gPath = nullptr;

void Init() {
  char dir[] = "/tmp/fuzz_destinations_XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) abort();
  gPath = new std::string(std::string(dir) + "/dests");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (gPath == nullptr) Init();
  std::string text(reinterpret_cast<const char*>(data), size);
  // Device and process files never end (/dev/zero) or block (/dev/stdin):
  // an include naming one is the user's choice, not a parser fault.
  if (text.find("/dev") != std::string::npos || text.find("/proc") != std::string::npos ||
      text.find("/sys") != std::string::npos) {
    return 0;
  }
  auto options = std::make_unique<RunOptions>();
  std::memset(options.get(), 0, sizeof(RunOptions));

  FILE* file = std::fopen(gPath->c_str(), "wb");
  if (file == nullptr) abort();
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  AddDestination(options.get(), ("file:" + *gPath).c_str(), size % 2 == 0);

  if (!text.empty()) {
    char selector = text[0];
    options->QueueSeparator = (selector & 1) ? text[size / 2] : 0;
    std::string value = text.substr(1);
    value = value.substr(0, value.find('\0'));
    AddDestination(options.get(), value.c_str(), (selector & 2) != 0);
    ParseDestination(options.get(), options->QueueSeparator, value.c_str(), options->TargetQmgrMask,
                     options->TargetQueueMask, false);
    if (options->InputList != nullptr) InInputList(options.get(), value.c_str());
    MatchQueueMask(options.get(), options->TargetQueueMask, value.c_str());
  }
  if (options->InnermostInclude != nullptr) abort();  // a frame left dangling
  QueueListRelease(&options->InputList);
  QueueListRelease(&options->OutputList);
  return 0;
}
