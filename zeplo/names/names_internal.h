// Shared between the files of zeplo/names only.
#ifndef ZEPLO_NAMES_NAMES_INTERNAL_H_
#define ZEPLO_NAMES_NAMES_INTERNAL_H_

#include <string_view>

#include "zeplo/run/run.h"

// ReadDestinationFile for a name that is not NUL-terminated (the rest of a
// destination text after "file:", its closing quote already dropped).
int ReadDestinationFileText(RunOptions* options, std::string_view name, bool toInputList);

#endif  // ZEPLO_NAMES_NAMES_INTERNAL_H_
