// What the option tests share: a fixture that parses (and checks) a
// command line the way a run does, and Fields, which shows the named
// fields of the result as text so that a row states what it expects and a
// failure names the field that differs.
#ifndef ZEPLO_TESTS_ZEPLO_DRIVER_OPTIONS_UTIL_H_
#define ZEPLO_TESTS_ZEPLO_DRIVER_OPTIONS_UTIL_H_

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/test_text.h"
#include "zeplo/cs/cs.h"
#include "zeplo/driver/driver.h"
#include "zeplo/names/names.h"

constexpr int64_t kOptionsNow = 1419465600;  // Thu Dec 25 00:00:00 2014 UTC

struct Parsed {
  int Rc;
  bool EndRun;
  std::string Err;
};

class OptionsFixture : public testing::Test {
 protected:
  // Local time is pinned so that "local" timestamps have known values.
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override { Release(); }
  void Release() {
    QueueListRelease(&options_.InputList);
    QueueListRelease(&options_.OutputList);
    if (options_.Selector != nullptr) CSFreeMem(options_.Selector);
    options_.Selector = nullptr;
  }
  // Parses "zeplo <args>" into options_, with the clock at `now` (0: the
  // real one). The words stay alive for the test, as argv does for a run:
  // some fields point into them.
  Parsed Parse(const std::vector<std::string>& args, int64_t now = 0) {
    Release();
    words_.emplace_back(std::vector<std::string>{"zeplo"});
    std::vector<std::string>& words = words_.back();
    words.insert(words.end(), args.begin(), args.end());
    argv_.emplace_back();
    for (std::string& w : words) argv_.back().push_back(w.data());
    argv_.back().push_back(nullptr);
    char** argv = argv_.back().data();
    int argc = static_cast<int>(words.size());
    RunOptionsInit(&options_, argc, argv);
    if (now != 0) options_.NowSeconds = now;
    ResetHelpState();
    Parsed p;
    testing::internal::CaptureStderr();
    p.Rc = ParseOptions(&options_, argc, argv, &p.EndRun);
    p.Err = testing::internal::GetCapturedStderr();
    return p;
  }
  // Parses "zeplo -q <args>" at kOptionsNow, which must succeed, then
  // checks the whole line; the check's code, its standard error in *err.
  int Check(const std::string& args, std::string* err) {
    std::vector<std::string> words = Words("-q " + args);
    Parsed p = Parse(words, kOptionsNow);
    EXPECT_EQ(0, p.Rc) << args << "\n" << p.Err;
    EXPECT_FALSE(p.EndRun) << args;
    testing::internal::CaptureStderr();
    int rc = CheckOptions(&options_);
    *err = testing::internal::GetCapturedStderr();
    return rc;
  }

  RunOptions options_{};
  std::deque<std::vector<std::string>> words_;
  std::deque<std::vector<char*>> argv_;
};

// ---- Fields as text ----

inline std::string FieldText(bool v) { return v ? "1" : "0"; }
template <class T>
std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, std::string> FieldText(T v) {
  return std::to_string(v);
}
inline std::string FieldText(ContextMode v) { return std::to_string(static_cast<int>(v)); }
// Bytes in hex; a trailing run of four or more equal bytes as (XX*count).
inline std::string FieldHex(const unsigned char* p, size_t n) {
  size_t end = n;
  while (end > 0 && p[end - 1] == p[n - 1]) --end;
  if (n - end < 4) end = n;
  std::string out = Hex(p, end);
  if (end < n) out += "(" + Hex(p + n - 1, 1) + "*" + std::to_string(n - end) + ")";
  return out;
}
template <size_t N>
std::string FieldText(const unsigned char (&v)[N]) {
  return FieldHex(v, N);
}
inline std::string FieldText(const SearchString& s) {
  return FieldHex(s.Text, static_cast<size_t>(s.Length));
}
// A text field up to its terminating NUL.
template <size_t N>
std::string FieldText(const char (&v)[N]) {
  return std::string(v, strnlen(v, N));
}
// A fixed-length MQ field (no terminator): every byte counts. Trailing
// NULs are left out, any other byte outside the printable range is \xNN.
template <size_t N>
std::string FieldFixed(const char (&v)[N]) {
  size_t end = N;
  while (end > 0 && v[end - 1] == '\0') --end;
  std::string out;
  char esc[5];
  for (size_t i = 0; i < end; ++i) {
    unsigned char c = static_cast<unsigned char>(v[i]);
    if (c >= 0x20 && c < 0x7F) out += v[i];
    else snprintf(esc, sizeof esc, "\\x%02X", c), out += esc;
  }
  return out;
}

// "name=value ..." for each name of `expected` (itself "name=value ...",
// values without spaces), with the values `o` holds: compare the two.
inline std::string Fields(const RunOptions& o, const std::string& expected) {
  using Show = std::function<std::string(const RunOptions&)>;
#define FIELD(path) {#path, [](const RunOptions& r) { return FieldText(r.path); }}
#define FIXED(path) {#path, [](const RunOptions& r) { return FieldFixed(r.path); }}
  static const std::map<std::string, Show> kFields = {
      FIELD(InputSlot), FIELD(OutputSlot), FIELD(Qmgrs[0].Name), FIELD(Qmgrs[1].Name),
      FIXED(Override.ReplyToQMgr), FIXED(Override.ReplyToQ), FIELD(Override.MsgType),
      FIXED(Override.Format), FIELD(OverrideFields), FIELD(Convert), FIELD(ConvertCcsid),
      FIELD(ConvertEncoding), FIELD(SelectByMsgId), FIELD(SelectMsgId), FIELD(SelectByCorrelId),
      FIELD(SelectCorrelId), FIELD(SelectionActive), FIELD(DlqReason), FIELD(SelectByDlqReason),
      FIELD(InvertSelection), FIELD(TargetQmgrMask), FIELD(TargetQueueMask),
      FIELD(TargetQmgrMaskLength), FIELD(TargetQueueMaskLength), FIELD(SelectByTarget),
      FIELD(Summary), FIELD(SummaryNoQStatus), FIELD(DataWidth), FIELD(LimitsActive),
      FIELD(MaxMessagesPerFile), FIELD(MaxFileSize), FIELD(MaxFileAge), FIELD(MsgStartDelimiter),
      FIELD(MsgEndDelimiter), FIELD(IncludeMsgDelimiters), FIELD(IncludePropDelimiters),
      FIELD(FullData), FIELD(Cfh3Processing), FIELD(AsyncPut), FIELD(StatusReports),
      FIELD(StatusEveryMessages), FIELD(Context), FIELD(SearchHex[0]), FIELD(SearchHexNot[0]),
      FIELD(SearchAscii[0]), FIELD(SearchEbcdic[0]), FIELD(InputFile), FIELD(OutputFile),
      FIELD(YoungerThan), FIELD(OlderThan), FIELD(PutAfter), FIELD(PutBefore),
      FIELD(OutputFileHasInserts), FIELD(InputFileHasInserts), FIELD(Generic),
      FIELD(RangeFirst), FIELD(RangeLast), FIELD(PriorityMin), FIELD(PriorityMax), FIELD(Delay),
      FIELD(Rate), FIELD(RateDuration), FIELD(WaitInterval),
  };
#undef FIELD
#undef FIXED
  std::string out;
  for (const std::string& word : Words(expected)) {
    std::string name = word.substr(0, word.find('='));
    auto it = kFields.find(name);
    out += (out.empty() ? "" : " ") + name + "=" +
           (it == kFields.end() ? "<no such field>" : it->second(o));
  }
  return out;
}

#endif  // ZEPLO_TESTS_ZEPLO_DRIVER_OPTIONS_UTIL_H_
