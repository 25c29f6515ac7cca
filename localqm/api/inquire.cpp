// MQINQ and MQSET: queue-manager and queue attributes by selector, in
// selector order, integers and characters into their own arrays.
#include <cstring>

#include "localqm/api/api.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

constexpr MQLONG kMaxSelectors = 256;
constexpr MQLONG kMaxHandles = 256;
constexpr MQLONG kDescLength = MQ_Q_DESC_LENGTH;

// Every character attribute this queue manager knows, with its length.
struct CharSelector {
  MQLONG Selector;
  MQLONG Length;
};
constexpr CharSelector kCharSelectors[] = {
    {MQCA_Q_MGR_NAME, 48},         {MQCA_DEAD_LETTER_Q_NAME, 48}, {MQCA_Q_MGR_DESC, kDescLength},
    {MQCA_Q_NAME, 48},             {MQCA_BACKOUT_REQ_Q_NAME, 48}, {MQCA_BASE_Q_NAME, 48},
    {MQCA_Q_DESC, kDescLength},
};
constexpr MQLONG kIntSelectors[] = {
    MQIA_COMMAND_LEVEL,   MQIA_PLATFORM,          MQIA_CODED_CHAR_SET_ID,  MQIA_MAX_PRIORITY,
    MQIA_MAX_MSG_LENGTH,  MQIA_SYNCPOINT,         MQIA_DIST_LISTS,         MQIA_MAX_HANDLES,
    MQIA_Q_TYPE,          MQIA_DEFINITION_TYPE,   MQIA_CURRENT_Q_DEPTH,    MQIA_MAX_Q_DEPTH,
    MQIA_BACKOUT_THRESHOLD, MQIA_INHIBIT_PUT,     MQIA_INHIBIT_GET,        MQIA_OPEN_INPUT_COUNT,
    MQIA_OPEN_OUTPUT_COUNT, MQIA_DEF_PRIORITY,    MQIA_DEF_PERSISTENCE,    MQIA_DEF_INPUT_OPEN_OPTION,
    MQIA_SHAREABILITY,    MQIA_MSG_DELIVERY_SEQUENCE, MQIA_USAGE,          MQIA_HARDEN_GET_BACKOUT,
};

MQLONG CharLength(MQLONG selector) {
  for (const CharSelector& c : kCharSelectors)
    if (c.Selector == selector) return c.Length;
  return -1;
}

bool KnownInt(MQLONG selector) {
  for (MQLONG s : kIntSelectors)
    if (s == selector) return true;
  return false;
}

bool IsCharSelector(MQLONG s) { return s >= MQCA_FIRST && s <= MQCA_LAST; }

// What an inquiry reads, gathered in one transaction.
struct Subject {
  MQLONG ObjectType;
  bool Alias;
  LqmQmgr Qmgr;
  LqmQueue Queue;   // the opened queue (the alias itself for an alias)
  MQLONG InputCount;
  MQLONG OutputCount;
};

// The value of one integer selector; false when it does not apply.
bool IntValue(const Subject& s, MQLONG sel, MQLONG* v) {
  if (s.ObjectType == MQOT_Q_MGR) {
    switch (sel) {
      case MQIA_COMMAND_LEVEL: *v = s.Qmgr.CommandLevel; return true;
      case MQIA_PLATFORM: *v = s.Qmgr.Platform; return true;
      case MQIA_CODED_CHAR_SET_ID: *v = s.Qmgr.Ccsid; return true;
      case MQIA_MAX_PRIORITY: *v = kLqmMaxPriority; return true;
      case MQIA_MAX_MSG_LENGTH: *v = kLqmQmgrMaxMsgLength; return true;
      case MQIA_SYNCPOINT: *v = MQSP_AVAILABLE; return true;
      case MQIA_DIST_LISTS: *v = MQDL_SUPPORTED; return true;
      case MQIA_MAX_HANDLES: *v = kMaxHandles; return true;
      default: return false;
    }
  }
  const LqmQueue& q = s.Queue;
  switch (sel) {
    case MQIA_Q_TYPE: *v = q.Type; return true;
    case MQIA_INHIBIT_PUT: *v = q.PutInhibited ? MQQA_PUT_INHIBITED : MQQA_PUT_ALLOWED; return true;
    case MQIA_INHIBIT_GET: *v = q.GetInhibited ? MQQA_GET_INHIBITED : MQQA_GET_ALLOWED; return true;
    case MQIA_DEF_PRIORITY: *v = q.DefPriority; return true;
    case MQIA_DEF_PERSISTENCE: *v = q.DefPersistence; return true;
    default: break;
  }
  if (s.Alias) return false;
  switch (sel) {
    case MQIA_DEFINITION_TYPE: *v = q.DefinitionType; return true;
    case MQIA_CURRENT_Q_DEPTH: *v = q.Depth; return true;
    case MQIA_MAX_Q_DEPTH: *v = q.MaxDepth; return true;
    case MQIA_MAX_MSG_LENGTH: *v = q.MaxMsgLength; return true;
    case MQIA_BACKOUT_THRESHOLD: *v = q.BackoutThreshold; return true;
    case MQIA_OPEN_INPUT_COUNT: *v = s.InputCount; return true;
    case MQIA_OPEN_OUTPUT_COUNT: *v = s.OutputCount; return true;
    case MQIA_DEF_INPUT_OPEN_OPTION: *v = q.DefInputOpen; return true;
    case MQIA_SHAREABILITY: *v = MQQA_SHAREABLE; return true;
    case MQIA_MSG_DELIVERY_SEQUENCE: *v = MQMDS_PRIORITY; return true;
    case MQIA_USAGE: *v = MQUS_NORMAL; return true;
    case MQIA_HARDEN_GET_BACKOUT: *v = MQQA_BACKOUT_NOT_HARDENED; return true;
    default: return false;
  }
}

// The text of one character selector; null when it does not apply.
const char* CharValue(const Subject& s, MQLONG sel) {
  if (s.ObjectType == MQOT_Q_MGR) {
    switch (sel) {
      case MQCA_Q_MGR_NAME: return s.Qmgr.Name;
      case MQCA_DEAD_LETTER_Q_NAME: return s.Qmgr.DeadLetterQ;
      case MQCA_Q_MGR_DESC: return "";
      default: return nullptr;
    }
  }
  switch (sel) {
    case MQCA_Q_NAME: return s.Queue.Name;
    case MQCA_Q_DESC: return s.Queue.Description;
    case MQCA_BASE_Q_NAME: return s.Alias ? s.Queue.Target : nullptr;
    case MQCA_BACKOUT_REQ_Q_NAME: return s.Alias ? nullptr : s.Queue.BackoutQName;
    default: return nullptr;
  }
}

int CheckArrays(MQLONG selectorCount, const MQLONG* selectors, MQLONG intCount,
                const MQLONG* ints, MQLONG charLength, const MQCHAR* chars) {
  if (selectorCount < 0 || selectorCount > kMaxSelectors) return MQRC_SELECTOR_COUNT_ERROR;
  if (selectorCount > 0 && selectors == nullptr) return MQRC_SELECTOR_ERROR;
  if (intCount < 0) return MQRC_INT_ATTR_COUNT_ERROR;
  if (intCount > 0 && ints == nullptr) return MQRC_INT_ATTRS_ARRAY_ERROR;
  if (charLength < 0) return MQRC_CHAR_ATTR_LENGTH_ERROR;
  if (charLength > 0 && chars == nullptr) return MQRC_CHAR_ATTRS_ERROR;
  for (MQLONG i = 0; i < selectorCount; ++i) {
    MQLONG s = selectors[i];
    if (IsCharSelector(s) ? CharLength(s) < 0 : !KnownInt(s)) return MQRC_SELECTOR_ERROR;
  }
  return 0;
}

}  // namespace

void LqmMQINQ(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
              MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
              PMQLONG pCompCode, PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  std::lock_guard<std::mutex> guard(LqmApiLock());
  LqmConnection* conn;
  LqmHandle* h;
  int rc = LqmFindConnHandle(Hconn, Hobj, &conn, &h);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);
  if ((h->Options & MQOO_INQUIRE) == 0 || h->DistList)
    return LqmReport(MQRC_NOT_OPEN_FOR_INQUIRE, pCompCode, pReason);
  rc = CheckArrays(SelectorCount, pSelectors, IntAttrCount, pIntAttrs, CharAttrLength, pCharAttrs);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);

  Subject s{};
  s.ObjectType = h->ObjectType;
  s.Alias = h->Alias && (h->Options & MQOO_RESOLVE_LOCAL_Q) == 0;
  rc = LqmCallBegin(&conn->Main, "MQINQ", h->ObjectType == MQOT_Q ? h->ObjectName : "", &s.Qmgr);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);
  if (h->ObjectType == MQOT_Q) {
    rc = LqmQueueRead(h->Store, s.Alias ? h->ObjectName : h->BaseQueue, &s.Queue);
    if (rc == MQRC_UNKNOWN_OBJECT_NAME) rc = MQRC_Q_DELETED;
    if (rc == 0) rc = LqmOpenCounts(h->Store, h->BaseQueue, &s.InputCount, &s.OutputCount);
  }
  rc = LqmTxnEnd(&conn->Main, rc);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);

  MQLONG warning = 0;
  MQLONG intIndex = 0, charOffset = 0;
  for (MQLONG i = 0; i < SelectorCount; ++i) {
    MQLONG sel = pSelectors[i];
    if (IsCharSelector(sel)) {
      MQLONG length = CharLength(sel);
      const char* value = CharValue(s, sel);
      if (value == nullptr && warning == 0) warning = MQRC_SELECTOR_NOT_FOR_TYPE;
      char field[kDescLength];
      LqmNameToField(value != nullptr ? value : "", field, static_cast<size_t>(length));
      MQLONG room = CharAttrLength - charOffset;
      MQLONG copy = room < length ? (room > 0 ? room : 0) : length;
      if (copy > 0) memcpy(pCharAttrs + charOffset, field, static_cast<size_t>(copy));
      if (copy < length && warning == 0) warning = MQRC_CHAR_ATTRS_TOO_SHORT;
      charOffset += length;
    } else {
      MQLONG value = MQIAV_NOT_APPLICABLE;
      if (!IntValue(s, sel, &value) && warning == 0) warning = MQRC_SELECTOR_NOT_FOR_TYPE;
      if (intIndex < IntAttrCount)
        pIntAttrs[intIndex] = value;
      else if (warning == 0)
        warning = MQRC_INT_ATTR_COUNT_TOO_SMALL;
      ++intIndex;
    }
  }
  LqmReport(warning, pCompCode, pReason);
}

void LqmMQSET(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
              MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
              PMQLONG pCompCode, PMQLONG pReason) {
  if (pCompCode == nullptr || pReason == nullptr) return;
  std::lock_guard<std::mutex> guard(LqmApiLock());
  LqmConnection* conn;
  LqmHandle* h;
  int rc = LqmFindConnHandle(Hconn, Hobj, &conn, &h);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);
  if ((h->Options & MQOO_SET) == 0 || h->ObjectType != MQOT_Q || h->DistList)
    return LqmReport(MQRC_NOT_OPEN_FOR_SET, pCompCode, pReason);
  if (SelectorCount < 0 || SelectorCount > kMaxSelectors)
    return LqmReport(MQRC_SELECTOR_COUNT_ERROR, pCompCode, pReason);
  if (SelectorCount > 0 && pSelectors == nullptr)
    return LqmReport(MQRC_SELECTOR_ERROR, pCompCode, pReason);
  if (IntAttrCount < 0) return LqmReport(MQRC_INT_ATTR_COUNT_ERROR, pCompCode, pReason);
  if (CharAttrLength < 0) return LqmReport(MQRC_CHAR_ATTR_LENGTH_ERROR, pCompCode, pReason);
  (void)pCharAttrs;
  // Only the two inhibit switches can be set; every selector is checked
  // before anything changes.
  MQLONG ints = 0;
  for (MQLONG i = 0; i < SelectorCount; ++i) {
    MQLONG sel = pSelectors[i];
    if (sel != MQIA_INHIBIT_PUT && sel != MQIA_INHIBIT_GET)
      return LqmReport(MQRC_SELECTOR_ERROR, pCompCode, pReason);
    ++ints;
  }
  if (IntAttrCount < ints) return LqmReport(MQRC_INT_ATTR_COUNT_ERROR, pCompCode, pReason);
  if (ints > 0 && pIntAttrs == nullptr)
    return LqmReport(MQRC_INT_ATTRS_ARRAY_ERROR, pCompCode, pReason);
  for (MQLONG i = 0; i < ints; ++i)
    if (pIntAttrs[i] != 0 && pIntAttrs[i] != 1)
      return LqmReport(MQRC_INHIBIT_VALUE_ERROR, pCompCode, pReason);
  rc = LqmCallBegin(&conn->Main, "MQSET", h->ObjectName, nullptr);
  if (rc != 0) return LqmReport(rc, pCompCode, pReason);
  const char* target = h->Alias && (h->Options & MQOO_RESOLVE_LOCAL_Q) == 0 ? h->ObjectName : h->BaseQueue;
  LqmQueue q;
  rc = LqmQueueRead(h->Store, target, &q);
  if (rc == MQRC_UNKNOWN_OBJECT_NAME) rc = MQRC_Q_DELETED;
  for (MQLONG i = 0; rc == 0 && i < ints; ++i) {
    if (pSelectors[i] == MQIA_INHIBIT_PUT) q.PutInhibited = pIntAttrs[i] == MQQA_PUT_INHIBITED;
    if (pSelectors[i] == MQIA_INHIBIT_GET) q.GetInhibited = pIntAttrs[i] == MQQA_GET_INHIBITED;
  }
  if (rc == 0) rc = LqmQueueWrite(h->Store, &q, false);
  // Allowing gets again may let waiting getters through.
  if (rc == 0) h->Store->NotifyPending = true;
  LqmReport(LqmTxnEnd(&conn->Main, rc), pCompCode, pReason);
}
