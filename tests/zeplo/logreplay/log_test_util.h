// Helpers shared by the log replay tests: formatter text made by localqm's
// own log writer and layout, and a replay of such text from a file (or
// from a formatter standing in for dmpmqlog) through the public calls, as
// the run driver and the processing loop make them.
#ifndef ZEPLO_TESTS_LOGREPLAY_LOG_TEST_UTIL_H_
#define ZEPLO_TESTS_LOGREPLAY_LOG_TEST_UTIL_H_

#include <vector>

#include "localqm/log/log.h"
#include "tests/zeplo/files/files_test_util.h"
#include "zeplo/logreplay/logreplay.h"

// A formatter's output, record by record.
struct LogText {
  std::string Text = "AMQ7701: DMPMQLOG command is starting.\n\nLOG FILE HEADER\n\n";
  int64_t Lsn = kLogFirstLsn;
  // The records of a persistent put of `data`, in pieces of 64 bytes.
  void Put(const std::string& queue, const std::string& data) {
    MQMD md = {MQMD_DEFAULT};
    md.Version = MQMD_VERSION_2;
    md.Persistence = MQPER_PERSISTENT;
    md.Priority = static_cast<MQLONG>(data.size() % 10);
    memcpy(md.MsgId, ("ID" + std::to_string(data.size()) + "xxxxxxxxxxxxxxxxxxxxxxxx").data(), 24);
    memcpy(md.PutDate, "20240131", 8);
    std::vector<LqmLogRecord> records;
    LqmLogPutRecords(queue.c_str(), &md, data.data(), data.size(), 64, Lsn, 0, &records);
    for (const LqmLogRecord& r : records) {
      LqmLogFormatRecord(r, &Text);
      Lsn = r.Lsn + kLogRecordOverhead + static_cast<int64_t>(r.Data.size());
    }
  }
  std::string Done() const {
    return Text +
           "AMQ7714: DMPMQLOG command has reached the end of the log.\n"
           "AMQ7702: DMPMQLOG command has finished successfully.\n";
  }
};

// What a replay gave: its code, the messages (data as delivered after the
// length check) and standard error.
struct Replay {
  int Rc = 0;
  std::vector<std::string> Data;
  std::string Err;
};

inline std::string ScratchFile(const std::string& name, const std::string& text) {
  std::string path = testing::TempDir() + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f != nullptr) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  return path;
}

// Replays `logValue` (a -j value) for queue `queue`, stopping after `stop`
// messages: every message read is length-checked as the selection step does
// for a selected one.
inline Replay RunReplay(const std::string& logValue, const char* queue = "APP.IN",
                        const char* qmgr = "", size_t stop = 1000) {
  auto run = std::make_unique<TestRun>();
  TestRun* t = run.get();
  RunOptions* o = &t->Parsed;
  snprintf(o->Qmgrs[0].Name, sizeof o->Qmgrs[0].Name, "%s", qmgr);
  t->Message.Descriptor = &t->Message.OwnDescriptor;
  Replay r;
  testing::internal::CaptureStderr();
  r.Rc = ParseLogParameter(o, logValue.c_str());
  if (r.Rc == 0) r.Rc = PrepareLogCommand(o);
  if (r.Rc == 0) r.Rc = OpenLogSource(t, queue);
  if (r.Rc == 0) r.Rc = GrowMessageStorage(t, kLogMessageStorage);
  if (r.Rc == 0) r.Rc = PrepareLogReader(t);
  while (r.Rc == 0 && !t->StopRequested && r.Data.size() < stop) {
    r.Rc = NextLogMessage(t);
    if (r.Rc != 0 || t->StopRequested) break;
    r.Rc = CheckLogMessage(t);
    if (r.Rc != 0) break;
    const MessageBuffer& m = t->Message;
    r.Data.emplace_back(reinterpret_cast<const char*>(m.Cursor), static_cast<size_t>(m.DataLength));
  }
  ReleaseLogReplay(t);
  r.Err = testing::internal::GetCapturedStderr();
  CSReleaseMem(&t->Message.Storage);
  return r;
}

#endif  // ZEPLO_TESTS_LOGREPLAY_LOG_TEST_UTIL_H_
