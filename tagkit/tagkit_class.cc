// The object's life: construction and copies, Open with the loading of every
// property into the caches, Close with the commit, and Clear.
#include <cstring>
#include <new>

#include "id3_internal.h"
#include "tagkit_internal.h"

using namespace tagkit_internal;

namespace {

HRESULT OpenFailure(std::int32_t rc) {
  if (rc == TLX_ID3_E_NOMEM || tlx_last_failure() == TLX_FAILURE_NOMEM) return E_OUTOFMEMORY;
  if (rc == TLX_ID3_E_OPEN) return E_TAG_CANNOT_OPEN;
  if (rc == TLX_ID3_E_NOT_FOUND) return E_TAG_FILE_NOT_FOUND;
  return E_FAIL;
}

// What could not be read would count as absent, and the commit would drop
// or rebuild it: a file whose reading failed part way is not opened.
HRESULT LoadFailure(tlx_id3_context* ctx) {
  switch (tlx_id3_take_content_failure(ctx)) {
    case TLX_ID3_OK:
      return S_OK;
    case TLX_ID3_E_NOMEM:
      return E_OUTOFMEMORY;
    default:
      return E_FAIL;
  }
}

}  // namespace

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
      m_foreignMusicId(false),
      m_storedFramesKnown(false) {
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
  // Constructors and assignment have no result code: a copy that runs out of
  // memory is left closed and empty.
  if (FAILED(Guarded([&] { return CopyCaches(other); }))) Clear();
}

HRESULT CTagkit::CopyCaches(const CTagkit& other) {
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
  m_foreignMusicId = other.m_foreignMusicId;
  return S_OK;
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
  const HRESULT hr = Guarded([&]() -> HRESULT {
    const std::int32_t rc = tlx_id3_create_context(path.c_str(), engineMode, nullptr, Context());
    if (rc != TLX_ID3_OK) return OpenFailure(rc);
    m_isOpen = true;
    if (tlx_id3_set_options(Context(), options) != TLX_ID3_OK) return E_FAIL;
    // Every property is loaded now: one read of the tag serves them all.
    tlx_id3_read_session_begin(Context());
    HRESULT loaded = GetV2version(m_v2Version);
    if (SUCCEEDED(loaded)) loaded = GetAllProperty();
    // A picture read in place keeps the session's block of file bytes.
    unsigned char* block = tlx_id3_read_session_end_keep(Context());
    for (auto& entry : m_pictures) {
      const HRESULT kept = CPicture::KeepBlock(entry.second, block);
      if (FAILED(kept) && SUCCEEDED(loaded)) loaded = kept;
    }
    tlx_sqa_free(block);
    return FAILED(loaded) ? loaded : LoadFailure(Context());
  });
  // Also after an exception half way through loading.
  if (FAILED(hr)) Clear();
  return hr;
}

HRESULT CTagkit::Close() {
  HRESULT hr = S_OK;
  if (m_isEditing) {
    // The commit reads the stored tag again to copy its frames: from memory.
    tlx_id3_read_session_begin(Context());
    hr = Guarded([this] { return Update(); });
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
  m_storedFrames.clear();
  m_storedFramesKnown = false;
  return S_OK;
}

HRESULT CTagkit::GetFileEnds(FileEnds& ends) {
  if (!m_isOpen) return E_UNEXPECTED;
  tlx_id3_file_ends read;
  if (tlx_id3_get_file_ends(Context(), &read) != TLX_ID3_OK) return E_FAIL;
  std::memcpy(ends.head, read.head, sizeof ends.head);
  ends.headSize = static_cast<std::int32_t>(read.head_size);
  std::memcpy(ends.trailer, read.trailer, sizeof ends.trailer);
  ends.hasTrailer = read.has_trailer != 0;
  ends.fileSize = read.file_size;
  return S_OK;
}

HRESULT CTagkit::GetV2version(std::int32_t& version) {
  tlx_id3_v2_header header;
  std::memset(&header, 0, sizeof(header));
  header.version = TLX_ID3_VERSION_OTHER;
  if (tlx_id3_v2_get_header2(Context(), &header) != TLX_ID3_OK) {
    // A header that cannot be read is no missing tag: say why.
    const HRESULT failure = LoadFailure(Context());
    return FAILED(failure) ? failure : E_FAIL;
  }
  version = header.version;
  return S_OK;
}

// A property that cannot be read (absent, malformed, an unknown encoding)
// is left out of the caches; only memory running out fails the load.
HRESULT CTagkit::GetAllProperty() {
  if (!m_isOpen) return E_UNEXPECTED;
  bool geobsRead = false;
  for (std::size_t i = 0; i < kFrameTableSize; ++i) {
    const std::int32_t id = kFrameTable[i].property;
    HRESULT hr;
    if (CheckBinaryPropertyID(id)) {
      PictureVector pictures;
      hr = GetBinaryInternal(id, pictures);
      if (hr == S_OK) m_pictures[id].swap(pictures);
    } else if (id == PROPID_MUSIC_ID) {
      MusicIdVector ids;
      hr = GetMusicIdInternal(id, ids);
      if (hr == S_OK) m_musicIds[id].swap(ids);
    } else if (id == PROPID_OBJECT_MTDID || id == PROPID_OBJECT_QZVLX) {
      // Both kinds share their frames: they are read together, once.
      if (geobsRead) continue;
      geobsRead = true;
      const std::int32_t ids[2] = {PROPID_OBJECT_MTDID, PROPID_OBJECT_QZVLX};
      GeobVector objects[2];
      HRESULT results[2];
      hr = GetGeobsInternal(ids, objects, results);
      for (int k = 0; k < 2 && hr == S_OK; ++k) {
        if (results[k] == S_OK) m_geobs[ids[k]].swap(objects[k]);
      }
    } else {
      std::vector<std::wstring> values;
      hr = GetStringInternal(id, values);
      if (hr == S_OK) m_strings[id].swap(values);
    }
    if (hr == E_OUTOFMEMORY) return hr;
  }
  double date = TAGKIT_NO_DATE;
  return GetDateInternal(PROPID_RELEASE_DATE, date) == E_OUTOFMEMORY ? E_OUTOFMEMORY : S_OK;
}
