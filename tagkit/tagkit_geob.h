/// @file
/// CTagkit::CGeob, the value of PROPID_OBJECT_MTDID and PROPID_OBJECT_QZVLX.
#ifndef TAGKIT_TAGKIT_TAGKIT_GEOB_H_
#define TAGKIT_TAGKIT_TAGKIT_GEOB_H_

#include <cstdint>
#include <string>

#include <boost/shared_array.hpp>

#include "tagkit.h"

/// A general encapsulated object (GEOB, ID3v2.2 GEO): MIME type, content
/// description and opaque bytes. Written frames carry 8-bit text and an
/// empty filename.
///
/// The object owns a copy of the bytes and frees it when destroyed.
/// No method throws: memory running out is E_OUTOFMEMORY; the sizes only
/// read members.
class TLX_API CTagkit::CGeob {
 public:
  /// Empty MIME type, description and data.
  CGeob();
  /// Frees the data.
  virtual ~CGeob();
  // Owns a raw buffer: shared through boost::shared_ptr, never copied.
  CGeob(const CGeob&) = delete;
  CGeob& operator=(const CGeob&) = delete;

  /// Replaces the data with a copy of @p size bytes; the caller keeps its
  /// buffer.
  /// @return S_OK; E_POINTER for null data; E_INVALIDARG for a negative
  ///   size; E_OUTOFMEMORY.
  HRESULT SetData(const unsigned char* data, std::int32_t size);
  /// Hands out a copy of the data in @p *data, allocated with CoTaskMemAlloc
  /// and freed by the caller with CoTaskMemFree, and its length in @p size.
  /// A null @p data argument does nothing and succeeds.
  /// @return S_OK; E_OUTOFMEMORY.
  HRESULT GetData(unsigned char** data, std::int32_t& size) const;
  /// Number of data bytes.
  std::int32_t GetDataSize() const;
  /// Length of the payload that GetFrameData builds.
  std::int32_t GetFrameDataSize() const;
  /// Sets the content description; also keeps it in the thread's code page
  /// for the frame. @return S_OK.
  HRESULT SetDescription(const std::wstring& description);
  /// Copies the content description into @p description. @return S_OK.
  HRESULT GetDescription(std::wstring& description) const;
  /// Sets the MIME type. @return S_OK.
  HRESULT SetMimeType(const std::string& mime);
  /// Copies the MIME type into @p mime. @return S_OK.
  HRESULT GetMimeType(std::string& mime) const;
  /// Builds the frame payload (encoding 0, MIME type, empty filename,
  /// description, data) in @p *payload, allocated with CoTaskMemAlloc and
  /// freed by the caller with CoTaskMemFree. A null @p payload argument does
  /// nothing and succeeds.
  /// @return S_OK; E_OUTOFMEMORY.
  HRESULT GetFrameData(unsigned char** payload, std::int32_t& size) const;
  /// Fills the object from a frame payload; the caller keeps its buffer.
  /// Accepts encoding 0 and 1 (UTF-16 with byte-order mark) and an empty
  /// filename.
  /// @return S_OK; E_POINTER; E_INVALIDARG (empty payload, MIME type without
  ///   terminator); E_FAIL (other encodings, description without
  ///   terminator); E_OUTOFMEMORY.
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
