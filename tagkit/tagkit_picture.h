// CTagkit::CPicture: the bytes and MIME type of an attached picture, as read
// from an APIC (ID3v2.3) or PIC (ID3v2.2) frame. Picture type and description
// are not kept; written frames say "front cover" with an empty description.
#ifndef TAGKIT_TAGKIT_TAGKIT_PICTURE_H_
#define TAGKIT_TAGKIT_TAGKIT_PICTURE_H_

#include <cstdint>
#include <string>

#include "tagkit.h"

class TLX_API CTagkit::CPicture {
 public:
  CPicture();
  virtual ~CPicture();
  // Owns a raw buffer: shared through boost::shared_ptr, never copied.
  CPicture(const CPicture&) = delete;
  CPicture& operator=(const CPicture&) = delete;

  // Copies size bytes. E_POINTER for null data, E_INVALIDARG for a negative
  // size, E_OUTOFMEMORY (size then 0); the MIME type is kept.
  HRESULT SetData(const unsigned char* data, std::int32_t size);
  // Copies min(Size(), size) bytes into the caller's buffer *data, which must
  // hold size bytes, and sets size to the number copied.
  HRESULT GetData(unsigned char** data, std::int32_t& size);
  std::int32_t Size() const;
  HRESULT SetMime(const std::wstring& mime);
  HRESULT GetMime(std::wstring& mime);
  std::wstring Mime() const;
  // SetData, then SetMime; a failed SetData leaves the MIME type as it was.
  HRESULT SetAll(const unsigned char* data, std::int32_t size, const std::wstring& mime);

  // Fill the object from a frame payload. E_POINTER for null, E_FAIL for an
  // encoding other than 0 or 1 or a terminator missing inside the payload.
  HRESULT SetAPIC(const unsigned char* payload, std::int32_t size);
  HRESULT SetPIC(const unsigned char* payload, std::int32_t size);

 private:
  HRESULT DeleteData();

  unsigned char* m_data;
  std::int32_t m_size;
  std::wstring m_mime;
};

#endif  // TAGKIT_TAGKIT_TAGKIT_PICTURE_H_
