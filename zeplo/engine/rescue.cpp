// Outside syncpoint (-t 0) a message got from its queue has left it for
// good when the get returns. If it then cannot be delivered (a put or a
// file write fails, a distribution list takes it only in part), it must
// not vanish: it is put back on the queue it came from, or else saved in a
// rescue file of its own, or as a last resort written to standard error in
// the message file layout. The run says which, with the message's MsgId.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zeplo/engine/engine.h"
#include "zeplo/files/files.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// The message as it was got: delivery may have stripped headers, set
// fields or moved the cursor.
void RestoreTakenMessage(Run* run) {
  MessageBuffer& m = run->Message;
  m.OwnDescriptor = run->Engine.TakenDescriptor;
  m.Descriptor = &m.OwnDescriptor;
  m.Cursor = run->Engine.TakenData != nullptr ? run->Engine.TakenData : m.Storage;
  m.DataLength = run->Engine.TakenLength;
}

// MQPUT1 back onto the input queue, with the descriptor it had (MsgId and
// context kept). Returns 0 or the reason.
int PutBack(Run* run, const QueueElement* inputQueue) {
  QmgrSlot& slot = run->Qmgrs[run->Options->InputSlot];
  MessageBuffer& m = run->Message;
  MQOD od = {MQOD_DEFAULT};
  SetMqField(od.ObjectName, inputQueue->Name);
  MQPMO pmo = {MQPMO_DEFAULT};
  pmo.Options = MQPMO_NO_SYNCPOINT | MQPMO_SET_ALL_CONTEXT;
  MQLONG compCode = MQCC_OK;
  MQLONG reason = MQRC_NONE;
  slot.Api->MQPUT1(slot.Hconn, &od, m.Descriptor, &pmo, m.DataLength, m.Cursor, &compCode, &reason);
  if (run->Options->PrintApis || compCode == MQCC_FAILED) {
    ReportMqiCall("MQPUT1", slot.Name, inputQueue->Name, reason);
  }
  if (compCode != MQCC_FAILED) return 0;
  return reason != MQRC_NONE ? reason : MQRC_UNEXPECTED_ERROR;
}

// Writes the message in hand, in the plain layout, with a header and the
// end line, to `stream` named `name`. Returns 0 or the writer's code.
int WriteRescued(const Run* run, FILE* stream, const char* name, const QueueElement* inputQueue) {
  // Copies of the run and its options, so that nothing of the run's own
  // output (its stream, counts, layout switches, error text) changes.
  RunOptions options = *run->Options;
  options.Count = options.NoHeader = options.NoMqmd = false;
  options.AsciiLines = options.AsciiColumns = options.WriteIndex = options.ShowTimeOnQueue = false;
  options.Printable = options.TextLines = options.RawBytes = options.Summary = false;
  Run copy = *run;
  copy.Options = &options;
  copy.Files.OutputStream = stream;
  snprintf(copy.Files.CurrentOutputFile, sizeof copy.Files.CurrentOutputFile, "%s", name);
  copy.Settings.OutputIsNull = false;
  copy.ExitMessage[0] = '\0';
  int rc = WriteFileHeader(&copy, inputQueue->Name);
  if (rc == 0) rc = WriteMessage(&copy);
  // The end line marks the file complete: without it a load takes the
  // file for one cut short and refuses it.
  if (rc == 0) rc = WriteFileEnd(&copy);
  return rc;
}

// A new file "zeplo-rescue-<pid>[-n].zpd" in the working directory, never
// an existing one nor through a link. Returns the stream or null.
FILE* CreateRescueFile(char* name, size_t nameSize) {
  for (int attempt = 0; attempt < 100; attempt++) {
    if (attempt == 0) {
      snprintf(name, nameSize, "zeplo-rescue-%d.zpd", static_cast<int>(getpid()));
    } else {
      snprintf(name, nameSize, "zeplo-rescue-%d-%d.zpd", static_cast<int>(getpid()), attempt);
    }
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      FILE* stream = fdopen(fd, "w");
      if (stream == nullptr) close(fd);
      return stream;
    }
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

// Saves the message in a rescue file, on disk before it counts as saved.
// Returns true when it is.
bool SaveInRescueFile(const Run* run, const QueueElement* inputQueue, char* name, size_t nameSize) {
  FILE* stream = CreateRescueFile(name, nameSize);
  if (stream == nullptr) return false;
  bool saved = WriteRescued(run, stream, name, inputQueue) == 0 && fflush(stream) == 0 &&
               fsync(fileno(stream)) == 0;
  if (fclose(stream) != 0) saved = false;
  if (!saved) unlink(name);
  return saved;
}

}  // namespace

bool RescueApplies(const Run* run, const QueueElement* inputQueue) {
  // A descriptor-only get (-f null) holds no data: there is nothing to
  // deliver and nothing to rescue, by the run's own choice.
  return inputQueue != nullptr && run->Options->DestructiveGet &&
         run->Options->TransactionLimit == 0 && !run->Settings.NoData;
}

void RescueTakenMessage(Run* run, const QueueElement* inputQueue) {
  int32_t reached = run->Engine.PutsForMessage;
  int32_t destinations = run->Options->OutputList != nullptr ? run->Options->OutputList->Count : 1;
  RestoreTakenMessage(run);
  char msgId[2 * MQ_MSG_ID_LENGTH + 1];
  BytesToHex(run->Engine.TakenDescriptor.MsgId, MQ_MSG_ID_LENGTH, msgId, 0);
  char what[160];
  if (reached > 0) {
    snprintf(what, sizeof what, "Message X'%s' reached only %d of its %d destinations", msgId,
             reached, destinations);
  } else {
    snprintf(what, sizeof what, "Message X'%s' could not be delivered", msgId);
  }
  int reason = PutBack(run, inputQueue);
  if (reason == 0) {
    fprintf(stderr, "%s: it was put back on queue '%s'.\n", what, inputQueue->Name);
    return;
  }
  char name[64];
  if (SaveInRescueFile(run, inputQueue, name, sizeof name)) {
    fprintf(stderr,
            "%s and could not be put back on queue '%s' (RC(%d) %s): it was saved in file "
            "'%s'.\n",
            what, inputQueue->Name, reason, MqReasonText(reason), name);
    return;
  }
  fprintf(stderr,
          "%s and could neither be put back on queue '%s' (RC(%d) %s) nor saved in a file: "
          "here it is, in the message file layout.\n",
          what, inputQueue->Name, reason, MqReasonText(reason));
  WriteRescued(run, stderr, "standard error", inputQueue);
  fflush(stderr);
}
