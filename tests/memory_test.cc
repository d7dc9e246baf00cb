// Heap helpers and the task allocator shim. Byte order is the platform's
// own conversion, passed through.
#include <cstring>

#include <gtest/gtest.h>

#include "tlx_com.h"
#include "tlx_system.h"

namespace {

TEST(MemoryTest, DuplicatesTerminateAndZeroByteBlocksAreReal) {
  char* binary = tlx_sqa_strndup("a\0bcd", 3);  // embedded zeros are copied as they are
  ASSERT_NE(nullptr, binary);
  EXPECT_EQ(0, std::memcmp("a\0b\0", binary, 4));
  tlx_sqa_free(binary);
  wchar_t* wide = tlx_sqa_wcsndup(L"\u00e9t\u00e9!", 3);
  ASSERT_NE(nullptr, wide);
  EXPECT_STREQ(L"\u00e9t\u00e9", wide);
  tlx_sqa_free(wide);
  EXPECT_EQ(nullptr, tlx_sqa_strndup(nullptr, 1));
  // Callers free even an empty result, so a zero-byte block must be real.
  void* block = CoTaskMemAlloc(0);
  EXPECT_NE(nullptr, block);
  CoTaskMemFree(block);
}

}  // namespace
