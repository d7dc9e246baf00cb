// Text conversions shared by the value classes and the frame readers: bytes
// in the thread's code page and UTF-16 little-endian units to wide strings
// and back. Undecodable input never fails: it becomes U+FFFD.
#ifndef TAGKIT_TAGKIT_VALUE_TEXT_H_
#define TAGKIT_TAGKIT_VALUE_TEXT_H_

#include <cstdint>
#include <string>

#include "tlx_system.h"

namespace tagkit_text {

// Exactly length bytes (zero bytes included) in the thread's code page.
inline std::wstring NarrowToWide(const char* bytes, std::int32_t length) {
  if (bytes == nullptr || length <= 0) return std::wstring();
  std::int32_t needed = tlx_multibyte_to_wide(bytes, length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  std::int32_t written = tlx_multibyte_to_wide(bytes, length, &out[0], needed);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

inline std::string WideToNarrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  std::int32_t length = static_cast<std::int32_t>(text.size());
  std::int32_t needed = tlx_wide_to_multibyte(text.data(), length, nullptr, 0);
  if (needed <= 0) return std::string();
  std::string out(static_cast<std::size_t>(needed), '\0');
  std::int32_t written = tlx_wide_to_multibyte(text.data(), length, &out[0], needed);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

// unit_count little-endian UTF-16 units; surrogate pairs are joined.
inline std::wstring Utf16LeToWide(const unsigned char* bytes, std::uint32_t unit_count) {
  if (bytes == nullptr || unit_count == 0) return std::wstring();
  std::int32_t needed = tlx_utf16le_to_wide(bytes, unit_count, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  std::int32_t written = tlx_utf16le_to_wide(bytes, unit_count, &out[0], needed);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

}  // namespace tagkit_text

#endif  // TAGKIT_TAGKIT_VALUE_TEXT_H_
