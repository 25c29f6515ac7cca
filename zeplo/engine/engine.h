// zeplo/engine: the transfer engine. One call of RunProcessingLoop moves the
// messages of one source (an input queue, a message file or a browse
// listing) to the sinks the options name (output queues, one output file,
// or nothing when messages are only removed or counted).
//
// It also reads a delimited file or a queue manager's log in place of a
// message file, and feeds the queue summary (-ds) as a sink. Two or more
// input queues are consumed asynchronously (ConsumeQueues) in place of the
// loop's cycle.
//
// Calling sequence for an ordinary run (the driver's side):
//   OpenInputQueues(run)      -> run->Engine.Input, one element per queue
//   OpenOutputQueues(run)     -> run->Engine.Output
//   ... run files ...
//   rc = RunProcessingLoop(run, run->Engine.Input.Elements);
//   ... final report, disconnect ...
//   ReleaseEngineQueues(run);
// The loop allocates the MessageBuffer storage, decides on syncpoint, and
// cycles ReadNextMessage -> ProcessMessage (selection, DeliverMessage,
// CountInUnit) until the source is exhausted, a stop is requested or an
// error occurs. Whatever ends the cycle, the open unit of work is committed
// (code 0) or backed out (any other code) and the storage freed before the
// loop returns.
//
// Error handling: every procedure returns 0, an MQ reason code, or one of
// the reason values the program reuses for its own failures (2046 options,
// 2071 storage, 2098 context, 2102 file flush, 2195 internal, 2208 file
// format). The first error text of the run goes into ExitMessage (only
// while it is still empty, unless said otherwise, through SetExitMessage
// of zeplo/mq); the driver prints it. MQI calls are reported the one way
// CheckMqiCall does: always when they fail, with -va also when they work.
// A stop that is not an error (end of source, -w interval passed, end of a
// range, a limit) sets StopRequested and returns 0.
#ifndef ZEPLO_ENGINE_ENGINE_H_
#define ZEPLO_ENGINE_ENGINE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mqi/mqi.h"
#include "zeplo/run/run.h"

// One opened queue: an input queue (array "HOBJS" in Engine.Input) or, with
// -O I, one output destination (array "QELEMS" in Engine.Output).
// Zeroed on allocation; handles that are not open hold -1 where said.
struct QueueElement {
  MQHOBJ Hobj;                               // from MQOPEN
  char Name[kMqNameLength + 1];              // queue name, terminated
  int32_t Empty;                             // async consume: reported empty
  int32_t Active;                            // async consume: delivering
  char BackoutQueueName[kMqNameLength + 1];  // MQCA_BACKOUT_REQ_Q_NAME
  int32_t BackoutThreshold;                  // 0 when no backout queue
  MQHOBJ BackoutHobj;                        // -1 until opened
  int32_t MaxDepth;                          // MQIA_MAX_Q_DEPTH
  int32_t MaxMsgLength;                      // MQIA_MAX_MSG_LENGTH
  int32_t QueueFileSize;                     // queue status inquiry (MB)
  int32_t MaxQueueFileSize;                  // queue status inquiry (MB)
  // The local queue and queue manager MQOPEN resolved the name to (an
  // alias taken to its target): what tells a copy onto itself.
  char ResolvedName[kMqNameLength + 1];
  char ResolvedQmgrName[kMqNameLength + 1];
};

// ---- Processing loop (processing_loop.cpp) -------------------------------

// Moves every message of the one source to its sinks. inputQueue is the
// element of the single input queue (the first of two or more, which are
// consumed together), or null for a file source. The
// progress line shows only when standard input is a terminal. Returns 0 or the code that ended
// the run (2098, 2046, 2208, 2071, 2102 or an MQ reason) with ExitMessage
// set. The unit of work is resolved and the storage freed on every path;
// counters stay in options for the driver. MessageIndex is 0 or more on
// return once the loop got past its set-up checks.
int RunProcessingLoop(Run* run, QueueElement* inputQueue);

// Reads the next message of the source into run->Message. Returns 0
// with either a message in hand or StopRequested set, or an error code.
// The buffer's Cursor is reset to the start of Storage afterwards.
int ReadNextMessage(Run* run, QueueElement* inputQueue);

// Milliseconds since the first call in this process (gettimeofday based).
// The first call returns 0. Wraps after ~24 days, like the 32-bit fields
// that store it.
int32_t ElapsedMilliseconds();

// Sleeps whole seconds first, then the remainder in microseconds. Values
// of 0 or below return at once, and so does a sleep that a stop signal
// interrupts.
void SleepMilliseconds(int32_t milliseconds);


// ---- Queue input (queue_input.cpp) ---------------------------------------

// Opens every queue of InputList on the input slot's connection into a
// zeroed "HOBJS" element array in Engine.Input (an array of an earlier
// open is freed first), and inquires the backout settings and queue limits
// unless NoBackout. Clears Settings.SelectionActive unless -I without -p;
// sets it for -I -t 0 into a file (each message browsed, and taken once
// its file is open). Keeps each queue's resolved names. Returns 0; 2046
// when the array cannot be allocated; 2098 when context passing meets a browse; otherwise
// the MQOPEN reason (reported through ReportMqiCall). A failed MQINQ is
// reported and leaves that queue without backout requeue.
int OpenInputQueues(Run* run);

// Frees the engine's queue arrays: the input elements (ReleaseInputQueues),
// and the output elements and responses (ReleaseOutputQueues). Handles are
// left to MQDISC: call after disconnecting. Safe twice and when nothing
// was opened.
void ReleaseEngineQueues(Run* run);
void ReleaseInputQueues(Run* run);

// Releases the message storage (and the "Msg+Properties" block) with the
// -Vm trace; safe on a zeroed MessageBuffer.
void ReleaseMessageStorage(Run* run);

// Adds the get-mode bits to an MQGMO Options word: properties as MQRFH2
// unless -OF; under cursor, or browse-next, or a destructive get, each
// with its syncpoint choice.
MQLONG SetGetOptions(const Run* run, MQLONG gmoOptions, bool underCursor);

// The -gm, -gc and -gg identifiers (with group matching, the MQGMO
// raised to version 2) and the -c conversion target, into a get's
// descriptor and options.
void SetGetMatching(const Run* run, MQMD* md, MQGMO* gmo);

// Seconds an MQGET may wait: -w 0 -> 0, -w -1 -> 3600, otherwise what is
// left of the interval since LastMessageTime (never below 0).
int32_t GetWaitSeconds(const Run* run, int64_t now);

// One MQGET from `element`, browse-or-get (underCursor false) or the
// browsed message under the cursor (true), growing the storage on 2080 (a
// browse then reads the same message again under the cursor, which the
// failed browse has already moved onto it), waiting, flushing and
// committing before a wait as the -w and -t rules say. Returns 0 with a message in hand or
// StopRequested set; 2071; 2102 on a flush failure; otherwise the MQGET reason with "MQGET(%s)
// failed RC(%d) %s" in ExitMessage (2034 under the cursor is returned as is).
int GetQueueMessage(Run* run, QueueElement* element, bool underCursor);

// ---- Selection and shaping (selection.cpp) -------------------------------

// Counts the message just read, selects it, makes room in the output
// file, takes it from the queue when it was only browsed, delivers it,
// applies the file limits and the range end, and does the unit-of-work
// step. Returns 0 (possibly with StopRequested) or the first error code.
int ProcessMessage(Run* run, QueueElement* inputQueue);

// True when the message in run->Message passes every filter of the
// run (range, identifiers, size, priority, dead-letter reason, target,
// the six search lists, put time), before -Gi inversion.
bool MessageSelected(Run* run);

// Position of the first occurrence of needle in buffer, or -1. An empty
// needle matches at 0. A match always lies wholly inside the buffer.
int64_t FindBytes(const unsigned char* buffer, int64_t length, const unsigned char* needle,
                  int64_t needleLength);

// True when both 48-character fields, each cut at its first blank, match
// the -G t masks (queue mask, then queue manager mask; case-sensitive). An
// empty queue manager mask matches any queue manager.
bool MatchesTarget(const Run* run, const char* qmgrName, const char* queueName);

// True when the current descriptor's put time lies in the -T/-Ts window.
// A missing or unreadable put time is never in the window.
bool InTimeWindow(const Run* run);

// ---- Delivery (deliver.cpp) ----------------------------------------------

// Hands one selected message to its sink: header stripping for -h, the
// backout requeue (the message as it was), then the -A overrides and the
// output queues or the output file.
// Returns 0 or the error code of the sink.
int DeliverMessage(Run* run, QueueElement* inputQueue);

// Strips a leading dead-letter header and then a transmission header from
// the message in hand (the descriptor takes the inner values). Each header
// is read in the encoding and code page named before it: the message's
// for the first, the dead-letter header's for a transmission header
// behind it. Headers that do not fit inside DataLength are left alone.
void StripMessageHeaders(Run* run);

// Translates (ebcdic) and byte-swaps (swap) the fields of a version-1
// descriptor taken from a transmission header.
void ConvertDescriptorFields(MQMD* descriptor, bool swap, bool ebcdic);

// ---- Queue output and pacing (queue_output*.cpp, pacing.cpp) -------------

// Puts the message in hand to the output queue, distribution list or
// individual queues. Returns the reason of the first failed put (0 when
// none) with "MQPUT(%s) failed RC(%d) %s" in ExitMessage; counts what was
// written unless a unit of work is to be backed out.
int PutToOutputs(Run* run, QueueElement* inputQueue);

// -R pacing after each message of the cycle. Sets *leaveCycle when the
// rate end time has passed. Returns 0 or the failed commit's reason.
int PaceByRate(Run* run, bool* leaveCycle);

// -D delays before a message is delivered (fixed, random or relative).
void DelayMessage(Run* run);

// -R *: the current depth of the monitored target queue (0 when the
// inquire gives nothing).
int32_t InquireTargetDepth(Run* run);

// Opens the outputs on the output slot's connection: the single -o queue,
// the distribution list of OutputList, or (-O I) each destination of it on
// its own ("QELEMS" elements in Engine.Output), with the open
// options of the context mode, after the -vd listing. With -R * also opens
// the resolved target queue for inquire into Engine.Output.MonitorHobj. Returns 0; 2046
// when a destination array cannot be allocated (message printed); else the
// MQOPEN reason, every failed destination reported by its MQI call report.
int OpenOutputQueues(Run* run);

void ReleaseOutputQueues(Run* run);

// MQOPEN options of the output queues for the run's context mode (plus
// MQOO_RESOLVE_LOCAL_Q with -R *), and the matching MQPMO context option.
MQLONG OutputOpenOptions(const Run* run);
MQLONG PutContextOption(ContextMode mode);

// One MQPUT of the message in hand to `hobj` on the output slot, after the
// -O S(CFH3) header repair and the -C t put time; retried
// once without MQPMO_ASYNC_RESPONSE when asynchronous put is refused (-O a
// is then off for the run) and once with a version-1 descriptor on
// MQRC_CFH_ERROR when that can help. qmgrName/queueName only name the
// destination in reports (kDistributionListName for a list). Returns the
// reason when *compCode is MQCC_FAILED, else 0.
inline constexpr const char* kDistributionListName = "<Distribution List>";
int PutOneMessage(Run* run, MQHOBJ hobj, const char* qmgrName, const char* queueName,
                  MQPMO* pmo, MQLONG* compCode, MQLONG* reason);

// "%.48s/%.48s" (queue manager, queue), or the queue alone when the queue
// manager name is empty or blank. Names need no terminator within 48
// characters. The text is cut, still terminated, to textSize.
inline constexpr size_t kDestinationTextSize = 2 * kMqNameLength + 2;
void FormatDestination(const char* qmgrName, const char* queueName, char* text, size_t textSize);

// Pacing arithmetic, separated from the clock and the sleeps.
// -D -n: a random wait of 0 .. n milliseconds (n = |delay|).
int32_t RandomDelayMilliseconds(int32_t delay);
// -D r[percent]: the wait before the message in hand when the millisecond
// clock reads nowMs; updates the run's reference (the first message,
// or one whose put time lies before the reference, becomes it). 0 for no
// wait; a message without a readable put time waits nothing.
int64_t RelativeDelayWait(Run* run, int32_t nowMs);
// True when -D paces the messages (a fixed, random or relative delay).
bool PacedByDelay(const Run* run);
// -R n: end of a full period that took `elapsed` ms. Prints the period
// line on standard output; returns the milliseconds still to sleep.
int32_t EndFixedRatePeriod(const Run* run, int32_t elapsed);
// -R *: end of a period of `elapsed` ms (not below 0) when the target queue
// holds `depth` messages: prints the rate lines, moves TargetDepth,
// RateGuess and RateSlow on. Returns the remaining milliseconds of the
// second (may be negative).
int32_t EndTargetRatePeriod(Run* run, int32_t elapsed, int32_t depth);

// ---- Units of work (units_of_work.cpp) -----------------------------------

// The unit-of-work step for every message read: counts it and commits
// every TransactionLimit messages, or after every message while -D paces
// the run (so each paced message reaches its queue at its pace), flushing
// the output file first. Returns 0, 2102 when the flush fails, or the
// commit's reason.
int CountInUnit(Run* run);

// Commits the output side, then the input side (when read with -I),
// resets the uncommitted counters and marks the output file as committed
// (MarkOutputCommitted). With two queue managers, once the output side has
// committed, what it wrote counts as done; if the input side then fails,
// the unit's messages may be on both queue managers: their count and
// MsgIds go to standard error. Returns 0, the MQCMIT reason, or 2071 from
// the file mark.
int CommitAll(Run* run);

// Backs out the output side and the input side, each on its own whatever
// the other did (Engine.BackoutFailed[slot] records each failure for the
// disconnect), then puts the output file back as it was at the last commit
// (RollBackOutputFiles), and sets RolledBack. The uncommitted counters
// keep what was undone. Returns 0 or the first failure's reason.
int BackoutAll(Run* run);

// MQCMIT on one slot. Any completion code but MQCC_OK fails: "MQCMIT(%s)
// failed RC(%d) %s", StopRequested set, the reason returned.
int CommitQmgr(Run* run, int slot);

// MQBACK on one slot. MQCC_FAILED returns the reason ("MQBCK(%s) failed
// RC(%d) %s" when no error text is set yet); a warning is ignored.
int BackoutQmgr(Run* run, int slot);

// ---- Asynchronous consume (async_consume.cpp, event_semaphore.cpp) --------
//
// With two or more input queues the loop hands over to ConsumeQueues: a
// consumer callback is registered with MQCB on every input queue and the
// library delivers their messages through MQCTL. Without a wait interval
// (-w 0) the callbacks run on the main thread inside MQCTL START_WAIT, and
// each queue deregisters itself when it first reports that it is empty.
// With one, they run on the library's thread while the main thread waits
// on an EventSemaphore for the -w interval or the -La file age to pass,
// then stops delivery (rolling the output file over when it is old
// enough) and starts it again or ends.
//
// Threads: while delivery runs on the library's thread, a callback holds
// the event's mutex for as long as it works on the run's state, and the
// main thread reads that state (the remaining wait and file age, the stop
// flag) only under the same mutex; once MQCTL STOP has returned, every
// callback has ended and the main thread owns the state again.

// The event (EventSemaphore, in zeplo/run): CreateEvent makes a zeroed
// record usable, DestroyEvent undoes that (safe on a record that was never
// created, and twice).

// WaitEvent's timeout that waits without a limit.
inline constexpr uint32_t kEventWaitForever = 0xFFFFFFFF;

// Makes the mutex and condition; true on success (nothing is left
// allocated on failure).
bool CreateEvent(EventSemaphore* event);
void DestroyEvent(EventSemaphore* event);
// Sets the posted flag and wakes every waiter. Does nothing to an event
// that was never created. Must not be called with the mutex held.
void PostEvent(EventSemaphore* event);
// Waits for the event to be posted for at most `milliseconds` (measured
// against an absolute deadline, so spurious wake-ups do not lengthen it).
// Returns 0 when posted (the flag is cleared), 2 on timeout (at once for a
// timeout of 0 when not posted), -1 on any other failure or an event that
// was never created.
int WaitEvent(EventSemaphore* event, uint32_t milliseconds);

// Runs the asynchronous consume of every queue of run->Engine.Input (the
// element array already opened) on the input slot, keeping its state in
// run->Engine.Consume; called by RunProcessingLoop in place of its cycle,
// after its set-up. Returns 0 or the run's code with ExitMessage set: 2298
// when the library has no MQCB (Settings.Quiet turned on); a
// registration or control call's reason; 2102 when the event cannot be
// made or waited on or the output file fails; the code of the first
// message or event that failed (the unit of work then already backed out).
int ConsumeQueues(Run* run);

// The MQCB message consumer: ConnectionArea is the Run, CallbackArea the
// queue's QueueElement. Processes a delivered message as
// the cycle would, keeps the empty and active counts of run->Engine.Input,
// flushes and commits when every queue is idle, and stops delivery (after
// backing out a failed unit) when anything fails.
extern "C" void ConsumeCallback(MQHCONN hconn, PMQVOID mqmd, PMQVOID gmo, PMQVOID buffer,
                                PMQCBC context);

// Seconds left of the -w interval: 3600 for an unlimited one; otherwise
// WaitInterval - (now - LastMessageTime), or 5 when that is used up but
// some queue has not yet reported empty.
int32_t RemainingWait(const Run* run, int64_t now);

// Seconds left before the output file must be rolled over by age: 3600
// when no file is open or no -La age is set.
int32_t RemainingFileAge(const Run* run, int64_t now);

// Two queue managers under syncpoint with -I: keeps the MsgId of the
// message just put (Engine.TakenDescriptor's, as got), for the report of a
// unit left on both sides. Does nothing otherwise, or when memory runs out
// (the report then counts what it could not keep).
void NoteMessageInUnit(Run* run);

// Frees the unit's MsgIds and the output file record. Safe twice.
void ReleaseUnitRecords(Run* run);

// ---- Messages taken outside syncpoint (rescue.cpp) -------------------------

// True when the message in hand was got destructively outside syncpoint
// (-I with -t 0) with its data: then a failed delivery loses it unless it
// is rescued.
bool RescueApplies(const Run* run, const QueueElement* inputQueue);

// The message in hand could not be delivered. Restores it as got
// (TakenDescriptor, TakenLength, the cursor at the start of Storage) and
// MQPUT1s it back onto inputQueue outside syncpoint with all its context;
// if that fails, saves it in a new file "zeplo-rescue-<pid>.zpd" of the
// working directory (synced to disk); if that fails too, writes it to
// standard error in the message file layout. Says which on standard error
// with the MsgId (and, after a partial distribution-list put, how many
// destinations it reached). The run's own code and text stay as they are.
void RescueTakenMessage(Run* run, const QueueElement* inputQueue);

// ---- Stop signals (stop_signals.cpp) --------------------------------------

// Installs the handler of SIGINT, SIGTERM and SIGHUP for the rest of the
// process: the first such signal only records itself (it interrupts a
// prompt or a sleep), so that the run stops at the next message boundary;
// a second one ends the process as usual.
void CatchStopSignals();

// The signal recorded since the handler was last installed, 0 for none.
int PendingStopSignal();

// Ends the run for the recorded signal: "Stopped by signal %d (%s) at a
// message boundary" in ExitMessage (over any text already there),
// StopRequested set. Returns MQRC_CALL_INTERRUPTED (2549), so that the
// loop backs the open unit out and the run exits non-zero.
int StopForSignal(Run* run);

// ---- Status line (status.cpp) ---------------------------------------------

// -vs/-vt: prints "HH:MM:SS> Status - Read: ... Thruput: ..." on standard
// error and restarts the status count and time.
void PrintStatusLine(Run* run, int64_t now);

// ---- Queue summary (summary.cpp) -------------------------------------------
//
// With -ds every selected message goes to the statistics
// (run->Engine.Summary) instead of an output (DeliverMessage), and the
// driver shows them after the loop.

// One bucket of a summary table: its label (all labels of a table have
// one width) and the limit its values stay below; 0 for the last bucket,
// which takes the rest.
struct SummaryBucket {
  const char* Label;
  uint32_t Limit;
};
extern const SummaryBucket AgeBuckets[kAgeBucketCount];    // seconds
extern const SummaryBucket SizeBuckets[kSizeBucketCount];  // bytes

// Adds the message in hand to *stats: the first selected message
// (SelectedCount 1) becomes youngest, oldest, smallest and biggest at once;
// later ones replace them only when strictly younger, older, smaller or
// bigger. A put date or time that cannot be read counts as the epoch.
void AccumulateStatistics(const Run* run, SummaryStatistics* stats);

// Adds 1 to the count of the first bucket whose limit is above `value`
// (the last bucket when none is).
void CountInBucket(uint32_t value, uint32_t* counts, const SummaryBucket* buckets,
                   int bucketCount);

// The summary display on `out`, in its order: the "Read" line, the age
// table, youngest, oldest and average age, the size table, smallest,
// biggest and average size (identifiers with -dM/-dC), and the "Queue Size
// Summary" when the queue's maximum depth or maximum file size is known.
void DisplaySummary(FILE* out, const Run* run, const SummaryStatistics* stats,
                    const QueueElement* inputQueue);

// Pieces of the display: "\n<title>\n" and one '=' per character (no
// line end); a bucket table of `perRow` buckets a row; the identifier
// lines of -dM and -dC, followed by an empty line when either was printed.
void PrintHeading(FILE* out, const char* title);
void PrintBucketTable(FILE* out, const char* title, const uint32_t* counts,
                      const SummaryBucket* buckets, int bucketCount, int perRow);
void PrintSummaryIds(FILE* out, const Run* run, const MQBYTE* msgId,
                     const MQBYTE* correlId);

// ---- Shared by the engine's own files --------------------------------------

// Bytes of the current message actually in hand from Cursor: DataLength,
// cut to what the storage holds (a descriptor-only read holds none).
int64_t ReceivedLength(const Run* run);

// True when a descriptor-only run (NoData) must still read the message
// data because a filter or -h looks into it.
bool NeedsMessageData(const Run* run);

// The before-write steps of the selection for the output file (room,
// roll-over, open, header). Returns 0 or the file layer's code.
int MakeOutputRoom(Run* run, const QueueElement* inputQueue);

// Flushes the output file when messages are waiting in its buffer.
// Returns 0, or 2102 with "Error flushing data to file '%s'RC(%d)".
int FlushOutputForCommit(Run* run);

#endif  // ZEPLO_ENGINE_ENGINE_H_
