// Delimited and whole files: the settings checks, the delimiter escapes,
// the bracket check, the whitespace stripping of properties, and files cut
// into records, including records that cross buffer refills and files
// whose records never end.
#include <unistd.h>

#include <cstring>
#include <vector>

#include "tests/zeplo/files/files_test_util.h"

namespace {

// The -n settings of one case: delimiter texts as typed, and flag letters
// (i include, W keep whitespace, B no bracket check, ! same allowed, 1
// whole file, x exclude as well as include).
struct NSettings {
  const char *start = "", *end = "", *propStart = "", *propEnd = "", *flags = "";
};

struct Delimited : TextInput {
  DelimitedFile& df = opts->Files.Delimited;
  Delimited(const std::string& text, const NSettings& s) : TextInput(text, "in.txt") {
    RunOptions* o = &opts->Parsed;
    o->NonNative = true;
    o->Context = ContextMode::Default;
    Copy(o->MsgStartDelimiter, s.start);
    Copy(o->MsgEndDelimiter, s.end);
    Copy(o->PropStartDelimiter, s.propStart);
    Copy(o->PropEndDelimiter, s.propEnd);
    auto has = [&s](char flag) { return std::strchr(s.flags, flag) != nullptr; };
    o->IncludeMsgDelimiters = o->IncludePropDelimiters = has('i');
    o->ExcludeMsgDelimiters = has('x'), o->KeepPropWhitespace = has('W');
    o->NoBracketCheck = has('B'), o->AllowSameDelimiters = has('!');
    o->WholeFileOneMessage = has('1');
  }
  // Every record, "|"-separated; properties shown as {text} before the
  // data, their MQRFH2 checked whole; a failure as "rc=<code>: <ExitMessage>"
  // after what came before.
  std::string Records() {
    std::string out;
    int rc = CheckDelimiters(opts.get());
    for (int n = 0; rc == 0 && n < 100000; ++n) {
      rc = ReadDelimitedMessage(opts.get());
      if (rc != 0 || opts->StopRequested) break;
      if (n > 0) out += "|";
      std::string data = Data();
      if (memcmp(opts->Message.Descriptor->Format, MQFMT_RF_HEADER_2, 8) == 0) {
        MQLONG length;
        memcpy(&length, data.data() + MQRFH2_LENGTH_2, 4);
        const MQMD& md = *opts->Message.Descriptor;
        EXPECT_EQ(MQMD_VERSION_1, md.Version);
        EXPECT_EQ(MQMT_DATAGRAM, md.MsgType);
        // StrucId, Version, StrucLength, Encoding, CodedCharSetId, Format,
        // Flags, NameValueCCSID.
        EXPECT_EQ("RFH " + Le32(2) + Le32(MQRFH2_LENGTH_2 + 4 + length) + Le32(546) + Le32(-2) +
                      "MQSTR   " + Le32(0) + Le32(1208),
                  data.substr(0, MQRFH2_LENGTH_2));
        std::string props = data.substr(MQRFH2_LENGTH_2 + 4, static_cast<size_t>(length));
        out += "{" + props.substr(0, props.find_last_not_of(' ') + 1) + "}";
        data = data.substr(MQRFH2_LENGTH_2 + 4 + static_cast<size_t>(length));
      }
      out += data;
    }
    if (rc != 0)
      out += (out.empty() ? "rc=" : "|rc=") + std::to_string(rc) + ": " + opts->ExitMessage;
    return out;
  }
};

TEST(DelimitedReaderTest, RecordsOfEachLayout) {
  const std::string refused = "rc=3229: ", same = "Message and Property delimiters are the same.\n";
  struct {
    const char* what;
    std::string text;
    NSettings setup;
    std::string records;
    ContextMode context = ContextMode::Default;
  } cases[] = {
      {"lines", "l1\nl2\nl3\n", {}, "l1|l2|l3"},
      {"last line without LF", "l1\nl2\nl3", {}, "l1|l2|l3"},
      {"empty line", "a\n\nb\n", {}, "a||b"},
      {"NUL bytes", std::string("a\0b\nc\0\n", 7), {}, std::string("a\0b|c\0", 6)},
      {"start and end", "<m>a</m><m>b</m>", {"<m>", "</m>"}, "a|b"},
      {"delimiters included", "<m>a</m>\n<m>b</m>", {"<m>", "</m>", "", "", "i"},
       "<m>a</m>|<m>b</m>"},
      {"text outside records", "head<m>a</m>\n  \n", {"<m>", "</m>"}, "a"},
      {"CR LF by code", "a\r\nb\r\n", {"", "\\13\\10"}, "a|b"},
      {"escapes: LF, backslash, codes with a NUL", std::string("\n\\xA\r\nB\r\n\0", 10),
       {"\\n\\\\x", "\\13\\10\\0"}, "A\r\nB"},
      {"line end inside <>", "x<y\nz>w\nq\n", {}, "x<y\nz>w|q"},
      {"line end inside {}", "{\n a\n}\nb\n", {}, "{\n a\n}|b"},
      {"brackets deep in long lines",
       "0123456789abcdefghijklmnop(x\n0123456789abcdefghij)\nq\n", {},
       "0123456789abcdefghijklmnop(x\n0123456789abcdefghij)|q"},
      {"bracket check off", "{\n a\n}\nb\n", {"", "", "", "", "B"}, "{| a|}|b"},
      {"one-bracket delimiters", "{a}{b(c)}", {"{", "}"}, "a|b(c)"},
      {"< and > as delimiters", "<abc><de>", {"<", ">"}, "abc|de"},
      {"same delimiters allowed", "#a##b#", {"#", "#", "", "", "!"}, "a|b"},
      {"properties", "<p><usr><a>1</a></usr></p><m>x</m><m>y</m>", {"<m>", "</m>", "<p>", "</p>"},
       "{<usr><a>1</a></usr>}x|y"},
      {"properties laid out", "<p>\n  <usr>\n    <a> 1 </a>\n  </usr>\n</p>\n<m>x</m>",
       {"<m>", "</m>", "<p>", "</p>"}, "{<usr><a>1</a></usr>}x"},
      {"properties kept as typed", "<p> <usr/>\t</p><m>x</m>",
       {"<m>", "</m>", "<p>", "</p>", "W"}, "{ <usr/>\t}x"},
      {"properties delimiters included", "<p><usr/></p><m>x</m>",
       {"<m>", "</m>", "<p>", "</p>", "i"}, "{<p><usr/></p>}<m>x</m>"},
      {"properties after the start", "<m><p>q</p>x</m>", {"<m>", "</m>", "<p>", "</p>"},
       "<p>q</p>x"},
      {"properties to the line end", "[P]<usr/>\n<m>x</m>", {"<m>", "</m>", "[P]"}, "{<usr/>}x"},
      // Faults that would otherwise lose everything after them, silently.
      {"unterminated last record", "<m>a</m><m>b", {"<m>", "</m>"},
       "a|rc=2208: No end delimiter found for the message at byte 8 of file 'in.txt'\n"},
      {"brackets that never balance", "ok\na<b\nc\n", {},
       "ok|rc=2208: Unbalanced brackets in the message at byte 3 of file 'in.txt' (-nB turns "
       "the bracket check off)\n"},
      {"stray closer", "x)y\nz\n", {}, "rc=2208: Unbalanced brackets in the message at byte 0 of "
                                       "file 'in.txt' (-nB turns the bracket check off)\n"},
      {"stray closer, check off", "x)y\nz\n", {"", "", "", "", "B"}, "x)y|z"},
      {"property end missing", "<p>abc<m>x</m></p>", {"<m>", "</m>", "<p>", "</p>"},
       "rc=2208: Missing end property delimiter '</p>' .\n"},
      // Settings refused before any record.
      {"default context", "", {},
       refused + "A non-ZEPLO file should be loaded with either DEFAULT or NO context.\n",
       ContextMode::SetAll},
      {"no context", "l1\n", {}, "l1", ContextMode::None},
      {"whole file with delimiters", "", {"<m>", "", "", "", "1"},
       refused + "Reading entire file does not require message delimiters.\n"},
      {"include and exclude", "", {"", "", "", "", "ix"}, refused +
       "You can not specify both 'include' and 'dont include' message/property delimiters.\n"},
      {"code above 255", "", {"", "\\256"},
       refused + "Message delimiter character code must be between 0 and 255.\n"},
      {"no hex escapes", "", {"", "\\t"},
       refused + "Unrecognised Message delimiter character code.\n"},
      {"same", "", {"AB", "AB"}, refused + "Message delimiters are the same.\n"},
      {"same allowed", "ABxAB", {"AB", "AB", "", "", "!"}, "x"},
      {"same properties", "", {"<m>", "</m>", "<p>", "<p>"},
       refused + "Property delimiters are the same.\n"},
      {"message start is property start", "", {"<m>", "</m>", "<m>", "</p>"}, refused + same},
      {"ends the same", "", {"<m>", "</m>", "<p>", "</m>"}, refused + same},
      {"ends both LF", "<m>x\n", {"<m>", "", "<p>"}, "x"},
      {"lines with properties", "", {"", "", "<p>", "</p>"},
       refused + "Can't use single line Message delimiters with a Property delimiter.\n"},
      {"open brace only", "", {"{", ""}, refused + "Unmatched delimiter brackets.\n"},
      {"crossed brackets", "", {"(", "]"}, refused + "Unmatched delimiter ')' bracket.\n"},
      {"crossed, check off", "(x]", {"(", "]", "", "", "B"}, "x"},
  };
  for (const auto& c : cases) {
    Delimited d(c.text, c.setup);
    d.opts->Parsed.Context = c.context;
    EXPECT_EQ(c.records, d.Records()) << c.what;
  }
}

TEST(DelimitedReaderTest, RecordsAcrossBufferRefills) {
  // Records longer than several buffer fills, and many short ones whose
  // delimiters fall on every possible refill boundary.
  std::string big, expected;
  for (int i = 0; i < 3; ++i) {
    std::string body(150000 + i * 7777, static_cast<char>('a' + i));
    big += "<m>" + body + "</m>\n";
    expected += (i > 0 ? "|" : "") + body;
  }
  EXPECT_EQ(expected, Delimited(big, {"<m>", "</m>"}).Records());

  std::string lines;
  std::vector<std::string> want;
  for (int i = 0; i < 150000; ++i) {
    want.push_back(std::string(static_cast<size_t>(i % 37), 'x') + std::to_string(i));
    lines += want.back() + "\n";
  }
  Delimited d(lines, {});
  ASSERT_EQ(0, CheckDelimiters(d.opts.get()));
  for (const std::string& w : want) {
    ASSERT_EQ(0, ReadDelimitedMessage(d.opts.get())) << d.opts->ExitMessage;
    ASSERT_EQ(w, d.Data());
    // Handed on in place, without a copy.
    ASSERT_GE(d.opts->Message.Cursor, d.df.Buffer);
    ASSERT_LE(d.opts->Message.Cursor + d.opts->Message.DataLength, d.df.Buffer + d.df.Capacity);
  }
  ASSERT_EQ(0, ReadDelimitedMessage(d.opts.get()));
  EXPECT_TRUE(d.opts->StopRequested);
  EXPECT_LT(d.df.Capacity, static_cast<int64_t>(lines.size()) / 2);  // streamed, not held whole
  EXPECT_EQ(static_cast<int64_t>(lines.size()), d.opts->Files.InputFileBytes);
}

TEST(DelimitedReaderTest, WholeFileIsOneMessage) {
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>(i * 7);
  Delimited d(bytes, {"", "", "", "", "1"});
  EXPECT_EQ(bytes, d.Records());
  EXPECT_EQ(nullptr, d.opts->Files.InputStream);  // read and closed

  // The size limit, on a sparse file that takes no disk.
  ScratchDir dir;
  dir.Create("big", "");
  ASSERT_EQ(0, truncate((dir / "big").c_str(), kMaxDelimitedRecord + 1));
  Delimited big("", {"", "", "", "", "1"});
  fclose(big.opts->Files.InputStream);
  big.opts->Files.InputStream = fopen((dir / "big").c_str(), "rb");
  EXPECT_EQ("rc=2208: File is too large at 1000000000 bytes\n", big.Records());
}

TEST(DelimitedReaderTest, BracketCheck) {
  struct { std::string text; const char* message; } cases[] = {
      {"([{<>}])()", ""}, {"a(b)c", ""}, {"(]", "Unmatched delimiter ')' bracket.\n"},
      {"]", "Unmatched delimiter ']' bracket.\n"}, {"((", "Unmatched delimiter brackets.\n"},
      {std::string(kMaxBracketDepth + 1, '('), "Unmatched delimiter '(' bracket.\n"}};
  for (const auto& c : cases) {
    auto opts = NewOptions();
    const auto* p = reinterpret_cast<const unsigned char*>(c.text.data());
    EXPECT_EQ(c.message[0] ? 3229 : 0, CheckBrackets(opts.get(), p, p + c.text.size())) << c.text;
    EXPECT_STREQ(c.message, opts->ExitMessage) << c.text;
  }
}

TEST(DelimitedReaderTest, PropertyWhitespaceStripping) {
  struct { std::string in, out; } cases[] = {
      {"  <a>  x  y  </a>  ", "<a>x  y</a>"},
      {"\t\r\n<usr>\n <x>1</x>\n</usr>\n", "<usr><x>1</x></usr>"},
      {"<a b='1  2'> 'q  r' </a>", "<a b='1  2'>'q  r'</a>"},
      {"<a> \"x <y> z\" </a>", "<a>\"x <y> z\"</a>"},
      {"<a  b", "<a  b"}, {"'a  ", "'a  "}, {"", ""}};
  for (const auto& c : cases) {
    std::string out(c.in.size() + 1, '#');
    int32_t n = StripPropertyWhitespace(out.data(), c.in.data(), static_cast<int32_t>(c.in.size()));
    EXPECT_EQ(c.out, out.substr(0, static_cast<size_t>(n))) << c.in;
  }
}

}  // namespace
