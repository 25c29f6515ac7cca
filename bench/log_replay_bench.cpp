// The formatted-log reader against a plain line loop over the same text.
// The text is what localqm's formatter prints for a log of put records
// (messages of mixed sizes, the larger ones in parts); the reader rebuilds
// every message, the baseline only reads the lines. Both read a file of
// the page cache. The reader decodes the hex dumps, so the target is 3x.
//
//   log_replay_bench [records]      (default 20000)
//
// The reader's progress line goes to standard error: send it to /dev/null
// for figures that do not include a terminal's drawing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "localqm/log/log.h"
#include "zeplo/cs/cs.h"
#include "zeplo/logreplay/logreplay.h"

namespace {

constexpr double kLogTarget = 3.0;

// Writes a log of at least `records` put records to `path`; returns the
// number of messages in it, or -1.
int WriteLog(const char* path, int records) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return -1;
  const size_t sizes[] = {100, 600, 2000, 9000};  // the last in three records
  MQMD md = {MQMD_DEFAULT};
  md.Persistence = MQPER_PERSISTENT;
  int64_t lsn = kLogFirstLsn;
  int messages = 0;
  std::string text = "AMQ7701: DMPMQLOG command is starting.\n\n";
  std::vector<LqmLogRecord> put;
  for (int written = 0; written < records; ++messages) {
    std::string data(sizes[messages % 4], 'x');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + messages);
    LqmLogPutRecords("BENCH.Q", &md, data.data(), data.size(), kLogDefaultPiece, lsn, 0, &put);
    for (const LqmLogRecord& r : put) {
      LqmLogFormatRecord(r, &text);
      lsn = r.Lsn + kLogRecordOverhead + static_cast<int64_t>(r.Data.size());
      written++;
    }
    std::fwrite(text.data(), 1, text.size(), f);
    text.clear();
  }
  text = "AMQ7702: DMPMQLOG command has finished successfully.\n";
  std::fwrite(text.data(), 1, text.size(), f);
  return std::fclose(f) == 0 ? messages : -1;
}

// The baseline: every line of the file found, as the leanest line loop
// finds them (large blocks, memchr for each line end).
double PlainLines(const char* path, long* lines) {
  double start = BenchSeconds();
  std::FILE* f = std::fopen(path, "rb");
  *lines = 0;
  std::vector<char> block(1 << 16);
  size_t got, bytes = 0;
  while (f != nullptr && (got = std::fread(block.data(), 1, block.size(), f)) > 0) {
    bytes += got;
    for (const char *p = block.data(), *end = p + got;
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) !=
         nullptr;
         ++p)
      ++*lines;
  }
  if (f != nullptr) std::fclose(f);
  double seconds = BenchSeconds() - start;
  return bytes > 0 ? seconds : kBenchNoTime;
}

double Reader(const char* path, int* messages, int* rc) {
  auto run = std::make_unique<TestRun>();
  Run* r = run.get();
  RunOptions* o = &run->Parsed;
  double start = BenchSeconds();
  *messages = 0;
  *rc = ParseLogParameter(o, path);
  if (*rc == 0) *rc = PrepareLogCommand(o);
  if (*rc == 0) *rc = OpenLogSource(r, "BENCH.Q");
  if (*rc == 0) *rc = PrepareLogReader(r);
  while (*rc == 0 && !r->StopRequested) {
    *rc = NextLogMessage(r);
    if (*rc == 0 && !r->StopRequested) *rc = CheckLogMessage(r);
    if (*rc == 0 && !r->StopRequested) ++*messages;
  }
  double seconds = BenchSeconds() - start;
  ReleaseLogReplay(r);
  CSReleaseMem(&r->Message.Storage);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int records = argc > 1 ? std::atoi(argv[1]) : 20000;
  char dir[] = "/tmp/zeplo_log_bench.XXXXXX";
  if (!BenchMakeRoot(dir)) return 1;
  std::string path = std::string(dir) + "/dmpmqlog.txt";
  int messages = WriteLog(path.c_str(), records);
  if (messages < 0) return BenchEnd(dir, false);
  double plain = kBenchNoTime, reader = kBenchNoTime;
  long lines = 0;
  int read = 0, rc = 0;
  for (int round = 0; round < kBenchRounds && rc == 0; ++round) {
    BenchKeepBest(&plain, PlainLines(path.c_str(), &lines));
    BenchKeepBest(&reader, Reader(path.c_str(), &read, &rc));
  }
  bool ok = rc == 0 && read == messages;
  if (!ok) {
    std::fprintf(stderr, "log reader: %d of %d messages, rc %d\n", read, messages, rc);
    return BenchEnd(dir, false);
  }
  double ratio = reader / plain;
  std::printf("log replay: %d records, %d messages, %ld lines\n", records, messages, lines);
  std::printf("  reader %.3f s, plain line loop %.3f s, ratio %.2f (target %.1fx) %s\n", reader,
              plain, ratio, kLogTarget,
              ratio <= kLogTarget ? "(within target)" : "(TARGET MISSED)");
  return BenchRemoveRoot(dir) ? 0 : 1;
}
