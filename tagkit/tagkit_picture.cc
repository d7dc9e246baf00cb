// The attached picture: the first APIC (ID3v2.3, 2.4) or PIC (ID3v2.2) frame is
// read at open; PutBinary writes one frame from the first picture given.
#include <cstring>
#include <new>

#include <boost/make_shared.hpp>

#include "tagkit.h"
#include "tagkit_frame_edit.h"
#include "id3_internal.h"
#include "tlx_id3.h"
#include "tagkit_internal.h"

namespace {

// APIC and PIC frames written by this library: 8-bit text, picture type
// 3 (front cover), empty description.
const unsigned char kFrontCover = 3;

// Copies the picture's bytes to target, which has room for all of them.
HRESULT CopyPictureData(CTagkit::CPicture& picture, unsigned char* target) {
  std::int32_t size = picture.Size();
  if (size == 0) return S_OK;
  unsigned char* buffer = target;
  return picture.GetData(&buffer, size);
}

// A stored frame that could not be read as a picture is not cached and so not
// removed by PutBinary; a new frame goes first whenever the stored tag has
// picture frames, so that it is the one read next time. A stored tag whose
// frames cannot be counted may hold some.
bool FramesRemain(tlx_id3_context* ctx, std::uint32_t frame_id) {
  return tagkit_frames::StoredFrameCount(ctx, frame_id) != 0;
}

// Whether a picture had better keep the read session's block of file bytes
// than a copy of its own: when its data lies there and is most of it. The
// session's end hands the block over (AdoptSessionBlock).
bool WorthKeeping(tlx_id3_context* ctx, const unsigned char* data, std::uint32_t size) {
  std::uint32_t length = 0;
  const unsigned char* block = tlx_id3_session_block(ctx, &length);
  if (block == nullptr || data < block || data > block + length) return false;
  return size <= static_cast<std::uint32_t>(block + length - data) && size >= length / 2;
}

}  // namespace

HRESULT CTagkit::GetBinary(std::int32_t id, PictureVector& values) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    if (!CheckBinaryPropertyID(id)) return E_TAG_UNSUPPORTED;
    std::map<std::int32_t, PictureVector>::const_iterator it = m_pictures.find(id);
    if (it == m_pictures.end()) return E_TAG_NO_VALUE;
    values = it->second;
    return S_OK;
  });
}

HRESULT CTagkit::PutBinary(std::int32_t id, const PictureVector& values) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    if (!CheckBinaryPropertyID(id)) return E_TAG_UNSUPPORTED;
    // A picture that cannot be written is refused before anything changes.
    if (!values.empty()) {
      if (!values[0]) return E_POINTER;
      if (static_cast<std::int64_t>(values[0]->Size()) + 6 +
              static_cast<std::int64_t>(values[0]->Mime().size()) >
          static_cast<std::int64_t>(tagkit_frames::MaxPayload(m_v2Version))) {
        return E_INVALIDARG;
      }
    }
    if (FAILED(V2EditBegin())) return E_FAIL;
    HRESULT hr = DeleteFrame(id);
    if (FAILED(hr)) return hr;
    m_pictures.erase(id);
    if (m_v2Version == TLX_ID3_V22) {
      hr = SetPIC(values);
    } else if (m_v2Version == TLX_ID3_V23 || m_v2Version == TLX_ID3_V24) {
      hr = SetAPIC(values);
    } else {
      hr = E_TAG_UNSUPPORTED;
    }
    if (FAILED(hr)) return hr;
    if (!values.empty()) {
      m_pictures[id] = values;
      m_addedFirst.insert(id);
    }
    return S_OK;
  });
}

HRESULT CTagkit::GetBinaryInternal(std::int32_t id, PictureVector& values) {
  if (!m_isOpen) return E_UNEXPECTED;
  if (!CheckBinaryPropertyID(id)) return E_TAG_UNSUPPORTED;
  values.clear();
  if (m_v2Version == TLX_ID3_V22) return GetPIC(values);
  if (m_v2Version == TLX_ID3_V23 || m_v2Version == TLX_ID3_V24) return GetAPIC(values);
  return E_TAG_UNSUPPORTED;
}

// The first picture frame, copied from where the engine lends it.
HRESULT CTagkit::GetAPIC(PictureVector& values) {
  std::uint32_t frameId = 0;
  HRESULT hr = ToFrameId(PROPID_PICTURE, frameId);
  if (FAILED(hr)) return hr;
  std::uint32_t size = 0;
  const unsigned char* data = nullptr;
  hr = GetV2Data(frameId, 0, data, size);
  if (FAILED(hr)) return hr;
  if (size > 0x7FFFFFFFu) return E_FAIL;
  boost::shared_ptr<CPicture> picture = boost::make_shared<CPicture>();
  hr = picture->ReadFrame(data, static_cast<std::int32_t>(size), m_v2Version == TLX_ID3_V22,
                          V24Enabled(), WorthKeeping(Context(), data, size));
  if (FAILED(hr)) return hr;
  values.push_back(picture);
  return S_OK;
}

HRESULT CTagkit::GetPIC(PictureVector& values) { return GetAPIC(values); }

// encoding 0, MIME type, zero, picture type, empty description (zero), data
HRESULT CTagkit::SetAPIC(const PictureVector& values) {
  if (values.empty()) return S_OK;
  if (!values[0]) return E_POINTER;
  std::uint32_t frameId = 0;
  HRESULT hr = ToFrameId(PROPID_PICTURE, frameId);
  if (FAILED(hr)) return hr;
  CPicture& picture = *values[0];
  std::wstring wideMime;
  hr = picture.GetMime(wideMime);
  if (FAILED(hr)) return hr;
  std::string mime = tagkit_internal::WideToNarrow(wideMime);
  std::int64_t length = static_cast<std::int64_t>(picture.Size()) +
                        static_cast<std::int64_t>(mime.size()) + 4;
  if (length > static_cast<std::int64_t>(tagkit_frames::MaxPayload(m_v2Version))) {
    return E_INVALIDARG;
  }
  boost::shared_array<unsigned char> payload(
      new unsigned char[static_cast<std::size_t>(length)]());
  std::memcpy(payload.get() + 1, mime.data(), mime.size());
  payload[mime.size() + 2] = kFrontCover;
  hr = CopyPictureData(picture, payload.get() + mime.size() + 4);
  if (FAILED(hr)) return hr;
  return tagkit_frames::AddFrame(Context(), m_v2Version, frameId, payload.get(), length,
                                 FramesRemain(Context(), frameId));
}

// encoding 0, image format "JPG"/"PNG" (or three zeros), picture type, empty
// description (zero), data
HRESULT CTagkit::SetPIC(const PictureVector& values) {
  if (values.empty()) return S_OK;
  if (!values[0]) return E_POINTER;
  std::uint32_t frameId = 0;
  HRESULT hr = ToFrameId(PROPID_PICTURE, frameId);
  if (FAILED(hr)) return hr;
  CPicture& picture = *values[0];
  std::int64_t length = static_cast<std::int64_t>(picture.Size()) + 6;
  if (length > static_cast<std::int64_t>(tagkit_frames::MaxPayload(m_v2Version))) {
    return E_INVALIDARG;
  }
  boost::shared_array<unsigned char> payload(
      new unsigned char[static_cast<std::size_t>(length)]());
  std::wstring mime;
  hr = picture.GetMime(mime);
  if (FAILED(hr)) return hr;
  if (mime == L"image/jpeg") {
    std::memcpy(payload.get() + 1, "JPG", 3);
  } else if (mime == L"image/png") {
    std::memcpy(payload.get() + 1, "PNG", 3);
  }
  payload[4] = kFrontCover;
  hr = CopyPictureData(picture, payload.get() + 6);
  if (FAILED(hr)) return hr;
  return tagkit_frames::AddFrame(Context(), m_v2Version, frameId, payload.get(), length,
                                 FramesRemain(Context(), frameId));
}
