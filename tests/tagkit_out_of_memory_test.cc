// Memory runs out at every allocation in turn over Open, three puts and
// Close: no exception leaves the library, each call answers with a result
// code, and the file is byte for byte the old or the new one. Every heap
// block of the process comes from malloc and its companions, wrapped at link
// time (see tests/CMakeLists.txt), the global operator new included.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "tag_inspect.h"
#include "new_through_malloc.h"
#include "tagkit.h"

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t size);
}

namespace {

// Allocations left before the one that fails; 0: none fails.
std::size_t g_countdown = 0;
bool g_failed = false;

bool FailsNow() {
  if (g_countdown == 0 || --g_countdown != 0) return false;
  g_failed = true;
  return true;
}

}  // namespace

extern "C" {
void* __wrap_malloc(std::size_t size) { return FailsNow() ? nullptr : __real_malloc(size); }
void* __wrap_calloc(std::size_t count, std::size_t size) {
  return FailsNow() ? nullptr : __real_calloc(count, size);
}
void* __wrap_realloc(void* block, std::size_t size) {
  return FailsNow() ? nullptr : __real_realloc(block, size);
}
}

namespace {

using namespace tagkit_test;

struct Results {
  HRESULT open = E_UNEXPECTED, title = E_UNEXPECTED, date = E_UNEXPECTED, picture = E_UNEXPECTED,
          close = E_UNEXPECTED;
};

// Fails the nth allocation (0: none) of one whole edit. After a failed put
// the edit is abandoned, as an application would: the object goes without
// Close, which drops what was put.
Results Edit(const std::string& path, std::size_t nth) {
  boost::shared_ptr<CTagkit::CPicture> picture(new CTagkit::CPicture());
  const Bytes image = Pattern(3000, 5);
  picture->SetAll(image.data(), static_cast<std::int32_t>(image.size()), L"image/png");
  const CTagkit::PictureVector pictures(1, picture);
  const std::vector<std::wstring> title(1, L"A new title \u00E9");
  const std::wstring widePath = Widen(path);
  double date = 45000;
  Results r;
  {
    CTagkit tag;
    g_failed = false;
    g_countdown = nth;
    r.open = tag.Open(widePath, TAGKIT_OPEN_WRITE);
    if (r.open == S_OK) r.title = tag.PutString(PROPID_TITLE, title);
    if (r.title == S_OK) r.date = tag.PutDate(PROPID_RELEASE_DATE, date);
    if (r.date == S_OK) r.picture = tag.PutBinary(PROPID_PICTURE, pictures);
    if (r.picture == S_OK) r.close = tag.Close();
  }
  g_countdown = 0;
  return r;
}

TEST(TagkitOutOfMemoryTest, EveryAllocationFailsInTurn) {
  TempDir dir;
  const std::string path = dir.File("song.mp3");
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({RichFrames23(2000), Bytes(300, 0)})), Audio(4000),
                                 Id3v1("title", "artist", "album", "2024", "", 3, 8)});
  WriteFile(path, original);
  const Results clean = Edit(path, 0);
  ASSERT_EQ(S_OK, clean.close);
  const Bytes edited = ReadFile(path);
  ASSERT_NE(original, edited);
  // E_FAIL: the engine could not begin the edit, or commit it.
  const std::vector<HRESULT> codes = {S_OK, E_OUTOFMEMORY, E_FAIL, E_UNEXPECTED /* not called */};
  std::size_t nth = 1;
  for (;; ++nth) {
    WriteFile(path, original);
    const Results r = Edit(path, nth);
    if (!g_failed) break;
    SCOPED_TRACE(testing::Message() << "allocation " << nth);
    EXPECT_TRUE(r.open == S_OK || r.open == E_OUTOFMEMORY) << std::hex << r.open;
    for (HRESULT hr : {r.title, r.date, r.picture, r.close}) {
      EXPECT_EQ(1, std::count(codes.begin(), codes.end(), hr)) << std::hex << hr;
    }
    const Bytes after = ReadFile(path);
    if (r.close == S_OK) {
      EXPECT_EQ(edited, after);
    } else {
      // Tag and trailer change together; a failure after the replacement
      // (opening the new file again) leaves the new file.
      EXPECT_TRUE(after == original || after == edited) << "damaged file";
    }
    if (HasFailure()) break;
  }
  EXPECT_GT(nth, 50u);
}

}  // namespace
