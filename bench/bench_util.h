// What the benchmarks share: the clock, a scratch localqm data root with its
// queue manager, the MQI loaded the way zeplo loads it, filling queues,
// running the real program as a child, reading its "Written" count, hex
// lines, best-of-N bookkeeping and the ratio lines they print, and for the
// message file benches the test data, the layouts and the table they print.
//
// Calling sequence of a queue benchmark:
//   BenchMakeRoot(dir) -> BenchCreateQmgr(cases) -> BenchLoadApi(&api)
//   -> BenchFill(api, case, ...) -> rounds of (minimal loop, BenchRunZeplo,
//   BenchWrittenCount, BenchKeepBest) -> printf(... BenchVerdict(ratio))
//   -> return BenchEnd(dir, ok).
//
// Header only: bench/CMakeLists.txt makes every bench/*.cpp a program, so
// helpers live here as inline procedures. Everything is set up from scratch
// in a temporary directory; nothing here touches a real queue manager.
// Failures are told on stderr once, where they happen, and returned as
// false or -1; the benches then stop and leave their data for a look.
#ifndef ZEPLO_BENCH_BENCH_UTIL_H
#define ZEPLO_BENCH_BENCH_UTIL_H

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/zeplo/test_run.h"
#include "localqm/core/core.h"
#include "mqi/mqi.h"
#include "zeplo/run/run.h"

constexpr int kBenchRounds = 3;         // rounds per side; the best one counts
constexpr double kBenchTarget = 1.3;    // zeplo's time over the minimal loop's
constexpr int kBenchUnit = 200;         // messages per unit of work, as zeplo's -t default
constexpr int kBenchHexLineBytes = 25;  // zeplo's default X line width
constexpr double kBenchNoTime = 1e30;   // a best time before the first round

inline const char kBenchQmgr[] = "BENCH";

// ---- clock and best-of-N ----

// Monotonic seconds from an arbitrary origin: take the difference of two.
inline double BenchSeconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Keeps in *best the least of *best and seconds. The machine is shared, so
// the least disturbed round is the one that tells.
inline void BenchKeepBest(double* best, double seconds) { *best = std::min(*best, seconds); }

// "(within target)" when ratio (zeplo over the minimal loop) meets
// kBenchTarget, else "(TARGET MISSED)": printed after the ratio.
inline const char* BenchVerdict(double ratio) {
  return ratio <= kBenchTarget ? "(within target)" : "(TARGET MISSED)";
}

// ---- the MQI through the installed library ----

// The MQI entry points the benches call, from libmqm_r.so.
struct BenchApi {
  PFN_MQCONNX Connx;
  PFN_MQDISC Disc;
  PFN_MQOPEN Open;
  PFN_MQCLOSE Close;
  PFN_MQPUT Put;
  PFN_MQGET Get;
  PFN_MQINQ Inq;
  PFN_MQCMIT Cmit;
};

// dlopens <MQ installation>/lib64/libmqm_r.so, as zeplo does, and fills
// *api. False, told on stderr, when the library will not load or lacks an
// entry point. The library stays loaded for the life of the process.
inline bool BenchLoadApi(BenchApi* api) {
  std::string path = std::string(ZEPLO_MQINST_DIR) + "/lib64/libmqm_r.so";
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (lib == nullptr) {
    fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    return false;
  }
  api->Connx = reinterpret_cast<PFN_MQCONNX>(dlsym(lib, "MQCONNX"));
  api->Disc = reinterpret_cast<PFN_MQDISC>(dlsym(lib, "MQDISC"));
  api->Open = reinterpret_cast<PFN_MQOPEN>(dlsym(lib, "MQOPEN"));
  api->Close = reinterpret_cast<PFN_MQCLOSE>(dlsym(lib, "MQCLOSE"));
  api->Put = reinterpret_cast<PFN_MQPUT>(dlsym(lib, "MQPUT"));
  api->Get = reinterpret_cast<PFN_MQGET>(dlsym(lib, "MQGET"));
  api->Inq = reinterpret_cast<PFN_MQINQ>(dlsym(lib, "MQINQ"));
  api->Cmit = reinterpret_cast<PFN_MQCMIT>(dlsym(lib, "MQCMIT"));
  bool ok = api->Connx && api->Disc && api->Open && api->Close && api->Put && api->Get &&
            api->Inq && api->Cmit;
  if (!ok) fprintf(stderr, "%s lacks an MQI entry point\n", path.c_str());
  return ok;
}

// MQCONNX to kBenchQmgr with default options; the reason code (0 on
// success, *h then set).
inline int BenchConnect(const BenchApi& api, MQHCONN* h) {
  MQCHAR48 name = {};
  snprintf(name, sizeof name, "%s", kBenchQmgr);
  MQCNO cno = {MQCNO_DEFAULT};
  MQLONG cc, reason;
  api.Connx(name, &cno, h, &cc, &reason);
  return reason;
}

// An MQ name field: name, cut at 48 characters, blank-padded.
inline void BenchSetName(MQCHAR48 field, const char* name) {
  memset(field, ' ', 48);
  memcpy(field, name, std::min<size_t>(strlen(name), 48));
}

// MQOPEN of the local queue named queue on connection h with options; the
// reason code (0 on success, *o then set).
inline int BenchOpenQueue(const BenchApi& api, MQHCONN h, const char* queue, MQLONG options,
                          MQHOBJ* o) {
  MQOD od = {MQOD_DEFAULT};
  BenchSetName(od.ObjectName, queue);
  MQLONG cc, reason;
  api.Open(h, &od, options, o, &cc, &reason);
  return reason;
}

// ---- the scratch queue manager ----

// One queue of a benchmark: Count messages of Length bytes.
struct BenchCase {
  const char* Queue;
  int Count;
  int Length;
};

// mkdtemp(dirTemplate) and points LOCALQM_ROOT at it, so the queue manager
// made next lives there. False when the directory cannot be made.
inline bool BenchMakeRoot(char* dirTemplate) {
  if (mkdtemp(dirTemplate) == nullptr) {
    fprintf(stderr, "cannot make %s\n", dirTemplate);
    return false;
  }
  setenv("LOCALQM_ROOT", dirTemplate, 1);
  return true;
}

// Removes the scratch root and all in it; false (told) when that fails.
inline bool BenchRemoveRoot(const char* dir) {
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (system(cleanup.c_str()) == 0) return true;
  fprintf(stderr, "could not remove %s\n", dir);
  return false;
}

// The end of a queue benchmark: on success removes dir, prints the target
// line and returns 0; on failure says where the data was left and returns 1.
inline int BenchEnd(const char* dir, bool ok) {
  if (!ok) {
    fprintf(stderr, "benchmark failed; data left in %s\n", dir);
    return 1;
  }
  BenchRemoveRoot(dir);
  printf("target: zeplo within %.1fx of the minimal loop; best of %d rounds each\n", kBenchTarget,
         kBenchRounds);
  return 0;
}

// Creates the running queue manager kBenchQmgr through localqm's store,
// with one local queue per case, deep enough for its Count and taking
// messages of its Length (at least localqm's default maximum). False, told
// on stderr, when the store refuses.
inline bool BenchCreateQmgr(const BenchCase* cases, int n) {
  LqmQmgr qm;
  LqmQmgrDefaults(&qm, kBenchQmgr);
  int rc = LqmStoreCreate(&qm, false);
  LqmStore store{};
  if (rc == 0) rc = LqmStoreOpen(kBenchQmgr, &store);
  for (int i = 0; rc == 0 && i < n; i++) {
    LqmQueue q;
    LqmQueueDefaults(&q, cases[i].Queue);
    q.MaxDepth = cases[i].Count + 1;
    q.MaxMsgLength = std::max(cases[i].Length, static_cast<int>(kLqmDefaultMaxMsgLength));
    rc = LqmQueueWrite(&store, &q, true);
  }
  LqmStoreClose(&store);
  if (rc != 0) fprintf(stderr, "creating the queue manager failed (%d)\n", rc);
  return rc == 0;
}

// The message count argument argv[index]: its value when it is there and
// positive, fallback otherwise.
inline int BenchCountArgument(int argc, char** argv, int index, int fallback) {
  int value = argc > index ? atoi(argv[index]) : 0;
  return value > 0 ? value : fallback;
}

// The two queues of the unload and load benches: BENCH.SMALL with argv[1]
// (default 20,000) messages of 1 KB and BENCH.BIG with argv[2] (default
// 200) of 1 MB.
inline void BenchSmallAndBig(int argc, char** argv, BenchCase cases[2]) {
  cases[0] = {"BENCH.SMALL", BenchCountArgument(argc, argv, 1, 20000), 1024};
  cases[1] = {"BENCH.BIG", BenchCountArgument(argc, argv, 2, 200), 1024 * 1024};
}

// Empties queue through the store, outside any connection; false on failure.
inline bool BenchClearQueue(const char* queue) {
  LqmStore store{};
  int rc = LqmStoreOpen(kBenchQmgr, &store);
  long count = 0;
  if (rc == 0) rc = LqmTxnBegin(&store);
  if (rc == 0) rc = LqmTxnEnd(&store, LqmMsgClear(&store, queue, &count));
  LqmStoreClose(&store);
  return rc == 0;
}

// ---- calls as zeplo makes them ----

// The MQINQ zeplo makes on a queue it reads (backout queue and threshold,
// maximum depth and message length); the reason code. o must be open with
// MQOO_INQUIRE. The answers are not kept: the call is what costs.
inline int BenchInquireSource(const BenchApi& api, MQHCONN h, MQHOBJ o) {
  MQLONG selectors[4] = {MQCA_BACKOUT_REQ_Q_NAME, MQIA_BACKOUT_THRESHOLD, MQIA_MAX_Q_DEPTH,
                         MQIA_MAX_MSG_LENGTH};
  MQLONG ints[3];
  MQCHAR backout[48];
  MQLONG cc, reason;
  api.Inq(h, o, 4, selectors, 3, ints, 48, backout, &cc, &reason);
  return reason;
}

// Counts one more message put under syncpoint in *inUnit and commits when
// that makes kBenchUnit, as zeplo's default -t does; the MQCMIT reason, or 0.
inline int BenchCountInUnit(const BenchApi& api, MQHCONN h, int* inUnit) {
  if (++*inUnit < kBenchUnit) return 0;
  *inUnit = 0;
  MQLONG cc, reason;
  api.Cmit(h, &cc, &reason);
  return reason;
}

// ---- hex lines ----

// Appends p[0..n) to *text as upper-case hex lines of kBenchHexLineBytes
// bytes each ("\n" alone for no bytes): what the minimal loops write and read.
inline void BenchHexLines(const unsigned char* p, size_t n, std::string* text) {
  static const char kDigits[] = "0123456789ABCDEF";
  size_t at = text->size();
  text->resize(at + 2 * n + n / kBenchHexLineBytes + 1);
  char* q = text->data() + at;
  do {
    size_t take = std::min<size_t>(n, kBenchHexLineBytes);
    for (size_t i = 0; i < take; i++) {
      *q++ = kDigits[p[i] >> 4];
      *q++ = kDigits[p[i] & 15];
    }
    *q++ = '\n';
    p += take;
    n -= take;
  } while (n > 0);
  text->resize(static_cast<size_t>(q - text->data()));
}

// ---- filling a queue ----

// Puts c.Count messages of c.Length bytes on c.Queue under syncpoint,
// committing every kBenchUnit. Every message differs (its index leads the
// data) so that no layer can get away with caching one. With hex non-null,
// each message's descriptor as the queue manager completed it and its
// data go there as hex lines, then an empty line. False, told, on failure.
inline bool BenchFill(const BenchApi& api, const BenchCase& c, FILE* hex) {
  MQHCONN h;
  if (BenchConnect(api, &h) != 0) return false;
  MQHOBJ o;
  MQLONG cc, reason = BenchOpenQueue(api, h, c.Queue, MQOO_OUTPUT, &o);
  if (reason != 0) {
    fprintf(stderr, "opening %s failed with reason %d\n", c.Queue, reason);
    api.Disc(&h, &cc, &reason);
    return false;
  }
  std::vector<unsigned char> data(static_cast<size_t>(c.Length));
  for (int i = 0; i < c.Length; i++) data[i] = static_cast<unsigned char>(' ' + i % 95);
  std::string text;
  bool written = true;
  for (int i = 0; i < c.Count && reason == 0; i++) {
    snprintf(reinterpret_cast<char*>(data.data()), 12, "%010d", i);
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    memcpy(md.Format, MQFMT_STRING, 8);
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Options = MQPMO_SYNCPOINT;
    api.Put(h, o, &md, &pmo, c.Length, data.data(), &cc, &reason);
    if (hex != nullptr) {
      text.clear();
      BenchHexLines(reinterpret_cast<const unsigned char*>(&md), sizeof md, &text);
      BenchHexLines(data.data(), data.size(), &text);
      text += '\n';
      written = written && fwrite(text.data(), 1, text.size(), hex) == text.size();
    }
    if (reason == 0 && ((i + 1) % kBenchUnit == 0 || i + 1 == c.Count)) {
      api.Cmit(h, &cc, &reason);
    }
  }
  MQLONG closeCc, closeReason;
  api.Close(h, &o, MQCO_NONE, &closeCc, &closeReason);
  api.Disc(&h, &closeCc, &closeReason);
  if (reason != 0) fprintf(stderr, "filling %s failed with reason %d\n", c.Queue, reason);
  if (!written) fprintf(stderr, "writing the hex copy of %s failed\n", c.Queue);
  return reason == 0 && written;
}

// ---- the real program ----

// Runs <build>/bin/zeplo with args as a child (stdin and stdout on
// /dev/null, stderr to errFile, MQ_INSTALLATION_PATH set); the seconds
// from fork to exit, or -1 (told) when it does not exit with 0.
inline double BenchRunZeplo(const std::vector<const char*>& args, const char* errFile) {
  std::string zeplo = std::string(ZEPLO_BUILD_DIR) + "/bin/zeplo";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(zeplo.c_str()));
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  double start = BenchSeconds();
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int err = open(errFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null = open("/dev/null", O_RDWR);
    if (err < 0 || null < 0) _exit(126);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    setenv("MQ_INSTALLATION_PATH", ZEPLO_MQINST_DIR, 1);
    execv(zeplo.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  double elapsed = BenchSeconds() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "zeplo ended with status 0x%x; see %s\n", status, errFile);
    return -1;
  }
  return elapsed;
}

// The message count on the last line of zeplo's errFile that starts with
// `label` ("Read", "Written"), or -1 when there is none (or the file cannot
// be read).
inline long BenchCountOnLine(const char* errFile, const char* label) {
  FILE* f = fopen(errFile, "r");
  if (f == nullptr) return -1;
  char line[512];
  long n = -1;
  while (fgets(line, sizeof line, f) != nullptr) {
    const char* m =
        strncmp(line, label, strlen(label)) == 0 ? strstr(line, "Messages:") : nullptr;
    if (m == nullptr) continue;
    n = 0;
    for (const char* p = m + 9; *p != '\0' && *p != 'B'; p++) {
      if (*p >= '0' && *p <= '9') n = n * 10 + (*p - '0');
    }
  }
  fclose(f);
  return n;
}

// The message count on the last "Written" line of zeplo's errFile, or -1.
inline long BenchWrittenCount(const char* errFile) { return BenchCountOnLine(errFile, "Written"); }

// ---- message file benches: data, layouts, the table ----

// The message sizes the message file benches measure, in bytes.
inline const size_t kBenchSizes[] = {100, 1024, 10240, 102400, 1048576};

// One message file layout: its name in the table and the options it sets.
// ReadBack: the reader takes files of this layout back.
struct BenchLayout {
  const char* Name;
  void (*Apply)(TestRun*);
  bool ReadBack;
};

inline const BenchLayout kBenchLayouts[] = {
    {"hex", [](TestRun*) {}, true},
    {"hex -da", [](TestRun* o) { o->Parsed.AsciiColumns = true; }, true},
    {"ascii -dA", [](TestRun* o) { o->Parsed.AsciiLines = true; }, true},
    {"printable -dp", [](TestRun* o) { o->Parsed.Printable = true; }, true},
    {"text -dt", [](TestRun* o) { o->Parsed.TextLines = true; }, false},
};

// size bytes of mixed content, the same on every call: text with a binary
// stretch every few hundred bytes.
inline std::vector<unsigned char> BenchMixedData(size_t size) {
  std::vector<unsigned char> data(size);
  unsigned state = 12345;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    data[i] = (i % 300) < 250 ? static_cast<unsigned char>('a' + (state >> 16) % 26)
                              : static_cast<unsigned char>(state >> 16);
  }
  return data;
}

// The table's heading; side names the measured code ("reader", "writer").
inline void BenchPrintTableHeader(const char* side) {
  std::string perSecond = std::string(side) + " msg/s";
  std::string megabytes = std::string(side) + " MB/s";
  printf("%-14s %8s %12s %10s %12s %10s %7s\n", "layout", "size", perSecond.c_str(),
         megabytes.c_str(), "hex msg/s", "hex MB/s", "ratio");
}

// One row: messages of size bytes took seconds in the measured code and
// hexSeconds in plain hex; rates for both and their ratio.
inline void BenchPrintTableRow(const char* layout, size_t size, int messages, double seconds,
                               double hexSeconds) {
  double mb = static_cast<double>(size) * messages / 1048576.0;
  printf("%-14s %8zu %12.0f %10.1f %12.0f %10.1f %6.2fx\n", layout, size, messages / seconds,
         mb / seconds, messages / hexSeconds, mb / hexSeconds, seconds / hexSeconds);
}

#endif  // ZEPLO_BENCH_BENCH_UTIL_H
