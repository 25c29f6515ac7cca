// What MQPUT and MQPUT1 check on the caller's behalf: message type,
// feedback and report options, the put application name, and the PCF
// header check.
#include <pwd.h>

#include "tests/localqm/lqm_test_util.h"

namespace {

class PutDefaultsTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    CreateQmgr("QM1", true);
    CreateQmgr("QM2");
    DefineLocal("QM1", "Q1");
    DefineLocal("QM2", "FAR");
    ASSERT_EQ(Connect("QM1", &h_), 0);
    ASSERT_EQ(Open(h_, "Q1", MQOO_INPUT_SHARED | MQOO_OUTPUT, &q1_), 0);
  }
  void TearDown() override {
    if (h_ != MQHC_UNUSABLE_HCONN) Disconnect(&h_);
    unsetenv("MQAPPLNAME");
    LqmTest::TearDown();
  }
  // Puts md with MQPUT (put1 false) or MQPUT1 to Q1; the reason.
  MQLONG PutTo(bool put1, MQMD* md, const std::string& data, MQLONG pmoOptions = 0) {
    if (!put1) return PutMd(h_, q1_, md, data, pmoOptions);
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Options = pmoOptions;
    MQOD od = {MQOD_DEFAULT};
    SetMqField(od.ObjectName, "Q1");
    MQLONG cc, reason;
    MQPUT1(h_, &od, md, &pmo, static_cast<MQLONG>(data.size()), const_cast<char*>(data.data()),
           &cc, &reason);
    return CheckCc(cc, reason);
  }
  static void SetMinCfhVersion(MQLONG version) {
    EditQmgr("QM1", [version](LqmQmgr* q) { q->MinCfhVersion = version; });
  }
  MQHCONN h_ = MQHC_UNUSABLE_HCONN;
  MQHOBJ q1_ = MQHO_UNUSABLE_HOBJ;
};

TEST_F(PutDefaultsTest, TypeFeedbackAndReportsAreChecked) {
  const MQLONG D = MQMT_DATAGRAM, NO_REPLY_Q = MQRC_MISSING_REPLY_TO_Q;
  struct Case {
    const char* what;
    MQLONG msgType, reason, feedback = MQFB_NONE, report = MQRO_NONE;
    const char* replyToQ = "";
  } cases[] = {
      {"datagram", D, 0},
      {"type 0", 0, MQRC_MSG_TYPE_ERROR},
      {"negative type", -8, MQRC_MSG_TYPE_ERROR},
      {"application type", MQMT_APPL_FIRST, 0},
      {"beyond the application range", MQMT_APPL_LAST + 1, MQRC_MSG_TYPE_ERROR},
      {"report with system feedback", MQMT_REPORT, 0, MQFB_COA},
      {"application feedback", D, 0, MQFB_APPL_LAST},
      {"negative feedback", D, MQRC_FEEDBACK_ERROR, -1},
      {"request without reply queue", MQMT_REQUEST, NO_REPLY_Q},
      {"request", MQMT_REQUEST, 0, MQFB_NONE, MQRO_NONE, "RQ"},
      {"COA without reply queue", D, NO_REPLY_Q, MQFB_NONE, MQRO_COA},
      {"exception with data, blank reply queue", D, NO_REPLY_Q, MQFB_NONE,
       MQRO_EXCEPTION_WITH_DATA, " "},
      {"NAN without reply queue", D, NO_REPLY_Q, MQFB_NONE, MQRO_NAN},
      {"COD with reply queue", D, 0, MQFB_NONE, MQRO_COD, "RQ"},
      // Identifier and disposal options ask for no report.
      {"identifier options only", D, 0, MQFB_NONE,
       MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID | MQRO_DISCARD_MSG},
  };
  MQLONG accepted = 0;
  for (const Case& c : cases) {
    for (bool put1 : {false, true}) {
      MQMD md = {MQMD_DEFAULT};
      md.MsgType = c.msgType;
      md.Feedback = c.feedback;
      md.Report = c.report;
      SetMqField(md.ReplyToQ, c.replyToQ);
      EXPECT_EQ(PutTo(put1, &md, "t"), c.reason) << c.what << (put1 ? " (MQPUT1)" : "");
      if (c.reason == 0) accepted++;
    }
  }
  EXPECT_EQ(Depth("QM1", "Q1"), accepted);
}

TEST_F(PutDefaultsTest, PutApplNameFollowsTheApplicationsChoice) {
  // The test process's own name as Linux keeps it: 15 characters at most.
  const std::string comm = std::string(program_invocation_short_name).substr(0, 15);
  struct Case {
    const char* env;      // MQAPPLNAME, or null for unset
    const char* cnoName;  // MQCNO version 7 ApplName, or null for a version-5 MQCNO
    std::string expected;
  } cases[] = {
      {nullptr, nullptr, comm},
      {"   ", nullptr, comm},  // blank counts as not set
      {"payroll nightly", nullptr, "payroll nightly"},
      {"a-name-that-is-longer-than-twenty-eight", nullptr, "a-name-that-is-longer-than-t"},
      {"payroll", "from the MQCNO", "from the MQCNO"},
  };
  Disconnect(&h_);
  for (const Case& c : cases) {
    if (c.env != nullptr)
      setenv("MQAPPLNAME", c.env, 1);
    else
      unsetenv("MQAPPLNAME");
    MQCNO cno = {MQCNO_DEFAULT};
    cno.Version = c.cnoName != nullptr ? 7 : 5;
    if (c.cnoName != nullptr) {
      memset(cno.ApplName, ' ', sizeof cno.ApplName);
      memcpy(cno.ApplName, c.cnoName, strlen(c.cnoName));
    }
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
  struct Case {
    const char* what;
    MQLONG minVersion;
    MQLONG mdVersion;
    const char* format;
    MQLONG encoding;
    std::string data;
    bool put1;
    MQLONG reason;
  } cases[] = {
      {"accepting all, not even a header", 0, 2, MQFMT_ADMIN, MQENC_NATIVE, "AB", false, 0},
      {"old header by MQPUT1", 3, 2, MQFMT_ADMIN, MQENC_NATIVE, v2, true, MQRC_CFH_ERROR},
      {"old header as MQEVENT", 2, 2, MQFMT_EVENT, MQENC_NATIVE, v1, false, MQRC_CFH_ERROR},
      {"new enough", 2, 2, MQFMT_ADMIN, MQENC_NATIVE, v2, false, 0},
      {"current", 3, 2, MQFMT_ADMIN, MQENC_NATIVE, v3 + "params", true, 0},
      {"big-endian current", 3, 2, MQFMT_ADMIN, 273, Cfh(3, 36, true), false, 0},
      {"big-endian old", 3, 2, MQFMT_ADMIN, 273, Cfh(1, 36, true), false, MQRC_CFH_ERROR},
      // Read in the wrong order, version 3 would be 0x03000000.
      {"order from the encoding", 3, 2, MQFMT_ADMIN, 273, v3, false, MQRC_CFH_ERROR},
      {"bad StrucLength", 2, 2, MQFMT_ADMIN, MQENC_NATIVE, Cfh(3, 40, false), false,
       MQRC_CFH_ERROR},
      {"shorter than a header", 2, 2, MQFMT_ADMIN, MQENC_NATIVE, v3.substr(0, 35), false,
       MQRC_CFH_ERROR},
      {"empty", 2, 2, MQFMT_ADMIN, MQENC_NATIVE, "", true, MQRC_CFH_ERROR},
      {"not a PCF format", 3, 2, MQFMT_STRING, MQENC_NATIVE, v1, false, 0},
      {"version-1 descriptor by MQPUT1", 3, 1, MQFMT_ADMIN, MQENC_NATIVE, "AB", true, 0},
  };
  MQLONG accepted = 0;
  for (const Case& c : cases) {
    SetMinCfhVersion(c.minVersion);
    MQMD md = {MQMD_DEFAULT};
    md.Version = c.mdVersion;
    md.Encoding = c.encoding;
    memcpy(md.Format, c.format, 8);
    EXPECT_EQ(PutTo(c.put1, &md, c.data), c.reason) << c.what;
    if (c.reason == 0) accepted++;
  }
  // A refused put leaves nothing behind.
  EXPECT_EQ(Depth("QM1", "Q1"), accepted);
}

}  // namespace
