// Message selection on open handles: the SelectionString of MQOPEN taken
// from the caller's MQOD, and the find that skips what it does not select.
#include <cstring>

#include "localqm/api/api.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

constexpr MQLONG kReadingOptions =
    MQOO_INPUT_AS_Q_DEF | MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE | MQOO_BROWSE;

// The selection string's bytes, from VSPtr or VSOffset. 0 or 2519.
int SelectionText(const MQOD* od, const char** text, size_t* length) {
  const MQCHARV& v = od->SelectionString;
  *text = nullptr;
  *length = 0;
  if (v.VSLength == 0) return 0;
  if (v.VSLength < MQVS_NULL_TERMINATED) return MQRC_SELECTION_STRING_ERROR;
  const char* p = static_cast<const char*>(v.VSPtr);
  if (p != nullptr && v.VSOffset != 0) return MQRC_SELECTION_STRING_ERROR;
  if (p == nullptr) {
    if (v.VSOffset <= 0) return MQRC_SELECTION_STRING_ERROR;
    p = reinterpret_cast<const char*>(od) + v.VSOffset;
  }
  size_t n = v.VSLength == MQVS_NULL_TERMINATED ? strnlen(p, kLqmSelectorMaxLength + 1)
                                                : static_cast<size_t>(v.VSLength);
  if (n > kLqmSelectorMaxLength) return MQRC_SELECTION_STRING_ERROR;
  *text = p;
  *length = n;
  return 0;
}

}  // namespace

int LqmOpenSelector(const MQOD* od, MQLONG options, std::shared_ptr<const LqmSelector>* out) {
  out->reset();
  if (od->Version < MQOD_VERSION_4) return 0;
  const char* text;
  size_t length;
  int rc = SelectionText(od, &text, &length);
  if (rc != 0 || length == 0) return rc;
  if (od->ObjectType == MQOT_Q_MGR) return MQRC_SELECTOR_INVALID_FOR_TYPE;
  if ((options & kReadingOptions) == 0) return 0;
  auto selector = std::make_shared<LqmSelector>();
  rc = LqmSelectorParse(text, length, selector.get());
  if (rc != 0) return rc;
  if (selector->Root >= 0) *out = std::move(selector);
  return 0;
}

int LqmFindSelected(const LqmHandle* h, LqmStore* store, const char* queue, LqmMatch* match,
                    LqmMessage* out) {
  for (;;) {
    int rc = LqmMsgFind(store, queue, match, out, true);
    if (rc != 0 || h->Selector == nullptr) return rc;
    if (LqmSelectorMatches(*h->Selector, out->Md, out->Data.data(), out->Data.size())) return 0;
    // Only ever the one message under the cursor: it is not there for us.
    if (match->OnlyId != 0) return MQRC_NO_MSG_AVAILABLE;
    match->UseAfter = true;
    match->AfterRank = out->Rank;
    match->AfterId = out->Id;
  }
}
