// Arbitrary bytes as a message file: every message the reader hands on
// must lie inside the storage, every failure must come with its text, and
// nothing may read or write outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "tests/zeplo/test_run.h"
#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto opts = std::make_unique<TestRun>();
  // Half the inputs get a header, so the fuzzer spends its time on the
  // message grammar rather than on finding the magic.
  static const char kHeader[] = "* ZEPLO\n";
  bool header = size > 0 && (data[0] & 1) != 0;
  opts->Files.InputStream = std::tmpfile();
  if (opts->Files.InputStream == nullptr) return 0;
  if (header) std::fwrite(kHeader, 1, sizeof kHeader - 1, opts->Files.InputStream);
  if (size > 1) std::fwrite(data + 1, 1, size - 1, opts->Files.InputStream);
  std::rewind(opts->Files.InputStream);
  std::snprintf(opts->Files.CurrentInputFile, sizeof(opts->Files.CurrentInputFile), "fuzz.zpd");

  bool listing = false, empty = false;
  int rc = PrepareMessageFile(opts.get(), &listing, &empty);
  for (int n = 0; rc == 0 && !empty && !opts->StopRequested && n < 1000; ++n) {
    rc = listing ? ReadBrowseListingMessage(opts.get()) : ReadMessageFileMessage(opts.get());
    const MessageBuffer& m = opts->Message;
    if (m.DataLength < 0 || m.DataLength > m.Capacity) __builtin_trap();
    if (rc != 0 && (opts->ExitMessage[0] == '\0' || m.DataLength != 0)) __builtin_trap();
  }
  ReleaseLineStorage(opts.get());
  CSReleaseMem(&opts->Message.Storage);
  std::fclose(opts->Files.InputStream);
  return 0;
}
