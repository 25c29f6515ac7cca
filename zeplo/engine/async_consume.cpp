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
// The longest single wait of the main thread, in seconds.
constexpr int32_t kLongestWaitSeconds = 3600;
// RemainingWait while some queue has not yet reported empty.
constexpr int32_t kDrainGraceSeconds = 5;

// The engine's state of one consume: what the callbacks share with the
// main thread besides RunOptions.
struct ConsumeState {
  EventSemaphore Event;  // created only with a wait interval
  bool Threaded;         // callbacks run on the library's thread
  int HeldCode;          // the first failure of a callback; the run's code
};

ConsumeState gConsume;

// With delivery on the library's thread, a callback works on the run's
// state only while it holds the event's mutex (the main thread reads that
// state under it). On the main thread there is nothing to exclude.
void LockRunState() {
  if (gConsume.Threaded) pthread_mutex_lock(&gConsume.Event.Mutex);
}
void UnlockRunState() {
  if (gConsume.Threaded) pthread_mutex_unlock(&gConsume.Event.Mutex);
}

QmgrSlot& InputSlot(RunOptions* options) { return options->Qmgrs[options->InputSlot]; }

void Hold(int rc) {
  if (rc != 0 && gConsume.HeldCode == 0) gConsume.HeldCode = rc;
}

// MQCTL with a default MQCTLO whose ConnectionArea is the run; reported
// as `label` with -va. Returns the reason when it failed, else 0.
MQLONG Control(RunOptions* options, MQLONG operation, const char* label, MQLONG* reason) {
  QmgrSlot& slot = InputSlot(options);
  MQCTLO ctlo = {MQCTLO_DEFAULT};
  ctlo.ConnectionArea = options;
  MQLONG compCode = MQCC_OK;
  *reason = MQRC_NONE;
  slot.Api->MQCTL(slot.Hconn, operation, &ctlo, &compCode, reason);
  if (options->PrintApis) ReportMqiCall(label, slot.Name, nullptr, *reason);
  if (compCode != MQCC_FAILED) return 0;
  if (*reason == MQRC_NONE) *reason = MQRC_UNEXPECTED_ERROR;
  return *reason;
}

// The get options and descriptor shared by every registration.
void PrepareGet(const RunOptions* options, MQMD* md, MQGMO* gmo) {
  gmo->Options = SetGetOptions(options, gmo->Options, false) | MQGMO_WAIT;
  gmo->WaitInterval = 0;
  ResetDescriptorDefaults(md);
  SetGetMatching(options, md, gmo);
}

// Registers the consumer on every input queue, in list order. 0 or the
// failed registration's reason (Quiet then on).
int RegisterConsumers(RunOptions* options) {
  QmgrSlot& slot = InputSlot(options);
  QueueList* list = options->InputList;
  MQMD md;
  MQGMO gmo = {MQGMO_DEFAULT};
  PrepareGet(options, &md, &gmo);
  for (int32_t i = 0; i < list->Count; i++) {
    QueueElement* element = &list->Elements[i];
    element->Empty = 0;
    element->Active = 0;
    MQCBD cbd = {MQCBD_DEFAULT};
    cbd.CallbackFunction = reinterpret_cast<MQPTR>(ConsumeCallback);
    cbd.CallbackArea = element;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    slot.Api->MQCB(slot.Hconn, MQOP_REGISTER, &cbd, element->Hobj, &md, &gmo, &compCode, &reason);
    if (options->PrintApis) ReportMqiCall("MQCB(REGISTER)", slot.Name, element->Name, reason);
    if (compCode == MQCC_FAILED) {
      if (reason == MQRC_NONE) reason = MQRC_UNEXPECTED_ERROR;
      options->Quiet = true;
      return SetExitMessage(options, reason, "MQCB(REGISTER)(%.48s/%.48s) failed RC(%d) %s",
                            slot.Name, element->Name, reason, MqReasonText(reason));
    }
  }
  return 0;
}

// The callback's stop: backs out a failed unit, stops delivery (asked
// again a bounded number of times while it fails), and wakes the main
// thread. Runs without the run-state lock: the main thread reads nothing
// this writes until its own MQCTL STOP has returned.
void StopConsumption(RunOptions* options) {
  for (int attempt = 0; attempt < kStopAttempts; attempt++) {
    if (gConsume.HeldCode != 0) BackoutAll(options);
    MQLONG reason;
    if (Control(options, MQOP_STOP, "MQCTL(STOP)", &reason) == 0) break;
    SetExitMessage(options, reason, "MQCTL(STOP)(%.48s) failed RC(%d) %s", InputSlot(options).Name,
                   reason, MqReasonText(reason));
  }
  PostEvent(&gConsume.Event);
}

// A delivered message, through the same selection and delivery as the
// cycle's. The delivered descriptor and data are the library's, lent for
// this call only.
int ConsumeMessage(RunOptions* options, QueueElement* element, PMQVOID mqmd, PMQVOID buffer,
                   const MQCBC* context) {
  QueueList* list = options->InputList;
  if (element->Active == 0) {
    element->Active = 1;
    list->ActiveCount++;
  }
  options->LastMessageTime = time(nullptr);
  options->MessageIndex++;
  MessageBuffer& m = options->Message;
  m.Descriptor = static_cast<MQMD*>(mqmd);
  m.Cursor = buffer != nullptr ? static_cast<unsigned char*>(buffer) : m.Storage;
  m.DataLength = context->DataLength;
  int rc = ProcessMessage(options, element, true);
  m.Descriptor = &m.OwnDescriptor;
  m.Cursor = m.Storage;
  m.DataLength = 0;
  return rc;
}

// A queue that reported no message: idle bookkeeping, then the flush and
// the commit that are due once every queue is idle.
int QueueIdle(RunOptions* options, QueueElement* element) {
  QueueList* list = options->InputList;
  if (element->Active != 0) {
    element->Active = 0;
    list->ActiveCount--;
  }
  if (element->Empty == 0) {
    element->Empty = 1;
    list->EmptyCount++;
  }
  int rc = FlushOutputForCommit(options);
  if (rc == 0 && options->UowMessageCount > 0 && list->ActiveCount == 0 &&
      options->TransactionLimit != -1)
    rc = CommitAll(options);
  return rc;
}

// Without a wait interval a queue leaves once it has reported empty; when
// it cannot, START_WAIT would never end, so the run stops instead.
int Deregister(RunOptions* options, MQHCONN hconn, QueueElement* element) {
  QmgrSlot& slot = InputSlot(options);
  MQCBD cbd = {MQCBD_DEFAULT};
  MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
  slot.Api->MQCB(hconn, MQOP_DEREGISTER, &cbd, element->Hobj, nullptr, nullptr, &compCode, &reason);
  if (options->PrintApis) ReportMqiCall("MQCB(DEREGISTER)", slot.Name, element->Name, reason);
  if (compCode != MQCC_FAILED) return 0;
  if (reason == MQRC_NONE) reason = MQRC_UNEXPECTED_ERROR;
  return SetExitMessage(options, reason, "MQCB(DEREGISTER)(%.48s/%.48s) failed RC(%d) %s",
                        slot.Name, element->Name, reason, MqReasonText(reason));
}

// An event: no message on the queue, or a failure the library reports.
int ConsumeEvent(RunOptions* options, MQHCONN hconn, QueueElement* element, const MQCBC* context) {
  QmgrSlot& slot = InputSlot(options);
  int rc;
  if (context->Reason == MQRC_NO_MSG_AVAILABLE) {
    rc = QueueIdle(options, element);
  } else {
    options->StopRequested = true;
    const char* name = element != nullptr ? element->Name : "";
    if (options->PrintApis) ReportMqiCall("MQCB(CALLBACK)", slot.Name, name, context->Reason);
    if (context->CompCode != MQCC_FAILED) return 0;
    MQLONG reason = context->Reason != MQRC_NONE ? context->Reason : MQRC_UNEXPECTED_ERROR;
    return SetExitMessage(options, reason, "MQCB(CALLBACK)(%.48s/%.48s) failed RC(%d) %s",
                          slot.Name, name, reason, MqReasonText(reason));
  }
  if (rc == 0 && options->WaitInterval == 0) rc = Deregister(options, hconn, element);
  return rc;
}

// Waits while the -w interval and the file age last and nothing stops
// the run. Returns 0, or 2102 when the wait itself fails.
int WaitWhileConsuming(RunOptions* options) {
  EventSemaphore* event = &gConsume.Event;
  for (;;) {
    pthread_mutex_lock(&event->Mutex);
    int64_t now = time(nullptr);
    int32_t wait = RemainingWait(options, now);
    int32_t age = RemainingFileAge(options, now);
    pthread_mutex_unlock(&event->Mutex);
    int32_t seconds = wait < age ? wait : age;
    int result = 0;
    if (seconds > 0) {
      if (seconds > kLongestWaitSeconds) seconds = kLongestWaitSeconds;
      result = WaitEvent(event, static_cast<uint32_t>(seconds) * 1000u);
    }
    pthread_mutex_lock(&event->Mutex);
    int rc = 0;
    if (result != 0 && result != 2) {
      rc = SetExitMessage(options, MQRC_RESOURCE_PROBLEM, "Error waiting on semaphore RC(%d).",
                          result);
      options->StopRequested = true;
    }
    now = time(nullptr);
    bool more = RemainingWait(options, now) > 0 && RemainingFileAge(options, now) > 0 &&
                !options->StopRequested;
    pthread_mutex_unlock(&event->Mutex);
    if (rc != 0 || !more) return rc;
  }
}

// Consumption on the library's thread, stopped and started again for
// every output-file roll-over by age, until the -w interval has passed
// or something stops the run.
int ConsumeOnLibraryThread(RunOptions* options) {
  QmgrSlot& slot = InputSlot(options);
  MQLONG reason;
  for (;;) {
    if (Control(options, MQOP_START, "MQCTL(START)", &reason) != 0)
      return SetExitMessage(options, reason, "MQCTL(START)(%.48s) failed RC(%d) %s", slot.Name,
                            reason, MqReasonText(reason));
    int rc = WaitWhileConsuming(options);
    if (Control(options, MQOP_STOP, "MQCTL(STOP)", &reason) != 0)
      return SetExitMessage(options, reason, "MQCTL(STOP)(%.48s) failed RC(%d) %s", slot.Name,
                            reason, MqReasonText(reason));
    // Delivery has stopped: the main thread owns the run's state again.
    if (rc != 0) return rc;
    int64_t now = time(nullptr);
    if (RemainingFileAge(options, now) < 1) {
      rc = CloseOutputFile(options);  // the next message opens the next file
      options->UnflushedCount = 0;
      if (rc != 0) return rc;
    }
    if (options->StopRequested || RemainingWait(options, now) < 1) return 0;
  }
}

}  // namespace

int32_t RemainingWait(const RunOptions* options, int64_t now) {
  if (options->WaitInterval == -1) return kLongestWaitSeconds;
  int64_t left = options->WaitInterval - (now - options->LastMessageTime);
  const QueueList* list = options->InputList;
  if (left <= 0 && list->EmptyCount < list->Count) return kDrainGraceSeconds;
  if (left > kLongestWaitSeconds) return kLongestWaitSeconds;
  return static_cast<int32_t>(left);
}

int32_t RemainingFileAge(const RunOptions* options, int64_t now) {
  if (options->OutputStream == nullptr || options->MaxFileAge <= 0) return kLongestWaitSeconds;
  int64_t left = options->MaxFileAge - (now - options->FileOpenTime);
  if (left > kLongestWaitSeconds) return kLongestWaitSeconds;
  return static_cast<int32_t>(left < -kLongestWaitSeconds ? -kLongestWaitSeconds : left);
}

extern "C" void ConsumeCallback(MQHCONN hconn, PMQVOID mqmd, PMQVOID gmo, PMQVOID buffer,
                                PMQCBC context) {
  (void)gmo;
  if (context == nullptr || context->ConnectionArea == nullptr) return;
  RunOptions* options = static_cast<RunOptions*>(context->ConnectionArea);
  QueueElement* element = static_cast<QueueElement*>(context->CallbackArea);
  LockRunState();
  // After a stop was asked for (and could not be made), nothing more is
  // processed: the stop is asked again, and the unit backed out again.
  bool stopping = options->StopRequested;
  bool fileWasOpen = options->OutputStream != nullptr;
  int rc = 0;
  if (!stopping && element != nullptr) {
    if (context->CallType == MQCBCT_MSG_REMOVED || context->CallType == MQCBCT_MSG_NOT_REMOVED) {
      rc = ConsumeMessage(options, element, mqmd, buffer, context);
    } else if (context->CallType == MQCBCT_EVENT_CALL) {
      rc = ConsumeEvent(options, hconn, element, context);
    }
  } else if (!stopping && context->CallType == MQCBCT_EVENT_CALL) {
    rc = ConsumeEvent(options, hconn, nullptr, context);
  }
  if (rc != 0) {
    options->StopRequested = true;
    Hold(rc);
  }
  bool stop = options->StopRequested;
  // A file opened by this message starts an age the main thread's wait
  // knows nothing of: it is woken to measure again.
  bool fileOpened = !fileWasOpen && options->OutputStream != nullptr && options->MaxFileAge > 0;
  UnlockRunState();
  if (stop) {
    StopConsumption(options);
  } else if (fileOpened) {
    PostEvent(&gConsume.Event);
  }
}

int ConsumeQueues(RunOptions* options) {
  QmgrSlot& slot = InputSlot(options);
  gConsume.HeldCode = 0;
  gConsume.Threaded = false;
  if (!MqApiOffersConsume(slot.Api)) {
    options->Quiet = true;
    return SetExitMessage(options, MQRC_FUNCTION_NOT_SUPPORTED, "%s",
                          "Consuming from multiple queues requires MQCB support in your MQ "
                          "installation");
  }
  options->InputList->EmptyCount = 0;
  options->InputList->ActiveCount = 0;
  int rc = RegisterConsumers(options);
  if (rc != 0) return rc;

  if (options->WaitInterval == 0) {
    if (options->PrintApis) ReportMqiCall("MQCTL(START_WAIT) >", slot.Name, nullptr, 0);
    MQLONG reason;
    rc = Control(options, MQOP_START_WAIT, "MQCTL(START_WAIT) <", &reason);
    // Every queue deregistered: the normal end.
    if (rc == MQRC_NO_CALLBACKS_ACTIVE) rc = 0;
    if (rc != 0 && options->ExitMessage[0] == '\0')
      SetExitMessage(options, rc, "MQCTL(START_WAIT)(%.48s) failed RC(%d) %s", slot.Name, rc,
                     MqReasonText(rc));
  } else if (!CreateEvent(&gConsume.Event)) {
    options->Quiet = true;
    rc = SetExitMessage(options, MQRC_RESOURCE_PROBLEM, "%s", "Can not create event semaphore.");
  } else {
    gConsume.Threaded = true;
    rc = ConsumeOnLibraryThread(options);
    gConsume.Threaded = false;
    DestroyEvent(&gConsume.Event);
  }
  return gConsume.HeldCode != 0 ? gConsume.HeldCode : rc;
}
