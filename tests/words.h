// Splits a text at its spaces: the compact form in which test tables write
// a command line's arguments (none of which holds a space) or a row's
// "name=value" fields. Shared by the unit and the end-to-end tests.
#ifndef ZEPLO_TESTS_WORDS_H_
#define ZEPLO_TESTS_WORDS_H_

#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

#endif  // ZEPLO_TESTS_WORDS_H_
