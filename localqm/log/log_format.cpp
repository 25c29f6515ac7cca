// The formatter's text layout: LSNs, the lines of one record and the hex
// dump of its data. The columns are those that readers of IBM MQ's
// formatted log rely on; they are named in log.h and used only here.
#include <time.h>

#include <cstdio>
#include <cstring>

#include "localqm/log/log.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

// Appends `label` and fills up to `colon` the way the formatter does:
// one blank after the label, then dots every other column so that a blank
// comes just before the colon, then ": " (the value starts two columns
// after the colon).
void AppendLabel(std::string* line, const char* label, size_t colon) {
  line->append(label);
  if (line->size() < colon) line->push_back(' ');
  while (line->size() < colon) line->push_back((colon - line->size()) % 2 == 0 ? '.' : ' ');
  line->append(": ");
}

void AppendField(std::string* out, const char* label, const std::string& value) {
  std::string line;
  AppendLabel(&line, label, kLogLabelColon);
  line += value;
  out->append(line).push_back('\n');
}

std::string Lsn(int64_t lsn) {
  char text[32];
  LqmLogFormatLsn(lsn, text, sizeof text);
  return std::string("<") + text + ">";
}

// "Creation Time: 2024-01-30 13:50:31.146 GMT (UTC +0)".
std::string CreationTime(int64_t ms) {
  time_t secs = static_cast<time_t>(ms / 1000);
  struct tm tm;
  gmtime_r(&secs, &tm);
  char text[96];
  snprintf(text, sizeof text, "Creation Time: %04d-%02d-%02d %02d:%02d:%02d.%03d GMT (UTC +0)",
           (tm.tm_year + 1900) % 10000, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
           static_cast<int>(ms % 1000));
  return text;
}

// The Data.Locn line: where the data starts in the record (after the
// record's own header), then its length with the colon at the column the
// record kind has.
void AppendLocation(std::string* out, const LqmLogRecord& r) {
  const size_t colon = r.Kind == kLogPutPart ? kLogPartLengthColon : kLogMessageLengthColon;
  std::string line;
  AppendLabel(&line, "Data.Locn", kLogLabelColon);
  line += std::to_string(kLogRecordOverhead);
  line.resize(colon - 18, ' ');  // "Data.Length" and its dots take 18 columns
  AppendLabel(&line, "Data.Length", colon);
  line += std::to_string(r.Data.size());
  out->append(line).push_back('\n');
}

}  // namespace

void LqmLogFormatLsn(int64_t lsn, char* out, size_t outSize) {
  uint64_t v = static_cast<uint64_t>(lsn);
  snprintf(out, outSize, "%u:%u:%u:%u", static_cast<unsigned>(v >> 48 & 0xffff),
           static_cast<unsigned>(v >> 32 & 0xffff), static_cast<unsigned>(v >> 16 & 0xffff),
           static_cast<unsigned>(v & 0xffff));
}

bool LqmLogParseLsn(const char* text, int64_t* lsn) {
  *lsn = 0;
  size_t n = strlen(text);
  if (n >= 2 && text[0] == '<' && text[n - 1] == '>') {
    text++;
    n -= 2;
  }
  uint64_t value = 0;
  int words = 0;
  size_t i = 0;
  while (words < 4) {
    uint64_t word = 0;
    size_t start = i;
    while (i < n && text[i] >= '0' && text[i] <= '9' && i - start < 6)
      word = word * 10 + (text[i++] - '0');
    if (i == start || word > 0xffff) return false;
    value = value << 16 | word;
    words++;
    if (words < 4) {
      if (i >= n || text[i] != ':') return false;
      i++;
    }
  }
  if (i != n) return false;
  *lsn = static_cast<int64_t>(value);
  return true;
}

const char* LqmLogKindName(int kind) {
  switch (kind) {
    case kLogPutMessage:
      return "AQM Put Message";
    case kLogPutPart:
      return "AQM Put Part";
    case kLogGetMessage:
      return "AQM Get Message";
    case kLogCommit:
      return "ATM Commit Transaction";
    default:
      return "Unknown";
  }
}

void LqmLogFormatDump(const unsigned char* data, size_t length, std::string* out) {
  static const char kDigits[] = "0123456789ABCDEF";
  const int width = length > 99999 ? 6 : 5;
  const size_t perLine = kLogDumpBytesPerLine;
  char offset[32];
  for (size_t at = 0; at < length; at += perLine) {
    size_t n = length - at < perLine ? length - at : perLine;
    snprintf(offset, sizeof offset, "%0*zu:  ", width, at);
    std::string line = offset;
    std::string text;
    for (size_t k = 0; k < perLine; ++k) {
      if (k < n) {
        unsigned char b = data[at + k];
        line.push_back(kDigits[b >> 4]);
        line.push_back(kDigits[b & 15]);
        line.push_back(' ');
        text.push_back(b >= 0x20 && b < 0x7f ? static_cast<char>(b) : '.');
      } else {
        line.append("   ");
      }
    }
    out->append(line).append(" ").append(text).push_back('\n');
  }
}

void LqmLogFormatRecord(const LqmLogRecord& r, std::string* out) {
  std::string lsn = Lsn(r.Lsn);
  out->append("LOG RECORD - LSN ").append(lsn).append("\n**********\n\n");
  out->append("HLG Header: lrecsize ")
      .append(std::to_string(r.Data.size() + kLogRecordOverhead))
      .append(", version 1, rmid 0, eyecatcher HLRH\n");
  out->append(CreationTime(r.AtMs)).append("\n\n");
  AppendField(out, "LogRecdType", LqmLogKindName(r.Kind));
  if (r.Kind == kLogCommit) {
    AppendField(out, "XTranid", "TranType: LOCAL");
  } else {
    AppendField(out, "QueueName", r.Queue);
  }
  AppendField(out, "ThisLSN", lsn);
  AppendField(out, "PrevLSN", Lsn(r.PrevLsn));
  if (r.Kind == kLogPutMessage) AppendField(out, "Version", std::to_string(kMqLogHeaderVersion));
  AppendLocation(out, r);
  std::string data;
  AppendLabel(&data, "Data", kLogLabelColon);
  while (!data.empty() && data.back() == ' ') data.pop_back();
  out->append(data).push_back('\n');
  LqmLogFormatDump(r.Data.data(), r.Data.size(), out);
  out->push_back('\n');
}
