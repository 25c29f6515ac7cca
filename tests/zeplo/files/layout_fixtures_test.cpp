// Whole files of every layout against the fixtures in tests/data/files/,
// which pin the on-disk format (the reader's tests load the same files).
// ZEPLO_REGENERATE_FIXTURES=1 rewrites them: review the diff before use.
#include <cstring>
#include <regex>

#include "tests/zeplo/test_run.h"
#include "tests/zeplo/files/files_test_util.h"

namespace {

const struct { const char* file; void (*apply)(TestRun*); } kFixtures[] = {
    {"hex.zpd", [](TestRun*) {}},
    {"hex_columns.zpd", [](TestRun* o) { o->Parsed.AsciiColumns = true; }},
    {"ascii.zpd", [](TestRun* o) { o->Parsed.AsciiLines = true; }},
    {"ascii_columns.zpd", [](TestRun* o) { o->Parsed.AsciiLines = o->Parsed.AsciiColumns = true; }},
    {"printable.zpd", [](TestRun* o) { o->Parsed.Printable = true; }},
    {"printable_width10.zpd", [](TestRun* o) { o->Parsed.Printable = true, o->Parsed.DataWidth = 10; }},
    {"text.zpd", [](TestRun* o) { o->Parsed.TextLines = true; }},
    {"raw_no_mqmd.zpd", [](TestRun* o) { o->Parsed.RawBytes = o->Parsed.NoMqmd = true; }},
    {"no_mqmd.zpd", [](TestRun* o) { o->Parsed.NoMqmd = true; }},
    {"index_char.zpd", [](TestRun* o) { o->Parsed.WriteIndex = o->Parsed.ApplDataAsChar = true; }},
    // A listing has no index line, even when asked for one.
    {"time_on_queue.zpd", [](TestRun* o) { o->Parsed.ShowTimeOnQueue = o->Parsed.WriteIndex = true; }},
};

// Three messages: text with escapes and line ends, an empty one with a
// version-1 descriptor, and every byte value.
std::string Write(void (*apply)(TestRun*)) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  static const char kText[] = "Hello, \"world\" ~ 100%\r\nline two\n\x00\x01\xff";
  const std::string data[] = {std::string(kText, sizeof(kText) - 1), "", all};
  MQMD mds[3] = {};
  for (int i = 0; i < 3; ++i) {
    MQMD* md = &mds[i];
    std::memcpy(md->StrucId, "MD  ", 4), md->Version = i == 1 ? 1 : 2;
    md->MsgType = 8, md->Expiry = -1, md->Encoding = 546, md->CodedCharSetId = 819;
    md->Priority = i, md->Persistence = 1, md->PutApplType = 6, md->MsgSeqNumber = 1;
    md->OriginalLength = -1, md->AccountingToken[0] = 0x16;
    std::memcpy(md->Format, i == 0 ? "MQSTR   " : "        ", 8);
    for (int k = 0; k < 24; ++k) md->MsgId[k] = static_cast<MQBYTE>(0x41 + i + k);
    std::memcpy(md->ReplyToQ, "REPLY.Q", 7), std::memset(md->ReplyToQMgr, ' ', 48);
    std::memcpy(md->UserIdentifier, "mqm         ", 12);
    std::memcpy(md->ApplIdentityData, "id\"~", 4), std::memcpy(md->ApplOriginData, "ORIG", 4);
    std::memcpy(md->PutApplName, "zeplo-fixture", 13), std::memcpy(md->PutDate, "20261205", 8);
    std::memcpy(md->PutTime, "1744170", 7), md->PutTime[7] = static_cast<char>('0' + i);
  }
  auto layout = [apply](TestRun* o) {
    apply(o);
    Copy(o->Qmgrs[0].Name, "QM1");
    o->Parsed.NowSeconds = 1796492657 + 90061;  // a day, an hour, a minute, a second after the put
  };
  std::string text = WriteFile(layout, mds, data, 3);
  // The Created time is local time: pin it to the fixtures' line.
  size_t end = text.find('\n') + 1;
  EXPECT_TRUE(std::regex_match(text.substr(0, end),
                               std::regex("\\* ZEPLO Version:9\\.1\\.1 Created:.{24} Format:2\n")));
  return "* ZEPLO Version:9.1.1 Created:Sat Dec  5 17:44:17 2026 Format:2\n" + text.substr(end);
}

TEST(LayoutFixturesTest, EveryLayoutMatchesItsFixture) {
  for (const auto& f : kFixtures) {
    std::string path = std::string(ZEPLO_SOURCE_DIR) + "/tests/data/files/" + f.file;
    std::string written = Write(f.apply);
    if (std::getenv("ZEPLO_REGENERATE_FIXTURES") != nullptr) {
      std::FILE* out = std::fopen(path.c_str(), "wb");
      ASSERT_NE(nullptr, out);
      std::fwrite(written.data(), 1, written.size(), out);
      std::fclose(out);
    }
    EXPECT_EQ(FileText(path), written) << f.file;
  }
}

}  // namespace
