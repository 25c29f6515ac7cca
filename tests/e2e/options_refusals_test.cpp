// Refused command lines, run through the real binary: the one message on
// standard error, nothing on standard output, exit status 254 (2046 cut to
// 8 bits), and nothing connected or written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

constexpr int kRefused = 2046 & 0xFF;

struct Refusal {
  std::vector<std::string> Args;
  std::string Err;  // the whole of standard error
};

std::string Line(const std::vector<std::string>& args) {
  std::string line = "zeplo";
  for (const std::string& a : args) line += " " + a;
  return line;
}

void ExpectRefusals(const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    RunResult r = RunZeplo(c.Args);
    EXPECT_EQ(r.exitStatus, kRefused) << Line(c.Args) << "\n" << r.err;
    EXPECT_EQ(r.err, c.Err) << Line(c.Args);
    EXPECT_EQ(r.out, "") << Line(c.Args);
  }
}

// Refusals of the option loop come before the banner.
TEST(OptionsRefusals, OptionLoop) {
  const std::string q49(49, 'Q');
  ExpectRefusals({
      {{"-fa", "-fb", "-fc"},
       "Sorry, you can only specify one input and one output file\n"},
      {{"-iQ1", "-I", "Q2"},
       "Sorry, you can not specify both -i and -I in the same command\n"},
      {{"-lmqm", "-l", "mqic"},
       "-l parameter specifified more than once for the same Queue Manaager\n"},
      {{"-uA", "-uB"},
       "-u parameter specifified more than once for the same Queue Manaager\n"},
      {{"-UA", "-UB"},
       "-U parameter specifified more than once for the same Queue Manaager\n"},
      {{"-m", "A", "-iQ1", "-m", "B", "-oQ2", "-m", "C"},
       "Sorry, you can only specify at most two Queue Managers\n"},
      {{"-iQ1", "-mA", "-mB"},
       "Sorry, if you are using two Queue Managers then -m must be the first "
       "parameter.\n"},
      {{"-mA", "-iQ1", "-mA"},
       "Sorry, the Queue Manager names must be different.\n"},
      {{"-mA", "-iQ1", "-oQ2", "-mB"},
       "Sorry, you can not specify both input and output queues before the "
       "second -m parameter.\n"},
      {{"-mA", "-jlog.txt", "-mB"},
       "Please specify the name of the queue to search the log for using the "
       "-i parameter.\n"},
      {{"-mA", "-mB"},
       "Sorry, you must at least specify an input or output queue before the "
       "second -m parameter.\n"},
      {{"-sA", "-sB", "-sC", "-sD"},
       "Sorry, you can only specify 3 ASCII search strings\n"},
      {{"-SA", "-SB", "-SC", "-SD"},
       "Sorry, you can only specify 3 ASCII 'not' search strings\n"},
      {{"-eA", "-eB", "-eC", "-eD"},
       "Sorry, you can only specify 3 Ebcdic search strings\n"},
      {{"-EA", "-EB", "-EC", "-ED"},
       "Sorry, you can only specify 3 Ebcdic 'not' search strings\n"},
      {{"-x01", "-x02", "-x03", "-x04"},
       "Sorry, you can only specify 3 Hex search strings\n"},
      {{"-X01", "-X02", "-X03", "-X04"},
       "Sorry, you can only specify 3 Hex 'not' search strings\n"},
      {{"-s" + std::string(100, 's')},
       "Sorry the search string is limited to 99 characters\n"},
      {{"-x" + std::string(199, 'a')},
       "Sorry the hex search string is limited to 198 characters\n"},
      {{"-X" + std::string(199, 'a')},
       "Sorry the search string is limited to 198 characters\n"},
      {{"-x0G"}, "Sorry the hex search string does not appear to be hex\n"},
      {{"-X0G"},
       "Sorry the negative hex search string does not appear to be hex\n"},
      {{"-Ar"}, "':' missing as second character in parameter '-A r'\n"},
      {{"-Ay:1"}, "Unrecognised 'A' flag 'y'\n"},
      {{"-At:ANSWER"}, "Unrecognised -At: parameter 'ANSWER'\n"},
      {{"-Ar:" + q49}, "The Queue name '" + q49 + "' is too long.\n"},
      {{"-Ar:'" + std::string(49, 'M') + "/Q'"},
       "The Queue Manager part of reply queue '" + std::string(49, 'M') +
           "/Q' is too long.\n"},
      {{"-Ar:M#" + q49},
       "The Queue name part of reply queue 'M#" + q49 + "' is too long.\n"},
      {{"-dpt"}, "Please enter only one display option, 'A', 'p' or 't'\n"},
      {{"-dw65537"}, "Sorry, the data width is limited to 65536 bytes per line\n"},
      {{"-gq1"},
       "Unrecognised 'g' flag 'q', please specify 'm',c','g' or 'x'\n"},
      {{"-gxq1"}, "Unrecognised 'g' flag 'q', please specify 'm','c' or 'g'\n"},
      {{"-gxmZZ"}, "Sorry the identifier 'ZZ' does not appear to be hex\n"},
      {{"-gxc0A0"}, "Sorry the identifier '0A0' has an odd number of hex digits\n"},
      {{"-gxg"}, "Sorry the identifier '' does not appear to be hex\n"},
      {{"-Gt"}, "':' missing as second character in parameter '-G t'\n"},
      {{"-Gt:" + std::string(49, 'M') + "/Q"},
       "The Queue Manager part of destination '" + std::string(49, 'M') +
           "/Q' is too long.\n"},
      {{"-Lm-2"}, "Invalid -Lm parameter 'm-2'\n"},
      {{"-Ls10"}, "Please specify the units for -Ls parameter 's10'\n"},
      {{"-Ls10mb"}, "Unrecognised -Ls parameter 's10mb'\n"},
      {{"-Ls0k"}, "Invalid -Ls parameter 's0k'\n"},
      {{"-Ls1q"}, "Unrecognised -Ls file size unit 'q'\n"},
      {{"-La10"}, "Please specify the units for -La parameter 'a10'\n"},
      {{"-La10ss"}, "Unrecognised -La parameter 'a10ss'\n"},
      {{"-La0s"}, "Invalid -La parameter 'a0s'\n"},
      {{"-La1d"}, "Unrecognised -La file age unit 'd'\n"},
      {{"-Lq"}, "Unrecognised -L parameter 'q'\n"},
      {{"-n1e"}, "Expected ':' after parameter -n1e\n"},
      {{"-ns:" + std::string(100, 's')},
       "Start message delimiter must be between 1 and 99 characters in "
       "length.\n"},
      {{"-ne:"},
       "End message delimiter must be between 1 and 99 characters in "
       "length.\n"},
      {{"-nd:abc"}, "Message delimiter parameter must be even in length.\n"},
      {{"-nd:"},
       "Message delimiters must be between 1 and 99 characters in length.\n"},
      {{"-ns:<", "-ns:["},
       "Start message delimiter must only be specified once.\n"},
      {{"-ne:>", "-nd:[]"}, "End message delimiter only be specified once.\n"},
      {{"-np:"},
       "Start property delimiter must be between 1 and 99 characters in "
       "length.\n"},
      {{"-np:a", "-np:a"},
       "Start property delimiter must only be specified once.\n"},
      {{"-nq:" + std::string(100, 'q')},
       "End property delimiter must be between 1 and 99 characters in "
       "length.\n"},
      {{"-nq:a", "-nq:a"}, "End property delimiter only be specified once.\n"},
      {{"-T1", "-T2"}, "You can only specify the 'older than' age once\n"},
      {{"-T,1", "-T,2"}, "You can only specify the 'younger than' age once\n"},
      {{"-Tt01/01/2015", "-Tt01/01/2016"},
       "You can only specify the 'older than' time once\n"},
      {{"-Tfu2014-12-25"}, "Unrecognised time format '2014-12-25'\n"},
      {{"-z1", "-z2"},
       "You can only specify the 'larger than' message size once\n"},
      {{"-z,1", "-z,2"},
       "You can only specify the 'less than' message size once\n"},
      {{"-r1-5"}, "Invalid message range parameter '1-5'\n"},
      {{"-T1:2:3:4"}, "Sorry, '1:2:3:4' is not a valid value for -T\n"},
      {{"-Gt:" + q49}, "The Queue name '" + q49 + "' is too long.\n"},
      {{"-La999999h"}, "Invalid -La parameter 'a999999h'\n"},
      {{"-Ls99999999999999999999999k"},
       "Invalid -Ls parameter 's99999999999999999999999k'\n"},
      {{"-ns:a", "-nd:bc"},
       "Start message delimiter must only be specified once.\n"},
      {{"-nd:" + std::string(200, 'd')},
       "Message delimiters must be between 1 and 99 characters in length.\n"},
      // Values that cannot be stored whole are refused, never cut.
      {{"-f" + std::string(256, 'f')},
       "Sorry, the file name '" + std::string(256, 'f') +
           "' is longer than 255 characters\n"},
      {{"-m" + std::string(49, 'M')},
       "The Queue Manager name '" + std::string(49, 'M') + "' is too long.\n"},
      {{"-b-1"},
       "Sorry, the initial buffer size must be between 0 and 2097151 Kb\n"},
      {{"-b2097152"},
       "Sorry, the initial buffer size must be between 0 and 2097151 Kb\n"},
      {{"-o" + q49}, "The Queue name '" + q49 + "' is too long.\n"},
      {{"-I" + q49}, "The Queue name '" + q49 + "' is too long.\n"},
  });
}

// Refusals of the whole command line come after the banner (-q here).
TEST(OptionsRefusals, CommandLineChecks) {
  ExpectRefusals({
      {{"-q", "-fa", "-R5"},
       "'Required rate' processing requires that the target is a Queue.\n"},
      {{"-q", "-fa", "-oQ", "-R5:5"},
       "Repeated 'Required rate' processing requires that the input is a "
       "queue.\n"},
      {{"-q", "-IQ1", "-oQ", "-R*:*"},
       "Repeated 'Required rate' processing requires that you browse the "
       "input queue.\n"},
      {{"-q", "-iQ1", "-oQ2", "-ds"},
       "Sorry, you can't specify an output queue with summary display.\n"},
      {{"-q", "-iQ1", "-fx", "-dk"},
       "Sorry, you can't specify an output queue/file with the count "
       "display.\n"},
      {{"-q", "-iQ1", "-fa", "-fb"},
       "Please don't specify both an input queue and an input file.\n"},
      {{"-q", "-t5"}, "Please enter either an input queue or an input file.\n"},
      {{"-q", "-fa", "-fb", "-oQ"},
       "Please enter either an output queue or an output file, not both.\n"},
      {{"-q", "-iQ1", "-oQ2", "-p"},
       "Purge is not valid when you are browsing the Input Queue\n"},
      {{"-q", "-fa", "-oQ", "-Ha=1"},
       "SQL92 Selection is only supported when the input is a queue\n"},
      {{"-q", "-IQ1", "-oQ", "-p", "-Ha=1"},
       "The purge option is not supported when using the SQL92 selector\n"},
      {{"-q", "-iQ1", "-fout.txt", "-Lm10"},
       "The use of -L parameters requires the use of file index inserts\n"},
      {{"-q", "-IQ1", "-ds"},
       "Sumary option is not valid with move, use browse\n"},
      {{"-q", "-IQ1", "-dk"}, "Count option is not valid with move, use browse\n"},
      {{"-q", "-jlog.txt", "-oQ", "-Ha=1"},
       "SQL92 Selection is only supported when the input is a queue\n"},
      // Found by the driver, before anything is connected in log mode.
      {{"-q", "-iQ1", "-iQ2", "-jlog.txt"},
       "Only one queue name is allowed in log mode.\n"},
      // "%%" is a literal percent sign, not an index insert.
      {{"-q", "-iQ1", "-fout%%i", "-Lm5"},
       "The use of -L parameters requires the use of file index inserts\n"},
  });
}

// When a command line breaks several rules, the first in the order of the
// checks is the one reported.
TEST(OptionsRefusals, FirstRuleWins) {
  ExpectRefusals({
      // rate before summary, count and input
      {{"-q", "-ds", "-dk", "-R5"},
       "'Required rate' processing requires that the target is a Queue.\n"},
      // summary before count
      {{"-q", "-iQ1", "-oQ2", "-ds", "-dk"},
       "Sorry, you can't specify an output queue with summary display.\n"},
      // count before input/output
      {{"-q", "-fa", "-fb", "-dk"},
       "Sorry, you can't specify an output queue/file with the count "
       "display.\n"},
      // input/output before purge and the move rules
      {{"-q", "-IQ1", "-fa", "-fb", "-p", "-dk"},
       "Sorry, you can't specify an output queue/file with the count "
       "display.\n"},
      {{"-q", "-IQ1", "-fa", "-fb", "-p", "-ds"},
       "Please don't specify both an input queue and an input file.\n"},
      // purge before the selector
      {{"-q", "-iQ1", "-p", "-Ha=1"},
       "Purge is not valid when you are browsing the Input Queue\n"},
      // limits before the move rules
      {{"-q", "-IQ1", "-fx", "-Lm2", "-dk"},
       "Sorry, you can't specify an output queue/file with the count "
       "display.\n"},
      {{"-q", "-IQ1", "-ds", "-Lm2"},
       "The use of -L parameters requires the use of file index inserts\n"},
      // the option loop stops at its first refusal
      {{"-Lq", "-Cxx"}, "Unrecognised -L parameter 'q'\n"},
  });
}

TEST(OptionsRefusals, ArgumentEchoAndDiagnostics) {
  RunResult r = RunZeplo({"-q", "-t5"}, "", {"KALVO_ZEPLO_PARMS=1"});
  EXPECT_EQ(r.out, "argv[0] = '" + ZeploPath() + "'\nargv[1] = '-q'\nargv[2] = '-t5'\n");
  EXPECT_EQ(r.exitStatus, kRefused);

  r = RunZeplo({"-q", "-v!", "-Vv", "-t5"});
  EXPECT_EQ(r.err,
            "sizeof(MQLONG) '4'\nsizeof(char *) '8'\n64Bit LittleEndian\n"
            "Please enter either an input queue or an input file.\n");

  r = RunZeplo({"-q", "-VT", "-t5"}, "", {"TZ=UTC"});
  EXPECT_NE(r.err.find("Example Date 20141225 120000 is 1419508800 as local time \n"
                       "Example Date 20141225 120000 is 1419508800 as UTC time \n"
                       "Example Date 20150625 120000 is 1435233600 as local time \n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.rfind("Current Time:", 0), 0u);

  r = RunZeplo({"-q", "-OS(CFH3)", "-t5"});
  EXPECT_EQ(r.out, "CFH3 Processing Active\n");
}

}  // namespace
