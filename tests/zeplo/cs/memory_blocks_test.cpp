#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "zeplo/cs/cs.h"

namespace {

TEST(MemoryBlocksTest, BlocksAreUsableAlignedAndSized) {
  const size_t kSizes[] = {0, 1, 7, 979, 980, 1024, 4096, 1 << 20};
  for (size_t size : kSizes) {
    auto* block = static_cast<unsigned char*>(CSGetMem(size, "TEST"));
    ASSERT_NE(nullptr, block) << size;
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % 8) << size;
    EXPECT_EQ(size, CSMemSize(block));
    std::memset(block, 0xA5, size);  // every byte is ours (ASan checks)
    CSFreeMem(block);
  }
}

TEST(MemoryBlocksTest, ImpossibleSizesGiveNothing) {
  const size_t kSizes[] = {SIZE_MAX, SIZE_MAX - 43, SIZE_MAX / 2 + 1, PTRDIFF_MAX - 43,
                           static_cast<size_t>(-1024)};
  for (size_t size : kSizes) EXPECT_EQ(nullptr, CSGetMem(size, "HUGE")) << size;
}

TEST(MemoryBlocksTest, ReleaseClearsTheVariableAndIsRepeatable) {
  int* numbers = static_cast<int*>(CSGetMem(10 * sizeof(int), "NUMBERS"));
  ASSERT_NE(nullptr, numbers);
  CSReleaseMem(&numbers);
  EXPECT_EQ(nullptr, numbers);
  CSReleaseMem(&numbers);  // an empty variable: nothing happens
  int** none = nullptr;
  CSReleaseMem(none);
  CSFreeMem(nullptr);
}

using MemoryBlocksDeathTest = ::testing::Test;

TEST_F(MemoryBlocksDeathTest, OverrunAndForeignBlocksAreCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        auto* block = static_cast<char*>(CSGetMem(16, "TEST"));
        block[16] = 0;  // one past the end: lands on the guard
        CSFreeMem(block);
      },
      "");
  EXPECT_DEATH(
      {
        alignas(8) static char notOurs[64] = {};
        CSFreeMem(notOurs + 40);
      },
      "");
}

}  // namespace
