// A small in-process stand-in for one queue manager connection, bound into
// an MqApi table, for the engine's unit tests: one input queue with browse
// cursor, syncpoint gets that a backout restores, commits and backouts per
// connection, and faults on demand. End-to-end tests use localqm instead.
#ifndef TESTS_ZEPLO_ENGINE_FAKE_MQ_H_
#define TESTS_ZEPLO_ENGINE_FAKE_MQ_H_

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mqi/mqi.h"
#include "zeplo/driver/run_options.h"
#include "zeplo/mq/mq.h"

struct FakeMessage {
  long Serial;
  MQMD Md;
  std::string Data;
};

// A call made to fail: the `skip`+1-th call of that name fails.
struct FakeFault {
  std::string Call;
  int Skip;
  MQLONG CompCode;
  MQLONG Reason;
};

struct FakeQmgrState {
  std::vector<FakeMessage> Queue;       // in delivery order
  std::vector<FakeMessage> Pending;     // got under syncpoint, not committed
  std::vector<FakeMessage> Puts;        // everything put (any handle)
  long NextSerial = 1;
  long Cursor = 0;                      // serial of the browsed message
  std::vector<std::string> Calls;       // "MQCMIT(hconn)" etc.
  std::vector<MQLONG> GetOptions;       // MQGMO Options of every MQGET
  std::vector<MQLONG> GetBufferLengths;
  std::vector<MQLONG> GetWaitIntervals; // -1 when MQGMO_WAIT was off
  std::vector<MQLONG> OpenOptions;
  std::vector<FakeFault> Faults;
  // MQINQ answers for the input queue.
  std::string BackoutQueue;
  MQLONG BackoutThreshold = 0;
  MQLONG MaxDepth = 5000;
  MQLONG MaxMsgLength = 4194304;
};

inline FakeQmgrState gFake;

inline bool FakeFails(const char* call, PMQLONG cc, PMQLONG rc) {
  for (FakeFault& f : gFake.Faults) {
    if (f.Call != call) continue;
    if (f.Skip > 0) {
      f.Skip--;
      continue;
    }
    *cc = f.CompCode;
    *rc = f.Reason;
    f.Call = "";  // fires once
    return true;
  }
  return false;
}

inline void FakeAddMessage(const std::string& data, MQLONG priority = 0,
                           MQLONG backoutCount = 0) {
  FakeMessage m;
  m.Serial = gFake.NextSerial++;
  MQMD md = {MQMD_DEFAULT};
  md.Version = MQMD_VERSION_2;
  md.Priority = priority;
  md.BackoutCount = backoutCount;
  memcpy(md.Format, MQFMT_STRING, MQ_FORMAT_LENGTH);
  memcpy(md.PutDate, "20240102", 8);
  memcpy(md.PutTime, "03040500", 8);
  snprintf(reinterpret_cast<char*>(md.MsgId), sizeof md.MsgId, "ID%ld", m.Serial);
  m.Md = md;
  m.Data = data;
  gFake.Queue.push_back(m);
}

inline void FakeMQCMIT(MQHCONN h, PMQLONG cc, PMQLONG rc) {
  gFake.Calls.push_back("MQCMIT(" + std::to_string(h) + ")");
  *cc = MQCC_OK;
  *rc = MQRC_NONE;
  if (FakeFails("MQCMIT", cc, rc)) return;
  gFake.Pending.clear();
}

inline void FakeMQBACK(MQHCONN h, PMQLONG cc, PMQLONG rc) {
  gFake.Calls.push_back("MQBACK(" + std::to_string(h) + ")");
  *cc = MQCC_OK;
  *rc = MQRC_NONE;
  if (FakeFails("MQBACK", cc, rc)) return;
  for (FakeMessage& m : gFake.Pending) {
    m.Md.BackoutCount++;
    gFake.Queue.push_back(m);
  }
  gFake.Pending.clear();
  std::sort(gFake.Queue.begin(), gFake.Queue.end(),
            [](const FakeMessage& a, const FakeMessage& b) { return a.Serial < b.Serial; });
}

inline void FakeMQOPEN(MQHCONN, PMQVOID, MQLONG options, PMQHOBJ hobj, PMQLONG cc,
                       PMQLONG rc) {
  gFake.Calls.push_back("MQOPEN");
  gFake.OpenOptions.push_back(options);
  *cc = MQCC_OK;
  *rc = MQRC_NONE;
  if (FakeFails("MQOPEN", cc, rc)) return;
  *hobj = static_cast<MQHOBJ>(gFake.OpenOptions.size());
}

inline void FakeMQINQ(MQHCONN, MQHOBJ, MQLONG, PMQLONG, MQLONG intCount, PMQLONG ints,
                      MQLONG charLength, PMQCHAR chars, PMQLONG cc, PMQLONG rc) {
  gFake.Calls.push_back("MQINQ");
  *cc = MQCC_OK;
  *rc = MQRC_NONE;
  if (FakeFails("MQINQ", cc, rc)) return;
  if (intCount >= 3) {
    ints[0] = gFake.BackoutThreshold;
    ints[1] = gFake.MaxDepth;
    ints[2] = gFake.MaxMsgLength;
  }
  memset(chars, ' ', static_cast<size_t>(charLength));
  memcpy(chars, gFake.BackoutQueue.data(),
         std::min<size_t>(gFake.BackoutQueue.size(), static_cast<size_t>(charLength)));
}

inline void FakeMQPUT(MQHCONN, MQHOBJ, PMQVOID md, PMQVOID, MQLONG length, PMQVOID buffer,
                      PMQLONG cc, PMQLONG rc) {
  gFake.Calls.push_back("MQPUT");
  *cc = MQCC_OK;
  *rc = MQRC_NONE;
  if (FakeFails("MQPUT", cc, rc)) return;
  FakeMessage m;
  m.Serial = 0;
  memcpy(&m.Md, md, sizeof m.Md);
  m.Data.assign(static_cast<const char*>(buffer), static_cast<size_t>(length));
  gFake.Puts.push_back(m);
}

inline void FakeMQGET(MQHCONN, MQHOBJ, PMQVOID mdArg, PMQVOID gmoArg, MQLONG bufferLength,
                      PMQVOID buffer, PMQLONG dataLength, PMQLONG cc, PMQLONG rc) {
  MQMD* md = static_cast<MQMD*>(mdArg);
  MQGMO* gmo = static_cast<MQGMO*>(gmoArg);
  gFake.Calls.push_back("MQGET");
  gFake.GetOptions.push_back(gmo->Options);
  gFake.GetBufferLengths.push_back(bufferLength);
  gFake.GetWaitIntervals.push_back((gmo->Options & MQGMO_WAIT) ? gmo->WaitInterval : -1);
  *cc = MQCC_OK;
  *rc = MQRC_NONE;
  *dataLength = 0;
  if (FakeFails("MQGET", cc, rc)) return;

  auto& q = gFake.Queue;
  auto it = q.end();
  bool browse = (gmo->Options & (MQGMO_BROWSE_NEXT | MQGMO_BROWSE_FIRST)) != 0;
  if (gmo->Options & MQGMO_MSG_UNDER_CURSOR) {
    it = std::find_if(q.begin(), q.end(),
                      [](const FakeMessage& m) { return m.Serial == gFake.Cursor; });
    if (it == q.end()) {
      *cc = MQCC_FAILED;
      *rc = MQRC_NO_MSG_UNDER_CURSOR;
      return;
    }
  } else if (browse) {
    long after = (gmo->Options & MQGMO_BROWSE_FIRST) ? 0 : gFake.Cursor;
    it = std::find_if(q.begin(), q.end(),
                      [after](const FakeMessage& m) { return m.Serial > after; });
  } else {
    it = q.begin();
  }
  if (it == q.end()) {
    *cc = MQCC_FAILED;
    *rc = MQRC_NO_MSG_AVAILABLE;
    return;
  }
  MQLONG length = static_cast<MQLONG>(it->Data.size());
  *dataLength = length;
  bool truncated = length > bufferLength;
  if (truncated && !(gmo->Options & MQGMO_ACCEPT_TRUNCATED_MSG)) {
    *cc = MQCC_FAILED;
    *rc = MQRC_TRUNCATED_MSG_FAILED;
    return;  // nothing moves, the cursor included
  }
  memcpy(md, &it->Md, sizeof *md);
  memcpy(buffer, it->Data.data(), static_cast<size_t>(std::min(length, bufferLength)));
  if (truncated) {
    *cc = MQCC_WARNING;
    *rc = MQRC_TRUNCATED_MSG_ACCEPTED;
  }
  if (browse) {
    gFake.Cursor = it->Serial;
    return;
  }
  if (gmo->Options & MQGMO_SYNCPOINT) gFake.Pending.push_back(*it);
  q.erase(it);
}

inline MqApi gFakeApi = [] {
  MqApi api{};
  api.MQCMIT = FakeMQCMIT;
  api.MQBACK = FakeMQBACK;
  api.MQOPEN = FakeMQOPEN;
  api.MQINQ = FakeMQINQ;
  api.MQGET = FakeMQGET;
  api.MQPUT = FakeMQPUT;
  return api;
}();

// Zeroed options with the defaults the engine relies on, connected to the
// fake through slot 0 (and slot 1 when twoQmgrs).
inline void FakeReset(RunOptions* options, bool twoQmgrs = false) {
  gFake = FakeQmgrState{};
  memset(static_cast<void*>(options), 0, sizeof *options);
  options->Qmgrs[0].Api = &gFakeApi;
  options->Qmgrs[0].Hconn = 10;
  snprintf(options->Qmgrs[0].Name, sizeof options->Qmgrs[0].Name, "QM1");
  options->Qmgrs[1].Hconn = MQHC_UNUSABLE_HCONN;
  if (twoQmgrs) {
    options->Qmgrs[1].Api = &gFakeApi;
    options->Qmgrs[1].Hconn = 20;
    snprintf(options->Qmgrs[1].Name, sizeof options->Qmgrs[1].Name, "QM2");
    options->OutputSlot = 1;
  }
  options->OutputHobj = MQHO_UNUSABLE_HOBJ;
  options->MonitorHobj = MQHO_UNUSABLE_HOBJ;
  options->TransactionLimit = 200;
  options->SizeAtLeast = 0xFFFFFFFFu;
  options->SizeBelow = 0xFFFFFFFFu;
  options->PriorityMin = -1;
  options->PriorityMax = -1;
  options->InitialBufferSize = 1;
  options->StatusEveryMessages = 1000;
  options->StatusEverySeconds = 300;
  options->Message.Descriptor = &options->Message.OwnDescriptor;
}

#endif  // TESTS_ZEPLO_ENGINE_FAKE_MQ_H_
