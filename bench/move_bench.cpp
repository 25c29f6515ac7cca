// Moving messages from one queue to another with zeplo against the least a
// program can do for the same job on the same machine.
//
// A fresh localqm data root in a temporary directory gets two queues and
// 20,000 messages of 1 KB on the first. The messages then travel back and
// forth: a minimal loop inside this process moves them one way, the real
// program (`zeplo -m BENCH -I FROM -o TO`, a child process, timed from fork
// to exit) moves them back. The loop makes the MQI calls zeplo makes:
// MQCONNX; MQOPEN of the source for input and inquire and the MQINQ of its
// backout and limit attributes; MQOPEN of the target for output with
// MQOO_SET_ALL_CONTEXT; then MQGET under syncpoint into a buffer that grows
// on MQRC_TRUNCATED_MSG_FAILED, MQPUT under syncpoint with
// MQPMO_SET_ALL_CONTEXT, MQCMIT every 200 messages and when the source is
// empty.
//
// Each side runs kBenchRounds times, alternating, and the best time of each
// counts. The figure is zeplo's time over the loop's; the target is
// kBenchTarget.
//
// Usage: bench_move_bench [count]
// Prints the figure; exit 1 when a run fails, 0 otherwise (a missed target
// is printed, not an error).

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_util.h"

namespace {

// The minimal move: seconds, or -1. *messages gets the count moved.
double MinimalMove(const BenchApi& api, const char* from, const char* to, long* messages) {
  double start = BenchSeconds();
  MQHCONN h;
  if (BenchConnect(api, &h) != 0) return -1;
  MQHOBJ input;
  const MQLONG inputOptions = MQOO_INPUT_AS_Q_DEF | MQOO_INQUIRE | MQOO_FAIL_IF_QUIESCING;
  if (BenchOpenQueue(api, h, from, inputOptions, &input) != 0) return -1;
  if (BenchInquireSource(api, h, input) != 0) return -1;
  MQHOBJ output;
  if (BenchOpenQueue(api, h, to, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT, &output) != 0) return -1;
  MQLONG cc, reason;
  std::vector<unsigned char> buffer(4096);
  long count = 0;
  int inUnit = 0;
  while (true) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Options = MQGMO_SYNCPOINT | MQGMO_PROPERTIES_FORCE_MQRFH2;
    MQLONG length = 0;
    api.Get(h, input, &md, &gmo, static_cast<MQLONG>(buffer.size()), buffer.data(), &length, &cc,
            &reason);
    if (reason == MQRC_TRUNCATED_MSG_FAILED) {
      buffer.resize((static_cast<size_t>(length) + 4095) / 4096 * 4096);
      continue;
    }
    if (reason == MQRC_NO_MSG_AVAILABLE) break;
    if (reason != 0) return -1;
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Options = MQPMO_SYNCPOINT | MQPMO_SET_ALL_CONTEXT;
    api.Put(h, output, &md, &pmo, length, buffer.data(), &cc, &reason);
    if (reason != 0) return -1;
    count++;
    BenchCountInUnit(api, h, &inUnit);
  }
  if (inUnit > 0) api.Cmit(h, &cc, &reason);
  api.Close(h, &input, MQCO_NONE, &cc, &reason);
  api.Close(h, &output, MQCO_NONE, &cc, &reason);
  api.Disc(&h, &cc, &reason);
  *messages = count;
  return BenchSeconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = BenchCountArgument(argc, argv, 1, 20000);
  const int length = 1024;
  // Both queues are deep enough for all the messages; only the first is filled.
  const BenchCase queues[2] = {{"BENCH.A", count, length}, {"BENCH.B", count, length}};

  char dir[] = "/tmp/zeplo-move-bench.XXXXXX";
  if (!BenchMakeRoot(dir)) return 1;
  BenchApi api{};
  bool ok = BenchCreateQmgr(queues, 2) && BenchLoadApi(&api) && BenchFill(api, queues[0], nullptr);
  std::string errFile = std::string(dir) + "/zeplo.err";
  double best[2] = {kBenchNoTime, kBenchNoTime};
  for (int round = 0; ok && round < kBenchRounds; round++) {
    long moved = 0;
    double f = MinimalMove(api, queues[0].Queue, queues[1].Queue, &moved);
    if (f < 0 || moved != count) {
      fprintf(stderr, "the minimal move failed (%ld messages)\n", moved);
      ok = false;
      break;
    }
    double z = BenchRunZeplo({"-m", kBenchQmgr, "-I", queues[1].Queue, "-o", queues[0].Queue},
                             errFile.c_str());
    if (z < 0 || BenchWrittenCount(errFile.c_str()) != count) {
      fprintf(stderr, "zeplo did not move all %d messages; see %s\n", count, errFile.c_str());
      ok = false;
      break;
    }
    BenchKeepBest(&best[0], f);
    BenchKeepBest(&best[1], z);
  }
  if (ok) {
    double ratio = best[1] / best[0];
    printf("move queue to queue %6d x %5d bytes: minimal %7.3f s, zeplo %7.3f s  ratio %.2f %s\n",
           count, length, best[0], best[1], ratio, BenchVerdict(ratio));
  }
  return BenchEnd(dir, ok);
}
