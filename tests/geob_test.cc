// CGeob: parsing encapsulated-object payloads. Building one is checked where
// the class writes it (tagkit_geob_test.cc).
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

// The reading of whole tags (tagkit_geob_test.cc) covers byte-order marks and
// filenames; here each payload is a heap block of its exact size, so that the
// sanitizer sees every read past its end.
TEST(GeobTest, ParsesPayloads) {
  const Bytes body = {1, 2, 0, 0, 3};
  const Bytes little = {0xFF, 0xFE, 'U', 0, 'S', 0, 0, 0};
  const struct {
    const char* name;
    Bytes payload;
    HRESULT result;
    std::string mime;
    std::wstring description;
    Bytes data;
  } rows[] = {
      {"8-bit", Concat({{0}, Text("binary"), {0, 0}, Text("USR_MTDID"), {0}, body}), S_OK, "binary", L"USR_MTDID", body},
      {"code page description", Concat({{0, 0, 0}, Text("caf\xE9"), {0}}), S_OK, "", L"caf\u00E9", {}},
      {"UTF-16 little-endian", Concat({{1}, Text("m"), {0, 0, 0}, little, body}), S_OK, "m", L"US", body},
      {"encoding 2", Concat({{2}, Text("m"), {0, 0, 0}, Text("d"), {0, 0}}), E_FAIL, "m", L"", {}},
      {"MIME type unterminated", Concat({{0}, Text("binary")}), E_INVALIDARG, "", L"", {}},
      {"no filename", Concat({{0}, Text("m"), {0}}), E_FAIL, "m", L"", {}},
      {"description unterminated", Concat({{0}, Text("m"), {0, 0}, Text("desc")}), E_FAIL, "m", L"", {}},
      {"UTF-16 zero pair at odd distance", Concat({{1}, Text("m"), {0, 0, 0}, {0xFF, 0xFE, 'A', 0, 0}}), E_FAIL, "m",
       L"", {}},
      {"empty payload", {}, E_INVALIDARG, "", L"", {}},
  };
  for (const auto& row : rows) {
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

}  // namespace
