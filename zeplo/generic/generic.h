// zeplo/generic: many queues at once, and the command server requests they
// and the queue summary need.
//
// Generic unload (-f DIR/*[.type] with input queue masks) asks the command
// server which local queues match, and unloads each non-empty one to a
// file of its own through the processing loop; generic load (-f DIR/*
// with output queue masks) finds the message files of a directory and
// loads each onto the queue its name gives. File names are the queue name
// with '/' made '!', "#n" for the n-th queue whose name differs from an
// earlier one only in case, "$n" for the n-th roll-over file, then the
// file type (".zpd" by default).
//
// Calling sequence: the run driver calls GenericUnload or GenericLoad
// after connecting (either ends the run), and InquireQueueStatus before a
// queue summary. Both generic modes print one line per queue on standard
// output and their questions and problems on standard error; questions are
// answered with one line of standard input each, and the end of input
// counts as a refusal.
//
// PCF: requests are built and replies read in this machine's byte order in
// one labelled block "MQPCF Area" (PcfStartRequest ... PcfAddParameter;
// PcfStartReply ... PcfNextParameter). The reader checks every structure
// against the length of the reply before it hands anything out.
//
// Error handling: procedures return 0, an MQ reason, or one of the codes
// the program reuses (2046 options, 2035 directory, 2071 storage, 2100 the
// user declined, 3226 a reply for another command, 4018 list storage).
// Nothing here exits.
//
// State: the lists of queues and files of one generic run live in the
// run's GenericRun record (run->Generic, declared in zeplo/run), owned by
// this subsystem; the generic file pattern (directory, file type,
// base name) lives in the run's FileState, where the file layer reads it
// to name roll-over files. Each queue (or group of files) goes through the
// processing loop as a run of its own (StartQueueRun), over a copy of the
// options that names that one queue and file.
#ifndef ZEPLO_GENERIC_GENERIC_H_
#define ZEPLO_GENERIC_GENERIC_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mqi/mqi.h"
#include "zeplo/run/run.h"

struct QueueElement;  // zeplo/engine: one opened input queue

// ---- PCF builder and parser (pcf.cpp) --------------------------------------

enum : int {
  kPcfInitialSize = 4096,      // usable bytes of a new area, before the reserve
  kPcfReserve = 500,           // bytes allocated beyond Size when the area grows
  kPcfEndOfGroup = 1000,       // pseudo-type: the innermost group has ended
  kPcfNoMoreParameters = 10000,  // reason: the reply has no more parameters
};

// One PCF message being built or read.
struct PcfContext {
  char EyeCatcher[4];      // "MQPP"
  unsigned char* Buffer;   // the message, starting with its MQCFH
  int32_t GroupOffset;     // innermost open MQCFGR, 0 when none
  unsigned char** Owner;   // the caller's reference to the area (building)
  bool Growable;           // the builder may enlarge the area (building)
  int32_t Position;        // building: bytes used; reading: next parameter
  int32_t Size;            // building: usable bytes; reading: message length
  int32_t Reserve;         // bytes allocated beyond Size when growing
};

// Frees the area *bufferRef (if any), allocates a new "MQPCF Area" of
// kPcfInitialSize + kPcfReserve usable bytes into it and writes the MQCFH:
// MQCFT_COMMAND version 1, or MQCFT_COMMAND_XR version 3 for z/OS, with
// `command`, sequence 1, MQCFC_LAST and no parameters. Returns 0, or 2071
// (MQRC_STORAGE_NOT_AVAILABLE) with *bufferRef null.
int PcfStartRequest(PcfContext* context, unsigned char** bufferRef, MQLONG command, bool zOS);

// Appends one parameter and counts it in the header: MQCFT_INTEGER (value
// points at one MQLONG, null for 0), MQCFT_STRING (`length` characters; -1
// up to the terminator, -2 including it; padded with NULs to a multiple
// of 4) or MQCFT_INTEGER_LIST (`length` bytes of MQLONGs). The area grows
// when it must (the caller's reference follows it). Returns 0; 3001
// (MQRCCF_CFH_TYPE_ERROR) for another type; 3011 or 3028 for a length the
// type cannot take; 2071 when the area cannot grow.
int PcfAddParameter(PcfContext* context, MQLONG type, MQLONG parameter, const void* value,
                    MQLONG length);

// Starts reading a received message of `length` bytes at `buffer` (which
// the reader updates as it uses up the counts). *command gets the header's
// Command. Returns 0, or 2071 when the message is shorter than an MQCFH.
int PcfStartReply(PcfContext* context, unsigned char* buffer, MQLONG length, MQLONG* command);

// One parameter of a reply. Value points into the message (read integers
// with PcfReadLong: it need not be aligned). Groups show as their MQCFGR
// (Type 20, Count = parameters in the group) and end with a parameter of
// Type kPcfEndOfGroup.
struct PcfParameter {
  MQLONG Type;
  MQLONG Parameter;
  const unsigned char* Value;
  MQLONG Length;  // bytes at Value
  MQLONG Count;   // values: 1, or the list's or group's count
};

// The next parameter. Returns 0; kPcfNoMoreParameters when the header's
// count is used up; 3001 for an unknown structure type; 3016
// (MQRCCF_MSG_LENGTH_ERROR) for a structure running past the message; the
// type's length or count error (3009, 3010, 3011, 3024, 3027, 3028, 3255,
// 3257, 3258, 3259) for one whose fields do not agree.
int PcfNextParameter(PcfContext* context, PcfParameter* out);

// The MQLONG at `value` (any alignment).
MQLONG PcfReadLong(const unsigned char* value);

// ---- Command server requests (pcf_exchange.cpp) ----------------------------

// What one Inquire Queue reply says about a queue.
struct PcfQueueInfo {
  char Name[kMqNameLength + 1];  // cut at its first blank
  MQLONG Type;                   // 0 when the reply did not say
  MQLONG DefinitionType;
  MQLONG Depth;
};

// Called for each reply that describes a queue; a non-zero result ends
// the exchange with it.
typedef int (*PcfQueueHandler)(Run* run, const PcfQueueInfo* queue, void* context);

// The generic name sent for the input masks: the only InputList entry's
// queue name, or "*" for several, cut at its first '*' and then at its
// first '?', with a '*' put in place of a cut. `out` holds 49 bytes.
void GenericQueueName(const Run* run, char* out);

// Inquire Queue on the input slot: opens SYSTEM.ADMIN.COMMAND.QUEUE and a
// temporary reply queue (both stay open until the disconnect), sends the
// request for the local queues of GenericQueueName with their name, type,
// depth and definition type, and reads the replies until MQCFC_LAST,
// handing each that describes a queue to `handler`. Prints the problems of
// the exchange on standard error. Returns the result of the last reply
// (0, its Reason, 3226 for another command, a parse failure's reason, or
// the handler's), or the reason of the failed open, put or get (2033 after
// "No response from command server." when no reply comes in 10 seconds).
int InquireQueues(Run* run, PcfQueueHandler handler, void* context);

// Inquire Queue Status for the summary of `element`'s queue: its current
// and maximum file size (MB) into QueueFileSize and MaxQueueFileSize.
// Skipped silently without a queue, on z/OS and below command level 915
// (0 means unknown and asks). Failures are reported and abandon the inquiry; the reply
// queue is closed at the end. Never ends the run: returns nothing.
void InquireQueueStatus(Run* run, QueueElement* element);

// ---- Generic file names and lists (generic_files.cpp) ----------------------

// One queue to unload, one file to load, or one file found in the
// directory: a labelled block "QN".
struct QueueFileEntry {
  QueueFileEntry* Next;
  char QueueName[kMqNameLength + 1];
  int32_t CaseTwins;         // earlier entries whose names equal this one but for case
  int32_t Depth;             // from the command server
  char BaseName[kFileNameLength + 1];
  char Path[kFileNameLength + 1];
  bool Indexed;              // the name carries "$n"
  bool GroupHead;            // first file of its queue in the list
  bool Selected;             // an existing file whose queue is being unloaded
  int32_t Index;             // n of "$n"
  int32_t MinIndex, MaxIndex;  // group heads: the indexes of their group
};

// Frees every entry of both lists of `lists` (run->Generic); safe on a
// zeroed record and twice.
void GenericRunRelease(GenericRun* lists);

// Splits `fileName` into the run's GenericDirectory (up to and including
// its last '/', else "./") and GenericFileType (".zpd" for a lone "*", else the
// ".type" after the '*', at most 19 characters of letters and digits).
// Returns 0, or 2046 after printing "Generic file type too long.",
// "Invalid generic file type." or the refusal of a name without '*'.
int ParseGenericFileSpec(Run* run, const char* fileName);

// Copies `entry` into a new "QN" block and inserts it into *list after
// every entry that sorts before it or equal to it, counting its CaseTwins
// among the earlier entries; an entry without a Path gets BaseName (the
// name with '/' made '!', "#n" for n twins) and Path (GenericDirectory +
// BaseName + GenericFileType). Returns 0, or 4018 (MQRCCF_NO_STORAGE).
int AddQueueFileEntry(const Run* run, const QueueFileEntry* entry, QueueFileEntry** list);

// True when the queue is not a system queue for generic work: it is the
// OutputQueueName, does not begin "SYSTEM.", or is
// SYSTEM.CLUSTER.TRANSMIT.QUEUE or SYSTEM.DEAD.LETTER.QUEUE.
bool IsOrdinaryQueue(const Run* run, const char* queueName);

// Starts *queueRun, the run of one queue or group of files, with counts,
// files and engine state fresh: *queueOptions becomes a copy of run's
// options without destination lists (the caller names the queue and file
// in it), and queueRun takes over run's connected slots, settings and
// generic file pattern. EndQueueRun hands the slots (which the loop
// may have found broken) and a failed backout back to run.
void StartQueueRun(const Run* run, RunOptions* queueOptions, Run* queueRun);
void EndQueueRun(Run* run, const Run* queueRun);

// Reads one directory entry name as a generic file: false when it does not
// end in GenericFileType (case matters) or its queue name is longer than
// 48 characters; else fills Path, BaseName, Indexed, Index and QueueName
// of *entry (zeroed first).
bool ParseGenericFileName(const Run* run, const char* name, QueueFileEntry* entry);

// Lists the regular files of GenericDirectory that are generic files,
// calling `take` for each (a non-zero result stops the scan with it).
// Returns 0; 2035 after "Can not open directory '%s'." when it cannot be
// read.
int ScanGenericDirectory(Run* run, int (*take)(Run*, QueueFileEntry*, void*), void* context);

// Marks group heads of `list` (an entry heads a group unless it is Indexed
// with the BaseName of the last head) and gives heads the MinIndex and
// MaxIndex of their group.
void GroupQueueFiles(QueueFileEntry* list);

// Asks `question` on standard error and reads one answer line (at most 99
// characters) from `in`. True for an answer beginning 'y' or 'Y'; the end
// of input is a no.
bool AskYes(const char* question, FILE* in);

// ---- Generic unload and load (generic_unload.cpp, generic_load.cpp) --------

// The questions about existing files of a generic unload (run->Generic's
// lists): which will be deleted, what to do with those of other queues,
// then the deletions and the check that every queue opens. Answers come
// from `in`. Returns 0, 2100 (declined, quit, or a file that cannot be
// deleted), or the last queue's open reason when the user will not go on
// without it.
int CheckExistingFiles(Run* run, FILE* in);

// The whole generic unload (the output file name holds '*'). Returns 0 or
// the code that ended it (2046 without input queue masks); each queue's
// own failure is printed on its line.
int GenericUnload(Run* run);

// The checks of a generic load (run->Generic's files) before anything is
// put: the roll-over index sequence of each group, readable files, empty
// and openable target queues. Returns 0, 2100, or the last problem queue's
// reason.
int CheckLoadFiles(Run* run, FILE* in);

// The whole generic load (the input file name holds '*'). Returns 0 or the
// code that ended it (2046 without output queue masks).
int GenericLoad(Run* run);

#endif  // ZEPLO_GENERIC_GENERIC_H_
