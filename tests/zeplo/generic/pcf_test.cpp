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
  std::vector<unsigned char> Data;
  Bytes& L(std::initializer_list<MQLONG> values) {
    for (MQLONG v : values) {
      size_t at = Data.size();
      Data.resize(at + 4);
      memcpy(Data.data() + at, &v, 4);
    }
    return *this;
  }
  Bytes& S(const std::string& text) {
    Data.insert(Data.end(), text.begin(), text.end());
    return *this;
  }
  // A reply: an MQCFH with `count` parameters, then `body`.
  static Bytes Reply(MQLONG count, const Bytes& body) {
    Bytes b;
    b.L({MQCFT_RESPONSE, 36, 1, MQCMD_INQUIRE_Q, 1, MQCFC_LAST, 0, 0, count});
    b.Data.insert(b.Data.end(), body.Data.begin(), body.Data.end());
    return b;
  }
};

// Every parameter of `reply` as "type:parameter:count:length" words, then
// the reason that ended the reading.
std::string Walk(std::vector<unsigned char> reply) {
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

MQLONG At(const unsigned char* area, size_t offset) { return PcfReadLong(area + offset); }

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
  // z/OS header; five parameters counted.
  EXPECT_EQ(At(area, 0), MQCFT_COMMAND_XR);
  EXPECT_EQ(At(area, 8), MQCFH_VERSION_3);
  EXPECT_EQ(At(area, 32), 5);
  // "APP.*": 5 characters padded to 8 with NULs; "ab" with its NUL.
  EXPECT_EQ(At(area, 36 + 4), 28);
  EXPECT_EQ(At(area, 36 + 16), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(area) + 56, 8), std::string("APP.*\0\0\0", 8));
  EXPECT_EQ(At(area, 64 + 16), 3);
  EXPECT_EQ(At(area, 88 + 12), MQQT_LOCAL);
  EXPECT_EQ(At(area, 104 + 12), 0);
  EXPECT_EQ(At(area, 120 + 4), 28);  // the list: 16 + 3 values
  EXPECT_EQ(At(area, 120 + 12), 3);
  EXPECT_EQ(context.Position, 148);
  CSReleaseMem(&area);
}

TEST(PcfBuilderTest, TheAreaGrowsAndTheCallerFollowsIt) {
  PcfContext context;
  unsigned char* area = nullptr;
  ASSERT_EQ(PcfStartRequest(&context, &area, MQCMD_INQUIRE_Q, false), 0);
  std::vector<MQLONG> values(3000);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<MQLONG>(i);
  MQLONG bytes = static_cast<MQLONG>(values.size() * 4);
  ASSERT_EQ(PcfAddParameter(&context, MQCFT_INTEGER_LIST, 7, values.data(), bytes), 0);
  ASSERT_EQ(PcfAddParameter(&context, MQCFT_INTEGER_LIST, 8, values.data(), bytes), 0);
  EXPECT_EQ(area, context.Buffer);
  EXPECT_GE(context.Size, context.Position);
  EXPECT_EQ(At(area, 0), MQCFT_COMMAND);
  EXPECT_EQ(At(area, 32), 2);
  EXPECT_EQ(At(area, 36 + 16 + 4 * 2999), 2999);  // the first list survived the move
  EXPECT_EQ(At(area, 36 + 16 + bytes + 8), 8);
  CSReleaseMem(&area);
}

TEST(PcfParserTest, EveryStructureAndNestedGroups) {
  Bytes body;
  body.L({MQCFT_INTEGER, 16, 3, 42})
      .L({MQCFT_STRING, 24, 2016, 0, 2}).S("Q1  ")
      .L({MQCFT_GROUP, 16, 8000, 2})
      .L({MQCFT_INTEGER_LIST, 24, 1002, 2, 5, 6})
      .L({MQCFT_GROUP, 16, 8001, 1})
      .L({MQCFT_INTEGER64, 24, 9, 0, 7, 0})
      .L({MQCFT_STRING_LIST, 32, 10, 0, 2, 4}).S("ab  cd  ")
      .L({MQCFT_BYTE_STRING, 20, 11, 3}).S("xyz_");
  EXPECT_EQ(Walk(Bytes::Reply(5, body).Data),
            "3:3:1:4 4:2016:1:2 20:8000:2:0 5:1002:2:8 20:8001:1:0 23:9:1:8 1000:0:0:0 "
            "1000:0:0:0 6:10:2:8 9:11:1:3 end 10000");
}

TEST(PcfParserTest, DamagedRepliesAreRefused) {
  struct Case {
    const char* what;
    MQLONG count;
    Bytes body;
    const char* walk;
  } cases[] = {
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
    std::vector<unsigned char> cut(whole.Data.begin(), whole.Data.begin() + n);
    std::string walk = Walk(cut);
    EXPECT_EQ(walk.find("end 10000"), std::string::npos) << n << ": " << walk;
  }
  EXPECT_EQ(Walk(whole.Data), "4:2016:1:2 20:1:1:0 3:3:1:4 1000:0:0:0 end 10000");
}

}  // namespace
