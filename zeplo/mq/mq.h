// zeplo/mq: access to IBM MQ.
//
// The program is not linked against an MQ library. Before a queue-manager
// slot is connected, BindMqApi opens the server library (libmqm_r.so) or the
// client library (libmqic_r.so) and fills the slot's MqApi table with the 24
// MQI entry points; every MQI call of the program then goes through
// `run->Qmgrs[slot].Api->MQxxx(...)`. ConnectQmgr binds, connects (with
// a user id, a password or a password prompt) and inquires the queue
// manager's own name, command level and platform.
//
// Calling sequence (the run driver's):
//   run->Qmgrs[slot].Api = &tableForThisSlot;
//   rc = ConnectQmgr(options, slot);      // binds, MQCONNX, InquireQmgr
//   ... MQI calls through Qmgrs[slot].Api, each followed by
//   rc = CheckMqiCall(options, "MQOPEN", qmgrName, queueName, cc, reason)
//   (reported when it fails, and with -v a always), or, where a call has
//   a report rule of its own, ReportMqiCall(...) directly ...
//
// Error handling: procedures return 0 or a code (an MQ reason, an errno
// from the loader, or 11 for a library that lacks a required call). Nothing
// here exits. MqReasonText gives the short description of any reason or
// feedback code for messages.
#ifndef ZEPLO_MQ_MQ_H_
#define ZEPLO_MQ_MQ_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mqi/mqi.h"
#include "zeplo/run/run.h"

// ---- The entry-point table ------------------------------------------------

// The 24 MQI entry points of one slot, in this fixed order. After a
// successful BindMqApi every entry is callable: an optional call that the
// library lacks (MQCONNX, MQSUB, MQSUBRQ, MQCB, MQCTL, MQCRTMH, MQDLTMH,
// MQINQMP, MQSETMP, MQDLTMP, MQBUFMH, MQMHBUF, MQSTAT) is a fallback that
// completes with MQCC_FAILED and MQRC_FUNCTION_NOT_SUPPORTED (2298).
// The table is read-only after binding and may be read from any thread.
struct MqApi {
  PFN_MQBACK MQBACK;
  PFN_MQCLOSE MQCLOSE;
  PFN_MQCMIT MQCMIT;
  PFN_MQCONN MQCONN;
  PFN_MQCONNX MQCONNX;
  PFN_MQDISC MQDISC;
  PFN_MQGET MQGET;
  PFN_MQINQ MQINQ;
  PFN_MQOPEN MQOPEN;
  PFN_MQPUT MQPUT;
  PFN_MQPUT1 MQPUT1;
  PFN_MQSET MQSET;
  PFN_MQSUB MQSUB;
  PFN_MQSUBRQ MQSUBRQ;
  PFN_MQCB MQCB;
  PFN_MQCTL MQCTL;
  PFN_MQCRTMH MQCRTMH;
  PFN_MQDLTMH MQDLTMH;
  PFN_MQINQMP MQINQMP;
  PFN_MQSETMP MQSETMP;
  PFN_MQDLTMP MQDLTMP;
  PFN_MQBUFMH MQBUFMH;
  PFN_MQMHBUF MQMHBUF;
  PFN_MQSTAT MQSTAT;
};

// Codes of the binding besides the loader's errno values.
enum : int {
  kMqEntryMissing = 11,  // a required entry point is not in the library
};

// Limits of the library search: the directory composed from
// MQ_INSTALLATION_PATH (terminator included) and the full library path.
enum : size_t {
  kMqLibraryDirectorySize = 300,
  kMqLibraryPathSize = 512,
};

// ---- Library binding --------------------------------------------------------

// Opens the MQ library chosen by `library` (the -l value; null or empty for
// the default) and fills all 24 entries of *table.
//   null/empty: libmqm_r.so in the server directory, else libmqic_r.so in
//               the client directory;
//   contains "mqic": "mqic"/"mqic32" mean libmqic_r.so, anything else is
//               the file name; looked for in the client directory;
//   otherwise:  "mqm" means libmqm_r.so, anything else is the file name;
//               looked for in the server directory.
// Returns 0; the errno of the failed open (ENAMETOOLONG when a directory or
// path does not fit its buffer); or 11 (kMqEntryMissing) when one of the
// required calls is missing. The library stays loaded for the whole
// process; *table is only fully valid when 0 is returned.
int BindMqApi(const char* library, MqApi* table);

// True when the table's MQCB and MQCTL are the library's own (asynchronous
// consume can be used), false when either is the fallback of a library
// that lacks it, or missing from a table that was never bound.
bool MqApiOffersConsume(const MqApi* table);

// Opens one library: `fileName` unchanged when it contains a '/' or when
// `directory` is null or empty, else directory + '/' (unless it already
// ends in one) + fileName. dlopen with RTLD_NOW | RTLD_GLOBAL. With
// MQACCESS_DEBUG set, prints "Loading '<path>'" and, on failure, the
// loader's message on standard output. Returns 0 and *handle; or an errno
// value (ENAMETOOLONG for a path of kMqLibraryPathSize bytes or more, never
// 0 on failure) and *handle = nullptr.
int OpenMqLibrary(const char* fileName, const char* directory, void** handle);

// Where the server (client) library is looked for: $MQM_DLL_PATH
// ($MQIC_DLL_PATH) if set, even to an empty value; else
// $MQ_INSTALLATION_PATH + "/lib64"; else "/opt/mqm/lib64". The composed
// form lives in a static buffer of kMqLibraryDirectorySize bytes, one per
// function, rewritten on every call. Returns nullptr when the composed
// directory would not fit; callers must refuse the load then.
const char* ServerLibraryDirectory();
const char* ClientLibraryDirectory();

// ---- Reason texts -------------------------------------------------------------

// One row of the built-in reason tables: a code, the IBM MQ constant name
// (or the program's own name for its own codes) and a short description
// without a final full stop.
struct MqReasonRow {
  int64_t Code;
  const char* Name;
  const char* Text;
};

// The main table (reason, PCF reason and feedback codes, grouped by name
// prefix and sorted by name within a group, then the program's own codes)
// and the feedback table (a first empty row for 0, then the feedback codes
// from MQFB_QUIT up in code order). Generated by zeplo/mq/gen_reason_texts.py
// from mqi/constants.tsv into zeplo/mq/reason_tables.cpp.
extern const MqReasonRow kMqMainReasons[];
extern const size_t kMqMainReasonCount;
extern const MqReasonRow kMqFeedbackReasons[];
extern const size_t kMqFeedbackReasonCount;

// The short description of a reason or feedback code: the first row of the
// main table with that code, else the first of the feedback table, else "".
// Never null, never fails; the text is static.
const char* MqReasonText(int64_t code);

// ---- Call reporting -------------------------------------------------------------

// Writes the one-line report of an MQI call to standard error with a single
// write: "<label> [on object '<qmgr>/<object>' |on qmgr '<qmgr>' |
// on object '<object>' ]returned <reason>[ <description>].". A name counts
// when its first character is neither NUL nor blank; it is copied up to its
// first blank or NUL, at most 48 characters. Either name may be null. Safe
// from any thread.
void ReportMqiCall(const char* callLabel, const char* qmgr, const char* object, MQLONG reason);

// The program's rule for a finished MQI call: reported with ReportMqiCall
// when it failed (MQCC_FAILED), and also when it worked with -va
// (PrintApis). Returns 0 when the call did not fail, else its reason
// (2195 when a failed call gave none).
int CheckMqiCall(const Run* run, const char* callLabel, const char* qmgr,
                 const char* object, MQLONG compCode, MQLONG reason);

// Composes the same line (newline included) into out[outSize]; the line is
// cut, still terminated, when it does not fit. Returns the length written.
size_t FormatMqiCall(char* out, size_t outSize, const char* callLabel, const char* qmgr,
                     const char* object, MQLONG reason);

// ---- Connection ---------------------------------------------------------------

// Binds the slot's library into Qmgrs[slot].Api and connects the slot:
// MQCONNX with MQCNO_HANDLE_SHARE_BLOCK, a version-7 MQCNO naming the
// application, and an MQCSP when the slot has a User (the password from the
// slot, or typed at a prompt and wiped once the connection is made or
// refused). A 2139 (MQRC_CNO_ERROR) refusal is retried
// once with a plain MQCNO (version 5 with a user id). Then InquireQmgr
// replaces Name with the queue manager's own name and fills CommandLevel and
// Platform. Returns 0 when connected (Hconn set); 0 at once for a NoConnect
// slot; 2012 when the library cannot be bound ("Error loading MQAPI DLL"
// printed); 2046 when a password is needed and standard input is not a
// terminal; 2195 for a bad slot number or a slot without an Api table;
// otherwise the MQCONNX reason (its report line printed). Hconn stays
// MQHC_UNUSABLE_HCONN unless connected. However it ends, the text of the
// slot's -U password is then wiped and the slot forgets it.
int ConnectQmgr(Run* run, int slot);

// Takes the -U value `text` (in argv, so writable) as the password of
// options->Qmgrs[slot]: copies it into a block (label "Password") that
// the slot's Password holds and overwrites the original, so that it no
// longer shows in ps or /proc/<pid>/cmdline. A block held before is wiped
// and freed. Returns 0, or 2071 when the block cannot be had (the argv
// text is wiped all the same).
int TakePassword(RunOptions* options, int slot, char* text);

// Wipes and frees the Password blocks TakePassword made, for the driver's
// release of the parsed options. Safe when there are none.
void ReleasePasswords(RunOptions* options);

// Opens the connected slot's queue manager object for inquire, inquires
// MQCA_Q_MGR_NAME, MQIA_COMMAND_LEVEL and MQIA_PLATFORM, and closes it.
// On success Name becomes the reported name (cut at its first blank) and
// CommandLevel/Platform are set; after a failure they keep their values.
// Each call is reported with -v a. Returns the reason of the last call made.
int InquireQmgr(Run* run, int slot);

// The password prompt's reading loop on an already prepared terminal (or
// any descriptor): reads bytes from `inFd` one at a time until end of file,
// a newline or a full buffer. Backspace (8) or DEL (127) drops the last
// stored character and echoes "\b \b" on `echo`; other characters are stored
// and echoed as '*'. The result in buffer[size] is always terminated and
// never holds the newline. Returns the number of characters stored.
// REQUIRES: size >= 1.
size_t ReadMaskedLine(int inFd, FILE* echo, char* buffer, size_t size);

// The password buffer, terminator included: a longer typed password is cut.
enum : size_t { kPasswordBufferSize = 200 };

// Prompts for the slot's password on standard error ("Please enter password
// for QM(<name>) User(<user>) >", without "QM(...) " when Name is empty),
// switches standard input's terminal to non-canonical, no-echo mode, reads
// with ReadMaskedLine (stars on standard output) and restores the terminal,
// also when reading fails or SIGINT, SIGTERM, SIGQUIT or SIGHUP arrives
// meanwhile: the prompt then ends, the terminal is restored and the signal
// is delivered again under its previous disposition (signals the process
// ignores stay ignored). If the process survives that, 2046 is returned.
// Returns 0 with the password in buffer[size]; 2046 after printing
// "Password prompt not supported for non-stdin file" when standard input is
// not a terminal.
int PromptPassword(Run* run, int slot, char* buffer, size_t size);

#endif  // ZEPLO_MQ_MQ_H_
