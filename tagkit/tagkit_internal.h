// Shared by the class layer's source files, never by applications: the frame
// table and the text conversions that go through the thread's code page.
#ifndef TAGKIT_TAGKIT_TAGKIT_INTERNAL_H_
#define TAGKIT_TAGKIT_TAGKIT_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "tagkit.h"
#include "tlx_id3.h"

namespace tagkit_internal {

// One property and its frame in each tag version. `unicode` chooses the
// encoding that text written to the frame gets (1: UTF-16, 0: code page).
struct FrameRow {
  std::int32_t property;
  std::uint32_t v22;
  std::uint32_t v23;
  std::uint32_t unicode;
};

// In the order in which Open loads the properties.
extern const FrameRow kFrameTable[];
extern const std::size_t kFrameTableSize;

// The ID3v1 genre number that means "no genre".
constexpr std::uint8_t kNoGenre = 148;

// Conversions of text; each throws std::bad_alloc when memory runs out.
// Code-page text of `length` bytes (or up to the first zero byte, whichever
// comes first) to wide text; undecodable bytes become U+FFFD.
std::wstring NarrowToWide(const char* text, std::size_t length);
// Wide text to code-page text; unencodable characters become '?'.
std::string WideToNarrow(const std::wstring& text);
// UTF-16LE code units (surrogate pairs joined, lone surrogates kept) to wide
// text.
std::wstring Utf16LeToWide(const unsigned char* bytes, std::size_t units);
// Wide text to UTF-16LE bytes, without byte-order mark or terminator; the
// inverse of Utf16LeToWide, lone surrogates included.
std::vector<unsigned char> WideToUtf16Le(const std::wstring& text);

// Runs body and returns its result; an exception it throws becomes
// E_OUTOFMEMORY (std::bad_alloc) or E_FAIL (anything else), so that none
// reaches the application across the library's boundary.
template <typename Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// The number of data bytes to ask for (and allocate) for a frame that
// declares `declared` bytes: never more than the file holds, so that a
// forged size field cannot make a reader allocate beyond the file's length.
// E_FAIL when the file's length cannot be learnt.
HRESULT FrameDataLimit(tlx_id3_context* ctx, std::uint32_t declared, std::uint32_t& limit);

}  // namespace tagkit_internal

#endif  // TAGKIT_TAGKIT_TAGKIT_INTERNAL_H_
