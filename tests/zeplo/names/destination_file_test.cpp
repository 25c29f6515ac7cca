#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/zeplo/names/names_test_util.h"

namespace {

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
  std::string deep = "deep";
  for (int i = 0; i < 4; ++i) deep += "/" + std::string(60, 'd');
  Write(deep + "/x", "file:" + std::string(30, 'f') + "\n");  // 303 once joined
  for (int i = 0; i < 70; ++i) Write("n" + std::to_string(i), "file:n" + std::to_string(i + 1));
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
}

// A list without end (a runaway generator) stops with a message; an
// endless line is the end-to-end tests' -o file:/dev/zero.
TEST_F(DestinationFileTest, EndlessListIsRefused) {
  std::string many;
  for (int i = 0; i <= kMaxDestinations; ++i) many += "Q\n";
  Write("many", many);
  EXPECT_EQ(2046, Add("file:" + d_ + "/many"));
  EXPECT_EQ("Sorry, a destination list can hold at most 100000 destinations\n", err_);
}

}  // namespace
