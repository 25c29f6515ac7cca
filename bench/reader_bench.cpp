// The message file reader against plain hexadecimal decoding of the same
// bytes. Both read a file of the page cache: the reader a message file the
// writer made, the baseline the bare hex digits of the same messages, one
// line each, read in large blocks and decoded pair by pair. The ratio is
// what counts on a shared machine; the target is 2x or better.
//
//   reader_bench [bytes-per-size]
//
// Small messages are ruled by their descriptor: 28 attribute lines
// against one line of digits, so the ratio means most from 1 KB up.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/zeplo/test_run.h"
#include "bench/bench_util.h"
#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"

namespace {

std::FILE* WriteMessageFile(const BenchLayout& layout, std::vector<unsigned char>& data,
                            int messages) {
  auto opts = std::make_unique<TestRun>();
  layout.Apply(opts.get());
  opts->Files.OutputStream = std::tmpfile();
  if (opts->Files.OutputStream == nullptr || WriteFileHeader(opts.get(), "BENCH.Q") != 0) return nullptr;
  MessageBuffer& m = opts->Message;
  m.Storage = m.Cursor = data.data();
  m.Capacity = m.DataLength = static_cast<int32_t>(data.size());
  m.Descriptor = &m.OwnDescriptor;
  ResetDescriptorDefaults(&m.OwnDescriptor);
  for (int i = 0; i < messages; ++i) {
    if (WriteMessage(opts.get()) != 0) return nullptr;
  }
  return opts->Files.OutputStream;
}

std::FILE* WritePlainHex(const std::vector<unsigned char>& data, int messages) {
  static const char* digits = "0123456789ABCDEF";
  std::string line;
  for (unsigned char b : data) {
    line += digits[b >> 4];
    line += digits[b & 15];
  }
  line += '\n';
  std::FILE* f = std::tmpfile();
  for (int i = 0; f != nullptr && i < messages; ++i) std::fwrite(line.data(), 1, line.size(), f);
  return f;
}

// The baseline: blocks of the hex file, every pair of digits to a byte.
double PlainHex(std::FILE* in, size_t size, int* messages) {
  static int8_t value[256];
  for (int i = 0; i < 256; ++i) value[i] = -1;
  for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<int8_t>(i);
  for (int i = 0; i < 6; ++i) value['A' + i] = static_cast<int8_t>(10 + i);
  std::vector<unsigned char> out(size);
  std::vector<char> block(1 << 16);
  std::rewind(in);
  double start = BenchSeconds();
  size_t used = 0;
  int high = -1;
  *messages = 0;
  size_t got;
  while ((got = std::fread(block.data(), 1, block.size(), in)) > 0) {
    for (size_t i = 0; i < got; ++i) {
      int v = value[static_cast<unsigned char>(block[i])];
      if (v < 0) {  // the line end: one message complete
        ++*messages;
        used = 0;
      } else if (high < 0) {
        high = v;
      } else {
        out[used++ % size] = static_cast<unsigned char>(high << 4 | v);
        high = -1;
      }
    }
  }
  return BenchSeconds() - start;
}

double Reader(std::FILE* in, int* messages, int* rc) {
  auto opts = std::make_unique<TestRun>();
  opts->Files.InputStream = in;
  std::rewind(in);
  std::snprintf(opts->Files.CurrentInputFile, sizeof(opts->Files.CurrentInputFile), "bench.zpd");
  double start = BenchSeconds();
  bool listing, empty;
  *rc = PrepareMessageFile(opts.get(), &listing, &empty);
  *messages = 0;
  while (*rc == 0 && !empty && !opts->StopRequested) {
    *rc = ReadMessageFileMessage(opts.get());
    if (*rc == 0 && !opts->StopRequested) ++*messages;
  }
  double seconds = BenchSeconds() - start;
  ReleaseLineStorage(opts.get());
  CSReleaseMem(&opts->Message.Storage);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  long budget = argc > 1 ? std::atol(argv[1]) : 100000000;  // bytes per size
  BenchPrintTableHeader("reader");
  for (size_t size : kBenchSizes) {
    std::vector<unsigned char> data = BenchMixedData(size);
    int messages = static_cast<int>(budget / static_cast<long>(size));
    if (messages < 20) messages = 20;
    std::FILE* plain = WritePlainHex(data, messages);
    // Best of three for both sides: the machine is shared.
    int hexMessages = 0;
    double hex = kBenchNoTime;
    for (int run = 0; plain != nullptr && run < 3; ++run) {
      BenchKeepBest(&hex, PlainHex(plain, size, &hexMessages));
    }
    if (plain != nullptr) std::fclose(plain);
    for (const BenchLayout& layout : kBenchLayouts) {
      if (!layout.ReadBack) continue;
      std::FILE* file = WriteMessageFile(layout, data, messages);
      if (file == nullptr) {
        std::fprintf(stderr, "could not write the %s file\n", layout.Name);
        return 1;
      }
      int read = 0, rc = 0;
      double reader = kBenchNoTime;
      for (int run = 0; run < 3 && rc == 0; ++run) BenchKeepBest(&reader, Reader(file, &read, &rc));
      std::fclose(file);
      if (rc != 0 || read != messages || hexMessages != messages) {
        std::fprintf(stderr, "%s: read %d of %d messages, rc %d\n", layout.Name, read, messages,
                     rc);
        return 1;
      }
      BenchPrintTableRow(layout.Name, size, messages, reader, hex);
    }
  }
  return 0;
}
