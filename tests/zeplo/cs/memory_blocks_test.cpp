#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "zeplo/cs/cs.h"

namespace {

TEST(MemoryBlocksTest, BlocksAreUsableAlignedSizedAndReleased) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{979}, size_t{980}, size_t{1} << 20}) {
    auto* block = static_cast<unsigned char*>(CSGetMem(size, "TEST"));
    ASSERT_NE(nullptr, block) << size;
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % 8) << size;
    EXPECT_EQ(size, CSMemSize(block));
    std::memset(block, 0xA5, size);  // every byte is ours (ASan checks)
    CSReleaseMem(&block);
    EXPECT_EQ(nullptr, block);
    CSReleaseMem(&block);  // an empty variable: nothing happens
  }
  for (size_t size : {SIZE_MAX, SIZE_MAX / 2 + 1, size_t{PTRDIFF_MAX} - 43}) {
    EXPECT_EQ(nullptr, CSGetMem(size, "HUGE")) << size;
  }
  CSFreeMem(nullptr);
}

}  // namespace
