// The message file writer, layout by layout, against text built by hand.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <regex>
#include <string>

#include "zeplo/files/files.h"

namespace {

struct Writer {
  std::unique_ptr<RunOptions> opts = std::make_unique<RunOptions>();
  std::string data;

  Writer() {
    opts->OutputStream = std::tmpfile();
    std::snprintf(opts->CurrentOutputFile, sizeof(opts->CurrentOutputFile), "out.zpd");
    MQMD& md = opts->Message.OwnDescriptor;
    md.Version = 2;
    opts->Message.Descriptor = &md;
  }
  ~Writer() {
    if (opts->OutputStream != nullptr) std::fclose(opts->OutputStream);
  }
  int Write(const std::string& bytes) {
    data = bytes;
    opts->Message.Storage = reinterpret_cast<unsigned char*>(data.data());
    opts->Message.Capacity = static_cast<int32_t>(data.size());
    opts->Message.Cursor = opts->Message.Storage;
    opts->Message.DataLength = static_cast<int32_t>(data.size());
    return WriteMessage(opts.get());
  }
  std::string Text() {
    std::string text;
    std::rewind(opts->OutputStream);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), opts->OutputStream)) > 0) text.append(buf, n);
    return text;
  }
};

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

enum Layout { kHex, kHexColumns, kAscii, kPrintable, kText, kRaw };

struct LayoutCase {
  const char* name;
  Layout layout;
  int32_t width;
  std::string data;
  std::string expected;  // data lines only; "N\n" and the final "\n" added
};

const LayoutCase kLayoutCases[] = {
    {"hex empty", kHex, 0, "", "X \n"},
    {"hex exactly one line", kHex, 0, std::string(25, 'A'), "X " + Hex(std::string(25, 'A')) + "\n"},
    {"hex one byte over", kHex, 0, std::string(26, 'A'),
     "X " + Hex(std::string(25, 'A')) + "\nX 41\n"},
    {"hex width 5 is 10", kHex, 5, "0123456789a", "X 30313233343536373839\nX 61\n"},
    {"hex width 0 is 25", kHex, 0, std::string(30, '\x01'),
     "X " + Hex(std::string(25, '\x01')) + "\nX " + Hex(std::string(5, '\x01')) + "\n"},
    {"hex negative width is 25", kHex, -3, std::string(26, 'z'),
     "X " + Hex(std::string(25, 'z')) + "\nX 7A\n"},
    {"columns one byte", kHexColumns, 0, "A", "X 41" + std::string(50, ' ') + "<A>\n"},
    {"columns full line", kHexColumns, 0, std::string(24, 'b') + '\x7f',
     "X " + Hex(std::string(24, 'b') + '\x7f') + "  <" + std::string(24, 'b') + ".>\n"},
    {"columns empty", kHexColumns, 0, "", "X \n"},
    {"ascii empty", kAscii, 0, "", "S \n"},
    {"ascii unsafe first", kAscii, 0, std::string("\x01" "A", 2), "S \nX 01\nS \"A\"\n"},
    {"ascii bang is unsafe", kAscii, 0, "Hello, World!", "S \"Hello, World\"\nX 21\n"},
    {"ascii NUL is unsafe", kAscii, 0, std::string("a\0b", 3), "S \"a\"\nX 00\nS \"b\"\n"},
    {"ascii tilde is unsafe", kAscii, 0, "a~", "S \"a\"\nX 7E\n"},
    {"ascii safe punctuation", kAscii, 0, " *'()<>+,-./:=?_", "S \" *'()<>+,-./:=?_\"\n"},
    {"printable escapes", kPrintable, 0, "a\"b~c", "S \"a~\"b~~c\"\n"},
    {"printable 48 per line", kPrintable, 0, std::string(49, 'q'),
     "S \"" + std::string(48, 'q') + "\"\nS \"q\"\n"},
    {"printable width 10 gives 18", kPrintable, 10, std::string(19, 'r'),
     "S \"" + std::string(18, 'r') + "\"\nS \"r\"\n"},
    {"printable escapes do not count", kPrintable, 10, std::string(18, '"'),
     "S \"" + [] { std::string s; for (int i = 0; i < 18; ++i) s += "~\""; return s; }() + "\"\n"},
    {"printable unsafe run split at width", kPrintable, 10, "x" + std::string(11, '\x80'),
     "S \"x\"\nX " + Hex(std::string(10, '\x80')) + "\nX 80\n"},
    {"text empty", kText, 0, "", "T \n"},
    {"text line ends", kText, 0, "A\r\nB\n\n", "T A\nT B\nT \n"},
    {"text no final line end", kText, 0, "abc", "T abc\n"},
    {"text LF CR is one end", kText, 0, "a\n\rb", "T a\nT b\n"},
    {"text CR alone", kText, 0, "a\rb", "T a\nT b\n"},
    {"text starts with line end", kText, 0, "\nx", "T \nT x\n"},
    {"text binary inside", kText, 0, std::string("a\x01\x02" "b", 4), "T a\nX 0102\nT b\n"},
    {"text binary swallows line ends", kText, 0, std::string("a\x01\nb", 4), "T a\nX 010A\nT b\n"},
    {"text binary at start", kText, 0, std::string("\x05", 1), "T \nX 05\n"},
    {"text long line unsplit", kText, 0, std::string(300, 't'), "T " + std::string(300, 't') + "\n"},
};

TEST(MessageFileWriterTest, EveryLayoutMatchesHandBuiltText) {
  for (const LayoutCase& c : kLayoutCases) {
    SCOPED_TRACE(c.name);
    Writer w;
    w.opts->NoMqmd = true;
    w.opts->DataWidth = c.width;
    w.opts->AsciiColumns = c.layout == kHexColumns;
    w.opts->AsciiLines = c.layout == kAscii;
    w.opts->Printable = c.layout == kPrintable;
    w.opts->TextLines = c.layout == kText;
    ASSERT_EQ(0, w.Write(c.data));
    EXPECT_EQ("N\n" + c.expected + "\n", w.Text());
    EXPECT_EQ(1, w.opts->WrittenCount);
    EXPECT_EQ(c.data.size(), w.opts->WrittenBytes);
    EXPECT_EQ(1, w.opts->FileMessageCount);
    EXPECT_EQ(static_cast<int64_t>(w.Text().size()), w.opts->OutputFilePosition);
  }
}

TEST(MessageFileWriterTest, RawLayoutAddsOnlyTheSeparator) {
  struct {
    const char* name;
    bool noMqmd;
    std::string data;
  } cases[] = {{"bytes", true, std::string("a\0\n\xff", 4)}, {"empty", true, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    w.opts->RawBytes = true;
    w.opts->NoMqmd = c.noMqmd;
    ASSERT_EQ(0, w.Write(c.data));
    ASSERT_EQ(0, w.Write(c.data));
    EXPECT_EQ(c.data + "\n" + c.data + "\n", w.Text());
  }
}

TEST(MessageFileWriterTest, RawWithDescriptorKeepsAttributeLines) {
  Writer w;
  w.opts->RawBytes = true;
  ASSERT_EQ(0, w.Write("xyz"));
  std::string text = w.Text();
  EXPECT_EQ(0u, text.find("A VER 2\n"));
  EXPECT_EQ("A ORL 0\nxyz\n", text.substr(text.size() - 12));
}

TEST(MessageFileWriterTest, LayoutPrecedenceRawThenAsciiThenPrintableThenText) {
  struct {
    const char* name;
    bool raw, ascii, printable, text;
    const char* expected;
  } cases[] = {
      {"raw wins", true, true, true, true, "!\n"},
      {"ascii beats printable", false, true, true, true, "S \nX 21\n\n"},
      {"printable beats text", false, false, true, true, "S \"!\"\n\n"},
      {"text alone", false, false, false, true, "T !\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    w.opts->NoMqmd = true;
    w.opts->RawBytes = c.raw;
    w.opts->AsciiLines = c.ascii;
    w.opts->Printable = c.printable;
    w.opts->TextLines = c.text;
    ASSERT_EQ(0, w.Write("!"));
    std::string expected = c.raw ? c.expected : std::string("N\n") + c.expected;
    EXPECT_EQ(expected, w.Text());
  }
}

void FillDescriptor(MQMD* md) {
  std::memset(md, 0, sizeof(*md));
  std::memcpy(md->StrucId, "MD  ", 4);
  md->Version = 2;
  md->Report = 0;
  md->MsgType = 8;
  md->Expiry = -1;
  md->Feedback = 0;
  md->Encoding = 546;
  md->CodedCharSetId = 1208;
  std::memcpy(md->Format, "MQSTR   ", 8);
  md->Priority = 4;
  md->Persistence = 1;
  for (int i = 0; i < 24; ++i) md->MsgId[i] = static_cast<MQBYTE>(i);
  md->CorrelId[23] = 0xAB;
  md->BackoutCount = 2147483647;
  std::memcpy(md->ReplyToQ, "REPLY.Q", 7);  // rest NUL
  std::memset(md->ReplyToQMgr, ' ', 48);
  std::memcpy(md->ReplyToQMgr, "QM1", 3);
  std::memcpy(md->UserIdentifier, "mqm         ", 12);
  md->AccountingToken[0] = 0x16;
  std::memcpy(md->ApplIdentityData, "ident", 5);
  md->PutApplType = 6;
  std::memcpy(md->PutApplName, "app", 3);
  std::memcpy(md->PutDate, "20261205", 8);
  std::memcpy(md->PutTime, "17441700", 8);
  std::memcpy(md->ApplOriginData, "or", 2);
  md->GroupId[0] = 0xFF;
  md->MsgSeqNumber = 1;
  md->Offset = 0;
  md->MsgFlags = 0;
  md->OriginalLength = -2147483647 - 1;
}

TEST(MessageFileWriterTest, VersionTwoDescriptorGivesTwentyEightLines) {
  Writer w;
  FillDescriptor(&w.opts->Message.OwnDescriptor);
  w.opts->WriteIndex = true;
  w.opts->SelectedCount = 3;
  ASSERT_EQ(0, w.Write("hi"));
  const std::string expected =
      "* Index 3\n"
      "A VER 2\n"
      "A RPT 0\n"
      "A MST 8\n"
      "A EXP -1\n"
      "A FDB 0\n"
      "A ENC 546\n"
      "A CCS 1208\n"
      "A FMT MQSTR   \n"
      "A PRI 4\n"
      "A PER 1\n"
      "A MSI 000102030405060708090A0B0C0D0E0F1011121314151617\n"
      "A COI 0000000000000000000000000000000000000000000000AB\n"
      "A BOC 2147483647\n"
      "A RTQ REPLY.Q\n"
      "A RTM QM1                                             \n"
      "A USR mqm         \n"
      "A ACC 1600000000000000000000000000000000000000000000000000000000000000\n"
      "A AIX 6964656E74000000000000000000000000000000000000000000000000000000\n"
      "A PAT 6\n"
      "A PAN app\n"
      "A PTD 20261205\n"
      "A PTT 17441700\n"
      "A AOX 6F720000\n"
      "A GRP FF0000000000000000000000000000000000000000000000\n"
      "A MSQ 1\n"
      "A OFF 0\n"
      "A MSF 0\n"
      "A ORL -2147483648\n"
      "X 6869\n"
      "\n";
  EXPECT_EQ(expected, w.Text());
}

TEST(MessageFileWriterTest, AttributeRowsFollowVersionAndCharChoice) {
  struct {
    const char* name;
    int32_t version;
    bool asChar;
    int lines;
    const char* present;
    const char* absent;
  } cases[] = {
      {"version 1", 1, false, 23, "A AOX ", "A GRP "},
      {"version 1 as char", 1, true, 23, "A AID ident\n", "A AIX "},
      {"version 2 as char", 2, true, 28, "A AOD or\n", "A AOX "},
      {"version 0 read as 1", 0, false, 23, "A VER 0\n", "A MSQ "},
      {"future version has all", 3, false, 28, "A VER 3\n", "A AID "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    FillDescriptor(&w.opts->Message.OwnDescriptor);
    w.opts->Message.OwnDescriptor.Version = c.version;
    w.opts->ApplDataAsChar = c.asChar;
    ASSERT_EQ(0, w.Write(""));
    std::string text = w.Text();
    int attributeLines = 0;
    for (size_t at = text.find("A "); at != std::string::npos; at = text.find("\nA ", at + 1)) {
      ++attributeLines;
    }
    EXPECT_EQ(c.lines, attributeLines);
    EXPECT_NE(std::string::npos, text.find(c.present));
    EXPECT_EQ(std::string::npos, text.find(c.absent));
  }
}

TEST(MessageFileWriterTest, TextFieldsStopAtNulAndKeepBlanks) {
  struct {
    const char* name;
    char fill;
    std::string expected;
  } cases[] = {
      {"all NUL", '\0', "A RTQ \n"},
      {"blank padded", ' ', "A RTQ " + std::string(48, ' ') + "\n"},
      {"full width", 'Q', "A RTQ " + std::string(48, 'Q') + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    FillDescriptor(&w.opts->Message.OwnDescriptor);
    std::memset(w.opts->Message.OwnDescriptor.ReplyToQ, c.fill, 48);
    ASSERT_EQ(0, w.Write(""));
    EXPECT_NE(std::string::npos, w.Text().find("\n" + c.expected));
  }
}

TEST(MessageFileWriterTest, HeaderLinesAndSharedCreatedTime) {
  struct {
    const char* name;
    const char* qmgr;
    const char* queue;
    std::string tail;
  } cases[] = {
      {"queue and qmgr", "QM1", "Q1", "* Qmgr  = QM1\n* Queue = Q1\n\n"},
      {"no qmgr name", "", "Q1", "* Queue = Q1\n\n"},
      {"not a queue", "QM1", nullptr, "\n"},
      {"empty queue name", "QM1", "", "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    std::snprintf(w.opts->Qmgrs[0].Name, sizeof(w.opts->Qmgrs[0].Name), "%s", c.qmgr);
    w.opts->CreatedTime = 1796492657;
    ASSERT_EQ(0, WriteFileHeader(w.opts.get(), c.queue));
    std::string text = w.Text();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        text, m,
        std::regex("^\\* ZEPLO Version:9\\.1\\.1 Created:[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] "
                   "[0-2][0-9]:[0-5][0-9]:[0-5][0-9] 2026\n")));
    EXPECT_EQ(c.tail, text.substr(m.length()));
  }
}

TEST(MessageFileWriterTest, LaterHeadersRepeatTheFirstTime) {
  Writer a;
  ASSERT_EQ(0, WriteFileHeader(a.opts.get(), nullptr));
  int64_t first = a.opts->CreatedTime;
  EXPECT_NE(0, first);
  a.opts->CreatedTime = first - 86400 * 400;  // as if the run began long ago
  std::FILE* second = std::tmpfile();
  std::FILE* old = a.opts->OutputStream;
  a.opts->OutputStream = second;
  ASSERT_EQ(0, WriteFileHeader(a.opts.get(), nullptr));
  a.opts->OutputStream = old;
  std::rewind(second);
  char line[128] = {};
  ASSERT_NE(nullptr, std::fgets(line, sizeof(line), second));
  std::fclose(second);
  EXPECT_EQ(nullptr, std::strstr(line, " 2026\n")) << line;  // still the older time
  EXPECT_EQ(first - 86400 * 400, a.opts->CreatedTime);
}

TEST(MessageFileWriterTest, HeaderSkippedWithNoHeaderAndNullOutput) {
  for (int i = 0; i < 2; ++i) {
    Writer w;
    w.opts->NoHeader = i == 0;
    w.opts->OutputIsNull = i == 1;
    ASSERT_EQ(0, WriteFileHeader(w.opts.get(), "Q1"));
    EXPECT_EQ("", w.Text());
  }
}

TEST(MessageFileWriterTest, NullOutputAndCountingWriteNothingButCount) {
  for (int i = 0; i < 2; ++i) {
    Writer w;
    w.opts->OutputIsNull = i == 0;
    w.opts->Count = i == 1;
    ASSERT_EQ(0, w.Write("12345"));
    EXPECT_EQ("", w.Text());
    EXPECT_EQ(1, w.opts->WrittenCount);
    EXPECT_EQ(5u, w.opts->WrittenBytes);
    EXPECT_EQ(0, w.opts->FileMessageCount);
  }
}

TEST(MessageFileWriterTest, TimeOnQueueListing) {
  struct {
    const char* name;
    const char* putDate;
    int64_t nowOffset;
    const char* age;
  } cases[] = {
      {"known put time", "20261205", 3661, "1 hour 1 minute 1 second"},
      {"blank put date", "        ", 0, "Unknown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    MQMD& md = w.opts->Message.OwnDescriptor;
    FillDescriptor(&md);
    std::memcpy(md.PutDate, c.putDate, 8);
    w.opts->ShowTimeOnQueue = true;
    w.opts->WriteIndex = true;  // the listing has no index line
    w.opts->MessageIndex = 7;
    // 2026-12-05 17:44:17 UTC
    w.opts->NowSeconds = 1796492657 + c.nowOffset;
    ASSERT_EQ(0, w.Write("data"));
    EXPECT_EQ("    7. MsgId:000102030405060708090A0B0C0D0E0F1011121314151617\n" +
                  std::string(13, ' ') + c.age + "\n\n",
              w.Text());
    EXPECT_EQ(1, w.opts->WrittenCount);
  }
}

TEST(MessageFileWriterTest, LengthNeverReadsPastStorage) {
  Writer w;
  w.opts->NoMqmd = true;
  std::string bytes = "ABCD";
  w.data = bytes;
  w.opts->Message.Storage = reinterpret_cast<unsigned char*>(w.data.data());
  w.opts->Message.Capacity = 4;
  w.opts->Message.Cursor = w.opts->Message.Storage + 2;
  w.opts->Message.DataLength = 1000;  // claims more than is held
  ASSERT_EQ(0, WriteMessage(w.opts.get()));
  EXPECT_EQ("N\nX 4344\n\n", w.Text());
}

TEST(MessageFileWriterTest, LargeMessagesCrossChunksIntact) {
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>((i * 7919) & 0xFF);
  struct {
    const char* name;
    int32_t width;
    bool columns;
  } cases[] = {{"default width", 0, false}, {"wide columns", 100000, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    w.opts->NoMqmd = true;
    w.opts->DataWidth = c.width;
    w.opts->AsciiColumns = c.columns;
    ASSERT_EQ(0, w.Write(bytes));
    std::string expected = "N\n";
    size_t width = c.width == 0 ? 25 : static_cast<size_t>(c.width);
    for (size_t at = 0; at < bytes.size(); at += width) {
      std::string part = bytes.substr(at, width);
      expected += "X " + Hex(part);
      if (c.columns) {
        expected += std::string(2 * (width - part.size() + 1), ' ') + "<";
        for (unsigned char ch : part) expected += (ch >= 0x20 && ch <= 0x7e) ? char(ch) : '.';
        expected += ">";
      }
      expected += "\n";
    }
    EXPECT_TRUE(expected + "\n" == w.Text());
  }
}

// S lines wider than the writer's chunk take the splitting path.
TEST(MessageFileWriterTest, WideStringLinesKeepTheirEscapes) {
  std::string bytes;
  for (int i = 0; i < 250000; ++i) bytes += "ab\"c~"[i % 5];
  struct {
    const char* name;
    int32_t width;
  } cases[] = {{"one line per chunk or more", 100000}, {"default width", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    w.opts->NoMqmd = true;
    w.opts->Printable = true;
    w.opts->DataWidth = c.width;
    ASSERT_EQ(0, w.Write(bytes));
    size_t capacity = 2 * ((c.width == 0 ? 25 : c.width) - 1);
    std::string expected = "N\n";
    for (size_t at = 0; at < bytes.size(); at += capacity) {
      expected += "S \"";
      for (char ch : bytes.substr(at, capacity)) {
        if (ch == '"' || ch == '~') expected += '~';
        expected += ch;
      }
      expected += "\"\n";
    }
    EXPECT_TRUE(expected + "\n" == w.Text());
  }
}

TEST(MessageFileWriterTest, FullDeviceGivesTheLineKindsText) {
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  std::fclose(full);
  struct {
    const char* name;
    bool noMqmd, printable, raw, listing, header;
    int rc;
    const char* message;
  } cases[] = {
      {"attribute line", false, false, false, false, false, 2102,
       "Can not write to file '/dev/full'"},
      {"N line", true, false, false, false, false, 2102, "Can not write to file '/dev/full'"},
      {"N line before S lines", true, true, false, false, false, 2102,
       "Can not write to file '/dev/full'"},
      {"raw data", true, false, true, false, false, 2102,
       "Can not write to file '/dev/full' RC(28)"},
      {"listing entry", false, false, false, true, false, 2208, ""},
      {"header", false, false, false, false, true, 2102, "Can not write to file '/dev/full'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Writer w;
    std::fclose(w.opts->OutputStream);
    w.opts->OutputStream = std::fopen("/dev/full", "w");
    ASSERT_NE(nullptr, w.opts->OutputStream);
    std::snprintf(w.opts->CurrentOutputFile, sizeof(w.opts->CurrentOutputFile), "/dev/full");
    w.opts->NoMqmd = c.noMqmd;
    w.opts->Printable = c.printable;
    w.opts->RawBytes = c.raw;
    w.opts->ShowTimeOnQueue = c.listing;
    w.data = "payload";
    w.opts->Message.Storage = reinterpret_cast<unsigned char*>(w.data.data());
    w.opts->Message.Cursor = w.opts->Message.Storage;
    w.opts->Message.Capacity = w.opts->Message.DataLength = 7;
    int rc = c.header ? WriteFileHeader(w.opts.get(), "Q") : WriteMessage(w.opts.get());
    EXPECT_EQ(c.rc, rc);
    EXPECT_STREQ(c.message, w.opts->ExitMessage);
    EXPECT_EQ(0, w.opts->WrittenCount);
    EXPECT_EQ(0, w.opts->FileMessageCount);
  }
}

// A file size limit lets the first chunk through and fails the next one,
// which begins inside an S line.
TEST(MessageFileWriterTest, FailureInsideStringLinesCarriesTheSystemError) {
  struct rlimit saved {};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 100000;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
  Writer w;
  w.opts->NoMqmd = true;
  w.opts->Printable = true;
  int rc = w.Write(std::string(300000, 'p'));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(2102, rc);
  EXPECT_STREQ("Can not write to file 'out.zpd' RC(27)", w.opts->ExitMessage);
  EXPECT_EQ(0, w.opts->WrittenCount);
}

TEST(MessageFileWriterTest, FirstErrorTextSticks) {
  Writer w;
  std::fclose(w.opts->OutputStream);
  w.opts->OutputStream = std::fopen("/dev/full", "w");
  if (w.opts->OutputStream == nullptr) GTEST_SKIP() << "no /dev/full";
  std::snprintf(w.opts->ExitMessage, sizeof(w.opts->ExitMessage), "earlier");
  EXPECT_EQ(2102, w.Write("x"));
  EXPECT_STREQ("earlier", w.opts->ExitMessage);
}

TEST(MessageFileWriterTest, DataWidthRule) {
  const struct { int32_t given, used; } cases[] = {
      {-5, 25}, {0, 25}, {1, 10}, {9, 10}, {10, 10}, {26, 26}, {2147483647, 2147483647}};
  for (const auto& c : cases) EXPECT_EQ(c.used, EffectiveDataWidth(c.given)) << c.given;
}

}  // namespace
