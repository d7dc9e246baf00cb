// Writing text properties through CTagkit and the commit at Close: the
// frames as written, the ID3v1 trailer, and what stays unchanged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tag_inspect.h"
#include "tagkit.h"
#include "test_support.h"
#include "tlx_system.h"

namespace {

using tagkit_test::Audio;
using tagkit_test::Bytes;
using tagkit_test::Concat;
using tagkit_test::FramesWithId;
using tagkit_test::Frame22;
using tagkit_test::Frame23;
using tagkit_test::Id3v1;
using tagkit_test::Id3v2Tag;
using tagkit_test::ReadFile;
using tagkit_test::Text;
using tagkit_test::Utf16Le;
using tagkit_test::V1Text;
using tagkit_test::Id3v1Part;
using Strings = std::vector<std::wstring>;

Bytes Enc0(const std::string& text) { return Concat({{0}, Text(text), {0}}); }
Bytes Enc1(const std::string& utf8) { return Concat({{1, 0xFF, 0xFE}, Utf16Le(utf8), {0, 0}}); }

class CommitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tlx_set_thread_code_page(1252);
    path_ = dir_.File("song.mp3");
  }

  void Write(const Bytes& bytes) { tagkit_test::WriteFile(path_, bytes); }
  Bytes Read() const { return ReadFile(path_); }
  void OpenForEdit() { ASSERT_EQ(S_OK, tag_.Open(tagkit_test::Widen(path_), 2)); }
  void Put(std::int32_t id, const Strings& values) { ASSERT_EQ(S_OK, tag_.PutString(id, values)); }
  void Commit() { ASSERT_EQ(S_OK, tag_.Close()); }
  // Reopens the file and reads one property; empty when absent.
  Strings ReadBack(std::int32_t id) {
    CTagkit reader;
    EXPECT_EQ(S_OK, reader.Open(tagkit_test::Widen(path_), 1));
    Strings out;
    reader.GetString(id, out);
    return out;
  }

  tagkit_test::TempDir dir_;
  std::string path_;
  CTagkit tag_;
};

TEST_F(CommitTest, TitleIsWrittenAsUtf16AndOnlyItsFirstString) {
  const Bytes audio = Audio(3000);
  Write(Concat({Id3v2Tag(3, 0, Frame23("TPE1", Enc0("Artist"))), audio}));
  OpenForEdit();
  Put(PROPID_TITLE, {L"A", L"B"});
  Strings cached;
  ASSERT_EQ(S_OK, tag_.GetString(PROPID_TITLE, cached));
  EXPECT_EQ((Strings{L"A", L"B"}), cached);
  // Nothing reaches the file before the commit.
  EXPECT_TRUE(FramesWithId(Read(), "TIT2").empty());
  Commit();

  const Bytes file = Read();
  EXPECT_EQ(std::vector<Bytes>{Bytes({1, 0xFF, 0xFE, 'A', 0, 0, 0})}, FramesWithId(file, "TIT2"));
  EXPECT_EQ(std::vector<Bytes>{Enc0("Artist")}, FramesWithId(file, "TPE1"));
  EXPECT_EQ("A", V1Text(Id3v1Part(file), 3));
  EXPECT_EQ(audio, tagkit_test::AudioPart(file));
}

TEST_F(CommitTest, PayloadsOfWrittenFrames) {
  struct Case {
    const char* name;
    std::int32_t id;
    Strings values;
    const char* frame;
    std::vector<Bytes> payloads;
  };
  const Case cases[] = {
      {"track in the code page", PROPID_TRACK, {L"7"}, "TRCK", {Bytes({0, '7', 0})}},
      {"numeric genre in the code page", PROPID_GENRE, {L"(13)"}, "TCON", {Enc0("(13)")}},
      {"genre text in utf-16", PROPID_GENRE, {L"Pop"}, "TCON", {Enc1("Pop")}},
      {"isrc", PROPID_ISRC, {L"USABC0000001"}, "TSRC", {Enc1("USABC0000001")}},
      {"copyright", PROPID_COPYRIGHT, {L"\u00A9 2001"}, "TCOP", {Enc1("\xC2\xA9 2001")}},
      {"composer", PROPID_COMPOSER, {L"C"}, "TCOM", {Enc1("C")}},
      {"album", PROPID_ALBUM, {L"Alb"}, "TALB", {Enc1("Alb")}},
      {"artist", PROPID_ARTIST, {L"Art"}, "TPE1", {Enc1("Art")}},
      {"one link frame per url, no encoding byte", PROPID_ARTIST_URL, {L"u1", L"u2"}, "WOAR",
       {Text("u1"), Text("u2")}},
      {"empty urls are skipped", PROPID_ARTIST_URL, {L"", L"u2"}, "WOAR", {Text("u2")}},
      {"an empty text is an empty frame", PROPID_ALBUM, {L""}, "TALB", {Bytes({1, 0xFF, 0xFE, 0, 0})}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(Concat({Id3v2Tag(3, 0, Frame23("TIT2", Enc0("t"))), Audio(500)}));
    OpenForEdit();
    Put(c.id, c.values);
    Commit();
    EXPECT_EQ(c.payloads, FramesWithId(Read(), c.frame));
  }
}

TEST_F(CommitTest, Id3v1FieldsFollowThePuts) {
  Write(Concat({Id3v2Tag(3, 0, Frame23("TIT2", Enc0("t"))), Audio(500)}));
  OpenForEdit();
  Put(PROPID_TITLE, {L"T\u00E9"});
  Put(PROPID_ARTIST, {L"An artist whose name is longer than thirty bytes"});
  Put(PROPID_ALBUM, {L"Alb"});
  Put(PROPID_GENRE, {L"(17)Rock"});
  Put(PROPID_TRACK, {L"300"});
  Put(PROPID_COMPOSER, {L"not in ID3v1"});
  Commit();
  const Bytes v1 = Id3v1Part(Read());
  ASSERT_EQ(128u, v1.size());
  EXPECT_EQ("T\xE9", V1Text(v1, 3));
  EXPECT_EQ("An artist whose name is longer", V1Text(v1, 33));
  EXPECT_EQ("Alb", V1Text(v1, 63));
  EXPECT_EQ(0, v1[125]);
  EXPECT_EQ(300 & 0xFF, v1[126]);
  EXPECT_EQ(17, v1[127]);
}

TEST_F(CommitTest, Id3v1FieldsAreCutBetweenCharacters) {
  ASSERT_EQ(0, tlx_set_thread_code_page(65001));
  Write(Concat({Id3v2Tag(3, 0, Frame23("TIT2", Enc0("t"))), Audio(500)}));
  OpenForEdit();
  Put(PROPID_TITLE, {std::wstring(16, L'\u00E9')});         // 32 bytes in UTF-8
  Put(PROPID_ALBUM, {L"ab" + std::wstring(10, L'\u6771')});  // 2 + 30 bytes
  Commit();
  tlx_set_thread_code_page(1252);
  const Bytes v1 = Id3v1Part(Read());
  std::string title;
  for (int i = 0; i < 15; ++i) title += "\xC3\xA9";
  EXPECT_EQ(title, V1Text(v1, 3));
  std::string album = "ab";
  for (int i = 0; i < 9; ++i) album += "\xE6\x9D\xB1";
  EXPECT_EQ(album, V1Text(v1, 63));
}

TEST_F(CommitTest, DeletingWithAnEmptyVector) {
  Write(Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Enc0("t")), Frame23("TPE1", Enc0("a")),
                                        Frame23("TPE1", Enc0("b")), Frame23("TCON", Enc0("(3)"))})),
                Audio(500), Id3v1("t", "a", "", "", "", 1, 3)}));
  OpenForEdit();
  Put(PROPID_ARTIST, {});
  Put(PROPID_GENRE, {});
  Strings out;
  EXPECT_EQ(E_TAG_NO_VALUE, tag_.GetString(PROPID_ARTIST, out));
  Commit();
  const Bytes file = Read();
  EXPECT_TRUE(FramesWithId(file, "TPE1").empty());
  EXPECT_TRUE(FramesWithId(file, "TCON").empty());
  EXPECT_EQ("", V1Text(Id3v1Part(file), 33));
  EXPECT_EQ(148, Id3v1Part(file)[127]);
  EXPECT_TRUE(ReadBack(PROPID_ARTIST).empty());
}

TEST_F(CommitTest, RoundTripOfEveryTextPropertyInEachTagKind) {
  const struct {
    std::int32_t id;
    Strings values;
  } puts[] = {
      {PROPID_TITLE, {L"Caf\u00E9 \u6771\u4EAC \U0001F3B5"}},
      {PROPID_TRACK, {L"12"}},
      {PROPID_ISRC, {L"GBAYE0000351"}},
      {PROPID_GENRE, {L"Bossa \u00D1ova"}},
      {PROPID_COPYRIGHT, {L"\u2117 1999 \u0141\u00F3d\u017A"}},
      {PROPID_ALBUM, {L"\u0410\u043B\u044C\u0431\u043E\u043C"}},
      {PROPID_ARTIST, {L"\u00C9dith \U00020BB7"}},
      {PROPID_COMPOSER, {L"\u4F5C\u66F2"}},
      {PROPID_ARTIST_URL, {L"http://a.example/1", L"http://a.example/2"}},
  };
  const struct {
    const char* name;
    Bytes tag;
    const char* titleFrame;
  } files[] = {
      {"ID3v2.3", Id3v2Tag(3, 0, Frame23("TIT2", Enc0("old"))), "TIT2"},
      {"ID3v2.2", Id3v2Tag(2, 0, Frame22("TT2", Enc0("old"))), "TT2"},
      {"no tag", Bytes(), "TIT2"},
      {"ID3v1 only", Id3v1("old", "", "", "", "", 1, 2), "TIT2"},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const Bytes audio = Audio(2000);
    const bool trailerOnly = f.tag.size() == 128;
    Write(trailerOnly ? Concat({audio, f.tag}) : Concat({f.tag, audio}));
    OpenForEdit();
    for (const auto& p : puts) Put(p.id, p.values);
    Commit();
    const Bytes file = Read();
    EXPECT_EQ(1u, FramesWithId(file, f.titleFrame).size());
    EXPECT_EQ(audio, tagkit_test::AudioPart(file));
    for (const auto& p : puts) EXPECT_EQ(p.values, ReadBack(p.id)) << std::hex << p.id;
  }
}

TEST_F(CommitTest, Id3v22FramesKeepThreeCharacterIdentifiers) {
  Write(Concat({Id3v2Tag(2, 0, Frame22("TT2", Enc0("old"))), Audio(800)}));
  OpenForEdit();
  Put(PROPID_TRACK, {L"7"});
  Put(PROPID_ARTIST_URL, {L"u"});
  Commit();
  const Bytes file = Read();
  EXPECT_EQ(2, file[3]);
  EXPECT_EQ(std::vector<Bytes>{Bytes({0, '7', 0})}, FramesWithId(file, "TRK"));
  EXPECT_EQ(std::vector<Bytes>{Text("u")}, FramesWithId(file, "WAR"));
  EXPECT_EQ(std::vector<Bytes>{Enc0("old")}.size(), FramesWithId(file, "TT2").size());
}

TEST_F(CommitTest, CommitWithoutTitleAddsAnEmptyTitleAndATrailer) {
  const Bytes audio = Audio(1500);
  Write(Concat({Id3v2Tag(3, 0, Frame23("TALB", Enc0("x"))), audio}));
  OpenForEdit();
  Put(PROPID_ARTIST, {L"a"});
  Commit();
  const Bytes file = Read();
  EXPECT_EQ(std::vector<Bytes>{Bytes({1, 0xFF, 0xFE, 0, 0})}, FramesWithId(file, "TIT2"));
  const Bytes v1 = Id3v1Part(file);
  ASSERT_EQ(128u, v1.size());
  EXPECT_EQ("", V1Text(v1, 3));
  EXPECT_EQ("a", V1Text(v1, 33));
  EXPECT_EQ(audio, tagkit_test::AudioPart(file));
}

TEST_F(CommitTest, FilesWithoutCompleteTagGetOne) {
  for (const Bytes& bytes : {Bytes(), Text("ID3"), Audio(5)}) {
    SCOPED_TRACE(bytes.size());
    Write(bytes);
    OpenForEdit();
    Put(PROPID_ARTIST, {L"a"});
    Commit();
    const Bytes file = Read();
    EXPECT_EQ(std::vector<Bytes>{Enc1("a")}, FramesWithId(file, "TPE1"));
    EXPECT_EQ(bytes, tagkit_test::AudioPart(file));
    EXPECT_EQ((Strings{L"a"}), ReadBack(PROPID_ARTIST));
  }
}

TEST_F(CommitTest, TitleRuleMakesTheTrailerFollowTheFrame) {
  Write(Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Enc0("Frame title")), Frame23("TPE1", Enc0("a"))})),
                Audio(700), Id3v1("Trailer title", "a", "", "", "", 1, 0)}));
  OpenForEdit();
  Put(PROPID_ALBUM, {L"b"});
  Commit();
  const Bytes file = Read();
  const auto frames = tagkit_test::ReadFrames(file);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ("TIT2", frames.back().id);  // rewritten after the others
  EXPECT_EQ(1u, FramesWithId(file, "TIT2").size());
  EXPECT_EQ("Frame title", V1Text(Id3v1Part(file), 3));
}

TEST_F(CommitTest, UndecodableTitleSurvivesACommitOfOtherProperties) {
  const Bytes utf8Title = {3, 'C', 'a', 'f', 0xC3, 0xA9};
  for (const Bytes& trailer : {Bytes(), Id3v1("V1 title", "", "", "", "", 1, 0)}) {
    SCOPED_TRACE(trailer.size());
    Write(Concat({Id3v2Tag(3, 0, Frame23("TIT2", utf8Title)), Audio(600), trailer}));
    OpenForEdit();
    Put(PROPID_ARTIST, {L"a"});
    Commit();
    const Bytes file = Read();
    EXPECT_EQ(std::vector<Bytes>{utf8Title}, FramesWithId(file, "TIT2"));
    if (!trailer.empty()) {
      EXPECT_EQ("V1 title", V1Text(Id3v1Part(file), 3));
    }
  }
}

TEST_F(CommitTest, RepeatedPutsLeaveOneFrame) {
  struct Case {
    const char* name;
    Bytes body;
  };
  const Case cases[] = {
      {"no frame", Frame23("TPE1", Enc0("a"))},
      {"one frame", Frame23("TIT2", Enc0("old"))},
      {"two frames", Concat({Frame23("TIT2", Enc0("old1")), Frame23("TIT2", Enc0("old2"))})},
      {"undecodable frame", Frame23("TIT2", {3, 'u', 't', 'f'})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(Concat({Id3v2Tag(3, 0, c.body), Audio(400)}));
    OpenForEdit();
    Put(PROPID_TITLE, {L"first"});
    Put(PROPID_TITLE, {L"second"});
    Commit();
    EXPECT_EQ(std::vector<Bytes>{Enc1("second")}, FramesWithId(Read(), "TIT2"));
  }
}

TEST_F(CommitTest, ExtendedHeaderIsDroppedAndOtherFramesKept) {
  const Bytes ext = Concat({tagkit_test::Be32(6), {0, 0}, tagkit_test::Be32(0)});
  const Bytes frames = Concat({Frame23("TIT2", Enc0("t")), Frame23("TXXX", Enc0("keep")),
                               Frame23("COMM", Text("\x00" "eng" "\x00" "c"))});
  const Bytes audio = Audio(900);
  Write(Concat({Id3v2Tag(3, 0x40, Concat({ext, frames})), audio}));
  OpenForEdit();
  Put(PROPID_ARTIST, {L"a"});
  Commit();
  const Bytes file = Read();
  EXPECT_EQ(0, file[5] & 0x40);
  EXPECT_EQ(1u, FramesWithId(file, "TXXX").size());
  EXPECT_EQ(1u, FramesWithId(file, "COMM").size());
  EXPECT_EQ(std::vector<Bytes>{Enc0("t")}.size(), FramesWithId(file, "TIT2").size());
  EXPECT_EQ(audio, tagkit_test::AudioPart(file));
}

TEST_F(CommitTest, ArgumentChecks) {
  Write(Concat({Id3v2Tag(3, 0, Frame23("TIT2", Enc0("t"))), Audio(300)}));
  const Bytes before = Read();
  EXPECT_EQ(E_UNEXPECTED, tag_.PutString(PROPID_TITLE, {L"x"}));
  OpenForEdit();
  for (std::int32_t id : {PROPID_PICTURE, PROPID_RELEASE_DATE, PROPID_MUSIC_ID, 0, 0x7FFFFFFF}) {
    EXPECT_EQ(E_TAG_UNSUPPORTED, tag_.PutString(id, {L"x"})) << id;
  }
  // Refused puts open no transaction, so Close has nothing to commit.
  Commit();
  EXPECT_EQ(before, Read());
}

TEST_F(CommitTest, ReadOnlyObjectRefusesChanges) {
  Write(Concat({Id3v2Tag(3, 0, Frame23("TIT2", Enc0("t"))), Audio(300)}));
  const Bytes before = Read();
  ASSERT_EQ(S_OK, tag_.Open(tagkit_test::Widen(path_), 1));
  EXPECT_EQ(E_FAIL, tag_.PutString(PROPID_TITLE, {L"x"}));
  Strings out;
  ASSERT_EQ(S_OK, tag_.GetString(PROPID_TITLE, out));
  EXPECT_EQ(Strings{L"t"}, out);
  EXPECT_EQ(S_OK, tag_.Close());
  EXPECT_EQ(before, Read());
}

}  // namespace
