// The password reading loop: stars, erasing and the length limit. (The
// prompt on a real terminal, and the terminal put back after a signal, are
// the end-to-end tests'.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "zeplo/mq/mq.h"

namespace {

TEST(ReadMaskedLineTest, StarsErasesAndLimits) {
  struct MaskedCase { std::string input; size_t size; std::string password, echo; };
  const MaskedCase cases[] = {
      {"secret\n", 200, "secret", "******"},
      {"ab\x7f" "c\n", 200, "ac", "**\b \b*"},
      {"\x08\x7fxy\n", 200, "xy", "**"},  // erasing nothing does nothing
      {"x\x08\x08y\n", 200, "y", "*\b \b*"},
      {"abc", 200, "abc", "***"},  // end of input ends the password
      {"\n", 200, "", ""},
      {"a\nb\n", 200, "a", "*"},  // reading stops at the newline
      {"abcdef\n", 4, "abc", "***"},  // full buffer: cut, terminated
      {"abc\n", 1, "", ""},
      {std::string(300, 'p') + "\n", kPasswordBufferSize, std::string(199, 'p'),
       std::string(199, '*')},
  };
  for (const MaskedCase& c : cases) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    ASSERT_EQ(static_cast<ssize_t>(c.input.size()), write(fds[1], c.input.data(), c.input.size()));
    close(fds[1]);
    char* echoText = nullptr;
    size_t echoSize = 0;
    FILE* echo = open_memstream(&echoText, &echoSize);
    std::unique_ptr<char[]> buffer(new char[c.size + 1]);
    buffer[c.size] = 0x5A;  // guard byte just past the buffer
    size_t stored = ReadMaskedLine(fds[0], echo, buffer.get(), c.size);
    std::fclose(echo);
    close(fds[0]);
    EXPECT_EQ(c.password, std::string(buffer.get())) << c.input;
    EXPECT_EQ(c.password.size(), stored);
    EXPECT_EQ(c.echo, std::string(echoText, echoSize)) << c.input;
    EXPECT_EQ(0x5A, buffer[c.size]) << "wrote past the buffer";
    std::free(echoText);
  }
}

}  // namespace
