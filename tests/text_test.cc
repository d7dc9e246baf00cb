// Text conversions: the thread's code page with the Windows call shapes,
// UTF-16LE with surrogate pairs, and the promise never to fail on bad bytes.
#include <string>
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
  int32_t n = tlx_multibyte_to_wide(bytes.data(), static_cast<int32_t>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (n > 0) {
    EXPECT_EQ(n, tlx_multibyte_to_wide(bytes.data(), static_cast<int32_t>(bytes.size()), &out[0], n));
  }
  return out;
}

std::string Encode(const std::wstring& text) {
  int32_t n = tlx_wide_to_multibyte(text.data(), static_cast<int32_t>(text.size()), nullptr, 0);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(n, tlx_wide_to_multibyte(text.data(), static_cast<int32_t>(text.size()), &out[0], n));
  }
  return out;
}

TEST_F(TextTest, DefaultIs1252AndEveryByteRoundTrips) {
  EXPECT_EQ(1252u, tlx_get_thread_code_page());
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::wstring wide = Decode(all);
  ASSERT_EQ(all.size(), wide.size());
  EXPECT_EQ(L'\u20ac', wide[0x80 - 1]);
  EXPECT_EQ(L'\u2122', wide[0x99 - 1]);
  EXPECT_EQ(L'\u00e9', wide[0xE9 - 1]);
  EXPECT_EQ(L'\u0081', wide[0x81 - 1]);  // unassigned: kept, not lost
  EXPECT_EQ(all, Encode(wide));
}

TEST_F(TextTest, UnencodableCharactersBecomeQuestionMarks) {
  EXPECT_EQ("caf\xe9 ? ? \x80", Encode(L"caf\u00e9 \u0100 \U0001F600 \u20ac"));
  ASSERT_EQ(0, tlx_set_thread_code_page(932));
  EXPECT_EQ("?\x93\xfa", Encode(L"\u00e9\u65e5"));
}

TEST_F(TextTest, CodePage932RoundTripAndUndecodableBytes) {
  ASSERT_EQ(0, tlx_set_thread_code_page(932));
  EXPECT_EQ(932u, tlx_get_thread_code_page());
  const std::string nihon = "\x93\xfa\x96\x7b";  // two double-byte characters
  EXPECT_EQ(L"\u65e5\u672c", Decode(nihon));
  EXPECT_EQ(nihon, Encode(L"\u65e5\u672c"));
  EXPECT_EQ(L"\uff71", Decode("\xb1"));  // half-width katakana, one byte
  EXPECT_EQ("A\xb1", Encode(L"A\uff71"));
  // A lead byte cut off at the end, and one followed by no valid trail byte.
  EXPECT_EQ(L"A\ufffd", Decode("A\x93"));
  EXPECT_EQ(L"\ufffd A", Decode("\x93 A").substr(0, 1) + Decode(" A"));
  std::wstring mixed = Decode(std::string("\x93\xfa\xa0x", 4));
  EXPECT_EQ(L'\u65e5', mixed[0]);
  EXPECT_EQ(L'x', mixed.back());
  EXPECT_NE(std::wstring::npos, mixed.find(L'\ufffd'));
}

TEST_F(TextTest, OtherCodePagesThroughTheSystem) {
  struct Case {
    uint32_t code_page;
    std::string bytes;
    std::wstring text;
  };
  const Case cases[] = {
      {1250, "\x8a", L"\u0160"},       {1251, "\xc0\xff", L"\u0410\u044f"},
      {1253, "\xc1", L"\u0391"},       {1254, "\xfd", L"\u0131"},
      {1255, "\xe0", L"\u05d0"},       {1256, "\xc7", L"\u0627"},
      {1257, "\xe0", L"\u0105"},       {1258, "a", L"a"},
      {936, "\xd6\xd0", L"\u4e2d"},    {949, "\xc7\xd1", L"\ud55c"},
      {950, "\xa4\xa4", L"\u4e2d"},    {65001, "\xe2\x82\xac", L"\u20ac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    ASSERT_EQ(0, tlx_set_thread_code_page(c.code_page));
    EXPECT_EQ(c.text, Decode(c.bytes));
    EXPECT_EQ(c.bytes, Encode(c.text));
  }
}

TEST_F(TextTest, UnsupportedCodePageIsRefusedAndKeepsTheOld) {
  ASSERT_EQ(0, tlx_set_thread_code_page(1251));
  EXPECT_EQ(-1, tlx_set_thread_code_page(437));
  EXPECT_EQ(-1, tlx_set_thread_code_page(0));
  EXPECT_EQ(1251u, tlx_get_thread_code_page());
}

TEST_F(TextTest, Utf8BadSequencesBecomeReplacementCharacters) {
  ASSERT_EQ(0, tlx_set_thread_code_page(65001));
  struct Case {
    std::string bytes;
    std::wstring text;
  };
  const Case cases[] = {
      {"\xc3\xa9", L"\u00e9"},
      {"\xf0\x9f\x98\x80", L"\U0001F600"},
      {"\xc3(", L"\ufffd("},         // missing continuation
      {"\xc0\x80", L"\ufffd\ufffd"},  // overlong
      {"\x80z", L"\ufffdz"},          // stray continuation
      {"\xe2\x82", L"\ufffd"},        // cut off at the end
      {"\xed\xa0\x80", L"\ufffd"},    // an encoded surrogate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(c.text, Decode(c.bytes));
  }
  EXPECT_EQ("?", Encode(std::wstring(1, static_cast<wchar_t>(0xD800))));
}

TEST_F(TextTest, CodePageBelongsToTheThread) {
  ASSERT_EQ(0, tlx_set_thread_code_page(932));
  uint32_t other = 0;
  std::wstring decoded;
  std::thread([&] {
    other = tlx_get_thread_code_page();
    decoded = Decode("\x93");
  }).join();
  EXPECT_EQ(1252u, other);
  EXPECT_EQ(L"\u201c", decoded);
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
  EXPECT_EQ(3, tlx_wide_to_multibyte(L"xyz", -1, nullptr, 0) - 1);
  EXPECT_EQ(4, tlx_wide_to_multibyte(L"xyz", -1, narrow, 8));
  EXPECT_STREQ("xyz", narrow);
  EXPECT_EQ(2, tlx_wide_to_multibyte(L"xyz", 2, narrow, 8));
  EXPECT_EQ(0, tlx_wide_to_multibyte(L"xyz", -1, narrow, 2));
}

TEST_F(TextTest, Utf16SurrogatePairs) {
  const unsigned char bytes[] = {'A', 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xDC, 0x3D, 0xD8};
  // A, a pair (U+1F600), a lone low surrogate, a lone high surrogate at the end.
  // Wide text has one character per code point, or UTF-16 units on Windows.
  const std::wstring decoded = L"A\U0001F600\ufffd\ufffd";
  const int32_t n = static_cast<int32_t>(decoded.size());
  EXPECT_EQ(n, tlx_utf16le_to_wide(bytes, 5, nullptr, 0));
  wchar_t wide[5];
  ASSERT_EQ(n, tlx_utf16le_to_wide(bytes, 5, wide, n));
  EXPECT_EQ(decoded, std::wstring(wide, n));
  EXPECT_EQ(0, tlx_utf16le_to_wide(bytes, 5, wide, n - 1));

  const wchar_t text[] = L"A\U0001F600\u00e9";
  const int32_t length = static_cast<int32_t>(wcslen(text));
  EXPECT_EQ(4, tlx_wide_to_utf16le(text, length, nullptr, 0));
  unsigned char out[8];
  ASSERT_EQ(4, tlx_wide_to_utf16le(text, length, out, 4));
  const unsigned char expected[] = {'A', 0, 0x3D, 0xD8, 0x00, 0xDE, 0xE9, 0};
  EXPECT_EQ(0, memcmp(expected, out, 8));
  EXPECT_EQ(0, tlx_wide_to_utf16le(text, length, out, 3));
  EXPECT_EQ(5, tlx_wide_to_utf16le(text, -1, nullptr, 0));  // with the terminator
}

}  // namespace
