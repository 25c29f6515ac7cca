// Helpers shared by the message file tests.
#ifndef ZEPLO_TESTS_FILES_TEST_UTIL_H_
#define ZEPLO_TESTS_FILES_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>

#include "tests/zeplo/test_run.h"
#include "zeplo/cs/cs.h"
#include "zeplo/files/files.h"

// Everything a stream holds, from its start.
inline std::string StreamText(std::FILE* f) {
  std::string text;
  std::rewind(f);
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
  return text;
}

inline std::string FileText(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string text = StreamText(f);
  std::fclose(f);
  return text;
}

// A fresh directory under /tmp, removed with everything in it.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    char pattern[] = "/tmp/zeplo_files_XXXXXX";
    if (mkdtemp(pattern) != nullptr) path = pattern;
  }
  ~ScratchDir() {
    std::string command = "rm -rf '" + path + "'";
    if (!path.empty() && std::system(command.c_str()) != 0) ADD_FAILURE() << command;
  }
  std::string operator/(const std::string& leaf) const { return path + "/" + leaf; }
  void Create(const std::string& leaf, const std::string& content) const {
    std::FILE* f = std::fopen((*this / leaf).c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }
};

// Makes `bytes` (kept alive by the caller) the message in hand.
inline void SetMessage(TestRun* opts, std::string* bytes) {
  MessageBuffer& m = opts->Message;
  m.Storage = reinterpret_cast<unsigned char*>(bytes->data());
  m.Cursor = m.Storage;
  m.Capacity = m.DataLength = static_cast<int32_t>(bytes->size());
  m.Descriptor = &m.OwnDescriptor;
}

// Fills the fixed-size text field `to` with `from`, cut to fit, terminated.
template <size_t N>
void Copy(char (&to)[N], const std::string& from) {
  std::snprintf(to, N, "%s", from.c_str());
}

// The four bytes of `v` as this machine stores it.
inline std::string Le32(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

inline std::unique_ptr<TestRun> NewOptions() { return std::make_unique<TestRun>(); }

// A whole file as the writer makes it of queue Q1 under the options `layout`
// sets: message i has descriptor mds[i] (or mds[0] for all when `oneMd`).
template <typename Layout>
std::string WriteFile(Layout layout, const MQMD* mds, const std::string* data, int count,
                      bool oneMd = false) {
  auto opts = NewOptions();
  layout(opts.get());
  opts->Files.OutputStream = std::tmpfile();
  Copy(opts->Files.CurrentOutputFile, "out.zpd");
  EXPECT_EQ(0, WriteFileHeader(opts.get(), "Q1"));
  for (int i = 0; i < count; ++i) {
    std::string copy = data[i];
    SetMessage(opts.get(), &copy);
    opts->Message.OwnDescriptor = mds[oneMd ? 0 : i];
    opts->Counters.MessageIndex = opts->Counters.SelectedCount = i + 1;
    EXPECT_EQ(0, WriteMessage(opts.get()));
  }
  EXPECT_EQ(0, WriteFileEnd(opts.get()));
  std::string text = StreamText(opts->Files.OutputStream);
  std::fclose(opts->Files.OutputStream);
  return text;
}

// Each of `parts` is found in `text`, in this order.
inline void ExpectInOrder(const std::string& text, std::initializer_list<const char*> parts) {
  size_t at = 0;
  for (const char* part : parts) {
    at = text.find(part, at);
    ASSERT_NE(std::string::npos, at) << part << " in\n" << text;
  }
}

// An input stream holding `text` as file `name`; the storage that reading
// it leaves behind (by any of the readers) is released with it.
struct TextInput {
  std::unique_ptr<TestRun> opts = NewOptions();
  explicit TextInput(const std::string& text, const char* name = "in.zpd") { Open(text, name); }
  ~TextInput() {
    ReleaseLineStorage(opts.get());
    ReleaseDelimitedFile(opts.get());
    CSReleaseMem(&opts->Message.Storage);
    CSReleaseMem(&opts->Message.PropStorage);
    if (opts->Files.InputStream != nullptr) std::fclose(opts->Files.InputStream);
  }
  void Open(const std::string& text, const char* name) {
    if (opts->Files.InputStream != nullptr) std::fclose(opts->Files.InputStream);
    opts->Files.InputStream = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), opts->Files.InputStream);
    std::rewind(opts->Files.InputStream);
    Copy(opts->Files.CurrentInputFile, name);
    opts->Files.InputFileBytes = 0;  // as opening a file of a sequence does
  }
  const MQMD& Md() const { return opts->Message.OwnDescriptor; }
  std::string Data() const {
    return std::string(reinterpret_cast<const char*>(opts->Message.Cursor),
                       static_cast<size_t>(opts->Message.DataLength));
  }
};

// The tests that include this helper include it last: they are held to the
// same banned calls as the program.
#include "zeplo/util/banned.h"

#endif  // ZEPLO_TESTS_FILES_TEST_UTIL_H_
