// Real-world files: every one opens and reads without fault, and a title
// committed on a copy of it reads back while the audio stays as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tag_inspect.h"
#include "tagkit.h"
#include "test_support.h"
#include "tlx_system.h"

namespace {

using tagkit_test::Bytes;
using Strings = std::vector<std::wstring>;

const std::int32_t kTextIds[] = {PROPID_TITLE,  PROPID_TRACK,     PROPID_ISRC,
                                 PROPID_GENRE,  PROPID_COPYRIGHT, PROPID_ALBUM,
                                 PROPID_ARTIST, PROPID_COMPOSER,  PROPID_ARTIST_URL};

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  const std::string root = tagkit_test::CorpusDir();
  if (root.empty()) return files;
  for (const char* sub : {"mutagen", "taglib"}) {
    const std::string dir = root + "/" + sub;
    for (const std::string& name : tagkit_test::ListDir(dir)) files.push_back(dir + "/" + name);
  }
  return files;
}

TEST(CorpusTest, EveryFileOpensAndReads) {
  const std::vector<std::string> files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const Bytes before = tagkit_test::ReadFile(path);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(tagkit_test::Widen(path), 1));
    for (std::int32_t id : kTextIds) {
      Strings out;
      const HRESULT hr = tag.GetString(id, out);
      EXPECT_TRUE(hr == S_OK || hr == E_TAG_NO_VALUE) << std::hex << id << " " << hr;
      if (hr == S_OK) {
        EXPECT_FALSE(out.empty() || out[0].empty());
      }
    }
    EXPECT_EQ(S_OK, tag.Close());
    EXPECT_EQ(before, tagkit_test::ReadFile(path));
  }
}

// Values read by an independent reader (python3-mutagen) from the same
// files; for ID3v1-only and ID3v2.4 files, the trailer's fields.
TEST(CorpusTest, KnownValues) {
  if (tagkit_test::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  struct Row {
    const char* file;
    const wchar_t* title;  // "" for absent, and so on
    const wchar_t* artist;
    const wchar_t* album;
    const wchar_t* track;
    const wchar_t* genre;
  };
  const Row rows[] = {
      {"mutagen/bad-xing.mp3", L"09-28-2001", L"Ito Kazunori", L"Patlabor CD Box Deluxe Disc 3", L"12", L"Anime"},
      {"mutagen/id3v22-test.mp3", L"cosmic american", L"Anais Mitchell", L"Hymns for the Exiled", L"3/11", L""},
      {"mutagen/id3v23_unsynch.id3", L"My babe just cares for me", L"Nina Simone", L"100% Jazz", L"03", L""},
      {"mutagen/silence-44-s.mp3", L"Silence", L"piman", L"Quod Libet Test Data", L"02/10", L"Silence"},
      {"mutagen/silence-44-s-v1.mp3", L"Silence", L"piman", L"Quod Libet Test Data", L"2", L"(50)"},
      {"mutagen/too-short.mp3", L"Track 10", L"Hieroglyph", L"Hieroglyph", L"10/10", L""},
      {"mutagen/vbri.mp3", L"I Can Walk On Water I Can Fly", L"Basshunter", L"I Can Walk On Water I Can Fly",
       L"01", L"(3)Dance"},
      {"mutagen/apev2-lyricsv2.mp3", L"A song", L"Auth", L"", L"0", L"(35)"},
      {"mutagen/no-tags.mp3", L"", L"", L"", L"", L""},
      {"taglib/itunes10.mp3", L"iTunes10MP3", L"Artist", L"Album", L"1/10", L"Heavy Metal"},
      {"taglib/duplicate_id3v2.mp3", L"TitleXXXX", L"ArtistXXXX", L"AlbumXXXX", L"", L""},
      {"taglib/unsynch.id3", L"My babe just cares for me", L"Nina Simone", L"100% Jazz", L"03", L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(tagkit_test::Widen(tagkit_test::CorpusDir() + "/" + row.file), 1));
    const std::pair<std::int32_t, const wchar_t*> expected[] = {
        {PROPID_TITLE, row.title}, {PROPID_ARTIST, row.artist}, {PROPID_ALBUM, row.album},
        {PROPID_TRACK, row.track}, {PROPID_GENRE, row.genre}};
    for (const auto& e : expected) {
      Strings out;
      const HRESULT hr = tag.GetString(e.first, out);
      if (*e.second == L'\0') {
        EXPECT_EQ(E_TAG_NO_VALUE, hr) << std::hex << e.first;
      } else {
        ASSERT_EQ(S_OK, hr) << std::hex << e.first;
        EXPECT_EQ(e.second, out[0]);
      }
    }
  }
}

// An ID3v2 tag of a version other than 2.2.0 and 2.3.0.
bool OtherTagVersion(const Bytes& file) {
  return tagkit_test::TagLength(file) != 0 && !((file[3] == 2 || file[3] == 3) && file[4] == 0);
}

// Puts a title on a copy of source, commits, and reads it back. Files whose
// tag version cannot be written refuse the put and stay as they were.
void CheckTitleCommit(const std::string& source) {
  const std::wstring title = L"Corpus \u00E9t\u00E9 \u6771\u4EAC \U0001F3B5";
  SCOPED_TRACE(source);
  tagkit_test::TempDir dir;
  const std::string copy = dir.File("copy.mp3");
  const Bytes original = tagkit_test::ReadFile(source);
  tagkit_test::WriteFile(copy, original);

  Strings artistBefore;
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(tagkit_test::Widen(copy), 2));
    tag.GetString(PROPID_ARTIST, artistBefore);
    if (OtherTagVersion(original)) {
      EXPECT_EQ(E_TAG_UNSUPPORTED, tag.PutString(PROPID_TITLE, {title}));
      EXPECT_EQ(S_OK, tag.Close());
      EXPECT_TRUE(original == tagkit_test::ReadFile(copy));
      return;
    }
    ASSERT_EQ(S_OK, tag.PutString(PROPID_TITLE, {title}));
    ASSERT_EQ(S_OK, tag.Close());
  }
  CTagkit reader;
  ASSERT_EQ(S_OK, reader.Open(tagkit_test::Widen(copy), 1));
  Strings out;
  ASSERT_EQ(S_OK, reader.GetString(PROPID_TITLE, out));
  EXPECT_EQ(Strings{title}, out);
  // Other properties survive the rewrite.
  Strings artistAfter;
  reader.GetString(PROPID_ARTIST, artistAfter);
  EXPECT_EQ(artistBefore, artistAfter);

  // Whatever followed the old tag is still there, just before the trailer.
  // (A tag the engine cannot read, such as ID3v2.4, is kept as part of it.)
  const Bytes written = tagkit_test::ReadFile(copy);
  const std::size_t oldTag = std::min(tagkit_test::TagLength(original), original.size());
  const std::size_t oldTrailer =
      !tagkit_test::Id3v1Part(original).empty() && original.size() - oldTag >= 128 ? 128 : 0;
  const Bytes oldAudio(original.begin() + oldTag, original.end() - oldTrailer);
  const Bytes newAudio = tagkit_test::AudioPart(written);
  ASSERT_GE(newAudio.size(), oldAudio.size());
  EXPECT_TRUE(std::equal(oldAudio.begin(), oldAudio.end(), newAudio.end() - oldAudio.size()));
}

TEST(CorpusTest, TitleCommittedOnACopyReadsBack) {
  const std::vector<std::string> files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  tlx_set_thread_code_page(1252);
  for (const std::string& source : files) CheckTitleCommit(source);
}

}  // namespace
