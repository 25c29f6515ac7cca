// The recovery log: which calls are logged, in what records, at which
// LSNs; the formatter's text, column by column; and dmpmqlog's options.
#include <cstdio>

#include "localqm/log/log.h"
#include "tests/localqm/lqm_test_util.h"

namespace {

int32_t IntAt(const std::vector<unsigned char>& data, size_t offset) {
  int32_t v;
  memcpy(&v, data.data() + offset, 4);
  return v;
}

class RecoveryLogTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    setenv("LOCALQM_LOG_PIECE", "100", 1);
    CreateQmgr("QM1", true);
    LqmQueue q;
    LqmQueueDefaults(&q, "Q");
    q.DefPersistence = MQPER_PERSISTENT;  // "as the queue says" is logged too
    q.MaxDepth = 5;
    DefineQueue("QM1", q);
    DefineLocal("QM1", "QN");
  }
  void TearDown() override {
    unsetenv("LOCALQM_LOG_PIECE");
    LqmTest::TearDown();
  }
  std::vector<LqmLogRecord> Records(int64_t from = 0, int64_t to = INT64_MAX) {
    std::vector<LqmLogRecord> out;
    EXPECT_EQ(0, LqmLogRead((root_ + "/QM1").c_str(), from, to,
                            [&](const LqmLogRecord& r) { out.push_back(r); }));
    return out;
  }
};

std::string Bytes(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>(i * 13 + 1);
  return s;
}

TEST_F(RecoveryLogTest, PersistentPutsGetsAndCommitsAreLoggedAtGrowingLsns) {
  MQHCONN hconn;
  MQHOBJ q, qn;
  ASSERT_EQ(0, Connect("QM1", &hconn));
  ASSERT_EQ(0, Open(hconn, "Q", MQOO_OUTPUT | MQOO_INPUT_SHARED, &q));
  ASSERT_EQ(0, Open(hconn, "QN", MQOO_OUTPUT, &qn));
  MQMD mds[4];
  MQMD* md = mds;
  for (size_t size : {0, 100, 101, 350}) ASSERT_EQ(0, Put(hconn, q, Bytes(size), 0, md++));
  ASSERT_EQ(0, Put(hconn, qn, "not persistent"));
  ASSERT_EQ(0, Put(hconn, q, "unit", MQPMO_SYNCPOINT));
  ASSERT_EQ(0, EndUnit(hconn, true));
  std::string data;
  ASSERT_EQ(0, Get(hconn, q, &data));
  ASSERT_EQ(0, Put(hconn, q, "fills the queue"));
  ASSERT_EQ(MQRC_Q_FULL, Put(hconn, q, "refused: not logged"));
  MQDISC(&hconn, nullptr, nullptr);

  std::vector<LqmLogRecord> records = Records();
  std::string kinds;
  for (const LqmLogRecord& r : records) kinds += "MPGC"[r.Kind - 1];
  EXPECT_EQ("MMPMPPPMMCGM", kinds);
  int64_t lsn = kLogFirstLsn;
  for (const LqmLogRecord& r : records) {
    EXPECT_EQ(lsn, r.Lsn);  // each record starts where the one before ended
    lsn = r.Lsn + kLogRecordOverhead + static_cast<int64_t>(r.Data.size());
  }
  // The 350-byte message: its piece, then the parts oldest first, each
  // linked to the one before; the message links to the newest part.
  const LqmLogRecord& message = records[7];
  for (int i = 5; i <= 7; ++i) EXPECT_EQ(records[i - 1].Lsn, records[i].PrevLsn) << i;
  EXPECT_EQ(0, records[4].PrevLsn);
  std::string joined(message.Data.begin() + kMqLogFixedBytes, message.Data.end());
  for (int i = 4; i <= 6; ++i) {
    EXPECT_EQ(0, memcmp(records[i].Data.data(), "AQPX", 4));
    joined.append(records[i].Data.begin() + kLogPartPrefixBytes, records[i].Data.end());
  }
  EXPECT_EQ(Bytes(350), joined);
  EXPECT_EQ(kMqLogHeaderVersion, IntAt(message.Data, kMqLogVersionOffset));
  EXPECT_EQ(350, IntAt(message.Data, kMqLogTotalLengthOffset));
  EXPECT_EQ(0, memcmp(message.Data.data() + kMqLogMsgIdOffset, mds[3].MsgId, 24));
  EXPECT_EQ(0, memcmp(message.Data.data() + kMqLogHeaderBytes, "MD  ", 4));
  EXPECT_EQ(0, memcmp(records[10].Data.data(), mds[0].MsgId, 24));  // the get took the first
  EXPECT_EQ(2u, Records(records[1].Lsn, records[2].Lsn).size());
}

TEST_F(RecoveryLogTest, FormatterTextHasEveryFieldAtItsColumn) {
  MQMD md = {MQMD_DEFAULT};
  md.Persistence = MQPER_PERSISTENT;
  std::vector<LqmLogRecord> records;
  LqmLogPutRecords("APP.IN", &md, Bytes(120).data(), 120, 100, 70000, 0, &records);
  ASSERT_EQ(2u, records.size());
  for (const LqmLogRecord& r : records) {
    std::string text;
    LqmLogFormatRecord(r, &text);
    const size_t lengthColon = r.Kind == kLogPutPart ? kLogPartLengthColon : kLogMessageLengthColon;
    std::vector<unsigned char> dumped;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
      std::string line = text.substr(at, end - at);
      if (line.rfind("LOG RECORD", 0) == 0) {
        EXPECT_EQ(kLogLsnColumn, line.find('<')) << line;
      }
      for (const char* label : {"LogRecdType", "QueueName", "PrevLSN", "Data.Locn", "Data  ."}) {
        if (line.rfind(label, 0) == 0) {
          EXPECT_EQ(kLogLabelColon, line.find(':')) << line;
        }
      }
      if (line.rfind("PrevLSN", 0) == 0) {
        EXPECT_EQ(r.Kind == kLogPutPart ? "<0:0:0:0>" : "<0:0:1:4464>",
                  line.substr(kLogValueColumn));
      }
      if (line.rfind("Data.Locn", 0) == 0) {
        EXPECT_EQ(':', line.at(lengthColon)) << line;
        EXPECT_EQ(std::to_string(r.Data.size()), line.substr(lengthColon + 2)) << line;
      }
      if (line.size() > 5 && line[5] == ':') {  // dump: byte k at 8 + 3k
        for (size_t k = 0; k < 16 && 8 + 3 * k + 1 < line.size() && line[8 + 3 * k] != ' '; ++k)
          dumped.push_back(
              static_cast<unsigned char>(std::stoi(line.substr(8 + 3 * k, 2), nullptr, 16)));
      }
    }
    EXPECT_EQ(r.Data, dumped);
  }
  std::string dump;
  std::vector<unsigned char> large(100001, 0x41);
  LqmLogFormatDump(large.data(), large.size(), &dump);
  EXPECT_NE(std::string::npos, dump.find("\n100000:  41   ")) << dump.substr(dump.size() - 70);
  EXPECT_EQ(0u, dump.find("000000:  41 41 "));  // one width for the whole dump

  struct LsnCase {
    const char* Text;
    int64_t Lsn;  // -1: refused
  } lsns[] = {{"<1:2:3:4>", 0x0001000200030004}, {"0:0:1:4464", 70000}, {"1:2:3", -1},
              {"1:2:3:65536", -1}, {"1:2:3:4x", -1}};
  for (const LsnCase& c : lsns) {
    int64_t lsn = -1;
    EXPECT_EQ(c.Lsn >= 0, LqmLogParseLsn(c.Text, &lsn)) << c.Text;
    if (c.Lsn < 0) continue;
    EXPECT_EQ(c.Lsn, lsn) << c.Text;
    char back[32];
    LqmLogFormatLsn(lsn, back, sizeof back);
    EXPECT_EQ(std::string(c.Text[0] == '<' ? "1:2:3:4" : c.Text), back);
  }
}

TEST_F(RecoveryLogTest, DmpmqlogPrintsTheRangeAskedForAndRefusesWhatItCannotRead) {
  WithStore("QM1", [](LqmStore* s) {
    MQMD md = {MQMD_DEFAULT};
    md.Persistence = MQPER_PERSISTENT;
    int rc = 0;
    for (int i = 0; i < 3 && rc == 0; ++i) rc = LqmMsgInsert(s, "Q", &md, "abc", 3, -1, false);
    return rc;
  });
  std::vector<LqmLogRecord> records = Records();
  ASSERT_EQ(3u, records.size());
  char second[32];
  LqmLogFormatLsn(records[1].Lsn, second, sizeof second);
  struct Case {
    std::string Args;
    int Exit;
    int Records;
    const char* Text;
  } cases[] = {
      {"-m QM1 -b", 0, 3, "AMQ7702: DMPMQLOG command has finished successfully.\n"},
      {"", 0, 3, "QueueManager . . : \n"},  // the default queue manager
      {std::string("-m QM1 -s ") + second, 0, 2, "AMQ7714:"},
      {std::string("-m QM1 -s 0:0:0:0 -e '<") + second + ">'", 0, 2, "AMQ7714:"},
      {"-f " + root_ + "/QM1", 0, 3, "LogDirectory . . : "},
      {"-f QM1", 1, 0, "AMQ7703: DMPMQLOG command has used an incorrect parameter: -f 'QM1'"},
      {"-f " + root_, 1, 0, "AMQ7713:"},
      {"-m NOPE", 1, 0, "AMQ8118: Queue manager 'NOPE' does not exist.\n"},
      {"-b -s 0:0:0:1", 1, 0, "AMQ7703:"},
      {"-n 1", 1, 0, "AMQ7703:"},
      {"-s 1:2", 1, 0, "AMQ7703:"},
  };
  for (const Case& c : cases) {
    ToolRun run = RunCommand(std::string(ZEPLO_BUILD_DIR) + "/mqinst/bin/dmpmqlog " + c.Args);
    const std::string& out = run.out;
    EXPECT_EQ(c.Exit, run.status) << c.Args << "\n" << out << run.err;
    int count = 0;
    for (size_t at = 0; (at = out.find("LOG RECORD - LSN", at)) != std::string::npos; ++at) count++;
    EXPECT_EQ(c.Records, count) << c.Args;
    EXPECT_NE(std::string::npos, out.find(c.Text)) << c.Args << "\n" << out;
    if (c.Exit == 0) {
      EXPECT_EQ(0u, out.find("AMQ7701: DMPMQLOG command is starting.\n")) << c.Args;
    }
  }
}

}  // namespace
