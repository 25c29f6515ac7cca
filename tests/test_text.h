// Text helpers shared by the unit and the end-to-end tests.
#ifndef ZEPLO_TESTS_TEST_TEXT_H_
#define ZEPLO_TESTS_TEST_TEXT_H_

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

// Splits a text at its spaces: the compact form in which test tables write
// a command line's arguments (none of which holds a space) or a row's
// "name=value" fields.
inline std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Bytes as upper-case hex digits, two per byte.
inline std::string Hex(const void* data, size_t length) {
  std::string hex;
  for (size_t i = 0; i < length; i++) {
    unsigned char c = static_cast<const unsigned char*>(data)[i];
    hex += "0123456789ABCDEF"[c >> 4];
    hex += "0123456789ABCDEF"[c & 15];
  }
  return hex;
}
inline std::string Hex(const std::string& bytes) { return Hex(bytes.data(), bytes.size()); }

#endif  // ZEPLO_TESTS_TEST_TEXT_H_
