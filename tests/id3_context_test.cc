// The engine context: creation in its three modes, refusals before anything
// is allocated or touched, sharing between contexts, and content access.
#include <algorithm>
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

// Everything the read queries answer, in one string, so that a session's
// answers can be compared with those of the file itself.
std::string QueryAll(tlx_id3_context* ctx) {
  std::string out;
  auto add = [&out](const char* what, int64_t value) {
    out += what;
    out += '=';
    out += std::to_string(value);
    out += ' ';
  };
  tlx_id3_v2_header header;
  add("header", tlx_id3_v2_get_header(ctx, &header));
  add("version", header.version);
  add("size", header.size);
  tlx_id3_v2_extended_header ext;
  add("ext", tlx_id3_v2_get_extended_header(ctx, &ext));
  uint32_t total = 0;
  add("total", tlx_id3_v2_get_frame_total_num(ctx, &total));
  add("count", total);
  for (uint32_t i = 0; i < total && i < 40; ++i) {
    tlx_id3_v2_frame_header frame;
    if (tlx_id3_v2_get_frame_header_by_index(ctx, i, &frame) != TLX_ID3_OK) break;
    add("id", frame.id);
    add("fsize", frame.size);
    uint32_t num = 0;
    tlx_id3_v2_get_frame_num(ctx, frame.id, &num);
    for (uint32_t k = 0; k < num; ++k) {
      static uint8_t data[70000];
      uint32_t size = sizeof data;
      int32_t rc = tlx_id3_v2_get_frame_data(ctx, frame.id, k, &size, data);
      add("data", rc);
      for (uint32_t b = 0; rc == TLX_ID3_OK && b < size; b += 97) add("b", data[b]);
      uint32_t offset = 0;
      add("offset", tlx_id3_v2_get_frame_data_offset(ctx, frame.id, k, &offset));
      add("at", offset);
    }
  }
  char text[31] = {};
  uint32_t size = 30;
  int32_t v1 = tlx_id3_v1_get_title(ctx, &size, text);
  add("v1", v1);
  if (v1 == TLX_ID3_OK) out += std::string(text, size) + ' ';
  uint32_t genre = 0;
  add("genre", tlx_id3_v1_get_genre(ctx, &genre));
  add("g", genre);
  uint8_t track = 0;
  add("track", tlx_id3_v1_get_tracknumebr(ctx, &track));
  add("t", track);
  add("init", tlx_id3_v2_get_frame_data_init_by_index(ctx, 0));
  uint8_t chunk[7] = {};
  uint32_t n = sizeof chunk;
  int32_t progress = tlx_id3_v2_get_frame_data_progress(ctx, &n, chunk);
  add("progress", progress);
  for (uint32_t b = 0; progress == TLX_ID3_OK && b < n; ++b) add("c", chunk[b]);
  tlx_id3_v2_get_frame_data_fin(ctx);
  return out;
}

// Answers from a read session are the file's answers, whatever the tag looks
// like, and after the session the file is read where the content stands.
TEST_F(Id3ContextTest, ReadSessionAnswersAsTheFileDoes) {
  using namespace tagkit_test;
  const Bytes trailer = Id3v1("title", "artist", "", "2024", "", 3, 8);
  const Bytes rich = RichFrames23(9000);
  Bytes unsync = Id3v2Tag(3, 0x80, Concat({Frame23("TIT2", {0, 'a', 0xFF, 0x00, 'b'}),
                                           Frame23("TPE1", {0, 0xFF, 0x00})}));
  Bytes claims_more = Id3v2Tag(3, 0, rich);
  claims_more.resize(5000);
  const struct {
    const char* name;
    Bytes file;
  } cases[] = {
      {"rich tag beyond the first block", Concat({Id3v2Tag(3, 0, rich), Audio(3000), trailer})},
      {"small tag", Concat({Id3v2Tag(3, 0, Frame23("TIT2", {0, 'x'})), Audio(50), trailer})},
      {"ID3v2.2", Concat({Id3v2Tag(2, 0, Frame22("TT2", {0, 'y'})), Audio(4000)})},
      {"unsynchronised", Concat({unsync, Audio(100), trailer})},
      {"tag longer than the file", claims_more},
      {"no tag", Concat({Audio(9000), trailer})},
      {"shorter than a trailer", Bytes(60, 0xFF)},
      {"empty", Bytes()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::wstring path = Make("s.mp3", c.file);
    tlx_id3_context plain, cached;
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &plain));
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &cached));
    const std::string expected = QueryAll(&plain);
    tlx_id3_read_session_begin(&cached);
    EXPECT_EQ(expected, QueryAll(&cached));
    EXPECT_EQ(expected, QueryAll(&cached));  // the second time from memory
    // A position taken in the session holds for the file after it.
    EXPECT_EQ(std::min<int32_t>(3, static_cast<int32_t>(c.file.size())),
              tlx_id3_position_content(&cached, 3, 0));
    tlx_id3_read_session_end(&cached);
    uint8_t byte = 0;
    if (c.file.size() > 3) {
      ASSERT_EQ(1, tlx_id3_read_content(&cached, &byte, 1));
      EXPECT_EQ(c.file[3], byte);
    }
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&plain));
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&cached));
  }
}

// A write inside a session changes what the session answers: the trailer
// written is the trailer read, and a zero fill grows the length it reports.
TEST_F(Id3ContextTest, WritesInsideAReadSessionAreSeen) {
  using namespace tagkit_test;
  std::wstring path = Make("w.mp3", Concat({Audio(300), Id3v1("old", "", "", "", "", 1, 2)}));
  tlx_id3_context ctx;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_WRITE, nullptr, &ctx));
  tlx_id3_read_session_begin(&ctx);
  char text[31];
  uint32_t size = 30;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_v1_get_title(&ctx, &size, text));
  EXPECT_EQ("old", std::string(text, size));
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_v1_set_title(&ctx, "new"));
  size = 30;
  ASSERT_EQ(TLX_ID3_OK, tlx_id3_v1_get_title(&ctx, &size, text));
  EXPECT_EQ("new", std::string(text, size));
  EXPECT_EQ(428, tlx_id3_seek_content(&ctx, 1000, 0));  // filled up to 1000
  EXPECT_EQ(1000, tlx_id3_seek_content(&ctx, 0, 2));
  tlx_id3_read_session_end(&ctx);
  EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
  EXPECT_EQ(1000u, ReadFile(dir.File("w.mp3")).size());
}

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

// Inside a read session the file operations it does still pass the seam: a
// failed load fails the query that needed it, and the next query loads anew.
TEST_F(Id3ContextFaultTest, ReadSessionLoadsPassTheSeam) {
  using namespace tagkit_test;
  std::wstring path = Make("s.mp3", Concat({Id3v2Tag(3, 0, RichFrames23(8000)), Audio(500),
                                            Id3v1("t", "", "", "", "", 1, 2)}));
  for (tlx_fault_op op : {TLX_FAULT_READ, TLX_FAULT_SEEK}) {
    SCOPED_TRACE(op);
    tlx_id3_context ctx;
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &ctx));
    tlx_id3_read_session_begin(&ctx);
    tlx_fault_reset();
    uint32_t count = 0;
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_v2_get_frame_total_num(&ctx, &count));
    EXPECT_GT(tlx_fault_calls(op), 0u);
    uint32_t again = 0;
    tlx_fault_reset();
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_v2_get_frame_total_num(&ctx, &again));
    EXPECT_EQ(0u, tlx_fault_calls(op));  // from memory
    tlx_id3_read_session_end(&ctx);
    tlx_id3_read_session_begin(&ctx);
    tlx_fault_reset();
    tlx_fault_arm(op, 1);
    EXPECT_NE(TLX_ID3_OK, tlx_id3_v2_get_frame_total_num(&ctx, &again));
    EXPECT_EQ(1, tlx_fault_fired());
    again = 0;
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_v2_get_frame_total_num(&ctx, &again));
    EXPECT_EQ(count, again);
    tlx_id3_read_session_end(&ctx);
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
  }
  tlx_fault_reset();
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
