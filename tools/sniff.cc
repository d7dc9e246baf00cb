// What a file's first 10 and last 128 bytes tell: whether it holds MP3 audio,
// the version of its ID3v2 tag and its ID3v1 trailer. Read with one open and
// two reads, or from what an open object read already.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "tlx_system.h"

namespace tagkit_cli {
namespace {

// Closes the handle on every path out.
struct Handle {
  int fd = TLX_INVALID_HANDLE;
  ~Handle() {
    if (fd != TLX_INVALID_HANDLE) tlx_close(&fd);
  }
};

bool IsId3v2Header(const FileHead& file) {
  const unsigned char* h = file.head;
  // Version and revision are never FF, the size bytes are sync-safe.
  return file.head_size == kHeadSize && std::memcmp(h, "ID3", 3) == 0 && h[3] != 0xFF &&
         h[4] != 0xFF && ((h[6] | h[7] | h[8] | h[9]) & 0x80) == 0;
}

// An MPEG audio frame header: 11 sync bits, then no reserved version, layer,
// bit rate or sampling rate.
bool IsMpegFrameHeader(const FileHead& file) {
  const unsigned char* h = file.head;
  return file.head_size >= 4 && h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 &&
         ((h[1] >> 3) & 3) != 1 && ((h[1] >> 1) & 3) != 0 && (h[2] >> 4) != 15 &&
         ((h[2] >> 2) & 3) != 3;
}

// A 30-byte text field: up to its first zero byte, trailing white space
// (in the C locale's sense) removed.
std::string Field(const unsigned char* trailer, std::size_t at) {
  const char* text = reinterpret_cast<const char*>(trailer + at);
  std::size_t length = 0;
  while (length < 30 && text[length] != '\0') ++length;
  while (length > 0 && std::isspace(static_cast<unsigned char>(text[length - 1]))) --length;
  return CodePageToUtf8(std::string(text, length));
}

}  // namespace

HRESULT ReadFileHead(const std::string& path, bool known_regular, FileHead& file) {
  file = FileHead();
  const std::wstring wide = Utf8ToWide(path);
  // Opening anything else (a named pipe) could wait forever.
  if (!known_regular && (tlx_stat_mode(wide.c_str()) & 0xF000) != TLX_S_IFREG) {
    return E_TAG_FILE_NOT_FOUND;
  }
  Handle handle;
  const std::int32_t rc = tlx_open(wide.c_str(), TLX_O_RDONLY, &handle.fd);
  if (rc != 0) {
    handle.fd = TLX_INVALID_HANDLE;
    return rc == TLX_ENOENT ? E_TAG_FILE_NOT_FOUND : E_TAG_CANNOT_OPEN;
  }
  const std::int32_t got = tlx_read(handle.fd, file.head, kHeadSize);
  if (got < 0) return E_FAIL;
  file.head_size = static_cast<std::size_t>(got);
  const std::int32_t at = tlx_lseek(handle.fd, -static_cast<std::int32_t>(kTrailerSize), 2);
  if (at < 0) {
    // Shorter than a trailer, or too long for the system layer's offsets.
    const std::int32_t end = tlx_lseek(handle.fd, 0, 2);
    if (end >= 0 && end < static_cast<std::int32_t>(kTrailerSize)) file.file_size = end;
    return S_OK;
  }
  file.file_size = static_cast<std::int64_t>(at) + kTrailerSize;
  if (tlx_read(handle.fd, file.trailer, kTrailerSize) != static_cast<std::int32_t>(kTrailerSize)) {
    return E_FAIL;
  }
  file.has_trailer = std::memcmp(file.trailer, "TAG", 3) == 0;
  return S_OK;
}

HRESULT ReadFileHead(CTagkit& tag, FileHead& file) {
  file = FileHead();
  CTagkit::FileEnds ends;
  const HRESULT hr = tag.GetFileEnds(ends);
  if (FAILED(hr)) return hr;
  std::memcpy(file.head, ends.head, kHeadSize);
  file.head_size = static_cast<std::size_t>(ends.headSize);
  std::memcpy(file.trailer, ends.trailer, kTrailerSize);
  file.has_trailer = ends.hasTrailer;
  file.file_size = ends.fileSize;
  return S_OK;
}

HRESULT LookAt(const std::string& path, FileLook& look) {
  const HRESULT hr = ReadFileHead(path, look.found, look.head);
  look.head_read = SUCCEEDED(hr);
  if (!look.found) return S_OK;
  if (FAILED(hr)) return hr;
  look.skipped = !LooksLikeMp3(look.head);
  return S_OK;
}

bool LooksLikeMp3(const FileHead& file) {
  return IsId3v2Header(file) || IsMpegFrameHeader(file) || file.has_trailer;
}

int Id3v2Version(const FileHead& file) {
  if (!IsId3v2Header(file) || file.head[4] != 0) return 0;
  const int major = file.head[3];
  return major >= 2 && major <= 4 ? major : 0;
}

std::optional<TrailerView> ReadTrailer(const FileHead& file) {
  if (!file.has_trailer) return std::nullopt;
  const unsigned char* t = file.trailer;
  TrailerView view;
  view.title = Field(t, 3);
  view.artist = Field(t, 33);
  view.album = Field(t, 63);
  char year[5] = {};
  std::memcpy(year, t + 93, 4);
  view.year = std::atoi(year);
  // An ID3v1.1 comment ends at the zero byte before the track number.
  view.comment = Field(t, 97);
  if (t[125] == 0) view.track = t[126];
  view.genre = t[127];
  return view;
}

}  // namespace tagkit_cli
