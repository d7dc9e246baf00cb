/// @file
/// CTagkit::CMusicId, the value of PROPID_MUSIC_ID.
#ifndef TAGKIT_TAGKIT_TAGKIT_MUSIC_ID_H_
#define TAGKIT_TAGKIT_TAGKIT_MUSIC_ID_H_

#include <cstdint>
#include <string>

#include "tagkit.h"

/// A unique-file-identifier frame (UFID, ID3v2.2 UFI): an owner identifier
/// and exactly 64 bytes of identifier data.
///
/// The object owns a copy of the data and frees it when destroyed.
/// No method throws: memory running out is E_OUTOFMEMORY; the sizes only
/// read members.
class TLX_API CTagkit::CMusicId {
 public:
  /// No owner, no data.
  CMusicId();
  /// Frees the data.
  virtual ~CMusicId();
  // Owns a raw buffer: shared through boost::shared_ptr, never copied.
  CMusicId(const CMusicId&) = delete;
  CMusicId& operator=(const CMusicId&) = delete;

  /// Replaces the data with a copy of @p size bytes; the caller keeps its
  /// buffer.
  /// @return S_OK; E_POINTER for null data; E_INVALIDARG unless @p size is
  ///   exactly 64 (the old data then stays); E_OUTOFMEMORY.
  HRESULT SetData(const unsigned char* data, std::int32_t size);
  /// Hands out a copy of the data in @p *data, allocated with CoTaskMemAlloc
  /// and freed by the caller with CoTaskMemFree, and its length in @p size.
  /// A null @p data argument does nothing and succeeds.
  /// @return S_OK; E_OUTOFMEMORY.
  HRESULT GetData(unsigned char** data, std::int32_t& size);
  /// Number of data bytes (64 once set, else 0).
  std::int32_t GetDataSize() const;
  /// Length of the frame payload: owner, terminator, data.
  std::int32_t GetFrameDataSize() const;
  /// Copies the owner identifier into @p owner. @return S_OK.
  HRESULT GetOwnerId(std::string& owner);
  /// Sets the owner identifier.
  /// @return S_OK; E_INVALIDARG for an empty owner.
  HRESULT SetOwnerId(const std::string& owner);
  /// Builds the frame payload (owner, zero byte, data) in @p *payload,
  /// allocated with CoTaskMemAlloc and freed by the caller with
  /// CoTaskMemFree. A null @p payload argument does nothing and succeeds.
  /// @return S_OK; E_UNEXPECTED while the owner is empty or the data is not
  ///   set; E_OUTOFMEMORY.
  HRESULT GetFrameData(unsigned char** payload, std::int32_t& size);
  /// Fills owner and data from a frame payload; the caller keeps its buffer.
  /// @return S_OK; E_POINTER for null; E_INVALIDARG for a payload that is not
  ///   an owner of at least one byte, a zero byte and 64 bytes of data;
  ///   E_OUTOFMEMORY.
  HRESULT ParseFrameData(const unsigned char* payload, std::int32_t size);

 private:
  static const std::int32_t DEF_DATA_SIZE;

  HRESULT DeleteData();

  unsigned char* m_data;
  std::string m_ownerId;
  std::int32_t m_dataSize;
};

#endif  // TAGKIT_TAGKIT_TAGKIT_MUSIC_ID_H_
