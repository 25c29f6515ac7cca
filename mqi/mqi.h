// The MQI as this project declares it, for 64-bit Linux: elementary types,
// every constant, every structure the program and the stand-in queue
// manager use (with IBM's initialisers), and the 24 call signatures.
// Include this one header; it pulls in the rest:
//   mqi/mq_types.h          MQLONG, handles, MQCHARn/MQBYTEn, structure ids
//   mqi/mq_constants.h      generated from mqi/constants.tsv
//   mqi/mq_structs.h        MQMD ... MQCFGR, *_DEFAULT initialisers
//   mqi/mq_layout_checks.h  offsets and sizes proven at compile time
//   mqi/mq_calls.h          MQI_CALL_LIST, prototypes, PFN_MQxxx types
#ifndef MQI_MQI_H_
#define MQI_MQI_H_

#include "mqi/mq_types.h"
#include "mqi/mq_constants.h"
#include "mqi/mq_structs.h"
#include "mqi/mq_calls.h"

#endif  // MQI_MQI_H_
