// Refused command lines, run through the real binary: the one message on
// standard error, nothing on standard output, exit status 254 (2046 cut to
// 8 bits), and nothing connected or written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_util.h"

namespace {

constexpr int kRefused = 2046 & 0xFF;

TEST(OptionsRefusals, EachRefusalShowsItsOneMessage) {
  const std::string q49(49, 'Q'), m49(49, 'M');
  const std::string noOutCount =
      "Sorry, you can't specify an output queue/file with the count display.";
  const std::string needIndex = "The use of -L parameters requires the use of file index inserts";
  const std::string longQueue = "The Queue name '" + q49 + "' is too long.";
  struct Case {
    std::string args;  // split at spaces
    std::string err;   // the whole of standard error but its final newline
  } cases[] = {
      // Refusals of the option loop come before the banner.
      {"-fa -fb -fc", "Sorry, you can only specify one input and one output file"},
      {"-iQ1 -I Q2", "Sorry, you can not specify both -i and -I in the same command"},
      {"-lmqm -l mqic", "-l parameter specifified more than once for the same Queue Manaager"},
      {"-uA -uB", "-u parameter specifified more than once for the same Queue Manaager"},
      {"-UA -UB", "-U parameter specifified more than once for the same Queue Manaager"},
      {"-m A -iQ1 -m B -oQ2 -m C", "Sorry, you can only specify at most two Queue Managers"},
      {"-iQ1 -mA -mB",
       "Sorry, if you are using two Queue Managers then -m must be the first parameter."},
      {"-mA -iQ1 -mA", "Sorry, the Queue Manager names must be different."},
      {"-mA -iQ1 -oQ2 -mB",
       "Sorry, you can not specify both input and output queues before the second -m parameter."},
      {"-mA -jlog.txt -mB",
       "Please specify the name of the queue to search the log for using the -i parameter."},
      {"-mA -mB",
       "Sorry, you must at least specify an input or output queue before the second -m parameter."},
      {"-sA -sB -sC -sD", "Sorry, you can only specify 3 ASCII search strings"},
      {"-SA -SB -SC -SD", "Sorry, you can only specify 3 ASCII 'not' search strings"},
      {"-eA -eB -eC -eD", "Sorry, you can only specify 3 Ebcdic search strings"},
      {"-EA -EB -EC -ED", "Sorry, you can only specify 3 Ebcdic 'not' search strings"},
      {"-x01 -x02 -x03 -x04", "Sorry, you can only specify 3 Hex search strings"},
      {"-X01 -X02 -X03 -X04", "Sorry, you can only specify 3 Hex 'not' search strings"},
      {"-s" + std::string(100, 's'), "Sorry the search string is limited to 99 characters"},
      {"-x" + std::string(199, 'a'), "Sorry the hex search string is limited to 198 characters"},
      {"-X" + std::string(199, 'a'), "Sorry the search string is limited to 198 characters"},
      {"-x0G", "Sorry the hex search string does not appear to be hex"},
      {"-X0G", "Sorry the negative hex search string does not appear to be hex"},
      {"-Ar", "':' missing as second character in parameter '-A r'"},
      {"-Ay:1", "Unrecognised 'A' flag 'y'"},
      {"-At:ANSWER", "Unrecognised -At: parameter 'ANSWER'"},
      {"-Ar:" + q49, longQueue},
      {"-Ar:'" + m49 + "/Q'", "The Queue Manager part of reply queue '" + m49 + "/Q' is too long."},
      {"-Ar:M#" + q49, "The Queue name part of reply queue 'M#" + q49 + "' is too long."},
      {"-dpt", "Please enter only one display option, 'A', 'p' or 't'"},
      {"-dw65537", "Sorry, the data width is limited to 65536 bytes per line"},
      {"-gq1", "Unrecognised 'g' flag 'q', please specify 'm',c','g' or 'x'"},
      {"-gxq1", "Unrecognised 'g' flag 'q', please specify 'm','c' or 'g'"},
      {"-gxmZZ", "Sorry the identifier 'ZZ' does not appear to be hex"},
      {"-gxc0A0", "Sorry the identifier '0A0' has an odd number of hex digits"},
      {"-gxg", "Sorry the identifier '' does not appear to be hex"},
      {"-Gt", "':' missing as second character in parameter '-G t'"},
      {"-Gt:" + m49 + "/Q", "The Queue Manager part of destination '" + m49 + "/Q' is too long."},
      {"-Lm-2", "Invalid -Lm parameter 'm-2'"},
      {"-Ls10", "Please specify the units for -Ls parameter 's10'"},
      {"-Ls10mb", "Unrecognised -Ls parameter 's10mb'"},
      {"-Ls0k", "Invalid -Ls parameter 's0k'"},
      {"-Ls1q", "Unrecognised -Ls file size unit 'q'"},
      {"-La10", "Please specify the units for -La parameter 'a10'"},
      {"-La10ss", "Unrecognised -La parameter 'a10ss'"},
      {"-La0s", "Invalid -La parameter 'a0s'"},
      {"-La1d", "Unrecognised -La file age unit 'd'"},
      {"-Lq", "Unrecognised -L parameter 'q'"},
      {"-n1e", "Expected ':' after parameter -n1e"},
      {"-ns:" + std::string(100, 's'),
       "Start message delimiter must be between 1 and 99 characters in length."},
      {"-ne:", "End message delimiter must be between 1 and 99 characters in length."},
      {"-nd:abc", "Message delimiter parameter must be even in length."},
      {"-nd:", "Message delimiters must be between 1 and 99 characters in length."},
      {"-ns:< -ns:[", "Start message delimiter must only be specified once."},
      {"-ne:> -nd:[]", "End message delimiter only be specified once."},
      {"-np:", "Start property delimiter must be between 1 and 99 characters in length."},
      {"-np:a -np:a", "Start property delimiter must only be specified once."},
      {"-nq:" + std::string(100, 'q'),
       "End property delimiter must be between 1 and 99 characters in length."},
      {"-nq:a -nq:a", "End property delimiter only be specified once."},
      {"-T1 -T2", "You can only specify the 'older than' age once"},
      {"-T,1 -T,2", "You can only specify the 'younger than' age once"},
      {"-Tt01/01/2015 -Tt01/01/2016", "You can only specify the 'older than' time once"},
      {"-Tfu2014-12-25", "Unrecognised time format '2014-12-25'"},
      {"-z1 -z2", "You can only specify the 'larger than' message size once"},
      {"-z,1 -z,2", "You can only specify the 'less than' message size once"},
      {"-r1-5", "Invalid message range parameter '1-5'"},
      {"-T1:2:3:4", "Sorry, '1:2:3:4' is not a valid value for -T"},
      {"-Gt:" + q49, longQueue},
      {"-La999999h", "Invalid -La parameter 'a999999h'"},
      {"-Ls99999999999999999999999k", "Invalid -Ls parameter 's99999999999999999999999k'"},
      {"-ns:a -nd:bc", "Start message delimiter must only be specified once."},
      {"-nd:" + std::string(200, 'd'),
       "Message delimiters must be between 1 and 99 characters in length."},
      // Values that cannot be stored whole are refused, never cut.
      {"-f" + std::string(256, 'f'),
       "Sorry, the file name '" + std::string(256, 'f') + "' is longer than 255 characters"},
      {"-m" + m49, "The Queue Manager name '" + m49 + "' is too long."},
      {"-b-1", "Sorry, the initial buffer size must be between 0 and 2097151 Kb"},
      {"-b2097152", "Sorry, the initial buffer size must be between 0 and 2097151 Kb"},
      {"-o" + q49, longQueue},
      {"-I" + q49, longQueue},
      // Refusals of the whole command line come after the banner (-q here).
      {"-q -fa -R5", "'Required rate' processing requires that the target is a Queue."},
      {"-q -fa -oQ -R5:5",
       "Repeated 'Required rate' processing requires that the input is a queue."},
      {"-q -IQ1 -oQ -R*:*",
       "Repeated 'Required rate' processing requires that you browse the input queue."},
      {"-q -iQ1 -oQ2 -ds", "Sorry, you can't specify an output queue with summary display."},
      {"-q -iQ1 -fx -dk", noOutCount},
      {"-q -iQ1 -fa -fb", "Please don't specify both an input queue and an input file."},
      {"-q -t5", "Please enter either an input queue or an input file."},
      {"-q -fa -fb -oQ", "Please enter either an output queue or an output file, not both."},
      {"-q -iQ1 -oQ2 -p", "Purge is not valid when you are browsing the Input Queue"},
      {"-q -fa -oQ -Ha=1", "SQL92 Selection is only supported when the input is a queue"},
      {"-q -IQ1 -oQ -p -Ha=1", "The purge option is not supported when using the SQL92 selector"},
      {"-q -iQ1 -fout.txt -Lm10", needIndex},
      {"-q -IQ1 -ds", "Sumary option is not valid with move, use browse"},
      {"-q -IQ1 -dk", "Count option is not valid with move, use browse"},
      {"-q -jlog.txt -oQ -Ha=1", "SQL92 Selection is only supported when the input is a queue"},
      // Found by the driver, before anything is connected in log mode.
      {"-q -iQ1 -iQ2 -jlog.txt", "Only one queue name is allowed in log mode."},
      // "%%" is a literal percent sign, not an index insert.
      {"-q -iQ1 -fout%%i -Lm5", needIndex},
      // Several rules broken: the first in the order of the checks is the
      // one reported. Rate before summary, count and input;
      {"-q -ds -dk -R5", "'Required rate' processing requires that the target is a Queue."},
      // summary before count;
      {"-q -iQ1 -oQ2 -ds -dk", "Sorry, you can't specify an output queue with summary display."},
      // count before input/output;
      {"-q -fa -fb -dk", noOutCount},
      // input/output before purge and the move rules;
      {"-q -IQ1 -fa -fb -p -dk", noOutCount},
      {"-q -IQ1 -fa -fb -p -ds", "Please don't specify both an input queue and an input file."},
      // purge before the selector;
      {"-q -iQ1 -p -Ha=1", "Purge is not valid when you are browsing the Input Queue"},
      // limits before the move rules;
      {"-q -IQ1 -fx -Lm2 -dk", noOutCount},
      {"-q -IQ1 -ds -Lm2", needIndex},
      // the option loop stops at its first refusal.
      {"-Lq -Cxx", "Unrecognised -L parameter 'q'"},
  };
  for (const Case& c : cases) {
    const std::string name = "zeplo " + c.args;
    RunResult r = RunZeplo(Words(c.args));
    EXPECT_EQ(kRefused, r.exitStatus) << name << "\n" << r.err;
    EXPECT_EQ(c.err + "\n", r.err) << name;
    EXPECT_EQ("", r.out) << name;
  }
}

TEST(OptionsRefusals, ArgumentEchoAndDiagnostics) {
  RunResult r = RunZeplo({"-q", "-t5"}, "", {"KALVO_ZEPLO_PARMS=1"});
  EXPECT_EQ("argv[0] = '" + ZeploPath() + "'\nargv[1] = '-q'\nargv[2] = '-t5'\n", r.out);
  EXPECT_EQ(kRefused, r.exitStatus);
  r = RunZeplo({"-q", "-v!", "-Vv", "-t5"});
  EXPECT_EQ(
      "sizeof(MQLONG) '4'\nsizeof(char *) '8'\n64Bit LittleEndian\n"
      "Please enter either an input queue or an input file.\n",
      r.err);
  r = RunZeplo({"-q", "-VT", "-t5"}, "", {"TZ=UTC"});
  EXPECT_NE(std::string::npos,
            r.err.find("Example Date 20141225 120000 is 1419508800 as local time \n"
                       "Example Date 20141225 120000 is 1419508800 as UTC time \n"
                       "Example Date 20150625 120000 is 1435233600 as local time \n"))
      << r.err;
  EXPECT_EQ(0u, r.err.rfind("Current Time:", 0));
  r = RunZeplo({"-q", "-OS(CFH3)", "-t5"});
  EXPECT_EQ("CFH3 Processing Active\n", r.out);
}

}  // namespace
