// The engine context: creation in its three modes, refusals before anything
// is allocated or touched, sharing between contexts, and content access.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "id3_internal.h"
#include "test_support.h"
#include "tlx_id3.h"

namespace {

using tagkit_test::Bytes;
using tagkit_test::ReadFile;
using tagkit_test::TempDir;
using tagkit_test::WriteFile;

class Id3ContextTest : public ::testing::Test {
 protected:
  std::wstring Make(const std::string& name, const Bytes& bytes) {
    WriteFile(dir.File(name), bytes);
    return dir.WFile(name);
  }
  TempDir dir;
};

tlx_id3_v2_header Header(int32_t size) {
  tlx_id3_v2_header header = {};
  header.version = TLX_ID3_V22;  // ignored: a new tag is always 2.3.0
  header.size = size;
  return header;
}

TEST_F(Id3ContextTest, ReadModeFillsTheContext) {
  std::wstring path = Make("a.mp3", tagkit_test::Audio(100));
  tlx_id3_context ctx;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &ctx));
  EXPECT_EQ(0, ctx.content_kind);
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx.state);
  EXPECT_EQ(0u, ctx.remaining);
  EXPECT_EQ(nullptr, ctx.allow_tag_id);
  ASSERT_NE(nullptr, ctx.work);
  EXPECT_EQ(TLX_INVALID_HANDLE, ctx.work->temp_fd);
  EXPECT_EQ(L'\0', ctx.work->temp_path[0]);
  EXPECT_EQ(nullptr, ctx.work->frame_list);
  int32_t mode = -1;
  const wchar_t* stored = nullptr;
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_get_mode(&ctx, &mode));
  EXPECT_EQ(TLX_ID3_MODE_READ, mode);
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_get_path(&ctx, &stored));
  EXPECT_EQ(path, std::wstring(stored));
  EXPECT_NE(path.c_str(), stored);  // the engine's own copy
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_get_mode(nullptr, &mode));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_get_path(&ctx, nullptr));
  uint8_t bytes[4];
  EXPECT_EQ(4, tlx_id3_read_content(&ctx, bytes, 4));
  EXPECT_EQ(-1, tlx_id3_write_content(&ctx, bytes, 4));  // read only
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
}

// Each refusal leaves the caller's record as it was (nothing allocated into
// it) and the disk unchanged.
TEST_F(Id3ContextTest, RefusalsBeforeAnyAllocation) {
  std::wstring file = Make("a.mp3", tagkit_test::Audio(10));
  std::wstring folder = tagkit_test::Widen(dir.path());
  std::wstring missing = dir.WFile("missing.mp3");
  tlx_id3_v2_header header = Header(0);
  tlx_id3_v2_header negative = Header(-1);
  tlx_id3_v2_header too_big = Header(0x10000000);
  std::wstring fresh = dir.WFile("new.mp3");
  struct Case {
    const wchar_t* path;
    int32_t mode;
    const tlx_id3_v2_header* header;
    int32_t result;
  };
  const Case cases[] = {
      {nullptr, TLX_ID3_MODE_READ, nullptr, TLX_ID3_E_PARAM},
      {file.c_str(), TLX_ID3_MODE_CREATE, nullptr, TLX_ID3_E_PARAM},
      {missing.c_str(), TLX_ID3_MODE_READ, nullptr, TLX_ID3_E_NOT_FOUND},
      {missing.c_str(), TLX_ID3_MODE_WRITE, &header, TLX_ID3_E_NOT_FOUND},
      {folder.c_str(), TLX_ID3_MODE_READ, nullptr, TLX_ID3_E_NOT_FOUND},
      {folder.c_str(), TLX_ID3_MODE_WRITE, nullptr, TLX_ID3_E_NOT_FOUND},
      {fresh.c_str(), TLX_ID3_MODE_CREATE, &negative, TLX_ID3_E_PARAM},
      {fresh.c_str(), TLX_ID3_MODE_CREATE, &too_big, TLX_ID3_E_PARAM},
  };
  for (const Case& c : cases) {
    tlx_id3_context ctx;
    std::memset(&ctx, 0xA5, sizeof(ctx));
    tlx_id3_context before = ctx;
    EXPECT_EQ(c.result, tlx_id3_create_context(c.path, c.mode, c.header, &ctx));
    EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof(ctx)));
  }
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_create_context(file.c_str(), TLX_ID3_MODE_READ, nullptr, nullptr));
  EXPECT_EQ(std::vector<std::string>{"a.mp3"}, tagkit_test::ListDir(dir.path()));
}

TEST_F(Id3ContextTest, OpenFailuresAfterAllocationReleaseEverything) {
  std::wstring file = Make("a.mp3", tagkit_test::Audio(10));
  tlx_id3_context ctx;
  // A mode the content layer does not know.
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_create_context(file.c_str(), 7, nullptr, &ctx));
  EXPECT_EQ(nullptr, ctx.work);
  EXPECT_EQ(nullptr, ctx.path);
  // Creating over an existing file.
  tlx_id3_v2_header header = Header(16);
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_create_context(file.c_str(), TLX_ID3_MODE_CREATE, &header, &ctx));
  EXPECT_EQ(tagkit_test::Audio(10), ReadFile(dir.File("a.mp3")));
  // Creating in a folder that does not exist.
  EXPECT_EQ(TLX_ID3_E_OPEN, tlx_id3_create_context(dir.WFile("no/b.mp3").c_str(),
                                                   TLX_ID3_MODE_CREATE, &header, &ctx));
}

TEST_F(Id3ContextTest, CreateWritesTheEmptyTag) {
  struct Case {
    int32_t size;
    int32_t unsync, ext, experimental;
    uint8_t flags;
  };
  const Case cases[] = {{0, 0, 0, 0, 0x00}, {5000, 0, 0, 0, 0x00}, {4096, 1, 1, 1, 0xE0},
                        {4097, 0, 1, 0, 0x40}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::string name = "new" + std::to_string(n++) + ".mp3";
    tlx_id3_v2_header header = Header(c.size);
    header.unsync = c.unsync;
    header.has_ext_header = c.ext;
    header.experimental = c.experimental;
    tlx_id3_context ctx;
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(dir.WFile(name).c_str(), TLX_ID3_MODE_CREATE,
                                                 &header, &ctx));
    EXPECT_EQ(TLX_ID3_MODE_CREATE, ctx.mode);
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
    Bytes expected = tagkit_test::Concat({tagkit_test::Text("ID3"), {3, 0, c.flags},
                                          tagkit_test::SyncSafe(static_cast<uint32_t>(c.size)),
                                          Bytes(static_cast<size_t>(c.size), 0)});
    EXPECT_EQ(expected, ReadFile(dir.File(name)));
  }
  // Size 5000: header bytes 00 00 27 08, 5010 bytes in all.
  Bytes five = ReadFile(dir.File("new1.mp3"));
  ASSERT_EQ(5010u, five.size());
  EXPECT_EQ((Bytes{0x00, 0x00, 0x27, 0x08}), Bytes(five.begin() + 6, five.begin() + 10));
}

TEST_F(Id3ContextTest, TwoContextsOnOneFile) {
  std::wstring path = Make("a.mp3", tagkit_test::Audio(64));
  struct Case {
    int32_t first, second, result;
  };
  const Case cases[] = {
      {TLX_ID3_MODE_READ, TLX_ID3_MODE_READ, TLX_ID3_OK},
      {TLX_ID3_MODE_READ, TLX_ID3_MODE_WRITE, TLX_ID3_E_OPEN},
      {TLX_ID3_MODE_WRITE, TLX_ID3_MODE_READ, TLX_ID3_E_OPEN},
      {TLX_ID3_MODE_WRITE, TLX_ID3_MODE_WRITE, TLX_ID3_E_OPEN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " then " << c.second);
    tlx_id3_context a, b;
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), c.first, nullptr, &a));
    EXPECT_EQ(c.result, tlx_id3_create_context(path.c_str(), c.second, nullptr, &b));
    if (c.result == TLX_ID3_OK) {
      EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&b));
    }
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&a));
  }
  // A backup reads through a second context while this process writes.
  tlx_id3_context writer, reader;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_WRITE, nullptr, &writer));
  tlx_share_with_owner_begin();
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &reader));
  tlx_share_with_owner_end();
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&reader));
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&writer));
}

TEST_F(Id3ContextTest, SeekPastTheEndGrowsTheFileWithZeros) {
  std::wstring path = Make("forty", Bytes(40, 0x55));
  tlx_id3_context ctx;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_WRITE, nullptr, &ctx));
  EXPECT_EQ(40, tlx_id3_seek_content(&ctx, 100, 0));
  EXPECT_EQ(100, tlx_id3_seek_content(&ctx, 0, 1));
  EXPECT_EQ(20, tlx_id3_seek_content(&ctx, 20, 0));   // inside: no fill
  EXPECT_EQ(100, tlx_id3_seek_content(&ctx, 0, 2));
  EXPECT_EQ(100, tlx_id3_seek_content(&ctx, 700, 0)); // 600 zeros, over 256-byte steps
  EXPECT_EQ(-1, tlx_id3_seek_content(&ctx, 0, 9));
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
  Bytes bytes = ReadFile(dir.File("forty"));
  EXPECT_EQ(tagkit_test::Concat({Bytes(40, 0x55), Bytes(660, 0)}), bytes);
}

TEST_F(Id3ContextTest, ForeignContentIsRefusedUntouched) {
  std::wstring path = Make("a.mp3", Bytes(8, 1));
  tlx_id3_context ctx;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_WRITE, nullptr, &ctx));
  ctx.content_kind = 1;
  uint8_t buffer[4] = {9, 9, 9, 9};
  int handle = TLX_INVALID_HANDLE;
  EXPECT_EQ(-1, tlx_id3_open_content(&ctx, TLX_ID3_MODE_READ, &handle));
  EXPECT_EQ(-1, tlx_id3_seek_content(&ctx, 100, 0));
  EXPECT_EQ(-1, tlx_id3_read_content(&ctx, buffer, 4));
  EXPECT_EQ(-1, tlx_id3_write_content(&ctx, buffer, 4));
  EXPECT_EQ(-1, tlx_id3_flush(&ctx));
  EXPECT_EQ(-1, tlx_id3_close_content(&ctx));
  ctx.content_kind = 0;
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
  EXPECT_EQ(Bytes(8, 1), ReadFile(dir.File("a.mp3")));
}

TEST_F(Id3ContextTest, FlushWritesTheBufferAtItsPosition) {
  std::wstring path = Make("a.mp3", tagkit_test::Text("0123456789"));
  tlx_id3_context ctx;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_WRITE, nullptr, &ctx));
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_flush_content(&ctx));  // nothing buffered: sync only
  std::memcpy(ctx.work->write_buf, "AB", 2);
  ctx.work->write_len = 2;
  ctx.work->write_pos = 12;  // beyond the end: the gap becomes zeros
  ctx.remaining = 5;
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_flush_content(&ctx));
  EXPECT_EQ(0u, ctx.work->write_len);
  EXPECT_EQ(14u, ctx.work->write_pos);
  EXPECT_EQ(3u, ctx.remaining);
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_flush_content(nullptr));
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
  EXPECT_EQ(tagkit_test::Concat({tagkit_test::Text("0123456789"), Bytes(2, 0), tagkit_test::Text("AB")}),
            ReadFile(dir.File("a.mp3")));
}

TEST_F(Id3ContextTest, AllowTagIdIsCopiedAndReplaced) {
  std::wstring path = Make("a.kq7", Bytes(4, 0));
  tlx_id3_context ctx;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &ctx));
  char magic[] = "kq7";
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_v2_set_allow_tag_id(&ctx, magic));
  magic[0] = 'x';
  EXPECT_STREQ("kq7", ctx.allow_tag_id);
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_v2_set_allow_tag_id(&ctx, "abc"));
  EXPECT_STREQ("abc", ctx.allow_tag_id);
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_set_allow_tag_id(&ctx, nullptr));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v2_set_allow_tag_id(nullptr, "kq7"));
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_destroy_context(nullptr));
}

}  // namespace

#if defined(TLX_FAULT_INJECTION)
namespace {

class Id3ContextFaultTest : public Id3ContextTest {
 protected:
  void SetUp() override { tlx_fault_reset(); }
  void TearDown() override { tlx_fault_reset(); }
};

// A new file whose empty tag cannot be written is removed again.
TEST_F(Id3ContextFaultTest, FailedCreationLeavesNoFile) {
  struct Case {
    tlx_fault_op op;
    uint32_t nth;
    int32_t result;
  };
  const Case cases[] = {
      {TLX_FAULT_SEEK, 1, TLX_ID3_E_SEEK},
      {TLX_FAULT_WRITE, 1, TLX_ID3_E_WRITE},  // the header
      {TLX_FAULT_WRITE, 3, TLX_ID3_E_WRITE},  // the second chunk of zeros
      {TLX_FAULT_OPEN, 1, TLX_ID3_E_OPEN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.op << "#" << c.nth);
    tlx_id3_v2_header header = Header(5000);
    tlx_id3_context ctx;
    tlx_fault_arm(c.op, c.nth);
    EXPECT_EQ(c.result, tlx_id3_create_context(dir.WFile("new.mp3").c_str(), TLX_ID3_MODE_CREATE,
                                               &header, &ctx));
    EXPECT_EQ(1, tlx_fault_fired());
    EXPECT_TRUE(tagkit_test::ListDir(dir.path()).empty());
  }
}

TEST_F(Id3ContextFaultTest, ContentFailures) {
  std::wstring path = Make("a.mp3", Bytes(40, 7));
  tlx_id3_context ctx;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_WRITE, nullptr, &ctx));
  tlx_fault_arm(TLX_FAULT_WRITE, 2);  // the second 256-byte step of the fill
  EXPECT_EQ(-3, tlx_id3_seek_content(&ctx, 1000, 0));
  tlx_fault_arm(TLX_FAULT_FSYNC, 1);
  EXPECT_EQ(TLX_ID3_E_SYSTEM, tlx_id3_flush_content(&ctx));
  ctx.work->write_len = 1;
  tlx_fault_arm(TLX_FAULT_SEEK, 1);
  EXPECT_EQ(TLX_ID3_E_SEEK, tlx_id3_flush_content(&ctx));
  tlx_fault_arm(TLX_FAULT_WRITE, 1);
  EXPECT_EQ(TLX_ID3_E_WRITE, tlx_id3_flush_content(&ctx));
  EXPECT_EQ(1u, ctx.work->write_len);  // still owed
  // A failed close still releases the context's memory.
  tlx_fault_arm(TLX_FAULT_CLOSE, 1);
  EXPECT_EQ(TLX_ID3_E_CLOSE, tlx_id3_destroy_context(&ctx));
  EXPECT_EQ(nullptr, ctx.work);
}

// Opening and reading the content take exactly one call each.
TEST_F(Id3ContextFaultTest, ContentCallsPassTheSeam) {
  std::wstring path = Make("a.mp3", Bytes(40, 7));
  tlx_id3_context ctx;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &ctx));
  uint8_t buffer[8];
  tlx_id3_read_content(&ctx, buffer, 8);
  tlx_id3_seek_content(&ctx, 0, 0);
  tlx_id3_flush(&ctx);
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
  for (tlx_fault_op op : {TLX_FAULT_OPEN, TLX_FAULT_READ, TLX_FAULT_SEEK, TLX_FAULT_FSYNC,
                          TLX_FAULT_CLOSE}) {
    EXPECT_EQ(1u, tlx_fault_calls(op)) << op;
  }
  EXPECT_EQ(0u, tlx_fault_calls(TLX_FAULT_WRITE));
}

}  // namespace
#endif  // TLX_FAULT_INJECTION
