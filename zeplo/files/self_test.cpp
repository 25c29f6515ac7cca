// The file format self-test (-dxtest): one message with every descriptor
// field set to a value of its own and data holding every byte value,
// written and read back in the three layouts the writer builds on each
// other (hex, ASCII lines, ASCII lines with columns), on a private Run
// over private options, so that the run's own state is never touched.
#include <cstdio>
#include <cstring>
#include <new>

#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"
#include "zeplo/util/banned.h"

namespace {

constexpr int32_t kTestDataLength = 4096;

// The self-test's own options and the run over them; the passes switch
// the layout options between runs of the writer and the reader.
struct SelfTestRun {
  RunOptions Options;
  Run State;
};

// A failed check leaves one line in cstrap.txt (the last one only), for
// whoever has to find which check it was.
void Trap(int line, int value) {
  FILE* trap = fopen("cstrap.txt", "w");
  if (trap == nullptr) return;
  fprintf(trap, "cstrap line %d file %s (%s) value %d\n", line, ".//zeplofnc", "DD/MM/YYYY", value);
  fclose(trap);
}

// The test descriptor: row i of the attribute table (counted from 0, the
// key-less StrucId row included) gives its field the value i, as
// characters 'a' + i or bytes i over the whole width. Rows sharing a field
// leave the later row's value. Returns false on a row of unknown kind.
bool BuildTestDescriptor(MQMD* md) {
  memset(md, 0, sizeof *md);
  for (int32_t i = 0; i < MessageAttributeCount; ++i) {
    const MessageAttribute& row = MessageAttributeTable[i];
    if (row.Key[0] == '\0') continue;
    char* field = reinterpret_cast<char*>(md) + row.Offset;
    switch (row.Kind) {
      case kAttributeText: memset(field, 'a' + i, static_cast<size_t>(row.Width)); break;
      case kAttributeBytes: memset(field, i, static_cast<size_t>(row.Width)); break;
      case kAttributeNumber: {
        MQLONG value = i;
        memcpy(field, &value, sizeof value);
        break;
      }
      default:
        Trap(__LINE__, static_cast<int>(row.Kind));
        return false;
    }
  }
  memcpy(md->StrucId, MQMD_STRUC_ID, sizeof md->StrucId);
  md->Version = MQMD_VERSION_2;  // every row is written
  return true;
}

void CloseTestFiles(Run* run) {
  FileState& f = run->Files;
  if (f.OutputStream != nullptr) fclose(f.OutputStream);
  if (f.InputStream != nullptr) fclose(f.InputStream);
  f.OutputStream = f.InputStream = nullptr;
}

enum class Pass { Matched, Mismatched, Stopped };

// One pass: write, read back, compare. Stopped when the pass could not be
// run; a failed comparison is reported and the test goes on.
Pass RunPass(Run* run, const char* file, const MQMD& md, const unsigned char* data, FILE* report) {
  CloseTestFiles(run);
  run->Files.OutputStream = fopen(file, "w");
  if (run->Files.OutputStream == nullptr) {
    fprintf(report, "Can not open test file '%s' for output\n", file);
    return Pass::Stopped;
  }
  MessageBuffer& m = run->Message;
  m.OwnDescriptor = md;
  m.Descriptor = &m.OwnDescriptor;
  memcpy(m.Storage, data, kTestDataLength);
  m.Cursor = m.Storage;
  m.DataLength = kTestDataLength;
  int rc = WriteMessage(run);
  if (rc != 0) {
    fprintf(report, "WriteFileMessage returned RC(%d)\n", rc);
    return Pass::Stopped;
  }
  CloseTestFiles(run);
  run->Files.InputStream = fopen(file, "r");
  if (run->Files.InputStream == nullptr) {
    fprintf(report, "Can not open test file '%s' for input\n", file);
    return Pass::Stopped;
  }
  run->Files.InputFileBytes = 0;
  ResetLineReader(run);
  memset(&m.OwnDescriptor, 0, sizeof m.OwnDescriptor);
  m.DataLength = 0;
  bool endOfFile = false;
  ReadFileMessage(run, &endOfFile);  // a failed read shows in the comparisons

  bool passed = true;
  if (memcmp(m.Descriptor, &md, sizeof md) != 0) {
    fputs("Message Descriptors don't match\n", report);
    Trap(__LINE__, 0);
    passed = false;
  }
  if (m.DataLength != kTestDataLength) {
    fputs("Message length does not match\n", report);
    Trap(__LINE__, 0);
    passed = false;
  } else if (memcmp(m.Cursor, data, kTestDataLength) != 0) {
    fputs("Message does not match!\n", report);
    Trap(__LINE__, 0);
    passed = false;
  }
  return passed ? Pass::Matched : Pass::Mismatched;
}

}  // namespace

int FileFormatSelfTest(const char* file, FILE* report) {
  fputs("\nRunning file format tests\n", report);
  fputs("\n-------------------------\n", report);
  void* block = CSGetMem(sizeof(SelfTestRun), "Self test");
  SelfTestRun* test = block != nullptr ? new (block) SelfTestRun{} : nullptr;
  Run* run = test != nullptr ? &test->State : nullptr;
  auto* data = static_cast<unsigned char*>(CSGetMem(kTestDataLength, "Test data"));
  bool passed = false;
  MQMD md;
  if (test != nullptr) {
    test->Options.DataWidth = 25;  // the defaults the writer reads
    test->Options.TransactionLimit = 200;
    RunInit(run, &test->Options);
  }
  if (run == nullptr || data == nullptr || GrowMessageStorage(run, kTestDataLength) != 0) {
    fprintf(report, "Can not allocate %d bytes\n", kTestDataLength);
  } else if (AllocateLineStorage(run, 1) != 0) {
    fputs("Can not allocate line area", report);
  } else if (BuildTestDescriptor(&md)) {
    for (int32_t k = 0; k < kTestDataLength; ++k) data[k] = static_cast<unsigned char>(k % 256);
    static const char* const kPasses[] = {"  Testing Hex file\n", "  Testing Ascii file\n",
                                          "  Testing Ascii column file\n"};
    Pass outcome = Pass::Matched;
    passed = true;
    for (int pass = 0; pass < 3 && outcome != Pass::Stopped; ++pass) {
      fputs(kPasses[pass], report);
      test->Options.AsciiLines = pass >= 1;
      test->Options.AsciiColumns = pass >= 2;
      outcome = RunPass(run, file, md, data, report);
      passed = passed && outcome == Pass::Matched;
    }
    if (passed) fputs("All tests passed\n----------------\n", report);
  }
  if (run != nullptr) {
    CloseTestFiles(run);
    ReleaseLineStorage(run);
    CSReleaseMem(&run->Message.Storage);
  }
  CSReleaseMem(&data);
  CSReleaseMem(&test);
  return passed ? 0 : MQRC_UNEXPECTED_ERROR;
}
