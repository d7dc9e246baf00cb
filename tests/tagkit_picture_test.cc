#include "tagkit.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tag_frames.h"
#include "test_support.h"

namespace {

using namespace tagkit_test;
typedef boost::shared_ptr<CTagkit::CPicture> PicturePtr;

const Bytes kAudio = Audio(3000);
const Bytes kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
const Bytes kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00};

Bytes File23(const Bytes& frames) {
  return Concat({Id3v2Tag(3, 0, Concat({frames, Bytes(64, 0)})), kAudio});
}
Bytes File22(const Bytes& frames) {
  return Concat({Id3v2Tag(2, 0, Concat({frames, Bytes(64, 0)})), kAudio});
}
Bytes Apic(const std::string& mime, const Bytes& data) {
  return Frame23("APIC", Concat({{0}, Text(mime), {0, 3}, Text("desc"), {0}, data}));
}

PicturePtr MakePicture(const Bytes& data, const std::wstring& mime) {
  PicturePtr picture(new CTagkit::CPicture());
  EXPECT_EQ(S_OK, picture->SetAll(data.data(), static_cast<std::int32_t>(data.size()), mime));
  return picture;
}

Bytes PictureBytes(const PicturePtr& picture) {
  Bytes out(static_cast<std::size_t>(picture->Size()));
  unsigned char* buffer = out.data();
  std::int32_t size = picture->Size();
  EXPECT_EQ(S_OK, picture->GetData(&buffer, size));
  return out;
}

class TagkitPictureTest : public ::testing::Test {
 protected:
  void Write(const Bytes& bytes) { WriteFile(dir_.File("song.mp3"), bytes); }
  std::wstring WPath() const { return dir_.WFile("song.mp3"); }
  Bytes Read() const { return ReadFile(dir_.File("song.mp3")); }

  TempDir dir_;
};

TEST_F(TagkitPictureTest, ReadsTheFirstPictureFrame) {
  struct Row {
    const char* name;
    Bytes file;
    bool present;
    std::wstring mime;
    Bytes data;
  } rows[] = {
      {"APIC", File23(Apic("image/jpeg", kJpeg)), true, L"image/jpeg", kJpeg},
      {"two APIC frames", File23(Concat({Apic("image/png", kPng), Apic("image/jpeg", kJpeg)})), true,
       L"image/png", kPng},
      {"UTF-16 description",
       File23(Frame23("APIC", Concat({{1}, Text("image/png"), {0, 3}, {0xFF, 0xFE, 'A', 0, 0, 0}, kPng}))),
       true, L"image/png", kPng},
      {"PIC JPG", File22(Frame22("PIC", Concat({{0}, Text("JPG"), {3, 0}, kJpeg}))), true, L"image/jpeg",
       kJpeg},
      {"PIC PNG, UTF-16", File22(Frame22("PIC", Concat({{1}, Text("PNG"), {3}, {0xFE, 0xFF, 0, 'x', 0, 0}, kPng}))),
       true, L"image/png", kPng},
      {"APIC encoding 3", File23(Frame23("APIC", Concat({{3}, Text("image/png"), {0, 3, 0}, kPng}))), false,
       L"", {}},
      {"APIC truncated", File23(Frame23("APIC", Concat({{0}, Text("image/png")}))), false, L"", {}},
      {"empty APIC", File23(Frame23("APIC", {})), false, L"", {}},
      {"ID3v2.2 tag without PIC", File22(Frame22("TT2", {0, 'x'})), false, L"", {}},
      {"no tag", kAudio, false, L"", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
    std::vector<PicturePtr> pictures;
    if (!row.present) {
      EXPECT_EQ(E_TAG_NO_VALUE, tag.GetBinary(PROPID_PICTURE, pictures));
      continue;
    }
    ASSERT_EQ(S_OK, tag.GetBinary(PROPID_PICTURE, pictures));
    ASSERT_EQ(1u, pictures.size());
    EXPECT_EQ(row.mime, pictures[0]->Mime());
    EXPECT_EQ(row.data, PictureBytes(pictures[0]));
  }
}

TEST_F(TagkitPictureTest, WritesOneFrameFromTheFirstPicture) {
  struct Row {
    const char* name;
    bool v22;
    std::wstring mime;
    Bytes payload;  // expected frame data
  } rows[] = {
      {"APIC", false, L"image/png", Concat({{0}, Text("image/png"), {0, 3, 0}, kPng})},
      {"APIC, empty MIME type", false, L"", Concat({{0, 0, 3, 0}, kPng})},
      {"PIC PNG", true, L"image/png", Concat({{0}, Text("PNG"), {3, 0}, kPng})},
      {"PIC JPG", true, L"image/jpeg", Concat({{0}, Text("JPG"), {3, 0}, kPng})},
      {"PIC other format", true, L"image/gif", Concat({{0, 0, 0, 0, 3, 0}, kPng})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.v22 ? File22(Frame22("PIC", Concat({{0}, Text("JPG"), {3, 0}, kJpeg})))
                  : File23(Apic("image/jpeg", kJpeg)));
    std::vector<PicturePtr> pictures = {MakePicture(kPng, row.mime), MakePicture(kJpeg, L"image/jpeg")};
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
      ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, pictures));
      // The cache keeps every picture given, sharing the caller's objects.
      std::vector<PicturePtr> cached;
      ASSERT_EQ(S_OK, tag.GetBinary(PROPID_PICTURE, cached));
      EXPECT_EQ(pictures, cached);
      ASSERT_EQ(S_OK, tag.Close());
    }
    const Bytes file = Read();
    EXPECT_EQ(std::vector<Bytes>{row.payload}, FramesWithId(file, row.v22 ? "PIC" : "APIC"));
    EXPECT_EQ(kAudio, AudioPart(file));
  }
}

TEST_F(TagkitPictureTest, RemovesThePicture) {
  Write(File23(Concat({Apic("image/jpeg", kJpeg), Apic("image/png", kPng)})));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, std::vector<PicturePtr>()));
    std::vector<PicturePtr> pictures;
    EXPECT_EQ(E_TAG_NO_VALUE, tag.GetBinary(PROPID_PICTURE, pictures));
    ASSERT_EQ(S_OK, tag.Close());
  }
  EXPECT_TRUE(FramesWithId(Read(), "APIC").empty());
}

TEST_F(TagkitPictureTest, ReplacingTwiceBeforeTheCommitLeavesOneFrame) {
  Write(File23(Apic("image/jpeg", kJpeg)));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {MakePicture(kJpeg, L"image/jpeg")}));
    ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {MakePicture(kPng, L"image/png")}));
    ASSERT_EQ(S_OK, tag.Close());
  }
  EXPECT_EQ(std::vector<Bytes>{Concat({{0}, Text("image/png"), {0, 3, 0}, kPng})},
            FramesWithId(Read(), "APIC"));
}

// An unreadable picture frame is kept; the new picture is put before it so
// that it is the one read back.
TEST_F(TagkitPictureTest, UnreadableFrameIsKeptBehindTheNewPicture) {
  const Bytes unreadable = Concat({{3}, Text("image/png"), {0, 3}, Text("d"), {0}, kPng});
  Write(File23(Frame23("APIC", unreadable)));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {MakePicture(kJpeg, L"image/jpeg")}));
    ASSERT_EQ(S_OK, tag.Close());
  }
  EXPECT_EQ((std::vector<Bytes>{Concat({{0}, Text("image/jpeg"), {0, 3, 0}, kJpeg}), unreadable}),
            FramesWithId(Read(), "APIC"));
  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
  std::vector<PicturePtr> pictures;
  ASSERT_EQ(S_OK, tag.GetBinary(PROPID_PICTURE, pictures));
  EXPECT_EQ(kJpeg, PictureBytes(pictures[0]));
}

TEST_F(TagkitPictureTest, RefusedCalls) {
  const Bytes original = File23(Apic("image/jpeg", kJpeg));
  Write(original);
  CTagkit tag;
  std::vector<PicturePtr> pictures = {MakePicture(kPng, L"image/png")};
  EXPECT_EQ(E_UNEXPECTED, tag.GetBinary(PROPID_PICTURE, pictures));
  EXPECT_EQ(E_UNEXPECTED, tag.PutBinary(PROPID_PICTURE, pictures));
  ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
  EXPECT_EQ(E_TAG_UNSUPPORTED, tag.GetBinary(PROPID_TITLE, pictures));
  EXPECT_EQ(E_TAG_UNSUPPORTED, tag.PutBinary(PROPID_MUSIC_ID, pictures));
  EXPECT_EQ(E_POINTER, tag.PutBinary(PROPID_PICTURE, {PicturePtr()}));
  ASSERT_EQ(S_OK, tag.GetBinary(PROPID_PICTURE, pictures));
  EXPECT_EQ(kJpeg, PictureBytes(pictures[0]));
  EXPECT_EQ(S_OK, tag.Close());
  EXPECT_EQ(original, Read());
}

}  // namespace
