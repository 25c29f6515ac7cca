// The message file writer against plain hexadecimal encoding of the same
// bytes. Both write to /dev/null, so the figures are formatting plus the
// write calls; the ratio is what counts on a shared machine.
//
//   writer_bench [messages-per-size]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/zeplo/test_run.h"
#include "bench/bench_util.h"
#include "zeplo/files/files.h"

namespace {

// The baseline: every byte as two hex digits, written once per message.
double PlainHex(const std::vector<unsigned char>& data, int messages, std::FILE* sink) {
  static const char* digits = "0123456789ABCDEF";
  std::vector<char> out(2 * data.size() + 1);
  double start = BenchSeconds();
  for (int m = 0; m < messages; ++m) {
    for (size_t i = 0; i < data.size(); ++i) {
      out[2 * i] = digits[data[i] >> 4];
      out[2 * i + 1] = digits[data[i] & 15];
    }
    out[2 * data.size()] = '\n';
    std::fwrite(out.data(), 1, out.size(), sink);
    std::fflush(sink);
  }
  return BenchSeconds() - start;
}

double Writer(const BenchLayout& layout, std::vector<unsigned char>& data, int messages,
              std::FILE* sink, int* rc) {
  auto opts = std::make_unique<TestRun>();
  layout.Apply(opts.get());
  opts->Files.OutputStream = sink;
  MessageBuffer& m = opts->Message;
  m.Storage = data.data();
  m.Cursor = data.data();
  m.Capacity = m.DataLength = static_cast<int32_t>(data.size());
  m.Descriptor = &m.OwnDescriptor;
  m.OwnDescriptor.Version = 2;
  std::memcpy(m.OwnDescriptor.Format, "MQSTR   ", 8);
  double start = BenchSeconds();
  for (int i = 0; i < messages && *rc == 0; ++i) *rc = WriteMessage(opts.get());
  return BenchSeconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
  int budget = argc > 1 ? std::atoi(argv[1]) : 200000000;  // bytes per size
  std::FILE* sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) return 1;
  BenchPrintTableHeader("writer");
  int rc = 0;
  for (size_t size : kBenchSizes) {
    std::vector<unsigned char> data = BenchMixedData(size);
    int messages = static_cast<int>(budget / static_cast<int>(size));
    if (messages < 20) messages = 20;
    double hex = PlainHex(data, messages, sink);
    for (const BenchLayout& layout : kBenchLayouts) {
      double writer = Writer(layout, data, messages, sink, &rc);
      if (rc != 0) {
        std::fprintf(stderr, "WriteMessage returned %d\n", rc);
        return 1;
      }
      BenchPrintTableRow(layout.Name, size, messages, writer, hex);
    }
  }
  std::fclose(sink);
  return 0;
}
