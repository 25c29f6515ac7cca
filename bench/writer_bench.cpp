// The message file writer against plain hexadecimal encoding of the same
// bytes. Both write to /dev/null, so the figures are formatting plus the
// write calls; the ratio is what counts on a shared machine.
//
//   writer_bench [messages-per-size]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "zeplo/files/files.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The baseline: every byte as two hex digits, written once per message.
double PlainHex(const std::vector<unsigned char>& data, int messages, std::FILE* sink) {
  static const char* digits = "0123456789ABCDEF";
  std::vector<char> out(2 * data.size() + 1);
  Clock::time_point start = Clock::now();
  for (int m = 0; m < messages; ++m) {
    for (size_t i = 0; i < data.size(); ++i) {
      out[2 * i] = digits[data[i] >> 4];
      out[2 * i + 1] = digits[data[i] & 15];
    }
    out[2 * data.size()] = '\n';
    std::fwrite(out.data(), 1, out.size(), sink);
    std::fflush(sink);
  }
  return Seconds(start);
}

struct Layout {
  const char* name;
  void (*apply)(RunOptions*);
};

const Layout kLayouts[] = {
    {"hex", [](RunOptions*) {}},
    {"hex -da", [](RunOptions* o) { o->AsciiColumns = true; }},
    {"ascii -dA", [](RunOptions* o) { o->AsciiLines = true; }},
    {"printable -dp", [](RunOptions* o) { o->Printable = true; }},
    {"text -dt", [](RunOptions* o) { o->TextLines = true; }},
};

double Writer(const Layout& layout, std::vector<unsigned char>& data, int messages, std::FILE* sink,
              int* rc) {
  auto opts = std::make_unique<RunOptions>();
  layout.apply(opts.get());
  opts->OutputStream = sink;
  MessageBuffer& m = opts->Message;
  m.Storage = data.data();
  m.Cursor = data.data();
  m.Capacity = m.DataLength = static_cast<int32_t>(data.size());
  m.Descriptor = &m.OwnDescriptor;
  m.OwnDescriptor.Version = 2;
  std::memcpy(m.OwnDescriptor.Format, "MQSTR   ", 8);
  Clock::time_point start = Clock::now();
  for (int i = 0; i < messages && *rc == 0; ++i) *rc = WriteMessage(opts.get());
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  int budget = argc > 1 ? std::atoi(argv[1]) : 200000000;  // bytes per size
  std::FILE* sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) return 1;
  std::printf("%-14s %8s %12s %10s %12s %10s %7s\n", "layout", "size", "writer msg/s",
              "writer MB/s", "hex msg/s", "hex MB/s", "ratio");
  const size_t sizes[] = {100, 1024, 10240, 102400, 1048576};
  int rc = 0;
  for (size_t size : sizes) {
    // Mixed content: text with a binary stretch every few hundred bytes.
    std::vector<unsigned char> data(size);
    unsigned state = 12345;
    for (size_t i = 0; i < size; ++i) {
      state = state * 1103515245u + 12345u;
      data[i] = (i % 300) < 250 ? static_cast<unsigned char>('a' + (state >> 16) % 26)
                                : static_cast<unsigned char>(state >> 16);
    }
    int messages = static_cast<int>(budget / static_cast<int>(size));
    if (messages < 20) messages = 20;
    double hex = PlainHex(data, messages, sink);
    for (const Layout& layout : kLayouts) {
      double writer = Writer(layout, data, messages, sink, &rc);
      if (rc != 0) {
        std::fprintf(stderr, "WriteMessage returned %d\n", rc);
        return 1;
      }
      double mb = static_cast<double>(size) * messages / 1048576.0;
      std::printf("%-14s %8zu %12.0f %10.1f %12.0f %10.1f %6.2fx\n", layout.name, size,
                  messages / writer, mb / writer, messages / hex, mb / hex, writer / hex);
    }
  }
  std::fclose(sink);
  return 0;
}
