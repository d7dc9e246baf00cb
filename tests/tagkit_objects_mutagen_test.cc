// Files written by tagkit, read back by an independent reader (Debian's
// python3-mutagen): pictures, the music identifier and both encapsulated
// objects must come out with the same MIME types, descriptions and bytes.
#include <algorithm>

#include "tag_inspect.h"
#include "tagkit.h"

namespace {

using namespace tagkit_test;

// One line per frame of interest: kind, then hex fields.
const char kDumpScript[] = R"PY(
import sys
from mutagen.id3 import ID3
tag = ID3(sys.argv[1])
for frame in tag.values():
    fid = frame.FrameID
    if fid == 'APIC':
        print('APIC', int(frame.type), frame.mime.encode('latin-1').hex(), frame.desc.encode('utf-8').hex(),
              frame.data.hex())
    elif fid == 'UFID':
        print('UFID', frame.owner.encode('latin-1').hex(), frame.data.hex())
    elif fid == 'GEOB':
        print('GEOB', frame.mime.encode('latin-1').hex(), frame.desc.encode('utf-8').hex(), frame.data.hex())
)PY";

TEST(TagkitObjectsMutagenTest, ReaderSeesWhatWasWritten) {
  const std::string python = MutagenPython();
  if (python.empty()) GTEST_SKIP() << "python3-mutagen is not installed";
  const Bytes jpeg = Concat({{0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10}, Text("JFIF"), {0}, Pattern(3000, 1), {0xFF, 0xD9}});
  const Bytes png = Concat({{0x89}, Text("PNG"), {0x0D, 0x0A, 0x1A, 0x0A}, Pattern(1500, 2)});
  const Bytes idData = Pattern(64, 3), mtdidData = Pattern(777, 4), qzvlxData = Concat({{0, 0}, Pattern(99, 5)});
  const Bytes audio = Audio(5000);
  for (const auto& picture : {std::make_pair(jpeg, "image/jpeg"), std::make_pair(png, "image/png")}) {
    SCOPED_TRACE(picture.second);
    TempDir dir;
    const std::string path = dir.File("song.mp3");
    WriteFile(path, Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Enc0("title")), Bytes(100, 0)})), audio}));
    boost::shared_ptr<CTagkit::CPicture> written = Holding<CTagkit::CPicture>(picture.first);
    written->SetMime(Widen(picture.second));
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(dir.WFile("song.mp3"), 2));
      ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {written}));
      ASSERT_EQ(S_OK, tag.PutMusicId({Holding<CTagkit::CMusicId>(idData)}));
      ASSERT_EQ(S_OK, tag.PutGeob(PROPID_OBJECT_MTDID, {Holding<CTagkit::CGeob>(mtdidData)}));
      ASSERT_EQ(S_OK, tag.PutGeob(PROPID_OBJECT_QZVLX, {Holding<CTagkit::CGeob>(qzvlxData)}));
      ASSERT_EQ(S_OK, tag.Close());
    }
    std::vector<std::string> expected = {
        "APIC 3 " + Hex(Text(picture.second)) + "  " + Hex(picture.first),
        "GEOB " + Hex(Text("application/QZVLX")) + " " + Hex(Text("USR_QZVLX")) + " " + Hex(qzvlxData),
        "GEOB " + Hex(Text("binary")) + " " + Hex(Text("USR_MTDID")) + " " + Hex(mtdidData),
        "UFID " + Hex(Text("http://www.vrelkmusic.com/tag")) + " " + Hex(idData),
    };
    std::vector<std::string> lines = RunPython(python, kDumpScript, path);
    std::sort(expected.begin(), expected.end());  // compared as sets: the reader orders frames its way
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(expected, lines);
    const Bytes file = ReadFile(path);
    EXPECT_EQ(audio, AudioPart(file));
    EXPECT_EQ(128u, Id3v1Part(file).size());
  }
}

}  // namespace
