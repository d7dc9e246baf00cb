// The ID3v1 trailer: every getter and setter, appending a missing trailer,
// field widths and space filling, the track-number and year rules.
#include <gtest/gtest.h>

#include "engine_file.h"

namespace tagkit_test {
namespace {

std::string GetText(EngineFile& file,
                    int32_t (*getter)(tlx_id3_context*, uint32_t*, char*), uint32_t size,
                    int32_t* rc) {
  std::vector<char> buffer(size + 1, 'x');
  uint32_t n = size;
  *rc = getter(file.ctx(), &n, buffer.data());
  if (*rc != 0) return "<error>";
  EXPECT_EQ(n, std::strlen(buffer.data()));
  return std::string(buffer.data(), n);
}

Bytes Trailer(const Bytes& file) { return Bytes(file.end() - 128, file.end()); }

TEST(Id3V1, Getters) {
  // Trailing white space is dropped only where it runs to the end of the field.
  Bytes v1 = Id3v1("Title  \t" + std::string(22, ' '), "Artist with  inner  spaces", "An album name that is thirty!!",
                   "1999", "note", 7, 17);
  EngineFile file(Concat({Audio(400), v1}));
  int32_t rc = 0;
  EXPECT_EQ(GetText(file, tlx_id3_v1_get_title, 64, &rc), "Title");
  EXPECT_EQ(GetText(file, tlx_id3_v1_get_artist, 64, &rc), "Artist with  inner  spaces");
  EXPECT_EQ(GetText(file, tlx_id3_v1_get_album, 64, &rc), "An album name that is thirty!!");
  EXPECT_EQ(GetText(file, tlx_id3_v1_get_album, 10, &rc), "An album n");
  EXPECT_EQ(GetText(file, tlx_id3_v1_get_comment, 64, &rc), "note");
  int32_t year = 0;
  uint32_t genre = 0;
  uint8_t track = 0;
  EXPECT_EQ(tlx_id3_v1_get_year(file.ctx(), &year), 0);
  EXPECT_EQ(year, 1999);
  EXPECT_EQ(tlx_id3_v1_get_genre(file.ctx(), &genre), 0);
  EXPECT_EQ(genre, 17u);
  EXPECT_EQ(tlx_id3_v1_get_tracknumebr(file.ctx(), &track), 0);
  EXPECT_EQ(track, 7);

  // A comment of 30 bytes leaves no room for a track number.
  EngineFile v10(Concat({Audio(10), Id3v1("", "", "", "    ", std::string(30, 'c'), -1, 255)}));
  EXPECT_EQ(tlx_id3_v1_get_tracknumebr(v10.ctx(), &track), TLX_ID3_E_NOT_FOUND);
  EXPECT_EQ(GetText(v10, tlx_id3_v1_get_comment, 64, &rc), std::string(30, 'c'));
  EXPECT_EQ(tlx_id3_v1_get_year(v10.ctx(), &year), 0);
  EXPECT_EQ(year, 0);
  EXPECT_EQ(tlx_id3_v1_get_genre(v10.ctx(), &genre), 0);
  EXPECT_EQ(genre, 255u);
}

TEST(Id3V1, NoTrailer) {
  // At least 128 bytes without "TAG": 9; fewer: 4.
  for (size_t size : {size_t(0), size_t(10), size_t(127), size_t(128), size_t(600)}) {
    SCOPED_TRACE(size);
    EngineFile file(Audio(size));
    int32_t expected = size < 128 ? TLX_ID3_E_SEEK : TLX_ID3_E_NOT_FOUND;
    int32_t rc = 0;
    GetText(file, tlx_id3_v1_get_title, 30, &rc);
    EXPECT_EQ(rc, expected);
    GetText(file, tlx_id3_v1_get_comment, 30, &rc);
    EXPECT_EQ(rc, expected);
    int32_t year;
    uint32_t genre;
    uint8_t track;
    EXPECT_EQ(tlx_id3_v1_get_year(file.ctx(), &year), expected);
    EXPECT_EQ(tlx_id3_v1_get_genre(file.ctx(), &genre), expected);
    EXPECT_EQ(tlx_id3_v1_get_tracknumebr(file.ctx(), &track), expected);
  }
}

TEST(Id3V1, SetterAppendsTrailerOnce) {
  for (size_t size : {size_t(0), size_t(50), size_t(300)}) {
    SCOPED_TRACE(size);
    Bytes audio = Audio(size);
    EngineFile file(audio, TLX_ID3_MODE_WRITE);
    ASSERT_EQ(tlx_id3_v1_set_genre(file.ctx(), 17), 0);
    Bytes expected = Concat({audio, Text("TAG"), Bytes(124, ' '), {17}});
    EXPECT_EQ(file.Contents(), expected);
    // The second setter finds the trailer and changes only its own field.
    ASSERT_EQ(tlx_id3_v1_set_year(file.ctx(), 2008), 0);
    std::memcpy(expected.data() + size + 93, "2008", 4);
    EXPECT_EQ(file.Contents(), expected);
  }
}

TEST(Id3V1, TextFieldsAreTerminatedAndSpaceFilled) {
  Bytes v1 = Id3v1(std::string(30, 'T'), "a", "b", "2000", "c", 3, 1);
  EngineFile file(Concat({Audio(200), v1}), TLX_ID3_MODE_WRITE);
  ASSERT_EQ(tlx_id3_v1_set_title(file.ctx(), "Abc"), 0);
  Bytes field = Concat({Text("Abc"), {0}, Bytes(26, ' ')});
  Bytes trailer = Trailer(file.Contents());
  EXPECT_EQ(Bytes(trailer.begin() + 3, trailer.begin() + 33), field);
  int32_t rc = 0;
  EXPECT_EQ(GetText(file, tlx_id3_v1_get_title, 64, &rc), "Abc");

  // Thirty bytes fill the field without a terminator; thirty-one are refused.
  ASSERT_EQ(tlx_id3_v1_set_artist(file.ctx(), std::string(30, 'A').c_str()), 0);
  EXPECT_EQ(GetText(file, tlx_id3_v1_get_artist, 64, &rc), std::string(30, 'A'));
  Bytes before = file.Contents();
  EXPECT_EQ(tlx_id3_v1_set_album(file.ctx(), std::string(31, 'B').c_str()), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v1_set_comment(file.ctx(), std::string(31, 'B').c_str()), TLX_ID3_E_PARAM);
  EXPECT_EQ(file.Contents(), before);

  // UTF-16 with a mark is stored up to its 00 00 terminator.
  const char utf16[] = "\xFF\xFE" "A\0B\0\0\0";
  ASSERT_EQ(tlx_id3_v1_set_album(file.ctx(), utf16), 0);
  trailer = Trailer(file.Contents());
  Bytes album(trailer.begin() + 63, trailer.begin() + 93);
  EXPECT_EQ(album, Concat({{0xFF, 0xFE, 'A', 0, 'B', 0, 0, 0}, Bytes(22, ' ')}));
}

TEST(Id3V1, CommentKeepsTrackNumber) {
  Bytes audio = Audio(150);
  EngineFile file(Concat({audio, Id3v1("t", "a", "b", "2000", "old", 7, 1)}),
                  TLX_ID3_MODE_WRITE);
  ASSERT_EQ(tlx_id3_v1_set_comment(file.ctx(), std::string(30, 'n').c_str()), 0);
  Bytes trailer = Trailer(file.Contents());
  EXPECT_EQ(Bytes(trailer.begin() + 97, trailer.begin() + 125), Bytes(28, 'n'));
  EXPECT_EQ(trailer[125], 0);
  EXPECT_EQ(trailer[126], 7);
  int32_t rc = 0;
  EXPECT_EQ(GetText(file, tlx_id3_v1_get_comment, 64, &rc), std::string(28, 'n'));

  // Without a track number the comment may use all 30 bytes; setting a track
  // number then takes bytes 125-126.
  EngineFile v10(Concat({audio, Id3v1("t", "a", "b", "2000", std::string(30, 'x'), -1, 1)}),
                 TLX_ID3_MODE_WRITE);
  ASSERT_EQ(tlx_id3_v1_set_comment(v10.ctx(), std::string(30, 'n').c_str()), 0);
  EXPECT_EQ(GetText(v10, tlx_id3_v1_get_comment, 64, &rc), std::string(30, 'n'));
  ASSERT_EQ(tlx_id3_v1_set_tracknumber(v10.ctx(), 12), 0);
  uint8_t track = 0;
  EXPECT_EQ(tlx_id3_v1_get_tracknumebr(v10.ctx(), &track), 0);
  EXPECT_EQ(track, 12);
  EXPECT_EQ(GetText(v10, tlx_id3_v1_get_comment, 64, &rc), std::string(28, 'n'));
}

TEST(Id3V1, YearRules) {
  struct Case {
    int32_t year;
    int32_t rc;
    const char* stored;
  } cases[] = {
      {2008, 0, "2008"}, {0, 0, "    "},     {1000, 0, "1000"},     {9999, 0, "9999"},
      {-999, 0, "-999"}, {999, TLX_ID3_E_PARAM, nullptr}, {12345, TLX_ID3_E_PARAM, nullptr},
      {-1000, TLX_ID3_E_PARAM, nullptr},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.year);
    Bytes original = Concat({Audio(130), Id3v1("t", "a", "b", "1970", "c", 1, 1)});
    EngineFile file(original, TLX_ID3_MODE_WRITE);
    EXPECT_EQ(tlx_id3_v1_set_year(file.ctx(), c.year), c.rc);
    Bytes trailer = Trailer(file.Contents());
    if (c.stored == nullptr) {
      EXPECT_EQ(file.Contents(), original);
      continue;
    }
    EXPECT_EQ(std::string(trailer.begin() + 93, trailer.begin() + 97), c.stored);
    int32_t year = -1;
    EXPECT_EQ(tlx_id3_v1_get_year(file.ctx(), &year), 0);
    EXPECT_EQ(year, c.year);
  }
}

TEST(Id3V1, ChecksParametersStateAndAccess) {
  Bytes original = Concat({Audio(200), Id3v1("t", "a", "b", "2000", "c", 1, 1)});
  EngineFile file(original, TLX_ID3_MODE_WRITE);
  tlx_id3_context* ctx = file.ctx();
  uint32_t n = 10;
  char buffer[32];
  int32_t year;
  EXPECT_EQ(tlx_id3_v1_get_title(nullptr, &n, buffer), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v1_get_artist(ctx, nullptr, buffer), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v1_get_album(ctx, &n, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v1_get_year(ctx, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v1_get_genre(ctx, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v1_get_tracknumebr(ctx, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v1_set_title(ctx, nullptr), TLX_ID3_E_PARAM);
  EXPECT_EQ(tlx_id3_v1_set_genre(nullptr, 1), TLX_ID3_E_PARAM);
  for (int32_t state : {1, 2, 3}) {
    ctx->state = state;
    EXPECT_EQ(tlx_id3_v1_set_title(ctx, "x"), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v1_set_year(ctx, 2000), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v1_set_tracknumber(ctx, 1), TLX_ID3_E_STATE);
    EXPECT_EQ(tlx_id3_v1_get_year(ctx, &year), state == 2 ? 0 : TLX_ID3_E_STATE);
  }
  ctx->state = TLX_ID3_STATE_IDLE;
  EXPECT_EQ(file.Contents(), original);

  // A context opened read only cannot write: 3, file unchanged.
  EngineFile read_only(original);
  EXPECT_EQ(tlx_id3_v1_set_title(read_only.ctx(), "new"), TLX_ID3_E_WRITE);
  EXPECT_EQ(read_only.Contents(), original);
}

}  // namespace
}  // namespace tagkit_test
