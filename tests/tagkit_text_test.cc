// Reading text, URL and ID3v1 properties through CTagkit.
#include "tag_inspect.h"
#include "tagkit.h"
#include "tlx_system.h"

namespace {

using namespace tagkit_test;

class TagkitTextTest : public SongFileTest {
 protected:
  void SetUp() override { tlx_set_thread_code_page(1252); }
  void TearDown() override { tlx_set_thread_code_page(1252); }
  // Writes the file, opens it read only, and reads the property: its strings
  // joined by "|", or "" when absent (the vector then stays as it was).
  std::wstring Get(const Bytes& file, std::int32_t id) {
    Write(file);
    CTagkit tag;
    EXPECT_EQ(S_OK, tag.Open(WPath(), 1));
    Strings out = {L"untouched"};
    const HRESULT hr = tag.GetString(id, out);
    EXPECT_TRUE(hr == S_OK || (hr == E_TAG_NO_VALUE && out == Strings{L"untouched"})) << std::hex << hr;
    std::wstring joined;
    for (const std::wstring& s : out) joined += (joined.empty() ? L"" : L"|") + s;
    return hr == S_OK ? joined : L"";
  }
};

// Of two frames, only the first text frame is read, but every link.
TEST_F(TagkitTextTest, EveryTextPropertyInBothVersions) {
  const struct { std::int32_t id; const char* v22; const char* v23; } rows[] = {
      {PROPID_TITLE, "TT2", "TIT2"},  {PROPID_TRACK, "TRK", "TRCK"},     {PROPID_ISRC, "TRC", "TSRC"},
      {PROPID_GENRE, "TCO", "TCON"},  {PROPID_COPYRIGHT, "TCR", "TCOP"}, {PROPID_ALBUM, "TAL", "TALB"},
      {PROPID_ARTIST, "TP1", "TPE1"}, {PROPID_COMPOSER, "TCM", "TCOM"},  {PROPID_ARTIST_URL, "WAR", "WOAR"},
  };
  Bytes v22, v23;
  for (const std::string tail : {"", "2"}) {
    for (const auto& row : rows) {
      const bool url = row.id == PROPID_ARTIST_URL;
      v22 = Concat({v22, Frame22(row.v22, url ? Text(row.v22 + tail) : Enc1(row.v22 + tail))});
      v23 = Concat({v23, Frame23(row.v23, url ? Text(row.v23 + tail) : Enc0(row.v23 + tail))});
    }
  }
  for (const auto& row : rows) {
    const bool url = row.id == PROPID_ARTIST_URL;
    EXPECT_EQ(Widen(row.v22 + (url ? "|" + std::string(row.v22) + "2" : "")), Get(TaggedFile(2, v22), row.id));
    EXPECT_EQ(Widen(row.v23 + (url ? "|" + std::string(row.v23) + "2" : "")), Get(TaggedFile(3, v23), row.id));
  }
}

// "" means absent.
TEST_F(TagkitTextTest, TitleEncodings) {
  const struct { const char* name; Bytes payload; std::wstring expected; int codePage = 1252; } rows[] = {
      {"code page, stops at first zero", Concat({Enc0("Hello"), Text("more")}), L"Hello"},
      {"code page, no terminator", Concat({{0}, Text("Hello")}), L"Hello"},
      {"code page 1252 accents", {0, 'C', 'a', 'f', 0xE9, 0}, L"Caf\u00E9"},
      {"code page 1251", {0, 0xC0, 0xE1}, L"\u0410\u0431", 1251},
      {"utf-16 little endian", Enc1("Hi"), L"Hi"},
      {"utf-16 big endian", {1, 0xFE, 0xFF, 0, 'H', 0, 'i'}, L"Hi"},
      {"utf-16 stops at zero unit", Concat({Enc1("A"), {'B', 0}}), L"A"},
      {"utf-16 odd last byte", {1, 0xFF, 0xFE, 'A', 0, 'B'}, L"AB"},
      {"utf-16 beyond the BMP", Enc1("\xF0\x9F\x8E\xB5 \xE6\x9D\xB1"), L"\U0001F3B5 \u6771"},
      {"utf-16 without byte-order mark", {1, 'H', 0, 'i', 0}, L""},
      {"utf-16 mark only", {1, 0xFF, 0xFE}, L""},
      {"utf-16 one byte", {1, 0xFF}, L""},
      {"encoding 2", {2, 0, 'H', 0, 'i'}, L""},
      {"encoding 3 (utf-8)", {3, 'H', 'i'}, L""},
      {"empty frame", {}, L""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(0, tlx_set_thread_code_page(row.codePage));
    EXPECT_EQ(row.expected, Get(TaggedFile(3, Frame23("TIT2", row.payload)), PROPID_TITLE));
  }
}

// "" means absent. An ID3v2.4 tag is read as absent.
TEST_F(TagkitTextTest, Id3v1StandsInOnlyWhenTheFrameGivesNothing) {
  const Bytes v1 = Id3v1("V1 Title", "V1 Artist", "V1 Album", "1999", "c", 3, 17);
  const struct { const char* name; Bytes frame; std::wstring expected; int major = 3; } cases[] = {
      {"no frame", Bytes(), L"V1 Title"},
      {"utf-8 frame is not read", Frame23("TIT2", {3, 'x'}), L"V1 Title"},
      {"frame without data", Frame23("TIT2", {}), L"V1 Title"},
      {"empty text hides the trailer", Frame23("TIT2", {0}), L""},
      {"frame wins", Frame23("TIT2", Enc0("V2")), L"V2"},
      {"ID3v2.4", Frame23("TIT2", Enc0("V2")), L"V1 Title", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, Get(TaggedFile(c.major, Concat({Frame23("TPE1", Enc0("x")), c.frame}), v1), PROPID_TITLE));
  }
  // An empty first link hides the others, as an empty text frame does.
  EXPECT_EQ(L"", Get(TaggedFile(3, Concat({Frame23("WOAR", {}), Frame23("WOAR", Text("u2"))})), PROPID_ARTIST_URL));
}

// Taggers pad fields with spaces, zero bytes, or spaces and then zero bytes.
// A comment of 30 bytes leaves no room for a track (ID3v1.0).
TEST_F(TagkitTextTest, Id3v1OnlyFiles) {
  const struct { Bytes trailer; std::vector<std::wstring> expected; } cases[] = {
      {Id3v1("Title" + std::string(25, ' '), "Artist  ", "Album", "2001", "comment", 5, 17),
       {L"Title", L"Artist", L"Album", L"(17)", L"5"}},
      {Id3v1("t", "a", "b", "1999", "c", 12, 255), {L"t", L"a", L"b", L"(255)", L"12"}},
      {Id3v1("t", "a", "b", "1999", "c", 0, 148), {L"t", L"a", L"b", L"", L"0"}},
      {Id3v1("t", "a", "b", "1999", std::string(30, 'c'), -1, 0), {L"t", L"a", L"b", L"(0)", L""}},
  };
  const std::int32_t ids[] = {PROPID_TITLE, PROPID_ARTIST, PROPID_ALBUM, PROPID_GENRE, PROPID_TRACK,
                              PROPID_ISRC, PROPID_COPYRIGHT, PROPID_COMPOSER, PROPID_ARTIST_URL};
  for (const auto& c : cases) {
    for (std::size_t i = 0; i < 9; ++i) {
      EXPECT_EQ(i < 5 ? c.expected[i] : L"", Get(Concat({Audio(400), c.trailer}), ids[i])) << i;
    }
  }
}

// Damaged sizes must neither fail Open nor make a reader allocate what the
// file does not hold.
TEST_F(TagkitTextTest, MalformedTagsStillOpen) {
  const Bytes v23 = Concat({Text("ID3"), {3, 0, 0}});
  for (const Bytes& bytes : {
           Concat({v23, SyncSafe(20), Text("TIT2"), Be32(5000), {0, 0}, Enc0("abcdefghi")}),  // past the tag
           Concat({v23, SyncSafe(40), Text("TIT2"), Be32(0xFFFFFFFF), {0, 0}, Enc0("abc"), Bytes(20, 0)}),
           Concat({v23, SyncSafe(40), Text("WOAR"), Be32(0x7FFFFFF0), {0, 0}, Text("http://"), Bytes(20, 0)}),
           Concat({v23, SyncSafe(100000), Frame23("TIT2", Enc0("x"))}),  // a tag beyond the file
           v23, Bytes()}) {
    Get(bytes, PROPID_TITLE);
    Get(bytes, PROPID_ARTIST_URL);
  }
}

}  // namespace
