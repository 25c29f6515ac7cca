// Asynchronous consume of several input queues: registration, the two
// ways of running the consumers, the callback, and how consumption ends.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// A stop that keeps failing is asked for again this many times in all:
// often enough to ride out a passing refusal, few enough that a callback
// never spins.
constexpr int kStopAttempts = 3;
// The longest wait RemainingWait and RemainingFileAge report, in seconds.
constexpr int32_t kLongestWaitSeconds = 3600;
// The longest single wait of the main thread: a stop signal wakes nothing,
// so it is looked for at least this often.
constexpr int32_t kSignalSliceSeconds = 1;
// RemainingWait while some queue has not yet reported empty.
constexpr int32_t kDrainGraceSeconds = 5;

// With delivery on the library's thread, a callback works on the run's
// state only while it holds the event's mutex (the main thread reads that
// state under it). On the main thread there is nothing to exclude.
void LockRunState(Run* run) {
  ConsumeState& consume = run->Engine.Consume;
  if (consume.Threaded) pthread_mutex_lock(&consume.Event.Mutex);
}
void UnlockRunState(Run* run) {
  ConsumeState& consume = run->Engine.Consume;
  if (consume.Threaded) pthread_mutex_unlock(&consume.Event.Mutex);
}

QmgrSlot& InputSlot(Run* run) { return run->Qmgrs[run->Options->InputSlot]; }

// Keeps the first failure of a callback as the run's code.
void Hold(Run* run, int rc) {
  if (rc != 0 && run->Engine.Consume.HeldCode == 0) run->Engine.Consume.HeldCode = rc;
}

// MQCTL with a default MQCTLO whose ConnectionArea is the run; reported
// as `label` with -va. Returns the reason when it failed, else 0.
MQLONG Control(Run* run, MQLONG operation, const char* label, MQLONG* reason) {
  QmgrSlot& slot = InputSlot(run);
  MQCTLO ctlo = {MQCTLO_DEFAULT};
  ctlo.ConnectionArea = run;
  MQLONG compCode = MQCC_OK;
  *reason = MQRC_NONE;
  slot.Api->MQCTL(slot.Hconn, operation, &ctlo, &compCode, reason);
  if (run->Options->PrintApis) ReportMqiCall(label, slot.Name, nullptr, *reason);
  if (compCode != MQCC_FAILED) return 0;
  if (*reason == MQRC_NONE) *reason = MQRC_UNEXPECTED_ERROR;
  return *reason;
}

// The get run and descriptor shared by every registration.
void PrepareGet(const Run* run, MQMD* md, MQGMO* gmo) {
  gmo->Options = SetGetOptions(run, gmo->Options, false) | MQGMO_WAIT;
  gmo->WaitInterval = 0;
  ResetDescriptorDefaults(md);
  SetGetMatching(run, md, gmo);
}

// Registers the consumer on every input queue, in list order. 0 or the
// failed registration's reason (Quiet then on).
int RegisterConsumers(Run* run) {
  QmgrSlot& slot = InputSlot(run);
  InputQueues& input = run->Engine.Input;
  MQMD md;
  MQGMO gmo = {MQGMO_DEFAULT};
  PrepareGet(run, &md, &gmo);
  for (int32_t i = 0; i < input.Count; i++) {
    QueueElement* element = &input.Elements[i];
    element->Empty = 0;
    element->Active = 0;
    MQCBD cbd = {MQCBD_DEFAULT};
    cbd.CallbackFunction = reinterpret_cast<MQPTR>(ConsumeCallback);
    cbd.CallbackArea = element;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    slot.Api->MQCB(slot.Hconn, MQOP_REGISTER, &cbd, element->Hobj, &md, &gmo, &compCode, &reason);
    if (run->Options->PrintApis) ReportMqiCall("MQCB(REGISTER)", slot.Name, element->Name, reason);
    if (compCode == MQCC_FAILED) {
      if (reason == MQRC_NONE) reason = MQRC_UNEXPECTED_ERROR;
      run->Settings.Quiet = true;
      return SetExitMessage(run, reason, "MQCB(REGISTER)(%.48s/%.48s) failed RC(%d) %s", slot.Name,
                            element->Name, reason, MqReasonText(reason));
    }
  }
  return 0;
}

// The callback's stop: backs out a failed unit, stops delivery (asked
// again a bounded number of times while it fails), and wakes the main
// thread. Runs without the run-state lock: the main thread reads nothing
// this writes until its own MQCTL STOP has returned.
void StopConsumption(Run* run) {
  for (int attempt = 0; attempt < kStopAttempts; attempt++) {
    if (run->Engine.Consume.HeldCode != 0) BackoutAll(run);
    MQLONG reason;
    if (Control(run, MQOP_STOP, "MQCTL(STOP)", &reason) == 0) break;
    SetExitMessage(run, reason, "MQCTL(STOP)(%.48s) failed RC(%d) %s", InputSlot(run).Name, reason,
                   MqReasonText(reason));
  }
  PostEvent(&run->Engine.Consume.Event);
}

// A delivered message, through the same selection and delivery as the
// cycle's. The delivered descriptor and data are the library's, lent for
// this call only.
int ConsumeMessage(Run* run, QueueElement* element, PMQVOID mqmd, PMQVOID buffer,
                   const MQCBC* context) {
  InputQueues& input = run->Engine.Input;
  if (element->Active == 0) {
    element->Active = 1;
    input.ActiveCount++;
  }
  run->Engine.LastMessageTime = time(nullptr);
  run->Counters.MessageIndex++;
  MessageBuffer& m = run->Message;
  m.Descriptor = static_cast<MQMD*>(mqmd);
  m.Cursor = buffer != nullptr ? static_cast<unsigned char*>(buffer) : m.Storage;
  m.DataLength = context->DataLength;
  if (context->CallType == MQCBCT_MSG_REMOVED) {
    // Taken off its queue: what a rescue (outside syncpoint) puts back and
    // the report of a unit left on two queue managers names. The buffer
    // is the library's, valid until this call returns, as is the rescue.
    run->Engine.TakenDescriptor = *m.Descriptor;
    run->Engine.TakenLength = context->DataLength;
    run->Engine.TakenData = m.Cursor;
  }
  int rc = ProcessMessage(run, element);
  m.Descriptor = &m.OwnDescriptor;
  m.Cursor = m.Storage;
  m.DataLength = 0;
  run->Engine.TakenData = nullptr;  // the lent buffer is gone after this call
  return rc;
}

// A queue that reported no message: idle bookkeeping, then the flush and
// the commit that are due once every queue is idle.
int QueueIdle(Run* run, QueueElement* element) {
  InputQueues& input = run->Engine.Input;
  if (element->Active != 0) {
    element->Active = 0;
    input.ActiveCount--;
  }
  if (element->Empty == 0) {
    element->Empty = 1;
    input.EmptyCount++;
  }
  int rc = FlushOutputForCommit(run);
  if (rc == 0 && run->Engine.UowMessageCount > 0 && input.ActiveCount == 0 &&
      run->Options->TransactionLimit != -1)
    rc = CommitAll(run);
  return rc;
}

// Without a wait interval a queue leaves once it has reported empty; when
// it cannot, START_WAIT would never end, so the run stops instead.
int Deregister(Run* run, MQHCONN hconn, QueueElement* element) {
  QmgrSlot& slot = InputSlot(run);
  MQCBD cbd = {MQCBD_DEFAULT};
  MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
  slot.Api->MQCB(hconn, MQOP_DEREGISTER, &cbd, element->Hobj, nullptr, nullptr, &compCode, &reason);
  if (run->Options->PrintApis) ReportMqiCall("MQCB(DEREGISTER)", slot.Name, element->Name, reason);
  if (compCode != MQCC_FAILED) return 0;
  if (reason == MQRC_NONE) reason = MQRC_UNEXPECTED_ERROR;
  return SetExitMessage(run, reason, "MQCB(DEREGISTER)(%.48s/%.48s) failed RC(%d) %s", slot.Name,
                        element->Name, reason, MqReasonText(reason));
}

// An event: no message on the queue, or a failure the library reports.
int ConsumeEvent(Run* run, MQHCONN hconn, QueueElement* element, const MQCBC* context) {
  QmgrSlot& slot = InputSlot(run);
  int rc;
  if (context->Reason == MQRC_NO_MSG_AVAILABLE) {
    rc = QueueIdle(run, element);
  } else {
    run->StopRequested = true;
    const char* name = element != nullptr ? element->Name : "";
    if (run->Options->PrintApis) ReportMqiCall("MQCB(CALLBACK)", slot.Name, name, context->Reason);
    if (context->CompCode != MQCC_FAILED) return 0;
    MQLONG reason = context->Reason != MQRC_NONE ? context->Reason : MQRC_UNEXPECTED_ERROR;
    return SetExitMessage(run, reason, "MQCB(CALLBACK)(%.48s/%.48s) failed RC(%d) %s", slot.Name,
                          name, reason, MqReasonText(reason));
  }
  if (rc == 0 && run->Options->WaitInterval == 0) rc = Deregister(run, hconn, element);
  return rc;
}

// Waits while the -w interval and the file age last and nothing stops
// the run, in slices of a second at most so that a stop signal is seen.
// Returns 0, the signal's code (2549), or 2102 when the wait itself fails.
int WaitWhileConsuming(Run* run) {
  EventSemaphore* event = &run->Engine.Consume.Event;
  for (;;) {
    pthread_mutex_lock(&event->Mutex);
    int64_t now = time(nullptr);
    int32_t wait = RemainingWait(run, now);
    int32_t age = RemainingFileAge(run, now);
    pthread_mutex_unlock(&event->Mutex);
    int32_t seconds = wait < age ? wait : age;
    int result = 0;
    if (seconds > 0) {
      if (seconds > kSignalSliceSeconds) seconds = kSignalSliceSeconds;
      result = WaitEvent(event, static_cast<uint32_t>(seconds) * 1000u);
    }
    pthread_mutex_lock(&event->Mutex);
    int rc = 0;
    if (PendingStopSignal() != 0 && !run->StopRequested) {
      rc = StopForSignal(run);
    } else if (result != 0 && result != 2) {
      rc = SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Error waiting on semaphore RC(%d).", result);
      run->StopRequested = true;
    }
    now = time(nullptr);
    bool more =
        RemainingWait(run, now) > 0 && RemainingFileAge(run, now) > 0 && !run->StopRequested;
    pthread_mutex_unlock(&event->Mutex);
    if (rc != 0 || !more) return rc;
  }
}

// Consumption on the library's thread, stopped and started again for
// every output-file roll-over by age, until the -w interval has passed
// or something stops the run.
int ConsumeOnLibraryThread(Run* run) {
  QmgrSlot& slot = InputSlot(run);
  MQLONG reason;
  for (;;) {
    if (Control(run, MQOP_START, "MQCTL(START)", &reason) != 0)
      return SetExitMessage(run, reason, "MQCTL(START)(%.48s) failed RC(%d) %s", slot.Name, reason,
                            MqReasonText(reason));
    int rc = WaitWhileConsuming(run);
    if (Control(run, MQOP_STOP, "MQCTL(STOP)", &reason) != 0)
      return SetExitMessage(run, reason, "MQCTL(STOP)(%.48s) failed RC(%d) %s", slot.Name, reason,
                            MqReasonText(reason));
    // Delivery has stopped: the main thread owns the run's state again.
    if (rc != 0) return rc;
    int64_t now = time(nullptr);
    if (RemainingFileAge(run, now) < 1) {
      rc = CloseOutputFile(run);  // the next message opens the next file
      run->Engine.UnflushedCount = 0;
      if (rc != 0) return rc;
    }
    if (run->StopRequested || RemainingWait(run, now) < 1) return 0;
  }
}

}  // namespace

int32_t RemainingWait(const Run* run, int64_t now) {
  if (run->Options->WaitInterval == -1) return kLongestWaitSeconds;
  int64_t left = run->Options->WaitInterval - (now - run->Engine.LastMessageTime);
  const InputQueues& input = run->Engine.Input;
  if (left <= 0 && input.EmptyCount < input.Count) return kDrainGraceSeconds;
  if (left > kLongestWaitSeconds) return kLongestWaitSeconds;
  return static_cast<int32_t>(left);
}

int32_t RemainingFileAge(const Run* run, int64_t now) {
  if (run->Files.OutputStream == nullptr || run->Options->MaxFileAge <= 0)
    return kLongestWaitSeconds;
  int64_t left = run->Options->MaxFileAge - (now - run->Files.FileOpenTime);
  if (left > kLongestWaitSeconds) return kLongestWaitSeconds;
  return static_cast<int32_t>(left < -kLongestWaitSeconds ? -kLongestWaitSeconds : left);
}

extern "C" void ConsumeCallback(MQHCONN hconn, PMQVOID mqmd, PMQVOID gmo, PMQVOID buffer,
                                PMQCBC context) {
  (void)gmo;
  if (context == nullptr || context->ConnectionArea == nullptr) return;
  Run* run = static_cast<Run*>(context->ConnectionArea);
  QueueElement* element = static_cast<QueueElement*>(context->CallbackArea);
  LockRunState(run);
  // After a stop was asked for (and could not be made), nothing more is
  // processed: the stop is asked again, and the unit backed out again.
  bool stopping = run->StopRequested;
  bool fileWasOpen = run->Files.OutputStream != nullptr;
  int rc = 0;
  if (!stopping && element != nullptr) {
    if (context->CallType == MQCBCT_MSG_REMOVED || context->CallType == MQCBCT_MSG_NOT_REMOVED) {
      rc = ConsumeMessage(run, element, mqmd, buffer, context);
    } else if (context->CallType == MQCBCT_EVENT_CALL) {
      rc = ConsumeEvent(run, hconn, element, context);
    }
  } else if (!stopping && context->CallType == MQCBCT_EVENT_CALL) {
    rc = ConsumeEvent(run, hconn, nullptr, context);
  }
  // A stop signal ends the run after the message in hand (a boundary):
  // the unit it joined is backed out with the rest.
  if (rc == 0 && !stopping && PendingStopSignal() != 0) rc = StopForSignal(run);
  if (rc != 0) {
    run->StopRequested = true;
    Hold(run, rc);
  }
  bool stop = run->StopRequested;
  // A file opened by this message starts an age the main thread's wait
  // knows nothing of: it is woken to measure again.
  bool fileOpened =
      !fileWasOpen && run->Files.OutputStream != nullptr && run->Options->MaxFileAge > 0;
  UnlockRunState(run);
  if (stop) {
    StopConsumption(run);
  } else if (fileOpened) {
    PostEvent(&run->Engine.Consume.Event);
  }
}

int ConsumeQueues(Run* run) {
  QmgrSlot& slot = InputSlot(run);
  ConsumeState& consume = run->Engine.Consume;
  consume.HeldCode = 0;
  consume.Threaded = false;
  if (!MqApiOffersConsume(slot.Api)) {
    run->Settings.Quiet = true;
    return SetExitMessage(run, MQRC_FUNCTION_NOT_SUPPORTED, "%s",
                          "Consuming from multiple queues requires MQCB support in your MQ "
                          "installation");
  }
  run->Engine.Input.EmptyCount = 0;
  run->Engine.Input.ActiveCount = 0;
  int rc = RegisterConsumers(run);
  if (rc != 0) return rc;

  if (run->Options->WaitInterval == 0) {
    if (run->Options->PrintApis) ReportMqiCall("MQCTL(START_WAIT) >", slot.Name, nullptr, 0);
    MQLONG reason;
    rc = Control(run, MQOP_START_WAIT, "MQCTL(START_WAIT) <", &reason);
    // Every queue deregistered: the normal end.
    if (rc == MQRC_NO_CALLBACKS_ACTIVE) rc = 0;
    if (rc != 0)
      SetExitMessage(run, rc, "MQCTL(START_WAIT)(%.48s) failed RC(%d) %s", slot.Name, rc,
                     MqReasonText(rc));
  } else if (!CreateEvent(&consume.Event)) {
    run->Settings.Quiet = true;
    rc = SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "%s", "Can not create event semaphore.");
  } else {
    consume.Threaded = true;
    rc = ConsumeOnLibraryThread(run);
    consume.Threaded = false;
    DestroyEvent(&consume.Event);
  }
  return consume.HeldCode != 0 ? consume.HeldCode : rc;
}
