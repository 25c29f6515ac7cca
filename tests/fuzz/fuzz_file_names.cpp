// Arbitrary file name patterns, times and counters through the name
// builders: no read or write may leave the given buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "tests/zeplo/test_run.h"
#include "zeplo/files/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first bytes choose the time, the counters and the buffer size; the
  // rest is the pattern.
  constexpr size_t kHead = 12;
  if (size < kHead) return 0;
  auto opts = std::make_unique<TestRun>();
  struct tm when {};
  when.tm_year = static_cast<int8_t>(data[0]) + 100;
  when.tm_mon = static_cast<int8_t>(data[1]);
  when.tm_mday = static_cast<int8_t>(data[2]);
  when.tm_hour = static_cast<int8_t>(data[3]);
  when.tm_min = data[4];
  when.tm_sec = data[4] >> 2;
  when.tm_wday = static_cast<int8_t>(data[5]);
  when.tm_yday = static_cast<int16_t>(data[6] << 8 | data[7]);
  opts->Counters.ReadFiles = static_cast<int8_t>(data[8]);
  opts->Counters.WrittenFiles = static_cast<int8_t>(data[9]);
  opts->Counters.MessageIndex = static_cast<int64_t>(static_cast<int8_t>(data[10])) << 40;
  opts->Counters.SelectedCount = -opts->Counters.MessageIndex;
  size_t nameSize = 1 + data[11] % (kFileNameLength + 1);
  std::string pattern(reinterpret_cast<const char*>(data + kHead), size - kHead);
  pattern = pattern.c_str();  // a pattern is a C string: stop at a NUL

  // Exactly nameSize bytes, so the sanitizer sees any overrun.
  auto name = std::make_unique<char[]>(nameSize);
  ExpandFileNameAt(opts.get(), pattern.c_str(), &when, name.get(), nameSize);
  if (std::strlen(name.get()) >= nameSize) __builtin_trap();
  FileNameHasIndexInsert(pattern.c_str());

  std::snprintf(opts->Files.GenericDirectory, sizeof(opts->Files.GenericDirectory), "%s", pattern.c_str());
  std::snprintf(opts->Files.GenericBaseName, sizeof(opts->Files.GenericBaseName), "%s", pattern.c_str());
  std::snprintf(opts->Parsed.InputFile, sizeof(opts->Parsed.InputFile), "%s", pattern.c_str());
  NextGenericFileName(opts.get(), true, name.get(), nameSize);
  if (std::strlen(name.get()) >= nameSize) __builtin_trap();
  return 0;
}
