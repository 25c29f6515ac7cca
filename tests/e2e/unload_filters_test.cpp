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

// The data in hex and the put options of each message. Put in order of
// falling priority, so that the browse order (priority, then arrival) is
// the numbering.
std::vector<std::pair<std::string, std::string>> Messages() {
  return {
      {Hex("gamma three is the longest text", 31), "--priority 9 --format MQSTR"},
      {Hex("beta two", 8), "--priority 5 --format MQSTR"},
      {Hex("old alpha message", 17),
       "--priority 3 --format MQSTR --putdate 20200101 --puttime 12000000"},
      {Hex("alpha one", 9), "--priority 1 --format MQSTR"},
      {"C1C2C340F1F2", "--priority 0"},  // "ABC 12" in EBCDIC
      {DeadLetterHex(), "--priority 0 --format MQDEAD"},
      {TransmissionHex(), "--priority 0 --format MQXMIT"},
  };
}

class UnloadFiltersTest : public QueueTest {
 public:
  void SetUp() override {
    QueueTest::SetUp();
    Fill();
  }
  static void Fill() {
    LocalqmOrFail({"clear", "QM1", "Q1"});
    int n = 0;
    for (const auto& [hex, options] : Messages())
      LocalqmOrFail(Words("put QM1 Q1 --hex " + hex + " --msgid " + MsgIdHex(++n) + " " + options));
  }
  // The message numbers whose identifiers appear among lines that start
  // with prefix ("A MSI " in a message file, "MsgId : " in a browse).
  static Selection Numbers(const std::string& text, const std::string& prefix) {
    Selection found;
    for (const std::string& line : SplitLines(text)) {
      for (int n = 1; n <= 7 && line.rfind(prefix, 0) == 0; n++)
        if (line.substr(prefix.size()) == MsgIdHex(n)) found.insert(n);
    }
    return found;
  }
  static Selection InFile() { return Numbers(ReadFileText(ScratchPath("out.zpd")), "A MSI "); }
  static Selection OnQueue() { return Numbers(LocalqmOrFail({"browse", "QM1", "Q1"}), "MsgId : "); }
};

const Selection kAll = {1, 2, 3, 4, 5, 6, 7};

Selection Without(const Selection& s) {
  Selection rest;
  for (int n : kAll)
    if (s.count(n) == 0) rest.insert(n);
  return rest;
}

struct FilterCase {
  std::string filter;  // split at spaces
  Selection selected;
  int read;          // messages the run reads before it ends
  const char* move;  // also run as a move to this output; null: not
};

std::vector<FilterCase> FilterCases() {
  return {
      // Search strings: all of the -s list, none of the -S list.
      {"-s alpha", {3, 4}, 7, "out.zpd"},
      {"-s alpha", {3, 4}, 7, "null"},
      {"-s al -s ph -S one", {3}, 7, nullptr},
      {"-x 616C706861", {3, 4}, 7, nullptr},
      {"-X 616C706861", {1, 2, 5, 6, 7}, 7, nullptr},
      {"-x C1C2C", {5}, 7, nullptr},  // the odd last digit is ignored
      {"-e ABC", {5}, 7, nullptr},
      {"-E ABC", {1, 2, 3, 4, 6, 7}, 7, nullptr},
      // A string that would match only past the end of the data.
      {"-s texts", {}, 7, nullptr},
      // Priority bounds are inclusive; sizes are at least the lower bound.
      {"-P 5,", {1, 2}, 7, "out.zpd"},
      {"-P 5,1", {2, 3, 4}, 7, nullptr},  // reversed bounds are put in order
      {"-z 30", {1, 6, 7}, 7, "null"},
      {"-z 0.1k,200", {6}, 7, nullptr},
      // Dead-letter reason and target names from the headers.
      {"-Gr:2053", {6}, 7, "out.zpd"},
      {"-Gt:*/Q?", {6, 7}, 7, nullptr},
      {"-Gt:QMY/*", {7}, 7, "null"},
      {"-Gt:Q7", {6}, 7, nullptr},  // no queue manager part: any queue manager
      // Put times: message 3 was put in 2020, the rest now.
      {"-T 60", {3}, 7, "out.zpd"},
      {"-T tu01/01/2021", {3}, 7, nullptr},
      {"-T fu01/01/2021", {1, 2, 4, 5, 6, 7}, 7, nullptr},
      // Identifiers are matched by the get: the text form is padded with
      // blanks, the hex form with zeros (so a prefix finds nothing).
      {"-gmID4", {4}, 1, "out.zpd"},
      {"-gxm" + MsgIdHex(2), {2}, 1, nullptr},
      {"-gxm494432", {}, 0, nullptr},
      // A range by count: the run ends after its last message.
      {"-r 3#2", {3, 4}, 4, nullptr},
      // Inverted selection, the range included: the run still ends at the
      // range's end.
      {"-s alpha -Gi:", {1, 2, 5, 6, 7}, 7, "out.zpd"},
      {"-r 2..4 -Gi:", {1}, 4, "out.zpd"},
      // Filters combine.
      {"-Gt:*/* -z 200", {7}, 7, nullptr},
  };
}

TEST_F(UnloadFiltersTest, BrowseWritesOnlyTheSelectedMessages) {
  for (const FilterCase& c : FilterCases()) {
    // The output file is opened for the first selected message: with none
    // selected there is no file.
    std::remove(ScratchPath("out.zpd").c_str());
    RunResult r = RunZeplo(Words("-m QM1 -i Q1 -F out.zpd " + c.filter));
    ASSERT_EQ(0, r.exitStatus) << c.filter << "\n" << r.err;
    EXPECT_EQ(c.selected, InFile()) << c.filter;
    char read[80], written[80];
    snprintf(read, sizeof read, "Read    - Files:   0  Messages:%7d", c.read);
    snprintf(written, sizeof written, "Written - Files:%4d  Messages:%7d",
             c.selected.empty() ? 0 : 1, static_cast<int>(c.selected.size()));
    EXPECT_EQ(!c.selected.empty(), FileExists(ScratchPath("out.zpd"))) << c.filter;
    EXPECT_NE(std::string::npos, r.err.find(read)) << c.filter << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(written)) << c.filter << "\n" << r.err;
  }
  EXPECT_EQ(kAll, OnQueue());
}

// On a move only the selected messages may leave the queue. The null
// output reads no data unless a filter needs it: the "null" filters look
// into the data, so there too only the matching messages may go.
TEST_F(UnloadFiltersTest, MoveTakesOnlyTheSelectedMessages) {
  for (const FilterCase& c : FilterCases()) {
    if (c.move == nullptr) continue;
    const std::string label = c.filter + " " + c.move;
    Fill();
    std::remove(ScratchPath("out.zpd").c_str());
    RunResult r = RunZeplo(Words("-m QM1 -I Q1 -f " + std::string(c.move) + " " + c.filter));
    ASSERT_EQ(0, r.exitStatus) << label << "\n" << r.err;
    EXPECT_EQ(std::string(c.move) == "null" ? Selection{} : c.selected, InFile()) << label;
    EXPECT_EQ(Without(c.selected), OnQueue()) << label;
    EXPECT_FALSE(FileExists(ScratchPath("null"))) << label;
  }
  // With purge the filters protect nothing: the selected messages are
  // written, the others discarded.
  Fill();
  RunResult r = RunZeplo(Words("-m QM1 -I Q1 -F out.zpd -p -s alpha"));
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ((Selection{3, 4}), InFile());
  EXPECT_EQ(Selection{}, OnQueue());
}

TEST_F(UnloadFiltersTest, HeadersCutShortAreNeverMatched) {
  // A full dead-letter message first, so that a reader that looked past
  // the data of the short ones would find its reason and names there.
  LocalqmOrFail({"clear", "QM1", "Q1"});
  const std::string full = DeadLetterHex();
  for (const std::string& hex :
       {full, full.substr(0, 16), full.substr(0, 8), full.substr(0, 2 * (sizeof(MQDLH) - 1))})
    LocalqmOrFail({"put", "QM1", "Q1", "--hex", hex, "--format", "MQDEAD"});
  const std::string xmit = TransmissionHex();
  LocalqmOrFail({"put", "QM1", "Q1", "--hex", xmit.substr(0, 2 * 60), "--format", "MQXMIT"});
  for (const char* filter : {"-Gr:2053", "-Gt:QMX/Q7", "-Gt:*/*"}) {
    std::remove(ScratchPath("out.zpd").c_str());
    RunResult r = RunZeplo(Words("-m QM1 -i Q1 -dN -F out.zpd " + std::string(filter)));
    ASSERT_EQ(0, r.exitStatus) << filter << "\n" << r.err;
    EXPECT_TRUE(Has(r.err, "Written - Files:   1  Messages:      1  Bytes:         181"))
        << filter << "\n" << r.err;
  }
}

}  // namespace
