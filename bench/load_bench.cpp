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
// Each side runs kRounds times, alternating, and the best time of each
// counts. The figure is zeplo's time over the loop's; the target is kTarget.
//
// Usage: bench_load_bench [small-count [big-count]]
// Prints the figures; exit 1 when a run fails, 0 otherwise (a missed
// target is printed, not an error).
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

#include "localqm/core/core.h"
#include "mqi/mqi.h"

namespace {

constexpr int kRounds = 3;
constexpr double kTarget = 1.3;
constexpr int kHexLineBytes = 25;
constexpr int kUnit = 200;  // messages per unit of work, as zeplo's -t default

const char kQmgr[] = "BENCH";

double Seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Api {
  PFN_MQCONNX Connx;
  PFN_MQDISC Disc;
  PFN_MQOPEN Open;
  PFN_MQCLOSE Close;
  PFN_MQPUT Put;
  PFN_MQCMIT Cmit;
};

bool LoadApi(Api* api) {
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
  api->Cmit = reinterpret_cast<PFN_MQCMIT>(dlsym(lib, "MQCMIT"));
  return api->Connx && api->Disc && api->Open && api->Close && api->Put && api->Cmit;
}

struct Case {
  const char* queue;
  int count;
  int length;
};

bool CreateQmgr(const Case* cases, int n) {
  LqmQmgr qm{};
  snprintf(qm.Name, sizeof qm.Name, "%s", kQmgr);
  qm.CommandLevel = kLqmDefaultCommandLevel;
  qm.Platform = MQPL_UNIX;
  qm.MaxCnoVersion = MQCNO_CURRENT_VERSION;
  qm.Running = true;
  qm.Ccsid = kLqmDefaultCcsid;
  int rc = LqmStoreCreate(&qm, false);
  LqmStore store{};
  if (rc == 0) rc = LqmStoreOpen(kQmgr, &store);
  for (int i = 0; rc == 0 && i < n; i++) {
    LqmQueue q;
    LqmQueueDefaults(&q, cases[i].queue);
    q.MaxDepth = cases[i].count + 1;
    q.MaxMsgLength = std::max(cases[i].length, static_cast<int>(kLqmDefaultMaxMsgLength));
    rc = LqmQueueWrite(&store, &q, true);
  }
  LqmStoreClose(&store);
  if (rc != 0) fprintf(stderr, "creating the queue manager failed (%d)\n", rc);
  return rc == 0;
}

bool ClearQueue(const char* queue) {
  LqmStore store{};
  int rc = LqmStoreOpen(kQmgr, &store);
  long count = 0;
  if (rc == 0) rc = LqmTxnBegin(&store);
  if (rc == 0) rc = LqmTxnEnd(&store, LqmMsgClear(&store, queue, &count));
  LqmStoreClose(&store);
  return rc == 0;
}

int Connect(const Api& api, MQHCONN* h) {
  MQCHAR48 name = {};
  snprintf(name, sizeof name, "%s", kQmgr);
  MQCNO cno = {MQCNO_DEFAULT};
  MQLONG cc, reason;
  api.Connx(name, &cno, h, &cc, &reason);
  return reason;
}

void SetName(MQCHAR48 field, const char* name) {
  memset(field, ' ', 48);
  memcpy(field, name, std::min<size_t>(strlen(name), 48));
}

void HexLines(const unsigned char* p, size_t n, FILE* out) {
  static const char kDigits[] = "0123456789ABCDEF";
  char line[2 * kHexLineBytes + 2];
  do {
    size_t take = std::min<size_t>(n, kHexLineBytes);
    char* q = line;
    for (size_t i = 0; i < take; i++) {
      *q++ = kDigits[p[i] >> 4];
      *q++ = kDigits[p[i] & 15];
    }
    *q++ = '\n';
    fwrite(line, 1, static_cast<size_t>(q - line), out);
    p += take;
    n -= take;
  } while (n > 0);
}

// Puts count messages of length bytes (each led by its index) and writes
// the same descriptors and data to the hex file. The descriptors written
// are the ones the queue manager completed on the put.
bool Fill(const Api& api, const Case& c, const char* hexFile) {
  MQHCONN h;
  if (Connect(api, &h) != 0) return false;
  FILE* hex = fopen(hexFile, "w");
  if (hex == nullptr) return false;
  MQOD od = {MQOD_DEFAULT};
  SetName(od.ObjectName, c.queue);
  MQHOBJ o;
  MQLONG cc, reason;
  api.Open(h, &od, MQOO_OUTPUT, &o, &cc, &reason);
  std::vector<unsigned char> data(static_cast<size_t>(c.length));
  for (int i = 0; i < c.length; i++) data[i] = static_cast<unsigned char>(' ' + i % 95);
  for (int i = 0; i < c.count && reason == 0; i++) {
    snprintf(reinterpret_cast<char*>(data.data()), 12, "%010d", i);
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    memcpy(md.Format, MQFMT_STRING, 8);
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Options = MQPMO_SYNCPOINT;
    api.Put(h, o, &md, &pmo, c.length, data.data(), &cc, &reason);
    HexLines(reinterpret_cast<const unsigned char*>(&md), sizeof md, hex);
    HexLines(data.data(), data.size(), hex);
    fputc('\n', hex);
    if (reason == 0 && ((i + 1) % kUnit == 0 || i + 1 == c.count)) api.Cmit(h, &cc, &reason);
  }
  MQLONG closeCc, closeReason;
  api.Close(h, &o, MQCO_NONE, &closeCc, &closeReason);
  api.Disc(&h, &closeCc, &closeReason);
  bool ok = fclose(hex) == 0 && reason == 0;
  if (!ok) fprintf(stderr, "filling %s failed with reason %d\n", c.queue, reason);
  return ok;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The minimal load: reads the hex file and puts every message. Seconds, or
// -1; *messages gets the count put.
double MinimalLoad(const Api& api, const char* queue, const char* hexFile, long* messages) {
  double start = Seconds();
  FILE* in = fopen(hexFile, "r");
  if (in == nullptr) return -1;
  MQHCONN h;
  if (Connect(api, &h) != 0) return -1;
  MQOD od = {MQOD_DEFAULT};
  SetName(od.ObjectName, queue);
  MQHOBJ o;
  MQLONG cc, reason;
  api.Open(h, &od, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT, &o, &cc, &reason);
  if (reason != 0) return -1;
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
    if (++inUnit == kUnit) {
      api.Cmit(h, &cc, &reason);
      inUnit = 0;
    }
  }
  if (inUnit > 0) api.Cmit(h, &cc, &reason);
  api.Close(h, &o, MQCO_NONE, &cc, &reason);
  api.Disc(&h, &cc, &reason);
  fclose(in);
  *messages = count;
  return Seconds() - start;
}

// zeplo with args as a child; seconds, or -1 when it does not exit with 0.
double RunZeplo(const std::vector<const char*>& args, const char* errFile) {
  std::string zeplo = std::string(ZEPLO_BUILD_DIR) + "/bin/zeplo";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(zeplo.c_str()));
  for (const char* a : args) argv.push_back(const_cast<char*>(a));
  argv.push_back(nullptr);
  double start = Seconds();
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
  double elapsed = Seconds() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "zeplo ended with status 0x%x; see %s\n", status, errFile);
    return -1;
  }
  return elapsed;
}

// The count zeplo's "Written" line names, or -1.
long WrittenCount(const char* errFile) {
  FILE* f = fopen(errFile, "r");
  if (f == nullptr) return -1;
  char line[512];
  long n = -1;
  while (fgets(line, sizeof line, f) != nullptr) {
    const char* m = strncmp(line, "Written", 7) == 0 ? strstr(line, "Messages:") : nullptr;
    if (m == nullptr) continue;
    n = 0;
    for (const char* p = m + 9; *p != '\0' && *p != 'B'; p++) {
      if (*p >= '0' && *p <= '9') n = n * 10 + (*p - '0');
    }
  }
  fclose(f);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  int small = argc > 1 ? atoi(argv[1]) : 20000;
  int big = argc > 2 ? atoi(argv[2]) : 200;
  if (small <= 0) small = 20000;
  if (big <= 0) big = 200;
  const Case cases[] = {{"BENCH.SMALL", small, 1024}, {"BENCH.BIG", big, 1024 * 1024}};
  const int n = 2;

  char dir[] = "/tmp/zeplo-load-bench.XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  setenv("LOCALQM_ROOT", dir, 1);
  Api api{};
  bool ok = CreateQmgr(cases, n) && LoadApi(&api);
  std::string errFile = std::string(dir) + "/zeplo.err";
  std::vector<std::string> hexFiles, zeploFiles;
  for (int i = 0; ok && i < n; i++) {
    hexFiles.push_back(std::string(dir) + "/" + cases[i].queue + ".hex");
    zeploFiles.push_back(std::string(dir) + "/" + cases[i].queue + ".zpd");
    ok = Fill(api, cases[i], hexFiles[i].c_str()) &&
         RunZeplo({"-m", kQmgr, "-i", cases[i].queue, "-f", zeploFiles[i].c_str()},
                  errFile.c_str()) >= 0 &&
         ClearQueue(cases[i].queue);
  }

  for (int i = 0; ok && i < n; i++) {
    const Case& c = cases[i];
    double best[2] = {1e30, 1e30};
    for (int round = 0; ok && round < kRounds; round++) {
      long put = 0;
      double f = MinimalLoad(api, c.queue, hexFiles[i].c_str(), &put);
      ok = f >= 0 && put == c.count && ClearQueue(c.queue);
      if (!ok) {
        fprintf(stderr, "the minimal load of %s failed (%ld messages)\n", c.queue, put);
        break;
      }
      double z =
          RunZeplo({"-m", kQmgr, "-f", zeploFiles[i].c_str(), "-o", c.queue}, errFile.c_str());
      ok = z >= 0 && WrittenCount(errFile.c_str()) == c.count && ClearQueue(c.queue);
      if (!ok) {
        fprintf(stderr, "zeplo did not load all %d messages of %s; see %s\n", c.count, c.queue,
                errFile.c_str());
        break;
      }
      best[0] = std::min(best[0], f);
      best[1] = std::min(best[1], z);
    }
    if (!ok) break;
    double ratio = best[1] / best[0];
    printf("load %-12s %6d x %7d bytes: minimal %7.3f s, zeplo %7.3f s  ratio %.2f %s\n", c.queue,
           c.count, c.length, best[0], best[1], ratio,
           ratio <= kTarget ? "(within target)" : "(TARGET MISSED)");
    fflush(stdout);
  }
  std::string cleanup = std::string("rm -rf '") + dir + "'";
  if (ok && system(cleanup.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  if (!ok) {
    fprintf(stderr, "benchmark failed; data left in %s\n", dir);
    return 1;
  }
  printf("target: zeplo within %.1fx of the minimal loop; best of %d rounds each\n", kTarget,
         kRounds);
  return 0;
}
