// The file layer on Windows: sharing against handles of other programs (the
// C runtime's share modes stand in for them), attributes, the replacement of
// a file, and the platform's temporary folder and names.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cwctype>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"
#include "tlx_system.h"

namespace {

using tagkit_test::ReadFile;
using tagkit_test::TempDir;
using tagkit_test::Text;
using tagkit_test::Widen;
using tagkit_test::WriteFile;

class Handle {
 public:
  ~Handle() {
    if (fd != TLX_INVALID_HANDLE) tlx_close(&fd);
  }
  int fd = TLX_INVALID_HANDLE;
};

// A file held open by "another program", with a share mode of its choice.
class Foreign {
 public:
  Foreign(const std::wstring& path, int access, int share) {
    if (_wsopen_s(&fd_, path.c_str(), access | _O_BINARY, share, _S_IREAD | _S_IWRITE) != 0) {
      fd_ = -1;
    }
  }
  ~Foreign() {
    if (fd_ >= 0) _close(fd_);
  }
  bool open() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

class FileWin32Test : public ::testing::Test {
 protected:
  std::wstring Make(const std::string& name, const std::string& text) {
    WriteFile(dir.File(name), Text(text));
    return dir.WFile(name);
  }
  TempDir dir;
};

TEST_F(FileWin32Test, OpensAgainstAnotherProgramsShareMode) {
  struct Case {
    const char* what;
    int access;
    int share;
    int32_t flags;
    int32_t result;
  };
  const Case cases[] = {
      {"reader sharing all", _O_RDONLY, _SH_DENYNO, TLX_O_RDONLY, 0},
      {"reader sharing all", _O_RDONLY, _SH_DENYNO, TLX_O_RDWR, 0},
      {"reader denying writers", _O_RDONLY, _SH_DENYWR, TLX_O_RDONLY, 0},
      {"reader denying writers", _O_RDONLY, _SH_DENYWR, TLX_O_RDWR, TLX_EACCES},
      {"reader denying all", _O_RDONLY, _SH_DENYRW, TLX_O_RDONLY, TLX_EACCES},
      {"writer sharing all", _O_RDWR, _SH_DENYNO, TLX_O_RDONLY, TLX_EACCES},
      {"writer sharing all", _O_RDWR, _SH_DENYNO, TLX_O_RDWR, TLX_EACCES},
      {"writer sharing all", _O_RDWR, _SH_DENYNO, TLX_O_RDWR | TLX_O_CREAT | TLX_O_TRUNC,
       TLX_EACCES},
      {"writer denying writers", _O_RDWR, _SH_DENYWR, TLX_O_RDONLY | TLX_O_SHARE_WITH_OWNER,
       TLX_EACCES},
  };
  std::wstring path = Make("held.mp3", "content");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.what << ", flags 0x" << std::hex << c.flags);
    Foreign other(path, c.access, c.share);
    ASSERT_TRUE(other.open());
    Handle h;
    EXPECT_EQ(c.result, tlx_open(path.c_str(), c.flags, &h.fd));
  }
  // Nothing refused emptied the file.
  EXPECT_EQ(Text("content"), ReadFile(dir.File("held.mp3")));
}

// While a handle of ours is open, other programs may read but never write.
TEST_F(FileWin32Test, OtherProgramsReadButNeverWriteBesideUs) {
  std::wstring path = Make("ours.mp3", "x");
  for (int32_t flags : {TLX_O_RDONLY, TLX_O_RDWR}) {
    SCOPED_TRACE(flags);
    Handle h;
    ASSERT_EQ(0, tlx_open(path.c_str(), flags, &h.fd));
    EXPECT_TRUE(Foreign(path, _O_RDONLY, _SH_DENYNO).open());
    EXPECT_FALSE(Foreign(path, _O_RDWR, _SH_DENYNO).open());
    EXPECT_FALSE(Foreign(path, _O_WRONLY | _O_TRUNC, _SH_DENYNO).open());
  }
}

TEST_F(FileWin32Test, AttributesRoundTrip) {
  std::wstring path = Make("attr.mp3", "x");
  const uint32_t sets[] = {0, TLX_ATTR_HIDDEN, TLX_ATTR_SYSTEM | TLX_ATTR_ARCHIVE,
                           TLX_ATTR_READONLY | TLX_ATTR_HIDDEN, TLX_ATTR_ARCHIVE};
  for (uint32_t set : sets) {
    SCOPED_TRACE(set);
    ASSERT_EQ(0, tlx_set_attributes(path.c_str(), set));
    uint32_t flags = 0xFFFF;
    ASSERT_EQ(0, tlx_get_attributes(path.c_str(), &flags));
    // Wine reports every file as changed since its last backup (archive).
    const uint32_t exact = TLX_ATTR_READONLY | TLX_ATTR_HIDDEN | TLX_ATTR_SYSTEM | TLX_ATTR_DIRECTORY;
    EXPECT_EQ(set & exact, flags & exact);
    if (set & TLX_ATTR_ARCHIVE) {
      EXPECT_NE(0u, flags & TLX_ATTR_ARCHIVE);
    }
  }
  // A read-only file refuses writers and removal, where the platform
  // enforces it (Wine run by root does not).
  ASSERT_EQ(0, tlx_set_attributes(path.c_str(), TLX_ATTR_READONLY));
  if (!Foreign(path, _O_RDWR, _SH_DENYNO).open()) {
    Handle h;
    EXPECT_EQ(TLX_EACCES, tlx_open(path.c_str(), TLX_O_RDWR, &h.fd));
    EXPECT_EQ(-1, tlx_unlink(path.c_str()));
  }
  ASSERT_EQ(0, tlx_set_attributes(path.c_str(), 0));
  EXPECT_EQ(0, tlx_unlink(path.c_str()));

  uint32_t flags = 0;
  ASSERT_EQ(0, tlx_get_attributes(Widen(dir.path()).c_str(), &flags));
  EXPECT_NE(0u, flags & TLX_ATTR_DIRECTORY);
}

TEST_F(FileWin32Test, RenameKeepsTheTargetsAttributesAndRespectsOtherPrograms) {
  std::wstring source = Make("new", "new bytes");
  std::wstring target = Make("song.mp3", "old");
  ASSERT_EQ(0, tlx_set_attributes(target.c_str(), TLX_ATTR_HIDDEN | TLX_ATTR_ARCHIVE));
  ASSERT_EQ(0, tlx_rename(source.c_str(), target.c_str()));
  EXPECT_EQ(Text("new bytes"), ReadFile(dir.File("song.mp3")));
  EXPECT_FALSE(tagkit_test::FileExists(dir.File("new")));
  uint32_t flags = 0;
  ASSERT_EQ(0, tlx_get_attributes(target.c_str(), &flags));
  EXPECT_EQ(TLX_ATTR_HIDDEN | TLX_ATTR_ARCHIVE, flags);

  // A program reading the target without sharing deletion keeps it as it is.
  source = Make("newer", "newer bytes");
  {
    Foreign reader(target, _O_RDONLY, _SH_DENYNO);
    ASSERT_TRUE(reader.open());
    EXPECT_EQ(-1, tlx_rename(source.c_str(), target.c_str()));
  }
  EXPECT_EQ(Text("new bytes"), ReadFile(dir.File("song.mp3")));
  EXPECT_EQ(Text("newer bytes"), ReadFile(dir.File("newer")));
  EXPECT_EQ(0, tlx_rename(source.c_str(), target.c_str()));
  EXPECT_EQ(Text("newer bytes"), ReadFile(dir.File("song.mp3")));
}

// Across volumes the copy goes through a sibling of the target. Under Wine,
// drive Z: is the POSIX root, and /dev/shm usually another file system than
// the one holding the temporary folder.
TEST_F(FileWin32Test, RenameAcrossVolumes) {
  const std::wstring shm = L"Z:\\dev\\shm";
  if (tlx_stat_mode(shm.c_str()) != TLX_S_IFDIR) GTEST_SKIP() << "no second volume";
  wchar_t name[TLX_MAX_PATH];
  if (tlx_get_temp_file_name(shm.c_str(), name) == 0) GTEST_SKIP() << "cannot write there";
  const std::wstring source = name;
  int fd = TLX_INVALID_HANDLE;
  ASSERT_EQ(0, tlx_open(source.c_str(), TLX_O_RDWR | TLX_O_CREAT | TLX_O_TRUNC, &fd));
  EXPECT_EQ(12, tlx_write(fd, "moved across", 12));
  ASSERT_EQ(0, tlx_close(&fd));
  std::wstring target = Make("target.mp3", "old");
  ASSERT_EQ(0, tlx_set_attributes(target.c_str(), TLX_ATTR_HIDDEN));
  ASSERT_EQ(0, tlx_rename(source.c_str(), target.c_str()));
  EXPECT_EQ(Text("moved across"), ReadFile(dir.File("target.mp3")));
  EXPECT_EQ(TLX_S_ERROR, tlx_stat_mode(source.c_str()));
  uint32_t flags = 0;
  ASSERT_EQ(0, tlx_get_attributes(target.c_str(), &flags));
  EXPECT_NE(0u, flags & TLX_ATTR_HIDDEN);
  // No sibling is left beside the target.
  EXPECT_EQ(std::vector<std::string>{"target.mp3"}, tagkit_test::ListDir(dir.path()));
}

TEST_F(FileWin32Test, TempDirIsThePlatformsWithATrailingSeparator) {
  wchar_t buffer[TLX_MAX_PATH];
  uint32_t n = tlx_get_temp_dir(TLX_MAX_PATH, buffer);
  ASSERT_GT(n, 0u);
  std::wstring temp(buffer, n);
  EXPECT_EQ(L'\\', temp.back());
  EXPECT_EQ(TLX_S_IFDIR, tlx_stat_mode(temp.c_str()));
  EXPECT_EQ(std::filesystem::temp_directory_path(), std::filesystem::path(temp));
  EXPECT_EQ(0u, tlx_get_temp_dir(n, buffer));  // no room for the terminator
  EXPECT_EQ(n, tlx_get_temp_dir(n + 1, buffer));
}

// GetTempFileNameW names: the folder, "id3", one to four hex digits, ".tmp".
TEST_F(FileWin32Test, TempFileNamesHaveThePlatformsForm) {
  for (const char* folder : {"plain", "M\xc3\xbcsik \xe2\x99\xab"}) {
    SCOPED_TRACE(folder);
    std::wstring wfolder = dir.WFile(folder);
    ASSERT_EQ(0, tlx_mkdir(wfolder.c_str()));
    wchar_t name[TLX_MAX_PATH];
    ASSERT_NE(0u, tlx_get_temp_file_name(wfolder.c_str(), name));
    std::wstring path(name);
    ASSERT_GT(path.size(), wfolder.size() + 1);
    EXPECT_EQ(wfolder, path.substr(0, wfolder.size()));
    std::wstring base = path.substr(wfolder.size() + 1);
    ASSERT_GE(base.size(), 8u) << "id3X.tmp at least";
    EXPECT_EQ(L"id3", base.substr(0, 3));
    EXPECT_EQ(L".tmp", base.substr(base.size() - 4));
    std::wstring digits = base.substr(3, base.size() - 7);
    EXPECT_LE(digits.size(), 4u);
    for (wchar_t c : digits) EXPECT_TRUE(std::iswxdigit(c)) << static_cast<int>(c);
    EXPECT_EQ(0, tlx_getfilesize(name));
    wchar_t second[TLX_MAX_PATH];
    ASSERT_NE(0u, tlx_get_temp_file_name(wfolder.c_str(), second));
    EXPECT_NE(path, std::wstring(second));
  }
}

// Wide paths are UTF-16: characters beyond the BMP travel as pairs.
TEST_F(FileWin32Test, PathsBeyondTheBasicPlane) {
  const std::string name = "\xf0\x9f\x8e\xb5 \xc3\x9cn\xc3\xaf" "code.mp3";  // U+1F3B5
  std::wstring path = dir.WFile(name);
  ASSERT_EQ(14u, path.size() - Widen(dir.path()).size() - 1) << "a pair and 12 other units";
  Handle h;
  ASSERT_EQ(0, tlx_open(path.c_str(), TLX_O_RDWR | TLX_O_CREAT | TLX_O_EXCL, &h.fd));
  EXPECT_EQ(4, tlx_write(h.fd, "data", 4));
  ASSERT_EQ(0, tlx_close(&h.fd));
  EXPECT_EQ(std::vector<std::string>{name}, tagkit_test::ListDir(dir.path()));
  EXPECT_EQ(4, tlx_getfilesize(path.c_str()));
}

}  // namespace
