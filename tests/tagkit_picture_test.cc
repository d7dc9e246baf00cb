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

const Bytes kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
const Bytes kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00};

Bytes Apic(const std::string& mime, const Bytes& data) {
  return Frame23("APIC", Concat({{0}, Text(mime), {0, 3}, Text("desc"), {0}, data}));
}
// The payload the library writes: 8-bit, front cover, no description.
Bytes WrittenApic(const std::string& mime, const Bytes& data) {
  return Concat({{0}, Text(mime), {0, 3, 0}, data});
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

typedef SongFileTest TagkitPictureTest;

TEST_F(TagkitPictureTest, ReadsTheFirstPictureFrame) {
  struct Row {
    const char* name;
    Bytes file;
    std::wstring mime;
    Bytes data;  // empty: no picture
  } rows[] = {
      {"APIC", TaggedFile(3, Apic("image/jpeg", kJpeg)), L"image/jpeg", kJpeg},
      {"two APIC frames", TaggedFile(3, Concat({Apic("image/png", kPng), Apic("image/jpeg", kJpeg)})), L"image/png", kPng},
      {"PIC, UTF-16 description",
       TaggedFile(2, Frame22("PIC", Concat({{1}, Text("PNG"), {3}, {0xFE, 0xFF, 0, 'x', 0, 0}, kPng}))), L"image/png", kPng},
      {"APIC encoding 3", TaggedFile(3, Frame23("APIC", Concat({{3}, Text("image/png"), {0, 3, 0}, kPng}))), L"", {}},
      {"APIC truncated", TaggedFile(3, Frame23("APIC", Concat({{0}, Text("image/png")}))), L"", {}},
      {"empty APIC", TaggedFile(3, Frame23("APIC", {})), L"", {}},
      {"APIC claiming 16 MB", TaggedFile(3, Concat({Text("APIC"), {0, 0xFF, 0xFF, 0xF0, 0, 0}, WrittenApic("x", kPng)})),
       L"", {}},
      {"no tag", TagAudio(), L"", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.file);
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
    std::vector<PicturePtr> pictures;
    if (row.data.empty()) {
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
    int major;
    std::wstring mime;
    Bytes payload;
  } rows[] = {
      {3, L"image/png", WrittenApic("image/png", kPng)},
      {3, L"", WrittenApic("", kPng)},
      {2, L"image/png", Concat({{0}, Text("PNG"), {3, 0}, kPng})},
      {2, L"image/jpeg", Concat({{0}, Text("JPG"), {3, 0}, kPng})},
      {2, L"image/gif", Concat({{0, 0, 0, 0, 3, 0}, kPng})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.major << " " << row.payload.size());
    Write(row.major == 2 ? TaggedFile(2, Frame22("PIC", Concat({{0}, Text("JPG"), {3, 0}, kJpeg})))
                         : TaggedFile(3, Apic("image/jpeg", kJpeg)));
    std::vector<PicturePtr> pictures = {MakePicture(kPng, row.mime), MakePicture(kJpeg, L"image/jpeg")};
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
      ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {MakePicture(kJpeg, L"image/jpeg")}));
      ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, pictures));
      // The cache keeps every picture given, shared with the caller.
      std::vector<PicturePtr> cached;
      ASSERT_EQ(S_OK, tag.GetBinary(PROPID_PICTURE, cached));
      EXPECT_EQ(pictures, cached);
      ASSERT_EQ(S_OK, tag.Close());
    }
    const Bytes file = Read();
    EXPECT_EQ(std::vector<Bytes>{row.payload}, FramesWithId(file, row.major == 2 ? "PIC" : "APIC"));
    EXPECT_EQ(TagAudio(), AudioPart(file));
  }
}

TEST_F(TagkitPictureTest, EmptyVectorRemovesThePicture) {
  Write(TaggedFile(3, Concat({Apic("image/jpeg", kJpeg), Apic("image/png", kPng)})));
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

// An unreadable picture frame is kept, and the new picture goes before it so
// that it is the one read back.
TEST_F(TagkitPictureTest, UnreadableFrameStaysBehindTheNewPicture) {
  const Bytes unreadable = Concat({{3}, Text("image/png"), {0, 3}, Text("d"), {0}, kPng});
  Write(TaggedFile(3, Frame23("APIC", unreadable)));
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
    ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {MakePicture(kJpeg, L"image/jpeg")}));
    ASSERT_EQ(S_OK, tag.Close());
  }
  EXPECT_EQ((std::vector<Bytes>{WrittenApic("image/jpeg", kJpeg), unreadable}), FramesWithId(Read(), "APIC"));
  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(WPath(), 1));
  std::vector<PicturePtr> pictures;
  ASSERT_EQ(S_OK, tag.GetBinary(PROPID_PICTURE, pictures));
  EXPECT_EQ(kJpeg, PictureBytes(pictures[0]));
}

TEST_F(TagkitPictureTest, RefusedCalls) {
  const Bytes original = TaggedFile(3, Apic("image/jpeg", kJpeg));
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
  // ID3v2.2 frame sizes have 24 bits.
  Write(TaggedFile(2, Frame22("PIC", Concat({{0}, Text("JPG"), {3, 0}, kJpeg}))));
  ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
  EXPECT_EQ(E_INVALIDARG, tag.PutBinary(PROPID_PICTURE, {MakePicture(Bytes(0xFFFFFA, 1), L"")}));
  EXPECT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {MakePicture(Bytes(0xFFFFF0, 1), L"")}));
  ASSERT_EQ(S_OK, tag.GetBinary(PROPID_PICTURE, pictures));
  EXPECT_EQ(0xFFFFF0, pictures[0]->Size());
  EXPECT_EQ(S_OK, tag.Close());
}

}  // namespace
