// Queue output against a recording stand-in queue manager: the open
// options of every context mode, the -vd listing, distribution lists and
// individual queues with failing destinations, the counting rules, the two
// put retries, the PCF header repair and the -A overrides.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/zeplo/engine/fake_mq.h"
#include "zeplo/engine/engine.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

namespace {

// One scripted result of an MQOPEN or MQPUT; calls beyond the script
// succeed. Responses, when given, fill the caller's response records.
struct Scripted {
  MQLONG CompCode, Reason;
  std::vector<MQRR> Responses;
};

struct PutRecord {
  MQHOBJ Hobj;
  MQMD Md;
  MQPMO Pmo;
  std::string Data;
};

struct OutputFake {
  std::vector<MQOD> Opens;
  std::vector<MQLONG> OpenOptions;
  std::vector<PutRecord> Puts;
  std::vector<Scripted> OpenScript, PutScript;
  std::string Resolved = "LOCAL.TARGET";
  MQLONG Depth = 0;
  bool InquireFails = false;
};
OutputFake gOut;

void Play(std::vector<Scripted>* script, size_t index, MQRR* records, PMQLONG cc, PMQLONG rc) {
  *cc = MQCC_OK;
  *rc = MQRC_NONE;
  if (index >= script->size()) return;
  const Scripted& s = (*script)[index];
  *cc = s.CompCode;
  *rc = s.Reason;
  for (size_t i = 0; records != nullptr && i < s.Responses.size(); i++) records[i] = s.Responses[i];
}

void OutOPEN(MQHCONN, PMQVOID odArg, MQLONG options, PMQHOBJ hobj, PMQLONG cc, PMQLONG rc) {
  auto* od = static_cast<MQOD*>(odArg);
  gOut.Opens.push_back(*od);
  gOut.OpenOptions.push_back(options);
  Play(&gOut.OpenScript, gOut.Opens.size() - 1, static_cast<MQRR*>(od->ResponseRecPtr), cc, rc);
  if (od->Version >= MQOD_VERSION_3) SetMqField(od->ResolvedQName, gOut.Resolved.c_str());
  *hobj = *cc == MQCC_FAILED ? MQHO_UNUSABLE_HOBJ : static_cast<MQHOBJ>(100 + gOut.Opens.size());
}

void OutPUT(MQHCONN, MQHOBJ hobj, PMQVOID md, PMQVOID pmoArg, MQLONG length, PMQVOID buffer,
            PMQLONG cc, PMQLONG rc) {
  auto* pmo = static_cast<MQPMO*>(pmoArg);
  gOut.Puts.push_back({hobj, *static_cast<MQMD*>(md), *pmo,
                       std::string(static_cast<const char*>(buffer), static_cast<size_t>(length))});
  Play(&gOut.PutScript, gOut.Puts.size() - 1, static_cast<MQRR*>(pmo->ResponseRecPtr), cc, rc);
}

void OutINQ(MQHCONN, MQHOBJ, MQLONG, PMQLONG, MQLONG, PMQLONG ints, MQLONG, PMQCHAR, PMQLONG cc,
            PMQLONG rc) {
  *cc = gOut.InquireFails ? MQCC_FAILED : MQCC_OK;
  *rc = gOut.InquireFails ? MQRC_NOT_OPEN_FOR_INQUIRE : MQRC_NONE;
  if (!gOut.InquireFails) ints[0] = gOut.Depth;
}

MqApi gOutApi = [] {
  MqApi api = gFakeApi;
  api.MQOPEN = OutOPEN;
  api.MQPUT = OutPUT;
  api.MQINQ = OutINQ;
  return api;
}();

class QueueOutputTest : public ::testing::Test {
 public:
  void SetUp() override {
    FakeReset(&options_);
    gOut = OutputFake{};
    options_.Qmgrs[0].Api = &gOutApi;
    input_ = QueueElement{7, "IN.Q", 0, 0, "", 0, MQHO_UNUSABLE_HOBJ, 0, 0, 0, 0};
  }
  void TearDown() override {
    ReleaseOutputQueues(&options_);
    QueueListRelease(&options_.OutputList);
  }
  void SingleQueue(const char* qmgr, const char* queue) {
    snprintf(options_.OutputQmgrName, sizeof options_.OutputQmgrName, "%s", qmgr);
    snprintf(options_.OutputQueueName, sizeof options_.OutputQueueName, "%s", queue);
  }
  void List(std::initializer_list<const char*> destinations) {
    for (const char* d : destinations) ASSERT_EQ(0, AddDestination(&options_, d, false)) << d;
  }
  // A message of `text` in the buffer, as a reader leaves it.
  void Message(const std::string& text) {
    buffer_.assign(text.begin(), text.end());
    buffer_.resize(4096);
    options_.Message.Storage = buffer_.data();
    options_.Message.Capacity = 4096;
    options_.Message.Cursor = buffer_.data();
    options_.Message.DataLength = static_cast<int32_t>(text.size());
    ResetDescriptor(options_.Message.Descriptor);
  }
  int Put() { return PutToOutputs(&options_, &input_); }
  RunOptions options_;
  QueueElement input_;
  std::vector<unsigned char> buffer_;
};

MQRR Ok() { return {MQCC_OK, MQRC_NONE}; }
MQRR Failed(MQLONG reason) { return {MQCC_FAILED, reason}; }

TEST_F(QueueOutputTest, ContextModesOpenAndPutWithTheirOptions) {
  struct Case {
    ContextMode mode;
    MQLONG open, put;
  } cases[] = {
      {ContextMode::SetAll, 2064, MQPMO_SET_ALL_CONTEXT},
      {ContextMode::SetAllUpdateTimes, 2064, MQPMO_SET_ALL_CONTEXT},
      {ContextMode::SetIdentity, 1040, MQPMO_SET_IDENTITY_CONTEXT},
      {ContextMode::PassAll, 528, MQPMO_PASS_ALL_CONTEXT},
      {ContextMode::PassIdentity, 272, MQPMO_PASS_IDENTITY_CONTEXT},
      {ContextMode::Default, 16, MQPMO_DEFAULT_CONTEXT},
      {ContextMode::None, 16, MQPMO_NO_CONTEXT},
  };
  for (const Case& c : cases) {
    SetUp();
    SingleQueue("", "OUT.Q");
    options_.Context = c.mode;
    ASSERT_EQ(0, OpenOutputQueues(&options_));
    ASSERT_EQ(1u, gOut.Opens.size());
    EXPECT_EQ(c.open, gOut.OpenOptions[0]) << static_cast<int>(c.mode);
    Message("payload");
    memcpy(options_.Message.Descriptor->PutDate, "19990101", 8);
    memcpy(options_.Message.Descriptor->PutTime, "12000000", 8);
    ASSERT_EQ(0, Put());
    const PutRecord& p = gOut.Puts.at(0);
    const MQLONG contextBits = 0x20 | 0x100 | 0x200 | 0x400 | 0x800 | 0x4000;
    EXPECT_EQ(c.put, p.Pmo.Options & contextBits) << static_cast<int>(c.mode);
    EXPECT_EQ(MQPMO_SYNCPOINT, p.Pmo.Options & (MQPMO_SYNCPOINT | MQPMO_NO_SYNCPOINT));
    EXPECT_EQ(7, p.Pmo.Context);  // the input queue's handle
    EXPECT_EQ(gOut.Opens.size() + 100, static_cast<size_t>(p.Hobj));
    // Only -C t makes the put time current; every other mode keeps it.
    bool renewed = memcmp(p.Md.PutDate, "19990101", 8) != 0;
    EXPECT_EQ(c.mode == ContextMode::SetAllUpdateTimes, renewed) << static_cast<int>(c.mode);
    EXPECT_EQ("payload", p.Data);
  }
}

TEST_F(QueueOutputTest, NoTransactionsPutOutsideSyncpointAndWithoutInputQueue) {
  SingleQueue("", "OUT.Q");
  options_.TransactionLimit = 0;
  ASSERT_EQ(0, OpenOutputQueues(&options_));
  Message("x");
  ASSERT_EQ(0, PutToOutputs(&options_, nullptr));
  EXPECT_EQ(MQPMO_NO_SYNCPOINT, gOut.Puts[0].Pmo.Options & (MQPMO_SYNCPOINT | MQPMO_NO_SYNCPOINT));
  EXPECT_EQ(MQHO_UNUSABLE_HOBJ, gOut.Puts[0].Pmo.Context);
}

TEST_F(QueueOutputTest, DestinationListingAndDestinationTexts) {
  struct Case {
    std::vector<const char*> list;  // empty: single queue QM2/OUT.Q
    const char* printed;
  } cases[] = {
      {{}, "Output Destination : QM2/OUT.Q\n\n"},
      {{"A"}, "Output Destination : A\n\n"},
      {{"A", "QM9/B", "C"},
       "Output Destinations : A\n                    : QM9/B\n                    : C\n\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.list.empty()) SingleQueue("QM2", "OUT.Q");
    for (const char* d : c.list) ASSERT_EQ(0, AddDestination(&options_, d, false));
    options_.PrintDestinations = true;
    testing::internal::CaptureStderr();
    int rc = OpenOutputQueues(&options_);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0, rc);
    EXPECT_EQ(c.printed, err);
    TearDown();
  }
  struct Text {
    const char* qmgr;
    const char* queue;
    const char* text;
  } texts[] = {{"QM1", "Q1", "QM1/Q1"}, {"", "Q1", "Q1"}, {" ", "Q1", "Q1"}, {nullptr, "Q", "Q"}};
  for (const Text& t : texts) {
    char out[kDestinationTextSize];
    FormatDestination(t.qmgr, t.queue, out, sizeof out);
    EXPECT_STREQ(t.text, out);
  }
  // Unterminated 48-character fields stop at 48; a small buffer is cut.
  char name[48];
  memset(name, 'N', sizeof name);
  char out[kDestinationTextSize];
  FormatDestination(name, name, out, sizeof out);
  EXPECT_EQ(97u, strlen(out));
  char small[6];
  FormatDestination("QM1", "QUEUE", small, sizeof small);
  EXPECT_STREQ("QM1/Q", small);
}

TEST_F(QueueOutputTest, DistributionListOpenFailuresNameTheDestination) {
  struct Case {
    Scripted open;
    int rc;
    std::string report;
  } cases[] = {
      {{MQCC_WARNING, MQRC_MULTIPLE_REASONS, {Ok(), Failed(2085), Ok()}},
       2085,
       "MQOPEN on object 'QM9/B' returned 2085"},
      {{MQCC_FAILED, MQRC_MULTIPLE_REASONS, {Failed(2085), Failed(2052), Failed(2085)}},
       2085,
       "MQOPEN on object 'A' returned 2085"},
      {{MQCC_FAILED, MQRC_NOT_AUTHORIZED, {}},
       2035,
       "MQOPEN on object '<Distribution List>' returned 2035"},
  };
  for (const Case& c : cases) {
    SetUp();
    List({"A", "QM9/B", "C"});
    gOut.OpenScript = {c.open};
    testing::internal::CaptureStderr();
    int rc = OpenOutputQueues(&options_);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.rc, rc);
    EXPECT_NE(std::string::npos, err.find(c.report)) << err;
    const MQOD& od = gOut.Opens.at(0);
    EXPECT_EQ(3, od.RecsPresent);
    EXPECT_GE(od.Version, MQOD_VERSION_2);
    EXPECT_EQ(static_cast<void*>(options_.OutputList->Entries), od.ObjectRecPtr);
    TearDown();
  }
  // Every failed destination is reported, the last one's reason is kept.
  SetUp();
  List({"A", "B", "C"});
  gOut.OpenScript = {{MQCC_WARNING, MQRC_MULTIPLE_REASONS, {Failed(2085), Ok(), Failed(2052)}}};
  testing::internal::CaptureStderr();
  EXPECT_EQ(2052, OpenOutputQueues(&options_));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("'A' returned 2085")) << err;
  EXPECT_NE(std::string::npos, err.find("'C' returned 2052")) << err;
}

TEST_F(QueueOutputTest, IndividualQueuesAreEachOpenedAndAllFailuresShown) {
  List({"A", "QM9/B", "C"});
  options_.IndividualQueues = true;
  options_.Context = ContextMode::SetIdentity;
  gOut.OpenScript = {{MQCC_OK, 0, {}}, {MQCC_FAILED, 2087, {}}, {MQCC_OK, 0, {}}};
  testing::internal::CaptureStderr();
  int rc = OpenOutputQueues(&options_);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(2087, rc);
  ASSERT_EQ(3u, gOut.Opens.size());  // the open after the failure is still made
  EXPECT_EQ(std::string("MQOPEN on object 'QM9/B' returned 2087 ") + MqReasonText(2087) + ".\n", err);
  for (MQLONG o : gOut.OpenOptions) EXPECT_EQ(1040, o);
  EXPECT_EQ(0, strncmp(gOut.Opens[1].ObjectQMgrName, "QM9", 4));
  QueueElement* e = options_.OutputList->Elements;
  ASSERT_NE(nullptr, e);
  EXPECT_EQ(101, e[0].Hobj);
  EXPECT_EQ(MQHO_UNUSABLE_HOBJ, e[1].Hobj);
  EXPECT_STREQ("C", e[2].Name);
}

TEST_F(QueueOutputTest, TargetQueueMonitorOpensTheResolvedQueue) {
  struct Case {
    bool list;
    std::string resolved, watched;
    Scripted monitorOpen;
    int rc;
  } cases[] = {
      {false, "LOCAL.TARGET", "LOCAL.TARGET", {MQCC_OK, 0, {}}, 0},
      {true, "", "A", {MQCC_OK, 0, {}}, 0},  // a list resolves to no queue
      {false, "LOCAL.TARGET", "LOCAL.TARGET", {MQCC_FAILED, 2035, {}}, 2035},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.list) {
      List({"A", "B"});
    } else {
      SingleQueue("", "ALIAS.Q");
    }
    options_.Rate = -1;
    gOut.Resolved = c.resolved;
    gOut.OpenScript = {{MQCC_OK, 0, {Ok(), Ok()}}, c.monitorOpen};
    testing::internal::CaptureStderr();
    int rc = OpenOutputQueues(&options_);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.rc, rc) << c.watched;
    ASSERT_EQ(2u, gOut.Opens.size());
    EXPECT_EQ(2064 | MQOO_RESOLVE_LOCAL_Q, gOut.OpenOptions[0]);
    EXPECT_GE(gOut.Opens[0].Version, MQOD_VERSION_3);
    EXPECT_EQ(MQOO_INQUIRE, gOut.OpenOptions[1]);
    EXPECT_EQ(c.watched, std::string(gOut.Opens[1].ObjectName));
    if (rc == 0) {
      EXPECT_EQ("Monitoring depth of queue '" + c.watched + "'\n\n", err);
      gOut.Depth = 4321;
      EXPECT_EQ(4321, InquireTargetDepth(&options_));
      gOut.InquireFails = true;
      EXPECT_EQ(0, InquireTargetDepth(&options_));
    } else {
      EXPECT_NE(std::string::npos, err.find("MQOPEN(INQUIRE) on object 'QM1/LOCAL.TARGET'")) << err;
      EXPECT_EQ(MQHO_UNUSABLE_HOBJ, options_.MonitorHobj);
      EXPECT_EQ(0, InquireTargetDepth(&options_));  // nothing to ask
    }
    TearDown();
  }
}

// The counting rules: what a put counts, and what it leaves to a backout.
TEST_F(QueueOutputTest, PutsCountPerDestinationUnlessTheUnitIsBackedOut) {
  enum Kind { kSingle, kList, kIndividual };
  struct Case {
    const char* name;
    Kind kind;
    bool syncpoint;
    std::vector<Scripted> puts;
    int rc, puts_, written;
    const char* text;
  } cases[] = {
      {"single ok", kSingle, true, {}, 0, 1, 1, ""},
      {"single full", kSingle, true, {{MQCC_FAILED, 2053, {}}}, 2053, 0, 0,
       "MQPUT(QM2/OUT.Q) failed RC(2053) Queue full"},
      {"single warning", kSingle, true, {{MQCC_WARNING, 2049, {}}}, 0, 1, 1, ""},
      {"list ok", kList, true, {}, 0, 3, 3, ""},
      {"list one full, syncpoint", kList, true,
       {{MQCC_WARNING, MQRC_MULTIPLE_REASONS, {Ok(), Failed(2053), Ok()}}}, 2053, 2, 0,
       "MQPUT(QM9/B) failed RC(2053) Queue full"},
      {"list one full, no syncpoint", kList, false,
       {{MQCC_WARNING, MQRC_MULTIPLE_REASONS, {Ok(), Failed(2053), Ok()}}}, 2053, 2, 2,
       "MQPUT(QM9/B) failed RC(2053) Queue full"},
      {"list two failed, first named", kList, false,
       {{MQCC_FAILED, MQRC_MULTIPLE_REASONS, {Failed(2051), Failed(2053), Ok()}}}, 2051, 1, 1,
       "MQPUT(A) failed RC(2051) Put inhibited"},
      {"list failed as a whole", kList, false, {{MQCC_FAILED, 2009, {}}}, 2009, 0, 0,
       "MQPUT(A) failed RC(2009) Connection broken"},
      {"individual ok", kIndividual, true, {}, 0, 3, 3, ""},
      {"individual second fails, syncpoint", kIndividual, true,
       {{MQCC_OK, 0, {}}, {MQCC_FAILED, 2053, {}}, {MQCC_FAILED, 2051, {}}}, 2053, 1, 0,
       "MQPUT(QM9/B) failed RC(2053) Queue full"},
      {"individual second fails, no syncpoint", kIndividual, false,
       {{MQCC_OK, 0, {}}, {MQCC_FAILED, 2053, {}}, {MQCC_OK, 0, {}}}, 2053, 2, 2,
       "MQPUT(QM9/B) failed RC(2053) Queue full"},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.kind == kSingle) {
      SingleQueue("QM2", "OUT.Q");
    } else {
      List({"A", "QM9/B", "C"});
      options_.IndividualQueues = c.kind == kIndividual;
    }
    ASSERT_EQ(0, OpenOutputQueues(&options_)) << c.name;
    options_.UseSyncpoint = c.syncpoint;
    options_.WrittenCount = 10;
    options_.WrittenBytes = 100;
    gOut.PutScript = c.puts;
    Message("0123456789");
    int rc = Put();
    EXPECT_EQ(c.rc, rc) << c.name;
    EXPECT_EQ(c.puts_, options_.PutsForMessage) << c.name;
    EXPECT_EQ(10 + c.written, options_.WrittenCount) << c.name;
    EXPECT_EQ(c.written, options_.UncommittedWrittenCount) << c.name;
    EXPECT_EQ(100u + 10u * c.written, options_.WrittenBytes) << c.name;
    EXPECT_STREQ(c.text, options_.ExitMessage) << c.name;
    size_t expectedPuts = c.kind == kIndividual ? 3u : 1u;  // every destination is tried
    EXPECT_EQ(expectedPuts, gOut.Puts.size()) << c.name;
    if (c.kind == kList) {
      EXPECT_GE(gOut.Puts[0].Pmo.Version, MQPMO_VERSION_2) << c.name;
      EXPECT_EQ(3, gOut.Puts[0].Pmo.RecsPresent) << c.name;
    }
    TearDown();
  }
}

TEST_F(QueueOutputTest, RefusedAsynchronousPutIsRetriedOnceAndDroppedForTheRun) {
  SingleQueue("", "OUT.Q");
  options_.AsyncPut = true;
  ASSERT_EQ(0, OpenOutputQueues(&options_));
  gOut.PutScript = {{MQCC_FAILED, MQRC_OPTIONS_ERROR, {}}};
  Message("a");
  EXPECT_EQ(0, Put());
  Message("b");
  EXPECT_EQ(0, Put());
  ASSERT_EQ(3u, gOut.Puts.size());
  EXPECT_NE(0, gOut.Puts[0].Pmo.Options & MQPMO_ASYNC_RESPONSE);
  EXPECT_EQ(0, gOut.Puts[1].Pmo.Options & MQPMO_ASYNC_RESPONSE);
  EXPECT_EQ(0, gOut.Puts[2].Pmo.Options & MQPMO_ASYNC_RESPONSE);
  EXPECT_FALSE(options_.AsyncPut);
  EXPECT_EQ(2, options_.WrittenCount);
  EXPECT_STREQ("", options_.ExitMessage);

  // A 2046 without -O a is a real failure, not retried.
  SetUp();
  SingleQueue("", "OUT.Q");
  ASSERT_EQ(0, OpenOutputQueues(&options_));
  gOut.PutScript = {{MQCC_FAILED, MQRC_OPTIONS_ERROR, {}}};
  Message("a");
  EXPECT_EQ(2046, Put());
  EXPECT_EQ(1u, gOut.Puts.size());
}

// A PCF message: an MQCFH with the given version in the given byte order.
std::string PcfMessage(int32_t version, bool littleEndian) {
  std::string data(40, '\0');
  for (int i = 0; i < 4; i++) {
    int shift = littleEndian ? 8 * i : 8 * (3 - i);
    data[8 + i] = static_cast<char>((static_cast<uint32_t>(version) >> shift) & 0xFF);
  }
  return data;
}

TEST_F(QueueOutputTest, OldPcfHeaderIsRetriedInAVersion1Descriptor) {
  struct Case {
    const char* name;
    int32_t cfhVersion;
    MQLONG seq;
    size_t length;
    size_t puts;
    int rc;
  } cases[] = {
      {"version 1 header", 1, 1, 40, 2, 0},
      {"version 2 header", 2, 1, 40, 2, 0},
      {"version 3 header", 3, 1, 40, 1, 2235},
      {"segment of a group", 1, 2, 40, 1, 2235},
      {"shorter than a header", 1, 1, 20, 1, 2235},
  };
  for (const Case& c : cases) {
    SetUp();
    SingleQueue("", "OUT.Q");
    ASSERT_EQ(0, OpenOutputQueues(&options_));
    gOut.PutScript = {{MQCC_FAILED, MQRC_CFH_ERROR, {}}};
    Message(PcfMessage(c.cfhVersion, true).substr(0, c.length));
    MQMD* md = options_.Message.Descriptor;
    memcpy(md->Format, MQFMT_ADMIN, 8);
    md->Encoding = MQENC_NATIVE;
    md->MsgSeqNumber = c.seq;
    EXPECT_EQ(c.rc, Put()) << c.name;
    ASSERT_EQ(c.puts, gOut.Puts.size()) << c.name;
    EXPECT_EQ(MQMD_VERSION_2, gOut.Puts[0].Md.Version) << c.name;
    if (c.puts == 2) {
      EXPECT_EQ(MQMD_VERSION_1, gOut.Puts[1].Md.Version) << c.name;
    }
  }
}

TEST_F(QueueOutputTest, Cfh3RepairRaisesOldHeadersInTheirOwnByteOrder) {
  struct Case {
    const char* format;
    MQLONG encoding;
    int32_t version;
    const char* printed;
    int32_t after;
  } cases[] = {
      {MQFMT_ADMIN, MQENC_NATIVE, 1, "\nMQCFH updated from 1 to 3\n", 3},
      {MQFMT_PCF, 0x111, 2, "\nMQCFH updated from 2 to 3\n", 3},  // big-endian integers
      {MQFMT_ADMIN, MQENC_NATIVE, 3, "", 3},
      {MQFMT_STRING, MQENC_NATIVE, 1, "", 1},
  };
  for (const Case& c : cases) {
    SetUp();
    SingleQueue("", "OUT.Q");
    options_.Cfh3Processing = true;
    ASSERT_EQ(0, OpenOutputQueues(&options_));
    bool little = (c.encoding & MQENC_INTEGER_MASK) == MQENC_INTEGER_REVERSED;
    Message(PcfMessage(c.version, little));
    memcpy(options_.Message.Descriptor->Format, c.format, 8);
    options_.Message.Descriptor->Encoding = c.encoding;
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, Put());
    EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout()) << c.format;
    EXPECT_EQ(PcfMessage(c.after, little), gOut.Puts.at(0).Data) << c.format;
  }
}

TEST_F(QueueOutputTest, OverridesReplaceOnlyTheChosenFields) {
  MQMD overrides = {MQMD_DEFAULT};
  overrides.CodedCharSetId = 500;
  overrides.Priority = 8;
  overrides.MsgType = MQMT_REQUEST;
  overrides.Expiry = 3000;
  SetMqField(overrides.ReplyToQ, "REPLY.Q");
  SetMqField(overrides.ReplyToQMgr, "REPLY.QM");
  memcpy(overrides.Format, "MQHRF2  ", 8);
  struct Case {
    uint32_t bits;
    MQLONG ccsid, priority, type, expiry;
    const char* replyTo;
    const char* format;
  } cases[] = {
      {0, 1208, 4, MQMT_DATAGRAM, 99, "ORIG.Q", MQFMT_STRING},
      {kOverrideCodedCharSetId, 500, 4, MQMT_DATAGRAM, 99, "ORIG.Q", MQFMT_STRING},
      {kOverridePriority | kOverrideExpiry, 1208, 8, MQMT_DATAGRAM, 3000, "ORIG.Q", MQFMT_STRING},
      {kOverrideReplyTo | kOverrideMsgType, 1208, 4, MQMT_REQUEST, 99, "REPLY.Q", MQFMT_STRING},
      {kOverrideFormat, 1208, 4, MQMT_DATAGRAM, 99, "ORIG.Q", "MQHRF2  "},
  };
  for (const Case& c : cases) {
    SetUp();
    SingleQueue("", "OUT.Q");
    options_.Override = &overrides;
    options_.OverrideFields = c.bits;
    ASSERT_EQ(0, OpenOutputQueues(&options_));
    Message("m");
    MQMD* md = options_.Message.Descriptor;
    md->CodedCharSetId = 1208;
    md->Priority = 4;
    md->Expiry = 99;
    memcpy(md->Format, MQFMT_STRING, 8);
    SetMqField(md->ReplyToQ, "ORIG.Q");
    ASSERT_EQ(0, Put());
    const MQMD& put = gOut.Puts.at(0).Md;
    EXPECT_EQ(c.ccsid, put.CodedCharSetId) << c.bits;
    EXPECT_EQ(c.priority, put.Priority) << c.bits;
    EXPECT_EQ(c.type, put.MsgType) << c.bits;
    EXPECT_EQ(c.expiry, put.Expiry) << c.bits;
    EXPECT_EQ(0, strncmp(c.replyTo, put.ReplyToQ, strlen(c.replyTo) + 1)) << c.bits;
    EXPECT_EQ(0, memcmp(c.format, put.Format, 8)) << c.bits;
  }
}

TEST_F(QueueOutputTest, DataNotInHandIsNeverPut) {
  SingleQueue("", "OUT.Q");
  ASSERT_EQ(0, OpenOutputQueues(&options_));
  Message("short");
  options_.Message.DataLength = 100000;  // claims more than the storage holds
  EXPECT_EQ(MQRC_UNEXPECTED_ERROR, Put());
  EXPECT_TRUE(gOut.Puts.empty());
  EXPECT_EQ(0, options_.WrittenCount);
}

}  // namespace
