// Writing text properties through CTagkit and the commit at Close: the
// frames as written, the ID3v1 trailer, and what stays unchanged.
#include <algorithm>

#include "tag_inspect.h"
#include "tagkit.h"
#include "tlx_system.h"

namespace {

using namespace tagkit_test;
using Puts = std::vector<std::pair<std::int32_t, Strings>>;

std::string Repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

class TagkitCommitTest : public SongFileTest {
 protected:
  void SetUp() override { tlx_set_thread_code_page(1252); }
  void TearDown() override { tlx_set_thread_code_page(1252); }
  // Opens the file for writing, puts each value, and closes.
  void Commit(const Puts& puts) {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    for (const auto& p : puts) ASSERT_EQ(S_OK, tag.PutString(p.first, p.second));
    ASSERT_EQ(S_OK, tag.Close());
  }
};

// Each put on a tag with a title, two artist frames, a genre and a trailer:
// the frames written in its place and the trailer's field (at v1At; 126 and
// 127 are the track and genre bytes; 0: not checked). The trailer's text is
// cut between characters, never inside one.
TEST_F(TagkitCommitTest, WrittenFramesAndTrailerFields) {
  const std::string e16 = Repeat("\xC3\xA9", 16), east10 = Repeat("\xE6\x9D\xB1", 10);
  const std::string longArtist = "An artist whose name is longer than thirty bytes";
  const struct {
    const char* name; std::int32_t id; Strings values; const char* frame; std::vector<Bytes> payloads;
    std::size_t v1At; std::string v1; int codePage = 1252;
  } cases[] = {
      {"title in UTF-16, the first string", PROPID_TITLE, {L"T\u00E9", L"B"}, "TIT2", {Enc1("T\xC3\xA9")}, 3, "T\xE9"},
      {"artist cut to 30 bytes", PROPID_ARTIST, {Widen(longArtist)}, "TPE1", {Enc1(longArtist)}, 33,
       longArtist.substr(0, 30)},
      {"album", PROPID_ALBUM, {L"Alb"}, "TALB", {Enc1("Alb")}, 63, "Alb"},
      {"empty text: an empty frame", PROPID_ALBUM, {L""}, "TALB", {Enc1("")}, 63, ""},
      {"track in the code page, low byte in the trailer", PROPID_TRACK, {L"300"}, "TRCK", {Enc0("300")}, 126, "\x2C"},
      {"numeric genre in the code page", PROPID_GENRE, {L"(17)Rock"}, "TCON", {Enc0("(17)Rock")}, 127, "\x11"},
      {"genre text in UTF-16", PROPID_GENRE, {L"Pop"}, "TCON", {Enc1("Pop")}, 127, "\x94"},
      {"isrc", PROPID_ISRC, {L"USABC0000001"}, "TSRC", {Enc1("USABC0000001")}, 0, ""},
      {"copyright", PROPID_COPYRIGHT, {L"\u00A9 2001"}, "TCOP", {Enc1("\xC2\xA9 2001")}, 0, ""},
      {"composer", PROPID_COMPOSER, {L"C"}, "TCOM", {Enc1("C")}, 0, ""},
      {"a link frame per url", PROPID_ARTIST_URL, {L"u1", L"", L"u2"}, "WOAR", {Text("u1"), Text("u2")}, 0, ""},
      {"deleting the artist", PROPID_ARTIST, {}, "TPE1", {}, 33, ""},
      {"deleting the genre", PROPID_GENRE, {}, "TCON", {}, 127, "\x94"},
      {"title in UTF-8", PROPID_TITLE, {Widen(e16)}, "TIT2", {Enc1(e16)}, 3, Repeat("\xC3\xA9", 15), 65001},
      {"album in UTF-8", PROPID_ALBUM, {Widen("ab" + east10)}, "TALB", {Enc1("ab" + east10)}, 63,
       "ab" + Repeat("\xE6\x9D\xB1", 9), 65001},
  };
  const Bytes original = TaggedFile(3, Concat({Frame23("TIT2", Enc0("t")), Frame23("TPE1", Enc0("a")),
                                               Frame23("TPE1", Enc0("b")), Frame23("TCON", Enc0("(3)"))}),
                                    Id3v1("t", "a", "old album", "", "", 1, 3));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(0, tlx_set_thread_code_page(c.codePage));
    Write(original);
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
      ASSERT_EQ(S_OK, tag.PutString(c.id, c.values));
      Strings cached;
      const bool present = !c.values.empty() && !c.values[0].empty();
      EXPECT_EQ(present ? S_OK : E_TAG_NO_VALUE, tag.GetString(c.id, cached));
      EXPECT_EQ(present ? c.values : Strings(), cached);
      EXPECT_EQ(original, Read());  // nothing reaches the file before the commit
      ASSERT_EQ(S_OK, tag.Close());
    }
    const Bytes file = Read();
    EXPECT_EQ(c.payloads, FramesWithId(file, c.frame));
    if (c.v1At != 0) { EXPECT_EQ(c.v1, V1Text(file, c.v1At, c.v1At < 126 ? 30 : 1)); }
    EXPECT_EQ(TagAudio(), AudioPart(file));
  }
}

// Non-ASCII text, surrogate pairs included, comes back as put, whatever the
// file had before; the tag keeps its version and the audio stays.
TEST_F(TagkitCommitTest, EveryTextPropertyRoundTripsInEachKindOfFile) {
  const Puts puts = {
      {PROPID_TITLE, {L"Caf\u00E9 \u6771\u4EAC \U0001F3B5"}}, {PROPID_TRACK, {L"12"}}, {PROPID_ISRC, {L"GB0000351"}},
      {PROPID_GENRE, {L"Bossa \u00D1ova"}}, {PROPID_COPYRIGHT, {L"\u2117 1999 \u0141\u00F3d\u017A"}},
      {PROPID_ALBUM, {L"\u0410\u043B\u044C\u0431\u043E\u043C"}}, {PROPID_ARTIST, {L"\u00C9dith \U00020BB7"}},
      {PROPID_COMPOSER, {L"\u4F5C\u66F2"}}, {PROPID_ARTIST_URL, {L"http://a.example/1", L"http://a.example/2"}},
  };
  const Bytes audio = Audio(2000);
  const struct { const char* name; Bytes file; Bytes audio; int version; } files[] = {
      {"ID3v2.3", Concat({Id3v2Tag(3, 0, Frame23("TIT2", Enc0("old"))), audio}), audio, 3},
      {"ID3v2.2", Concat({Id3v2Tag(2, 0, Frame22("TT2", Enc0("old"))), audio}), audio, 2},
      {"no tag", audio, audio, 3},
      {"ID3v1 only", Concat({audio, Id3v1("old", "", "", "", "", 1, 2)}), audio, 3},
      {"empty file", Bytes(), Bytes(), 3},
      {"only ID3", Text("ID3"), Text("ID3"), 3},
      {"shorter than a tag header", Audio(5), Audio(5), 3},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    Write(f.file);
    Commit(puts);
    const Bytes file = Read();
    EXPECT_EQ(f.version, file.at(3));
    EXPECT_EQ(1u, FramesWithId(file, f.version == 2 ? "TT2" : "TIT2").size());
    EXPECT_EQ(f.audio, AudioPart(file));
    CTagkit reader;
    ASSERT_EQ(S_OK, reader.Open(WPath(), 1));
    for (const auto& p : puts) {
      Strings out;
      EXPECT_EQ(S_OK, reader.GetString(p.first, out));
      EXPECT_EQ(p.second, out) << std::hex << p.first;
    }
  }
}

// The title frame is rewritten last and copied into the trailer, so that both
// tags agree; a title that cannot be decoded is left as it was. Frames the
// class does not know are kept; an extended header is dropped, its padding
// size and CRC would no longer match the rewritten tag.
TEST_F(TagkitCommitTest, CommitOfAnotherProperty) {
  const Bytes utf8Title = {3, 'C', 'a', 'f', 0xC3, 0xA9}, comm = Concat({{0}, Text("eng"), {0}, Text("c")});
  const Bytes loneSurrogates = {1, 0xFF, 0xFE, 'A', 0, 0x00, 0xDC, 0x3D, 0xD8, 0, 0};
  const struct { const char* name; Bytes file; Bytes title; std::string v1Title; } cases[] = {
      {"no title: an empty one", TaggedFile(3, Frame23("TALB", Enc0("x"))), Enc1(""), ""},
      {"the frame's title goes to the trailer",
       TaggedFile(3, Concat({Frame23("TIT2", Enc0("Frame title")), Frame23("TPE1", Enc0("a"))}),
                  Id3v1("Trailer title", "a", "", "", "", 1, 0)), Enc1("Frame title"), "Frame title"},
      {"undecodable title kept", TaggedFile(3, Frame23("TIT2", utf8Title)), utf8Title, ""},
      {"lone surrogates survive the rewrite", TaggedFile(3, Frame23("TIT2", loneSurrogates)), loneSurrogates, "A??"},
      {"undecodable title and its trailer kept",
       TaggedFile(3, Frame23("TIT2", utf8Title), Id3v1("V1 title", "", "", "", "", 1, 0)), utf8Title, "V1 title"},
      {"extended header", Concat({Id3v2Tag(3, 0x40, Concat({Be32(6), {0, 0}, Be32(0), Frame23("TIT2", Enc0("t")),
                                                            Frame23("TXXX", Enc0("keep")), Frame23("COMM", comm)})),
                                  TagAudio()}), Enc1("t"), "t"},
  };
  auto others = [](const Bytes& file) {
    auto frames = ReadFrames(file);
    frames.erase(std::remove_if(frames.begin(), frames.end(), [](const std::pair<std::string, Bytes>& f) {
                   return f.first == "TIT2" || f.first == "TPE1";
                 }), frames.end());
    return frames;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.file);
    Commit({{PROPID_ARTIST, {L"b"}}});
    const Bytes file = Read();
    EXPECT_EQ(std::vector<Bytes>{c.title}, FramesWithId(file, "TIT2"));
    if (c.title != utf8Title) { EXPECT_EQ("TIT2", ReadFrames(file).back().first); }
    EXPECT_EQ(c.v1Title, V1Text(file, 3));
    EXPECT_EQ("b", V1Text(file, 33));
    EXPECT_EQ(others(c.file), others(file));
    EXPECT_EQ(0, file[5] & 0x40);
    EXPECT_EQ(TagAudio(), AudioPart(file));
  }
}

TEST_F(TagkitCommitTest, RepeatedPutsLeaveOneFrame) {
  for (const Bytes& frames : {Frame23("TPE1", Enc0("a")), Frame23("TIT2", Enc0("old")),
                              Concat({Frame23("TIT2", Enc0("old1")), Frame23("TIT2", Enc0("old2"))}),
                              Frame23("TIT2", {3, 'u', 't', 'f'})}) {
    Write(TaggedFile(3, frames));
    Commit({{PROPID_TITLE, {L"first"}}, {PROPID_TITLE, {L"second"}}});
    EXPECT_EQ(std::vector<Bytes>{Enc1("second")}, FramesWithId(Read(), "TIT2"));
  }
}

}  // namespace
