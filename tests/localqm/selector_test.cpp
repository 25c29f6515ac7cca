// SQL92 selectors: what parses, how each grammar form selects messages with
// known properties and descriptor fields, and the MQOPEN/MQGET behaviour of
// a selecting handle through the built library.
#include "localqm/core/selector.h"

#include "tests/localqm/lqm_test_util.h"

namespace {

// An MQRFH2 (native encoding) holding `folders`, each padded with blanks
// to a multiple of 4, followed by `body`.
std::string Rfh2(const std::vector<std::string>& folders, const std::string& body = "",
                 MQLONG ccsid = 1208) {
  std::string vars;
  for (std::string f : folders) {
    f.resize((f.size() + 3) / 4 * 4, ' ');
    MQLONG n = static_cast<MQLONG>(f.size());
    vars.append(reinterpret_cast<const char*>(&n), 4).append(f);
  }
  MQRFH2 h{};
  memcpy(h.StrucId, MQRFH_STRUC_ID, 4);
  h.Version = MQRFH_VERSION_2;
  h.StrucLength = static_cast<MQLONG>(MQRFH2_LENGTH_2 + vars.size());
  h.Encoding = MQENC_NATIVE;
  h.CodedCharSetId = MQCCSI_INHERIT;
  memcpy(h.Format, MQFMT_STRING, 8);
  h.NameValueCCSID = ccsid;
  return std::string(reinterpret_cast<const char*>(&h), MQRFH2_LENGTH_2) + vars + body;
}

MQMD Rfh2Md() {
  MQMD md = {MQMD_DEFAULT};
  md.Version = MQMD_VERSION_2;
  memcpy(md.Format, MQFMT_RF_HEADER_2, 8);
  md.Priority = 5;
  memcpy(md.PutApplName, "payroll                     ", 28);
  return md;
}

bool Selects(const std::string& selector, const std::string& data, const MQMD& md = Rfh2Md()) {
  LqmSelector sel;
  EXPECT_EQ(LqmSelectorParse(selector.data(), selector.size(), &sel), 0) << selector;
  return LqmSelectorMatches(sel, md, reinterpret_cast<const unsigned char*>(data.data()),
                            data.size());
}

TEST(SelectorParse, RefusedAndAcceptedTexts) {
  // Nesting is bounded, not a stack overflow.
  std::string chain = "a";
  for (int i = 0; i < 300; ++i) chain += " + 1";
  const struct {
    int rc;
    std::vector<std::string> texts;
  } cases[] = {
      {0,
       {"", "   ", "a = 1", "a=1 AND b<>'x' OR NOT c", "a between 1 and 2", "x IN ('a', 'b', -3)",
        "x LIKE 'a!%%' ESCAPE '!'", "x is not null", "-a * (b + 2) / 3 >= 0x1F - 017 + 2.5e1 + 7L",
        "b = \"0x0AFC23\"", "Root.MQMD.Priority > 4", "a.b.c = 'x'", "TRUE", "1 = 1"}},
      {MQRC_SELECTOR_SYNTAX_ERROR,
       {"a = 'unterminated", "a == 1", "a != 1", "a && b", "20 < b < 30", "(a = 1", "a = 1)",
        "a = ", "a = 09", "a = 12abc", "b = \"0xAFC23\"", "b = \"AF\"", "Root.MQMD.Bogus = 1",
        "Root.MQMD.StrucId = 'MD'", "a.", "'x' LIKE 'x'", "x LIKE 'a!b' ESCAPE '!'",
        "x LIKE 'a' ESCAPE 'ab'", "1 + 2", "'text'", "a + 'x' = 1", "NOT 5", "a AND 5", "NULL = a",
        "a BETWEEN 'x' AND 2", "a IN ()", "a IN (b)", "a = 99999999999999999999", "a # 1",
        std::string(300, '(') + "a = 1" + std::string(300, ')'), chain + " = 1"}},
      {MQRC_SELECTOR_ALWAYS_FALSE, {"1 = 2", "FALSE", "TRUE AND NOT TRUE", "1 / 0 = 1"}},
  };
  for (const auto& c : cases) {
    for (const std::string& text : c.texts) {
      LqmSelector sel;
      EXPECT_EQ(c.rc, LqmSelectorParse(text.data(), text.size(), &sel)) << text;
    }
  }
}

TEST(SelectorEval, EachFormAgainstKnownProperties) {
  const std::string data = Rfh2(
      {"<mcd><Msd>jms_text</Msd></mcd>",
       "<usr><region>EMEA</region><count dt='i4'>7</count><price dt='r8'>2.5</price>"
       "<urgent dt='boolean'>1</urgent><tag dt='bin.hex'>0AFC23</tag><note xsi:nil='true'/>"
       "<quote>it&apos;s &lt;ok&gt;</quote><addr><city>Paris</city></addr><empty/>"
       "<name>50% off_</name></usr>"},
      "body");
  struct {
    const char* selector;
    bool selected;
  } cases[] = {
      {"region = 'EMEA'", true}, {"region <> 'EMEA'", false}, {"region = 'emea'", false},
      {"count = 7", true}, {"count > 6 AND count < 8", true}, {"count >= 7.0", true},
      {"count * 2 - 4 = 10", true}, {"count / 2 = 3", true}, {"-count = -7", true},
      {"price = 2.5", true}, {"price * 2 = count - 2", true},
      {"count BETWEEN 7 AND 9", true}, {"count NOT BETWEEN 7 AND 9", false},
      {"region IN ('APAC', 'EMEA')", true}, {"region NOT IN ('APAC', 'EMEA')", false},
      {"count IN (1, 7)", true}, {"region LIKE 'E_E%'", true}, {"region LIKE 'E%X'", false},
      {"region NOT LIKE '%M%'", false}, {"name LIKE '50!% off!_' ESCAPE '!'", true},
      {"name LIKE '50!%' ESCAPE '!'", false}, {"urgent", true}, {"urgent = TRUE", true},
      {"NOT urgent", false}, {"tag = \"0x0AFC23\"", true}, {"tag = \"0x0AFC2300\"", false},
      {"note IS NULL", true}, {"note IS NOT NULL", false}, {"quote = 'it''s <ok>'", true},
      {"addr.city = 'Paris'", true}, {"city = 'Paris'", false}, {"empty = ''", true},
      {"Msd = 'jms_text'", false}, {"(region = 'EMEA' OR missing = 1) AND count = 7", true},
      {"region = 'EMEA' AND Root.MQMD.Priority > 4", true}, {"Root.MQMD.Priority > 5", false},
      {"Root.MQMD.PutApplName = 'payroll'", true}, {"Root.MQMD.Format = 'MQHRF2'", true},
      // Kinds that do not compare are FALSE, whatever NOT makes of it.
      {"region = 7", false}, {"NOT (region = 7)", true}, {"region > 'A'", false},
      {"count = '7'", false}, {"urgent > FALSE", false},
      // SQL's three-valued logic for a missing property.
      {"missing = 1", false}, {"NOT (missing = 1)", false}, {"missing <> 1", false},
      {"missing = 1 OR count = 7", true}, {"NOT (missing = 1 AND count = 8)", true},
      {"NOT (missing = 1 AND count = 7)", false}, {"missing IS NULL", true},
      {"NOT (missing + 1 = 2)", false}, {"missing BETWEEN 1 AND 2", false},
      {"NOT missing BETWEEN 1 AND 2", false}, {"missing IN ('a')", false},
      {"missing NOT IN ('a')", false}, {"missing LIKE '%'", false}, {"count / 0 = 1", false},
      {"NOT (count / 0 = 1)", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Selects(c.selector, data), c.selected) << c.selector;
}

TEST(SelectorEval, PropertiesOnlyFromWellFormedHeaders) {
  const std::string folder = "<usr><a>1</a></usr>";
  std::string chained = Rfh2({"<usr><b>2</b></usr>"});
  chained = Rfh2({folder}).replace(20, 8, MQFMT_RF_HEADER_2, 8) + chained;
  MQMD plain = Rfh2Md();
  memcpy(plain.Format, MQFMT_STRING, 8);
  struct {
    const char* what;
    std::string data;
    MQMD md;
    const char* selector;  // each one selects
  } cases[] = {
      {"header cut short", Rfh2({folder}).substr(0, 40), Rfh2Md(), "a IS NULL"},
      {"folder not in UTF-8", Rfh2({folder}, "", 1200), Rfh2Md(), "a IS NULL"},
      {"format not MQHRF2", Rfh2({folder}), plain, "a IS NULL"},
      {"chained headers", chained, Rfh2Md(), "a = '1' AND b = '2'"},
      {"unclosed folder", Rfh2({"<usr><a>1</a><b>2"}), Rfh2Md(), "a = '1' AND b IS NULL"},
      {"folder other than usr", Rfh2({"<other><a>1</a></other>"}), Rfh2Md(), "a IS NULL"},
  };
  for (const auto& c : cases) EXPECT_EQ(true, Selects(c.selector, c.data, c.md)) << c.what;
}

class SelectingHandleTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    CreateQmgr("QM1", true);
    DefineLocal("QM1", "Q1");
    ASSERT_EQ(Connect("QM1", &h_), 0);
    MQHOBJ out;
    ASSERT_EQ(Open(h_, "Q1", MQOO_OUTPUT, &out), 0);
    for (const char* region : {"EMEA", "APAC", "EMEA", "AMER"}) {
      MQMD md = Rfh2Md();
      std::string data = Rfh2({std::string("<usr><region>") + region + "</region></usr>"}, region);
      ASSERT_EQ(PutMd(h_, out, &md, data), 0);
    }
    Close(h_, &out);
  }
  void TearDown() override {
    Disconnect(&h_);
    LqmTest::TearDown();
  }
  // Opens Q1 with a version-4 MQOD whose SelectionString is `selector`
  // (by pointer, or by offset when `byOffset`).
  MQLONG OpenSelecting(const std::string& selector, MQLONG options, MQHOBJ* hobj,
                       bool byOffset = false, MQLONG objectType = MQOT_Q) {
    std::vector<char> block(sizeof(MQOD) + selector.size() + 1, 0);
    MQOD od = {MQOD_DEFAULT};
    od.Version = MQOD_VERSION_4;
    od.ObjectType = objectType;
    if (objectType == MQOT_Q) memcpy(od.ObjectName, "Q1", 2);
    memcpy(block.data() + sizeof(MQOD), selector.data(), selector.size());
    od.SelectionString.VSOffset = byOffset ? static_cast<MQLONG>(sizeof(MQOD)) : 0;
    od.SelectionString.VSPtr = byOffset ? nullptr : block.data() + sizeof(MQOD);
    od.SelectionString.VSLength =
        byOffset ? MQVS_NULL_TERMINATED : static_cast<MQLONG>(selector.size());
    memcpy(block.data(), &od, sizeof od);
    MQLONG cc, reason;
    MQOPEN(h_, block.data(), options, hobj, &cc, &reason);
    return CheckCc(cc, reason);
  }
  // The bodies (after the header) of what `options` gets, one by one.
  std::string Drain(MQHOBJ hobj, MQLONG first, MQLONG next) {
    std::string got, data;
    for (MQLONG o = first; Get(h_, hobj, &data, o | MQGMO_NO_WAIT) == 0; o = next)
      got += (got.empty() ? "" : " ") + data.substr(data.size() - 4);
    return got;
  }
  MQHCONN h_ = MQHC_UNUSABLE_HCONN;
};

TEST_F(SelectingHandleTest, UnselectedMessagesAreInvisibleAndBadStringsRefused) {
  MQHOBJ browse, input;
  ASSERT_EQ(OpenSelecting("region = 'EMEA'", MQOO_BROWSE, &browse), 0);
  EXPECT_EQ("EMEA EMEA", Drain(browse, MQGMO_BROWSE_FIRST, MQGMO_BROWSE_NEXT));
  ASSERT_EQ(OpenSelecting("region <> 'EMEA'", MQOO_INPUT_SHARED, &input, true), 0);
  EXPECT_EQ("APAC AMER", Drain(input, 0, 0));
  EXPECT_EQ(Depth("QM1", "Q1"), 2);
  // Under the cursor of a selecting browse, then a get of it.
  MQHOBJ both;
  ASSERT_EQ(OpenSelecting("region LIKE 'EM%'", MQOO_BROWSE | MQOO_INPUT_SHARED, &both), 0);
  std::string data;
  ASSERT_EQ(Get(h_, both, &data, MQGMO_BROWSE_FIRST), 0);
  EXPECT_EQ(Get(h_, both, &data, MQGMO_MSG_UNDER_CURSOR), 0);
  EXPECT_EQ(Depth("QM1", "Q1"), 1);
  // Opening checks the selection string.
  struct {
    const char* what;
    std::string selector;
    MQLONG options, objectType, reason;
  } cases[] = {
      {"syntax", "region = 'EMEA", MQOO_BROWSE, MQOT_Q, MQRC_SELECTOR_SYNTAX_ERROR},
      {"unknown operator", "region === 'EMEA'", MQOO_INPUT_SHARED, MQOT_Q,
       MQRC_SELECTOR_SYNTAX_ERROR},
      {"always false", "1 = 0", MQOO_BROWSE, MQOT_Q, MQRC_SELECTOR_ALWAYS_FALSE},
      {"output only is ignored", "region = 'EMEA", MQOO_OUTPUT, MQOT_Q, 0},
      {"queue manager", "a = 1", MQOO_INQUIRE, MQOT_Q_MGR, MQRC_SELECTOR_INVALID_FOR_TYPE},
      {"too long", std::string(kLqmSelectorMaxLength + 1, ' '), MQOO_BROWSE, MQOT_Q,
       MQRC_SELECTION_STRING_ERROR},
  };
  for (const auto& c : cases) {
    MQHOBJ hobj = MQHO_UNUSABLE_HOBJ;
    EXPECT_EQ(OpenSelecting(c.selector, c.options, &hobj, false, c.objectType), c.reason) << c.what;
    if (c.reason == 0) Close(h_, &hobj);
  }
}

}  // namespace
