// Connecting a queue-manager slot and learning what it is connected to.
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/mq/mq.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

// The application name the queue manager shows for our connections. It is
// copied with its terminator into the blank field, as it always has been.
const char kApplName[] = "Kalvo Software ZEPLO";
static_assert(sizeof kApplName <= sizeof(MQCHAR28));

bool SlotValid(const Run* run, int slot) {
  return run != nullptr && slot >= 0 && slot < 2;
}

}  // namespace

int InquireQmgr(Run* run, int slot) {
  if (!SlotValid(run, slot)) return MQRC_UNEXPECTED_ERROR;
  QmgrSlot* qmgr = &run->Qmgrs[slot];
  MqApi* api = qmgr->Api;
  if (api == nullptr) return MQRC_UNEXPECTED_ERROR;

  MQOD od = {MQOD_DEFAULT};
  od.ObjectType = MQOT_Q_MGR;
  MQHOBJ hobj = MQHO_UNUSABLE_HOBJ;
  MQLONG compCode = MQCC_FAILED;
  MQLONG reason = MQRC_NONE;
  api->MQOPEN(qmgr->Hconn, &od, MQOO_INQUIRE, &hobj, &compCode, &reason);
  if (run->Options->PrintApis) ReportMqiCall("MQOPEN", qmgr->Name, "", reason);
  int last = reason;
  bool opened = compCode != MQCC_FAILED;

  if (opened) {
    MQLONG selectors[3] = {MQCA_Q_MGR_NAME, MQIA_COMMAND_LEVEL, MQIA_PLATFORM};
    MQLONG values[2] = {0, 0};
    // The name goes to a field of its own first: a failed inquiry must
    // leave the slot's Name as it was.
    char reported[MQ_Q_MGR_NAME_LENGTH];
    std::memset(reported, ' ', sizeof reported);
    api->MQINQ(qmgr->Hconn, hobj, 3, selectors, 2, values, sizeof reported, reported, &compCode,
               &reason);
    if (run->Options->PrintApis) ReportMqiCall("MQINQ", qmgr->Name, "", reason);
    last = reason;
    if (compCode != MQCC_FAILED) {
      char name[kMqNameLength + 1];
      CopyMqName(name, reported, MQ_Q_MGR_NAME_LENGTH);
      if (name[0] != '\0') std::snprintf(qmgr->Name, sizeof qmgr->Name, "%s", name);
      qmgr->CommandLevel = values[0];
      qmgr->Platform = values[1];
    }
  }

  if (opened && hobj != MQHO_UNUSABLE_HOBJ) {
    api->MQCLOSE(qmgr->Hconn, &hobj, MQCO_NONE, &compCode, &reason);
    if (run->Options->PrintApis) ReportMqiCall("MQCLOSE", qmgr->Name, "", reason);
    last = reason;
  }
  return last;
}

int TakePassword(RunOptions* options, int slot, char* text) {
  if (options == nullptr || slot < 0 || slot >= 2 || text == nullptr) return MQRC_UNEXPECTED_ERROR;
  size_t length = std::strlen(text);
  char*& held = options->Qmgrs[slot].Password;
  if (held != nullptr) {
    explicit_bzero(held, std::strlen(held));
    CSReleaseMem(&held);
  }
  held = static_cast<char*>(CSGetMem(length + 1, "Password"));
  if (held != nullptr) std::memcpy(held, text, length + 1);
  explicit_bzero(text, length);
  return held != nullptr ? 0 : MQRC_STORAGE_NOT_AVAILABLE;
}

void ReleasePasswords(RunOptions* options) {
  for (QmgrSlot& slot : options->Qmgrs) {
    if (slot.Password == nullptr) continue;
    explicit_bzero(slot.Password, std::strlen(slot.Password));
    CSReleaseMem(&slot.Password);
  }
}

namespace {

int Connect(Run* run, int slot) {
  QmgrSlot* qmgr = &run->Qmgrs[slot];
  if (qmgr->NoConnect) return 0;
  if (qmgr->Api == nullptr) return MQRC_UNEXPECTED_ERROR;
  qmgr->Hconn = MQHC_UNUSABLE_HCONN;

  int rc = BindMqApi(qmgr->Library, qmgr->Api);
  if (rc != 0) {
    std::fprintf(stderr, "Error loading MQAPI DLL %s RC(%d)\n",
                 qmgr->Library != nullptr ? qmgr->Library : "", rc);
    return MQRC_ENVIRONMENT_ERROR;
  }

  MQCNO cno = {MQCNO_DEFAULT};
  MQCSP csp = {MQCSP_DEFAULT};
  bool haveUser = qmgr->User != nullptr && qmgr->User[0] != '\0';
  bool firstAttempt = true;
  MQHCONN hconn = MQHC_UNUSABLE_HCONN;
  MQLONG compCode = MQCC_FAILED;
  MQLONG reason = MQRC_NONE;
  // A password typed at the prompt serves the connect and its retry only:
  // it is wiped as soon as the connection is made or refused.
  char typed[kPasswordBufferSize] = {};
  const char* password = qmgr->Password;
  for (;;) {
    cno.Options |= MQCNO_HANDLE_SHARE_BLOCK;
    if (haveUser) {
      if (cno.Version < MQCNO_VERSION_5) cno.Version = MQCNO_VERSION_5;
      cno.SecurityParmsPtr = &csp;
      csp.CSPUserIdPtr = const_cast<char*>(qmgr->User);
      csp.CSPUserIdLength = static_cast<MQLONG>(std::strlen(qmgr->User));
      if (password == nullptr) {
        rc = PromptPassword(run, slot, typed, sizeof typed);
        if (rc != 0) break;
        password = typed;
      }
      csp.CSPPasswordPtr = const_cast<char*>(password);
      csp.CSPPasswordLength = static_cast<MQLONG>(std::strlen(password));
      csp.AuthenticationType = MQCSP_AUTH_USER_ID_AND_PWD;
    }
    if (firstAttempt) {
      cno.Version = MQCNO_VERSION_7;
      std::memcpy(cno.ApplName, kApplName, sizeof kApplName);
    }

    hconn = MQHC_UNUSABLE_HCONN;
    qmgr->Api->MQCONNX(qmgr->Name, &cno, &hconn, &compCode, &reason);

    // A library or queue manager that does not know this MQCNO version
    // gets one plain retry. Only one: a second refusal is a real failure,
    // not a reason to try for ever.
    if (compCode == MQCC_FAILED && reason == MQRC_CNO_ERROR && firstAttempt) {
      cno.Version = MQCNO_VERSION_1;
      firstAttempt = false;
      continue;
    }
    break;
  }
  explicit_bzero(typed, sizeof typed);
  csp.CSPPasswordPtr = nullptr;
  if (rc != 0) return rc;  // the prompt was refused
  rc = CheckMqiCall(run, "MQCONN", qmgr->Name, nullptr, compCode, reason);
  if (rc != 0) return rc;

  qmgr->Hconn = hconn;
  InquireQmgr(run, slot);
  return reason;
}

}  // namespace

int ConnectQmgr(Run* run, int slot) {
  if (!SlotValid(run, slot)) return MQRC_UNEXPECTED_ERROR;
  int rc = Connect(run, slot);
  // Once the connection is made (or refused) nothing needs the -U copy:
  // its text goes now, the block itself when the options are released.
  QmgrSlot* qmgr = &run->Qmgrs[slot];
  if (qmgr->Password != nullptr) explicit_bzero(qmgr->Password, std::strlen(qmgr->Password));
  qmgr->Password = nullptr;
  return rc;
}
