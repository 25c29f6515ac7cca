// Reason descriptions and the one-line report of an MQI call.
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "zeplo/mq/mq.h"
#include "zeplo/util/banned.h"

namespace {

// A name is shown when it starts with something other than NUL or blank.
bool NamePresent(const char* name) { return name != nullptr && name[0] != '\0' && name[0] != ' '; }

// Length of a name field up to its first blank or NUL, at most 48.
int NameLength(const char* name) {
  int length = 0;
  while (length < kMqNameLength && name[length] != '\0' && name[length] != ' ') ++length;
  return length;
}

// Appends formatted text at *used, never past size; *used stops at the end.
void Append(char* out, size_t size, size_t* used, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void Append(char* out, size_t size, size_t* used, const char* format, ...) {
  if (*used + 1 >= size) return;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(out + *used, size - *used, format, args);
  va_end(args);
  if (n < 0) return;
  *used += static_cast<size_t>(n);
  if (*used >= size) *used = size - 1;
}

}  // namespace

const char* MqReasonText(int64_t code) {
  for (size_t i = 0; i < kMqMainReasonCount; ++i) {
    if (kMqMainReasons[i].Code == code) return kMqMainReasons[i].Text;
  }
  for (size_t i = 0; i < kMqFeedbackReasonCount; ++i) {
    if (kMqFeedbackReasons[i].Code == code) return kMqFeedbackReasons[i].Text;
  }
  return "";
}

size_t FormatMqiCall(char* out, size_t outSize, const char* callLabel, const char* qmgr,
                     const char* object, MQLONG reason) {
  if (out == nullptr || outSize == 0) return 0;
  out[0] = '\0';
  // Keep room for the final ".\n" whatever the label's length.
  size_t size = outSize > 3 ? outSize - 2 : outSize;
  size_t used = 0;
  Append(out, size, &used, "%s ", callLabel != nullptr ? callLabel : "");
  bool haveQmgr = NamePresent(qmgr);
  bool haveObject = NamePresent(object);
  if (haveQmgr && haveObject) {
    Append(out, size, &used, "on object '%.*s/%.*s' ", NameLength(qmgr), qmgr, NameLength(object),
           object);
  } else if (haveQmgr) {
    Append(out, size, &used, "on qmgr '%.*s' ", NameLength(qmgr), qmgr);
  } else if (haveObject) {
    Append(out, size, &used, "on object '%.*s' ", NameLength(object), object);
  }
  Append(out, size, &used, "returned %d", static_cast<int>(reason));
  const char* text = MqReasonText(reason);
  if (text[0] != '\0') Append(out, size, &used, " %s", text);
  Append(out, outSize, &used, ".\n");
  return used;
}

void ReportMqiCall(const char* callLabel, const char* qmgr, const char* object, MQLONG reason) {
  char line[1024];
  size_t length = FormatMqiCall(line, sizeof line, callLabel, qmgr, object, reason);
  // One write, so that lines from the callback thread never interleave.
  // Standard error is unbuffered; flush anything a caller left in the stdio
  // buffer first so the order on the terminal holds.
  std::fflush(stderr);
  size_t done = 0;
  while (done < length) {
    ssize_t n = write(STDERR_FILENO, line + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

int CheckMqiCall(const Run* run, const char* callLabel, const char* qmgr,
                 const char* object, MQLONG compCode, MQLONG reason) {
  bool failed = compCode == MQCC_FAILED;
  if (failed || run->Options->PrintApis) ReportMqiCall(callLabel, qmgr, object, reason);
  if (!failed) return 0;
  return reason != MQRC_NONE ? reason : MQRC_UNEXPECTED_ERROR;
}
