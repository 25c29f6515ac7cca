// A generic unload of many queues against the same queues unloaded one by
// one.
//
// A fresh localqm data root gets 50 queues of 1,000 messages of 1 KB. The
// generic unload (`zeplo -m BENCH -i GB.* -f DIR/*`, one child process)
// asks the command server for the queues and unloads each to its own
// file; the other side runs `zeplo -m BENCH -i GB.n -f DIR/GB.n.zpd` once
// per queue, 50 child processes, and adds up their times. Both must write
// the same number of bytes.
//
// Each side runs kBenchRounds times, alternating; the best time of each
// counts. The target for this figure is 1.1.
//
// Usage: bench_generic_bench [queues [messages]]
// Prints the figure; exit 1 when a run fails, 0 otherwise.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_util.h"

namespace {

constexpr double kGenericTarget = 1.1;

// Files in dir and their bytes; removes them when `remove` is set.
long long DirectoryBytes(const std::string& dir, int* files, bool remove) {
  long long total = 0;
  *files = 0;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return -1;
  while (struct dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string path = dir + "/" + e->d_name;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) total += st.st_size;
    ++*files;
    if (remove) unlink(path.c_str());
  }
  closedir(d);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  int queues = BenchCountArgument(argc, argv, 1, 50);
  int messages = BenchCountArgument(argc, argv, 2, 1000);
  std::vector<std::string> names;
  for (int i = 0; i < queues; ++i) names.push_back("GB." + std::to_string(1000 + i));
  std::vector<BenchCase> cases;
  for (const std::string& name : names) cases.push_back({name.c_str(), messages, 1024});

  char dir[] = "/tmp/zeplo-generic-bench.XXXXXX";
  if (!BenchMakeRoot(dir)) return 1;
  BenchApi api{};
  bool ok = BenchCreateQmgr(cases.data(), queues) && BenchLoadApi(&api);
  for (int i = 0; ok && i < queues; i++) ok = BenchFill(api, cases[i], nullptr);
  std::string genericDir = std::string(dir) + "/generic", singleDir = std::string(dir) + "/single";
  mkdir(genericDir.c_str(), 0700);
  mkdir(singleDir.c_str(), 0700);
  std::string errFile = std::string(dir) + "/zeplo.err";
  std::string genericSpec = genericDir + "/*";
  double best[2] = {kBenchNoTime, kBenchNoTime};
  for (int round = 0; ok && round < kBenchRounds; round++) {
    double single = 0, generic = 0;
    for (int side = 0; ok && side < 2; side++) {
      if ((side == 0) == (round % 2 == 0)) {
        for (int i = 0; ok && i < queues; i++) {
          std::string file = singleDir + "/" + names[i] + ".zpd";
          double t = BenchRunZeplo({"-m", kBenchQmgr, "-i", names[i].c_str(), "-f", file.c_str()},
                                   errFile.c_str());
          ok = t >= 0 && BenchWrittenCount(errFile.c_str()) == messages;
          single += t;
        }
      } else {
        generic = BenchRunZeplo({"-m", kBenchQmgr, "-i", "GB.*", "-f", genericSpec.c_str()},
                                errFile.c_str());
        ok = generic >= 0;
      }
    }
    int genericFiles = 0, singleFiles = 0;
    long long genericBytes = DirectoryBytes(genericDir, &genericFiles, true);
    long long singleBytes = DirectoryBytes(singleDir, &singleFiles, true);
    if (ok && (genericFiles != queues || singleFiles != queues || genericBytes != singleBytes)) {
      fprintf(stderr, "the unloads differ: %d files of %lld bytes against %d of %lld\n",
              genericFiles, genericBytes, singleFiles, singleBytes);
      ok = false;
    }
    BenchKeepBest(&best[0], single);
    BenchKeepBest(&best[1], generic);
  }
  if (ok) {
    double ratio = best[1] / best[0];
    printf("generic unload %d queues x %d messages: %d single unloads %7.3f s, generic %7.3f s"
           "  ratio %.2f %s\n",
           queues, messages, queues, best[0], best[1], ratio,
           ratio <= kGenericTarget ? "(within target)" : "(TARGET MISSED)");
    printf("target: generic unload within %.1fx of the single unloads; best of %d rounds each\n",
           kGenericTarget, kBenchRounds);
    BenchRemoveRoot(dir);
  } else {
    fprintf(stderr, "benchmark failed; data left in %s\n", dir);
  }
  return ok ? 0 : 1;
}
