// Whole files of every layout against the fixtures in tests/data/files/.
// The fixtures pin the on-disk format: a change to any line of any layout
// shows up here, and the reader's tests load the same files.
// ZEPLO_REGENERATE_FIXTURES=1 rewrites them (review the diff before use).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <regex>
#include <string>

#include "zeplo/files/files.h"

namespace {

const char kFixedFirstLine[] = "* ZEPLO Version:9.1.1 Created:Sat Dec  5 17:44:17 2026\n";

struct Fixture {
  const char* file;
  void (*apply)(RunOptions*);
};

const Fixture kFixtures[] = {
    {"hex.zpd", [](RunOptions*) {}},
    {"hex_columns.zpd", [](RunOptions* o) { o->AsciiColumns = true; }},
    {"ascii.zpd", [](RunOptions* o) { o->AsciiLines = true; }},
    {"ascii_columns.zpd", [](RunOptions* o) { o->AsciiLines = o->AsciiColumns = true; }},
    {"printable.zpd", [](RunOptions* o) { o->Printable = true; }},
    {"printable_width10.zpd", [](RunOptions* o) { o->Printable = true; o->DataWidth = 10; }},
    {"text.zpd", [](RunOptions* o) { o->TextLines = true; }},
    {"raw_no_mqmd.zpd", [](RunOptions* o) { o->RawBytes = o->NoMqmd = true; }},
    {"no_mqmd.zpd", [](RunOptions* o) { o->NoMqmd = true; }},
    {"index_char.zpd", [](RunOptions* o) { o->WriteIndex = o->ApplDataAsChar = true; }},
    {"time_on_queue.zpd", [](RunOptions* o) { o->ShowTimeOnQueue = true; }},
};

void Descriptor(MQMD* md, int32_t version, int seed) {
  std::memset(md, 0, sizeof(*md));
  std::memcpy(md->StrucId, "MD  ", 4);
  md->Version = version;
  md->MsgType = 8;
  md->Expiry = -1;
  md->Encoding = 546;
  md->CodedCharSetId = 819;
  std::memcpy(md->Format, seed == 0 ? "MQSTR   " : "        ", 8);
  md->Priority = seed;
  md->Persistence = 1;
  for (int i = 0; i < 24; ++i) md->MsgId[i] = static_cast<MQBYTE>(0x41 + seed + i);
  std::memcpy(md->ReplyToQ, "REPLY.Q", 7);
  std::memset(md->ReplyToQMgr, ' ', 48);
  std::memcpy(md->UserIdentifier, "mqm         ", 12);
  md->AccountingToken[0] = 0x16;
  std::memcpy(md->ApplIdentityData, "id\"~", 4);
  md->PutApplType = 6;
  std::memcpy(md->PutApplName, "zeplo-fixture", 13);
  std::memcpy(md->PutDate, "20261205", 8);
  std::memcpy(md->PutTime, "1744170", 7);
  md->PutTime[7] = static_cast<char>('0' + seed);
  std::memcpy(md->ApplOriginData, "ORIG", 4);
  md->MsgSeqNumber = 1;
  md->OriginalLength = -1;
}

std::string Messages(int i) {
  switch (i) {
    case 0: {
      static const char kText[] = "Hello, \"world\" ~ 100%\r\nline two\n\x00\x01\xff";
      return std::string(kText, sizeof(kText) - 1);
    }
    case 1: return "";
    default: {
      std::string all;
      for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
      return all;
    }
  }
}

std::string WriteFixture(const Fixture& f) {
  auto opts = std::make_unique<RunOptions>();
  f.apply(opts.get());
  opts->OutputStream = std::tmpfile();
  std::snprintf(opts->Qmgrs[0].Name, sizeof(opts->Qmgrs[0].Name), "QM1");
  opts->CreatedTime = 1;
  opts->NowSeconds = 1796492657 + 90061;  // a day, an hour, a minute, a second later
  EXPECT_EQ(0, WriteFileHeader(opts.get(), "Q1"));
  for (int i = 0; i < 3; ++i) {
    std::string data = Messages(i);
    MessageBuffer& m = opts->Message;
    Descriptor(&m.OwnDescriptor, i == 1 ? 1 : 2, i);
    m.Descriptor = &m.OwnDescriptor;
    m.Storage = reinterpret_cast<unsigned char*>(data.data());
    m.Cursor = m.Storage;
    m.Capacity = m.DataLength = static_cast<int32_t>(data.size());
    opts->MessageIndex = i + 1;
    opts->SelectedCount = i + 1;
    EXPECT_EQ(0, WriteMessage(opts.get()));
  }
  std::string text;
  std::rewind(opts->OutputStream);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), opts->OutputStream)) > 0) text.append(buf, n);
  std::fclose(opts->OutputStream);
  // The Created time is local time: pin it to the fixtures' line.
  size_t end = text.find('\n');
  EXPECT_TRUE(std::regex_match(text.substr(0, end + 1),
                               std::regex("\\* ZEPLO Version:9\\.1\\.1 Created:.{24}\n")));
  return kFixedFirstLine + text.substr(end + 1);
}

TEST(LayoutFixturesTest, EveryLayoutMatchesItsFixture) {
  bool regenerate = std::getenv("ZEPLO_REGENERATE_FIXTURES") != nullptr;
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.file);
    std::string path = std::string(ZEPLO_SOURCE_DIR) + "/tests/data/files/" + f.file;
    std::string written = WriteFixture(f);
    if (regenerate) {
      std::FILE* out = std::fopen(path.c_str(), "wb");
      ASSERT_NE(nullptr, out);
      std::fwrite(written.data(), 1, written.size(), out);
      std::fclose(out);
    }
    std::FILE* in = std::fopen(path.c_str(), "rb");
    ASSERT_NE(nullptr, in) << path;
    std::string expected;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), in)) > 0) expected.append(buf, n);
    std::fclose(in);
    EXPECT_TRUE(expected == written) << "first difference at byte "
                                     << std::mismatch(expected.begin(), expected.end(),
                                                      written.begin(), written.end())
                                                .first - expected.begin();
  }
}

}  // namespace
