// Fails every call of every file operation of a whole commit, streamed frame,
// padding adjustment, backup and recovery in turn. After each failure the
// audio file must be byte for byte the old or the complete new file, no
// temporary file or file handle may be left, and a failure code must come
// back (memory leaks are the sanitizer build's to catch).
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "engine_file.h"

#if defined(TLX_FAULT_INJECTION)

namespace tagkit_test {
namespace {

// Open descriptors of this process; -1 where they are not counted (under
// Wine /proc/self/fd lists Wine's own, which come and go).
int OpenDescriptors() {
#if defined(_WIN32)
  return -1;
#endif
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

const Bytes kFrames = Concat({Frame23("TIT2", Bytes(300, 't')), Frame23("TPE1", Bytes(5000, 'p'))});
const Bytes kOldTag = Id3v2Tag(3, 0, Concat({kFrames, Bytes(64, 0)}));
const Bytes kAudio = Audio(150000);  // more than one copy chunk
const Bytes kOldFile = Concat({kOldTag, kAudio});

class Id3FaultSweep : public EngineTest {
 protected:
  ~Id3FaultSweep() override { tlx_fault_reset(); }

  // Runs the operation once cleanly to count the calls, then once per call
  // with that call failing. run() returns the first failing engine code (0
  // for success), check() judges the files, prepare() lays them out anew.
  void Sweep(const std::function<int32_t()>& run, const std::function<void(int32_t)>& check,
             std::function<void()> prepare = nullptr) {
    if (!prepare) prepare = [this] { Put(kOldFile); };
    prepare();
    tlx_fault_reset();
    ASSERT_EQ(0, run());
    uint32_t calls[TLX_FAULT_OP_COUNT];
    for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) calls[op] = tlx_fault_calls(tlx_fault_op(op));
    tlx_fault_reset();
    check(0);
    int total = 0;
    for (int op = 0; op < TLX_FAULT_OP_COUNT; ++op) {
      for (uint32_t n = 1; n <= calls[op]; ++n, ++total) {
        SCOPED_TRACE(testing::Message() << "operation " << op << " call " << n);
        prepare();
        const int fds = OpenDescriptors();
        tlx_fault_reset();
        tlx_fault_arm(tlx_fault_op(op), n);
        const int32_t rc = run();
        EXPECT_TRUE(tlx_fault_fired());
        tlx_fault_reset();
        check(rc);
        EXPECT_EQ(fds, OpenDescriptors());
        EXPECT_TRUE(NoTempFiles());
        if (HasFatalFailure()) return;
      }
    }
    EXPECT_GT(total, 5);
    RecordProperty("injected_failures", total);
  }

  // The file is the old one or, whenever the operation succeeded, the new one.
  std::function<void(int32_t)> OldOrNew(const Bytes& expected) {
    return [this, expected](int32_t rc) {
      const Bytes got = Contents();
      EXPECT_TRUE(got == kOldFile || got == expected) << "damaged file of " << got.size() << " bytes";
      if (rc == 0) {
        EXPECT_EQ(expected, got);
      }
    };
  }

  std::string backup_ = dir_.File("song.bak");
};

TEST_F(Id3FaultSweep, Commit) {
  const Bytes added(700, 'n');
  Sweep([&] {
          return EditFile(path_, [&](tlx_id3_context* ctx) {
            EXPECT_EQ(0, tlx_id3_v2_remove_frame(ctx, Id("TPE1"), 0));
            const tlx_id3_v2_frame_header record = FrameRecord("TCON", uint32_t(added.size()));
            EXPECT_EQ(0, tlx_id3_v2_add_frame(ctx, &record, added.data()));
          });
        },
        OldOrNew(Rewritten(3, 0, Concat({Frame23("TIT2", Bytes(300, 't')), Frame23("TCON", added)}), kAudio)));
}

// An ID3v2.4 commit that rewrites a stored frame on the way (its stuffing,
// covered only by the tag's flag, removed).
TEST_F(Id3FaultSweep, CommitV24) {
  const Bytes old_file = Concat({Id3v2Tag(4, 0x80, Concat({Frame24("TIT2", {0, 't', 0xFF, 0, 0xE0}),
                                                           Frame24("TPE1", Bytes(5000, 'p')), Bytes(64, 0)})),
                                 kAudio});
  const Bytes added(700, 'n');
  const Bytes expected = Rewritten(
      4, 0, Concat({Frame24("TIT2", {0, 't', 0xFF, 0xE0}), Frame24("TPE1", Bytes(5000, 'p')), Frame24("TCON", added)}),
      kAudio);
  Sweep([&] {
          Context ctx;
          int32_t rc = ctx.Open(path_);
          if (rc == 0) rc = tlx_id3_set_options(ctx.get(), TLX_ID3_OPTION_V24);
          if (rc == 0) rc = tlx_id3_v2_edit_begin(ctx.get());
          const tlx_id3_v2_frame_header record = FrameRecord("TCON", uint32_t(added.size()));
          if (rc == 0) rc = tlx_id3_v2_add_frame(ctx.get(), &record, added.data());
          if (rc == 0) rc = tlx_id3_v2_edit_end(ctx.get());
          const int32_t closed = ctx.Close();
          return rc != 0 ? rc : closed;
        },
        [&](int32_t rc) {
          const Bytes got = Contents();
          EXPECT_TRUE(got == old_file || got == expected) << "damaged file of " << got.size() << " bytes";
          if (rc == 0) {
            EXPECT_EQ(expected, got);
          }
        },
        [&] { Put(old_file); });
}

// After any failed commit the context stays usable: the same transaction,
// or a new one, commits once the fault is gone.
TEST_F(Id3FaultSweep, CommitThenRetryOnTheSameContext) {
  const Bytes expected = Rewritten(3, 0, Frame23("TIT2", Bytes(300, 't')), kAudio);
  Sweep([&] {
          Context ctx;
          int32_t rc = ctx.Open(path_);
          if (rc == 0) rc = tlx_id3_v2_edit_begin(ctx.get());
          if (rc == 0) rc = tlx_id3_v2_remove_frame(ctx.get(), Id("TPE1"), 0);
          if (rc == 0) rc = tlx_id3_v2_edit_end(ctx.get());
          if (rc == 0) return ctx.Close();
          // A context whose content is gone is opened anew; one whose
          // transaction ended begins again (the frame may be gone already).
          if (!ctx.is_open() || ctx->fd == TLX_INVALID_HANDLE) {
            EXPECT_EQ(0, ctx.Open(path_));
          }
          if (ctx->state != TLX_ID3_STATE_EDITING) {
            EXPECT_EQ(0, tlx_id3_v2_edit_begin(ctx.get()));
            tlx_id3_v2_remove_frame(ctx.get(), Id("TPE1"), 0);
          }
          EXPECT_EQ(0, tlx_id3_v2_edit_end(ctx.get()));
          EXPECT_EQ(0, ctx.Close());
          return rc;
        },
        [&](int32_t) { EXPECT_EQ(expected, Contents()); });
}

// The streamed data reaches the rewritten file after the replace: a failure
// while streaming leaves the new layout with its data area partly written
// (zeros where nothing arrived); before that the file is the old one.
TEST_F(Id3FaultSweep, StreamedFrame) {
  const Bytes data = Audio(9000);
  const Bytes expected = Rewritten(3, 0, Concat({kFrames, Frame23("APIC", data)}), kAudio);
  const size_t at = 10 + kFrames.size() + 10;
  Sweep([&] {
          Context ctx;
          int32_t rc = ctx.Open(path_);
          const tlx_id3_v2_frame_header record = FrameRecord("APIC", uint32_t(data.size()));
          if (rc == 0) rc = tlx_id3_v2_edit_frame_init(ctx.get(), &record, TLX_ID3_PLACE_APPEND, 0);
          for (size_t i = 0; rc == 0 && i < data.size(); i += 3000) {
            rc = tlx_id3_v2_edit_frame_progress(ctx.get(), 3000, data.data() + i);
          }
          if (rc == 0) rc = tlx_id3_v2_edit_frame_fin(ctx.get());
          const int32_t closed = ctx.Close();
          return rc != 0 ? rc : closed;
        },
        [&](int32_t rc) {
          const Bytes got = Contents();
          if (rc == 0) {
            EXPECT_EQ(expected, got);
          }
          if (got == kOldFile) return;
          ASSERT_EQ(expected.size(), got.size());
          EXPECT_TRUE(std::equal(got.begin(), got.begin() + at, expected.begin()));
          EXPECT_TRUE(std::equal(got.begin() + at + data.size(), got.end(), expected.begin() + at + data.size()));
          for (size_t i = 0; i < data.size(); ++i) {
            if (got[at + i] != data[i] && got[at + i] != 0) {
              ADD_FAILURE() << "foreign byte in the streamed frame at " << i;
              break;
            }
          }
        });
}

TEST_F(Id3FaultSweep, PaddingAdjustment) {
  Sweep([&] {
          Context ctx;
          int32_t rc = ctx.Open(path_);
          if (rc == 0) rc = tlx_id3_v2_adjust_padding_size(ctx.get(), 2000);
          EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);  // either way
          const int32_t closed = ctx.Close();
          return rc != 0 ? rc : closed;
        },
        OldOrNew(Concat({Id3v2Tag(3, 0, Concat({kFrames, Bytes(2000, 0)})), kAudio})));
}

TEST_F(Id3FaultSweep, Backup) {
  Sweep([&] { return tlx_id3_v2_backup(Widen(backup_).c_str(), Widen(path_).c_str(), nullptr); },
        [&](int32_t rc) {
          EXPECT_EQ(kOldFile, Contents());
          if (rc == 0) {
            EXPECT_EQ(kOldTag, ReadFile(backup_));
          } else {
            EXPECT_FALSE(FileExists(backup_));  // no partial backup
          }
        },
        [&] {
          Put(kOldFile);
          std::remove(backup_.c_str());
        });
}

TEST_F(Id3FaultSweep, Recovery) {
  const Bytes backup = Id3v2Tag(3, 0, Concat({Frame23("TALB", Bytes(100, 'a')), Bytes(30, 0)}));
  const Bytes expected = Concat({backup, kAudio});
  auto recover = [&] { return tlx_id3_v2_recover(Widen(path_).c_str(), Widen(backup_).c_str(), nullptr); };
  Sweep(recover,
        [&](int32_t rc) {
          OldOrNew(expected)(rc);
          if (rc == 0) {
            EXPECT_FALSE(FileExists(backup_));
          }
          if (Contents() == kOldFile) {  // nothing happened: the backup is there to try again
            EXPECT_EQ(backup, ReadFile(backup_));
            EXPECT_EQ(0, recover());
            EXPECT_EQ(expected, Contents());
          }
        },
        [&] {
          Put(kOldFile);
          WriteFile(backup_, backup);
        });
}

}  // namespace
}  // namespace tagkit_test

#endif  // TLX_FAULT_INJECTION
