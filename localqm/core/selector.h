// localqm core: SQL92 message selectors, as given in the SelectionString of
// an MQOD on MQOPEN. A selector is parsed once when the queue is opened and
// then tested against each message the handle's gets and browses look at;
// a message it does not select is invisible to that handle.
//
// Grammar (keywords in any case, names case-sensitive):
//   condition  := and { OR and }
//   and        := not { AND not }
//   not        := NOT not | predicate
//   predicate  := sum [ ( = | <> | < | > | <= | >= ) sum
//                     | [NOT] BETWEEN sum AND sum
//                     | [NOT] IN ( literal { , literal } )
//                     | [NOT] LIKE 'pattern' [ ESCAPE 'c' ]
//                     | IS [NOT] NULL ]
//   sum        := product { ( + | - ) product }
//   product    := unary { ( * | / ) unary }
//   unary      := ( + | - ) unary | primary
//   primary    := literal | name | ( condition )
// Literals: 'text' ('' is a quote), "0x0AFC" byte strings, integers
// (decimal, 0x hex, leading-0 octal, optional L), decimals with a point or
// an exponent, TRUE, FALSE. Names: letters, digits, _ and $ in dotted
// parts; Root.MQMD.<Field> is a descriptor field (IBM's field names,
// StrucId and Version excepted), anything else a property of the
// message's MQRFH2 "usr" folder, a dotted name reaching into nested
// folders. LIKE, IN and IS NULL apply to a name only.
//
// Values follow SQL's three-valued logic: a missing property is NULL, any
// comparison or arithmetic with NULL is unknown, NOT unknown is unknown,
// FALSE AND unknown is FALSE, TRUE OR unknown is TRUE; a message is
// selected only when the whole selector is TRUE. Comparing values of
// different kinds (text with a number, say) is FALSE; text, booleans and
// byte strings compare only with = and <>. Integer arithmetic that
// overflows is carried on in floating point; division by zero is unknown.
// Descriptor text fields are compared without their trailing blanks.
#ifndef LOCALQM_CORE_SELECTOR_H_
#define LOCALQM_CORE_SELECTOR_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mqi/mqi.h"

enum class LqmSelType : uint8_t { Null, Bool, Int, Double, String, Bytes };

// One value: a literal, a property, or an intermediate result.
struct LqmSelValue {
  LqmSelType Type = LqmSelType::Null;
  bool Bool = false;
  int64_t Int = 0;
  double Double = 0;
  std::string Text;  // String (UTF-8) or Bytes
};

enum class LqmSelOp : uint8_t {
  Literal, Name,                 // leaves
  Negate, Add, Subtract, Multiply, Divide,
  Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual,
  And, Or, Not,                  // And and Or take two or more operands
  Between, In, Like, IsNull,     // Negated turns them into NOT BETWEEN ...
};

struct LqmSelNode {
  LqmSelOp Op = LqmSelOp::Literal;
  bool Negated = false;
  std::vector<int> Kids;         // operand node indexes
  LqmSelValue Value;             // Literal; the pattern of Like
  std::string Name;              // Name: the property name
  int Field = -1;                // Name: descriptor field index, -1 = property
  int Escape = -1;               // Like: the escape byte, -1 = none
  std::vector<LqmSelValue> List;  // In: the literals
};

// A parsed selector. Root -1 selects every message.
struct LqmSelector {
  std::vector<LqmSelNode> Nodes;
  int Root = -1;
  bool UsesProperties = false;   // some name is a usr-folder property
};

// One property of a message's usr folder: dotted name and typed value.
struct LqmSelProperty {
  std::string Name;
  LqmSelValue Value;
};

// The longest selection string IBM MQ accepts (MQ_SELECTOR_LENGTH).
constexpr size_t kLqmSelectorMaxLength = 10240;

// Parses `length` bytes of selector text into *out. A selector of blanks
// only selects everything. Returns 0; MQRC_SELECTOR_SYNTAX_ERROR (2459)
// for text that is not a selector (also: an unknown descriptor field,
// parentheses, NOT or signs nested more than 64 deep, a tree more than 256
// levels deep); MQRC_SELECTOR_ALWAYS_FALSE (2504) when the
// selector names no field or property and is not TRUE.
int LqmSelectorParse(const char* text, size_t length, LqmSelector* out);

// True when `sel` selects the message with descriptor `md` and data
// [data, data + length). Properties are read from the MQRFH2 headers at
// the front of the data only when the selector names one.
bool LqmSelectorMatches(const LqmSelector& sel, const MQMD& md, const unsigned char* data,
                        size_t length);

// The properties of the usr folders of the MQRFH2 headers chained at the
// front of the data (Format MQHRF2 in md, then in each header), in folder
// order. Headers that are cut short or malformed end the walk; a folder
// that is not well-formed contributes what was read before the fault.
// Typed by their dt attribute: i1, i2, i4, i8 and int are integers, r4
// and r8 floating point, boolean ("1"/"true"), bin.hex bytes, anything
// else text; xsi:nil="true" is NULL.
void LqmMessageProperties(const MQMD& md, const unsigned char* data, size_t length,
                          std::vector<LqmSelProperty>* out);

// Evaluates node `index` of `sel` (for tests and the constant check):
// descriptor fields from md (null: every name is NULL), properties from
// props.
LqmSelValue LqmSelectorEvaluate(const LqmSelector& sel, int index, const MQMD* md,
                                const std::vector<LqmSelProperty>& props);

// The descriptor field index of "Root.MQMD.<field>" names, -1 when unknown.
int LqmSelectorField(const std::string& field);

#endif  // LOCALQM_CORE_SELECTOR_H_
