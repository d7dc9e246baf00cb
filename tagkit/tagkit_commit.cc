// Writing text and URL properties into the editing transaction, and the
// commit that Close runs: the new ID3v2 tag through the engine's rewrite,
// with the ID3v1 trailer's fields staged into the same new file.
#include <cstdlib>
#include <cstring>
#include <new>

#include "id3_internal.h"
#include "tagkit_internal.h"

using namespace tagkit_internal;

namespace {

constexpr std::size_t kV1TextWidth = 30;

tlx_id3_v2_frame_header PlainFrameHeader(std::uint32_t frameId, std::size_t size) {
  tlx_id3_v2_frame_header header;
  std::memset(&header, 0, sizeof(header));
  header.id = frameId;
  header.size = static_cast<std::uint32_t>(size);
  return header;
}

// The field as the trailer stores it: exactly 30 bytes, zero-filled.
std::string V1Field(std::string text) {
  text.resize(kV1TextWidth, '\0');
  return text;
}

// The longest leading part of text whose code-page form fits an ID3v1
// field, so that a multi-byte character is never cut in two.
std::string V1Text(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = 1;
    if (sizeof(wchar_t) == 2 && i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      n = 2;  // a surrogate pair is one character
    }
    const std::string piece = WideToNarrow(text.substr(i, n));
    if (out.size() + piece.size() > kV1TextWidth) break;
    out += piece;
    i += n;
  }
  return out;
}

}  // namespace

HRESULT CTagkit::PutString(std::int32_t id, const std::vector<std::wstring>& values) {
  return tagkit_internal::Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    if (!CheckStringPropertyID(id)) return E_TAG_UNSUPPORTED;
    HRESULT hr = V2EditBegin();
    if (FAILED(hr)) return hr;
    hr = DeleteFrame(id);
    if (FAILED(hr)) return hr;
    m_strings.erase(id);
    hr = id == PROPID_ARTIST_URL ? SetUrlV2(id, values) : SetTextV2(id, values);
    if (FAILED(hr)) return hr;
    SetV1(id, values);
    if (!values.empty()) m_strings[id] = values;
    return S_OK;
  });
}

HRESULT CTagkit::V2EditBegin() {
  if (m_isEditing) return S_OK;
  // A file opened for reading is shared with other readers and must not be
  // rewritten behind their backs.
  if (!m_isOpen || Context()->mode != TLX_ID3_MODE_WRITE) return E_FAIL;
  // A tag of another version (ID3v2.4) is read as absent; writing would put
  // a second tag in front of it, so such files are not edited at all.
  tlx_id3_v2_header header;
  std::memset(&header, 0, sizeof(header));
  // The transaction copies every stored frame: one read of the tag serves it.
  tlx_id3_read_session_begin(Context());
  const bool unsupported = tlx_id3_v2_get_header(Context(), &header) == TLX_ID3_E_UNSUPPORTED;
  const std::int32_t begun = unsupported ? TLX_ID3_E_UNSUPPORTED : tlx_id3_v2_edit_begin(Context());
  tlx_id3_read_session_end(Context());
  if (unsupported) return E_TAG_UNSUPPORTED;
  if (begun == TLX_ID3_E_CORRUPT) return E_TAG_DAMAGED;
  if (begun != TLX_ID3_OK) return E_FAIL;
  m_isEditing = true;
  RecordStoredFrames();
  return S_OK;
}

// Removes the property's frames from the transaction. The frames are counted
// in the transaction itself, not in the stored file, so that a second put of
// the same property before the commit replaces the first one's frame instead
// of adding a duplicate or failing.
HRESULT CTagkit::DeleteFrame(std::int32_t id) {
  std::uint32_t frameId = 0;
  const HRESULT hr = ToFrameId(id, frameId);
  if (FAILED(hr)) return hr;
  // A frame added by an earlier put is replaced alone: the stored frames
  // behind it were kept for a reason that still holds.
  if (m_addedFirst.count(id) != 0) {
    const std::int32_t rc = tlx_id3_v2_remove_frame(Context(), frameId, 0);
    if (rc != TLX_ID3_OK && rc != TLX_ID3_E_NOT_FOUND) return E_FAIL;
    m_addedFirst.erase(id);
    return S_OK;
  }
  // A binary frame that could not be read is not known to be ours, so it is
  // kept; a text frame that could not be decoded is still the old value of
  // the property being replaced.
  if (!CheckStringPropertyID(id) && m_strings.count(id) == 0 && m_pictures.count(id) == 0 &&
      m_musicIds.count(id) == 0 && m_geobs.count(id) == 0) {
    return S_OK;
  }
  for (;;) {
    const std::int32_t rc = tlx_id3_v2_remove_frame(Context(), frameId, 0);
    if (rc == TLX_ID3_E_NOT_FOUND) return S_OK;
    if (rc != TLX_ID3_OK) return E_FAIL;
  }
}

HRESULT CTagkit::SetTextV2(std::int32_t id, const std::vector<std::wstring>& values) {
  if (values.empty()) return S_OK;
  std::uint32_t frameId = 0;
  const HRESULT hr = ToFrameId(id, frameId);
  if (FAILED(hr)) return hr;
  // ID3v2.4 writes the ID3v1 genre number bare: "(17)" becomes "17".
  const std::wstring& text = values[0];
  if (id == PROPID_GENRE && m_v2Version == TLX_ID3_V24 && text.size() > 2 && text.front() == L'(' &&
      text.back() == L')' &&
      text.find_first_not_of(L"0123456789", 1) == text.size() - 1) {
    return SetV2Data(frameId, text.substr(1, text.size() - 2), false);
  }
  return SetV2Data(frameId, text, needsUnicode(id, text));
}

HRESULT CTagkit::SetUrlV2(std::int32_t id, const std::vector<std::wstring>& values) {
  if (values.empty()) return S_OK;
  std::uint32_t frameId = 0;
  const HRESULT hr = ToFrameId(id, frameId);
  if (FAILED(hr)) return hr;
  for (const std::wstring& url : values) {
    const std::string payload = WideToNarrow(url);
    // An empty link frame carries nothing, and readers drop frames of size 0.
    if (payload.empty()) continue;
    const tlx_id3_v2_frame_header header = PlainFrameHeader(frameId, payload.size());
    const unsigned char* data = reinterpret_cast<const unsigned char*>(payload.data());
    if (tlx_id3_v2_add_frame(Context(), &header, data) != TLX_ID3_OK) return E_FAIL;
  }
  return S_OK;
}

HRESULT CTagkit::SetV1(std::int32_t id, const std::vector<std::wstring>& values) {
  const std::string text = values.empty() ? std::string() : V1Text(values[0]);
  switch (id) {
    case PROPID_TRACK:
      m_v1Track = static_cast<std::uint8_t>(std::strtol(text.c_str(), nullptr, 10) & 0xFF);
      m_v1TrackPending = true;
      break;
    case PROPID_TITLE:
      m_v1Title = text;
      m_v1TitlePending = true;
      break;
    case PROPID_GENRE:
      m_v1Genre = values.empty() ? kNoGenre : getNumericalGenre(values[0]);
      m_v1GenrePending = true;
      break;
    case PROPID_ALBUM:
      m_v1Album = text;
      m_v1AlbumPending = true;
      break;
    case PROPID_ARTIST:
      m_v1Artist = text;
      m_v1ArtistPending = true;
      break;
    default:
      break;
  }
  return S_OK;
}

HRESULT CTagkit::SetV2Data(std::uint32_t frameId, const std::wstring& text, bool unicode) {
  std::vector<unsigned char> payload;
  std::string utf8;
  // ID3v2.4 text is UTF-8, unless it holds a lone surrogate, which only
  // UTF-16 carries unchanged.
  if (unicode && m_v2Version == TLX_ID3_V24 && WideToUtf8(text, utf8)) {
    payload.reserve(utf8.size() + 2);
    payload.push_back(3);
    payload.insert(payload.end(), utf8.begin(), utf8.end());
    payload.push_back(0);
  } else if (unicode) {
    const std::vector<unsigned char> units = WideToUtf16Le(text);
    payload.reserve(units.size() + 5);
    payload.push_back(1);
    payload.push_back(0xFF);
    payload.push_back(0xFE);
    payload.insert(payload.end(), units.begin(), units.end());
    payload.push_back(0);
    payload.push_back(0);
  } else {
    const std::string narrow = WideToNarrow(text);
    payload.reserve(narrow.size() + 2);
    payload.push_back(0);
    payload.insert(payload.end(), narrow.begin(), narrow.end());
    payload.push_back(0);
  }
  const tlx_id3_v2_frame_header header = PlainFrameHeader(frameId, payload.size());
  if (tlx_id3_v2_add_frame(Context(), &header, payload.data()) != TLX_ID3_OK) return E_FAIL;
  return S_OK;
}

HRESULT CTagkit::Update() {
  if (!m_isEditing) return E_FAIL;
  HRESULT hr = updateFrame();
  if (FAILED(hr)) return hr;
  if (m_v2Version == TLX_ID3_V23) {
    // The extended header's padding size and CRC would no longer match the
    // rewritten tag. A file without a complete tag header (empty, or shorter
    // than one) has none to remove.
    tlx_id3_v2_header header;
    std::memset(&header, 0, sizeof(header));
    if (tlx_id3_v2_get_header(Context(), &header) == TLX_ID3_OK) {
      const std::int32_t rc = tlx_id3_v2_remove_extended_header(Context());
      if (rc != TLX_ID3_OK && rc != TLX_ID3_E_NOT_FOUND) return E_FAIL;
    }
  }
  // The title frame is written last and the ID3v1 title follows it, so that
  // both tags agree on the title after every commit. A stored title frame
  // that cannot be decoded (UTF-8, say) is left alone unless the caller put
  // a title: rewriting it from what could be read would lose it.
  bool keepStoredTitle = false;
  std::uint32_t titleId = 0;
  if (!m_v1TitlePending && SUCCEEDED(ToFrameId(PROPID_TITLE, titleId))) {
    std::wstring stored;
    const HRESULT read = GetV2Data2(titleId, stored);
    keepStoredTitle = FAILED(read) && read != E_TAG_NO_VALUE;
    // An ID3v2.4 title frame may hold several values, which a rewrite from
    // the first would drop: it stays, and the ID3v1 title follows it.
    if (SUCCEEDED(read) && m_v2Version == TLX_ID3_V24) {
      keepStoredTitle = true;
      SetV1(PROPID_TITLE, std::vector<std::wstring>(1, stored));
    }
  }
  std::vector<std::wstring> title;
  hr = GetString(PROPID_TITLE, title);
  if (keepStoredTitle) {
    // nothing to rewrite
  } else if (hr == E_TAG_NO_VALUE) {
    if (FAILED(PutString(PROPID_TITLE, std::vector<std::wstring>(1)))) return E_FAIL;
  } else if (FAILED(hr)) {
    return E_FAIL;
  } else if (!m_v1TitlePending) {
    if (FAILED(PutString(PROPID_TITLE, title))) return E_FAIL;
  }
  // What a put or this commit could not read may be missing from the new tag.
  if (tlx_id3_take_content_failure(Context()) != TLX_ID3_OK) return E_FAIL;
  // The trailer's fields are written into the new file before it replaces
  // the old one: both tags change in the same replacement, or neither.
  hr = UpdateV1();
  if (FAILED(hr)) return hr;
  if (tlx_id3_v2_edit_end(Context()) != TLX_ID3_OK) return E_FAIL;
  m_v1TitlePending = m_v1AlbumPending = m_v1GenrePending = m_v1ArtistPending = false;
  m_v1TrackPending = m_v1YearPending = false;
  m_v1Title.clear();
  m_v1Album.clear();
  m_v1Artist.clear();
  m_v1Genre = kNoGenre;
  m_v1Track = 0;
  m_v1Year = 0;
  m_isEditing = false;
  return S_OK;
}

// Stages the pending ID3v1 fields in the transaction, in a fixed order. The
// values stay pending until the commit succeeds; staging them again after a
// failed commit writes the same bytes.
HRESULT CTagkit::UpdateV1() {
  struct Stage {
    bool pending;
    std::int32_t field;
    const std::string* text;
    std::int32_t number;
  };
  const std::string title = V1Field(m_v1Title), album = V1Field(m_v1Album),
                    artist = V1Field(m_v1Artist);
  const Stage stages[] = {
      {m_v1TitlePending, TLX_ID3_V1_TITLE, &title, 0},
      {m_v1AlbumPending, TLX_ID3_V1_ALBUM, &album, 0},
      {m_v1GenrePending, TLX_ID3_V1_GENRE, nullptr, m_v1Genre},
      {m_v1ArtistPending, TLX_ID3_V1_ARTIST, &artist, 0},
      {m_v1TrackPending, TLX_ID3_V1_TRACK, nullptr, m_v1Track},
      {m_v1YearPending, TLX_ID3_V1_YEAR, nullptr, static_cast<std::int32_t>(m_v1Year)},
  };
  for (const Stage& stage : stages) {
    if (!stage.pending) continue;
    const char* text = stage.text != nullptr ? stage.text->c_str() : nullptr;
    if (tlx_id3_v1_stage(Context(), stage.field, text, stage.number) != TLX_ID3_OK) return E_FAIL;
  }
  return S_OK;
}
