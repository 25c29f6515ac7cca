// Queue-manager verbs: create, delete, list, start, stop, alter-qmgr,
// user, fault.
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "localqm/tools/tools.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

// Applies the create/alter-qmgr options to a record. False on a bad value.
bool ApplyQmgrOptions(const ToolArgs& args, LqmQmgr* q) {
  if (!ToolNumberOption(args, "cmdlevel", 0, 99999, &q->CommandLevel) ||
      !ToolNumberOption(args, "platform", 0, 99999, &q->Platform) ||
      !ToolNumberOption(args, "max-cno-version", 1, MQCNO_CURRENT_VERSION, &q->MaxCnoVersion) ||
      !ToolNumberOption(args, "ccsid", 1, 65535, &q->Ccsid))
    return false;
  if (const char* t = ToolOption(args, "deadq")) {
    if (LqmCheckName(t, 1) != 0) {
      fprintf(stderr, "localqm: '%s' is not a valid queue name\n", t);
      return false;
    }
    snprintf(q->DeadLetterQ, sizeof q->DeadLetterQ, "%s", t);
  }
  if (!ToolNumberOption(args, "min-cfh-version", 0, MQCFH_CURRENT_VERSION, &q->MinCfhVersion))
    return false;
  if (ToolFlag(args, "refuse-async-put")) q->RefuseAsyncPut = true;
  if (ToolFlag(args, "allow-async-put")) q->RefuseAsyncPut = false;
  return true;
}

bool MarkStarted(const ToolArgs&, LqmQmgr* q) {
  q->Running = true;
  q->Quiescing = false;
  return true;
}

// A quiescing queue manager still runs: it only refuses what asks to fail.
bool MarkStopped(const ToolArgs& args, LqmQmgr* q) {
  bool quiesce = ToolFlag(args, "quiesce");
  q->Running = quiesce;
  q->Quiescing = quiesce;
  return true;
}

// Reads the record of queue manager args.Words[0], lets `edit` change it
// and writes it back, in one transaction. Returns ToolOpen's status,
// kToolUsage when `edit` refused a value (nothing written), or kToolOk
// with the store's result in *mrc.
int EditQmgr(const ToolArgs& args, bool (*edit)(const ToolArgs&, LqmQmgr*), int* mrc) {
  LqmStore store{};
  int rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  LqmQmgr q;
  bool valid = true;
  *mrc = LqmTxnBegin(&store);
  if (*mrc == 0) {
    *mrc = LqmQmgrRead(&store, &q);
    if (*mrc == 0) valid = edit(args, &q);
    if (*mrc == 0 && valid) *mrc = LqmQmgrWrite(&store, &q);
    *mrc = LqmTxnEnd(&store, valid ? *mrc : MQRC_OPTIONS_ERROR);
  }
  LqmStoreClose(&store);
  return valid ? kToolOk : kToolUsage;
}

// The end of a verb that changed queue manager `qmgr`: the failure, or
// "Queue manager <qmgr> <done>." on standard output.
int QmgrDone(const char* verb, int mrc, const char* qmgr, const char* done) {
  if (mrc != 0) return ToolFail(verb, mrc);
  printf("Queue manager %s %s.\n", qmgr, done);
  return kToolOk;
}

const char* const kCalls[] = {"MQCONN", "MQCONNX", "MQDISC", "MQOPEN", "MQCLOSE", "MQGET",
                              "MQPUT",  "MQPUT1",  "MQINQ",  "MQSET",  "MQCMIT",  "MQBACK"};

}  // namespace

int ToolCreate(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, kQmgrOptions, 1, 1, "create");
  if (rc != kToolOk) return rc;
  LqmQmgr q;
  LqmQmgrDefaults(&q, args.Words[0].c_str());
  if (args.Words[0].size() > kLqmNameLength || LqmCheckName(q.Name, MQRC_Q_MGR_NAME_ERROR) != 0) {
    fprintf(stderr, "localqm: '%s' is not a valid queue manager name\n", args.Words[0].c_str());
    return kToolFailed;
  }
  snprintf(q.DeadLetterQ, sizeof q.DeadLetterQ, "SYSTEM.DEAD.LETTER.QUEUE");
  if (!ApplyQmgrOptions(args, &q)) return kToolUsage;
  rc = LqmStoreCreate(&q, ToolFlag(args, "default"));
  if (rc == MQRC_OBJECT_ALREADY_EXISTS) {
    fprintf(stderr, "localqm: queue manager %s already exists\n", q.Name);
    return kToolFailed;
  }
  return QmgrDone("create", rc, q.Name, "created");
}

int ToolDelete(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {}, 1, 1, "delete");
  if (rc != kToolOk) return rc;
  rc = LqmStoreDelete(args.Words[0].c_str());
  if (rc == MQRC_Q_MGR_NAME_ERROR) {
    fprintf(stderr, "localqm: queue manager %s does not exist\n", args.Words[0].c_str());
    return kToolFailed;
  }
  return QmgrDone("delete", rc, args.Words[0].c_str(), "deleted");
}

int ToolList(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {}, 0, 0, "list");
  if (rc != kToolOk) return rc;
  std::vector<std::string> names;
  rc = LqmListQmgrs(&names);
  if (rc != 0) return ToolFail("list", rc);
  char def[kLqmNameLength + 1];
  LqmDefaultQmgr(def);
  // One line per queue manager: name, state, and "default" when it is.
  for (const std::string& n : names) {
    LqmStore store{};
    LqmQmgr q{};
    bool ok = LqmStoreOpen(n.c_str(), &store) == 0 && LqmQmgrRead(&store, &q) == 0;
    LqmStoreClose(&store);
    printf("%s %s%s\n", n.c_str(),
           !ok ? "damaged" : !q.Running ? "stopped" : q.Quiescing ? "quiescing" : "running",
           n == def ? " default" : "");
  }
  return kToolOk;
}

int ToolStartStop(const ToolArgs& args, bool start) {
  int rc = ToolArgsCheck(args, {"quiesce"}, 1, 1, start ? "start" : "stop");
  if (rc != kToolOk) return rc;
  int mrc = 0;
  rc = EditQmgr(args, start ? MarkStarted : MarkStopped, &mrc);
  if (rc != kToolOk) return rc;
  return QmgrDone(start ? "start" : "stop", mrc, args.Words[0].c_str(),
                  start ? "started" : ToolFlag(args, "quiesce") ? "quiescing" : "stopped");
}

int ToolAlterQmgr(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, kQmgrOptions, 1, 1, "alter-qmgr");
  if (rc != kToolOk) return rc;
  int mrc = 0;
  rc = EditQmgr(args, ApplyQmgrOptions, &mrc);
  if (rc != kToolOk) return rc;
  if (mrc == 0 && ToolFlag(args, "default")) mrc = LqmSetDefaultQmgr(args.Words[0].c_str());
  return QmgrDone("alter-qmgr", mrc, args.Words[0].c_str(), "altered");
}

int ToolUser(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {}, 3, 3, "user");
  if (rc != kToolOk) return rc;
  const std::string& user = args.Words[1];
  if (user.empty() || user.size() > 12) {
    fprintf(stderr, "localqm: a user name has 1 to 12 characters\n");
    return kToolUsage;
  }
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  int mrc = LqmUserSet(&store, user.c_str(), args.Words[2].c_str());
  LqmStoreClose(&store);
  if (mrc != 0) return ToolFail("user", mrc);
  printf("User %s set on queue manager %s.\n", user.c_str(), args.Words[0].c_str());
  return kToolOk;
}

int ToolFault(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {"reason", "queue", "after", "times", "clear"}, 1, 2, "fault");
  if (rc != kToolOk) return rc;
  bool clear = ToolFlag(args, "clear");
  if (clear != (args.Words.size() == 1)) {
    fprintf(stderr, "localqm: fault needs either CALL --reason R or --clear\n");
    return kToolUsage;
  }
  const char* call = nullptr;
  long reason = 0, after = 0, times = 0;
  if (!clear) {
    for (const char* c : kCalls)
      if (strcasecmp(c, args.Words[1].c_str()) == 0) call = c;
    if (call == nullptr) {
      fprintf(stderr, "localqm: '%s' is not an MQI call that faults can be set on\n",
              args.Words[1].c_str());
      return kToolUsage;
    }
    const char* r = ToolOption(args, "reason");
    if (r == nullptr) {
      fprintf(stderr, "localqm: fault needs --reason\n");
      return kToolUsage;
    }
    if (!ToolNumber(r, "--reason", 1, 999999, &reason)) return kToolUsage;
    if (const char* t = ToolOption(args, "after"))
      if (!ToolNumber(t, "--after", 0, 2000000000, &after)) return kToolUsage;
    if (const char* t = ToolOption(args, "times"))
      if (!ToolNumber(t, "--times", 0, 2000000000, &times)) return kToolUsage;
  }
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  const char* queue = ToolOption(args, "queue");
  int mrc = clear ? LqmFaultClear(&store)
                  : LqmFaultAdd(&store, call, queue != nullptr ? queue : "",
                                static_cast<MQLONG>(reason), after, times);
  LqmStoreClose(&store);
  if (mrc != 0) return ToolFail("fault", mrc);
  if (clear)
    printf("Faults cleared on queue manager %s.\n", args.Words[0].c_str());
  else
    printf("Fault set: %s fails with %ld on %s after %ld calls.\n", call, reason,
           queue != nullptr ? queue : "any queue", after);
  return kToolOk;
}
