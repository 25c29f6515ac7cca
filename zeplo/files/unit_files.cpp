// The output file in a unit of work: where the output stood at the last
// commit, and putting it back there when a unit is backed out, so that the
// messages which return to their queue do not also stay in the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

// One file of the open unit: the file open at the last commit (Opened
// false) or one opened since (Opened true), with the size to go back to.
// NeedsEnd: the committed part starts with our header, so a file cut back
// to it gets the end line again (without it a load refuses the file).
struct UnitFile {
  char Name[kFileNameLength + 1];
  int64_t Size;
  bool Opened;
  bool NeedsEnd;
};

// Labelled block "UNITFILES": Count entries in use of Capacity.
struct UnitFileList {
  int32_t Capacity;
  int32_t Count;
  UnitFile Entries[1];  // really Capacity entries
};

namespace {

constexpr int32_t kInitialUnitFiles = 4;

size_t ListBytes(int32_t capacity) {
  return offsetof(UnitFileList, Entries) + sizeof(UnitFile) * static_cast<size_t>(capacity);
}

// Only a regular file can be taken back: not standard output (nor the
// null output), and never a device or a pipe named as the output file.
bool IsRealFile(const Run* run) {
  struct stat st {};
  return run->Files.OutputStream != nullptr && run->Files.OutputStream != stdout &&
         run->Files.CurrentOutputFile[0] != '\0' &&
         fstat(fileno(run->Files.OutputStream), &st) == 0 && S_ISREG(st.st_mode);
}

// The name still leads to a regular file (not replaced since by anything
// that truncating or removing would harm).
bool StillRegular(const char* name) {
  struct stat st {};
  return lstat(name, &st) == 0 && S_ISREG(st.st_mode);
}

// Room for one more entry. Returns 0 or 2071.
int EnsureRoom(Run* run) {
  UnitFileList* old = run->Files.UnitFiles;
  if (old != nullptr && old->Count < old->Capacity) return 0;
  int64_t wanted = old == nullptr ? kInitialUnitFiles : int64_t{old->Capacity} * 2;
  int32_t capacity = wanted > INT32_MAX / 2 ? 0 : static_cast<int32_t>(wanted);
  auto* list = capacity == 0
                   ? nullptr
                   : static_cast<UnitFileList*>(CSGetMem(ListBytes(capacity), "UNITFILES"));
  if (list == nullptr) {
    return SetExitMessage(run, MQRC_STORAGE_NOT_AVAILABLE,
                          "Unable to allocate %d entries of output file storage", capacity);
  }
  list->Capacity = capacity;
  list->Count = 0;
  if (old != nullptr) {
    std::memcpy(list->Entries, old->Entries, sizeof(UnitFile) * static_cast<size_t>(old->Count));
    list->Count = old->Count;
    CSFreeMem(old);
  }
  run->Files.UnitFiles = list;
  return 0;
}

void Append(UnitFileList* list, const char* name, int64_t size, bool opened, bool needsEnd) {
  UnitFile& f = list->Entries[list->Count++];
  std::snprintf(f.Name, sizeof f.Name, "%s", name);
  f.Size = size;
  f.Opened = opened;
  f.NeedsEnd = needsEnd;
}

// Cuts the file back to f.Size and, when it needs one, ends it again with
// the end line, on disk before returning. Returns 0 or the errno.
int CutBack(const UnitFile& f) {
  if (truncate(f.Name, f.Size) != 0) return errno;
  if (!f.NeedsEnd) return 0;
  int fd = open(f.Name, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  char line[sizeof kFileEndLine + 1];
  std::snprintf(line, sizeof line, "%s\n", kFileEndLine);
  size_t length = std::strlen(line);
  bool ok = write(fd, line, length) == static_cast<ssize_t>(length) && fdatasync(fd) == 0;
  int error = ok ? 0 : (errno != 0 ? errno : EIO);
  close(fd);
  return error;
}

}  // namespace

int MarkOutputCommitted(Run* run) {
  if (run->Files.UnitFiles != nullptr) run->Files.UnitFiles->Count = 0;
  int rc = EnsureRoom(run);
  if (rc != 0 || !IsRealFile(run)) return rc;
  Append(run->Files.UnitFiles, run->Files.CurrentOutputFile, run->Files.OutputFilePosition, false,
         run->Files.OutputNeedsEnd);
  return 0;
}

int NoteOutputOpened(Run* run, int64_t sizeAtOpen) {
  if (run->Files.UnitFiles == nullptr || !IsRealFile(run)) return 0;  // not in a unit
  int rc = EnsureRoom(run);
  if (rc != 0) return rc;
  Append(run->Files.UnitFiles, run->Files.CurrentOutputFile, sizeAtOpen, true, false);
  return 0;
}

int RollBackOutputFiles(Run* run) {
  UnitFileList* list = run->Files.UnitFiles;
  if (list == nullptr) return 0;
  if (IsRealFile(run)) {
    // Whatever the stream still holds belongs to the unit going back; a
    // failing close only loses bytes that are cut off below anyway.
    std::fclose(run->Files.OutputStream);
    run->Files.OutputStream = nullptr;
  }
  int rc = 0;
  for (int32_t i = 0; i < list->Count; i++) {
    const UnitFile& f = list->Entries[i];
    // A file that was empty when this unit opened it (new, or overwritten)
    // holds nothing but the unit: it goes. Others lose what the unit added.
    bool remove = f.Opened && f.Size == 0;
    if (!StillRegular(f.Name)) continue;  // gone or replaced: nothing of ours
    int error = remove ? (unlink(f.Name) == 0 ? 0 : errno) : CutBack(f);
    if (error != 0) {
      if (rc == 0) {
        rc = SetExitMessage(run, MQRC_RESOURCE_PROBLEM, "Can not restore file '%s' RC(%d)", f.Name,
                            error);
      }
      continue;
    }
    if (remove) run->Counters.UncommittedWrittenFiles++;
  }
  list->Count = 0;
  return rc;
}

void ReleaseUnitFiles(Run* run) { CSReleaseMem(&run->Files.UnitFiles); }
