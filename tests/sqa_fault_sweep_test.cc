// Fails every file operation of a container edit in turn, once each: the file
// must always be the old or the new file, and the backup, once written, the
// old tag.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "container_support.h"
#include "sqa_internal.h"
#include "tlx_system.h"

namespace tagkit_test {
namespace {

const std::uint32_t kTit2 = TLX_ID3_FRAME_ID('T', 'I', 'T', '2');
const std::uint32_t kPriv = TLX_ID3_FRAME_ID('P', 'R', 'I', 'V');

Bytes TitleData(const std::string& title) { return Concat({{0}, Text(title)}); }

const Bytes kOldFrames = Concat({Frame23("TIT2", TitleData("Old title")),
                                 Frame23("TPE1", TitleData("Artist"))});
const Bytes kNewFrames = Concat({Frame23("TIT2", TitleData("New title")),
                                 Frame23("TPE1", TitleData("Artist")),
                                 Frame23("PRIV", Bytes(2900, 0x42))});
const Bytes kTail = Concat({CodecHeader(), Audio(9000)});
const std::size_t kOldTagLength = 10 + 2000;

// Begins, changes the title, adds a frame that makes the tag grow (so that
// the end re-pads it with a second rewrite), and ends. Stops at a failure.
int32_t Edit(tlx_sqa_context* ctx) {
  int32_t rc = tlx_sqa_edit_begin(ctx);
  if (rc != 0) return rc;
  Bytes title = TitleData("New title");
  tlx_id3_v2_frame_header frame = {};
  frame.id = kTit2;
  frame.size = static_cast<std::uint32_t>(title.size());
  rc = tlx_id3_v2_update_frame(&ctx->id3, &frame, title.data(), 0);
  if (rc != 0) return rc;
  Bytes data(2900, 0x42);
  frame.id = kPriv;
  frame.size = static_cast<std::uint32_t>(data.size());
  rc = tlx_id3_v2_add_frame(&ctx->id3, &frame, data.data());
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

TEST(SqaFaultSweep, ContainerEditIsAlwaysOldOrNewWithAnIntactBackup) {
#if !defined(TLX_FAULT_INJECTION)
  GTEST_SKIP() << "built without the fault-injection seam";
#else
  TempDir dir;
  TempDir temp;
  const char* saved_tmpdir = std::getenv("TMPDIR");
  std::string restore = saved_tmpdir ? saved_tmpdir : "";
  setenv("TMPDIR", temp.path().c_str(), 1);

  const std::string file = dir.File("song.sqa");
  const std::wstring wfile = dir.WFile("song.sqa");
  const std::string backup = dir.File("song.bak");
  const std::wstring wbackup = dir.WFile("song.bak");
  const Bytes original = Concat({Kq7Tag(kOldFrames, 2000 - kOldFrames.size()), kTail});
  const Bytes old_tag(original.begin(), original.begin() + kOldTagLength);

  auto open = [&](tlx_sqa_context* ctx) {
    WriteFile(file, original);
    std::remove(backup.c_str());
    ASSERT_EQ(0, tlx_sqa_create_context(wfile.c_str(), TLX_SQA_MODE_WRITE, 0, wbackup.c_str(), ctx));
  };

  // A clean run gives the new file and the number of calls of each operation.
  tlx_sqa_context ctx;
  open(&ctx);
  tlx_fault_reset();
  ASSERT_EQ(0, Edit(&ctx));
  std::uint32_t calls[TLX_FAULT_OP_COUNT];
  for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) {
    calls[op] = tlx_fault_calls(static_cast<tlx_fault_op>(op));
  }
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx));
  const Bytes edited = ReadFile(file);
  ASSERT_TRUE(HoldsNewContent(edited));
  ASSERT_EQ(3072u + kTail.size(), edited.size());

  int fired = 0;
  for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) {
    for (std::uint32_t nth = 1; nth <= calls[op]; ++nth) {
      SCOPED_TRACE(testing::Message() << "operation " << op << " call " << nth);
      open(&ctx);
      tlx_fault_reset();
      tlx_fault_arm(static_cast<tlx_fault_op>(op), nth);
      int32_t rc = Edit(&ctx);
      fired += tlx_fault_fired() ? 1 : 0;
      tlx_fault_reset();
      // Whatever happened, the context lets go of the file cleanly.
      EXPECT_EQ(0, tlx_sqa_destroy_context(&ctx));

      Bytes now = ReadFile(file);
      if (rc == 0) {
        EXPECT_TRUE(now == edited) << Describe(now);
      } else {
        EXPECT_TRUE(now == original || HoldsNewContent(now)) << "code " << rc << ": " << Describe(now);
      }
      if (now != original) {
        EXPECT_TRUE(FileExists(backup));
      }
      if (FileExists(backup)) {
        EXPECT_EQ(old_tag, ReadFile(backup));
      }
      EXPECT_EQ(std::vector<std::string>(), ListDir(temp.path()));
      EXPECT_EQ(std::vector<std::string>{}, [&] {
        std::vector<std::string> stray;
        for (const std::string& name : ListDir(dir.path())) {
          if (name != "song.sqa" && name != "song.bak") stray.push_back(name);
        }
        return stray;
      }());
    }
  }
  EXPECT_GT(fired, 20);
  if (saved_tmpdir) {
    setenv("TMPDIR", restore.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
#endif
}

}  // namespace
}  // namespace tagkit_test
