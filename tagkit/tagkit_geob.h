// CTagkit::CGeob: a general encapsulated object (GEOB, ID3v2.2 GEO): MIME
// type, content description and opaque bytes. Written frames carry 8-bit text
// and an empty filename.
#ifndef TAGKIT_TAGKIT_TAGKIT_GEOB_H_
#define TAGKIT_TAGKIT_TAGKIT_GEOB_H_

#include <cstdint>
#include <string>

#include <boost/shared_array.hpp>

#include "tagkit.h"

class TLX_API CTagkit::CGeob {
 public:
  CGeob();
  virtual ~CGeob();
  // Owns a raw buffer: shared through boost::shared_ptr, never copied.
  CGeob(const CGeob&) = delete;
  CGeob& operator=(const CGeob&) = delete;

  // E_POINTER for null data, E_INVALIDARG for a negative size.
  HRESULT SetData(const unsigned char* data, std::int32_t size);
  // A copy of the data from CoTaskMemAlloc, freed by the caller with
  // CoTaskMemFree. A null data argument does nothing and succeeds.
  HRESULT GetData(unsigned char** data, std::int32_t& size) const;
  std::int32_t GetDataSize() const;
  // Length of the payload that GetFrameData builds.
  std::int32_t GetFrameDataSize() const;
  // Also keeps the description in the thread's code page for the frame.
  HRESULT SetDescription(const std::wstring& description);
  HRESULT GetDescription(std::wstring& description) const;
  HRESULT SetMimeType(const std::string& mime);
  HRESULT GetMimeType(std::string& mime) const;
  // The frame payload (encoding 0), from CoTaskMemAlloc (caller frees).
  HRESULT GetFrameData(unsigned char** payload, std::int32_t& size) const;
  // Accepts encoding 0 and 1 (UTF-16 with byte-order mark) and an empty
  // filename. E_POINTER, E_INVALIDARG (empty payload, MIME type without
  // terminator), E_FAIL (other encodings, description without terminator).
  HRESULT ParseFrameData(const unsigned char* payload, std::int32_t size);

 private:
  HRESULT DeleteData();
  HRESULT AsciiBinary2Wstring(const unsigned char* bytes, std::int32_t length,
                              std::wstring& text);
  HRESULT Utf16Binary2Wstring(const unsigned char* bytes, std::int32_t length,
                              std::wstring& text);
  HRESULT SwapData(boost::shared_array<char>& bytes, std::int32_t length);

  unsigned char* m_data;
  std::string m_mimeType;
  std::wstring m_description;
  std::string m_description8;
  std::int32_t m_dataSize;
};

#endif  // TAGKIT_TAGKIT_TAGKIT_GEOB_H_
