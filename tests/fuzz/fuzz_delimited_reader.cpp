// Arbitrary bytes as a delimited file. The first byte picks one of a few
// delimiter settings and its flag bits (include, keep whitespace, no
// bracket check, whole file); the rest is the file. Every record handed on
// must lie inside the file buffer or the properties block, every failure
// must come with its text, and nothing may read or write outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "tests/zeplo/test_run.h"
#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"

namespace {

struct Settings {
  const char* Start;
  const char* End;
  const char* PropStart;
  const char* PropEnd;
};
const Settings kSettings[] = {
    {"", "", "", ""},
    {"<m>", "</m>", "", ""},
    {"<m>", "</m>", "<p>", "</p>"},
    {"{", "}", "[P]", ""},
    {"", "\\13\\10", "", ""},
    {"#", "#", "", ""},
    {"(", ")", "<", ">"},
    {"\\0", "\\255", "\\1", "\\2"},
};

bool Inside(const unsigned char* p, int64_t n, const unsigned char* base, int64_t size) {
  return base != nullptr && p >= base && p + n <= base + size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  auto opts = std::make_unique<TestRun>();
  RunOptions& o = opts->Parsed;
  FileState& f = opts->Files;
  const DelimitedFile& df = f.Delimited;
  const Settings& s = kSettings[data[0] % (sizeof kSettings / sizeof kSettings[0])];
  int flags = data[0] >> 3;
  std::snprintf(o.MsgStartDelimiter, sizeof o.MsgStartDelimiter, "%s", s.Start);
  std::snprintf(o.MsgEndDelimiter, sizeof o.MsgEndDelimiter, "%s", s.End);
  std::snprintf(o.PropStartDelimiter, sizeof o.PropStartDelimiter, "%s", s.PropStart);
  std::snprintf(o.PropEndDelimiter, sizeof o.PropEndDelimiter, "%s", s.PropEnd);
  o.NonNative = o.AllowSameDelimiters = true;
  o.Context = ContextMode::Default;
  o.IncludeMsgDelimiters = o.IncludePropDelimiters = (flags & 1) != 0;
  o.KeepPropWhitespace = (flags & 2) != 0;
  o.NoBracketCheck = (flags & 4) != 0;
  o.WholeFileOneMessage = (flags & 31) == 31;
  f.InputStream = std::tmpfile();
  if (f.InputStream == nullptr) return 0;
  std::fwrite(data + 1, 1, size - 1, f.InputStream);
  std::rewind(f.InputStream);
  std::snprintf(f.CurrentInputFile, sizeof(f.CurrentInputFile), "fuzz.txt");

  int rc = CheckDelimiters(opts.get());
  for (int n = 0; rc == 0 && !opts->StopRequested && n < 10000; ++n) {
    rc = ReadDelimitedMessage(opts.get());
    if (rc != 0) {
      if (opts->ExitMessage[0] == '\0' && rc != 2071) __builtin_trap();
      break;
    }
    if (opts->StopRequested) break;
    const MessageBuffer& m = opts->Message;
    if (m.DataLength < 0) __builtin_trap();
    if (!Inside(m.Cursor, m.DataLength, df.Buffer, df.Capacity) &&
        !Inside(m.Cursor, m.DataLength, m.PropStorage, m.PropCapacity) &&
        !Inside(m.Cursor, m.DataLength, m.Storage, m.Capacity))
      __builtin_trap();
  }
  ReleaseDelimitedFile(opts.get());
  CSReleaseMem(&opts->Message.Storage);
  CSReleaseMem(&opts->Message.PropStorage);
  if (f.InputStream != nullptr) std::fclose(f.InputStream);
  return 0;
}
