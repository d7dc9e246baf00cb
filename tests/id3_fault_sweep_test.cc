// Fails every call of every file operation of a whole commit, padding
// adjustment, backup and recovery in turn, and checks after each failure that
// the audio file is byte for byte the old or the complete new file, that no
// temporary file is left, that a failure code came back, and that no file
// handle leaked (memory leaks are caught by the sanitizer build).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "rewrite_support.h"
#include "test_support.h"
#include "tlx_id3.h"
#include "tlx_system.h"

#if defined(TLX_FAULT_INJECTION)

namespace tagkit_test {
namespace {

const char* const kOpNames[TLX_FAULT_OP_COUNT] = {"read",     "write",  "seek",   "open",  "close",
                                                  "truncate", "rename", "unlink", "fsync"};

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// One operation under test: prepare() writes the files, run() performs the
// operation and returns its first non-zero engine result (0 when all
// succeeded), check() judges the files afterwards.
struct Scenario {
  std::function<void()> prepare;
  std::function<int32_t()> run;
  std::function<void(int32_t rc)> check;
};

class FaultSweepTest : public ::testing::Test {
 protected:
  FaultSweepTest()
      : tmp_(dir_.File("tmp")), tmpdir_(tmp_), audio_path_(dir_.File("song.mp3")),
        backup_path_(dir_.File("song.bak")) {
    mkdir(tmp_.c_str(), 0700);
  }
  ~FaultSweepTest() override { tlx_fault_reset(); }

  // Runs the scenario once cleanly to count the calls, then once per call
  // with that call failing.
  void Sweep(const Scenario& scenario) {
    scenario.prepare();
    tlx_fault_reset();
    ASSERT_EQ(0, scenario.run());
    uint32_t calls[TLX_FAULT_OP_COUNT];
    for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) calls[op] = tlx_fault_calls(static_cast<tlx_fault_op>(op));
    tlx_fault_reset();
    scenario.check(0);
    int total = 0;
    for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) {
      for (uint32_t n = 1; n <= calls[op]; ++n) {
        SCOPED_TRACE(std::string(kOpNames[op]) + " call " + std::to_string(n));
        scenario.prepare();
        int fds = OpenDescriptors();
        tlx_fault_reset();
        tlx_fault_arm(static_cast<tlx_fault_op>(op), n);
        int32_t rc = scenario.run();
        bool fired = tlx_fault_fired() != 0;
        tlx_fault_reset();
        EXPECT_TRUE(fired);
        scenario.check(rc);
        EXPECT_EQ(fds, OpenDescriptors());
        EXPECT_TRUE(ListDir(tmp_).empty()) << ListDir(tmp_).size() << " files left";
        ++total;
        if (HasFatalFailure()) return;
      }
    }
    EXPECT_GT(total, 5);
    RecordProperty("injected_failures", total);
  }

  TempDir dir_;
  std::string tmp_;
  ScopedTmpdir tmpdir_;
  std::string audio_path_;
  std::string backup_path_;
};

const Bytes kOldTag = Id3v2Tag(3, 0, Concat({Frame23("TIT2", Bytes(300, 't')), Frame23("TPE1", Bytes(5000, 'p')),
                                             Bytes(64, 0)}));
// Larger than one copy chunk, so the audio copy takes several calls.
const Bytes kAudio = Audio(150000);
const Bytes kOldFile = Concat({kOldTag, kAudio});

TEST_F(FaultSweepTest, Commit) {
  const Bytes added = Bytes(700, 'n');
  const Bytes expected =
      Rewritten(3, 0, Concat({Frame23("TIT2", Bytes(300, 't')), Frame23("TCON", added)}), kAudio);
  Sweep({[&] { WriteFile(audio_path_, kOldFile); },
         [&]() -> int32_t {
           Context ctx;
           int32_t rc = ctx.Open(audio_path_);
           if (rc == 0) rc = tlx_id3_v2_edit_begin(ctx.get());
           if (rc == 0) rc = tlx_id3_v2_remove_frame(ctx.get(), FrameId("TPE1"), 0);
           tlx_id3_v2_frame_header record = FrameRecord("TCON", static_cast<uint32_t>(added.size()));
           if (rc == 0) rc = tlx_id3_v2_add_frame(ctx.get(), &record, added.data());
           if (rc == 0) rc = tlx_id3_v2_edit_end(ctx.get());
           int32_t closed = ctx.Close();
           return rc != 0 ? rc : closed;
         },
         [&](int32_t rc) {
           Bytes got = ReadFile(audio_path_);
           EXPECT_TRUE(got == kOldFile || got == expected) << "damaged file of " << got.size() << " bytes";
           if (rc == 0) {
             EXPECT_EQ(expected, got);
           }
         }});
}

TEST_F(FaultSweepTest, CommitThenRetryOnTheSameContext) {
  // After any failed commit the context is still usable: the same
  // transaction, or a new one, commits without faults.
  const Bytes expected = Rewritten(3, 0, Frame23("TIT2", Bytes(300, 't')), kAudio);
  Sweep({[&] { WriteFile(audio_path_, kOldFile); },
         [&]() -> int32_t {
           Context ctx;
           int32_t rc = ctx.Open(audio_path_);
           if (rc == 0) rc = tlx_id3_v2_edit_begin(ctx.get());
           if (rc == 0) rc = tlx_id3_v2_remove_frame(ctx.get(), FrameId("TPE1"), 0);
           if (rc == 0) rc = tlx_id3_v2_edit_end(ctx.get());
           if (rc == 0) return ctx.Close();
           // Faults are single-shot: the retry runs clean. A context whose
           // content is gone is opened anew; one whose transaction ended
           // begins again (the frame may already be gone from the file).
           if (!ctx.is_open() || ctx->fd == TLX_INVALID_HANDLE) {
             EXPECT_EQ(0, ctx.Open(audio_path_));
           }
           if (ctx->state != TLX_ID3_STATE_EDITING) {
             EXPECT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
             tlx_id3_v2_remove_frame(ctx.get(), FrameId("TPE1"), 0);
           }
           EXPECT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
           EXPECT_EQ(0, ctx.Close());
           return rc;
         },
         [&](int32_t) { EXPECT_EQ(expected, ReadFile(audio_path_)); }});
}

TEST_F(FaultSweepTest, StreamedFrame) {
  // The streamed frame's data reaches the rewritten file after the replace,
  // so a failure while streaming leaves the new layout with the data area
  // partly written; before that the file is the old one.
  const Bytes data = Audio(9000);
  const Bytes stored = Concat({Frame23("TIT2", Bytes(300, 't')), Frame23("TPE1", Bytes(5000, 'p'))});
  const Bytes expected = Rewritten(3, 0, Concat({stored, Frame23("APIC", data)}), kAudio);
  const size_t data_at = 10 + stored.size() + 10;
  Sweep({[&] { WriteFile(audio_path_, kOldFile); },
         [&]() -> int32_t {
           Context ctx;
           int32_t rc = ctx.Open(audio_path_);
           tlx_id3_v2_frame_header record = FrameRecord("APIC", static_cast<uint32_t>(data.size()));
           if (rc == 0) rc = tlx_id3_v2_edit_frame_init(ctx.get(), &record, TLX_ID3_PLACE_APPEND, 0);
           for (size_t at = 0; rc == 0 && at < data.size(); at += 3000) {
             rc = tlx_id3_v2_edit_frame_progress(ctx.get(), 3000, data.data() + at);
           }
           if (rc == 0) rc = tlx_id3_v2_edit_frame_fin(ctx.get());
           int32_t closed = ctx.Close();
           return rc != 0 ? rc : closed;
         },
         [&](int32_t rc) {
           Bytes got = ReadFile(audio_path_);
           if (rc == 0) {
             EXPECT_EQ(expected, got);
           }
           if (got == kOldFile) return;
           ASSERT_EQ(expected.size(), got.size());
           EXPECT_TRUE(std::equal(got.begin(), got.begin() + data_at, expected.begin()));
           EXPECT_TRUE(std::equal(got.begin() + data_at + data.size(), got.end(),
                                  expected.begin() + data_at + data.size()));
           for (size_t i = 0; i < data.size(); ++i) {
             if (got[data_at + i] != data[i] && got[data_at + i] != 0) {
               ADD_FAILURE() << "foreign byte in the streamed frame at " << i;
               break;
             }
           }
         }});
}

TEST_F(FaultSweepTest, PaddingAdjustment) {
  const Bytes expected =
      Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Bytes(300, 't')), Frame23("TPE1", Bytes(5000, 'p')),
                                     Bytes(2000, 0)})),
              kAudio});
  Sweep({[&] { WriteFile(audio_path_, kOldFile); },
         [&]() -> int32_t {
           Context ctx;
           int32_t rc = ctx.Open(audio_path_);
           if (rc == 0) rc = tlx_id3_v2_adjust_padding_size(ctx.get(), 2000);
           if (rc == 0) {
             EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
           }
           int32_t closed = ctx.Close();
           return rc != 0 ? rc : closed;
         },
         [&](int32_t rc) {
           Bytes got = ReadFile(audio_path_);
           EXPECT_TRUE(got == kOldFile || got == expected) << "damaged file of " << got.size() << " bytes";
           if (rc == 0) {
             EXPECT_EQ(expected, got);
           }
         }});
}

TEST_F(FaultSweepTest, Backup) {
  Sweep({[&] {
           WriteFile(audio_path_, kOldFile);
           unlink(backup_path_.c_str());
         },
         [&] { return tlx_id3_v2_backup(Widen(backup_path_).c_str(), Widen(audio_path_).c_str(), nullptr); },
         [&](int32_t rc) {
           EXPECT_EQ(kOldFile, ReadFile(audio_path_));
           if (rc == 0) {
             EXPECT_EQ(kOldTag, ReadFile(backup_path_));
           } else {
             EXPECT_FALSE(FileExists(backup_path_));
           }
         }});
}

TEST_F(FaultSweepTest, Recovery) {
  const Bytes backup = Id3v2Tag(3, 0, Concat({Frame23("TALB", Bytes(100, 'a')), Bytes(30, 0)}));
  const Bytes expected = Concat({backup, kAudio});
  Sweep({[&] {
           WriteFile(audio_path_, kOldFile);
           WriteFile(backup_path_, backup);
         },
         [&] { return tlx_id3_v2_recover(Widen(audio_path_).c_str(), Widen(backup_path_).c_str(), nullptr); },
         [&](int32_t rc) {
           Bytes got = ReadFile(audio_path_);
           EXPECT_TRUE(got == kOldFile || got == expected) << "damaged file of " << got.size() << " bytes";
           if (rc == 0) {
             EXPECT_EQ(expected, got);
             EXPECT_FALSE(FileExists(backup_path_));
           }
           if (got == kOldFile) {
             // Nothing happened: the backup is still there to try again.
             EXPECT_EQ(backup, ReadFile(backup_path_));
             EXPECT_EQ(0, tlx_id3_v2_recover(Widen(audio_path_).c_str(), Widen(backup_path_).c_str(), nullptr));
             EXPECT_EQ(expected, ReadFile(audio_path_));
           }
         }});
}

}  // namespace
}  // namespace tagkit_test

#endif  // TLX_FAULT_INJECTION
