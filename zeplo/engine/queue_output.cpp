// Opening the output side: the single queue, the distribution list or the
// individual queues of an output list, the -vd listing, and the queue whose
// depth -R * watches.
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/engine/engine.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

bool IsBlankName(const char* name) { return name == nullptr || name[0] == '\0' || name[0] == ' '; }

void PrintDestinationLine(int index, int count, const char* qmgr, const char* queue) {
  char text[kDestinationTextSize];
  FormatDestination(qmgr, queue, text, sizeof text);
  if (count == 1) {
    fprintf(stderr, "Output Destination : %s\n\n", text);
  } else if (index == 0) {
    fprintf(stderr, "Output Destinations : %s\n", text);
  } else {
    fprintf(stderr, "                    : %s\n", text);
  }
}

void PrintDestinations(const Run* run) {
  const QueueList* list = run->Options->OutputList;
  if (list == nullptr) {
    PrintDestinationLine(0, 1, run->Options->OutputQmgrName, run->Options->OutputQueueName);
    return;
  }
  for (int32_t i = 0; i < list->Count; i++) {
    PrintDestinationLine(i, list->Count, list->Entries[i].QmgrName, list->Entries[i].QueueName);
  }
  if (list->Count > 1) fputs("\n", stderr);
}

// Opens every destination of the list on its own handle. Returns 0 or the
// reason of the last open that failed (all are tried, all failures shown).
int OpenIndividualQueues(Run* run, MQLONG openOptions) {
  QmgrSlot& slot = run->Qmgrs[run->Options->OutputSlot];
  QueueList* list = run->Options->OutputList;
  size_t bytes = sizeof(QueueElement) * static_cast<size_t>(list->Count);
  auto* elements = static_cast<QueueElement*>(CSGetMem(bytes, "QELEMS"));
  if (elements == nullptr) {
    fprintf(stderr, "Can not allocate queue element array. Max Destinations = %d\n", list->Count);
    return MQRC_OPTIONS_ERROR;
  }
  memset(static_cast<void*>(elements), 0, bytes);
  run->Engine.Output.Elements = elements;
  run->Engine.Output.Count = list->Count;
  int last = 0;
  for (int32_t i = 0; i < list->Count; i++) {
    const Destination& d = list->Entries[i];
    QueueElement& e = elements[i];
    e.Hobj = MQHO_UNUSABLE_HOBJ;
    e.BackoutHobj = MQHO_UNUSABLE_HOBJ;
    CopyMqName(e.Name, d.QueueName, kMqNameLength);
    MQOD od = {MQOD_DEFAULT};
    od.Version = MQOD_VERSION_3;  // for the resolved names
    memcpy(od.ObjectName, d.QueueName, sizeof od.ObjectName);
    memcpy(od.ObjectQMgrName, d.QmgrName, sizeof od.ObjectQMgrName);
    MQLONG compCode = MQCC_OK;
    MQLONG reason = MQRC_NONE;
    slot.Api->MQOPEN(slot.Hconn, &od, openOptions, &e.Hobj, &compCode, &reason);
    int rc = CheckMqiCall(run, "MQOPEN", d.QmgrName, d.QueueName, compCode, reason);
    if (rc != 0) {
      e.Hobj = MQHO_UNUSABLE_HOBJ;
      last = rc;
      continue;
    }
    CopyMqName(e.ResolvedName, od.ResolvedQName, MQ_Q_NAME_LENGTH);
    CopyMqName(e.ResolvedQmgrName, od.ResolvedQMgrName, MQ_Q_MGR_NAME_LENGTH);
  }
  return last;
}

// True when the queue an output resolved to is one of the input queues.
// Names that did not come back (an MQI that does not resolve) match
// nothing.
bool IsAnInputQueue(const Run* run, const char* resolvedQmgr, const char* resolvedQueue) {
  const InputQueues& inputs = run->Engine.Input;
  if (resolvedQueue[0] == '\0') return false;
  for (int32_t i = 0; i < inputs.Count; i++) {
    const QueueElement& in = inputs.Elements[i];
    if (strcmp(in.ResolvedName, resolvedQueue) == 0 &&
        strcmp(in.ResolvedQmgrName, resolvedQmgr) == 0) {
      return true;
    }
  }
  return false;
}

// A distribution list hands back no resolved names: each destination is
// opened on its own for a moment to learn where it leads. A destination
// that cannot be opened is left to the list's own open to report.
void ResolveDestination(Run* run, const Destination& d, char (&qmgr)[kMqNameLength + 1],
                        char (&queue)[kMqNameLength + 1]) {
  QmgrSlot& slot = run->Qmgrs[run->Options->OutputSlot];
  MQOD od = {MQOD_DEFAULT};
  od.Version = MQOD_VERSION_3;
  memcpy(od.ObjectName, d.QueueName, sizeof od.ObjectName);
  memcpy(od.ObjectQMgrName, d.QmgrName, sizeof od.ObjectQMgrName);
  MQHOBJ hobj = MQHO_UNUSABLE_HOBJ;
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  qmgr[0] = queue[0] = '\0';
  slot.Api->MQOPEN(slot.Hconn, &od, MQOO_OUTPUT, &hobj, &compCode, &reason);
  if (compCode == MQCC_FAILED) return;
  CopyMqName(queue, od.ResolvedQName, MQ_Q_NAME_LENGTH);
  CopyMqName(qmgr, od.ResolvedQMgrName, MQ_Q_MGR_NAME_LENGTH);
  slot.Api->MQCLOSE(slot.Hconn, &hobj, MQCO_NONE, &compCode, &reason);
}

// Copying a queue onto itself never ends (a destructive run takes back
// its own puts; a browse copies its copies until the queue is full).
// `list` is the destination list (null for the single queue `single`
// opened). Returns 0, or 2046 naming the output that leads back to the
// input.
int RefuseCopyOntoInput(Run* run, const QueueList* list, const MQOD& single) {
  if (run->Engine.Input.Elements == nullptr) return 0;
  char qmgr[kMqNameLength + 1];
  char queue[kMqNameLength + 1];
  const QueueElement* opened = run->Engine.Output.Elements;
  int32_t count = list != nullptr ? list->Count : 1;
  for (int32_t i = 0; i < count; i++) {
    if (list == nullptr) {
      CopyMqName(queue, single.ResolvedQName, MQ_Q_NAME_LENGTH);
      CopyMqName(qmgr, single.ResolvedQMgrName, MQ_Q_MGR_NAME_LENGTH);
    } else if (opened != nullptr) {
      CopyMqName(queue, opened[i].ResolvedName, kMqNameLength);
      CopyMqName(qmgr, opened[i].ResolvedQmgrName, kMqNameLength);
    } else {
      ResolveDestination(run, list->Entries[i], qmgr, queue);
    }
    if (!IsAnInputQueue(run, qmgr, queue)) continue;
    char given[kDestinationTextSize];
    if (list == nullptr) {
      FormatDestination(run->Options->OutputQmgrName, run->Options->OutputQueueName, given,
                        sizeof given);
    } else {
      FormatDestination(list->Entries[i].QmgrName, list->Entries[i].QueueName, given, sizeof given);
    }
    fprintf(
        stderr,
        "Sorry, the output '%s' is the input queue %s/%s: a queue can not be copied onto itself.\n",
        given, qmgr, queue);
    return MQRC_OPTIONS_ERROR;
  }
  return 0;
}

// The report line of a call on the whole distribution list: the usual MQI
// call report with the list's name, which holds a blank and so cannot go
// through ReportMqiCall's name handling.
void ReportListCall(const char* label, MQLONG reason) {
  char bare[512];
  FormatMqiCall(bare, sizeof bare, label, nullptr, nullptr, reason);
  size_t labelLength = strlen(label) + 1;  // "<label> "
  const char* rest = strlen(bare) >= labelLength ? bare + labelLength : "";
  char line[600];
  snprintf(line, sizeof line, "%s on object '%s' %s", label, kDistributionListName, rest);
  fputs(line, stderr);
}

// Opens the single queue or the distribution list into OutputHobj. *od is
// left as MQOPEN returned it (ResolvedQName). Returns 0 or the reason.
int OpenQueueOrList(Run* run, MQLONG openOptions, bool monitor, MQOD* od) {
  QmgrSlot& slot = run->Qmgrs[run->Options->OutputSlot];
  QueueList* list = run->Options->OutputList;
  *od = MQOD{MQOD_DEFAULT};
  if (list != nullptr) {
    od->Version = monitor ? MQOD_VERSION_3 : MQOD_VERSION_2;
    od->RecsPresent = list->Count;
    od->ObjectRecPtr = list->Entries;
    od->ResponseRecPtr = run->Engine.Output.Responses;
  } else {
    // ResolvedQName comes back only in a version-3 descriptor.
    od->Version = MQOD_VERSION_3;
    SetMqField(od->ObjectName, run->Options->OutputQueueName);
    SetMqField(od->ObjectQMgrName, run->Options->OutputQmgrName);
  }
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  slot.Api->MQOPEN(slot.Hconn, od, openOptions, &run->Engine.Output.Hobj, &compCode, &reason);

  if (list != nullptr && reason == MQRC_MULTIPLE_REASONS) {
    // Each destination that could not be opened is named with its own
    // reason; the last of them becomes the run's code.
    const MQRR* responses = run->Engine.Output.Responses;
    int failed = 0;
    for (int32_t i = 0; i < list->Count; i++) {
      if (responses[i].CompCode != MQCC_FAILED) continue;
      ReportMqiCall("MQOPEN", list->Entries[i].QmgrName, list->Entries[i].QueueName,
                    responses[i].Reason);
      failed = responses[i].Reason != MQRC_NONE ? responses[i].Reason : MQRC_UNEXPECTED_ERROR;
    }
    if (failed == 0 && compCode == MQCC_FAILED) failed = MQRC_MULTIPLE_REASONS;
    if (failed != 0) return failed;
    if (run->Options->PrintApis) ReportListCall("MQOPEN", reason);
    return 0;
  }
  int rc;
  if (list != nullptr) {
    if (compCode == MQCC_FAILED || run->Options->PrintApis) ReportListCall("MQOPEN", reason);
    rc = compCode != MQCC_FAILED ? 0 : reason != MQRC_NONE ? reason : MQRC_UNEXPECTED_ERROR;
  } else {
    rc = CheckMqiCall(run, "MQOPEN", run->Options->OutputQmgrName, run->Options->OutputQueueName,
                      compCode, reason);
  }
  if (rc != 0) run->Engine.Output.Hobj = MQHO_UNUSABLE_HOBJ;
  return rc;
}

// -R *: opens the queue the puts really land on (an alias or a remote
// definition resolved to its local queue) for inquire.
int OpenMonitorQueue(Run* run, const MQOD& opened) {
  QmgrSlot& slot = run->Qmgrs[run->Options->OutputSlot];
  char name[kMqNameLength + 1];
  CopyMqName(name, opened.ResolvedQName, kMqNameLength);
  if (name[0] == '\0') {
    // A distribution list resolves to no single queue: watch the first
    // destination rather than fail to open a blank name.
    const char* fallback = run->Options->OutputList != nullptr
                               ? run->Options->OutputList->Entries[0].QueueName
                               : run->Options->OutputQueueName;
    CopyMqName(name, fallback, kMqNameLength);
  }
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, name);
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  slot.Api->MQOPEN(slot.Hconn, &od, MQOO_INQUIRE, &run->Engine.Output.MonitorHobj, &compCode, &reason);
  int rc = CheckMqiCall(run, "MQOPEN(INQUIRE)", slot.Name, name, compCode, reason);
  if (rc != 0) {
    run->Engine.Output.MonitorHobj = MQHO_UNUSABLE_HOBJ;
    return rc;
  }
  fprintf(stderr, "Monitoring depth of queue '%.48s'\n\n", name);
  return 0;
}

}  // namespace

void FormatDestination(const char* qmgrName, const char* queueName, char* text, size_t textSize) {
  if (text == nullptr || textSize == 0) return;
  const char* queue = queueName != nullptr ? queueName : "";
  if (IsBlankName(qmgrName)) {
    snprintf(text, textSize, "%.48s", queue);
  } else {
    snprintf(text, textSize, "%.48s/%.48s", qmgrName, queue);
  }
}

int OpenOutputQueues(Run* run) {
  QmgrSlot& slot = run->Qmgrs[run->Options->OutputSlot];
  if (slot.Api == nullptr) return MQRC_UNEXPECTED_ERROR;
  // A list without entries (an empty destination file) is no list at all.
  QueueList* list = run->Options->OutputList;
  if (list != nullptr && list->Count <= 0) list = nullptr;
  const bool monitor = run->Options->Rate == -1;
  const MQLONG openOptions = OutputOpenOptions(run);
  run->Engine.Output.Hobj = MQHO_UNUSABLE_HOBJ;
  run->Engine.Output.MonitorHobj = MQHO_UNUSABLE_HOBJ;

  if (run->Options->PrintDestinations) PrintDestinations(run);

  if (list != nullptr) {
    ReleaseOutputQueues(run);  // a second open (generic runs) starts afresh
    size_t bytes = sizeof(MQRR) * static_cast<size_t>(list->Count);
    MQRR* responses = static_cast<MQRR*>(CSGetMem(bytes, "RESPONSES"));
    if (responses == nullptr) {
      fprintf(stderr, "Can not allocate destination array. Max Destinations = %d\n", list->Count);
      return MQRC_OPTIONS_ERROR;
    }
    memset(static_cast<void*>(responses), 0, bytes);
    run->Engine.Output.Responses = responses;
    if (run->Options->IndividualQueues) {
      int rc = OpenIndividualQueues(run, openOptions);
      MQOD none = {MQOD_DEFAULT};
      return rc != 0 ? rc : RefuseCopyOntoInput(run, list, none);
    }
  }

  MQOD od;
  int rc = OpenQueueOrList(run, openOptions, monitor, &od);
  if (rc == 0) rc = RefuseCopyOntoInput(run, list, od);
  if (rc != 0 || !monitor) return rc;
  return OpenMonitorQueue(run, od);
}

void ReleaseOutputQueues(Run* run) {
  OutputQueues& output = run->Engine.Output;
  CSReleaseMem(&output.Responses);
  CSReleaseMem(&output.Elements);
  output.Count = 0;
}

int32_t InquireTargetDepth(Run* run) {
  if (run->Engine.Output.MonitorHobj == MQHO_UNUSABLE_HOBJ) return 0;
  QmgrSlot& slot = run->Qmgrs[run->Options->OutputSlot];
  MQLONG selector = MQIA_CURRENT_Q_DEPTH;
  MQLONG depth = 0;
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  slot.Api->MQINQ(slot.Hconn, run->Engine.Output.MonitorHobj, 1, &selector, 1, &depth, 0, nullptr, &compCode,
                  &reason);
  return compCode == MQCC_FAILED ? 0 : depth;
}
