// An engine context on a temporary file holding given bytes, destroyed with
// the fixture. For the engine's own tests.
#ifndef TAGKIT_TESTS_SUPPORT_ENGINE_FILE_H_
#define TAGKIT_TESTS_SUPPORT_ENGINE_FILE_H_

#include <cstring>
#include <string>

#include "id3_internal.h"
#include "test_support.h"
#include "tlx_id3.h"

namespace tagkit_test {

class EngineFile {
 public:
  // mode: TLX_ID3_MODE_READ or TLX_ID3_MODE_WRITE.
  explicit EngineFile(const Bytes& bytes, int32_t mode = TLX_ID3_MODE_READ)
      : path_(dir_.File("audio.mp3")) {
    WriteFile(path_, bytes);
    std::memset(&ctx_, 0, sizeof ctx_);
    open_rc_ = tlx_id3_create_context(Widen(path_).c_str(), mode, nullptr, &ctx_);
  }
  ~EngineFile() {
    if (open_rc_ == TLX_ID3_OK) tlx_id3_destroy_context(&ctx_);
  }
  EngineFile(const EngineFile&) = delete;
  EngineFile& operator=(const EngineFile&) = delete;

  int32_t open_rc() const { return open_rc_; }
  tlx_id3_context* ctx() { return &ctx_; }
  const std::string& path() const { return path_; }
  Bytes Contents() const { return ReadFile(path_); }

 private:
  TempDir dir_;
  std::string path_;
  tlx_id3_context ctx_;
  int32_t open_rc_;
};

inline uint32_t Id(const char* text) {
  return TLX_ID3_FRAME_ID(text[0], text[1], text[2], text[3]);
}

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_ENGINE_FILE_H_
