// Message selection on an unload with the real binary against localqm: one
// queue of seven messages that differ in text, priority, size, identifier,
// put time and header (a dead-letter and a transmission header), every
// filter in a table of browse runs, and the same filters on a move, where
// only the selected messages may leave the queue.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "mqi/mqi.h"
#include "tests/e2e/e2e_util.h"

namespace {

using Selection = std::set<int>;  // message numbers, 1 to 7

std::string Hex(const void* data, size_t length) {
  static const char* digits = "0123456789ABCDEF";
  const unsigned char* p = static_cast<const unsigned char*>(data);
  std::string hex;
  for (size_t i = 0; i < length; i++) {
    hex += digits[p[i] >> 4];
    hex += digits[p[i] & 15];
  }
  return hex;
}

void Blank(char* field, size_t width, const char* text) {
  memset(field, ' ', width);
  memcpy(field, text, strlen(text));
}

// Message n's identifier: "ID<n>" and 21 blanks, so that -gm can name it as
// text and -gxm must spell the blanks out.
std::string MsgIdHex(int n) {
  char id[24];
  Blank(id, sizeof id, ("ID" + std::to_string(n)).c_str());
  return Hex(id, sizeof id);
}

std::string DeadLetterHex() {
  MQDLH dlh = {MQDLH_DEFAULT};
  dlh.Reason = MQRC_Q_FULL;
  Blank(dlh.DestQName, 48, "Q7");
  Blank(dlh.DestQMgrName, 48, "QMX");
  memcpy(dlh.Format, MQFMT_STRING, 8);
  Blank(dlh.PutApplName, 28, "");
  Blank(dlh.PutDate, 8, "");
  Blank(dlh.PutTime, 8, "");
  return Hex(&dlh, sizeof dlh) + Hex("dead body", 9);
}

std::string TransmissionHex() {
  MQXQH xqh = {MQXQH_DEFAULT};
  Blank(xqh.RemoteQName, 48, "QA");
  Blank(xqh.RemoteQMgrName, 48, "QMY");
  memcpy(xqh.MsgDesc.Format, MQFMT_STRING, 8);
  return Hex(&xqh, sizeof xqh) + Hex("xmit body", 9);
}

// Put in order of falling priority, so that the browse order (priority,
// then arrival) is the numbering.
struct Message {
  std::string hex;
  const char* priority;
  const char* format;
  const char* putDate;  // null: now
  int length;
};

std::vector<Message> Messages() {
  return {
      {Hex("gamma three is the longest text", 31), "9", "MQSTR", nullptr, 31},
      {Hex("beta two", 8), "5", "MQSTR", nullptr, 8},
      {Hex("old alpha message", 17), "3", "MQSTR", "20200101", 17},
      {Hex("alpha one", 9), "1", "MQSTR", nullptr, 9},
      {"C1C2C340F1F2", "0", "", nullptr, 6},  // "ABC 12" in EBCDIC
      {DeadLetterHex(), "0", "MQDEAD", nullptr, static_cast<int>(sizeof(MQDLH)) + 9},
      {TransmissionHex(), "0", "MQXMIT", nullptr, static_cast<int>(sizeof(MQXQH)) + 9},
  };
}

class UnloadFiltersTest : public ::testing::Test {
 public:
  void SetUp() override {
    LocalqmOrFail({"create", "QM1", "--default"});
    LocalqmOrFail({"define", "QM1", "Q1"});
    Fill();
  }
  static void Fill() {
    LocalqmOrFail({"clear", "QM1", "Q1"});
    std::vector<Message> messages = Messages();
    for (size_t i = 0; i < messages.size(); i++) {
      const Message& m = messages[i];
      std::vector<std::string> args = {"put",      "QM1",     "Q1",
                                       "--hex",    m.hex,     "--priority",
                                       m.priority, "--msgid", MsgIdHex(static_cast<int>(i) + 1)};
      if (m.format[0] != '\0') args.insert(args.end(), {"--format", m.format});
      if (m.putDate != nullptr)
        args.insert(args.end(), {"--putdate", m.putDate, "--puttime", "12000000"});
      LocalqmOrFail(args);
    }
  }
  // The message numbers whose identifiers appear among lines that start
  // with prefix ("A MSI " in a message file, "MsgId : " in a browse).
  static Selection Numbers(const std::string& text, const std::string& prefix) {
    Selection found;
    for (const std::string& line : SplitLines(text)) {
      if (line.rfind(prefix, 0) != 0) continue;
      for (int n = 1; n <= 7; n++) {
        if (line.substr(prefix.size()) == MsgIdHex(n)) found.insert(n);
      }
    }
    return found;
  }
  static Selection InFile() { return Numbers(ReadFileText(ScratchPath("out.zpd")), "A MSI "); }
  static Selection OnQueue() { return Numbers(LocalqmOrFail({"browse", "QM1", "Q1"}), "MsgId : "); }
  static std::string Describe(const Selection& s) {
    std::string text = "{";
    for (int n : s) text += " " + std::to_string(n);
    return text + " }";
  }
};

const Selection kAll = {1, 2, 3, 4, 5, 6, 7};

Selection Without(const Selection& s) {
  Selection rest;
  for (int n : kAll)
    if (s.count(n) == 0) rest.insert(n);
  return rest;
}

struct FilterCase {
  std::vector<std::string> filter;
  Selection selected;
  int read;  // messages the run reads before it ends
};

std::vector<FilterCase> FilterCases() {
  std::string id2 = MsgIdHex(2);
  return {
      // Search strings: all of the -s list, none of the -S list.
      {{"-s", "alpha"}, {3, 4}, 7},
      {{"-s", "al", "-s", "ph", "-S", "one"}, {3}, 7},
      {{"-x", "616C706861"}, {3, 4}, 7},
      {{"-X", "616C706861"}, {1, 2, 5, 6, 7}, 7},
      {{"-x", "C1C2C"}, {5}, 7},  // the odd last digit is ignored
      {{"-e", "ABC"}, {5}, 7},
      {{"-E", "ABC"}, {1, 2, 3, 4, 6, 7}, 7},
      // A string that would match only past the end of the data.
      {{"-s", "texts"}, {}, 7},
      // Priority bounds are inclusive; sizes are at least the lower bound.
      {{"-P", "5,"}, {1, 2}, 7},
      {{"-P", "5,1"}, {2, 3, 4}, 7},  // reversed bounds are put in order
      {{"-z", "30"}, {1, 6, 7}, 7},
      {{"-z", "0.1k,200"}, {6}, 7},
      // Dead-letter reason and target names from the headers.
      {{"-Gr:2053"}, {6}, 7},
      {{"-Gt:*/Q?"}, {6, 7}, 7},
      {{"-Gt:QMY/*"}, {7}, 7},
      {{"-Gt:Q7"}, {6}, 7},  // no queue manager part: any queue manager
      // Put times: message 3 was put in 2020, the rest now.
      {{"-T", "60"}, {3}, 7},
      {{"-T", "tu01/01/2021"}, {3}, 7},
      {{"-T", "fu01/01/2021"}, {1, 2, 4, 5, 6, 7}, 7},
      // Identifiers are matched by the get: the text form is padded with
      // blanks, the hex form with zeros (so a prefix finds nothing).
      {{"-gmID4"}, {4}, 1},
      {{"-gxm" + id2}, {2}, 1},
      {{"-gxm494432"}, {}, 0},
      // A range by count: the run ends after its last message.
      {{"-r", "3#2"}, {3, 4}, 4},
      // Inverted selection, the range included: the run still ends at the
      // range's end.
      {{"-s", "alpha", "-Gi:"}, {1, 2, 5, 6, 7}, 7},
      {{"-r", "2..4", "-Gi:"}, {1}, 4},
      // Filters combine.
      {{"-Gt:*/*", "-z", "200"}, {7}, 7},
  };
}

std::string Label(const std::vector<std::string>& args) {
  std::string label;
  for (const std::string& a : args) label += a + " ";
  return label;
}

TEST_F(UnloadFiltersTest, BrowseWritesOnlyTheSelectedMessages) {
  for (const FilterCase& c : FilterCases()) {
    // The output file is opened for the first selected message: with none
    // selected there is no file.
    std::remove(ScratchPath("out.zpd").c_str());
    std::vector<std::string> args = {"-m", "QM1", "-i", "Q1", "-F", "out.zpd"};
    args.insert(args.end(), c.filter.begin(), c.filter.end());
    RunResult r = RunZeplo(args);
    std::string label = Label(c.filter);
    ASSERT_EQ(0, r.exitStatus) << label << "\n" << r.err;
    EXPECT_EQ(Describe(c.selected), Describe(InFile())) << label;
    char read[80], written[80];
    snprintf(read, sizeof read, "Read    - Files:   0  Messages:%7d", c.read);
    snprintf(written, sizeof written, "Written - Files:%4d  Messages:%7d",
             c.selected.empty() ? 0 : 1, static_cast<int>(c.selected.size()));
    EXPECT_EQ(!c.selected.empty(), FileExists(ScratchPath("out.zpd"))) << label;
    EXPECT_NE(std::string::npos, r.err.find(read)) << label << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(written)) << label << "\n" << r.err;
  }
  EXPECT_EQ(Describe(kAll), Describe(OnQueue()));
}

// On a move only the selected messages may leave the queue. The null
// output reads no data unless a filter needs it: the "null" filters look
// into the data, so there too only the matching messages may go.
TEST_F(UnloadFiltersTest, MoveTakesOnlyTheSelectedMessages) {
  const struct {
    std::vector<std::string> filter;
    const char* output;
  } moves[] = {
      {{"-s", "alpha"}, "out.zpd"},     {{"-P", "5,"}, "out.zpd"},
      {{"-Gr:2053"}, "out.zpd"},        {{"-s", "alpha", "-Gi:"}, "out.zpd"},
      {{"-r", "2..4", "-Gi:"}, "out.zpd"}, {{"-gmID4"}, "out.zpd"},
      {{"-T", "60"}, "out.zpd"},        {{"-s", "alpha"}, "null"},
      {{"-Gt:QMY/*"}, "null"},          {{"-z", "30"}, "null"},
  };
  for (const auto& m : moves) {
    std::string label = Label(m.filter) + m.output;
    Selection selected;
    bool found = false;
    for (const FilterCase& f : FilterCases()) {
      if (f.filter == m.filter) selected = f.selected, found = true;
    }
    ASSERT_TRUE(found) << label << ": not a case of the browse table";
    Fill();
    std::remove(ScratchPath("out.zpd").c_str());
    std::vector<std::string> args = {"-m", "QM1", "-I", "Q1", "-f", m.output};
    args.insert(args.end(), m.filter.begin(), m.filter.end());
    RunResult r = RunZeplo(args);
    ASSERT_EQ(0, r.exitStatus) << label << "\n" << r.err;
    EXPECT_EQ(Describe(std::string(m.output) == "null" ? Selection{} : selected),
              Describe(InFile()))
        << label;
    EXPECT_EQ(Describe(Without(selected)), Describe(OnQueue())) << label;
    EXPECT_FALSE(FileExists(ScratchPath("null"))) << label;
  }
  // With purge the filters protect nothing: the selected messages are
  // written, the others discarded.
  Fill();
  RunResult r = RunZeplo({"-m", "QM1", "-I", "Q1", "-F", "out.zpd", "-p", "-s", "alpha"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(Describe({3, 4}), Describe(InFile()));
  EXPECT_EQ(Describe({}), Describe(OnQueue()));
}

TEST_F(UnloadFiltersTest, HeadersCutShortAreNeverMatched) {
  // A full dead-letter message first, so that a reader that looked past
  // the data of the short ones would find its reason and names there.
  LocalqmOrFail({"clear", "QM1", "Q1"});
  const std::string full = DeadLetterHex();
  for (const std::string& hex :
       {full, full.substr(0, 16), full.substr(0, 8), full.substr(0, 2 * (sizeof(MQDLH) - 1))}) {
    LocalqmOrFail({"put", "QM1", "Q1", "--hex", hex, "--format", "MQDEAD"});
  }
  const std::string xmit = TransmissionHex();
  LocalqmOrFail({"put", "QM1", "Q1", "--hex", xmit.substr(0, 2 * 60), "--format", "MQXMIT"});
  for (const std::vector<std::string>& filter :
       std::vector<std::vector<std::string>>{{"-Gr:2053"}, {"-Gt:QMX/Q7"}, {"-Gt:*/*"}}) {
    std::remove(ScratchPath("out.zpd").c_str());
    std::vector<std::string> args = {"-m", "QM1", "-i", "Q1", "-dN", "-F", "out.zpd"};
    args.insert(args.end(), filter.begin(), filter.end());
    RunResult r = RunZeplo(args);
    ASSERT_EQ(0, r.exitStatus) << filter[0] << "\n" << r.err;
    EXPECT_NE(std::string::npos,
              r.err.find("Written - Files:   1  Messages:      1  Bytes:         181"))
        << filter[0] << "\n"
        << r.err;
  }
}

}  // namespace
