// What generic unload and load share: the generic file pattern, the
// sorted lists of queues and files with their file names, the directory
// scan, the grouping of roll-over files, and the yes/no question.
#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/generic/generic.h"
#include "zeplo/util/util.h"

// clang-format off
#include "zeplo/util/banned.h"  // after every other header
// clang-format on

namespace {

constexpr size_t kMaxFileTypeLength = 19;  // the dot included

int RefusePattern(const char* message) {
  fputs(message, stderr);
  return MQRC_OPTIONS_ERROR;
}

// Byte order of names, then roll-over index.
bool SortsAfter(const QueueFileEntry* a, const QueueFileEntry* b) {
  int order = strcmp(a->QueueName, b->QueueName);
  return order > 0 || (order == 0 && a->Index > b->Index);
}

bool SameIgnoringCase(const QueueFileEntry* a, const QueueFileEntry* b) {
  return CompareNoCase(a->QueueName, b->QueueName) == 0;
}

// BaseName and Path of a queue's file from its name and CaseTwins. False
// when the path would not fit.
bool BuildNames(const Run* run, QueueFileEntry* e) {
  char base[kFileNameLength + 1];
  size_t n = 0;
  for (const char* p = e->QueueName; *p != '\0' && n < kMqNameLength; ++p)
    base[n++] = *p == '/' ? '!' : *p;
  base[n] = '\0';
  if (e->CaseTwins != 0) snprintf(base + n, sizeof base - n, "#%d", e->CaseTwins);
  snprintf(e->BaseName, sizeof e->BaseName, "%s", base);
  int length = snprintf(e->Path, sizeof e->Path, "%s%s%s", run->Files.GenericDirectory, base,
                        run->Files.GenericFileType);
  return length > 0 && static_cast<size_t>(length) < sizeof e->Path;
}

}  // namespace

void GenericRunRelease(GenericRun* lists) {
  for (QueueFileEntry** list : {&lists->QueueFiles, &lists->ExistingFiles}) {
    while (*list != nullptr) {
      QueueFileEntry* next = (*list)->Next;
      CSFreeMem(*list);
      *list = next;
    }
  }
}

int ParseGenericFileSpec(Run* run, const char* fileName) {
  FileState* files = &run->Files;
  const char* slash = strrchr(fileName, '/');
  const char* file = slash != nullptr ? slash + 1 : fileName;
  if (slash != nullptr)
    snprintf(files->GenericDirectory, sizeof files->GenericDirectory, "%.*s",
             static_cast<int>(file - fileName), fileName);
  else
    snprintf(files->GenericDirectory, sizeof files->GenericDirectory, "./");
  if (file[0] != '*' || (file[1] != '\0' && file[1] != '.'))
    return RefusePattern("Expected a generic output file specification.\n");
  const char* type = file[1] == '\0' ? ".zpd" : file + 1;
  if (strlen(type) > kMaxFileTypeLength) return RefusePattern("Generic file type too long.\n");
  if (type[1] == '\0') return RefusePattern("Invalid generic file type.\n");
  for (const char* p = type + 1; *p != '\0'; ++p)
    if (!isalnum(static_cast<unsigned char>(*p))) return RefusePattern("Invalid generic file type.\n");
  snprintf(files->GenericFileType, sizeof files->GenericFileType, "%s", type);
  files->GenericFileTypeLength = static_cast<int32_t>(strlen(type));
  return 0;
}

int AddQueueFileEntry(const Run* run, const QueueFileEntry* entry, QueueFileEntry** list) {
  auto* e = static_cast<QueueFileEntry*>(CSGetMem(sizeof(QueueFileEntry), "QN"));
  if (e == nullptr) return MQRCCF_NO_STORAGE;
  *e = *entry;
  e->Next = nullptr;
  e->CaseTwins = 0;
  QueueFileEntry** at = list;
  for (; *at != nullptr && !SortsAfter(*at, e); at = &(*at)->Next)
    if (SameIgnoringCase(*at, e)) e->CaseTwins++;
  bool named = e->Path[0] == '\0';
  if (named && !BuildNames(run, e)) {
    fprintf(stderr, "Generic file name for queue '%s' is too long.\n", e->QueueName);
    CSFreeMem(e);
    return MQRC_FILE_SYSTEM_ERROR;
  }
  e->Next = *at;
  *at = e;
  // A twin that now sorts after this one counts it too: its file name
  // moves on, so two queues never share a file whatever order they came.
  for (QueueFileEntry* later = e->Next; named && later != nullptr; later = later->Next) {
    if (!SameIgnoringCase(later, e)) continue;
    later->CaseTwins++;
    BuildNames(run, later);
  }
  return 0;
}

bool IsOrdinaryQueue(const Run* run, const char* queueName) {
  return strcmp(queueName, run->Options->OutputQueueName) == 0 ||
         strncmp(queueName, "SYSTEM.", 7) != 0 ||
         strcmp(queueName, "SYSTEM.CLUSTER.TRANSMIT.QUEUE") == 0 ||
         strcmp(queueName, "SYSTEM.DEAD.LETTER.QUEUE") == 0;
}

void StartQueueRun(const Run* run, RunOptions* queueOptions, Run* queueRun) {
  *queueOptions = *run->Options;
  // The lists stay the parsed options' (the driver frees them); the
  // queue's run reads its one queue or file from the names in the copy.
  queueOptions->InputList = nullptr;
  queueOptions->OutputList = nullptr;
  RunInit(queueRun, queueOptions);
  for (int i = 0; i < 2; ++i) queueRun->Qmgrs[i] = run->Qmgrs[i];
  queueRun->Settings = run->Settings;
  FileState* files = &queueRun->Files;
  snprintf(files->GenericDirectory, sizeof files->GenericDirectory, "%s",
           run->Files.GenericDirectory);
  snprintf(files->GenericFileType, sizeof files->GenericFileType, "%s",
           run->Files.GenericFileType);
  files->GenericFileTypeLength = run->Files.GenericFileTypeLength;
}

void EndQueueRun(Run* run, const Run* queueRun) {
  for (int i = 0; i < 2; ++i) run->Qmgrs[i] = queueRun->Qmgrs[i];
  run->Settings = queueRun->Settings;
  // A unit whose backout failed may still be open: the disconnect tries
  // once more before it commits anything.
  for (int i = 0; i < 2; ++i)
    if (queueRun->Engine.BackoutFailed[i]) run->Engine.BackoutFailed[i] = true;
}

bool ParseGenericFileName(const Run* run, const char* name, QueueFileEntry* entry) {
  const FileState* files = &run->Files;
  memset(entry, 0, sizeof *entry);
  size_t length = strlen(name), typeLength = strlen(files->GenericFileType);
  if (length <= typeLength || strcmp(name + length - typeLength, files->GenericFileType) != 0)
    return false;
  int n = snprintf(entry->Path, sizeof entry->Path, "%s%s", files->GenericDirectory, name);
  if (n < 0 || static_cast<size_t>(n) >= sizeof entry->Path) return false;
  size_t baseLength = length - typeLength;
  if (baseLength > kFileNameLength) return false;
  memcpy(entry->BaseName, name, baseLength);
  entry->BaseName[baseLength] = '\0';
  char* dollar = strchr(entry->BaseName, '$');
  if (dollar != nullptr) {
    *dollar = '\0';
    entry->Indexed = true;
    long index = strtol(dollar + 1, nullptr, 10);
    entry->Index = index < 0 || index > 999999999 ? 0 : static_cast<int32_t>(index);
  }
  size_t queueLength = strcspn(entry->BaseName, "#");
  if (queueLength == 0 || queueLength > kMqNameLength) return false;
  for (size_t i = 0; i < queueLength; ++i)
    entry->QueueName[i] = entry->BaseName[i] == '!' ? '/' : entry->BaseName[i];
  entry->QueueName[queueLength] = '\0';
  return true;
}

int ScanGenericDirectory(Run* run, int (*take)(Run*, QueueFileEntry*, void*), void* context) {
  DIR* dir = opendir(run->Files.GenericDirectory);
  if (dir == nullptr) {
    fprintf(stderr, "Can not open directory '%s'.\n", run->Files.GenericDirectory);
    return MQRC_NOT_AUTHORIZED;
  }
  int rc = 0;
  while (rc == 0) {
    struct dirent* d = readdir(dir);
    if (d == nullptr) break;
    QueueFileEntry entry;
    if (!ParseGenericFileName(run, d->d_name, &entry)) continue;
    struct stat st;
    if (stat(entry.Path, &st) == 0 && S_ISDIR(st.st_mode)) continue;
    rc = take(run, &entry, context);
  }
  closedir(dir);
  return rc;
}

void GroupQueueFiles(QueueFileEntry* list) {
  QueueFileEntry* head = nullptr;
  for (QueueFileEntry* e = list; e != nullptr; e = e->Next) {
    bool member = head != nullptr && e->Indexed && strcmp(e->BaseName, head->BaseName) == 0;
    e->GroupHead = !member;
    if (!member) {
      head = e;
      head->MinIndex = 999999999;
      head->MaxIndex = 0;
    }
    if (!e->Indexed) continue;
    if (e->Index < head->MinIndex) head->MinIndex = e->Index;
    if (e->Index > head->MaxIndex) head->MaxIndex = e->Index;
  }
}

bool AskYes(const char* question, FILE* in) {
  fputs(question, stderr);
  fflush(stderr);
  char line[100];
  if (fgets(line, sizeof line, in) == nullptr) return false;
  if (strchr(line, '\n') == nullptr) {
    int c;  // the rest of an over-long answer is not the next answer
    do c = fgetc(in);
    while (c != EOF && c != '\n');
  }
  return line[0] == 'y' || line[0] == 'Y';
}
