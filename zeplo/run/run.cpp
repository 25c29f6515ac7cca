// The set-up of a Run and the one exit-message procedure of every
// subsystem.
#include "zeplo/run/run.h"

#include <cstdarg>
#include <cstdio>

#include "zeplo/util/banned.h"  // after every other header

void RunInit(Run* run, const RunOptions* options) {
  *run = Run{};
  run->Options = options;
  for (int i = 0; i < 2; i++) {
    run->Qmgrs[i] = options->Qmgrs[i];
    run->Qmgrs[i].Api = nullptr;
    run->Qmgrs[i].Hconn = MQHC_UNUSABLE_HCONN;
  }
  RunSettings& s = run->Settings;
  s.SelectionActive = options->SelectionActive;
  s.NoBackout = options->NoBackout;
  s.AsyncPut = options->AsyncPut;
  s.NoForceRfh2 = options->NoForceRfh2;
  s.InitialBufferSize = options->InitialBufferSize;
  s.Quiet = options->Quiet;
  s.PreliminaryCount = options->PreliminaryCount;
  run->Counters.MessageIndex = -1;
  run->Engine.Output.Hobj = MQHO_UNUSABLE_HOBJ;
  run->Engine.Output.MonitorHobj = MQHO_UNUSABLE_HOBJ;
}

int SetExitMessage(Run* run, int rc, const char* format, ...) {
  if (run->ExitMessage[0] != '\0') return rc;
  va_list args;
  va_start(args, format);
  vsnprintf(run->ExitMessage, sizeof run->ExitMessage, format, args);
  va_end(args);
  return rc;
}
