// The command server on handmade PCF requests: the replies to Inquire
// Queue and Inquire Queue Status, and IBM MQ's reasons for malformed
// requests. A stopped server is the end-to-end runs' part.
#include <initializer_list>
#include <string>
#include <vector>

#include "localqm/command/command.h"
#include "tests/localqm/lqm_test_util.h"

namespace {

// A request built field by field, in either byte order.
struct Request {
  explicit Request(bool big = false) : Big(big) {}
  std::vector<unsigned char> Bytes;
  bool Big;
  Request& Longs(std::initializer_list<MQLONG> values) {
    for (MQLONG v : values)
      for (int i = 0; i < 4; ++i)
        Bytes.push_back(static_cast<unsigned char>(static_cast<uint32_t>(v) >>
                                                   (Big ? 24 - 8 * i : 8 * i)));
    return *this;
  }
  Request& Header(MQLONG command, MQLONG count, MQLONG type = MQCFT_COMMAND) {
    return Longs({type, 36, 1, command, 1, MQCFC_LAST, 0, 0, count});
  }
  Request& Int(MQLONG parameter, MQLONG value) {
    return Longs({MQCFT_INTEGER, 16, parameter, value});
  }
  Request& Str(MQLONG parameter, const std::string& text, MQLONG stringLength = -1) {
    size_t padded = (text.size() + 3) / 4 * 4;
    Longs({MQCFT_STRING, static_cast<MQLONG>(20 + padded), parameter, 0,
           stringLength >= 0 ? stringLength : static_cast<MQLONG>(text.size())});
    Bytes.insert(Bytes.end(), text.begin(), text.end());
    Bytes.resize(Bytes.size() + padded - text.size(), ' ');
    return *this;
  }
  Request& List(MQLONG parameter, std::vector<MQLONG> values, MQLONG count = -1) {
    Longs({MQCFT_INTEGER_LIST, static_cast<MQLONG>(16 + 4 * values.size()), parameter,
           count >= 0 ? count : static_cast<MQLONG>(values.size())});
    for (MQLONG v : values) Longs({v});
    return *this;
  }
};

// A reply read back: its header and its parameters as "id=value" words.
struct Reply {
  MQCFH Header;
  std::string Params;
};

Reply ReadReply(const std::vector<unsigned char>& bytes) {
  Reply r{};
  memcpy(&r.Header, bytes.data(), sizeof r.Header);
  size_t at = sizeof r.Header;
  for (MQLONG i = 0; i < r.Header.ParameterCount && at + 16 <= bytes.size(); ++i) {
    MQLONG f[5];
    memcpy(f, bytes.data() + at, std::min(sizeof f, bytes.size() - at));
    std::string value = f[0] == MQCFT_INTEGER
                            ? std::to_string(f[3])
                            : std::string(reinterpret_cast<const char*>(bytes.data() + at + 20),
                                          static_cast<size_t>(f[4]));
    value.erase(value.find_last_not_of(' ') + 1);
    r.Params += (r.Params.empty() ? "" : " ") + std::to_string(f[2]) + "=" + value;
    at += static_cast<size_t>(f[1]);
  }
  return r;
}

class CommandServerTest : public LqmTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    CreateQmgr("QMC");
    DefineLocal("QMC", "Q1");
    DefineLocal("QMC", "Q2");
    LqmQueue alias;
    LqmQueueDefaults(&alias, "QA");
    alias.Type = MQQT_ALIAS;
    snprintf(alias.Target, sizeof alias.Target, "Q1");
    DefineQueue("QMC", alias);
  }

  // The replies the server gives to `request` (put with `format`).
  std::vector<Reply> Answer(const Request& request, const char* format = MQFMT_ADMIN) {
    MQMD md = {MQMD_DEFAULT};
    memcpy(md.Format, format, 8);
    md.Encoding = request.Big ? MQENC_NORMAL : MQENC_NATIVE;
    std::vector<LqmPcfReply> replies;
    std::vector<Reply> out;
    WithStore("QMC", [&](LqmStore* s) {
      return LqmPcfAnswer(s, md, request.Bytes.data(), request.Bytes.size(), &replies);
    });
    for (const LqmPcfReply& r : replies) out.push_back(ReadReply(r.Bytes));
    return out;
  }
};

// Every reply is a response numbered in order, the last one marked so and
// carrying the row's reason.
TEST_F(CommandServerTest, RepliesPerQueueAndIbmsReasonsForMalformedRequests) {
  MQHCONN hc;
  MQHOBJ o;
  ASSERT_EQ(0, Connect("QMC", &hc));
  ASSERT_EQ(0, Open(hc, "Q1", MQOO_OUTPUT, &o));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, Put(hc, o, std::string(1000, 'x')));
  Close(hc, &o);
  Disconnect(&hc);
  WithStore("QMC", [](LqmStore* s) { return LqmQueueSetMaxFileSize(s, "Q2", 77); });
  // Inquire Queue (or Queue Status) headers announcing `count` parameters.
  auto inq = [](MQLONG count) { return Request().Header(MQCMD_INQUIRE_Q, count); };
  auto status = [](MQLONG count) { return Request().Header(MQCMD_INQUIRE_Q_STATUS, count); };
  const MQLONG name = MQCA_Q_NAME;
  struct Case {
    const char* what;
    Request request;
    std::vector<std::string> params;  // of each reply, in order
    MQLONG reason;                    // of the last reply
    const char* format = MQFMT_ADMIN;
  } cases[] = {
      {"local queues of a prefix",
       inq(3).Str(name, "Q*").Int(MQIA_Q_TYPE, MQQT_LOCAL).List(MQIACF_Q_ATTRS, {2016, 20, 3, 7}),
       {"2016=Q1 20=1 3=3 7=1", "2016=Q2 20=1 3=0 7=1"}, 0},
      {"every type, one attribute", inq(2).Str(name, "Q*").List(MQIACF_Q_ATTRS, {7}),
       {"2016=Q1 20=1 7=1", "2016=Q2 20=1 7=1", "2016=QA 20=3"}, 0},
      {"one queue by name, padded", inq(2).Str(name, "Q2  ").List(MQIACF_Q_ATTRS, {3}),
       {"2016=Q2 20=1 3=0"}, 0},
      {"nothing matches", inq(1).Str(name, "NONE*"), {""}, MQRC_UNKNOWN_OBJECT_NAME},
      {"a name of another type", inq(2).Str(name, "QA").Int(MQIA_Q_TYPE, MQQT_LOCAL), {""},
       MQRCCF_Q_WRONG_TYPE},
      {"file sizes in megabytes",
       status(3).Str(name, "Q*").Int(MQIACF_Q_STATUS_TYPE, 1105).List(MQIACF_Q_STATUS_ATTRS,
                                                                      {1437, 1438}),
       {"2016=Q1 1103=1105 1437=1 1438=2088960", "2016=Q2 1103=1105 1437=0 1438=77"}, 0},
      {"status of an alias", status(1).Str(name, "QA"), {""}, MQRCCF_Q_WRONG_TYPE},
      {"big-endian integers are read", Request(true).Header(MQCMD_INQUIRE_Q, 1).Str(name, "Q1"),
       {"2016=Q1 20=1 3=3 7=1 15=5000 13=4194304 6=0 10=0 9=0 17=0 18=0 2013="}, 0},
      {"not an admin message", inq(1).Str(name, "Q1"), {""}, MQRCCF_MD_FORMAT_ERROR, MQFMT_STRING},
      {"unknown command", Request().Header(99, 0), {""}, MQRCCF_CFH_COMMAND_ERROR},
      {"shorter than a header", Request().Longs({0, 0, 0, 0, 0}), {""}, MQRCCF_MSG_LENGTH_ERROR},
      {"a reply is no request", Request().Header(MQCMD_INQUIRE_Q, 0, MQCFT_RESPONSE), {""},
       MQRCCF_CFH_TYPE_ERROR},
      {"negative count", inq(-1), {""}, MQRCCF_CFH_PARM_COUNT_ERROR},
      {"data beyond the count", inq(1).Str(name, "Q1").Longs({0}), {""}, MQRCCF_MSG_LENGTH_ERROR},
      {"string longer than its structure", inq(1).Str(name, "Q1", 9), {"1012=2016"},
       MQRCCF_CFST_STRING_LENGTH_ERR},
      {"list count against length", inq(2).Str(name, "Q1").List(MQIACF_Q_ATTRS, {3}, 5),
       {"1012=1002"}, MQRCCF_CFIL_LENGTH_ERROR},
      {"name missing", inq(0), {""}, MQRCCF_PARM_COUNT_TOO_SMALL},
      {"queue type is no status parameter", status(2).Str(name, "Q1").Int(MQIA_Q_TYPE, 1105),
       {"1012=20"}, MQRCCF_CFIN_PARM_ID_ERROR},
  };
  for (const Case& c : cases) {
    std::vector<Reply> replies = Answer(c.request, c.format);
    ASSERT_EQ(c.params.size(), replies.size()) << c.what;
    for (size_t i = 0; i < replies.size(); ++i) {
      const MQCFH& h = replies[i].Header;
      EXPECT_EQ(MQCFT_RESPONSE, h.Type) << c.what;
      EXPECT_EQ(static_cast<MQLONG>(i + 1), h.MsgSeqNumber) << c.what;
      EXPECT_EQ(i + 1 == replies.size() ? MQCFC_LAST : MQCFC_NOT_LAST, h.Control) << c.what;
      EXPECT_EQ(c.params[i], replies[i].Params) << c.what;
    }
    EXPECT_EQ(c.reason, replies.back().Header.Reason) << c.what;
    EXPECT_EQ(c.reason == 0 ? MQCC_OK : MQCC_FAILED, replies.back().Header.CompCode) << c.what;
  }
  // Every cut of a valid request is refused with a reason, never read
  // past its end (the sanitizer build watches the reads).
  Request whole = inq(3).Str(name, "Q*").Int(MQIA_Q_TYPE, 1).List(MQIACF_Q_ATTRS, {3, 7});
  for (size_t n = 0; n < whole.Bytes.size(); ++n) {
    Request cut = whole;
    cut.Bytes.resize(n);
    std::vector<Reply> replies = Answer(cut);
    ASSERT_EQ(1u, replies.size()) << n;
    EXPECT_EQ(MQRCCF_MSG_LENGTH_ERROR, replies[0].Header.Reason) << n;
  }
}

}  // namespace
