// Arbitrary bytes as a delimited file. The first byte picks one of a few
// delimiter settings and its flag bits (include, keep whitespace, no
// bracket check, whole file); the rest is the file. Every record handed on
// must lie inside the file buffer or the properties block, every failure
// must come with its text, and nothing may read or write outside a buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

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
  auto opts = std::make_unique<RunOptions>();
  DelimitedFile df{};
  const Settings& s = kSettings[data[0] % (sizeof kSettings / sizeof kSettings[0])];
  int flags = data[0] >> 3;
  std::snprintf(opts->MsgStartDelimiter, sizeof opts->MsgStartDelimiter, "%s", s.Start);
  std::snprintf(opts->MsgEndDelimiter, sizeof opts->MsgEndDelimiter, "%s", s.End);
  std::snprintf(opts->PropStartDelimiter, sizeof opts->PropStartDelimiter, "%s", s.PropStart);
  std::snprintf(opts->PropEndDelimiter, sizeof opts->PropEndDelimiter, "%s", s.PropEnd);
  opts->NonNative = opts->AllowSameDelimiters = true;
  opts->Context = ContextMode::Default;
  opts->IncludeMsgDelimiters = opts->IncludePropDelimiters = (flags & 1) != 0;
  opts->KeepPropWhitespace = (flags & 2) != 0;
  opts->NoBracketCheck = (flags & 4) != 0;
  opts->WholeFileOneMessage = (flags & 31) == 31;
  opts->InputStream = std::tmpfile();
  if (opts->InputStream == nullptr) return 0;
  std::fwrite(data + 1, 1, size - 1, opts->InputStream);
  std::rewind(opts->InputStream);
  std::snprintf(opts->CurrentInputFile, sizeof(opts->CurrentInputFile), "fuzz.txt");

  int rc = CheckDelimiters(opts.get(), &df);
  for (int n = 0; rc == 0 && !opts->StopRequested && n < 10000; ++n) {
    rc = ReadDelimitedMessage(opts.get(), &df);
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
  ReleaseDelimitedFile(&df);
  CSReleaseMem(&opts->Message.Storage);
  CSReleaseMem(&opts->Message.PropStorage);
  if (opts->InputStream != nullptr) std::fclose(opts->InputStream);
  return 0;
}
