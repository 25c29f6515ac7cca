// Helpers shared by the destination and mask tests.
#ifndef TESTS_ZEPLO_NAMES_NAMES_TEST_UTIL_H_
#define TESTS_ZEPLO_NAMES_NAMES_TEST_UTIL_H_

#include <memory>
#include <string>

#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// A zeroed run record whose lists are released at the end of the test.
struct ScopedOptions {
  std::unique_ptr<RunOptions> Options{new RunOptions{}};
  ~ScopedOptions() {
    QueueListRelease(&Options->InputList);
    QueueListRelease(&Options->OutputList);
  }
  RunOptions* get() { return Options.get(); }
  RunOptions* operator->() { return get(); }
};

// "QM/Q" for every entry in use, joined by blanks.
inline std::string Entries(const QueueList* list) {
  std::string text;
  for (int i = 0; list != nullptr && i < list->Count; ++i) {
    char qmgr[49], queue[49];
    CopyMqName(qmgr, list->Entries[i].QmgrName, 48, 48);
    CopyMqName(queue, list->Entries[i].QueueName, 48, 48);
    text += (i ? " " : "") + std::string(qmgr) + "/" + queue;
  }
  return text;
}

#endif  // TESTS_ZEPLO_NAMES_NAMES_TEST_UTIL_H_
