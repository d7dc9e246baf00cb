// The file layer: open flags and their failures, sharing between handles,
// positioning, copying, rename, attributes and temporary names.
#include <sys/stat.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"
#include "tlx_system.h"

namespace {

using namespace tagkit_test;

// A handle closed on scope exit.
struct Handle {
  ~Handle() {
    if (fd != TLX_INVALID_HANDLE) tlx_close(&fd);
  }
  int fd = TLX_INVALID_HANDLE;
};

#if !defined(_WIN32)
mode_t Mode(const std::string& path) {
  struct stat st;
  EXPECT_EQ(0, stat(path.c_str(), &st));
  return st.st_mode & 07777;
}
#endif

class FileTest : public ::testing::Test {
 protected:
  // Writes the file and returns its wide path.
  std::wstring Make(const std::string& name, const Bytes& bytes) {
    WriteFile(dir.File(name), bytes);
    return dir.WFile(name);
  }
  TempDir dir;
};

TEST_F(FileTest, OpenFlagsOnMissingAndExistingFiles) {
  const int32_t kCreate = TLX_O_RDWR | TLX_O_CREAT;
  const struct {
    int32_t flags;
    bool exists;
    int32_t result;
    std::size_t size_after;  // of the file when the open succeeded
  } cases[] = {
      {TLX_O_RDONLY, false, TLX_ENOENT, 0}, {TLX_O_RDWR, false, TLX_ENOENT, 0},
      {TLX_O_RDONLY, true, 0, 5},           {TLX_O_RDWR, true, 0, 5},
      {kCreate, false, 0, 0},               {TLX_O_WRONLY | TLX_O_CREAT, true, 0, 5},
      {kCreate | TLX_O_EXCL, false, 0, 0},  {kCreate | TLX_O_EXCL, true, TLX_EACCES, 5},
      {kCreate | TLX_O_TRUNC, false, 0, 0}, {kCreate | TLX_O_TRUNC, true, 0, 0},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags << " exists " << c.exists);
    const std::string path = dir.File("f" + std::to_string(n++));
    if (c.exists) WriteFile(path, Text("hello"));
    Handle h;
    EXPECT_EQ(c.result, tlx_open(Widen(path).c_str(), c.flags, &h.fd));
    // A failed open neither creates nor removes the file.
    EXPECT_EQ(c.result == 0 || c.exists, FileExists(path));
    if (c.result == 0) {
      EXPECT_EQ(c.size_after, ReadFile(path).size());
    }
  }
}

TEST_F(FileTest, OpenAndCloseRefusals) {
  int fd = TLX_INVALID_HANDLE;
  EXPECT_EQ(TLX_EACCES, tlx_open(Widen(dir.path()).c_str(), TLX_O_RDONLY, &fd));
  // A missing folder on the way is not "file not found".
  EXPECT_EQ(-1, tlx_open(dir.WFile("no/such").c_str(), TLX_O_RDWR | TLX_O_CREAT, &fd));
  ASSERT_EQ(0, tlx_open(Make("a", Text("x")).c_str(), TLX_O_RDONLY, &fd));
  EXPECT_EQ(0, tlx_close(&fd));
  EXPECT_EQ(TLX_INVALID_HANDLE, fd);
  EXPECT_EQ(-1, tlx_close(&fd));
}

// Two opens in one process refuse each other as two programs would.
TEST_F(FileTest, SharingBetweenTwoOpensOfOneFile) {
  const struct {
    int32_t first, second, result;
  } cases[] = {
      {TLX_O_RDONLY, TLX_O_RDONLY, 0},        {TLX_O_RDONLY, TLX_O_RDWR, TLX_EACCES},
      {TLX_O_RDWR, TLX_O_RDONLY, TLX_EACCES}, {TLX_O_RDWR, TLX_O_RDWR, TLX_EACCES},
      {TLX_O_RDONLY, TLX_O_WRONLY | TLX_O_CREAT, TLX_EACCES},
      {TLX_O_RDWR, TLX_O_RDWR | TLX_O_CREAT | TLX_O_TRUNC, TLX_EACCES},
      {TLX_O_RDONLY, TLX_O_TRUNC, TLX_EACCES},
      {TLX_O_RDWR, TLX_O_CREAT | TLX_O_TRUNC, TLX_EACCES},
  };
  const std::wstring path = Make("shared", Text("content"));
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "first 0x" << std::hex << c.first << " second 0x" << c.second);
    Handle a, b;
    ASSERT_EQ(0, tlx_open(path.c_str(), c.first, &a.fd));
    EXPECT_EQ(c.result, tlx_open(path.c_str(), c.second, &b.fd));
  }
  // The refused truncating open left the file alone, and closed files are free.
  EXPECT_EQ(Text("content"), ReadFile(dir.File("shared")));
  Handle h;
  EXPECT_EQ(0, tlx_open(path.c_str(), TLX_O_RDWR, &h.fd));
}

TEST_F(FileTest, ShareWithOwnerReadsBesideThisProcesssWriterOnly) {
  const std::wstring path = Make("owned", Text("tagdata"));
  Handle writer, borrowed, scoped, refused;
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDWR, &writer.fd));
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDONLY | TLX_O_SHARE_WITH_OWNER, &borrowed.fd));
  char buffer[8] = {};
  EXPECT_EQ(7, tlx_read(borrowed.fd, buffer, 7));
  EXPECT_STREQ("tagdata", buffer);
  // Inside a scope plain read-only opens share; writable opens never do.
  tlx_share_with_owner_begin();
  EXPECT_EQ(0, tlx_open(path.c_str(), TLX_O_RDONLY, &scoped.fd));
  EXPECT_EQ(TLX_EACCES, tlx_open(path.c_str(), TLX_O_RDWR | TLX_O_SHARE_WITH_OWNER, &refused.fd));
  tlx_share_with_owner_end();
  EXPECT_EQ(TLX_EACCES, tlx_open(path.c_str(), TLX_O_RDONLY, &refused.fd));
  // Without a writer it is a plain reader, whose lock keeps writers out.
  for (Handle* h : {&writer, &borrowed, &scoped}) ASSERT_EQ(0, tlx_close(&h->fd));
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDONLY | TLX_O_SHARE_WITH_OWNER, &borrowed.fd));
  EXPECT_EQ(TLX_EACCES, tlx_open(path.c_str(), TLX_O_RDWR, &writer.fd));
}

#if !defined(_WIN32)  // a second process by fork (Windows: file_win32_test.cc)
TEST_F(FileTest, ShareWithOwnerStillRefusesAnotherProcesssWriter) {
  const std::wstring path = Make("foreign", Text("x"));
  int ready[2], done[2];
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(done));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = TLX_INVALID_HANDLE;
    char c = tlx_open(path.c_str(), TLX_O_RDWR, &fd) == 0 ? '1' : '0';
    _exit(write(ready[1], &c, 1) == 1 && read(done[0], &c, 1) == 1 ? 0 : 1);
  }
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  ASSERT_EQ('1', c);
  Handle h;
  EXPECT_EQ(TLX_EACCES, tlx_open(path.c_str(), TLX_O_RDONLY | TLX_O_SHARE_WITH_OWNER, &h.fd));
  ASSERT_EQ(1, write(done[1], "x", 1));
  waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  EXPECT_EQ(0, tlx_open(path.c_str(), TLX_O_RDONLY | TLX_O_SHARE_WITH_OWNER, &h.fd));
}
#endif

// Each seek starts at 4 in a 10-byte file: past the end stops at the end,
// before the start or a bad whence fails and leaves the position alone.
TEST_F(FileTest, ReadWriteSeekTruncate) {
  const struct {
    int32_t offset, whence, result;
  } cases[] = {
      {6, 0, 6},  {1000, 0, 10}, {-1, 0, -1}, {2, 1, 6},    {7, 1, 10}, {-5, 1, -1},
      {-3, 2, 7}, {7, 2, 10},    {-10, 2, 0}, {-11, 2, -1}, {0, 3, -1}, {0, -1, -1},
  };
  Handle h;
  ASSERT_EQ(0, tlx_open(Make("rw", Text("0123456789")).c_str(), TLX_O_RDWR, &h.fd));
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << " from " << c.whence);
    ASSERT_EQ(4, tlx_lseek(h.fd, 4, 0));
    EXPECT_EQ(c.result, tlx_lseek(h.fd, c.offset, c.whence));
    EXPECT_EQ(c.result < 0 ? 4 : c.result, tlx_lseek(h.fd, 0, 1));
  }
  char buffer[16] = {};
  ASSERT_EQ(4, tlx_lseek(h.fd, 4, 0));
  EXPECT_EQ(2, tlx_write(h.fd, "AB", 2));
  EXPECT_EQ(4, tlx_read(h.fd, buffer, 16));  // fewer only at the end
  EXPECT_EQ(0, tlx_read(h.fd, buffer, 16));
  EXPECT_EQ(3, tlx_pread(h.fd, buffer, 16, 7));
  EXPECT_EQ("789", std::string(buffer, 3));
  EXPECT_EQ(0, tlx_pread(h.fd, buffer, 16, 50));
  EXPECT_EQ(-1, tlx_pread(h.fd, buffer, 16, -1));
  EXPECT_EQ(0, tlx_fsync(h.fd));
  EXPECT_EQ(7, tlx_lseek(h.fd, 7, 0));
  EXPECT_EQ(0, tlx_set_end_of_file(h.fd));
  EXPECT_EQ(Text("0123AB6"), ReadFile(dir.File("rw")));
  EXPECT_EQ(-1, tlx_write(TLX_INVALID_HANDLE, buffer, 1));
}

#if !defined(_WIN32)
// A daemon runs with standard input closed: its first file gets descriptor 0.
TEST_F(FileTest, DescriptorZeroIsAFile) {
  const int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  Handle h;
  const int32_t rc = tlx_open(Make("zero", Text("abc")).c_str(), TLX_O_RDWR, &h.fd);
  char buffer[4] = {};
  const int fd = h.fd;
  const int32_t got = tlx_read(h.fd, buffer, 3);
  const int32_t at = tlx_lseek(h.fd, 0, 0);
  const int32_t wrote = tlx_write(h.fd, "x", 1);
  const int32_t synced = tlx_fsync(h.fd);
  const int32_t closed = tlx_close(&h.fd);
  dup2(saved, 0);
  close(saved);
  ASSERT_EQ(0, rc);
  EXPECT_EQ(0, fd);
  EXPECT_EQ(3, got);
  EXPECT_STREQ("abc", buffer);
  EXPECT_EQ(0, at);
  EXPECT_EQ(1, wrote);
  EXPECT_EQ(0, synced);
  EXPECT_EQ(0, closed);
  EXPECT_EQ(Text("xbc"), ReadFile(dir.File("zero")));
}
#endif

// tlx_copy moves bytes from position to position, stops at the end of the
// source, and tells a failed read (-1) from a failed write (-2).
TEST_F(FileTest, CopyBetweenPositions) {
  Bytes source(200000);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
  Handle in, out, reader;
  ASSERT_EQ(0, tlx_open(Make("from", source).c_str(), TLX_O_RDONLY, &in.fd));
  ASSERT_EQ(0, tlx_open(Make("to", Bytes(5, 'x')).c_str(), TLX_O_RDWR, &out.fd));
  ASSERT_EQ(1000, tlx_lseek(in.fd, 1000, 0));
  ASSERT_EQ(5, tlx_lseek(out.fd, 0, 2));
  EXPECT_EQ(70000, tlx_copy(in.fd, out.fd, 70000));
  EXPECT_EQ(129000, tlx_copy(in.fd, out.fd, 1u << 30));  // the rest
  EXPECT_EQ(0, tlx_copy(in.fd, out.fd, 100));
  const Bytes expected = Concat({Bytes(5, 'x'), Bytes(source.begin() + 1000, source.end())});
  EXPECT_EQ(expected, ReadFile(dir.File("to")));
  EXPECT_EQ(-1, tlx_copy(-1, out.fd, 100));
  ASSERT_EQ(0, tlx_lseek(in.fd, 0, 0));
  ASSERT_EQ(0, tlx_open(Make("ro", Bytes()).c_str(), TLX_O_RDONLY, &reader.fd));
  EXPECT_EQ(-2, tlx_copy(in.fd, reader.fd, 100));
#if defined(TLX_FAULT_INJECTION)
  // A copy is one read and one write to the seam; either failure copies nothing.
  ASSERT_EQ(0, tlx_lseek(in.fd, 0, 0));
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_READ, 1);
  EXPECT_EQ(-1, tlx_copy(in.fd, out.fd, 100));
  tlx_fault_arm(TLX_FAULT_WRITE, 1);
  EXPECT_EQ(-2, tlx_copy(in.fd, out.fd, 100));
  tlx_fault_reset();
  EXPECT_EQ(0, tlx_lseek(in.fd, 0, 1));
  EXPECT_EQ(expected, ReadFile(dir.File("to")));
#endif
}

// The engine and the container take a negative low half of the type for "a
// regular file"; wide paths are UTF-8 on disk.
TEST_F(FileTest, PathQueriesAndUnlink) {
  const std::wstring file = Make("five", Bytes(5, 1)), folder = Widen(dir.path());
  EXPECT_EQ(5, tlx_getfilesize(file.c_str()));
  EXPECT_LT(static_cast<int16_t>(tlx_stat_mode(file.c_str())), 0);
  EXPECT_EQ(TLX_S_IFDIR, tlx_stat_mode(folder.c_str()));
  EXPECT_GE(static_cast<int16_t>(tlx_stat_mode(dir.WFile("missing").c_str())), 0);
  EXPECT_EQ(-1, tlx_unlink(folder.c_str()));
  EXPECT_EQ(0, tlx_unlink(file.c_str()));
  EXPECT_EQ(-1, tlx_unlink(file.c_str()));
  Handle h;
  const std::wstring accented = folder + L"/\u00e9t\u00e9 \u65e5\u672c.mp3";
  ASSERT_EQ(0, tlx_open(accented.c_str(), TLX_O_RDWR | TLX_O_CREAT | TLX_O_EXCL, &h.fd));
  EXPECT_EQ(std::vector<std::string>{"\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.mp3"}, ListDir(dir.path()));
}

#if !defined(_WIN32)  // permission bits and dot names (Windows: file_win32_test.cc)
TEST_F(FileTest, ReadOnlyAttributeMapsToWriteBits) {
  const std::wstring path = Make(".attr", Text("x"));
  chmod(dir.File(".attr").c_str(), 0664);
  uint32_t flags = 0xFFFF;
  ASSERT_EQ(0, tlx_set_attributes(path.c_str(), TLX_ATTR_READONLY));
  EXPECT_EQ(0444u, Mode(dir.File(".attr")));  // every write bit goes
  ASSERT_EQ(0, tlx_get_attributes(path.c_str(), &flags));
  EXPECT_EQ(uint32_t(TLX_ATTR_ARCHIVE | TLX_ATTR_READONLY | TLX_ATTR_HIDDEN), flags);
  ASSERT_EQ(0, tlx_set_attributes(path.c_str(), 0));
  EXPECT_EQ(0644u, Mode(dir.File(".attr")));  // the owner's comes back
  ASSERT_EQ(0, tlx_get_attributes(Widen(dir.path()).c_str(), &flags));
  EXPECT_EQ(uint32_t(TLX_ATTR_DIRECTORY), flags);
}
#endif

TEST_F(FileTest, RenameReplacesTheTargetWhole) {
  const std::wstring source = Make("new", Text("new bytes")), target = Make("old.mp3", Text("old"));
#if !defined(_WIN32)  // the target keeps its permission bits
  chmod(dir.File("new").c_str(), 0600);
  chmod(dir.File("old.mp3").c_str(), 0640);
#endif
  ASSERT_EQ(0, tlx_rename(source.c_str(), target.c_str()));
  EXPECT_EQ(std::vector<std::string>{"old.mp3"}, ListDir(dir.path()));
  EXPECT_EQ(Text("new bytes"), ReadFile(dir.File("old.mp3")));
#if !defined(_WIN32)
  EXPECT_EQ(0640u, Mode(dir.File("old.mp3")));
#endif
  // To a new name; a missing source or a folder as target changes nothing.
  ASSERT_EQ(0, tlx_rename(target.c_str(), dir.WFile("dst").c_str()));
  EXPECT_EQ(-1, tlx_rename(dir.WFile("nothing").c_str(), dir.WFile("dst").c_str()));
  EXPECT_EQ(-1, tlx_rename(dir.WFile("dst").c_str(), Widen(dir.path()).c_str()));
  EXPECT_EQ(std::vector<std::string>{"dst"}, ListDir(dir.path()));
  EXPECT_EQ(Text("new bytes"), ReadFile(dir.File("dst")));
}

#if !defined(_WIN32)  // /dev/shm and permission bits
// Across file systems the bytes go to a sibling of the target, renamed over it.
TEST_F(FileTest, RenameAcrossFileSystems) {
  struct stat shm, tmp;
  if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
      access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "no second file system";
  }
  const std::string folder = "/dev/shm/tagkit-" + std::to_string(getpid()), source = folder + "/src";
  ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
  WriteFile(source, Text("moved across"));
  const std::wstring target = Make("target", Text("old"));
  chmod(dir.File("target").c_str(), 0604);
  ASSERT_EQ(0, tlx_rename(Widen(source).c_str(), target.c_str()));
  EXPECT_EQ(Text("moved across"), ReadFile(dir.File("target")));
  EXPECT_EQ(0604u, Mode(dir.File("target")));
  EXPECT_FALSE(FileExists(source));
  EXPECT_EQ(std::vector<std::string>{"target"}, ListDir(dir.path()));
  // A source that cannot be removed afterwards: the target holds its bytes.
  if (geteuid() != 0) {  // root removes files from read-only folders
    WriteFile(source, Text("kept"));
    chmod(folder.c_str(), 0500);
    EXPECT_EQ(0, tlx_rename(Widen(source).c_str(), target.c_str()));
    EXPECT_EQ(Text("kept"), ReadFile(dir.File("target")));
    chmod(folder.c_str(), 0700);
  }
  unlink(source.c_str());
  rmdir(folder.c_str());
}
#endif

TEST_F(FileTest, TemporaryFolderAndNames) {
  const std::wstring folder = Widen(dir.path());
  wchar_t first[TLX_MAX_PATH], second[TLX_MAX_PATH];
#if !defined(_WIN32)  // TMPDIR (Windows: file_win32_test.cc)
  const char* saved = getenv("TMPDIR");
  const std::string keep = saved ? saved : "";
  setenv("TMPDIR", dir.path().c_str(), 1);
  EXPECT_EQ(folder.size() + 1, tlx_get_temp_dir(TLX_MAX_PATH, first));
  EXPECT_EQ(folder + L"/", first);
  saved ? setenv("TMPDIR", keep.c_str(), 1) : unsetenv("TMPDIR");
#endif
  ASSERT_NE(0u, tlx_get_temp_file_name(folder.c_str(), first));
  ASSERT_NE(0u, tlx_get_temp_file_name((folder + L"/").c_str(), second));
  EXPECT_NE(std::wstring(first), std::wstring(second));
  const std::vector<std::string> names = ListDir(dir.path());
  ASSERT_EQ(2u, names.size());
  for (const std::string& name : names) {
    EXPECT_EQ(0u, name.rfind("id3", 0)) << name;
    EXPECT_TRUE(ReadFile(dir.File(name)).empty());
  }
  EXPECT_EQ(0u, tlx_get_temp_file_name(dir.WFile("missing").c_str(), first));
}

}  // namespace
