// The fixed EBCDIC/ASCII translation: EBCDIC search strings are made with
// AsciiToEbcdic and shown again through EbcdicToAscii. Only printable
// characters of code page 037 (and a few look-alikes) translate; everything
// else becomes the substitute full stop of the target code page.
#include <array>

#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr unsigned char kAsciiSubstitute = 0x2E;   // '.'
constexpr unsigned char kEbcdicSubstitute = 0x4B;  // EBCDIC '.'

struct Pair {
  unsigned char From;
  unsigned char To;
};

// EBCDIC punctuation that reads as ASCII. 4A/6A and BA/BB are the code
// page's cent, broken bar and bracket positions shown as their look-alikes.
constexpr Pair kEbcdicPunctuation[] = {
    {0x40, ' '},  {0x4A, '$'},  {0x4C, '<'},  {0x4D, '('}, {0x4E, '+'}, {0x4F, '|'}, {0x50, '&'},
    {0x5A, '!'},  {0x5B, 0x9C}, {0x5C, '*'},  {0x5D, ')'}, {0x5E, ';'}, {0x60, '-'}, {0x61, '/'},
    {0x6A, 0xDD}, {0x6B, ','},  {0x6C, '%'},  {0x6D, '_'}, {0x6E, '>'}, {0x6F, '?'}, {0x7A, ':'},
    {0x7B, '#'},  {0x7C, '@'},  {0x7D, '\''}, {0x7E, '='}, {0x7F, '"'}, {0x8B, '{'}, {0x8D, '('},
    {0x8E, '+'},  {0x9B, '}'},  {0x9D, ')'},  {0xA1, '~'}, {0xBA, '['}, {0xBB, ']'}, {0xBF, '-'},
    {0xC0, '{'},  {0xD0, '}'},
};

constexpr Pair kAsciiPunctuation[] = {
    {0x0A, 0x15}, {0x0D, 0x0D}, {' ', 0x40},  {'!', 0x5A}, {'"', 0x7F},  {'#', 0x7B},  {'$', 0x5B},
    {'%', 0x6C},  {'&', 0x50},  {'\'', 0x7D}, {'(', 0x4D}, {')', 0x5D},  {'*', 0x5C},  {'+', 0x4E},
    {',', 0x6B},  {'-', 0x60},  {'/', 0x61},  {':', 0x7A}, {';', 0x5E},  {'<', 0x4C},  {'=', 0x7E},
    {'>', 0x6E},  {'?', 0x6F},  {'@', 0x7C},  {'[', 0xAD}, {'\\', 0xE0}, {']', 0xBD},  {'_', 0x6D},
    {'{', 0xC0},  {'|', 0x4F},  {'}', 0xD0},  {'~', 0xA1}, {0x9C, 0x5B}, {0xDD, 0x6A},
};

// Letter and digit runs of code page 037: EBCDIC start, ASCII start, count.
struct Run {
  unsigned char Ebcdic;
  unsigned char Ascii;
  int Count;
};
constexpr Run kAlphanumericRuns[] = {
    {0x81, 'a', 9}, {0x91, 'j', 9}, {0xA2, 's', 8},  {0xC1, 'A', 9},
    {0xD1, 'J', 9}, {0xE2, 'S', 8}, {0xF0, '0', 10},
};

constexpr std::array<unsigned char, 256> BuildEbcdicToAscii() {
  std::array<unsigned char, 256> table{};
  for (auto& byte : table) byte = kAsciiSubstitute;
  for (const Pair& p : kEbcdicPunctuation) table[p.From] = p.To;
  for (const Run& r : kAlphanumericRuns)
    for (int i = 0; i < r.Count; ++i) table[r.Ebcdic + i] = static_cast<unsigned char>(r.Ascii + i);
  return table;
}

constexpr std::array<unsigned char, 256> BuildAsciiToEbcdic() {
  std::array<unsigned char, 256> table{};
  for (auto& byte : table) byte = kEbcdicSubstitute;
  for (const Pair& p : kAsciiPunctuation) table[p.From] = p.To;
  for (const Run& r : kAlphanumericRuns)
    for (int i = 0; i < r.Count; ++i) table[r.Ascii + i] = static_cast<unsigned char>(r.Ebcdic + i);
  return table;
}

int Translate(const unsigned char* table, unsigned char substitute, unsigned char* out,
              const unsigned char* in, int length) {
  int translated = 0;
  for (int i = 0; i < length; ++i) {
    out[i] = table[in[i]];
    if (out[i] != substitute) ++translated;
  }
  return translated;
}

// Coded character sets treated as EBCDIC, ascending; ranges written out.
constexpr int32_t kEbcdicCcsids[] = {
    37,    256,   273,   277,   278,   280,   284,   285,   286,   290,   297,   300,   420,
    421,   424,   425,   500,   803,   833,   834,   835,   836,   837,   838,   870,   871,
    875,   880,   918,   924,   930,   931,   933,   935,   937,   939,   1025,  1026,  1027,
    1047,  1097,  1112,  1122,  1123,  1130,  1132,  1137,  1140,  1141,  1142,  1143,  1144,
    1145,  1146,  1147,  1148,  1149,  1279,  1364,  1388,  1390,  1399,  4133,  4325,  4369,
    4370,  4371,  4372,  4373,  4374,  4376,  4378,  4380,  4381,  4386,  4393,  4396,  4516,
    4520,  4596,  4899,  4929,  4931,  4932,  4933,  4934,  4966,  4967,  4971,  4976,  5014,
    5026,  5029,  5031,  5033,  5035,  5123,  5143,  5484,  8229,  8448,  8478,  8482,  8489,
    8492,  8612,  8692,  9025,  9026,  9028,  9030,  9122,  9125,  9127,  9131,  12325, 12544,
    12588, 12712, 12788, 13218, 13219, 13221, 13223, 16421, 16684, 16884, 17314, 20517, 20980,
    24613, 25076, 29172, 32805, 33058, 33268, 33698, 33699, 37364, 41460, 45556, 49652, 53748,
    61696, 61711, 61712};
static_assert(sizeof kEbcdicCcsids / sizeof kEbcdicCcsids[0] == 146);

}  // namespace

// Built at compile time (constinit): ready before any code runs.
constinit const std::array<unsigned char, 256> EbcdicToAsciiTable = BuildEbcdicToAscii();
constinit const std::array<unsigned char, 256> AsciiToEbcdicTable = BuildAsciiToEbcdic();

int EbcdicToAscii(unsigned char* out, const unsigned char* in, int length) {
  return Translate(EbcdicToAsciiTable.data(), kAsciiSubstitute, out, in, length);
}

int AsciiToEbcdic(unsigned char* out, const unsigned char* in, int length) {
  return Translate(AsciiToEbcdicTable.data(), kEbcdicSubstitute, out, in, length);
}

bool IsEbcdicCcsid(int32_t ccsid) {
  size_t lo = 0;
  size_t hi = sizeof kEbcdicCcsids / sizeof kEbcdicCcsids[0];
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (kEbcdicCcsids[mid] == ccsid) return true;
    if (kEbcdicCcsids[mid] < ccsid)
      lo = mid + 1;
    else
      hi = mid;
  }
  return false;
}
