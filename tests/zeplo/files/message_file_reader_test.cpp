// The message file reader: files written by the writer in every layout
// come back byte for byte; hand-made and damaged files give their texts.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/zeplo/files/files_test_util.h"
#include "tests/zeplo/test_run.h"

using namespace std::string_literals;

namespace {

struct Reader : TextInput {
  using TextInput::TextInput;
  std::vector<std::string> data;  // of each message All() read
  std::vector<MQMD> mds;          // and its descriptor
  int rc = 0;                     // of the call that failed
  // Reads every message; "|" separates their data; a failure ends it as
  // "!<code> <message>", and " (data left)" if it left data in hand.
  std::string All() {
    bool listing, empty, eof = false;
    if ((rc = PrepareMessageFile(opts.get(), &listing, &empty)) != 0) return Failed("");
    std::string out;
    for (int n = 0; !empty && n < 100; ++n) {
      if ((rc = ReadFileMessage(opts.get(), &eof)) != 0) return Failed(out);
      if (eof) break;
      out += (n > 0 ? "|" : "") + Data();
      data.push_back(Data()), mds.push_back(Md());
    }
    return out;
  }
  std::string Failed(const std::string& out) {
    const char* left = opts->Message.DataLength != 0 ? " (data left)" : "";
    return out + "!" + std::to_string(rc) + " " + opts->ExitMessage + left;
  }
};

const char kHeader[] = "* ZEPLO Version:9.1.1 Created:Sat Dec  5 17:44:17 2026\n\n";

std::string Bytes(int n, int seed) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>((i * 7 + seed) & 0xFF);
  return s;
}

std::string Field(const MQMD& md, const char* key) {
  const MessageAttribute* row = FindAttributeByKey(key);
  return std::string(reinterpret_cast<const char*>(&md) + row->Offset, row->Width);
}

// Every field distinct; text fields blank-padded and never NUL, as MQ
// gives them, or from `text` on, byte after byte, whatever those are; the
// shared ApplIdentityData/ApplOriginData take text.
MQMD FullDescriptor(int32_t version, int text = -1) {
  MQMD md{};
  for (int32_t i = 0; i < MessageAttributeCount; ++i) {
    const MessageAttribute& row = MessageAttributeTable[i];
    unsigned char* field = reinterpret_cast<unsigned char*>(&md) + row.Offset;
    if (row.Kind == kAttributeNumber) {
      int32_t v = (i - 15) * 100003;
      std::memcpy(field, &v, 4);
    }
    for (int j = 0; j < row.Width; ++j) {
      unsigned char letter = j < row.Width - 2 ? 'A' + (i + j) % 26 : ' ';
      if (row.Kind == kAttributeText) field[j] = text < 0 ? letter : static_cast<unsigned char>(text++);
      if (row.Kind == kAttributeBytes &&
          FindAttributeByLongName(row.LongName, std::strlen(row.LongName))->Kind != kAttributeText)
        field[j] = static_cast<unsigned char>(i * 31 + j * 17);
    }
  }
  std::memcpy(md.StrucId, "MD  ", 4);
  md.Version = version;
  if (version == 1) {  // what the reader leaves in the fields not written
    std::memset(md.GroupId, 0, sizeof md.GroupId);
    md.MsgSeqNumber = 1, md.Offset = 0, md.MsgFlags = 0, md.OriginalLength = -1;
  }
  return md;
}

struct LayoutCase {
  const char* name;
  std::function<void(TestRun*)> apply;
  bool descriptor;  // false: -dN, the default descriptor comes back
};

// The program's own unload and load runs round-trip every layout with
// version-2 descriptors; these add version 1, every field and odd widths.
const LayoutCase kLayouts[] = {
    {"hex", [](TestRun*) {}, true},
    {"-dA", [](TestRun* o) { o->Parsed.AsciiLines = true; }, true},
    {"-dp", [](TestRun* o) { o->Parsed.Printable = true; }, true},
    {"-dN", [](TestRun* o) { o->Parsed.NoMqmd = true; }, false},
    {"-dc", [](TestRun* o) { o->Parsed.ApplDataAsChar = true; }, true},
    {"-dw2000 (lines over 1023)", [](TestRun* o) { o->Parsed.DataWidth = 2000; }, true},
    {"-dp -dw10", [](TestRun* o) { o->Parsed.Printable = true, o->Parsed.DataWidth = 10; }, true},
};

// Version 1 and 2 descriptors, text fields holding every byte value (two
// passes: they hold 196 bytes) and a name NUL-filled as C programs fill it.
TEST(MessageFileReaderTest, EveryLayoutRoundTripsByteForByte) {
  const std::string data[] = {"", "\0"s, Bytes(256, 0) + Bytes(256, 3), "say \"~~\" ~\" and ~",
                              Bytes(25, 65), Bytes(26, 1), Bytes(70001, 9)};
  MQMD mds[] = {FullDescriptor(1), FullDescriptor(2), FullDescriptor(2, 0), FullDescriptor(2, 128),
                FullDescriptor(2)};
  std::memcpy(mds[4].ReplyToQ, (std::string("REPLY.Q") + std::string(41, '\0')).data(), 48);
  EXPECT_NE(std::string::npos,
            WriteFile(kLayouts[0].apply, &mds[4], data, 1).find("\nA RTQ REPLY.Q\n"));
  for (const LayoutCase& c : kLayouts) {
    for (const MQMD& md : mds) {
      SCOPED_TRACE(std::string(c.name) + " descriptor " + std::to_string(&md - mds));
      Reader r(WriteFile(c.apply, &md, data, 7, true));
      r.All();
      ASSERT_EQ(0, r.rc) << r.opts->ExitMessage;
      EXPECT_EQ(std::vector<std::string>(data, data + 7), r.data);
      MQMD expected = md;
      if (!c.descriptor) ResetDescriptorDefaults(&expected);
      for (const MQMD& got : r.mds) EXPECT_EQ(0, std::memcmp(&expected, &got, sizeof got));
      EXPECT_EQ(static_cast<int64_t>(std::ftell(r.opts->Files.InputStream)),
                r.opts->Files.InputFileBytes);
    }
  }
}

TEST(MessageFileReaderTest, HandWrittenFiles) {
  const std::string big(1 << 20, 'm'), stringEnd = "!2208 Invalid string line - no terminating \" ";
  const struct {
    std::string text, expected;  // failures: each names its line and file
  } cases[] = {
      {"", ""}, {" \t\r\n\n  \n", ""}, {"* ZEPLO\n", ""},
      {"\n\n* DMPMQMSG dump\nN\nT hi\n", "hi\n"},
      {"* ZEPLO\r\nN\r\nX 4142\r\n\r\nA VER 1\r\nS \"x\"\r\n", "AB|x"},
      {"* ZEPLO\nN\nX 41 42\nX4344  <CD>\n", "ACD"}, {"* ZEPLO\nN\nT abc\nT \nT\n", "abc\n\n\n"},
      {"* ZEPLO\nN\nS  \"a~\"b~~\" tail\nS   plain text   \nS \nS\n", "a\"b~plain text"},
      {"* ZEPLO\nN\n* comment inside\nX 41\n\n* between\nN\nX 42", "A|B"},
      {"* ZEPLO\nN\nX 41\nX 42", "AB"}, {"* ZEPLO\nN\nT end", "end\n"},
      {"* ZEPLO\nN\nT " + big + "\n", big + "\n"},
      {"* ZEPLO\nN\nT a" + std::string(1, '\0') + "b\nT c\n", std::string("a\0b\nc\n", 6)},
      {"\x7f" "ELF\x02\x01\x01", "!2208 File 'in.zpd' does not appear to be a ZEPLO file"},
      {"\n  * ZEPLO\n", "!2208 File 'in.zpd' does not appear to be a ZEPLO file"},
      {"* ZEPLO\n\nX 41\n", "!2208 Expected message attribute at line  3 of file 'in.zpd'"},
      {"* ZEPLO\nA VE\n", "!2208 Invalid attribute line on line 2 of file 'in.zpd'"},
      {"* ZEPLO\nA XYZ 1\n", "!2208 Unrecognised attribute on line 2 of file 'in.zpd'"},
      {"* ZEPLO\nA ver 1\n", "!2208 Unrecognised attribute on line 2 of file 'in.zpd'"},
      {"* ZEPLO\nA VER 2\nA PRI 1", "!2208 Expected message at line 3 of file 'in.zpd'"},
      {"* ZEPLO\nN\n\nQ 41\n", "!2208 Expected message at line 4 of file 'in.zpd'"},
      {"* ZEPLO\nN\nX 414  <AA>\n", "!2208 Badly formed HEX string on line 3 of file 'in.zpd'"},
      {"* ZEPLO\nA MSI 4G\nX 41\n", "!2208 Badly formed HEX string on line 2 of file 'in.zpd'"},
      {"* ZEPLO\nN\nS \"abc\n", stringEnd + "symbol on line 3 of file 'in.zpd'"},
      {"* ZEPLO\nN\nS \"abc~\n", stringEnd + "symbol on line 3 of file 'in.zpd'"},
      {"* ZEPLO\nN\nS \"a~b\"\n", "!2208 Unexpected escape sequence on line 3 of file 'in.zpd'"},
      {"* ZEPLO\nN\nX 41\n\nN\nX 42\n* c\n\nN\nS \"~x\"\n",
       "A|B!2208 Unexpected escape sequence on line 10 of file 'in.zpd'"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, Reader(c.text).All()) << c.text.substr(0, 60);
}

TEST(MessageFileReaderTest, AttributeValues) {
  const std::string zeros(24, '\0');
  const struct {
    const char *line, *key;
    std::string field;  // its bytes afterwards
  } cases[] = {
      {"A FMT MQSTR   ", "FMT", "MQSTR   "}, {"A FMT ", "FMT", "        "},
      {"A FMT MQSTRINGS", "FMT", "MQSTRING"}, {"A PRI", "PRI", Le32(-1)},
      {"A PRI  \t+7x", "PRI", Le32(7)}, {"A EXP many", "EXP", Le32(0)},
      {"A OFF 99999999999", "OFF", Le32(INT32_MAX)}, {"A MSI 41424", "MSI", "AB" + zeros.substr(2)},
      {"A COI 0102 03", "COI", "\x01\x02" + zeros.substr(2)},
      {"A ACC ", "ACC", zeros + zeros.substr(16)},
  };
  for (const auto& c : cases) {
    Reader r(std::string(kHeader) + c.line + "\nX 00\n");
    EXPECT_EQ("\0"s, r.All()) << c.line;
    EXPECT_EQ(c.field, Field(r.mds.at(0), c.key)) << c.line;
  }
}

TEST(MessageFileReaderTest, InternalFaultsGiveTheirTexts) {
  TestRun opts{};
  Copy(opts.Files.CurrentInputFile, "odd.zpd");
  MessageAttribute odd = MessageAttributeTable[0];
  odd.Kind = static_cast<AttributeKind>(9);
  MQMD md{};
  const char value[] = "7";
  EXPECT_EQ(2195, StoreAttributeValue(&opts, &md, &odd, value, value + 1));
  EXPECT_STREQ("Internal Eror:Unrecognised attribute type 9 on line 0 of file 'odd.zpd'",
               opts.ExitMessage);
  odd = MessageAttributeTable[MessageAttributeCount - 1];
  odd.Offset = static_cast<int32_t>(sizeof(MQMD)) - 2;  // would run past the descriptor
  EXPECT_EQ(2195, StoreAttributeValue(&opts, &md, &odd, value, value + 1));
}

TEST(MessageFileReaderTest, MemoryTraceFollowsTheLineStorage) {
  Reader r(std::string(kHeader) + "N\nT " + std::string(1500, 'x') + "\n");
  r.opts->Parsed.MemoryTrace = true;
  testing::internal::CaptureStderr();
  EXPECT_EQ(std::string(1500, 'x') + "\n", r.All());
  ReleaseLineStorage(r.opts.get());
  ExpectInOrder(testing::internal::GetCapturedStderr(),
                {"Allocating 1024 bytes\nAllocation success 0x", "Allocating 2048 bytes\n",
                 "Freeing 0x", "Allocating 8192 bytes\n"});
  EXPECT_EQ(nullptr, r.opts->Files.InputLines);
}

TEST(MessageFileReaderTest, KeysAndLongNamesFindTheirRowsAndNothingElse) {
  // Every three letters, upper case: exactly the table's keys are found,
  // each to its own row, and none with one letter lowered.
  int found = 0;
  for (int i = 0; i < 26 * 26 * 26; ++i) {
    const char key[4] = {char('A' + i / 676), char('A' + i / 26 % 26), char('A' + i % 26), 0};
    const MessageAttribute* row = FindAttributeByKey(key);
    if (row == nullptr) continue;
    ++found;
    EXPECT_STREQ(key, row->Key);
    for (int at = 0; at < 3; ++at) {
      std::string lowered = key;
      lowered[at] = static_cast<char>(lowered[at] | 0x20);
      EXPECT_EQ(nullptr, FindAttributeByKey(lowered.c_str())) << lowered;
    }
  }
  EXPECT_EQ(37, found);
  EXPECT_EQ(37, std::count_if(MessageAttributeTable, MessageAttributeTable + MessageAttributeCount,
                              [](const MessageAttribute& row) { return row.Key[0] != '\0'; }));
  const char odd[] = {'\0', '\0', '\0', 'x'};
  EXPECT_EQ(nullptr, FindAttributeByKey(odd));
  EXPECT_EQ(nullptr, FindAttributeByKey(nullptr));
  const struct {
    std::string name;
    const char* row;  // key of the row found, "" for StrucId, null for none
  } names[] = {{"MsgId", "MSI"},  {"ApplIdentityData", "AID"}, {"StrucId", ""},
               {"MsgI", nullptr}, {"MsgIdX", nullptr},         {"msgid", nullptr},
               {"", nullptr},     {{"MsgId\0", 6}, nullptr}};
  for (const auto& n : names) {
    const MessageAttribute* row = FindAttributeByLongName(n.name.data(), n.name.size());
    EXPECT_EQ(std::string(n.row ? n.row : "none"), row ? row->Key : "none") << n.name;
  }
}

TEST(MessageFileReaderTest, HexRunsStopAtTheFirstPairThatIsNotOne) {
  // 20 pairs with one spoilt at `at`: decoding stops there whichever place
  // it has in a group of eight, and the bytes behind it are left alone.
  const std::string digits = "000102030405060708090A0B0C0D0E0F10111213";
  const struct {
    int at;           // pair spoilt, -1 for none
    const char* bad;  // its two characters
    int64_t limit, count;
    int rc;
    size_t size = 40;  // digits given: 33 leaves the last one without a partner
  } cases[] = {
      {-1, "", -1, 20, 0},   {0, "x0", -1, 0, 0},        {7, "0x", -1, 7, 2208},
      {8, "  ", -1, 8, 0},   {9, "G0", -1, 9, 0},        {15, "0-", -1, 15, 2208},
      {16, "--", -1, 16, 0}, {19, "0g", -1, 19, 2208},   {-1, "", 8, 8, 0},
      {-1, "", 9, 9, 0},     {-1, "", 0, 0, 0},          {12, "zz", 12, 12, 0},
      {12, "zz", 15, 12, 0}, {-1, "", -1, 16, 2208, 33},
  };
  for (const auto& c : cases) {
    std::string text = digits.substr(0, c.size);
    if (c.at >= 0) text.replace(static_cast<size_t>(2 * c.at), 2, c.bad);
    TestRun opts{};
    unsigned char out[24];
    std::memset(out, 0xEE, sizeof out);
    int64_t count = c.limit;
    SCOPED_TRACE(text + " limit " + std::to_string(c.limit));
    EXPECT_EQ(c.rc, ParseHex(&opts, text.data(), text.data() + text.size(), out, &count, false));
    EXPECT_EQ(c.count, count);
    for (int64_t i = 0; i < 24; ++i) EXPECT_EQ(i < count ? i : 0xEE, out[i]) << "byte " << i;
  }
}

TEST(MessageFileReaderTest, AFileCutAtAnyByteIsRefused) {
  const std::string data[] = {"first", Bytes(60, 1), ""};
  for (const LayoutCase& c : kLayouts) {
    if (c.name[2] == 'w') continue;  // long lines: slow and no news
    MQMD md = FullDescriptor(2);
    std::string whole = WriteFile(c.apply, &md, data, 3, true);
    EXPECT_EQ(data[0] + "|" + data[1] + "|", Reader(whole).All()) << c.name;
    for (size_t cut = 1; cut < whole.size(); ++cut) {
      Reader r(whole.substr(0, cut));
      r.All();
      ASSERT_NE(0, r.rc) << c.name << " cut at " << cut;
    }
  }
  // What the refusals say: in a message, and before the end line.
  MQMD md = FullDescriptor(1);
  std::string whole = WriteFile(kLayouts[0].apply, &md, data, 3, true);
  EXPECT_EQ("first!2208 File 'in.zpd' is cut short on line 51: message 2 is incomplete",
            Reader(whole.substr(0, whole.find("\nX 01") + 1)).All());
  EXPECT_EQ("first|" + data[1] + "!2208 File 'in.zpd' is cut short after message 3: its end "
            "line is missing", Reader(whole.substr(0, whole.size() - 1)).All());
}

// Files of earlier versions: no end line, and text values shorter than
// their field blank-padded. A marked file's end line must be its last.
TEST(MessageFileReaderTest, OlderFilesLoadAsTheyAlwaysHave) {
  Reader old(FileText(std::string(ZEPLO_SOURCE_DIR) + "/tests/data/files/older/hex.zpd"));
  old.All();
  ASSERT_EQ(3u, old.data.size()) << old.opts->ExitMessage;
  EXPECT_EQ("Hello, \"world\" ~ 100%\r\nline two\n\0\x01\xff"s, old.data[0]);
  EXPECT_EQ("REPLY.Q" + std::string(41, ' '), Field(old.mds[2], "RTQ"));
  Reader joined("* ZEPLO Version:9.1.1 Created:x Format:2\nN\nX 41\n* ZEPLO End\nN\nX 42\n");
  EXPECT_EQ("A!2208", joined.All().substr(0, 6));
}

}  // namespace
