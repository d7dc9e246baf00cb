#include "tagkit.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using tagkit_test::Bytes;
using tagkit_test::Concat;
using tagkit_test::Text;
typedef CTagkit::CMusicId MusicId;

Bytes Pattern(std::size_t size, unsigned char start = 0) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(start + i);
  return out;
}

HRESULT Parse(MusicId& id, const Bytes& bytes) {
  // A heap block of exactly the payload's size: the sanitizer sees overreads.
  std::unique_ptr<unsigned char[]> payload(new unsigned char[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), payload.get());
  return id.ParseFrameData(payload.get(), static_cast<std::int32_t>(bytes.size()));
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
      {"owner and 64 bytes", Concat({Text("owner"), {0}, Pattern(64)}), S_OK},
      {"one-character owner", Concat({Text("o"), {0}, Pattern(64)}), S_OK},
      {"63 bytes", Concat({Text("owner"), {0}, Pattern(63)}), E_INVALIDARG},
      {"65 bytes", Concat({Text("owner"), {0}, Pattern(65)}), E_INVALIDARG},
      {"empty owner", Concat({{0}, Pattern(64)}), E_INVALIDARG},
      {"no terminator", Text("owner"), E_INVALIDARG},
      {"empty payload", {}, E_INVALIDARG},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MusicId id;
    EXPECT_EQ(row.result, Parse(id, row.payload));
    EXPECT_EQ(row.result == S_OK ? 64 : 0, id.GetDataSize());
  }
  MusicId id;
  EXPECT_EQ(E_POINTER, id.ParseFrameData(nullptr, 70));
}

TEST(MusicIdTest, FrameDataRoundTrips) {
  MusicId id;
  const Bytes payload = Concat({Text("abc"), {0}, Pattern(64, 0x40)});
  ASSERT_EQ(S_OK, Parse(id, payload));
  std::string owner;
  id.GetOwnerId(owner);
  EXPECT_EQ("abc", owner);
  EXPECT_EQ(Pattern(64, 0x40), Data(id));
  EXPECT_EQ(68, id.GetFrameDataSize());

  unsigned char* frame = nullptr;
  std::int32_t size = 0;
  ASSERT_EQ(S_OK, id.GetFrameData(&frame, size));
  EXPECT_EQ(payload, Bytes(frame, frame + size));
  CoTaskMemFree(frame);
}

TEST(MusicIdTest, SetDataTakesExactly64Bytes) {
  MusicId id;
  const Bytes first = Pattern(64, 1);
  ASSERT_EQ(S_OK, id.SetData(first.data(), 64));
  const Bytes other = Pattern(65, 9);
  EXPECT_EQ(E_INVALIDARG, id.SetData(other.data(), 63));
  EXPECT_EQ(E_INVALIDARG, id.SetData(other.data(), 65));
  EXPECT_EQ(E_INVALIDARG, id.SetData(other.data(), -64));
  EXPECT_EQ(E_POINTER, id.SetData(nullptr, 64));
  EXPECT_EQ(first, Data(id));
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
  EXPECT_EQ(S_OK, id.GetData(nullptr, size));
}

TEST(MusicIdTest, EmptyObjectHandsOutAFreeableBuffer) {
  MusicId id;
  EXPECT_EQ(Bytes(), Data(id));
  EXPECT_EQ(1, id.GetFrameDataSize());
}

}  // namespace
