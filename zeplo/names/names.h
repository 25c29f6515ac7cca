// zeplo/names: destination lists and name masks.
//
// Queue names reach the program as destination texts: the values of -i, -I
// and -o, the target mask of -G t:, and the lines of destination files named
// with the prefix "file:". A text is a queue name, or a queue manager name
// and a queue name joined by a separator ('#', ',', '\', '/' or the -$
// character), optionally in single quotes; "file:NAME" reads a destination
// file (one destination per line, '*' comments, nested "file:" includes).
//
// The input and output queues are kept in growable QueueLists (labelled
// block "QUEUELIST") hung from RunOptions. Masks use '*' (any run) and '?'
// (one character) and match case-insensitively unless some destination was
// written in quotes.
//
// Error handling: every refusal prints its one message on standard error
// and returns non-zero; the option parser then ends the run with 2046.
// Entries added before a failure stay in the list.
#ifndef ZEPLO_NAMES_NAMES_H_
#define ZEPLO_NAMES_NAMES_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "zeplo/run/run.h"

// Length of a queue or queue manager name field, and of a path in a
// destination file include (text characters, terminator not counted).
inline constexpr int kDestinationNameLength = 48;
inline constexpr int kIncludePathLength = 300;
inline constexpr int kDestinationLineLength = 499;  // longest line of a file
inline constexpr int kInitialQueueListCapacity = 10;
// Destinations one list may hold, far beyond any real distribution list.
inline constexpr int kMaxDestinations = 100000;

// One destination, laid out as IBM MQ's object record MQOR (ObjectName,
// ObjectQMgrName) so that the entries in use serve directly as the object
// records of a distribution list. Each name is NUL-terminated only when
// shorter than 48 characters: read it with CopyMqName(..., 48, 48).
// An empty QmgrName means the queue manager of the slot serving the list.
struct Destination {
  char QueueName[kDestinationNameLength];
  char QmgrName[kDestinationNameLength];
};

// A growable list of destinations, one labelled block "QUEUELIST".
// Entries[i] is in use for i < Count; the block holds Capacity + 1 entries
// and the extra one stays zero. What is opened for the entries belongs to
// the engine (EngineState), not to the list.
struct QueueList {
  int32_t Capacity;
  int32_t Count;
  Destination Entries[1];  // really Capacity + 1 entries
};

// Bytes of a QueueList block with room for `capacity` entries in use (plus
// the zero entry). Returns 0 when the capacity is negative or too large.
size_t QueueListBytes(int32_t capacity);

// Frees a list block (labelled block, see zeplo/cs) and sets *list to null.
// Null or an already released list does nothing.
void QueueListRelease(QueueList** list);

// One destination file being read. Frames live on the stack of
// ReadDestinationFile and are chained from the innermost (reachable as
// RunOptions::InnermostInclude while a file is read) to the outermost.
struct IncludeFrame {
  IncludeFrame* Parent;                    // the including file; null for a command-line file
  char GivenName[kIncludePathLength + 1];  // as written after "file:"
  char Directory[kIncludePathLength + 1];  // of FullPath, no trailing '/'
  char FileName[kIncludePathLength + 1];   // of FullPath
  char FullPath[kIncludePathLength + 1];   // the path actually opened
  int32_t LineNumber;                      // lines read so far
  dev_t Device;  // identity of the open file (0/0 until opened), so that a
  ino_t Inode;   // file reached again under another spelling is caught too
};

// Parses one destination text into a queue manager name and a queue name,
// each written into a field of at least 48 bytes: up to 48 characters, then
// NULs to the end of the field (so a char[49] field is always terminated).
// `separator` is the -$ character, 0 for the automatic choice. A quoted
// text sets options->QuotedName. A "file:" text (prefix in any case) is
// read into InputList (toInputList) or OutputList instead; both outputs are
// emptied before the file is read (reading may then fill OutputQueueName).
// REQUIRES: `text` does not lie in either output. Returns 0; 2046 after
// printing why the text is refused (names too long, file unreadable or
// recursive); 4018 when list storage ran out.
int ParseDestinationN(RunOptions* options, char separator, const char* text, char* qmgrOut,
                      size_t qmgrSize, char* queueOut, size_t queueSize, bool toInputList);
template <size_t A, size_t B>
int ParseDestination(RunOptions* options, char separator, const char* text, char (&qmgrOut)[A],
                     char (&queueOut)[B], bool toInputList) {
  static_assert(A >= size_t{kDestinationNameLength} && B >= size_t{kDestinationNameLength},
                "destination fields hold 48 characters");
  return ParseDestinationN(options, separator, text, qmgrOut, A, queueOut, B, toInputList);
}

// Appends the destination(s) that `text` names to InputList (toInputList)
// or OutputList, creating or doubling the list as needed (10 entries first)
// up to kMaxDestinations ("Sorry, a destination list can hold at most %d
// destinations", 2046).
// A new OutputList starts with the first -o (OutputQmgrName/OutputQueueName)
// when that was given; OutputQueueName is filled from the first entry when
// it is still empty. A text that names no queue (empty, "QM1/", or a file
// without a destination) is refused with RefuseEmptyDestination. Returns
// 0, 2046 (refused text, message printed) or 4018 ("Can not allocate
// queue list array..." printed).
int AddDestination(RunOptions* options, const char* text, bool toInputList);

// Prints "Sorry, the destination '<text>' names no queue." and returns
// 2046: an explicitly given destination must name a queue.
int RefuseEmptyDestination(const char* text);

// Reads a destination file: leading blanks of `name` are skipped; a name
// without an absolute directory is taken relative to the directory of the
// including file (or the current directory for a command-line file). Each
// line that is not blank and does not start with '*' goes through
// AddDestination. Refuses with a message a path over 300 characters, a file
// that cannot be opened or read, a line over 499 characters (or, with its
// blanks, over 64 KiB: an endless line is never read to its end) and a file
// that includes itself (with the chain of includes). Returns 0, 2046 or 4018 as AddDestination; the
// first failing line ends the read of this file and of every file including it.
int ReadDestinationFile(RunOptions* options, const char* name, bool toInputList);

// ---- Name masks ----------------------------------------------------------

// Matches `name` (nameLength characters) against `mask` (maskLength
// characters, '*' any run including none, '?' exactly one character, no
// escape). Neither needs a terminator. MatchNameNoCase compares after
// toupper in the current locale. An empty mask matches only an empty name.
bool MatchName(const char* name, size_t nameLength, const char* mask, size_t maskLength);
bool MatchNameNoCase(const char* name, size_t nameLength, const char* mask, size_t maskLength);

// Matches NUL-terminated `name` against NUL-terminated `mask`,
// case-sensitively when options->QuotedName is set (a destination was
// quoted somewhere in the command), else ignoring case.
bool MatchQueueMask(const RunOptions* options, const char* name, const char* mask);

// True when `name` is selected by InputList: an entry with an empty queue
// name selects every name, otherwise the entry's queue name is a mask used
// as in MatchQueueMask. No InputList: false.
bool InInputList(const RunOptions* options, const char* name);

#endif  // ZEPLO_NAMES_NAMES_H_
