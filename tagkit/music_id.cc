#include "tagkit_music_id.h"

#include <cstring>
#include <new>

#include "tagkit_internal.h"

const std::int32_t CTagkit::CMusicId::DEF_DATA_SIZE = 64;

CTagkit::CMusicId::CMusicId() : m_data(nullptr), m_dataSize(0) {}

CTagkit::CMusicId::~CMusicId() { DeleteData(); }

HRESULT CTagkit::CMusicId::SetData(const unsigned char* data, std::int32_t size) {
  if (data == nullptr) return E_POINTER;
  if (size != DEF_DATA_SIZE) return E_INVALIDARG;
  m_dataSize = 0;
  unsigned char* copy = new (std::nothrow) unsigned char[DEF_DATA_SIZE];
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, data, DEF_DATA_SIZE);
  delete[] m_data;
  m_data = copy;
  m_dataSize = DEF_DATA_SIZE;
  return S_OK;
}

HRESULT CTagkit::CMusicId::GetData(unsigned char** data, std::int32_t& size) {
  if (data == nullptr) return S_OK;
  *data = nullptr;
  // At least one byte, so that an empty object still hands out a buffer the
  // caller can free like any other.
  unsigned char* buffer = static_cast<unsigned char*>(
      CoTaskMemAlloc(m_dataSize > 0 ? static_cast<std::size_t>(m_dataSize) : 1));
  if (buffer == nullptr) return E_OUTOFMEMORY;
  if (m_dataSize > 0) std::memcpy(buffer, m_data, static_cast<std::size_t>(m_dataSize));
  size = m_dataSize;
  *data = buffer;
  return S_OK;
}

std::int32_t CTagkit::CMusicId::GetDataSize() const { return m_dataSize; }

std::int32_t CTagkit::CMusicId::GetFrameDataSize() const {
  return m_dataSize + static_cast<std::int32_t>(m_ownerId.size()) + 1;
}

HRESULT CTagkit::CMusicId::GetOwnerId(std::string& owner) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    owner = m_ownerId;
    return S_OK;
  });
}

HRESULT CTagkit::CMusicId::SetOwnerId(const std::string& owner) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (owner.empty()) return E_INVALIDARG;
    m_ownerId = owner;
    return S_OK;
  });
}

// owner identifier, zero, 64 bytes of identifier data
HRESULT CTagkit::CMusicId::GetFrameData(unsigned char** payload, std::int32_t& size) {
  if (payload == nullptr) return S_OK;
  *payload = nullptr;
  // A frame without its 64 data bytes could not be read back.
  if (m_ownerId.empty() || m_dataSize != DEF_DATA_SIZE) return E_UNEXPECTED;
  std::int32_t length = GetFrameDataSize();
  unsigned char* buffer = static_cast<unsigned char*>(CoTaskMemAlloc(static_cast<std::size_t>(length)));
  if (buffer == nullptr) return E_OUTOFMEMORY;
  std::memset(buffer, 0, static_cast<std::size_t>(length));
  std::memcpy(buffer, m_ownerId.data(), m_ownerId.size());
  std::memcpy(buffer + length - m_dataSize, m_data, static_cast<std::size_t>(m_dataSize));
  size = length;
  *payload = buffer;
  return S_OK;
}

HRESULT CTagkit::CMusicId::ParseFrameData(const unsigned char* payload, std::int32_t size) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (payload == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    m_dataSize = 0;
    const void* terminator = std::memchr(payload, 0, static_cast<std::size_t>(size));
    if (terminator == nullptr) return E_INVALIDARG;
    std::int32_t ownerLength =
        static_cast<std::int32_t>(static_cast<const unsigned char*>(terminator) - payload);
    if (ownerLength == 0) return E_INVALIDARG;
    if (size - ownerLength - 1 != DEF_DATA_SIZE) return E_INVALIDARG;
    unsigned char* copy = new (std::nothrow) unsigned char[DEF_DATA_SIZE];
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::memcpy(copy, payload + ownerLength + 1, DEF_DATA_SIZE);
    delete[] m_data;
    m_data = copy;
    m_dataSize = DEF_DATA_SIZE;
    return SetOwnerId(std::string(reinterpret_cast<const char*>(payload),
                                  static_cast<std::size_t>(ownerLength)));
  });
}

HRESULT CTagkit::CMusicId::DeleteData() {
  delete[] m_data;
  m_data = nullptr;
  m_dataSize = 0;
  m_ownerId.clear();
  return S_OK;
}
