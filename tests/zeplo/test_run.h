// A Run over options of its own, for tests that set option fields and then
// call the procedures below the driver.
#ifndef ZEPLO_TESTS_ZEPLO_TEST_RUN_H_
#define ZEPLO_TESTS_ZEPLO_TEST_RUN_H_

#include "zeplo/run/run.h"

// Everything zeroed, as a fresh record; Options points at Parsed. Not
// copyable: a copy would point at the original's options.
struct TestRun : Run {
  RunOptions Parsed;
  TestRun() : Run{}, Parsed{} { Options = &Parsed; }
  TestRun(const TestRun&) = delete;
  TestRun& operator=(const TestRun&) = delete;
};

#endif  // ZEPLO_TESTS_ZEPLO_TEST_RUN_H_
