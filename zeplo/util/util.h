// zeplo/util: small pure helpers shared by every subsystem.
//
// Code-page translation (the fixed EBCDIC/ASCII tables used for EBCDIC
// search strings and for showing EBCDIC data), quantities with unit tables,
// durations, MQ put date/time conversions, hexadecimal conversion, MQ name
// copies and case-insensitive comparisons.
//
// None of these keeps state or allocates memory. Every output goes into a
// buffer the caller supplies; procedures that take a buffer size never write
// past it and always terminate text outputs (unless a procedure says its
// output is a fixed, unterminated MQ field).
#ifndef ZEPLO_UTIL_UTIL_H_
#define ZEPLO_UTIL_UTIL_H_

#include <array>
#include <cstddef>
#include <cstdint>

// ---- Code pages --------------------------------------------------------

// 256-entry tables indexed by the source byte. Untranslatable bytes become
// the substitute: ASCII '.' (0x2E) or EBCDIC full stop (0x4B). The two
// tables are not inverses of each other; they are used as they stand.
extern const std::array<unsigned char, 256> EbcdicToAsciiTable;
extern const std::array<unsigned char, 256> AsciiToEbcdicTable;

// Translates `length` bytes of `in` into `out` (the same buffer is fine).
// Returns how many result bytes are not the substitute character. A
// negative length translates nothing and returns 0.
int EbcdicToAscii(unsigned char* out, const unsigned char* in, int length);
int AsciiToEbcdic(unsigned char* out, const unsigned char* in, int length);

// True for a coded character set identifier of an EBCDIC code page (a
// fixed list of IBM's EBCDIC CCSIDs; 0 and unknown values are not).
bool IsEbcdicCcsid(int32_t ccsid);

// ---- Byte order of message data ------------------------------------------

// Reads or writes the 32-bit integer at `p` (4 bytes) in the byte order that
// the MQ `encoding` gives: big-endian when its integer part is
// MQENC_INTEGER_NORMAL, otherwise little-endian (reversed, and undefined
// taken as this platform's own).
int32_t ReadEncodedInt32(const unsigned char* p, int32_t encoding);
void WriteEncodedInt32(unsigned char* p, int32_t value, int32_t encoding);

// `value` with its four bytes in the opposite order.
int32_t SwapInt32(int32_t value);

// ---- Quantities ----------------------------------------------------------

// One unit of a unit table. Tables are ordered largest unit first and end
// with an entry whose Divisor is 0. Plural, when not null, replaces the
// name + "s" form.
struct UnitEntry {
  int32_t Divisor;
  const char* LongName;
  const char* ShortName;
  const char* Plural;
};

extern const UnitEntry TimeUnitsCs[];     // centiseconds: Week .. Sec
extern const UnitEntry TimeUnitsSec[];    // seconds: Week .. Sec
extern const UnitEntry SizeUnits[];       // bytes: GB, MB, KB, byte
extern const UnitEntry LargeSizeUnits[];  // megabytes: PB, TB, GB, MB

enum QuantityFlags : int {
  kQuantityCompound = 1,     // several units: "1 Day 1 Hr 1 Min 1 Sec "
  kQuantityShortNames = 2,   // ShortName instead of LongName
  kQuantityPlusSign = 4,     // "+" before a non-negative value
  kQuantityTwoDecimals = 8,  // single-unit form: "%.2f" instead of "%.1f"
  kQuantityFraction = 16,    // compound form: last unit as "%.2f"
};

// Room that is always enough for FormatQuantity and FormatDuration.
enum : int { kQuantityTextSize = 160 };

// Writes `value` with units from `table` into `out` (`outSize` bytes,
// terminated), always ending with a blank: 1536 bytes in SizeUnits gives
// "1.5 KBs ", with flags 3 "1 KB 512 bytes ". Returns 0, or 1 when `out` was
// too small and the text was cut (still terminated). REQUIRES: table ends
// with a zero Divisor and has at least one other entry.
int FormatQuantity(int64_t value, char* out, size_t outSize, const UnitEntry* table, int flags);
template <size_t N>
int FormatQuantity(int64_t value, char (&out)[N], const UnitEntry* table, int flags) {
  return FormatQuantity(value, out, N, table, flags);
}

// Writes a duration of `seconds` as years (365 days), weeks, days, hours,
// minutes and seconds, non-zero parts only, one blank between them:
// "1 minute 1 second" or, in the short form, "1m 1s". Zero is "0 seconds" /
// "0s"; a negative duration gets a leading '-'. No trailing blank.
// Returns 0, or 1 when `out` was too small (text cut, still terminated).
int FormatDuration(char* out, size_t outSize, int64_t seconds, bool shortForm);
template <size_t N>
int FormatDuration(char (&out)[N], int64_t seconds, bool shortForm) {
  return FormatDuration(out, N, seconds, shortForm);
}

// ---- Count lines ---------------------------------------------------------

// Copies a number's text with a comma before every third digit from the
// right (digits counted only); leading blanks of a right-aligned text are kept (e.g. "   1234567"
// becomes "   1,234,567"). Returns the length written; out is always
// terminated (truncated to size - 1).
int GroupThousands(const char* text, char* out, size_t size);

// One final-report count line, newline included: "Read", "Written" with a
// file count (files >= 0), or "Counted" without one (files < 0). Returns
// the length; out is always terminated.
int FormatCountLine(const char* label, int32_t files, int64_t messages, uint64_t bytes, char* out,
                    size_t size);

// ---- MQ date and time ----------------------------------------------------

// `date` is YYYYMMDD (8 characters), `time` the first 6 characters HHMMSS of
// an MQ put time. Returns seconds since the epoch taking the fields as UTC
// (MqDateTimeToEpoch) or as local time with the system's daylight saving
// (MqDateTimeToEpochLocal). Returns -1 when either pointer is null or a
// character is not a digit (blank put dates included).
int64_t MqDateTimeToEpoch(const char* date, const char* time);
int64_t MqDateTimeToEpochLocal(const char* date, const char* time);

// As MqDateTimeToEpoch but reads all 8 time characters HHMMSSTH. Sets
// *seconds and *centiseconds (seconds * 100 + hundredths) and returns 0; on
// a missing or unreadable string sets them to -1 and 0 and returns 1.
int MqDateTimeToEpochCs(const char* date, const char* time, int64_t* seconds,
                        int64_t* centiseconds);

// Formats `*when` (the current time when `when` is null) as the MQ put date
// YYYYMMDD into date[0..7] and put time HHMMSS00 into time[0..7], in UTC
// when `utc` is set, else local time. The outputs are NOT terminated
// (they are MQMD PutDate/PutTime fields). Returns the epoch time used.
int64_t EpochToMqDateTime(const int64_t* when, char* date, char* time, bool utc);

// The current time of day in seconds and in centiseconds since the epoch
// (seconds * 100 + microseconds / 10000). Either pointer may be null.
void NowCs(int64_t* seconds, int64_t* centiseconds);

// ---- Hexadecimal -----------------------------------------------------------

// Writes two upper-case hex digits per byte of `in`. The field is first
// filled with blanks to `width` characters (2 * length when width is 0) and
// terminated there, so short data is followed by blanks; the field is
// limited to outSize - 1. Returns 0, or 1 when not every byte fit (only
// whole bytes are written).
int BytesToHex(const void* in, int length, char* out, size_t outSize, int width);
template <size_t N>
int BytesToHex(const void* in, int length, char (&out)[N], int width) {
  return BytesToHex(in, length, out, N, width);
}

// The value of one hex digit of either case, -1 for any other character.
// The one digit rule of every hex reader (constexpr, so that a reader may
// build its lookup tables from it at compile time).
constexpr int HexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads pairs of hex digits (either case) from the NUL-terminated `text`
// until it ends or `maxChars` characters are consumed, one byte per pair,
// into `out`, which is maxChars / 2 bytes long; the bytes not written are
// zeroed. Returns 0, or 1 at the first character that is not a hex digit
// (a lone last digit included); the bytes before it stay written.
int HexToBytes(const char* text, int maxChars, void* out);

// ---- MQ names ------------------------------------------------------------

// Copies a fixed-length MQ name field (blank or NUL padded, not necessarily
// terminated) up to its first blank or NUL, reading at most `fieldLength`
// characters (at most `maxLength` when that is non-zero and smaller), into
// `dst` and terminates it. *length (optional) gets the copied length.
// Returns 0, or 1 when the name did not fit in dst and was cut.
int CopyMqNameN(char* dst, size_t dstSize, const char* name, int fieldLength, int maxLength,
                int* length);
template <size_t N>
int CopyMqName(char (&dst)[N], const char* name, int fieldLength, int maxLength = 0,
               int* length = nullptr) {
  return CopyMqNameN(dst, N, name, fieldLength, maxLength, length);
}

// Fills a fixed MQ character field (MQCHAR48 and the like, no terminator)
// from a C string: the text, then NULs to the end of the field. Returns 0,
// or 1 when the text was longer than the field and was cut.
int SetMqFieldN(char* field, size_t fieldSize, const char* text);
template <size_t N>
int SetMqField(char (&field)[N], const char* text) {
  return SetMqFieldN(field, N, text);
}

// ---- Case-insensitive comparison ---------------------------------------

// Compares NUL-terminated strings ignoring ASCII case: negative, zero or
// positive. CompareNoCaseN compares at most n characters (stopping at a
// terminator as strncmp does).
int CompareNoCase(const char* a, const char* b);
int CompareNoCaseN(const char* a, const char* b, size_t n);

// First position of `needle` in the NUL-terminated `text`, ignoring case, or
// null. An empty needle matches at the start.
const char* FindNoCase(const char* text, const char* needle);

// First position of `needle` (needleLength bytes) in `buffer` (length
// bytes), ignoring case, or null. An empty needle matches at the start; a
// match always lies wholly inside the buffer. Neither needs a terminator.
const char* SearchNoCase(const char* buffer, size_t length, const char* needle,
                         size_t needleLength);

#endif  // ZEPLO_UTIL_UTIL_H_
