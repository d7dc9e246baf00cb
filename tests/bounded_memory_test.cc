// A file that declares a huge tag or frame but holds only a few kilobytes
// must not make the library allocate more than the file's size plus a small
// constant. Every heap allocation of the process is counted: malloc and its
// companions are wrapped at link time (see tests/CMakeLists.txt), and the
// global operator new is routed through them.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "tagkit.h"
#include "tlx_com.h"
#include "test_support.h"
#include "tlx_id3.h"

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t size);
void __real_free(void* block);
}

namespace {

// Live blocks allocated while counting, by address. A fixed table, so that
// counting allocates nothing itself; blocks from before the count are not
// in it and are ignored when freed.
const std::size_t kSlots = 1 << 16;
void* const kTombstone = reinterpret_cast<void*>(1);
struct Slot {
  void* block;
  std::size_t size;
};
Slot g_slots[kSlots];
bool g_counting = false;
std::size_t g_live = 0;
std::size_t g_peak = 0;

std::size_t SlotOf(void* block) {
  return (reinterpret_cast<std::uintptr_t>(block) >> 4) * 2654435761u % kSlots;
}

void Record(void* block, std::size_t size) {
  if (!g_counting || block == nullptr) return;
  for (std::size_t i = SlotOf(block), n = 0; n < kSlots; i = (i + 1) % kSlots, ++n) {
    if (g_slots[i].block == nullptr || g_slots[i].block == kTombstone) {
      g_slots[i] = {block, size};
      g_live += size;
      if (g_live > g_peak) g_peak = g_live;
      return;
    }
  }
  std::abort();  // more live blocks than the table holds
}

void Forget(void* block) {
  if (block == nullptr) return;
  for (std::size_t i = SlotOf(block), n = 0; n < kSlots; i = (i + 1) % kSlots, ++n) {
    if (g_slots[i].block == nullptr) return;
    if (g_slots[i].block == block) {
      g_live -= g_slots[i].size;
      g_slots[i].block = kTombstone;
      return;
    }
  }
}

// Counts the heap bytes that live at once while it exists.
class PeakCounter {
 public:
  PeakCounter() {
    std::memset(g_slots, 0, sizeof g_slots);
    g_live = g_peak = 0;
    g_counting = true;
  }
  ~PeakCounter() { g_counting = false; }
  std::size_t Peak() const { return g_peak; }
};

}  // namespace

extern "C" {
void* __wrap_malloc(std::size_t size) {
  void* block = __real_malloc(size);
  Record(block, size);
  return block;
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
  void* block = __real_calloc(count, size);
  Record(block, count * size);
  return block;
}
void* __wrap_realloc(void* block, std::size_t size) {
  Forget(block);
  void* moved = __real_realloc(block, size);
  Record(moved, size);
  return moved;
}
void __wrap_free(void* block) {
  Forget(block);
  __real_free(block);
}
}

// The replacements pair malloc with free on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  void* block = malloc(size > 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return malloc(size > 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return malloc(size > 0 ? size : 1);
}
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, std::size_t) noexcept { free(block); }
void operator delete[](void* block, std::size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { free(block); }
#pragma GCC diagnostic pop

namespace {

using tagkit_test::Be32;
using tagkit_test::Bytes;
using tagkit_test::Concat;
using tagkit_test::Text;

// Room for the work area, caches, text conversions and the small fixed
// buffers of the readers; independent of what the file declares.
const std::size_t kSlack = 64 * 1024;
const std::uint32_t k256MB = 256u * 1024 * 1024;

// A frame header that declares `declared` data bytes, followed by `data`.
Bytes LyingFrame23(const std::string& id, std::uint32_t declared, const Bytes& data) {
  return Concat({Text(id), Be32(declared), {0, 0}, data});
}

// "ID3", version, flags and a sync-safe size field of `declared`.
Bytes LyingHeader(std::uint8_t major, std::uint8_t flags, std::uint32_t declared) {
  Bytes size = tagkit_test::SyncSafe(declared);
  return Concat({Text("ID3"), {major, 0, flags}, size});
}

struct Case {
  const char* name;
  Bytes file;
  std::uint32_t frame_id;  // the frame whose data the engine streams
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::vector<Case> Cases() {
  const Bytes audio = tagkit_test::Audio(4000);
  const Bytes text = {0, 'A', 'b', 'c'};
  const Bytes picture = Concat({{0}, Text("image/png"), {0, 3, 0}, Bytes(64, 0x89)});
  return {
      {"tag of 256 MB", Concat({LyingHeader(3, 0, k256MB - 1), tagkit_test::Frame23("TIT2", text),
                                audio}),
       TLX_ID3_FRAME_ID('T', 'I', 'T', '2')},
      // A frame that fits its (equally forged) tag.
      {"tag and frame of 200 MB",
       Concat({LyingHeader(3, 0, 200u << 20), LyingFrame23("TIT2", 200u << 20, text), audio}),
       TLX_ID3_FRAME_ID('T', 'I', 'T', '2')},
      {"text frame of 256 MB",
       Concat({LyingHeader(3, 0, 3000), LyingFrame23("TIT2", k256MB, text), audio}),
       TLX_ID3_FRAME_ID('T', 'I', 'T', '2')},
      {"text frame of 4 GB", Concat({LyingHeader(3, 0, 3000),
                                     LyingFrame23("TPE1", 0xFFFFFFFFu, text), audio}),
       TLX_ID3_FRAME_ID('T', 'P', 'E', '1')},
      {"URL frame of 256 MB",
       Concat({LyingHeader(3, 0, 3000), LyingFrame23("WOAR", k256MB, Text("http://a")), audio}),
       TLX_ID3_FRAME_ID('W', 'O', 'A', 'R')},
      {"picture of 256 MB",
       Concat({LyingHeader(3, 0, 3000), LyingFrame23("APIC", k256MB, picture), audio}),
       TLX_ID3_FRAME_ID('A', 'P', 'I', 'C')},
      {"object of 256 MB",
       Concat({LyingHeader(3, 0, 3000),
               LyingFrame23("GEOB", k256MB, Concat({{0}, Text("binary"), {0},
                                                     Text("USR_MTDID"), {0, 0, 1, 2}})),
               audio}),
       TLX_ID3_FRAME_ID('G', 'E', 'O', 'B')},
      {"identifier of 256 MB",
       Concat({LyingHeader(3, 0, 3000), LyingFrame23("UFID", k256MB, Text("owner")), audio}),
       TLX_ID3_FRAME_ID('U', 'F', 'I', 'D')},
      {"unsynchronised frame of 256 MB",
       Concat({LyingHeader(3, 0x80, 3000), LyingFrame23("TALB", k256MB, {0, 0xFF, 0x00, 'x'}),
               audio}),
       TLX_ID3_FRAME_ID('T', 'A', 'L', 'B')},
  };
}

class BoundedMemory : public ::testing::TestWithParam<Case> {};

TEST_P(BoundedMemory, ClassReadPath) {
  tagkit_test::TempDir dir;
  const Case& c = GetParam();
  tagkit_test::WriteFile(dir.File("a.mp3"), c.file);
  const std::wstring path = dir.WFile("a.mp3");
  std::size_t peak = 0;
  HRESULT opened = E_FAIL;
  {
    PeakCounter counter;
    CTagkit tagkit;
    opened = tagkit.Open(path, TAGKIT_OPEN_READ);
    std::vector<std::wstring> text;
    tagkit.GetString(PROPID_TITLE, text);
    CTagkit::PictureVector pictures;
    tagkit.GetBinary(PROPID_PICTURE, pictures);
    tagkit.Close();
    peak = counter.Peak();
  }
  EXPECT_EQ(S_OK, opened);
  EXPECT_LE(peak, c.file.size() + kSlack) << c.name;
}

TEST_P(BoundedMemory, EngineFrameData) {
  tagkit_test::TempDir dir;
  const Case& c = GetParam();
  tagkit_test::WriteFile(dir.File("a.mp3"), c.file);
  const std::wstring path = dir.WFile("a.mp3");
  std::size_t peak = 0;
  std::uint8_t buffer[4096];
  {
    PeakCounter counter;
    tlx_id3_context ctx;
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &ctx));
    std::uint32_t size = sizeof buffer;
    tlx_id3_v2_get_frame_data(&ctx, c.frame_id, 0, &size, buffer);
    if (tlx_id3_v2_get_frame_data_init(&ctx, c.frame_id, 0) == TLX_ID3_OK) {
      do {
        size = sizeof buffer;
      } while (tlx_id3_v2_get_frame_data_progress(&ctx, &size, buffer) == TLX_ID3_OK && size > 0);
      tlx_id3_v2_get_frame_data_fin(&ctx);
    }
    std::uint32_t count = 0;
    tlx_id3_v2_get_frame_total_num(&ctx, &count);
    std::uint32_t padding = 0;
    tlx_id3_v2_get_padding_size(&ctx, &padding);
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
    peak = counter.Peak();
  }
  EXPECT_LE(peak, c.file.size() + kSlack) << c.name;
}

INSTANTIATE_TEST_SUITE_P(DeclaredSizes, BoundedMemory, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

// The counter itself: a block that the library allocates while counting is
// seen, and a freed one no longer counts.
TEST(PeakCounterTest, SeesTheLibrarysBlocks) {
  PeakCounter counter;
  void* block = CoTaskMemAlloc(1 << 20);
  ASSERT_NE(nullptr, block);
  EXPECT_GE(counter.Peak(), std::size_t(1) << 20);
  CoTaskMemFree(block);
  EXPECT_EQ(0u, g_live);
}

}  // namespace
