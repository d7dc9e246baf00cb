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
typedef CTagkit::CGeob Geob;

HRESULT Parse(Geob& geob, const Bytes& bytes) {
  // A heap block of exactly the payload's size: the sanitizer sees overreads.
  std::unique_ptr<unsigned char[]> payload(new unsigned char[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), payload.get());
  return geob.ParseFrameData(payload.get(), static_cast<std::int32_t>(bytes.size()));
}

Bytes Data(const Geob& geob) {
  unsigned char* buffer = nullptr;
  std::int32_t size = -1;
  EXPECT_EQ(S_OK, geob.GetData(&buffer, size));
  Bytes out(buffer, buffer + size);
  CoTaskMemFree(buffer);
  return out;
}

Bytes Utf16Be(const std::string& ascii) {
  Bytes out = {0xFE, 0xFF};
  for (char c : ascii) {
    out.push_back(0);
    out.push_back(static_cast<unsigned char>(c));
  }
  return out;
}

Bytes Utf16Le(const std::string& ascii) {
  Bytes out = {0xFF, 0xFE};
  for (char c : ascii) {
    out.push_back(static_cast<unsigned char>(c));
    out.push_back(0);
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
      {"latin-1", Concat({{0}, Text("binary"), {0, 0}, Text("USR_MTDID"), {0}, body}), S_OK,
       "binary", L"USR_MTDID", body},
      {"empty MIME type and data", Concat({{0, 0, 0}, Text("d"), {0}}), S_OK, "", L"d", {}},
      {"UTF-16 big-endian description", Concat({{1}, Text("m"), {0, 0, 0}, Utf16Be("USR_MTDID"), {0, 0}, body}),
       S_OK, "m", L"USR_MTDID", body},
      {"UTF-16 little-endian description", Concat({{1}, Text("m"), {0, 0, 0}, Utf16Le("USR_QZVLX"), {0, 0}, body}),
       S_OK, "m", L"USR_QZVLX", body},
      {"UTF-16 without byte-order mark", Concat({{1}, Text("m"), {0, 0, 0}, {'U', 0, 0, 0}, body}), S_OK,
       "m", L"", body},
      // Only one filename byte is skipped: "n" becomes the description.
      {"non-empty filename", Concat({{0}, Text("m"), {0}, Text("fn"), {0}, Text("USR_MTDID"), {0}, body}),
       S_OK, "m", L"n", Concat({Text("USR_MTDID"), {0}, body})},
      {"encoding 2", Concat({{2}, Text("m"), {0, 0, 0}, Text("d"), {0, 0}}), E_FAIL, "m", L"", {}},
      {"encoding 3", Concat({{3}, Text("m"), {0, 0}, Text("d"), {0}}), E_FAIL, "m", L"", {}},
      {"MIME type without terminator", Concat({{0}, Text("binary")}), E_INVALIDARG, "", L"", {}},
      {"no filename", Concat({{0}, Text("m"), {0}}), E_FAIL, "m", L"", {}},
      {"description without terminator", Concat({{0}, Text("m"), {0, 0}, Text("desc")}), E_FAIL, "m",
       L"", {}},
      {"UTF-16 terminator at odd distance", Concat({{1}, Text("m"), {0, 0, 0}, {0xFF, 0xFE, 'A', 0, 0}}),
       E_FAIL, "m", L"", {}},
      {"empty payload", {}, E_INVALIDARG, "", L"", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Geob geob;
    geob.SetMimeType("");
    EXPECT_EQ(row.result, Parse(geob, row.payload));
    std::string mime;
    geob.GetMimeType(mime);
    EXPECT_EQ(row.mime, mime);
    if (row.result != S_OK) {
      EXPECT_EQ(0, geob.GetDataSize());
      continue;
    }
    std::wstring description;
    geob.GetDescription(description);
    EXPECT_EQ(row.description, description);
    EXPECT_EQ(row.data, Data(geob));
  }
  Geob geob;
  EXPECT_EQ(E_POINTER, geob.ParseFrameData(nullptr, 10));
}

TEST(GeobTest, BuildsThePayloadItParses) {
  Geob geob;
  const Bytes body = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ASSERT_EQ(S_OK, geob.SetData(body.data(), 10));
  ASSERT_EQ(S_OK, geob.SetDescription(L"USR_MTDID"));
  EXPECT_EQ(29, geob.GetFrameDataSize());

  unsigned char* frame = nullptr;
  std::int32_t size = 0;
  ASSERT_EQ(S_OK, geob.GetFrameData(&frame, size));
  const Bytes expected = Concat({{0}, Text("binary"), {0, 0}, Text("USR_MTDID"), {0}, body});
  EXPECT_EQ(expected, Bytes(frame, frame + size));
  CoTaskMemFree(frame);

  Geob back;
  ASSERT_EQ(S_OK, Parse(back, expected));
  std::wstring description;
  back.GetDescription(description);
  EXPECT_EQ(L"USR_MTDID", description);
  EXPECT_EQ(body, Data(back));
}

TEST(GeobTest, DescriptionInTheThreadCodePage) {
  ASSERT_EQ(0, tlx_set_thread_code_page(1252));
  Geob geob;
  ASSERT_EQ(S_OK, geob.SetDescription(L"caf\u00E9"));
  unsigned char* frame = nullptr;
  std::int32_t size = 0;
  ASSERT_EQ(S_OK, geob.GetFrameData(&frame, size));
  EXPECT_EQ(Concat({{0}, Text("binary"), {0, 0}, Text("caf\xE9"), {0}}), Bytes(frame, frame + size));
  CoTaskMemFree(frame);

  Geob back;
  ASSERT_EQ(S_OK, Parse(back, Concat({{0, 0, 0}, Text("caf\xE9"), {0}})));
  std::wstring description;
  back.GetDescription(description);
  EXPECT_EQ(L"caf\u00E9", description);
}

TEST(GeobTest, DefaultsAndNullArguments) {
  Geob geob;
  std::string mime;
  geob.GetMimeType(mime);
  EXPECT_EQ("binary", mime);
  EXPECT_EQ(Bytes(), Data(geob));
  EXPECT_EQ(E_POINTER, geob.SetData(nullptr, 3));
  const unsigned char byte = 7;
  EXPECT_EQ(E_INVALIDARG, geob.SetData(&byte, -1));
  std::int32_t size = 0;
  EXPECT_EQ(S_OK, geob.GetData(nullptr, size));
  EXPECT_EQ(S_OK, geob.GetFrameData(nullptr, size));
}

}  // namespace
