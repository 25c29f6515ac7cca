// zeplo/driver: the command line and the run.
//
// A run goes: RunOptionsInit (start-up readings and defaults), ParseOptions
// (every option into RunOptions, refusing bad ones), CheckOptions (the
// command line as a whole), then RunDriver connects, reports, hands over to
// the processing loop and prints the final counts. Help and usage texts are
// printed from here too, paged on a terminal.
//
// Error handling: a refused command line prints its one message on standard
// error and yields 2046 (MQRC_OPTIONS_ERROR); nothing is connected or
// written before that.
#ifndef ZEPLO_DRIVER_DRIVER_H_
#define ZEPLO_DRIVER_DRIVER_H_

#include "zeplo/driver/run_options.h"

// ---- Options, value parsers, checks, reports and the run driver ----------

// ---- Help and usage -------------------------------------------------------

#endif  // ZEPLO_DRIVER_DRIVER_H_
