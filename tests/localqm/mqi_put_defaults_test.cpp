// What MQPUT and MQPUT1 check on the caller's behalf: message type,
// feedback and report options, the put application name, and the PCF
// header check.
#include <pwd.h>

#include "tests/localqm/mqi_test_util.h"

namespace {

class PutDefaultsTest : public MqiTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    Start(MQOO_INPUT_SHARED | MQOO_OUTPUT);
  }
  void TearDown() override {
    unsetenv("MQAPPLNAME");
    MqiTest::TearDown();
  }
  // Puts md with MQPUT (put1 false) or MQPUT1 to Q1; the reason.
  MQLONG PutTo(bool put1, MQMD* md, const std::string& data) {
    return put1 ? Put1(h_, "Q1", md, data) : PutMd(h_, q1_, md, data);
  }
};

TEST_F(PutDefaultsTest, TypeFeedbackAndReportsAreChecked) {
  const MQLONG D = MQMT_DATAGRAM, NO_REPLY_Q = MQRC_MISSING_REPLY_TO_Q, F0 = MQFB_NONE;
  struct Case { const char* what; MQLONG msgType, reason, feedback = MQFB_NONE, report = MQRO_NONE;
      const char* replyToQ = ""; } cases[] = {
      {"datagram", D, 0},
      {"type 0", 0, MQRC_MSG_TYPE_ERROR},
      {"negative type", -8, MQRC_MSG_TYPE_ERROR},
      {"application type", MQMT_APPL_FIRST, 0},
      {"beyond the application range", MQMT_APPL_LAST + 1, MQRC_MSG_TYPE_ERROR},
      {"report with system feedback", MQMT_REPORT, 0, MQFB_COA},
      {"application feedback", D, 0, MQFB_APPL_LAST},
      {"negative feedback", D, MQRC_FEEDBACK_ERROR, -1},
      {"request without reply queue", MQMT_REQUEST, NO_REPLY_Q},
      {"request", MQMT_REQUEST, 0, F0, MQRO_NONE, "RQ"},
      {"COA without reply queue", D, NO_REPLY_Q, F0, MQRO_COA},
      {"exception, blank reply queue", D, NO_REPLY_Q, F0, MQRO_EXCEPTION_WITH_DATA, " "},
      {"NAN without reply queue", D, NO_REPLY_Q, F0, MQRO_NAN},
      {"COD with reply queue", D, 0, F0, MQRO_COD, "RQ"},
      // Identifier and disposal options ask for no report.
      {"identifiers only", D, 0, F0, MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID | MQRO_DISCARD_MSG},
  };
  MQLONG accepted = 0;
  for (const Case& c : cases) for (bool put1 : {false, true}) {
    MQMD md = {MQMD_DEFAULT};
    md.MsgType = c.msgType;
    md.Feedback = c.feedback;
    md.Report = c.report;
    SetMqField(md.ReplyToQ, c.replyToQ);
    EXPECT_EQ(c.reason, PutTo(put1, &md, "t")) << c.what << (put1 ? " (MQPUT1)" : "");
    accepted += c.reason == 0 ? 1 : 0;
  }
  EXPECT_EQ(accepted, Depth("QM1", "Q1"));
}

TEST_F(PutDefaultsTest, PutApplNameFollowsTheApplicationsChoice) {
  // The test process's own name as Linux keeps it: 15 characters at most.
  const std::string comm = std::string(program_invocation_short_name).substr(0, 15);
  // env: MQAPPLNAME, null for unset; cnoName: the ApplName of a version-7
  // MQCNO, null for a version-5 one.
  struct Case { const char *env, *cnoName; std::string expected; } cases[] = {
      {nullptr, nullptr, comm},
      {"   ", nullptr, comm},  // blank counts as not set
      {"payroll nightly", nullptr, "payroll nightly"},
      {"a-name-that-is-longer-than-twenty-eight", nullptr, "a-name-that-is-longer-than-t"},
      {"payroll", "from the MQCNO", "from the MQCNO"},
  };
  Disconnect(&h_);
  for (const Case& c : cases) {
    (void)(c.env != nullptr ? setenv("MQAPPLNAME", c.env, 1) : unsetenv("MQAPPLNAME"));
    MQCNO cno = {MQCNO_DEFAULT};
    cno.Version = c.cnoName != nullptr ? 7 : 5;
    if (c.cnoName != nullptr) memcpy(cno.ApplName, (c.cnoName + std::string(28, ' ')).data(), 28);
    MQLONG cc, reason;
    MQCONNX(const_cast<char*>("QM1"), &cno, &h_, &cc, &reason);
    ASSERT_EQ(0, reason);
    MQMD md = {MQMD_DEFAULT};
    ASSERT_EQ(0, PutTo(true, &md, "n"));
    EXPECT_EQ((c.expected + std::string(28, ' ')).substr(0, 28), std::string(md.PutApplName, 28))
        << (c.env ? c.env : "(unset)");
    Disconnect(&h_);
  }
}

// An MQCFH (36 bytes) with the given fields, in the byte order the
// encoding names.
std::string Cfh(MQLONG version, MQLONG strucLength, bool bigEndian) {
  std::string out;
  for (MQLONG v : {MQCFT_COMMAND, strucLength, version, MQCMD_INQUIRE_Q, 1, MQCFC_LAST, 0, 0, 0})
    for (int i = 0; i < 4; i++)
      out += static_cast<char>(static_cast<uint32_t>(v) >> (bigEndian ? 24 - 8 * i : 8 * i));
  return out;
}

TEST_F(PutDefaultsTest, OldPcfHeadersAreRefusedInVersionTwoDescriptors) {
  // Headers that zeplo itself moves (old, current, from the future, under a
  // version-1 descriptor) are tried through the program; these are the rest.
  const std::string v1 = Cfh(1, 36, false), v2 = Cfh(2, 36, false), v3 = Cfh(3, 36, false);
  const MQLONG BIG = 273, E = MQRC_CFH_ERROR;  // BIG: integers big-endian
  struct Case { const char* what; MQLONG minVersion; std::string data; MQLONG reason;
      bool put1 = false; const char* format = MQFMT_ADMIN;
      MQLONG encoding = MQENC_NATIVE, mdVersion = 2; } cases[] = {
      {"accepting all, not even a header", 0, "AB", 0},
      {"old header by MQPUT1", 3, v2, E, true},
      {"old header as MQEVENT", 2, v1, E, false, MQFMT_EVENT},
      {"new enough", 2, v2, 0},
      {"current", 3, v3 + "params", 0, true},
      {"big-endian current", 3, Cfh(3, 36, true), 0, false, MQFMT_ADMIN, BIG},
      {"big-endian old", 3, Cfh(1, 36, true), E, false, MQFMT_ADMIN, BIG},
      // Read in the wrong order, version 3 would be 0x03000000.
      {"order from the encoding", 3, v3, E, false, MQFMT_ADMIN, BIG},
      {"bad StrucLength", 2, Cfh(3, 40, false), E},
      {"shorter than a header", 2, v3.substr(0, 35), E},
      {"empty", 2, "", E, true},
      {"not a PCF format", 3, v1, 0, false, MQFMT_STRING},
      {"version-1 descriptor by MQPUT1", 3, "AB", 0, true, MQFMT_ADMIN, MQENC_NATIVE, 1},
  };
  MQLONG accepted = 0;
  for (const Case& c : cases) {
    EditQmgr("QM1", [&c](LqmQmgr* q) { q->MinCfhVersion = c.minVersion; });
    MQMD md = {MQMD_DEFAULT};
    md.Version = c.mdVersion;
    md.Encoding = c.encoding;
    memcpy(md.Format, c.format, 8);
    EXPECT_EQ(c.reason, PutTo(c.put1, &md, c.data)) << c.what;
    accepted += c.reason == 0 ? 1 : 0;
  }
  // A refused put leaves nothing behind.
  EXPECT_EQ(Depth("QM1", "Q1"), accepted);
}

}  // namespace
