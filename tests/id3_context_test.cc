// The engine context: creation in its three modes, refusals that leave the
// disk and the caller's record untouched, sharing, content access, and the
// read session that serves queries from memory.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>

#include "engine_file.h"

namespace tagkit_test {
namespace {

tlx_id3_v2_header NewTag(int32_t size, int32_t flags = 0) {
  tlx_id3_v2_header header = {};
  header.version = TLX_ID3_V22;  // ignored: a new tag is always ID3v2.3
  header.size = size;
  header.unsync = header.has_ext_header = header.experimental = flags;
  return header;
}

class Id3Context : public ::testing::Test {
 protected:
  std::wstring Make(const Bytes& bytes, const std::string& name = "a.mp3") {
    WriteFile(dir_.File(name), bytes);
    return dir_.WFile(name);
  }
  TempDir dir_;
};

TEST_F(Id3Context, RefusalsTouchNothing) {
  const std::wstring file = Make(Audio(10)), fresh = dir_.WFile("new.mp3");
  const std::wstring folder = Widen(dir_.path()), missing = dir_.WFile("missing.mp3");
  const std::wstring no_folder = dir_.WFile("no/b.mp3");
  const tlx_id3_v2_header ok = NewTag(16), negative = NewTag(-1), too_big = NewTag(0x10000000);
#if !defined(_WIN32)
  // A named pipe is refused without waiting for a writer.
  const std::wstring pipe = dir_.WFile("pipe.mp3");
  ASSERT_EQ(0, mkfifo(dir_.File("pipe.mp3").c_str(), 0644));
#endif
  const struct {
    const wchar_t* path;
    int32_t mode;
    const tlx_id3_v2_header* header;
    int32_t rc;
    bool before_allocation;  // the caller's record is left as it was
  } cases[] = {
      {nullptr, TLX_ID3_MODE_READ, nullptr, TLX_ID3_E_PARAM, true},
      {fresh.c_str(), TLX_ID3_MODE_CREATE, nullptr, TLX_ID3_E_PARAM, true},
      {fresh.c_str(), TLX_ID3_MODE_CREATE, &negative, TLX_ID3_E_PARAM, true},
      {fresh.c_str(), TLX_ID3_MODE_CREATE, &too_big, TLX_ID3_E_PARAM, true},
      {missing.c_str(), TLX_ID3_MODE_WRITE, nullptr, TLX_ID3_E_NOT_FOUND, true},
      {folder.c_str(), TLX_ID3_MODE_READ, nullptr, TLX_ID3_E_NOT_FOUND, true},
      {folder.c_str(), TLX_ID3_MODE_WRITE, nullptr, TLX_ID3_E_NOT_FOUND, true},
#if !defined(_WIN32)
      {pipe.c_str(), TLX_ID3_MODE_READ, nullptr, TLX_ID3_E_NOT_FOUND, true},
      {pipe.c_str(), TLX_ID3_MODE_WRITE, nullptr, TLX_ID3_E_NOT_FOUND, true},
#endif
      {file.c_str(), 7, nullptr, TLX_ID3_E_OPEN, true},
      {file.c_str(), TLX_ID3_MODE_CREATE, &ok, TLX_ID3_E_OPEN, false},  // exists
      {no_folder.c_str(), TLX_ID3_MODE_CREATE, &ok, TLX_ID3_E_OPEN, false},
  };
  for (const auto& c : cases) {
    tlx_id3_context ctx, before;
    std::memset(&ctx, 0xA5, sizeof ctx);
    before = ctx;
    EXPECT_EQ(c.rc, tlx_id3_create_context(c.path, c.mode, c.header, &ctx));
    if (c.before_allocation) {
      EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx));
    } else {
      EXPECT_EQ(nullptr, ctx.work);
    }
  }
  EXPECT_EQ(std::vector<std::string>{"a.mp3"}, ListDir(dir_.path()));
  EXPECT_EQ(Audio(10), ReadFile(dir_.File("a.mp3")));
}

TEST_F(Id3Context, CreateWritesTheEmptyTag) {
  const struct {
    int32_t size, flags;
    uint8_t byte;
  } cases[] = {{0, 0, 0x00}, {5000, 0, 0x00}, {4097, 1, 0xE0}};
  for (const auto& c : cases) {
    const std::string name = "new" + std::to_string(c.size) + ".mp3";
    const tlx_id3_v2_header header = NewTag(c.size, c.flags);
    tlx_id3_context ctx;
    ASSERT_EQ(0, tlx_id3_create_context(dir_.WFile(name).c_str(), TLX_ID3_MODE_CREATE, &header, &ctx));
    const wchar_t* path = nullptr;
    EXPECT_EQ(0, tlx_id3_get_path(&ctx, &path));
    EXPECT_EQ(dir_.WFile(name), path);
    ASSERT_EQ(0, tlx_id3_destroy_context(&ctx));
    EXPECT_EQ(Concat({Text("ID3"), {3, 0, c.byte}, SyncSafe(c.size), Bytes(c.size, 0)}), ReadFile(dir_.File(name)));
  }
}

TEST_F(Id3Context, ReadersShareWritersDoNot) {
  const std::wstring path = Make(Audio(64));
  const int32_t R = TLX_ID3_MODE_READ, W = TLX_ID3_MODE_WRITE;
  for (auto modes : {std::make_pair(R, R), std::make_pair(R, W), std::make_pair(W, R), std::make_pair(W, W)}) {
    tlx_id3_context a, b;
    ASSERT_EQ(0, tlx_id3_create_context(path.c_str(), modes.first, nullptr, &a));
    const int32_t rc = tlx_id3_create_context(path.c_str(), modes.second, nullptr, &b);
    EXPECT_EQ(modes == std::make_pair(R, R) ? 0 : TLX_ID3_E_OPEN, rc);
    EXPECT_EQ(0, rc == 0 ? tlx_id3_destroy_context(&b) : 0);
    EXPECT_EQ(0, tlx_id3_destroy_context(&a));
  }
  // A backup reads through a second context while this process writes.
  tlx_id3_context writer, reader;
  ASSERT_EQ(0, tlx_id3_create_context(path.c_str(), W, nullptr, &writer));
  tlx_share_with_owner_begin();
  EXPECT_EQ(0, tlx_id3_create_context(path.c_str(), R, nullptr, &reader));
  tlx_share_with_owner_end();
  EXPECT_EQ(0, tlx_id3_destroy_context(&reader));
  EXPECT_EQ(0, tlx_id3_destroy_context(&writer));
}

TEST_F(Id3Context, SeekPastTheEndGrowsTheFileWithZeros) {
  const std::wstring path = Make(Bytes(40, 0x55));
  tlx_id3_context ctx;
  ASSERT_EQ(0, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_WRITE, nullptr, &ctx));
  EXPECT_EQ(40, tlx_id3_seek_content(&ctx, 100, 0));  // the end it found
  EXPECT_EQ(100, tlx_id3_seek_content(&ctx, 0, 1));
  EXPECT_EQ(20, tlx_id3_seek_content(&ctx, 20, 0));    // inside: no fill
  EXPECT_EQ(100, tlx_id3_seek_content(&ctx, 700, 0));  // 600 zeros, several steps
  // The write buffer goes where it belongs, past a gap of zeros.
  std::memcpy(ctx.work->write_buf, "AB", 2);
  ctx.work->write_len = 2;
  ctx.work->write_pos = 702;
  ctx.remaining = 5;
  EXPECT_EQ(0, tlx_id3_flush_content(&ctx));
  EXPECT_EQ(3u, ctx.remaining);
  ASSERT_EQ(0, tlx_id3_destroy_context(&ctx));
  EXPECT_EQ(Concat({Bytes(40, 0x55), Bytes(662, 0), Text("AB")}), ReadFile(dir_.File("a.mp3")));
}

// Everything the read queries answer, in one string.
std::string QueryAll(tlx_id3_context* ctx) {
  tlx_id3_v2_header h;
  tlx_id3_v2_extended_header ext;
  tlx_id3_v2_frame_header f;
  std::string out = Code(tlx_id3_v2_get_header(ctx, &h), h.size);
  out += " " + std::to_string(h.version) + " " + Frames(ctx) + " " + V1Fields(ctx);
  out += " " + Code(tlx_id3_v2_get_extended_header(ctx, &ext), 0);
  for (uint32_t i = 0; i < 40 && tlx_id3_v2_get_frame_header_by_index(ctx, i, &f) == 0 && f.id != 0; ++i) {
    uint32_t num = 0, offset = 0;
    out += " " + Code(tlx_id3_v2_get_frame_num(ctx, f.id, &num), num);
    for (uint32_t k = 0; k < num; ++k) {
      static uint8_t data[70000];
      uint32_t size = sizeof data;
      const int32_t rc = tlx_id3_v2_get_frame_data(ctx, f.id, k, &size, data);
      out += " " + Code(rc, size) + "@" + Code(tlx_id3_v2_get_frame_data_offset(ctx, f.id, k, &offset), offset);
      for (uint32_t b = 0; rc == 0 && b < size; b += 97) out += std::to_string(data[b]) + ",";
    }
  }
  uint8_t chunk[7] = {};
  uint32_t size = sizeof chunk;
  out += " " + Code(tlx_id3_v2_get_frame_data_init_by_index(ctx, 0), 0);
  out += " " + Code(tlx_id3_v2_get_frame_data_progress(ctx, &size, chunk), size) + ":";
  out += std::string(chunk, chunk + sizeof chunk);
  tlx_id3_v2_get_frame_data_fin(ctx);
  return out;
}

// The file's ends as the bytes have them.
std::string EndsOf(const Bytes& file) {
  const std::size_t head = std::min<std::size_t>(10, file.size());
  std::string out(file.begin(), file.begin() + head);
  if (file.size() >= 128 && std::equal(file.end() - 128, file.end() - 125, "TAG")) {
    out += "|" + std::string(file.end() - 128, file.end());
  }
  return out + "|" + std::to_string(file.size());
}

std::string EndsOf(tlx_id3_context* ctx) {
  tlx_id3_file_ends ends;
  if (tlx_id3_get_file_ends(ctx, &ends) != TLX_ID3_OK) return "failed";
  std::string out(ends.head, ends.head + ends.head_size);
  if (ends.has_trailer) out += "|" + std::string(ends.trailer, ends.trailer + 128);
  return out + "|" + std::to_string(ends.file_size);
}

// A read session answers as the file does, whatever the tag looks like, and
// after it the file is read where the content stands.
TEST_F(Id3Context, ReadSessionAnswersAsTheFileDoes) {
  const Bytes trailer = Id3v1("title", "artist", "", "2024", "", 3, 8);
  const Bytes rich = RichFrames23(9000);
  Bytes claims_more = Id3v2Tag(3, 0, rich);
  claims_more.resize(5000);
  const std::pair<const char*, Bytes> cases[] = {
      {"tag beyond the first block", Concat({Id3v2Tag(3, 0, rich), Audio(3000), trailer})},
      {"small tag", Concat({Id3v2Tag(3, 0, Frame23("TIT2", {0, 'x'})), Audio(50), trailer})},
      {"ID3v2.2", Concat({Id3v2Tag(2, 0, Frame22("TT2", {0, 'y'})), Audio(4000)})},
      {"unsynchronised", Concat({Id3v2Tag(3, 0x80, Concat({Frame23("TIT2", {0, 'a', 0xFF, 0x00, 'b'}),
                                                           Frame23("TPE1", {0, 0xFF, 0x00})})),
                                 Audio(100), trailer})},
      {"tag longer than the file", claims_more},
      {"no tag", Concat({Audio(9000), trailer})},
      {"shorter than a trailer", Bytes(60, 0xFF)},
      {"empty", Bytes()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const std::wstring path = Make(c.second, "s.mp3");
    tlx_id3_context plain, cached;
    ASSERT_EQ(0, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &plain));
    ASSERT_EQ(0, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &cached));
    const std::string expected = QueryAll(&plain);
    tlx_id3_read_session_begin(&cached);
    EXPECT_EQ(expected, QueryAll(&cached));
    EXPECT_EQ(expected, QueryAll(&cached));  // now from memory
    // Ends of files and positions out of range are no failures of the file.
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_take_content_failure(&plain));
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_take_content_failure(&cached));
    EXPECT_EQ(std::min<int32_t>(3, int32_t(c.second.size())), tlx_id3_position_content(&cached, 3, 0));
    tlx_id3_read_session_end(&cached);
    // The ends, from the session's bytes or read anew, leave the position.
    EXPECT_EQ(EndsOf(c.second), EndsOf(&cached));
    EXPECT_EQ(EndsOf(c.second), EndsOf(&plain));
    uint8_t byte = 0;
    if (c.second.size() > 3) {
      ASSERT_EQ(1, tlx_id3_read_content(&cached, &byte, 1));
      EXPECT_EQ(c.second[3], byte);
    }
    EXPECT_EQ(0, tlx_id3_destroy_context(&plain));
    EXPECT_EQ(0, tlx_id3_destroy_context(&cached));
  }
}

// A write inside a session changes what it answers: the trailer written is
// the trailer read, and a zero fill grows the length it reports.
TEST_F(Id3Context, WritesInsideAReadSessionAreSeen) {
  const std::wstring path = Make(Concat({Audio(300), Id3v1("old", "", "", "", "", 1, 2)}));
  tlx_id3_context ctx;
  ASSERT_EQ(0, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_WRITE, nullptr, &ctx));
  tlx_id3_read_session_begin(&ctx);
  EXPECT_EQ("old||||0|2|1", V1Fields(&ctx));
  ASSERT_EQ(0, tlx_id3_v1_set_title(&ctx, "new"));
  EXPECT_EQ("new||||0|2|1", V1Fields(&ctx));
  EXPECT_EQ(428, tlx_id3_seek_content(&ctx, 1000, 0));
  EXPECT_EQ(1000, tlx_id3_seek_content(&ctx, 0, 2));
  tlx_id3_read_session_end(&ctx);
  EXPECT_EQ(EndsOf(ReadFile(dir_.File("a.mp3"))), EndsOf(&ctx));  // not the old ends
  EXPECT_EQ(0, tlx_id3_destroy_context(&ctx));
  EXPECT_EQ(1000u, ReadFile(dir_.File("a.mp3")).size());
}

#if defined(TLX_FAULT_INJECTION)
class Id3ContextFault : public Id3Context {
 protected:
  void SetUp() override { tlx_fault_reset(); }
  void TearDown() override { tlx_fault_reset(); }
};

// A new file whose empty tag cannot be written is removed again.
TEST_F(Id3ContextFault, FailedCreationLeavesNoFile) {
  const struct {
    tlx_fault_op op;
    uint32_t nth;
    int32_t rc;
  } cases[] = {{TLX_FAULT_OPEN, 1, TLX_ID3_E_OPEN}, {TLX_FAULT_SEEK, 1, TLX_ID3_E_SEEK},
               {TLX_FAULT_WRITE, 1, TLX_ID3_E_WRITE}, {TLX_FAULT_WRITE, 3, TLX_ID3_E_WRITE}};
  for (const auto& c : cases) {
    const tlx_id3_v2_header header = NewTag(5000);
    tlx_id3_context ctx;
    tlx_fault_arm(c.op, c.nth);
    EXPECT_EQ(c.rc, tlx_id3_create_context(dir_.WFile("new.mp3").c_str(), TLX_ID3_MODE_CREATE, &header, &ctx));
    EXPECT_EQ(1, tlx_fault_fired());
    EXPECT_TRUE(ListDir(dir_.path()).empty()) << c.op << "#" << c.nth;
  }
}

TEST_F(Id3ContextFault, ContentFailures) {
  tlx_id3_context ctx;
  ASSERT_EQ(0, tlx_id3_create_context(Make(Bytes(40, 7)).c_str(), TLX_ID3_MODE_WRITE, nullptr, &ctx));
  tlx_fault_arm(TLX_FAULT_WRITE, 2);  // the second step of a zero fill
  EXPECT_EQ(-3, tlx_id3_seek_content(&ctx, 1000, 0));
  ctx.work->write_len = 1;
  tlx_fault_arm(TLX_FAULT_WRITE, 1);
  EXPECT_EQ(TLX_ID3_E_WRITE, tlx_id3_flush_content(&ctx));
  EXPECT_EQ(1u, ctx.work->write_len);  // still owed
  tlx_fault_arm(TLX_FAULT_CLOSE, 1);
  EXPECT_EQ(TLX_ID3_E_CLOSE, tlx_id3_destroy_context(&ctx));
  EXPECT_EQ(nullptr, ctx.work);  // freed all the same
}

// Outside a session every content operation is one call of the file layer;
// inside, the loads still pass the seam: a failed load fails the query that
// needed it, and the next query loads anew. The failure is kept until taken.
TEST_F(Id3ContextFault, ReadSessionLoadsPassTheSeam) {
  const std::wstring path = Make(Concat({Id3v2Tag(3, 0, RichFrames23(8000)), Audio(500),
                                         Id3v1("t", "", "", "", "", 1, 2)}));
  tlx_id3_context ctx;
  ASSERT_EQ(0, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &ctx));
  uint8_t buffer[8];
  tlx_fault_reset();
  tlx_id3_read_content(&ctx, buffer, 8);
  tlx_id3_seek_content(&ctx, 0, 0);
  EXPECT_EQ(1u, tlx_fault_calls(TLX_FAULT_READ));
  EXPECT_EQ(1u, tlx_fault_calls(TLX_FAULT_SEEK));
  for (tlx_fault_op op : {TLX_FAULT_READ, TLX_FAULT_SEEK}) {
    SCOPED_TRACE(op);
    uint32_t count = 0, again = 0;
    tlx_id3_read_session_begin(&ctx);
    tlx_fault_reset();
    ASSERT_EQ(0, tlx_id3_v2_get_frame_total_num(&ctx, &count));
    EXPECT_GT(tlx_fault_calls(op), 0u);
    tlx_fault_reset();
    ASSERT_EQ(0, tlx_id3_v2_get_frame_total_num(&ctx, &again));
    EXPECT_EQ(0u, tlx_fault_calls(op));  // from memory
    tlx_id3_read_session_end(&ctx);
    tlx_id3_read_session_begin(&ctx);
    tlx_fault_reset();
    tlx_fault_arm(op, 1);
    EXPECT_NE(0, tlx_id3_v2_get_frame_total_num(&ctx, &again));
    EXPECT_EQ(1, tlx_fault_fired());
    again = 0;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_total_num(&ctx, &again));
    EXPECT_EQ(count, again);
    tlx_id3_read_session_end(&ctx);
    EXPECT_EQ(TLX_ID3_E_READ, tlx_id3_take_content_failure(&ctx));
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_take_content_failure(&ctx));
    tlx_fault_arm(op, 1);
    EXPECT_EQ(-1, op == TLX_FAULT_READ ? tlx_id3_read_content(&ctx, buffer, 8) : tlx_id3_seek_content(&ctx, 0, 0));
    EXPECT_EQ(TLX_ID3_E_READ, tlx_id3_take_content_failure(&ctx));
  }
  EXPECT_EQ(0, tlx_id3_destroy_context(&ctx));
}

// After a session that read the tag, the head of the file costs no read and
// the trailer one; then neither.
TEST_F(Id3ContextFault, FileEndsReuseTheSession) {
  const Bytes file = Concat({Id3v2Tag(3, 0, RichFrames23(8000)), Audio(500),
                             Id3v1("t", "", "", "", "", 1, 2)});
  tlx_id3_context ctx;
  ASSERT_EQ(0, tlx_id3_create_context(Make(file).c_str(), TLX_ID3_MODE_READ, nullptr, &ctx));
  uint32_t count = 0;
  tlx_id3_read_session_begin(&ctx);
  ASSERT_EQ(0, tlx_id3_v2_get_frame_total_num(&ctx, &count));
  tlx_id3_read_session_end(&ctx);
  for (uint32_t reads : {1u, 0u}) {
    tlx_fault_reset();
    EXPECT_EQ(EndsOf(file), EndsOf(&ctx));
    EXPECT_EQ(reads, tlx_fault_calls(TLX_FAULT_READ));
  }
  EXPECT_EQ(0, tlx_id3_destroy_context(&ctx));
}
#endif

}  // namespace
}  // namespace tagkit_test
