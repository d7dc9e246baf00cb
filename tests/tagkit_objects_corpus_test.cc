// Release dates and pictures of real-world files. The expected values were
// read with python3-mutagen.
#include "tag_inspect.h"
#include "tagkit.h"

namespace {

using namespace tagkit_test;

std::uint32_t Fnv1a(const Bytes& bytes) {
  std::uint32_t hash = 0x811c9dc5u;
  for (std::uint8_t b : bytes) hash = (hash ^ b) * 0x01000193u;
  return hash;
}

TEST(TagkitObjectsCorpusTest, ReadsDatesAndPictures) {
  const std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  const struct {
    const char* file; int year, month, day;
    const wchar_t* pictureMime; std::size_t pictureSize; std::uint32_t pictureHash;
  } rows[] = {
      {"taglib/itunes10.mp3", 2011, 1, 1, L"image/png", 2315, 0xc4bec3fbu},  // ID3v2.2, PIC of format "PNG"
      {"taglib/005411.id3", 0, 0, 0, nullptr, 0, 0},  // ID3v2.4 is refused: nothing is read
      {"taglib/id3v22-tda.mp3", 2010, 4, 3, nullptr, 0, 0},  // TDA "0304": 3 April
      {"mutagen/id3v22-test.mp3", 2004, 1, 1, nullptr, 0, 0},
      {"mutagen/silence-44-s.mp3", 2004, 1, 1, nullptr, 0, 0},
      {"mutagen/vbri.mp3", 2007, 1, 1, nullptr, 0, 0},
      {"mutagen/bad-xing.mp3", 1992, 1, 1, nullptr, 0, 0},
      {"mutagen/silence-44-s-v1.mp3", 2004, 1, 1, nullptr, 0, 0},  // only an ID3v1 trailer
      {"mutagen/id3v1v2-combined.mp3", 1337, 1, 1, nullptr, 0, 0},  // ID3v2.4 refused, the ID3v1 year stands in
      {"mutagen/bad-TYER-frame.mp3", 0, 0, 0, nullptr, 0, 0},  // a year frame of the bytes FE FF
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(Widen(corpus + "/" + row.file), 1));
    double date = 0, expected = 0;
    EXPECT_EQ(row.year == 0 ? E_TAG_NO_VALUE : S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
    if (row.year != 0) {
      ASSERT_EQ(1, CXDate::FromDateParts(row.year, row.month, row.day, 0, 0, 0, expected));
      EXPECT_EQ(expected, date);
    }
    CTagkit::PictureVector pictures;
    ASSERT_EQ(row.pictureMime == nullptr ? E_TAG_NO_VALUE : S_OK, tag.GetBinary(PROPID_PICTURE, pictures));
    if (row.pictureMime == nullptr) continue;
    EXPECT_EQ(row.pictureMime, pictures.at(0)->Mime());
    const Bytes data = PictureData(pictures.at(0));
    EXPECT_EQ(row.pictureSize, data.size());
    EXPECT_EQ(row.pictureHash, Fnv1a(data));
  }
}

}  // namespace
