// Header stripping (-h) end to end: dead-letter and transmission headers
// built byte for byte from the MQ structures, in this machine's byte order,
// in big-endian order and with EBCDIC character fields, put with localqm,
// then moved to a second queue and unloaded to a file with -h. The message
// that comes out must carry the descriptor the header held and only the
// data that followed it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "mqi/mqi.h"
#include "tests/e2e/e2e_util.h"

namespace {

using Fields = std::map<std::string, std::string>;

// How the headers' own fields are written: the outer descriptor's
// Encoding and CodedCharSetId say so.
struct Variant {
  const char* name;
  MQLONG encoding;
  MQLONG ccsid;
  bool bigEndian;
  bool ebcdic;
};
const Variant kVariants[] = {
    {"native", MQENC_NATIVE, 819, false, false},
    {"big-endian", 273, 819, true, false},
    {"EBCDIC", MQENC_NATIVE, 500, false, true},
    {"big-endian EBCDIC", 785, 500, true, true},
};

// What the inner descriptor says about the data after the headers; none of
// it equals an outer value, so a field not copied (or copied in the wrong
// byte order) shows.
constexpr MQLONG kInnerEncoding = 17;
constexpr MQLONG kInnerCcsid = 1047;
const std::string kPayload = "PAYLOAD-1";

void Swap(MQLONG* v) {
  uint32_t u = static_cast<uint32_t>(*v);
  *v = static_cast<MQLONG>((u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) | (u << 24));
}

// Code page 500 for the characters these headers use.
char Ebcdic(char c) {
  if (c >= 'A' && c <= 'I') return static_cast<char>(0xC1 + (c - 'A'));
  if (c >= 'J' && c <= 'R') return static_cast<char>(0xD1 + (c - 'J'));
  if (c >= 'S' && c <= 'Z') return static_cast<char>(0xE2 + (c - 'S'));
  if (c >= '0' && c <= '9') return static_cast<char>(0xF0 + (c - '0'));
  if (c == ' ') return 0x40;
  if (c == '.') return 0x4B;
  if (c == '_') return 0x6D;
  ADD_FAILURE() << "no EBCDIC for '" << c << "'";
  return 0x6F;
}

template <size_t N>
void Text(char (&field)[N], const char* value, bool ebcdic) {
  memset(field, ' ', N);
  memcpy(field, value, strnlen(value, N));
  if (ebcdic)
    for (char& c : field) c = Ebcdic(c);
}

// Identifiers and token of the embedded descriptor, as bytes.
std::string Bytes(unsigned char first, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; i++) s += static_cast<char>(first + i);
  return s;
}
const std::string kMsgId = Bytes(0x10, 24), kCorrelId = Bytes(0x40, 24);
const std::string kToken = Bytes(0xA0, 32);

MQDLH BuildDlh(const Variant& v, const char* innerFormat, MQLONG encoding, MQLONG ccsid) {
  MQDLH d = {MQDLH_DEFAULT};
  Text(d.StrucId, "DLH ", v.ebcdic);
  d.Reason = MQRC_Q_FULL;
  Text(d.DestQName, "TARGET.Q", v.ebcdic);
  Text(d.DestQMgrName, "QM9", v.ebcdic);
  d.Encoding = encoding;
  d.CodedCharSetId = ccsid;
  Text(d.Format, innerFormat, v.ebcdic);
  d.PutApplType = MQAT_JAVA;
  Text(d.PutApplName, "DLQ.WRITER", v.ebcdic);
  Text(d.PutDate, "20250102", v.ebcdic);
  Text(d.PutTime, "03040506", v.ebcdic);
  if (v.bigEndian)
    for (MQLONG* f : {&d.Version, &d.Reason, &d.Encoding, &d.CodedCharSetId, &d.PutApplType})
      Swap(f);
  return d;
}

MQXQH BuildXqh(const Variant& v) {
  MQXQH x = {MQXQH_DEFAULT};
  Text(x.StrucId, "XQH ", v.ebcdic);
  Text(x.RemoteQName, "REMOTE.Q", v.ebcdic);
  Text(x.RemoteQMgrName, "QM9", v.ebcdic);
  MQMD1& m = x.MsgDesc;
  Text(m.StrucId, "MD  ", v.ebcdic);
  m.MsgType = MQMT_REQUEST;
  m.Expiry = 360000;
  m.Encoding = kInnerEncoding;
  m.CodedCharSetId = kInnerCcsid;
  Text(m.Format, "MQSTR", v.ebcdic);
  m.Priority = 7;
  m.Persistence = MQPER_PERSISTENT;
  memcpy(m.MsgId, kMsgId.data(), 24);
  memcpy(m.CorrelId, kCorrelId.data(), 24);
  Text(m.ReplyToQ, "REPLY.Q", v.ebcdic);
  Text(m.ReplyToQMgr, "QM9", v.ebcdic);
  Text(m.UserIdentifier, "ORIGUSER", v.ebcdic);
  memcpy(m.AccountingToken, kToken.data(), 32);
  Text(m.ApplIdentityData, "IDENT DATA", v.ebcdic);
  m.PutApplType = MQAT_UNIX;
  Text(m.PutApplName, "SENDER.APP", v.ebcdic);
  Text(m.PutDate, "20240615", v.ebcdic);
  Text(m.PutTime, "12345678", v.ebcdic);
  Text(m.ApplOriginData, "ORIG", v.ebcdic);
  if (v.bigEndian) {
    Swap(&x.Version);
    for (MQLONG* f :
         {&m.Version, &m.Report, &m.MsgType, &m.Expiry, &m.Feedback, &m.Encoding, &m.CodedCharSetId,
          &m.Priority, &m.Persistence, &m.BackoutCount, &m.PutApplType})
      Swap(f);
  }
  return x;
}

enum Headers { kDlh, kXqh, kDlhXqh };
const char* const kHeaderNames[] = {"MQDLH", "MQXQH", "MQDLH+MQXQH"};

// The message data (headers then payload) and the outer Format.
std::string MessageData(Headers h, const Variant& v, std::string* format) {
  std::string data;
  if (h == kDlh || h == kDlhXqh) {
    // Before a transmission header the dead-letter header describes it,
    // so it names the outer encoding and code page.
    MQDLH d = h == kDlh ? BuildDlh(v, "MQSTR", kInnerEncoding, kInnerCcsid)
                        : BuildDlh(v, "MQXMIT", v.encoding, v.ccsid);
    data.append(reinterpret_cast<const char*>(&d), sizeof d);
  }
  if (h == kXqh || h == kDlhXqh) {
    MQXQH x = BuildXqh(v);
    data.append(reinterpret_cast<const char*>(&x), sizeof x);
  }
  *format = h == kXqh ? "MQXMIT" : "MQDEAD";
  return data + kPayload;
}

// What the restored descriptor must hold, by the header that held it.
Fields Expected(Headers h) {
  Fields f = {{"Format", "MQSTR"},
              {"CodedCharSetId", std::to_string(kInnerCcsid)},
              {"Encoding", std::to_string(kInnerEncoding)},
              {"DataHex", Hex(kPayload)}};
  // clang-format off
  if (h == kDlh) {
    f.insert({{"PutApplType", std::to_string(MQAT_JAVA)}, {"PutApplName", "DLQ.WRITER"},
              {"PutDate", "20250102"}, {"PutTime", "03040506"}});
  } else {
    f.insert({{"MsgId", Hex(kMsgId)}, {"CorrelId", Hex(kCorrelId)},
              {"MsgType", std::to_string(MQMT_REQUEST)}, {"Priority", "7"}, {"Persistence", "1"},
              {"ReplyToQ", "REPLY.Q"}, {"ReplyToQMgr", "QM9"}, {"UserIdentifier", "ORIGUSER"},
              {"AccountingToken", Hex(kToken)}, {"ApplIdentityData", "IDENT DATA"},
              {"PutApplType", std::to_string(MQAT_UNIX)}, {"PutApplName", "SENDER.APP"},
              {"PutDate", "20240615"}, {"PutTime", "12345678"}, {"ApplOriginData", "ORIG"}});
  }
  // clang-format on
  return f;
}

// The message file keys of the fields above.
const std::map<std::string, std::string> kFileKeys = {
    {"Format", "FMT"},      {"CodedCharSetId", "CCS"}, {"Encoding", "ENC"},
    {"PutApplType", "PAT"}, {"PutDate", "PTD"},        {"PutTime", "PTT"},
    {"MsgId", "MSI"},       {"CorrelId", "COI"},       {"MsgType", "MST"},
    {"Priority", "PRI"},    {"Persistence", "PER"},    {"AccountingToken", "ACC"}};

class HeadersStripTest : public QueueTest {
 public:
  HeadersStripTest() : QueueTest({"Q1", "Q2"}) {}
  static void PutHex(const std::string& data, const std::string& format, const Variant& v) {
    LocalqmOrFail({"put", "QM1", "Q1", "--hex", Hex(data), "--format", format, "--encoding",
                   std::to_string(v.encoding), "--ccsid", std::to_string(v.ccsid)});
  }
  static Fields First(const std::string& queue) { return BrowseMessages("QM1", queue, true).at(0); }
  // The A and X lines of an unloaded file: key -> value (blanks cut), and
  // the data lines joined under "X".
  static Fields FileFields(const std::string& text) {
    Fields f;
    for (const std::string& line : SplitLines(text)) {
      if (line.rfind("A ", 0) == 0 && line.size() > 6) {
        std::string value = line.substr(6);
        value.erase(value.find_last_not_of(' ') + 1);
        f[line.substr(2, 3)] = value;
      } else if (line.rfind("X ", 0) == 0) {
        f["X"] += line.substr(2);
      }
    }
    return f;
  }
};

TEST_F(HeadersStripTest, InnerDescriptorIsRestoredInEveryByteOrderAndCodePage) {
  for (Headers h : {kDlh, kXqh, kDlhXqh}) {
    for (const Variant& v : kVariants) {
      std::string what = std::string(kHeaderNames[h]) + ", " + v.name;
      for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"clear", "QM1", q});
      std::string format;
      PutHex(MessageData(h, v, &format), format, v);
      Fields want = Expected(h);

      RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "Q2", "-h"});
      ASSERT_EQ(0, r.exitStatus) << what << "\n" << r.err;
      Fields moved = First("Q2");
      for (const auto& [field, value] : want)
        EXPECT_EQ(value, moved[field]) << what << ": " << field;
      if (h != kDlh) {
        // The embedded descriptor's expiry, less the moments spent queued.
        int expiry = atoi(moved["Expiry"].c_str());
        EXPECT_TRUE(expiry > 350000 && expiry <= 360000) << what << ": Expiry " << expiry;
      }
      // The source is only browsed: it keeps its headers.
      EXPECT_EQ(format, First("Q1")["Format"]) << what;

      std::string file = ScratchPath("strip.zpd");
      r = RunZeplo({"-m", "QM1", "-i", "Q1", "-F", file, "-h"});
      ASSERT_EQ(0, r.exitStatus) << what << "\n" << r.err;
      Fields unloaded = FileFields(ReadFileText(file));
      for (const auto& [field, key] : kFileKeys) {
        if (want.count(field) == 0) continue;
        EXPECT_EQ(want[field], unloaded[key]) << what << ": " << key;
      }
      EXPECT_EQ(Hex(kPayload), unloaded["X"]) << what;
    }
  }
}

TEST_F(HeadersStripTest, WhatIsNotAWholeHeaderIsLeftAlone) {
  const Variant& native = kVariants[0];
  std::string format;
  std::string dlhThenXqh = MessageData(kDlhXqh, native, &format);
  struct Case {
    const char* what;
    std::string data;
    const char* format;
    const char* options;
    std::string format2;  // Format of the message that arrives
    std::string data2;    // its data
  } cases[] = {
      // clang-format off
      {"dead-letter header cut short", std::string(100, 'd'), "MQDEAD", "-h", "MQDEAD",
       std::string(100, 'd')},
      {"transmission header cut short", std::string(427, 'x'), "MQXMIT", "-h", "MQXMIT",
       std::string(427, 'x')},
      // The dead-letter header goes; what follows is too short for the
      // transmission header it announces.
      {"dead-letter header before a short transmission header",
       dlhThenXqh.substr(0, MQDLH_LENGTH_1 + 200), "MQDEAD", "-h", "MQXMIT",
       dlhThenXqh.substr(MQDLH_LENGTH_1, 200)},
      {"no -h", dlhThenXqh, "MQDEAD", "", "MQDEAD", dlhThenXqh},
      {"not a header format", dlhThenXqh, "MQSTR", "-h", "MQSTR", dlhThenXqh},
      // clang-format on
  };
  for (const Case& c : cases) {
    for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"clear", "QM1", q});
    PutHex(c.data, c.format, native);
    RunResult r = RunZeplo(Words(std::string("-m QM1 -i Q1 -o Q2 ") + c.options));
    ASSERT_EQ(0, r.exitStatus) << c.what << "\n" << r.err;
    Fields moved = First("Q2");
    EXPECT_EQ(c.format2, moved["Format"]) << c.what;
    EXPECT_EQ(Hex(c.data2), moved["DataHex"]) << c.what;
    EXPECT_EQ(std::to_string(c.data2.size()), moved["DataLength"]) << c.what;
  }
}

// A dead-letter header describes the data after it by its own Encoding
// and CodedCharSetId, so a transmission header behind it is read in that
// order and code page, not the outer message's. Disabled while -h still
// reads the transmission header in the outer order: the embedded
// descriptor then comes out byte-swapped and the put fails with 2026.
TEST_F(HeadersStripTest, DeadLetterHeaderNamesTheOrderOfWhatFollows) {
  const Variant& bigEndian = kVariants[1];
  const Variant& native = kVariants[0];
  MQDLH d = BuildDlh(bigEndian, "MQXMIT", native.encoding, native.ccsid);
  MQXQH x = BuildXqh(native);
  std::string data(reinterpret_cast<const char*>(&d), sizeof d);
  data.append(reinterpret_cast<const char*>(&x), sizeof x);
  PutHex(data + kPayload, "MQDEAD", bigEndian);
  RunResult r = RunZeplo({"-m", "QM1", "-i", "Q1", "-o", "Q2", "-h"});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  Fields moved = First("Q2");
  for (const auto& [field, value] : Expected(kDlhXqh)) EXPECT_EQ(value, moved[field]) << field;
}

}  // namespace
