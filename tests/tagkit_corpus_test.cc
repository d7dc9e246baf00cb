// Real-world files: every one opens and answers every getter without fault,
// known values read as an independent reader (python3-mutagen) reads them,
// and a title committed on a copy reads back while the audio stays.
#include <algorithm>

#include "tag_inspect.h"
#include "tagkit.h"
#include "tlx_system.h"

namespace {

using namespace tagkit_test;

const std::int32_t kTextIds[] = {PROPID_TITLE,  PROPID_TRACK,     PROPID_ISRC,
                                 PROPID_GENRE,  PROPID_COPYRIGHT, PROPID_ALBUM,
                                 PROPID_ARTIST, PROPID_COMPOSER,  PROPID_ARTIST_URL};

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  for (const char* sub : {"/mutagen/", "/taglib/"}) {
    if (CorpusDir().empty()) break;
    for (const std::string& name : ListDir(CorpusDir() + sub)) files.push_back(CorpusDir() + sub + name);
  }
  return files;
}

bool Answered(HRESULT hr) { return hr == S_OK || hr == E_TAG_NO_VALUE; }

// No file of the corpus has a music identifier or encapsulated object that
// this library reads (rare_frames.mp3 has a UFID, in an ID3v2.4 tag).
TEST(TagkitCorpusTest, EveryFileAnswersEveryGetterAndStaysUnchanged) {
  const std::vector<std::string> files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  EXPECT_GE(files.size(), 45u);
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const Bytes before = ReadFile(path);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(Widen(path), 1));
    for (std::int32_t id : kTextIds) {
      Strings out;
      const HRESULT hr = tag.GetString(id, out);
      EXPECT_TRUE(Answered(hr)) << std::hex << id << " " << hr;
      if (hr == S_OK) { EXPECT_FALSE(out.empty() || out[0].empty()); }
    }
    CTagkit::PictureVector pictures;
    EXPECT_TRUE(Answered(tag.GetBinary(PROPID_PICTURE, pictures)));
    double date = 0;
    EXPECT_TRUE(Answered(tag.GetDate(PROPID_RELEASE_DATE, date)));
    CTagkit::MusicIdVector ids;
    EXPECT_EQ(E_TAG_NO_VALUE, tag.GetMusicId(ids));
    CTagkit::GeobVector objects;
    EXPECT_EQ(E_TAG_NO_VALUE, tag.GetGeob(PROPID_OBJECT_MTDID, objects));
    EXPECT_EQ(E_TAG_NO_VALUE, tag.GetGeob(PROPID_OBJECT_QZVLX, objects));
    EXPECT_EQ(S_OK, tag.Close());
    EXPECT_EQ(before, ReadFile(path));
  }
}

// For ID3v1-only and ID3v2.4 files, the trailer's fields.
TEST(TagkitCorpusTest, KnownValues) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  const struct { const char* file; const wchar_t* values[5]; } rows[] = {
      {"mutagen/bad-xing.mp3", {L"09-28-2001", L"Ito Kazunori", L"Patlabor CD Box Deluxe Disc 3", L"12", L"Anime"}},
      {"mutagen/id3v22-test.mp3", {L"cosmic american", L"Anais Mitchell", L"Hymns for the Exiled", L"3/11", L""}},
      {"mutagen/id3v23_unsynch.id3", {L"My babe just cares for me", L"Nina Simone", L"100% Jazz", L"03", L""}},
      {"mutagen/silence-44-s.mp3", {L"Silence", L"piman", L"Quod Libet Test Data", L"02/10", L"Silence"}},
      {"mutagen/silence-44-s-v1.mp3", {L"Silence", L"piman", L"Quod Libet Test Data", L"2", L"(50)"}},
      {"mutagen/too-short.mp3", {L"Track 10", L"Hieroglyph", L"Hieroglyph", L"10/10", L""}},
      {"mutagen/vbri.mp3",
       {L"I Can Walk On Water I Can Fly", L"Basshunter", L"I Can Walk On Water I Can Fly", L"01", L"(3)Dance"}},
      {"mutagen/apev2-lyricsv2.mp3", {L"A song", L"Auth", L"", L"0", L"(35)"}},
      {"mutagen/no-tags.mp3", {L"", L"", L"", L"", L""}},
      {"taglib/itunes10.mp3", {L"iTunes10MP3", L"Artist", L"Album", L"1/10", L"Heavy Metal"}},
      {"taglib/duplicate_id3v2.mp3", {L"TitleXXXX", L"ArtistXXXX", L"AlbumXXXX", L"", L""}},
      {"taglib/unsynch.id3", {L"My babe just cares for me", L"Nina Simone", L"100% Jazz", L"03", L""}},
  };
  const std::int32_t ids[] = {PROPID_TITLE, PROPID_ARTIST, PROPID_ALBUM, PROPID_TRACK, PROPID_GENRE};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(Widen(CorpusDir() + "/" + row.file), 1));
    for (int i = 0; i < 5; ++i) {
      Strings out = {L""};
      EXPECT_EQ(*row.values[i] == L'\0' ? E_TAG_NO_VALUE : S_OK, tag.GetString(ids[i], out)) << i;
      EXPECT_EQ(row.values[i], out.at(0)) << i;
    }
  }
}

// Puts a title on a copy of each file, commits, and reads it back. Files whose
// tag version cannot be written (other than 2.2.0 and 2.3.0), or whose tag
// runs past the end of the file, refuse the put and stay as they were.
TEST(TagkitCorpusTest, TitleCommittedOnACopyReadsBack) {
  const std::wstring title = L"Corpus \u00E9t\u00E9 \u6771\u4EAC \U0001F3B5";
  tlx_set_thread_code_page(1252);
  const std::vector<std::string> files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  for (const std::string& source : files) {
    SCOPED_TRACE(source);
    TempDir dir;
    const Bytes original = ReadFile(source);
    WriteFile(dir.File("copy.mp3"), original);
    const bool otherVersion = TagLength(original) != 0 && !(original[3] >= 2 && original[3] <= 3 && original[4] == 0);
    const bool damaged = !otherVersion && TagLength(original) > original.size();
    Strings artistBefore, artistAfter, out;
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(dir.WFile("copy.mp3"), 2));
    tag.GetString(PROPID_ARTIST, artistBefore);
    EXPECT_EQ(otherVersion ? E_TAG_UNSUPPORTED : damaged ? E_TAG_DAMAGED : S_OK,
              tag.PutString(PROPID_TITLE, {title}));
    ASSERT_EQ(S_OK, tag.Close());
    const Bytes written = ReadFile(dir.File("copy.mp3"));
    if (otherVersion || damaged) {
      EXPECT_TRUE(original == written);
      continue;
    }
    ASSERT_EQ(S_OK, tag.Open(dir.WFile("copy.mp3"), 1));
    ASSERT_EQ(S_OK, tag.GetString(PROPID_TITLE, out));
    EXPECT_EQ(Strings{title}, out);
    tag.GetString(PROPID_ARTIST, artistAfter);
    EXPECT_EQ(artistBefore, artistAfter);  // other properties survive the rewrite
    // Whatever followed the old tag is still there, just before the trailer
    // (a tag that cannot be read is kept as part of it).
    const std::size_t oldTag = std::min(TagLength(original), original.size());
    const std::size_t oldTrailer = !Id3v1Part(original).empty() && original.size() - oldTag >= 128 ? 128 : 0;
    const Bytes oldAudio(original.begin() + oldTag, original.end() - oldTrailer), newAudio = AudioPart(written);
    ASSERT_GE(newAudio.size(), oldAudio.size());
    EXPECT_TRUE(std::equal(oldAudio.begin(), oldAudio.end(), newAudio.end() - oldAudio.size()));
  }
}

}  // namespace
