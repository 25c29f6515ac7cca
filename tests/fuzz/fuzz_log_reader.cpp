// Arbitrary bytes as the log formatter's text: every message the reader
// rebuilds must lie inside the storage, every failure must be one of the
// reader's codes, the parts it keeps must be freed, and nothing may read or
// write outside a line or a buffer. Seeds: tests/fuzz/corpus/log_reader.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/zeplo/test_run.h"
#include "zeplo/cs/cs.h"
#include "zeplo/logreplay/logreplay.h"

namespace {

bool KnownCode(int rc) {
  return rc == 0 || rc == 2071 || rc == 2110 || rc == 2142 || rc == 2195 || rc == 2242 ||
         rc == 4018;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_log_reader." + std::to_string(getpid()) + ".txt";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  auto run = std::make_unique<TestRun>();
  TestRun* t = run.get();
  t->Message.Descriptor = &t->Message.OwnDescriptor;
  if (ParseLogParameter(&t->Parsed, path.c_str()) != 0 || PrepareLogCommand(&t->Parsed) != 0 ||
      OpenLogSource(t, "APP.IN") != 0)
    __builtin_trap();
  int rc = PrepareLogReader(t);
  for (int n = 0; rc == 0 && !t->StopRequested && n < 1000; ++n) {
    rc = NextLogMessage(t);
    const MessageBuffer& m = t->Message;
    if (rc == 0 && !t->StopRequested) {
      if (m.DataLength < 0 || m.DataLength > m.Capacity) __builtin_trap();
      if (m.Descriptor != &m.OwnDescriptor) __builtin_trap();
      rc = CheckLogMessage(t);
      if (m.Cursor < m.Storage || m.Cursor + m.DataLength > m.Storage + m.Capacity)
        __builtin_trap();
    }
  }
  if (!KnownCode(rc)) __builtin_trap();
  ReleaseLogReplay(t);
  CSReleaseMem(&t->Message.Storage);
  return 0;
}
