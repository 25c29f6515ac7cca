// The message file reader: files written by the writer in every layout
// come back byte for byte; hand-made and damaged files give their texts.
#include <cstring>
#include <functional>

#include "tests/zeplo/test_run.h"
#include "tests/zeplo/files/files_test_util.h"

namespace {

struct Reader : TextInput {
  using TextInput::TextInput;
  MQMD last{};    // the descriptor of the last message All() read
  int count = 0;  // messages All() read
  int Next(bool* eof) { return ReadFileMessage(opts.get(), eof); }
  // Reads every message; "|" separates their data, "!" ends in an error.
  std::string All() {
    bool listing, empty, eof = false;
    if (PrepareMessageFile(opts.get(), &listing, &empty) != 0) return "!";
    std::string out;
    for (int n = 0; !empty && n < 100; ++n) {
      if (Next(&eof) != 0) return out + "!";
      if (eof) break;
      out += (n > 0 ? "|" : "") + Data();
      last = Md();
      ++count;
    }
    return out;
  }
};

const char kHeader[] = "* ZEPLO Version:9.1.1 Created:Sat Dec  5 17:44:17 2026\n\n";

std::string Bytes(int n, int seed) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>((i * 7 + seed) & 0xFF);
  return s;
}

// Every field distinct; text fields blank-padded and never NUL, as MQ
// gives them; the shared ApplIdentityData/ApplOriginData take text.
MQMD FullDescriptor(int32_t version) {
  MQMD md{};
  for (int32_t i = 0; i < MessageAttributeCount; ++i) {
    const MessageAttribute& row = MessageAttributeTable[i];
    unsigned char* field = reinterpret_cast<unsigned char*>(&md) + row.Offset;
    if (row.Kind == kAttributeNumber) {
      int32_t v = (i - 15) * 100003;
      std::memcpy(field, &v, 4);
    }
    for (int j = 0; j < row.Width; ++j) {
      if (row.Kind == kAttributeText) field[j] = j < row.Width - 2 ? 'A' + (i + j) % 26 : ' ';
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

std::string WriteFile(const std::function<void(TestRun*)>& layout, const MQMD& md,
                      const std::string* data, int count) {
  auto opts = NewOptions();
  layout(opts.get());
  opts->Files.OutputStream = std::tmpfile();
  std::snprintf(opts->Files.CurrentOutputFile, sizeof(opts->Files.CurrentOutputFile), "out.zpd");
  EXPECT_EQ(0, WriteFileHeader(opts.get(), "Q1"));
  for (int i = 0; i < count; ++i) {
    std::string copy = data[i];
    SetMessage(opts.get(), &copy);
    opts->Message.OwnDescriptor = md;
    EXPECT_EQ(0, WriteMessage(opts.get()));
  }
  EXPECT_EQ(0, WriteFileEnd(opts.get()));
  std::string text = StreamText(opts->Files.OutputStream);
  std::fclose(opts->Files.OutputStream);
  return text;
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

TEST(MessageFileReaderTest, EveryLayoutRoundTripsByteForByte) {
  const std::string data[] = {"", std::string(1, '\0'), Bytes(256, 0) + Bytes(256, 3),
                              "say \"~~\" ~\" and ~", Bytes(25, 65), Bytes(26, 1),
                              Bytes(70001, 9)};
  for (const LayoutCase& c : kLayouts) {
    for (int32_t version : {1, 2}) {
      SCOPED_TRACE(std::string(c.name) + " version " + std::to_string(version));
      MQMD md = FullDescriptor(version);
      Reader r(WriteFile(c.apply, md, data, 7));
      MQMD expected = md;
      if (!c.descriptor) ResetDescriptorDefaults(&expected);
      bool listing, empty, eof = false;
      ASSERT_EQ(0, PrepareMessageFile(r.opts.get(), &listing, &empty));
      ASSERT_FALSE(listing || empty);
      for (const std::string& d : data) {
        ASSERT_EQ(0, r.Next(&eof)) << r.opts->ExitMessage;
        ASSERT_FALSE(eof);
        EXPECT_EQ(0, std::memcmp(&expected, &r.opts->Message.OwnDescriptor, sizeof(MQMD)));
        EXPECT_EQ(d, r.Data()) << d.size() << " bytes";
      }
      ASSERT_EQ(0, r.Next(&eof));
      EXPECT_TRUE(eof);
      EXPECT_EQ(static_cast<int64_t>(std::ftell(r.opts->Files.InputStream)),
                r.opts->Files.InputFileBytes);
    }
  }
}

TEST(MessageFileReaderTest, HandWrittenFiles) {
  const std::string big(1 << 20, 'm');
  const struct {
    std::string text, expected;
  } cases[] = {
      {"", ""},
      {" \t\r\n\n  \n", ""},
      {"* ZEPLO\n", ""},
      {"\n\n* DMPMQMSG dump\nN\nT hi\n", "hi\n"},
      {"* ZEPLO\r\nN\r\nX 4142\r\n\r\nA VER 1\r\nS \"x\"\r\n", "AB|x"},
      {"* ZEPLO\nN\nX 41 42\nX4344  <CD>\n", "ACD"},
      {"* ZEPLO\nN\nT abc\nT \nT\n", "abc\n\n\n"},
      {"* ZEPLO\nN\nS  \"a~\"b~~\" tail\nS   plain text   \nS \nS\n", "a\"b~plain text"},
      {"* ZEPLO\nN\n* comment inside\nX 41\n\n* between\nN\nX 42", "A|B"},
      {"* ZEPLO\nN\nX 41\nX 42", "AB"},
      {"* ZEPLO\nN\nT end", "end\n"},
      {"* ZEPLO\nN\nT " + big + "\n", big + "\n"},
      {"* ZEPLO\nN\nT a" + std::string(1, '\0') + "b\nT c\n", std::string("a\0b\nc\n", 6)},
  };
  for (const auto& c : cases) {
    Reader r(c.text);
    EXPECT_EQ(c.expected, r.All()) << c.text.substr(0, 60);
  }
}

TEST(MessageFileReaderTest, AttributeValues) {
  const struct {
    const char* line;
    std::function<bool(const MQMD&)> check;
  } cases[] = {
      {"A FMT MQSTR   ", [](const MQMD& m) { return !std::memcmp(m.Format, "MQSTR   ", 8); }},
      {"A FMT ", [](const MQMD& m) { return !std::memcmp(m.Format, "        ", 8); }},
      {"A FMT MQSTRINGS", [](const MQMD& m) { return !std::memcmp(m.Format, "MQSTRING", 8); }},
      {"A PRI", [](const MQMD& m) { return m.Priority == -1; }},
      {"A PRI  \t+7x", [](const MQMD& m) { return m.Priority == 7; }},
      {"A EXP many", [](const MQMD& m) { return m.Expiry == 0; }},
      {"A OFF 99999999999", [](const MQMD& m) { return m.Offset == INT32_MAX; }},
      {"A MSI 41424", [](const MQMD& m) { return m.MsgId[0] == 0x41 && m.MsgId[1] == 0x42 &&
                                              m.MsgId[2] == 0; }},
      {"A COI 0102 03", [](const MQMD& m) { return m.CorrelId[1] == 2 && m.CorrelId[2] == 0; }},
      {"A ACC ", [](const MQMD& m) { return m.AccountingToken[0] == 0; }},
  };
  for (const auto& c : cases) {
    Reader r(std::string(kHeader) + c.line + "\nX 00\n");
    bool listing, empty, eof;
    ASSERT_EQ(0, PrepareMessageFile(r.opts.get(), &listing, &empty));
    ASSERT_EQ(0, r.Next(&eof)) << c.line;
    EXPECT_TRUE(c.check(r.opts->Message.OwnDescriptor)) << c.line;
  }
}

TEST(MessageFileReaderTest, EveryFailureNamesItsLineAndFile) {
  const struct {
    std::string text;
    int rc;
    const char* message;
  } cases[] = {
      {"\x7f" "ELF\x02\x01\x01", 2208, "File 'in.zpd' does not appear to be a ZEPLO file"},
      {"\n  * ZEPLO\n", 2208, "File 'in.zpd' does not appear to be a ZEPLO file"},
      {"* ZEPLO\n\nX 41\n", 2208, "Expected message attribute at line  3 of file 'in.zpd'"},
      {"* ZEPLO\nA VE\n", 2208, "Invalid attribute line on line 2 of file 'in.zpd'"},
      {"* ZEPLO\nA XYZ 1\n", 2208, "Unrecognised attribute on line 2 of file 'in.zpd'"},
      {"* ZEPLO\nA ver 1\n", 2208, "Unrecognised attribute on line 2 of file 'in.zpd'"},
      {"* ZEPLO\nA VER 2\nA PRI 1", 2208, "Expected message at line 3 of file 'in.zpd'"},
      {"* ZEPLO\nN\n\nQ 41\n", 2208, "Expected message at line 4 of file 'in.zpd'"},
      {"* ZEPLO\nN\nX 414  <AA>\n", 2208, "Badly formed HEX string on line 3 of file 'in.zpd'"},
      {"* ZEPLO\nA MSI 4G\nX 41\n", 2208, "Badly formed HEX string on line 2 of file 'in.zpd'"},
      {"* ZEPLO\nN\nS \"abc\n", 2208,
       "Invalid string line - no terminating \" symbol on line 3 of file 'in.zpd'"},
      {"* ZEPLO\nN\nS \"abc~\n", 2208,
       "Invalid string line - no terminating \" symbol on line 3 of file 'in.zpd'"},
      {"* ZEPLO\nN\nS \"a~b\"\n", 2208, "Unexpected escape sequence on line 3 of file 'in.zpd'"},
      {"* ZEPLO\nN\nX 41\n\nN\nX 42\n* c\n\nN\nS \"~x\"\n", 2208,
       "Unexpected escape sequence on line 10 of file 'in.zpd'"},
  };
  for (const auto& c : cases) {
    Reader r(c.text);
    bool listing, empty, eof = false;
    int rc = PrepareMessageFile(r.opts.get(), &listing, &empty);
    for (int n = 0; rc == 0 && !eof && n < 5; ++n) rc = r.Next(&eof);
    EXPECT_EQ(c.rc, rc) << c.message;
    EXPECT_STREQ(c.message, r.opts->ExitMessage);
    EXPECT_EQ(0, r.opts->Message.DataLength) << c.message;
  }
}

TEST(MessageFileReaderTest, InternalFaultsGiveTheirTexts) {
  TestRun opts{};
  std::snprintf(opts.Files.CurrentInputFile, sizeof(opts.Files.CurrentInputFile), "odd.zpd");
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
  std::string trace = testing::internal::GetCapturedStderr();
  const char* expected[] = {"Allocating 1024 bytes\nAllocation success 0x", "Allocating 2048 bytes\n",
                            "Freeing 0x", "Allocating 8192 bytes\n"};
  size_t at = 0;
  for (const char* e : expected) {
    at = trace.find(e, at);
    ASSERT_NE(std::string::npos, at) << e << " in\n" << trace;
  }
  EXPECT_EQ(nullptr, r.opts->Files.InputLines);
}

TEST(MessageFileReaderTest, KeysAndLongNamesFindTheirRowsAndNothingElse) {
  // Every three letters, upper case, then the keys with one letter
  // lowered: exactly the table's keys are found, each to its own row.
  int found = 0;
  char key[4] = {};
  for (key[0] = 'A'; key[0] <= 'Z'; ++key[0]) {
    for (key[1] = 'A'; key[1] <= 'Z'; ++key[1]) {
      for (key[2] = 'A'; key[2] <= 'Z'; ++key[2]) {
        const MessageAttribute* row = FindAttributeByKey(key);
        if (row == nullptr) continue;
        ++found;
        EXPECT_STREQ(key, row->Key);
      }
    }
  }
  int keyed = 0;
  for (int32_t i = 0; i < MessageAttributeCount; ++i) {
    const MessageAttribute& row = MessageAttributeTable[i];
    if (row.Key[0] == '\0') continue;
    ++keyed;
    EXPECT_EQ(&row, FindAttributeByKey(row.Key));
    for (int at = 0; at < 3; ++at) {
      std::string lowered = row.Key;
      lowered[at] = static_cast<char>(lowered[at] | 0x20);
      EXPECT_EQ(nullptr, FindAttributeByKey(lowered.c_str())) << lowered;
    }
  }
  EXPECT_EQ(keyed, found);
  EXPECT_EQ(37, keyed);
  const char odd[] = {'\0', '\0', '\0', 'x'};
  EXPECT_EQ(nullptr, FindAttributeByKey(odd));
  EXPECT_EQ(nullptr, FindAttributeByKey(nullptr));

  const struct {
    std::string name;
    const char* row;  // key of the row found, "" for StrucId, null for none
  } names[] = {
      {"MsgId", "MSI"},     {"ApplIdentityData", "AID"}, {"StrucId", ""},   {"MsgI", nullptr},
      {"MsgIdX", nullptr},  {"msgid", nullptr},          {"", nullptr},
      {std::string("MsgId\0", 6), nullptr},
  };
  for (const auto& n : names) {
    const MessageAttribute* row = FindAttributeByLongName(n.name.data(), n.name.size());
    if (n.row == nullptr) {
      EXPECT_EQ(nullptr, row) << n.name;
    } else {
      ASSERT_NE(nullptr, row) << n.name;
      EXPECT_STREQ(n.row, row->Key);
    }
  }
}

TEST(MessageFileReaderTest, HexRunsStopAtTheFirstPairThatIsNotOne) {
  // 20 pairs with one spoilt at `at`: decoding stops there whichever place
  // it has in a group of eight, and the bytes behind it are left alone.
  const std::string digits = "000102030405060708090A0B0C0D0E0F10111213";
  const struct {
    int at;           // pair spoilt, -1 for none
    const char* bad;  // its two characters
    int64_t limit;
    int64_t count;
    int rc;
  } cases[] = {
      {-1, "", -1, 20, 0},   {0, "x0", -1, 0, 0},     {7, "0x", -1, 7, 2208},
      {8, "  ", -1, 8, 0},   {9, "G0", -1, 9, 0},     {15, "0-", -1, 15, 2208},
      {16, "--", -1, 16, 0}, {19, "0g", -1, 19, 2208}, {-1, "", 8, 8, 0},
      {-1, "", 9, 9, 0},     {-1, "", 0, 0, 0},       {12, "zz", 12, 12, 0},
      {12, "zz", 15, 12, 0},
  };
  for (const auto& c : cases) {
    std::string text = digits;
    if (c.at >= 0) text.replace(static_cast<size_t>(2 * c.at), 2, c.bad);
    TestRun opts{};
    unsigned char out[24];
    std::memset(out, 0xEE, sizeof out);
    int64_t count = c.limit;
    int rc = ParseHex(&opts, text.data(), text.data() + text.size(), out, &count, false);
    SCOPED_TRACE(text + " limit " + std::to_string(c.limit));
    EXPECT_EQ(c.rc, rc);
    EXPECT_EQ(c.count, count);
    for (int64_t i = 0; i < 24; ++i) {
      EXPECT_EQ(i < count ? i : 0xEE, out[i]) << "byte " << i;
    }
  }
  // Odd digits at the end: the last one has no partner.
  TestRun opts{};
  unsigned char out[24];
  int64_t count = -1;
  const std::string odd = digits.substr(0, 33);
  EXPECT_EQ(2208, ParseHex(&opts, odd.data(), odd.data() + odd.size(), out, &count, false));
  EXPECT_EQ(16, count);
}

}  // namespace

namespace {

std::string Field(const MQMD& md, const char* key) {
  const MessageAttribute* row = FindAttributeByKey(key);
  return std::string(reinterpret_cast<const char*>(&md) + row->Offset, row->Width);
}

}  // namespace

// A text field comes back byte for byte whatever it holds: every byte
// value (the text fields hold 196 bytes: two passes) in every text field.
TEST(MessageFileReaderTest, TextFieldsComeBackExactlyWhateverTheirBytes) {
  const std::string data = "d";
  for (int at : {0, 128}) {
    MQMD md = FullDescriptor(2);
    for (int32_t i = 0; i < MessageAttributeCount; ++i) {
      const MessageAttribute& row = MessageAttributeTable[i];
      for (int j = 0; row.Kind == kAttributeText && row.Key[0] != '\0' && j < row.Width; ++j) {
        reinterpret_cast<char*>(&md)[row.Offset + j] = static_cast<char>(at++);
      }
    }
    for (bool asChar : {false, true}) {
      Reader r(
          WriteFile([asChar](TestRun* o) { o->Parsed.ApplDataAsChar = asChar; }, md, &data, 1));
      EXPECT_EQ("d", r.All());
      EXPECT_EQ(0, std::memcmp(&md, &r.last, sizeof md)) << at << asChar;
    }
  }
  // A name as C programs fill it keeps its plain line, and its NULs.
  MQMD md = FullDescriptor(2);
  std::memcpy(md.ReplyToQ, (std::string("REPLY.Q") + std::string(41, '\0')).data(), 48);
  std::string file = WriteFile([](TestRun*) {}, md, &data, 1);
  EXPECT_NE(std::string::npos, file.find("\nA RTQ REPLY.Q\n"));
  Reader r(file);
  r.All();
  EXPECT_EQ(0, std::memcmp(md.ReplyToQ, r.last.ReplyToQ, 48));
}

TEST(MessageFileReaderTest, AFileCutAtAnyByteIsRefused) {
  const std::string data[] = {"first", Bytes(60, 1), ""};
  for (const LayoutCase& c : kLayouts) {
    if (c.name[2] == 'w') continue;  // long lines: slow and no news
    std::string whole = WriteFile(c.apply, FullDescriptor(2), data, 3);
    EXPECT_EQ(data[0] + "|" + data[1] + "|", Reader(whole).All()) << c.name;
    for (size_t cut = 1; cut < whole.size(); ++cut) {
      std::string got = Reader(whole.substr(0, cut)).All();
      ASSERT_EQ('!', got.empty() ? '-' : got.back()) << c.name << " cut at " << cut;
    }
  }
  // What the refusals say: in a message, and before the end line.
  std::string whole = WriteFile([](TestRun*) {}, FullDescriptor(1), data, 3);
  const struct {
    size_t cut;
    const char* message;
  } cases[] = {
      {whole.find("\nX 01") + 1, "File 'in.zpd' is cut short on line 51: message 2 is incomplete"},
      {whole.size() - 1, "File 'in.zpd' is cut short after message 3: its end line is missing"},
  };
  for (const auto& c : cases) {
    Reader r(whole.substr(0, c.cut));
    r.All();
    EXPECT_STREQ(c.message, r.opts->ExitMessage) << c.cut;
  }
}

// Files of earlier versions: no end line, and text values shorter than
// their field blank-padded. A marked file's end line must be its last.
TEST(MessageFileReaderTest, OlderFilesLoadAsTheyAlwaysHave) {
  Reader old(FileText(std::string(ZEPLO_SOURCE_DIR) + "/tests/data/files/older/hex.zpd"));
  old.All();
  EXPECT_EQ(3, old.count) << old.opts->ExitMessage;
  EXPECT_EQ("REPLY.Q" + std::string(41, ' '), Field(old.last, "RTQ"));
  Reader joined("* ZEPLO Version:9.1.1 Created:x Format:2\nN\nX 41\n* ZEPLO End\nN\nX 42\n");
  EXPECT_EQ("A!", joined.All());
}
