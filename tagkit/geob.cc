#include "tagkit_geob.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "tagkit_internal.h"

CTagkit::CGeob::CGeob() : m_data(nullptr), m_mimeType("binary"), m_dataSize(0) {}

CTagkit::CGeob::~CGeob() { DeleteData(); }

HRESULT CTagkit::CGeob::SetData(const unsigned char* data, std::int32_t size) {
  if (data == nullptr) return E_POINTER;
  if (size < 0) return E_INVALIDARG;
  m_dataSize = 0;
  delete[] m_data;
  m_data = new (std::nothrow) unsigned char[size > 0 ? size : 1];
  if (m_data == nullptr) return E_OUTOFMEMORY;
  if (size > 0) std::memcpy(m_data, data, static_cast<std::size_t>(size));
  m_dataSize = size;
  return S_OK;
}

HRESULT CTagkit::CGeob::GetData(unsigned char** data, std::int32_t& size) const {
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

std::int32_t CTagkit::CGeob::GetDataSize() const { return m_dataSize; }

std::int32_t CTagkit::CGeob::GetFrameDataSize() const {
  std::int64_t length = static_cast<std::int64_t>(m_dataSize) +
                        static_cast<std::int64_t>(m_description8.size()) +
                        static_cast<std::int64_t>(m_mimeType.size()) + 4;
  // Saturates; GetFrameData refuses such a payload.
  if (length > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(length);
}

HRESULT CTagkit::CGeob::SetDescription(const std::wstring& description) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    std::string narrow = tagkit_internal::WideToNarrow(description);
    m_description = description;
    m_description8 = std::move(narrow);
    return S_OK;
  });
}

HRESULT CTagkit::CGeob::GetDescription(std::wstring& description) const {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    description = m_description;
    return S_OK;
  });
}

HRESULT CTagkit::CGeob::SetMimeType(const std::string& mime) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    m_mimeType = mime;
    return S_OK;
  });
}

HRESULT CTagkit::CGeob::GetMimeType(std::string& mime) const {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    mime = m_mimeType;
    return S_OK;
  });
}

// encoding 0, MIME type, zero, empty filename (zero), description, zero, data
HRESULT CTagkit::CGeob::GetFrameData(unsigned char** payload, std::int32_t& size) const {
  if (payload == nullptr) return S_OK;
  *payload = nullptr;
  std::int32_t length = GetFrameDataSize();
  if (length == std::numeric_limits<std::int32_t>::max()) return E_OUTOFMEMORY;
  unsigned char* buffer = static_cast<unsigned char*>(CoTaskMemAlloc(static_cast<std::size_t>(length)));
  if (buffer == nullptr) return E_OUTOFMEMORY;
  std::memset(buffer, 0, static_cast<std::size_t>(length));
  std::size_t at = 1;
  std::memcpy(buffer + at, m_mimeType.data(), m_mimeType.size());
  at += m_mimeType.size() + 2;
  std::memcpy(buffer + at, m_description8.data(), m_description8.size());
  at += m_description8.size() + 1;
  if (m_dataSize > 0) std::memcpy(buffer + at, m_data, static_cast<std::size_t>(m_dataSize));
  size = length;
  *payload = buffer;
  return S_OK;
}

HRESULT CTagkit::CGeob::ParseFrameData(const unsigned char* payload, std::int32_t size) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (payload == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    m_dataSize = 0;

    std::int32_t mimeEnd = 1;
    while (mimeEnd < size && payload[mimeEnd] != 0) ++mimeEnd;
    if (mimeEnd >= size) return E_INVALIDARG;
    HRESULT hr = SetMimeType(std::string(reinterpret_cast<const char*>(payload + 1),
                                         static_cast<std::size_t>(mimeEnd - 1)));
    if (FAILED(hr)) return hr;

    // The filename is taken to be empty: one zero byte, or one zero unit.
    unsigned char encoding = payload[0];
    if (encoding > 1) return E_FAIL;
    std::int32_t descStart = encoding == 0 ? mimeEnd + 2 : mimeEnd + 3;
    std::int32_t dataStart = -1;
    if (encoding == 0) {
      for (std::int32_t i = descStart; i < size; ++i) {
        if (payload[i] == 0) {
          dataStart = i + 1;
          break;
        }
      }
    } else {
      for (std::int32_t i = descStart; i + 1 < size; i += 2) {
        if (payload[i] == 0 && payload[i + 1] == 0) {
          dataStart = i + 2;
          break;
        }
      }
    }
    if (dataStart < 0) return E_FAIL;

    // An undecodable description is kept as empty: it then matches nothing.
    std::wstring description;
    HRESULT converted =
        encoding == 0 ? AsciiBinary2Wstring(payload + descStart, dataStart - descStart, description)
                      : Utf16Binary2Wstring(payload + descStart, dataStart - descStart, description);
    if (FAILED(converted)) description.clear();

    std::int32_t dataSize = size - dataStart;
    unsigned char* copy = new (std::nothrow) unsigned char[dataSize > 0 ? dataSize : 1];
    if (copy == nullptr) return E_OUTOFMEMORY;
    if (dataSize > 0) std::memcpy(copy, payload + dataStart, static_cast<std::size_t>(dataSize));
    delete[] m_data;
    m_data = copy;
    m_dataSize = dataSize;
    return SetDescription(description);
  });
}

HRESULT CTagkit::CGeob::DeleteData() {
  delete[] m_data;
  m_data = nullptr;
  m_dataSize = 0;
  m_mimeType.clear();
  m_description.clear();
  m_description8.clear();
  return S_OK;
}

HRESULT CTagkit::CGeob::AsciiBinary2Wstring(const unsigned char* bytes, std::int32_t length,
                                            std::wstring& text) {
  if (bytes == nullptr) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  const void* zero = std::memchr(bytes, 0, static_cast<std::size_t>(length));
  std::int32_t textLength =
      zero ? static_cast<std::int32_t>(static_cast<const unsigned char*>(zero) - bytes) : length;
  text = tagkit_internal::NarrowToWide(reinterpret_cast<const char*>(bytes), textLength);
  return S_OK;
}

HRESULT CTagkit::CGeob::Utf16Binary2Wstring(const unsigned char* bytes, std::int32_t length,
                                            std::wstring& text) {
  if (bytes == nullptr) return E_POINTER;
  if (length < 2) return E_FAIL;
  bool bigEndian;
  if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
    bigEndian = false;
  } else if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
    bigEndian = true;
  } else {
    return E_FAIL;
  }
  std::int32_t textLength = length - 2;
  boost::shared_array<char> units(new char[textLength + 2]());
  if (textLength > 0) std::memcpy(units.get(), bytes + 2, static_cast<std::size_t>(textLength));
  if (bigEndian) {
    HRESULT hr = SwapData(units, textLength + 2);
    if (FAILED(hr)) return hr;
  }
  const unsigned char* le = reinterpret_cast<const unsigned char*>(units.get());
  std::uint32_t count = 0;
  while (static_cast<std::int32_t>(count * 2 + 1) < textLength &&
         (le[count * 2] != 0 || le[count * 2 + 1] != 0)) {
    ++count;
  }
  text = tagkit_internal::Utf16LeToWide(le, count);
  return S_OK;
}

HRESULT CTagkit::CGeob::SwapData(boost::shared_array<char>& bytes, std::int32_t length) {
  if (!bytes) return E_POINTER;
  if (length < 0) return E_INVALIDARG;
  boost::shared_array<char> swapped(new char[length > 0 ? length : 1]());
  for (std::int32_t i = 0; i + 1 < length; i += 2) {
    swapped[i] = bytes[i + 1];
    swapped[i + 1] = bytes[i];
  }
  bytes = swapped;
  return S_OK;
}
