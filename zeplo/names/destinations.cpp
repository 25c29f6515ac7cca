// Destination texts and the growable queue lists they are kept in.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "mqi/mqi.h"
#include "zeplo/cs/cs.h"
#include "zeplo/names/names.h"
#include "zeplo/names/names_internal.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

// The entries in use are handed to MQOPEN/MQPUT1 as MQOR records.
static_assert(sizeof(Destination) == sizeof(MQOR));
static_assert(offsetof(Destination, QueueName) == offsetof(MQOR, ObjectName));
static_assert(offsetof(Destination, QmgrName) == offsetof(MQOR, ObjectQMgrName));

namespace {

constexpr int kOptionsError = 2046;   // MQRC_OPTIONS_ERROR
constexpr int kNoListStorage = 4018;  // MQRCCF_NO_STORAGE

// The separator between queue manager and queue: the -$ character when
// given; otherwise the first of '#', ',', '\' and '/' that occurs at all
// (so "A#B/C" splits at '#' and so does "A/B#C").
size_t FindSeparator(std::string_view text, char separator) {
  if (separator != 0) return text.find(separator);
  for (char candidate : {'#', ',', '\\', '/'}) {
    size_t at = text.find(candidate);
    if (at != std::string_view::npos) return at;
  }
  return std::string_view::npos;
}

// Makes sure the list has room for one more entry: creates it (10 entries)
// or doubles it. A new output list starts with the first -o when one was
// given before any list existed.
int EnsureRoom(RunOptions* options, QueueList** slot, bool toInputList) {
  QueueList* old = *slot;
  if (old != nullptr && old->Count >= kMaxDestinations) {
    // An endless destination file (a device, a runaway generator) stops
    // here rather than when memory runs out.
    std::fprintf(stderr, "Sorry, a destination list can hold at most %d destinations\n",
                 kMaxDestinations);
    return kOptionsError;
  }
  if (old != nullptr && old->Count < old->Capacity) return 0;
  int64_t wanted = int64_t{kInitialQueueListCapacity};
  if (old != nullptr) wanted = int64_t{old->Capacity} * 2;
  int32_t capacity = wanted > INT32_MAX ? INT32_MAX : static_cast<int32_t>(wanted);
  size_t bytes = QueueListBytes(capacity);
  QueueList* list = nullptr;
  if (bytes != 0 && capacity > (old == nullptr ? 0 : old->Capacity)) {
    list = static_cast<QueueList*>(CSGetMem(bytes, "QUEUELIST"));
  }
  if (list == nullptr) {
    std::fprintf(stderr, "Can not allocate queue list array. Max Destinations = %d\n", capacity);
    return kNoListStorage;
  }
  std::memset(list, 0, bytes);
  list->Capacity = capacity;
  if (old != nullptr) {
    std::memcpy(list->Entries, old->Entries, sizeof(Destination) * static_cast<size_t>(old->Count));
    list->Count = old->Count;
    CSFreeMem(old);
  } else if (!toInputList && options->OutputQueueName[0] != '\0') {
    // The first -o was kept outside any list; it leads the new list.
    SetMqField(list->Entries[0].QueueName, options->OutputQueueName);
    SetMqField(list->Entries[0].QmgrName, options->OutputQmgrName);
    list->Count = 1;
  }
  *slot = list;
  return 0;
}

}  // namespace

size_t QueueListBytes(int32_t capacity) {
  if (capacity < 0) return 0;
  uint64_t entries = static_cast<uint64_t>(capacity) + 1;  // + the zero entry
  if (entries > (SIZE_MAX - offsetof(QueueList, Entries)) / sizeof(Destination)) return 0;
  return offsetof(QueueList, Entries) + static_cast<size_t>(entries) * sizeof(Destination);
}

void QueueListRelease(QueueList** list) { CSReleaseMem(list); }

int RefuseEmptyDestination(const char* text) {
  std::fprintf(stderr, "Sorry, the destination '%s' names no queue.\n",
               text != nullptr ? text : "");
  return kOptionsError;
}

int ParseDestinationN(RunOptions* options, char separator, const char* text, char* qmgrOut,
                      size_t qmgrSize, char* queueOut, size_t queueSize, bool toInputList) {
  // Both outputs are defined whatever happens below.
  std::memset(qmgrOut, 0, qmgrSize);
  std::memset(queueOut, 0, queueSize);
  std::string_view t = text != nullptr ? text : "";

  if (!t.empty() && t.front() == '\'') {
    options->QuotedName = true;
    t.remove_prefix(1);
    if (!t.empty() && t.back() == '\'') t.remove_suffix(1);
  }
  if (t.size() >= 5 && CompareNoCaseN(t.data(), "file:", 5) == 0) {
    return ReadDestinationFileText(options, t.substr(5), toInputList);
  }

  // Each field takes 48 characters (fewer only if the caller's is smaller).
  constexpr size_t kField = kDestinationNameLength;
  size_t qmgrLimit = qmgrSize < kField ? qmgrSize : kField;
  size_t queueLimit = queueSize < kField ? queueSize : kField;
  int shown = t.size() > INT32_MAX ? INT32_MAX : static_cast<int>(t.size());
  size_t at = FindSeparator(t, separator);
  if (at == std::string_view::npos) {
    if (t.size() > queueLimit) {
      std::fprintf(stderr, "The Queue name '%.*s' is too long.\n", shown, t.data());
      return kOptionsError;
    }
    std::memcpy(queueOut, t.data(), t.size());
    return 0;
  }
  std::string_view qmgr = t.substr(0, at);
  std::string_view queue = t.substr(at + 1);
  if (qmgr.size() > qmgrLimit) {
    std::fprintf(stderr, "The Queue Manager part of destination '%.*s' is too long.\n", shown,
                 t.data());
    return kOptionsError;
  }
  if (queue.size() > queueLimit) {
    std::fprintf(stderr, "The Queue name part of destination '%.*s' is too long.\n", shown,
                 t.data());
    return kOptionsError;
  }
  std::memcpy(qmgrOut, qmgr.data(), qmgr.size());
  std::memcpy(queueOut, queue.data(), queue.size());
  return 0;
}

int AddDestination(RunOptions* options, const char* text, bool toInputList) {
  QueueList** slot = toInputList ? &options->InputList : &options->OutputList;
  int rc = EnsureRoom(options, slot, toInputList);
  if (rc != 0) return rc;

  // Parsed into locals, not into the list: a "file:" text adds its lines
  // to this same list while it is read, and may move it to a bigger block.
  char qmgr[kDestinationNameLength];
  char queue[kDestinationNameLength];
  int32_t before = (*slot)->Count;
  rc = ParseDestinationN(options, options->QueueSeparator, text, qmgr, sizeof qmgr, queue,
                         sizeof queue, toInputList);
  if (rc != 0) return rc;
  if (queue[0] == '\0') {
    // A destination file has added its own entries (perhaps to a list
    // moved to a bigger block). A text naming no queue at all would leave
    // a run without the output or input it was meant to have: with -I
    // that silently turns a move into a purge.
    if ((*slot)->Count > before) return 0;
    return RefuseEmptyDestination(text);
  }

  rc = EnsureRoom(options, slot, toInputList);
  if (rc != 0) return rc;
  QueueList* list = *slot;
  Destination* entry = &list->Entries[list->Count];
  std::memcpy(entry->QueueName, queue, sizeof queue);
  std::memcpy(entry->QmgrName, qmgr, sizeof qmgr);
  if (!toInputList && options->OutputQueueName[0] == '\0') {
    CopyMqName(options->OutputQueueName, entry->QueueName, kDestinationNameLength,
               kDestinationNameLength);
  }
  ++list->Count;
  return 0;
}
