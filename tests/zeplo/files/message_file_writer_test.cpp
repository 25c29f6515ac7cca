// The message file writer, layout by layout, against text built by hand.
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <regex>

#include "tests/test_text.h"
#include "tests/zeplo/test_run.h"
#include "tests/zeplo/files/files_test_util.h"

namespace {

enum Flag { kCols = 1, kAscii = 2, kPrint = 4, kText = 8, kRaw = 16, kNoMd = 32, kNull = 64,
            kCount = 128, kHeader = 256 /* the header rather than the message */ };

// Writes `data` as one message under `flags`; returns the stream's text.
std::string Write(TestRun* opts, int flags, std::string data, int rc = 0) {
  RunOptions& o = opts->Parsed;
  o.AsciiColumns = flags & kCols, o.AsciiLines = flags & kAscii, o.Printable = flags & kPrint;
  o.TextLines = flags & kText, o.RawBytes = flags & kRaw, o.NoMqmd = flags & kNoMd;
  o.Count = flags & kCount, opts->Settings.OutputIsNull = flags & kNull;
  if (opts->Files.OutputStream == nullptr) opts->Files.OutputStream = std::tmpfile();
  SetMessage(opts, &data);
  EXPECT_EQ(rc, flags & kHeader ? WriteFileHeader(opts, "Q") : WriteMessage(opts));
  return StreamText(opts->Files.OutputStream);
}

// The plain cases of every layout are run through the program as well;
// these are the edges: widths, runs measured in groups, chunk-wide lines.
const std::string A25(25, 'A');
const struct { const char* name; int flags, width; std::string data, expected; } kLayouts[] = {
    {"hex -dw-3 is 25", kNoMd, -3, A25 + "z", "N\nX " + Hex(A25) + "\nX 7A\n\n"},
    {"columns full line", kNoMd | kCols, 0, std::string(24, 'b') + '\x7f',
     "N\nX " + Hex(std::string(24, 'b') + '\x7f') + "  <" + std::string(24, 'b') + ".>\n\n"},
    {"ascii bang unsafe", kNoMd | kAscii, 0, "Hi, you!", "N\nS \"Hi, you\"\nX 21\n\n"},
    {"ascii NUL and tilde", kNoMd | kAscii, 0, std::string("a\0~b", 4),
     "N\nS \"a\"\nX 007E\nS \"b\"\n\n"},
    {"ascii safe set", kNoMd | kAscii, 0, " *'()<>+,-./:=?_", "N\nS \" *'()<>+,-./:=?_\"\n\n"},
    {"printable 48 a line", kNoMd | kPrint, 0, std::string(49, 'q'),
     "N\nS \"" + std::string(48, 'q') + "\"\nS \"q\"\n\n"},
    {"printable -dw10 is 18", kNoMd | kPrint, 10, std::string(19, 'r'),
     "N\nS \"" + std::string(18, 'r') + "\"\nS \"r\"\n\n"},
    {"escapes not counted", kNoMd | kPrint, 10, std::string(18, '~'),
     "N\nS \"" + std::string(36, '~') + "\"\n\n"},
    // Runs are measured eight bytes at a time: their ends at every place.
    {"printable binary last in a group", kNoMd | kPrint, 0, "abcdefg\x01hij",
     "N\nS \"abcdefg\"\nX 01\nS \"hij\"\n\n"},
    {"printable binary after a group", kNoMd | kPrint, 0, "abcdefgh\x02",
     "N\nS \"abcdefgh\"\nX 02\n\n"},
    {"printable escape in a later group", kNoMd | kPrint, 0, "abcdefghijklmnop~q",
     "N\nS \"abcdefghijklmnop~~q\"\n\n"},
    {"printable escape on the second line", kNoMd | kPrint, 0, std::string(48, 'q') + "\"",
     "N\nS \"" + std::string(48, 'q') + "\"\nS \"~\"\"\n\n"},
    {"ascii unsafe after two groups", kNoMd | kAscii, 0, "0123456789abcdef!x",
     "N\nS \"0123456789abcdef\"\nX 21\nS \"x\"\n\n"},
    {"text binary in a second group", kNoMd | kText, 0, "abcdefghi\x7fj",
     "N\nT abcdefghi\nX 7F\nT j\n\n"},
    // S lines wider than the writer's chunk, with and without escapes.
    {"printable wide line", kNoMd | kPrint, 40000, std::string(70000, 'c'),
     "N\nS \"" + std::string(70000, 'c') + "\"\n\n"},
    {"printable wide line escaped", kNoMd | kPrint, 40000,
     std::string(65000, 'a') + "~" + std::string(4999, 'b'),
     "N\nS \"" + std::string(65000, 'a') + "~~" + std::string(4999, 'b') + "\"\n\n"},
    {"text LF CR, CR alone", kNoMd | kText, 0, "a\n\rb\rc", "N\nT a\nT b\nT c\n\n"},
    {"text starts with LF", kNoMd | kText, 0, "\nx", "N\nT \nT x\n\n"},
    {"text binary inside", kNoMd | kText, 0, "a\x01\nb", "N\nT a\nX 010A\nT b\n\n"},
    {"raw", kNoMd | kRaw, 0, std::string("a\0\n\xff", 4), std::string("a\0\n\xff\n", 5)},
    {"raw before ascii", kNoMd | kRaw | kAscii | kPrint | kText, 0, "!", "!\n"},
    {"ascii before printable", kNoMd | kAscii | kPrint | kText, 0, "!", "N\nS \nX 21\n\n"},
    {"printable before text", kNoMd | kPrint | kText, 0, "!", "N\nS \"!\"\n\n"},
    {"null output counts only", kNull, 0, "12345", ""},
    {"counting counts only", kCount | kRaw, 0, "12345", ""},
};

TEST(MessageFileWriterTest, EveryLayoutMatchesHandBuiltText) {
  for (const auto& c : kLayouts) {
    auto opts = NewOptions();
    opts->Parsed.DataWidth = c.width;
    EXPECT_EQ(c.expected, Write(opts.get(), c.flags, c.data)) << c.name;
    EXPECT_EQ(1, opts->Counters.WrittenCount);
    EXPECT_EQ(c.data.size(), opts->Counters.WrittenBytes);
    EXPECT_EQ(c.expected.empty() ? 0 : 1, opts->Files.FileMessageCount);
    EXPECT_EQ(static_cast<int64_t>(c.expected.size()), opts->Files.OutputFilePosition);
  }
}

TEST(MessageFileWriterTest, HeaderLines) {
  const std::regex first(
      "^\\* ZEPLO Version:9\\.1\\.1 Created:[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] [0-9:]{8} "
      "2[0-9]{3} Format:2\n");
  const struct {
    const char *qmgr, *queue, *tail;  // tail: what follows the first line; "": nothing at all
    bool null;
  } cases[] = {{"", "Q1", "* Queue = Q1\n\n", false}, {"QM1", nullptr, "\n", false},
               {"QM1", "", "\n", false}, {"QM1", "Q1", "", true}};
  for (const auto& c : cases) {
    auto opts = NewOptions();
    opts->Files.OutputStream = std::tmpfile();
    Copy(opts->Qmgrs[0].Name, c.qmgr);
    opts->Settings.OutputIsNull = c.null;
    ASSERT_EQ(0, WriteFileHeader(opts.get(), c.queue));
    std::string text = StreamText(opts->Files.OutputStream);
    std::fclose(opts->Files.OutputStream);
    std::smatch m;
    ASSERT_EQ(!c.null, std::regex_search(text, m, first)) << text;
    EXPECT_EQ(c.tail, text.substr(c.null ? 0 : m.length()));
  }
}

TEST(MessageFileWriterTest, NeverReadsPastTheStorage) {
  auto opts = NewOptions();
  opts->Files.OutputStream = std::tmpfile();
  opts->Parsed.NoMqmd = true;
  std::string data = "ABCD";
  SetMessage(opts.get(), &data);
  opts->Message.Cursor += 2;
  opts->Message.DataLength = 1000;  // claims more than is held
  ASSERT_EQ(0, WriteMessage(opts.get()));
  EXPECT_EQ("N\nX 4344\n\n", StreamText(opts->Files.OutputStream));
}

// A hex line and its ASCII column wider than the writer's 64 KB chunk
// (S lines wider than a chunk are in the layout table).
TEST(MessageFileWriterTest, LargeMessagesCrossChunksIntact) {
  std::string bytes, cols;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>((i * 7919) & 0xFF);
  for (unsigned char ch : bytes) cols += (ch >= 0x20 && ch <= 0x7e) ? char(ch) : '.';
  auto opts = NewOptions();
  opts->Parsed.DataWidth = 200000;
  EXPECT_EQ("N\nX " + Hex(bytes.substr(0, 200000)) + "  <" + cols.substr(0, 200000) + ">\nX " +
                Hex(bytes.substr(200000)) + std::string(200002, ' ') + "<" + cols.substr(200000) +
                ">\n\n",
            Write(opts.get(), kNoMd | kCols, bytes));
}

// A full device, and a file size limit that lets the first chunk through
// and fails the next one, which begins inside an S line: the system error
// is named unless an earlier error text is kept.
TEST(MessageFileWriterTest, WriteFailuresGiveTheirTexts) {
  const char* plain = "Can not write to file '/dev/full'";
  const struct {
    int flags;
    bool listing;
    int rc;
    const char* message;
    const char* file = "/dev/full";  // else a scratch file under the size limit
    const char* earlier = "";
    size_t size = 7;
  } cases[] = {{0, false, 2102, plain}, {kNoMd | kPrint, false, 2102, plain},
               {kNoMd | kRaw, false, 2102, "Can not write to file '/dev/full' RC(28)"},
               {0, true, 2208, ""}, {kHeader, false, 2102, plain},
               {kNoMd | kPrint, false, 2102, "Can not write to file 'out.zpd' RC(27)", "out.zpd",
                "", 300000},
               {kNoMd | kPrint, false, 2102, "earlier", "out.zpd", "earlier", 300000}};
  struct rlimit saved {};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 100000;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
  for (const auto& c : cases) {
    auto opts = NewOptions();
    bool device = c.file[0] == '/';
    opts->Files.OutputStream = device ? std::fopen(c.file, "w") : std::tmpfile();
    ASSERT_NE(nullptr, opts->Files.OutputStream) << c.file;
    Copy(opts->Files.CurrentOutputFile, c.file);
    Copy(opts->ExitMessage, c.earlier);
    opts->Parsed.ShowTimeOnQueue = c.listing;
    Write(opts.get(), c.flags, std::string(c.size, 'p'), c.rc);
    EXPECT_STREQ(c.message, opts->ExitMessage);
    EXPECT_EQ(0, opts->Counters.WrittenCount + opts->Files.FileMessageCount);
    std::fclose(opts->Files.OutputStream);
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
}

}  // namespace
