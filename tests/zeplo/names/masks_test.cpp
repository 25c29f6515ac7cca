#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/zeplo/names/names_test_util.h"

namespace {

TEST(MasksTest, MatchTable) {
  struct Case {
    std::string Name, Mask;
    bool Exact, NoCase;
  };
  const Case kCases[] = {
      {"", "*", true, true},
      {"ANY.Q", "*", true, true},
      {"Q1", "Q?", true, true},
      {"Q", "Q?", false, false},
      {"Q12", "Q?", false, false},
      {"APP.X.IN", "APP.*.IN", true, true},
      {"APP..IN", "APP.*.IN", true, true},
      {"APP.X.OUT", "APP.*.IN", false, false},
      {"A", "A**", true, true},
      {"AB", "A**", true, true},
      {"APP.IN", "app.*", false, true},
      {"", "", true, true},
      {"Q1", "", false, false},
      {"", "?", false, false},
      {"ABAB", "*AB", true, true},
      {"AXBXD", "A*B*C", false, false},
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
  struct Case {
    std::string Name;
    bool Before, After;  // in the list before and after a quoted destination
  };
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

}  // namespace
