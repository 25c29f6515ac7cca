// Arbitrary bytes as the body of a browse-sample listing: the reader must
// hand on only messages inside its storage, give a text with every
// failure, and stop at the end of the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "tests/zeplo/test_run.h"
#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto opts = std::make_unique<TestRun>();
  static const char kHeader[] = "AMQSBCG0 - starts here\n****Message descriptor****\n";
  opts->Files.InputStream = std::tmpfile();
  if (opts->Files.InputStream == nullptr) return 0;
  std::fwrite(kHeader, 1, sizeof kHeader - 1, opts->Files.InputStream);
  std::fwrite(data, 1, size, opts->Files.InputStream);
  std::rewind(opts->Files.InputStream);
  std::snprintf(opts->Files.CurrentInputFile, sizeof(opts->Files.CurrentInputFile), "fuzz.txt");

  bool listing = false, empty = false;
  int rc = PrepareMessageFile(opts.get(), &listing, &empty);
  if (rc != 0 || !listing) __builtin_trap();
  for (int n = 0; rc == 0 && !opts->StopRequested && n < 1000; ++n) {
    rc = ReadBrowseListingMessage(opts.get());
    const MessageBuffer& m = opts->Message;
    if (m.DataLength < 0 || m.DataLength > m.Capacity) __builtin_trap();
    if (rc != 0 && (opts->ExitMessage[0] == '\0' || m.DataLength != 0)) __builtin_trap();
    if (rc == 0 && !opts->StopRequested && m.Descriptor != &m.OwnDescriptor) __builtin_trap();
  }
  ReleaseLineStorage(opts.get());
  CSReleaseMem(&opts->Message.Storage);
  std::fclose(opts->Files.InputStream);
  return 0;
}
