// The input line reader over regular files and pipes: whole lines of any
// length and content, the storage growth the -Vm trace shows, lines handed
// on as they arrive from a pipe, and a rewound stream read afresh.
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

enum StreamKind { kRegular, kPipe };

// An input stream holding `text`, as a regular file or as a pipe fed by
// a thread that the destructor joins.
struct Input : TextInput {
  std::thread feeder;
  Input(const std::string& text, StreamKind kind) : TextInput(kind == kRegular ? text : "") {
    int fds[2];
    if (kind == kRegular || pipe(fds) != 0) return;
    std::fclose(opts->Files.InputStream);
    opts->Files.InputStream = fdopen(fds[0], "r");
    feeder = std::thread([text, fd = fds[1]] {
      size_t done = 0;
      while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      close(fd);
    });
  }
  ~Input() {
    if (feeder.joinable()) feeder.join();
  }
  // Every physical line as read (raw), then "<eof>".
  std::vector<std::string> RawLines() {
    std::vector<std::string> lines;
    bool eof = false;
    while (lines.size() < 100) {
      if (ReadLine(opts.get(), true, &eof, true) != 0) return {"<error>"};
      if (eof) break;
      lines.emplace_back(opts->Files.InputLines->Text, opts->Files.InputLines->Length);
    }
    lines.emplace_back("<eof>");
    return lines;
  }
};

TEST(LineStorageTest, LinesComeBackWholeFromFilesAndPipes) {
  const std::string longA(65530, 'a');  // ends just short of the first block
  const std::string longC(200000, 'c');
  const struct {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"empty", "", {"<eof>"}},
      {"line ends kept", "a\nbb\r\n\nccc", {"a\n", "bb\r\n", "\n", "ccc", "<eof>"}},
      {"NULs inside lines",
       std::string("x\0y\n\0\nz\0", 8),
       {std::string("x\0y\n", 4), std::string("\0\n", 2), std::string("z\0", 2), "<eof>"}},
      {"across the block end",
       longA + "\n" + std::string(20, 'b') + "\nq\n",
       {longA + "\n", std::string(20, 'b') + "\n", "q\n", "<eof>"}},
      {"longer than a block, unterminated", "s\n" + longC, {"s\n", longC, "<eof>"}},
  };
  for (StreamKind kind : {kRegular, kPipe}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (kind == kPipe ? " (pipe)" : " (file)"));
      Input in(c.text, kind);
      ASSERT_NE(nullptr, in.opts->Files.InputStream);
      EXPECT_EQ(c.lines, in.RawLines());
      EXPECT_EQ(static_cast<int64_t>(c.text.size()), in.opts->Files.InputFileBytes);
      EXPECT_EQ(static_cast<int64_t>(c.lines.size() - 1), in.opts->Files.InputLines->LineNumber);
    }
  }
}

TEST(LineStorageTest, StorageGrowsByDoublingOnlyWhenALineNeedsIt) {
  // A line and its terminating NUL must fit; a last line without a line
  // end takes one byte more.
  const struct {
    int32_t length;
    bool terminated;
    int32_t capacity;
  } cases[] = {
      {0, true, 1024},    {990, true, 1024},   {1022, true, 1024},
      {1023, true, 2048}, {1022, false, 1024}, {1023, false, 2048},
      {2046, true, 2048}, {2047, true, 4096},  {5000, false, 8192},
  };
  for (const auto& c : cases) {
    std::string line(static_cast<size_t>(c.length), 'x');
    if (c.terminated) line += '\n';
    Input in(line + (c.terminated ? "more\n" : ""), kRegular);
    bool eof = false;
    ASSERT_EQ(0, ReadLine(in.opts.get(), true, &eof, true));
    EXPECT_EQ(static_cast<int32_t>(line.size()), in.opts->Files.InputLines->Length) << c.length;
    EXPECT_EQ(c.capacity, in.opts->Files.InputLines->Capacity)
        << c.length << (c.terminated ? " with" : " without") << " a line end";
  }
}

TEST(LineStorageTest, PipeLinesArriveWithoutWaitingForMore) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  auto opts = NewOptions();
  opts->Files.InputStream = fdopen(fds[0], "r");
  std::atomic<bool> gotMessage{false};
  std::atomic<bool> closedEarly{false};
  std::thread feeder([&] {
    const char first[] = "* ZEPLO\n\nN\nX 41\n\n";
    EXPECT_EQ(static_cast<ssize_t>(sizeof first - 1), write(fds[1], first, sizeof first - 1));
    // A reader that waited for a full block would never get the message
    // before the pipe closes.
    for (int i = 0; i < 500 && !gotMessage; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    closedEarly = !gotMessage;
    const char second[] = "N\nX 42\n";
    EXPECT_EQ(static_cast<ssize_t>(sizeof second - 1), write(fds[1], second, sizeof second - 1));
    close(fds[1]);
  });
  bool listing = false, empty = false, eof = false;
  ASSERT_EQ(0, PrepareMessageFile(opts.get(), &listing, &empty));
  EXPECT_STREQ("N", opts->Files.InputLines->Text);
  // "X 41" is the last line the feeder has sent so far.
  ASSERT_EQ(0, ReadLine(opts.get(), true, &eof, false));
  EXPECT_STREQ("X 41", opts->Files.InputLines->Text);
  gotMessage = true;
  feeder.join();
  EXPECT_FALSE(closedEarly);
  std::vector<std::string> rest;
  while (ReadLine(opts.get(), true, &eof, false) == 0 && !eof)
    rest.push_back(opts->Files.InputLines->Text);
  EXPECT_EQ((std::vector<std::string>{"N", "X 42"}), rest);
  ReleaseLineStorage(opts.get());
  std::fclose(opts->Files.InputStream);
}

TEST(LineStorageTest, ARewoundStreamIsReadAfresh) {
  Input in("* ZEPLO\none\ntwo\nthree\n", kRegular);
  bool eof = false;
  TestRun* opts = in.opts.get();
  for (const char* expected : {"one", "two"}) {
    ASSERT_EQ(0, ReadLine(opts, true, &eof, false));
    ASSERT_STREQ(expected, opts->Files.InputLines->Text);
  }
  std::rewind(opts->Files.InputStream);
  opts->Files.InputFileBytes = 0;  // as whoever rewinds it does
  ASSERT_EQ(0, ReadLine(opts, true, &eof, false));
  EXPECT_STREQ("one", opts->Files.InputLines->Text);  // "* ZEPLO" is a comment line
  EXPECT_EQ(2, opts->Files.InputLines->LineNumber);
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
