#include "tagkit.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

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

TEST(MusicIdTest, ParsesPayloads) {
  struct Row {
    const char* name;
    Bytes payload;
    HRESULT result;
  } rows[] = {
      {"owner and 64 bytes", Concat({Text("abc"), {0}, Pattern(64)}), S_OK},
      {"63 bytes", Concat({Text("owner"), {0}, Pattern(63)}), E_INVALIDARG},
      {"65 bytes", Concat({Text("owner"), {0}, Pattern(65)}), E_INVALIDARG},
      {"empty owner", Concat({{0}, Pattern(64)}), E_INVALIDARG},
      {"no terminator", Text("owner"), E_INVALIDARG},
      {"empty payload", {}, E_INVALIDARG},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::unique_ptr<unsigned char[]> payload(new unsigned char[row.payload.size()]);
    std::copy(row.payload.begin(), row.payload.end(), payload.get());
    MusicId id;
    ASSERT_EQ(row.result, id.ParseFrameData(payload.get(), static_cast<std::int32_t>(row.payload.size())));
    if (row.result != S_OK) {
      EXPECT_EQ(0, id.GetDataSize());
      continue;
    }
    // The payload built from the object is the payload parsed.
    EXPECT_EQ(68, id.GetFrameDataSize());
    unsigned char* frame = nullptr;
    std::int32_t size = 0;
    ASSERT_EQ(S_OK, id.GetFrameData(&frame, size));
    EXPECT_EQ(row.payload, Bytes(frame, frame + size));
    CoTaskMemFree(frame);
    EXPECT_EQ(Pattern(64), Data(id));
  }
  MusicId id;
  EXPECT_EQ(E_POINTER, id.ParseFrameData(nullptr, 70));
}

TEST(MusicIdTest, SetDataTakesExactly64Bytes) {
  MusicId id;
  const Bytes bytes = Pattern(65);
  EXPECT_EQ(E_POINTER, id.SetData(nullptr, 64));
  ASSERT_EQ(S_OK, id.SetData(bytes.data(), 64));
  for (std::int32_t size : {63, 65, 0, -64}) EXPECT_EQ(E_INVALIDARG, id.SetData(bytes.data() + 1, size));
  EXPECT_EQ(Pattern(64), Data(id));
}

TEST(MusicIdTest, FrameDataNeedsOwnerAndData) {
  MusicId id;
  unsigned char* frame = reinterpret_cast<unsigned char*>(&id);
  std::int32_t size = 0;
  EXPECT_EQ(E_UNEXPECTED, id.GetFrameData(&frame, size));
  EXPECT_EQ(nullptr, frame);
  ASSERT_EQ(S_OK, id.SetOwnerId("owner"));
  // Without its 64 bytes the frame could not be read back.
  EXPECT_EQ(E_UNEXPECTED, id.GetFrameData(&frame, size));
  EXPECT_EQ(E_INVALIDARG, id.SetOwnerId(""));
  EXPECT_EQ(S_OK, id.GetFrameData(nullptr, size));
  // An empty object still hands out a buffer to free.
  EXPECT_EQ(Bytes(), Data(id));
}

}  // namespace
