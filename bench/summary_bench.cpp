// A queue summary (-ds) with zeplo against the least a program can do to
// see every message of the same queue.
//
// A fresh localqm data root gets one queue of 100,000 messages of 1 KB.
// The summary (`zeplo -m BENCH -i Q -ds`, a child process, timed from fork
// to exit, with its status inquiry to the command server) reads only the
// descriptors; the minimal loop inside this process connects, opens the
// queue for browse and inquire, makes zeplo's MQINQ and browses every
// message with MQGMO_BROWSE_NEXT | MQGMO_ACCEPT_TRUNCATED_MSG and a
// zero-length buffer, counting them and adding up their lengths.
//
// Each side runs kBenchRounds times, alternating; the best time of each
// counts. The target for this figure is 1.2.
//
// Usage: bench_summary_bench [count]
// Prints the figure; exit 1 when a run fails, 0 otherwise.
#include <cstdio>
#include <string>

#include "bench/bench_util.h"

namespace {

constexpr double kSummaryTarget = 1.2;

// The minimal descriptor-only browse: seconds, or -1. *messages and *bytes
// get what it saw.
double MinimalBrowse(const BenchApi& api, const char* queue, long* messages, long long* bytes) {
  double start = BenchSeconds();
  MQHCONN h;
  if (BenchConnect(api, &h) != 0) return -1;
  MQHOBJ o;
  if (BenchOpenQueue(api, h, queue, MQOO_BROWSE | MQOO_INQUIRE, &o) != 0) return -1;
  if (BenchInquireSource(api, h, o) != 0) return -1;
  MQLONG cc, reason = 0;
  *messages = 0;
  *bytes = 0;
  while (true) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Options = MQGMO_BROWSE_NEXT | MQGMO_NO_SYNCPOINT | MQGMO_ACCEPT_TRUNCATED_MSG |
                  MQGMO_PROPERTIES_FORCE_MQRFH2;
    MQLONG length = 0;
    api.Get(h, o, &md, &gmo, 0, nullptr, &length, &cc, &reason);
    if (reason == MQRC_NO_MSG_AVAILABLE) break;
    if (cc == MQCC_FAILED) return -1;
    ++*messages;
    *bytes += length;
  }
  api.Close(h, &o, MQCO_NONE, &cc, &reason);
  api.Disc(&h, &cc, &reason);
  return BenchSeconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
  BenchCase c = {"BENCH.SUMMARY", BenchCountArgument(argc, argv, 1, 100000), 1024};
  char dir[] = "/tmp/zeplo-summary-bench.XXXXXX";
  if (!BenchMakeRoot(dir)) return 1;
  BenchApi api{};
  bool ok = BenchCreateQmgr(&c, 1) && BenchLoadApi(&api) && BenchFill(api, c, nullptr);
  std::string errFile = std::string(dir) + "/zeplo.err";
  double best[2] = {kBenchNoTime, kBenchNoTime};
  for (int round = 0; ok && round < kBenchRounds; round++) {
    long seen = 0;
    long long bytes = 0;
    double z = 0;
    if (round % 2 == 1) z = BenchRunZeplo({"-m", kBenchQmgr, "-i", c.Queue, "-ds"}, errFile.c_str());
    double f = MinimalBrowse(api, c.Queue, &seen, &bytes);
    if (round % 2 == 0) z = BenchRunZeplo({"-m", kBenchQmgr, "-i", c.Queue, "-ds"}, errFile.c_str());
    if (f < 0 || seen != c.Count || bytes != static_cast<long long>(c.Count) * c.Length) {
      fprintf(stderr, "the minimal browse saw %ld messages\n", seen);
      ok = false;
    } else if (z < 0 || BenchCountOnLine(errFile.c_str(), "Read") != c.Count) {
      fprintf(stderr, "zeplo did not summarise all %d messages; see %s\n", c.Count,
              errFile.c_str());
      ok = false;
    }
    BenchKeepBest(&best[0], f);
    BenchKeepBest(&best[1], z);
  }
  if (ok) {
    double ratio = best[1] / best[0];
    printf("summary %6d x %5d bytes: minimal browse %7.3f s, zeplo -ds %7.3f s  ratio %.2f %s\n",
           c.Count, c.Length, best[0], best[1], ratio,
           ratio <= kSummaryTarget ? "(within target)" : "(TARGET MISSED)");
    printf("target: zeplo within %.1fx of the minimal loop; best of %d rounds each\n",
           kSummaryTarget, kBenchRounds);
  }
  if (!ok) fprintf(stderr, "benchmark failed; data left in %s\n", dir);
  else BenchRemoveRoot(dir);
  return ok ? 0 : 1;
}
