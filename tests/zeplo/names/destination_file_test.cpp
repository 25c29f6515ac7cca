#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "tests/zeplo/names/names_test_util.h"

namespace {

class DestinationFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zeplo_names_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(0, std::system(command.c_str()));
  }
  // Writes dir_/name (creating sub-directories) and returns its path.
  std::string Write(const std::string& name, const std::string& text) {
    std::string path = dir_ + "/" + name;
    std::string parent = path.substr(0, path.rfind('/'));
    std::system(("mkdir -p '" + parent + "'").c_str());
    FILE* file = std::fopen(path.c_str(), "w");
    EXPECT_NE(nullptr, file) << path;
    if (file != nullptr) {
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
    }
    return path;
  }
  // AddDestination("file:<name>") into the input list; stderr kept in err_.
  int Add(const std::string& text) {
    testing::internal::CaptureStderr();
    int rc = AddDestination(options_.get(), text.c_str(), true);
    err_ = testing::internal::GetCapturedStderr();
    EXPECT_EQ(nullptr, options_->InnermostInclude);  // never left dangling
    return rc;
  }
  std::string dir_;
  std::string err_;
  ScopedOptions options_;
};

TEST_F(DestinationFileTest, LinesAreTrimmedCommentsSkippedAndOrderKept) {
  std::string list = Write("list", "* header comment\r\n\n  Q2 \t\r\nQM3#Q3\n\t*indented comment\n"
                                   "'q4'\nlast/Q5");
  ASSERT_EQ(0, AddDestination(options_.get(), "Q1", true));
  ASSERT_EQ(0, Add("FiLe:  " + list)) << err_;
  ASSERT_EQ(0, AddDestination(options_.get(), "Q6", true));
  EXPECT_EQ("/Q1 /Q2 QM3/Q3 /q4 last/Q5 /Q6", Entries(options_->InputList));
  EXPECT_TRUE(options_->QuotedName);
  EXPECT_EQ("", err_);
}

TEST_F(DestinationFileTest, OnlyCommentsAndBlanksAddNothing) {
  EXPECT_EQ(0, Add("file:" + Write("empty", "* nothing\n\n   \n\t\n*")));
  EXPECT_EQ("", Entries(options_->InputList));
}

TEST_F(DestinationFileTest, IncludesAreRelativeToTheIncludingFile) {
  Write("cfg/sub/list2", "Q2\nfile:list3\n");
  Write("cfg/sub/list3", "Q3\n");
  Write("cfg/abs", "QA\n");
  std::string list1 = Write("cfg/list1", "Q1\nfile:sub/list2\nfile:" + dir_ + "/cfg/abs\nQ4\n");
  ASSERT_EQ(0, Add("file:" + list1)) << err_;
  EXPECT_EQ("/Q1 /Q2 /Q3 /QA /Q4", Entries(options_->InputList));
}

TEST_F(DestinationFileTest, RecursionIsRefusedWithTheIncludeChain) {
  struct Case {
    const char* Name;  // file to start from
    std::string Message;
  };
  Write("self", "Q1\nfile:self\n");
  Write("a", "* a\n\nfile:b\n");
  Write("b", "file:a\n");
  Write("dot", "file:./dot\n");  // the same file under another spelling
  const std::string d = dir_;
  const Case kCases[] = {
      {"self", "Recursive use of file '" + d + "/self'.\n  File '" + d + "/self' includes file '" +
                   d + "/self' on line 2.\n"},
      {"a", "Recursive use of file '" + d + "/a'.\n  File '" + d + "/a' includes file '" + d +
                "/b' on line 3.\n  File '" + d + "/b' includes file '" + d + "/a' on line 1.\n"},
      {"dot", "Recursive use of file '" + d + "/./dot'.\n  File '" + d +
                  "/dot' includes file '" + d + "/./dot' on line 1.\n"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(2046, Add("file:" + d + "/" + c.Name));
    EXPECT_EQ(c.Message, err_);
  }
  EXPECT_EQ("/Q1", Entries(options_->InputList));  // added before the failure
}

TEST_F(DestinationFileTest, RefusedFilesAndNames) {
  const std::string d = dir_;
  const std::string k49(49, 'Q');
  const std::string path300 = "/" + std::string(299, 'p');
  Write("long_line", "Q1\n" + std::string(600, 'L') + "\nQ3\n");
  Write("long_comment", "*" + std::string(600, ' ') + "QX\nQ2\n");
  Write("long_name", "Q1\n\n" + k49 + "\nQ3\n");
  Write("root", "file:/zeplo-no-such-file\n");
  std::string deep = "deep";
  for (int i = 0; i < 4; ++i) deep += "/" + std::string(60, 'd');
  Write(deep + "/x", "file:" + std::string(30, 'f') + "\n");  // 303 when joined
  struct Case {
    std::string Text;
    int Rc;
    std::string Message;
  };
  const Case kCases[] = {
      {"file:" + d + "/missing", 2046, "Can not open file '" + d + "/missing'.\n"},
      {"file:" + d, 2046, "Can not open file '" + d + "'.\n"},  // a directory
      {"file:", 2046, "Can not open file ''.\n"},
      {"file:" + path300, 2046, "Can not open file '" + path300 + "'.\n"},
      {"file:" + path300 + "x", 2046, "The file name '" + path300 + "x' is too long.\n"},
      {"file:" + d + "/root", 2046, "Can not open file '/zeplo-no-such-file'.\n"},
      {"file:" + d + "/long_line", 2046, "Line 2 of file '" + d + "/long_line' is too long.\n"},
      {"file:" + d + "/long_comment", 0, ""},
      {"file:" + d + "/long_name", 2046, "The Queue name '" + k49 + "' is too long.\n"},
      {"file:" + d + "/" + deep + "/x", 2046,
       "The file name '" + d + "/" + deep + "/" + std::string(30, 'f') + "' is too long.\n"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.Rc, Add(c.Text)) << c.Text.substr(0, 80);
    EXPECT_EQ(c.Message, err_);
  }
  EXPECT_EQ("/Q1 /Q2 /Q1", Entries(options_->InputList));
}

TEST_F(DestinationFileTest, DeepChainsOfDistinctFilesStop) {
  for (int i = 0; i < 70; ++i) {
    Write("n" + std::to_string(i), "file:n" + std::to_string(i + 1) + "\n");
  }
  EXPECT_EQ(2046, Add("file:" + dir_ + "/n0"));
  EXPECT_EQ("Files are nested more than 64 deep at file 'n64'.\n", err_);
}

TEST_F(DestinationFileTest, FirstOutputFileFillsTheOutputList) {
  std::string list = Write("out", "QM1/O1\nO2\n");
  testing::internal::CaptureStderr();
  ASSERT_EQ(0, ParseDestination(options_.get(), 0, ("file:" + list).c_str(),
                                options_->OutputQmgrName, options_->OutputQueueName, false));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ("QM1/O1 /O2", Entries(options_->OutputList));
  EXPECT_STREQ("O1", options_->OutputQueueName);
  EXPECT_EQ(nullptr, options_->InputList);
}

}  // namespace
