// CMusicId: an owner and exactly 64 bytes, parsed and built.
#include "tagkit.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace tagkit_test;
typedef CTagkit::CMusicId MusicId;

Bytes Pattern(std::size_t size) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(i * 3 + 1);
  return out;
}

Bytes Data(MusicId& id) {
  unsigned char* buffer = nullptr;
  std::int32_t size = -1;
  EXPECT_EQ(S_OK, id.GetData(&buffer, size));
  Bytes out(buffer, buffer + size);
  CoTaskMemFree(buffer);
  return out;
}

// Each payload is a heap block of its exact size, so that the sanitizer sees
// every read past its end; the payload built again is the payload parsed.
TEST(MusicIdTest, ParsesPayloads) {
  const struct {
    const char* name;
    Bytes payload;
    HRESULT result;
  } rows[] = {
      {"owner and 64 bytes", Concat({Text("abc"), {0}, Pattern(64)}), S_OK},
      {"65 bytes", Concat({Text("owner"), {0}, Pattern(65)}), E_INVALIDARG},
      {"empty owner", Concat({{0}, Pattern(64)}), E_INVALIDARG},
      {"no terminator", Text("owner"), E_INVALIDARG},
      {"empty payload", {}, E_INVALIDARG},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<unsigned char[]> payload(new unsigned char[row.payload.size()]);
    std::copy(row.payload.begin(), row.payload.end(), payload.get());
    MusicId id;
    ASSERT_EQ(row.result, id.ParseFrameData(payload.get(), static_cast<std::int32_t>(row.payload.size())));
    unsigned char* frame = nullptr;
    std::int32_t size = 0;
    EXPECT_EQ(row.result == S_OK ? S_OK : E_UNEXPECTED, id.GetFrameData(&frame, size));
    EXPECT_EQ(row.result == S_OK ? row.payload : Bytes(), Bytes(frame, frame + (frame ? size : 0)));
    CoTaskMemFree(frame);
  }
  MusicId id;
  EXPECT_EQ(E_POINTER, id.ParseFrameData(nullptr, 70));
}

// A frame without its 64 bytes could not be read back: none is built.
TEST(MusicIdTest, TakesExactly64BytesAndAnOwner) {
  MusicId id;
  const Bytes bytes = Pattern(65);
  EXPECT_EQ(Bytes(), Data(id));  // an empty object still hands out a buffer to free
  EXPECT_EQ(E_POINTER, id.SetData(nullptr, 64));
  for (std::int32_t size : {63, 65, 0, -64}) EXPECT_EQ(E_INVALIDARG, id.SetData(bytes.data(), size));
  EXPECT_EQ(E_INVALIDARG, id.SetOwnerId(""));
  ASSERT_EQ(S_OK, id.SetOwnerId("owner"));
  unsigned char* frame = nullptr;
  std::int32_t size = 0;
  EXPECT_EQ(E_UNEXPECTED, id.GetFrameData(&frame, size));
  ASSERT_EQ(S_OK, id.SetData(bytes.data() + 1, 64));
  EXPECT_EQ(Bytes(bytes.begin() + 1, bytes.end()), Data(id));
  ASSERT_EQ(S_OK, id.GetFrameData(&frame, size));
  EXPECT_EQ(Concat({Text("owner"), {0}, Bytes(bytes.begin() + 1, bytes.end())}), Bytes(frame, frame + size));
  CoTaskMemFree(frame);
}

}  // namespace
