// Release dates, pictures and identifier frames of real-world files. The
// expected values were read with python3-mutagen.
#include "tagkit.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace tagkit_test;

std::uint32_t Fnv1a(const Bytes& bytes) {
  std::uint32_t hash = 0x811c9dc5u;
  for (unsigned char b : bytes) {
    hash ^= b;
    hash *= 0x01000193u;
  }
  return hash;
}

double Day(int year, int month, int day) {
  double value = 0;
  EXPECT_EQ(1, CXDate::FromDateParts(static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
                                     static_cast<std::uint16_t>(day), 0, 0, 0, value));
  return value;
}

struct CorpusRow {
  const char* file;
  double date;  // TAGKIT_NO_DATE: absent
  const wchar_t* pictureMime;  // null: no picture
  std::int32_t pictureSize;
  std::uint32_t pictureHash;
};

TEST(TagkitObjectsCorpusTest, ReadsDatesAndPictures) {
  const std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  const CorpusRow rows[] = {
      // ID3v2.2 with a PIC frame of format "PNG".
      {"taglib/itunes10.mp3", Day(2011, 1, 1), L"image/png", 2315, 0xc4bec3fbu},
      // ID3v2.4 is refused: its picture and date are not read.
      {"taglib/005411.id3", TAGKIT_NO_DATE, nullptr, 0, 0},
      // TDA "0304": 3 April.
      {"taglib/id3v22-tda.mp3", Day(2010, 4, 3), nullptr, 0, 0},
      {"mutagen/id3v22-test.mp3", Day(2004, 1, 1), nullptr, 0, 0},
      {"mutagen/silence-44-s.mp3", Day(2004, 1, 1), nullptr, 0, 0},
      {"mutagen/vbri.mp3", Day(2007, 1, 1), nullptr, 0, 0},
      {"mutagen/bad-xing.mp3", Day(1992, 1, 1), nullptr, 0, 0},
      // Only an ID3v1 trailer.
      {"mutagen/silence-44-s-v1.mp3", Day(2004, 1, 1), nullptr, 0, 0},
      // ID3v2.4 refused; the ID3v1 year 1337 stands in.
      {"mutagen/id3v1v2-combined.mp3", Day(1337, 1, 1), nullptr, 0, 0},
      // A year frame holding the bytes FE FF: no number, no date.
      {"mutagen/bad-TYER-frame.mp3", TAGKIT_NO_DATE, nullptr, 0, 0},
  };
  for (const CorpusRow& row : rows) {
    SCOPED_TRACE(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(Widen(corpus + "/" + row.file), 1));
    double date = 0;
    if (row.date == TAGKIT_NO_DATE) {
      EXPECT_EQ(E_TAG_NO_VALUE, tag.GetDate(PROPID_RELEASE_DATE, date));
    } else {
      ASSERT_EQ(S_OK, tag.GetDate(PROPID_RELEASE_DATE, date));
      EXPECT_EQ(row.date, date);
    }
    std::vector<boost::shared_ptr<CTagkit::CPicture> > pictures;
    if (row.pictureMime == nullptr) {
      EXPECT_EQ(E_TAG_NO_VALUE, tag.GetBinary(PROPID_PICTURE, pictures));
    } else {
      ASSERT_EQ(S_OK, tag.GetBinary(PROPID_PICTURE, pictures));
      ASSERT_EQ(1u, pictures.size());
      EXPECT_EQ(row.pictureMime, pictures[0]->Mime());
      Bytes data(static_cast<std::size_t>(pictures[0]->Size()));
      unsigned char* buffer = data.data();
      std::int32_t size = pictures[0]->Size();
      ASSERT_EQ(S_OK, pictures[0]->GetData(&buffer, size));
      EXPECT_EQ(row.pictureSize, size);
      EXPECT_EQ(row.pictureHash, Fnv1a(data));
    }
    EXPECT_EQ(S_OK, tag.Close());
  }
}

// No file of the corpus carries an identifier frame or encapsulated object
// that this library reads (rare_frames.mp3 has a UFID, in an ID3v2.4 tag);
// every file must still open and answer without reading out of bounds.
TEST(TagkitObjectsCorpusTest, EveryFileAnswersCleanly) {
  const std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus not present";
  int opened = 0;
  for (const char* folder : {"mutagen", "taglib"}) {
    for (const std::string& name : ListDir(corpus + "/" + folder)) {
      SCOPED_TRACE(std::string(folder) + "/" + name);
      CTagkit tag;
      if (tag.Open(Widen(corpus + "/" + folder + "/" + name), 1) != S_OK) continue;
      ++opened;
      std::vector<boost::shared_ptr<CTagkit::CPicture> > pictures;
      std::vector<boost::shared_ptr<CTagkit::CMusicId> > ids;
      std::vector<boost::shared_ptr<CTagkit::CGeob> > objects;
      HRESULT hr = tag.GetBinary(PROPID_PICTURE, pictures);
      EXPECT_TRUE(hr == S_OK || hr == E_TAG_NO_VALUE);
      EXPECT_EQ(E_TAG_NO_VALUE, tag.GetMusicId(ids));
      EXPECT_EQ(E_TAG_NO_VALUE, tag.GetGeob(PROPID_OBJECT_MTDID, objects));
      EXPECT_EQ(E_TAG_NO_VALUE, tag.GetGeob(PROPID_OBJECT_QZVLX, objects));
      double date = 0;
      hr = tag.GetDate(PROPID_RELEASE_DATE, date);
      EXPECT_TRUE(hr == S_OK || hr == E_TAG_NO_VALUE);
      EXPECT_EQ(S_OK, tag.Close());
    }
  }
  // Nearly all of them open; a miss here means the walk above tested little.
  EXPECT_GE(opened, 45);
}

}  // namespace
