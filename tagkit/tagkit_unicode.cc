// The Unicode forms of ID3v2.4 text beside the code page and UTF-16LE:
// UTF-8 both ways and UTF-16BE without byte-order mark. Wide text is UTF-32
// on POSIX and UTF-16 on Windows.
#include <cstring>

#include "tagkit_internal.h"

namespace tagkit_internal {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void AppendCodePoint(char32_t c, std::wstring& out) {
  if (sizeof(wchar_t) == 2 && c > 0xFFFF) {
    c -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
    return;
  }
  out.push_back(static_cast<wchar_t>(c));
}

// The code point of the UTF-8 sequence at bytes[i], moving i past it; an
// ill-formed sequence gives U+FFFD and moves past its first byte only.
char32_t NextUtf8(const unsigned char* bytes, std::size_t length, std::size_t& i) {
  const unsigned char lead = bytes[i++];
  if (lead < 0x80) return lead;
  std::size_t more = 0;
  char32_t c = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1, c = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2, c = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3, c = lead & 0x07, least = 0x10000;
  } else {
    return kReplacement;
  }
  if (length - i < more) return kReplacement;
  for (std::size_t k = 0; k < more; ++k) {
    if ((bytes[i + k] & 0xC0) != 0x80) return kReplacement;
    c = (c << 6) | (bytes[i + k] & 0x3F);
  }
  if (c < least || c > 0x10FFFF || IsSurrogate(c)) return kReplacement;
  i += more;
  return c;
}

}  // namespace

std::wstring Utf8ToWide(const unsigned char* bytes, std::size_t length) {
  std::wstring out;
  if (bytes == nullptr) return out;
  const void* zero = std::memchr(bytes, 0, length);
  if (zero != nullptr) length = static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - bytes);
  out.reserve(length);
  for (std::size_t i = 0; i < length;) AppendCodePoint(NextUtf8(bytes, length, i), out);
  return out;
}

std::wstring Utf16BeToWide(const unsigned char* bytes, std::size_t length) {
  if (bytes == nullptr) return std::wstring();
  std::vector<unsigned char> little;
  little.reserve(length);
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    if (bytes[i] == 0 && bytes[i + 1] == 0) break;
    little.push_back(bytes[i + 1]);
    little.push_back(bytes[i]);
  }
  return Utf16LeToWide(little.data(), little.size() / 2);
}

bool WideToUtf8(const std::wstring& text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
    }
    if (IsSurrogate(c)) return false;
    if (c > 0x10FFFF) c = kReplacement;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

}  // namespace tagkit_internal
