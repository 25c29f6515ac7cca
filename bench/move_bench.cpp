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
// Each side runs kRounds times, alternating, and the best time of each
// counts. The figure is zeplo's time over the loop's; the target is kTarget.
//
// Usage: bench_move_bench [count]
// Prints the figure; exit 1 when a run fails, 0 otherwise (a missed target
// is printed, not an error).
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
  PFN_MQGET Get;
  PFN_MQINQ Inq;
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
  api->Get = reinterpret_cast<PFN_MQGET>(dlsym(lib, "MQGET"));
  api->Inq = reinterpret_cast<PFN_MQINQ>(dlsym(lib, "MQINQ"));
  api->Cmit = reinterpret_cast<PFN_MQCMIT>(dlsym(lib, "MQCMIT"));
  return api->Connx && api->Disc && api->Open && api->Close && api->Put && api->Get && api->Inq &&
         api->Cmit;
}

bool CreateQmgr(const char* const* queues, int n, int depth) {
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
    LqmQueueDefaults(&q, queues[i]);
    q.MaxDepth = depth + 1;
    rc = LqmQueueWrite(&store, &q, true);
  }
  LqmStoreClose(&store);
  if (rc != 0) fprintf(stderr, "creating the queue manager failed (%d)\n", rc);
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

// Puts count messages of length bytes on queue, each led by its index.
bool Fill(const Api& api, const char* queue, int count, int length) {
  MQHCONN h;
  if (Connect(api, &h) != 0) return false;
  MQOD od = {MQOD_DEFAULT};
  SetName(od.ObjectName, queue);
  MQHOBJ o;
  MQLONG cc, reason;
  api.Open(h, &od, MQOO_OUTPUT, &o, &cc, &reason);
  std::vector<unsigned char> data(static_cast<size_t>(length));
  for (int i = 0; i < length; i++) data[i] = static_cast<unsigned char>(' ' + i % 95);
  for (int i = 0; i < count && reason == 0; i++) {
    snprintf(reinterpret_cast<char*>(data.data()), 12, "%010d", i);
    MQMD md = {MQMD_DEFAULT};
    memcpy(md.Format, MQFMT_STRING, 8);
    MQPMO pmo = {MQPMO_DEFAULT};
    pmo.Options = MQPMO_SYNCPOINT;
    api.Put(h, o, &md, &pmo, length, data.data(), &cc, &reason);
    if (reason == 0 && ((i + 1) % kUnit == 0 || i + 1 == count)) api.Cmit(h, &cc, &reason);
  }
  MQLONG closeCc, closeReason;
  api.Close(h, &o, MQCO_NONE, &closeCc, &closeReason);
  api.Disc(&h, &closeCc, &closeReason);
  if (reason != 0) fprintf(stderr, "filling %s failed with reason %d\n", queue, reason);
  return reason == 0;
}

// The minimal move: seconds, or -1. *messages gets the count moved.
double MinimalMove(const Api& api, const char* from, const char* to, long* messages) {
  double start = Seconds();
  MQHCONN h;
  if (Connect(api, &h) != 0) return -1;
  MQLONG cc, reason;
  MQOD in = {MQOD_DEFAULT};
  SetName(in.ObjectName, from);
  MQHOBJ input;
  api.Open(h, &in, MQOO_INPUT_AS_Q_DEF | MQOO_INQUIRE | MQOO_FAIL_IF_QUIESCING, &input, &cc,
           &reason);
  if (reason != 0) return -1;
  MQLONG selectors[4] = {MQCA_BACKOUT_REQ_Q_NAME, MQIA_BACKOUT_THRESHOLD, MQIA_MAX_Q_DEPTH,
                         MQIA_MAX_MSG_LENGTH};
  MQLONG ints[3];
  MQCHAR backout[48];
  api.Inq(h, input, 4, selectors, 3, ints, 48, backout, &cc, &reason);
  if (reason != 0) return -1;
  MQOD out = {MQOD_DEFAULT};
  SetName(out.ObjectName, to);
  MQHOBJ output;
  api.Open(h, &out, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT, &output, &cc, &reason);
  if (reason != 0) return -1;
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
    if (++inUnit == kUnit) {
      api.Cmit(h, &cc, &reason);
      inUnit = 0;
    }
  }
  if (inUnit > 0) api.Cmit(h, &cc, &reason);
  api.Close(h, &input, MQCO_NONE, &cc, &reason);
  api.Close(h, &output, MQCO_NONE, &cc, &reason);
  api.Disc(&h, &cc, &reason);
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
  int count = argc > 1 ? atoi(argv[1]) : 20000;
  if (count <= 0) count = 20000;
  const int length = 1024;
  const char* queues[2] = {"BENCH.A", "BENCH.B"};

  char dir[] = "/tmp/zeplo-move-bench.XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  setenv("LOCALQM_ROOT", dir, 1);
  Api api{};
  bool ok = CreateQmgr(queues, 2, count) && LoadApi(&api) && Fill(api, queues[0], count, length);
  std::string errFile = std::string(dir) + "/zeplo.err";
  double best[2] = {1e30, 1e30};
  for (int round = 0; ok && round < kRounds; round++) {
    long moved = 0;
    double f = MinimalMove(api, queues[0], queues[1], &moved);
    if (f < 0 || moved != count) {
      fprintf(stderr, "the minimal move failed (%ld messages)\n", moved);
      ok = false;
      break;
    }
    double z = RunZeplo({"-m", kQmgr, "-I", queues[1], "-o", queues[0]}, errFile.c_str());
    if (z < 0 || WrittenCount(errFile.c_str()) != count) {
      fprintf(stderr, "zeplo did not move all %d messages; see %s\n", count, errFile.c_str());
      ok = false;
      break;
    }
    best[0] = std::min(best[0], f);
    best[1] = std::min(best[1], z);
  }
  if (ok) {
    double ratio = best[1] / best[0];
    printf("move queue to queue %6d x %5d bytes: minimal %7.3f s, zeplo %7.3f s  ratio %.2f %s\n",
           count, length, best[0], best[1], ratio,
           ratio <= kTarget ? "(within target)" : "(TARGET MISSED)");
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
