// The ID3v1 trailer: getters, setters that write one field in place or
// append a missing trailer, field widths, and the track-number and year rules.
#include <gtest/gtest.h>

#include "engine_file.h"

namespace tagkit_test {
namespace {

// The value, or "E<code>" where reading it failed. By reference: read after the call.
template <typename T>
std::string Code(int32_t rc, const T& value) {
  return rc ? "E" + std::to_string(rc) : std::to_string(+value);
}

std::string Get(EngineFile& file, int32_t (*getter)(tlx_id3_context*, uint32_t*, char*),
                uint32_t size = 64) {
  std::vector<char> buffer(size + 1, 'x');
  int32_t rc = getter(file.ctx(), &size, buffer.data());
  return rc ? Code(rc, 0) : std::string(buffer.data(), size);
}

// "year genre track", each an engine code where it cannot be read.
std::string Numbers(EngineFile& file) {
  int32_t year = 0;
  uint32_t genre = 0;
  uint8_t track = 0;
  std::string out = Code(tlx_id3_v1_get_year(file.ctx(), &year), year);
  out += " " + Code(tlx_id3_v1_get_genre(file.ctx(), &genre), genre);
  return out + " " + Code(tlx_id3_v1_get_tracknumebr(file.ctx(), &track), track);
}

Bytes Field(const Bytes& file, size_t at, size_t width) {
  return Bytes(file.end() - 128 + at, file.end() - 128 + at + width);
}

TEST(Id3V1, Getters) {
  EngineFile file(Concat({Audio(400), Id3v1("Title \t" + std::string(23, ' '), "Two  spaces", "Album", "1999", "note", 7, 17)}));
  EXPECT_EQ("Title", Get(file, tlx_id3_v1_get_title));  // trailing white space dropped
  EXPECT_EQ("Two  spaces", Get(file, tlx_id3_v1_get_artist));
  EXPECT_EQ("Alb", Get(file, tlx_id3_v1_get_album, 3));
  EXPECT_EQ("note", Get(file, tlx_id3_v1_get_comment));
  EXPECT_EQ("1999 17 7", Numbers(file));
  // A 30-byte comment leaves no track number; a blank year reads 0.
  EngineFile v10(Concat({Audio(10), Id3v1("", "", "", "    ", std::string(30, 'c'), -1, 255)}));
  EXPECT_EQ(std::string(30, 'c'), Get(v10, tlx_id3_v1_get_comment));
  EXPECT_EQ("0 255 E9", Numbers(v10));
  // No "TAG": not found; shorter than a trailer: a positioning error.
  for (size_t size : {size_t(0), size_t(127), size_t(128), size_t(600)}) {
    EngineFile none(Audio(size));
    const std::string e = size < 128 ? "E4" : "E9";
    EXPECT_EQ(e + " " + e + " " + e, Numbers(none)) << size;
    EXPECT_EQ(e, Get(none, tlx_id3_v1_get_title)) << size;
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
  EngineFile file(Concat({Audio(200), Id3v1(std::string(30, 'T'), "a", "b", "2000", "old", 7, 1)}),
                  TLX_ID3_MODE_WRITE);
  ASSERT_EQ(0, tlx_id3_v1_set_title(file.ctx(), "Abc"));  // terminated, then blanks
  EXPECT_EQ(Concat({Text("Abc"), {0}, Bytes(26, ' ')}), Field(file.Contents(), 3, 30));
  ASSERT_EQ(0, tlx_id3_v1_set_artist(file.ctx(), std::string(30, 'A').c_str()));
  EXPECT_EQ(std::string(30, 'A'), Get(file, tlx_id3_v1_get_artist));
  const Bytes before = file.Contents();
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v1_set_album(file.ctx(), std::string(31, 'B').c_str()));
  EXPECT_EQ(before, file.Contents());
  // UTF-16 with a byte-order mark is stored up to its 00 00 terminator.
  ASSERT_EQ(0, tlx_id3_v1_set_album(file.ctx(), "\xFF\xFE" "A\0B\0\0\0"));
  EXPECT_EQ(Concat({{0xFF, 0xFE, 'A', 0, 'B', 0, 0, 0}, Bytes(22, ' ')}), Field(file.Contents(), 63, 30));
  // A stored track number keeps the comment to 28 bytes.
  ASSERT_EQ(0, tlx_id3_v1_set_comment(file.ctx(), std::string(30, 'n').c_str()));
  EXPECT_EQ(Concat({Bytes(28, 'n'), {0, 7}}), Field(file.Contents(), 97, 30));
  // Without one the comment takes 30 bytes, until a track number is set.
  EngineFile v10(Concat({Audio(150), Id3v1("t", "a", "b", "2000", std::string(30, 'x'), -1, 1)}), TLX_ID3_MODE_WRITE);
  ASSERT_EQ(0, tlx_id3_v1_set_comment(v10.ctx(), std::string(30, 'n').c_str()));
  EXPECT_EQ(std::string(30, 'n'), Get(v10, tlx_id3_v1_get_comment));
  ASSERT_EQ(0, tlx_id3_v1_set_tracknumber(v10.ctx(), 12));
  EXPECT_EQ(Concat({Bytes(28, 'n'), {0, 12}}), Field(v10.Contents(), 97, 30));
}

TEST(Id3V1, YearIsFourDigitsOrBlank) {
  EngineFile file(Concat({Audio(130), Id3v1("t", "a", "b", "1970", "c", 1, 1)}), TLX_ID3_MODE_WRITE);
  for (int32_t year : {999, 10000}) EXPECT_EQ(TLX_ID3_E_PARAM, tlx_id3_v1_set_year(file.ctx(), year));
  EXPECT_EQ(Text("1970"), Field(file.Contents(), 93, 4));
  for (int32_t year : {1000, 9999, 0}) {
    ASSERT_EQ(0, tlx_id3_v1_set_year(file.ctx(), year));
    EXPECT_EQ(year ? Text(std::to_string(year)) : Text("    "), Field(file.Contents(), 93, 4));
    EXPECT_EQ(std::to_string(year) + " 1 1", Numbers(file));
  }
}

TEST(Id3V1, StateAndReadOnlyAccess) {
  const Bytes original = Concat({Audio(200), Id3v1("t", "a", "b", "2000", "c", 1, 1)});
  EngineFile file(original, TLX_ID3_MODE_WRITE);
  // Setters need the idle state; getters refuse only the streaming states.
  for (int32_t state : {TLX_ID3_STATE_READING, TLX_ID3_STATE_EDITING, TLX_ID3_STATE_WRITING}) {
    file.ctx()->state = state;
    EXPECT_EQ(TLX_ID3_E_STATE, tlx_id3_v1_set_title(file.ctx(), "x"));
    EXPECT_EQ(state == TLX_ID3_STATE_EDITING ? "2000 1 1" : "E11 E11 E11", Numbers(file));
  }
  file.ctx()->state = TLX_ID3_STATE_IDLE;
  EXPECT_EQ(original, file.Contents());
  EngineFile read_only(original);
  EXPECT_EQ(TLX_ID3_E_WRITE, tlx_id3_v1_set_title(read_only.ctx(), "new"));
  EXPECT_EQ(original, read_only.Contents());
}

}  // namespace
}  // namespace tagkit_test
