// Start-up readings, the RunOptions defaults and the option loop.
//
// The loop walks argv with POSIX getopt over one fixed option string; every
// option letter except h, p and q takes a value, attached or as the next
// word. An option either fills RunOptions or refuses the command line: its
// message goes to standard error and the run ends with 2046 before anything
// is connected or written.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "zeplo/cs/cs.h"
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

const char kOptionString[] =
    "a:A:b:c:C:d:D:e:E:f:F:g:G:hH:i:I:l:j:L:m:n:o:O:pP:qr:R:s:S:$:t:T:u:U:"
    "v:V:w:x:X:z:?:";

// What the loop needs to remember between options and nowhere else: which
// queue-manager slot -l/-u/-U/-m write to, how many file options were seen,
// and at which option the first queue manager was named.
struct ParseState {
  int CurrentSlot;
  int FileOptions;
  int OptionCount;
  int FirstQmgrOption;  // option number of the -m that named slot 0
};

// -f / -F: the first is the input file, the second the output file.
int TakeFileOption(RunOptions* options, ParseState* state, const char* value) {
  if (state->FileOptions >= 2) {
    fputs("Sorry, you can only specify one input and one output file\n", stderr);
    return kOptionsRefused;
  }
  if (value[0] == '\0') {
    // An empty name would leave the run without the file it was given.
    fputs("Sorry, the file name given is empty\n", stderr);
    return kOptionsRefused;
  }
  if (strlen(value) > kFileNameLength) {
    // Cutting the name would read or overwrite some other file.
    fprintf(stderr, "Sorry, the file name '%s' is longer than %d characters\n", value,
            kFileNameLength);
    return kOptionsRefused;
  }
  char* field = state->FileOptions == 0 ? options->InputFile : options->OutputFile;
  snprintf(field, kFileNameLength + 1, "%s", value);
  state->FileOptions++;
  return 0;
}

// -l, -u, -U: one per queue-manager slot.
int SetSlotText(RunOptions* options, ParseState* state, char letter, const char* value) {
  QmgrSlot* slot = &options->Qmgrs[state->CurrentSlot];
  const char* given = letter == 'l' ? slot->Library : letter == 'u' ? slot->User : slot->Password;
  if (given != nullptr) {
    fprintf(stderr,
            "-%c parameter specifified more than once for the same Queue "
            "Manaager\n",
            letter);
    return kOptionsRefused;
  }
  // The password must not stay visible in the process's arguments: getopt
  // hands out a pointer into argv, whose text may be overwritten.
  if (letter == 'U') return TakePassword(options, state->CurrentSlot, const_cast<char*>(value));
  (letter == 'l' ? slot->Library : slot->User) = value;
  return 0;
}

// -m: the first names slot 0; a second moves to slot 1 under the rules that
// make a two-queue-manager command line unambiguous.
int TakeQmgr(RunOptions* options, ParseState* state, const char* value) {
  if (value[0] == '\0') {
    // Given empty, the name would be taken as not given: the default
    // queue manager, or no second one at all.
    fputs("Sorry, the Queue Manager name given is empty.\n", stderr);
    return kOptionsRefused;
  }
  if (options->Qmgrs[state->CurrentSlot].Name[0] != '\0') {
    if (state->CurrentSlot >= 1) {
      fputs("Sorry, you can only specify at most two Queue Managers\n", stderr);
      return kOptionsRefused;
    }
    if (state->FirstQmgrOption != 1) {
      fputs(
          "Sorry, if you are using two Queue Managers then -m must be the "
          "first parameter.\n",
          stderr);
      return kOptionsRefused;
    }
    if (strncmp(options->Qmgrs[0].Name, value, kMqNameLength) == 0) {
      fputs("Sorry, the Queue Manager names must be different.\n", stderr);
      return kOptionsRefused;
    }
    bool input = HasInputQueues(options);
    bool output = options->OutputQueueName[0] != '\0';
    if (input && output) {
      fputs(
          "Sorry, you can not specify both input and output queues before "
          "the second -m parameter.\n",
          stderr);
      return kOptionsRefused;
    }
    if (options->LogMode && !input) {
      fputs(
          "Please specify the name of the queue to search the log for "
          "using the -i parameter.\n",
          stderr);
      return kOptionsRefused;
    }
    if (!options->LogMode && !input && !output) {
      fputs(
          "Sorry, you must at least specify an input or output queue "
          "before the second -m parameter.\n",
          stderr);
      return kOptionsRefused;
    }
    state->CurrentSlot = 1;
    if (input || options->LogMode) {
      options->OutputSlot = 1;
    } else {
      options->InputSlot = 1;  // the output lives on the first
    }
  }
  if (strlen(value) > kMqNameLength) {
    // A cut name could connect to a different queue manager.
    fprintf(stderr, "The Queue Manager name '%s' is too long.\n", value);
    return kOptionsRefused;
  }
  snprintf(options->Qmgrs[state->CurrentSlot].Name, kMqNameLength + 1, "%s", value);
  if (state->CurrentSlot == 0 && state->FirstQmgrOption == 0)
    state->FirstQmgrOption = state->OptionCount;
  return 0;
}

int TakeConvert(RunOptions* options, const char* value) {
  // "<ccsid>[:<encoding in hex>]"; an absent or zero encoding is native 546.
  std::string_view text(value);
  size_t colon = text.find(':');
  int32_t ccsid = 0;
  if (!ReadWholeInt(text.substr(0, colon), false, &ccsid)) return RefuseValue('c', value);
  int64_t encoding = 0;
  if (colon != std::string_view::npos) {
    std::string_view hex = text.substr(colon + 1);
    if (hex.empty()) return RefuseValue('c', value);
    for (char c : hex) {
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (digit < 0) return RefuseValue('c', value);
      if (encoding <= 0x7FFFFFFF) encoding = encoding * 16 + digit;
    }
  }
  if (encoding > 0x7FFFFFFF) encoding = 0x7FFFFFFF;
  options->Convert = true;
  options->ConvertCcsid = ccsid;
  options->ConvertEncoding = encoding == 0 ? 546 : static_cast<int32_t>(encoding);
  return 0;
}

int TakeBufferSize(RunOptions* options, const char* value) {
  // Kilobytes; the field holds bytes in 32 bits.
  const int32_t maxKb = INT32_MAX / 1024;
  int32_t kb = 0;
  if (!ReadWholeInt(value, true, &kb)) return RefuseValue('b', value);
  if (kb < 0 || kb > maxKb) {
    fprintf(stderr,
            "Sorry, the initial buffer size must be between 0 and %d "
            "Kb\n",
            maxKb);
    return kOptionsRefused;
  }
  options->InitialBufferSize = kb == 0 ? 1 : kb * 1024;
  return 0;
}

int TakeSelector(RunOptions* options, const char* value) {
  size_t size = strlen(value) + 1;
  char* copy = static_cast<char*>(CSGetMem(size, "SQL92"));
  if (copy == nullptr) return 0;  // without a copy the option has no effect
  memcpy(copy, value, size);
  if (options->Selector != nullptr) CSFreeMem(options->Selector);
  options->Selector = copy;
  options->SelectionActive = true;
  return 0;
}

// -o: the first goes to OutputQmgrName/OutputQueueName (or, as "file:", to
// OutputList); every later one to OutputList.
int TakeOutputQueue(RunOptions* options, const char* value) {
  int rc;
  if (options->OutputQueueName[0] == '\0' && options->OutputList == nullptr) {
    rc = ParseDestination(options, options->QueueSeparator, value, options->OutputQmgrName,
                          options->OutputQueueName, false);
    // Without a queue the run would have no output at all.
    if (rc == 0 && options->OutputQueueName[0] == '\0') rc = RefuseEmptyDestination(value);
  } else {
    rc = AddDestination(options, value, false);
  }
  return rc == 0 ? 0 : kOptionsRefused;
}

int TakeInputQueue(RunOptions* options, bool destructive, const char* value) {
  if (HasInputQueues(options) && options->DestructiveGet != destructive) {
    fputs("Sorry, you can not specify both -i and -I in the same command\n", stderr);
    return kOptionsRefused;
  }
  if (destructive) options->DestructiveGet = true;
  return AddDestination(options, value, true) == 0 ? 0 : kOptionsRefused;
}

// One option returned by getopt, with its value (null for h, p, q).
int HandleOption(RunOptions* options, ParseState* state, int letter, const char* value) {
  switch (letter) {
    case 'a':
      options->FileAccessMode = value;
      return 0;
    case 'A':
      return ParseAttributeOverride(options, value);
    case 'b':
      return TakeBufferSize(options, value);
    case 'c':
      return TakeConvert(options, value);
    case 'C':
      return ParseContext(options, value);
    case 'd':
      return ParseDisplayOptions(options, value);
    case 'D':
      return ParseDelay(options, value);
    case 'e':
    case 'E':
    case 's':
    case 'S':
    case 'x':
    case 'X':
      return AddSearchString(options, static_cast<char>(letter), value);
    case 'F':
      options->ForceOverwrite = true;
      return TakeFileOption(options, state, value);
    case 'f':
      return TakeFileOption(options, state, value);
    case 'g':
      return ParseGetById(options, value);
    case 'G':
      return ParseGetFilter(options, value);
    case 'h':
      options->StripHeaders = true;
      return 0;
    case 'H':
      return TakeSelector(options, value);
    case 'i':
      return TakeInputQueue(options, false, value);
    case 'I':
      return TakeInputQueue(options, true, value);
    case 'j':
      return ParseLogParameter(options, value);
    case 'l':
    case 'u':
    case 'U':
      return SetSlotText(options, state, static_cast<char>(letter), value);
    case 'L':
      return ParseFileLimits(options, value);
    case 'm':
      return TakeQmgr(options, state, value);
    case 'n':
      return ParseNonNative(options, value);
    case 'o':
      return TakeOutputQueue(options, value);
    case 'O':
      return ParseGeneralOptions(options, value);
    case 'p':
      options->Purge = true;
      return 0;
    case 'P':
      return ParsePriorityRange(options, value);
    case 'q':
      options->Quiet = true;
      return 0;
    case 'r':
      return ParseMessageRange(options, value);
    case 'R':
      return ParseRate(options, value);
    case 't': {
      // 0 is no unit of work, -1 one unit for the whole run; any other
      // negative count has no meaning.
      int32_t limit = 0;
      if (!ReadWholeInt(value, true, &limit) || limit < -1) return RefuseValue('t', value);
      options->TransactionLimit = limit;
      return 0;
    }
    case 'T':
      return ParseTimeOnQueue(options, value);
    case 'v':
      return ParseVerbose(options, value);
    case 'V':
      return ParseDiagnostics(options, value);
    case 'w':
      return ParseWait(options, value);
    case 'z':
      return ParseSizeRange(options, value);
    case '$':
      options->QueueSeparator = value[0];
      return 0;
    default:
      return kOptionsRefused;  // getopt returned a letter we lack
  }
}

// The forms people try before reading any usage: "--help" (and "-help" on
// its own, which would otherwise read as -h -elp) shows the full usage,
// "--version" the banner; both end the run with 0. Returns true when one
// was given.
bool AskedForHelp(RunOptions* options, int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--") == 0) break;
    if (strcmp(argv[i], "--help") == 0 || (argc == 2 && strcmp(argv[i], "-help") == 0)) {
      PrintUsage(options);
      return true;
    }
    if (strcmp(argv[i], "--version") == 0) {
      PrintBanner(options);
      return true;
    }
  }
  return false;
}

}  // namespace

void RunOptionsInit(RunOptions* options, int argc, char** argv) {
  *options = RunOptions{};
  options->Interactive = isatty(0) == 1;
  if (getenv("KALVO_ZEPLO_PARMS") != nullptr) {
    for (int i = 0; i < argc; i++) printf("argv[%d] = '%s'\n", i, argv[i]);
  }
  options->TerminalLines = 24;
  struct winsize size;
  if (isatty(1) == 1 && ioctl(0, TIOCGWINSZ, &size) == 0 && size.ws_row > 0)
    options->TerminalLines = size.ws_row;
  const char* lines = getenv("LINES");
  int32_t height = 0;
  if (lines != nullptr && ReadWholeInt(lines, false, &height) && height > 0)
    options->TerminalLines = height;

  for (QmgrSlot& slot : options->Qmgrs) slot.Hconn = MQHC_UNUSABLE_HCONN;
  options->Override = MQMD{MQMD_DEFAULT};
  options->DataWidth = 25;
  options->TransactionLimit = 200;
  options->InitialBufferSize = 1;
  options->SizeAtLeast = options->SizeBelow = 0xFFFFFFFFu;
  options->PriorityMin = options->PriorityMax = -1;
  options->StatusEveryMessages = 1000;
  options->StatusEverySeconds = 300;
  options->MaxMessagesPerFile = 1;
  options->Context = ContextMode::SetAll;
  NowCs(&options->NowSeconds, &options->NowCentiseconds);
}

int ParseOptions(RunOptions* options, int argc, char** argv, bool* endRun) {
  *endRun = true;
  ParseState state = {};
  // getopt keeps its position between calls; 0 restarts it completely
  // (also forgetting a half-read word of letters).
  optind = 0;
  opterr = 0;  // its complaints are printed below, in the same words
  if (AskedForHelp(options, argc, argv)) return 0;
  while (true) {
    optarg = nullptr;
    int letter = getopt(argc, argv, kOptionString);
    if (letter == -1) break;
    state.OptionCount++;
    if (letter == '?' && optarg == nullptr) {
      // Unknown option, or an option (including -? itself) without its
      // value. A lone -? is simply the way to ask for the full usage.
      if (optopt != '?') {
        const char* known = strchr(kOptionString, optopt);
        if (optopt != 0 && optopt != ':' && known != nullptr)
          fprintf(stderr, "%s: option requires an argument -- '%c'\n", argv[0], optopt);
        else
          fprintf(stderr, "%s: invalid option -- '%c'\n", argv[0], optopt);
      }
      PrintBanner(options);
      if (optopt != '?' && optopt != 0 && optopt != ':' && strchr(kOptionString, optopt) != nullptr) {
        // A known option at the end of the line without its value: say so,
        // and show what the value is.
        fprintf(stderr, "Sorry, -%c needs a value:\n\n", optopt);
        PrintOptionUsage(options, static_cast<char>(optopt));
        return kOptionsRefused;
      }
      if (optopt != '?' && optopt != 0)
        fprintf(stderr, "-%c is not a valid parameter.\n\n", optopt);
      PrintUsage(options);
      return kOptionsRefused;
    }
    if (optarg != nullptr && strcmp(optarg, "?") == 0) {
      // "-x?" asks for the usage lines of -x; "-??" for the topic help.
      if (letter == '?')
        InteractiveHelp(options, nullptr);
      else
        PrintOptionUsage(options, static_cast<char>(letter));
      return kOptionsRefused;
    }
    if (letter == '?') {
      InteractiveHelp(options, optarg);
      return kOptionsRefused;
    }
    if (optarg == nullptr && optind < argc) {
      // h, p and q take no value: "-h?" is their help request.
      const char* word = argv[optind];
      if (word[0] == '-' && word[1] == letter && word[2] == '?' && word[3] == '\0') {
        PrintOptionUsage(options, static_cast<char>(letter));
        return kOptionsRefused;
      }
    }
    int rc = HandleOption(options, &state, letter, optarg);
    if (rc != 0) return rc;
  }
  if (argc <= 1) {
    // Nothing asked: show what can be.
    PrintCondensedUsage(options);
    return 0;
  }
  if (optind < argc) {
    // A word that is not an option (getopt moved them all to the end) is
    // a mistake in the command, which must not read as a run that worked.
    PrintBanner(options);
    fprintf(stderr, "'%s' is not a valid parameter.\n\n", argv[optind]);
    PrintCondensedUsage(options);
    return kOptionsRefused;
  }
  PrintBanner(options);
  if (options->PrintPlatform) {
    const uint16_t probe = 1;
    const bool little = *reinterpret_cast<const unsigned char*>(&probe) == 1;
    fprintf(stderr, "%dBit %s\n", static_cast<int>(8 * sizeof(void*)),
            little ? "LittleEndian" : "BigEndian");
  }
  // -dxtest: the file format round trip, then the run as asked. A failed
  // round trip ends the run with its code rather than going on to a run
  // whose files could not be trusted.
  if (options->SelfTest) {
    int rc = FileFormatSelfTest(kSelfTestFile, stderr);
    if (rc != 0) return rc;
  }
  *endRun = false;
  return 0;
}
