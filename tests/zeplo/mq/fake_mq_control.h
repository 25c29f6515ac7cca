// The control record of the stand-in MQ library (fake_mq_library.cpp):
// tests set what the "queue manager" does and read back what it was given.
#ifndef TESTS_ZEPLO_MQ_FAKE_MQ_CONTROL_H_
#define TESTS_ZEPLO_MQ_FAKE_MQ_CONTROL_H_

#include <string_view>

#include "mqi/mqi.h"

enum : int { kFakeMaxCalls = 4 };

struct FakeMqControl {
  // Behaviour.
  char QmgrName[49];          // the name MQINQ reports; MQCONNX accepts "" or it
  MQLONG MaxCnoVersion;       // MQCNO versions above it get 2139
  char RequiredUser[64];      // non-empty: MQCONNX demands this user...
  char RequiredPassword[64];  // ...and this password (else 2035)
  MQLONG ConnectWarning;      // non-zero: MQCONNX completes with a warning
  MQLONG OpenReason;          // non-zero: MQOPEN fails with it
  MQLONG InqReason;           // non-zero: MQINQ fails with it
  MQLONG CommandLevel;
  MQLONG Platform;
  // Observations.
  int ConnxCalls;
  MQLONG CnoVersions[kFakeMaxCalls];
  MQLONG CnoOptions[kFakeMaxCalls];
  char ApplNames[kFakeMaxCalls][28];
  int OpenCalls;
  MQLONG LastOpenType;
  MQLONG LastOpenOptions;
  int InqCalls;
  int CloseCalls;
};

#endif  // TESTS_ZEPLO_MQ_FAKE_MQ_CONTROL_H_
