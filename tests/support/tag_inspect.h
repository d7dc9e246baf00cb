// More read-back helpers beside tag_frames.h: the tag's length, ID3v1 text
// fields, and UTF-16 bytes of expected text.
#ifndef TAGKIT_TESTS_SUPPORT_TAG_INSPECT_H_
#define TAGKIT_TESTS_SUPPORT_TAG_INSPECT_H_

#include <string>

#include "tag_frames.h"
#include "test_support.h"

namespace tagkit_test {

// 10 + the tag size, or 0 without an ID3v2 tag.
std::size_t TagLength(const Bytes& file);
// A text field of the ID3v1 trailer up to its first zero byte, trailing
// blanks removed.
std::string V1Text(const Bytes& trailer, std::size_t offset);
// Little-endian UTF-16 bytes of UTF-8 text (surrogate pairs for characters
// beyond the BMP).
Bytes Utf16Le(const std::string& utf8);

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_TAG_INSPECT_H_
