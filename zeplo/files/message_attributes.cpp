// The descriptor vocabulary of message files. On disk: never renumber.
// Every row is the file format: order is writing order, keys and long
// names are what readers match. Offsets come from the MQMD layout itself,
// so they cannot drift from the structure.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "zeplo/files/files.h"

#define ZEPLO_MD(field) \
  static_cast<int32_t>(offsetof(MQMD, field)), static_cast<int32_t>(sizeof(MQMD{}.field))

constexpr MessageAttribute MessageAttributeTable[] = {
    {"VER", "Version", kAttributeNumber, ZEPLO_MD(Version), 1, kAttributeAlways},
    {"RPT", "Report", kAttributeNumber, ZEPLO_MD(Report), 1, kAttributeAlways},
    {"MST", "MsgType", kAttributeNumber, ZEPLO_MD(MsgType), 1, kAttributeAlways},
    {"EXP", "Expiry", kAttributeNumber, ZEPLO_MD(Expiry), 1, kAttributeAlways},
    {"FDB", "Feedback", kAttributeNumber, ZEPLO_MD(Feedback), 1, kAttributeAlways},
    {"ENC", "Encoding", kAttributeNumber, ZEPLO_MD(Encoding), 1, kAttributeAlways},
    {"CCS", "CodedCharSetId", kAttributeNumber, ZEPLO_MD(CodedCharSetId), 1, kAttributeAlways},
    {"FMT", "Format", kAttributeText, ZEPLO_MD(Format), 1, kAttributeAlways},
    {"PRI", "Priority", kAttributeNumber, ZEPLO_MD(Priority), 1, kAttributeAlways},
    {"PER", "Persistence", kAttributeNumber, ZEPLO_MD(Persistence), 1, kAttributeAlways},
    {"MSI", "MsgId", kAttributeBytes, ZEPLO_MD(MsgId), 1, kAttributeAlways},
    {"COI", "CorrelId", kAttributeBytes, ZEPLO_MD(CorrelId), 1, kAttributeAlways},
    {"BOC", "BackoutCount", kAttributeNumber, ZEPLO_MD(BackoutCount), 1, kAttributeAlways},
    {"RTQ", "ReplyToQ", kAttributeText, ZEPLO_MD(ReplyToQ), 1, kAttributeAlways},
    {"RTM", "ReplyToQMgr", kAttributeText, ZEPLO_MD(ReplyToQMgr), 1, kAttributeAlways},
    {"USR", "UserIdentifier", kAttributeText, ZEPLO_MD(UserIdentifier), 1, kAttributeAlways},
    {"ACC", "AccountingToken", kAttributeBytes, ZEPLO_MD(AccountingToken), 1, kAttributeAlways},
    {"AID", "ApplIdentityData", kAttributeText, ZEPLO_MD(ApplIdentityData), 1,
     kAttributeWithApplDataAsChar},
    {"AIX", "ApplIdentityData", kAttributeBytes, ZEPLO_MD(ApplIdentityData), 1,
     kAttributeWithoutApplDataAsChar},
    {"PAT", "PutApplType", kAttributeNumber, ZEPLO_MD(PutApplType), 1, kAttributeAlways},
    {"PAN", "PutApplName", kAttributeText, ZEPLO_MD(PutApplName), 1, kAttributeAlways},
    {"PTD", "PutDate", kAttributeText, ZEPLO_MD(PutDate), 1, kAttributeAlways},
    {"PTT", "PutTime", kAttributeText, ZEPLO_MD(PutTime), 1, kAttributeAlways},
    {"AOD", "ApplOriginData", kAttributeText, ZEPLO_MD(ApplOriginData), 1,
     kAttributeWithApplDataAsChar},
    {"AOX", "ApplOriginData", kAttributeBytes, ZEPLO_MD(ApplOriginData), 1,
     kAttributeWithoutApplDataAsChar},
    {"", "StrucId", kAttributeText, ZEPLO_MD(StrucId), 1, kAttributeAlways},
    {"GRP", "GroupId", kAttributeBytes, ZEPLO_MD(GroupId), 2, kAttributeAlways},
    {"MSQ", "MsgSeqNumber", kAttributeNumber, ZEPLO_MD(MsgSeqNumber), 2, kAttributeAlways},
    {"OFF", "Offset", kAttributeNumber, ZEPLO_MD(Offset), 2, kAttributeAlways},
    {"MSF", "MsgFlags", kAttributeNumber, ZEPLO_MD(MsgFlags), 2, kAttributeAlways},
    {"ORL", "OriginalLength", kAttributeNumber, ZEPLO_MD(OriginalLength), 2, kAttributeAlways},
    // The hexadecimal forms of the text fields, written in place of the
    // text row when the field's plain form would not read back exactly
    // (AIX and AOX above serve ApplIdentityData and ApplOriginData).
    {"FMX", "Format", kAttributeBytes, ZEPLO_MD(Format), 1, kAttributeEscapeOnly},
    {"RQX", "ReplyToQ", kAttributeBytes, ZEPLO_MD(ReplyToQ), 1, kAttributeEscapeOnly},
    {"RMX", "ReplyToQMgr", kAttributeBytes, ZEPLO_MD(ReplyToQMgr), 1, kAttributeEscapeOnly},
    {"USX", "UserIdentifier", kAttributeBytes, ZEPLO_MD(UserIdentifier), 1, kAttributeEscapeOnly},
    {"PNX", "PutApplName", kAttributeBytes, ZEPLO_MD(PutApplName), 1, kAttributeEscapeOnly},
    {"PDX", "PutDate", kAttributeBytes, ZEPLO_MD(PutDate), 1, kAttributeEscapeOnly},
    {"PTX", "PutTime", kAttributeBytes, ZEPLO_MD(PutTime), 1, kAttributeEscapeOnly},
};

#undef ZEPLO_MD

const int32_t MessageAttributeCount =
    static_cast<int32_t>(sizeof(MessageAttributeTable) / sizeof(MessageAttributeTable[0]));

static_assert(sizeof(MessageAttributeTable) / sizeof(MessageAttributeTable[0]) == 38,
              "the attribute table is part of the file format");

namespace {

constexpr int32_t kRowCount = sizeof(MessageAttributeTable) / sizeof(MessageAttributeTable[0]);

// The keys are looked up by a perfect hash: the three characters packed
// into 32 bits, times a multiplier chosen at compile time so that no two
// keys share one of the 128 slots. A probe is one multiply and one compare.
constexpr int kKeySlotBits = 7;
constexpr int kKeySlots = 1 << kKeySlotBits;

constexpr uint32_t PackKey(const char* key) {
  return static_cast<uint32_t>(static_cast<unsigned char>(key[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(key[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(key[2])) << 16;
}

constexpr int KeySlot(uint32_t packed, uint32_t multiplier) {
  return static_cast<int>((packed * multiplier) >> (32 - kKeySlotBits));
}

struct KeyIndex {
  uint32_t Multiplier;         // 0 when none was found (refused below)
  int8_t Row[kKeySlots];       // the row of each slot, -1 for none
  uint32_t Packed[kKeySlots];  // its key, packed: compared without a
                               // trip to the row's key text
};

constexpr KeyIndex BuildKeyIndex() {
  uint32_t multiplier = 0x9E3779B1u;  // odd multipliers from the golden ratio on
  for (int attempt = 0; attempt < 100000; ++attempt, multiplier += 2) {
    KeyIndex index{multiplier, {}, {}};
    for (int8_t& row : index.Row) row = -1;
    bool clash = false;
    for (int32_t i = 0; i < kRowCount && !clash; ++i) {
      const char* key = MessageAttributeTable[i].Key;
      if (key[0] == '\0') continue;
      int slot = KeySlot(PackKey(key), multiplier);
      clash = index.Row[slot] >= 0;
      index.Row[slot] = static_cast<int8_t>(i);
      index.Packed[slot] = PackKey(key);
    }
    if (!clash) return index;
  }
  return KeyIndex{0, {}, {}};
}

constexpr KeyIndex kKeyIndex = BuildKeyIndex();
static_assert(kKeyIndex.Multiplier != 0, "no perfect hash for the attribute keys");

// The long names' lengths, so a lookup compares lengths before bytes.
struct LongNameLengths {
  size_t Length[kRowCount];
  constexpr LongNameLengths() : Length() {
    for (int32_t i = 0; i < kRowCount; ++i) {
      Length[i] = std::string_view(MessageAttributeTable[i].LongName).size();
    }
  }
};
constexpr LongNameLengths kLongNameLengths;

}  // namespace

const MessageAttribute* FindAttributeByKey(const char* key) {
  if (key == nullptr) return nullptr;
  uint32_t packed = PackKey(key);
  int slot = KeySlot(packed, kKeyIndex.Multiplier);
  int row = kKeyIndex.Row[slot];
  if (row < 0 || kKeyIndex.Packed[slot] != packed) return nullptr;
  return &MessageAttributeTable[row];
}

const MessageAttribute* FindAttributeByLongName(const char* name, size_t length) {
  if (name == nullptr) return nullptr;
  for (int32_t i = 0; i < kRowCount; ++i) {
    if (kLongNameLengths.Length[i] == length &&
        std::memcmp(MessageAttributeTable[i].LongName, name, length) == 0) {
      return &MessageAttributeTable[i];
    }
  }
  return nullptr;
}

bool AttributeIsWritten(const MessageAttribute* row, int32_t version, bool applDataAsChar) {
  if (row == nullptr || row->Key[0] == '\0') return false;
  if (version < row->FromVersion) return false;
  switch (row->Condition) {
    case kAttributeWithApplDataAsChar:
      return applDataAsChar;
    case kAttributeWithoutApplDataAsChar:
      return !applDataAsChar;
    case kAttributeEscapeOnly:
      return false;
    case kAttributeAlways:
      break;
  }
  return true;
}

const MessageAttribute* ExactFormOf(const MessageAttribute* row, const unsigned char* field) {
  if (row->Kind != kAttributeText) return row;
  const unsigned char* end = field + row->Width;
  const unsigned char* nul =
      static_cast<const unsigned char*>(std::memchr(field, '\0', static_cast<size_t>(row->Width)));
  const unsigned char* text = nul != nullptr ? nul : end;
  bool plain = std::memchr(field, '\n', static_cast<size_t>(text - field)) == nullptr &&
               std::memchr(field, '\r', static_cast<size_t>(text - field)) == nullptr;
  for (const unsigned char* p = text; plain && p < end; ++p) plain = *p == '\0';
  if (plain) return row;
  for (int32_t i = 0; i < kRowCount; ++i) {
    const MessageAttribute* twin = &MessageAttributeTable[i];
    if (twin->Kind == kAttributeBytes && twin->Offset == row->Offset && twin->Width == row->Width) {
      return twin;
    }
  }
  return row;  // unreachable: every text row has its twin (checked by the tests)
}
