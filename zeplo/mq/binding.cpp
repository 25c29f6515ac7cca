// Loading the MQ library and filling a slot's entry-point table.
//
// Nothing here links against MQ: the library is found by name (server or
// client bindings, in the directory the environment names) and each call is
// looked up with dlsym. The handle is deliberately never closed: callbacks
// and the second slot may still use the code.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zeplo/mq/mq.h"
#include "zeplo/util/banned.h"

namespace {

// The thirteen fallbacks for optional calls: each has its call's exact
// signature (so the table stays type-correct) and only reports that the
// function is not supported by the loaded library. OPTIONAL_<call> picks
// the optional calls out of the full call list.
#define ZEPLO_OPTIONAL_MQCONNX(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQSUB(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQSUBRQ(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQCB(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQCTL(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQCRTMH(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQDLTMH(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQINQMP(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQSETMP(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQDLTMP(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQBUFMH(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQMHBUF(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQSTAT(F, n, p) F(n, p)
#define ZEPLO_OPTIONAL_MQCONN(F, n, p)
#define ZEPLO_OPTIONAL_MQDISC(F, n, p)
#define ZEPLO_OPTIONAL_MQOPEN(F, n, p)
#define ZEPLO_OPTIONAL_MQCLOSE(F, n, p)
#define ZEPLO_OPTIONAL_MQGET(F, n, p)
#define ZEPLO_OPTIONAL_MQPUT(F, n, p)
#define ZEPLO_OPTIONAL_MQPUT1(F, n, p)
#define ZEPLO_OPTIONAL_MQINQ(F, n, p)
#define ZEPLO_OPTIONAL_MQSET(F, n, p)
#define ZEPLO_OPTIONAL_MQCMIT(F, n, p)
#define ZEPLO_OPTIONAL_MQBACK(F, n, p)

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define ZEPLO_UNSUPPORTED_ENTRY(name, params)                       \
  extern "C" void Unsupported##name params {                        \
    if (pCompCode != nullptr) *pCompCode = MQCC_FAILED;             \
    if (pReason != nullptr) *pReason = MQRC_FUNCTION_NOT_SUPPORTED; \
  }
#define ZEPLO_SELECT_OPTIONAL(name, params) \
  ZEPLO_OPTIONAL_##name(ZEPLO_UNSUPPORTED_ENTRY, name, params)
MQI_CALL_LIST(ZEPLO_SELECT_OPTIONAL)
#undef ZEPLO_SELECT_OPTIONAL
#undef ZEPLO_UNSUPPORTED_ENTRY
#pragma GCC diagnostic pop

bool DebugLoading() { return std::getenv("MQACCESS_DEBUG") != nullptr; }

// Fills buffer with $installVariable + "/lib64", or returns the variable
// overriding it, or the standard location. nullptr when the composed
// directory does not fit.
const char* LibraryDirectory(const char* overrideVariable, char* buffer, size_t size) {
  const char* direct = std::getenv(overrideVariable);
  if (direct != nullptr) return direct;  // set, even to "", wins
  const char* install = std::getenv("MQ_INSTALLATION_PATH");
  if (install == nullptr) return "/opt/mqm/lib64";
  int length = std::snprintf(buffer, size, "%s/lib64", install);
  if (length < 0 || static_cast<size_t>(length) >= size) return nullptr;
  return buffer;
}

// Looks up `name`; stores it when found. Returns whether it was found.
template <typename Fn>
bool Lookup(void* handle, const char* name, Fn* slot) {
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) return false;
  *slot = reinterpret_cast<Fn>(symbol);
  return true;
}

// Opens `fileName` in `directory`, refusing a directory that overflowed.
int OpenIn(const char* fileName, const char* directory, void** handle) {
  if (directory == nullptr) {
    *handle = nullptr;
    return ENAMETOOLONG;
  }
  return OpenMqLibrary(fileName, directory, handle);
}

// The loader reports failures through dlerror() only and leaves errno as it
// finds it (zero, since we clear it), so the code the caller gets is worked
// out here: what stat says about a named file, ELIBBAD for a file that
// exists but would not load, ENOENT for a bare name nobody found. Never 0,
// which would read as success.
int ExplainLoadFailure(const char* path) {
  if (std::strchr(path, '/') == nullptr) return ENOENT;
  struct stat st;
  if (stat(path, &st) != 0) return errno != 0 ? errno : ENOENT;
  return ELIBBAD;
}

}  // namespace

bool MqApiOffersConsume(const MqApi* table) {
  return table != nullptr && table->MQCB != nullptr && table->MQCTL != nullptr &&
         table->MQCB != UnsupportedMQCB && table->MQCTL != UnsupportedMQCTL;
}

const char* ServerLibraryDirectory() {
  static char buffer[kMqLibraryDirectorySize];
  return LibraryDirectory("MQM_DLL_PATH", buffer, sizeof buffer);
}

const char* ClientLibraryDirectory() {
  static char buffer[kMqLibraryDirectorySize];
  return LibraryDirectory("MQIC_DLL_PATH", buffer, sizeof buffer);
}

int OpenMqLibrary(const char* fileName, const char* directory, void** handle) {
  *handle = nullptr;
  if (fileName == nullptr || fileName[0] == '\0') return ENOENT;
  char path[kMqLibraryPathSize];
  int length;
  if (std::strchr(fileName, '/') != nullptr || directory == nullptr || directory[0] == '\0') {
    length = std::snprintf(path, sizeof path, "%s", fileName);
  } else {
    size_t dirLength = std::strlen(directory);
    const char* separator = directory[dirLength - 1] == '/' ? "" : "/";
    length = std::snprintf(path, sizeof path, "%s%s%s", directory, separator, fileName);
  }
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) return ENAMETOOLONG;

  bool debug = DebugLoading();
  if (debug) {
    std::printf("Loading '%s'\n", path);
    std::fflush(stdout);
  }
  dlerror();  // clear any earlier loader error
  errno = 0;
  void* opened = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
  if (opened == nullptr) {
    int code = errno;
    const char* why = dlerror();
    if (debug) {
      std::printf("Load failed %s \n", why != nullptr ? why : "");
      std::fflush(stdout);
    }
    return code != 0 ? code : ExplainLoadFailure(path);
  }
  *handle = opened;
  return 0;
}

int BindMqApi(const char* library, MqApi* table) {
  void* handle = nullptr;
  int rc;
  if (library == nullptr || library[0] == '\0') {
    rc = OpenIn("libmqm_r.so", ServerLibraryDirectory(), &handle);
    if (rc != 0) rc = OpenIn("libmqic_r.so", ClientLibraryDirectory(), &handle);
  } else if (std::strstr(library, "mqic") != nullptr) {
    bool plain = std::strcmp(library, "mqic") == 0 || std::strcmp(library, "mqic32") == 0;
    rc = OpenIn(plain ? "libmqic_r.so" : library, ClientLibraryDirectory(), &handle);
  } else {
    bool plain = std::strcmp(library, "mqm") == 0;
    rc = OpenIn(plain ? "libmqm_r.so" : library, ServerLibraryDirectory(), &handle);
  }
  if (rc != 0) return rc;

  // Required calls, in the order the binding has always resolved them; the
  // first one missing ends the binding.
  if (!Lookup(handle, "MQCONN", &table->MQCONN) || !Lookup(handle, "MQDISC", &table->MQDISC) ||
      !Lookup(handle, "MQCMIT", &table->MQCMIT) || !Lookup(handle, "MQBACK", &table->MQBACK) ||
      !Lookup(handle, "MQPUT", &table->MQPUT) || !Lookup(handle, "MQGET", &table->MQGET) ||
      !Lookup(handle, "MQPUT1", &table->MQPUT1) || !Lookup(handle, "MQINQ", &table->MQINQ) ||
      !Lookup(handle, "MQSET", &table->MQSET) || !Lookup(handle, "MQOPEN", &table->MQOPEN)) {
    return kMqEntryMissing;
  }
  bool haveClose = Lookup(handle, "MQCLOSE", &table->MQCLOSE);

  // Optional calls: a library of an older level may lack them.
#define ZEPLO_BIND_OPTIONAL(name) \
  if (!Lookup(handle, #name, &table->name)) table->name = Unsupported##name;
  ZEPLO_BIND_OPTIONAL(MQCONNX)
  ZEPLO_BIND_OPTIONAL(MQSUB)
  ZEPLO_BIND_OPTIONAL(MQSUBRQ)
  ZEPLO_BIND_OPTIONAL(MQCB)
  ZEPLO_BIND_OPTIONAL(MQCTL)
  ZEPLO_BIND_OPTIONAL(MQCRTMH)
  ZEPLO_BIND_OPTIONAL(MQDLTMH)
  ZEPLO_BIND_OPTIONAL(MQINQMP)
  ZEPLO_BIND_OPTIONAL(MQSETMP)
  ZEPLO_BIND_OPTIONAL(MQDLTMP)
  ZEPLO_BIND_OPTIONAL(MQBUFMH)
  ZEPLO_BIND_OPTIONAL(MQMHBUF)
  ZEPLO_BIND_OPTIONAL(MQSTAT)
#undef ZEPLO_BIND_OPTIONAL

  return haveClose ? 0 : kMqEntryMissing;
}
