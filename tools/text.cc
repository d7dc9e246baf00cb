// Conversions between UTF-8 (the program's text), wide strings (the
// library's text) and the thread's single-byte code page.
#include <cstdio>

#include "cli.h"
#include "tlx_system.h"

namespace tagkit_cli {
namespace {
constexpr char32_t kReplacement = 0xFFFD;
}  // namespace

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::size_t DecodeUtf8(const std::string& text, std::size_t i, char32_t& cp) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  std::size_t length;
  char32_t min;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    length = 2, min = 0x80, cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3, min = 0x800, cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4, min = 0x10000, cp = c & 0x07;
  } else {
    cp = kReplacement;
    return 1;
  }
  if (i + length > text.size()) {
    cp = kReplacement;
    return 1;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) {
      cp = kReplacement;
      return 1;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    cp = kReplacement;
    return 1;
  }
  return length;
}

std::wstring Utf8ToWide(const std::string& utf8) {
  std::wstring out;
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp;
    i += DecodeUtf8(utf8, i, cp);
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
  }
  return out;
}

std::string WideToUtf8(const std::wstring& wide) {
  std::string out;
  out.reserve(wide.size());  // most text is ASCII
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = static_cast<char32_t>(wide[i]);
    if (sizeof(wchar_t) == 2) cp &= 0xFFFF;
    // UTF-16 pairs (Windows); a lone half becomes U+FFFD in AppendUtf8.
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
      const char32_t low = static_cast<char32_t>(wide[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(cp, out);
  }
  return out;
}

std::string CodePageToUtf8(const std::string& bytes) {
  if (bytes.empty()) return std::string();
  const std::int32_t length = static_cast<std::int32_t>(bytes.size());
  // No byte gives more than one wide character: one pass converts.
  std::wstring wide(bytes.size(), L'\0');
  const std::int32_t written = tlx_multibyte_to_wide(bytes.data(), length, &wide[0], length);
  wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return WideToUtf8(wide);
}

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return out;
}

bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (text.size() % 2 != 0) return false;
  std::vector<unsigned char> out;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  bytes.swap(out);
  return true;
}

std::string Printable(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp;
    i += DecodeUtf8(utf8, i, cp);
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
      char escape[12];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(cp));
      out += escape;
    } else {
      AppendUtf8(cp, out);
    }
  }
  return out;
}

}  // namespace tagkit_cli
