// Selector text to a tree of LqmSelNode: a tokenizer and a recursive
// descent parser with one function per grammar level (see selector.h).
// Every fault is MQRC_SELECTOR_SYNTAX_ERROR; the parser stops at the first.
#include <cctype>
#include <cstring>

#include "localqm/core/selector.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

// Deeper trees than this are refused: evaluation recurses once per level,
// and no sensible selector comes near it. Parsing recurses a dozen frames
// per parenthesis, NOT or sign, so those nest less deeply still: MQOPEN
// may be called on a thread with a small stack.
constexpr int kMaxHeight = 256;
constexpr int kMaxNesting = 64;

enum class Tok : uint8_t {
  End, Bad, Name, Text, Bytes, Int, Double,
  And, Or, Not, Between, Like, In, Is, Null, True, False, Escape,
  Eq, Ne, Lt, Gt, Le, Ge, Plus, Minus, Star, Slash, Open, Close, Comma,
};

struct Token {
  Tok Kind = Tok::End;
  std::string Text;   // Name, Text, Bytes
  int64_t Int = 0;
  double Double = 0;
};

bool NameStart(unsigned char c) { return isalpha(c) || c == '_' || c == '$' || c >= 0x80; }
bool NamePart(unsigned char c) { return NameStart(c) || isdigit(c); }
int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct Keyword {
  const char* Word;
  Tok Kind;
};
constexpr Keyword kKeywords[] = {
    {"AND", Tok::And},   {"OR", Tok::Or},     {"NOT", Tok::Not},   {"BETWEEN", Tok::Between},
    {"LIKE", Tok::Like}, {"IN", Tok::In},     {"IS", Tok::Is},     {"NULL", Tok::Null},
    {"TRUE", Tok::True}, {"FALSE", Tok::False}, {"ESCAPE", Tok::Escape},
};

class Lexer {
 public:
  Lexer(const char* text, size_t length) : p_(text), end_(text + length) {}

  Token Next() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n')) ++p_;
    Token t;
    if (p_ == end_) return t;
    unsigned char c = static_cast<unsigned char>(*p_);
    if (NameStart(c)) return Name();
    if (isdigit(c) || (c == '.' && p_ + 1 < end_ && isdigit(static_cast<unsigned char>(p_[1]))))
      return Number();
    if (c == '\'') return Quoted();
    if (c == '"') return ByteString();
    ++p_;
    switch (c) {
      case '=': t.Kind = Tok::Eq; break;
      case '+': t.Kind = Tok::Plus; break;
      case '-': t.Kind = Tok::Minus; break;
      case '*': t.Kind = Tok::Star; break;
      case '/': t.Kind = Tok::Slash; break;
      case '(': t.Kind = Tok::Open; break;
      case ')': t.Kind = Tok::Close; break;
      case ',': t.Kind = Tok::Comma; break;
      case '<':
        t.Kind = Tok::Lt;
        if (p_ < end_ && *p_ == '>') t.Kind = Tok::Ne, ++p_;
        else if (p_ < end_ && *p_ == '=') t.Kind = Tok::Le, ++p_;
        break;
      case '>':
        t.Kind = Tok::Gt;
        if (p_ < end_ && *p_ == '=') t.Kind = Tok::Ge, ++p_;
        break;
      default: t.Kind = Tok::Bad; break;
    }
    return t;
  }

 private:
  // A dotted name: parts of name characters joined by single dots.
  Token Name() {
    Token t;
    t.Kind = Tok::Name;
    const char* start = p_;
    for (;;) {
      while (p_ < end_ && NamePart(static_cast<unsigned char>(*p_))) ++p_;
      if (p_ + 1 < end_ && *p_ == '.' && NameStart(static_cast<unsigned char>(p_[1]))) {
        ++p_;
        continue;
      }
      break;
    }
    t.Text.assign(start, p_);
    if (p_ < end_ && *p_ == '.') t.Kind = Tok::Bad;  // "a." or "a.1"
    for (const Keyword& k : kKeywords) {
      if (t.Text.size() == strlen(k.Word) && strncasecmp(t.Text.c_str(), k.Word, t.Text.size()) == 0)
        t.Kind = k.Kind;
    }
    return t;
  }

  // Integers in 64 bits: decimal, 0x hex and leading-0 octal, with an
  // optional L; a point or an exponent makes a double.
  Token Number() {
    Token t;
    t.Kind = Tok::Bad;
    const char* start = p_;
    if (*p_ == '0' && p_ + 1 < end_ && (p_[1] == 'x' || p_[1] == 'X')) {
      p_ += 2;
      uint64_t v = 0;
      int digits = 0;
      for (; p_ < end_ && HexDigit(static_cast<unsigned char>(*p_)) >= 0; ++p_, ++digits)
        v = v * 16 + static_cast<uint64_t>(HexDigit(static_cast<unsigned char>(*p_)));
      if (digits == 0 || digits > 16) return Finish(t);
      t.Kind = Tok::Int;
      t.Int = static_cast<int64_t>(v);
      return Finish(t);
    }
    while (p_ < end_ && isdigit(static_cast<unsigned char>(*p_))) ++p_;
    bool real = false;
    if (p_ < end_ && *p_ == '.') {
      real = true;
      ++p_;
      while (p_ < end_ && isdigit(static_cast<unsigned char>(*p_))) ++p_;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      real = true;
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      const char* digits = p_;
      while (p_ < end_ && isdigit(static_cast<unsigned char>(*p_))) ++p_;
      if (p_ == digits) return Finish(t);
    }
    std::string text(start, p_);
    if (real) {
      t.Kind = Tok::Double;
      t.Double = strtod(text.c_str(), nullptr);
      return Finish(t);
    }
    int base = text.size() > 1 && text[0] == '0' ? 8 : 10;
    uint64_t v = 0;
    for (char d : text) {
      uint64_t digit = static_cast<uint64_t>(d - '0');
      if (digit >= static_cast<uint64_t>(base) || v > (UINT64_MAX - digit) / base) return Finish(t);
      v = v * static_cast<uint64_t>(base) + digit;
    }
    if (base == 10 && v > static_cast<uint64_t>(INT64_MAX)) return Finish(t);
    t.Kind = Tok::Int;
    t.Int = static_cast<int64_t>(v);
    if (p_ < end_ && (*p_ == 'L' || *p_ == 'l')) ++p_;
    return Finish(t);
  }

  // A number runs straight into a name ("12abc") only in error.
  Token Finish(Token t) {
    if (p_ < end_ && NamePart(static_cast<unsigned char>(*p_))) t.Kind = Tok::Bad;
    return t;
  }

  Token Quoted() {
    Token t;
    t.Kind = Tok::Bad;
    ++p_;
    for (;;) {
      if (p_ == end_) return t;  // no closing quote
      if (*p_ == '\'') {
        if (p_ + 1 < end_ && p_[1] == '\'') {
          t.Text += '\'';
          p_ += 2;
          continue;
        }
        ++p_;
        t.Kind = Tok::Text;
        return t;
      }
      t.Text += *p_++;
    }
  }

  // "0x0AFC": at least one whole byte of hex digits.
  Token ByteString() {
    Token t;
    t.Kind = Tok::Bad;
    ++p_;
    if (end_ - p_ < 2 || *p_ != '0' || (p_[1] != 'x' && p_[1] != 'X')) return t;
    p_ += 2;
    while (p_ + 1 < end_ && HexDigit(static_cast<unsigned char>(*p_)) >= 0 &&
           HexDigit(static_cast<unsigned char>(p_[1])) >= 0) {
      t.Text += static_cast<char>(HexDigit(static_cast<unsigned char>(*p_)) * 16 +
                                  HexDigit(static_cast<unsigned char>(p_[1])));
      p_ += 2;
    }
    if (p_ == end_ || *p_ != '"' || t.Text.empty()) return t;
    ++p_;
    t.Kind = Tok::Bytes;
    return t;
  }

  const char* p_;
  const char* end_;
};

// What a node can stand for, as far as the text tells: names can be
// anything until a message gives them a value.
enum class Kind : uint8_t { Bool, Number, Text, Bytes, Any };

// The value of a literal token and what it stands for; false for a token
// that is no literal.
bool LiteralOf(const Token& t, LqmSelValue* v, Kind* kind) {
  switch (t.Kind) {
    case Tok::Text:
    case Tok::Bytes:
      v->Type = t.Kind == Tok::Text ? LqmSelType::String : LqmSelType::Bytes;
      v->Text = t.Text;
      *kind = t.Kind == Tok::Text ? Kind::Text : Kind::Bytes;
      return true;
    case Tok::Int:
    case Tok::Double:
      v->Type = t.Kind == Tok::Int ? LqmSelType::Int : LqmSelType::Double;
      v->Int = t.Int;
      v->Double = t.Double;
      *kind = Kind::Number;
      return true;
    case Tok::True:
    case Tok::False:
      v->Type = LqmSelType::Bool;
      v->Bool = t.Kind == Tok::True;
      *kind = Kind::Bool;
      return true;
    default: return false;
  }
}

class Parser {
 public:
  Parser(const char* text, size_t length, LqmSelector* out) : lex_(text, length), sel_(out) {
    tok_ = lex_.Next();
  }

  int Run() {
    if (tok_.Kind == Tok::End) return 0;
    int root = Condition();
    if (failed_ || tok_.Kind != Tok::End || !Boolish(root)) return MQRC_SELECTOR_SYNTAX_ERROR;
    sel_->Root = root;
    return 0;
  }

 private:
  bool Boolish(int n) const { return n >= 0 && (kinds_[n] == Kind::Bool || kinds_[n] == Kind::Any); }
  bool Numeric(int n) const {
    return n >= 0 && (kinds_[n] == Kind::Number || kinds_[n] == Kind::Any);
  }
  void Advance() { tok_ = lex_.Next(); }
  bool Accept(Tok kind) {
    if (tok_.Kind != kind) return false;
    Advance();
    return true;
  }
  int Fail() {
    failed_ = true;
    return -1;
  }

  int Add(LqmSelNode node, Kind kind) {
    int height = 0;
    for (int kid : node.Kids) {
      if (kid < 0) return Fail();
      if (heights_[kid] > height) height = heights_[kid];
    }
    if (height + 1 > kMaxHeight) return Fail();
    sel_->Nodes.push_back(std::move(node));
    kinds_.push_back(kind);
    heights_.push_back(height + 1);
    return static_cast<int>(sel_->Nodes.size()) - 1;
  }
  int Operator(LqmSelOp op, std::vector<int> kids, Kind kind, bool negated = false) {
    LqmSelNode n;
    n.Op = op;
    n.Kids = std::move(kids);
    n.Negated = negated;
    return Add(std::move(n), kind);
  }

  // condition := and { OR and }, and := not { AND not }: flat lists.
  int Logical(LqmSelOp op, Tok word, int (Parser::*operand)()) {
    int first = (this->*operand)();
    if (tok_.Kind != word) return first;
    std::vector<int> kids{first};
    while (!failed_ && Accept(word)) kids.push_back((this->*operand)());
    for (int kid : kids)
      if (!Boolish(kid)) return Fail();
    return Operator(op, kids, Kind::Bool);
  }
  int Condition() { return Logical(LqmSelOp::Or, Tok::Or, &Parser::Conjunction); }
  int Conjunction() { return Logical(LqmSelOp::And, Tok::And, &Parser::Negation); }

  int Negation() {
    if (!Accept(Tok::Not)) return Predicate();
    if (++depth_ > kMaxNesting) return Fail();
    int operand = Negation();
    --depth_;
    if (!Boolish(operand)) return Fail();
    return Operator(LqmSelOp::Not, {operand}, Kind::Bool);
  }

  int Predicate() {
    int left = Sum();
    if (failed_) return -1;
    static const struct {
      Tok T;
      LqmSelOp Op;
    } kCompare[] = {{Tok::Eq, LqmSelOp::Equal},  {Tok::Ne, LqmSelOp::NotEqual},
                    {Tok::Lt, LqmSelOp::Less},   {Tok::Gt, LqmSelOp::Greater},
                    {Tok::Le, LqmSelOp::LessEqual}, {Tok::Ge, LqmSelOp::GreaterEqual}};
    for (const auto& c : kCompare) {
      if (Accept(c.T)) return Operator(c.Op, {left, Sum()}, Kind::Bool);
    }
    if (Accept(Tok::Is)) {
      bool negated = Accept(Tok::Not);
      if (!Accept(Tok::Null) || !IsName(left)) return Fail();
      return Operator(LqmSelOp::IsNull, {left}, Kind::Bool, negated);
    }
    bool negated = Accept(Tok::Not);
    if (Accept(Tok::Between)) {
      int low = Sum();
      if (!Accept(Tok::And)) return Fail();
      int high = Sum();
      if (!Numeric(left) || !Numeric(low) || !Numeric(high)) return Fail();
      return Operator(LqmSelOp::Between, {left, low, high}, Kind::Bool, negated);
    }
    if (Accept(Tok::In)) return InList(left, negated);
    if (Accept(Tok::Like)) return LikePattern(left, negated);
    return negated ? Fail() : left;
  }

  bool IsName(int n) const { return n >= 0 && sel_->Nodes[n].Op == LqmSelOp::Name; }

  // An IN list holds literals: texts and (signed) numbers.
  int InList(int left, bool negated) {
    if (!IsName(left) || !Accept(Tok::Open)) return Fail();
    LqmSelNode n;
    n.Op = LqmSelOp::In;
    n.Negated = negated;
    n.Kids = {left};
    do {
      LqmSelValue v;
      Kind kind;
      bool minus = Accept(Tok::Minus);
      if (!minus) Accept(Tok::Plus);
      if (!LiteralOf(tok_, &v, &kind) || (kind != Kind::Text && kind != Kind::Number) ||
          (minus && (kind != Kind::Number || v.Int == INT64_MIN)))
        return Fail();
      if (minus) v.Int = -v.Int, v.Double = -v.Double;
      Advance();
      n.List.push_back(std::move(v));
    } while (Accept(Tok::Comma));
    if (!Accept(Tok::Close)) return Fail();
    return Add(std::move(n), Kind::Bool);
  }

  // LIKE 'pattern' [ESCAPE 'c']: an escape byte must quote %, _ or itself.
  int LikePattern(int left, bool negated) {
    if (!IsName(left) || tok_.Kind != Tok::Text) return Fail();
    LqmSelNode n;
    n.Op = LqmSelOp::Like;
    n.Negated = negated;
    n.Kids = {left};
    n.Value.Type = LqmSelType::String;
    n.Value.Text = tok_.Text;
    Advance();
    if (Accept(Tok::Escape)) {
      if (tok_.Kind != Tok::Text || tok_.Text.size() != 1) return Fail();
      n.Escape = static_cast<unsigned char>(tok_.Text[0]);
      Advance();
      const std::string& p = n.Value.Text;
      for (size_t i = 0; i < p.size(); ++i) {
        if (static_cast<unsigned char>(p[i]) != n.Escape) continue;
        if (i + 1 == p.size()) return Fail();
        char quoted = p[++i];
        if (quoted != '%' && quoted != '_' && static_cast<unsigned char>(quoted) != n.Escape)
          return Fail();
      }
    }
    return Add(std::move(n), Kind::Bool);
  }

  int Arithmetic(int (Parser::*operand)(), Tok plus, LqmSelOp plusOp, Tok minus,
                 LqmSelOp minusOp) {
    int left = (this->*operand)();
    for (;;) {
      LqmSelOp op;
      if (Accept(plus)) op = plusOp;
      else if (Accept(minus)) op = minusOp;
      else return left;
      int right = (this->*operand)();
      if (!Numeric(left) || !Numeric(right)) return Fail();
      left = Operator(op, {left, right}, Kind::Number);
      if (failed_) return -1;
    }
  }
  int Sum() {
    return Arithmetic(&Parser::Product, Tok::Plus, LqmSelOp::Add, Tok::Minus, LqmSelOp::Subtract);
  }
  int Product() {
    return Arithmetic(&Parser::Unary, Tok::Star, LqmSelOp::Multiply, Tok::Slash, LqmSelOp::Divide);
  }

  int Unary() {
    bool minus = tok_.Kind == Tok::Minus;
    if (!minus && tok_.Kind != Tok::Plus) return Primary();
    Advance();
    if (++depth_ > kMaxNesting) return Fail();
    int operand = Unary();
    --depth_;
    if (!Numeric(operand)) return Fail();
    return minus ? Operator(LqmSelOp::Negate, {operand}, Kind::Number) : operand;
  }

  int Primary() {
    if (tok_.Kind == Tok::Open) {
      Advance();
      if (++depth_ > kMaxNesting) return Fail();
      int inner = Condition();
      --depth_;
      if (!Accept(Tok::Close)) return Fail();
      return inner;
    }
    if (tok_.Kind == Tok::Name) return NameNode();
    LqmSelNode n;
    Kind kind;
    if (!LiteralOf(tok_, &n.Value, &kind)) return Fail();
    Advance();
    return Add(std::move(n), kind);
  }

  // Root.MQMD.<Field> must name a descriptor field; other names are
  // properties, looked up when a message is tested.
  int NameNode() {
    static const char kPrefix[] = "Root.MQMD.";
    LqmSelNode n;
    n.Op = LqmSelOp::Name;
    n.Name = tok_.Text;
    Advance();
    if (n.Name.compare(0, sizeof kPrefix - 1, kPrefix) == 0) {
      n.Field = LqmSelectorField(n.Name.substr(sizeof kPrefix - 1));
      if (n.Field < 0) return Fail();
    } else {
      sel_->UsesProperties = true;
    }
    return Add(std::move(n), Kind::Any);
  }

  Lexer lex_;
  Token tok_;
  LqmSelector* sel_;
  std::vector<Kind> kinds_;
  std::vector<int> heights_;
  int depth_ = 0;
  bool failed_ = false;
};

}  // namespace

int LqmSelectorParse(const char* text, size_t length, LqmSelector* out) {
  *out = LqmSelector{};
  if (text == nullptr) return length == 0 ? 0 : MQRC_SELECTOR_SYNTAX_ERROR;
  Parser parser(text, length, out);
  int rc = parser.Run();
  if (rc != 0 || out->Root < 0) {
    *out = LqmSelector{};
    return rc;
  }
  bool namesSomething = false;
  for (const LqmSelNode& n : out->Nodes) namesSomething |= n.Op == LqmSelOp::Name;
  if (!namesSomething) {
    // Decided before any message is seen: TRUE selects everything, and a
    // selector that can never be TRUE is refused as IBM MQ refuses it.
    LqmSelValue v = LqmSelectorEvaluate(*out, out->Root, nullptr, {});
    *out = LqmSelector{};
    if (v.Type != LqmSelType::Bool || !v.Bool) return MQRC_SELECTOR_ALWAYS_FALSE;
  }
  return 0;
}
