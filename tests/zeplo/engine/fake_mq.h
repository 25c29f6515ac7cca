// An in-process stand-in for one queue manager in an MqApi table: one
// queue with a browse cursor, syncpoint gets that a backout restores, and
// faults on demand. End-to-end tests use localqm instead.
#ifndef TESTS_ZEPLO_ENGINE_FAKE_MQ_H_
#define TESTS_ZEPLO_ENGINE_FAKE_MQ_H_

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/zeplo/test_run.h"
#include "mqi/mqi.h"
#include "zeplo/run/run.h"
#include "zeplo/mq/mq.h"

struct FakeMessage {
  long Serial;
  MQMD Md;
  std::string Data;
};

// The Skip+1-th call named Call fails once with these codes.
struct FakeFault {
  std::string Call;
  int Skip;
  MQLONG CompCode, Reason;
};

struct FakeQmgrState {
  std::vector<FakeMessage> Queue, Pending;  // Pending: uncommitted gets
  long NextSerial = 1, Cursor = 0;                // Cursor: serial browsed last
  std::vector<std::string> Calls;
  std::vector<MQLONG> GetWaits, OpenOptions;  // wait -1: none
  std::vector<FakeFault> Faults;
  std::string BackoutQueue;  // MQINQ answers
  MQLONG BackoutThreshold = 0, MaxDepth = 5000, MaxMsgLength = 4194304;
};

inline FakeQmgrState gFake;

inline bool FakeCall(const std::string& call, PMQLONG cc, PMQLONG rc) {
  gFake.Calls.push_back(call);
  *cc = MQCC_OK;
  *rc = MQRC_NONE;
  std::string name = call.substr(0, call.find('('));
  for (FakeFault& f : gFake.Faults) {
    if (f.Call != name || f.Skip-- > 0) continue;
    *cc = f.CompCode;
    *rc = f.Reason;
    f.Call = "";
    return true;
  }
  return false;
}

inline void FakeAddMessage(const std::string& data, MQLONG priority = 0) {
  FakeMessage m{gFake.NextSerial++, {MQMD_DEFAULT}, data};
  m.Md.Version = MQMD_VERSION_2;
  m.Md.Priority = priority;
  memcpy(m.Md.Format, MQFMT_STRING, MQ_FORMAT_LENGTH);
  gFake.Queue.push_back(m);
}

inline void FakeMQCMIT(MQHCONN h, PMQLONG cc, PMQLONG rc) {
  if (!FakeCall("MQCMIT(" + std::to_string(h) + ")", cc, rc)) gFake.Pending.clear();
}

inline void FakeMQBACK(MQHCONN h, PMQLONG cc, PMQLONG rc) {
  if (FakeCall("MQBACK(" + std::to_string(h) + ")", cc, rc)) return;
  for (FakeMessage& m : gFake.Pending) {
    m.Md.BackoutCount++;
    gFake.Queue.push_back(m);
  }
  gFake.Pending.clear();
  std::sort(gFake.Queue.begin(), gFake.Queue.end(),
            [](const FakeMessage& a, const FakeMessage& b) { return a.Serial < b.Serial; });
}

inline void FakeMQOPEN(MQHCONN, PMQVOID, MQLONG options, PMQHOBJ hobj, PMQLONG cc, PMQLONG rc) {
  gFake.OpenOptions.push_back(options);
  if (!FakeCall("MQOPEN", cc, rc)) *hobj = static_cast<MQHOBJ>(gFake.OpenOptions.size());
}

inline void FakeMQINQ(MQHCONN, MQHOBJ, MQLONG, PMQLONG, MQLONG, PMQLONG ints, MQLONG charLength,
                      PMQCHAR chars, PMQLONG cc, PMQLONG rc) {
  if (FakeCall("MQINQ", cc, rc)) return;
  ints[0] = gFake.BackoutThreshold;
  ints[1] = gFake.MaxDepth;
  ints[2] = gFake.MaxMsgLength;
  memset(chars, ' ', static_cast<size_t>(charLength));
  memcpy(chars, gFake.BackoutQueue.data(), gFake.BackoutQueue.size());
}

inline void FakeMQGET(MQHCONN, MQHOBJ, PMQVOID mdArg, PMQVOID gmoArg, MQLONG bufferLength,
                      PMQVOID buffer, PMQLONG dataLength, PMQLONG cc, PMQLONG rc) {
  MQGMO* gmo = static_cast<MQGMO*>(gmoArg);
  MQLONG o = gmo->Options;
  gFake.GetWaits.push_back((o & MQGMO_WAIT) ? gmo->WaitInterval : -1);
  *dataLength = 0;
  if (FakeCall("MQGET", cc, rc)) return;
  auto& q = gFake.Queue;
  bool browse = (o & (MQGMO_BROWSE_NEXT | MQGMO_BROWSE_FIRST | MQGMO_BROWSE_MSG_UNDER_CURSOR)) != 0;
  long after = (o & MQGMO_BROWSE_FIRST) ? 0 : gFake.Cursor;
  auto it = q.begin();
  if (o & (MQGMO_MSG_UNDER_CURSOR | MQGMO_BROWSE_MSG_UNDER_CURSOR)) {
    it = std::find_if(q.begin(), q.end(), [](const FakeMessage& m) { return m.Serial == gFake.Cursor; });
  } else if (browse) {
    it = std::find_if(q.begin(), q.end(), [after](const FakeMessage& m) { return m.Serial > after; });
  }
  if (it == q.end()) {
    *cc = MQCC_FAILED;
    *rc = (o & (MQGMO_MSG_UNDER_CURSOR | MQGMO_BROWSE_MSG_UNDER_CURSOR)) ? MQRC_NO_MSG_UNDER_CURSOR
                                                                       : MQRC_NO_MSG_AVAILABLE;
    return;
  }
  MQLONG length = static_cast<MQLONG>(it->Data.size());
  *dataLength = length;
  if (length > bufferLength && !(o & MQGMO_ACCEPT_TRUNCATED_MSG)) {
    *cc = MQCC_FAILED;  // the message stays, but a browse cursor moves onto it
    *rc = MQRC_TRUNCATED_MSG_FAILED;
    if (browse) gFake.Cursor = it->Serial;
    return;
  }
  memcpy(mdArg, &it->Md, sizeof(MQMD));
  memcpy(buffer, it->Data.data(), static_cast<size_t>(std::min(length, bufferLength)));
  if (length > bufferLength) {
    *cc = MQCC_WARNING;
    *rc = MQRC_TRUNCATED_MSG_ACCEPTED;
  }
  if (browse) {
    gFake.Cursor = it->Serial;
    return;
  }
  if (o & MQGMO_SYNCPOINT) gFake.Pending.push_back(*it);
  q.erase(it);
}

inline MqApi gFakeApi = [] {
  MqApi api{};
  api.MQCMIT = FakeMQCMIT;
  api.MQBACK = FakeMQBACK;
  api.MQOPEN = FakeMQOPEN;
  api.MQINQ = FakeMQINQ;
  api.MQGET = FakeMQGET;
  return api;
}();

// Zeroed options with the defaults the engine relies on, connected to the
// fake as "QM1" (hconn 10) in slot 0, and "QM2" (hconn 20) as the output
// slot when twoQmgrs.
inline void FakeReset(TestRun* options, bool twoQmgrs = false) {
  gFake = FakeQmgrState{};
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

#endif  // TESTS_ZEPLO_ENGINE_FAKE_MQ_H_
