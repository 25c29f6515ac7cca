// The delimited reader against a plain memchr line splitter over the same
// file of 1 KB lines. Both read the file from the page cache in large
// blocks; the splitter only finds each line end, the reader also makes
// each line a message (descriptor, bounds, bracket check). Times are the
// process's CPU seconds (user and system) of each pass, best of several:
// on a shared machine the wall clock mostly measures the neighbours. The
// target is a ratio of 1.5 or better.
//
//   delimited_bench [megabytes]     (default 1024: a 1 GB file)
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"

namespace {

constexpr int kRounds = 7;
constexpr int kLineLength = 1024;  // with its LF
constexpr double kDelimitedTarget = 1.5;

// Lines of order-like text (no brackets, as in most plain data files),
// each different in its first bytes.
std::FILE* WriteLines(long lines) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::string line;
  for (int i = 0; static_cast<int>(line.size()) < kLineLength - 1; ++i)
    line += "order=" + std::to_string(i * 7919 % 100000) + ";item=widget;qty=3;";
  line.resize(kLineLength - 1);
  line += '\n';
  for (long i = 0; i < lines; ++i) {
    char number[24];
    std::snprintf(number, sizeof number, "%012ld", i);
    std::memcpy(&line[0], number, 12);
    if (std::fwrite(line.data(), 1, line.size(), f) != line.size()) return nullptr;
  }
  std::fflush(f);
  return f;
}

// CPU seconds this process has used, user and system.
double CpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The baseline: 1 MB blocks, every line end found with memchr, a partial
// line carried to the next block.
double Splitter(std::FILE* in, long* lines, long* bytes) {
  std::vector<char> block(1 << 20);
  std::rewind(in);
  double start = CpuSeconds();
  *lines = *bytes = 0;
  size_t carry = 0, got;
  while ((got = std::fread(block.data() + carry, 1, block.size() - carry, in)) > 0) {
    const char* p = block.data();
    const char* end = p + carry + got;
    for (const char* nl; (nl = static_cast<const char*>(std::memchr(p, '\n', end - p))) != nullptr;
         p = nl + 1) {
      ++*lines;
      *bytes += nl - p;
    }
    carry = static_cast<size_t>(end - p);
    std::memmove(block.data(), p, carry);
  }
  return CpuSeconds() - start;
}

double Reader(std::FILE* in, long* lines, long* bytes, int* rc) {
  auto opts = std::make_unique<TestRun>();
  opts->Files.InputStream = in;
  opts->Parsed.NonNative = true;
  opts->Parsed.Context = ContextMode::Default;
  std::snprintf(opts->Files.CurrentInputFile, sizeof(opts->Files.CurrentInputFile), "bench.txt");
  std::rewind(in);
  double start = CpuSeconds();
  *lines = *bytes = 0;
  *rc = CheckDelimiters(opts.get());
  while (*rc == 0) {
    *rc = ReadDelimitedMessage(opts.get());
    if (*rc != 0 || opts->StopRequested) break;
    ++*lines;
    *bytes += opts->Message.DataLength;
  }
  double seconds = CpuSeconds() - start;
  ReleaseDelimitedFile(opts.get());
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  long megabytes = argc > 1 ? std::atol(argv[1]) : 1024;
  long lines = megabytes * 1024;
  std::FILE* file = WriteLines(lines);
  if (file == nullptr) {
    std::fprintf(stderr, "could not write the test file\n");
    return 1;
  }
  double splitter = kBenchNoTime, reader = kBenchNoTime;
  long splitLines = 0, splitBytes = 0, readLines = 0, readBytes = 0;
  int rc = 0;
  for (int round = 0; round < kRounds && rc == 0; ++round) {
    BenchKeepBest(&splitter, Splitter(file, &splitLines, &splitBytes));
    BenchKeepBest(&reader, Reader(file, &readLines, &readBytes, &rc));
  }
  std::fclose(file);
  if (rc != 0 || readLines != lines || splitLines != lines || readBytes != splitBytes) {
    std::fprintf(stderr, "reader: %ld lines (%ld bytes), splitter %ld (%ld), rc %d\n", readLines,
                 readBytes, splitLines, splitBytes, rc);
    return 1;
  }
  double ratio = reader / splitter;
  std::printf("delimited reader, %ld MB of %d-byte lines: reader %.3f s, memchr splitter %.3f s"
              " (CPU), ratio %.2f %s\n",
              megabytes, kLineLength, reader, splitter, ratio,
              ratio <= kDelimitedTarget ? "(within target)" : "(TARGET MISSED)");
  return 0;
}
