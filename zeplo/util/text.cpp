// Hexadecimal conversion of identifiers, MQ name copies and
// case-insensitive comparison.
#include <cctype>
#include <cstring>

#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

int Lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }

}  // namespace

int BytesToHex(const void* in, int length, char* out, size_t outSize, int width) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (outSize == 0) return length > 0 ? 1 : 0;
  if (length < 0) length = 0;
  size_t field = width > 0 ? static_cast<size_t>(width) : static_cast<size_t>(length) * 2;
  int rc = 0;
  if (field > outSize - 1) {
    field = outSize - 1;
    rc = 1;
  }
  std::memset(out, ' ', field);
  out[field] = '\0';
  size_t fits = field / 2;
  size_t count = static_cast<size_t>(length);
  if (count > fits) {
    count = fits;
    rc = 1;
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(in);
  for (size_t i = 0; i < count; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return rc;
}

int HexToBytes(const char* text, int maxChars, void* out) {
  unsigned char* bytes = static_cast<unsigned char*>(out);
  int outLength = maxChars > 0 ? maxChars / 2 : 0;
  std::memset(bytes, 0, static_cast<size_t>(outLength));
  if (text == nullptr) return 0;
  // Only whole pairs within the maximum are read: the maximum is a hard
  // limit on the characters consumed.
  for (int i = 0; i + 2 <= maxChars && text[i] != '\0'; i += 2) {
    int high = HexDigitValue(static_cast<unsigned char>(text[i]));
    if (high < 0) return 1;
    int low = HexDigitValue(static_cast<unsigned char>(text[i + 1]));  // NUL here: a lone last digit
    if (low < 0) return 1;
    bytes[i / 2] = static_cast<unsigned char>(high * 16 + low);
  }
  return 0;
}

int CopyMqNameN(char* dst, size_t dstSize, const char* name, int fieldLength, int maxLength,
                int* length) {
  int limit = fieldLength;
  if (maxLength > 0 && maxLength < limit) limit = maxLength;
  if (limit < 0) limit = 0;
  int n = 0;
  while (name != nullptr && n < limit && name[n] != '\0' && name[n] != ' ') ++n;
  int rc = 0;
  if (dstSize == 0) {
    if (length != nullptr) *length = 0;
    return n > 0 ? 1 : 0;
  }
  if (static_cast<size_t>(n) > dstSize - 1) {
    n = static_cast<int>(dstSize - 1);
    rc = 1;
  }
  if (n > 0) std::memcpy(dst, name, static_cast<size_t>(n));
  dst[n] = '\0';
  if (length != nullptr) *length = n;
  return rc;
}

int SetMqFieldN(char* field, size_t fieldSize, const char* text) {
  size_t n = text != nullptr ? std::strlen(text) : 0;
  int rc = 0;
  if (n > fieldSize) {
    n = fieldSize;
    rc = 1;
  }
  if (n > 0) std::memcpy(field, text, n);
  std::memset(field + n, 0, fieldSize - n);
  return rc;
}

int CompareNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int d = Lower(*a) - Lower(*b);
    if (d != 0 || *a == '\0') return d;
  }
}

int CompareNoCaseN(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    int d = Lower(a[i]) - Lower(b[i]);
    if (d != 0 || a[i] == '\0') return d;
  }
  return 0;
}

const char* FindNoCase(const char* text, const char* needle) {
  return SearchNoCase(text, std::strlen(text), needle, std::strlen(needle));
}

const char* SearchNoCase(const char* buffer, size_t length, const char* needle,
                         size_t needleLength) {
  if (needleLength == 0) return buffer;
  if (needleLength > length) return nullptr;
  for (size_t start = 0; start + needleLength <= length; ++start) {
    size_t i = 0;
    while (i < needleLength && Lower(buffer[start + i]) == Lower(needle[i])) ++i;
    if (i == needleLength) return buffer + start;
  }
  return nullptr;
}
