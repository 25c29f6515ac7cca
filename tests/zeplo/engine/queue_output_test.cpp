// Queue output against a recording stand-in queue manager: failing
// destinations at open and put, the counting rules, the PCF header repair
// and the -A overrides. (The context modes and the put retries are run
// whole against the stand-in queue manager by the end-to-end tests.)
#include "tests/zeplo/engine/engine_test_util.h"

namespace {

// A scripted MQOPEN/MQPUT result (calls past the script succeed); the
// responses fill the caller's response records.
struct Scripted {
  MQLONG CompCode, Reason;
  std::vector<MQRR> Responses;
};
struct Put {
  MQMD Md;
  MQLONG RecsPresent;
  std::string Data;
};
struct {
  std::vector<std::pair<MQLONG, std::string>> Opens;  // options, object name
  std::vector<Put> Puts;
  std::vector<Scripted> OpenScript, PutScript;
} gOut;

void Play(const std::vector<Scripted>& script, size_t i, void* records, PMQLONG cc, PMQLONG rc) {
  const Scripted s = i < script.size() ? script[i] : Scripted{MQCC_OK, 0, {}};
  *cc = s.CompCode, *rc = s.Reason;
  if (records != nullptr && !s.Responses.empty())
    memcpy(records, s.Responses.data(), s.Responses.size() * sizeof(MQRR));
}
void OutOPEN(MQHCONN, PMQVOID odArg, MQLONG options, PMQHOBJ hobj, PMQLONG cc, PMQLONG rc) {
  auto* od = static_cast<MQOD*>(odArg);
  gOut.Opens.emplace_back(options, std::string(od->ObjectName, strnlen(od->ObjectName, 48)));
  Play(gOut.OpenScript, gOut.Opens.size() - 1, od->ResponseRecPtr, cc, rc);
  if (od->Version >= MQOD_VERSION_3 && od->RecsPresent == 0) SetMqField(od->ResolvedQName, "LOCAL");
  *hobj = *cc == MQCC_FAILED ? MQHO_UNUSABLE_HOBJ : static_cast<MQHOBJ>(100 + gOut.Opens.size());
}
void OutPUT(MQHCONN, MQHOBJ, PMQVOID md, PMQVOID pmoArg, MQLONG length, PMQVOID buffer, PMQLONG cc,
            PMQLONG rc) {
  auto* pmo = static_cast<MQPMO*>(pmoArg);
  gOut.Puts.push_back({*static_cast<MQMD*>(md), pmo->RecsPresent,
                       std::string(static_cast<char*>(buffer), static_cast<size_t>(length))});
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
Scripted Fail(MQLONG reason, MQLONG cc = MQCC_FAILED) { return {cc, reason, {}}; }
const std::vector<const char*> kThree = {"A", "QM9/B", "C"};

class QueueOutputTest : public ::testing::Test {
 public:
  void SetUp() override {
    TearDown();
    FakeReset(&o_);
    gOut = {};
    o_.Qmgrs[0].Api = &gOutApi;
  }
  void TearDown() override {
    ReleaseOutputQueues(&o_);
    QueueListRelease(&o_.Parsed.OutputList);
  }
  // "QM2/OUT.Q" alone, or a list of several destinations.
  int Open(std::vector<const char*> destinations = {}) {
    if (destinations.empty()) SetMqField(o_.Parsed.OutputQmgrName, "QM2");
    if (destinations.empty()) SetMqField(o_.Parsed.OutputQueueName, "OUT.Q");
    for (const char* d : destinations) EXPECT_EQ(0, AddDestination(&o_.Parsed, d, false));
    int rc = 0;
    err_ = Captured([&] { rc = OpenOutputQueues(&o_); });
    return rc;
  }
  int Put(const std::string& text, const char* format = MQFMT_STRING, MQLONG encoding = 546) {
    storage_ = text;
    SetMessage(&o_, &storage_);
    ResetDescriptorDefaults(o_.Message.Descriptor);
    memcpy(o_.Message.Descriptor->Format, format, 8);
    o_.Message.Descriptor->Encoding = encoding;
    return DeliverMessage(&o_, &input_);  // the -A overrides come on the way
  }
  TestRun o_{};
  QueueElement input_ = OpenedQueue(7, "IN.Q");
  std::string storage_, err_;
};

TEST_F(QueueOutputTest, FailingOpensNameEachDestination) {
  struct {
    bool individual;
    Scripted open;
    int rc;
    std::vector<const char*> reports;
  } cases[] = {
      {false, {MQCC_WARNING, 2136, {Ok(), Bad(2085), Bad(2052)}}, 2052,
       {"'QM9/B' returned 2085", "'C' returned 2052"}},
      {false, Fail(2035), 2035, {"MQOPEN on object '<Distribution List>' returned 2035"}},
      {true, Fail(2087), 2087, {"MQOPEN on object 'A' returned 2087"}},
  };
  for (const auto& c : cases) {
    SetUp();
    o_.Parsed.IndividualQueues = c.individual;
    gOut.OpenScript = {c.open};
    EXPECT_EQ(c.rc, Open(kThree)) << err_;
    for (const char* r : c.reports) EXPECT_NE(std::string::npos, err_.find(r)) << r << "\n" << err_;
    // A list is opened once; individual queues each, even after a failure.
    EXPECT_EQ(c.individual ? 3u : 1u, gOut.Opens.size()) << err_;
  }
  EXPECT_EQ(MQHO_UNUSABLE_HOBJ, o_.Engine.Output.Elements[0].Hobj);
  EXPECT_EQ(102, o_.Engine.Output.Elements[1].Hobj);
}

TEST_F(QueueOutputTest, TargetRateWatchesTheResolvedQueue) {
  struct {
    std::vector<const char*> list;
    Scripted monitor;
    int rc;
    std::string watched, text;
  } cases[] = {
      {{}, Fail(0, MQCC_OK), 0, "LOCAL", "Monitoring depth of queue 'LOCAL'\n\n"},
      {{"A", "B"}, Fail(0, MQCC_OK), 0, "A", "Monitoring depth of queue 'A'\n\n"},  // no one queue
      {{}, Fail(2035), 2035, "LOCAL", "MQOPEN(INQUIRE) on object 'QM1/LOCAL' returned 2035"},
  };
  for (const auto& c : cases) {
    SetUp();
    o_.Parsed.Rate = -1;
    gOut.OpenScript = {{MQCC_OK, 0, {Ok(), Ok()}}, c.monitor};
    EXPECT_EQ(c.rc, Open(c.list)) << c.text;
    ASSERT_EQ(2u, gOut.Opens.size()) << c.text;
    EXPECT_EQ(2064 | MQOO_RESOLVE_LOCAL_Q, gOut.Opens[0].first) << c.text;
    EXPECT_EQ(std::make_pair(MQLONG{MQOO_INQUIRE}, c.watched), gOut.Opens[1]) << c.text;
    EXPECT_NE(std::string::npos, err_.find(c.text)) << err_;
  }
  EXPECT_EQ(0, InquireTargetDepth(&o_));  // nothing open to ask
}

// What a put counts, and what it leaves to the backout of its unit.
TEST_F(QueueOutputTest, PutsCountPerDestinationUnlessTheUnitIsBackedOut) {
  const Scripted fullB = {MQCC_WARNING, 2136, {Ok(), Bad(2053), Ok()}};
  const char* full = "MQPUT(QM9/B) failed RC(2053) Queue full";
  struct {
    int kind;  // 0 single, 1 list, 2 individual
    bool syncpoint;
    std::vector<Scripted> puts;
    int rc, puts_, written;
    const char* text;
  } cases[] = {
      {0, true, {}, 0, 1, 1, ""},
      {0, true, {Fail(2053)}, 2053, 0, 0, "MQPUT(QM2/OUT.Q) failed RC(2053) Queue full"},
      {0, true, {Fail(2049, MQCC_WARNING)}, 0, 1, 1, ""},
      {0, true, {Fail(0)}, 2195, 0, 0, "MQPUT(QM2/OUT.Q) failed RC(2195) Unexpected error"},
      {1, true, {}, 0, 3, 3, ""},
      {1, true, {fullB}, 2053, 2, 0, full},
      {1, false, {fullB}, 2053, 2, 2, full},
      {1, false, {{MQCC_FAILED, 2136, {Bad(2051), Bad(2053), Ok()}}}, 2051, 1, 1,
       "MQPUT(A) failed RC(2051) Put inhibited"},
      {1, false, {Fail(2009)}, 2009, 0, 0, "MQPUT(A) failed RC(2009) Connection broken"},
      {2, true, {Fail(0, MQCC_OK), Fail(2053), Fail(2051)}, 2053, 1, 0, full},
      {2, false, {Fail(0, MQCC_OK), Fail(2053)}, 2053, 2, 2, full},
  };
  for (const auto& c : cases) {
    SetUp();
    const std::string row = std::to_string(&c - cases);
    o_.Parsed.IndividualQueues = c.kind == 2;
    ASSERT_EQ(0, c.kind == 0 ? Open() : Open(kThree));
    o_.Engine.UseSyncpoint = c.syncpoint;
    o_.Counters.WrittenCount = 10;
    gOut.PutScript = c.puts;
    EXPECT_EQ(c.rc, Put("0123456789")) << row;
    EXPECT_EQ(c.puts_, o_.Engine.PutsForMessage) << row;
    EXPECT_EQ(10 + c.written, o_.Counters.WrittenCount) << row;
    EXPECT_EQ(c.written, o_.Counters.UncommittedWrittenCount) << row;
    EXPECT_EQ(10u * c.written, o_.Counters.WrittenBytes) << row;
    EXPECT_STREQ(c.text, o_.ExitMessage) << row;
    EXPECT_EQ(c.kind == 2 ? 3u : 1u, gOut.Puts.size()) << row;  // every queue is tried
    EXPECT_EQ(c.kind == 1 ? 3 : 0, gOut.Puts[0].RecsPresent) << row;
  }
}

TEST_F(QueueOutputTest, Cfh3RepairAndOverridesShapeWhatIsPut) {
  const std::string v1(8, '\0');  // Type and StrucLength, then Version
  const std::string le1 = v1 + std::string("\1\0\0\0", 4), le3 = v1 + std::string("\3\0\0\0", 4);
  struct {
    const char* format;
    MQLONG encoding;  // 546 reversed (little-endian), 0x111 normal
    std::string data, printed, put;
  } cases[] = {
      {MQFMT_ADMIN, 546, le1, "\nMQCFH updated from 1 to 3\n", le3},
      {MQFMT_PCF, 0x111, v1 + std::string("\0\0\0\2", 4), "\nMQCFH updated from 2 to 3\n",
       v1 + std::string("\0\0\0\3", 4)},
      {MQFMT_STRING, 546, le1, "", le1},
      {MQFMT_ADMIN, 546, v1 + std::string("\1\0", 2), "", v1 + std::string("\1\0", 2)},
  };
  for (const auto& c : cases) {
    SetUp();
    o_.Parsed.Cfh3Processing = true;
    o_.Parsed.Override = {MQMD_DEFAULT};
    o_.Parsed.Override.Priority = 8;
    o_.Parsed.Override.Expiry = 3000;
    memcpy(o_.Parsed.Override.Format, "MQHRF2  ", 8);
    o_.Parsed.OverrideFields = kOverridePriority | kOverrideExpiry;
    ASSERT_EQ(0, Open());
    EXPECT_EQ(c.printed, Captured([&] { EXPECT_EQ(0, Put(c.data, c.format, c.encoding)); }, true));
    const MQMD& md = gOut.Puts.at(0).Md;
    EXPECT_EQ(c.put, gOut.Puts[0].Data);
    EXPECT_EQ((std::vector<MQLONG>{8, 3000}), (std::vector<MQLONG>{md.Priority, md.Expiry}));
    EXPECT_EQ(0, memcmp(c.format, md.Format, 8));  // not chosen, not replaced
  }
  // Data the storage does not hold is never put.
  o_.Message.DataLength = 100000;
  EXPECT_EQ(MQRC_UNEXPECTED_ERROR, PutToOutputs(&o_, &input_));
  EXPECT_EQ(1u, gOut.Puts.size());
}

}  // namespace
