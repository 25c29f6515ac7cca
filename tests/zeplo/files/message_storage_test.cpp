// The message in hand: storage growth for every reader, its -Vm trace, and
// the file readers' four-fold policy on top of it.
#include <cstring>

#include "tests/zeplo/test_run.h"
#include "tests/zeplo/files/files_test_util.h"
#include "zeplo/cs/cs.h"

namespace {

struct Storage {
  TestRun opts{};
  ~Storage() { CSReleaseMem(&opts.Message.Storage); }
};

// Under -Vm, with every step traced on standard error.
TEST(MessageStorageTest, GrowsInWholeUnitsKeepingContentAndCursor) {
  // Each step starts from the capacity the previous one left.
  const struct { int64_t size, capacity; } steps[] = {
      {0, 4096}, {-5, 4096}, {4096, 4096}, {4097, 8192}, {5000, 8192}, {10000, 12288},
      {8192, 12288}, {50000, 53248}};
  Storage s;
  s.opts.Parsed.MemoryTrace = true;
  testing::internal::CaptureStderr();
  MessageBuffer& m = s.opts.Message;
  MQMD other{};
  for (const auto& step : steps) {
    ASSERT_EQ(0, GrowMessageStorage(&s.opts, step.size)) << step.size;
    EXPECT_EQ(step.capacity, m.Capacity) << step.size;
    if (step.size == 0) {
      EXPECT_EQ(&m.OwnDescriptor, m.Descriptor);
      std::memcpy(m.Storage, "0123456789", 10);
      std::memcpy(m.Storage + 4090, "tail!!", 6);  // the first block's very end
      m.Cursor = m.Storage + 7;
      m.Descriptor = &other;  // a descriptor chosen by the reader stays
    }
  }
  EXPECT_EQ(0, std::memcmp(m.Storage, "0123456789", 10));
  EXPECT_EQ(0, std::memcmp(m.Storage + 4090, "tail!!", 6));
  EXPECT_EQ(m.Storage + 7, m.Cursor);
  EXPECT_EQ(&other, m.Descriptor);

  // A cursor outside the block cannot be carried over: it starts again.
  static unsigned char elsewhere[4];
  m.Cursor = elsewhere;
  ASSERT_EQ(0, GrowMessageStorage(&s.opts, 60000));
  EXPECT_EQ(m.Storage, m.Cursor);
  EXPECT_EQ(MQRC_STORAGE_NOT_AVAILABLE, GrowMessageStorage(&s.opts, int64_t{1} << 40));
  std::string trace = testing::internal::GetCapturedStderr();
  ExpectInOrder(trace, {"Allocating 4096 bytes\nAllocation success 0x",
                        "Allocating 8192 bytes\nAllocation success 0x", "Freeing 0x",
                        "Allocating 1099511627776 bytes\nAllocation failed!\n"});
  EXPECT_EQ(std::string::npos, trace.find("Allocating 4096 bytes", 1));  // the steps that fit
}

TEST(MessageStorageTest, FileReadersGrowFourFold) {
  // The target alone, up to the largest 32-bit multiple of 4096.
  const struct { int64_t needed, target; } targets[] = {
      {1, 4}, {536868864, 2147475456}, {536869888, 2147479552}, {536869889, 2147479552},
      {2147479552, 2147479552}, {2147479553, -1}, {-1, -1}};
  for (const auto& t : targets) EXPECT_EQ(t.target, MessageStorageTarget(t.needed)) << t.needed;
  // needed -> capacity, each row from a fresh storage holding `before`.
  const struct { int64_t before, needed, capacity; } cases[] = {
      {0, 1, 4096},        {0, 1025, 8192},  // 4 x 1025 = 4100, in 4096s
      {4096, 4096, 4096},                    // fits: untouched
      {4096, 4097, 20480},                   // 16388
      {0, 100000, 401408},
  };
  for (const auto& c : cases) {
    Storage s;
    ASSERT_EQ(0, c.before > 0 ? GrowMessageStorage(&s.opts, c.before) : 0);
    ASSERT_EQ(0, EnsureMessageStorage(&s.opts, c.needed)) << c.needed;
    EXPECT_EQ(c.capacity, s.opts.Message.Capacity) << c.needed;
  }
  Storage s;
  EXPECT_EQ(MQRC_STORAGE_NOT_AVAILABLE, EnsureMessageStorage(&s.opts, INT64_C(3000000000)));
  EXPECT_STREQ("Unable to allocate 3000000512 bytes message storage", s.opts.ExitMessage);
  EXPECT_EQ(nullptr, s.opts.Message.Storage);
}

}  // namespace
