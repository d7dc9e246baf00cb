// The fault seam: per-thread call counts and one armed failure that looks
// like the operation's own failure.
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "test_support.h"
#include "tlx_system.h"

#if defined(TLX_FAULT_INJECTION)

namespace {

using tagkit_test::Bytes;
using tagkit_test::ReadFile;
using tagkit_test::TempDir;
using tagkit_test::WriteFile;

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override { tlx_fault_reset(); }
  void TearDown() override { tlx_fault_reset(); }
  TempDir dir;
};

TEST_F(FaultTest, EveryOperationIsCounted) {
  WriteFile(dir.File("a"), tagkit_test::Text("abc"));
  std::wstring a = dir.WFile("a"), b = dir.WFile("b");
  int fd = TLX_INVALID_HANDLE;
  char buffer[4];
  ASSERT_EQ(0, tlx_open(a.c_str(), TLX_O_RDWR, &fd));
  tlx_read(fd, buffer, 1);
  tlx_read(fd, buffer, 1);
  tlx_write(fd, "x", 1);
  tlx_lseek(fd, 0, 0);
  tlx_set_end_of_file(fd);
  tlx_fsync(fd);
  tlx_close(&fd);
  tlx_rename(a.c_str(), b.c_str());
  tlx_unlink(b.c_str());
  const struct {
    tlx_fault_op op;
    uint32_t calls;
  } expected[] = {{TLX_FAULT_OPEN, 1},  {TLX_FAULT_READ, 2},   {TLX_FAULT_WRITE, 1},
                  {TLX_FAULT_SEEK, 1},  {TLX_FAULT_TRUNCATE, 1}, {TLX_FAULT_FSYNC, 1},
                  {TLX_FAULT_CLOSE, 1}, {TLX_FAULT_RENAME, 1}, {TLX_FAULT_UNLINK, 1}};
  for (const auto& e : expected) EXPECT_EQ(e.calls, tlx_fault_calls(e.op)) << e.op;
  EXPECT_EQ(0, tlx_fault_fired());
  tlx_fault_reset();
  EXPECT_EQ(0u, tlx_fault_calls(TLX_FAULT_READ));
}

TEST_F(FaultTest, ArmedCallFailsOnceCountingFromArming) {
  WriteFile(dir.File("a"), tagkit_test::Text("abcdef"));
  int fd = TLX_INVALID_HANDLE;
  ASSERT_EQ(0, tlx_open(dir.WFile("a").c_str(), TLX_O_RDONLY, &fd));
  char buffer[2];
  EXPECT_EQ(1, tlx_read(fd, buffer, 1));  // before arming: not counted towards nth
  tlx_fault_arm(TLX_FAULT_READ, 2);
  EXPECT_EQ(1, tlx_read(fd, buffer, 1));
  EXPECT_EQ(0, tlx_fault_fired());
  EXPECT_EQ(-1, tlx_read(fd, buffer, 1));
  EXPECT_EQ(1, tlx_fault_fired());
  EXPECT_EQ(1, tlx_read(fd, buffer, 1));  // once only
  EXPECT_EQ('c', buffer[0]);              // the failed read consumed nothing
  tlx_fault_arm(TLX_FAULT_READ, 0);       // nth 0 disarms
  EXPECT_EQ(0, tlx_fault_fired());
  EXPECT_EQ(1, tlx_read(fd, buffer, 1));
  tlx_close(&fd);
}

TEST_F(FaultTest, InjectedFailuresLeaveFilesAsTheyWere) {
  WriteFile(dir.File("src"), tagkit_test::Text("new"));
  WriteFile(dir.File("dst"), tagkit_test::Text("old"));
  std::wstring src = dir.WFile("src"), dst = dir.WFile("dst");
  int fd = TLX_INVALID_HANDLE;

  tlx_fault_arm(TLX_FAULT_OPEN, 1);
  EXPECT_EQ(-1, tlx_open(dir.WFile("created").c_str(), TLX_O_RDWR | TLX_O_CREAT, &fd));
  EXPECT_FALSE(tagkit_test::FileExists(dir.File("created")));

  tlx_fault_arm(TLX_FAULT_RENAME, 1);
  EXPECT_EQ(-1, tlx_rename(src.c_str(), dst.c_str()));
  EXPECT_EQ(tagkit_test::Text("old"), ReadFile(dir.File("dst")));
  EXPECT_EQ(tagkit_test::Text("new"), ReadFile(dir.File("src")));

  tlx_fault_arm(TLX_FAULT_UNLINK, 1);
  EXPECT_EQ(-1, tlx_unlink(src.c_str()));
  EXPECT_TRUE(tagkit_test::FileExists(dir.File("src")));

  ASSERT_EQ(0, tlx_open(dst.c_str(), TLX_O_RDWR, &fd));
  tlx_fault_arm(TLX_FAULT_WRITE, 1);
  EXPECT_EQ(-1, tlx_write(fd, "XYZ", 3));
  tlx_fault_arm(TLX_FAULT_TRUNCATE, 1);
  EXPECT_EQ(-1, tlx_set_end_of_file(fd));
  tlx_fault_arm(TLX_FAULT_SEEK, 1);
  EXPECT_EQ(-1, tlx_lseek(fd, 1, 0));
  EXPECT_EQ(0, tlx_lseek(fd, 0, 1));
  tlx_fault_arm(TLX_FAULT_FSYNC, 1);
  EXPECT_EQ(-1, tlx_fsync(fd));
  EXPECT_EQ(tagkit_test::Text("old"), ReadFile(dir.File("dst")));

  // A failed close keeps the caller's handle value, but the file is free.
  int kept = fd;
  tlx_fault_arm(TLX_FAULT_CLOSE, 1);
  EXPECT_EQ(-1, tlx_close(&fd));
  EXPECT_EQ(kept, fd);
  int again = TLX_INVALID_HANDLE;
  EXPECT_EQ(0, tlx_open(dst.c_str(), TLX_O_RDWR, &again));
  tlx_close(&again);
}

TEST_F(FaultTest, CountsBelongToTheThread) {
  WriteFile(dir.File("a"), tagkit_test::Text("abc"));
  tlx_fault_arm(TLX_FAULT_OPEN, 1);
  int32_t other_result = 1;
  uint32_t other_calls = 0;
  std::wstring path = dir.WFile("a");
  std::thread([&] {
    int fd = TLX_INVALID_HANDLE;
    other_result = tlx_open(path.c_str(), TLX_O_RDONLY, &fd);
    other_calls = tlx_fault_calls(TLX_FAULT_OPEN);
    tlx_close(&fd);
  }).join();
  EXPECT_EQ(0, other_result);  // armed here, not there
  EXPECT_EQ(1u, other_calls);
  EXPECT_EQ(0u, tlx_fault_calls(TLX_FAULT_OPEN));
  int fd = TLX_INVALID_HANDLE;
  EXPECT_EQ(-1, tlx_open(path.c_str(), TLX_O_RDONLY, &fd));
}

}  // namespace

#endif  // TLX_FAULT_INJECTION
