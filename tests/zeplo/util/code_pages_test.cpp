#include <gtest/gtest.h>

#include <string>

#include "zeplo/util/util.h"

namespace {

std::string Translate(bool toEbcdic, const std::string& in, int* count) {
  std::string out(in.size(), '\xEE');
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  const auto* i = reinterpret_cast<const unsigned char*>(in.data());
  int n = static_cast<int>(in.size());
  *count = toEbcdic ? AsciiToEbcdic(o, i, n) : EbcdicToAscii(o, i, n);
  return out;
}

TEST(CodePagesTest, TablesTranslateAsListedAndCountRealCharacters) {
  struct Case { bool ToEbcdic; std::string In, Out; int Count; };
  // Both ends of every letter and digit run, the irregular entries, and
  // bytes that have no translation.
  const Case kCases[] = {
      {false, "\x40\x4A\x5B\x6A\x7D\x7F\xA1\xBA\xBB\xBF\xC0\xD0", " $\x9C\xDD'\"~[]-{}", 12},
      {false, "\x81\x89\x91\x99\xA2\xA9\xC1\xC9\xD1\xD9\xE2\xE9\xF0\xF9", "aijrszAIJRSZ09", 14},
      {false, std::string("\x4B\x8A\xAD\xBD\xE0\x15\xFF\x00", 8), "........", 0},
      {true, "\n\r .$[]\\^`{}\x9C\xDD\t",
       "\x15\x0D\x40\x4B\x5B\xAD\xBD\xE0\x4B\x4B\xC0\xD0\x5B\x6A\x4B", 11},
      {true, "aijrszAZ09", "\x81\x89\x91\x99\xA2\xA9\xC1\xE9\xF0\xF9", 10},
      {true, "a.b", "\x81\x4B\x82", 2},
  };
  for (const Case& c : kCases) {
    int count = -1;
    EXPECT_EQ(c.Out, Translate(c.ToEbcdic, c.In, &count)) << c.In;
    EXPECT_EQ(c.Count, count) << c.In;
  }
  int ebcdic = 0, ascii = 0;  // exactly the listed bytes translate
  for (int b = 0; b < 256; ++b) {
    ebcdic += EbcdicToAsciiTable[b] != '.';
    ascii += AsciiToEbcdicTable[b] != 0x4B;
  }
  EXPECT_EQ(99, ebcdic);
  EXPECT_EQ(96, ascii);
}

}  // namespace
