// A file written by tagkit, read back by an independent ID3 reader (Debian's
// python3-mutagen): the values must match and the audio must be untouched.
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

}  // namespace
