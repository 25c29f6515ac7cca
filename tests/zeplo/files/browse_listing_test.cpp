// The browse-listing reader against a listing in the browse sample's own
// layout (tests/data/files/reader), whole and damaged on purpose; its
// tokens on their own.
#include <algorithm>
#include <cstring>

#include "tests/zeplo/files/files_test_util.h"
#include "tests/zeplo/test_run.h"

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

// With LF line ends, then CR LF ones and a version-2 field that is not
// the default: the first descriptor becomes version 2.
TEST(BrowseListingTest, ReadsEveryMessageOfTheSamplesListing) {
  std::string crlf = Fixture();
  for (size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2)
    crlf.replace(at, 1, "\r\n");
  crlf.replace(crlf.find("OriginalLength : '-1'"), 21, "OriginalLength : '100'");
  for (const std::string& text : {Fixture(), crlf}) {
    Listing l(text);
    ASSERT_EQ(0, ReadBrowseListingMessage(l.opts.get())) << l.opts->ExitMessage;
    MQMD first = {MQMD_DEFAULT};  // version 1: every version-2 field a default
    first.Persistence = 1, first.Priority = 4, first.CodedCharSetId = 1208, first.PutApplType = 6;
    if (text == crlf) first.Version = 2, first.OriginalLength = 100;
    std::memcpy(first.Format, "MQSTR   ", 8);
    std::memcpy(first.MsgId, "AMQ QM1         \xF5\xA1\x4C\x67\x01\xD2\x00\x40", 24);
    std::memcpy(first.ReplyToQ, "REPLY.Q", 7), std::memset(first.ReplyToQ + 7, ' ', 41);
    std::memcpy(first.ReplyToQMgr, "QM1", 3), std::memset(first.ReplyToQMgr + 3, ' ', 45);
    std::memcpy(first.UserIdentifier, "mqm         ", 12);
    std::memcpy(first.AccountingToken,
                "\x04"
                "1000",
                5),
        first.AccountingToken[31] = 6;
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
}

TEST(BrowseListingTest, Tokens) {
  Listing l("AMQSBCG0\n  A : 'b c'  D:'' E:'open\n**  skipped\n\t'x':y*z\n****\n");
  std::string seen;
  for (int n = 0; n < 10; ++n) {
    bool eof, eos;
    const char* token;
    int32_t length;
    ASSERT_EQ(0, ReadToken(l.opts.get(), &eof, &eos, &token, &length));
    seen += eof ? "<eof>" : eos ? "<eos>" : "[" + std::string(token, length) + "]";
    if (eof || eos) break;
  }
  EXPECT_EQ("[A][b c][D][][E][open][x][y*z]<eos>", seen);
}

// The sections of current levels, put into the fixture's first message.
const char kAfterDescriptor[] = "OriginalLength : '-1'\n";
std::string DeadLetterSection(const std::string& fields) {
  return "\n****Dead Letter Header****\n\n  StrucId  : 'DLH '  Version : 1\n"
         "  Reason   : 2051 [MQRC_PUT_INHIBITED]\n  DestQName      : 'QL.A'\n"
         "  DestQMgrName   : 'QMW'\n" +
         fields;
}
const std::string kDeadLetterTail =
    "  Encoding : 546  CodedCharSetId : 500\n  Format : 'MQSTR   '\n  PutApplType    : '6'\n  "
    "PutApplName    : 'amqrmppa'\n"
    "  PutDate  : '20130114'    PutTime  : '11242677'\n";

TEST(BrowseListingTest, DamagedListings) {
  const std::string after = kAfterDescriptor, props = "+\n****Message properties****\n";
  const struct {
    std::string find, replace;  // first occurrence; "+": find then the rest; "<cut>": the end
    const char* message;        // " on line N of file 'listing.txt'" follows
    std::string lineOf;         // first after the change: its line is N; "": the last line
  } cases[] = {
      {"Format : 'MQSTR   '", "Colour : 'blue'", "Unrecognised attribute 'Colour'", "Colour"},
      {"MsgId : X'", "MsgId : x'", "Badly formed hex string", "MsgId"},
      {"CorrelId : X'00", "CorrelId : X00", "Badly formed hex string", "CorrelId"},
      {"4865 6C6C", "4865 6G6C", "Badly formed HEX string", "4865"},
      {"OriginalLength : '-1'\n\n****", "OriginalLength :\n\n****", "Unexpected end of section",
       "****   Message"},
      {"  PutApplType    : '6'\n", "+<cut>", "Unexpected end of file", ""},
      {"  AccountingToken : \n", "+<cut>", "Unexpected end of file", ""},
      {"****Message descriptor****\n", "+<cut>", "Unexpected end of file", ""},
      {"length - 12 of 12", "length - 12 of 70000", "Listing shows 12 of the message's 70000 bytes",
       "length - 12 of"},
      {"length - 12 of 12", "length - 13 of 13",
       "Message data holds 12 bytes where its length line says 13", " MQGET of message number 2"},
      {"00000000:  4865 6C6C", "+<cut>",
       "Message data holds 4 bytes where its length line says 12", ""},
      {" length - 12 of 12 bytes\n", "+<cut>",
       "Message data holds 0 bytes where its length line says 12", ""},
      {" length - 12 of 12 bytes\n", "", "Missing message length", "00000000:"},
      {after, props + "  a.b.c : 1\n", "Unrecognised property", "  a.b.c"},
      {after, props + std::string("  x : 'a\0b'\n", 12), "Unrecognised property", "  x :"},
      {after, props + "  n : 1\n<cut>", "Unexpected end of file", ""},
      {after, "+" + DeadLetterSection("  Encoding : 546  CodedCharSetId : five\n"),
       "Badly formed number", "  Encoding : 546  CodedCharSetId : five"},
      {after, "+" + DeadLetterSection("  Colour : 'blue'\n"), "Unrecognised attribute 'Colour'",
       "  Colour"},
      {after, "+" + DeadLetterSection(kDeadLetterTail.substr(0, 114)),
       "Incomplete dead-letter header", "****   Message"},
  };
  for (const auto& c : cases) {
    std::string text = Fixture();
    std::string replace = c.replace[0] == '+' ? c.find + c.replace.substr(1) : c.replace;
    size_t at = text.find(c.find), cut = replace.find("<cut>");
    ASSERT_NE(std::string::npos, at) << c.find;
    text.replace(at, c.find.size(), replace.substr(0, cut));
    if (cut != std::string::npos) text.resize(at + cut);
    size_t mark = c.lineOf.empty() ? text.size() - 1 : text.find(c.lineOf, at);
    ASSERT_NE(std::string::npos, mark) << c.lineOf;
    std::string expected = std::string(c.message) + " on line " +
                           std::to_string(std::count(text.begin(), text.begin() + mark, '\n') + 1) +
                           " of file 'listing.txt'";
    Listing l(text);
    EXPECT_EQ(2208, ReadBrowseListingMessage(l.opts.get())) << c.message;
    EXPECT_EQ(expected, l.opts->ExitMessage);
    // Only a listing that ends stops the run.
    EXPECT_EQ(expected.find("end of file") != std::string::npos, l.opts->StopRequested) << expected;
    EXPECT_EQ(0, l.opts->Message.DataLength) << c.message;
  }
}

TEST(BrowseListingTest, EbcdicHeadersGoBackToEbcdic) {
  // An IBM i listing, translated to ASCII on its way here, of a dead-letter
  // message with one property: both headers are rebuilt in code page 500.
  std::string text = Fixture();
  text.replace(text.find("CodedCharSetId : 1208"), 21, "CodedCharSetId : 500");
  text.replace(text.find("'MQSTR   '"), 10, "'MQDEAD  '");
  text.insert(text.find(kAfterDescriptor) + std::strlen(kAfterDescriptor),
              "\n****Message properties****\n  n : 1\n" + DeadLetterSection(kDeadLetterTail));
  Listing l(text);
  ASSERT_EQ(0, ReadBrowseListingMessage(l.opts.get())) << l.opts->ExitMessage;
  std::string data = l.Data();
  ASSERT_EQ(172u + 36 + 32 + 12, data.size());
  const struct { size_t at; std::string bytes; } expected[] = {
      {0, "\xC4\xD3\xC8\x40"},                                           // "DLH "
      {12, std::string("\xD8\xD3\x4B\xC1", 4) + std::string(44, '\0')},  // "QL.A", NUL-filled
      {116, "\xD4\xD8\xC8\xD9\xC6\xF2\x40\x40"},                         // Format "MQHRF2  "
      {172, "\xD9\xC6\xC8\x40"},                                         // "RFH "
      {180, std::string("\x44\0\0\0\x22\x02\0\0\xF4\x01\0\0", 12)},      // length, Encoding, CCSID
      {192, "\xD4\xD8\xE2\xE3\xD9\x40\x40\x40"},                         // inner Format "MQSTR   "
      {208, std::string("\x1C\0\0\0<usr><n dt='i4'>1</n></usr> ", 32)},
      {240, "Hello World!"},
  };
  for (const auto& e : expected) EXPECT_EQ(e.bytes, data.substr(e.at, e.bytes.size())) << e.at;
}

}  // namespace
