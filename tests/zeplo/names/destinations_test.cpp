// Destination texts, list files, name masks and the input list.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

namespace {

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

const std::string k48(48, 'Q'), k49(49, 'Q');

TEST(DestinationsTest, ParseDestinationTable) {
  // Message: on standard error; refused (2046) when set.
  struct Case { std::string Text; char Separator; std::string Qmgr, Queue; bool Quoted;
                std::string Message; };
  const Case kCases[] = {
      {"QM1/Q1", 0, "QM1", "Q1", false, ""}, {"QM1#Q1", 0, "QM1", "Q1", false, ""},
      {"QM1,Q1", 0, "QM1", "Q1", false, ""},
      {"A#B/C", 0, "A", "B/C", false, ""},  // '#' wins wherever it stands
      {"A/B#C", 0, "A/B", "C", false, ""}, {"A,B\\C", 0, "A", "B\\C", false, ""},
      {"QM1:Q1/X", ':', "QM1", "Q1/X", false, ""}, {"QM1/Q1", ':', "", "QM1/Q1", false, ""},
      {"'Q1'", 0, "", "Q1", true, ""}, {"'QM1/q1", 0, "QM1", "q1", true, ""},
      {"'", 0, "", "", true, ""}, {k48 + "/" + k48, 0, k48, k48, false, ""},
      {k49, 0, "", "", false, "The Queue name '" + k49 + "' is too long.\n"},
      {"'" + k49 + "'", 0, "", "", true, "The Queue name '" + k49 + "' is too long.\n"},
      {k49 + "/Q", 0, "", "", false,
       "The Queue Manager part of destination '" + k49 + "/Q' is too long.\n"},
      {"QM/" + k49, 0, "", "", false,
       "The Queue name part of destination 'QM/" + k49 + "' is too long.\n"},
  };
  for (const Case& c : kCases) {
    ScopedOptions options;
    char qmgr[49], queue[49];
    std::memset(qmgr, 'X', sizeof qmgr);
    std::memset(queue, 'X', sizeof queue);
    testing::internal::CaptureStderr();
    int rc = ParseDestination(options.get(), c.Separator, c.Text.c_str(), qmgr, queue, false);
    EXPECT_EQ(c.Message, testing::internal::GetCapturedStderr()) << c.Text;
    EXPECT_EQ(c.Message.empty() ? 0 : 2046, rc) << c.Text;
    EXPECT_EQ(c.Qmgr, qmgr) << c.Text;  // terminated even at 48 characters
    EXPECT_EQ(c.Queue, queue) << c.Text;
    EXPECT_EQ(c.Quoted, options->QuotedName) << c.Text;
  }
}

TEST(MasksTest, MatchTable) {
  struct Case { std::string Name, Mask; bool Exact, NoCase; };
  const Case kCases[] = {
      {"", "*", true, true},          {"ANY.Q", "*", true, true},
      {"Q1", "Q?", true, true},       {"Q", "Q?", false, false},
      {"Q12", "Q?", false, false},    {"APP.X.IN", "APP.*.IN", true, true},
      {"APP..IN", "APP.*.IN", true, true}, {"APP.X.OUT", "APP.*.IN", false, false},
      {"A", "A**", true, true},       {"AB", "A**", true, true},
      {"APP.IN", "app.*", false, true}, {"", "", true, true},
      {"Q1", "", false, false},       {"", "?", false, false},
      {"ABAB", "*AB", true, true},    {"AXBXD", "A*B*C", false, false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.Exact, MatchName(c.Name.data(), c.Name.size(), c.Mask.data(), c.Mask.size()))
        << c.Name << " ~ " << c.Mask;
    EXPECT_EQ(c.NoCase, MatchNameNoCase(c.Name.data(), c.Name.size(), c.Mask.data(), c.Mask.size()))
        << c.Name << " ~ " << c.Mask;
  }
  EXPECT_TRUE(MatchName("Q1XYZ", 2, "Q?*****", 2));  // lengths, not terminators
}

TEST(MasksTest, InputListAndQuotedDestinations) {
  ScopedOptions options;
  EXPECT_FALSE(InInputList(options.get(), "Q1"));  // no list at all
  const std::string full(48, 'F');                 // an entry without a terminator
  for (const std::string& text : {std::string("APP.*"), std::string("QM1/SYS?EM.X"), full}) {
    ASSERT_EQ(0, AddDestination(options.get(), text.c_str(), true));
  }
  struct Case { std::string Name; bool Before, After; };  // before and after a quoted one
  const Case kCases[] = {{"app.in", true, false},   {"APP.in", true, true},
                         {"System.X", true, false}, {"Exact", false, true},
                         {"EXACT", false, false},   {full, true, true},
                         {full + "F", false, false}};
  for (const Case& c : kCases) EXPECT_EQ(c.Before, InInputList(options.get(), c.Name.c_str()));
  EXPECT_TRUE(MatchQueueMask(options.get(), "APP.IN", "app.*"));
  ASSERT_EQ(0, AddDestination(options.get(), "'Exact'", true));
  for (const Case& c : kCases) EXPECT_EQ(c.After, InInputList(options.get(), c.Name.c_str()));
  EXPECT_FALSE(MatchQueueMask(options.get(), "APP.IN", "app.*"));
  // An entry whose queue name is empty selects every name.
  options->InputList->Entries[options->InputList->Count++] = Destination{};
  EXPECT_TRUE(InInputList(options.get(), "ANYTHING"));
}


class DestinationFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zeplo_names_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    d_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(d_); }
  // Writes d_/name, creating its directories.
  void Write(const std::string& name, const std::string& text) {
    std::filesystem::path path = d_ + "/" + name;
    std::filesystem::create_directories(path.parent_path());
    EXPECT_TRUE(std::ofstream(path) << text) << path;
  }
  // AddDestination to the input list, standard error kept in err_.
  int Add(const std::string& text) {
    testing::internal::CaptureStderr();
    int rc = AddDestination(options_.get(), text.c_str(), true);
    err_ = testing::internal::GetCapturedStderr();
    EXPECT_EQ(nullptr, options_->InnermostInclude);  // never left dangling
    return rc;
  }
  std::string d_, err_;
  ScopedOptions options_;
};

TEST_F(DestinationFileTest, LinesIncludesAndOrder) {
  Write("cfg/list1", "* comment\r\n\n  Q2 \t\r\nQM3#Q3\n\t*indented\nfile:sub/list2\n'q5'\n");
  Write("cfg/sub/list2", "file:list3\nfile:" + d_ + "/abs\n");  // relative to its own dir
  Write("cfg/sub/list3", "Q3b\n");
  Write("abs", "Q4\n");
  ASSERT_EQ(0, Add("Q1"));
  ASSERT_EQ(0, Add("FiLe:  " + d_ + "/cfg/list1")) << err_;
  EXPECT_EQ("/Q1 /Q2 QM3/Q3 /Q3b /Q4 /q5", Entries(options_->InputList));
  EXPECT_TRUE(options_->QuotedName);
  EXPECT_EQ("", err_);
}

TEST_F(DestinationFileTest, RefusalsPrintTheirMessage) {
  Write("self", "Q1\nfile:self\n");
  Write("a", "* a\n\nfile:b\n");
  Write("b", "file:a\n");
  Write("dot", "file:./dot\n");  // the same file under another spelling
  Write("long_line", std::string(600, 'L') + "\n");
  Write("long_name", "\n" + std::string(49, 'Q') + "\n");
  Write("root", "file:/zeplo-no-such-file\n");
  Write("empty", "* nothing\n\n   \n\t\n*");
  Write("long_comment", "*" + std::string(600, ' ') + "QX\n");  // the tail is no queue
  Write("no_queue", "Q2\nQM1/\n");
  const std::string d60(60, 'd'), deep = "deep/" + d60 + "/" + d60 + "/" + d60 + "/" + d60;
  Write(deep + "/x", "file:" + std::string(30, 'f') + "\n");  // 303 once joined
  for (int i = 0; i < 70; ++i) Write("n" + std::to_string(i), "file:n" + std::to_string(i + 1));
  std::string many;  // a list without end, as a runaway generator writes
  for (int i = 0; i <= kMaxDestinations; ++i) many += "Q\n";
  Write("many", many);
  const std::string d = d_, p300 = "/" + std::string(299, 'p');
  const std::string kFile = "file:" + d + "/";
  struct Case { std::string Text, Message; };
  const Case kCases[] = {
      {kFile + "self", "Recursive use of file '" + d + "/self'.\n  File '" + d +
                           "/self' includes file '" + d + "/self' on line 2.\n"},
      {kFile + "a", "Recursive use of file '" + d + "/a'.\n  File '" + d + "/a' includes file '" +
                        d + "/b' on line 3.\n  File '" + d + "/b' includes file '" + d +
                        "/a' on line 1.\n"},
      {kFile + "dot", "Recursive use of file '" + d + "/./dot'.\n  File '" + d +
                          "/dot' includes file '" + d + "/./dot' on line 1.\n"},
      {kFile + "missing", "Can not open file '" + d + "/missing'.\n"},
      {"file:" + d, "Can not open file '" + d + "'.\n"},  // a directory
      {"file:", "Can not open file ''.\n"},
      {"file:" + p300, "Can not open file '" + p300 + "'.\n"},
      {"file:" + p300 + "x", "The file name '" + p300 + "x' is too long.\n"},
      {kFile + deep + "/x",
       "The file name '" + d + "/" + deep + "/" + std::string(30, 'f') + "' is too long.\n"},
      {kFile + "root", "Can not open file '/zeplo-no-such-file'.\n"},
      {kFile + "long_line", "Line 1 of file '" + d + "/long_line' is too long.\n"},
      {kFile + "long_name", "The Queue name '" + std::string(49, 'Q') + "' is too long.\n"},
      {kFile + "n0", "Files are nested more than 64 deep at file 'n64'.\n"},
      // A list naming no queue would leave a run without its input or
      // output (a move with -I would then only remove messages).
      {kFile + "empty", "Sorry, the destination '" + kFile + "empty' names no queue.\n"},
      {kFile + "long_comment",
       "Sorry, the destination '" + kFile + "long_comment' names no queue.\n"},
      {kFile + "no_queue", "Sorry, the destination 'QM1/' names no queue.\n"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(2046, Add(c.Text)) << c.Text.substr(0, 80);
    EXPECT_EQ(c.Message, err_);
  }
  EXPECT_EQ("/Q1 /Q2", Entries(options_->InputList));  // added before the failure
  // A list without end stops with a message (an endless line is the
  // end-to-end tests' -o file:/dev/zero).
  EXPECT_EQ(2046, Add(kFile + "many"));
  EXPECT_EQ("Sorry, a destination list can hold at most 100000 destinations\n", err_);
}

}  // namespace
