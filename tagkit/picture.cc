#include "tagkit_picture.h"

#include <cstring>
#include <new>

#include "tagkit_internal.h"
#include "tlx_system.h"

namespace {

// Offset just past the description that starts at start: a zero byte for
// encodings 0 and 3 (UTF-8), a zero 16-bit unit at an even distance for the
// UTF-16 encodings 1 and 2; -1 when the terminator does not lie inside the
// payload.
std::int32_t SkipDescription(const unsigned char* payload, std::int32_t size,
                             std::int32_t start, unsigned char encoding) {
  if (encoding == 0 || encoding == 3) {
    for (std::int32_t i = start; i < size; ++i) {
      if (payload[i] == 0) return i + 1;
    }
    return -1;
  }
  for (std::int32_t i = start; i + 1 < size; i += 2) {
    if (payload[i] == 0 && payload[i + 1] == 0) return i + 2;
  }
  return -1;
}

}  // namespace

CTagkit::CPicture::CPicture() : m_block(nullptr), m_data(nullptr), m_size(0) {}

CTagkit::CPicture::~CPicture() { DeleteData(); }

HRESULT CTagkit::CPicture::SetData(const unsigned char* data, std::int32_t size) {
  if (data == nullptr) return E_POINTER;
  if (size < 0) return E_INVALIDARG;
  m_size = 0;
  ReleaseBlock();
  // The same allocator as the read session's block, which KeepBlock hands
  // over: either is freed alike.
  m_block = static_cast<unsigned char*>(tlx_sqa_malloc(size > 0 ? static_cast<std::size_t>(size) : 1));
  m_data = m_block;
  if (m_data == nullptr) return E_OUTOFMEMORY;
  if (size > 0) std::memcpy(m_data, data, static_cast<std::size_t>(size));
  m_size = size;
  return S_OK;
}

HRESULT CTagkit::CPicture::GetData(unsigned char** data, std::int32_t& size) {
  if (data == nullptr) return E_POINTER;
  std::int32_t count = m_size < size ? m_size : size;
  if (count < 0) count = 0;
  if (count > 0) {
    if (*data == nullptr) return E_POINTER;
    std::memcpy(*data, m_data, static_cast<std::size_t>(count));
  }
  size = count;
  return S_OK;
}

std::int32_t CTagkit::CPicture::Size() const { return m_size; }

const unsigned char* CTagkit::CPicture::Data() const { return m_size > 0 ? m_data : nullptr; }

HRESULT CTagkit::CPicture::SetMime(const std::wstring& mime) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    m_mime = mime;
    return S_OK;
  });
}

HRESULT CTagkit::CPicture::GetMime(std::wstring& mime) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    mime = m_mime;
    return S_OK;
  });
}

std::wstring CTagkit::CPicture::Mime() const {
  try {
    return m_mime;
  } catch (...) {
    return std::wstring();  // no result code to tell it by
  }
}

HRESULT CTagkit::CPicture::SetAll(const unsigned char* data, std::int32_t size,
                                  const std::wstring& mime) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (data == nullptr) return E_POINTER;
    HRESULT hr = SetData(data, size);
    if (FAILED(hr)) return hr;
    return SetMime(mime);
  });
}

// APIC: encoding, MIME type, zero, picture type, description, zero, data.
// PIC: encoding, 3-byte image format, picture type, description, zero, data.
std::int32_t CTagkit::CPicture::ParseFrame(const unsigned char* payload, std::int32_t size,
                                           bool v22, bool v24Text, std::wstring& mime) {
  if (payload == nullptr || size < 1) return -1;
  unsigned char encoding = payload[0];
  if (encoding > (v24Text ? 3 : 1)) return -1;
  if (v22) {
    std::int32_t dataStart = SkipDescription(payload, size, 5, encoding);
    if (dataStart < 0) return -1;
    if (std::memcmp(payload + 1, "JPG", 3) == 0) {
      mime = L"image/jpeg";
    } else if (std::memcmp(payload + 1, "PNG", 3) == 0) {
      mime = L"image/png";
    } else {
      mime.clear();
    }
    return dataStart;
  }
  std::int32_t mimeEnd = 1;
  while (mimeEnd < size && payload[mimeEnd] != 0) ++mimeEnd;
  if (mimeEnd >= size) return -1;
  // The picture type byte follows the MIME terminator.
  std::int32_t dataStart = SkipDescription(payload, size, mimeEnd + 2, encoding);
  if (dataStart < 0) return -1;
  mime = tagkit_internal::NarrowToWide(reinterpret_cast<const char*>(payload + 1), mimeEnd - 1);
  return dataStart;
}

HRESULT CTagkit::CPicture::SetAPIC(const unsigned char* payload, std::int32_t size) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (payload == nullptr) return E_POINTER;
    std::wstring mime;
    const std::int32_t dataStart = ParseFrame(payload, size, false, false, mime);
    if (dataStart < 0) return E_FAIL;
    return SetAll(payload + dataStart, size - dataStart, mime);
  });
}

HRESULT CTagkit::CPicture::SetPIC(const unsigned char* payload, std::int32_t size) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (payload == nullptr) return E_POINTER;
    std::wstring mime;
    const std::int32_t dataStart = ParseFrame(payload, size, true, false, mime);
    if (dataStart < 0) return E_FAIL;
    return SetAll(payload + dataStart, size - dataStart, mime);
  });
}

HRESULT CTagkit::CPicture::ReadFrame(const unsigned char* payload, std::int32_t size, bool v22,
                                     bool v24Text, bool borrow) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    std::wstring mime;
    const std::int32_t dataStart = ParseFrame(payload, size, v22, v24Text, mime);
    if (dataStart < 0) return E_FAIL;
    HRESULT hr = S_OK;
    if (borrow && size > dataStart) {
      ReleaseBlock();
      m_data = const_cast<unsigned char*>(payload) + dataStart;
      m_size = size - dataStart;
    } else {
      hr = SetData(payload + dataStart, size - dataStart);
    }
    if (SUCCEEDED(hr)) m_mime.swap(mime);
    return hr;
  });
}

HRESULT CTagkit::CPicture::KeepBlock(PictureVector& pictures, unsigned char*& block) {
  for (const boost::shared_ptr<CPicture>& picture : pictures) {
    // Borrowed bytes are the only ones without a block of their own.
    if (!picture || picture->m_block != nullptr || picture->m_size == 0) continue;
    if (block != nullptr) {
      picture->m_block = block;
      block = nullptr;
      continue;
    }
    const HRESULT hr = picture->SetData(picture->m_data, picture->m_size);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void CTagkit::CPicture::ReleaseBlock() {
  tlx_sqa_free(m_block);
  m_block = nullptr;
}

HRESULT CTagkit::CPicture::DeleteData() {
  ReleaseBlock();
  m_data = nullptr;
  m_size = 0;
  m_mime.clear();
  return S_OK;
}
