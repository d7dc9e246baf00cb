// The two encapsulated objects share the GEOB (ID3v2.2 GEO) frame and are
// told apart by content description. PutGeob changes only the cache; every
// commit drops the frames of the two kinds and writes one per cached
// property. Other applications' objects stay as they are.
#include <new>

#include <boost/make_shared.hpp>

#include "tagkit.h"
#include "tagkit_frame_edit.h"
#include "tagkit_internal.h"
#include "tlx_id3.h"

namespace {

struct TaskMemHolder {
  unsigned char* block = nullptr;
  ~TaskMemHolder() { CoTaskMemFree(block); }
};

bool IsGeobProperty(std::int32_t id) {
  return id == PROPID_OBJECT_MTDID || id == PROPID_OBJECT_QZVLX;
}

}  // namespace

HRESULT CTagkit::GetGeob(std::int32_t id, GeobVector& values) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    std::map<std::int32_t, GeobVector>::const_iterator it = m_geobs.find(id);
    if (it == m_geobs.end()) return E_TAG_NO_VALUE;
    values = it->second;
    return S_OK;
  });
}

HRESULT CTagkit::PutGeob(std::int32_t id, const GeobVector& values) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    // Refused here rather than at the commit, where an unknown identifier or a
    // null object would make Close fail and drop every other change.
    if (!IsGeobProperty(id)) return E_TAG_UNSUPPORTED;
    if (!values.empty()) {
      if (!values[0]) return E_POINTER;
      // Description and MIME type written at the commit are at most 17 bytes.
      if (static_cast<std::int64_t>(values[0]->GetDataSize()) + 4 + 9 + 17 >
          static_cast<std::int64_t>(tagkit_frames::MaxPayload(m_v2Version))) {
        return E_INVALIDARG;
      }
    }
    HRESULT hr = V2EditBegin();
    if (FAILED(hr)) return hr;
    m_geobs.erase(id);
    if (values.empty()) return S_OK;
    m_geobs[id] = values;
    return S_OK;
  });
}

// Both kinds in one walk over the encapsulated-object frames: each kind gets
// the first frame with its description, and the result it would get alone
// (E_TAG_NO_VALUE without frames, S_FALSE when none matches, the failure of
// a malformed frame before its own, E_FAIL when reading fails).
HRESULT CTagkit::GetGeobsInternal(const std::int32_t (&ids)[2], GeobVector (&values)[2],
                                  HRESULT (&results)[2]) {
  if (!m_isOpen) return E_UNEXPECTED;
  std::uint32_t frameId = 0;
  HRESULT hr = ToFrameId(ids[0], frameId);
  if (FAILED(hr)) return hr;
  std::wstring expected[2];
  for (int k = 0; k < 2; ++k) {
    values[k].clear();
    results[k] = E_TAG_NO_VALUE;
    hr = GetDescriptionFromId(ids[k], expected[k]);
    if (FAILED(hr)) return hr;
  }
  bool found[2] = {false, false};
  // Sets the result of every kind still looking.
  auto failAll = [&](HRESULT failure) {
    for (int k = 0; k < 2; ++k) {
      if (!found[k]) results[k] = failure;
    }
  };
  for (std::uint32_t i = 0; !(found[0] && found[1]); ++i) {
    const unsigned char* payload = nullptr;
    std::uint32_t size = 0;
    const std::int32_t rc = tlx_id3_v2_lend_frame_data(Context(), frameId, i, &payload, &size);
    if (rc == TLX_ID3_E_NOT_FOUND) break;
    // A frame larger than its tag is damage: skipped like a malformed one.
    if (rc == TLX_ID3_E_CORRUPT) {
      failAll(E_FAIL);
      continue;
    }
    if (rc != TLX_ID3_OK) {
      failAll(E_FAIL);
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (!found[k] && results[k] == E_TAG_NO_VALUE) results[k] = S_FALSE;
    }
    boost::shared_ptr<CGeob> geob = boost::make_shared<CGeob>();
    hr = geob->ParseFrame(payload, static_cast<std::int32_t>(size), V24Enabled());
    if (hr == E_OUTOFMEMORY) return hr;
    // A malformed frame of someone else must not hide ours behind it: the
    // commit drops every encapsulated-object frame, ours would be lost.
    if (FAILED(hr)) {
      failAll(hr);
      continue;
    }
    for (int k = 0; k < 2; ++k) {
      if (found[k] || geob->m_description != expected[k]) continue;
      values[k].push_back(geob);
      results[k] = S_OK;
      found[k] = true;
      break;
    }
  }
  return S_OK;
}

HRESULT CTagkit::deleteGeob() {
  HRESULT hr = V2EditBegin();
  if (FAILED(hr)) return hr;
  std::uint32_t frameId = 0;
  hr = ToFrameId(PROPID_OBJECT_MTDID, frameId);
  if (FAILED(hr)) return hr;
  const std::uint32_t v23Id = TLX_ID3_FRAME_ID('G', 'E', 'O', 'B');
  for (const std::int32_t property : {PROPID_OBJECT_MTDID, PROPID_OBJECT_QZVLX}) {
    std::wstring description;
    hr = GetDescriptionFromId(property, description);
    if (SUCCEEDED(hr)) hr = RemoveDescribed(frameId, v23Id, description);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CTagkit::updateGeob() {
  if (!m_isOpen) return E_UNEXPECTED;
  HRESULT hr = V2EditBegin();
  if (FAILED(hr)) return hr;
  hr = deleteGeob();
  if (FAILED(hr)) return hr;

  for (std::map<std::int32_t, GeobVector>::const_iterator it = m_geobs.begin();
       it != m_geobs.end(); ++it) {
    std::uint32_t frameId = 0;
    hr = ToFrameId(it->first, frameId);
    if (FAILED(hr)) return hr;
    if (it->second.empty()) continue;
    const boost::shared_ptr<CGeob>& geob = it->second[0];
    if (!geob) return E_POINTER;
    // The property decides description and MIME type, also in the caller's
    // object, which shares this one.
    std::wstring description;
    hr = GetDescriptionFromId(it->first, description);
    if (FAILED(hr)) return hr;
    std::string mimeType;
    hr = GetMimeTypeFromId(it->first, mimeType);
    if (FAILED(hr)) return hr;
    hr = geob->SetDescription(description);
    if (SUCCEEDED(hr)) hr = geob->SetMimeType(mimeType);
    if (FAILED(hr)) return hr;

    TaskMemHolder payload;
    std::int32_t length = 0;
    hr = geob->GetFrameData(&payload.block, length);
    if (FAILED(hr)) return hr;
    hr = tagkit_frames::AddFrame(Context(), m_v2Version, frameId, payload.block, length, false);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CTagkit::updateFrame() { return updateGeob(); }
