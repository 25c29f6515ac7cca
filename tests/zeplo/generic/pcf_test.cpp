// The PCF builder and parser on handmade messages: the request layout, the
// area growing under a long request, every structure of a reply with
// nested groups, and damaged replies that must be refused, never read past.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zeplo/cs/cs.h"
#include "zeplo/generic/generic.h"

namespace {

// Native MQLONGs and raw bytes, appended in order.
struct Bytes {
  std::string Data;
  Bytes& L(std::initializer_list<MQLONG> values) {
    for (MQLONG v : values) S(std::string(reinterpret_cast<const char*>(&v), 4));
    return *this;
  }
  Bytes& S(const std::string& text) {
    Data += text;
    return *this;
  }
  // A reply: an MQCFH with `count` parameters, then `body`.
  static Bytes Reply(MQLONG count, const Bytes& body) {
    return Bytes().L({MQCFT_RESPONSE, 36, 1, MQCMD_INQUIRE_Q, 1, MQCFC_LAST, 0, 0, count}).S(body.Data);
  }
};

// Every parameter of `reply` as "type:parameter:count:length" words, then
// the reason that ended the reading.
// A vector of exactly the reply's size, so that a sanitizer sees any read past it.
std::string Walk(const std::string& bytes) {
  std::vector<unsigned char> reply(bytes.begin(), bytes.end());
  PcfContext context;
  MQLONG command = 0;
  int rc = PcfStartReply(&context, reply.data(), static_cast<MQLONG>(reply.size()), &command);
  std::string text;
  PcfParameter p;
  while (rc == 0 && (rc = PcfNextParameter(&context, &p)) == 0)
    text += std::to_string(p.Type) + ":" + std::to_string(p.Parameter) + ":" +
            std::to_string(p.Count) + ":" + std::to_string(p.Length) + " ";
  return text + "end " + std::to_string(rc);
}

// Each {offset, value} of `words` against the MQLONG at that offset.
void ExpectWords(const unsigned char* area, std::vector<std::pair<size_t, MQLONG>> words) {
  for (auto [offset, value] : words) EXPECT_EQ(value, PcfReadLong(area + offset)) << "at " << offset;
}

TEST(PcfBuilderTest, RequestsAreLaidOutAsIbmMqReadsThem) {
  PcfContext context;
  unsigned char* area = nullptr;
  ASSERT_EQ(PcfStartRequest(&context, &area, MQCMD_INQUIRE_Q, true), 0);
  EXPECT_EQ(context.Size, kPcfInitialSize + kPcfReserve);
  MQLONG type = MQQT_LOCAL;
  const MQLONG attrs[] = {2016, 20, 3};
  EXPECT_EQ(PcfAddParameter(&context, MQCFT_STRING, MQCA_Q_NAME, "APP.*", -1), 0);
  EXPECT_EQ(PcfAddParameter(&context, MQCFT_STRING, MQCA_Q_DESC, "ab", -2), 0);
  EXPECT_EQ(PcfAddParameter(&context, MQCFT_INTEGER, MQIA_Q_TYPE, &type, 4), 0);
  EXPECT_EQ(PcfAddParameter(&context, MQCFT_INTEGER, MQIA_MAX_Q_DEPTH, nullptr, 0), 0);
  EXPECT_EQ(PcfAddParameter(&context, MQCFT_INTEGER_LIST, MQIACF_Q_ATTRS, attrs, sizeof attrs), 0);
  EXPECT_EQ(PcfAddParameter(&context, MQCFT_STRING_LIST, 1, "x", 1), MQRCCF_CFH_TYPE_ERROR);
  EXPECT_EQ(PcfAddParameter(&context, MQCFT_INTEGER_LIST, 1, attrs, 6), MQRCCF_CFIL_LENGTH_ERROR);
  // z/OS header, version 3, five parameters counted; "APP.*": 5 characters
  // padded to 8 with NULs (structure 28); "ab" with its NUL; the list: 16 +
  // 3 values.
  ExpectWords(area, {{0, MQCFT_COMMAND_XR}, {8, MQCFH_VERSION_3}, {32, 5}, {40, 28}, {52, 5},
                     {80, 3}, {100, MQQT_LOCAL}, {116, 0}, {124, 28}, {132, 3}});
  EXPECT_EQ(std::string(reinterpret_cast<char*>(area) + 56, 8), std::string("APP.*\0\0\0", 8));
  EXPECT_EQ(context.Position, 148);
  CSReleaseMem(&area);
  // A long request moves the area; the caller's pointer follows it.
  ASSERT_EQ(PcfStartRequest(&context, &area, MQCMD_INQUIRE_Q, false), 0);
  std::vector<MQLONG> values(3000);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<MQLONG>(i);
  MQLONG bytes = static_cast<MQLONG>(values.size() * 4);
  ASSERT_EQ(PcfAddParameter(&context, MQCFT_INTEGER_LIST, 7, values.data(), bytes), 0);
  ASSERT_EQ(PcfAddParameter(&context, MQCFT_INTEGER_LIST, 8, values.data(), bytes), 0);
  EXPECT_EQ(area, context.Buffer);
  EXPECT_GE(context.Size, context.Position);
  // The first list survived the move.
  ExpectWords(area, {{0, MQCFT_COMMAND}, {32, 2}, {36 + 16 + 4 * 2999, 2999}, {36 + 16 + bytes + 8, 8}});
  CSReleaseMem(&area);
}

TEST(PcfParserTest, EveryStructureAndDamagedReplies) {
  struct Case {
    const char* what;
    MQLONG count;
    Bytes body;
    const char* walk;
  } cases[] = {
      {"every structure, nested groups", 5,
       Bytes().L({MQCFT_INTEGER, 16, 3, 42}).L({MQCFT_STRING, 24, 2016, 0, 2}).S("Q1  ")
           .L({MQCFT_GROUP, 16, 8000, 2}).L({MQCFT_INTEGER_LIST, 24, 1002, 2, 5, 6})
           .L({MQCFT_GROUP, 16, 8001, 1}).L({MQCFT_INTEGER64, 24, 9, 0, 7, 0})
           .L({MQCFT_STRING_LIST, 32, 10, 0, 2, 4}).S("ab  cd  ").L({MQCFT_BYTE_STRING, 20, 11, 3}).S("xyz_"),
       "3:3:1:4 4:2016:1:2 20:8000:2:0 5:1002:2:8 20:8001:1:0 23:9:1:8 1000:0:0:0 1000:0:0:0 6:10:2:8 "
       "9:11:1:3 end 10000"},
      {"unknown type", 1, Bytes().L({77, 16, 3, 1}), "end 3001"},
      {"integer of another length", 1, Bytes().L({MQCFT_INTEGER, 20, 3, 1, 0}), "end 3009"},
      {"string longer than its structure", 1, Bytes().L({MQCFT_STRING, 24, 2016, 0, 5}).S("Q1  "),
       "end 3011"},
      {"list count against length", 1, Bytes().L({MQCFT_INTEGER_LIST, 20, 1, 2, 5}), "end 3028"},
      {"negative list count", 1, Bytes().L({MQCFT_INTEGER_LIST, 16, 1, -1}), "end 3027"},
      {"string list too long", 1, Bytes().L({MQCFT_STRING_LIST, 24, 1, 0, 2, 4}), "end 3024"},
      {"group counts more than is there", 1, Bytes().L({MQCFT_GROUP, 16, 8000, 3}),
       "20:8000:3:0 end 3016"},
      {"structure length that never moves on", 2, Bytes().L({MQCFT_INTEGER, 0, 3, 1}),
       "end 3016"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Walk(Bytes::Reply(c.count, c.body).Data), c.walk) << c.what;
  // Every cut of a whole reply stops with a reason inside what is there.
  Bytes whole = Bytes::Reply(
      2, Bytes().L({MQCFT_STRING, 24, 2016, 0, 2}).S("Q1  ").L({MQCFT_GROUP, 16, 1, 1})
             .L({MQCFT_INTEGER, 16, 3, 4}));
  for (size_t n = 0; n < whole.Data.size(); ++n) {
    std::string walk = Walk(whole.Data.substr(0, n));
    EXPECT_EQ(walk.find("end 10000"), std::string::npos) << n << ": " << walk;
  }
  EXPECT_EQ(Walk(whole.Data), "4:2016:1:2 20:1:1:0 3:3:1:4 1000:0:0:0 end 10000");
}

}  // namespace
