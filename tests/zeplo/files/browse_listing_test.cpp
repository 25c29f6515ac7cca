// The browse-listing reader against a listing in the browse sample's own
// layout (tests/data/files/reader), whole and damaged on purpose; tokens
// and hex pairs on their own.
#include <algorithm>
#include <cstring>

#include "tests/zeplo/test_run.h"
#include "tests/zeplo/files/files_test_util.h"

namespace {

std::string Fixture() {
  return FileText(std::string(ZEPLO_SOURCE_DIR) +
                  "/tests/data/files/reader/amqsbcg_three_messages.txt");
}

struct Listing : TextInput {
  explicit Listing(const std::string& text) : TextInput(text, "listing.txt") {
    bool listing, empty;
    EXPECT_EQ(0, PrepareMessageFile(opts.get(), &listing, &empty));
    EXPECT_TRUE(listing);
  }
};

TEST(BrowseListingTest, ReadsEveryMessageOfTheSamplesListing) {
  Listing l(Fixture());
  ASSERT_EQ(0, ReadBrowseListingMessage(l.opts.get())) << l.opts->ExitMessage;
  MQMD first = {MQMD_DEFAULT};  // version 1: every version-2 field a default
  first.Persistence = 1, first.Priority = 4, first.CodedCharSetId = 1208, first.PutApplType = 6;
  std::memcpy(first.Format, "MQSTR   ", 8);
  std::memcpy(first.MsgId, "AMQ QM1         \xF5\xA1\x4C\x67\x01\xD2\x00\x40", 24);
  std::memcpy(first.ReplyToQ, "REPLY.Q", 7), std::memset(first.ReplyToQ + 7, ' ', 41);
  std::memcpy(first.ReplyToQMgr, "QM1", 3), std::memset(first.ReplyToQMgr + 3, ' ', 45);
  std::memcpy(first.UserIdentifier, "mqm         ", 12);
  std::memcpy(first.AccountingToken, "\x04" "1000", 5), first.AccountingToken[31] = 6;
  std::memset(first.ApplIdentityData, ' ', 32), std::memset(first.ApplOriginData, ' ', 4);
  std::memcpy(first.PutApplName, "amqsput                     ", 28);
  std::memcpy(first.PutDate, "2026120517441700", 16);
  EXPECT_EQ(0, std::memcmp(&first, &l.Md(), sizeof first));
  EXPECT_EQ("Hello World!", l.Data());

  ASSERT_EQ(0, ReadBrowseListingMessage(l.opts.get()));
  EXPECT_EQ(2, l.Md().Version);
  EXPECT_EQ(0, std::memcmp("ZEPLO.GROUP.000000000001", l.Md().GroupId, 24));
  EXPECT_EQ(2, l.Md().MsgSeqNumber);
  EXPECT_EQ(16, l.Md().MsgFlags);
  EXPECT_EQ(0, std::memcmp("        ", l.Md().Format, 8));
  std::string bytes;
  for (int i = 0; i < 40; ++i) bytes += static_cast<char>(i);
  EXPECT_EQ(bytes, l.Data());

  ASSERT_EQ(0, ReadBrowseListingMessage(l.opts.get()));
  EXPECT_EQ(9, l.Md().Priority);
  EXPECT_EQ("", l.Data());
  EXPECT_FALSE(l.opts->StopRequested);
  ASSERT_EQ(0, ReadBrowseListingMessage(l.opts.get()));
  EXPECT_TRUE(l.opts->StopRequested);
}

TEST(BrowseListingTest, DamagedListings) {
  const struct {
    const char *find, *replace;  // first occurrence; replace null = cut the file after find
    const char* message;         // %d: the line of the damage (of the cut's last line)
    bool stop;
  } cases[] = {
      {"Format : 'MQSTR   '", "Colour : 'blue'",
       "Unrecognised attribute 'Colour' on line %d of file 'listing.txt'", false},
      {"MsgId : X'", "MsgId : x'", "Badly formed hex string on line %d of file 'listing.txt'", false},
      {"CorrelId : X'00", "CorrelId : X00", "Badly formed hex string on line %d of file 'listing.txt'",
       false},
      {"4865 6C6C", "4865 6G6C", "Badly formed HEX string on line %d of file 'listing.txt'", false},
      {"OriginalLength : '-1'\n\n****", "OriginalLength :\n\n****",
       "Unexpected end of section on line %d of file 'listing.txt'", false},
      {"  PutApplType    : '6'\n", nullptr, "Unexpected end of file on line %d of file 'listing.txt'",
       true},
      {"  AccountingToken : \n", nullptr, "Unexpected end of file on line %d of file 'listing.txt'",
       true},
      {"****Message descriptor****\n", nullptr,
       "Unexpected end of file on line %d of file 'listing.txt'", true},
  };
  for (const auto& c : cases) {
    std::string text = Fixture();
    size_t at = text.find(c.find);
    ASSERT_NE(std::string::npos, at) << c.find;
    if (c.replace == nullptr) {
      text.resize(at + std::strlen(c.find));
    } else {
      text.replace(at, std::strlen(c.find), c.replace);
      if (std::strstr(c.message, "section") != nullptr) at = text.find("****   Message");
    }
    int line = static_cast<int>(std::count(text.begin(), text.begin() + at, '\n')) + 1;
    if (c.replace == nullptr) line = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    char expected[200];
    std::snprintf(expected, sizeof expected, c.message, line);
    Listing l(text);
    EXPECT_EQ(2208, ReadBrowseListingMessage(l.opts.get())) << c.find;
    EXPECT_STREQ(expected, l.opts->ExitMessage);
    EXPECT_EQ(c.stop, l.opts->StopRequested) << c.find;
    EXPECT_EQ(0, l.opts->Message.DataLength);
  }
}

// The dump must hold the bytes its length line states; the browse program
// may itself have shown fewer than the message had. Older levels' line
// has no "of T".
TEST(BrowseListingTest, ShortDumpsAreRefused) {
  const struct {
    std::string find, replace;  // replace "-": cut the file after find
    const char* message;        // null: loads
  } cases[] = {
      {"4865 6C6C 6F20 576F 726C 6421", "4865 6C6C 6F20 576F", "8 of its 12"},
      {" length - 12 of 12", " length - 12 of 99", "12 of its 99"},
      {" length - 12 of 12 bytes\n", "-", "0 of its 12"},
      {" length - 12 of 12 bytes", " length - 12 bytes", nullptr},
  };
  for (const auto& c : cases) {
    std::string text = Fixture();
    size_t at = text.find(c.find);
    if (c.replace == "-") text.resize(at + c.find.size());
    if (c.replace != "-") text.replace(at, c.find.size(), c.replace);
    // The dump ends at the next message's MQGET line, or at the end.
    size_t end = text.find("\n MQGET of message number 2");
    end = end == std::string::npos ? text.size() - 1 : end + 1;
    Listing l(text);
    EXPECT_EQ(c.message == nullptr ? 0 : 2208, ReadBrowseListingMessage(l.opts.get())) << c.find;
    if (c.message == nullptr) continue;
    EXPECT_EQ("Message ending on line " +
                  std::to_string(std::count(text.begin(), text.begin() + end, '\n') + 1) +
                  " of file 'listing.txt' is cut short: " + c.message + " bytes are listed",
              l.opts->ExitMessage);
  }
}

TEST(BrowseListingTest, LineEndsAndVersionTwoFields) {
  std::string text = Fixture();
  for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
    text.replace(at, 1, "\r\n");
  }
  text.replace(text.find("OriginalLength : '-1'"), 21, "OriginalLength : '100'");
  Listing l(text);
  ASSERT_EQ(0, ReadBrowseListingMessage(l.opts.get()));
  EXPECT_EQ("Hello World!", l.Data());
  EXPECT_EQ(2, l.Md().Version);
  EXPECT_EQ(100, l.Md().OriginalLength);
}

TEST(BrowseListingTest, Tokens) {
  Listing l("AMQSBCG0\n  A : 'b c'  D:'' E:'open\n**  skipped\n\t'x':y*z\n****\n");
  std::string seen;
  for (int n = 0; n < 10; ++n) {
    bool eof, eos;
    const char* token;
    int32_t length;
    ASSERT_EQ(0, ReadToken(l.opts.get(), &eof, &eos, &token, &length));
    if (eof || eos) {
      seen += eof ? "<eof>" : "<eos>";
      break;
    }
    seen += "[" + std::string(token, length) + "]";
  }
  EXPECT_EQ("[A][b c][D][][E][open][x][y*z]<eos>", seen);
}

TEST(BrowseListingTest, ParseHexPairs) {
  const struct {
    const char* text;
    int64_t limit;
    bool skip;
    std::string bytes;
    int rc;
  } cases[] = {
      // Runs, limits and bad digits are the message file reader's cases too;
      // these are the spaces between pairs that a listing has.
      {"41 42", -1, false, "A", 0},   {"41 42", -1, true, "AB", 0}, {" 4142", -1, false, "", 0},
      {"aBcD'x'", -1, false, "\xAB\xCD", 0}, {"41 4", -1, true, "A", 2208},
  };
  for (const auto& c : cases) {
    TestRun opts{};
    unsigned char out[8] = {};
    int64_t count = c.limit;
    const char* end = c.text + std::strlen(c.text);
    EXPECT_EQ(c.rc, ParseHex(&opts, c.text, end, out, &count, c.skip)) << c.text;
    EXPECT_EQ(c.bytes, std::string(reinterpret_cast<char*>(out), count)) << c.text;
  }
}

}  // namespace
