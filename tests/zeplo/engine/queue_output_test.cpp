// Queue output against a recording stand-in queue manager: failing
// destinations at open and put, the counting rules, the PCF header repair
// and the -A overrides. (The context modes and the put retries are run
// whole against the stand-in queue manager by the end-to-end tests.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/zeplo/test_run.h"
#include "tests/zeplo/fake_mq/fake_mq.h"
#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

namespace {

// A scripted MQOPEN/MQPUT result (calls past the script succeed); the
// responses fill the caller's response records.
struct Scripted {
  MQLONG CompCode, Reason;
  std::vector<MQRR> Responses;
};
struct Recorded {
  MQLONG Options;
  MQMD Md;
  MQPMO Pmo;
  std::string Data;
  MQCHAR48 Name;
};
struct {
  std::vector<Recorded> Opens, Puts;
  std::vector<Scripted> OpenScript, PutScript;
} gOut;

void Play(const std::vector<Scripted>& script, size_t i, void* records, PMQLONG cc, PMQLONG rc) {
  const Scripted s = i < script.size() ? script[i] : Scripted{MQCC_OK, 0, {}};
  *cc = s.CompCode;
  *rc = s.Reason;
  if (records != nullptr && !s.Responses.empty())
    memcpy(records, s.Responses.data(), s.Responses.size() * sizeof(MQRR));
}
void OutOPEN(MQHCONN, PMQVOID odArg, MQLONG options, PMQHOBJ hobj, PMQLONG cc, PMQLONG rc) {
  auto* od = static_cast<MQOD*>(odArg);
  gOut.Opens.push_back({options, {}, {}, "", {}});
  memcpy(gOut.Opens.back().Name, od->ObjectName, 48);
  Play(gOut.OpenScript, gOut.Opens.size() - 1, od->ResponseRecPtr, cc, rc);
  if (od->Version >= MQOD_VERSION_3 && od->RecsPresent == 0) SetMqField(od->ResolvedQName, "LOCAL");
  *hobj = *cc == MQCC_FAILED ? MQHO_UNUSABLE_HOBJ : static_cast<MQHOBJ>(100 + gOut.Opens.size());
}
void OutPUT(MQHCONN, MQHOBJ, PMQVOID md, PMQVOID pmoArg, MQLONG length, PMQVOID buffer, PMQLONG cc,
            PMQLONG rc) {
  auto* pmo = static_cast<MQPMO*>(pmoArg);
  gOut.Puts.push_back({0,
                       *static_cast<MQMD*>(md),
                       *pmo,
                       std::string(static_cast<char*>(buffer), static_cast<size_t>(length)),
                       {}});
  Play(gOut.PutScript, gOut.Puts.size() - 1, pmo->ResponseRecPtr, cc, rc);
}
MqApi gOutApi = [] {
  MqApi api = gFakeApi;
  api.MQOPEN = OutOPEN;
  api.MQPUT = OutPUT;
  return api;
}();

MQRR Ok() { return {MQCC_OK, 0}; }
MQRR Bad(MQLONG reason) { return {MQCC_FAILED, reason}; }

class QueueOutputTest : public ::testing::Test {
 public:
  void SetUp() override {
    TearDown();
    FakeReset(&options_);
    gOut = {};
    options_.Qmgrs[0].Api = &gOutApi;
    input_ = QueueElement{7, "IN.Q", 0, 0, "", 0, MQHO_UNUSABLE_HOBJ, 0, 0, 0, 0, "", ""};
  }
  void TearDown() override {
    ReleaseOutputQueues(&options_);
    QueueListRelease(&options_.Parsed.OutputList);
  }
  // "QM2/OUT.Q" alone, or a list of several destinations.
  int Open(std::vector<const char*> destinations = {}) {
    if (destinations.empty()) SetMqField(options_.Parsed.OutputQmgrName, "QM2");
    if (destinations.empty()) SetMqField(options_.Parsed.OutputQueueName, "OUT.Q");
    for (const char* d : destinations) EXPECT_EQ(0, AddDestination(&options_.Parsed, d, false));
    testing::internal::CaptureStderr();
    int rc = OpenOutputQueues(&options_);
    err_ = testing::internal::GetCapturedStderr();
    return rc;
  }
  int Put(const std::string& text, const char* format = MQFMT_STRING, MQLONG encoding = 546) {
    storage_.assign(text.begin(), text.end());
    storage_.resize(4096);
    MessageBuffer& m = options_.Message;
    m.Storage = m.Cursor = storage_.data();
    m.Capacity = 4096;
    m.DataLength = static_cast<int32_t>(text.size());
    ResetDescriptorDefaults(m.Descriptor);
    memcpy(m.Descriptor->Format, format, 8);
    m.Descriptor->Encoding = encoding;
    return DeliverMessage(&options_, &input_);  // the -A overrides come on the way
  }
  TestRun options_{};
  QueueElement input_;
  std::vector<unsigned char> storage_;
  std::string err_;
};

TEST_F(QueueOutputTest, FailingOpensNameEachDestination) {
  struct {
    bool individual;
    Scripted open;
    int rc;
    const char* report;
  } cases[] = {
      {false, {MQCC_WARNING, 2136, {Ok(), Bad(2085), Bad(2052)}}, 2052, "'QM9/B' returned 2085"},
      {false, {MQCC_WARNING, 2136, {Ok(), Bad(2085), Bad(2052)}}, 2052, "'C' returned 2052"},
      {false,
       {MQCC_FAILED, 2035, {}},
       2035,
       "MQOPEN on object '<Distribution List>' returned 2035"},
      {true, {MQCC_FAILED, 2087, {}}, 2087, "MQOPEN on object 'A' returned 2087"},
  };
  for (const auto& c : cases) {
    SetUp();
    options_.Parsed.IndividualQueues = c.individual;
    gOut.OpenScript = {c.open};
    EXPECT_EQ(c.rc, Open({"A", "QM9/B", "C"}));
    EXPECT_NE(std::string::npos, err_.find(c.report)) << err_;
    // A list is opened once; individual queues each, even after a failure.
    EXPECT_EQ(c.individual ? 3u : 1u, gOut.Opens.size());
  }
  EXPECT_EQ(MQHO_UNUSABLE_HOBJ, options_.Engine.Output.Elements[0].Hobj);
  EXPECT_EQ(102, options_.Engine.Output.Elements[1].Hobj);
}

TEST_F(QueueOutputTest, TargetRateWatchesTheResolvedQueue) {
  struct {
    std::vector<const char*> list;
    Scripted monitor;
    int rc;
    const char* watched;
  } cases[] = {{{}, {MQCC_OK, 0, {}}, 0, "LOCAL"},
               {{"A", "B"}, {MQCC_OK, 0, {}}, 0, "A"},  // a list resolves to no one queue
               {{}, {MQCC_FAILED, 2035, {}}, 2035, "LOCAL"}};
  for (const auto& c : cases) {
    SetUp();
    options_.Parsed.Rate = -1;
    gOut.OpenScript = {{MQCC_OK, 0, {Ok(), Ok()}}, c.monitor};
    EXPECT_EQ(c.rc, Open(c.list));
    ASSERT_EQ(2u, gOut.Opens.size());
    EXPECT_EQ(2064 | MQOO_RESOLVE_LOCAL_Q, gOut.Opens[0].Options);
    EXPECT_EQ(MQOO_INQUIRE, gOut.Opens[1].Options);
    EXPECT_STREQ(c.watched, gOut.Opens[1].Name);
    std::string text = c.rc == 0 ? "Monitoring depth of queue '" + std::string(c.watched) + "'\n\n"
                                 : "MQOPEN(INQUIRE) on object 'QM1/LOCAL' returned 2035";
    EXPECT_NE(std::string::npos, err_.find(text)) << err_;
  }
  EXPECT_EQ(0, InquireTargetDepth(&options_));  // nothing open to ask
}

// What a put counts, and what it leaves to the backout of its unit.
TEST_F(QueueOutputTest, PutsCountPerDestinationUnlessTheUnitIsBackedOut) {
  const Scripted fullB = {MQCC_WARNING, 2136, {Ok(), Bad(2053), Ok()}};
  struct {
    int kind;  // 0 single, 1 list, 2 individual
    bool syncpoint;
    std::vector<Scripted> puts;
    int rc, puts_, written;
    const char* text;
  } cases[] = {
      {0, true, {}, 0, 1, 1, ""},
      {0, true, {{MQCC_FAILED, 2053, {}}}, 2053, 0, 0, "MQPUT(QM2/OUT.Q) failed RC(2053) Queue full"},
      {0, true, {{MQCC_WARNING, 2049, {}}}, 0, 1, 1, ""},
      {0, true, {{MQCC_FAILED, 0, {}}}, 2195, 0, 0, "MQPUT(QM2/OUT.Q) failed RC(2195) Unexpected error"},
      {1, true, {}, 0, 3, 3, ""},
      {1, true, {fullB}, 2053, 2, 0, "MQPUT(QM9/B) failed RC(2053) Queue full"},
      {1, false, {fullB}, 2053, 2, 2, "MQPUT(QM9/B) failed RC(2053) Queue full"},
      {1, false, {{MQCC_FAILED, 2136, {Bad(2051), Bad(2053), Ok()}}}, 2051, 1, 1,
       "MQPUT(A) failed RC(2051) Put inhibited"},
      {1, false, {{MQCC_FAILED, 2009, {}}}, 2009, 0, 0, "MQPUT(A) failed RC(2009) Connection broken"},
      {2, true, {{MQCC_OK, 0, {}}, {MQCC_FAILED, 2053, {}}, {MQCC_FAILED, 2051, {}}}, 2053, 1, 0,
       "MQPUT(QM9/B) failed RC(2053) Queue full"},
      {2, false, {{MQCC_OK, 0, {}}, {MQCC_FAILED, 2053, {}}}, 2053, 2, 2,
       "MQPUT(QM9/B) failed RC(2053) Queue full"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    const auto& c = cases[i];
    SetUp();
    options_.Parsed.IndividualQueues = c.kind == 2;
    ASSERT_EQ(0, c.kind == 0 ? Open() : Open({"A", "QM9/B", "C"}));
    options_.Engine.UseSyncpoint = c.syncpoint;
    options_.Counters.WrittenCount = 10;
    gOut.PutScript = c.puts;
    EXPECT_EQ(c.rc, Put("0123456789")) << i;
    EXPECT_EQ(c.puts_, options_.Engine.PutsForMessage) << i;
    EXPECT_EQ(10 + c.written, options_.Counters.WrittenCount) << i;
    EXPECT_EQ(c.written, options_.Counters.UncommittedWrittenCount) << i;
    EXPECT_EQ(10u * c.written, options_.Counters.WrittenBytes) << i;
    EXPECT_STREQ(c.text, options_.ExitMessage) << i;
    EXPECT_EQ(c.kind == 2 ? 3u : 1u, gOut.Puts.size()) << i;  // every queue is tried
    EXPECT_EQ(c.kind == 1 ? 3 : 0, gOut.Puts[0].Pmo.RecsPresent) << i;
  }
}

TEST_F(QueueOutputTest, Cfh3RepairAndOverridesShapeWhatIsPut) {
  const std::string v1(8, '\0');  // Type and StrucLength, then Version
  struct {
    const char* format;
    MQLONG encoding;  // 546 reversed (little-endian), 0x111 normal
    std::string data, printed, put;
  } cases[] = {
      {MQFMT_ADMIN, 546, v1 + std::string("\1\0\0\0", 4), "\nMQCFH updated from 1 to 3\n",
       v1 + std::string("\3\0\0\0", 4)},
      {MQFMT_PCF, 0x111, v1 + std::string("\0\0\0\2", 4), "\nMQCFH updated from 2 to 3\n",
       v1 + std::string("\0\0\0\3", 4)},
      {MQFMT_STRING, 546, v1 + std::string("\1\0\0\0", 4), "", v1 + std::string("\1\0\0\0", 4)},
      {MQFMT_ADMIN, 546, v1 + std::string("\1\0", 2), "", v1 + std::string("\1\0", 2)},
  };
  MQMD overrides = {MQMD_DEFAULT};
  overrides.Priority = 8;
  overrides.Expiry = 3000;
  memcpy(overrides.Format, "MQHRF2  ", 8);
  for (const auto& c : cases) {
    SetUp();
    options_.Parsed.Cfh3Processing = true;
    options_.Parsed.Override = overrides;
    options_.Parsed.OverrideFields = kOverridePriority | kOverrideExpiry;
    ASSERT_EQ(0, Open());
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, Put(c.data, c.format, c.encoding));
    EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout());
    const Recorded& p = gOut.Puts.at(0);
    EXPECT_EQ(c.put, p.Data);
    EXPECT_EQ(8, p.Md.Priority);
    EXPECT_EQ(3000, p.Md.Expiry);
    EXPECT_EQ(0, memcmp(c.format, p.Md.Format, 8));  // not chosen, not replaced
  }
}

TEST_F(QueueOutputTest, DataNotInHandIsNeverPut) {
  ASSERT_EQ(0, Open());
  Put("");
  options_.Message.DataLength = 100000;  // claims more than the storage holds
  EXPECT_EQ(MQRC_UNEXPECTED_ERROR, PutToOutputs(&options_, &input_));
  EXPECT_EQ(1u, gOut.Puts.size());
}

}  // namespace
