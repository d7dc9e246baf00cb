// Reading text and URL properties: the ID3v2 frame first, the ID3v1 field
// when the ID3v2 tag has none, and the decoding of frame bytes.
#include <cstdio>
#include <cstring>
#include <new>

#include "tagkit_internal.h"

using namespace tagkit_internal;

namespace {

// Room for an ID3v1 text field (30 bytes) and its terminator, with slack for
// the engine's in/out size convention.
constexpr std::uint32_t kV1FieldRoom = 32;

// A damaged frame header may claim any size up to 4 GB; a frame larger than
// its whole tag is refused before anything is allocated for it.
bool FitsInTag(tlx_id3_context* ctx, std::uint32_t frameSize) {
  tlx_id3_v2_header tag;
  std::memset(&tag, 0, sizeof(tag));
  if (tlx_id3_v2_get_header(ctx, &tag) != TLX_ID3_OK) return false;
  return tag.size >= 0 && frameSize <= static_cast<std::uint32_t>(tag.size);
}

// A buffer for size bytes of frame data; never empty, so that a frame
// without data still has a valid address to be read into.
std::unique_ptr<unsigned char[]> FrameBuffer(std::uint32_t size) {
  return std::unique_ptr<unsigned char[]>(new unsigned char[size + 1u]);
}

}  // namespace

HRESULT CTagkit::GetString(std::int32_t id, std::vector<std::wstring>& values) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    if (!CheckStringPropertyID(id)) return E_TAG_UNSUPPORTED;
    const auto found = m_strings.find(id);
    // An entry whose first string is empty stands for an absent property: an
    // empty ID3v2 frame hides the ID3v1 field behind it.
    if (found == m_strings.end() || found->second.empty() || found->second[0].empty()) {
      return E_TAG_NO_VALUE;
    }
    values = found->second;
    return S_OK;
  });
}

HRESULT CTagkit::GetStringInternal(std::int32_t id, std::vector<std::wstring>& values) {
  if (!m_isOpen) return E_UNEXPECTED;
  if (!CheckStringPropertyID(id)) return E_TAG_UNSUPPORTED;
  const HRESULT v2 = id == PROPID_ARTIST_URL ? GetUrlV2(id, values) : GetTextV2(id, values);
  if (!values.empty() || v2 == E_OUTOFMEMORY) return v2;
  return SUCCEEDED(GetV1(id, values)) ? S_OK : v2;
}

HRESULT CTagkit::GetTextV2(std::int32_t id, std::vector<std::wstring>& values) {
  std::uint32_t frameId = 0;
  HRESULT hr = ToFrameId(id, frameId);
  if (FAILED(hr)) return hr;
  std::wstring text;
  hr = GetV2Data2(frameId, text);
  if (FAILED(hr)) return hr;
  values.push_back(text);
  return S_OK;
}

HRESULT CTagkit::GetV2Data(std::uint32_t frameId, std::uint32_t& size,
                           std::unique_ptr<unsigned char[]>& data) {
  size = 0;
  tlx_id3_v2_frame_header header;
  std::memset(&header, 0, sizeof(header));
  // A walk that ends (no tag, the end of the tag, its padding) without the
  // frame finds none; any other failure is one.
  const std::int32_t rc = tlx_id3_v2_get_frame_header(Context(), frameId, 0, &header);
  if (rc == TLX_ID3_E_NOT_FOUND || (rc == TLX_ID3_OK && header.id == 0)) return E_TAG_NO_VALUE;
  if (rc != TLX_ID3_OK) return E_FAIL;
  if (!FitsInTag(Context(), header.size)) return E_FAIL;
  std::uint32_t limit = 0;
  if (FAILED(tagkit_internal::FrameDataLimit(Context(), header.size, limit))) return E_FAIL;
  data = FrameBuffer(limit);
  std::uint32_t delivered = limit;
  if (tlx_id3_v2_get_frame_data(Context(), frameId, 0, &delivered, data.get()) != TLX_ID3_OK) {
    return E_FAIL;
  }
  size = delivered;
  return S_OK;
}

HRESULT CTagkit::GetV2Data2(std::uint32_t frameId, std::wstring& text) {
  std::uint32_t size = 0;
  std::unique_ptr<unsigned char[]> data;
  HRESULT hr = GetV2Data(frameId, size, data);
  if (FAILED(hr)) return hr;
  // A frame without even its encoding byte carries no value; treating it as
  // absent lets the ID3v1 field stand in, as for a missing frame.
  if (size == 0) return E_TAG_NO_VALUE;
  const std::int32_t length = static_cast<std::int32_t>(size - 1);
  switch (data[0]) {
    case 0:
      hr = AsciiBinary2Wstring(data.get() + 1, length, text);
      break;
    case 1:
      hr = Utf16Binary2Wstring(data.get() + 1, length, text);
      break;
    default:  // UTF-16BE without mark, UTF-8 and unknown encodings
      return E_FAIL;
  }
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CTagkit::AsciiBinary2Wstring(const unsigned char* bytes, std::int32_t length,
                                     std::wstring& text) {
  if (bytes == nullptr) return E_POINTER;
  if (length < 0) length = 0;
  text = NarrowToWide(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
  return S_OK;
}

HRESULT CTagkit::Utf16Binary2Wstring(const unsigned char* bytes, std::int32_t length,
                                     std::wstring& text) {
  if (bytes == nullptr) return E_POINTER;
  if (length < 2) return E_FAIL;
  const std::int32_t textLength = length - 2;
  if (bytes[0] == 0xFF && bytes[1] == 0xFE && textLength % 2 == 0) {
    // Little-endian whole units, the common case, are read in place.
    const unsigned char* units = bytes + 2;
    const std::size_t maxUnits = static_cast<std::size_t>(textLength) / 2;
    std::size_t count = 0;
    while (count < maxUnits && (units[2 * count] != 0 || units[2 * count + 1] != 0)) ++count;
    text = Utf16LeToWide(units, count);
    return S_OK;
  }
  // Two zero bytes always follow the copied text, so a last odd byte reads
  // as the low byte of a final unit and a missing terminator is supplied.
  boost::shared_array<char> copy(new char[length]);
  std::memset(copy.get(), 0, static_cast<std::size_t>(length));
  std::memcpy(copy.get(), bytes + 2, static_cast<std::size_t>(textLength));
  if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
    const HRESULT hr = SwabData(copy, textLength);
    if (FAILED(hr)) return hr;
  } else if (!(bytes[0] == 0xFF && bytes[1] == 0xFE)) {
    return E_FAIL;
  }
  const unsigned char* units = reinterpret_cast<const unsigned char*>(copy.get());
  const std::size_t maxUnits = (static_cast<std::size_t>(textLength) + 1) / 2;
  std::size_t count = 0;
  while (count < maxUnits && (units[2 * count] != 0 || units[2 * count + 1] != 0)) ++count;
  text = Utf16LeToWide(units, count);
  return S_OK;
}

HRESULT CTagkit::SwabData(boost::shared_array<char>& data, std::int32_t length) {
  if (!data) return E_POINTER;
  if (length < 0) length = 0;
  boost::shared_array<char> swapped(new char[length + 1]);
  std::memset(swapped.get(), 0, static_cast<std::size_t>(length) + 1);
  for (std::int32_t i = 0; i + 1 < length; i += 2) {
    swapped[i] = data[i + 1];
    swapped[i + 1] = data[i];
  }
  data = swapped;
  return S_OK;
}

HRESULT CTagkit::GetUrlV2(std::int32_t id, std::vector<std::wstring>& values) {
  std::uint32_t frameId = 0;
  HRESULT hr = ToFrameId(id, frameId);
  if (FAILED(hr)) return hr;
  std::uint32_t count = 0;
  if (tlx_id3_v2_get_frame_num(Context(), frameId, &count) != TLX_ID3_OK) return E_FAIL;
  if (count == 0) return E_TAG_NO_VALUE;
  for (std::uint32_t index = 0; index < count; ++index) {
    tlx_id3_v2_frame_header header;
    std::memset(&header, 0, sizeof(header));
    if (tlx_id3_v2_get_frame_header(Context(), frameId, index, &header) != TLX_ID3_OK) {
      return E_FAIL;
    }
    if (!FitsInTag(Context(), header.size)) return E_FAIL;
    std::uint32_t limit = 0;
    if (FAILED(tagkit_internal::FrameDataLimit(Context(), header.size, limit))) return E_FAIL;
    std::unique_ptr<unsigned char[]> buffer = FrameBuffer(limit);
    std::uint32_t delivered = limit;
    if (tlx_id3_v2_get_frame_data(Context(), frameId, index, &delivered, buffer.get()) !=
        TLX_ID3_OK) {
      return E_FAIL;
    }
    std::wstring url;
    hr = AsciiBinary2Wstring(buffer.get(), static_cast<std::int32_t>(delivered), url);
    if (FAILED(hr)) return hr;
    values.push_back(url);
  }
  return S_OK;
}

HRESULT CTagkit::GetV1(std::int32_t id, std::vector<std::wstring>& values) {
  char buffer[kV1FieldRoom * 2];
  std::memset(buffer, 0, sizeof(buffer));
  std::uint32_t size = kV1FieldRoom;
  std::int32_t rc = TLX_ID3_OK;
  switch (id) {
    case PROPID_TRACK: {
      std::uint8_t track = 0;
      rc = tlx_id3_v1_get_tracknumebr(Context(), &track);
      if (rc == TLX_ID3_OK) std::snprintf(buffer, sizeof(buffer), "%u", unsigned{track});
      break;
    }
    case PROPID_TITLE:
      rc = tlx_id3_v1_get_title(Context(), &size, buffer);
      break;
    case PROPID_GENRE: {
      std::uint32_t genre = kNoGenre;
      rc = tlx_id3_v1_get_genre(Context(), &genre);
      if (rc == TLX_ID3_OK && genre != kNoGenre) {
        std::snprintf(buffer, sizeof(buffer), "(%u)", genre);
      }
      break;
    }
    case PROPID_ALBUM:
      rc = tlx_id3_v1_get_album(Context(), &size, buffer);
      break;
    case PROPID_ARTIST:
      rc = tlx_id3_v1_get_artist(Context(), &size, buffer);
      break;
    default:
      return E_TAG_UNSUPPORTED;
  }
  if (rc != TLX_ID3_OK) return E_FAIL;
  buffer[sizeof(buffer) - 1] = '\0';
  // Taggers pad fields with spaces, zero bytes, or spaces and then zero
  // bytes; the engine trims only blanks at the very end of the field.
  std::size_t length = std::strlen(buffer);
  while (length > 0 && buffer[length - 1] == ' ') --length;
  values.push_back(NarrowToWide(buffer, length));
  return S_OK;
}
