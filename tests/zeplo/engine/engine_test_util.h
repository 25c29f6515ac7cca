// Helpers shared by the engine tests: what they all include, an input
// queue element, and the text a call writes.
#ifndef ZEPLO_TESTS_ENGINE_TEST_UTIL_H_
#define ZEPLO_TESTS_ENGINE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/zeplo/fake_mq/fake_mq.h"
#include "zeplo/engine/engine.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"
#include "tests/zeplo/files/files_test_util.h"  // last: it brings the banned calls

// An opened queue `name` with handle `hobj`, nothing else known of it yet.
inline QueueElement OpenedQueue(MQHOBJ hobj, const char* name) {
  QueueElement e{};
  e.Hobj = hobj;
  std::snprintf(e.Name, sizeof e.Name, "%s", name);
  e.BackoutHobj = MQHO_UNUSABLE_HOBJ;
  return e;
}

// What `call` writes on standard error, or on standard output when `out`.
inline std::string Captured(const std::function<void()>& call, bool out = false) {
  out ? testing::internal::CaptureStdout() : testing::internal::CaptureStderr();
  call();
  return out ? testing::internal::GetCapturedStdout() : testing::internal::GetCapturedStderr();
}

#endif  // ZEPLO_TESTS_ENGINE_TEST_UTIL_H_
