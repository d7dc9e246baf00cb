// Property identifiers, the frames they map to, and the text conversions of
// the class layer.
#include <cstring>
#include <new>

#include "tagkit_internal.h"
#include "id3_internal.h"
#include "tlx_system.h"

namespace tagkit_internal {

#define FID TLX_ID3_FRAME_ID
const FrameRow kFrameTable[] = {
    {PROPID_TITLE, FID('T', 'T', '2', 0), FID('T', 'I', 'T', '2'), 1},
    {PROPID_TRACK, FID('T', 'R', 'K', 0), FID('T', 'R', 'C', 'K'), 0},
    {PROPID_ISRC, FID('T', 'R', 'C', 0), FID('T', 'S', 'R', 'C'), 1},
    {PROPID_GENRE, FID('T', 'C', 'O', 0), FID('T', 'C', 'O', 'N'), 1},
    {PROPID_COPYRIGHT, FID('T', 'C', 'R', 0), FID('T', 'C', 'O', 'P'), 1},
    {PROPID_ALBUM, FID('T', 'A', 'L', 0), FID('T', 'A', 'L', 'B'), 1},
    {PROPID_ARTIST, FID('T', 'P', '1', 0), FID('T', 'P', 'E', '1'), 1},
    {PROPID_ARTIST_URL, FID('W', 'A', 'R', 0), FID('W', 'O', 'A', 'R'), 0},
    {PROPID_COMPOSER, FID('T', 'C', 'M', 0), FID('T', 'C', 'O', 'M'), 1},
    {PROPID_PICTURE, FID('P', 'I', 'C', 0), FID('A', 'P', 'I', 'C'), 0},
    {PROPID_MUSIC_ID, FID('U', 'F', 'I', 0), FID('U', 'F', 'I', 'D'), 0},
    {PROPID_OBJECT_MTDID, FID('G', 'E', 'O', 0), FID('G', 'E', 'O', 'B'), 0},
    {PROPID_OBJECT_QZVLX, FID('G', 'E', 'O', 0), FID('G', 'E', 'O', 'B'), 0},
};
const std::size_t kFrameTableSize = sizeof(kFrameTable) / sizeof(kFrameTable[0]);

namespace {

// The system's conversions never fail on text of sane length but for want of
// memory; their 0 must not pass for empty text.
std::int32_t Converted(std::int32_t count) {
  if (count <= 0) throw std::bad_alloc();
  return count;
}

const FrameRow* FindRow(std::int32_t property) {
  for (std::size_t i = 0; i < kFrameTableSize; ++i) {
    if (kFrameTable[i].property == property) return &kFrameTable[i];
  }
  return nullptr;
}

// The two kinds of encapsulated object.
struct GeobKind {
  std::int32_t property;
  std::int32_t kind;
};
const GeobKind kGeobKinds[] = {{PROPID_OBJECT_MTDID, 1}, {PROPID_OBJECT_QZVLX, 2}};

}  // namespace

std::wstring NarrowToWide(const char* text, std::size_t length) {
  if (text == nullptr) return std::wstring();
  const void* zero = std::memchr(text, 0, length);
  if (zero != nullptr) length = static_cast<const char*>(zero) - text;
  if (length == 0) return std::wstring();
  const std::int32_t count = static_cast<std::int32_t>(length);
  const std::int32_t needed = Converted(tlx_multibyte_to_wide(text, count, nullptr, 0));
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  out.resize(static_cast<std::size_t>(Converted(tlx_multibyte_to_wide(text, count, &out[0], needed))));
  return out;
}

std::string WideToNarrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const std::int32_t count = static_cast<std::int32_t>(text.size());
  const std::int32_t needed = Converted(tlx_wide_to_multibyte(text.data(), count, nullptr, 0));
  std::string out(static_cast<std::size_t>(needed), '\0');
  out.resize(static_cast<std::size_t>(Converted(tlx_wide_to_multibyte(text.data(), count, &out[0], needed))));
  return out;
}

std::wstring Utf16LeToWide(const unsigned char* bytes, std::size_t units) {
  if (bytes == nullptr || units == 0) return std::wstring();
  const std::uint32_t count = static_cast<std::uint32_t>(units);
  const std::int32_t needed = tlx_utf16le_to_wide(bytes, count, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  const std::int32_t written = tlx_utf16le_to_wide(bytes, count, &out[0], needed);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

std::vector<unsigned char> WideToUtf16Le(const std::wstring& text) {
  if (text.empty()) return std::vector<unsigned char>();
  const std::int32_t count = static_cast<std::int32_t>(text.size());
  const std::int32_t units = Converted(tlx_wide_to_utf16le(text.data(), count, nullptr, 0));
  std::vector<unsigned char> out(static_cast<std::size_t>(units) * 2);
  out.resize(static_cast<std::size_t>(Converted(tlx_wide_to_utf16le(text.data(), count, out.data(), units))) * 2);
  return out;
}

HRESULT FrameDataLimit(tlx_id3_context* ctx, std::uint32_t declared, std::uint32_t& limit) {
  limit = 0;
  // The engine repositions before every read, so the position may move.
  const std::int32_t length = ctx != nullptr ? tlx_id3_position_content(ctx, 0, 2) : -1;
  if (length < 0) return E_FAIL;
  limit = declared < static_cast<std::uint32_t>(length) ? declared
                                                         : static_cast<std::uint32_t>(length);
  return S_OK;
}

}  // namespace tagkit_internal

using namespace tagkit_internal;

bool CTagkit::CheckStringPropertyID(std::int32_t id) const {
  switch (id) {
    case PROPID_TRACK:
    case PROPID_ISRC:
    case PROPID_TITLE:
    case PROPID_GENRE:
    case PROPID_COPYRIGHT:
    case PROPID_ALBUM:
    case PROPID_ARTIST:
    case PROPID_COMPOSER:
    case PROPID_ARTIST_URL:
      return true;
    default:
      return false;
  }
}

bool CTagkit::CheckBinaryPropertyID(std::int32_t id) const { return id == PROPID_PICTURE; }

HRESULT CTagkit::ToFrameId(std::int32_t id, std::uint32_t& frameId) const {
  frameId = 0;
  if (m_v2Version != TLX_ID3_V22 && m_v2Version != TLX_ID3_V23) return E_FAIL;
  const FrameRow* row = FindRow(id);
  if (row != nullptr) frameId = m_v2Version == TLX_ID3_V22 ? row->v22 : row->v23;
  return frameId == 0 ? E_TAG_UNSUPPORTED : S_OK;
}

bool CTagkit::needsUnicode(std::int32_t id, const std::wstring& text) const {
  // A genre in the numeric form "(n)" stays readable by every tagger as
  // plain text; any other genre may need more than the code page.
  if (id == PROPID_GENRE) return getNumericalGenre(text) == kNoGenre;
  const FrameRow* row = FindRow(id);
  return row != nullptr && row->unicode != 0;
}

std::uint8_t CTagkit::getNumericalGenre(const std::wstring& text) const {
  const std::string narrow = WideToNarrow(text);
  if (narrow.empty() || narrow[0] != '(') return kNoGenre;
  std::size_t i = 1;
  std::uint32_t number = 0;
  while (i < narrow.size() && narrow[i] >= '0' && narrow[i] <= '9') {
    number = number * 10 + static_cast<std::uint32_t>(narrow[i] - '0');
    ++i;
  }
  if (i >= narrow.size() || narrow[i] != ')') return kNoGenre;
  return static_cast<std::uint8_t>(number & 0xFF);
}

HRESULT CTagkit::GetMimeTypeFromId(std::int32_t id, std::string& mimeType) const {
  if (id == PROPID_OBJECT_MTDID) {
    mimeType = "binary";
  } else if (id == PROPID_OBJECT_QZVLX) {
    mimeType = "application/QZVLX";
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT CTagkit::GetDescriptionFromId(std::int32_t id, std::wstring& description) const {
  for (const GeobKind& kind : kGeobKinds) {
    if (kind.property == id) {
      description = GetDescriptionFromEnumId(kind.kind);
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

std::wstring CTagkit::GetDescriptionFromEnumId(std::int32_t kind) const {
  switch (kind) {
    case 1:
      return L"USR_MTDID";
    case 2:
      return L"USR_QZVLX";
    default:
      return std::wstring();
  }
}

HRESULT CTagkit::MakeReleasedDateTimeFrame(std::uint32_t& yearId, std::uint32_t& dateId,
                                           std::uint32_t& timeId) {
  if (m_v2Version == TLX_ID3_V22) {
    yearId = FID('T', 'Y', 'E', 0);
    dateId = FID('T', 'D', 'A', 0);
    timeId = FID('T', 'I', 'M', 0);
  } else if (m_v2Version == TLX_ID3_V23) {
    yearId = FID('T', 'Y', 'E', 'R');
    dateId = FID('T', 'D', 'A', 'T');
    timeId = FID('T', 'I', 'M', 'E');
  } else {
    return E_TAG_UNSUPPORTED;
  }
  return S_OK;
}
