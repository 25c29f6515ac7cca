// The kill-anywhere run: moves N messages queue to queue, from one queue
// manager to another, and queue to file, and ends zeplo with SIGKILL at a
// random moment of each run. After each kill the queue managers recover
// the dead connection's units, and every message must be exactly once
// across source, target and file; the only duplicates allowed are the
// ones SIGKILL can make: the messages of the unit in flight left in the
// file as well, and, with two queue managers, a unit killed between its
// two commits. Both are bounded by -t.
//
// Long: labelled "kill" and left out of the default test run. Seeded, so a
// failure can be replayed: ZEPLO_KILL_SEED (default 20261207), and
// ZEPLO_KILL_POINTS kill points per mode (default 100); ZEPLO_KILL_VERBOSE=1
// prints every trial.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

constexpr int kMessages = 1000;  // enough that moving, not start-up, fills the run
const int kUnits[] = {1, 7, 20, 100};

// MsgId -> how many times it was seen.
using Seen = std::map<std::string, int>;

// Only whole lines count: SIGKILL can cut a write to a file at a page
// boundary, and the cut line's id would be a prefix of a real one.
Seen CountIds(const std::string& text, const std::string& prefix) {
  Seen seen;
  for (const std::string& line : SplitLines(text.substr(0, text.rfind('\n') + 1)))
    if (line.rfind(prefix, 0) == 0) seen[line.substr(prefix.size())]++;
  return seen;
}

Seen QueueIds(const std::string& qmgr, const std::string& queue) {
  return CountIds(LocalqmOrFail({"browse", qmgr, queue}), "MsgId : ");
}

long EnvOr(const char* name, long fallback) {
  const char* v = getenv(name);
  return v != nullptr && *v != '\0' ? strtol(v, nullptr, 10) : fallback;
}

class KillAnywhere : public ::testing::Test {
 public:
  void SetUp() override {
    LocalqmOrFail({"create", "QM1", "--default"});
    LocalqmOrFail({"create", "QM2"});
    for (const char* q : {"QM1 SRC", "QM1 DST", "QM2 DST"})
      LocalqmOrFail(Words(std::string("define ") + q + " --maxdepth 10000"));
  }
  // Fresh queues and file; returns the messages to move.
  static Seen Refill() {
    for (const char* qm : {"QM1", "QM2"}) LocalqmOrFail({"clear", qm, "DST"});
    LocalqmOrFail({"clear", "QM1", "SRC"});
    std::remove(ScratchPath("out.zpd").c_str());
    LocalqmOrFail(
        {"put", "QM1", "SRC", "--text", "kill-anywhere", "--count", std::to_string(kMessages)});
    return QueueIds("QM1", "SRC");
  }
};

TEST_F(KillAnywhere, EveryMessageOnceWhereverTheRunIsKilled) {
  const unsigned seed = static_cast<unsigned>(EnvOr("ZEPLO_KILL_SEED", 20261207));
  const long points = EnvOr("ZEPLO_KILL_POINTS", 100);
  const bool verbose = EnvOr("ZEPLO_KILL_VERBOSE", 0) != 0;
  std::mt19937 random(seed);
  const struct {
    const char* name;
    const char* args;        // after "-m QM1 -I SRC"
    const char* targetQmgr;  // null: the target is the file
  } modes[] = {
      {"queue to queue", "-o DST", "QM1"},
      {"two queue managers", "-m QM2 -o DST", "QM2"},
      {"queue to file", "-F out.zpd", nullptr},
  };
  for (const auto& mode : modes) {
    auto args = [&mode](int unit) {
      return Words("-m QM1 -I SRC " + std::string(mode.args) + " -t " + std::to_string(unit));
    };
    // How long a whole run takes: kill points are drawn up to a little
    // beyond it, so start-up and the end of the run are hit as well.
    Refill();
    auto start = std::chrono::steady_clock::now();
    RunResult whole = RunZeplo(args(20));
    ASSERT_EQ(0, whole.exitStatus) << mode.name << "\n" << whole.err;
    auto wholeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start).count();
    std::uniform_int_distribution<int> when(1, static_cast<int>(wholeMs + wholeMs / 5 + 1));
    std::uniform_int_distribution<size_t> pick(0, std::size(kUnits) - 1);
    int killed = 0, lost = 0, duplicated = 0, onBothSides = 0, maxOnBothSides = 0;
    for (long k = 0; k < points; k++) {
      Seen ids = Refill();
      int unit = kUnits[pick(random)];
      int killAt = when(random);
      RunResult r = RunProgram(ZeploPath(), args(unit), "", {}, killAt);
      std::string trial = std::string(mode.name) + " seed " + std::to_string(seed) + " trial " +
                          std::to_string(k) + " -t " + std::to_string(unit) + " kill at " +
                          std::to_string(killAt) + " ms";
      if (r.exitStatus == -9) {
        killed++;
      } else {
        EXPECT_EQ(0, r.exitStatus) << trial << "\n" << r.err;
      }
      // The admin command's connections recover the dead run's units.
      Seen source = QueueIds("QM1", "SRC");
      Seen target = mode.targetQmgr != nullptr
                        ? QueueIds(mode.targetQmgr, "DST")
                        : CountIds(ReadFileText(ScratchPath("out.zpd")), "A MSI ");
      int gone = 0, twice = 0, both = 0;
      for (const auto& [id, n] : ids) {
        int onSource = source.count(id) ? source[id] : 0;
        int onTarget = target.count(id) ? target[id] : 0;
        gone += onSource + onTarget == 0;
        twice += onSource > 1 || onTarget > 1;
        both += onSource == 1 && onTarget == 1;
      }
      if (verbose) {
        printf("[kill] %s: %zu left, %zu moved, %d on both sides\n", trial.c_str(), source.size(),
               target.size(), both);
      }
      EXPECT_EQ(0, gone) << trial;
      EXPECT_EQ(0, twice) << trial;
      EXPECT_EQ(static_cast<size_t>(kMessages), source.size() + target.size() - both) << trial;
      // One queue manager: one unit, all or nothing; else the unit in
      // flight, at most.
      EXPECT_LE(both, mode.args == std::string("-o DST") ? 0 : unit) << trial;
      lost += gone;
      duplicated += twice;
      onBothSides += both;
      maxOnBothSides = std::max(maxOnBothSides, both);
    }
    printf(
        "[kill] %-19s seed %u: %ld kill points, %d runs killed, %d lost, %d duplicated on a "
        "side, %d on both sides (max %d in one run)\n",
        mode.name, seed, points, killed, lost, duplicated, onBothSides, maxOnBothSides);
    fflush(stdout);
  }
}

}  // namespace
