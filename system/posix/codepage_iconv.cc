// Code pages beyond 1252 and UTF-8, converted by iconv. Each thread keeps
// its own pair of descriptors for the code page last used, so threads never
// share conversion state.
#include <errno.h>
#include <iconv.h>
#include <stdint.h>

#include <string>

#include "tlx_internal.h"

namespace {

const char* IconvName(uint32_t code_page) {
  switch (code_page) {
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    default: return nullptr;
  }
}

const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

// Wide characters as iconv sees them on this platform.
const char kWideName[] = "WCHAR_T";

class Converters {
 public:
  ~Converters() { Close(); }

  // Descriptors for code_page, or false when iconv lacks it.
  bool Use(uint32_t code_page) {
    if (code_page == code_page_ && decode_ != kNone) return true;
    Close();
    const char* name = IconvName(code_page);
    if (name == nullptr) return false;
    decode_ = iconv_open(kWideName, name);
    encode_ = iconv_open(name, kWideName);
    if (decode_ == kNone || encode_ == kNone) {
      Close();
      return false;
    }
    code_page_ = code_page;
    return true;
  }

  iconv_t decode() const { return decode_; }
  iconv_t encode() const { return encode_; }

 private:
  void Close() {
    if (decode_ != kNone) iconv_close(decode_);
    if (encode_ != kNone) iconv_close(encode_);
    decode_ = encode_ = kNone;
    code_page_ = 0;
  }

  uint32_t code_page_ = 0;
  iconv_t decode_ = kNone;
  iconv_t encode_ = kNone;
};

thread_local Converters g_converters;

}  // namespace

namespace tlx_internal {

bool PlatformCodePageAvailable(uint32_t code_page) { return g_converters.Use(code_page); }

uint32_t PlatformThreadCodePage() { return 1252; }

std::wstring PlatformDecode(uint32_t code_page, const char* bytes, size_t length) {
  std::wstring out;
  if (!g_converters.Use(code_page)) {
    out.assign(length, static_cast<wchar_t>(0xFFFD));
    return out;
  }
  iconv_t cd = g_converters.decode();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes);
  size_t in_left = length;
  wchar_t chunk[256];
  while (true) {
    char* out_ptr = reinterpret_cast<char*>(chunk);
    size_t out_left = sizeof(chunk);
    size_t rc = in_left != 0 ? iconv(cd, &in, &in_left, &out_ptr, &out_left)
                             : iconv(cd, nullptr, nullptr, &out_ptr, &out_left);
    int error = rc == static_cast<size_t>(-1) ? errno : 0;
    out.append(chunk, (sizeof(chunk) - out_left) / sizeof(wchar_t));
    if (error == E2BIG) continue;
    if (error == EILSEQ || error == EINVAL) {
      // A byte that starts no character, or a character cut off at the end:
      // replace one byte and go on with the next.
      out.push_back(static_cast<wchar_t>(0xFFFD));
      ++in;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      continue;
    }
    if (error != 0 || in_left == 0) {
      if (error == 0) {
        // Flush what a composing code page still holds.
        out_ptr = reinterpret_cast<char*>(chunk);
        out_left = sizeof(chunk);
        iconv(cd, nullptr, nullptr, &out_ptr, &out_left);
        out.append(chunk, (sizeof(chunk) - out_left) / sizeof(wchar_t));
      }
      break;
    }
  }
  return out;
}

std::string PlatformEncode(uint32_t code_page, const wchar_t* text, size_t length) {
  std::string out;
  if (!g_converters.Use(code_page)) {
    out.assign(length, '?');
    return out;
  }
  iconv_t cd = g_converters.encode();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text));
  size_t in_left = length * sizeof(wchar_t);
  char chunk[512];
  while (true) {
    char* out_ptr = chunk;
    size_t out_left = sizeof(chunk);
    size_t rc = in_left != 0 ? iconv(cd, &in, &in_left, &out_ptr, &out_left)
                             : iconv(cd, nullptr, nullptr, &out_ptr, &out_left);
    int error = rc == static_cast<size_t>(-1) ? errno : 0;
    out.append(chunk, sizeof(chunk) - out_left);
    if (error == E2BIG) continue;
    if (error == EILSEQ || error == EINVAL) {
      out.push_back('?');
      in += sizeof(wchar_t);
      in_left -= sizeof(wchar_t);
      continue;
    }
    if (error != 0) break;
    if (in_left == 0) {
      out_ptr = chunk;
      out_left = sizeof(chunk);
      iconv(cd, nullptr, nullptr, &out_ptr, &out_left);
      out.append(chunk, sizeof(chunk) - out_left);
      break;
    }
  }
  return out;
}

}  // namespace tlx_internal
