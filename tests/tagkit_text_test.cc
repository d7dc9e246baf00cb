// Reading text, URL and ID3v1 properties through CTagkit.
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
using tagkit_test::Frame22;
using tagkit_test::Frame23;
using tagkit_test::Id3v1;
using tagkit_test::Id3v2Tag;
using tagkit_test::Text;
using tagkit_test::Utf16Le;
using Strings = std::vector<std::wstring>;

class TextReadTest : public ::testing::Test {
 protected:
  void SetUp() override { tlx_set_thread_code_page(1252); }
  void TearDown() override {
    tag_.Close();
    tlx_set_thread_code_page(1252);
  }

  // Writes the file and opens it read only.
  void OpenBytes(const Bytes& bytes) {
    tagkit_test::WriteFile(dir_.File("a.mp3"), bytes);
    ASSERT_EQ(S_OK, tag_.Open(dir_.WFile("a.mp3"), 1));
  }
  HRESULT Get(std::int32_t id, Strings& out) { return tag_.GetString(id, out); }
  std::wstring GetOne(std::int32_t id) {
    Strings out;
    EXPECT_EQ(S_OK, tag_.GetString(id, out)) << std::hex << id;
    return out.empty() ? L"<none>" : out[0];
  }

  tagkit_test::TempDir dir_;
  CTagkit tag_;
};

Bytes Enc0(const std::string& text) { return Concat({{0}, Text(text), {0}}); }
Bytes Enc1(const std::string& utf8) { return Concat({{1, 0xFF, 0xFE}, Utf16Le(utf8), {0, 0}}); }

struct Row {
  std::int32_t id;
  const char* v22;
  const char* v23;
};
const Row kTextRows[] = {
    {PROPID_TITLE, "TT2", "TIT2"},      {PROPID_TRACK, "TRK", "TRCK"},
    {PROPID_ISRC, "TRC", "TSRC"},       {PROPID_GENRE, "TCO", "TCON"},
    {PROPID_COPYRIGHT, "TCR", "TCOP"},  {PROPID_ALBUM, "TAL", "TALB"},
    {PROPID_ARTIST, "TP1", "TPE1"},     {PROPID_COMPOSER, "TCM", "TCOM"},
};

TEST_F(TextReadTest, EveryTextPropertyFromId3v23) {
  Bytes body;
  for (const Row& row : kTextRows) body = Concat({body, Frame23(row.v23, Enc0(row.v23 + std::string("-value")))});
  body = Concat({body, Frame23("WOAR", Text("http://a.example/"))});
  OpenBytes(Concat({Id3v2Tag(3, 0, body), Audio(500)}));
  for (const Row& row : kTextRows) {
    EXPECT_EQ(tagkit_test::Widen(row.v23 + std::string("-value")), GetOne(row.id));
  }
  EXPECT_EQ(L"http://a.example/", GetOne(PROPID_ARTIST_URL));
}

TEST_F(TextReadTest, EveryTextPropertyFromId3v22) {
  Bytes body;
  for (const Row& row : kTextRows) body = Concat({body, Frame22(row.v22, Enc1(row.v22 + std::string(" é")))});
  body = Concat({body, Frame22("WAR", Text("http://b.example/"))});
  // Four-character frames in a 2.2 tag are not the properties.
  OpenBytes(Concat({Id3v2Tag(2, 0, body), Audio(500)}));
  for (const Row& row : kTextRows) {
    EXPECT_EQ(tagkit_test::Widen(row.v22 + std::string(" é")), GetOne(row.id));
  }
  EXPECT_EQ(L"http://b.example/", GetOne(PROPID_ARTIST_URL));
}

// Decoding of the title frame's payload; "" means absent.
struct Decoding {
  const char* name;
  Bytes payload;
  std::wstring expected;
};

TEST_F(TextReadTest, TitleEncodings) {
  const Decoding rows[] = {
      {"code page, stops at first zero", Concat({{0}, Text("Hello"), {0}, Text("more")}), L"Hello"},
      {"code page, no terminator", Concat({{0}, Text("Hello")}), L"Hello"},
      {"code page 1252 accents", {0, 'C', 'a', 'f', 0xE9, 0}, L"Caf\u00E9"},
      {"utf-16 little endian", Concat({{1, 0xFF, 0xFE}, Utf16Le("Hi")}), L"Hi"},
      {"utf-16 big endian", {1, 0xFE, 0xFF, 0, 'H', 0, 'i'}, L"Hi"},
      {"utf-16 stops at zero unit", Concat({{1, 0xFF, 0xFE}, Utf16Le("A"), {0, 0}, Utf16Le("B")}), L"A"},
      {"utf-16 odd last byte", {1, 0xFF, 0xFE, 'A', 0, 'B'}, L"AB"},
      {"utf-16 beyond the BMP", Concat({{1, 0xFF, 0xFE}, Utf16Le("\xF0\x9F\x8E\xB5 \xE6\x9D\xB1")}),
       L"\U0001F3B5 \u6771"},
      {"utf-16 without byte-order mark", {1, 'H', 0, 'i', 0}, L""},
      {"utf-16 mark only", {1, 0xFF, 0xFE}, L""},
      {"utf-16 one byte", {1, 0xFF}, L""},
      {"encoding 2", {2, 0, 'H', 0, 'i'}, L""},
      {"encoding 3 (utf-8)", {3, 'H', 'i'}, L""},
      {"empty frame", {}, L""},
  };
  for (const Decoding& row : rows) {
    SCOPED_TRACE(row.name);
    tag_.Close();
    OpenBytes(Concat({Id3v2Tag(3, 0, Frame23("TIT2", row.payload)), Audio(200)}));
    Strings out{L"untouched"};
    if (row.expected.empty()) {
      EXPECT_EQ(E_TAG_NO_VALUE, Get(PROPID_TITLE, out));
      EXPECT_EQ(Strings{L"untouched"}, out);
    } else {
      EXPECT_EQ(S_OK, Get(PROPID_TITLE, out));
      EXPECT_EQ(Strings{row.expected}, out);
    }
  }
}

TEST_F(TextReadTest, CodePageOfTheThreadDecodesSingleByteText) {
  ASSERT_EQ(0, tlx_set_thread_code_page(1251));
  OpenBytes(Concat({Id3v2Tag(3, 0, Frame23("TALB", {0, 0xC0, 0xE1})), Audio(100)}));
  EXPECT_EQ(L"\u0410\u0431", GetOne(PROPID_ALBUM));
}

TEST_F(TextReadTest, Id3v1StandsInOnlyWhenTheFrameGivesNothing) {
  const Bytes v1 = Id3v1("V1 Title", "V1 Artist", "V1 Album", "1999", "c", 3, 17);
  struct Case {
    const char* name;
    Bytes titleFrame;
    Strings expected;  // empty: absent
  };
  const Case cases[] = {
      {"no frame", Bytes(), {L"V1 Title"}},
      {"utf-8 frame is not read", Frame23("TIT2", {3, 'x'}), {L"V1 Title"}},
      {"frame without data", Frame23("TIT2", {}), {L"V1 Title"}},
      {"empty text hides the trailer", Frame23("TIT2", {0}), {}},
      {"frame wins", Frame23("TIT2", Enc0("V2")), {L"V2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tag_.Close();
    OpenBytes(Concat({Id3v2Tag(3, 0, Concat({Frame23("TPE1", Enc0("x")), c.titleFrame})), Audio(300), v1}));
    Strings out;
    if (c.expected.empty()) {
      EXPECT_EQ(E_TAG_NO_VALUE, Get(PROPID_TITLE, out));
    } else {
      EXPECT_EQ(S_OK, Get(PROPID_TITLE, out));
      EXPECT_EQ(c.expected, out);
    }
  }
}

TEST_F(TextReadTest, Id3v1OnlyFile) {
  // Space padding, space-then-zero padding and zero padding.
  OpenBytes(Concat({Audio(400), Id3v1("Title" + std::string(25, ' '), "Artist  ", "Album", "2001", "comment", 5, 17)}));
  EXPECT_EQ(L"Title", GetOne(PROPID_TITLE));
  EXPECT_EQ(L"Artist", GetOne(PROPID_ARTIST));
  EXPECT_EQ(L"Album", GetOne(PROPID_ALBUM));
  EXPECT_EQ(L"(17)", GetOne(PROPID_GENRE));
  EXPECT_EQ(L"5", GetOne(PROPID_TRACK));
  Strings out;
  for (std::int32_t id : {PROPID_ISRC, PROPID_COPYRIGHT, PROPID_COMPOSER, PROPID_ARTIST_URL}) {
    EXPECT_EQ(E_TAG_NO_VALUE, Get(id, out)) << std::hex << id;
  }
}

TEST_F(TextReadTest, Id3v1GenreAndTrackForms) {
  struct Case {
    int track;  // -1: the comment fills all 30 bytes
    int genre;
    const wchar_t* trackText;  // null: absent
    const wchar_t* genreText;
  };
  const Case cases[] = {
      {5, 17, L"5", L"(17)"}, {12, 255, L"12", L"(255)"}, {0, 148, L"0", nullptr},
      {-1, 0, nullptr, L"(0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.genre);
    tag_.Close();
    const std::string comment = c.track < 0 ? std::string(30, 'c') : "c";
    OpenBytes(Concat({Audio(200), Id3v1("t", "a", "b", "1999", comment, c.track, c.genre)}));
    Strings out;
    if (c.trackText != nullptr) {
      EXPECT_EQ(c.trackText, GetOne(PROPID_TRACK));
    } else {
      EXPECT_EQ(E_TAG_NO_VALUE, Get(PROPID_TRACK, out));
    }
    if (c.genreText != nullptr) {
      EXPECT_EQ(c.genreText, GetOne(PROPID_GENRE));
    } else {
      EXPECT_EQ(E_TAG_NO_VALUE, Get(PROPID_GENRE, out));
    }
  }
}

TEST_F(TextReadTest, Id3v24TagIsIgnoredButTheTrailerIsRead) {
  OpenBytes(Concat({Id3v2Tag(4, 0, Frame23("TIT2", Enc0("v24"))), Audio(300),
                    Id3v1("From v1", "", "", "", "", 1, 148)}));
  EXPECT_EQ(L"From v1", GetOne(PROPID_TITLE));
  Strings out;
  EXPECT_EQ(E_TAG_NO_VALUE, Get(PROPID_ARTIST, out));
}

TEST_F(TextReadTest, ArtistUrlsInFrameOrder) {
  OpenBytes(Concat({Id3v2Tag(3, 0, Concat({Frame23("WOAR", Text("u1")), Frame23("TIT2", Enc0("t")),
                                            Frame23("WOAR", Text("u2"))})),
                    Audio(100)}));
  Strings out;
  ASSERT_EQ(S_OK, Get(PROPID_ARTIST_URL, out));
  EXPECT_EQ((Strings{L"u1", L"u2"}), out);

  tag_.Close();
  OpenBytes(Concat({Id3v2Tag(3, 0, Concat({Frame23("WOAR", {}), Frame23("WOAR", Text("u2"))})), Audio(100)}));
  EXPECT_EQ(E_TAG_NO_VALUE, Get(PROPID_ARTIST_URL, out));
}

TEST_F(TextReadTest, OnlyTheFirstTextFrameIsRead) {
  OpenBytes(Concat({Id3v2Tag(3, 0, Concat({Frame23("TPE1", Enc0("one")), Frame23("TPE1", Enc0("two"))})),
                    Audio(100)}));
  Strings out;
  ASSERT_EQ(S_OK, Get(PROPID_ARTIST, out));
  EXPECT_EQ(Strings{L"one"}, out);
}

TEST_F(TextReadTest, IdentifiersThatAreNotTextProperties) {
  OpenBytes(Concat({Id3v2Tag(3, 0, Frame23("TIT2", Enc0("t"))), Audio(100)}));
  Strings out;
  for (std::int32_t id : {PROPID_PICTURE, PROPID_RELEASE_DATE, PROPID_MUSIC_ID, PROPID_OBJECT_MTDID, 0, -1}) {
    EXPECT_EQ(E_TAG_UNSUPPORTED, Get(id, out)) << id;
  }
  tag_.Close();
  EXPECT_EQ(E_UNEXPECTED, Get(PROPID_PICTURE, out));
  EXPECT_EQ(E_UNEXPECTED, Get(PROPID_TITLE, out));
}

TEST_F(TextReadTest, MalformedTagsStillOpen) {
  const Bytes cases[] = {
      // A frame whose size runs past the end of the tag.
      Concat({Text("ID3"), {3, 0, 0}, tagkit_test::SyncSafe(20), Text("TIT2"), tagkit_test::Be32(5000),
              {0, 0}, Enc0("abcdefghi")}),
      // Frame sizes far beyond the tag and the file.
      Concat({Text("ID3"), {3, 0, 0}, tagkit_test::SyncSafe(40), Text("TIT2"), tagkit_test::Be32(0xFFFFFFFF),
              {0, 0}, Enc0("abc"), Bytes(20, 0)}),
      Concat({Text("ID3"), {3, 0, 0}, tagkit_test::SyncSafe(40), Text("WOAR"), tagkit_test::Be32(0x7FFFFFF0),
              {0, 0}, Text("http://"), Bytes(20, 0)}),
      // A tag size beyond the end of the file.
      Concat({Text("ID3"), {3, 0, 0}, tagkit_test::SyncSafe(100000), Frame23("TIT2", Enc0("x"))}),
      // Only the header.
      Concat({Text("ID3"), {3, 0, 0}}),
      // Nothing at all.
      Bytes(),
  };
  for (const Bytes& bytes : cases) {
    tag_.Close();
    OpenBytes(bytes);
    Strings out;
    HRESULT hr = Get(PROPID_TITLE, out);
    EXPECT_TRUE(hr == S_OK || hr == E_TAG_NO_VALUE) << std::hex << hr;
  }
}

}  // namespace
