// The POSIX file layer: open flags and their failures, sharing between
// handles, positioning, truncation, rename, attributes and temporary names.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"
#include "tlx_system.h"

namespace {

using tagkit_test::Bytes;
using tagkit_test::FileExists;
using tagkit_test::ReadFile;
using tagkit_test::TempDir;
using tagkit_test::WriteFile;

// A handle closed on scope exit.
class Handle {
 public:
  Handle() = default;
  ~Handle() {
    if (fd != TLX_INVALID_HANDLE) tlx_close(&fd);
  }
  int fd = TLX_INVALID_HANDLE;
};

mode_t Mode(const std::string& path) {
  struct stat st;
  EXPECT_EQ(0, stat(path.c_str(), &st));
  return st.st_mode & 07777;
}

class FileTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const Bytes& bytes) {
    WriteFile(dir.File(name), bytes);
    return dir.File(name);
  }
  TempDir dir;
};

// ---- Open flags -----------------------------------------------------------

TEST_F(FileTest, OpenFlagsOnMissingAndExistingFiles) {
  struct Case {
    int32_t flags;
    bool exists;
    int32_t result;
    std::size_t size_after;  // of the file when the open succeeded
  };
  const Case cases[] = {
      {TLX_O_RDONLY, false, TLX_ENOENT, 0},
      {TLX_O_RDWR, false, TLX_ENOENT, 0},
      {TLX_O_RDONLY, true, 0, 5},
      {TLX_O_RDWR, true, 0, 5},
      {TLX_O_WRONLY | TLX_O_CREAT, false, 0, 0},
      {TLX_O_WRONLY | TLX_O_CREAT, true, 0, 5},
      {TLX_O_RDWR | TLX_O_CREAT | TLX_O_EXCL, false, 0, 0},
      {TLX_O_RDWR | TLX_O_CREAT | TLX_O_EXCL, true, TLX_EACCES, 5},
      {TLX_O_RDWR | TLX_O_CREAT | TLX_O_TRUNC, false, 0, 0},
      {TLX_O_RDWR | TLX_O_CREAT | TLX_O_TRUNC, true, 0, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags << " exists " << c.exists);
    std::string path = dir.File("f" + std::to_string(n++));
    if (c.exists) WriteFile(path, tagkit_test::Text("hello"));
    Handle h;
    EXPECT_EQ(c.result, tlx_open(tagkit_test::Widen(path).c_str(), c.flags, &h.fd));
    if (c.result == 0) {
      EXPECT_GT(h.fd, 0);
      EXPECT_EQ(c.size_after, ReadFile(path).size());
    } else {
      EXPECT_EQ(c.exists, FileExists(path)) << "a failed open created or removed the file";
    }
  }
}

TEST_F(FileTest, OpenRefusesDirectoriesAndBadArguments) {
  int fd = TLX_INVALID_HANDLE;
  std::wstring wdir = tagkit_test::Widen(dir.path());
  EXPECT_EQ(TLX_EACCES, tlx_open(wdir.c_str(), TLX_O_RDONLY, &fd));
  EXPECT_EQ(TLX_EACCES, tlx_open(wdir.c_str(), TLX_O_RDWR, &fd));
  EXPECT_EQ(-1, tlx_open(nullptr, TLX_O_RDONLY, &fd));
  EXPECT_EQ(-1, tlx_open(dir.WFile("x").c_str(), TLX_O_RDONLY, nullptr));
  // A missing folder on the way is not "file not found".
  EXPECT_EQ(-1, tlx_open(dir.WFile("no/such").c_str(), TLX_O_RDWR | TLX_O_CREAT, &fd));
  EXPECT_EQ(TLX_INVALID_HANDLE, fd);
}

TEST_F(FileTest, OpenUnreadableFileIsAccessRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  std::string path = Make("locked", tagkit_test::Text("x"));
  chmod(path.c_str(), 0);
  Handle h;
  EXPECT_EQ(TLX_EACCES, tlx_open(tagkit_test::Widen(path).c_str(), TLX_O_RDONLY, &h.fd));
}

TEST_F(FileTest, CloseInvalidatesTheHandle) {
  std::string path = Make("a", tagkit_test::Text("x"));
  int fd = TLX_INVALID_HANDLE;
  ASSERT_EQ(0, tlx_open(tagkit_test::Widen(path).c_str(), TLX_O_RDONLY, &fd));
  EXPECT_EQ(0, tlx_close(&fd));
  EXPECT_EQ(TLX_INVALID_HANDLE, fd);
  EXPECT_EQ(-1, tlx_close(&fd));
  EXPECT_EQ(-1, tlx_close(nullptr));
}

// ---- Sharing --------------------------------------------------------------

TEST_F(FileTest, SharingBetweenTwoOpensOfOneFile) {
  struct Case {
    int32_t first;
    int32_t second;
    int32_t result;
  };
  const Case cases[] = {
      {TLX_O_RDONLY, TLX_O_RDONLY, 0},
      {TLX_O_RDONLY, TLX_O_RDWR, TLX_EACCES},
      {TLX_O_RDWR, TLX_O_RDONLY, TLX_EACCES},
      {TLX_O_RDWR, TLX_O_RDWR, TLX_EACCES},
      {TLX_O_RDONLY, TLX_O_WRONLY | TLX_O_CREAT, TLX_EACCES},
      {TLX_O_RDWR, TLX_O_RDWR | TLX_O_CREAT | TLX_O_TRUNC, TLX_EACCES},
  };
  std::wstring path = tagkit_test::Widen(Make("shared", tagkit_test::Text("content")));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "first 0x" << std::hex << c.first << " second 0x" << c.second);
    Handle a, b;
    ASSERT_EQ(0, tlx_open(path.c_str(), c.first, &a.fd));
    EXPECT_EQ(c.result, tlx_open(path.c_str(), c.second, &b.fd));
  }
  // A refused truncating open must not have emptied the file.
  EXPECT_EQ(7u, ReadFile(dir.File("shared")).size());
  // Once the holder closes, the file is free again.
  Handle a, b;
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDWR, &a.fd));
  ASSERT_EQ(0, tlx_close(&a.fd));
  EXPECT_EQ(0, tlx_open(path.c_str(), TLX_O_RDWR, &b.fd));
}

TEST_F(FileTest, ShareWithOwnerReadsBesideThisProcesssWriter) {
  std::wstring path = tagkit_test::Widen(Make("owned", tagkit_test::Text("tagdata")));
  Handle writer;
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDWR, &writer.fd));

  // Through the flag.
  Handle borrowed;
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDONLY | TLX_O_SHARE_WITH_OWNER, &borrowed.fd));
  char buffer[8] = {};
  EXPECT_EQ(7, tlx_read(borrowed.fd, buffer, 7));
  EXPECT_STREQ("tagdata", buffer);

  // Through a scope on this thread; plain read-only opens inside it share.
  tlx_share_with_owner_begin();
  Handle scoped;
  EXPECT_EQ(0, tlx_open(path.c_str(), TLX_O_RDONLY, &scoped.fd));
  // Writable opens never borrow.
  Handle second_writer;
  EXPECT_EQ(TLX_EACCES, tlx_open(path.c_str(), TLX_O_RDWR | TLX_O_SHARE_WITH_OWNER,
                                 &second_writer.fd));
  tlx_share_with_owner_end();

  // Outside the scope and without the flag, separate readers are refused.
  Handle plain;
  EXPECT_EQ(TLX_EACCES, tlx_open(path.c_str(), TLX_O_RDONLY, &plain.fd));

  // The writer keeps writing while the borrowed handle is open.
  EXPECT_EQ(3, tlx_write(writer.fd, "TAG", 3));
}

TEST_F(FileTest, ShareWithOwnerStillRefusesAnotherProcesssWriter) {
  std::string native = Make("foreign", tagkit_test::Text("x"));
  std::wstring path = tagkit_test::Widen(native);
  int ready[2], done[2];
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(done));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = TLX_INVALID_HANDLE;
    char c = tlx_open(path.c_str(), TLX_O_RDWR, &fd) == 0 ? '1' : '0';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    if (read(done[0], &c, 1) != 1) _exit(1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  ASSERT_EQ('1', c);
  Handle h;
  EXPECT_EQ(TLX_EACCES, tlx_open(path.c_str(), TLX_O_RDONLY | TLX_O_SHARE_WITH_OWNER, &h.fd));
  ASSERT_EQ(1, write(done[1], "x", 1));
  int status = 0;
  waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
  EXPECT_EQ(0, tlx_open(path.c_str(), TLX_O_RDONLY | TLX_O_SHARE_WITH_OWNER, &h.fd));
}

TEST_F(FileTest, ShareWithOwnerWithoutAWriterIsAPlainReader) {
  std::wstring path = tagkit_test::Widen(Make("free", tagkit_test::Text("x")));
  Handle reader, writer;
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDONLY | TLX_O_SHARE_WITH_OWNER, &reader.fd));
  // It holds a shared lock, so a writer is refused.
  EXPECT_EQ(TLX_EACCES, tlx_open(path.c_str(), TLX_O_RDWR, &writer.fd));
}

// ---- Reading, writing, positioning ----------------------------------------

TEST_F(FileTest, SeekClampsToTheEnd) {
  std::wstring path = tagkit_test::Widen(Make("ten", Bytes(10, 'a')));
  Handle h;
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDWR, &h.fd));
  struct Case {
    int32_t offset, whence, result;
  };
  const Case cases[] = {
      {4, 0, 4},    {1000, 0, 10}, {-3, 2, 7}, {2, 1, 9}, {5, 1, 10},
      {-11, 2, -1}, {0, 3, -1},    {0, -1, -1}, {0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offset << "/" << c.whence);
    EXPECT_EQ(c.result, tlx_lseek(h.fd, c.offset, c.whence));
  }
  // A failed seek leaves the position alone.
  ASSERT_EQ(6, tlx_lseek(h.fd, 6, 0));
  EXPECT_EQ(-1, tlx_lseek(h.fd, 0, 3));
  EXPECT_EQ(6, tlx_lseek(h.fd, 0, 1));
  EXPECT_EQ(10u, ReadFile(dir.File("ten")).size());
}

TEST_F(FileTest, ReadWriteTruncate) {
  std::string native = Make("rw", tagkit_test::Text("0123456789"));
  Handle h;
  ASSERT_EQ(0, tlx_open(tagkit_test::Widen(native).c_str(), TLX_O_RDWR, &h.fd));
  char buffer[16] = {};
  EXPECT_EQ(4, tlx_read(h.fd, buffer, 4));
  EXPECT_EQ(2, tlx_write(h.fd, "AB", 2));
  EXPECT_EQ(8, tlx_lseek(h.fd, 8, 0));
  EXPECT_EQ(2, tlx_read(h.fd, buffer, 16));
  EXPECT_EQ(0, tlx_read(h.fd, buffer, 16));
  EXPECT_EQ(0, tlx_fsync(h.fd));
  EXPECT_EQ(3, tlx_lseek(h.fd, 3, 0));
  EXPECT_EQ(0, tlx_set_end_of_file(h.fd));
  EXPECT_EQ(tagkit_test::Text("012"), ReadFile(native));
  // Handle 0 and the invalid handle are refused.
  for (int bad : {0, TLX_INVALID_HANDLE}) {
    EXPECT_EQ(-1, tlx_read(bad, buffer, 1));
    EXPECT_EQ(-1, tlx_write(bad, buffer, 1));
    EXPECT_EQ(-1, tlx_lseek(bad, 0, 0));
    EXPECT_EQ(-1, tlx_set_end_of_file(bad));
  }
  EXPECT_EQ(-1, tlx_read(h.fd, nullptr, 1));
}

// ---- Paths: size, type, attributes, folders, unlink -----------------------

TEST_F(FileTest, SizeAndType) {
  std::wstring file = tagkit_test::Widen(Make("five", Bytes(5, 1)));
  std::wstring folder = tagkit_test::Widen(dir.path());
  std::wstring missing = dir.WFile("missing");
  EXPECT_EQ(5, tlx_getfilesize(file.c_str()));
  EXPECT_EQ(-1, tlx_getfilesize(folder.c_str()));
  EXPECT_EQ(-1, tlx_getfilesize(missing.c_str()));
  EXPECT_EQ(TLX_S_IFREG, tlx_stat_mode(file.c_str()));
  EXPECT_EQ(TLX_S_IFDIR, tlx_stat_mode(folder.c_str()));
  EXPECT_EQ(TLX_S_ERROR, tlx_stat_mode(missing.c_str()));
  EXPECT_EQ(-49153, TLX_S_ERROR);
  // Only a regular file reads as negative in the low 16 bits.
  EXPECT_LT(static_cast<int16_t>(tlx_stat_mode(file.c_str())), 0);
  EXPECT_GE(static_cast<int16_t>(tlx_stat_mode(folder.c_str())), 0);
  EXPECT_GE(static_cast<int16_t>(tlx_stat_mode(missing.c_str())), 0);
}

TEST_F(FileTest, ReadOnlyAttributeMapsToWriteBits) {
  std::string native = Make("attr", tagkit_test::Text("x"));
  chmod(native.c_str(), 0664);
  std::wstring path = tagkit_test::Widen(native);
  uint32_t flags = 0xFFFF;
  ASSERT_EQ(0, tlx_get_attributes(path.c_str(), &flags));
  EXPECT_EQ(0u, flags & TLX_ATTR_READONLY);
  EXPECT_EQ(0u, flags & TLX_ATTR_DIRECTORY);
  ASSERT_EQ(0, tlx_set_attributes(path.c_str(), flags | TLX_ATTR_READONLY));
  EXPECT_EQ(0444u, Mode(native));
  ASSERT_EQ(0, tlx_get_attributes(path.c_str(), &flags));
  EXPECT_NE(0u, flags & TLX_ATTR_READONLY);
  ASSERT_EQ(0, tlx_set_attributes(path.c_str(), flags & ~TLX_ATTR_READONLY));
  EXPECT_EQ(0644u, Mode(native));

  ASSERT_EQ(0, tlx_get_attributes(tagkit_test::Widen(dir.path()).c_str(), &flags));
  EXPECT_NE(0u, flags & TLX_ATTR_DIRECTORY);
  ASSERT_EQ(0, tlx_get_attributes(tagkit_test::Widen(Make(".dot", {})).c_str(), &flags));
  EXPECT_NE(0u, flags & TLX_ATTR_HIDDEN);
  flags = 0xFFFF;
  EXPECT_EQ(-1, tlx_get_attributes(dir.WFile("missing").c_str(), &flags));
  EXPECT_EQ(0u, flags);
  EXPECT_EQ(-1, tlx_set_attributes(dir.WFile("missing").c_str(), 0));
}

TEST_F(FileTest, FoldersAndUnlink) {
  std::wstring sub = dir.WFile("sub");
  EXPECT_EQ(0, tlx_mkdir(sub.c_str()));
  EXPECT_EQ(-1, tlx_mkdir(sub.c_str()));
  EXPECT_EQ(-1, tlx_unlink(sub.c_str()));
  EXPECT_EQ(0, tlx_rmdir(sub.c_str()));
  EXPECT_EQ(-1, tlx_rmdir(sub.c_str()));
  std::wstring file = tagkit_test::Widen(Make("gone", {}));
  EXPECT_EQ(0, tlx_unlink(file.c_str()));
  EXPECT_FALSE(FileExists(dir.File("gone")));
  EXPECT_EQ(-1, tlx_unlink(file.c_str()));
}

TEST_F(FileTest, NonAsciiPathsAreUtf8OnDisk) {
  std::wstring path = tagkit_test::Widen(dir.path()) + L"/\u00e9t\u00e9 \u65e5\u672c.mp3";
  Handle h;
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDWR | TLX_O_CREAT | TLX_O_EXCL, &h.fd));
  EXPECT_TRUE(FileExists(dir.File("\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.mp3")));
}

// ---- Rename ---------------------------------------------------------------

TEST_F(FileTest, RenameReplacesTargetKeepingItsPermissions) {
  std::string source = Make("new", tagkit_test::Text("new bytes"));
  std::string target = Make("old.mp3", tagkit_test::Text("old"));
  chmod(source.c_str(), 0600);
  chmod(target.c_str(), 0640);
  ASSERT_EQ(0, tlx_rename(tagkit_test::Widen(source).c_str(), tagkit_test::Widen(target).c_str()));
  EXPECT_EQ(tagkit_test::Text("new bytes"), ReadFile(target));
  EXPECT_EQ(0640u, Mode(target));
  EXPECT_EQ(std::vector<std::string>{"old.mp3"}, tagkit_test::ListDir(dir.path()));
}

TEST_F(FileTest, RenameToNewTargetAndFailures) {
  std::string source = Make("src", tagkit_test::Text("abc"));
  ASSERT_EQ(0, tlx_rename(tagkit_test::Widen(source).c_str(), dir.WFile("dst").c_str()));
  EXPECT_EQ(tagkit_test::Text("abc"), ReadFile(dir.File("dst")));
  EXPECT_FALSE(FileExists(source));
  // Missing source: the target stays as it was.
  EXPECT_EQ(-1, tlx_rename(dir.WFile("nothing").c_str(), dir.WFile("dst").c_str()));
  EXPECT_EQ(tagkit_test::Text("abc"), ReadFile(dir.File("dst")));
  // A folder is never a target.
  std::string other = Make("other", tagkit_test::Text("z"));
  EXPECT_EQ(-1, tlx_rename(tagkit_test::Widen(other).c_str(), tagkit_test::Widen(dir.path()).c_str()));
  EXPECT_TRUE(FileExists(other));
  EXPECT_EQ(-1, tlx_rename(nullptr, dir.WFile("dst").c_str()));
}

// Across file systems the copy goes through a sibling of the target; /dev/shm
// is a different file system from the temporary folder on most machines.
TEST_F(FileTest, RenameAcrossFileSystems) {
  struct stat shm, tmp;
  if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &tmp) != 0 ||
      shm.st_dev == tmp.st_dev || access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "no second file system";
  }
  std::string source = "/dev/shm/tagkit-rename-" + std::to_string(getpid());
  WriteFile(source, tagkit_test::Text("moved across"));
  std::string target = Make("target", tagkit_test::Text("old"));
  chmod(target.c_str(), 0604);
  ASSERT_EQ(0, tlx_rename(tagkit_test::Widen(source).c_str(), tagkit_test::Widen(target).c_str()));
  EXPECT_EQ(tagkit_test::Text("moved across"), ReadFile(target));
  EXPECT_EQ(0604u, Mode(target));
  EXPECT_FALSE(FileExists(source));
  EXPECT_EQ(std::vector<std::string>{"target"}, tagkit_test::ListDir(dir.path()));
}

TEST_F(FileTest, RenameSucceedsWhenTheSourceCannotBeRemoved) {
  if (geteuid() == 0) GTEST_SKIP() << "root removes files from read-only folders";
  struct stat shm, tmp;
  if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &tmp) != 0 ||
      shm.st_dev == tmp.st_dev) {
    GTEST_SKIP() << "needs a copy across file systems";
  }
  std::string folder = "/dev/shm/tagkit-ro-" + std::to_string(getpid());
  ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
  WriteFile(folder + "/src", tagkit_test::Text("kept"));
  chmod(folder.c_str(), 0500);
  std::string target = Make("target", tagkit_test::Text("old"));
  EXPECT_EQ(0, tlx_rename(tagkit_test::Widen(folder + "/src").c_str(),
                          tagkit_test::Widen(target).c_str()));
  EXPECT_EQ(tagkit_test::Text("kept"), ReadFile(target));
  chmod(folder.c_str(), 0700);
  unlink((folder + "/src").c_str());
  rmdir(folder.c_str());
}

// ---- Temporary names ------------------------------------------------------

TEST_F(FileTest, TempDirFollowsTmpdir) {
  const char* saved = getenv("TMPDIR");
  std::string keep = saved ? saved : "";
  wchar_t buffer[TLX_MAX_PATH];
  setenv("TMPDIR", dir.path().c_str(), 1);
  uint32_t n = tlx_get_temp_dir(TLX_MAX_PATH, buffer);
  std::wstring expected = tagkit_test::Widen(dir.path()) + L"/";
  EXPECT_EQ(expected.size(), n);
  EXPECT_EQ(expected, std::wstring(buffer));
  EXPECT_EQ(0u, tlx_get_temp_dir(static_cast<uint32_t>(expected.size()), buffer));
  EXPECT_EQ(0u, tlx_get_temp_dir(TLX_MAX_PATH, nullptr));
  unsetenv("TMPDIR");
  EXPECT_EQ(5u, tlx_get_temp_dir(TLX_MAX_PATH, buffer));
  EXPECT_EQ(std::wstring(L"/tmp/"), buffer);
  if (saved) setenv("TMPDIR", keep.c_str(), 1);
}

TEST_F(FileTest, TempFileNamesAreNewEmptyUniqueFiles) {
  std::wstring folder = tagkit_test::Widen(dir.path());
  wchar_t first[TLX_MAX_PATH], second[TLX_MAX_PATH];
  ASSERT_NE(0u, tlx_get_temp_file_name(folder.c_str(), first));
  ASSERT_NE(0u, tlx_get_temp_file_name((folder + L"/").c_str(), second));
  EXPECT_NE(std::wstring(first), std::wstring(second));
  std::vector<std::string> names = tagkit_test::ListDir(dir.path());
  ASSERT_EQ(2u, names.size());
  for (const std::string& name : names) {
    EXPECT_EQ(0u, name.rfind("id3", 0)) << name;
    EXPECT_TRUE(ReadFile(dir.File(name)).empty());
  }
  EXPECT_EQ(folder + L"/", std::wstring(first).substr(0, folder.size() + 1));
  // The engine opens the name it got with "read-write, create or empty".
  Handle h;
  EXPECT_EQ(0, tlx_open(first, TLX_O_RDWR | TLX_O_CREAT | TLX_O_TRUNC, &h.fd));
  EXPECT_EQ(0u, tlx_get_temp_file_name(nullptr, first));
  EXPECT_EQ(0u, tlx_get_temp_file_name(dir.WFile("missing").c_str(), first));
}

}  // namespace
