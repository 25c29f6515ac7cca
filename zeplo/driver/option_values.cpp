// The options whose value is a small language of letters: -A (descriptor
// overrides), -C (context), -d (display), -g (get by identifier), -G (get
// filters), -L (file limits), -O (general), -v (verbose) and -V
// (diagnostics).
//
// Each procedure applies one option value to RunOptions and returns 0 or
// 2046 after printing its refusal (and, where the option has them, its usage
// lines). A refusal leaves the run to end; fields it already changed do not
// matter then.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <span>

#include "zeplo/driver/driver.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// Largest -dw value: 64 KB of data (128 KB of digits) on one line.
constexpr int kMaxDataWidth = 65536;

// Reads the digits at value[*i] (none: 0) and advances past them, with
// saturation instead of overflow.
int64_t TakeDigits(const char* value, size_t* i, int64_t limit) {
  int64_t n = 0;
  while (isdigit(static_cast<unsigned char>(value[*i]))) {
    int digit = value[*i] - '0';
    n = n > (limit - digit) / 10 ? limit : n * 10 + digit;
    (*i)++;
  }
  return n;
}

// -Ar: [']qmgr<sep>queue['] into ReplyToQMgr/ReplyToQ.
int SetReplyTo(RunOptions* options, const char* text) {
  char value[kExitMessageLength];
  if (text[0] == '\'') text++;
  snprintf(value, sizeof value, "%s", text);
  size_t length = strlen(value);
  if (length > 0 && value[length - 1] == '\'') value[--length] = '\0';
  const char* sep = nullptr;
  if (options->QueueSeparator != 0) {
    sep = strchr(value, options->QueueSeparator);
  } else {
    for (char c : {'#', ',', '\\', '/'}) {
      sep = strchr(value, c);
      if (sep != nullptr) break;
    }
  }
  MQMD* md = &options->Override;
  if (sep == nullptr) {
    if (length > kMqNameLength) {
      fprintf(stderr, "The Queue name '%s' is too long.\n", value);
      return kOptionsRefused;
    }
    SetMqField(md->ReplyToQ, value);
    SetMqField(md->ReplyToQMgr, "");
    return 0;
  }
  size_t qmgrLength = static_cast<size_t>(sep - value);
  if (qmgrLength > kMqNameLength) {
    fprintf(stderr, "The Queue Manager part of reply queue '%s' is too long.\n", value);
    return kOptionsRefused;
  }
  if (strlen(sep + 1) > kMqNameLength) {
    fprintf(stderr, "The Queue name part of reply queue '%s' is too long.\n", value);
    return kOptionsRefused;
  }
  char qmgr[kMqNameLength + 1];
  snprintf(qmgr, sizeof qmgr, "%.*s", static_cast<int>(qmgrLength), value);
  SetMqField(md->ReplyToQMgr, qmgr);
  SetMqField(md->ReplyToQ, sep + 1);
  return 0;
}

}  // namespace

int ParseAttributeOverride(RunOptions* options, const char* value) {
  if (value[0] == '\0' || value[1] != ':') {
    fprintf(stderr, "':' missing as second character in parameter '-A %s'\n", value);
    return kOptionsRefused;
  }
  MQMD* md = &options->Override;
  const char* text = value + 2;
  switch (value[0]) {
    case 'c':
      if (!ReadWholeInt(text, false, &md->CodedCharSetId)) return RefuseValue('A', value);
      options->OverrideFields |= kOverrideCodedCharSetId;
      return 0;
    case 'e':
      // Signed: -1 is MQEI_UNLIMITED.
      if (!ReadWholeInt(text, true, &md->Expiry)) return RefuseValue('A', value);
      options->OverrideFields |= kOverrideExpiry;
      return 0;
    case 'f':
      // The first 8 characters; the rest of the field is zero.
      memset(md->Format, 0, sizeof md->Format);
      memcpy(md->Format, text, strnlen(text, sizeof md->Format));
      options->OverrideFields |= kOverrideFormat;
      return 0;
    case 'p':
      // Signed: -1 is MQPRI_PRIORITY_AS_Q_DEF.
      if (!ReadWholeInt(text, true, &md->Priority)) return RefuseValue('A', value);
      options->OverrideFields |= kOverridePriority;
      return 0;
    case 'r': {
      int rc = SetReplyTo(options, text);
      if (rc != 0) return rc;
      md->MsgType = MQMT_REQUEST;
      options->OverrideFields |= kOverrideReplyTo | kOverrideMsgType;
      return 0;
    }
    case 't': {
      static const struct {
        const char* Word;
        MQLONG Type;
      } kTypes[] = {{"REQUEST", MQMT_REQUEST},
                    {"REPLY", MQMT_REPLY},
                    {"DATAGRAM", MQMT_DATAGRAM},
                    {"REPORT", MQMT_REPORT}};
      for (const auto& t : kTypes) {
        if (CompareNoCase(text, t.Word) == 0) {
          md->MsgType = t.Type;
          options->OverrideFields |= kOverrideMsgType;
          return 0;
        }
      }
      fprintf(stderr, "Unrecognised -At: parameter '%s'\n", text);
      return kOptionsRefused;
    }
    default:
      fprintf(stderr, "Unrecognised 'A' flag '%c'\n", value[0]);
      return kOptionsRefused;
  }
}

int ParseContext(RunOptions* options, const char* value) {
  if (value[0] == '\0' || value[1] != '\0') {
    fputs("The context parameter can only be a single letter\n\n", stderr);
    PrintOptionUsage(options, 'C');
    return kOptionsRefused;
  }
  switch (value[0]) {
    case 'A':
      options->Context = ContextMode::SetAll;
      return 0;
    case 't':
      options->Context = ContextMode::SetAllUpdateTimes;
      return 0;
    case 'I':
      options->Context = ContextMode::SetIdentity;
      return 0;
    case 'a':
      options->Context = ContextMode::PassAll;
      return 0;
    case 'i':
      options->Context = ContextMode::PassIdentity;
      return 0;
    case 'd':
      options->Context = ContextMode::Default;
      return 0;
    case 'n':
      options->Context = ContextMode::None;
      return 0;
    default:
      fputs("I did not understand your context parameter\n\n", stderr);
      PrintOptionUsage(options, 'C');
      return kOptionsRefused;
  }
}

namespace {

// The -d letters that only switch one setting on. True when `letter` was
// one of them.
bool SetDisplayFlag(RunOptions* options, char letter) {
  static constexpr struct {
    char Letter;
    bool RunOptions::*Field;
  } kFlags[] = {
      {'a', &RunOptions::AsciiColumns},   {'A', &RunOptions::AsciiLines},
      {'c', &RunOptions::ApplDataAsChar}, {'C', &RunOptions::SummaryCorrelIds},
      {'H', &RunOptions::NoHeader},       {'i', &RunOptions::WriteIndex},
      {'k', &RunOptions::Count},          {'M', &RunOptions::SummaryMsgIds},
      {'N', &RunOptions::NoMqmd},         {'p', &RunOptions::Printable},
      {'r', &RunOptions::RawBytes},       {'t', &RunOptions::TextLines},
      {'T', &RunOptions::ShowTimeOnQueue},
  };
  for (const auto& flag : kFlags) {
    if (flag.Letter != letter) continue;
    options->*flag.Field = true;
    return true;
  }
  return false;
}

}  // namespace

int ParseDisplayOptions(RunOptions* options, const char* value) {
  // Only one file layout at a time. The letters of the self-test word are
  // not layout letters (its two t's would otherwise make it unreachable).
  int layouts = 0;
  for (size_t i = 0; value[i] != '\0'; i++) {
    if (strncmp(value + i, "xtest", 5) == 0) {
      i += 4;
    } else if (value[i] == 'A' || value[i] == 'p' || value[i] == 't') {
      layouts++;
    }
  }
  if (layouts > 1) {
    fputs("Please enter only one display option, 'A', 'p' or 't'\n", stderr);
    return kOptionsRefused;
  }
  size_t i = 0;
  while (value[i] != '\0') {
    char c = value[i++];
    if (SetDisplayFlag(options, c)) continue;
    switch (c) {
      case 'K':
        options->Count = options->Quiet = true;
        break;
      case 's':
        options->Summary = true;
        if (value[i] == '-') {
          options->SummaryNoQStatus = true;
          i++;
        }
        break;
      case 'w':
        options->DataWidth = static_cast<int32_t>(TakeDigits(value, &i, INT32_MAX));
        // The ASCII column of -da pads every short line to the full width,
        // so an unbounded width turns a few small messages into gigabytes.
        if (options->DataWidth > kMaxDataWidth) {
          fprintf(stderr, "Sorry, the data width is limited to %d bytes per line\n",
                  kMaxDataWidth);
          return kOptionsRefused;
        }
        break;
      case 'x':
        if (strncmp(value + i, "test", 4) != 0) {
          fputs("I did not understand display parameter\n\n", stderr);
          PrintOptionUsage(options, 'x');
          return kOptionsRefused;
        }
        options->SelfTest = true;
        i += 4;
        break;
      default:
        fprintf(stderr, "I did not understand your display parameter '%c'\n\n", c);
        PrintOptionUsage(options, 'd');
        return kOptionsRefused;
    }
  }
  return 0;
}

int ParseGetById(RunOptions* options, const char* value) {
  bool hex = value[0] == 'x';
  const char* rest = hex ? value + 1 : value;
  MQBYTE* field = nullptr;
  switch (rest[0]) {
    case 'm':
      field = options->SelectMsgId;
      options->SelectByMsgId = true;
      break;
    case 'c':
      field = options->SelectCorrelId;
      options->SelectByCorrelId = true;
      break;
    case 'g':
      field = options->SelectGroupId;
      options->SelectByGroupId = true;
      break;
    default:
      // "%.1s": an empty value shows no flag rather than a NUL byte.
      if (hex) {
        fprintf(stderr, "Unrecognised 'g' flag '%.1s', please specify 'm','c' or 'g'\n", rest);
      } else {
        fprintf(stderr,
                "Unrecognised 'g' flag '%.1s', please specify 'm',c','g' or "
                "'x'\n",
                rest);
      }
      return kOptionsRefused;
  }
  const char* id = rest + 1;
  if (hex) {
    // Bytes not given stay zero. A mistyped identifier is refused rather
    // than read in part: all zeros (or a cut prefix) would match other
    // messages than the one meant, and with -I move them.
    memset(field, 0, kIdentifierLength);
    if (strlen(id) % 2 != 0) {
      fprintf(stderr, "Sorry the identifier '%s' has an odd number of hex digits\n", id);
      return kOptionsRefused;
    }
    if (id[0] == '\0' || HexToBytes(id, 2 * kIdentifierLength, field) != 0) {
      fprintf(stderr, "Sorry the identifier '%s' does not appear to be hex\n", id);
      return kOptionsRefused;
    }
  } else {
    memset(field, ' ', kIdentifierLength);
    memcpy(field, id, strnlen(id, kIdentifierLength));
  }
  return 0;
}

int ParseGetFilter(RunOptions* options, const char* value) {
  if (value[0] == '\0' || value[1] != ':') {
    fprintf(stderr, "':' missing as second character in parameter '-G %s'\n", value);
    return kOptionsRefused;
  }
  const char* text = value + 2;
  switch (value[0]) {
    case 'r':
      if (!ReadWholeInt(text, false, &options->DlqReason)) return RefuseValue('G', value);
      options->SelectByDlqReason = options->SelectionActive = true;
      return 0;
    case 't':
      if (ParseDestination(options, options->QueueSeparator, text, options->TargetQmgrMask,
                           options->TargetQueueMask, false) != 0)
        return kOptionsRefused;
      options->TargetQmgrMaskLength =
          static_cast<int32_t>(strnlen(options->TargetQmgrMask, kMqNameLength));
      options->TargetQueueMaskLength =
          static_cast<int32_t>(strnlen(options->TargetQueueMask, kMqNameLength));
      options->SelectByTarget = options->SelectionActive = true;
      return 0;
    case 'i':
      options->InvertSelection = true;
      return 0;
    default:
      // Not a refusal: the filter is ignored and parsing goes on.
      fprintf(stderr, "Unrecognised 'G' flag '%c'\n", value[0]);
      return 0;
  }
}

int ParseFileLimits(RunOptions* options, const char* value) {
  if (!options->LimitsActive) {
    // The first -L replaces the default of one message per file.
    options->LimitsActive = true;
    options->MaxMessagesPerFile = 0;
    options->MaxFileSize = 0;
    options->MaxFileAge = 0;
  }
  char kind = value[0];
  if (kind == 'm') {
    int32_t count = 0;
    if (!ReadWholeInt(value + 1, true, &count) || count <= 0) {
      fprintf(stderr, "Invalid -Lm parameter '%s'\n", value);
      return kOptionsRefused;
    }
    options->MaxMessagesPerFile = count;
    return 0;
  }
  if (kind != 's' && kind != 'a') {
    fprintf(stderr, "Unrecognised -L parameter '%s'\n", value);
    return kOptionsRefused;
  }
  // A number and a unit letter, read the way "%d%c%c" reads them: the
  // count of fields tells a missing unit from trailing rubbish.
  const char* p = value + 1;
  while (isspace(static_cast<unsigned char>(*p))) p++;
  const char* digitsAt = p;
  if (*p == '-' || *p == '+') p++;
  int fields = 0;
  int64_t number = 0;
  char unit = 0;
  if (isdigit(static_cast<unsigned char>(*p))) {
    size_t i = static_cast<size_t>(p - value);
    number = TakeDigits(value, &i, INT64_MAX / 4);
    if (*digitsAt == '-') number = -number;
    p = value + i;
    fields = 1;
    if (*p != '\0') {
      unit = *p++;
      fields = 2;
      if (*p != '\0') fields = 3;
    }
  }
  const char letter = kind;
  if (fields == 1) {
    fprintf(stderr, "Please specify the units for -L%c parameter '%s'\n", letter, value);
    return kOptionsRefused;
  }
  if (fields != 2) {
    fprintf(stderr, "Unrecognised -L%c parameter '%s'\n", letter, value);
    return kOptionsRefused;
  }
  if (number <= 0 || number > INT32_MAX) {
    // Above the 32-bit range the product would wrap; refuse it as invalid.
    fprintf(stderr, "Invalid -L%c parameter '%s'\n", letter, value);
    return kOptionsRefused;
  }
  // Units of -Ls and -La, either case; a letter not listed is refused.
  struct Unit {
    char Letter;
    int64_t Factor;
  };
  static constexpr Unit kSizeUnits[] = {{'b', 1}, {'k', 1024}, {'m', 1048576}, {'g', 1073741824}};
  static constexpr Unit kAgeUnits[] = {{'s', 1}, {'m', 60}, {'h', 3600}};
  int64_t factor = 0;
  const char lower = static_cast<char>(tolower(static_cast<unsigned char>(unit)));
  for (const Unit& u :
       kind == 's' ? std::span<const Unit>(kSizeUnits) : std::span<const Unit>(kAgeUnits))
    if (u.Letter == lower) factor = u.Factor;
  if (factor == 0) {
    fprintf(stderr,
            kind == 's' ? "Unrecognised -Ls file size unit '%c'\n"
                        : "Unrecognised -La file age unit '%c'\n",
            unit);
    return kOptionsRefused;
  }
  if (kind == 's') {
    options->MaxFileSize = number * factor;
    return 0;
  }
  if (number * factor > INT32_MAX) {
    fprintf(stderr, "Invalid -La parameter '%s'\n", value);
    return kOptionsRefused;
  }
  options->MaxFileAge = static_cast<int32_t>(number * factor);
  return 0;
}

int ParseGeneralOptions(RunOptions* options, const char* value) {
  for (size_t i = 0; value[i] != '\0'; i++) {
    switch (value[i]) {
      case 'a':
        options->AsyncPut = true;
        break;
      case 'B':
        options->NoBackout = true;
        break;
      case 'e':
        options->ExclusiveInput = true;
        break;
      case 'F':
        options->NoForceRfh2 = true;
        break;
      case 'I':
        options->IndividualQueues = true;
        break;
      case 'r':
        options->ReadAhead = true;
        break;
      case 'T':
        options->FullData = true;
        break;
      case 'S': {
        options->FullData = true;
        if (value[i + 1] != '(') break;
        i++;  // the "(" is consumed even without its ")"
        const char* close = strchr(value + i + 1, ')');
        if (close == nullptr) break;
        const char* inner = value + i + 1;
        if (close - inner == 4 && strncmp(inner, "CFH3", 4) == 0) {
          fputs("CFH3 Processing Active\n", stdout);
          options->Cfh3Processing = true;
        }
        i = static_cast<size_t>(close - value);
        break;
      }
      default:
        fprintf(stderr, "I did not understand your options parameter '%c'\n\n", value[i]);
        PrintOptionUsage(options, 'O');
        return kOptionsRefused;
    }
  }
  return 0;
}

int ParseVerbose(RunOptions* options, const char* value) {
  size_t i = 0;
  while (value[i] != '\0') {
    char c = value[i++];
    switch (c) {
      case 'a':
        options->PrintApis = true;
        break;
      case 'd':
        options->PrintDestinations = true;
        break;
      case 'r':
        options->RateDetails = true;
        break;
      case 's':
      case 't':
        options->StatusReports = true;
        if (isdigit(static_cast<unsigned char>(value[i]))) {
          uint32_t n = static_cast<uint32_t>(TakeDigits(value, &i, UINT32_MAX));
          (c == 's' ? options->StatusEveryMessages : options->StatusEverySeconds) = n;
        }
        break;
      case '!':
        fprintf(stderr, "sizeof(MQLONG) '%d'\n", static_cast<int>(sizeof(MQLONG)));
        fprintf(stderr, "sizeof(char *) '%d'\n", static_cast<int>(sizeof(char*)));
        break;
      default:
        fprintf(stderr, "Unrecognised verbose option '%c'\n", c);
        PrintOptionUsage(options, 'v');
        return kOptionsRefused;
    }
  }
  return 0;
}

int ParseDiagnostics(RunOptions* options, const char* value) {
  if (strchr(value, 'm') != nullptr) options->MemoryTrace = true;
  if (strchr(value, 't') != nullptr) options->TimeTrace = true;
  if (strchr(value, 'v') != nullptr) options->PrintPlatform = true;
  if (strchr(value, 'T') != nullptr) {
    time_t now = static_cast<time_t>(options->NowSeconds);
    char text[64];
    if (ctime_r(&now, text) == nullptr) snprintf(text, sizeof text, "?\n");
    fprintf(stderr, "Current Time:%lld\n", static_cast<long long>(options->NowSeconds));
    fprintf(stderr, "Local Time  :%s\n", text);
    PrintExampleDates("20141225");
    PrintExampleDates("20150625");
  }
  return 0;
}
