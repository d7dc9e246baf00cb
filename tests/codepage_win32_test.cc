// Code pages on Windows: a thread that has not chosen a code page converts
// with its ANSI code page (CP_THREAD_ACP), which follows the thread locale;
// the platform's best-fit look-alikes and stand-ins never appear.
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tlx_system.h"

// From kernel32; the tests include no platform header.
extern "C" __declspec(dllimport) int __stdcall SetThreadLocale(unsigned long locale);

namespace {

std::wstring Decode(const std::string& bytes) {
  int32_t n = tlx_multibyte_to_wide(bytes.data(), static_cast<int32_t>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  if (n > 0) tlx_multibyte_to_wide(bytes.data(), static_cast<int32_t>(bytes.size()), &out[0], n);
  return out;
}

std::string Encode(const std::wstring& text) {
  int32_t n = tlx_wide_to_multibyte(text.data(), static_cast<int32_t>(text.size()), nullptr, 0);
  std::string out(static_cast<size_t>(n), '\0');
  if (n > 0) tlx_wide_to_multibyte(text.data(), static_cast<int32_t>(text.size()), &out[0], n);
  return out;
}

// Runs body on a new thread, whose code page nobody has chosen yet.
template <typename Body>
void OnFreshThread(Body body) {
  std::thread thread(body);
  thread.join();
}

TEST(CodePageWin32Test, UnchosenCodePageFollowsTheThreadLocale) {
  struct Case {
    unsigned long locale;
    uint32_t code_page;
    std::string bytes;
    std::wstring text;
  };
  const Case cases[] = {
      {0x0411, 932, "\x93\xfa\x96\x7b", L"\u65e5\u672c"},
      {0x0419, 1251, "\xcf\xf0\xe8", L"\u041f\u0440\u0438"},
      {0x0408, 1253, "\xe1\xe2", L"\u03b1\u03b2"},
      {0x0409, 1252, "caf\xe9 \x80", L"caf\u00e9 \u20ac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    OnFreshThread([&c] {
      ASSERT_NE(0, SetThreadLocale(c.locale));
      EXPECT_EQ(c.code_page, tlx_get_thread_code_page());
      EXPECT_EQ(c.text, Decode(c.bytes));
      EXPECT_EQ(c.bytes, Encode(c.text));
    });
  }
}

TEST(CodePageWin32Test, ChosenCodePageWinsOverTheThreadLocale) {
  OnFreshThread([] {
    ASSERT_NE(0, SetThreadLocale(0x0411));
    ASSERT_EQ(0, tlx_set_thread_code_page(1252));
    EXPECT_EQ(1252u, tlx_get_thread_code_page());
    EXPECT_EQ(L"\u201c\u00fa", Decode("\x93\xfa"));
    // Changing the locale afterwards changes nothing either.
    ASSERT_NE(0, SetThreadLocale(0x0419));
    EXPECT_EQ(1252u, tlx_get_thread_code_page());
  });
}

TEST(CodePageWin32Test, NoBestFitAndNoStandIns) {
  OnFreshThread([] {
    ASSERT_EQ(0, tlx_set_thread_code_page(1251));
    // Best fit would give 'e' and 'A'.
    EXPECT_EQ("?\xcf?", Encode(L"\u00e9\u041f\u0100"));
    ASSERT_EQ(0, tlx_set_thread_code_page(932));
    // A character beyond the BMP is one '?', not one per UTF-16 unit.
    EXPECT_EQ("a?b", Encode(L"a\U0001F600b"));
    // A lead byte without its trail byte, and a trail byte that is none.
    EXPECT_EQ(std::wstring(L"a\ufffd"), Decode("a\x93"));
    std::wstring bad = Decode("\x81\x20x");
    EXPECT_EQ(L'\ufffd', bad[0]);
    EXPECT_EQ(std::wstring::npos, bad.find(L'\u30fb')) << "the platform's stand-in";
  });
}

}  // namespace
