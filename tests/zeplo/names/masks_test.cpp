#include <cctype>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/zeplo/names/names_test_util.h"

namespace {

struct MaskCase {
  const char* Name;
  const char* Mask;
  bool Exact;   // MatchName
  bool NoCase;  // MatchNameNoCase
};

const MaskCase kMaskCases[] = {
    {"", "*", true, true},
    {"ANY.QUEUE", "*", true, true},
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
    {"AXBXC", "A*B*C", true, true},
    {"AXBXD", "A*B*C", false, false},
    {"A*B", "A*B", true, true},  // '*' in a name is an ordinary character
};

TEST(MasksTest, MatchTable) {
  for (const MaskCase& c : kMaskCases) {
    std::string name = c.Name, mask = c.Mask;
    EXPECT_EQ(c.Exact, MatchName(name.data(), name.size(), mask.data(), mask.size()))
        << c.Name << " ~ " << c.Mask;
    EXPECT_EQ(c.NoCase, MatchNameNoCase(name.data(), name.size(), mask.data(), mask.size()))
        << c.Name << " ~ " << c.Mask;
  }
}

TEST(MasksTest, LengthsNotTerminatorsDelimitTheTexts) {
  EXPECT_TRUE(MatchName("Q1XYZ", 2, "Q?*****", 2));
  EXPECT_FALSE(MatchName("Q1", 2, "Q1*", 1));
}

// The matcher as the recursive definition states it: a '*' tries the rest
// of the mask against the name with 0, 1, 2, ... characters removed.
bool Reference(const std::string& name, const std::string& mask) {
  if (mask.empty()) return name.empty();
  if (mask[0] == '*') {
    for (size_t skip = 0; skip <= name.size(); ++skip) {
      if (Reference(name.substr(skip), mask.substr(1))) return true;
    }
    return false;
  }
  if (name.empty()) return false;
  if (mask[0] != '?' && mask[0] != name[0]) return false;
  return Reference(name.substr(1), mask.substr(1));
}

// Every text of up to `length` characters over `alphabet`.
std::vector<std::string> AllTexts(const std::string& alphabet, size_t length) {
  std::vector<std::string> texts{""};
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].size() == length) continue;
    for (char c : alphabet) texts.push_back(texts[i] + c);
  }
  return texts;
}

TEST(MasksTest, AgreesWithTheRecursiveDefinitionExhaustively) {
  for (const std::string& mask : AllTexts("ab*?", 5)) {
    for (const std::string& name : AllTexts("ab", 6)) {
      ASSERT_EQ(Reference(name, mask), MatchName(name.data(), name.size(), mask.data(),
                                                 mask.size()))
          << name << " ~ " << mask;
    }
  }
}

TEST(MasksTest, ManyStarsStayFast) {
  std::string mask;
  for (int i = 0; i < 23; ++i) mask += "*?";
  mask += "*X";  // 48 characters that can never match
  std::string name(48, 'A');
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MatchNameNoCase(name.data(), name.size(), mask.data(), mask.size()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(MasksTest, QuotedDestinationsSwitchToExactCase) {
  ScopedOptions options;
  ASSERT_EQ(0, AddDestination(options.get(), "APP.*", true));
  ASSERT_EQ(0, AddDestination(options.get(), "QM1/SYS?EM.X", true));
  struct Case {
    const char* Name;
    bool InList;
  };
  const Case kBeforeQuote[] = {{"app.in", true}, {"System.X", true}, {"OTHER", false}};
  for (const Case& c : kBeforeQuote) {
    EXPECT_EQ(c.InList, InInputList(options.get(), c.Name)) << c.Name;
  }
  EXPECT_TRUE(MatchQueueMask(options.get(), "APP.IN", "app.*"));

  ASSERT_EQ(0, AddDestination(options.get(), "'Exact'", true));
  const Case kAfterQuote[] = {{"app.in", false}, {"APP.in", true}, {"Exact", true},
                              {"EXACT", false}};
  for (const Case& c : kAfterQuote) {
    EXPECT_EQ(c.InList, InInputList(options.get(), c.Name)) << c.Name;
  }
  EXPECT_FALSE(MatchQueueMask(options.get(), "APP.IN", "app.*"));
}

TEST(MasksTest, InputListEdges) {
  ScopedOptions options;
  EXPECT_FALSE(InInputList(options.get(), "Q1"));  // no list at all
  std::string full(48, 'F');
  ASSERT_EQ(0, AddDestination(options.get(), full.c_str(), true));  // unterminated entry
  EXPECT_TRUE(InInputList(options.get(), full.c_str()));
  EXPECT_FALSE(InInputList(options.get(), (full + "F").c_str()));
  // An entry whose queue name is empty selects every name.
  options->InputList->Entries[options->InputList->Count++] = Destination{};
  EXPECT_TRUE(InInputList(options.get(), "ANYTHING"));
}

}  // namespace
