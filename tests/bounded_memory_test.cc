// A file that declares a huge tag or frame but holds only a few kilobytes
// must not make the library allocate more than the file's size plus a small
// constant. Every heap allocation of the process is counted: malloc and its
// companions are wrapped at link time (see tests/CMakeLists.txt), and the
// global operator new is routed through them.
#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "tagkit.h"
#include "id3_internal.h"
#include "new_through_malloc.h"
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

// Heap bytes live at once while counting, by the allocator's own block sizes.
// A block from before the count that is freed during it lowers the count by
// its size; nothing the tests read holds such blocks.
bool g_counting = false;
std::ptrdiff_t g_live = 0, g_peak = 0;

void Count(void* block, std::ptrdiff_t sign) {
  if (!g_counting || block == nullptr) return;
  g_live += sign * static_cast<std::ptrdiff_t>(malloc_usable_size(block));
  if (g_live > g_peak) g_peak = g_live;
}

// Counts the heap bytes that live at once while it exists.
struct PeakCounter {
  PeakCounter() { g_live = g_peak = 0, g_counting = true; }
  ~PeakCounter() { g_counting = false; }
  std::size_t Peak() const { return static_cast<std::size_t>(g_peak); }
};

}  // namespace

extern "C" {
void* __wrap_malloc(std::size_t size) {
  void* block = __real_malloc(size);
  Count(block, 1);
  return block;
}
void* __wrap_calloc(std::size_t count, std::size_t size) {
  void* block = __real_calloc(count, size);
  Count(block, 1);
  return block;
}
void* __wrap_realloc(void* block, std::size_t size) {
  Count(block, -1);
  void* moved = __real_realloc(block, size);
  Count(moved != nullptr ? moved : block, 1);
  return moved;
}
void __wrap_free(void* block) {
  Count(block, -1);
  __real_free(block);
}
}

namespace {

using namespace tagkit_test;

// Room for the work area, caches, text conversions and the small fixed
// buffers of the readers; independent of what the file declares.
const std::size_t kSlack = 64 * 1024;
const std::uint32_t k256MB = 256u * 1024 * 1024;

// A tag header and a frame header that declare sizes the file lacks.
Bytes LyingHeader(std::uint8_t flags, std::uint32_t declared) {
  return Concat({Text("ID3"), {3, 0, flags}, SyncSafe(declared)});
}
Bytes LyingFrame(const std::string& id, std::uint32_t declared, const Bytes& data) {
  return Concat({Text(id), Be32(declared), {0, 0}, data});
}

// An ID3v2.4 frame whose data length indicator claims `declared` bytes.
Bytes CompressedFrame24(const std::string& id, std::uint32_t declared, const Bytes& data) {
  return Frame24(id, Concat({SyncSafe(declared), Deflate(data)}), 0, 0x09);
}

struct Case {
  const char* name;
  Bytes tag;
  const char* frame;  // the frame whose data the engine streams
  bool v24 = false;   // read with TLX_ID3_OPTION_V24, outside and inside a read session
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::vector<Case> Cases() {
  const Bytes text = {0, 'A', 'b', 'c'};
  const Bytes picture = Concat({{0}, Text("image/png"), {0, 3, 0}, Bytes(64, 0x89)});
  const Bytes object = Concat({{0}, Text("binary"), {0}, Text("USR_MTDID"), {0, 0, 1, 2}});
  const Bytes small = LyingHeader(0, 3000);
  return {
      {"TagOf256MB", Concat({LyingHeader(0, k256MB - 1), Frame23("TIT2", text)}), "TIT2"},
      // A frame that fits its (equally forged) tag.
      {"TagAndFrameOf200MB", Concat({LyingHeader(0, 200u << 20), LyingFrame("TIT2", 200u << 20, text)}), "TIT2"},
      {"TextFrameOf256MB", Concat({small, LyingFrame("TIT2", k256MB, text)}), "TIT2"},
      {"TextFrameOf4GB", Concat({small, LyingFrame("TPE1", 0xFFFFFFFFu, text)}), "TPE1"},
      {"UrlFrameOf256MB", Concat({small, LyingFrame("WOAR", k256MB, Text("http://a"))}), "WOAR"},
      {"PictureOf256MB", Concat({small, LyingFrame("APIC", k256MB, picture)}), "APIC"},
      {"ObjectOf256MB", Concat({small, LyingFrame("GEOB", k256MB, object)}), "GEOB"},
      {"IdentifierOf256MB", Concat({small, LyingFrame("UFID", k256MB, Text("owner"))}), "UFID"},
      {"UnsynchronisedFrameOf256MB",
       Concat({LyingHeader(0x80, 3000), LyingFrame("TALB", k256MB, {0, 0xFF, 0x00, 'x'})}), "TALB"},
      {"DataLengthIndicatorOf256MB", Id3v2Tag(4, 0, CompressedFrame24("TIT2", k256MB - 1, text)), "TIT2", true},
      {"DecompressedSizeOf4GB", Id3v2Tag(3, 0, Frame23("APIC", Concat({Be32(0xFFFFFFFFu), Deflate(picture)}), 0, 0x80)),
       "APIC", true},
      {"ZipBombOf32MB", Id3v2Tag(4, 0, CompressedFrame24("TIT2", 32u << 20, Bytes(32u << 20, 0))), "TIT2", true},
      {"ZipBombWithoutItsSize", Id3v2Tag(4, 0, CompressedFrame24("APIC", 0, Bytes(32u << 20, 'z'))), "APIC", true},
      {"UnsynchronisedFrame24Of256MB",
       Concat({Text("ID3"), {4, 0, 0}, SyncSafe(3000), Text("TALB"), SyncSafe(k256MB - 1), {0, 0x03},
               SyncSafe(k256MB - 1), {0, 0xFF, 0x00, 'x'}}),
       "TALB", true},
  };
}

class BoundedMemory : public ::testing::TestWithParam<Case> {};

// Through the class and through the engine's whole and streamed frame reads.
TEST_P(BoundedMemory, PeakStaysNearTheFileSize) {
  TempDir dir;
  const Case& c = GetParam();
  const Bytes file = Concat({c.tag, Audio(4000)});
  WriteFile(dir.File("a.mp3"), file);
  const std::wstring path = dir.WFile("a.mp3");
  const std::uint32_t id = TLX_ID3_FRAME_ID(c.frame[0], c.frame[1], c.frame[2], c.frame[3]);
  std::size_t class_peak = 0, engine_peak = 0;
  for (std::int32_t flags : {0, TAGKIT_OPEN_V24}) {
    PeakCounter counter;
    CTagkit tagkit;
    EXPECT_EQ(S_OK, tagkit.Open(path, TAGKIT_OPEN_READ | flags));
    std::vector<std::wstring> text;
    tagkit.GetString(PROPID_TITLE, text);
    CTagkit::PictureVector pictures;
    tagkit.GetBinary(PROPID_PICTURE, pictures);
    tagkit.Close();
    class_peak = std::max(class_peak, counter.Peak());
  }
  std::uint8_t buffer[4096];
  for (int session = 0; session < (c.v24 ? 2 : 1); ++session) {
    PeakCounter counter;
    tlx_id3_context ctx;
    ASSERT_EQ(TLX_ID3_OK, tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &ctx));
    if (c.v24) {
      ASSERT_EQ(TLX_ID3_OK, tlx_id3_set_options(&ctx, TLX_ID3_OPTION_V24));
    }
    if (session) tlx_id3_read_session_begin(&ctx);
    tlx_id3_v2_frame_header header;
    tlx_id3_v2_get_frame_header(&ctx, id, 0, &header);
    std::uint32_t size = sizeof buffer;
    tlx_id3_v2_get_frame_data(&ctx, id, 0, &size, buffer);
    if (tlx_id3_v2_get_frame_data_init(&ctx, id, 0) == TLX_ID3_OK) {
      do {
        size = sizeof buffer;
      } while (tlx_id3_v2_get_frame_data_progress(&ctx, &size, buffer) == TLX_ID3_OK && size > 0);
      tlx_id3_v2_get_frame_data_fin(&ctx);
    }
    std::uint32_t count = 0, padding = 0;
    tlx_id3_v2_get_frame_total_num(&ctx, &count);
    tlx_id3_v2_get_padding_size(&ctx, &padding);
    EXPECT_EQ(TLX_ID3_OK, tlx_id3_destroy_context(&ctx));
    engine_peak = std::max(engine_peak, counter.Peak());
  }
  EXPECT_LE(class_peak, file.size() + kSlack);
  EXPECT_LE(engine_peak, file.size() + kSlack);
}

INSTANTIATE_TEST_SUITE_P(DeclaredSizes, BoundedMemory, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The counter itself sees the library's blocks, and a freed one no longer counts.
TEST(PeakCounterTest, SeesTheLibrarysBlocks) {
  PeakCounter counter;
  void* block = CoTaskMemAlloc(1 << 20);
  ASSERT_NE(nullptr, block);
  EXPECT_GE(counter.Peak(), std::size_t(1) << 20);
  CoTaskMemFree(block);
  EXPECT_EQ(0, g_live);
}

}  // namespace
