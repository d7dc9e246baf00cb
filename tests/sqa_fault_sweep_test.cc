// Fails every file operation of a container edit, and of a recovery, in turn,
// once each: the file must always be the old or the new file, and the backup,
// once written, the old tag.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "container_support.h"

namespace tagkit_test {
namespace {

#if defined(TLX_FAULT_INJECTION)

const Bytes kOldFrames =
    Concat({Frame23("TIT2", TextData("Old title")), Frame23("TPE1", TextData("Artist"))});
const Bytes kNewFrames = Concat({Frame23("TIT2", TextData("New title")),
                                 Frame23("TPE1", TextData("Artist")), Frame23("PRIV", Bytes(2900, 0x42))});
const Bytes kTail = Concat({CodecHeader(), Audio(9000)});
const Bytes kOriginal = Concat({Kq7Tag(kOldFrames, 2000 - kOldFrames.size()), kTail});
const std::size_t kOldTagLength = 2010;
const Bytes kOldTag(kOriginal.begin(), kOriginal.begin() + kOldTagLength);

// Begins, changes the title, adds a frame that makes the tag grow (so that
// the end re-pads it with a second rewrite), and ends. Stops at a failure.
int32_t Edit(tlx_sqa_context* ctx) {
  int32_t rc = tlx_sqa_edit_begin(ctx);
  if (rc == 0) rc = PutFrame(&ctx->id3, "TIT2", TextData("New title"), 0);
  if (rc == 0) rc = PutFrame(&ctx->id3, "PRIV", Bytes(2900, 0x42));
  return rc != 0 ? rc : tlx_sqa_edit_end(ctx);
}

std::size_t TagLength(const Bytes& file) {
  return file.size() < 10 ? 0 : 10 + ((file[6] << 21) | (file[7] << 14) | (file[8] << 7) | file[9]);
}

// The new frames with zero padding of any length before the old codec header
// and audio: the state between the rewrite and the re-padding.
bool HoldsNewContent(const Bytes& file) {
  const std::size_t length = TagLength(file);
  return length >= 10 + kNewFrames.size() &&
         file == Concat({Kq7Tag(kNewFrames, length - 10 - kNewFrames.size()), kTail});
}

class SqaFaultSweep : public SqaFileTest {
 protected:
  // Temporary files go to a folder of their own, to be seen when left behind.
  void SetUp() override {
    const char* saved = std::getenv(TempDirVariable());
    had_tmpdir_ = saved != nullptr;
    if (saved != nullptr) saved_tmpdir_ = saved;
    SetEnv(TempDirVariable(), temp_.path());
  }
  void TearDown() override {
    if (had_tmpdir_) {
      SetEnv(TempDirVariable(), saved_tmpdir_);
    } else {
      UnsetEnv(TempDirVariable());
    }
    SqaFileTest::TearDown();
  }
  // The original file, no backup, and a write context with a backup path.
  void Prepare(tlx_sqa_context* ctx) {
    WriteFile(file_, kOriginal);
    std::remove(backup_.c_str());
    ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_WRITE, 0, wbackup_.c_str(), ctx));
  }
  // Runs `step` on a freshly prepared context once per call of each file
  // operation that a clean run makes, failing that call; `check` then looks
  // at the result. Returns how many runs saw their failure happen.
  template <typename Before, typename Step, typename Check>
  int Sweep(Before before, Step step, Check check) {
    tlx_sqa_context ctx;
    before(&ctx);
    tlx_fault_reset();
    EXPECT_EQ(0, step(&ctx));
    std::uint32_t calls[TLX_FAULT_OP_COUNT];
    for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) calls[op] = tlx_fault_calls(tlx_fault_op(op));
    EXPECT_EQ(0, tlx_sqa_destroy_context(&ctx));
    int fired = 0;
    for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) {
      for (std::uint32_t nth = 1; nth <= calls[op]; ++nth) {
        SCOPED_TRACE(testing::Message() << "operation " << op << " call " << nth);
        before(&ctx);
        tlx_fault_reset();
        tlx_fault_arm(tlx_fault_op(op), nth);
        const int32_t rc = step(&ctx);
        fired += tlx_fault_fired() ? 1 : 0;
        tlx_fault_reset();
        check(&ctx, rc);
        // The context lets go of the file (a context that lost its handle says
        // so), and no temporary file is left, in the temporary folder or
        // beside the file.
        const int32_t lost = ctx.fd == TLX_INVALID_HANDLE ? TLX_ID3_E_CLOSE : TLX_ID3_OK;
        EXPECT_EQ(lost, tlx_sqa_destroy_context(&ctx));
        EXPECT_EQ(std::vector<std::string>(), ListDir(temp_.path()));
        EXPECT_EQ(FileExists(backup_) ? 2u : 1u, ListDir(dir_.path()).size());
      }
    }
    return fired;
  }

  TempDir temp_;
  bool had_tmpdir_ = false;
  std::string saved_tmpdir_;
};

TEST_F(SqaFaultSweep, EditIsAlwaysOldOrNewWithAnIntactBackup) {
  Bytes edited;
  auto step = [&](tlx_sqa_context* ctx) {
    const int32_t rc = Edit(ctx);
    if (edited.empty()) {  // the clean run
      edited = ReadFile(file_);
      EXPECT_TRUE(HoldsNewContent(edited));
      EXPECT_EQ(3072u + kTail.size(), edited.size());
    }
    return rc;
  };
  auto check = [&](tlx_sqa_context*, int32_t rc) {
    const Bytes now = ReadFile(file_);
    if (rc == 0) {
      EXPECT_TRUE(now == edited) << "tag of " << TagLength(now) << " bytes, file of " << now.size();
    } else {
      EXPECT_TRUE(now == kOriginal || HoldsNewContent(now)) << "code " << rc << ": " << "tag of " << TagLength(now) << " bytes, file of " << now.size();
    }
    if (now != kOriginal) {
      EXPECT_TRUE(FileExists(backup_));
    }
    if (FileExists(backup_)) {
      EXPECT_EQ(kOldTag, ReadFile(backup_));
    }
  };
  EXPECT_GT(Sweep([&](tlx_sqa_context* ctx) { Prepare(ctx); }, step, check), 20);
}

TEST_F(SqaFaultSweep, RecoveryIsAllOrNothingAndKeepsTheContextUsable) {
  Bytes edited;
  auto before = [&](tlx_sqa_context* ctx) {
    Prepare(ctx);
    ASSERT_EQ(0, Edit(ctx));
    if (edited.empty()) edited = ReadFile(file_);
  };
  auto step = [&](tlx_sqa_context* ctx) {
    return tlx_sqa_recover_id3v2(wfile_.c_str(), wbackup_.c_str(), ctx);
  };
  auto check = [&](tlx_sqa_context* ctx, int32_t rc) {
    const Bytes now = ReadFile(file_);
    EXPECT_TRUE(now == kOriginal || (rc != 0 && now == edited)) << "code " << rc << ": " << "tag of " << TagLength(now) << " bytes, file of " << now.size();
    // The backup goes only once the file is recovered.
    if (now == edited || FileExists(backup_)) {
      EXPECT_EQ(kOldTag, ReadFile(backup_));
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
    EXPECT_EQ(now == kOriginal ? kOldTagLength : 3072u, size);
  };
  EXPECT_GT(Sweep(before, step, check), 10);
}

#endif  // TLX_FAULT_INJECTION

}  // namespace
}  // namespace tagkit_test
