// A commit changes the tag and nothing else about the file: symbolic links,
// hard links (shared, or split on request), owner, group, mode and extended
// attributes stay, with or without a usable temporary folder; and a crash at
// any write of an in-place copy is completed by the next open.
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "engine_file.h"
#include "tagkit.h"

namespace tagkit_test {
namespace {

const Bytes kAudio = Audio(150000);

Bytes Mp3(const std::string& title) {
  return Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Concat({{0}, Text(title)})), Bytes(32, 0)})),
                 kAudio});
}

HRESULT Retitle(const std::string& path, std::int32_t mode) {
  CTagkit tag;
  HRESULT hr = tag.Open(Widen(path), mode);
  if (SUCCEEDED(hr)) hr = tag.PutString(PROPID_TITLE, {L"New"});
  return SUCCEEDED(hr) ? tag.Close() : hr;
}

std::wstring Title(const std::string& path) {
  CTagkit tag;
  std::vector<std::wstring> title;
  if (FAILED(tag.Open(Widen(path), TAGKIT_OPEN_READ)) ||
      FAILED(tag.GetString(PROPID_TITLE, title)) || title.empty()) {
    return L"?";
  }
  return title[0];
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(0, stat(path.c_str(), &st)) << path;
  return st;
}

std::string Attribute(const std::string& path, const char* name) {
  char value[64];
  const ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? "(none)" : std::string(value, static_cast<size_t>(size));
}

using Identity = EngineTest;

TEST_F(Identity, ClassCommitKeepsWhatTheFileIs) {
  const std::string other = dir_.File("other.mp3"), link = dir_.File("link.mp3");
  const struct Row {
    const char* name;
    std::function<bool()> setup;  // false: the file system cannot
    std::string edited;
    std::int32_t mode;
    std::function<void(const struct stat& before)> check;
  } rows[] = {
      {"symbolic link", [&] { return symlink("song.mp3", link.c_str()) == 0; }, link, TAGKIT_OPEN_WRITE,
       [&](const struct stat&) {
         struct stat st;
         ASSERT_EQ(0, lstat(link.c_str(), &st));
         EXPECT_TRUE(S_ISLNK(st.st_mode));
       }},
      {"hard links", [&] { return ::link(path_.c_str(), other.c_str()) == 0; }, path_, TAGKIT_OPEN_WRITE,
       [&](const struct stat& before) {
         EXPECT_EQ(before.st_ino, Stat(path_).st_ino);
         EXPECT_EQ(before.st_ino, Stat(other).st_ino);
         EXPECT_EQ(2u, Stat(path_).st_nlink);
       }},
      {"split links", [&] { return ::link(path_.c_str(), other.c_str()) == 0; }, path_,
       TAGKIT_OPEN_WRITE | TAGKIT_OPEN_SPLIT_LINKS,
       [&](const struct stat&) {
         EXPECT_EQ(Mp3("Old"), ReadFile(other));
         EXPECT_EQ(1u, Stat(path_).st_nlink);
         EXPECT_EQ(1u, Stat(other).st_nlink);
       }},
      {"owner, group and mode",
       [&] { return chown(path_.c_str(), 1234, 5678) == 0 && chmod(path_.c_str(), 02640) == 0; },
       path_, TAGKIT_OPEN_WRITE,
       [&](const struct stat& before) {
         const struct stat after = Stat(path_);
         EXPECT_EQ(before.st_uid, after.st_uid);
         EXPECT_EQ(before.st_gid, after.st_gid);
         EXPECT_EQ(before.st_mode, after.st_mode);
       }},
      {"extended attribute",
       [&] { return setxattr(path_.c_str(), "user.origin", "downloads", 9, 0) == 0; }, path_,
       TAGKIT_OPEN_WRITE,
       [&](const struct stat&) { EXPECT_EQ("downloads", Attribute(path_, "user.origin")); }},
      {"no temporary folder", [&] { SetEnv(TempDirVariable(), dir_.File("missing")); return true; },
       path_, TAGKIT_OPEN_WRITE, [&](const struct stat&) {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::remove(other.c_str());
    std::remove(link.c_str());
    std::remove(path_.c_str());
    Put(Mp3("Old"));
    ScopedTmpdir tmpdir(tmp_);
    if (!row.setup()) {
      std::printf("skipped '%s': the test's file system does not support it\n", row.name);
      continue;
    }
    const struct stat before = Stat(path_);
    ASSERT_EQ(S_OK, Retitle(row.edited, row.mode));
    EXPECT_EQ(L"New", Title(path_));
    const Bytes after = Contents();  // the audio, then the new trailer
    EXPECT_TRUE(std::equal(kAudio.begin(), kAudio.end(), after.end() - 128 - kAudio.size()));
    row.check(before);
    EXPECT_TRUE(NoTempFiles());
  }
}

#if defined(TLX_FAULT_INJECTION)
// A file with two names is copied over in place. The process is killed at
// each write of that copy (its record first, then the content); the next
// open, or a recovery, finds the file whole: old before the record was
// complete, new after.
TEST_F(Identity, CrashAtEachWriteOfAnInPlaceCopyIsCompletedByTheNextOpen) {
  const std::string other = dir_.File("other.mp3");
  const Bytes old_file = Mp3("Old");
  const Bytes title = Concat({{0}, Text("New")});
  auto prepare = [&] {
    std::remove(other.c_str());
    Put(old_file);
    ASSERT_EQ(0, link(path_.c_str(), other.c_str()));
  };
  auto commit = [&] {
    return EditFile(path_, [&](tlx_id3_context* ctx) {
      tlx_id3_v2_remove_frame(ctx, Id("TIT2"), 0);
      const tlx_id3_v2_frame_header record = FrameRecord("TIT2", uint32_t(title.size()));
      tlx_id3_v2_add_frame(ctx, &record, title.data());
    });
  };
  prepare();
  tlx_fault_reset();
  ASSERT_EQ(0, commit());
  const uint32_t writes = tlx_fault_calls(TLX_FAULT_WRITE);
  tlx_fault_reset();
  const Bytes new_file = Contents();
  // The copy's writes come last: the record, then the content in 64 KB pieces.
  const uint32_t copy_writes = 1 + uint32_t((new_file.size() + 65535) / 65536);
  int32_t completions = 0;
  for (uint32_t n = writes - copy_writes + 1; n <= writes; ++n) {
    SCOPED_TRACE(testing::Message() << "killed at write " << n << " of " << writes);
    prepare();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      tlx_fault_reset();
      tlx_fault_arm_kill(TLX_FAULT_WRITE, n);
      commit();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(137, WEXITSTATUS(status));
    if (n % 2 == 0) {
      int32_t completed = 0;
      ASSERT_EQ(0, tlx_id3_complete_interrupted(Widen(other).c_str(), &completed));
      completions += completed;
    } else {
      Context ctx(path_, TLX_ID3_MODE_READ);
      EXPECT_TRUE(ctx.is_open());
    }
    const Bytes got = Contents();
    EXPECT_TRUE(got == old_file || got == new_file) << "torn file of " << got.size() << " bytes";
    EXPECT_EQ(n > writes - copy_writes + 1 ? new_file : old_file, got);
    EXPECT_EQ(got, ReadFile(other));
    EXPECT_EQ(2u, Stat(path_).st_nlink);
    EXPECT_TRUE(NoTempFiles());
  }
  EXPECT_GT(completions, 0);
}
#endif

}  // namespace
}  // namespace tagkit_test
