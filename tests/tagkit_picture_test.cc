// The attached picture: the first APIC (ID3v2.2: PIC) frame read, and one
// front-cover frame written from the first picture given.
#include "tag_inspect.h"
#include "tagkit.h"

namespace {

using namespace tagkit_test;
typedef boost::shared_ptr<CTagkit::CPicture> PicturePtr;

const Bytes kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
const Bytes kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00};

Bytes Apic(const std::string& mime, const Bytes& data) {
  return Frame23("APIC", Concat({{0}, Text(mime), {0, 3}, Text("desc"), {0}, data}));
}
Bytes Pic(const std::string& format, const Bytes& data) {
  return Frame22("PIC", Concat({{0}, Text(format), {3, 0}, data}));
}
// The payload the library writes: 8-bit, front cover, no description.
Bytes WrittenApic(const std::string& mime, const Bytes& data) { return Concat({{0}, Text(mime), {0, 3, 0}, data}); }

PicturePtr MakePicture(const Bytes& data, const std::wstring& mime) {
  PicturePtr picture = Holding<CTagkit::CPicture>(data);
  picture->SetMime(mime);
  return picture;
}

class TagkitPictureTest : public SongFileTest {
 protected:
  // The picture read from the file, or empty bytes.
  Bytes ReadPicture(std::wstring* mime = nullptr) {
    CTagkit tag;
    EXPECT_EQ(S_OK, tag.Open(WPath(), 1));
    std::vector<PicturePtr> pictures;
    if (tag.GetBinary(PROPID_PICTURE, pictures) != S_OK) return Bytes();
    EXPECT_EQ(1u, pictures.size());
    if (mime != nullptr) *mime = pictures.at(0)->Mime();
    return PictureData(pictures.at(0));
  }
  // An unreadable picture frame is kept, and the new picture goes before it
  // so that it is the one read back.
  void PutOverUnreadableFrame(int puts) {
    const Bytes unreadable = Concat({{3}, Text("image/png"), {0, 3}, Text("d"), {0}, kPng});
    Write(TaggedFile(3, Frame23("APIC", unreadable)));
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
      for (int i = 0; i < puts; ++i) ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {MakePicture(kJpeg, L"")}));
      ASSERT_EQ(S_OK, tag.Close());
    }
    EXPECT_EQ((std::vector<Bytes>{WrittenApic("", kJpeg), unreadable}), FramesWithId(Read(), "APIC"));
    EXPECT_EQ(kJpeg, ReadPicture());
  }
};

TEST_F(TagkitPictureTest, ReadsTheFirstPictureFrame) {
  const struct { const char* name; Bytes file; std::wstring mime; Bytes data; } rows[] = {  // no data: none
      {"APIC", TaggedFile(3, Apic("image/jpeg", kJpeg)), L"image/jpeg", kJpeg},
      {"the first of two", TaggedFile(3, Concat({Apic("image/png", kPng), Apic("image/jpeg", kJpeg)})), L"image/png",
       kPng},
      {"PIC, UTF-16 description",
       TaggedFile(2, Frame22("PIC", Concat({{1}, Text("PNG"), {3}, {0xFE, 0xFF, 0, 'x', 0, 0}, kPng}))), L"image/png",
       kPng},
      {"unreadable APIC", TaggedFile(3, Frame23("APIC", Concat({{3}, Text("image/png"), {0, 3, 0}, kPng}))), L"", {}},
      {"APIC claiming 16 MB", TaggedFile(3, Concat({Text("APIC"), {0, 0xFF, 0xFF, 0xF0, 0, 0}, WrittenApic("", kPng)})),
       L"", {}},
      {"no tag", TagAudio(), L"", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.file);
    std::wstring mime;
    EXPECT_EQ(row.data, ReadPicture(&mime));
    EXPECT_EQ(row.mime, mime);
  }
}

// Every stored picture frame goes; an empty vector leaves none. The cache
// keeps every picture given, shared with the caller.
TEST_F(TagkitPictureTest, WritesOneFrameFromTheFirstPicture) {
  const struct { const char* name; int major; std::wstring mime; std::vector<Bytes> payloads; } rows[] = {
      {"APIC", 3, L"image/png", {WrittenApic("image/png", kPng)}},
      {"APIC without MIME type", 3, L"", {WrittenApic("", kPng)}},
      {"no APIC", 3, L"none", {}},
      {"PIC of PNG", 2, L"image/png", {Concat({{0}, Text("PNG"), {3, 0}, kPng})}},
      {"PIC of JPEG", 2, L"image/jpeg", {Concat({{0}, Text("JPG"), {3, 0}, kPng})}},
      {"PIC of another format", 2, L"image/gif", {Concat({{0, 0, 0, 0, 3, 0}, kPng})}},
      {"no PIC", 2, L"none", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.major == 2 ? TaggedFile(2, Concat({Pic("JPG", kJpeg), Pic("PNG", kPng)}))
                         : TaggedFile(3, Concat({Apic("image/jpeg", kJpeg), Apic("image/png", kPng)})));
    std::vector<PicturePtr> pictures = {MakePicture(kPng, row.mime), MakePicture(kJpeg, L"image/jpeg")};
    if (row.mime == L"none") pictures.clear();
    {
      CTagkit tag;
      ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
      ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {MakePicture(kJpeg, L"image/jpeg")}));
      ASSERT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, pictures));
      std::vector<PicturePtr> cached;
      EXPECT_EQ(pictures.empty() ? E_TAG_NO_VALUE : S_OK, tag.GetBinary(PROPID_PICTURE, cached));
      EXPECT_EQ(pictures, cached);
      ASSERT_EQ(S_OK, tag.Close());
    }
    EXPECT_EQ(row.payloads, FramesWithId(Read(), row.major == 2 ? "PIC" : "APIC"));
    EXPECT_EQ(TagAudio(), AudioPart(Read()));
  }
}

TEST_F(TagkitPictureTest, UnreadableFrameStaysBehindTheNewPicture) { PutOverUnreadableFrame(1); }

// Known fault: the first put caches the new picture, so the second one takes
// every picture frame for ours and removes the unreadable one as well.
TEST_F(TagkitPictureTest, UnreadableFrameStaysThroughARepeatedPut) { PutOverUnreadableFrame(2); }

// ID3v2.2 frame sizes have 24 bits. A picture too large for a frame is
// refused before anything changes: the stored one stays.
TEST_F(TagkitPictureTest, LargestPictureOfAnId3v22Tag) {
  const Bytes original = TaggedFile(2, Pic("JPG", kJpeg));
  Write(original);
  CTagkit tag;
  ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
  EXPECT_EQ(E_INVALIDARG, tag.PutBinary(PROPID_PICTURE, {MakePicture(Bytes(0xFFFFFA, 1), L"")}));
  EXPECT_EQ(S_OK, tag.Close());
  EXPECT_EQ(original, Read());
  ASSERT_EQ(S_OK, tag.Open(WPath(), 2));
  EXPECT_EQ(S_OK, tag.PutBinary(PROPID_PICTURE, {MakePicture(Bytes(0xFFFFF0, 1), L"")}));
  EXPECT_EQ(S_OK, tag.Close());
  EXPECT_EQ(Bytes(0xFFFFF0, 1), ReadPicture());
}

}  // namespace
