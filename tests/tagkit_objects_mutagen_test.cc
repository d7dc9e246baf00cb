// Files written by tagkit, read back by an independent reader (Debian's
// python3-mutagen): pictures, the music identifier and both encapsulated
// objects must come out with the same MIME types, descriptions and bytes.
#include "tagkit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tag_frames.h"
#include "test_support.h"

namespace {

using namespace tagkit_test;

const Bytes kAudio = Audio(5000);

// A python interpreter that has mutagen, or "".
std::string MutagenPython() {
  for (const char* python : {"/usr/bin/python3", "python3"}) {
    std::string command = std::string(python) + " -c 'import mutagen.id3' >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) return python;
  }
  return "";
}

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// One line per frame of interest, in file order: kind, then hex fields.
const char kDumpScript[] = R"PY(
import sys
from mutagen.id3 import ID3
tag = ID3(sys.argv[1])
hx = lambda b: b.hex()
for frame in tag.values():
    fid = frame.FrameID
    if fid == 'APIC':
        print('APIC', int(frame.type), hx(frame.mime.encode('latin-1')), hx(frame.desc.encode('utf-8')), hx(frame.data))
    elif fid == 'UFID':
        print('UFID', hx(frame.owner.encode('latin-1')), hx(frame.data))
    elif fid == 'GEOB':
        print('GEOB', hx(frame.mime.encode('latin-1')), hx(frame.desc.encode('utf-8')), hx(frame.data))
)PY";

#if !defined(_WIN32)
std::vector<std::string> Dump(const std::string& python, const TempDir& dir, const std::string& file) {
  const std::string script = dir.File("dump.py");
  WriteFile(script, Text(kDumpScript));
  std::vector<std::string> lines;
  std::string command = python + " " + script + " " + file + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  std::string line;
  int c;
  while ((c = std::fgetc(pipe)) != EOF) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  pclose(pipe);
  // Frames appear in the reader's order; compare as sets of lines.
  std::sort(lines.begin(), lines.end());
  return lines;
}
#else
std::vector<std::string> Dump(const std::string&, const TempDir&, const std::string&) { return {}; }
#endif

Bytes Pattern(std::size_t size, unsigned char start) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(start + i * 7);
  return out;
}

TEST(TagkitObjectsMutagenTest, ReaderSeesWhatWasWritten) {
#if defined(_WIN32)
  GTEST_SKIP() << "the reader runs on the build machine only";
#endif
  const std::string python = MutagenPython();
  if (python.empty()) GTEST_SKIP() << "python3-mutagen is not installed";

  const Bytes jpeg = Concat({{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}, Text("JFIF"), {0}, Pattern(3000, 1), {0xFF, 0xD9}});
  const Bytes png = Concat({{0x89}, Text("PNG"), {0x0D, 0x0A, 0x1A, 0x0A}, Pattern(1500, 2)});
  struct Row {
    const char* name;
    Bytes picture;
    std::wstring mime;
  } rows[] = {{"JPEG", jpeg, L"image/jpeg"}, {"PNG", png, L"image/png"}};

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const std::string path = dir.File("song.mp3");
    WriteFile(path, Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Concat({{0}, Text("title")})), Bytes(100, 0)})),
                            kAudio}));

    boost::shared_ptr<CTagkit::CPicture> picture(new CTagkit::CPicture());
    ASSERT_EQ(S_OK, picture->SetAll(row.picture.data(), static_cast<std::int32_t>(row.picture.size()), row.mime));
    boost::shared_ptr<CTagkit::CMusicId> musicId(new CTagkit::CMusicId());
    const Bytes idData = Pattern(64, 3);
    ASSERT_EQ(S_OK, musicId->SetData(idData.data(), 64));
    const Bytes mtdidData = Pattern(777, 4);
    const Bytes qzvlxData = Concat({{0, 0}, Pattern(99, 5)});
    boost::shared_ptr<CTagkit::CGeob> mtdid(new CTagkit::CGeob());
    ASSERT_EQ(S_OK, mtdid->SetData(mtdidData.data(), static_cast<std::int32_t>(mtdidData.size())));
    boost::shared_ptr<CTagkit::CGeob> qzvlx(new CTagkit::CGeob());
    ASSERT_EQ(S_OK, qzvlx->SetData(qzvlxData.data(), static_cast<std::int32_t>(qzvlxData.size())));
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(dir.WFile("song.mp3"), 2));
      ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {picture}));
      ASSERT_EQ(S_OK, tag.PutMusicId({musicId}));
      ASSERT_EQ(S_OK, tag.PutGeob(PROPID_OBJECT_MTDID, {mtdid}));
      ASSERT_EQ(S_OK, tag.PutGeob(PROPID_OBJECT_QZVLX, {qzvlx}));
      ASSERT_EQ(S_OK, tag.Close());
    }
    std::string owner;
    musicId->GetOwnerId(owner);

    std::vector<std::string> expected = {
        "APIC 3 " + Hex(Text(row.mime == L"image/png" ? "image/png" : "image/jpeg")) + "  " + Hex(row.picture),
        "GEOB " + Hex(Text("application/QZVLX")) + " " + Hex(Text("USR_QZVLX")) + " " + Hex(qzvlxData),
        "GEOB " + Hex(Text("binary")) + " " + Hex(Text("USR_MTDID")) + " " + Hex(mtdidData),
        "UFID " + Hex(Text(owner)) + " " + Hex(idData),
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Dump(python, dir, path));

    const Bytes file = ReadFile(path);
    EXPECT_EQ(kAudio, AudioPart(file));
    EXPECT_EQ(128u, Id3v1Part(file).size());
  }
}

}  // namespace
