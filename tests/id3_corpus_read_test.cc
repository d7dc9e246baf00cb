// Real-world files: every reading operation walks every corpus file, and the
// values read match what independent readers (python3-mutagen, hex dumps)
// find in them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "engine_file.h"
#include "tag_inspect.h"

namespace tagkit_test {
namespace {

#define SKIP_WITHOUT_CORPUS() \
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus"

std::string Corpus(const std::string& name) { return CorpusDir() + "/" + name; }

bool Allowed(int32_t rc) {
  return rc == 0 || rc == TLX_ID3_E_READ || rc == TLX_ID3_E_SEEK || rc == TLX_ID3_E_UNSUPPORTED ||
         rc == TLX_ID3_E_NOT_FOUND || rc == TLX_ID3_E_CORRUPT;
}
#define EXPECT_ALLOWED(call) EXPECT_PRED1(Allowed, call)

// Every reading operation over one open file answers a code that belongs to
// it, and leaves the context idle without a frame list.
void WalkEverything(tlx_id3_context* ctx) {
  tlx_id3_v2_header h;
  tlx_id3_v2_extended_header e;
  uint32_t n = 0, total = 0;
  char text[31];
  int32_t year;
  uint8_t track;
  EXPECT_ALLOWED(tlx_id3_v2_get_header(ctx, &h));
  EXPECT_EQ(0, tlx_id3_v2_get_header2(ctx, &h));
  EXPECT_ALLOWED(tlx_id3_v2_get_extended_header(ctx, &e));
  const int32_t padding = tlx_id3_v2_get_padding_size(ctx, &n);
  EXPECT_TRUE(Allowed(padding) || padding == TLX_ID3_E_OPEN) << padding;
  if (tlx_id3_v2_get_frame_total_num(ctx, &total) != 0) total = 0;
  std::map<uint32_t, uint32_t> seen;
  Bytes buffer(1 << 16);
  for (uint32_t i = 0; i <= total && i < 500; ++i) {
    tlx_id3_v2_frame_header f, g;
    const int32_t rc = tlx_id3_v2_get_frame_header_by_index(ctx, i, &f);
    EXPECT_ALLOWED(rc);
    if (rc != 0 || f.id == 0) break;
    const uint32_t occurrence = seen[f.id]++;
    uint32_t size = uint32_t(buffer.size());
    EXPECT_ALLOWED(tlx_id3_v2_get_frame_num(ctx, f.id, &n));
    EXPECT_ALLOWED(tlx_id3_v2_get_frame_header(ctx, f.id, occurrence, &g));
    EXPECT_ALLOWED(tlx_id3_v2_get_frame_data(ctx, f.id, occurrence, &size, buffer.data()));
    EXPECT_ALLOWED(tlx_id3_v2_get_frame_data_offset(ctx, f.id, occurrence, &n));
    if (tlx_id3_v2_get_frame_data_init_by_index(ctx, i) == 0) {
      for (int pieces = 0; pieces < 100000; ++pieces) {
        size = 1000;
        if (tlx_id3_v2_get_frame_data_progress(ctx, &size, buffer.data()) != 0 || size == 0) break;
      }
      EXPECT_EQ(0, tlx_id3_v2_get_frame_data_fin(ctx));
    }
  }
  n = 30;
  EXPECT_ALLOWED(tlx_id3_v1_get_comment(ctx, &n, text));
  EXPECT_ALLOWED(tlx_id3_v1_get_year(ctx, &year));
  EXPECT_ALLOWED(tlx_id3_v1_get_tracknumebr(ctx, &track));
  EXPECT_EQ(TLX_ID3_STATE_IDLE, ctx->state);
  EXPECT_EQ(nullptr, ctx->work->frame_list);
}

TEST(Id3Corpus, EveryFileEveryOperation) {
  SKIP_WITHOUT_CORPUS();
  int files = 0;
  for (const char* sub : {"mutagen", "taglib"}) {
    for (const std::string& name : ListDir(Corpus(sub))) {
      SCOPED_TRACE(std::string(sub) + "/" + name);
      Context file(Corpus(std::string(sub) + "/" + name), TLX_ID3_MODE_READ);
      ASSERT_EQ(0, file.open_rc());
      WalkEverything(file.get());
      ASSERT_EQ(0, tlx_id3_set_options(file.get(), TLX_ID3_OPTION_V24));
      WalkEverything(file.get());
      ++files;
    }
  }
  EXPECT_GT(files, 40);
}

// Every ID3v2.4 file that python3-mutagen reads: the engine walks the same
// frames. mutagen drops empty frames and frames it cannot parse (hex dumps:
// a WXXX of two zero bytes, a COMM without its text), which the engine
// lists as they are.
TEST(Id3Corpus, V24FramesAsMutagenReadsThem) {
  SKIP_WITHOUT_CORPUS();
  const std::string python = MutagenPython();
  if (python.empty()) GTEST_SKIP() << "python3 with mutagen not found";
  const char kIds[] = R"PY(
import os, sys
from mutagen.id3 import ID3
for sub in ('mutagen', 'taglib'):
    for name in sorted(os.listdir(os.path.join(sys.argv[1], sub))):
        path = os.path.join(sys.argv[1], sub, name)
        with open(path, 'rb') as f:
            if f.read(4) != b'ID3\x04':
                continue
        try:
            tag = ID3(path, translate=False, load_v1=False)
        except Exception:
            continue
        ids = [frame.FrameID for frame in tag.values()] + [bytes(raw[:4]).decode() for raw in tag.unknown_frames]
        print(sub + '/' + name + ' ' + ' '.join(sorted(ids)))
)PY";
  const std::vector<std::string> lines = RunPython(python, kIds, CorpusDir());
  for (const std::string& line : lines) {
    const std::string name = line.substr(0, line.find(' '));
    SCOPED_TRACE(name);
    Context file(Corpus(name), TLX_ID3_MODE_READ);
    ASSERT_EQ(0, tlx_id3_set_options(file.get(), TLX_ID3_OPTION_V24));
    uint32_t total = 0;
    ASSERT_EQ(0, tlx_id3_v2_get_frame_total_num(file.get(), &total));
    std::vector<std::string> ids;
    for (uint32_t i = 0; i < total; ++i) {
      tlx_id3_v2_frame_header f;
      ASSERT_EQ(0, tlx_id3_v2_get_frame_header_by_index(file.get(), i, &f));
      if (f.size > 0) ids.push_back({char(f.id >> 24), char(f.id >> 16), char(f.id >> 8), char(f.id)});
    }
    const std::map<std::string, std::string> unparsed = {{"mutagen/bad-POPM-frame.mp3", "WXXX"},
                                                         {"taglib/005411.id3", "COMM"}};
    if (unparsed.count(name)) ids.erase(std::find(ids.begin(), ids.end(), unparsed.at(name)));
    std::sort(ids.begin(), ids.end());
    std::string walked = name;
    for (const std::string& id : ids) walked += " " + id;
    EXPECT_EQ(line, walked);
  }
  EXPECT_GE(lines.size(), 9u);
}

// Corpus tags with bytes of their headers changed at random, read through a
// writable context: every operation answers, none changes the file.
TEST(Id3Corpus, MutatedTags) {
  SKIP_WITHOUT_CORPUS();
  std::mt19937 rng(2024);
  for (const char* name : {"mutagen/id3v23_unsynch.id3", "mutagen/id3v22-test.mp3", "mutagen/silence-44-s.mp3",
                           "taglib/compressed_id3_frame_invalid.mp3"}) {
    const Bytes original = ReadFile(Corpus(name));
    for (int round = 0; round < 60; ++round) {
      SCOPED_TRACE(testing::Message() << name << " round " << round);
      Bytes bytes = original;
      for (int k = 0; k < 4; ++k) {
        bytes[rng() % std::min<size_t>(bytes.size(), 200)] = uint8_t(rng() % 3 == 0 ? 0xFF : rng());
      }
      if (round % 5 == 0) bytes.resize(rng() % bytes.size());
      EngineFile file(bytes, TLX_ID3_MODE_WRITE);
      ASSERT_EQ(0, file.open_rc());
      WalkEverything(file.ctx());
      ASSERT_EQ(bytes, file.Contents());
    }
  }
}

// Versions and frame counts as python3-mutagen reports them (ID3v2.2 with
// the original three-character names). Where mutagen merges frames (two TPE1
// in silence-44-s), drops empty ones (vbri) or fills in ID3v1 values
// (bad-TYER-frame), the counts come from a hex dump of the frame headers.
TEST(Id3Corpus, VersionsAndFrameCounts) {
  SKIP_WITHOUT_CORPUS();
  const struct {
    const char* file;
    int32_t version, unsync;
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
  for (const auto& c : cases) {
    Context file(Corpus(c.file), TLX_ID3_MODE_READ);
    tlx_id3_v2_header h;
    uint32_t total = 0, count = 0;
    EXPECT_EQ(0, tlx_id3_v2_get_header(file.get(), &h) + tlx_id3_v2_get_frame_total_num(file.get(), &total) +
                     tlx_id3_v2_get_frame_num(file.get(), Id(c.id), &count));
    EXPECT_EQ(std::vector<uint32_t>({uint32_t(c.version), uint32_t(c.unsync), c.total, c.count}),
              std::vector<uint32_t>({uint32_t(h.version), uint32_t(h.unsync), total, count}))
        << c.file;
  }
}

Bytes Latin1(const char* text) { return Concat({{0}, Text(text)}); }
Bytes Utf16(const char* ascii) {
  Bytes out = {1, 0xFF, 0xFE};
  for (const char* p = ascii; *p; ++p) out.insert(out.end(), {uint8_t(*p), 0});
  return out;
}

// Text frame values as python3-mutagen decodes them: the data begins with
// them, and only the terminator follows.
TEST(Id3Corpus, TextFrameData) {
  SKIP_WITHOUT_CORPUS();
  const struct {
    const char* file;
    const char* id;
    Bytes expected;
  } cases[] = {
      {"mutagen/id3v23_unsynch.id3", "TIT2", Utf16("My babe just cares for me")},
      {"mutagen/id3v23_unsynch.id3", "TALB", Utf16("100% Jazz")},
      {"taglib/unsynch.id3", "TPE1", Utf16("Nina Simone")},
      {"mutagen/id3v22-test.mp3", "TT2", Latin1("cosmic american")},
      {"mutagen/too-short.mp3", "TT2", Latin1("Track 10")},
      {"mutagen/silence-44-s.mp3", "TPE1", Latin1("piman")},
      {"taglib/duplicate_id3v2.mp3", "TIT2", Utf16("TitleXXXX")},
      {"mutagen/vbri.mp3", "TIT2", Utf16("I Can Walk On Water I Can Fly")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.id);
    Context file(Corpus(c.file), TLX_ID3_MODE_READ);
    Bytes data(4096);
    uint32_t size = uint32_t(data.size());
    ASSERT_EQ(0, tlx_id3_v2_get_frame_data(file.get(), Id(c.id), 0, &size, data.data()));
    ASSERT_GE(size, c.expected.size());
    data.resize(size);
    EXPECT_EQ(c.expected, Bytes(data.begin(), data.begin() + c.expected.size()));
    EXPECT_EQ(Bytes(size - c.expected.size(), 0), Bytes(data.begin() + c.expected.size(), data.end()));
  }
}

TEST(Id3Corpus, DamagedAndForeignTags) {
  SKIP_WITHOUT_CORPUS();
  // ID3v2.4 tags are refused; header2 answers an empty ID3v2.3 tag.
  for (const char* name : {"mutagen/id3v24_extended_header.id3", "taglib/extended-header.mp3",
                           "taglib/compressed_id3_frame.mp3", "taglib/unsynch24.id3", "mutagen/issue_21.id3"}) {
    SCOPED_TRACE(name);
    Context file(Corpus(name), TLX_ID3_MODE_READ);
    tlx_id3_v2_header h;
    EXPECT_EQ(TLX_ID3_E_UNSUPPORTED, tlx_id3_v2_get_header(file.get(), &h));
    EXPECT_EQ(TLX_ID3_V24, h.version);
    EXPECT_EQ(0, tlx_id3_v2_get_header2(file.get(), &h));
    EXPECT_EQ(TLX_ID3_V23, h.version);
    EXPECT_EQ(0, h.size);
    uint32_t n = 9;
    EXPECT_EQ(0, tlx_id3_v2_get_frame_num(file.get(), Id("TIT2"), &n));
    EXPECT_EQ(0u, n);
  }
  tlx_id3_v2_header h;
  Context none(Corpus("mutagen/no-tags.mp3"), TLX_ID3_MODE_READ);
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_id3_v2_get_header(none.get(), &h));
  Context empty(Corpus("mutagen/emptyfile.mp3"), TLX_ID3_MODE_READ);
  EXPECT_EQ(TLX_ID3_E_READ, tlx_id3_v2_get_header(empty.get(), &h));
  uint8_t track;
  EXPECT_EQ(TLX_ID3_E_SEEK, tlx_id3_v1_get_tracknumebr(empty.get(), &track));

  // A compressed APIC in a tag that claims more than the file holds (hex
  // dump: size 0x105D, format flag 0x80, decompressed size 0x9B), handed out
  // as stored: the zlib stream starts 78 9C.
  Context compressed(Corpus("taglib/compressed_id3_frame_invalid.mp3"), TLX_ID3_MODE_READ);
  tlx_id3_v2_frame_header f;
  ASSERT_EQ(0, tlx_id3_v2_get_frame_header_by_index(compressed.get(), 0, &f));
  EXPECT_EQ(Id("APIC"), f.id);
  EXPECT_EQ(1, f.compression);
  EXPECT_EQ(0x9Bu, f.decompressed_size);
  EXPECT_EQ(0x105Du - 4, f.size);
  uint8_t head[2];
  uint32_t size = 2;
  ASSERT_EQ(0, tlx_id3_v2_get_frame_data(compressed.get(), f.id, 0, &size, head));
  EXPECT_EQ(0x78, head[0]);
  EXPECT_EQ(0x9C, head[1]);
  // An ID3v2.3 tag declaring 805 bytes in a 512-byte file (hex dump: COMM,
  // TBPM, TCON, then zeros).
  Context w000(Corpus("taglib/w000.mp3"), TLX_ID3_MODE_READ);
  ASSERT_EQ(0, tlx_id3_v2_get_frame_header_by_index(w000.get(), 1, &f));
  EXPECT_EQ(Id("TBPM"), f.id);
  EXPECT_EQ(4u, f.size);
}

// ID3v1 fields as a hex dump of the last 128 bytes shows them.
TEST(Id3Corpus, Id3v1Trailers) {
  SKIP_WITHOUT_CORPUS();
  const std::pair<const char*, const char*> cases[] = {
      {"mutagen/silence-44-s-v1.mp3", "Silence|piman|Quod Libet Test Data||2004|50|2"},
      {"mutagen/id3v1v2-combined.mp3", "cosmic american|Anais Mitchell|Hymns for the Exiled|v1 comment|1337|255|3"},
      {"mutagen/bad-TYER-frame.mp3",
       "bad-TYER-frame.mp3|From 1.01 To 1.02|Splitted by Mp3Splt v. 2.1|http://mp3splt.sf.net|0|255|0"},
      {"taglib/rare_frames.mp3", "||| 00000000 00000000 00000000 |0|13|0"},
      {"mutagen/apev2-lyricsv2.mp3", "A song   |Auth|||0|35|0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.second, V1Fields(Context(Corpus(c.first), TLX_ID3_MODE_READ).get())) << c.first;
  }
}

}  // namespace
}  // namespace tagkit_test
