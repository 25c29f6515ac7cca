// One record of a delimited file made into the message in hand: its
// bounds, its properties as an MQRFH2, and the whole-file mode (-n1).
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

// The fixed part of the MQRFH2 plus its one NameValueLength.
constexpr int32_t kRfh2Prefix = MQRFH2_LENGTH_2 + 4;
constexpr int64_t kPropBlockUnit = 1024;

// IBM MQ's default descriptor, version 1, with `format`.
void DefaultDescriptor(MessageBuffer* m, const char* format) {
  static const MQMD kDefault = {MQMD_DEFAULT};
  m->OwnDescriptor = kDefault;
  memcpy(m->OwnDescriptor.Format, format, MQ_FORMAT_LENGTH);
  m->Descriptor = &m->OwnDescriptor;
}

// The message as the MQRFH2 holding `props` followed by `data`, built in
// the "Msg+Properties" block (kept and reused while it is large enough).
int BuildWithProperties(Run* run, const unsigned char* props, int32_t propLength,
                        const unsigned char* data, int32_t dataLength) {
  MessageBuffer& m = run->Message;
  int64_t needed = kRfh2Prefix + (propLength + 3) / 4 * 4 + int64_t{dataLength};
  if (m.PropStorage == nullptr || m.PropCapacity < needed) {
    int64_t size = (needed + kPropBlockUnit - 1) / kPropBlockUnit * kPropBlockUnit;
    auto* block = static_cast<unsigned char*>(CSGetMem(static_cast<size_t>(size), "Msg+Properties"));
    if (block == nullptr) {
      fprintf(stderr, "Can not allocate buffer for message and properties (%d)\n",
              static_cast<int>(size));
      return MQRC_STORAGE_NOT_AVAILABLE;
    }
    if (run->Options->MemoryTrace && m.PropStorage != nullptr)
      fprintf(stderr, "Freeing %p\n", static_cast<void*>(m.PropStorage));
    CSFreeMem(m.PropStorage);
    m.PropStorage = block;
    m.PropCapacity = static_cast<int32_t>(size);
  }
  char* text = reinterpret_cast<char*>(m.PropStorage + kRfh2Prefix);
  int32_t length = propLength;
  if (run->Options->KeepPropWhitespace) {
    if (length > 0) memcpy(text, props, static_cast<size_t>(length));
  } else {
    length = StripPropertyWhitespace(text, reinterpret_cast<const char*>(props), propLength);
  }
  int32_t padded = (length + 3) / 4 * 4;
  memset(text + length, ' ', static_cast<size_t>(padded - length));
  MQRFH2 header{};
  memcpy(header.StrucId, MQRFH_STRUC_ID, sizeof header.StrucId);
  header.Version = MQRFH_VERSION_2;
  header.StrucLength = kRfh2Prefix + padded;
  header.Encoding = MQENC_NATIVE;
  header.CodedCharSetId = MQCCSI_INHERIT;
  memcpy(header.Format, MQFMT_STRING, MQ_FORMAT_LENGTH);
  header.Flags = MQRFH_NONE;
  header.NameValueCCSID = 1208;
  memcpy(m.PropStorage, &header, MQRFH2_LENGTH_2);
  memcpy(m.PropStorage + MQRFH2_LENGTH_2, &padded, 4);
  if (dataLength > 0)
    memcpy(m.PropStorage + kRfh2Prefix + padded, data, static_cast<size_t>(dataLength));
  DefaultDescriptor(&m, MQFMT_RF_HEADER_2);
  m.Cursor = m.PropStorage;
  m.DataLength = kRfh2Prefix + padded + dataLength;
  return 0;
}

// -n1: the whole input file as one message, read into the message storage
// until the file ends (so a pipe or a file that grows is read in full too).
int ReadWholeFile(Run* run) {
  FILE* in = run->Files.InputStream;
  if (in == nullptr) {
    run->StopRequested = true;
    return 0;
  }
  struct stat st {};
  if (fstat(fileno(in), &st) != 0) {
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                          "Failed to find the length of the input file RC(%d)\n", errno);
  }
  int64_t size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  if (size > kMaxDelimitedRecord) {
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "File is too large at %lld bytes\n",
                          static_cast<long long>(size));
  }
  rewind(in);
  int64_t length = 0;
  for (int64_t want = size + 1;; want = length * 2 + 4096) {
    if (want > kMaxDelimitedRecord + 1) want = kMaxDelimitedRecord + 1;
    if (GrowMessageStorage(run, want) != 0) {
      // This mode's own text replaces the storage layer's.
      run->ExitMessage[0] = '\0';
      return SetExitMessage(run, MQRC_STORAGE_NOT_AVAILABLE,
                            "Failed to allocate storage of %lld bytes.\n",
                            static_cast<long long>(want));
    }
    MessageBuffer& m = run->Message;
    size_t got = fread(m.Storage + length, 1, static_cast<size_t>(m.Capacity - length), in);
    length += static_cast<int64_t>(got);
    run->Files.InputFileBytes = length;
    if (ferror(in)) {
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Error reading from input file RC(%d)\n",
                            errno);
    }
    if (length > kMaxDelimitedRecord) {
      return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "File is too large at %lld bytes\n",
                            static_cast<long long>(length));
    }
    if (length < m.Capacity) break;  // the file ended before the storage did
  }
  CloseInputFile(run);
  DefaultDescriptor(&run->Message, MQFMT_STRING);
  run->Message.Cursor = run->Message.Storage;
  run->Message.DataLength = static_cast<int32_t>(length);
  return 0;
}

// The record's properties, when a property section stands between the
// read position and the message start `msgAt`: *found, and the property
// text's bounds. 0, or 2208 when its end delimiter is missing.
int FindProperties(Run* run, int64_t msgAt, bool* found, int64_t* from, int64_t* to) {
  DelimitedFile* df = &run->Files.Delimited;
  *found = false;
  DelimiterSearch start;
  StartDelimiterSearch(&start, &df->PropStart, false, df->ReadPos, df->ReadPos, msgAt);
  bool got = false;
  int rc = FillFileBuffer(run, &start, &got);
  if (rc != 0 || !got) return rc;  // none before this message: it has none
  DelimiterSearch end;
  StartDelimiterSearch(&end, &df->PropEnd, true, start.At, start.At + start.Length, msgAt + 1);
  rc = FillFileBuffer(run, &end, &got);
  if (rc != 0) return rc;
  if (!got) {
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR, "Missing end property delimiter '%.*s' .\n",
                          static_cast<int>(df->PropEnd.Length),
                          reinterpret_cast<const char*>(df->PropEnd.Bytes));
  }
  bool include = run->Options->IncludePropDelimiters;
  *from = include ? start.At : start.At + start.Length;
  *to = include ? end.At + end.Length : end.At;
  *found = true;
  return 0;
}

// A search that ended unfound at the end of the file while the record
// still holds text: the record never ends, which is refused rather than
// dropped unseen with everything after it.
int RecordNeverEnds(Run* run, const DelimiterSearch& s, int64_t recordAt) {
  if (s.Rejected) {
    return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                          "Unbalanced brackets in the message at byte %lld of file '%s'"
                          " (-nB turns the bracket check off)\n",
                          static_cast<long long>(recordAt), ReaderFileName(run));
  }
  return SetExitMessage(run, MQRC_FILE_SYSTEM_ERROR,
                        "No end delimiter found for the message at byte %lld of file '%s'\n",
                        static_cast<long long>(recordAt), ReaderFileName(run));
}

}  // namespace

int ReadDelimitedMessage(Run* run) {
  const RunOptions* o = run->Options;
  if (o->WholeFileOneMessage) return ReadWholeFile(run);
  DelimitedFile* df = &run->Files.Delimited;
  MessageBuffer& m = run->Message;
  m.DataLength = 0;
  if (run->Files.InputStream == nullptr) {
    run->StopRequested = true;
    return 0;
  }
  bool more = false;
  int rc = EnsureDelimitedText(run, &more);
  if (rc != 0) return rc;
  df->KeepPos = df->ReadPos;  // what lies before has been delivered
  if (!more) {
    run->StopRequested = true;
    return 0;
  }

  DelimiterSearch start;
  bool found = false;
  bool properties = df->PropStart.Length > 0;
  StartDelimiterSearch(&start, &df->MsgStart, false, df->ReadPos, df->ReadPos, -1);
  rc = FillFileBuffer(run, &start, &found);
  if (rc != 0) return rc;
  if (!found) {
    if (start.Rejected) return RecordNeverEnds(run, start, df->ReadPos);
    run->StopRequested = true;  // text after the last record: no record
    return 0;
  }
  int64_t msgAt = start.At;
  bool withProps = false;
  int64_t propFrom = 0, propTo = 0;
  if (properties) {
    rc = FindProperties(run, msgAt, &withProps, &propFrom, &propTo);
    if (rc != 0) return rc;
  }
  int64_t dataFrom = msgAt + start.Length;
  df->ReadPos = dataFrom;

  DelimiterSearch end;
  StartDelimiterSearch(&end, &df->MsgEnd, true, msgAt, dataFrom, -1);
  rc = FillFileBuffer(run, &end, &found);
  if (rc != 0) return rc;
  if (!found) return RecordNeverEnds(run, end, msgAt);
  df->ReadPos = end.At + end.Length;

  if (o->IncludeMsgDelimiters) dataFrom = msgAt;
  int64_t dataTo = o->IncludeMsgDelimiters ? end.At + end.Length : end.At;
  int64_t dataLength = dataTo > dataFrom ? dataTo - dataFrom : 0;
  int64_t propLength = withProps && propTo > propFrom ? propTo - propFrom : 0;
  if (dataLength + propLength > kMaxDelimitedRecord) return DelimitedRecordTooLong(run);
  if (run->Files.CountingPass) {
    run->Files.FoundCount++;
    if (withProps) run->Files.FoundWithPropsCount++;
    return 0;
  }
  if (withProps) {
    return BuildWithProperties(run, DelimitedBytes(df, propFrom), static_cast<int32_t>(propLength),
                               DelimitedBytes(df, dataFrom), static_cast<int32_t>(dataLength));
  }
  // A view into the file buffer: no copy.
  DefaultDescriptor(&m, MQFMT_STRING);
  m.Cursor = const_cast<unsigned char*>(DelimitedBytes(df, dataFrom));
  m.DataLength = static_cast<int32_t>(dataLength);
  return 0;
}
