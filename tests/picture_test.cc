#include "tagkit.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"
#include "tlx_system.h"

namespace {

using tagkit_test::Bytes;
using tagkit_test::Concat;
using tagkit_test::Text;
typedef CTagkit::CPicture Picture;

Bytes PictureBytes(Picture& picture) {
  Bytes out(static_cast<std::size_t>(picture.Size()) + 1);
  unsigned char* buffer = out.data();
  std::int32_t size = picture.Size();
  EXPECT_EQ(S_OK, picture.GetData(&buffer, size));
  out.resize(static_cast<std::size_t>(size));
  return out;
}

struct ParseRow {
  const char* name;
  bool pic;  // PIC (ID3v2.2) rather than APIC
  Bytes payload;
  HRESULT result;
  std::wstring mime;
  Bytes data;
};

std::vector<ParseRow> ParseRows() {
  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0};
  return {
      {"APIC latin-1", false, Concat({{0}, Text("image/jpeg"), {0, 3}, Text("cover"), {0}, jpeg}),
       S_OK, L"image/jpeg", jpeg},
      {"APIC empty MIME type", false, Concat({{0, 0, 3, 0}, jpeg}), S_OK, L"", jpeg},
      {"APIC UTF-16 description", false,
       Concat({{1}, Text("image/png"), {0, 0}, {0xFF, 0xFE, 'A', 0, 0, 0}, jpeg}), S_OK,
       L"image/png", jpeg},
      // 'A' 00 00 'B': the zero pair at an odd distance is no terminator.
      {"APIC UTF-16 terminator at even distance only", false,
       Concat({{1}, Text("x"), {0, 0}, {'A', 0, 0, 'B', 0, 0}, {7}}), S_OK, L"x", {7}},
      {"APIC terminator is the last byte", false, Concat({{0}, Text("image/png"), {0, 3, 0}}), S_OK,
       L"image/png", {}},
      {"APIC encoding 2", false, Concat({{2}, Text("image/png"), {0, 3, 0}, jpeg}), E_FAIL, L"", {}},
      {"APIC encoding 3", false, Concat({{3}, Text("image/png"), {0, 3, 0}, jpeg}), E_FAIL, L"", {}},
      {"APIC MIME type without terminator", false, Concat({{0}, Text("image/png")}), E_FAIL, L"",
       {}},
      {"APIC no picture type", false, Concat({{0}, Text("image/png"), {0}}), E_FAIL, L"", {}},
      {"APIC description without terminator", false, Concat({{0}, Text("image/png"), {0, 3, 'a'}}),
       E_FAIL, L"", {}},
      {"APIC UTF-16 odd tail", false, Concat({{1}, Text("x"), {0, 3}, {0xFF, 0xFE, 0}}), E_FAIL, L"",
       {}},
      {"APIC empty payload", false, {}, E_FAIL, L"", {}},
      {"PIC JPG", true, Concat({{0}, Text("JPG"), {3}, Text("d"), {0}, jpeg}), S_OK, L"image/jpeg",
       jpeg},
      {"PIC PNG", true, Concat({{0}, Text("PNG"), {3, 0}, jpeg}), S_OK, L"image/png", jpeg},
      {"PIC lower-case jpg", true, Concat({{0}, Text("jpg"), {3, 0}, jpeg}), S_OK, L"", jpeg},
      {"PIC other format", true, Concat({{0}, Text("GIF"), {3, 0}, jpeg}), S_OK, L"", jpeg},
      {"PIC UTF-16 description", true,
       Concat({{1}, Text("PNG"), {0}, {0xFE, 0xFF, 0, 'A', 0, 0}, jpeg}), S_OK, L"image/png", jpeg},
      {"PIC encoding 3", true, Concat({{3}, Text("PNG"), {3, 0}, jpeg}), E_FAIL, L"", {}},
      {"PIC truncated in the format", true, Concat({{0}, Text("PN")}), E_FAIL, L"", {}},
      {"PIC without description terminator", true, Concat({{0}, Text("PNG"), {3}}), E_FAIL, L"",
       {}},
  };
}

TEST(PictureTest, ParsesPayloads) {
  for (const ParseRow& row : ParseRows()) {
    SCOPED_TRACE(row.name);
    Picture picture;
    // A heap block of exactly the payload's size: the sanitizer sees overreads.
    std::unique_ptr<unsigned char[]> payload(new unsigned char[row.payload.size()]);
    std::copy(row.payload.begin(), row.payload.end(), payload.get());
    std::int32_t size = static_cast<std::int32_t>(row.payload.size());
    HRESULT hr = row.pic ? picture.SetPIC(payload.get(), size) : picture.SetAPIC(payload.get(), size);
    EXPECT_EQ(row.result, hr);
    if (hr != S_OK) continue;
    EXPECT_EQ(row.mime, picture.Mime());
    EXPECT_EQ(row.data, PictureBytes(picture));
  }
}

TEST(PictureTest, NullPayloadsAndData) {
  Picture picture;
  EXPECT_EQ(E_POINTER, picture.SetAPIC(nullptr, 10));
  EXPECT_EQ(E_POINTER, picture.SetPIC(nullptr, 10));
  EXPECT_EQ(E_POINTER, picture.SetData(nullptr, 10));
  EXPECT_EQ(E_POINTER, picture.SetAll(nullptr, 10, L"image/png"));
  std::int32_t size = 4;
  EXPECT_EQ(E_POINTER, picture.GetData(nullptr, size));
  const unsigned char byte = 1;
  EXPECT_EQ(E_INVALIDARG, picture.SetData(&byte, -1));
}

TEST(PictureTest, GetDataCopiesAtMostTheRequestedSize) {
  Picture picture;
  const unsigned char bytes[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(S_OK, picture.SetAll(bytes, 5, L"image/png"));
  EXPECT_EQ(5, picture.Size());

  unsigned char large[8] = {};
  unsigned char* target = large;
  std::int32_t size = 8;
  ASSERT_EQ(S_OK, picture.GetData(&target, size));
  EXPECT_EQ(5, size);
  EXPECT_EQ(Bytes(bytes, bytes + 5), Bytes(large, large + 5));

  unsigned char small[2] = {};
  target = small;
  size = 2;
  ASSERT_EQ(S_OK, picture.GetData(&target, size));
  EXPECT_EQ(2, size);
  EXPECT_EQ(1, small[0]);
  EXPECT_EQ(2, small[1]);

  size = -3;
  ASSERT_EQ(S_OK, picture.GetData(&target, size));
  EXPECT_EQ(0, size);
}

TEST(PictureTest, FillingReplacesTheBuffer) {
  Picture picture;
  const unsigned char first[] = {9, 9, 9};
  ASSERT_EQ(S_OK, picture.SetAll(first, 3, L"image/jpeg"));
  const Bytes payload = Concat({{0}, Text("image/png"), {0, 3, 0}, {7}});
  ASSERT_EQ(S_OK, picture.SetAPIC(payload.data(), static_cast<std::int32_t>(payload.size())));
  EXPECT_EQ(L"image/png", picture.Mime());
  EXPECT_EQ(Bytes({7}), PictureBytes(picture));
  // A failed parse leaves the old picture.
  const Bytes bad = {4, 0, 0};
  EXPECT_EQ(E_FAIL, picture.SetAPIC(bad.data(), 3));
  EXPECT_EQ(Bytes({7}), PictureBytes(picture));
  // SetData keeps the MIME type.
  ASSERT_EQ(S_OK, picture.SetData(first, 0));
  EXPECT_EQ(0, picture.Size());
  EXPECT_EQ(L"image/png", picture.Mime());
  std::wstring mime;
  EXPECT_EQ(S_OK, picture.GetMime(mime));
  EXPECT_EQ(L"image/png", mime);
}

TEST(PictureTest, MimeTypeInTheThreadCodePage) {
  ASSERT_EQ(0, tlx_set_thread_code_page(1252));
  Picture picture;
  const Bytes payload = Concat({{0}, Text("image/\xE9"), {0, 3, 0}});
  ASSERT_EQ(S_OK, picture.SetAPIC(payload.data(), static_cast<std::int32_t>(payload.size())));
  EXPECT_EQ(std::wstring(L"image/\u00E9"), picture.Mime());
}

}  // namespace
