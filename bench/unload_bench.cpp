// Unloading a queue with zeplo against the least a program can do for the
// same job on the same machine.
//
// A fresh localqm data root in a temporary directory gets one queue of
// 20,000 messages of 1 KB and one of 200 messages of 1 MB. Each queue is
// unloaded, browsing, by the real program (`zeplo -m BENCH -i Q -f file`,
// a child process, timed from fork to exit) and by a minimal loop inside
// this process that makes the same MQI calls through libmqm_r.so (loaded
// with dlopen as zeplo loads it): MQCONNX, MQOPEN for browse and inquire,
// the same MQINQ, then MQGET with MQGMO_BROWSE_NEXT | MQGMO_NO_SYNCPOINT |
// MQGMO_PROPERTIES_FORCE_MQRFH2 into a buffer that starts at 4096 bytes and
// grows to the next multiple of 4096 on MQRC_TRUNCATED_MSG_FAILED (then
// reading the message again under the browse cursor). The loop
// writes what an unload must keep, the descriptor and the data, as plain
// upper-case hex lines of 25 bytes, one stdio write per message; it
// formats nothing else.
//
// Each side runs kBenchRounds times, alternating, and the best time of
// each counts: the machine is shared, and the minimum is the least
// disturbed. The figure is zeplo's time over the loop's; the target is
// kBenchTarget.
//
// Usage: bench_unload_bench [small-count [big-count]]
// Prints the figures; exit 1 when a run fails, 0 otherwise (a missed
// target is printed, not an error, so the figures can be collected).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_util.h"

namespace {

// The minimal unload: seconds, or -1. *messages gets the count browsed.
double MinimalUnload(const BenchApi& api, const char* queue, const char* file, long* messages) {
  double start = BenchSeconds();
  FILE* out = fopen(file, "w");
  if (out == nullptr) return -1;
  MQHCONN h;
  if (BenchConnect(api, &h) != 0) return -1;
  MQHOBJ o;
  if (BenchOpenQueue(api, h, queue, MQOO_BROWSE | MQOO_INQUIRE, &o) != 0) return -1;
  MQLONG cc, reason;
  if (BenchInquireSource(api, h, o) != 0) return -1;
  std::vector<unsigned char> buffer(4096);
  std::string text;  // one message's lines, written with one call
  long count = 0;
  MQLONG browse = MQGMO_BROWSE_NEXT;
  while (true) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    MQGMO gmo = {MQGMO_DEFAULT};
    gmo.Options = browse | MQGMO_NO_SYNCPOINT | MQGMO_PROPERTIES_FORCE_MQRFH2;
    MQLONG length = 0;
    api.Get(h, o, &md, &gmo, static_cast<MQLONG>(buffer.size()), buffer.data(), &length, &cc,
            &reason);
    if (reason == MQRC_TRUNCATED_MSG_FAILED) {
      // The failed browse has moved the cursor onto the message: read it
      // again under the cursor, as zeplo does.
      buffer.resize((static_cast<size_t>(length) + 4095) / 4096 * 4096);
      browse = MQGMO_BROWSE_MSG_UNDER_CURSOR;
      continue;
    }
    browse = MQGMO_BROWSE_NEXT;
    if (reason == MQRC_NO_MSG_AVAILABLE) break;
    if (reason != 0) return -1;
    text.clear();
    BenchHexLines(reinterpret_cast<const unsigned char*>(&md), sizeof md, &text);
    BenchHexLines(buffer.data(), static_cast<size_t>(length), &text);
    text += '\n';
    if (fwrite(text.data(), 1, text.size(), out) != text.size()) return -1;
    count++;
  }
  api.Close(h, &o, MQCO_NONE, &cc, &reason);
  api.Disc(&h, &cc, &reason);
  if (fclose(out) != 0) return -1;
  *messages = count;
  return BenchSeconds() - start;
}

// zeplo -m BENCH -i queue -f file as a child; seconds, or -1.
double ZeploUnload(const char* queue, const char* file, const char* errFile) {
  return BenchRunZeplo({"-m", kBenchQmgr, "-i", queue, "-f", file}, errFile);
}

long FileSize(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = 2;
  BenchCase cases[n];
  BenchSmallAndBig(argc, argv, cases);

  char dir[] = "/tmp/zeplo-unload-bench.XXXXXX";
  if (!BenchMakeRoot(dir)) return 1;
  BenchApi api{};
  bool ok = BenchCreateQmgr(cases, n) && BenchLoadApi(&api);
  for (int i = 0; ok && i < n; i++) ok = BenchFill(api, cases[i], nullptr);

  std::string floorFile = std::string(dir) + "/floor.txt";
  std::string zeploFile = std::string(dir) + "/zeplo.zpd";
  std::string errFile = std::string(dir) + "/zeplo.err";
  for (int i = 0; ok && i < n; i++) {
    const BenchCase& c = cases[i];
    double best[2] = {kBenchNoTime, kBenchNoTime};
    long floorBytes = 0, zeploBytes = 0;
    for (int round = 0; ok && round < kBenchRounds; round++) {
      // Who goes first alternates, so neither side always finds the
      // other's pages in the cache.
      long browsed = 0;
      double f = 0, z = 0;
      if (round % 2 == 1) z = ZeploUnload(c.Queue, zeploFile.c_str(), errFile.c_str());
      f = MinimalUnload(api, c.Queue, floorFile.c_str(), &browsed);
      if (f < 0 || browsed != c.Count) {
        fprintf(stderr, "the minimal unload of %s failed (%ld messages)\n", c.Queue, browsed);
        ok = false;
        break;
      }
      if (round % 2 == 0) z = ZeploUnload(c.Queue, zeploFile.c_str(), errFile.c_str());
      if (z < 0 || BenchWrittenCount(errFile.c_str()) != c.Count) {
        fprintf(stderr, "zeplo did not unload all %d messages of %s; see %s\n", c.Count, c.Queue,
                errFile.c_str());
        ok = false;
        break;
      }
      BenchKeepBest(&best[0], f);
      BenchKeepBest(&best[1], z);
      floorBytes = FileSize(floorFile.c_str());
      zeploBytes = FileSize(zeploFile.c_str());
      unlink(floorFile.c_str());
      unlink(zeploFile.c_str());
    }
    if (!ok) break;
    double ratio = best[1] / best[0];
    printf(
        "%-12s %6d x %7d bytes: minimal %7.3f s (%.1f MB), zeplo %7.3f s (%.1f MB)"
        "  ratio %.2f %s\n",
        c.Queue, c.Count, c.Length, best[0], floorBytes / 1e6, best[1], zeploBytes / 1e6, ratio,
        BenchVerdict(ratio));
    fflush(stdout);
  }
  return BenchEnd(dir, ok);
}
