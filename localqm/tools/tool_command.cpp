// Command server verbs: cmdserver (start, stop, or show whether it runs)
// and maxfsize (a queue's maximum file size).
#include <cstdio>
#include <cstring>

#include "localqm/command/command.h"
#include "localqm/tools/tools.h"
#include "zeplo/util/banned.h"  // after every other header

int ToolCommandServer(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {}, 1, 2, "cmdserver");
  if (rc != kToolOk) return rc;
  const char* action = args.Words.size() == 2 ? args.Words[1].c_str() : "status";
  bool start = strcmp(action, "start") == 0, stop = strcmp(action, "stop") == 0;
  if (!start && !stop && strcmp(action, "status") != 0) {
    fprintf(stderr, "localqm: cmdserver takes start, stop or status, not '%s'\n", action);
    return kToolUsage;
  }
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  int mrc = 0;
  long served = 0;
  bool running = false;
  if (start || stop) mrc = LqmCommandServerSet(&store, start);
  // Starting answers what waited while the server was stopped.
  if (mrc == 0 && start) mrc = LqmCommandServe(&store, &served);
  if (mrc == 0) mrc = LqmCommandServerRunning(&store, &running);
  LqmStoreClose(&store);
  if (mrc != 0) return ToolFail("cmdserver", mrc);
  if (start) printf("Served : %ld\n", served);
  printf("CommandServer : %s\n", running ? "running" : "stopped");
  return kToolOk;
}

int ToolMaxFileSize(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, {}, 3, 3, "maxfsize");
  if (rc != kToolOk) return rc;
  long megabytes = 0;
  if (!ToolNumber(args.Words[2].c_str(), "the maximum file size in MB", 1, 999999999, &megabytes))
    return kToolUsage;
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  int mrc = LqmTxnBegin(&store);
  if (mrc == 0)
    mrc = LqmTxnEnd(&store, LqmQueueSetMaxFileSize(&store, args.Words[1].c_str(),
                                                   static_cast<MQLONG>(megabytes)));
  LqmStoreClose(&store);
  if (mrc == MQRC_UNKNOWN_OBJECT_NAME)
    return ToolQueueMissing(args.Words[1].c_str(), args.Words[0].c_str());
  if (mrc != 0) return ToolFail("maxfsize", mrc);
  printf("MaxFileSize : %ld\n", megabytes);
  return kToolOk;
}
