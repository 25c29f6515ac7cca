// Loading a message file onto a queue with zeplo against the least a
// program can do for the same job on the same machine.
//
// A fresh localqm data root in a temporary directory gets a queue of
// 20,000 messages of 1 KB and one of 200 messages of 1 MB; zeplo unloads
// each once (untimed) into its own message file, and the same descriptors
// and data are written as plain hex (25 bytes a line: the descriptor, the
// data, an empty line) for the minimal loader. Then, emptying the queue
// before every run, the real program loads its file (`zeplo -m BENCH -f
// file -o Q`, a child process, timed from fork to exit) and a minimal loop
// inside this process reads the hex file line by line, decodes it, and
// makes the MQI calls zeplo makes: MQCONNX, MQOPEN for output with
// MQOO_SET_ALL_CONTEXT, MQPUT under syncpoint with MQPMO_SET_ALL_CONTEXT,
// MQCMIT every 200 messages and at the end.
//
// Each side runs kBenchRounds times, alternating, and the best time of each
// counts. The figure is zeplo's time over the loop's; the target is
// kBenchTarget.
//
// Usage: bench_load_bench [small-count [big-count]]
// Prints the figures; exit 1 when a run fails, 0 otherwise (a missed
// target is printed, not an error).

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_util.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The minimal load: reads the hex file and puts every message. Seconds, or
// -1; *messages gets the count put.
double MinimalLoad(const BenchApi& api, const char* queue, const char* hexFile, long* messages) {
  double start = BenchSeconds();
  FILE* in = fopen(hexFile, "r");
  if (in == nullptr) return -1;
  MQHCONN h;
  if (BenchConnect(api, &h) != 0) return -1;
  MQHOBJ o;
  if (BenchOpenQueue(api, h, queue, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT, &o) != 0) return -1;
  MQLONG cc, reason;
  std::vector<unsigned char> bytes;  // descriptor then data of one message
  char line[256];
  long count = 0;
  int inUnit = 0;
  bool more = true;
  while (more) {
    more = fgets(line, sizeof line, in) != nullptr;
    if (more && line[0] != '\n') {
      for (const char* p = line; HexValue(p[0]) >= 0 && HexValue(p[1]) >= 0; p += 2) {
        bytes.push_back(static_cast<unsigned char>(HexValue(p[0]) << 4 | HexValue(p[1])));
      }
      continue;
    }
    if (bytes.size() < sizeof(MQMD)) continue;
    MQMD md;
    memcpy(&md, bytes.data(), sizeof md);
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Options = MQPMO_SYNCPOINT | MQPMO_SET_ALL_CONTEXT;
    api.Put(h, o, &md, &pmo, static_cast<MQLONG>(bytes.size() - sizeof md),
            bytes.data() + sizeof md, &cc, &reason);
    if (reason != 0) return -1;
    bytes.clear();
    count++;
    BenchCountInUnit(api, h, &inUnit);
  }
  if (inUnit > 0) api.Cmit(h, &cc, &reason);
  api.Close(h, &o, MQCO_NONE, &cc, &reason);
  api.Disc(&h, &cc, &reason);
  fclose(in);
  *messages = count;
  return BenchSeconds() - start;
}

// Fills the case's queue, keeping the hex copy in hexFile.
bool FillWithHex(const BenchApi& api, const BenchCase& c, const char* hexFile) {
  FILE* hex = fopen(hexFile, "w");
  if (hex == nullptr) return false;
  bool ok = BenchFill(api, c, hex);
  return fclose(hex) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = 2;
  BenchCase cases[n];
  BenchSmallAndBig(argc, argv, cases);

  char dir[] = "/tmp/zeplo-load-bench.XXXXXX";
  if (!BenchMakeRoot(dir)) return 1;
  BenchApi api{};
  bool ok = BenchCreateQmgr(cases, n) && BenchLoadApi(&api);
  std::string errFile = std::string(dir) + "/zeplo.err";
  std::vector<std::string> hexFiles, zeploFiles;
  for (int i = 0; ok && i < n; i++) {
    hexFiles.push_back(std::string(dir) + "/" + cases[i].Queue + ".hex");
    zeploFiles.push_back(std::string(dir) + "/" + cases[i].Queue + ".zpd");
    ok = FillWithHex(api, cases[i], hexFiles[i].c_str()) &&
         BenchRunZeplo({"-m", kBenchQmgr, "-i", cases[i].Queue, "-f", zeploFiles[i].c_str()},
                       errFile.c_str()) >= 0 &&
         BenchClearQueue(cases[i].Queue);
  }

  for (int i = 0; ok && i < n; i++) {
    const BenchCase& c = cases[i];
    double best[2] = {kBenchNoTime, kBenchNoTime};
    for (int round = 0; ok && round < kBenchRounds; round++) {
      long put = 0;
      double f = MinimalLoad(api, c.Queue, hexFiles[i].c_str(), &put);
      ok = f >= 0 && put == c.Count && BenchClearQueue(c.Queue);
      if (!ok) {
        fprintf(stderr, "the minimal load of %s failed (%ld messages)\n", c.Queue, put);
        break;
      }
      double z = BenchRunZeplo({"-m", kBenchQmgr, "-f", zeploFiles[i].c_str(), "-o", c.Queue},
                               errFile.c_str());
      ok = z >= 0 && BenchWrittenCount(errFile.c_str()) == c.Count && BenchClearQueue(c.Queue);
      if (!ok) {
        fprintf(stderr, "zeplo did not load all %d messages of %s; see %s\n", c.Count, c.Queue,
                errFile.c_str());
        break;
      }
      BenchKeepBest(&best[0], f);
      BenchKeepBest(&best[1], z);
    }
    if (!ok) break;
    double ratio = best[1] / best[0];
    printf("load %-12s %6d x %7d bytes: minimal %7.3f s, zeplo %7.3f s  ratio %.2f %s\n", c.Queue,
           c.Count, c.Length, best[0], best[1], ratio, BenchVerdict(ratio));
    fflush(stdout);
  }
  return BenchEnd(dir, ok);
}
