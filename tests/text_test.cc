// Text conversions: the thread's code page with the Windows call shapes,
// UTF-16LE with surrogate pairs, and the promise never to fail on bad bytes.
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "tlx_system.h"

namespace {

// Restores the default code page after each test.
class TextTest : public ::testing::Test {
 protected:
  void TearDown() override { tlx_set_thread_code_page(1252); }
};

std::wstring Decode(const std::string& bytes) {
  const int32_t size = static_cast<int32_t>(bytes.size());
  const int32_t n = tlx_multibyte_to_wide(bytes.data(), size, nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (n > 0) {
    EXPECT_EQ(n, tlx_multibyte_to_wide(bytes.data(), size, &out[0], n));
  }
  return out;
}

std::string Encode(const std::wstring& text) {
  const int32_t size = static_cast<int32_t>(text.size());
  const int32_t n = tlx_wide_to_multibyte(text.data(), size, nullptr, 0);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(n, tlx_wide_to_multibyte(text.data(), size, &out[0], n));
  }
  return out;
}

TEST_F(TextTest, DefaultIs1252AndEveryByteRoundTrips) {
  EXPECT_EQ(1252u, tlx_get_thread_code_page());
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::wstring wide = Decode(all);
  ASSERT_EQ(all.size(), wide.size());
  EXPECT_EQ(L'\u20ac', wide[0x80 - 1]);
  EXPECT_EQ(L'\u2122', wide[0x99 - 1]);
  EXPECT_EQ(L'\u00e9', wide[0xE9 - 1]);
  EXPECT_EQ(L'\u0081', wide[0x81 - 1]);  // unassigned: kept, not lost
  EXPECT_EQ(all, Encode(wide));
  // One '?' for each character outside the code page, a pair included.
  EXPECT_EQ("caf\xe9 ? ? \x80", Encode(L"caf\u00e9 \u0100 \U0001F600 \u20ac"));
}

TEST_F(TextTest, CodePagesThroughTheSystem) {
  const struct {
    uint32_t code_page;
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {1250, "\x8a", L"\u0160"},    {1251, "\xc0\xff", L"\u0410\u044f"}, {1253, "\xc1", L"\u0391"},
      {1254, "\xfd", L"\u0131"},    {1255, "\xe0", L"\u05d0"},           {1256, "\xc7", L"\u0627"},
      {1257, "\xe0", L"\u0105"},    {1258, "\xc3", L"\u0102"},           {936, "\xd6\xd0", L"\u4e2d"},
      {949, "\xc7\xd1", L"\ud55c"}, {950, "\xa4\xa4", L"\u4e2d"},        {65001, "\xe2\x82\xac", L"\u20ac"},
      {932, "\x93\xfa\x96\x7b", L"\u65e5\u672c"},  // double-byte characters
      {932, "A\xb1", L"A\uff71"},                  // half-width katakana, one byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code_page);
    ASSERT_EQ(0, tlx_set_thread_code_page(c.code_page));
    EXPECT_EQ(c.code_page, tlx_get_thread_code_page());
    EXPECT_EQ(c.text, Decode(c.bytes));
    EXPECT_EQ(c.bytes, Encode(c.text));
  }
  EXPECT_EQ("?\x93\xfa", Encode(L"\u00e9\u65e5"));
  // An unsupported code page is refused and the old one stays.
  EXPECT_EQ(-1, tlx_set_thread_code_page(437));
  EXPECT_EQ(-1, tlx_set_thread_code_page(0));
  EXPECT_EQ(932u, tlx_get_thread_code_page());
}

// Bytes that decode to nothing give U+FFFD and the conversion goes on.
TEST_F(TextTest, UndecodableBytesBecomeReplacementCharacters) {
  const struct {
    uint32_t code_page;
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {932, "A\x93", L"A\ufffd"},                // a lead byte cut off at the end
      {932, "\x93\xfa\xa0x", L"\u65e5\ufffdx"},  // a byte that starts no character
      {932, "\x93 A", L"\ufffd A"},              // a lead byte without its trail byte
      {65001, "\xf0\x9f\x98\x80", L"\U0001F600"},
      {65001, "\xc3(", L"\ufffd("},              // missing continuation
      {65001, "\xc0\x80", L"\ufffd\ufffd"},      // overlong
      {65001, "\x80z", L"\ufffdz"},              // stray continuation
      {65001, "\xe2\x82", L"\ufffd"},            // cut off at the end
      {65001, "\xed\xa0\x80", L"\ufffd"},        // an encoded surrogate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code_page << " " << c.bytes);
    ASSERT_EQ(0, tlx_set_thread_code_page(c.code_page));
    EXPECT_EQ(c.text, Decode(c.bytes));
  }
  EXPECT_EQ("?", Encode(std::wstring(1, static_cast<wchar_t>(0xD800))));
}

TEST_F(TextTest, CodePageBelongsToTheThread) {
  ASSERT_EQ(0, tlx_set_thread_code_page(932));
  std::wstring decoded;
  std::thread([&] { decoded = Decode("\x93"); }).join();
  EXPECT_EQ(L"\u201c", decoded);  // 1252 there
  EXPECT_EQ(932u, tlx_get_thread_code_page());
}

TEST_F(TextTest, WindowsCallShapes) {
  wchar_t wide[8];
  // -1: zero-terminated, and the terminator is converted too.
  EXPECT_EQ(4, tlx_multibyte_to_wide("abc", -1, nullptr, 0));
  EXPECT_EQ(4, tlx_multibyte_to_wide("abc", -1, wide, 8));
  EXPECT_STREQ(L"abc", wide);
  EXPECT_EQ(0, tlx_multibyte_to_wide("abc", -1, wide, 3));  // does not fit
  EXPECT_EQ(0, tlx_multibyte_to_wide("abc", 0, wide, 8));
  EXPECT_EQ(0, tlx_multibyte_to_wide(nullptr, 3, wide, 8));
  char narrow[8];
  EXPECT_EQ(4, tlx_wide_to_multibyte(L"xyz", -1, nullptr, 0));
  EXPECT_EQ(4, tlx_wide_to_multibyte(L"xyz", -1, narrow, 8));
  EXPECT_STREQ("xyz", narrow);
  EXPECT_EQ(2, tlx_wide_to_multibyte(L"xyz", 2, narrow, 8));
  EXPECT_EQ(0, tlx_wide_to_multibyte(L"xyz", -1, narrow, 2));
}

TEST_F(TextTest, Utf16SurrogatePairs) {
  // A, a pair (U+1F600), a lone low surrogate, a lone high surrogate at the end.
  const unsigned char bytes[] = {'A', 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xDC, 0x3D, 0xD8};
  // Wide text has one character per code point, or UTF-16 units on Windows;
  // lone surrogates stay as they are.
  const std::wstring decoded =
      L"A\U0001F600" + std::wstring{static_cast<wchar_t>(0xDC00), static_cast<wchar_t>(0xD83D)};
  const int32_t n = static_cast<int32_t>(decoded.size());
  EXPECT_EQ(n, tlx_utf16le_to_wide(bytes, 5, nullptr, 0));
  wchar_t wide[5];
  ASSERT_EQ(n, tlx_utf16le_to_wide(bytes, 5, wide, n));
  EXPECT_EQ(decoded, std::wstring(wide, n));
  EXPECT_EQ(0, tlx_utf16le_to_wide(bytes, 5, wide, n - 1));
  unsigned char back[10];
  ASSERT_EQ(5, tlx_wide_to_utf16le(wide, n, back, 5));
  EXPECT_EQ(0, std::memcmp(bytes, back, sizeof back));

  const wchar_t text[] = L"A\U0001F600\u00e9";
  const int32_t length = static_cast<int32_t>(wcslen(text));
  EXPECT_EQ(5, tlx_wide_to_utf16le(text, -1, nullptr, 0));  // with the terminator
  unsigned char out[8];
  ASSERT_EQ(4, tlx_wide_to_utf16le(text, length, out, 4));
  EXPECT_EQ(0, std::memcmp("A\0\x3D\xD8\x00\xDE\xE9\0", out, 8));
  EXPECT_EQ(0, tlx_wide_to_utf16le(text, length, out, 3));
}

}  // namespace
