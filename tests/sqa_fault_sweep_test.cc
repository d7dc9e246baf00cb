// Fails every file operation of a container edit, and of a recovery, in turn,
// once each: the file must always be the old or the new file, and the backup,
// once written, the old tag.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "container_support.h"
#include "sqa_internal.h"
#include "tlx_system.h"

namespace tagkit_test {
namespace {

const Bytes kOldFrames = Concat({Frame23("TIT2", TextData("Old title")),
                                 Frame23("TPE1", TextData("Artist"))});
const Bytes kNewFrames = Concat({Frame23("TIT2", TextData("New title")),
                                 Frame23("TPE1", TextData("Artist")),
                                 Frame23("PRIV", Bytes(2900, 0x42))});
const Bytes kTail = Concat({CodecHeader(), Audio(9000)});
const std::size_t kOldTagLength = 10 + 2000;

// Begins, changes the title, adds a frame that makes the tag grow (so that
// the end re-pads it with a second rewrite), and ends. Stops at a failure.
int32_t Edit(tlx_sqa_context* ctx) {
  int32_t rc = tlx_sqa_edit_begin(ctx);
  if (rc == 0) rc = PutFrame(&ctx->id3, "TIT2", TextData("New title"), 0);
  if (rc == 0) rc = PutFrame(&ctx->id3, "PRIV", Bytes(2900, 0x42));
  if (rc != 0) return rc;
  return tlx_sqa_edit_end(ctx);
}

// The new frames and the old codec header and audio, with zero padding of
// any length: the state between the rewrite and the re-padding.
bool HoldsNewContent(const Bytes& file) {
  if (file.size() < 10 + kNewFrames.size()) return false;
  if (!std::equal(file.begin(), file.begin() + 6, Kq7Tag({}).begin())) return false;
  std::size_t tag_length =
      10 + ((file[6] << 21) | (file[7] << 14) | (file[8] << 7) | file[9]);
  std::size_t frames_end = 10 + kNewFrames.size();
  if (tag_length < frames_end || file.size() != tag_length + kTail.size()) return false;
  if (!std::equal(kNewFrames.begin(), kNewFrames.end(), file.begin() + 10)) return false;
  for (std::size_t i = frames_end; i < tag_length; ++i) {
    if (file[i] != 0) return false;
  }
  return std::equal(kTail.begin(), kTail.end(), file.begin() + tag_length);
}

// Enough to tell files apart in a failure message.
std::string Describe(const Bytes& file) {
  if (file.size() < 10) return "a file of " + std::to_string(file.size()) + " bytes";
  std::size_t tag_length = 10 + ((file[6] << 21) | (file[7] << 14) | (file[8] << 7) | file[9]);
  return std::string(file.begin(), file.begin() + 3) + " tag of " + std::to_string(tag_length) +
         " bytes, file of " + std::to_string(file.size());
}

#if defined(TLX_FAULT_INJECTION)
class SqaFaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* saved = std::getenv("TMPDIR");
    had_tmpdir_ = saved != nullptr;
    if (had_tmpdir_) saved_tmpdir_ = saved;
    setenv("TMPDIR", temp_.path().c_str(), 1);
  }
  void TearDown() override {
    tlx_fault_reset();
    if (had_tmpdir_) {
      setenv("TMPDIR", saved_tmpdir_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  void Open(tlx_sqa_context* ctx) {
    ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_WRITE, 0, wbackup_.c_str(), ctx));
  }
  // Runs `step` on a freshly prepared context once per call of each file
  // operation that a clean run makes, failing that call; `check` then looks
  // at the result. Returns how many runs saw their failure happen.
  template <typename Prepare, typename Step, typename Check>
  int Sweep(Prepare prepare, Step step, Check check) {
    tlx_sqa_context ctx;
    prepare(&ctx);
    tlx_fault_reset();
    EXPECT_EQ(0, step(&ctx));
    std::uint32_t calls[TLX_FAULT_OP_COUNT];
    for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) {
      calls[op] = tlx_fault_calls(static_cast<tlx_fault_op>(op));
    }
    EXPECT_EQ(0, tlx_sqa_destroy_context(&ctx));
    int fired = 0;
    for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) {
      for (std::uint32_t nth = 1; nth <= calls[op]; ++nth) {
        SCOPED_TRACE(testing::Message() << "operation " << op << " call " << nth);
        prepare(&ctx);
        tlx_fault_reset();
        tlx_fault_arm(static_cast<tlx_fault_op>(op), nth);
        int32_t rc = step(&ctx);
        fired += tlx_fault_fired() ? 1 : 0;
        tlx_fault_reset();
        check(&ctx, rc);
        // The context lets go of the file (a context that lost its handle says
        // so), and no temporary file is left, in the temporary directory or
        // beside the file.
        int32_t lost = ctx.fd == TLX_INVALID_HANDLE ? TLX_ID3_E_CLOSE : TLX_ID3_OK;
        EXPECT_EQ(lost, tlx_sqa_destroy_context(&ctx));
        EXPECT_EQ(std::vector<std::string>(), ListDir(temp_.path()));
        EXPECT_EQ(FileExists(backup_) ? 2u : 1u, ListDir(dir_.path()).size());
      }
    }
    return fired;
  }

  TempDir dir_;
  TempDir temp_;
  bool had_tmpdir_ = false;
  std::string saved_tmpdir_;
  const std::string file_ = dir_.File("song.sqa");
  const std::wstring wfile_ = dir_.WFile("song.sqa");
  const std::string backup_ = dir_.File("song.bak");
  const std::wstring wbackup_ = dir_.WFile("song.bak");
  const Bytes original_ = Concat({Kq7Tag(kOldFrames, 2000 - kOldFrames.size()), kTail});
  const Bytes old_tag_ = Bytes(original_.begin(), original_.begin() + kOldTagLength);
};

TEST_F(SqaFaultSweep, EditIsAlwaysOldOrNewWithAnIntactBackup) {
  Bytes edited;
  auto prepare = [&](tlx_sqa_context* ctx) {
    WriteFile(file_, original_);
    std::remove(backup_.c_str());
    Open(ctx);
  };
  auto check = [&](tlx_sqa_context*, int32_t rc) {
    Bytes now = ReadFile(file_);
    if (rc == 0) {
      EXPECT_TRUE(now == edited) << Describe(now);
    } else {
      EXPECT_TRUE(now == original_ || HoldsNewContent(now)) << "code " << rc << ": " << Describe(now);
    }
    if (now != original_) {
      EXPECT_TRUE(FileExists(backup_));
    }
    if (FileExists(backup_)) {
      EXPECT_EQ(old_tag_, ReadFile(backup_));
    }
  };
  auto step = [&](tlx_sqa_context* ctx) {
    int32_t rc = Edit(ctx);
    if (edited.empty()) {  // the clean run
      edited = ReadFile(file_);
      EXPECT_TRUE(HoldsNewContent(edited));
      EXPECT_EQ(3072u + kTail.size(), edited.size());
    }
    return rc;
  };
  EXPECT_GT(Sweep(prepare, step, check), 20);
}

TEST_F(SqaFaultSweep, RecoveryIsAllOrNothingAndKeepsTheContextUsable) {
  Bytes edited;
  auto prepare = [&](tlx_sqa_context* ctx) {
    WriteFile(file_, original_);
    std::remove(backup_.c_str());
    Open(ctx);
    ASSERT_EQ(0, Edit(ctx));
    if (edited.empty()) edited = ReadFile(file_);
  };
  auto step = [&](tlx_sqa_context* ctx) {
    return tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), ctx);
  };
  auto check = [&](tlx_sqa_context* ctx, int32_t rc) {
    Bytes now = ReadFile(file_);
    EXPECT_TRUE(now == original_ || (rc != 0 && now == edited)) << "code " << rc << ": " << Describe(now);
    // The backup goes only once the file is recovered.
    if (now == edited || FileExists(backup_)) {
      EXPECT_EQ(old_tag_, ReadFile(backup_));
    }
    // The context reads whichever file is there now, unless it reported that
    // it could not open it again.
    if (ctx->fd == TLX_INVALID_HANDLE) {
      EXPECT_NE(0, rc);
      return;
    }
    EXPECT_EQ(ctx->id3.fd, ctx->fd);
    std::uint32_t size = 0;
    EXPECT_EQ(0, tlx_sqa_get_tag_size(ctx, &size));
    EXPECT_EQ(now == original_ ? kOldTagLength : 3072u, size);
  };
  EXPECT_GT(Sweep(prepare, step, check), 10);
}
#endif

}  // namespace
}  // namespace tagkit_test
