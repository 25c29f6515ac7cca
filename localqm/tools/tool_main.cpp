// The `localqm` admin command: argument handling, help and dispatch.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "localqm/tools/tools.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

const char kHelp[] =
    "Usage: localqm VERB ARGUMENTS\n"
    "Administers localqm queue managers under $LOCALQM_ROOT (default $HOME/.localqm).\n"
    "\n"
    "Queue managers:\n"
    "  localqm create QM [--default] [--cmdlevel N] [--platform N] [--max-cno-version N]\n"
    "                    [--refuse-async-put] [--ccsid N] [--deadq QUEUE] [--min-cfh-version N]\n"
    "  localqm alter-qmgr QM [the create options] [--allow-async-put]\n"
    "    --min-cfh-version N (0 to 3, default 0: accept all): a put of an MQADMIN, MQPCF or\n"
    "    MQEVENT message with a version-2 descriptor fails with 2235 unless its data starts\n"
    "    with an MQCFH of version N or above; version-1 descriptors are not checked.\n"
    "  localqm delete QM        localqm list        localqm start QM\n"
    "  localqm stop QM [--quiesce]   (stopped: connects fail 2059, calls 2162; quiescing:\n"
    "                                 connects and calls asking to fail if quiescing get 2161)\n"
    "  localqm user QM NAME PASSWORD      (once a user exists, connections need a password)\n"
    "\n"
    "Queues:\n"
    "  localqm define QM QUEUE [--type local|model|alias] [--target QUEUE] [--maxdepth N]\n"
    "                 [--maxmsgl N] [--boqname QUEUE] [--bothresh N] [--put enabled|disabled]\n"
    "                 [--get enabled|disabled] [--deny-inquire] [--allow-inquire]\n"
    "                 [--defprty N] [--defpsist yes|no] [--defsopt shared|exclusive]\n"
    "                 [--deftype temporary|permanent] [--descr TEXT]\n"
    "  localqm alter QM QUEUE [the define options]\n"
    "  localqm remove QM QUEUE [--purge]      (messages need --purge; an open queue stays)\n"
    "  localqm show QM [QUEUE]      localqm depth QM QUEUE      localqm clear QM QUEUE\n"
    "\n"
    "Messages:\n"
    "  localqm put QM QUEUE [--text T | --hex HEX | --file F | (standard input)] [--count N]\n"
    "              [--format F] [--priority N] [--persistence N] [--msgid HEX] [--correlid HEX]\n"
    "              [--groupid HEX] [--replyto Q] [--replytoqmgr QM] [--putdate YYYYMMDD]\n"
    "              [--puttime HHMMSSTH] [--backout N] [--expiry N] [--encoding N] [--ccsid N]\n"
    "              [--msgtype N] [--report N] [--feedback N] [--user U] [--accounting HEX]\n"
    "              [--applid TEXT] [--applorigin TEXT] [--putappl NAME] [--putappltype N]\n"
    "              [--seq N] [--offset N] [--msgflags N] [--origlength N]\n"
    "  localqm browse QM QUEUE [--hex] [--count N]\n"
    "  localqm get QM QUEUE [--hex] [--count N]\n"
    "    Each message prints as 'Field : value' lines (every descriptor field), then\n"
    "    'DataLength : N' and 'Data : text' when printable, else 'DataHex : hex'.\n"
    "\n"
    "Command server (answers PCF requests put to SYSTEM.ADMIN.COMMAND.QUEUE):\n"
    "  localqm cmdserver QM [start|stop|status]   (stopped: requests wait on the queue;\n"
    "                                              start answers them)\n"
    "  localqm maxfsize QM QUEUE MB   (the queue's maximum file size, default 2088960)\n"
    "\n"
    "Faults (seen by every process using the queue manager):\n"
    "  localqm fault QM CALL --reason R [--queue QUEUE] [--after N] [--times N]\n"
    "    CALL is MQCONN, MQCONNX, MQDISC, MQOPEN, MQCLOSE, MQGET, MQPUT, MQPUT1, MQINQ,\n"
    "    MQSET, MQCMIT or MQBACK. The call fails with reason R after N successful calls\n"
    "    (default 0), N times (default 0: every time). MQCMIT with 2003 backs out.\n"
    "  localqm fault QM --clear\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 bad usage.\n";

}  // namespace

const std::vector<std::string> kQmgrOptions = {
    "default",         "cmdlevel", "platform", "max-cno-version", "refuse-async-put",
    "allow-async-put", "ccsid",    "deadq",    "min-cfh-version"};

int ToolArgsParse(int argc, char** argv, const std::vector<std::string>& flags, ToolArgs* out) {
  out->Words.clear();
  out->Options.clear();
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    if (strncmp(a, "--", 2) != 0 || a[2] == '\0') {
      out->Words.push_back(a);
      continue;
    }
    std::string name = a + 2;
    bool isFlag = false;
    for (const std::string& f : flags) isFlag = isFlag || f == name;
    if (isFlag) {
      out->Options.emplace_back(name, "");
      continue;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "localqm: option --%s needs a value\n", name.c_str());
      return kToolUsage;
    }
    out->Options.emplace_back(name, argv[++i]);
  }
  return kToolOk;
}

int ToolArgsCheck(const ToolArgs& args, const std::vector<std::string>& allowed, size_t minWords,
                  size_t maxWords, const char* verb) {
  for (const auto& o : args.Options) {
    bool ok = false;
    for (const std::string& a : allowed) ok = ok || a == o.first;
    if (!ok) {
      fprintf(stderr, "localqm: %s does not take --%s (see localqm --help)\n", verb,
              o.first.c_str());
      return kToolUsage;
    }
  }
  if (args.Words.size() < minWords || args.Words.size() > maxWords) {
    fprintf(stderr, "localqm: wrong number of arguments for %s (see localqm --help)\n", verb);
    return kToolUsage;
  }
  return kToolOk;
}

const char* ToolOption(const ToolArgs& args, const char* name) {
  const char* value = nullptr;
  for (const auto& o : args.Options)
    if (o.first == name) value = o.second.c_str();
  return value;
}

bool ToolFlag(const ToolArgs& args, const char* name) {
  for (const auto& o : args.Options)
    if (o.first == name) return true;
  return false;
}

bool ToolNumber(const char* text, const char* what, long min, long max, long* out) {
  *out = 0;
  errno = 0;
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (text[0] == '\0' || end == nullptr || *end != '\0' || errno != 0 || v < min || v > max) {
    fprintf(stderr, "localqm: %s must be a whole number from %ld to %ld, not '%s'\n", what, min,
            max, text);
    return false;
  }
  *out = v;
  return true;
}

bool ToolNumberOption(const ToolArgs& args, const char* name, long min, long max, MQLONG* field) {
  const char* t = ToolOption(args, name);
  if (t == nullptr) return true;
  char what[64];
  snprintf(what, sizeof what, "--%s", name);
  long v;
  if (!ToolNumber(t, what, min, max, &v)) return false;
  *field = static_cast<MQLONG>(v);
  return true;
}

int ToolQueueMissing(const char* queue, const char* qmgr) {
  fprintf(stderr, "localqm: queue %s does not exist on %s\n", queue, qmgr);
  return kToolFailed;
}

int ToolFail(const char* what, int reason) {
  const char* name = "";
  switch (reason) {
    case MQRC_Q_MGR_NAME_ERROR: name = " (no such queue manager)"; break;
    case MQRC_UNKNOWN_OBJECT_NAME: name = " (no such queue)"; break;
    case MQRC_OBJECT_ALREADY_EXISTS: name = " (already exists)"; break;
    case MQRC_Q_NOT_EMPTY: name = " (queue not empty)"; break;
    case MQRC_Q_FULL: name = " (queue full)"; break;
    case MQRC_MSG_TOO_BIG_FOR_Q: name = " (message longer than the queue allows)"; break;
    case MQRC_ENVIRONMENT_ERROR: name = " (set LOCALQM_ROOT or HOME)"; break;
    case MQRC_RESOURCE_PROBLEM: name = " (storage problem)"; break;
    default: break;
  }
  fprintf(stderr, "localqm: %s failed with reason %d%s\n", what, reason, name);
  return kToolFailed;
}

int ToolOpen(const char* qmgr, LqmStore* store) {
  if (qmgr[0] == '\0' || LqmCheckName(qmgr, MQRC_Q_MGR_NAME_ERROR) != 0) {
    fprintf(stderr, "localqm: '%s' is not a valid queue manager name\n", qmgr);
    return kToolFailed;
  }
  int rc = LqmStoreOpen(qmgr, store);
  if (rc == MQRC_Q_MGR_NAME_ERROR) {
    fprintf(stderr, "localqm: queue manager %s does not exist\n", qmgr);
    return kToolFailed;
  }
  if (rc != 0) return ToolFail("opening the queue manager", rc);
  return kToolOk;
}

int main(int argc, char** argv) {
  if (argc < 2 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 ||
      strcmp(argv[1], "help") == 0) {
    fputs(kHelp, argc < 2 ? stderr : stdout);
    return argc < 2 ? kToolUsage : kToolOk;
  }
  const char* verb = argv[1];
  ToolArgs args;
  static const std::vector<std::string> kFlags = {
      "default", "refuse-async-put", "allow-async-put", "deny-inquire", "allow-inquire",
      "hex",     "clear",            "purge",           "quiesce"};
  // "--hex" is a flag for browse and get but takes a value for put.
  std::vector<std::string> flags = kFlags;
  if (strcmp(verb, "put") == 0) flags.erase(flags.begin() + 5);
  int rc = ToolArgsParse(argc - 2, argv + 2, flags, &args);
  if (rc != kToolOk) return rc;
  if (strcmp(verb, "create") == 0) return ToolCreate(args);
  if (strcmp(verb, "delete") == 0) return ToolDelete(args);
  if (strcmp(verb, "list") == 0) return ToolList(args);
  if (strcmp(verb, "start") == 0) return ToolStartStop(args, true);
  if (strcmp(verb, "stop") == 0) return ToolStartStop(args, false);
  if (strcmp(verb, "alter-qmgr") == 0) return ToolAlterQmgr(args);
  if (strcmp(verb, "user") == 0) return ToolUser(args);
  if (strcmp(verb, "fault") == 0) return ToolFault(args);
  if (strcmp(verb, "cmdserver") == 0) return ToolCommandServer(args);
  if (strcmp(verb, "maxfsize") == 0) return ToolMaxFileSize(args);
  if (strcmp(verb, "define") == 0) return ToolDefine(args, false);
  if (strcmp(verb, "alter") == 0) return ToolDefine(args, true);
  if (strcmp(verb, "remove") == 0) return ToolRemove(args);
  if (strcmp(verb, "show") == 0) return ToolShow(args);
  if (strcmp(verb, "depth") == 0) return ToolDepth(args);
  if (strcmp(verb, "clear") == 0) return ToolClear(args);
  if (strcmp(verb, "put") == 0) return ToolPut(args);
  if (strcmp(verb, "browse") == 0) return ToolBrowseGet(args, false);
  if (strcmp(verb, "get") == 0) return ToolBrowseGet(args, true);
  fprintf(stderr, "localqm: unknown verb '%s' (see localqm --help)\n", verb);
  return kToolUsage;
}
