// localqm tools: the `localqm` admin command. Each verb is one procedure
// taking the words after the verb; it prints its results on standard
// output (one "Name : value" per line, or a bare number where a script
// wants one), its errors on standard error as one "localqm: ..." line,
// and returns the process exit status: 0 done, 1 failed, 2 bad usage.
#ifndef LOCALQM_TOOLS_TOOLS_H_
#define LOCALQM_TOOLS_TOOLS_H_

#include <string>
#include <vector>

#include "localqm/core/core.h"

enum ToolStatus : int { kToolOk = 0, kToolFailed = 1, kToolUsage = 2 };

// The words after the verb, split into positional words and --options.
// Options named in `flags` take no value; every other option takes the
// next word. Unknown options are refused by ToolArgsCheck.
struct ToolArgs {
  std::vector<std::string> Words;
  std::vector<std::pair<std::string, std::string>> Options;  // name without "--", value
};

// Splits argv. Returns kToolOk or kToolUsage (message printed) when an
// option that needs a value is last.
int ToolArgsParse(int argc, char** argv, const std::vector<std::string>& flags, ToolArgs* out);
// Refuses options not in `allowed` and a word count outside [minWords,
// maxWords]. kToolOk or kToolUsage (message printed).
int ToolArgsCheck(const ToolArgs& args, const std::vector<std::string>& allowed, size_t minWords,
                  size_t maxWords, const char* verb);
// The value of an option, or null when absent (the last one wins).
const char* ToolOption(const ToolArgs& args, const char* name);
bool ToolFlag(const ToolArgs& args, const char* name);
// Parses a whole decimal number within [min, max]; prints a message naming
// the option and returns false when it is not one.
bool ToolNumber(const char* text, const char* what, long min, long max, long* out);
// Option --name as such a number into *field: true when it is absent
// (*field untouched) or valid; false, message printed, field untouched
// when it is not.
bool ToolNumberOption(const ToolArgs& args, const char* name, long min, long max, MQLONG* field);
// Prints "localqm: <text>" and the reason's MQ name when it has one.
int ToolFail(const char* what, int reason);
// Prints that `queue` is not defined on queue manager `qmgr`; returns
// kToolFailed.
int ToolQueueMissing(const char* queue, const char* qmgr);
// Opens a queue manager's store for an admin verb; prints the error.
int ToolOpen(const char* qmgr, LqmStore* store);

// Verbs (tool_qmgr.cpp).
int ToolCreate(const ToolArgs& args);
int ToolDelete(const ToolArgs& args);
int ToolList(const ToolArgs& args);
int ToolStartStop(const ToolArgs& args, bool start);
int ToolAlterQmgr(const ToolArgs& args);
int ToolUser(const ToolArgs& args);
int ToolFault(const ToolArgs& args);
// Verbs (tool_queue.cpp).
int ToolDefine(const ToolArgs& args, bool alter);
int ToolRemove(const ToolArgs& args);
int ToolShow(const ToolArgs& args);
int ToolDepth(const ToolArgs& args);
int ToolClear(const ToolArgs& args);
// Verbs (tool_messages.cpp).
int ToolPut(const ToolArgs& args);
int ToolBrowseGet(const ToolArgs& args, bool destructive);
// Verbs (tool_command.cpp).
int ToolCommandServer(const ToolArgs& args);
int ToolMaxFileSize(const ToolArgs& args);

// The options each verb accepts, shared by the parser and the help text.
extern const std::vector<std::string> kQmgrOptions;
extern const std::vector<std::string> kQueueOptions;
extern const std::vector<std::string> kPutOptions;

#endif  // LOCALQM_TOOLS_TOOLS_H_
