// The formatted-log reader: each kind of damage gives its text and code.
// (Messages of every size are read back whole from localqm's own log by the
// end-to-end replay tests.)
#include <algorithm>
#include <functional>

#include "tests/zeplo/logreplay/log_test_util.h"

namespace {

std::string Lsn(int64_t lsn) {
  char text[32];
  LqmLogFormatLsn(lsn, text, sizeof text);
  return text;
}

void Replace(std::string* text, const std::string& from, const std::string& to) {
  size_t at = text->find(from);
  ASSERT_NE(std::string::npos, at) << from;
  text->replace(at, from.size(), to);
}

// Replaces the whole first line that starts with `start`.
void ReplaceLine(std::string* text, const std::string& start, const std::string& to) {
  size_t at = text->find("\n" + start);
  ASSERT_NE(std::string::npos, at) << start;
  text->replace(at + 1, text->find('\n', at + 1) - at - 1, to);
}

// Cuts the record at `lsn` out of the text.
void Remove(std::string* text, int64_t lsn) {
  size_t at = text->find("LOG RECORD - LSN <" + Lsn(lsn) + ">");
  ASSERT_NE(std::string::npos, at);
  size_t end = text->find("LOG RECORD", at + 1);
  text->erase(at, (end == std::string::npos ? text->find("AMQ7714") : end) - at);
}

std::string Bytes(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>(i * 7 + n);
  return s;
}

// The log the damage cases start from: a two-byte message "JJ", then one
// of 150 bytes in its own 64-byte piece and two parts.
struct BaseLog {
  std::string Text;
  int64_t Small, Part1, Part2, Large;
  BaseLog() {
    LogText log;
    Small = log.Lsn;
    log.Put("APP.IN", "JJ");
    Part1 = log.Lsn;
    log.Put("APP.IN", Bytes(150));
    Part2 = Part1 + kLogRecordOverhead + 80;
    Large = Part2 + kLogRecordOverhead + 38;
    Text = log.Done();
  }
};

TEST(LogReaderTest, DamagedTextGivesItsMessageAndCode) {
  const BaseLog base;
  using Edit = std::function<void(std::string*)>;
  // Replaces the first `from` by `to`.
  auto R = [](std::string from, std::string to) -> Edit {
    return [=](std::string* t) { Replace(t, from, to); };
  };
  const std::string p2 = "PrevLSN . . . . : <" + Lsn(base.Part2);
  const std::string lsn49(49, '7'), lsn50(50, '7');
  struct Case {
    const char* Name;
    Edit Damage;
    int Rc;
    std::string Err;
    size_t Messages;
  } cases[] = {
      {"no record", [](std::string* t) { *t = "hello\nworld\n"; }, 2142, "No MQ log records found.\n", 0},
      {"empty", [](std::string* t) { t->clear(); }, 2142, "Are you sure file '", 0},
      {"LSN of 49", [&](std::string* t) {
         Replace(t, "LSN <" + Lsn(base.Part2) + ">", "LSN <" + lsn49 + ">"), Replace(t, p2, p2.substr(0, 19) + lsn49); },
       0, "", 2},
      {"LSN of 50", R(Lsn(base.Small) + ">", lsn50 + ">"), 2242, "Line ld, LSN too large.\n", 0},
      {"LSN empty", R("<" + Lsn(base.Part1) + ">", "<>"), 2242, "Line ld, LSN missing.\n", 0},
      {"LSN no <", R("<" + Lsn(base.Large), "("), 2242, "Line ld, LSN format unrecognised.\n", 1},
      {"lower case", R("00448:  4A 4A", "00448:  4a 4A"), 0, "", 2},
      {"short line", [](std::string* t) { ReplaceLine(t, "00448:", "00448:  4A 4"); }, 2242,
       "Data dump line too short.\n", 0},
      {"long dump", R("00448:  4A 4A ", "00448:  4A 4A 4A"), 2242, "Data dump longer than its record.\n", 0},
      {"lost line", [](std::string* t) { ReplaceLine(t, "00432:", "00432:"); }, 2242,
       "Data dump line too short.\n", 0},
      {"header version", R("41 51 52 48 04", "41 51 52 48 05"), 2110,
       "Message Header Version 5 not recognised.\n", 0},
      {"descriptor", R("4D 44 20 20 02", "4D 45 20 20 02"), 2110, "Unrecongnised message format.\n", 0},
      {"MQMD version", R("4D 44 20 20 02", "4D 44 20 20 03"), 2110, "Unrecognised MQMD version 3.\n", 0},
      // Without its colons the record is passed over, unless no PrevLSN
      // line came first.
      {"Data.Locn", R(". . . : 450", ". . . . 450"), 0, "", 1},
      {"Data.Locn first", [](std::string* t) { Replace(t, ". . . : 450", ". . . . 450"), Replace(t, "PrevLSN", "Other"); },
       2110, "Data.Locn line not recognised.\n", 0},
      {"cut", [](std::string* t) { t->resize(t->rfind("Data  .")); }, 2110, "Log ended inside a log record.\n", 1},
      {"no data", R("Data  .", "Dat"), 2110, "Log record without data.\n", 0},
      {"oldest part", [&](std::string* t) { Remove(t, base.Part1); }, 2242,
       "Can not construct message 2, LSN '" + Lsn(base.Part1) + "' missing.\n", 1},
      {"newest part", [&](std::string* t) { Remove(t, base.Part2); }, 2242,
       "Can not construct message 2, message length does not match.\n", 1},
      {"no message", [&](std::string* t) { Remove(t, base.Large); }, 2110,
       "Extra message parts for message 1 unused.\n", 1},
      {"AMQ line", [](std::string* t) { t->insert(0, "AMQ6150: odd %s %n text\n"); }, 0,
       "AMQ6150: odd %s %n text\n", 2},
  };
  for (const Case& c : cases) {
    std::string text = base.Text;
    c.Damage(&text);
    Replay r = RunReplay(ScratchFile("damaged.txt", text));
    EXPECT_EQ(c.Rc, r.Rc) << c.Name << "\n" << r.Err;
    EXPECT_NE(std::string::npos, r.Err.find(c.Err)) << c.Name << "\n" << r.Err;
    EXPECT_EQ(c.Messages, r.Data.size()) << c.Name << "\n" << r.Err;
    if (r.Rc == 0 && c.Messages == 2) {
      EXPECT_EQ(Bytes(150), r.Data[1]) << c.Name;
    }
  }
}

}  // namespace
