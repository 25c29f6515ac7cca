// Wildcard masks for queue and queue manager names: '*' any run of
// characters (none included), '?' exactly one, every other character itself.
#include <cctype>
#include <cstring>

#include "zeplo/names/names.h"
#include "zeplo/util/banned.h"

namespace {

// Greedy matching that goes back only to the latest '*': it gives the same
// answers as trying every split at every '*', in time proportional to
// name x mask instead of exponential in the number of stars.
template <bool kNoCase>
bool Match(const char* name, size_t nameLength, const char* mask, size_t maskLength) {
  auto same = [](char a, char b) {
    if (kNoCase) {
      return std::toupper(static_cast<unsigned char>(a)) ==
             std::toupper(static_cast<unsigned char>(b));
    }
    return a == b;
  };
  size_t n = 0, m = 0;
  bool haveStar = false;
  size_t starMask = 0, starName = 0;  // mask after the last '*', name there
  while (n < nameLength) {
    if (m < maskLength && mask[m] == '*') {
      haveStar = true;
      starMask = ++m;
      starName = n;
    } else if (m < maskLength && (mask[m] == '?' || same(mask[m], name[n]))) {
      ++m;
      ++n;
    } else if (haveStar) {
      // Let the last '*' take one more character and try again from there.
      m = starMask;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < maskLength && mask[m] == '*') ++m;
  return m == maskLength;
}

}  // namespace

bool MatchName(const char* name, size_t nameLength, const char* mask, size_t maskLength) {
  return Match<false>(name, nameLength, mask, maskLength);
}

bool MatchNameNoCase(const char* name, size_t nameLength, const char* mask, size_t maskLength) {
  return Match<true>(name, nameLength, mask, maskLength);
}

bool MatchQueueMask(const RunOptions* options, const char* name, const char* mask) {
  size_t nameLength = std::strlen(name);
  size_t maskLength = std::strlen(mask);
  return options->QuotedName ? MatchName(name, nameLength, mask, maskLength)
                             : MatchNameNoCase(name, nameLength, mask, maskLength);
}

bool InInputList(const RunOptions* options, const char* name) {
  const QueueList* list = options->InputList;
  if (list == nullptr) return false;
  for (int32_t i = 0; i < list->Count; ++i) {
    const Destination& entry = list->Entries[i];
    size_t maskLength = strnlen(entry.QueueName, kDestinationNameLength);
    if (maskLength == 0) return true;
    size_t nameLength = std::strlen(name);
    bool hit = options->QuotedName ? MatchName(name, nameLength, entry.QueueName, maskLength)
                                   : MatchNameNoCase(name, nameLength, entry.QueueName, maskLength);
    if (hit) return true;
  }
  return false;
}
