// MQCB and MQCTL through the built library: what consumers are handed, on
// which thread, one at a time, how delivery stops, and the refusals.
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "tests/localqm/mqi_test_util.h"

namespace {

// One callback as the consumer saw it.
struct Seen {
  MQLONG CallType, Hobj, CompCode, Reason, State;
  std::string Data;
  std::thread::id Thread;
};

// What the callbacks of a test saw, and what they do besides recording.
struct Recorder {
  std::mutex Lock;
  std::vector<Seen> Calls;
  std::atomic<int> Running{0}, Overlaps{0};
  std::function<void(MQHCONN, MQCBC*)> Act;  // runs inside every callback
  // Calls of `type` (0: of any), for handle `hobj` unless it is 0.
  size_t CountOf(MQLONG type = 0, MQHOBJ hobj = 0) {
    std::lock_guard<std::mutex> g(Lock);
    size_t n = 0;
    for (const Seen& s : Calls)
      n += (type == 0 || s.CallType == type) && (hobj == 0 || s.Hobj == hobj) ? 1 : 0;
    return n;
  }
};

Recorder* gRec = nullptr;

// Polls `condition` every 5 ms for up to 10 seconds; its last value.
bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 2000 && !condition(); ++i) usleep(5000);
  return condition();
}

extern "C" void RecordingConsumer(MQHCONN hconn, PMQVOID, PMQVOID, PMQVOID buffer, PMQCBC context) {
  if (gRec->Running.fetch_add(1) != 0) gRec->Overlaps++;
  Seen s{context->CallType, context->Hobj,  context->CompCode,           context->Reason,
         context->State,    std::string(), std::this_thread::get_id()};
  if (buffer != nullptr) s.Data.assign(static_cast<char*>(buffer), context->DataLength);
  {
    std::lock_guard<std::mutex> g(gRec->Lock);
    gRec->Calls.push_back(s);
  }
  if (gRec->Act) gRec->Act(hconn, context);
  gRec->Running.fetch_sub(1);
}

class ConsumeTest : public MqiTest {
 protected:
  void SetUp() override {
    LqmTest::SetUp();
    gRec = &rec_;
    Start(MQOO_INPUT_SHARED | MQOO_OUTPUT | MQOO_BROWSE);
    ASSERT_EQ(0, Open(h_, "Q2", MQOO_INPUT_SHARED | MQOO_OUTPUT, &q2_));
  }
  void TearDown() override {
    MqiTest::TearDown();
    gRec = nullptr;
  }
  // MQCB with a recording consumer, and what `edit` makes of its
  // parameters; the reason.
  MQLONG Cb(MQLONG op, MQHOBJ hobj, MQLONG gmoOptions = MQGMO_NO_SYNCPOINT | MQGMO_WAIT,
            MQLONG cbdOptions = MQCBDO_NONE, MQLONG waitMs = 0,
            void (*edit)(MQCBD*, MQGMO*) = nullptr) {
    MQCBD cbd = {MQCBD_DEFAULT};
    cbd.CallbackFunction = reinterpret_cast<MQPTR>(RecordingConsumer);
    cbd.Options = cbdOptions;
    MQMD md = {MQMD_DEFAULT};
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Options = gmoOptions;
    gmo.WaitInterval = waitMs;
    if (edit != nullptr) edit(&cbd, &gmo);
    MQLONG cc, reason;
    MQCB(h_, op, &cbd, hobj, &md, &gmo, &cc, &reason);
    return CheckCc(cc, reason);
  }
  MQLONG Ctl(MQLONG op, MQHCONN hconn = 0, MQLONG version = MQCTLO_VERSION_1) {
    MQCTLO ctlo = {MQCTLO_DEFAULT};
    ctlo.Version = version;
    MQLONG cc, reason;
    MQCTL(hconn != 0 ? hconn : h_, op, &ctlo, &cc, &reason);
    return reason;
  }
  void PutN(MQHOBJ hobj, int n, const std::string& prefix) {
    for (int i = 0; i < n; ++i) ASSERT_EQ(Put(h_, hobj, prefix + std::to_string(i)), 0);
  }
  Recorder rec_;
  MQHOBJ q2_ = MQHO_UNUSABLE_HOBJ;
};

// Each consumer deregisters itself at its first no-message event.
void DeregisterWhenEmpty(MQHCONN hconn, MQCBC* context) {
  if (context->CallType != MQCBCT_EVENT_CALL || context->Reason != MQRC_NO_MSG_AVAILABLE) return;
  MQCBD cbd = {MQCBD_DEFAULT};
  MQLONG cc, reason;
  MQCB(hconn, MQOP_DEREGISTER, &cbd, context->Hobj, nullptr, nullptr, &cc, &reason);
  EXPECT_EQ(reason, 0);
}

TEST_F(ConsumeTest, RefusalsOfRegistrationAndControl) {
  MQHOBJ outputOnly;
  ASSERT_EQ(0, Open(h_, "Q1", MQOO_OUTPUT, &outputOnly));
  const MQLONG R = MQOP_REGISTER;
  // hobj 0: Q1's input handle.
  const struct { const char* what; MQLONG op, hobj; void (*edit)(MQCBD*, MQGMO*);
      MQLONG reason; } cbs[] = {
      {"operation", MQOP_START, 0, nullptr, MQRC_OPERATION_ERROR},
      {"suspend and resume", R | MQOP_SUSPEND | MQOP_RESUME, 0, nullptr, MQRC_OPERATION_ERROR},
      {"descriptor", R, 0, [](MQCBD* d, MQGMO*) { d->Version = 2; }, MQRC_CBD_ERROR},
      {"type", R, 0, [](MQCBD* d, MQGMO*) { d->CallbackType = 3; }, MQRC_CALLBACK_TYPE_ERROR},
      {"options", R, 0, [](MQCBD* d, MQGMO*) { d->Options = 2; }, MQRC_CBD_OPTIONS_ERROR},
      {"length", R, 0, [](MQCBD* d, MQGMO*) { d->MaxMsgLength = -2; }, MQRC_MAX_MSG_LENGTH_ERROR},
      {"no function", R, 0, [](MQCBD* d, MQGMO*) { d->CallbackFunction = nullptr; },
       MQRC_CALLBACK_ROUTINE_ERROR},
      {"a name only", R, 0, [](MQCBD* d, MQGMO*) {
         d->CallbackFunction = nullptr, memcpy(d->CallbackName, "lib(fn)", 7); },
       MQRC_CALLBACK_LINK_ERROR},
      {"under cursor", R, 0, [](MQCBD*, MQGMO* g) { g->Options = MQGMO_MSG_UNDER_CURSOR; },
       MQRC_OPTIONS_ERROR},
      {"output handle", R, outputOnly, nullptr, MQRC_NOT_OPEN_FOR_INPUT},
      {"bad handle", R, 77, nullptr, MQRC_HOBJ_ERROR},
      {"nothing registered", MQOP_DEREGISTER, 0, nullptr, MQRC_CALLBACK_NOT_REGISTERED},
  };
  for (const auto& c : cbs)
    EXPECT_EQ(c.reason, Cb(c.op, c.hobj != 0 ? c.hobj : q1_, 0, 0, 0, c.edit)) << c.what;
  const struct { const char* what; MQLONG op, hconn, reason, version = 1; } ctls[] = {
      {"control options", MQOP_START, 0, MQRC_CTLO_ERROR, 2},
      {"control operation", MQOP_REGISTER, 0, MQRC_OPERATION_ERROR},
      {"suspend when stopped", MQOP_SUSPEND, 0, MQRC_OPERATION_NOT_ALLOWED},
      {"wait with nothing", MQOP_START_WAIT, 0, MQRC_NO_CALLBACKS_ACTIVE},
      {"stop when stopped", MQOP_STOP, 0, 0},
      {"bad connection", MQOP_START, 99, MQRC_HCONN_ERROR},
  };
  for (const auto& c : ctls) EXPECT_EQ(c.reason, Ctl(c.op, c.hconn, c.version)) << c.what;
  EXPECT_EQ(0u, rec_.CountOf());
}

// START on the library's thread: messages put later by another connection
// arrive; callbacks never overlap; STOP from outside waits for them and
// makes the stop calls; a browsing consumer leaves its messages.
TEST_F(ConsumeTest, StartOnOwnThreadDeliversLaterPutsUntilStopped) {
  PutN(q1_, 2, "early");
  ASSERT_EQ(Cb(MQOP_REGISTER, q1_, MQGMO_BROWSE_FIRST | MQGMO_WAIT, MQCBDO_STOP_CALL), 0);
  ASSERT_EQ(Cb(MQOP_REGISTER, q2_, MQGMO_NO_SYNCPOINT | MQGMO_WAIT, MQCBDO_START_CALL), 0);
  ASSERT_EQ(Ctl(MQOP_START), 0);
  MQHCONN other;
  MQHOBJ o;
  ASSERT_EQ(Connect("QM1", &other), 0);
  ASSERT_EQ(Open(other, "Q2", MQOO_OUTPUT, &o), 0);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(Put(other, o, "late"), 0);
  Disconnect(&other);
  ASSERT_TRUE(WaitFor([&] { return rec_.CountOf(MQCBCT_MSG_REMOVED) == 20; }));
  ASSERT_TRUE(WaitFor([&] { return rec_.CountOf(MQCBCT_MSG_NOT_REMOVED) == 2; }));
  // Suspended, nothing is delivered until it resumes.
  EXPECT_EQ(Ctl(MQOP_SUSPEND), 0);
  size_t suspended = rec_.CountOf();
  ASSERT_EQ(Put(h_, q2_, "held"), 0);
  EXPECT_EQ(rec_.CountOf(), suspended);
  EXPECT_EQ(Ctl(MQOP_START), MQRC_OPERATION_NOT_ALLOWED);
  EXPECT_EQ(Ctl(MQOP_RESUME), 0);
  ASSERT_TRUE(WaitFor([&] { return rec_.CountOf(MQCBCT_MSG_REMOVED) == 21; }));
  EXPECT_EQ(Ctl(MQOP_STOP), 0);
  size_t after = rec_.CountOf();
  EXPECT_EQ(rec_.CountOf(MQCBCT_START_CALL), 1u);
  EXPECT_EQ(rec_.CountOf(MQCBCT_STOP_CALL), 1u);
  EXPECT_EQ(rec_.Overlaps.load(), 0);
  for (const Seen& s : rec_.Calls) EXPECT_NE(s.Thread, std::this_thread::get_id());
  ASSERT_EQ(Put(h_, q2_, "after stop"), 0);
  EXPECT_EQ(rec_.CountOf(), after);  // stopped means no more callbacks
  EXPECT_EQ(Depth("QM1", "Q1"), 2);
  EXPECT_EQ(Depth("QM1", "Q2"), 1);
}

// A consumer that stops the connection from inside: START_WAIT returns OK
// after that callback; its syncpoint gets belong to the connection's unit
// of work, which a callback commits and the caller backs out.
TEST_F(ConsumeTest, StopAndUnitsOfWorkFromInsideCallbacks) {
  PutN(q1_, 6, "m");
  int seen = 0;
  rec_.Act = [&](MQHCONN hconn, MQCBC* context) {
    if (context->CallType != MQCBCT_MSG_REMOVED) return;
    MQLONG cc, reason;
    if (++seen == 2) MQCMIT(hconn, &cc, &reason);
    if (seen == 4) {
      MQCTLO ctlo = {MQCTLO_DEFAULT};
      MQCTL(hconn, MQOP_STOP, &ctlo, &cc, &reason);
      EXPECT_EQ(reason, 0);
      MQCTL(hconn, MQOP_START_WAIT, &ctlo, &cc, &reason);
      EXPECT_EQ(reason, MQRC_ENVIRONMENT_ERROR);
      MQHCONN self = hconn;
      MQDISC(&self, &cc, &reason);
      EXPECT_EQ(reason, MQRC_ENVIRONMENT_ERROR);
    }
  };
  ASSERT_EQ(Cb(MQOP_REGISTER, q1_, MQGMO_SYNCPOINT), 0);
  EXPECT_EQ(Ctl(MQOP_START_WAIT), 0);
  EXPECT_EQ(seen, 4);
  EXPECT_EQ(Depth("QM1", "Q1"), 4);  // two committed away, two pending
  EXPECT_EQ(EndUnit(h_, false), 0);
  EXPECT_EQ(Depth("QM1", "Q1"), 4);
  std::string data;
  EXPECT_EQ(Get(h_, q1_, &data), 0);
  EXPECT_EQ(data, "m2");  // the backed-out gets are back at the front
}

// The no-message event: once per empty spell with WaitInterval 0, every
// interval with one above 0, never without a limit.
TEST_F(ConsumeTest, NoMessageEventsFollowTheWaitInterval) {
  ASSERT_EQ(Cb(MQOP_REGISTER, q1_, MQGMO_WAIT, MQCBDO_NONE, 0), 0);
  ASSERT_EQ(Cb(MQOP_REGISTER, q2_, MQGMO_WAIT, MQCBDO_NONE, 50), 0);
  ASSERT_EQ(Ctl(MQOP_START), 0);
  ASSERT_TRUE(WaitFor([&] { return rec_.CountOf(MQCBCT_EVENT_CALL, q2_) >= 3; }));
  ASSERT_EQ(Put(h_, q1_, "x"), 0);
  ASSERT_TRUE(WaitFor([&] { return rec_.CountOf(MQCBCT_EVENT_CALL, q1_) == 2; }));
  size_t q2Events = rec_.CountOf(MQCBCT_EVENT_CALL, q2_);
  ASSERT_TRUE(WaitFor([&] { return rec_.CountOf(MQCBCT_EVENT_CALL, q2_) >= q2Events + 3; }));
  EXPECT_EQ(Ctl(MQOP_STOP), 0);
  EXPECT_EQ(rec_.CountOf(MQCBCT_MSG_REMOVED), 1u);
  EXPECT_EQ(rec_.CountOf(MQCBCT_EVENT_CALL, q1_), 2u);  // one before the message, one after
}

// A queue that fails its gets is reported to its consumer, which is then
// suspended; deleting the handle's queue the same. Closing the handle
// deregisters (with the deregister call asked for).
TEST_F(ConsumeTest, FailedGetsSuspendTheConsumerAndCloseDeregisters) {
  PutN(q2_, 1, "ok");
  WithStore("QM1",
            [](LqmStore* s) { return LqmFaultAdd(s, "MQGET", "Q1", MQRC_RESOURCE_PROBLEM, 0, 1); });
  ASSERT_EQ(Cb(MQOP_REGISTER, q1_), 0);
  ASSERT_EQ(Cb(MQOP_REGISTER, q2_, MQGMO_WAIT, MQCBDO_DEREGISTER_CALL), 0);
  rec_.Act = [&](MQHCONN hconn, MQCBC* context) {
    MQLONG cc, reason;
    if (context->CallType == MQCBCT_EVENT_CALL && context->Hobj == q2_) {
      MQHOBJ closing = q2_;
      MQCLOSE(hconn, &closing, MQCO_NONE, &cc, &reason);
      EXPECT_EQ(reason, 0);
    }
  };
  EXPECT_EQ(Ctl(MQOP_START_WAIT), MQRC_NO_CALLBACKS_ACTIVE);
  const Seen* failed = nullptr;
  for (const Seen& s : rec_.Calls)
    if (s.Hobj == q1_ && s.CallType == MQCBCT_EVENT_CALL) failed = &s;
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->Reason, MQRC_RESOURCE_PROBLEM);
  EXPECT_EQ(failed->CompCode, MQCC_FAILED);
  EXPECT_EQ(failed->State, MQCS_SUSPENDED);
  EXPECT_EQ(rec_.CountOf(MQCBCT_DEREGISTER_CALL), 1u);
  EXPECT_EQ(Cb(MQOP_DEREGISTER, q2_), MQRC_CALLBACK_NOT_REGISTERED);
  // Resumed, the consumer of Q1 works again (the fault was used up).
  PutN(q1_, 1, "again");
  EXPECT_EQ(Cb(MQOP_RESUME, q1_), 0);
  rec_.Act = DeregisterWhenEmpty;
  EXPECT_EQ(Ctl(MQOP_START_WAIT), MQRC_NO_CALLBACKS_ACTIVE);
  EXPECT_EQ(rec_.Calls.back().CallType, MQCBCT_EVENT_CALL);
  EXPECT_EQ(Depth("QM1", "Q1"), 0);
}

// A message too big for the first buffer still arrives whole; MQDISC of
// a started connection stops it first and leaves no thread behind.
TEST_F(ConsumeTest, LargeMessagesWholeAndDisconnectWhileStarted) {
  std::string big(200000, 'z');
  ASSERT_EQ(Put(h_, q1_, big), 0);
  ASSERT_EQ(Cb(MQOP_REGISTER, q1_), 0);
  ASSERT_EQ(Ctl(MQOP_START), 0);
  ASSERT_TRUE(WaitFor([&] { return rec_.CountOf(MQCBCT_MSG_REMOVED) == 1; }));
  EXPECT_EQ(rec_.Calls[0].Data, big);
  EXPECT_EQ(Cb(MQOP_REGISTER, q2_), MQRC_HCONN_ASYNC_ACTIVE);
  Disconnect(&h_);
  EXPECT_EQ(Ctl(MQOP_START, h_), MQRC_HCONN_ERROR);
}

}  // namespace
