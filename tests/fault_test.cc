// The fault seam: per-thread call counts and one armed failure that looks
// like the operation's own failure and changes nothing. The sweeps rely on
// both: each counted call is failed once, and the files after it are judged.
#include <gtest/gtest.h>

#include "test_support.h"
#include "tlx_system.h"

#if defined(TLX_FAULT_INJECTION)

namespace {

using namespace tagkit_test;

TEST(FaultTest, ArmedCallsFailOnceAndChangeNothing) {
  TempDir dir;
  WriteFile(dir.File("src"), Text("new"));
  WriteFile(dir.File("dst"), Text("abcdef"));
  const std::wstring src = dir.WFile("src"), dst = dir.WFile("dst");
  int fd = TLX_INVALID_HANDLE;
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_OPEN, 1);
  EXPECT_EQ(-1, tlx_open(dir.WFile("created").c_str(), TLX_O_RDWR | TLX_O_CREAT, &fd));
  tlx_fault_arm(TLX_FAULT_RENAME, 1);
  EXPECT_EQ(-1, tlx_rename(src.c_str(), dst.c_str()));
  tlx_fault_arm(TLX_FAULT_UNLINK, 1);
  EXPECT_EQ(-1, tlx_unlink(src.c_str()));
  EXPECT_EQ((std::vector<std::string>{"dst", "src"}), ListDir(dir.path()));

  ASSERT_EQ(0, tlx_open(dst.c_str(), TLX_O_RDWR, &fd));
  char byte = 0;
  EXPECT_EQ(1, tlx_read(fd, &byte, 1));  // before arming: not counted towards nth
  tlx_fault_arm(TLX_FAULT_READ, 2);
  EXPECT_EQ(1, tlx_read(fd, &byte, 1));
  EXPECT_EQ(0, tlx_fault_fired());
  EXPECT_EQ(-1, tlx_read(fd, &byte, 1));
  EXPECT_EQ(1, tlx_fault_fired());
  EXPECT_EQ(1, tlx_read(fd, &byte, 1));  // once only, and nothing was consumed
  EXPECT_EQ('c', byte);
  tlx_fault_arm(TLX_FAULT_WRITE, 1);
  EXPECT_EQ(-1, tlx_write(fd, "XYZ", 3));
  tlx_fault_arm(TLX_FAULT_SEEK, 1);
  EXPECT_EQ(-1, tlx_lseek(fd, 5, 0));
  tlx_fault_arm(TLX_FAULT_TRUNCATE, 1);
  EXPECT_EQ(-1, tlx_set_end_of_file(fd));
  tlx_fault_arm(TLX_FAULT_FSYNC, 1);
  EXPECT_EQ(-1, tlx_fsync(fd));
  EXPECT_EQ(3, tlx_lseek(fd, 0, 1));
  EXPECT_EQ(Text("abcdef"), ReadFile(dir.File("dst")));
  // A failed close keeps the caller's handle value, but the file is free.
  const int kept = fd;
  tlx_fault_arm(TLX_FAULT_CLOSE, 1);
  EXPECT_EQ(-1, tlx_close(&fd));
  EXPECT_EQ(kept, fd);
  EXPECT_EQ(0, tlx_open(dst.c_str(), TLX_O_RDWR, &fd));
  tlx_close(&fd);
  // Every call counts once, failed or not.
  const struct {
    tlx_fault_op op;
    uint32_t calls;
  } expected[] = {{TLX_FAULT_READ, 4},     {TLX_FAULT_WRITE, 1},  {TLX_FAULT_SEEK, 2},
                  {TLX_FAULT_OPEN, 3},     {TLX_FAULT_CLOSE, 2},  {TLX_FAULT_TRUNCATE, 1},
                  {TLX_FAULT_RENAME, 1},   {TLX_FAULT_UNLINK, 1}, {TLX_FAULT_FSYNC, 1}};
  for (const auto& e : expected) EXPECT_EQ(e.calls, tlx_fault_calls(e.op)) << e.op;
  tlx_fault_reset();
  EXPECT_EQ(0u, tlx_fault_calls(TLX_FAULT_READ));
}

}  // namespace

#endif  // TLX_FAULT_INJECTION
