// For the engine's own tests: a context that closes itself, a file with a
// context on it, a fixture whose temporary folder catches stray temporary
// files of a rewrite, frame records and the bytes a rewrite must produce.
#ifndef TAGKIT_TESTS_SUPPORT_ENGINE_FILE_H_
#define TAGKIT_TESTS_SUPPORT_ENGINE_FILE_H_

#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "id3_internal.h"
#include "test_support.h"
#include "tlx_id3.h"

namespace tagkit_test {

// An engine context on a file, destroyed when it goes out of scope.
class Context {
 public:
  Context() = default;
  explicit Context(const std::string& path, std::int32_t mode = TLX_ID3_MODE_WRITE) {
    Open(path, mode);
  }
  ~Context() { Close(); }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  std::int32_t Open(const std::string& path, std::int32_t mode = TLX_ID3_MODE_WRITE) {
    Close();
    open_rc_ = tlx_id3_create_context(Widen(path).c_str(), mode, nullptr, &ctx_);
    return open_rc_;
  }
  std::int32_t Close() {
    if (open_rc_ != TLX_ID3_OK) return TLX_ID3_OK;
    open_rc_ = -1;
    return tlx_id3_destroy_context(&ctx_);
  }
  std::int32_t open_rc() const { return open_rc_; }
  bool is_open() const { return open_rc_ == TLX_ID3_OK; }
  tlx_id3_context* get() { return &ctx_; }
  tlx_id3_context* operator->() { return &ctx_; }

 private:
  tlx_id3_context ctx_{};
  std::int32_t open_rc_ = -1;
};

// A private file holding bytes, with a context on it.
class EngineFile {
 public:
  explicit EngineFile(const Bytes& bytes, std::int32_t mode = TLX_ID3_MODE_READ)
      : path_(dir_.File("audio.mp3")) {
    WriteFile(path_, bytes);
    ctx_.Open(path_, mode);
  }
  std::int32_t open_rc() const { return ctx_.open_rc(); }
  tlx_id3_context* ctx() { return ctx_.get(); }
  Bytes Contents() const { return ReadFile(path_); }

 private:
  TempDir dir_;
  std::string path_;
  Context ctx_;
};

// Points the system's temporary folder at a directory while it lives.
class ScopedTmpdir {
 public:
  explicit ScopedTmpdir(const std::string& dir) {
    const char* old = getenv(TempDirVariable());
    had_ = old != nullptr;
    if (had_) old_ = old;
    SetEnv(TempDirVariable(), dir);
  }
  ~ScopedTmpdir() {
    if (had_) {
      SetEnv(TempDirVariable(), old_);
    } else {
      UnsetEnv(TempDirVariable());
    }
  }
  ScopedTmpdir(const ScopedTmpdir&) = delete;
  ScopedTmpdir& operator=(const ScopedTmpdir&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

// One file, song.mp3, in a private folder whose tmp/ is the temporary folder
// (where a rewrite goes only when the file's folder takes no new file).
class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : tmp_(dir_.File("tmp")), tmpdir_(tmp_) { MakeDir(tmp_); }
  const std::string& Put(const Bytes& bytes) {
    WriteFile(path_, bytes);
    return path_;
  }
  Bytes Contents() const { return ReadFile(path_); }
  // Neither the temporary folder nor the file's folder (hidden names) holds
  // a temporary file or record.
  bool NoTempFiles() const {
    for (const std::string& name : ListDir(dir_.path())) {
      if (name[0] == '.') return false;
    }
    return ListDir(tmp_).empty();
  }

  TempDir dir_;
  std::string tmp_;
  ScopedTmpdir tmpdir_;
  std::string path_ = dir_.File("song.mp3");
};

// "TIT2" or "TT2" as a frame identifier.
inline std::uint32_t Id(const std::string& id) {
  return TLX_ID3_FRAME_ID(id[0], id[1], id[2], id.size() > 3 ? id[3] : 0);
}

inline tlx_id3_v2_frame_header FrameRecord(const std::string& id, std::uint32_t size) {
  tlx_id3_v2_frame_header frame{};
  frame.id = Id(id);
  frame.size = size;
  return frame;
}

// The value read, or "E<code>" where reading failed (by reference, so that
// it is read after the call that fills it).
template <typename T>
std::string Code(std::int32_t rc, const T& value) {
  return rc ? "E" + std::to_string(rc) : std::to_string(+value);
}

// The frames as the index reads them, "TIT2:5 TPE1:3 pad:80", the sizes
// without extra header bytes; a failing query shows as its code.
inline std::string Frames(tlx_id3_context* ctx) {
  std::uint32_t total = 0, padding = 0;
  std::string out;
  if (std::int32_t rc = tlx_id3_v2_get_frame_total_num(ctx, &total)) out = Code(rc, 0) + " ";
  for (std::uint32_t i = 0; i < total; ++i) {
    tlx_id3_v2_frame_header f;
    const std::int32_t rc = tlx_id3_v2_get_frame_header_by_index(ctx, i, &f);
    const char id[5] = {char(f.id >> 24), char(f.id >> 16), char(f.id >> 8), char(f.id), 0};
    out += rc ? Code(rc, 0) + " " : std::string(id) + ":" + std::to_string(f.size) + " ";
  }
  return out + "pad:" + Code(tlx_id3_v2_get_padding_size(ctx, &padding), padding);
}

// The ID3v1 fields as the getters read them: title|artist|album|comment|year|genre|track.
inline std::string V1Fields(tlx_id3_context* ctx) {
  std::string out;
  for (auto getter : {tlx_id3_v1_get_title, tlx_id3_v1_get_artist, tlx_id3_v1_get_album, tlx_id3_v1_get_comment}) {
    char text[31];
    std::uint32_t size = 30;
    const std::int32_t rc = getter(ctx, &size, text);
    out += (rc ? Code(rc, 0) : std::string(text, size)) + "|";
  }
  std::int32_t year = 0;
  std::uint32_t genre = 0;
  std::uint8_t track = 0;
  out += Code(tlx_id3_v1_get_year(ctx, &year), year) + "|";
  out += Code(tlx_id3_v1_get_genre(ctx, &genre), genre) + "|";
  return out + Code(tlx_id3_v1_get_tracknumebr(ctx, &track), track);
}

// Opens path for writing, runs edit inside one editing transaction and
// commits: the first failing code, else that of closing.
inline std::int32_t EditFile(const std::string& path,
                             const std::function<void(tlx_id3_context*)>& edit) {
  Context ctx;
  std::int32_t rc = ctx.Open(path);
  if (rc == TLX_ID3_OK) rc = tlx_id3_v2_edit_begin(ctx.get());
  if (rc == TLX_ID3_OK) {
    edit(ctx.get());
    rc = tlx_id3_v2_edit_end(ctx.get());
  }
  std::int32_t closed = ctx.Close();
  return rc != TLX_ID3_OK ? rc : closed;
}

// The file a rewrite must produce: header (magic, version, flags, sync-safe
// size), the body (extended header and frames), zero padding of 1009 to
// 1024 bytes that makes the tag a multiple of 16, then the audio.
inline Bytes Rewritten(std::uint8_t major, std::uint8_t flags, const Bytes& body,
                       const Bytes& audio, const std::string& magic = "ID3") {
  std::uint32_t frames_end = 10 + static_cast<std::uint32_t>(body.size());
  std::uint32_t pad = 1024 - frames_end % 16;
  return Concat({Text(magic), {major, 0, flags}, SyncSafe(frames_end + pad - 10), body,
                 Bytes(pad, 0), audio});
}

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_ENGINE_FILE_H_
