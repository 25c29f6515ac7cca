// The command line as a whole: combinations that are refused, the settings
// derived from it, and the two reports that tell the user what a run will
// select and how its output files are limited.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "zeplo/driver/driver.h"
#include "zeplo/files/files.h"
#include "zeplo/logreplay/logreplay.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

int Refuse(const char* message) {
  fputs(message, stderr);
  return kOptionsRefused;
}

// ctime text of an epoch value, with its own newline; times the platform
// cannot show are written as the number.
void TimeText(int64_t epoch, char* out, size_t size) {
  time_t t = static_cast<time_t>(epoch);
  char text[64];
  if (ctime_r(&t, text) != nullptr)
    snprintf(out, size, "%s", text);
  else
    snprintf(out, size, "%lld\n", static_cast<long long>(epoch));
}

// One end of the put-time window: as an age ("Younger than (1 hour) ...")
// when it was given as one, else as a time ("Put after  ..."), then with
// -Vt the raw epoch and how far it lies before now (that line has no
// newline of its own).
void PrintTimeBound(const RunOptions& o, int64_t bound, int32_t age, const char* ageLabel,
                    const char* timeLabel) {
  char when[80];
  TimeText(bound, when, sizeof when);
  if (age != 0) {
    char ageText[kQuantityTextSize];
    FormatDuration(ageText, age, false);
    fprintf(stderr, "  %s (%s) %s", ageLabel, ageText, when);
  } else {
    fprintf(stderr, "  %s %s", timeLabel, when);
  }
  if (o.TimeTrace)
    fprintf(stderr, "  %s %lld (%lld)", timeLabel, static_cast<long long>(bound),
            static_cast<long long>(o.NowSeconds - bound));
}

void PrintSearchList(const SearchString* list, const char* format, bool ebcdic) {
  for (int i = 0; i < kSearchStringsPerKind; i++) {
    const SearchString& s = list[i];
    if (s.Length <= 0) continue;
    int length = s.Length < kSearchStringBytes ? s.Length : kSearchStringBytes;
    char text[kSearchStringBytes + 1];
    memcpy(text, s.Text, static_cast<size_t>(length));
    text[length] = '\0';
    if (ebcdic)
      EbcdicToAscii(reinterpret_cast<unsigned char*>(text), reinterpret_cast<unsigned char*>(text),
                    length);
    fprintf(stderr, format, text);
  }
}

void PrintHexList(const SearchString* list, const char* format) {
  for (int i = 0; i < kSearchStringsPerKind; i++) {
    const SearchString& s = list[i];
    if (s.Length <= 0) continue;
    int length = s.Length < kSearchStringBytes ? s.Length : kSearchStringBytes;
    char hex[2 * kSearchStringBytes + 1];
    BytesToHex(s.Text, length, hex, 0);
    fprintf(stderr, format, hex);
  }
}

// -R: a rate needs an output queue; a repeated rate a browsed input queue.
int CheckRate(const RunOptions* options, bool inputQueues, bool outputQueue) {
  if (options->Rate != 0) {
    if (!outputQueue)
      return Refuse(
          "'Required rate' processing requires that the target is "
          "a Queue.\n");
    if (options->RateDuration != 0) {
      if (!inputQueues)
        return Refuse(
            "Repeated 'Required rate' processing requires that the "
            "input is a queue.\n");
      if (options->DestructiveGet)
        return Refuse(
            "Repeated 'Required rate' processing requires that you "
            "browse the input queue.\n");
    }
  }
  return 0;
}

// -T: ages in order, then made into put-time bounds.
void ApplyAges(RunOptions* options) {
  // YoungerThan is the larger age, the earlier put time.
  if (options->YoungerThan != 0 && options->OlderThan != 0 &&
      options->YoungerThan < options->OlderThan) {
    int32_t swap = options->YoungerThan;
    options->YoungerThan = options->OlderThan;
    options->OlderThan = swap;
  }
  if (options->YoungerThan != 0) options->PutAfter = options->NowSeconds - options->YoungerThan;
  if (options->OlderThan != 0) options->PutBefore = options->NowSeconds - options->OlderThan;
}

// Which sides are queues and which files, the summary and count displays,
// purge and the selector.
int CheckRoles(RunOptions* options, bool inputQueues, bool outputQueue) {
  // One file with input queues is where they are written to.
  if (options->InputFile[0] != '\0' && options->OutputFile[0] == '\0' && inputQueues) {
    snprintf(options->OutputFile, sizeof options->OutputFile, "%s", options->InputFile);
    options->InputFile[0] = '\0';
  }

  if (options->Summary) {
    if (options->OutputFile[0] == '\0')
      snprintf(options->OutputFile, sizeof options->OutputFile, "stdout");
    if (outputQueue)
      return Refuse(
          "Sorry, you can't specify an output queue with summary "
          "display.\n");
  }
  if (options->Count && (options->OutputFile[0] != '\0' || outputQueue))
    return Refuse(
        "Sorry, you can't specify an output queue/file with the "
        "count display.\n");

  if (inputQueues && options->InputFile[0] != '\0')
    return Refuse(
        "Please don't specify both an input queue and an input "
        "file.\n");
  if (!options->LogMode && !inputQueues && options->InputFile[0] == '\0')
    return Refuse("Please enter either an input queue or an input file.\n");
  if (outputQueue && options->OutputFile[0] != '\0')
    return Refuse(
        "Please enter either an output queue or an output file, "
        "not both.\n");

  if (inputQueues && options->Purge && !options->DestructiveGet)
    return Refuse("Purge is not valid when you are browsing the Input Queue\n");

  if (options->Selector != nullptr) {
    if (options->LogMode || options->InputFile[0] != '\0')
      return Refuse(
          "SQL92 Selection is only supported when the input is a "
          "queue\n");
    if (options->Purge)
      return Refuse(
          "The purge option is not supported when using the SQL92 "
          "selector\n");
  }
  return 0;
}

// File-name inserts, generic names and the -L limits that go with them.
int CheckFileNames(RunOptions* options) {
  if (FileNameHasIndexInsert(options->InputFile)) options->InputFileHasInserts = true;
  if (FileNameHasIndexInsert(options->OutputFile)) {
    // Without -L every such file holds one message (the default limit).
    options->OutputFileHasInserts = true;
    options->LimitsActive = true;
  }

  if (strchr(options->OutputFile, '*') != nullptr) {
    options->Generic = true;
    options->OutputFileHasInserts = true;
    if (!options->LimitsActive) {
      options->LimitsActive = true;
      options->MaxMessagesPerFile = 0;
      options->MaxFileSize = 524288000;  // 500 MiB per generic file
    }
  }
  if (strchr(options->InputFile, '*') != nullptr) {
    options->Generic = true;
    if (options->LimitsActive) {
      fputs("-L parameters are ignored in generic load\n\n", stderr);
      options->LimitsActive = false;
    }
  } else if (options->LimitsActive && !options->OutputFileHasInserts) {
    return Refuse(
        "The use of -L parameters requires the use of file index "
        "inserts\n");
  }
  return 0;
}

}  // namespace

int CheckOptions(RunOptions* options) {
  const bool inputQueues = HasInputQueues(options);
  const bool outputQueue = options->OutputQueueName[0] != '\0';
  int rc = CheckRate(options, inputQueues, outputQueue);
  if (rc != 0) return rc;
  ApplyAges(options);
  rc = CheckRoles(options, inputQueues, outputQueue);
  if (rc == 0) rc = CheckFileNames(options);
  if (rc != 0) return rc;

  // A delimited file is counted first when someone at a terminal can be
  // asked whether to go on with what was found.
  options->PreliminaryCount = options->NonNative && !options->WholeFileOneMessage &&
                              !options->NoPreliminaryCount && options->Interactive;
  if (options->Summary && options->DestructiveGet)
    return Refuse("Sumary option is not valid with move, use browse\n");
  if (options->Count && options->DestructiveGet)
    return Refuse("Count option is not valid with move, use browse\n");
  // A file of ids and ages, or of raw bytes, cannot be loaded back: a move
  // into one would remove messages for good.
  if (options->ShowTimeOnQueue && options->DestructiveGet)
    return Refuse("Time on queue option is not valid with move, use browse\n");
  if (options->RawBytes && options->DestructiveGet)
    return Refuse("Raw byte option is not valid with move, use browse\n");
  // The saved context belongs to the input connection: another queue
  // manager's put could only fail, after the first message was taken.
  if ((options->Context == ContextMode::PassAll || options->Context == ContextMode::PassIdentity) &&
      options->InputSlot != options->OutputSlot) {
    fputs("Sorry, context can only be passed between queues of one Queue Manager\n", stderr);
    return MQRC_CONTEXT_NOT_AVAILABLE;
  }
  options->RangeReport = NormaliseRange(options);
  // The log's source is settled before connecting: it decides whether the
  // -m queue manager is connected at all.
  if (options->LogMode) return PrepareLogCommand(options);
  return 0;
}

bool HasInputQueues(const RunOptions* options) {
  return options->InputList != nullptr && options->InputList->Count > 0;
}

RangeLine NormaliseRange(RunOptions* options) {
  int32_t& first = options->RangeFirst;
  int32_t& last = options->RangeLast;
  if (first != 0 && last != 0) {
    if (first > last) {
      int32_t swap = first;
      first = last;
      last = swap;
    }
    return first == last ? RangeLine::Single : RangeLine::Between;
  }
  if (first != 0) return RangeLine::Onwards;
  if (last != 0) {
    first = 1;
    return RangeLine::UpTo;
  }
  return RangeLine::None;
}

void PrintSelectionReport(const RunOptions* options, RangeLine rangeLine) {
  const RunOptions& o = *options;
  if (o.TimeTrace) fprintf(stderr, "Current Time:%lld\n", static_cast<long long>(o.NowSeconds));
  fputs(o.InvertSelection ? "Inverse Message selection active:\n" : "Message selection active:\n",
        stderr);
  switch (rangeLine) {
    case RangeLine::Single:
      fprintf(stderr, "  Message index %d only.\n", o.RangeFirst);
      break;
    case RangeLine::Between:
      fprintf(stderr, "  Message indexes %d -> %d.\n", o.RangeFirst, o.RangeLast);
      break;
    case RangeLine::Onwards:
      fprintf(stderr, "  Message indexes %d onwards.\n", o.RangeFirst);
      break;
    case RangeLine::UpTo:
      fprintf(stderr, "  Message index up to %d.\n", o.RangeLast);
      break;
    case RangeLine::None:
      break;
  }
  if (o.Selector != nullptr) fprintf(stderr, "  Messages matching selector '%s'\n", o.Selector);
  char text[kQuantityTextSize];
  if (o.SizeAtLeast != 0xFFFFFFFFu) {
    FormatQuantity(o.SizeAtLeast, text, SizeUnits, 3);
    fprintf(stderr, "  Message size greater or equal to %s\n", text);
  }
  if (o.SizeBelow != 0xFFFFFFFFu) {
    FormatQuantity(o.SizeBelow, text, SizeUnits, 3);
    fprintf(stderr, "  Message size less than %s\n", text);
  }
  if (o.PriorityMin != -1)
    fprintf(stderr, "  Message priority greater or equal to %d\n", o.PriorityMin);
  if (o.PriorityMax != -1)
    fprintf(stderr, "  Message priority less than or equal to %d\n", o.PriorityMax);
  char hex[2 * kIdentifierLength + 1];
  if (o.SelectByMsgId) {
    BytesToHex(o.SelectMsgId, kIdentifierLength, hex, 2 * kIdentifierLength);
    fprintf(stderr, "  Message Identifier 0x'%s'\n", hex);
  }
  if (o.SelectByCorrelId) {
    BytesToHex(o.SelectCorrelId, kIdentifierLength, hex, 2 * kIdentifierLength);
    fprintf(stderr, "  Correlation Identifier 0x'%s'\n", hex);
  }
  if (o.SelectByGroupId) {
    BytesToHex(o.SelectGroupId, kIdentifierLength, hex, 2 * kIdentifierLength);
    fprintf(stderr, "  Group Identifier 0x'%s'\n", hex);
  }
  if (o.PutAfter != 0) PrintTimeBound(o, o.PutAfter, o.YoungerThan, "Younger than", "Put after ");
  if (o.PutBefore != 0)
    PrintTimeBound(o, o.PutBefore, o.OlderThan, o.PutAfter != 0 ? "Older   than" : "Older than",
                   "Put before");
  if (o.SelectByTarget) {
    if (o.TargetQmgrMask[0] != '\0' || o.TargetQueueMask[0] == '\0')
      fprintf(stderr, "  Messages targeted to %s/%s\n", o.TargetQmgrMask, o.TargetQueueMask);
    else
      fprintf(stderr, "  Messages targeted to %s\n", o.TargetQueueMask);
  }
  if (o.SelectByDlqReason)
    fprintf(stderr, "  Messages with DLQ Reason %d %s\n", o.DlqReason, MqReasonText(o.DlqReason));
  PrintSearchList(o.SearchAscii, "  Containing the ASCII string '%s'\n", false);
  PrintSearchList(o.SearchAsciiNot, "  Not containing the ASCII string '%s'\n", false);
  PrintSearchList(o.SearchEbcdic, "  Containing the EBCDIC string '%s'\n", true);
  PrintSearchList(o.SearchEbcdicNot, "  Not containing the EBCDIC string '%s'\n", true);
  PrintHexList(o.SearchHex, "  Containing the HEX string 0x'%s'\n");
  PrintHexList(o.SearchHexNot, "  Not containing the HEX string 0x'%s'\n");
  fputs("\n", stderr);
}

void PrintLimitsReport(const RunOptions* options) {
  fputs("Output file limits active:\n", stderr);
  if (options->MaxMessagesPerFile != 0)
    fprintf(stderr, "  Maximum number of messages:%d\n", options->MaxMessagesPerFile);
  char text[kQuantityTextSize];
  if (options->MaxFileSize != 0) {
    FormatQuantity(options->MaxFileSize, text, SizeUnits, 3);
    fprintf(stderr, "  Maximum file size         :%s\n", text);
  }
  if (options->MaxFileAge != 0) {
    FormatQuantity(options->MaxFileAge, text, TimeUnitsSec, 3);
    fprintf(stderr, "  Maximum file age          :%s\n", text);
  }
  fputs("\n", stderr);
}
