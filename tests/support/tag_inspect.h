// Values for the class tests beside tag_frames.h: text frame payloads,
// ID3v1 fields, the bytes of value objects, and reading a file back with an
// independent reader (python3-mutagen).
#ifndef TAGKIT_TESTS_SUPPORT_TAG_INSPECT_H_
#define TAGKIT_TESTS_SUPPORT_TAG_INSPECT_H_

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "tag_frames.h"
#include "test_support.h"
#include "tlx_com.h"

namespace tagkit_test {

// Text frame payloads with terminator: encoding 0 (the code page) and
// encoding 1 (UTF-16LE with byte-order mark; surrogate pairs beyond the BMP).
Bytes Enc0(const std::string& text);
Bytes Enc1(const std::string& utf8);
// A text field of the file's ID3v1 trailer up to its first zero byte,
// trailing blanks removed; width 1 gives the track or genre byte.
std::string V1Text(const Bytes& file, std::size_t offset, std::size_t width = 30);
Bytes Pattern(std::size_t size, std::uint8_t seed);
std::string Hex(const Bytes& bytes);

// A python interpreter with mutagen, or "" (always "" on Windows), and the
// output lines of a script run by it with the file as its argument.
std::string MutagenPython();
std::vector<std::string> RunPython(const std::string& python, const std::string& script, const std::string& file);

// A value object (CPicture, CMusicId, CGeob) holding the bytes.
template <class Value>
boost::shared_ptr<Value> Holding(const Bytes& data) {
  boost::shared_ptr<Value> value(new Value());
  EXPECT_EQ(S_OK, value->SetData(data.data(), static_cast<std::int32_t>(data.size())));
  return value;
}
// The bytes of a CMusicId or CGeob, which hand out a task-memory copy.
template <class Ptr>
Bytes DataOf(const Ptr& value) {
  unsigned char* buffer = nullptr;
  std::int32_t size = 0;
  EXPECT_EQ(S_OK, value->GetData(&buffer, size));
  const Bytes out(buffer, buffer + size);
  CoTaskMemFree(buffer);
  return out;
}
// The bytes of a CPicture, which copies into the caller's buffer.
template <class Ptr>
Bytes PictureData(const Ptr& picture) {
  Bytes out(static_cast<std::size_t>(picture->Size()));
  unsigned char* buffer = out.data();
  std::int32_t size = picture->Size();
  EXPECT_EQ(S_OK, picture->GetData(&buffer, size));
  return out;
}

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_TAG_INSPECT_H_
