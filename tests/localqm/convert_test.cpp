// Text conversion checked character by character against the C library's
// own converters for the same code pages: every byte of every single-byte
// page to UTF-8 and back, and characters a page lacks. The
// tables are data typed in by hand, so one wrong entry is the fault to
// catch; the hand-picked cases live with the store tests.
#include <errno.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "localqm/core/core.h"

namespace {

struct Page {
  MQLONG Ccsid;
  const char* IconvName;
  unsigned char Substitute;  // what a character the page lacks becomes
};

const Page kPages[] = {
    {819, "ISO-8859-1", 0x1A}, {437, "IBM437", 0x1A}, {850, "IBM850", 0x1A},
    {37, "IBM037", 0x3F},      {500, "IBM500", 0x3F}, {1047, "IBM1047", 0x3F},
};

// in converted by the C library; false when it has no such converter or
// the text holds a character the target lacks.
bool Iconv(const char* from, const char* to, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string source = in;
  char buffer[64];
  char* inPtr = source.data();
  size_t inLeft = source.size();
  char* outPtr = buffer;
  size_t outLeft = sizeof buffer;
  size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1) || inLeft != 0) return false;
  out->assign(buffer, static_cast<size_t>(outPtr - buffer));
  return true;
}

std::string Convert(MQLONG from, MQLONG to, const std::string& in, int* rc) {
  std::vector<unsigned char> out;
  *rc =
      LqmConvertText(from, to, reinterpret_cast<const unsigned char*>(in.data()), in.size(), &out);
  return std::string(out.begin(), out.end());
}

bool HaveConverters() {
  std::string ignored;
  for (const Page& p : kPages) {
    if (!Iconv(p.IconvName, "UTF-8", "A", &ignored)) return false;
  }
  return true;
}

TEST(ConvertTest, EveryByteOfEveryPageReachesUtf8AndComesBack) {
  if (!HaveConverters()) GTEST_SKIP() << "the C library lacks the IBM code page converters";
  for (const Page& p : kPages) {
    for (int b = 0; b < 256; ++b) {
      std::string byte(1, static_cast<char>(b)), expected;
      ASSERT_TRUE(Iconv(p.IconvName, "UTF-8", byte, &expected)) << p.Ccsid << " byte " << b;
      int rc = -1;
      std::string utf8 = Convert(p.Ccsid, 1208, byte, &rc);
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(utf8, expected) << p.Ccsid << " byte " << b;
      EXPECT_EQ(Convert(1208, p.Ccsid, utf8, &rc), byte) << p.Ccsid << " byte " << b;
    }
  }
}

TEST(ConvertTest, CharactersAPageLacksBecomeItsSubstitute) {
  // Two-, three- and four-byte UTF-8, none of them on any single-byte page.
  const char* lacking[] = {"\xC4\x80", "\xE2\x82\xAC", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80"};
  for (const Page& p : kPages) {
    for (const char* text : lacking) {
      int rc = -1;
      EXPECT_EQ(Convert(1208, p.Ccsid, std::string(text) + "A", &rc),
                std::string(1, static_cast<char>(p.Substitute)) + Convert(819, p.Ccsid, "A", &rc))
          << p.Ccsid << " " << text;
      EXPECT_EQ(rc, 0);
    }
  }
}

TEST(ConvertTest, OnlyTheTabledPagesAreSupported) {
  struct Case {
    MQLONG ccsid;
    bool supported;
  } cases[] = {
      {819, true},  {1208, true}, {437, true},   {850, true},   {37, true},  {500, true},
      {1047, true}, {0, false},   {1200, false}, {1051, false}, {-1, false}, {273, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LqmCcsidSupported(c.ccsid), c.supported) << c.ccsid;
    int rc = 0;
    std::string out = Convert(c.ccsid, 819, "A", &rc);
    EXPECT_EQ(rc, c.supported ? 0 : MQRC_NOT_CONVERTED) << c.ccsid;
    if (!c.supported) {
      EXPECT_EQ(out, "") << c.ccsid;
    }
  }
}

}  // namespace
