// Helpers for the tests of the editing transaction, the rewrite and backup:
// an engine context that closes itself, a private temporary directory for
// the rewrite's temporary files, and the expected bytes of a rewritten file.
#ifndef TAGKIT_TESTS_SUPPORT_REWRITE_SUPPORT_H_
#define TAGKIT_TESTS_SUPPORT_REWRITE_SUPPORT_H_

#include <stdlib.h>

#include <cstdint>
#include <string>

#include "test_support.h"
#include "tlx_id3.h"

namespace tagkit_test {

// An engine context on a file, destroyed when it goes out of scope.
class Context {
 public:
  Context() = default;
  ~Context() { Close(); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  std::int32_t Open(const std::string& path, std::int32_t mode = TLX_ID3_MODE_WRITE) {
    Close();
    std::int32_t rc = tlx_id3_create_context(Widen(path).c_str(), mode, nullptr, &ctx_);
    open_ = rc == TLX_ID3_OK;
    return rc;
  }
  std::int32_t Close() {
    if (!open_) return TLX_ID3_OK;
    open_ = false;
    return tlx_id3_destroy_context(&ctx_);
  }
  bool is_open() const { return open_; }
  tlx_id3_context* get() { return &ctx_; }
  tlx_id3_context* operator->() { return &ctx_; }

 private:
  tlx_id3_context ctx_{};
  bool open_ = false;
};

// Points TMPDIR at a directory for the lifetime of the object, so that the
// temporary files of a rewrite can be counted (and missing ones caught).
class ScopedTmpdir {
 public:
  explicit ScopedTmpdir(const std::string& dir) {
    const char* old = getenv("TMPDIR");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~ScopedTmpdir() {
    if (had_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ScopedTmpdir(const ScopedTmpdir&) = delete;
  ScopedTmpdir& operator=(const ScopedTmpdir&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

// A frame record with only an identifier and a size.
inline tlx_id3_v2_frame_header FrameRecord(const std::string& id, std::uint32_t size) {
  tlx_id3_v2_frame_header frame{};
  frame.id = TLX_ID3_FRAME_ID(id[0], id[1], id[2], id.size() > 3 ? id[3] : 0);
  frame.size = size;
  return frame;
}

inline std::uint32_t FrameId(const std::string& id) {
  return TLX_ID3_FRAME_ID(id[0], id[1], id[2], id.size() > 3 ? id[3] : 0);
}

// The file a rewrite must produce: a 10-byte header (magic and version as
// given, flags byte, sync-safe size), the body (extended header and frames),
// padding to a multiple of 16 with 1009 to 1024 zero bytes, then the audio.
inline Bytes Rewritten(std::uint8_t major, std::uint8_t flags, const Bytes& body,
                       const Bytes& audio, const std::string& magic = "ID3") {
  std::uint32_t frames_end = 10 + static_cast<std::uint32_t>(body.size());
  std::uint32_t pad = 1024 - frames_end % 16;
  Bytes out = Concat({Text(magic), {major, 0, flags}, SyncSafe(frames_end + pad - 10), body,
                      Bytes(pad, 0), audio});
  return out;
}

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_REWRITE_SUPPORT_H_
