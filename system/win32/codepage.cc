// Code pages beyond 1252 and UTF-8, converted by the platform; a thread that
// has not chosen a code page converts with its ANSI code page (CP_THREAD_ACP),
// which follows the thread locale. Undecodable
// bytes become U+FFFD and unencodable characters '?', never the platform's
// own stand-ins (such as U+30FB in code page 932) or best-fit look-alikes,
// so that text converts alike on every platform.
#include "win32_api.h"

#include <stdint.h>

#include <string>

#include "tlx_internal.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Converts one character, or fails when the bytes are no character.
bool DecodeStrict(UINT code_page, const char* bytes, int length, std::wstring& out) {
  int needed = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes, length, nullptr, 0);
  if (needed <= 0) return false;
  size_t at = out.size();
  out.resize(at + static_cast<size_t>(needed));
  if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes, length, &out[at], needed) ==
      needed) {
    return true;
  }
  out.resize(at);
  return false;
}

// The thread's own code page is named as such, so that a change of the
// thread locale is followed exactly.
UINT PlatformName(uint32_t code_page) {
  return code_page == tlx_internal::PlatformThreadCodePage() ? CP_THREAD_ACP : code_page;
}

}  // namespace

namespace tlx_internal {

bool PlatformCodePageAvailable(uint32_t code_page) { return IsValidCodePage(code_page) != 0; }

uint32_t PlatformThreadCodePage() {
  DWORD code_page = 0;
  if (GetLocaleInfoW(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPWSTR>(&code_page), sizeof(code_page) / sizeof(wchar_t)) == 0 ||
      code_page == 0) {
    return GetACP();
  }
  return code_page;
}

std::wstring PlatformDecode(uint32_t code_page_number, const char* bytes, size_t length) {
  std::wstring out;
  if (length == 0) return out;
  const UINT code_page = PlatformName(code_page_number);
  if (length <= static_cast<size_t>(INT32_MAX) &&
      DecodeStrict(code_page, bytes, static_cast<int>(length), out)) {
    return out;
  }
  // Something in the text is no character: go character by character and
  // replace one byte where one does not decode.
  out.clear();
  CPINFO info;
  const bool double_byte = GetCPInfo(code_page, &info) && info.MaxCharSize > 1;
  size_t i = 0;
  while (i < length) {
    int width = double_byte && i + 1 < length && IsDBCSLeadByteEx(code_page, static_cast<BYTE>(bytes[i]))
                    ? 2
                    : 1;
    if (DecodeStrict(code_page, bytes + i, width, out)) {
      i += static_cast<size_t>(width);
    } else {
      out.push_back(kReplacement);
      ++i;
    }
  }
  return out;
}

std::string PlatformEncode(uint32_t code_page_number, const wchar_t* text, size_t length) {
  std::string out;
  if (length == 0 || length > static_cast<size_t>(INT32_MAX)) {
    out.assign(length, '?');
    return out;
  }
  // None of these code pages has characters beyond the BMP: a pair becomes
  // one '?', as a single unencodable character does.
  std::wstring units;
  units.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    wchar_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      if (unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) ++i;
      unit = L'?';
    }
    units.push_back(unit);
  }
  const UINT code_page = PlatformName(code_page_number);
  const int count = static_cast<int>(units.size());
  text = units.c_str();
  const DWORD flags = WC_NO_BEST_FIT_CHARS;
  int needed = WideCharToMultiByte(code_page, flags, text, count, nullptr, 0, "?", nullptr);
  if (needed <= 0) {
    out.assign(length, '?');
    return out;
  }
  out.resize(static_cast<size_t>(needed));
  int written = WideCharToMultiByte(code_page, flags, text, count, &out[0], needed, "?", nullptr);
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

}  // namespace tlx_internal
