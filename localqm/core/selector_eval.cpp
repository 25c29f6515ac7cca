// Selector evaluation: the descriptor fields a selector may name, SQL's
// three-valued logic over LqmSelValue, and LIKE patterns.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "localqm/core/selector.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

enum class FieldKind : uint8_t { Number, Text, Bytes };

struct DescriptorField {
  const char* Name;
  FieldKind Kind;
  size_t Offset;
  size_t Width;
};

#define LQM_FIELD(name, kind) {#name, FieldKind::kind, offsetof(MQMD, name), sizeof(MQMD::name)}
// Every MQMD field but StrucId and Version, by IBM's names.
const DescriptorField kFields[] = {
    LQM_FIELD(Report, Number),         LQM_FIELD(MsgType, Number),
    LQM_FIELD(Expiry, Number),         LQM_FIELD(Feedback, Number),
    LQM_FIELD(Encoding, Number),       LQM_FIELD(CodedCharSetId, Number),
    LQM_FIELD(Format, Text),           LQM_FIELD(Priority, Number),
    LQM_FIELD(Persistence, Number),    LQM_FIELD(MsgId, Bytes),
    LQM_FIELD(CorrelId, Bytes),        LQM_FIELD(BackoutCount, Number),
    LQM_FIELD(ReplyToQ, Text),         LQM_FIELD(ReplyToQMgr, Text),
    LQM_FIELD(UserIdentifier, Text),   LQM_FIELD(AccountingToken, Bytes),
    LQM_FIELD(ApplIdentityData, Text), LQM_FIELD(PutApplType, Number),
    LQM_FIELD(PutApplName, Text),      LQM_FIELD(PutDate, Text),
    LQM_FIELD(PutTime, Text),          LQM_FIELD(ApplOriginData, Text),
    LQM_FIELD(GroupId, Bytes),         LQM_FIELD(MsgSeqNumber, Number),
    LQM_FIELD(Offset, Number),         LQM_FIELD(MsgFlags, Number),
    LQM_FIELD(OriginalLength, Number),
};
#undef LQM_FIELD

LqmSelValue FieldValue(const MQMD& md, int field) {
  const DescriptorField& f = kFields[field];
  const char* p = reinterpret_cast<const char*>(&md) + f.Offset;
  LqmSelValue v;
  switch (f.Kind) {
    case FieldKind::Number: {
      MQLONG n;
      memcpy(&n, p, sizeof n);
      v.Type = LqmSelType::Int;
      v.Int = n;
      break;
    }
    case FieldKind::Text: {
      size_t n = f.Width;
      while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0')) --n;
      v.Type = LqmSelType::String;
      v.Text.assign(p, n);
      break;
    }
    case FieldKind::Bytes:
      v.Type = LqmSelType::Bytes;
      v.Text.assign(p, f.Width);
      break;
  }
  return v;
}

LqmSelValue Null() { return LqmSelValue{}; }
LqmSelValue Bool(bool b) {
  LqmSelValue v;
  v.Type = LqmSelType::Bool;
  v.Bool = b;
  return v;
}
LqmSelValue Real(double d) {
  LqmSelValue v;
  v.Type = LqmSelType::Double;
  v.Double = d;
  return v;
}
LqmSelValue Integer(int64_t i) {
  LqmSelValue v;
  v.Type = LqmSelType::Int;
  v.Int = i;
  return v;
}

bool IsNumber(const LqmSelValue& v) {
  return v.Type == LqmSelType::Int || v.Type == LqmSelType::Double;
}
double AsDouble(const LqmSelValue& v) {
  return v.Type == LqmSelType::Int ? static_cast<double>(v.Int) : v.Double;
}

// +, -, *, / on two numbers; anything else, or a division by zero, is
// NULL. Integers stay integers unless the result does not fit.
LqmSelValue Arithmetic(LqmSelOp op, const LqmSelValue& a, const LqmSelValue& b) {
  if (!IsNumber(a) || !IsNumber(b)) return Null();
  if (a.Type == LqmSelType::Int && b.Type == LqmSelType::Int) {
    int64_t r = 0;
    bool overflow = false;
    switch (op) {
      case LqmSelOp::Add: overflow = __builtin_add_overflow(a.Int, b.Int, &r); break;
      case LqmSelOp::Subtract: overflow = __builtin_sub_overflow(a.Int, b.Int, &r); break;
      case LqmSelOp::Multiply: overflow = __builtin_mul_overflow(a.Int, b.Int, &r); break;
      default:
        if (b.Int == 0) return Null();
        if (a.Int == INT64_MIN && b.Int == -1) overflow = true;
        else r = a.Int / b.Int;
        break;
    }
    if (!overflow) return Integer(r);
  }
  double x = AsDouble(a), y = AsDouble(b);
  switch (op) {
    case LqmSelOp::Add: return Real(x + y);
    case LqmSelOp::Subtract: return Real(x - y);
    case LqmSelOp::Multiply: return Real(x * y);
    default: return y == 0 ? Null() : Real(x / y);
  }
}

// A comparison: NULL with NULL on either side; FALSE for values of
// different kinds and for ordering anything but numbers.
LqmSelValue Compare(LqmSelOp op, const LqmSelValue& a, const LqmSelValue& b) {
  if (a.Type == LqmSelType::Null || b.Type == LqmSelType::Null) return Null();
  int order;
  if (IsNumber(a) && IsNumber(b)) {
    if (a.Type == LqmSelType::Int && b.Type == LqmSelType::Int) {
      order = a.Int < b.Int ? -1 : a.Int > b.Int ? 1 : 0;
    } else {
      double x = AsDouble(a), y = AsDouble(b);
      if (std::isnan(x) || std::isnan(y)) return Bool(op == LqmSelOp::NotEqual);
      order = x < y ? -1 : x > y ? 1 : 0;
    }
  } else {
    if (a.Type != b.Type) return Bool(false);
    bool same = a.Type == LqmSelType::Bool ? a.Bool == b.Bool : a.Text == b.Text;
    if (op == LqmSelOp::Equal) return Bool(same);
    if (op == LqmSelOp::NotEqual) return Bool(!same);
    return Bool(false);
  }
  switch (op) {
    case LqmSelOp::Equal: return Bool(order == 0);
    case LqmSelOp::NotEqual: return Bool(order != 0);
    case LqmSelOp::Less: return Bool(order < 0);
    case LqmSelOp::Greater: return Bool(order > 0);
    case LqmSelOp::LessEqual: return Bool(order <= 0);
    default: return Bool(order >= 0);
  }
}

// Unknown for anything that is not a boolean.
LqmSelValue Not(const LqmSelValue& v) {
  return v.Type == LqmSelType::Bool ? Bool(!v.Bool) : Null();
}

// The bytes of the UTF-8 character that starts at text[i].
size_t CharLength(const std::string& text, size_t i) {
  size_t n = 1;
  while (n < 4 && i + n < text.size() &&
         (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80)
    ++n;
  return n;
}

// LIKE: % is any run of characters, _ one character (UTF-8 aware), the
// escape byte quotes the character after it. Greedy matching with one
// backtrack point: linear in the text for each % of the pattern.
bool LikeMatches(const std::string& text, const std::string& pattern, int escape) {
  struct Piece {
    enum { Any, One, Char } Kind;
    std::string Bytes;
  };
  std::vector<Piece> pieces;
  for (size_t i = 0; i < pattern.size();) {
    unsigned char c = static_cast<unsigned char>(pattern[i]);
    if (static_cast<int>(c) == escape && i + 1 < pattern.size()) {
      ++i;
    } else if (c == '%') {
      pieces.push_back({Piece::Any, ""});
      ++i;
      continue;
    } else if (c == '_') {
      pieces.push_back({Piece::One, ""});
      ++i;
      continue;
    }
    size_t n = CharLength(pattern, i);
    pieces.push_back({Piece::Char, pattern.substr(i, n)});
    i += n;
  }
  size_t t = 0, p = 0, starText = 0;
  bool star = false;
  size_t starPiece = 0;
  while (t < text.size()) {
    if (p < pieces.size() && pieces[p].Kind == Piece::One) {
      t += CharLength(text, t);
      ++p;
    } else if (p < pieces.size() && pieces[p].Kind == Piece::Char &&
               text.compare(t, pieces[p].Bytes.size(), pieces[p].Bytes) == 0) {
      t += pieces[p].Bytes.size();
      ++p;
    } else if (p < pieces.size() && pieces[p].Kind == Piece::Any) {
      star = true;
      starPiece = p++;
      starText = t;
    } else if (star) {
      p = starPiece + 1;
      starText += CharLength(text, starText);
      t = starText;
    } else {
      return false;
    }
  }
  while (p < pieces.size() && pieces[p].Kind == Piece::Any) ++p;
  return p == pieces.size();
}

struct Context {
  const LqmSelector& Sel;
  const MQMD* Md;
  const std::vector<LqmSelProperty>& Props;
};

LqmSelValue Eval(const Context& c, int index) {
  const LqmSelNode& n = c.Sel.Nodes[static_cast<size_t>(index)];
  auto kid = [&](size_t i) { return Eval(c, n.Kids[i]); };
  switch (n.Op) {
    case LqmSelOp::Literal: return n.Value;
    case LqmSelOp::Name:
      if (n.Field >= 0) return c.Md != nullptr ? FieldValue(*c.Md, n.Field) : Null();
      for (const LqmSelProperty& p : c.Props)
        if (p.Name == n.Name) return p.Value;
      return Null();
    case LqmSelOp::Negate: {
      LqmSelValue v = kid(0);
      if (v.Type == LqmSelType::Int && v.Int != INT64_MIN) return Integer(-v.Int);
      return IsNumber(v) ? Real(-AsDouble(v)) : Null();
    }
    case LqmSelOp::Add:
    case LqmSelOp::Subtract:
    case LqmSelOp::Multiply:
    case LqmSelOp::Divide: return Arithmetic(n.Op, kid(0), kid(1));
    case LqmSelOp::Equal:
    case LqmSelOp::NotEqual:
    case LqmSelOp::Less:
    case LqmSelOp::Greater:
    case LqmSelOp::LessEqual:
    case LqmSelOp::GreaterEqual: return Compare(n.Op, kid(0), kid(1));
    case LqmSelOp::And:
    case LqmSelOp::Or: {
      // AND: any FALSE decides; OR: any TRUE decides; else unknown wins.
      bool decider = n.Op == LqmSelOp::Or;
      bool unknown = false;
      for (size_t i = 0; i < n.Kids.size(); ++i) {
        LqmSelValue v = kid(i);
        if (v.Type != LqmSelType::Bool) unknown = true;
        else if (v.Bool == decider) return Bool(decider);
      }
      return unknown ? Null() : Bool(!decider);
    }
    case LqmSelOp::Not: return Not(kid(0));
    case LqmSelOp::Between: {
      LqmSelValue v = kid(0);
      LqmSelValue low = Compare(LqmSelOp::GreaterEqual, v, kid(1));
      LqmSelValue high = Compare(LqmSelOp::LessEqual, v, kid(2));
      LqmSelValue both;
      if ((low.Type == LqmSelType::Bool && !low.Bool) || (high.Type == LqmSelType::Bool && !high.Bool))
        both = Bool(false);
      else if (low.Type == LqmSelType::Bool && high.Type == LqmSelType::Bool)
        both = Bool(true);
      return n.Negated ? Not(both) : both;
    }
    case LqmSelOp::In: {
      LqmSelValue v = kid(0);
      if (v.Type == LqmSelType::Null) return Null();
      bool found = false;
      for (const LqmSelValue& item : n.List) {
        LqmSelValue same = Compare(LqmSelOp::Equal, v, item);
        found |= same.Type == LqmSelType::Bool && same.Bool;
      }
      return Bool(found != n.Negated);
    }
    case LqmSelOp::Like: {
      LqmSelValue v = kid(0);
      if (v.Type == LqmSelType::Null) return Null();
      bool match = v.Type == LqmSelType::String && LikeMatches(v.Text, n.Value.Text, n.Escape);
      return Bool(match != n.Negated);
    }
    case LqmSelOp::IsNull: return Bool((kid(0).Type == LqmSelType::Null) != n.Negated);
  }
  return Null();
}

}  // namespace

int LqmSelectorField(const std::string& field) {
  for (size_t i = 0; i < sizeof kFields / sizeof kFields[0]; ++i)
    if (field == kFields[i].Name) return static_cast<int>(i);
  return -1;
}

LqmSelValue LqmSelectorEvaluate(const LqmSelector& sel, int index, const MQMD* md,
                                const std::vector<LqmSelProperty>& props) {
  if (index < 0 || static_cast<size_t>(index) >= sel.Nodes.size()) return Null();
  return Eval(Context{sel, md, props}, index);
}

bool LqmSelectorMatches(const LqmSelector& sel, const MQMD& md, const unsigned char* data,
                        size_t length) {
  if (sel.Root < 0) return true;
  std::vector<LqmSelProperty> props;
  if (sel.UsesProperties) LqmMessageProperties(md, data, length, &props);
  LqmSelValue v = LqmSelectorEvaluate(sel, sel.Root, &md, props);
  return v.Type == LqmSelType::Bool && v.Bool;
}
