#include <cstring>

#include <gtest/gtest.h>

#include "zeplo/util/util.h"

namespace {

struct Mapping {
  unsigned char From;
  unsigned char To;
};

// Samples from both ends of every run and every irregular entry.
const Mapping kEbcdicToAscii[] = {
    {0x40, ' '}, {0x4A, '$'}, {0x4B, '.'}, {0x5B, 0x9C}, {0x6A, 0xDD}, {0x7D, '\''},
    {0x7F, '"'}, {0x81, 'a'}, {0x89, 'i'}, {0x8A, '.'},  {0x91, 'j'},  {0x99, 'r'},
    {0xA1, '~'}, {0xA2, 's'}, {0xA9, 'z'}, {0xAD, '.'},  {0xBA, '['},  {0xBB, ']'},
    {0xBD, '.'}, {0xBF, '-'}, {0xC0, '{'}, {0xC1, 'A'},  {0xC9, 'I'},  {0xD0, '}'},
    {0xD1, 'J'}, {0xD9, 'R'}, {0xE0, '.'}, {0xE2, 'S'},  {0xE9, 'Z'},  {0xF0, '0'},
    {0xF9, '9'}, {0x00, '.'}, {0x15, '.'}, {0xFF, '.'},
};

const Mapping kAsciiToEbcdic[] = {
    {0x0A, 0x15}, {0x0D, 0x0D}, {' ', 0x40},  {'.', 0x4B},  {'$', 0x5B}, {'[', 0xAD},
    {']', 0xBD},  {'\\', 0xE0}, {'^', 0x4B},  {'`', 0x4B},  {'a', 0x81}, {'i', 0x89},
    {'j', 0x91},  {'r', 0x99},  {'s', 0xA2},  {'z', 0xA9},  {'A', 0xC1}, {'Z', 0xE9},
    {'0', 0xF0},  {'9', 0xF9},  {'{', 0xC0},  {'}', 0xD0},  {0x9C, 0x5B}, {0xDD, 0x6A},
    {0x09, 0x4B}, {0x7F, 0x4B}, {0xFF, 0x4B},
};

TEST(CodePagesTest, TablesMapAsListed) {
  for (const Mapping& m : kEbcdicToAscii) {
    EXPECT_EQ(m.To, EbcdicToAsciiTable[m.From]) << "EBCDIC byte " << int{m.From};
  }
  for (const Mapping& m : kAsciiToEbcdic) {
    EXPECT_EQ(m.To, AsciiToEbcdicTable[m.From]) << "ASCII byte " << int{m.From};
  }
}

TEST(CodePagesTest, OnlyTheListedBytesTranslate) {
  int ebcdic = 0, ascii = 0;
  for (int b = 0; b < 256; ++b) {
    if (EbcdicToAsciiTable[b] != '.') ++ebcdic;
    if (AsciiToEbcdicTable[b] != 0x4B) ++ascii;
  }
  EXPECT_EQ(99, ebcdic);
  EXPECT_EQ(96, ascii);
}

TEST(CodePagesTest, TranslationCountsBytesThatAreNotTheSubstitute) {
  struct Case {
    const char* In;
    int Length;
    bool ToEbcdic;
    int Count;
  };
  const Case kCases[] = {
      {"a.b", 3, true, 2},  // the full stop becomes the substitute
      {"Hello, World", 12, true, 12},
      {"", 0, true, 0},
      {"abc", -1, true, 0},  // negative length: nothing happens
      {"\x81\x4B\x82", 3, false, 2},
      {"\x00\xC1", 2, false, 1},
  };
  for (const Case& c : kCases) {
    unsigned char out[16];
    std::memset(out, 0xEE, sizeof out);
    const auto* in = reinterpret_cast<const unsigned char*>(c.In);
    int n = c.ToEbcdic ? AsciiToEbcdic(out, in, c.Length) : EbcdicToAscii(out, in, c.Length);
    EXPECT_EQ(c.Count, n) << c.In;
    if (c.Length < 0) {
      EXPECT_EQ(0xEE, out[0]);
    }
  }
}

TEST(CodePagesTest, RoundTripInPlaceKeepsLettersAndDigits) {
  unsigned char text[] = "Queue 42 (test) A-Z";
  const size_t length = sizeof text - 1;
  AsciiToEbcdic(text, text, length);
  EXPECT_EQ(0xD8, text[0]);  // 'Q'
  EbcdicToAscii(text, text, length);
  EXPECT_STREQ("Queue 42 (test) A-Z", reinterpret_cast<char*>(text));
}

}  // namespace
