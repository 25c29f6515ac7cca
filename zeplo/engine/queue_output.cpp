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

void PrintDestinations(const RunOptions* options) {
  const QueueList* list = options->OutputList;
  if (list == nullptr) {
    PrintDestinationLine(0, 1, options->OutputQmgrName, options->OutputQueueName);
    return;
  }
  for (int32_t i = 0; i < list->Count; i++) {
    PrintDestinationLine(i, list->Count, list->Entries[i].QmgrName, list->Entries[i].QueueName);
  }
  if (list->Count > 1) fputs("\n", stderr);
}

// Opens every destination of the list on its own handle. Returns 0 or the
// reason of the last open that failed (all are tried, all failures shown).
int OpenIndividualQueues(RunOptions* options, MQLONG openOptions) {
  QmgrSlot& slot = options->Qmgrs[options->OutputSlot];
  QueueList* list = options->OutputList;
  size_t bytes = sizeof(QueueElement) * static_cast<size_t>(list->Count);
  auto* elements = static_cast<QueueElement*>(CSGetMem(bytes, "QELEMS"));
  if (elements == nullptr) {
    fprintf(stderr, "Can not allocate queue element array. Max Destinations = %d\n", list->Count);
    return MQRC_OPTIONS_ERROR;
  }
  memset(static_cast<void*>(elements), 0, bytes);
  list->Elements = elements;
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
    int rc = CheckMqiCall(options, "MQOPEN", d.QmgrName, d.QueueName, compCode, reason);
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
bool IsAnInputQueue(const RunOptions* options, const char* resolvedQmgr,
                    const char* resolvedQueue) {
  const QueueList* inputs = options->InputList;
  if (resolvedQueue[0] == '\0') return false;
  for (int32_t i = 0; i < inputs->Count; i++) {
    const QueueElement& in = inputs->Elements[i];
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
void ResolveDestination(RunOptions* options, const Destination& d, char (&qmgr)[kMqNameLength + 1],
                        char (&queue)[kMqNameLength + 1]) {
  QmgrSlot& slot = options->Qmgrs[options->OutputSlot];
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
// Returns 0, or 2046 naming the output that leads back to the input.
int RefuseCopyOntoInput(RunOptions* options, const MQOD& single) {
  if (options->InputList == nullptr || options->InputList->Elements == nullptr) return 0;
  char qmgr[kMqNameLength + 1];
  char queue[kMqNameLength + 1];
  const QueueList* list = options->OutputList;
  int32_t count = list != nullptr ? list->Count : 1;
  for (int32_t i = 0; i < count; i++) {
    if (list == nullptr) {
      CopyMqName(queue, single.ResolvedQName, MQ_Q_NAME_LENGTH);
      CopyMqName(qmgr, single.ResolvedQMgrName, MQ_Q_MGR_NAME_LENGTH);
    } else if (list->Elements != nullptr) {
      CopyMqName(queue, list->Elements[i].ResolvedName, kMqNameLength);
      CopyMqName(qmgr, list->Elements[i].ResolvedQmgrName, kMqNameLength);
    } else {
      ResolveDestination(options, list->Entries[i], qmgr, queue);
    }
    if (!IsAnInputQueue(options, qmgr, queue)) continue;
    char given[kDestinationTextSize];
    if (list == nullptr) {
      FormatDestination(options->OutputQmgrName, options->OutputQueueName, given, sizeof given);
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
int OpenQueueOrList(RunOptions* options, MQLONG openOptions, bool monitor, MQOD* od) {
  QmgrSlot& slot = options->Qmgrs[options->OutputSlot];
  QueueList* list = options->OutputList;
  *od = MQOD{MQOD_DEFAULT};
  if (list != nullptr) {
    od->Version = monitor ? MQOD_VERSION_3 : MQOD_VERSION_2;
    od->RecsPresent = list->Count;
    od->ObjectRecPtr = list->Entries;
    od->ResponseRecPtr = list->Responses;
  } else {
    // ResolvedQName comes back only in a version-3 descriptor.
    od->Version = MQOD_VERSION_3;
    SetMqField(od->ObjectName, options->OutputQueueName);
    SetMqField(od->ObjectQMgrName, options->OutputQmgrName);
  }
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  slot.Api->MQOPEN(slot.Hconn, od, openOptions, &options->OutputHobj, &compCode, &reason);

  if (list != nullptr && reason == MQRC_MULTIPLE_REASONS) {
    // Each destination that could not be opened is named with its own
    // reason; the last of them becomes the run's code.
    const MQRR* responses = static_cast<const MQRR*>(list->Responses);
    int failed = 0;
    for (int32_t i = 0; i < list->Count; i++) {
      if (responses[i].CompCode != MQCC_FAILED) continue;
      ReportMqiCall("MQOPEN", list->Entries[i].QmgrName, list->Entries[i].QueueName,
                    responses[i].Reason);
      failed = responses[i].Reason != MQRC_NONE ? responses[i].Reason : MQRC_UNEXPECTED_ERROR;
    }
    if (failed == 0 && compCode == MQCC_FAILED) failed = MQRC_MULTIPLE_REASONS;
    if (failed != 0) return failed;
    if (options->PrintApis) ReportListCall("MQOPEN", reason);
    return 0;
  }
  int rc;
  if (list != nullptr) {
    if (compCode == MQCC_FAILED || options->PrintApis) ReportListCall("MQOPEN", reason);
    rc = compCode != MQCC_FAILED ? 0 : reason != MQRC_NONE ? reason : MQRC_UNEXPECTED_ERROR;
  } else {
    rc = CheckMqiCall(options, "MQOPEN", options->OutputQmgrName, options->OutputQueueName,
                      compCode, reason);
  }
  if (rc != 0) options->OutputHobj = MQHO_UNUSABLE_HOBJ;
  return rc;
}

// -R *: opens the queue the puts really land on (an alias or a remote
// definition resolved to its local queue) for inquire.
int OpenMonitorQueue(RunOptions* options, const MQOD& opened) {
  QmgrSlot& slot = options->Qmgrs[options->OutputSlot];
  char name[kMqNameLength + 1];
  CopyMqName(name, opened.ResolvedQName, kMqNameLength);
  if (name[0] == '\0') {
    // A distribution list resolves to no single queue: watch the first
    // destination rather than fail to open a blank name.
    const char* fallback = options->OutputList != nullptr
                               ? options->OutputList->Entries[0].QueueName
                               : options->OutputQueueName;
    CopyMqName(name, fallback, kMqNameLength);
  }
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, name);
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  slot.Api->MQOPEN(slot.Hconn, &od, MQOO_INQUIRE, &options->MonitorHobj, &compCode, &reason);
  int rc = CheckMqiCall(options, "MQOPEN(INQUIRE)", slot.Name, name, compCode, reason);
  if (rc != 0) {
    options->MonitorHobj = MQHO_UNUSABLE_HOBJ;
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

int OpenOutputQueues(RunOptions* options) {
  QmgrSlot& slot = options->Qmgrs[options->OutputSlot];
  if (slot.Api == nullptr) return MQRC_UNEXPECTED_ERROR;
  // A list without entries (an empty destination file) is no list at all.
  if (options->OutputList != nullptr && options->OutputList->Count <= 0) {
    QueueListRelease(&options->OutputList);
  }
  QueueList* list = options->OutputList;
  const bool monitor = options->Rate == -1;
  const MQLONG openOptions = OutputOpenOptions(options);
  options->OutputHobj = MQHO_UNUSABLE_HOBJ;
  options->MonitorHobj = MQHO_UNUSABLE_HOBJ;

  if (options->PrintDestinations) PrintDestinations(options);

  if (list != nullptr) {
    ReleaseOutputQueues(options);  // a second open (generic runs) starts afresh
    size_t bytes = sizeof(MQRR) * static_cast<size_t>(list->Count);
    list->Responses = CSGetMem(bytes, "RESPONSES");
    if (list->Responses == nullptr) {
      fprintf(stderr, "Can not allocate destination array. Max Destinations = %d\n", list->Count);
      return MQRC_OPTIONS_ERROR;
    }
    memset(list->Responses, 0, bytes);
    if (options->IndividualQueues) {
      int rc = OpenIndividualQueues(options, openOptions);
      MQOD none = {MQOD_DEFAULT};
      return rc != 0 ? rc : RefuseCopyOntoInput(options, none);
    }
  }

  MQOD od;
  int rc = OpenQueueOrList(options, openOptions, monitor, &od);
  if (rc == 0) rc = RefuseCopyOntoInput(options, od);
  if (rc != 0 || !monitor) return rc;
  return OpenMonitorQueue(options, od);
}

void ReleaseOutputQueues(RunOptions* options) {
  QueueList* list = options->OutputList;
  if (list == nullptr) return;
  CSReleaseMem(&list->Responses);
  CSReleaseMem(&list->Elements);
}

int32_t InquireTargetDepth(RunOptions* options) {
  if (options->MonitorHobj == MQHO_UNUSABLE_HOBJ) return 0;
  QmgrSlot& slot = options->Qmgrs[options->OutputSlot];
  MQLONG selector = MQIA_CURRENT_Q_DEPTH;
  MQLONG depth = 0;
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  slot.Api->MQINQ(slot.Hconn, options->MonitorHobj, 1, &selector, 1, &depth, 0, nullptr, &compCode,
                  &reason);
  return compCode == MQCC_FAILED ? 0 : depth;
}
