// Text helpers: hex, fixed MQ fields, caseless search, the code pages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zeplo/util/util.h"

namespace {

TEST(HexTest, BytesToHexAndBack) {
  struct Case { std::string Bytes; int Width, Rc; std::string Hex; };
  const Case kCases[] = {
      {std::string("\x00\x0A\xFF\x7E", 4), 0, 0, "000AFF7E"}, {"\xAB", 6, 0, "AB    "},
      {"", 4, 0, "    "}, {std::string(24, '\x11'), 48, 0, std::string(48, '1')},
      {"\x12\x34\x56", 5, 1, "1234 "},  // only whole bytes fit a short field
  };
  for (const Case& c : kCases) {
    char out[64];
    EXPECT_EQ(c.Rc, BytesToHex(c.Bytes.data(), static_cast<int>(c.Bytes.size()), out, c.Width));
    EXPECT_EQ(c.Hex, std::string(out));
  }
  char small[5];  // the buffer limits the field too
  EXPECT_EQ(1, BytesToHex("\x01\x02\x03", 3, small, 0));
  EXPECT_STREQ("0102", small);

  struct Back { const char* Text; int MaxChars, Rc; std::string Bytes; };  // MaxChars / 2 bytes
  const Back kBack[] = {
      {"0A", 48, 0, "\x0A" + std::string(23, '\0')}, {"abCD", 4, 0, "\xAB\xCD"},
      {"0102030405", 4, 0, "\x01\x02"},             // the maximum ends it quietly
      {"ABC", 8, 1, std::string("\xAB\0\0\0", 4)},  // lone last digit
      {"12G4", 4, 1, std::string("\x12\0", 2)},     // earlier bytes stay
      {"FFFF", 3, 0, "\xFF"},
  };
  for (const Back& c : kBack) {
    unsigned char out[32];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(c.Rc, HexToBytes(c.Text, c.MaxChars, out)) << c.Text;
    EXPECT_EQ(c.Bytes, std::string(reinterpret_cast<char*>(out), c.MaxChars / 2)) << c.Text;
    EXPECT_EQ(0xEE, out[c.MaxChars / 2]) << "wrote past the output: " << c.Text;
  }
}

TEST(MqNameTest, CopyAndSetFixedFields) {
  struct Case { std::string Field; int FieldLength, MaxLength; std::string Name; };
  const std::string q48(48, 'Q');
  const Case kCases[] = {
      {"QUEUE.A" + std::string(41, ' '), 48, 48, "QUEUE.A"},
      {std::string("QM1\0junk", 8), 48, 0, "QM1"},
      {q48 + "NEXTFIELD", 48, 48, q48},  // a full field has no terminator
      {"ABCDEFGH", 8, 4, "ABCD"}, {"ABCDEFGH", 3, 8, "ABC"}, {"        ", 8, 0, ""},
  };
  for (const Case& c : kCases) {
    char out[49];
    int length = -1;
    EXPECT_EQ(0, CopyMqName(out, c.Field.data(), c.FieldLength, c.MaxLength, &length));
    EXPECT_EQ(c.Name, out);
    EXPECT_EQ(static_cast<int>(c.Name.size()), length);
  }
  char small[5];
  EXPECT_EQ(1, CopyMqName(small, "LONGNAME", 8));
  EXPECT_STREQ("LONG", small);

  char field[8];
  std::memset(field, 'X', sizeof field);
  EXPECT_EQ(0, SetMqField(field, "Q1"));
  EXPECT_EQ(std::string("Q1\0\0\0\0\0\0", 8), std::string(field, 8));
  EXPECT_EQ(0, SetMqField(field, nullptr));
  EXPECT_EQ(std::string(8, '\0'), std::string(field, 8));
  EXPECT_EQ(1, SetMqField(field, "123456789"));
  EXPECT_EQ("12345678", std::string(field, 8));
}

TEST(NoCaseTest, ComparisonsAndSearches) {
  EXPECT_EQ(0, CompareNoCase("Queue.A", "qUEUE.a"));
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareNoCase("abcd", "ABC"), 0);
  EXPECT_EQ(0, CompareNoCaseN("FILE:x", "file:y", 5));
  EXPECT_NE(0, CompareNoCaseN("FILE:x", "file:y", 6));
  EXPECT_EQ(0, CompareNoCaseN("ab", "AB", 10));  // stops at the terminator
  struct Case { std::string Buffer, Needle; int At; };  // At -1: not found
  const Case kCases[] = {
      {"the Summary topic", "SUMMARY", 4}, {"abc", "", 0}, {"", "a", -1}, {"abcABC", "cab", 2},
      {"abcde", "DEF", -1},                // would pass the end
      {std::string("a\0Bc", 4), "bC", 2},  // a buffer is not a C string
  };
  for (const Case& c : kCases) {
    const char* hit =
        SearchNoCase(c.Buffer.data(), c.Buffer.size(), c.Needle.data(), c.Needle.size());
    EXPECT_EQ(c.At, hit ? static_cast<int>(hit - c.Buffer.data()) : -1) << c.Needle;
  }
  const char* text = "dump.LOG.txt";
  EXPECT_EQ(text + 4, FindNoCase(text, ".log"));
  EXPECT_EQ(nullptr, FindNoCase(text, ".logs"));
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
    std::string out(c.In.size(), '\xEE');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    const auto* in = reinterpret_cast<const unsigned char*>(c.In.data());
    int n = static_cast<int>(c.In.size());
    EXPECT_EQ(c.Count, c.ToEbcdic ? AsciiToEbcdic(o, in, n) : EbcdicToAscii(o, in, n)) << c.In;
    EXPECT_EQ(c.Out, out) << c.In;
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
