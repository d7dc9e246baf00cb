// CTagkit::CMusicId: a unique-file-identifier frame (UFID, ID3v2.2 UFI):
// an owner identifier and exactly 64 bytes of identifier data.
#ifndef TAGKIT_TAGKIT_TAGKIT_MUSIC_ID_H_
#define TAGKIT_TAGKIT_TAGKIT_MUSIC_ID_H_

#include <cstdint>
#include <string>

#include "tagkit.h"

class TLX_API CTagkit::CMusicId {
 public:
  CMusicId();
  virtual ~CMusicId();
  // Owns a raw buffer: shared through boost::shared_ptr, never copied.
  CMusicId(const CMusicId&) = delete;
  CMusicId& operator=(const CMusicId&) = delete;

  // Exactly 64 bytes, else E_INVALIDARG and the old data stays.
  HRESULT SetData(const unsigned char* data, std::int32_t size);
  // A copy of the data from CoTaskMemAlloc, freed by the caller with
  // CoTaskMemFree. A null data argument does nothing and succeeds.
  HRESULT GetData(unsigned char** data, std::int32_t& size);
  std::int32_t GetDataSize() const;
  // Length of the frame payload: owner, terminator, data.
  std::int32_t GetFrameDataSize() const;
  HRESULT GetOwnerId(std::string& owner);
  // E_INVALIDARG for an empty owner.
  HRESULT SetOwnerId(const std::string& owner);
  // The frame payload, from CoTaskMemAlloc (caller frees). E_UNEXPECTED while
  // the owner is empty or the data is not set.
  HRESULT GetFrameData(unsigned char** payload, std::int32_t& size);
  // E_POINTER, or E_INVALIDARG for a payload that is not an owner of at least
  // one byte, a zero byte and 64 bytes of data.
  HRESULT ParseFrameData(const unsigned char* payload, std::int32_t size);

 private:
  static const std::int32_t DEF_DATA_SIZE;

  HRESULT DeleteData();

  unsigned char* m_data;
  std::string m_ownerId;
  std::int32_t m_dataSize;
};

#endif  // TAGKIT_TAGKIT_TAGKIT_MUSIC_ID_H_
