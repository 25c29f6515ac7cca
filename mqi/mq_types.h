// IBM MQ's elementary data types for 64-bit Linux (LP64), and the character
// and byte-array constants that the integer table cannot hold.
//
// MQLONG is 32 bits on every platform; handles are MQLONGs except the
// message handle, which is 64 bits. Character fields are fixed arrays with
// no terminator: a name shorter than its field is padded with blanks by the
// queue manager, and on input a NUL ends it (IBM's rule), which is why the
// initialisers below fill many name fields with NULs.
#ifndef MQI_MQ_TYPES_H_
#define MQI_MQ_TYPES_H_

#include <cstddef>
#include <cstdint>

typedef int32_t MQLONG;
typedef uint32_t MQULONG;
typedef int64_t MQINT64;
typedef uint64_t MQUINT64;
typedef int16_t MQINT16;
typedef uint16_t MQUINT16;
typedef MQLONG MQHCONN;
typedef MQLONG MQHOBJ;
typedef MQINT64 MQHMSG;
typedef MQLONG MQBOOL;
typedef char MQCHAR;
typedef unsigned char MQBYTE;
typedef void* MQPTR;
typedef void MQVOID;

typedef MQCHAR MQCHAR4[4];
typedef MQCHAR MQCHAR8[8];
typedef MQCHAR MQCHAR12[12];
typedef MQCHAR MQCHAR20[20];
typedef MQCHAR MQCHAR28[28];
typedef MQCHAR MQCHAR32[32];
typedef MQCHAR MQCHAR48[48];
typedef MQCHAR MQCHAR64[64];
typedef MQCHAR MQCHAR128[128];
typedef MQCHAR MQCHAR256[256];
typedef MQBYTE MQBYTE4[4];
typedef MQBYTE MQBYTE8[8];
typedef MQBYTE MQBYTE16[16];
typedef MQBYTE MQBYTE24[24];
typedef MQBYTE MQBYTE32[32];
typedef MQBYTE MQBYTE40[40];
typedef MQBYTE MQBYTE128[128];

typedef MQLONG* PMQLONG;
typedef MQULONG* PMQULONG;
typedef MQINT64* PMQINT64;
typedef MQHCONN* PMQHCONN;
typedef MQHOBJ* PMQHOBJ;
typedef MQHMSG* PMQHMSG;
typedef MQBOOL* PMQBOOL;
typedef MQCHAR* PMQCHAR;
typedef MQBYTE* PMQBYTE;
typedef MQPTR* PMQPTR;
typedef void* PMQVOID;

// Structures that the program only passes along by address; their layout
// is never touched here, so they stay incomplete.
struct tagMQSCO;
struct tagMQBNO;
typedef struct tagMQSCO MQSCO;
typedef MQSCO* PMQSCO;
typedef struct tagMQBNO MQBNO;
typedef MQBNO* PMQBNO;

// Structure identifiers (4 characters, no terminator).
#define MQMD_STRUC_ID "MD  "
#define MQMD_STRUC_ID_ARRAY 'M', 'D', ' ', ' '
#define MQMDE_STRUC_ID "MDE "
#define MQMDE_STRUC_ID_ARRAY 'M', 'D', 'E', ' '
#define MQOD_STRUC_ID "OD  "
#define MQOD_STRUC_ID_ARRAY 'O', 'D', ' ', ' '
#define MQGMO_STRUC_ID "GMO "
#define MQGMO_STRUC_ID_ARRAY 'G', 'M', 'O', ' '
#define MQPMO_STRUC_ID "PMO "
#define MQPMO_STRUC_ID_ARRAY 'P', 'M', 'O', ' '
#define MQCNO_STRUC_ID "CNO "
#define MQCNO_STRUC_ID_ARRAY 'C', 'N', 'O', ' '
#define MQCSP_STRUC_ID "CSP "
#define MQCSP_STRUC_ID_ARRAY 'C', 'S', 'P', ' '
#define MQCBD_STRUC_ID "CBD "
#define MQCBD_STRUC_ID_ARRAY 'C', 'B', 'D', ' '
#define MQCBC_STRUC_ID "CBC "
#define MQCBC_STRUC_ID_ARRAY 'C', 'B', 'C', ' '
#define MQCTLO_STRUC_ID "CTLO"
#define MQCTLO_STRUC_ID_ARRAY 'C', 'T', 'L', 'O'
#define MQDLH_STRUC_ID "DLH "
#define MQDLH_STRUC_ID_ARRAY 'D', 'L', 'H', ' '
#define MQXQH_STRUC_ID "XQH "
#define MQXQH_STRUC_ID_ARRAY 'X', 'Q', 'H', ' '
#define MQRFH_STRUC_ID "RFH "
#define MQRFH_STRUC_ID_ARRAY 'R', 'F', 'H', ' '
#define MQBNO_STRUC_ID "BNO "
#define MQBNO_STRUC_ID_ARRAY 'B', 'N', 'O', ' '

// "None" values of the identifier and token fields: all NUL bytes, except
// the application name, which is blanks.
#define MQ_NUL_8 '\0', '\0', '\0', '\0', '\0', '\0', '\0', '\0'
#define MQMI_NONE_ARRAY MQ_NUL_8, MQ_NUL_8, MQ_NUL_8
#define MQCI_NONE_ARRAY MQ_NUL_8, MQ_NUL_8, MQ_NUL_8
#define MQGI_NONE_ARRAY MQ_NUL_8, MQ_NUL_8, MQ_NUL_8
#define MQCONNID_NONE_ARRAY MQ_NUL_8, MQ_NUL_8, MQ_NUL_8
#define MQMTOK_NONE_ARRAY MQ_NUL_8, MQ_NUL_8
#define MQACT_NONE_ARRAY MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8
#define MQSID_NONE_ARRAY MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8
#define MQCT_NONE_ARRAY                                                        \
  MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8,       \
      MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8, MQ_NUL_8,   \
      MQ_NUL_8, MQ_NUL_8
#define MQAN_NONE "                            "
#define MQAN_NONE_ARRAY                                                        \
  ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',   \
      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '

// The byte sizes of the "none" identifiers, for memcmp against a field.
inline constexpr MQBYTE MQMI_NONE[24] = {MQMI_NONE_ARRAY};
inline constexpr MQBYTE MQCI_NONE[24] = {MQCI_NONE_ARRAY};
inline constexpr MQBYTE MQGI_NONE[24] = {MQGI_NONE_ARRAY};

#endif  // MQI_MQ_TYPES_H_
