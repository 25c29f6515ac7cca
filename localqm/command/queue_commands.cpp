// The commands the server answers: Inquire Queue and Inquire Queue Status,
// with the parameter checks IBM MQ's command server makes, and the one
// failure reply every refused request gets.
#include <cstring>
#include <string>

#include "localqm/command/command.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

// What an inquiry asks for, read from the request's parameters.
struct QueueQuery {
  std::string Name;          // without trailing blanks
  bool Generic = false;      // Name is a prefix (it ended in '*')
  MQLONG QueueType = MQQT_ALL;
  bool HaveAttrs = false;    // an attribute list was sent
  std::vector<MQLONG> Attrs;
};

// The attributes of Inquire Queue, in the order MQIACF_ALL returns them.
// Q_NAME and Q_TYPE lead every reply whatever was asked.
const MQLONG kQueueAttrs[] = {MQIA_CURRENT_Q_DEPTH, MQIA_DEFINITION_TYPE, MQIA_MAX_Q_DEPTH,
                              MQIA_MAX_MSG_LENGTH,  MQIA_DEF_PRIORITY,    MQIA_INHIBIT_PUT,
                              MQIA_INHIBIT_GET,     MQIA_OPEN_INPUT_COUNT, MQIA_OPEN_OUTPUT_COUNT,
                              MQCA_BASE_Q_NAME,     MQCA_Q_DESC};
const MQLONG kStatusAttrs[] = {MQIA_CURRENT_Q_DEPTH,   MQIA_OPEN_INPUT_COUNT,
                               MQIA_OPEN_OUTPUT_COUNT, MQIACF_UNCOMMITTED_MSGS,
                               MQIACF_CUR_Q_FILE_SIZE, MQIACF_CUR_MAX_FILE_SIZE};

bool ValidQueueType(MQLONG type) {
  return type == MQQT_LOCAL || type == MQQT_MODEL || type == MQQT_ALIAS || type == MQQT_REMOTE ||
         type == MQQT_CLUSTER || type == MQQT_ALL;
}

// The reason for a parameter the command does not take, by its structure.
MQLONG UnexpectedParameter(const LqmPcfParam& p) {
  switch (p.Type) {
    case MQCFT_INTEGER: return MQRCCF_CFIN_PARM_ID_ERROR;
    case MQCFT_STRING: return MQRCCF_CFST_PARM_ID_ERROR;
    default: return MQRCCF_CFIL_PARM_ID_ERROR;
  }
}

// Reads the parameters of Inquire Queue (status false) or Inquire Queue
// Status. Returns 0 or the reason, with *bad naming the parameter.
int ReadQuery(const LqmPcfRequest& req, bool status, QueueQuery* q, MQLONG* bad) {
  bool haveName = false, haveType = false;
  const MQLONG attrsParameter = status ? MQIACF_Q_STATUS_ATTRS : MQIACF_Q_ATTRS;
  for (const LqmPcfParam& p : req.Params) {
    *bad = p.Parameter;
    if (p.Parameter == MQCA_Q_NAME && p.Type == MQCFT_STRING) {
      if (haveName) return MQRCCF_CFST_DUPLICATE_PARM;
      haveName = true;
      q->Name = p.Text.substr(0, p.Text.find_last_not_of(std::string(" \0", 2)) + 1);
      if (q->Name.find('\0') != std::string::npos) q->Name.erase(q->Name.find('\0'));
      if (q->Name.empty() || q->Name.size() > kLqmNameLength) return MQRCCF_CFST_STRING_LENGTH_ERR;
      q->Generic = q->Name.back() == '*';
      if (q->Generic) q->Name.pop_back();
    } else if (!status && p.Parameter == MQIA_Q_TYPE && p.Type == MQCFT_INTEGER) {
      if (haveType) return MQRCCF_CFIN_DUPLICATE_PARM;
      haveType = true;
      if (!ValidQueueType(p.Value)) return MQRCCF_Q_TYPE_ERROR;
      q->QueueType = p.Value;
    } else if (status && p.Parameter == MQIACF_Q_STATUS_TYPE && p.Type == MQCFT_INTEGER) {
      if (haveType) return MQRCCF_CFIN_DUPLICATE_PARM;
      haveType = true;
      // Handle status needs per-handle details (process, application
      // tag) that this queue manager does not keep.
      if (p.Value != MQIACF_Q_STATUS) return MQRCCF_PARM_VALUE_ERROR;
    } else if (p.Parameter == attrsParameter && p.Type == MQCFT_INTEGER_LIST) {
      if (q->HaveAttrs) return MQRCCF_CFIL_DUPLICATE_VALUE;
      q->HaveAttrs = true;
      q->Attrs = p.Values;
    } else {
      return UnexpectedParameter(p);
    }
  }
  *bad = 0;
  return haveName ? 0 : MQRCCF_PARM_COUNT_TOO_SMALL;
}

bool NameMatches(const QueueQuery& q, const std::string& name) {
  return q.Generic ? name.compare(0, q.Name.size(), q.Name) == 0 : name == q.Name;
}

bool Wanted(const QueueQuery& q, MQLONG attr) {
  if (!q.HaveAttrs) return false;
  for (MQLONG a : q.Attrs)
    if (a == attr || a == MQIACF_ALL) return true;
  return false;
}

// Appends one attribute of `queue` when it applies to the queue's type.
int AddQueueAttr(LqmStore* store, const LqmQueue& queue, MQLONG attr, LqmPcfReply* reply) {
  bool local = queue.Type == MQQT_LOCAL, model = queue.Type == MQQT_MODEL;
  bool alias = queue.Type == MQQT_ALIAS;
  switch (attr) {
    case MQIA_CURRENT_Q_DEPTH:
      if (local) LqmPcfReplyInt(reply, attr, queue.Depth);
      break;
    case MQIA_DEFINITION_TYPE:
      if (local || model) LqmPcfReplyInt(reply, attr, queue.DefinitionType);
      break;
    case MQIA_MAX_Q_DEPTH:
      if (local || model) LqmPcfReplyInt(reply, attr, queue.MaxDepth);
      break;
    case MQIA_MAX_MSG_LENGTH:
      if (local || model) LqmPcfReplyInt(reply, attr, queue.MaxMsgLength);
      break;
    case MQIA_DEF_PRIORITY: LqmPcfReplyInt(reply, attr, queue.DefPriority); break;
    case MQIA_INHIBIT_PUT: LqmPcfReplyInt(reply, attr, queue.PutInhibited ? 1 : 0); break;
    case MQIA_INHIBIT_GET: LqmPcfReplyInt(reply, attr, queue.GetInhibited ? 1 : 0); break;
    case MQIA_OPEN_INPUT_COUNT:
    case MQIA_OPEN_OUTPUT_COUNT: {
      if (!local) break;
      MQLONG input = 0, output = 0;
      int rc = LqmOpenCounts(store, queue.Name, &input, &output);
      if (rc != 0) return rc;
      LqmPcfReplyInt(reply, attr, attr == MQIA_OPEN_INPUT_COUNT ? input : output);
      break;
    }
    case MQCA_BASE_Q_NAME:
      if (alias) LqmPcfReplyString(reply, attr, queue.Target, MQ_Q_NAME_LENGTH);
      break;
    case MQCA_Q_DESC: LqmPcfReplyString(reply, attr, queue.Description, MQ_Q_DESC_LENGTH); break;
    default: break;  // attributes this queue manager does not keep
  }
  return 0;
}

// Appends one status attribute. The queue's file is measured once per
// reply (*file, FileSize -1 until then): measuring reads every row.
int AddStatusAttr(LqmStore* store, const LqmQueue& queue, MQLONG attr, LqmPcfReply* reply,
                  LqmQueueFileStatus* file) {
  if (attr == MQIA_CURRENT_Q_DEPTH || attr == MQIA_OPEN_INPUT_COUNT ||
      attr == MQIA_OPEN_OUTPUT_COUNT)
    return AddQueueAttr(store, queue, attr, reply);
  if (file->FileSize < 0) {
    int rc = LqmQueueFileStatusRead(store, queue.Name, file);
    if (rc != 0) return rc;
  }
  if (attr == MQIACF_UNCOMMITTED_MSGS) LqmPcfReplyInt(reply, attr, file->Uncommitted);
  if (attr == MQIACF_CUR_Q_FILE_SIZE) LqmPcfReplyInt(reply, attr, file->FileSize);
  if (attr == MQIACF_CUR_MAX_FILE_SIZE) LqmPcfReplyInt(reply, attr, file->MaxFileSize);
  return 0;
}

// The reply describing one queue: name, type or status type, then the
// attributes asked for (every one this queue manager keeps for MQIACF_ALL
// or without a list, IBM MQ's default), in the order of the table.
template <size_t N>
int DescribeQueue(LqmStore* store, const LqmPcfRequest& req, const QueueQuery& q,
                  const LqmQueue& queue, bool status, const MQLONG (&attrs)[N],
                  LqmPcfReply* reply) {
  MQLONG type = req.Type == MQCFT_COMMAND_XR ? MQCFT_XR_ITEM : MQCFT_RESPONSE;
  LqmPcfReplyStart(reply, type, req.Version, req.Command, 1, MQCFC_NOT_LAST, MQCC_OK, MQRC_NONE);
  LqmPcfReplyString(reply, MQCA_Q_NAME, queue.Name, MQ_Q_NAME_LENGTH);
  if (status)
    LqmPcfReplyInt(reply, MQIACF_Q_STATUS_TYPE, MQIACF_Q_STATUS);
  else
    LqmPcfReplyInt(reply, MQIA_Q_TYPE, queue.Type);
  LqmQueueFileStatus file = {-1, 0, 0};
  for (MQLONG attr : attrs) {
    if (q.HaveAttrs && !Wanted(q, attr)) continue;
    int rc = status ? AddStatusAttr(store, queue, attr, reply, &file)
                    : AddQueueAttr(store, queue, attr, reply);
    if (rc != 0) return rc;
  }
  return 0;
}

// Both inquiries: one reply per matching queue, in name order. Returns 0
// or a store failure; a refusal is returned in *reason with *bad.
int Inquire(LqmStore* store, const LqmPcfRequest& req, bool status,
            std::vector<LqmPcfReply>* replies, MQLONG* reason, MQLONG* bad) {
  QueueQuery q;
  *reason = ReadQuery(req, status, &q, bad);
  if (*reason != 0) return 0;
  std::vector<std::string> names;
  int rc = LqmQueueList(store, &names);
  if (rc != 0) return rc;
  bool wrongType = false;
  for (const std::string& name : names) {
    if (!NameMatches(q, name)) continue;
    LqmQueue queue;
    rc = LqmQueueRead(store, name.c_str(), &queue);
    if (rc == MQRC_UNKNOWN_OBJECT_NAME) continue;
    if (rc != 0) return rc;
    MQLONG wanted = status ? MQQT_LOCAL : q.QueueType;
    if (wanted != MQQT_ALL && queue.Type != wanted) {
      wrongType = !q.Generic;
      continue;
    }
    replies->emplace_back();
    rc = status ? DescribeQueue(store, req, q, queue, true, kStatusAttrs, &replies->back())
                : DescribeQueue(store, req, q, queue, false, kQueueAttrs, &replies->back());
    if (rc != 0) return rc;
  }
  if (replies->empty()) *reason = wrongType ? MQRCCF_Q_WRONG_TYPE : MQRC_UNKNOWN_OBJECT_NAME;
  return 0;
}

// The one reply of a refused request.
void Refuse(const LqmPcfRequest& req, MQLONG reason, MQLONG bad,
            std::vector<LqmPcfReply>* replies) {
  replies->assign(1, LqmPcfReply{});
  MQLONG type = req.Type == MQCFT_COMMAND_XR ? MQCFT_XR_SUMMARY : MQCFT_RESPONSE;
  MQLONG version = req.Version >= MQCFH_VERSION_1 && req.Version <= MQCFH_CURRENT_VERSION
                       ? req.Version
                       : MQCFH_VERSION_1;
  LqmPcfReplyStart(&replies->front(), type, version, req.Command, 1, MQCFC_LAST, MQCC_FAILED,
                   reason);
  if (bad != 0) LqmPcfReplyInt(&replies->front(), MQIACF_PARAMETER_ID, bad);
}

}  // namespace

int LqmPcfAnswer(LqmStore* store, const MQMD& md, const unsigned char* data, size_t length,
                 std::vector<LqmPcfReply>* replies) {
  replies->clear();
  LqmPcfRequest req;
  MQLONG bad = 0;
  MQLONG reason = LqmPcfParse(data, length, md.Encoding, &req, &bad);
  MQLONG integers = md.Encoding & MQENC_INTEGER_MASK;
  if (memcmp(md.Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH) != 0) {
    reason = MQRCCF_MD_FORMAT_ERROR;
    bad = 0;
  } else if (integers != MQENC_INTEGER_NORMAL && integers != MQENC_INTEGER_REVERSED) {
    reason = MQRCCF_ENCODING_ERROR;
    bad = 0;
  }
  if (reason == 0) {
    int rc = 0;
    if (req.Command == MQCMD_INQUIRE_Q)
      rc = Inquire(store, req, false, replies, &reason, &bad);
    else if (req.Command == MQCMD_INQUIRE_Q_STATUS)
      rc = Inquire(store, req, true, replies, &reason, &bad);
    else
      reason = MQRCCF_CFH_COMMAND_ERROR;
    if (rc != 0) {
      replies->clear();
      return rc;
    }
  }
  if (reason != 0) {
    Refuse(req, reason, bad, replies);
    return 0;
  }
  MQLONG n = static_cast<MQLONG>(replies->size());
  for (MQLONG i = 0; i < n; ++i)
    LqmPcfReplyMark(&(*replies)[static_cast<size_t>(i)], i + 1,
                    i + 1 == n && req.Type != MQCFT_COMMAND_XR ? MQCFC_LAST : MQCFC_NOT_LAST);
  if (req.Type == MQCFT_COMMAND_XR) {
    // z/OS style: the items, then a summary that closes the answer.
    replies->emplace_back();
    LqmPcfReplyStart(&replies->back(), MQCFT_XR_SUMMARY, req.Version, req.Command, n + 1,
                     MQCFC_LAST, MQCC_OK, MQRC_NONE);
  }
  return 0;
}
