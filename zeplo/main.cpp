// Program entry: the run driver returns the run's return code, and the
// process exits with the status ExitStatusFor makes of it (never 0 for a
// failure, whatever its low 8 bits).
#include "zeplo/driver/driver.h"

int main(int argc, char** argv) { return ExitStatusFor(ZeploMain(argc, argv)); }
