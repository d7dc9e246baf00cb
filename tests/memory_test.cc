// Heap helpers, the task allocator shim and byte order.
#include <cstring>
#include <cwchar>

#include <gtest/gtest.h>

#include "tlx_com.h"
#include "tlx_system.h"

namespace {

TEST(MemoryTest, DuplicatesCopyTheLengthAndTerminate) {
  char* narrow = tlx_sqa_strndup("abcdef", 3);
  ASSERT_NE(nullptr, narrow);
  EXPECT_STREQ("abc", narrow);
  tlx_sqa_free(narrow);
  // Embedded zeros are copied as they are.
  char* binary = tlx_sqa_strndup("a\0b", 3);
  ASSERT_NE(nullptr, binary);
  EXPECT_EQ(0, std::memcmp("a\0b\0", binary, 4));
  tlx_sqa_free(binary);
  wchar_t* wide = tlx_sqa_wcsndup(L"\u00e9t\u00e9!", 3);
  ASSERT_NE(nullptr, wide);
  EXPECT_STREQ(L"\u00e9t\u00e9", wide);
  tlx_sqa_free(wide);
  char* empty = tlx_sqa_strndup("", 0);
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ('\0', empty[0]);
  tlx_sqa_free(empty);
  EXPECT_EQ(nullptr, tlx_sqa_strndup(nullptr, 1));
  EXPECT_EQ(nullptr, tlx_sqa_wcsndup(nullptr, 1));
}

// Callers free even an empty result, so a zero-byte block must be real.
TEST(MemoryTest, TaskAllocatorGivesBlocksForZeroBytes) {
  void* block = CoTaskMemAlloc(0);
  EXPECT_NE(nullptr, block);
  CoTaskMemFree(block);
  EXPECT_TRUE(FAILED(E_FAIL));
}

TEST(MemoryTest, ByteOrderIsBigEndianOnTheWire) {
  uint32_t wire32 = tlx_htonl(0x01020304u);
  uint16_t wire16 = tlx_htons(0x0A0Bu);
  unsigned char b32[4], b16[2];
  std::memcpy(b32, &wire32, 4);
  std::memcpy(b16, &wire16, 2);
  EXPECT_EQ(1, b32[0]);
  EXPECT_EQ(4, b32[3]);
  EXPECT_EQ(0x0A, b16[0]);
  EXPECT_EQ(0x01020304u, tlx_ntohl(wire32));
  EXPECT_EQ(0x0A0Bu, tlx_ntohs(wire16));
}

}  // namespace
