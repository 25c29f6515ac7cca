// Queue verbs: define, alter, remove, show, depth, clear.
#include <cstdio>
#include <cstring>

#include "localqm/tools/tools.h"
#include "zeplo/util/banned.h"  // after every other header

const std::vector<std::string> kQueueOptions = {
    "type",   "target",  "maxdepth", "maxmsgl", "boqname", "bothresh",     "put",
    "get",    "deny-inquire", "allow-inquire", "defprty", "defpsist", "defsopt", "deftype",
    "descr"};

namespace {

bool QueueName(const char* text, const char* what, char* out) {
  if (strlen(text) > kLqmNameLength || LqmCheckName(text, 1) != 0) {
    fprintf(stderr, "localqm: '%s' is not a valid %s\n", text, what);
    return false;
  }
  snprintf(out, kLqmNameLength + 1, "%s", text);
  return true;
}

bool Choice(const char* text, const char* what, const char* yes, const char* no, bool* out) {
  if (strcmp(text, yes) == 0) {
    *out = true;
    return true;
  }
  if (strcmp(text, no) == 0) {
    *out = false;
    return true;
  }
  fprintf(stderr, "localqm: %s must be %s or %s, not '%s'\n", what, yes, no, text);
  return false;
}

bool ApplyQueueOptions(const ToolArgs& args, LqmQueue* q) {
  bool b;
  if (const char* t = ToolOption(args, "type")) {
    if (strcmp(t, "local") == 0) q->Type = MQQT_LOCAL;
    else if (strcmp(t, "model") == 0) q->Type = MQQT_MODEL;
    else if (strcmp(t, "alias") == 0) q->Type = MQQT_ALIAS;
    else {
      fprintf(stderr, "localqm: --type must be local, model or alias, not '%s'\n", t);
      return false;
    }
    if (q->Type == MQQT_MODEL && q->DefinitionType == MQQDT_PREDEFINED)
      q->DefinitionType = MQQDT_TEMPORARY_DYNAMIC;
    if (q->Type != MQQT_MODEL) q->DefinitionType = MQQDT_PREDEFINED;
  }
  if (const char* t = ToolOption(args, "target"))
    if (!QueueName(t, "--target queue name", q->Target)) return false;
  if (!ToolNumberOption(args, "maxdepth", 0, 999999999, &q->MaxDepth)) return false;
  if (!ToolNumberOption(args, "maxmsgl", 0, kLqmQmgrMaxMsgLength, &q->MaxMsgLength)) return false;
  if (const char* t = ToolOption(args, "boqname")) {
    if (t[0] == '\0') q->BackoutQName[0] = '\0';
    else if (!QueueName(t, "--boqname queue name", q->BackoutQName)) return false;
  }
  if (!ToolNumberOption(args, "bothresh", 0, 999999999, &q->BackoutThreshold)) return false;
  if (const char* t = ToolOption(args, "put")) {
    if (!Choice(t, "--put", "disabled", "enabled", &b)) return false;
    q->PutInhibited = b;
  }
  if (const char* t = ToolOption(args, "get")) {
    if (!Choice(t, "--get", "disabled", "enabled", &b)) return false;
    q->GetInhibited = b;
  }
  if (ToolFlag(args, "deny-inquire")) q->DenyInquire = true;
  if (ToolFlag(args, "allow-inquire")) q->DenyInquire = false;
  if (!ToolNumberOption(args, "defprty", 0, kLqmMaxPriority, &q->DefPriority)) return false;
  if (const char* t = ToolOption(args, "defpsist")) {
    if (!Choice(t, "--defpsist", "yes", "no", &b)) return false;
    q->DefPersistence = b ? MQPER_PERSISTENT : MQPER_NOT_PERSISTENT;
  }
  if (const char* t = ToolOption(args, "defsopt")) {
    if (!Choice(t, "--defsopt", "exclusive", "shared", &b)) return false;
    q->DefInputOpen = b ? MQOO_INPUT_EXCLUSIVE : MQOO_INPUT_SHARED;
  }
  if (const char* t = ToolOption(args, "deftype")) {
    if (!Choice(t, "--deftype", "permanent", "temporary", &b)) return false;
    if (q->Type != MQQT_MODEL) {
      fprintf(stderr, "localqm: --deftype applies to model queues only\n");
      return false;
    }
    q->DefinitionType = b ? MQQDT_PERMANENT_DYNAMIC : MQQDT_TEMPORARY_DYNAMIC;
  }
  if (const char* t = ToolOption(args, "descr")) {
    if (strlen(t) > 64) {
      fprintf(stderr, "localqm: --descr has at most 64 characters\n");
      return false;
    }
    snprintf(q->Description, sizeof q->Description, "%s", t);
  }
  if (q->Type == MQQT_ALIAS && q->Target[0] == '\0') {
    fprintf(stderr, "localqm: an alias queue needs --target\n");
    return false;
  }
  return true;
}

const char* TypeName(MQLONG type) {
  switch (type) {
    case MQQT_LOCAL: return "local";
    case MQQT_MODEL: return "model";
    case MQQT_ALIAS: return "alias";
    default: return "unknown";
  }
}

const char* DefTypeName(MQLONG type) {
  switch (type) {
    case MQQDT_PREDEFINED: return "predefined";
    case MQQDT_PERMANENT_DYNAMIC: return "permanent-dynamic";
    case MQQDT_TEMPORARY_DYNAMIC: return "temporary-dynamic";
    default: return "unknown";
  }
}

void PrintQueue(const LqmQueue& q) {
  printf("Queue : %s\n", q.Name);
  printf("Type : %s\n", TypeName(q.Type));
  printf("DefinitionType : %s\n", DefTypeName(q.DefinitionType));
  if (q.Type == MQQT_ALIAS) printf("Target : %s\n", q.Target);
  printf("CurrentDepth : %d\n", q.Depth);
  printf("MaxDepth : %d\n", q.MaxDepth);
  printf("MaxMsgLength : %d\n", q.MaxMsgLength);
  printf("BackoutQName : %s\n", q.BackoutQName);
  printf("BackoutThreshold : %d\n", q.BackoutThreshold);
  printf("Put : %s\n", q.PutInhibited ? "disabled" : "enabled");
  printf("Get : %s\n", q.GetInhibited ? "disabled" : "enabled");
  printf("Inquire : %s\n", q.DenyInquire ? "denied" : "allowed");
  printf("DefPriority : %d\n", q.DefPriority);
  printf("DefPersistence : %s\n", q.DefPersistence == MQPER_PERSISTENT ? "yes" : "no");
  printf("DefInputOpen : %s\n", q.DefInputOpen == MQOO_INPUT_EXCLUSIVE ? "exclusive" : "shared");
  printf("Description : %s\n", q.Description);
}

}  // namespace

int ToolDefine(const ToolArgs& args, bool alter) {
  const char* verb = alter ? "alter" : "define";
  int rc = ToolArgsCheck(args, kQueueOptions, 2, 2, verb);
  if (rc != kToolOk) return rc;
  char name[kLqmNameLength + 1];
  if (!QueueName(args.Words[1].c_str(), "queue name", name)) return kToolUsage;
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  LqmQueue q;
  int mrc = LqmTxnBegin(&store);
  bool valid = true;
  if (mrc == 0) {
    if (alter) mrc = LqmQueueRead(&store, name, &q);
    else LqmQueueDefaults(&q, name);
    if (mrc == 0) valid = ApplyQueueOptions(args, &q);
    if (mrc == 0 && valid) mrc = LqmQueueWrite(&store, &q, !alter);
    // Allowing gets again or raising a limit may let waiters through.
    if (mrc == 0 && valid) store.NotifyPending = true;
    mrc = LqmTxnEnd(&store, valid ? mrc : MQRC_OPTIONS_ERROR);
  }
  LqmStoreClose(&store);
  if (!valid) return kToolUsage;
  if (mrc == MQRC_OBJECT_ALREADY_EXISTS) {
    fprintf(stderr, "localqm: queue %s already exists on %s\n", name, args.Words[0].c_str());
    return kToolFailed;
  }
  if (mrc == MQRC_UNKNOWN_OBJECT_NAME) return ToolQueueMissing(name, args.Words[0].c_str());
  if (mrc != 0) return ToolFail(verb, mrc);
  printf("Queue %s %s.\n", name, alter ? "altered" : "defined");
  return kToolOk;
}

int ToolRemove(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {"purge"}, 2, 2, "remove");
  if (rc != kToolOk) return rc;
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  const char* name = args.Words[1].c_str();
  // Like a queue manager, refuse to delete a queue that is open.
  MQLONG inputs = 0, outputs = 0;
  int mrc = LqmTxnBegin(&store);
  if (mrc == 0) {
    mrc = LqmOpenCounts(&store, name, &inputs, &outputs);
    if (mrc == 0 && inputs + outputs > 0) mrc = MQRC_OBJECT_IN_USE;
    if (mrc == 0) mrc = LqmQueueDelete(&store, name, ToolFlag(args, "purge"));
    mrc = LqmTxnEnd(&store, mrc);
  }
  LqmStoreClose(&store);
  if (mrc == MQRC_UNKNOWN_OBJECT_NAME) return ToolQueueMissing(name, args.Words[0].c_str());
  if (mrc == MQRC_OBJECT_IN_USE) {
    fprintf(stderr, "localqm: queue %s is open by a running application\n", name);
    return kToolFailed;
  }
  if (mrc == MQRC_Q_NOT_EMPTY) {
    fprintf(stderr, "localqm: queue %s holds messages; add --purge to remove them too\n", name);
    return kToolFailed;
  }
  if (mrc != 0) return ToolFail("remove", mrc);
  printf("Queue %s removed.\n", name);
  return kToolOk;
}

int ToolShow(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {}, 1, 2, "show");
  if (rc != kToolOk) return rc;
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  int mrc = 0;
  if (args.Words.size() == 2) {
    LqmQueue q;
    mrc = LqmQueueRead(&store, args.Words[1].c_str(), &q);
    if (mrc == 0) PrintQueue(q);
  } else {
    LqmQmgr q;
    std::vector<std::string> queues, faults;
    mrc = LqmQmgrRead(&store, &q);
    if (mrc == 0) mrc = LqmQueueList(&store, &queues);
    if (mrc == 0) mrc = LqmFaultList(&store, &faults);
    if (mrc == 0) {
      char def[kLqmNameLength + 1];
      LqmDefaultQmgr(def);
      printf("QueueManager : %s\n", q.Name);
      printf("Status : %s\n", !q.Running ? "stopped" : q.Quiescing ? "quiescing" : "running");
      printf("Default : %s\n", strcmp(def, q.Name) == 0 ? "yes" : "no");
      printf("CommandLevel : %d\n", q.CommandLevel);
      printf("Platform : %d\n", q.Platform);
      printf("MaxCnoVersion : %d\n", q.MaxCnoVersion);
      printf("AsyncPut : %s\n", q.RefuseAsyncPut ? "refused" : "accepted");
      printf("Ccsid : %d\n", q.Ccsid);
      printf("DeadLetterQ : %s\n", q.DeadLetterQ);
      printf("MinCfhVersion : %d\n", q.MinCfhVersion);
      for (const std::string& f : faults) printf("Fault : %s\n", f.c_str());
      for (const std::string& name : queues) {
        LqmQueue one;
        if (LqmQueueRead(&store, name.c_str(), &one) == 0)
          printf("Queue : %s %s %d\n", name.c_str(), TypeName(one.Type), one.Depth);
      }
    }
  }
  LqmStoreClose(&store);
  if (mrc == MQRC_UNKNOWN_OBJECT_NAME)
    return ToolQueueMissing(args.Words[1].c_str(), args.Words[0].c_str());
  if (mrc != 0) return ToolFail("show", mrc);
  return kToolOk;
}

int ToolDepth(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {}, 2, 2, "depth");
  if (rc != kToolOk) return rc;
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  // An alias has no messages of its own: its depth is its target's.
  MQLONG depth = 0;
  LqmQueue q;
  int mrc = LqmQueueRead(&store, args.Words[1].c_str(), &q);
  if (mrc == 0) mrc = LqmQueueDepth(&store, q.Type == MQQT_ALIAS ? q.Target : q.Name, &depth);
  LqmStoreClose(&store);
  if (mrc == MQRC_UNKNOWN_OBJECT_NAME)
    return ToolQueueMissing(args.Words[1].c_str(), args.Words[0].c_str());
  if (mrc != 0) return ToolFail("depth", mrc);
  printf("%d\n", depth);
  return kToolOk;
}

int ToolClear(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {}, 2, 2, "clear");
  if (rc != kToolOk) return rc;
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  long count = 0;
  LqmQueue q;
  int mrc = LqmTxnBegin(&store);
  if (mrc == 0) {
    mrc = LqmQueueRead(&store, args.Words[1].c_str(), &q);
    if (mrc == 0 && q.Type != MQQT_LOCAL) mrc = MQRC_Q_TYPE_ERROR;
    if (mrc == 0) mrc = LqmMsgClear(&store, q.Name, &count);
    mrc = LqmTxnEnd(&store, mrc);
  }
  LqmStoreClose(&store);
  if (mrc == MQRC_UNKNOWN_OBJECT_NAME)
    return ToolQueueMissing(args.Words[1].c_str(), args.Words[0].c_str());
  if (mrc == MQRC_Q_TYPE_ERROR) {
    fprintf(stderr, "localqm: only a local queue can be cleared\n");
    return kToolFailed;
  }
  if (mrc != 0) return ToolFail("clear", mrc);
  printf("%ld messages cleared from %s.\n", count, args.Words[1].c_str());
  return kToolOk;
}
