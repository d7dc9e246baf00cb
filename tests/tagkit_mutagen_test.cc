// A file written by tagkit, read back by an independent ID3 reader (Debian's
// python3-mutagen): the values must match and the audio must be untouched.
#include <cwchar>

#include "tag_inspect.h"
#include "tagkit.h"
#include "tlx_system.h"

namespace {

using namespace tagkit_test;

// The version, then KEY=hex(utf-8) per value in this order of frames.
const char kScript[] = R"PY(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1], translate=False)
print('version=' + '.'.join(str(v) for v in t.version))
for k in ['TIT2', 'TPE1', 'TALB', 'TCON', 'TRCK', 'TCOM', 'TCOP', 'TSRC']:
    for f in t.getall(k):
        for v in f.text:
            print(k + '=' + str(v).encode('utf-8').hex())
for f in t.getall('WOAR'):
    print('WOAR=' + f.url.encode('utf-8').hex())
)PY";

TEST(TagkitMutagenTest, ReadsWhatTagkitWrote) {
  const std::string python = MutagenPython();
  if (python.empty()) GTEST_SKIP() << "python3-mutagen is not installed";
  tlx_set_thread_code_page(1252);
  TempDir dir;
  const std::string path = dir.File("chanson \xC3\xA9t\xC3\xA9.mp3");
  const Bytes audio = Audio(20000);
  WriteFile(path, Concat({Id3v2Tag(3, 0, Frame23("TIT2", Enc0("old"))), audio}));
  const struct { std::int32_t id; const char* frame; std::vector<std::string> values; } puts[] = {
      {PROPID_TITLE, "TIT2", {"Caf\xC3\xA9 \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x8E\xB5"}},
      {PROPID_ARTIST, "TPE1", {"\xC3\x89" "dith Pi\xC3\xA4" "f"}},
      {PROPID_ALBUM, "TALB", {"\xD0\x90\xD0\xBB\xD1\x8C\xD0\xB1\xD0\xBE\xD0\xBC"}},
      {PROPID_GENRE, "TCON", {"(17)"}},
      {PROPID_TRACK, "TRCK", {"7"}},
      {PROPID_COMPOSER, "TCOM", {"\xC3\x98ystein"}},
      {PROPID_COPYRIGHT, "TCOP", {"\xE2\x84\x97 2001 Label"}},
      {PROPID_ISRC, "TSRC", {"GBAYE0000351"}},
      {PROPID_ARTIST_URL, "WOAR", {"http://artist.example/one", "http://artist.example/two"}},
  };
  std::vector<std::string> expected = {"version=2.3.0"};
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(Widen(path), 2));
    for (const auto& p : puts) {
      Strings values;
      for (const std::string& v : p.values) {
        values.push_back(Widen(v));
        expected.push_back(p.frame + ("=" + Hex(Text(v))));
      }
      ASSERT_EQ(S_OK, tag.PutString(p.id, values));
    }
    ASSERT_EQ(S_OK, tag.Close());
  }
  EXPECT_EQ(expected, RunPython(python, kScript, path));
  EXPECT_EQ(audio, AudioPart(ReadFile(path)));
}

// ID3v2.4 files: mutagen writes them (frames given as a Python list), or the
// test gives the bytes of what mutagen does not write.
const char kWriteV24[] = R"PY(
import sys
from mutagen.id3 import ID3, Frames
globals().update(Frames)
t = ID3()
for f in [%s]:
    t.add(f)
t.save(sys.argv[1], v2_version=4)
)PY";

// The tag followed by its ID3v2.4 footer.
Bytes WithFooter(const Bytes& tag) {
  return Concat({tag, Text("3DI"), Bytes(tag.begin() + 3, tag.begin() + 10)});
}

void WriteV24(const std::string& python, const std::string& path, const std::string& frames) {
  std::string script(kWriteV24);
  script.replace(script.find("%s"), 2, frames);
  WriteFile(path, Audio(5000));
  ASSERT_EQ(std::vector<std::string>(), RunPython(python, script, path)) << frames;
}

// A test file: mutagen's frames when given (a Python expression), else the
// crafted tag before the audio.
void WriteSource(const std::string& python, const std::string& path, const char* frames,
                 const Bytes& tag) {
  if (frames != nullptr) {
    WriteV24(python, path, frames);
  } else {
    WriteFile(path, Concat({tag, Audio(5000)}));
  }
}

// A property as one line: the first string, the date down to the second, or
// the picture's MIME type and bytes.
std::wstring Describe(CTagkit& tag, std::int32_t id) {
  if (id == PROPID_RELEASE_DATE) {
    double date = 0;
    CXDate::DateParts p = {};
    if (tag.GetDate(id, date) != S_OK || !CXDate::ToDateParts(date, p)) return L"-";
    wchar_t text[64];
    std::swprintf(text, 64, L"%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
    return text;
  }
  if (id == PROPID_PICTURE) {
    CTagkit::PictureVector pictures;
    if (tag.GetBinary(id, pictures) != S_OK) return L"-";
    return pictures[0]->Mime() + L" " + Widen(Hex(PictureData(pictures[0])));
  }
  Strings values;
  return tag.GetString(id, values) == S_OK ? values[0] : L"-";
}

TEST(TagkitMutagenTest, ReadsId3v24AsMutagenDoes) {
  const std::string python = MutagenPython();
  if (python.empty()) GTEST_SKIP() << "python3-mutagen is not installed";
  const std::int32_t v24 = TAGKIT_OPEN_READ | TAGKIT_OPEN_V24;
  const struct {
    const char* name;
    const char* frames;  // for mutagen, or null: the tag is given
    Bytes tag;
    std::int32_t mode;
    std::int32_t id;
    std::wstring expected;
  } rows[] = {
      {"UTF-8, first of two values", "TIT2(encoding=3, text=['Caf\\xe9 \\u6771', 'Two'])", {}, v24,
       PROPID_TITLE, L"Caf\u00E9 \u6771"},
      {"UTF-16BE", "TPE1(encoding=2, text=['\\xc9dith \\U0001F3B5'])", {}, v24, PROPID_ARTIST,
       Widen("\xC3\x89" "dith \xF0\x9F\x8E\xB5")},
      {"UTF-16, first of two values", "TALB(encoding=1, text=['One', 'Two'])", {}, v24, PROPID_ALBUM, L"One"},
      {"genre number", "TCON(encoding=3, text=['17', 'Rock'])", {}, v24, PROPID_GENRE, L"(17)"},
      {"genre remix", "TCON(encoding=0, text=['RX'])", {}, v24, PROPID_GENRE, L"(RX)"},
      {"genre in the ID3v2.3 form", "TCON(encoding=0, text=['(17)Rock'])", {}, v24, PROPID_GENRE, L"(17)Rock"},
      {"genre as text", "TCON(encoding=3, text=['Jazz Fusion'])", {}, v24, PROPID_GENRE, L"Jazz Fusion"},
      {"year", "TDRC(encoding=0, text=['2004'])", {}, v24, PROPID_RELEASE_DATE, L"2004-01-01 00:00:00"},
      {"month", "TDRC(encoding=0, text=['2004-05'])", {}, v24, PROPID_RELEASE_DATE, L"2004-05-01 00:00:00"},
      {"day", "TDRC(encoding=3, text=['2004-05-06'])", {}, v24, PROPID_RELEASE_DATE, L"2004-05-06 00:00:00"},
      {"hour", "TDRC(encoding=0, text=['2004-05-06T07'])", {}, v24, PROPID_RELEASE_DATE, L"2004-05-06 07:00:00"},
      {"minute", "TDRC(encoding=0, text=['2004-05-06T07:08'])", {}, v24, PROPID_RELEASE_DATE, L"2004-05-06 07:08:00"},
      {"second", "TDRC(encoding=0, text=['2004-05-06T07:08:09'])", {}, v24, PROPID_RELEASE_DATE,
       L"2004-05-06 07:08:09"},
      {"impossible day", "TDRC(encoding=0, text=['2004-02-30'])", {}, v24, PROPID_RELEASE_DATE, L"-"},
      {"year and date frames stand in", nullptr,
       Id3v2Tag(4, 0, Concat({Frame24("TYER", Enc0("1999")), Frame24("TDAT", Enc0("3112"))})), v24,
       PROPID_RELEASE_DATE, L"1999-12-31 00:00:00"},
      {"picture with a UTF-8 description",
       "APIC(encoding=3, mime='image/png', type=3, desc='\\xdcber', data=b'\\x89PNG')", {}, v24, PROPID_PICTURE,
       L"image/png 89504e47"},
      {"UTF-8 in an ID3v2.3 tag", nullptr, Id3v2Tag(3, 0, Frame23("TIT2", {3, 'H', 'i', 0})), v24, PROPID_TITLE,
       L"Hi"},
      {"without the flag the tag is absent", "TIT2(encoding=3, text=['New'])", {}, TAGKIT_OPEN_READ,
       PROPID_TITLE, L"-"},
  };
  TempDir dir;
  const std::string path = dir.File("a.mp3");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteSource(python, path, row.frames, row.tag);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(Widen(path), row.mode));
    EXPECT_EQ(row.expected, Describe(tag, row.id));
  }
}

// What mutagen reads of the frames the puts below change.
const char kReadV24[] = R"PY(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1], translate=False)
print('version=' + '.'.join(str(v) for v in t.version))
for k in ['TIT2', 'TPE1', 'TCON', 'TDRC']:
    for f in t.getall(k):
        print(k + '=' + '|'.join(str(v) for v in f.text))
for f in t.getall('APIC'):
    print('APIC=' + f.mime + ' ' + f.data.hex())
)PY";

TEST(TagkitMutagenTest, PutsKeepAnId3v24TagWhatMutagenReads) {
  const std::string python = MutagenPython();
  if (python.empty()) GTEST_SKIP() << "python3-mutagen is not installed";
  const Bytes text = {3, 'x', 0};
  const Bytes stored = Concat({Frame24("TALB", text), Frame24("TXXX", {3, 'k', 0, 'v', 0})});
  const struct {
    const char* name;
    const char* frames;  // for mutagen, or null: the tag is given
    Bytes tag;
    bool sameLayout;  // the stored frames need no rewrite to stand on their own
  } rows[] = {
      {"written by mutagen",
       "TIT2(encoding=3, text=['Old', 'Two']), TPE1(encoding=1, text=['Old']), TALB(encoding=3, text=['Kept']),"
       "TDRC(encoding=0, text=['1999-01-02T03:04']), TYER(encoding=0, text=['1998']),"
       "APIC(encoding=3, mime='image/jpeg', type=3, desc='\\xe9', data=b'\\xff\\xd8'),"
       "TXXX(encoding=3, desc='k', text=['v'])",
       {}, true},
      {"unsynchronised", nullptr, Id3v2Tag(4, 0x80, Concat({Frame24("TIT2", {3, 0xFF, 0x00, 0xE9, 0}), stored})),
       true},
      {"extended header and footer", nullptr, WithFooter(Id3v2Tag(4, 0x50, Concat({SyncSafe(6), {1, 0},
                                                                                 Frame24("TPE1", Enc0("Old")), stored}))),
       true},
      {"compressed with data length indicator", nullptr,
       Id3v2Tag(4, 0, Concat({Frame24("TIT2", Concat({SyncSafe(5), Deflate({3, 'O', 'l', 'd', 0})}), 0, 0x09),
                              stored})),
       true},
      {"plain-integer frame sizes", nullptr,
       Id3v2Tag(4, 0, Concat({Text("TALB"), Be32(200), {0, 0}, {3}, Bytes(198, 'a'), {0}, Frame24("TPE1", text)})),
       false},
  };
  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE1};
  const Bytes audio = Audio(5000);
  TempDir dir;
  const std::string path = dir.File("a.mp3");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteSource(python, path, row.frames, row.tag);
    const Bytes before = ReadFile(path);
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(Widen(path), TAGKIT_OPEN_WRITE | TAGKIT_OPEN_V24));
      ASSERT_EQ(S_OK, tag.PutString(PROPID_TITLE, {L"T\u00EEtle \U0001F3B5"}));
      ASSERT_EQ(S_OK, tag.PutString(PROPID_ARTIST, {L"\u00C9dith"}));
      ASSERT_EQ(S_OK, tag.PutString(PROPID_GENRE, {L"(17)"}));
      double date = 0;
      ASSERT_TRUE(CXDate::FromDateParts(2021, 3, 4, 0, 0, 0, date));
      ASSERT_EQ(S_OK, tag.PutDate(PROPID_RELEASE_DATE, date));
      boost::shared_ptr<CTagkit::CPicture> picture(new CTagkit::CPicture());
      ASSERT_EQ(S_OK, picture->SetAll(jpeg.data(), 4, L"image/jpeg"));
      ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {picture}));
      ASSERT_EQ(S_OK, tag.Close());
    }
    const Bytes after = ReadFile(path);
    EXPECT_EQ((std::vector<std::string>{"version=2.4.0", "TIT2=T\xC3\xAEtle \xF0\x9F\x8E\xB5",
                                        "TPE1=\xC3\x89" "dith", "TCON=17", "TDRC=2021-03-04",
                                        "APIC=image/jpeg ffd8ffe1"}),
              RunPython(python, kReadV24, path));
    EXPECT_EQ(audio, AudioPart(after));
    // Frames no put touched are the stored ones, byte for byte.
    for (const char* id : {"TALB", "TXXX"}) {
      SCOPED_TRACE(id);
      if (row.sameLayout) {
        EXPECT_EQ(FramesWithId(before, id), FramesWithId(after, id));
      }
    }
  }
}

}  // namespace
