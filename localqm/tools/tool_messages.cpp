// Message verbs: put (any descriptor field), browse and get (every field
// printed, one per line, so that two queues' contents can be compared).
#include <climits>
#include <cstdio>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "localqm/api/api.h"
#include "localqm/tools/tools.h"
#include "zeplo/util/util.h"
#include "zeplo/util/banned.h"  // after every other header

const std::vector<std::string> kPutOptions = {
    "text",    "hex",        "file",     "count",    "format",    "priority",   "persistence",
    "msgid",   "correlid",   "groupid",  "replyto",  "replytoqmgr", "putdate",  "puttime",
    "backout", "expiry",     "encoding", "ccsid",    "msgtype",   "report",     "feedback",
    "user",    "accounting", "applid",   "applorigin", "putappl", "putappltype", "seq",
    "offset",  "msgflags",   "origlength"};

namespace {

// Decodes hex digits (an even number) into bytes. False when malformed or
// longer than maxBytes (0: no limit).
bool DecodeHex(const char* text, size_t maxBytes, std::vector<unsigned char>* out) {
  out->clear();
  size_t n = strlen(text);
  if (n % 2 != 0 || (maxBytes != 0 && n / 2 > maxBytes)) return false;
  for (size_t i = 0; i < n; i += 2) {
    int hi = HexDigitValue(static_cast<unsigned char>(text[i]));
    int lo = HexDigitValue(static_cast<unsigned char>(text[i + 1]));
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  return true;
}

bool BytesOption(const ToolArgs& args, const char* name, MQBYTE* field, size_t length) {
  const char* t = ToolOption(args, name);
  if (t == nullptr) return true;
  std::vector<unsigned char> bytes;
  if (!DecodeHex(t, length, &bytes)) {
    fprintf(stderr, "localqm: --%s takes up to %zu bytes as hex digits, not '%s'\n", name, length, t);
    return false;
  }
  memset(field, 0, length);
  if (!bytes.empty()) memcpy(field, bytes.data(), bytes.size());
  return true;
}

bool TextOption(const ToolArgs& args, const char* name, char* field, size_t length) {
  const char* t = ToolOption(args, name);
  if (t == nullptr) return true;
  if (strlen(t) > length) {
    fprintf(stderr, "localqm: --%s takes at most %zu characters\n", name, length);
    return false;
  }
  LqmNameToField(t, field, length);
  return true;
}

bool BuildDescriptor(const ToolArgs& args, const LqmQmgr& qm, MQMD* md) {
  *md = MQMD{MQMD_DEFAULT};
  md->Version = MQMD_VERSION_2;
  // Name fields start blank, as an MQ application's descriptor does.
  LqmNameToField("", md->ReplyToQ, sizeof md->ReplyToQ);
  LqmNameToField("", md->ReplyToQMgr, sizeof md->ReplyToQMgr);
  md->CodedCharSetId = qm.Ccsid;
  md->PutApplType = MQAT_UNIX;
  char user[13] = "";
  struct passwd* pw = getpwuid(geteuid());
  snprintf(user, sizeof user, "%.12s", pw != nullptr ? pw->pw_name : "localqm");
  LqmNameToField(user, md->UserIdentifier, sizeof md->UserIdentifier);
  memset(md->ApplIdentityData, ' ', sizeof md->ApplIdentityData);
  LqmNameToField("localqm", md->PutApplName, sizeof md->PutApplName);
  LqmFormatPutTime(LqmNowMs(), md->PutDate, md->PutTime);
  memset(md->ApplOriginData, ' ', sizeof md->ApplOriginData);
  bool ok = TextOption(args, "format", md->Format, 8) &&
            ToolNumberOption(args, "priority", -1, kLqmMaxPriority, &md->Priority) &&
            ToolNumberOption(args, "persistence", 0, 2, &md->Persistence) &&
            BytesOption(args, "msgid", md->MsgId, 24) &&
            BytesOption(args, "correlid", md->CorrelId, 24) &&
            BytesOption(args, "groupid", md->GroupId, 24) &&
            TextOption(args, "replyto", md->ReplyToQ, 48) &&
            TextOption(args, "replytoqmgr", md->ReplyToQMgr, 48) &&
            TextOption(args, "putdate", md->PutDate, 8) &&
            TextOption(args, "puttime", md->PutTime, 8) &&
            ToolNumberOption(args, "backout", 0, INT_MAX, &md->BackoutCount) &&
            ToolNumberOption(args, "expiry", -1, INT_MAX, &md->Expiry) &&
            ToolNumberOption(args, "encoding", INT_MIN, INT_MAX, &md->Encoding) &&
            ToolNumberOption(args, "ccsid", 0, 65535, &md->CodedCharSetId) &&
            ToolNumberOption(args, "msgtype", 0, INT_MAX, &md->MsgType) &&
            ToolNumberOption(args, "report", INT_MIN, INT_MAX, &md->Report) &&
            ToolNumberOption(args, "feedback", 0, INT_MAX, &md->Feedback) &&
            TextOption(args, "user", md->UserIdentifier, 12) &&
            BytesOption(args, "accounting", md->AccountingToken, 32) &&
            TextOption(args, "applid", md->ApplIdentityData, 32) &&
            TextOption(args, "applorigin", md->ApplOriginData, 4) &&
            TextOption(args, "putappl", md->PutApplName, 28) &&
            ToolNumberOption(args, "putappltype", -1, INT_MAX, &md->PutApplType) &&
            ToolNumberOption(args, "seq", 1, INT_MAX, &md->MsgSeqNumber) &&
            ToolNumberOption(args, "offset", 0, INT_MAX, &md->Offset) &&
            ToolNumberOption(args, "msgflags", 0, INT_MAX, &md->MsgFlags) &&
            ToolNumberOption(args, "origlength", -1, INT_MAX, &md->OriginalLength);
  if (ok && md->Expiry == 0) {
    fprintf(stderr, "localqm: --expiry is -1 (unlimited) or a positive number of tenths\n");
    ok = false;
  }
  return ok;
}

bool ReadAll(FILE* f, std::vector<unsigned char>* out) {
  unsigned char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
  return !ferror(f);
}

bool MessageData(const ToolArgs& args, std::vector<unsigned char>* data) {
  const char* text = ToolOption(args, "text");
  const char* hex = ToolOption(args, "hex");
  const char* file = ToolOption(args, "file");
  if ((text != nullptr) + (hex != nullptr) + (file != nullptr) > 1) {
    fprintf(stderr, "localqm: give at most one of --text, --hex and --file\n");
    return false;
  }
  if (text != nullptr) {
    data->assign(text, text + strlen(text));
    return true;
  }
  if (hex != nullptr) {
    if (!DecodeHex(hex, 0, data)) {
      fprintf(stderr, "localqm: --hex takes an even number of hex digits\n");
      return false;
    }
    return true;
  }
  FILE* f = file != nullptr ? fopen(file, "rb") : stdin;
  if (f == nullptr) {
    fprintf(stderr, "localqm: cannot read %s\n", file);
    return false;
  }
  bool ok = ReadAll(f, data);
  if (f != stdin) fclose(f);
  if (!ok) fprintf(stderr, "localqm: cannot read %s\n", file != nullptr ? file : "standard input");
  return ok;
}

void PrintHex(const char* name, const unsigned char* bytes, size_t length) {
  printf("%s : ", name);
  for (size_t i = 0; i < length; ++i) printf("%02X", bytes[i]);
  printf("\n");
}

// Character fields print without their trailing blanks; anything
// unprintable shows as '.', so one field is always one line.
void PrintText(const char* name, const char* field, size_t length) {
  size_t n = length;
  while (n > 0 && (field[n - 1] == ' ' || field[n - 1] == '\0')) --n;
  printf("%s : ", name);
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(field[i]);
    putchar(c >= 0x20 && c < 0x7f ? c : '.');
  }
  printf("\n");
}

void PrintMessage(long index, const LqmMessage& m, bool hex) {
  const MQMD& md = m.Md;
  MQLONG expiry = md.Expiry;
  if (m.ExpiresAtMs != 0) {
    int64_t left = (m.ExpiresAtMs - LqmNowMs() + 99) / 100;
    expiry = static_cast<MQLONG>(left < 1 ? 1 : left);
  }
  printf("Message : %ld\n", index);
  PrintHex("MsgId", md.MsgId, 24);
  PrintHex("CorrelId", md.CorrelId, 24);
  PrintHex("GroupId", md.GroupId, 24);
  printf("Report : %d\nMsgType : %d\nExpiry : %d\nFeedback : %d\nEncoding : %d\n", md.Report,
         md.MsgType, expiry, md.Feedback, md.Encoding);
  printf("CodedCharSetId : %d\n", md.CodedCharSetId);
  PrintText("Format", md.Format, 8);
  printf("Priority : %d\nPersistence : %d\nBackoutCount : %d\n", md.Priority, md.Persistence,
         md.BackoutCount);
  PrintText("ReplyToQ", md.ReplyToQ, 48);
  PrintText("ReplyToQMgr", md.ReplyToQMgr, 48);
  PrintText("UserIdentifier", md.UserIdentifier, 12);
  PrintHex("AccountingToken", md.AccountingToken, 32);
  PrintText("ApplIdentityData", md.ApplIdentityData, 32);
  printf("PutApplType : %d\n", md.PutApplType);
  PrintText("PutApplName", md.PutApplName, 28);
  PrintText("PutDate", md.PutDate, 8);
  PrintText("PutTime", md.PutTime, 8);
  PrintText("ApplOriginData", md.ApplOriginData, 4);
  printf("MsgSeqNumber : %d\nOffset : %d\nMsgFlags : %d\nOriginalLength : %d\n", md.MsgSeqNumber,
         md.Offset, md.MsgFlags, md.OriginalLength);
  printf("DataLength : %zu\n", m.Data.size());
  bool printable = !hex;
  for (unsigned char c : m.Data) printable = printable && c >= 0x20 && c < 0x7f;
  if (printable)
    printf("Data : %.*s\n", static_cast<int>(m.Data.size()),
           reinterpret_cast<const char*>(m.Data.data()));
  else
    PrintHex("DataHex", m.Data.data(), m.Data.size());
  printf("\n");
}

// Ends the get's unit of work: commits when everything went well and every
// message reached standard output, backs out otherwise. Returns `rc`, or
// the failure of the output or of the commit.
int EndToolUnit(LqmStore* store, int rc) {
  if (rc == 0 && (fflush(stdout) != 0 || ferror(stdout))) {
    fprintf(stderr, "localqm: cannot write the messages; they stay on the queue\n");
    rc = MQRC_RESOURCE_PROBLEM;
  }
  int urc = LqmTxnBegin(store);
  if (urc == 0) {
    urc = rc == 0 ? LqmUowCommit(store, nullptr) : LqmUowBackout(store, store->ConnId, nullptr);
    urc = LqmTxnEnd(store, urc);
  }
  if (urc == 0) urc = LqmConnUnregister(store);
  return rc != 0 ? rc : urc;
}

}  // namespace

int ToolPut(const ToolArgs& args) {
  int rc = ToolArgsCheck(args, kPutOptions, 2, 2, "put");
  if (rc != kToolOk) return rc;
  long count = 1;
  if (const char* t = ToolOption(args, "count"))
    if (!ToolNumber(t, "--count", 0, 100000000, &count)) return kToolUsage;
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  LqmQmgr qm;
  MQMD md;
  std::vector<unsigned char> data;
  int mrc = LqmQmgrRead(&store, &qm);
  if (mrc != 0) {
    LqmStoreClose(&store);
    return ToolFail("put", mrc);
  }
  if (!BuildDescriptor(args, qm, &md) || !MessageData(args, &data)) {
    LqmStoreClose(&store);
    return kToolUsage;
  }
  bool newIds = ToolOption(args, "msgid") == nullptr;
  long put = 0;
  for (; put < count && mrc == 0; ++put) {
    if (newIds) LqmNewId(store.Name, md.MsgId);
    mrc = LqmAdminPut(&store, args.Words[1].c_str(), &md, data.data(),
                      static_cast<MQLONG>(data.size()));
  }
  LqmStoreClose(&store);
  if (mrc != 0) {
    if (mrc == MQRC_UNKNOWN_OBJECT_NAME)
      return ToolQueueMissing(args.Words[1].c_str(), args.Words[0].c_str());
    fprintf(stderr, "localqm: %ld of %ld messages put\n", put - 1, count);
    return ToolFail("put", mrc);
  }
  printf("%ld messages put on %s.\n", count, args.Words[1].c_str());
  return kToolOk;
}

int ToolBrowseGet(const ToolArgs& args, bool destructive) {
  const char* verb = destructive ? "get" : "browse";
  int rc = ToolArgsCheck(args, {"hex", "count"}, 2, 2, verb);
  if (rc != kToolOk) return rc;
  long limit = LONG_MAX;
  if (const char* t = ToolOption(args, "count"))
    if (!ToolNumber(t, "--count", 0, LONG_MAX, &limit)) return kToolUsage;
  LqmStore store{};
  rc = ToolOpen(args.Words[0].c_str(), &store);
  if (rc != kToolOk) return rc;
  LqmQueue q;
  int mrc = LqmQueueRead(&store, args.Words[1].c_str(), &q);
  if (mrc == 0 && q.Type == MQQT_ALIAS) mrc = LqmQueueRead(&store, q.Target, &q);
  if (mrc == 0 && q.Type != MQQT_LOCAL) mrc = MQRC_Q_TYPE_ERROR;
  // A get takes its messages under syncpoint as a registered connection
  // and commits only once they are all written out: killed before that,
  // the next open of the queue manager backs the unit out.
  if (mrc == 0 && destructive) mrc = LqmConnRegister(&store, "localqm");
  LqmMatch match{};
  long done = 0;
  while (mrc == 0 && done < limit) {
    LqmMessage m;
    mrc = LqmTxnBegin(&store);
    if (mrc != 0) break;
    mrc = LqmMsgFind(&store, q.Name, &match, &m, true);
    if (mrc == 0 && destructive) mrc = LqmMsgTake(&store, q.Name, m.Id, true);
    mrc = LqmTxnEnd(&store, mrc);
    if (mrc != 0) break;
    if (!destructive) {
      match.UseAfter = true;
      match.AfterRank = m.Rank;
      match.AfterId = m.Id;
    }
    PrintMessage(++done, m, ToolFlag(args, "hex"));
  }
  if (mrc == MQRC_NO_MSG_AVAILABLE) mrc = 0;
  if (destructive && store.ConnId != 0) mrc = EndToolUnit(&store, mrc);
  LqmStoreClose(&store);
  if (mrc == MQRC_UNKNOWN_OBJECT_NAME)
    return ToolQueueMissing(args.Words[1].c_str(), args.Words[0].c_str());
  if (mrc != 0) return ToolFail(verb, mrc);
  return kToolOk;
}
