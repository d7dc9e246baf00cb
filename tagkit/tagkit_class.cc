// The object's life: construction and copies, Open with the loading of every
// property into the caches, Close with the commit, and Clear.
#include <cstring>
#include <new>

#include "id3_internal.h"
#include "tagkit_internal.h"

using namespace tagkit_internal;

CTagkit::CTagkit()
    : m_isOpen(false),
      m_isEditing(false),
      m_v2Version(TLX_ID3_VERSION_OTHER),
      m_v1TitlePending(false),
      m_v1ArtistPending(false),
      m_v1AlbumPending(false),
      m_v1Genre(0),
      m_v1GenrePending(false),
      m_v1Track(0),
      m_v1TrackPending(false),
      m_v1Year(0),
      m_v1YearPending(false),
      m_releasedDateTime(TAGKIT_NO_DATE),
      m_foreignMusicId(false) {
  std::memset(m_context, 0, sizeof(m_context));
  initOwnerId();
}

CTagkit::CTagkit(const CTagkit& other) : CTagkit() { CopyClosedState(other); }

CTagkit& CTagkit::operator=(const CTagkit& other) {
  if (this != &other) {
    Clear();
    CopyClosedState(other);
  }
  return *this;
}

CTagkit::~CTagkit() { Clear(); }

// Two objects must never hold one engine context: each would close the file
// and free the engine's memory. The copy therefore takes everything but the
// context from a closed source, and nothing at all from an open one, whose
// caches and pending changes belong to its file.
void CTagkit::CopyClosedState(const CTagkit& other) {
  if (other.m_isOpen) return;
  m_v2Version = other.m_v2Version;
  m_v1Title = other.m_v1Title;
  m_v1TitlePending = other.m_v1TitlePending;
  m_v1Artist = other.m_v1Artist;
  m_v1ArtistPending = other.m_v1ArtistPending;
  m_v1Album = other.m_v1Album;
  m_v1AlbumPending = other.m_v1AlbumPending;
  m_v1Genre = other.m_v1Genre;
  m_v1GenrePending = other.m_v1GenrePending;
  m_v1Track = other.m_v1Track;
  m_v1TrackPending = other.m_v1TrackPending;
  m_v1Year = other.m_v1Year;
  m_v1YearPending = other.m_v1YearPending;
  m_releasedDateTime = other.m_releasedDateTime;
  m_strings = other.m_strings;
  m_pictures = other.m_pictures;
  m_musicIds = other.m_musicIds;
  m_geobs = other.m_geobs;
  m_ownerId = other.m_ownerId;
  m_foreignMusicId = other.m_foreignMusicId;
}

tlx_id3_context* CTagkit::Context() {
  static_assert(sizeof(tlx_id3_context) <= kContextSize, "engine context outgrew its room");
  static_assert(alignof(tlx_id3_context) <= 8, "engine context needs stronger alignment");
  return reinterpret_cast<tlx_id3_context*>(m_context);
}

HRESULT CTagkit::Open(const std::wstring& path, std::int32_t mode) {
  if (m_isOpen) return E_TAG_CANNOT_OPEN;
  const std::int32_t access = mode & ~(TAGKIT_OPEN_V24 | TAGKIT_OPEN_SPLIT_LINKS);
  if (access != TAGKIT_OPEN_READ && access != TAGKIT_OPEN_WRITE) return E_INVALIDARG;
  const std::int32_t engineMode =
      access == TAGKIT_OPEN_READ ? TLX_ID3_MODE_READ : TLX_ID3_MODE_WRITE;
  std::uint32_t options = 0;
  if (mode & TAGKIT_OPEN_V24) options |= TLX_ID3_OPTION_V24;
  if (mode & TAGKIT_OPEN_SPLIT_LINKS) options |= TLX_ID3_OPTION_SPLIT_LINKS;
  std::int32_t rc = tlx_id3_create_context(path.c_str(), engineMode, nullptr, Context());
  if (rc == TLX_ID3_OK && tlx_id3_set_options(Context(), options) != TLX_ID3_OK) {
    tlx_id3_destroy_context(Context());
    return E_FAIL;
  }
  if (rc == TLX_ID3_OK) {
    m_isOpen = true;
    // Every property is loaded now: one read of the tag serves them all.
    tlx_id3_read_session_begin(Context());
    HRESULT hr = GetV2version(m_v2Version);
    if (SUCCEEDED(hr)) hr = GetAllProperty();
    tlx_id3_read_session_end(Context());
    if (SUCCEEDED(hr)) return S_OK;
    Close();
    return hr;
  }
  if (rc == TLX_ID3_E_OPEN) return E_TAG_CANNOT_OPEN;
  if (rc == TLX_ID3_E_NOT_FOUND) return E_TAG_FILE_NOT_FOUND;
  return E_FAIL;
}

HRESULT CTagkit::Close() {
  HRESULT hr = S_OK;
  if (m_isEditing) {
    // The commit reads the stored tag again to copy its frames: from memory.
    tlx_id3_read_session_begin(Context());
    hr = Update();
    tlx_id3_read_session_end(Context());
    m_isEditing = false;
  }
  Clear();
  return hr;
}

HRESULT CTagkit::Clear() {
  m_isEditing = false;
  if (m_isOpen) {
    tlx_id3_destroy_context(Context());
    m_isOpen = false;
  }
  m_v1Title.clear();
  m_v1TitlePending = false;
  m_v1Artist.clear();
  m_v1ArtistPending = false;
  m_v1Album.clear();
  m_v1AlbumPending = false;
  m_releasedDateTime = TAGKIT_NO_DATE;
  m_v1Genre = kNoGenre;
  m_v1GenrePending = false;
  m_v1Track = 0;
  m_v1TrackPending = false;
  m_v1Year = 0;
  m_v1YearPending = false;
  m_v2Version = TLX_ID3_VERSION_OTHER;
  m_pictures.clear();
  m_strings.clear();
  initOwnerId();
  m_musicIds.clear();
  m_geobs.clear();
  m_addedFirst.clear();
  return S_OK;
}

HRESULT CTagkit::GetV2version(std::int32_t& version) {
  tlx_id3_v2_header header;
  std::memset(&header, 0, sizeof(header));
  header.version = TLX_ID3_VERSION_OTHER;
  if (tlx_id3_v2_get_header2(Context(), &header) != TLX_ID3_OK) return E_FAIL;
  version = header.version;
  return S_OK;
}

HRESULT CTagkit::GetAllProperty() {
  if (!m_isOpen) return E_UNEXPECTED;
  for (std::size_t i = 0; i < kFrameTableSize; ++i) {
    const std::int32_t id = kFrameTable[i].property;
    if (CheckBinaryPropertyID(id)) {
      PictureVector pictures;
      if (GetBinaryInternal(id, pictures) == S_OK) m_pictures.insert(std::make_pair(id, pictures));
    } else if (id == PROPID_MUSIC_ID) {
      MusicIdVector ids;
      if (GetMusicIdInternal(id, ids) == S_OK) m_musicIds.insert(std::make_pair(id, ids));
    } else if (id == PROPID_OBJECT_MTDID || id == PROPID_OBJECT_QZVLX) {
      GeobVector objects;
      int index = -1;
      if (GetGeobInternal(id, objects, index) == S_OK) m_geobs.insert(std::make_pair(id, objects));
    } else {
      std::vector<std::wstring> values;
      if (GetStringInternal(id, values) == S_OK) m_strings.insert(std::make_pair(id, values));
    }
  }
  double date = TAGKIT_NO_DATE;
  GetDateInternal(PROPID_RELEASE_DATE, date);
  return S_OK;
}
