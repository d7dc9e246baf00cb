// The music identifier: the unique-file-identifier frame (UFID, ID3v2.2 UFI)
// owned by the music-recognition service. Frames of other owners are never
// changed, and the first frame being one of them blocks writing.
#include <new>

#include <boost/make_shared.hpp>

#include "tagkit.h"
#include "tagkit_frame_edit.h"
#include "tagkit_internal.h"
#include "tlx_id3.h"

namespace {

// The recognition service's page about its identifier tags; frames carrying
// it as owner are this library's to read and replace.
const char kServiceOwnerId[] = "http://www.vrelkmusic.com/tag";
static_assert(sizeof kServiceOwnerId - 1 == 29, "owner identifier is 29 characters");

// Frees a CoTaskMemAlloc buffer on every path.
struct TaskMemHolder {
  unsigned char* block = nullptr;
  ~TaskMemHolder() { CoTaskMemFree(block); }
};

}  // namespace

void CTagkit::initOwnerId() { m_foreignMusicId = false; }

HRESULT CTagkit::GetMusicId(MusicIdVector& values) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    std::map<std::int32_t, MusicIdVector>::const_iterator it = m_musicIds.find(PROPID_MUSIC_ID);
    if (it == m_musicIds.end()) return E_TAG_NO_VALUE;
    values = it->second;
    return S_OK;
  });
}

HRESULT CTagkit::PutMusicId(const MusicIdVector& values) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    if (m_foreignMusicId) return E_TAG_FOREIGN_MUSIC_ID;

    // The payload is built first: an unusable value changes nothing.
    TaskMemHolder payload;
    std::int32_t length = 0;
    if (!values.empty()) {
      if (!values[0]) return E_POINTER;
      std::string owner;
      HRESULT hr = values[0]->GetOwnerId(owner);
      if (SUCCEEDED(hr) && owner.empty()) hr = values[0]->SetOwnerId(kServiceOwnerId);
      if (SUCCEEDED(hr)) hr = values[0]->GetFrameData(&payload.block, length);
      if (FAILED(hr)) return hr;
    }

    HRESULT hr = V2EditBegin();
    if (FAILED(hr)) return hr;
    hr = DeleteFrame(PROPID_MUSIC_ID);
    if (FAILED(hr)) return hr;
    m_musicIds.erase(PROPID_MUSIC_ID);
    if (values.empty()) return S_OK;

    std::uint32_t frameId = 0;
    hr = ToFrameId(PROPID_MUSIC_ID, frameId);
    if (FAILED(hr)) return hr;
    // Stored frames that were kept (unreadable ones) stay; the new frame goes
    // before them so that it is the one read next time (also when the stored
    // frames cannot be counted).
    bool atHead = tagkit_frames::StoredFrameCount(Context(), frameId) != 0;
    hr = tagkit_frames::AddFrame(Context(), m_v2Version, frameId, payload.block, length, atHead);
    if (FAILED(hr)) return hr;
    m_musicIds[PROPID_MUSIC_ID] = values;
    m_addedFirst.insert(PROPID_MUSIC_ID);
    return S_OK;
  });
}

HRESULT CTagkit::GetMusicIdInternal(std::int32_t id, MusicIdVector& values) {
  if (!m_isOpen) return E_UNEXPECTED;
  if (id != PROPID_MUSIC_ID) return E_TAG_UNSUPPORTED;
  values.clear();
  initOwnerId();

  std::uint32_t frameId = 0;
  HRESULT hr = ToFrameId(id, frameId);
  if (FAILED(hr)) return hr;
  std::uint32_t size = 0;
  const unsigned char* data = nullptr;
  hr = GetV2Data(frameId, 0, data, size);
  if (FAILED(hr)) return hr;
  if (size == 0) return E_TAG_NO_VALUE;
  if (size > 0x7FFFFFFFu) return E_FAIL;

  boost::shared_ptr<CMusicId> musicId = boost::make_shared<CMusicId>();
  hr = musicId->ParseFrameData(data, static_cast<std::int32_t>(size));
  if (FAILED(hr)) return hr;
  std::string owner;
  hr = musicId->GetOwnerId(owner);
  if (FAILED(hr)) return hr;
  if (owner != kServiceOwnerId) {
    m_foreignMusicId = true;
    return S_FALSE;
  }
  values.push_back(musicId);
  return S_OK;
}
