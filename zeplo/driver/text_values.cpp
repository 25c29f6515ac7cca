// The two options whose values are texts to look for: the non-native file
// delimiters of -n and the search strings of -s, -S, -e, -E, -x and -X.
//
// Each procedure applies one option value to RunOptions and returns 0 or
// 2046 after printing its refusal. Stored texts are copies: the fields are
// fixed size, and every length is checked before anything is copied.
#include <cstdio>
#include <cstring>

#include "zeplo/driver/driver.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// Copies a delimiter value into its field after the length and once-only
// checks of -n. `tooLong` has one %d for the limit.
int SetDelimiter(const char* value, size_t length, char* field, const char* tooLong,
                 const char* twice) {
  if (length < 1 || length > kDelimiterLength) {
    fprintf(stderr, tooLong, kDelimiterLength);
    return kOptionsRefused;
  }
  if (field[0] != '\0') {
    fputs(twice, stderr);
    return kOptionsRefused;
  }
  snprintf(field, kDelimiterLength + 1, "%.*s", static_cast<int>(length), value);
  return 0;
}

const char kStartMsgTwice[] = "Start message delimiter must only be specified once.\n";
const char kEndMsgTwice[] = "End message delimiter only be specified once.\n";

enum DelimiterKind { kNoDelimiter, kMessageDelimiter, kPropertyDelimiter };

// -nd: the start and the end delimiter in one text, half each.
int SetDelimiterPair(RunOptions* options, const char* text, size_t length) {
  if (length % 2 != 0) {
    fputs("Message delimiter parameter must be even in length.\n", stderr);
    return kOptionsRefused;
  }
  if (length == 0 || length > 2 * kDelimiterLength) {
    fprintf(stderr,
            "Message delimiters must be between 1 and %d characters in "
            "length.\n",
            kDelimiterLength);
    return kOptionsRefused;
  }
  if (options->MsgStartDelimiter[0] != '\0') {
    fputs(kStartMsgTwice, stderr);
    return kOptionsRefused;
  }
  if (options->MsgEndDelimiter[0] != '\0') {
    fputs(kEndMsgTwice, stderr);
    return kOptionsRefused;
  }
  snprintf(options->MsgStartDelimiter, kDelimiterLength + 1, "%.*s", static_cast<int>(length / 2),
           text);
  snprintf(options->MsgEndDelimiter, kDelimiterLength + 1, "%s", text + length / 2);
  return 0;
}

// The delimiter of letter `c` (s, e, d, p or q) from `text`, the rest of
// the -n value. Sets *kind to what it delimits. 0 or the refusal's code.
int SetNonNativeDelimiter(RunOptions* options, char c, const char* text, DelimiterKind* kind) {
  size_t length = strlen(text);
  *kind = c == 'p' || c == 'q' ? kPropertyDelimiter : kMessageDelimiter;
  switch (c) {
    case 's':
      return SetDelimiter(text, length, options->MsgStartDelimiter,
                          "Start message delimiter must be between 1 and %d "
                          "characters in length.\n",
                          kStartMsgTwice);
    case 'e':
      return SetDelimiter(text, length, options->MsgEndDelimiter,
                          "End message delimiter must be between 1 and %d "
                          "characters in length.\n",
                          kEndMsgTwice);
    case 'd':
      return SetDelimiterPair(options, text, length);
    case 'p':
      return SetDelimiter(text, length, options->PropStartDelimiter,
                          "Start property delimiter must be between 1 and %d "
                          "characters in length.\n",
                          "Start property delimiter must only be specified "
                          "once.\n");
    default:  // 'q'
      return SetDelimiter(text, length, options->PropEndDelimiter,
                          "End property delimiter must be between 1 and %d "
                          "characters in length.\n",
                          "End property delimiter only be specified once.\n");
  }
}

}  // namespace

int ParseNonNative(RunOptions* options, const char* value) {
  options->NonNative = true;
  bool include = false, exclude = false;
  DelimiterKind delimiterKind = kNoDelimiter;
  for (size_t i = 0; value[i] != '\0' && delimiterKind == kNoDelimiter; i++) {
    char c = value[i];
    switch (c) {
      case 'i':
        include = true;
        continue;
      case 'n':
        exclude = true;
        continue;
      case '1':
        options->WholeFileOneMessage = true;
        continue;
      case '!':
        options->AllowSameDelimiters = true;
        continue;
      case 'B':
        options->NoBracketCheck = true;
        continue;
      case 'F':
        options->NoPreliminaryCount = true;
        continue;
      case 'W':
        options->KeepPropWhitespace = true;
        continue;
      case 's':
      case 'e':
      case 'd':
      case 'p':
      case 'q':
        break;
      default:
        fprintf(stderr, "Unrecognised -%c%.*s parameter.\n\n", 'n', static_cast<int>(i + 1), value);
        PrintOptionUsage(options, 'n');
        return kOptionsRefused;
    }
    if (value[i + 1] != ':') {
      fprintf(stderr, "Expected ':' after parameter -%c%.*s\n", 'n', static_cast<int>(i + 1),
              value);
      return kOptionsRefused;
    }
    // The rest of the argument is the delimiter; it ends the option.
    int rc = SetNonNativeDelimiter(options, c, value + i + 2, &delimiterKind);
    if (rc != 0) return rc;
  }
  // "i" and "n" apply to the delimiters this value set, or to both kinds
  // when it set none.
  if (delimiterKind != kPropertyDelimiter) {
    if (include) options->IncludeMsgDelimiters = true;
    if (exclude) options->ExcludeMsgDelimiters = true;
  }
  if (delimiterKind != kMessageDelimiter) {
    if (include) options->IncludePropDelimiters = true;
    if (exclude) options->ExcludePropDelimiters = true;
  }
  return 0;
}

int AddSearchString(RunOptions* options, char letter, const char* value) {
  struct Kind {
    char Letter;
    SearchString* List;
    const char* Full;     // all three entries taken
    const char* TooLong;  // one %d
    const char* NotHex;   // hex kinds only
  };
  const Kind kinds[] = {
      {'s', options->SearchAscii, "Sorry, you can only specify %d ASCII search strings\n",
       "Sorry the search string is limited to %d characters\n", nullptr},
      {'S', options->SearchAsciiNot, "Sorry, you can only specify %d ASCII 'not' search strings\n",
       "Sorry the search string is limited to %d characters\n", nullptr},
      {'e', options->SearchEbcdic, "Sorry, you can only specify %d Ebcdic search strings\n",
       "Sorry the search string is limited to %d characters\n", nullptr},
      {'E', options->SearchEbcdicNot,
       "Sorry, you can only specify %d Ebcdic 'not' search strings\n",
       "Sorry the search string is limited to %d characters\n", nullptr},
      {'x', options->SearchHex, "Sorry, you can only specify %d Hex search strings\n",
       "Sorry the hex search string is limited to %d characters\n",
       "Sorry the hex search string does not appear to be hex\n"},
      {'X', options->SearchHexNot, "Sorry, you can only specify %d Hex 'not' search strings\n",
       "Sorry the search string is limited to %d characters\n",
       "Sorry the negative hex search string does not appear to be hex\n"},
  };
  const Kind* kind = nullptr;
  for (const Kind& k : kinds)
    if (k.Letter == letter) kind = &k;
  if (kind == nullptr) return kOptionsRefused;  // not a search option
  options->SelectionActive = true;
  SearchString* entry = nullptr;
  for (int n = 0; n < kSearchStringsPerKind && entry == nullptr; n++)
    if (kind->List[n].Length == 0) entry = &kind->List[n];
  if (entry == nullptr) {
    fprintf(stderr, kind->Full, kSearchStringsPerKind);
    return kOptionsRefused;
  }
  size_t length = strlen(value);
  if (kind->NotHex == nullptr) {
    if (length > kSearchStringBytes - 1) {
      fprintf(stderr, kind->TooLong, kSearchStringBytes - 1);
      return kOptionsRefused;
    }
    memset(entry->Text, 0, sizeof entry->Text);
    memcpy(entry->Text, value, length);
    if (letter == 'e' || letter == 'E')
      AsciiToEbcdic(entry->Text, entry->Text, static_cast<int>(length));
    entry->Length = static_cast<int32_t>(length);
    return 0;
  }
  const size_t maxDigits = 2 * (kSearchStringBytes - 1);
  if (length > maxDigits) {
    fprintf(stderr, kind->TooLong, static_cast<int>(maxDigits));
    return kOptionsRefused;
  }
  // An odd last digit is ignored; every pair before it must be hex.
  size_t pairs = length / 2;
  unsigned char bytes[kSearchStringBytes];
  if (HexToBytes(value, static_cast<int>(2 * pairs), bytes) != 0) {
    fputs(kind->NotHex, stderr);
    return kOptionsRefused;
  }
  memset(entry->Text, 0, sizeof entry->Text);
  memcpy(entry->Text, bytes, pairs);
  entry->Length = static_cast<int32_t>(pairs);
  return 0;
}
