#include "tagkit.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace tagkit_test;
typedef CTagkit::CGeob Geob;

Bytes Data(const Geob& geob) {
  unsigned char* buffer = nullptr;
  std::int32_t size = -1;
  EXPECT_EQ(S_OK, geob.GetData(&buffer, size));
  Bytes out(buffer, buffer + size);
  CoTaskMemFree(buffer);
  return out;
}

Bytes Utf16(bool big_endian, const std::string& ascii) {
  Bytes out = big_endian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
  for (char c : ascii) {
    Bytes unit = {0, static_cast<unsigned char>(c)};
    if (!big_endian) std::swap(unit[0], unit[1]);
    out.insert(out.end(), unit.begin(), unit.end());
  }
  return out;
}

TEST(GeobTest, ParsesPayloads) {
  const Bytes body = {1, 2, 0, 0, 3};
  struct Row {
    const char* name;
    Bytes payload;
    HRESULT result;
    std::string mime;
    std::wstring description;
    Bytes data;
  } rows[] = {
      {"8-bit", Concat({{0}, Text("binary"), {0, 0}, Text("USR_MTDID"), {0}, body}), S_OK, "binary", L"USR_MTDID", body},
      {"code page description", Concat({{0, 0, 0}, Text("caf\xE9"), {0}}), S_OK, "", L"caf\u00E9", {}},
      {"UTF-16 big-endian", Concat({{1}, Text("m"), {0, 0, 0}, Utf16(true, "USR_MTDID"), {0, 0}, body}), S_OK, "m",
       L"USR_MTDID", body},
      {"UTF-16 little-endian", Concat({{1}, Text("m"), {0, 0, 0}, Utf16(false, "USR_QZVLX"), {0, 0}, body}), S_OK, "m",
       L"USR_QZVLX", body},
      {"UTF-16 without byte-order mark", Concat({{1}, Text("m"), {0, 0, 0}, {'U', 0, 0, 0}, body}), S_OK, "m", L"", body},
      // Only one filename byte is skipped: "n" becomes the description.
      {"non-empty filename", Concat({{0}, Text("m"), {0}, Text("fn"), {0}, Text("USR_MTDID"), {0}, body}), S_OK, "m",
       L"n", Concat({Text("USR_MTDID"), {0}, body})},
      {"encoding 2", Concat({{2}, Text("m"), {0, 0, 0}, Text("d"), {0, 0}}), E_FAIL, "m", L"", {}},
      {"encoding 3", Concat({{3}, Text("m"), {0, 0}, Text("d"), {0}}), E_FAIL, "m", L"", {}},
      {"MIME type unterminated", Concat({{0}, Text("binary")}), E_INVALIDARG, "", L"", {}},
      {"no filename", Concat({{0}, Text("m"), {0}}), E_FAIL, "m", L"", {}},
      {"description unterminated", Concat({{0}, Text("m"), {0, 0}, Text("desc")}), E_FAIL, "m", L"", {}},
      {"UTF-16 zero pair at odd distance", Concat({{1}, Text("m"), {0, 0, 0}, {0xFF, 0xFE, 'A', 0, 0}}), E_FAIL, "m",
       L"", {}},
      {"empty payload", {}, E_INVALIDARG, "", L"", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<unsigned char[]> payload(new unsigned char[row.payload.size()]);
    std::copy(row.payload.begin(), row.payload.end(), payload.get());
    Geob geob;
    geob.SetMimeType("");
    EXPECT_EQ(row.result, geob.ParseFrameData(payload.get(), static_cast<std::int32_t>(row.payload.size())));
    std::string mime;
    std::wstring description;
    geob.GetMimeType(mime);
    geob.GetDescription(description);
    EXPECT_EQ(row.mime, mime);
    EXPECT_EQ(row.description, description);
    EXPECT_EQ(row.data, Data(geob));
  }
  Geob geob;
  EXPECT_EQ(E_POINTER, geob.ParseFrameData(nullptr, 10));
}

TEST(GeobTest, BuildsThePayload) {
  Geob geob;
  std::string mime;
  geob.GetMimeType(mime);
  EXPECT_EQ("binary", mime);
  const Bytes body = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(E_POINTER, geob.SetData(nullptr, 3));
  EXPECT_EQ(E_INVALIDARG, geob.SetData(body.data(), -1));
  ASSERT_EQ(S_OK, geob.SetData(body.data(), 10));
  ASSERT_EQ(S_OK, geob.SetDescription(L"USR_MTDI\u00C9"));
  EXPECT_EQ(29, geob.GetFrameDataSize());
  unsigned char* frame = nullptr;
  std::int32_t size = 0;
  EXPECT_EQ(S_OK, geob.GetFrameData(nullptr, size));
  ASSERT_EQ(S_OK, geob.GetFrameData(&frame, size));
  EXPECT_EQ(Concat({{0}, Text("binary"), {0, 0}, Text("USR_MTDI\xC9"), {0}, body}), Bytes(frame, frame + size));
  CoTaskMemFree(frame);
}

}  // namespace
