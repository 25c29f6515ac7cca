// Program entry: the run driver returns the run's return code, which the
// platform passes on as the exit status (truncated to 8 bits).
#include "zeplo/driver/driver.h"

int main(int argc, char** argv) { return ZeploMain(argc, argv); }
