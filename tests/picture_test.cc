// CPicture: parsing APIC and PIC payloads, the bounded data copy and the
// bytes read in place. The reading of whole tags (tagkit_picture_test.cc)
// covers frame selection.
#include "tagkit.h"

#include <algorithm>
#include <memory>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace tagkit_test;
typedef CTagkit::CPicture Picture;

Bytes PictureBytes(Picture& picture) {
  Bytes out(static_cast<std::size_t>(picture.Size()));
  unsigned char* buffer = out.data();
  std::int32_t size = picture.Size();
  EXPECT_EQ(S_OK, picture.GetData(&buffer, size));
  // Read in place, the bytes are the same.
  const unsigned char* held = picture.Data();
  EXPECT_EQ(out, held != nullptr ? Bytes(held, held + out.size()) : Bytes());
  return out;
}

TEST(PictureTest, ParsesPayloads) {
  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0};
  const struct {
    const char* name;
    bool pic;  // PIC (ID3v2.2) rather than APIC
    Bytes payload;
    HRESULT result;
    std::wstring mime;
    Bytes data;
  } rows[] = {
      {"APIC", false, Concat({{0}, Text("image/jpeg"), {0, 3}, Text("cover"), {0}, jpeg}), S_OK, L"image/jpeg", jpeg},
      {"APIC MIME type in the code page", false, Concat({{0}, Text("image/\xE9"), {0, 3, 0}}), S_OK, L"image/\u00E9", {}},
      // 'A' 00 00 'B': a zero pair at an odd distance ends nothing.
      {"APIC UTF-16 terminator at even distance", false, Concat({{1}, Text("x"), {0, 0}, {'A', 0, 0, 'B', 0, 0}, {7}}),
       S_OK, L"x", {7}},
      {"APIC encoding 2", false, Concat({{2}, Text("image/png"), {0, 3, 0}, jpeg}), E_FAIL, L"", {}},
      {"APIC MIME type unterminated", false, Concat({{0}, Text("image/png")}), E_FAIL, L"", {}},
      {"APIC no picture type", false, Concat({{0}, Text("image/png"), {0}}), E_FAIL, L"", {}},
      {"APIC description unterminated", false, Concat({{0}, Text("image/png"), {0, 3, 'a'}}), E_FAIL, L"", {}},
      {"APIC UTF-16 odd tail", false, Concat({{1}, Text("x"), {0, 3}, {0xFF, 0xFE, 0}}), E_FAIL, L"", {}},
      {"APIC empty", false, {}, E_FAIL, L"", {}},
      {"PIC JPG", true, Concat({{0}, Text("JPG"), {3}, Text("d"), {0}, jpeg}), S_OK, L"image/jpeg", jpeg},
      {"PIC PNG", true, Concat({{0}, Text("PNG"), {3, 0}, jpeg}), S_OK, L"image/png", jpeg},
      {"PIC lower-case jpg", true, Concat({{0}, Text("jpg"), {3, 0}, jpeg}), S_OK, L"", jpeg},
      {"PIC encoding 3", true, Concat({{3}, Text("PNG"), {3, 0}, jpeg}), E_FAIL, L"", {}},
      {"PIC truncated in the format", true, Concat({{0}, Text("PN")}), E_FAIL, L"", {}},
      {"PIC description unterminated", true, Concat({{0}, Text("PNG"), {3}}), E_FAIL, L"", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    // A heap block of exactly the payload's size: the sanitizer sees overreads.
    std::unique_ptr<unsigned char[]> payload(new unsigned char[row.payload.size()]);
    std::copy(row.payload.begin(), row.payload.end(), payload.get());
    const std::int32_t size = static_cast<std::int32_t>(row.payload.size());
    Picture picture;
    const unsigned char old[] = {9};
    ASSERT_EQ(S_OK, picture.SetAll(old, 1, L"old"));
    EXPECT_EQ(row.result, row.pic ? picture.SetPIC(payload.get(), size) : picture.SetAPIC(payload.get(), size));
    // A refused payload leaves the picture as it was.
    EXPECT_EQ(row.result == S_OK ? row.mime : L"old", picture.Mime());
    EXPECT_EQ(row.result == S_OK ? row.data : Bytes{9}, PictureBytes(picture));
  }
  Picture picture;
  EXPECT_EQ(E_POINTER, picture.SetAPIC(nullptr, 10));
  EXPECT_EQ(E_POINTER, picture.SetPIC(nullptr, 10));
}

// GetData copies at most the size asked for and reports what it copied.
TEST(PictureTest, GetDataCopiesNoMoreThanAsked) {
  Picture picture;
  const unsigned char bytes[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(E_POINTER, picture.SetAll(nullptr, 10, L"image/png"));
  EXPECT_EQ(E_INVALIDARG, picture.SetData(bytes, -1));
  ASSERT_EQ(S_OK, picture.SetAll(bytes, 5, L"image/png"));
  unsigned char buffer[8] = {};
  unsigned char* target = buffer;
  for (std::int32_t asked : {8, 2, -3}) {
    SCOPED_TRACE(asked);
    std::fill(buffer, buffer + 8, 0);
    std::int32_t size = asked;
    ASSERT_EQ(S_OK, picture.GetData(&target, size));
    const std::int32_t copied = std::max(0, std::min(asked, 5));
    EXPECT_EQ(copied, size);
    EXPECT_EQ(Concat({Bytes(bytes, bytes + copied), Bytes(8 - copied, 0)}), Bytes(buffer, buffer + 8));
  }
  std::int32_t size = 1;
  EXPECT_EQ(E_POINTER, picture.GetData(nullptr, size));
  // SetData keeps the MIME type.
  ASSERT_EQ(S_OK, picture.SetData(bytes, 0));
  EXPECT_EQ(0, picture.Size());
  EXPECT_EQ(L"image/png", picture.Mime());
}

}  // namespace
