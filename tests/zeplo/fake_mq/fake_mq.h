// The one stand-in queue manager beside localqm, for the unit tests that
// need what localqm cannot be: a queue in the test's own memory with faults
// on demand, or a library of a broken shape. fake_mq.cpp defines the 24 MQI
// entry points over the record gFake, and is built two ways:
//   fake_mq          a static library; the engine tests put its entry
//                    points in their MqApi table (gFakeApi, FakeReset).
//   lib*_r.so        five shared libraries under FAKE_MQ_DIR (server, old,
//                    client, noclose, noopen) that the binding and connect
//                    tests load through the real library search; each has a
//                    gFake of its own, reached with dlsym(handle, "gFake").
// The calls behave alike in both: MQCONNX checks the name, MQCNO version
// and user; MQOPEN, MQINQ, MQGET, MQCMIT, MQBACK and MQCLOSE act on the one
// queue; each of the 11 required calls and MQCONNX is logged and may be
// made to fail once by a FakeFault. MQCONN fails with the build's marker
// reason and the other optional calls with marker + 100, so a test can tell
// which file was bound.
#ifndef TESTS_ZEPLO_FAKE_MQ_FAKE_MQ_H_
#define TESTS_ZEPLO_FAKE_MQ_FAKE_MQ_H_

#include <cstring>
#include <string>
#include <vector>

#include "mqi/mqi.h"
#include "tests/zeplo/test_run.h"
#include "zeplo/mq/mq.h"

struct FakeMessage {
  long Serial;  // order of arrival; a backout puts messages back by it
  MQMD Md;
  std::string Data;
};

// The Skip+1-th call named Call fails once with these codes.
struct FakeFault {
  std::string Call;
  int Skip;
  MQLONG CompCode, Reason;
};

struct FakeQmgr {
  // The queue, and the gets of the open unit of work that MQBACK restores.
  std::vector<FakeMessage> Queue, Pending;
  long NextSerial = 1, Cursor = 0;  // Cursor: the serial browsed last
  // Calls by name, MQCMIT and MQBACK as "MQCMIT(hconn)"; the wait of each
  // MQGET (-1: no wait); the options of each MQOPEN, whose count is the
  // handle it returns.
  std::vector<std::string> Calls;
  std::vector<MQLONG> GetWaits, OpenOptions;
  std::vector<FakeFault> Faults;
  // MQINQ's answers, selector by selector; others get MQRC_SELECTOR_ERROR.
  std::string QmgrName = "FAKEQM", BackoutQueue;
  MQLONG CommandLevel = 945, Platform = MQPL_UNIX;
  MQLONG BackoutThreshold = 0, MaxDepth = 5000, MaxMsgLength = 4194304;
  // MQCONNX accepts the name "" or QmgrName, MQCNO versions up to
  // MaxCnoVersion (else 2139) and, when RequiredUser is set, only that user
  // and password (else 2035); a ConnectWarning completes with a warning.
  MQLONG MaxCnoVersion = 8, ConnectWarning = 0;
  std::string RequiredUser, RequiredPassword;
  std::vector<MQCNO> Cnos;  // the MQCNO of each MQCONNX, as given
};

extern "C" FakeQmgr gFake;

// Appends a string message of this priority to the queue.
void FakeAddMessage(const std::string& data, MQLONG priority = 0);

inline MqApi gFakeApi = [] {
  MqApi api{};
#define FAKE_MQ_ENTRY(name, params) api.name = name;
  MQI_CALL_LIST(FAKE_MQ_ENTRY)
#undef FAKE_MQ_ENTRY
  return api;
}();

// Empties gFake and zeroes *options but for the defaults the engine relies
// on, connected to the fake as "QM1" (hconn 10) in slot 0, and "QM2"
// (hconn 20) as the output slot when twoQmgrs.
inline void FakeReset(TestRun* options, bool twoQmgrs = false) {
  gFake = FakeQmgr{};
  memset(static_cast<void*>(options), 0, sizeof *options);
  options->Options = &options->Parsed;
  options->Qmgrs[0] = QmgrSlot{nullptr, &gFakeApi, "QM1", 10, 0, 0, false, nullptr, nullptr};
  options->Qmgrs[1].Hconn = MQHC_UNUSABLE_HCONN;
  if (twoQmgrs) {
    options->Qmgrs[1] = QmgrSlot{nullptr, &gFakeApi, "QM2", 20, 0, 0, false, nullptr, nullptr};
    options->Parsed.OutputSlot = 1;
  }
  options->Engine.Output.Hobj = options->Engine.Output.MonitorHobj = MQHO_UNUSABLE_HOBJ;
  options->Parsed.TransactionLimit = 200;
  options->Parsed.SizeAtLeast = options->Parsed.SizeBelow = 0xFFFFFFFFu;
  options->Parsed.PriorityMin = options->Parsed.PriorityMax = -1;
  options->Settings.InitialBufferSize = 1;
  options->Parsed.StatusEveryMessages = 1000;
  options->Parsed.StatusEverySeconds = 300;
  options->Message.Descriptor = &options->Message.OwnDescriptor;
}

#endif  // TESTS_ZEPLO_FAKE_MQ_FAKE_MQ_H_
