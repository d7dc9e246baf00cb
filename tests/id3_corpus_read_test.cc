// Real-world files: every reading operation walks every corpus file, and the
// values read match what an independent reader (python3-mutagen, hex dumps)
// finds in them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine_file.h"

namespace tagkit_test {
namespace {

class CorpusFile {
 public:
  explicit CorpusFile(const std::string& relative) {
    std::memset(&ctx_, 0, sizeof ctx_);
    rc_ = tlx_id3_create_context(Widen(CorpusDir() + "/" + relative).c_str(),
                                 TLX_ID3_MODE_READ, nullptr, &ctx_);
  }
  ~CorpusFile() {
    if (rc_ == 0) tlx_id3_destroy_context(&ctx_);
  }
  int32_t rc() const { return rc_; }
  tlx_id3_context* ctx() { return &ctx_; }

 private:
  tlx_id3_context ctx_;
  int32_t rc_;
};

bool Allowed(int32_t rc) {
  return rc == 0 || rc == TLX_ID3_E_READ || rc == TLX_ID3_E_SEEK ||
         rc == TLX_ID3_E_UNSUPPORTED || rc == TLX_ID3_E_NOT_FOUND;
}

#define EXPECT_ALLOWED(call)                     \
  do {                                           \
    int32_t rc_ = (call);                        \
    EXPECT_TRUE(Allowed(rc_)) << #call << " " << rc_; \
  } while (0)

// Every reading operation over one open file; returns the frames visited.
uint32_t WalkEverything(tlx_id3_context* ctx) {
  tlx_id3_v2_header h;
  tlx_id3_v2_extended_header e;
  uint32_t n = 0, total = 0;
  EXPECT_ALLOWED(tlx_id3_v2_get_header(ctx, &h));
  EXPECT_EQ(tlx_id3_v2_get_header2(ctx, &h), 0);
  EXPECT_ALLOWED(tlx_id3_v2_get_extended_header(ctx, &e));
  int32_t padding_rc = tlx_id3_v2_get_padding_size(ctx, &n);
  EXPECT_TRUE(Allowed(padding_rc) || padding_rc == TLX_ID3_E_OPEN) << padding_rc;
  EXPECT_EQ(ctx->work->frame_list, nullptr);
  if (tlx_id3_v2_get_frame_total_num(ctx, &total) != 0) total = 0;
  std::map<uint32_t, uint32_t> seen;
  Bytes buffer(1 << 16);
  for (uint32_t i = 0; i <= total && i < 500; ++i) {
    tlx_id3_v2_frame_header f;
    int32_t rc = tlx_id3_v2_get_frame_header_by_index(ctx, i, &f);
    EXPECT_ALLOWED(rc);
    if (rc != 0 || f.id == 0) break;
    uint32_t occurrence = seen[f.id]++;
    EXPECT_ALLOWED(tlx_id3_v2_get_frame_num(ctx, f.id, &n));
    tlx_id3_v2_frame_header g;
    EXPECT_ALLOWED(tlx_id3_v2_get_frame_header(ctx, f.id, occurrence, &g));
    uint32_t size = static_cast<uint32_t>(buffer.size());
    EXPECT_ALLOWED(tlx_id3_v2_get_frame_data(ctx, f.id, occurrence, &size, buffer.data()));
    EXPECT_ALLOWED(tlx_id3_v2_get_frame_data_offset(ctx, f.id, occurrence, &n));
    if (tlx_id3_v2_get_frame_data_init_by_index(ctx, i) == 0) {
      for (int pieces = 0; pieces < 100000; ++pieces) {
        size = 1000;
        if (tlx_id3_v2_get_frame_data_progress(ctx, &size, buffer.data()) != 0 || size == 0) break;
      }
      EXPECT_EQ(tlx_id3_v2_get_frame_data_fin(ctx), 0);
    }
  }
  char text[31];
  int32_t year;
  uint32_t genre;
  uint8_t track;
  n = 30;
  EXPECT_ALLOWED(tlx_id3_v1_get_title(ctx, &n, text));
  n = 30;
  EXPECT_ALLOWED(tlx_id3_v1_get_comment(ctx, &n, text));
  EXPECT_ALLOWED(tlx_id3_v1_get_year(ctx, &year));
  EXPECT_ALLOWED(tlx_id3_v1_get_genre(ctx, &genre));
  EXPECT_ALLOWED(tlx_id3_v1_get_tracknumebr(ctx, &track));
  EXPECT_EQ(ctx->state, TLX_ID3_STATE_IDLE);
  return total;
}

TEST(Id3CorpusRead, EveryFileEveryOperation) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int files = 0;
  for (const char* sub : {"mutagen", "taglib"}) {
    for (const std::string& name : ListDir(CorpusDir() + "/" + sub)) {
      SCOPED_TRACE(std::string(sub) + "/" + name);
      CorpusFile file(std::string(sub) + "/" + name);
      ASSERT_EQ(file.rc(), 0);
      WalkEverything(file.ctx());
      ++files;
    }
  }
  EXPECT_GT(files, 40);
}

// Corpus tags with bytes of their headers and sizes changed at random, read
// through a writable context: every operation answers, none changes the file.
TEST(Id3CorpusRead, MutatedTags) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  std::mt19937 rng(2024);
  for (const char* name : {"mutagen/id3v23_unsynch.id3", "mutagen/id3v22-test.mp3",
                           "mutagen/silence-44-s.mp3", "taglib/compressed_id3_frame_invalid.mp3"}) {
    Bytes original = ReadFile(CorpusDir() + "/" + name);
    for (int round = 0; round < 60; ++round) {
      SCOPED_TRACE(testing::Message() << name << " round " << round);
      Bytes bytes = original;
      for (int k = 0; k < 4; ++k) {
        size_t at = rng() % std::min<size_t>(bytes.size(), 200);
        bytes[at] = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
      }
      if (round % 5 == 0) bytes.resize(rng() % bytes.size());
      EngineFile file(bytes, TLX_ID3_MODE_WRITE);
      ASSERT_EQ(file.open_rc(), 0);
      WalkEverything(file.ctx());
      ASSERT_EQ(file.Contents(), bytes);
    }
  }
}

// Frame counts and versions as python3-mutagen reports them (2.2 names are
// the original three-character ones). Where mutagen merges frames (two TPE1
// in silence-44-s), drops empty ones (vbri) or fills in ID3v1 values
// (bad-TYER-frame), the counts come from a hex dump of the frame headers.
TEST(Id3CorpusRead, VersionsAndFrameCounts) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  struct Case {
    const char* file;
    int32_t version;
    int32_t unsync;
    uint32_t total;
    const char* id;
    uint32_t count;
  } cases[] = {
      {"mutagen/id3v23_unsynch.id3", TLX_ID3_V23, 1, 5, "TLEN", 1},
      {"taglib/unsynch.id3", TLX_ID3_V23, 1, 5, "TRCK", 1},
      {"mutagen/id3v22-test.mp3", TLX_ID3_V22, 0, 10, "COM", 4},
      {"mutagen/too-short.mp3", TLX_ID3_V22, 0, 8, "COM", 3},
      {"taglib/id3v22-tda.mp3", TLX_ID3_V22, 0, 3, "TDA", 1},
      {"taglib/itunes10.mp3", TLX_ID3_V22, 0, 23, "COM", 2},
      {"mutagen/silence-44-s.mp3", TLX_ID3_V23, 0, 9, "TPE1", 2},
      {"taglib/duplicate_id3v2.mp3", TLX_ID3_V23, 0, 10, "PRIV", 7},
      {"mutagen/bad-xing.mp3", TLX_ID3_V23, 0, 11, "TXXX", 4},
      {"mutagen/vbri.mp3", TLX_ID3_V23, 0, 12, "COMM", 1},
      {"taglib/lame_cbr.mp3", TLX_ID3_V23, 0, 2, "TXXX", 2},
      {"mutagen/97-unknown-23-update.mp3", TLX_ID3_V23, 0, 2, "TPE1", 1},
      {"mutagen/bad-TYER-frame.mp3", TLX_ID3_V23, 0, 2, "TYER", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CorpusFile file(c.file);
    ASSERT_EQ(file.rc(), 0);
    tlx_id3_v2_header h;
    ASSERT_EQ(tlx_id3_v2_get_header(file.ctx(), &h), 0);
    EXPECT_EQ(h.version, c.version);
    EXPECT_EQ(h.unsync, c.unsync);
    uint32_t n = 0;
    ASSERT_EQ(tlx_id3_v2_get_frame_total_num(file.ctx(), &n), 0);
    EXPECT_EQ(n, c.total);
    uint32_t id = TLX_ID3_FRAME_ID(c.id[0], c.id[1], c.id[2], c.id[3]);
    ASSERT_EQ(tlx_id3_v2_get_frame_num(file.ctx(), id, &n), 0);
    EXPECT_EQ(n, c.count);
  }
}

Bytes Utf16Le(const std::string& ascii) {
  Bytes out = {1, 0xFF, 0xFE};
  for (char ch : ascii) {
    out.push_back(static_cast<uint8_t>(ch));
    out.push_back(0);
  }
  return out;
}

// Text frame values as python3-mutagen decodes them.
TEST(Id3CorpusRead, TextFrameData) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  struct Case {
    const char* file;
    const char* id;
    Bytes expected;  // leading bytes of the data
  } cases[] = {
      {"mutagen/id3v23_unsynch.id3", "TIT2", Utf16Le("My babe just cares for me")},
      {"taglib/unsynch.id3", "TPE1", Utf16Le("Nina Simone")},
      {"mutagen/id3v23_unsynch.id3", "TALB", Utf16Le("100% Jazz")},
      {"mutagen/id3v23_unsynch.id3", "TRCK", Utf16Le("03")},
      {"mutagen/id3v22-test.mp3", "TT2", Concat({{0}, Text("cosmic american")})},
      {"mutagen/id3v22-test.mp3", "TP1", Concat({{0}, Text("Anais Mitchell")})},
      {"mutagen/too-short.mp3", "TT2", Concat({{0}, Text("Track 10")})},
      {"mutagen/silence-44-s.mp3", "TPE1", Concat({{0}, Text("piman")})},
      {"taglib/duplicate_id3v2.mp3", "TIT2", Utf16Le("TitleXXXX")},
      {"mutagen/vbri.mp3", "TIT2", Utf16Le("I Can Walk On Water I Can Fly")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.id);
    CorpusFile file(c.file);
    Bytes data(4096);
    uint32_t size = static_cast<uint32_t>(data.size());
    uint32_t id = TLX_ID3_FRAME_ID(c.id[0], c.id[1], c.id[2], c.id[3]);
    ASSERT_EQ(tlx_id3_v2_get_frame_data(file.ctx(), id, 0, &size, data.data()), 0);
    ASSERT_GE(size, c.expected.size());
    EXPECT_EQ(Bytes(data.begin(), data.begin() + c.expected.size()), c.expected);
    // Whatever follows the text is its terminator.
    for (uint32_t i = static_cast<uint32_t>(c.expected.size()); i < size; ++i) EXPECT_EQ(data[i], 0);
  }
}

TEST(Id3CorpusRead, DamagedAndForeignTags) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  // ID3v2.4 (and extended-header 2.4) tags are refused; header2 answers an
  // empty ID3v2.3 tag.
  for (const char* name : {"mutagen/id3v24_extended_header.id3", "taglib/extended-header.mp3",
                           "taglib/compressed_id3_frame.mp3", "taglib/unsynch24.id3",
                           "mutagen/issue_21.id3"}) {
    SCOPED_TRACE(name);
    CorpusFile file(name);
    tlx_id3_v2_header h;
    EXPECT_EQ(tlx_id3_v2_get_header(file.ctx(), &h), TLX_ID3_E_UNSUPPORTED);
    EXPECT_EQ(h.version, TLX_ID3_V24);
    EXPECT_EQ(tlx_id3_v2_get_header2(file.ctx(), &h), 0);
    EXPECT_EQ(h.version, TLX_ID3_V23);
    EXPECT_EQ(h.size, 0);
    uint32_t n = 9;
    EXPECT_EQ(tlx_id3_v2_get_frame_num(file.ctx(), TLX_ID3_FRAME_ID('T', 'I', 'T', '2'), &n), 0);
    EXPECT_EQ(n, 0u);
  }
  // No tag at all, and an empty file.
  CorpusFile none("mutagen/no-tags.mp3");
  tlx_id3_v2_header h;
  EXPECT_EQ(tlx_id3_v2_get_header(none.ctx(), &h), TLX_ID3_E_NOT_FOUND);
  CorpusFile empty("mutagen/emptyfile.mp3");
  EXPECT_EQ(tlx_id3_v2_get_header(empty.ctx(), &h), TLX_ID3_E_READ);
  uint8_t track;
  EXPECT_EQ(tlx_id3_v1_get_tracknumebr(empty.ctx(), &track), TLX_ID3_E_SEEK);

  // A compressed APIC frame in a tag that claims more than the file holds
  // (hex dump: size 0x105D, format flag 0x80, decompressed size 0x9B).
  CorpusFile compressed("taglib/compressed_id3_frame_invalid.mp3");
  tlx_id3_v2_frame_header f;
  ASSERT_EQ(tlx_id3_v2_get_frame_header_by_index(compressed.ctx(), 0, &f), 0);
  EXPECT_EQ(f.id, TLX_ID3_FRAME_ID('A', 'P', 'I', 'C'));
  EXPECT_EQ(f.compression, 1);
  EXPECT_EQ(f.decompressed_size, 0x9Bu);
  EXPECT_EQ(f.size, 0x105Du - 4);
  // The data is handed out as stored: the zlib stream starts 78 9C.
  uint8_t head[2];
  uint32_t size = 2;
  ASSERT_EQ(tlx_id3_v2_get_frame_data(compressed.ctx(), f.id, 0, &size, head), 0);
  EXPECT_EQ(head[0], 0x78);
  EXPECT_EQ(head[1], 0x9C);

  // A 2.3 tag declaring 805 bytes in a 512-byte file (hex dump: COMM, TBPM,
  // TCON, then zeros).
  CorpusFile w000("taglib/w000.mp3");
  ASSERT_EQ(tlx_id3_v2_get_frame_header_by_index(w000.ctx(), 1, &f), 0);
  EXPECT_EQ(f.id, TLX_ID3_FRAME_ID('T', 'B', 'P', 'M'));
  EXPECT_EQ(f.size, 4u);
}

// ID3v1 fields as a hex dump of the last 128 bytes shows them.
TEST(Id3CorpusRead, Id3v1Trailers) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  struct Case {
    const char* file;
    const char* title;
    const char* comment;
    int32_t year;
    uint32_t genre;
    int track;
  } cases[] = {
      {"mutagen/silence-44-s-v1.mp3", "Silence", "", 2004, 50, 2},
      {"mutagen/id3v1v2-combined.mp3", "cosmic american", "v1 comment", 1337, 255, 3},
      {"mutagen/bad-TYER-frame.mp3", "bad-TYER-frame.mp3", "http://mp3splt.sf.net", 0, 255, 0},
      {"taglib/rare_frames.mp3", "", " 00000000 00000000 00000000 ", 0, 13, 0},
      {"mutagen/apev2-lyricsv2.mp3", "A song   ", "", 0, 35, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    CorpusFile file(c.file);
    char text[31];
    uint32_t n = 30;
    ASSERT_EQ(tlx_id3_v1_get_title(file.ctx(), &n, text), 0);
    EXPECT_STREQ(text, c.title);
    n = 30;
    ASSERT_EQ(tlx_id3_v1_get_comment(file.ctx(), &n, text), 0);
    EXPECT_STREQ(text, c.comment);
    int32_t year = -1;
    uint32_t genre = 0;
    uint8_t track = 0xEE;
    EXPECT_EQ(tlx_id3_v1_get_year(file.ctx(), &year), 0);
    EXPECT_EQ(year, c.year);
    EXPECT_EQ(tlx_id3_v1_get_genre(file.ctx(), &genre), 0);
    EXPECT_EQ(genre, c.genre);
    EXPECT_EQ(tlx_id3_v1_get_tracknumebr(file.ctx(), &track), 0);
    EXPECT_EQ(track, c.track);
  }
}

}  // namespace
}  // namespace tagkit_test
