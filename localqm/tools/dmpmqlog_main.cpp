// dmpmqlog: prints a localqm queue manager's recovery log in the text
// layout of IBM MQ's log formatter, with its command line:
//
//   dmpmqlog [-b | -s StartLSN | -n ExtentNumber] [-e EndLSN] [-f LogFilePath] [-m QMgrName]
//
// -m names the queue manager (default: the default one); -f names its data
// directory instead, as an absolute path (the log lives in the store). -b
// and the default start at the oldest record, -s at the first record at or
// after StartLSN; -e stops after the last record at or before EndLSN.
// localqm keeps no log extents, so -n is refused. Every message, errors
// included, goes to standard output as an AMQ line, as the formatter's do;
// the exit status is 0 when the log was printed, 1 otherwise.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "localqm/log/log.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

constexpr char kUsage[] =
    "Usage: dmpmqlog [-b | -s StartLSN | -n ExtentNumber] [-e EndLSN] [-f LogFilePath]"
    " [-m QMgrName]\n";

struct Request {
  const char* Qmgr = "";
  const char* Directory = nullptr;
  int64_t From = 0;
  int64_t To = INT64_MAX;
};

int Fail(const std::string& what) {
  printf("AMQ7703: DMPMQLOG command has used an incorrect parameter: %s.\n%s", what.c_str(),
         kUsage);
  return 1;
}

// Reads the command line into *r. Returns 0 or the exit status.
int ParseArguments(int argc, char** argv, Request* r) {
  bool fromBase = false, fromLsn = false;
  opterr = 0;
  int c;
  while ((c = getopt(argc, argv, "bs:n:e:f:m:")) != -1) {
    switch (c) {
      case 'b':
        fromBase = true;
        break;
      case 's':
        fromLsn = true;
        if (!LqmLogParseLsn(optarg, &r->From))
          return Fail(std::string("-s '") + optarg + "' is not an LSN");
        break;
      case 'e':
        if (!LqmLogParseLsn(optarg, &r->To))
          return Fail(std::string("-e '") + optarg + "' is not an LSN");
        break;
      case 'n':
        return Fail("-n, the log is kept in the queue manager's store, not in extents");
      case 'f':
        if (optarg[0] != '/')
          return Fail(std::string("-f '") + optarg + "' is not an absolute directory path");
        r->Directory = optarg;
        break;
      case 'm':
        r->Qmgr = optarg;
        break;
      default:
        return Fail(std::string("-") + static_cast<char>(optopt));
    }
  }
  if (optind < argc) return Fail(std::string("'") + argv[optind] + "'");
  if (fromBase && fromLsn) return Fail("-b with -s");
  return 0;
}

// The block the formatter prints before the first record.
void PrintLogHeader(const char* qmgr, const char* dir) {
  printf(
      "LOG FILE HEADER\n"
      "***************\n\n"
      "QueueManager . . : %s\n"
      "LogDirectory . . : %s\n\n",
      qmgr, dir);
}

}  // namespace

int main(int argc, char** argv) {
  Request r;
  int rc = ParseArguments(argc, argv, &r);
  if (rc != 0) return rc;
  printf("AMQ7701: DMPMQLOG command is starting.\n\n");
  char dir[kLqmPathLength];
  if (r.Directory != nullptr) {
    snprintf(dir, sizeof dir, "%s", r.Directory);
  } else if (LqmLogQmgrDir(r.Qmgr, dir, sizeof dir) != 0) {
    printf("AMQ8118: Queue manager '%s' does not exist.\n", r.Qmgr);
    return 1;
  }
  PrintLogHeader(r.Qmgr, dir);
  std::string text;
  rc = LqmLogRead(dir, r.From, r.To, [&text](const LqmLogRecord& record) {
    LqmLogFormatRecord(record, &text);
    if (text.size() >= 65536) {
      fwrite(text.data(), 1, text.size(), stdout);
      text.clear();
    }
  });
  fwrite(text.data(), 1, text.size(), stdout);
  if (rc == MQRC_Q_MGR_NAME_ERROR) {
    printf("AMQ7713: DMPMQLOG command could not find a queue manager's log in '%s'.\n", dir);
    return 1;
  }
  if (rc != 0) {
    printf("AMQ7706: DMPMQLOG command has failed: reason %d.\n", rc);
    return 1;
  }
  printf("AMQ7714: DMPMQLOG command has reached the end of the log.\n");
  printf("AMQ7702: DMPMQLOG command has finished successfully.\n");
  return fflush(stdout) == 0 ? 0 : 1;
}
