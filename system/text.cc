// Text conversions: the thread's code page (shaped like the Windows calls),
// UTF-16LE for frame bytes, and UTF-8 for paths. Nothing here fails on bad
// input: undecodable bytes become U+FFFD, unencodable characters '?'.
#include <string.h>
#include <wchar.h>

#include <string>

#include "tlx_internal.h"
#include "tlx_system.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;
constexpr uint32_t kCodePageUtf8 = 65001;
constexpr uint32_t kCodePageLatin = 1252;

// 0 until the thread sets one: then the platform's default for the thread
// (1252 on POSIX, the thread locale's ANSI code page on Windows).
thread_local uint32_t g_code_page = 0;

uint32_t CodePage() {
  return g_code_page != 0 ? g_code_page : tlx_internal::PlatformThreadCodePage();
}

// 0x80-0x9F of code page 1252. The five unassigned bytes map to the C1
// controls of the same value, as Windows does, so every byte round-trips.
const wchar_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsScalar(uint32_t cp) { return cp < 0xD800 || (cp > 0xDFFF && cp <= 0x10FFFF); }

std::wstring Decode1252(const char* bytes, size_t length) {
  std::wstring out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    out.push_back(c >= 0x80 && c < 0xA0 ? k1252High[c - 0x80] : static_cast<wchar_t>(c));
  }
  return out;
}

uint32_t NextWide(const wchar_t* text, size_t length, size_t& i);

std::string Encode1252(const wchar_t* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length;) {
    // One '?' for a character outside the code page, even a surrogate pair.
    uint32_t cp = NextWide(text, length, i);
    char byte = '?';
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      byte = static_cast<char>(cp);
    } else {
      for (int k = 0; k < 32; ++k) {
        if (static_cast<uint32_t>(k1252High[k]) == cp) {
          byte = static_cast<char>(0x80 + k);
          break;
        }
      }
    }
    out.push_back(byte);
  }
  return out;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (!IsScalar(cp)) cp = kReplacement;
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

// Wide characters hold UTF-16 units on Windows: join pairs there.
uint32_t NextWide(const wchar_t* text, size_t length, size_t& i) {
  uint32_t cp = static_cast<uint32_t>(text[i++]);
  if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i < length) {
    uint32_t low = static_cast<uint32_t>(text[i]);
    if (low >= 0xDC00 && low <= 0xDFFF) {
      ++i;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return cp;
}

void AppendWide(std::wstring& out, uint32_t cp) {
  if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(cp));
  }
}

// A malformed sequence yields one U+FFFD per maximal invalid prefix.
std::wstring DecodeUtf8(const char* text, size_t length) {
  std::wstring out;
  out.reserve(length);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < length) {
    unsigned char c = s[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int extra = 0;
    uint32_t cp = 0, min = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= length || (s[j] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (s[j] & 0x3F);
    }
    if (ok && cp >= min && IsScalar(cp)) {
      AppendWide(out, cp);
      i = j;
    } else {
      out.push_back(kReplacement);
      i = ok ? j : (j > i + 1 ? j : i + 1);
    }
  }
  return out;
}

std::string EncodeUtf8(const wchar_t* text, size_t length, bool question_for_invalid) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length;) {
    uint32_t cp = NextWide(text, length, i);
    if (!IsScalar(cp) && question_for_invalid) {
      out.push_back('?');
    } else {
      AppendUtf8(out, cp);
    }
  }
  return out;
}

std::wstring DecodeThread(const char* bytes, size_t length) {
  const uint32_t code_page = CodePage();
  switch (code_page) {
    case kCodePageLatin: return Decode1252(bytes, length);
    case kCodePageUtf8: return DecodeUtf8(bytes, length);
    default: return tlx_internal::PlatformDecode(code_page, bytes, length);
  }
}

std::string EncodeThread(const wchar_t* text, size_t length) {
  const uint32_t code_page = CodePage();
  switch (code_page) {
    case kCodePageLatin: return Encode1252(text, length);
    case kCodePageUtf8: return EncodeUtf8(text, length, true);
    default: return tlx_internal::PlatformEncode(code_page, text, length);
  }
}

bool IsSupported(uint32_t code_page) {
  switch (code_page) {
    case kCodePageLatin:
    case kCodePageUtf8:
      return true;
    case 932: case 936: case 949: case 950:
    case 1250: case 1251: case 1253: case 1254: case 1255: case 1256: case 1257: case 1258:
      return tlx_internal::PlatformCodePageAvailable(code_page);
    default:
      return false;
  }
}

// Code page 1252 maps each byte to one character, so it is written straight
// into the target under the same contract as Deliver.
int32_t Decode1252Into(const char* bytes, size_t length, wchar_t* target, int32_t capacity) {
  if (length > static_cast<size_t>(INT32_MAX)) return 0;
  const int32_t needed = static_cast<int32_t>(length);
  if (capacity == 0) return needed;
  if (target == nullptr || needed > capacity) return 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    target[i] = c >= 0x80 && c < 0xA0 ? k1252High[c - 0x80] : static_cast<wchar_t>(c);
  }
  return needed;
}

// Emits the characters of UTF-16LE units. A lone surrogate is emitted as it
// is, so that text read from a tag and written back keeps every unit.
template <typename Emit>
void DecodeUtf16Le(const unsigned char* bytes, uint32_t unit_count, Emit emit) {
  for (uint32_t i = 0; i < unit_count;) {
    uint32_t unit = bytes[2 * i] | (static_cast<uint32_t>(bytes[2 * i + 1]) << 8);
    ++i;
    if (unit >= 0xD800 && unit <= 0xDBFF && i < unit_count) {
      uint32_t low = bytes[2 * i] | (static_cast<uint32_t>(bytes[2 * i + 1]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        ++i;
        if (sizeof(wchar_t) == 2) {  // the pair stays a pair
          emit(static_cast<wchar_t>(unit));
          emit(static_cast<wchar_t>(low));
        } else {
          emit(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
        }
        continue;
      }
    }
    emit(static_cast<wchar_t>(unit));
  }
}

// Copies a result with the Windows contract: capacity 0 asks for the size;
// a result that does not fit gives 0.
template <typename Char>
int32_t Deliver(const std::basic_string<Char>& result, Char* target, int32_t capacity) {
  if (result.size() > static_cast<size_t>(INT32_MAX)) return 0;
  int32_t needed = static_cast<int32_t>(result.size());
  if (capacity == 0) return needed;
  if (target == nullptr || capacity < 0 || needed > capacity) return 0;
  if (needed > 0) memcpy(target, result.data(), result.size() * sizeof(Char));
  return needed;
}

}  // namespace

namespace tlx_internal {

std::string WideToUtf8(const wchar_t* text, size_t length) {
  return EncodeUtf8(text, length, false);
}

std::wstring Utf8ToWide(const char* text, size_t length) { return DecodeUtf8(text, length); }

}  // namespace tlx_internal

extern "C" {

int32_t tlx_set_thread_code_page(uint32_t code_page) try {
  if (!IsSupported(code_page)) return -1;
  g_code_page = code_page;
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

uint32_t tlx_get_thread_code_page(void) { return CodePage(); }

int32_t tlx_multibyte_to_wide(const char* source, int32_t source_length, wchar_t* target,
                              int32_t capacity) try {
  if (source == nullptr || source_length == 0 || source_length < -1 || capacity < 0) return 0;
  size_t length = source_length == -1 ? strlen(source) + 1 : static_cast<size_t>(source_length);
  if (CodePage() == kCodePageLatin) return Decode1252Into(source, length, target, capacity);
  return Deliver(DecodeThread(source, length), target, capacity);
} catch (...) {
  return tlx_internal::CaughtFailure(0);
}

int32_t tlx_wide_to_multibyte(const wchar_t* source, int32_t source_length, char* target,
                              int32_t capacity) try {
  if (source == nullptr || source_length == 0 || source_length < -1 || capacity < 0) return 0;
  size_t length = source_length == -1 ? wcslen(source) + 1 : static_cast<size_t>(source_length);
  return Deliver(EncodeThread(source, length), target, capacity);
} catch (...) {
  return tlx_internal::CaughtFailure(0);
}

int32_t tlx_utf16le_to_wide(const unsigned char* bytes, uint32_t unit_count, wchar_t* target,
                            int32_t capacity) {
  if (bytes == nullptr && unit_count != 0) return 0;
  if (capacity < 0 || unit_count > static_cast<uint32_t>(INT32_MAX)) return 0;
  // Counted first, then written in place: text frames are read by the
  // dozen on every open, and a temporary string each was most of the cost.
  size_t needed = 0;
  DecodeUtf16Le(bytes, unit_count, [&needed](wchar_t) { ++needed; });
  if (needed > static_cast<size_t>(INT32_MAX)) return 0;
  if (capacity == 0) return static_cast<int32_t>(needed);
  if (target == nullptr || needed > static_cast<size_t>(capacity)) return 0;
  wchar_t* out = target;
  DecodeUtf16Le(bytes, unit_count, [&out](wchar_t c) { *out++ = c; });
  return static_cast<int32_t>(needed);
}

int32_t tlx_wide_to_utf16le(const wchar_t* source, int32_t source_length, unsigned char* target,
                            int32_t unit_capacity) try {
  if (source == nullptr || source_length < -1 || unit_capacity < 0) return 0;
  size_t length = source_length == -1 ? wcslen(source) + 1 : static_cast<size_t>(source_length);
  std::u16string units;
  units.reserve(length);
  for (size_t i = 0; i < length;) {
    uint32_t cp = NextWide(source, length, i);
    // A lone surrogate goes out as the unit it came in as (see DecodeUtf16Le).
    if (cp > 0x10FFFF) cp = kReplacement;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
  }
  if (units.size() > static_cast<size_t>(INT32_MAX)) return 0;
  int32_t needed = static_cast<int32_t>(units.size());
  if (unit_capacity == 0) return needed;
  if (target == nullptr || needed > unit_capacity) return 0;
  for (size_t i = 0; i < units.size(); ++i) {
    target[2 * i] = static_cast<unsigned char>(units[i] & 0xFF);
    target[2 * i + 1] = static_cast<unsigned char>(units[i] >> 8);
  }
  return needed;
} catch (...) {
  return tlx_internal::CaughtFailure(0);
}

}  // extern "C"
