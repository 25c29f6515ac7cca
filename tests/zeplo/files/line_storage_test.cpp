// The input line reader: lines handed on as they arrive from a pipe, and a
// read error never taken for the end of the input.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/zeplo/files/files_test_util.h"
#include "tests/zeplo/test_run.h"

namespace {

TEST(LineStorageTest, PipeLinesArriveWithoutWaitingForMore) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  TextInput in("");
  std::fclose(in.opts->Files.InputStream);
  TestRun* opts = in.opts.get();
  opts->Files.InputStream = fdopen(fds[0], "r");
  std::atomic<bool> gotMessage{false}, closedEarly{false};
  std::thread feeder([&] {
    const char first[] = "* ZEPLO\n\nN\nX 41\n\n";
    EXPECT_EQ(static_cast<ssize_t>(sizeof first - 1), write(fds[1], first, sizeof first - 1));
    // A reader that waited for a full block would never get the message
    // before the pipe closes.
    for (int i = 0; i < 500 && !gotMessage; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    closedEarly = !gotMessage;
    const char second[] = "N\nX 42\n";
    EXPECT_EQ(static_cast<ssize_t>(sizeof second - 1), write(fds[1], second, sizeof second - 1));
    close(fds[1]);
  });
  bool listing = false, empty = false, eof = false;
  ASSERT_EQ(0, PrepareMessageFile(opts, &listing, &empty));
  EXPECT_STREQ("N", opts->Files.InputLines->Text);
  // "X 41" is the last line the feeder has sent so far.
  ASSERT_EQ(0, ReadLine(opts, true, &eof, false));
  EXPECT_STREQ("X 41", opts->Files.InputLines->Text);
  gotMessage = true;
  feeder.join();
  EXPECT_FALSE(closedEarly);
  std::vector<std::string> rest;
  while (ReadLine(opts, true, &eof, false) == 0 && !eof)
    rest.push_back(opts->Files.InputLines->Text);
  EXPECT_EQ((std::vector<std::string>{"N", "X 42"}), rest);
}

}  // namespace

// A read that fails (a bad block, a file system gone away) ends the
// read with its error, never as an end of file.
TEST(LineStorageTest, AReadErrorIsNeverTakenForTheEnd) {
  static std::string left;
  left = "N\nX 41\n";
  cookie_io_functions_t failing = {};
  failing.read = [](void*, char* buf, size_t size) -> ssize_t {
    size_t n = std::min(size, left.size());
    std::memcpy(buf, left.data(), n);
    left.erase(0, n);
    errno = EIO;
    return n > 0 ? static_cast<ssize_t>(n) : -1;
  };
  TextInput in("");
  std::fclose(in.opts->Files.InputStream);
  in.opts->Files.InputStream = fopencookie(nullptr, "r", failing);
  bool eof = false;
  int rc = 0;
  for (int n = 0; rc == 0 && !eof && n < 5; ++n) rc = ReadLine(in.opts.get(), true, &eof, false);
  EXPECT_EQ(2208, rc);
  EXPECT_STREQ("Error reading file 'in.zpd' after line 2 RC(5)", in.opts->ExitMessage);
}
