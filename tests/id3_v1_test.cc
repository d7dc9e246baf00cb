// The ID3v1 trailer: getters, setters that write one field in place or
// append a missing trailer, field widths, and the track-number and year rules.
#include <gtest/gtest.h>

#include "engine_file.h"

namespace tagkit_test {
namespace {

Bytes Trailer(const Bytes& file) { return Bytes(file.end() - 128, file.end()); }

TEST(Id3V1, Getters) {
  EngineFile file(Concat({Audio(400), Id3v1("Title \t" + std::string(23, ' '), "Two  spaces", "Album", "1999",
                                            "note", 7, 17)}));
  // Trailing white space goes where it runs to the end of the field.
  EXPECT_EQ("Title|Two  spaces|Album|note|1999|17|7", V1Fields(file.ctx()));
  char text[4];
  uint32_t size = 3;
  EXPECT_EQ(0, tlx_id3_v1_get_album(file.ctx(), &size, text));
  EXPECT_STREQ("Alb", text);
  // A 30-byte comment leaves no track number; a blank year reads 0.
  EngineFile v10(Concat({Audio(10), Id3v1("", "", "", "    ", std::string(30, 'c'), -1, 255)}));
  EXPECT_EQ("|||" + std::string(30, 'c') + "|0|255|E9", V1Fields(v10.ctx()));
  // No "TAG", or too short to hold one: not found.
  for (size_t size : {size_t(0), size_t(127), size_t(128), size_t(600)}) {
    EngineFile none(Audio(size));
    EXPECT_EQ("E9|E9|E9|E9|E9|E9|E9", V1Fields(none.ctx())) << size;
  }
}

TEST(Id3V1, SetterAppendsTrailerOnlyWhenThereIsNone) {
  for (size_t size : {size_t(0), size_t(300)}) {
    const Bytes audio = Audio(size);
    EngineFile file(audio, TLX_ID3_MODE_WRITE);
    ASSERT_EQ(0, tlx_id3_v1_set_title(file.ctx(), "t"));
    Bytes expected = Concat({audio, Text("TAGt"), {0}, Bytes(122, ' '), {255}});
    EXPECT_EQ(expected, file.Contents()) << size;
    ASSERT_EQ(0, tlx_id3_v1_set_year(file.ctx(), 2008));  // in place now
    std::memcpy(expected.data() + size + 93, "2008", 4);
    EXPECT_EQ(expected, file.Contents()) << size;
  }
}

#if defined(TLX_FAULT_INJECTION)
// A trailer that cannot be read at the moment must not gain a twin.
TEST(Id3V1, FailedTrailerReadAppendsNothing) {
  const Bytes original = Concat({Audio(300), Id3v1("t", "a", "b", "2000", "c", 3, 1)});
  for (tlx_fault_op op : {TLX_FAULT_READ, TLX_FAULT_SEEK}) {
    EngineFile file(original, TLX_ID3_MODE_WRITE);
    tlx_fault_reset();
    tlx_fault_arm(op, 1);
    EXPECT_NE(0, tlx_id3_v1_set_genre(file.ctx(), 17));
    tlx_fault_reset();
    EXPECT_EQ(original, file.Contents()) << op;
  }
}
#endif

TEST(Id3V1, FieldWidthsAndTheTrackNumber) {
  const std::string n30(30, 'n');
  EngineFile file(Concat({Audio(200), Id3v1(std::string(30, 'T'), "a", "b", "2000", "old", 7, 1)}),
                  TLX_ID3_MODE_WRITE);
  tlx_id3_context* ctx = file.ctx();
  ASSERT_EQ(0, tlx_id3_v1_set_title(ctx, "Abc"));  // terminated, then blanks
  ASSERT_EQ(0, tlx_id3_v1_set_artist(ctx, std::string(30, 'A').c_str()));  // no room for a terminator
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v1_set_album(ctx, std::string(31, 'B').c_str()));
  // UTF-16 with a byte-order mark is stored up to its 00 00 terminator.
  ASSERT_EQ(0, tlx_id3_v1_set_album(ctx, "\xFF\xFE" "A\0B\0\0\0"));
  ASSERT_EQ(0, tlx_id3_v1_set_comment(ctx, n30.c_str()));  // 28 bytes beside the track number
  EXPECT_EQ(Concat({Text("TAGAbc"), {0}, Bytes(26, ' '), Bytes(30, 'A'), {0xFF, 0xFE, 'A', 0, 'B', 0, 0, 0},
                    Bytes(22, ' '), Text("2000"), Bytes(28, 'n'), {0, 7, 1}}),
            Trailer(file.Contents()));
  // A terminator one byte off its unit ends the text there: nothing past the
  // caller's five bytes is read (the sanitizer build checks).
  const std::vector<char> odd = {'\xFF', '\xFE', 'A', 0, 0};
  ASSERT_EQ(0, tlx_id3_v1_set_title(ctx, odd.data()));
  const Bytes trailer = Trailer(file.Contents());
  EXPECT_EQ(Concat({Text("TAG"), {0xFF, 0xFE, 'A', 0, 0, 0}, Bytes(24, ' ')}),
            Bytes(trailer.begin(), trailer.begin() + 33));
  // Without a track number the comment takes 30 bytes, until one is set.
  EngineFile v10(Concat({Audio(150), Id3v1("t", "a", "b", "2000", std::string(30, 'x'), -1, 1)}),
                 TLX_ID3_MODE_WRITE);
  ASSERT_EQ(0, tlx_id3_v1_set_comment(v10.ctx(), n30.c_str()));
  EXPECT_EQ("t|a|b|" + n30 + "|2000|1|E9", V1Fields(v10.ctx()));
  ASSERT_EQ(0, tlx_id3_v1_set_tracknumber(v10.ctx(), 12));
  EXPECT_EQ("t|a|b|" + n30.substr(2) + "|2000|1|12", V1Fields(v10.ctx()));
}

// Staged writes give the new file exactly the bytes of a commit followed by
// the setters in the same order.
TEST(Id3V1, StagedWritesEqualSettersAfterTheCommit) {
  const std::string n30(30, 'n');
  const Bytes tag = Id3v2Tag(3, 0, Frame23("TIT2", Concat({{0}, Text("t")})));
  const Bytes files[] = {
      Concat({tag, Audio(400)}),
      Concat({tag, Audio(400), Id3v1("t", "a", "b", "2000", "c", 7, 1)}),
      Concat({tag, Audio(400), Id3v1("t", "a", "b", "2000", n30, -1, 1)}),
      Concat({tag, Audio(50)}),
      tag,
      Concat({Audio(300), Id3v1("t", "a", "b", "2000", "c", 3, 1)}),
      Id3v1("t", "a", "b", "2000", "c", 3, 1),
  };
  struct Write {
    int32_t field;
    const char* text;
    int32_t number;
  };
  const Write writes[] = {{TLX_ID3_V1_COMMENT, n30.c_str(), 0}, {TLX_ID3_V1_TITLE, "T", 0},
                          {TLX_ID3_V1_TRACK, nullptr, 12},      {TLX_ID3_V1_YEAR, nullptr, 2001},
                          {TLX_ID3_V1_GENRE, nullptr, 7},       {TLX_ID3_V1_ARTIST, "\xFF\xFE" "A\0\0", 0},
                          {TLX_ID3_V1_COMMENT, "c2", 0},        {TLX_ID3_V1_ALBUM, "x", 0}};
  const Bytes album = Concat({{0}, Text("al")});
  const tlx_id3_v2_frame_header record = FrameRecord("TALB", 3);
  for (const Bytes& file : files) {
    SCOPED_TRACE(testing::Message() << "file of " << file.size() << " bytes");
    EngineFile staged(file, TLX_ID3_MODE_WRITE), stepwise(file, TLX_ID3_MODE_WRITE);
    for (EngineFile* f : {&staged, &stepwise}) {
      ASSERT_EQ(0, tlx_id3_v2_edit_begin(f->ctx()));
      ASSERT_EQ(0, tlx_id3_v2_add_frame(f->ctx(), &record, album.data()));
    }
    for (const Write& w : writes) ASSERT_EQ(0, tlx_id3_v1_stage(staged.ctx(), w.field, w.text, w.number));
    ASSERT_EQ(0, tlx_id3_v2_edit_end(staged.ctx()));
    ASSERT_EQ(0, tlx_id3_v2_edit_end(stepwise.ctx()));
    for (const Write& w : writes) {
      switch (w.field) {
        case TLX_ID3_V1_TITLE: ASSERT_EQ(0, tlx_id3_v1_set_title(stepwise.ctx(), w.text)); break;
        case TLX_ID3_V1_ARTIST: ASSERT_EQ(0, tlx_id3_v1_set_artist(stepwise.ctx(), w.text)); break;
        case TLX_ID3_V1_ALBUM: ASSERT_EQ(0, tlx_id3_v1_set_album(stepwise.ctx(), w.text)); break;
        case TLX_ID3_V1_COMMENT: ASSERT_EQ(0, tlx_id3_v1_set_comment(stepwise.ctx(), w.text)); break;
        case TLX_ID3_V1_YEAR: ASSERT_EQ(0, tlx_id3_v1_set_year(stepwise.ctx(), w.number)); break;
        case TLX_ID3_V1_GENRE: ASSERT_EQ(0, tlx_id3_v1_set_genre(stepwise.ctx(), uint8_t(w.number))); break;
        default: ASSERT_EQ(0, tlx_id3_v1_set_tracknumber(stepwise.ctx(), uint8_t(w.number))); break;
      }
    }
    EXPECT_EQ(stepwise.Contents(), staged.Contents());
  }
  // Staging needs a transaction and takes only what the setters take.
  EngineFile file(files[0], TLX_ID3_MODE_WRITE);
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v1_stage(file.ctx(), TLX_ID3_V1_TITLE, "t", 0));
  ASSERT_EQ(0, tlx_id3_v2_edit_begin(file.ctx()));
  for (const Write& bad : {Write{TLX_ID3_V1_YEAR, nullptr, 999}, Write{TLX_ID3_V1_GENRE, nullptr, 256},
                           Write{TLX_ID3_V1_TITLE, nullptr, 0}, Write{7, "x", 0}}) {
    EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v1_stage(file.ctx(), bad.field, bad.text, bad.number)) << bad.field;
  }
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v1_stage(file.ctx(), TLX_ID3_V1_ALBUM, (n30 + "x").c_str(), 0));
}

TEST(Id3V1, YearIsFourDigitsOrBlank) {
  EngineFile file(Concat({Audio(130), Id3v1("t", "a", "b", "1970", "c", 1, 1)}), TLX_ID3_MODE_WRITE);
  for (int32_t year : {999, 10000}) EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v1_set_year(file.ctx(), year));
  for (int32_t year : {1970, 1000, 9999, 0}) {
    ASSERT_EQ(0, year == 1970 ? 0 : tlx_id3_v1_set_year(file.ctx(), year));
    const Bytes trailer = Trailer(file.Contents());
    EXPECT_EQ(year ? Text(std::to_string(year)) : Text("    "), Bytes(trailer.begin() + 93, trailer.begin() + 97));
    EXPECT_EQ("t|a|b|c|" + std::to_string(year) + "|1|1", V1Fields(file.ctx()));
  }
}

TEST(Id3V1, StateAndReadOnlyAccess) {
  const Bytes original = Concat({Audio(200), Id3v1("t", "a", "b", "2000", "c", 1, 1)});
  EngineFile file(original, TLX_ID3_MODE_WRITE), read_only(original);
  file.ctx()->state = TLX_ID3_STATE_EDITING;  // getters read on; setters wait for the idle state
  EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v1_set_title(file.ctx(), "x"));
  EXPECT_EQ("t|a|b|c|2000|1|1", V1Fields(file.ctx()));
  file.ctx()->state = TLX_ID3_STATE_IDLE;
  EXPECT_EQ(TLX_ID3_E_WRITE, tlx_id3_v1_set_title(read_only.ctx(), "new"));
  EXPECT_EQ(original, file.Contents());
  EXPECT_EQ(original, read_only.Contents());
}

}  // namespace
}  // namespace tagkit_test
