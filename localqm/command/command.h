// localqm command: the PCF command server of a queue manager.
//
// Requests are PCF messages (Format MQADMIN) put to
// SYSTEM.ADMIN.COMMAND.QUEUE. There is no server process: the put that
// brings a request to the command queue serves it in the putting process
// (LqmCommandQueueReached, called by MQPUT and MQPUT1), and the admin
// command serves what waits there when it starts the server. A stopped
// server leaves requests on the command queue, as IBM MQ's does when its
// command server is not running.
//
// Serving one request is one transaction on the queue manager's store: the
// request is taken from the command queue and its replies are put on its
// ReplyToQ in the same commit, so a request is never answered twice nor
// lost half answered. Replies are MQCFT_RESPONSE messages (MQCFT_XR_ITEM
// and a closing MQCFT_XR_SUMMARY for an MQCFT_COMMAND_XR request), one per
// queue for the inquiries, numbered from 1, the last one marked
// MQCFC_LAST, with the request's MsgId as CorrelId. A request that cannot
// be served gets one reply whose header carries MQCC_FAILED and IBM MQ's
// reason for the fault (an MQRCCF_* code, or 2085 when no queue matches),
// with MQIACF_PARAMETER_ID naming the parameter at fault when there is one.
// Replies that cannot be put on their queue go to the dead-letter queue
// behind an MQDLH; when that fails too they are dropped, like a reply to a
// request that names no ReplyToQ.
//
// Commands served: Inquire Queue (MQCMD_INQUIRE_Q) and Inquire Queue
// Status (MQCMD_INQUIRE_Q_STATUS, status type MQIACF_Q_STATUS). Every
// other command gets MQRCCF_CFH_COMMAND_ERROR.
//
// State of its own, in tables this folder creates in the store when it
// first needs them: whether the server runs (default: it does), and each
// queue's maximum file size in megabytes (default 2088960, IBM MQ's).
//
// Errors: procedures return 0, an MQ reason for the caller's own mistake,
// or a store failure (2102/2195) as the core does.
#ifndef LOCALQM_COMMAND_COMMAND_H_
#define LOCALQM_COMMAND_COMMAND_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "localqm/core/core.h"
#include "mqi/mqi.h"

struct LqmHandle;  // localqm/api: an open object handle

inline constexpr const char kLqmCommandQueue[] = "SYSTEM.ADMIN.COMMAND.QUEUE";
// IBM MQ's default MAXFSIZE, in megabytes.
inline constexpr MQLONG kLqmDefaultMaxFileSize = 2088960;
// Bytes a message costs in its queue's file besides its data: its
// version-2 descriptor.
inline constexpr int64_t kLqmFileBytesPerMessage = 364;

// ---- The server (server.cpp) ----

// The hook of MQPUT and MQPUT1 after a put through handle `h` worked: when
// the queue (or a destination of the list) is the command queue of its
// queue manager, serves the requests waiting there. Failures are not the
// putter's: they leave the requests where they are.
void LqmCommandQueueReached(const LqmHandle* h);

// Serves every committed request on the command queue of `store`'s queue
// manager, oldest first, unless the server is stopped. *served (may be
// null) counts the requests taken. Opens and ends its own transactions.
// 0 or a store failure (the request being served then stays).
int LqmCommandServe(LqmStore* store, long* served);

// Whether the command server runs, and switching it. Setting it running
// does not serve anything by itself (LqmCommandServe does).
int LqmCommandServerRunning(LqmStore* store, bool* running);
int LqmCommandServerSet(LqmStore* store, bool running);

// Defines the SYSTEM.* queues a new queue manager has besides the ones the
// core defines (channel, cluster, event and initiation queues, and the
// model SYSTEM.MQSC.REPLY.QUEUE), and this folder's tables. Inside the
// caller's transaction. 0 or a store failure.
int LqmDefineSystemQueues(LqmStore* store);

// ---- Queue file sizes (server.cpp) ----

// What the queue's file holds: its current size in megabytes, rounded up
// (every row of the queue, in a unit of work or not, costs its data and
// kLqmFileBytesPerMessage), its maximum (as set, or the default), and the
// rows in units of work.
struct LqmQueueFileStatus {
  MQLONG FileSize;
  MQLONG MaxFileSize;
  MQLONG Uncommitted;
};
// 0, or a store failure. A queue that does not exist holds nothing.
int LqmQueueFileStatusRead(LqmStore* store, const char* queue, LqmQueueFileStatus* out);
// Sets the maximum file size (1 to 999999999 MB). 0; 2085 for an unknown
// queue; 2046 for a value out of range.
int LqmQueueSetMaxFileSize(LqmStore* store, const char* queue, MQLONG megabytes);

// ---- PCF messages (pcf_codec.cpp) ----

// One parameter of a request, integers already in this machine's order.
struct LqmPcfParam {
  MQLONG Type;                 // MQCFT_INTEGER, _STRING or _INTEGER_LIST
  MQLONG Parameter;
  MQLONG Value;                // MQCFIN
  std::string Text;            // MQCFST: StringLength characters, as sent
  std::vector<MQLONG> Values;  // MQCFIL
};

struct LqmPcfRequest {
  MQLONG Type;                 // MQCFT_COMMAND or MQCFT_COMMAND_XR
  MQLONG Version;
  MQLONG Command;
  std::vector<LqmPcfParam> Params;
};

// Reads a request whose integers are in `encoding` (big-endian when its
// integer part is MQENC_INTEGER_NORMAL, else little-endian) from `length`
// bytes of `data`. Never reads outside them. Returns 0, or the reason IBM
// MQ's command server gives for the fault (MQRCCF_CFH_* for the header,
// MQRCCF_MSG_LENGTH_ERROR when a structure runs past the data, the
// structure's *_LENGTH_ERROR, MQRCCF_CFST_STRING_LENGTH_ERR,
// MQRCCF_CFIL_COUNT_ERROR, MQRCCF_STRUCTURE_TYPE_ERROR for a type a request
// cannot carry), with *badParameter set to the parameter at fault (0 when
// none). *out holds the header fields read so far even then.
int LqmPcfParse(const unsigned char* data, size_t length, MQLONG encoding, LqmPcfRequest* out,
                MQLONG* badParameter);

// A reply being built, in this machine's byte order.
struct LqmPcfReply {
  std::vector<unsigned char> Bytes;
};
// Starts a reply: the MQCFH with these values and no parameters.
void LqmPcfReplyStart(LqmPcfReply* reply, MQLONG type, MQLONG version, MQLONG command,
                      MQLONG seq, MQLONG control, MQLONG compCode, MQLONG reason);
// Appends an MQCFIN, or an MQCFST holding `text` blank-padded to `width`
// characters (its own length when width is 0), and counts it in the header.
void LqmPcfReplyInt(LqmPcfReply* reply, MQLONG parameter, MQLONG value);
void LqmPcfReplyString(LqmPcfReply* reply, MQLONG parameter, const char* text, size_t width);
// Sets the header's Control and MsgSeqNumber of a finished reply.
void LqmPcfReplyMark(LqmPcfReply* reply, MQLONG seq, MQLONG control);

// ---- Commands (queue_commands.cpp) ----

// The replies to one request message (its descriptor and data), in order,
// as the command server sends them; the caller adds the descriptors. Reads
// the queues of `store` inside the caller's transaction. 0 or a store
// failure (then no reply is due: the request stays for a later try).
int LqmPcfAnswer(LqmStore* store, const MQMD& md, const unsigned char* data, size_t length,
                 std::vector<LqmPcfReply>* replies);

#endif  // LOCALQM_COMMAND_COMMAND_H_
