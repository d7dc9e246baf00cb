// Frames by identifier: comments, lyrics, user-defined texts and any text
// frame written into the editing transaction, and frames removed by
// identifier and description. Frames that back a property go through it, so
// that the caches and the ID3v1 trailer follow.
#include <array>
#include <cstring>
#include <new>

#include "id3_edit_list.h"
#include "id3_internal.h"
#include "tagkit_frame_edit.h"
#include "tagkit_internal.h"

using namespace tagkit_internal;

namespace {

#define FID TLX_ID3_FRAME_ID
const std::uint32_t kComment = FID('C', 'O', 'M', 'M');
const std::uint32_t kLyrics = FID('U', 'S', 'L', 'T');
const std::uint32_t kUserText = FID('T', 'X', 'X', 'X');
const std::uint32_t kUserUrl = FID('W', 'X', 'X', 'X');
const std::uint32_t kPicture = FID('A', 'P', 'I', 'C');
const std::uint32_t kObject = FID('G', 'E', 'O', 'B');
const std::uint32_t kMusicId = FID('U', 'F', 'I', 'D');
// The frames of the release date, which PutDate keeps in step.
const std::uint32_t kDateFrames[] = {FID('T', 'Y', 'E', 'R'), FID('T', 'D', 'A', 'T'),
                                     FID('T', 'I', 'M', 'E'), FID('T', 'R', 'D', 'A'),
                                     FID('T', 'D', 'R', 'C')};
#undef FID

enum Encoding : unsigned char { kLatin1 = 0, kUtf16 = 1, kUtf8 = 3 };

using EditFrames = std::vector<tlx_id3_edit_frame>;
using StoredFrames = std::vector<std::pair<std::uint32_t, std::uint32_t> >;

bool IsDateFrame(std::uint32_t v23Id) {
  for (std::uint32_t id : kDateFrames) {
    if (id == v23Id) return true;
  }
  return false;
}

bool HasDescription(std::uint32_t v23Id) {
  return v23Id == kUserText || v23Id == kUserUrl || v23Id == kComment || v23Id == kLyrics ||
         v23Id == kPicture || v23Id == kObject;
}

bool ValidLanguage(const std::wstring& language) {
  if (language.size() != 3) return false;
  for (wchar_t c : language) {
    if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'))) return false;
  }
  return true;
}

// A string fits the single-byte encoding when each character is one byte
// that ISO-8859-1 readers and this library's code-page reading agree on:
// ASCII, and the upper half where the code page maps the byte to the same
// character (all of it in code page 1252; C1 controls never).
class Latin1Check {
 public:
  bool Fits(const std::wstring& text) {
    for (wchar_t c : text) {
      const std::uint32_t code = static_cast<std::uint32_t>(c);
      if (code < 0x80) continue;
      if (code < 0xA0 || code > 0xFF) return false;
      signed char& known = verdicts_[code - 0xA0];
      if (known == 0) known = RoundTrips(c) ? 1 : -1;
      if (known < 0) return false;
    }
    return true;
  }

 private:
  static bool RoundTrips(wchar_t c) {
    const std::string narrow = WideToNarrow(std::wstring(1, c));
    return narrow.size() == 1 && static_cast<unsigned char>(narrow[0]) == c &&
           NarrowToWide(narrow.data(), 1) == std::wstring(1, c);
  }
  std::array<signed char, 0x60> verdicts_{};
};

Encoding ChooseEncoding(std::int32_t version, std::initializer_list<const std::wstring*> texts) {
  if (version == TLX_ID3_V24) {
    // UTF-8 cannot carry a lone surrogate; UTF-16 keeps it unchanged.
    std::string utf8;
    for (const std::wstring* text : texts) {
      if (!WideToUtf8(*text, utf8)) return kUtf16;
    }
    return kUtf8;
  }
  Latin1Check latin1;
  for (const std::wstring* text : texts) {
    if (!latin1.Fits(*text)) return kUtf16;
  }
  return kLatin1;
}

// Appends text in the encoding, with the encoding's terminator when more
// fields follow.
void AppendText(std::vector<unsigned char>& out, Encoding encoding, const std::wstring& text,
                bool terminated) {
  switch (encoding) {
    case kLatin1:
      for (wchar_t c : text) out.push_back(static_cast<unsigned char>(c));
      if (terminated) out.push_back(0);
      return;
    case kUtf16: {
      const std::vector<unsigned char> units = WideToUtf16Le(text);
      out.push_back(0xFF);
      out.push_back(0xFE);
      out.insert(out.end(), units.begin(), units.end());
      if (terminated) out.insert(out.end(), {0, 0});
      return;
    }
    case kUtf8: {
      std::string utf8;
      WideToUtf8(text, utf8);
      out.insert(out.end(), utf8.begin(), utf8.end());
      if (terminated) out.push_back(0);
      return;
    }
  }
}

// Walks the fields of a frame's data. Running past the end, or an unknown
// text encoding, makes the frame unreadable; a last string without its
// terminator ends with the data.
class FieldReader {
 public:
  FieldReader(const unsigned char* data, std::uint32_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }

  int Byte() {
    if (pos_ >= size_) return Fail(), 0;
    return data_[pos_++];
  }
  int Encoding() {
    const int encoding = Byte();
    if (encoding > 3) Fail();
    return encoding;
  }
  std::wstring Fixed(std::uint32_t count) {
    if (size_ - pos_ < count) return Fail(), std::wstring();
    const std::wstring text = NarrowToWide(reinterpret_cast<const char*>(data_ + pos_), count);
    pos_ += count;
    return text;
  }
  std::wstring Text(int encoding) {
    const bool wide = encoding == 1 || encoding == 2;
    const std::uint32_t unit = wide ? 2 : 1;
    std::uint32_t end = pos_;
    while (end + unit <= size_ && !(data_[end] == 0 && (!wide || data_[end + 1] == 0))) end += unit;
    const unsigned char* text = data_ + pos_;
    const std::uint32_t length = (end + unit <= size_ ? end : size_) - pos_;
    pos_ = end + unit <= size_ ? end + unit : size_;
    switch (encoding) {
      case 0:
        return NarrowToWide(reinterpret_cast<const char*>(text), length);
      case 1:
        if (length >= 2 && text[0] == 0xFE && text[1] == 0xFF) return Utf16BeToWide(text + 2, length - 2);
        if (length >= 2 && text[0] == 0xFF && text[1] == 0xFE) return Utf16LeToWide(text + 2, (length - 2) / 2);
        return Utf16LeToWide(text, length / 2);
      case 2:
        return Utf16BeToWide(text, length);
      default:
        return Utf8ToWide(text, length);
    }
  }

 private:
  void Fail() {
    ok_ = false;
    pos_ = size_;
  }
  const unsigned char* data_;
  std::uint32_t size_;
  std::uint32_t pos_ = 0;
  bool ok_ = true;
};

// What tells apart frames of one identifier: language and description.
struct FrameKey {
  std::wstring language;
  std::wstring description;
};

// False for data that does not hold the fields of its frame.
bool ReadKey(std::uint32_t v23Id, bool v22, const unsigned char* data, std::uint32_t size,
             FrameKey& key) {
  FieldReader in(data, size);
  const int encoding = in.Encoding();
  switch (v23Id) {
    case kComment:
    case kLyrics:
      key.language = in.Fixed(3);
      break;
    case kPicture:
      if (v22) {
        in.Fixed(3);  // image format
      } else {
        in.Text(0);  // MIME type
      }
      in.Byte();  // picture type
      break;
    case kObject:
      in.Text(0);         // MIME type
      in.Text(encoding);  // file name
      break;
    default:
      break;
  }
  key.description = in.Text(encoding);
  return in.ok();
}

struct ReadSession {
  explicit ReadSession(tlx_id3_context* ctx) : ctx_(ctx) { tlx_id3_read_session_begin(ctx_); }
  ~ReadSession() { tlx_id3_read_session_end(ctx_); }
  ReadSession(const ReadSession&) = delete;
  ReadSession& operator=(const ReadSession&) = delete;
  tlx_id3_context* ctx_;
};

// The transaction's frames with the identifier (0: all), in list order.
HRESULT ListFrames(tlx_id3_context* ctx, std::uint32_t id, EditFrames& frames) {
  std::uint32_t count = 0;
  if (tlx_id3_v2_edit_list_frames(ctx, id, nullptr, 0, &count) != TLX_ID3_OK) return E_FAIL;
  frames.resize(count);
  if (count == 0) return S_OK;
  if (tlx_id3_v2_edit_list_frames(ctx, id, frames.data(), count, &count) != TLX_ID3_OK) {
    return E_FAIL;
  }
  frames.resize(count);
  return S_OK;
}

// The data of one entry: a new frame's own bytes, or what the engine lends of
// the stored frame it stands for (until the next engine call). S_FALSE for a
// stored frame whose data cannot be read.
HRESULT EntryData(tlx_id3_context* ctx, const StoredFrames& stored, const tlx_id3_edit_frame& entry,
                  const unsigned char*& data, std::uint32_t& size) {
  data = entry.data;
  size = entry.size;
  if (entry.stored_offset == 0) return S_OK;
  std::uint32_t occurrence = 0;
  bool found = false;
  for (const auto& frame : stored) {
    if (frame.first != entry.id) continue;
    if (frame.second == entry.stored_offset) {
      found = true;
      break;
    }
    ++occurrence;
  }
  if (!found) return E_FAIL;
  switch (tlx_id3_v2_lend_frame_data(ctx, entry.id, occurrence, &data, &size)) {
    case TLX_ID3_OK:
      return S_OK;
    case TLX_ID3_E_NOMEM:
      return E_OUTOFMEMORY;
    case TLX_ID3_E_READ:
    case TLX_ID3_E_CORRUPT:
      return S_FALSE;
    default:
      return E_FAIL;
  }
}

// Occurrences (in list order) of the frames whose key matches; a null
// language or description matches any. Frames that cannot be read match
// only when nothing is asked of their key.
HRESULT Match(tlx_id3_context* ctx, const StoredFrames& stored, std::uint32_t v23Id, bool v22,
              const EditFrames& frames, const std::wstring* language,
              const std::wstring* description, std::vector<std::uint32_t>& matches) {
  for (std::uint32_t i = 0; i < frames.size(); ++i) {
    if (language == nullptr && description == nullptr) {
      matches.push_back(i);
      continue;
    }
    const unsigned char* data = nullptr;
    std::uint32_t size = 0;
    const HRESULT hr = EntryData(ctx, stored, frames[i], data, size);
    if (FAILED(hr)) return hr;
    FrameKey key;
    if (hr == S_FALSE || !ReadKey(v23Id, v22, data, size, key)) continue;
    if (language != nullptr && key.language != *language) continue;
    if (description != nullptr && key.description != *description) continue;
    matches.push_back(i);
  }
  return S_OK;
}

// The transaction's frames with the identifier, and the occurrences among
// them whose key matches (see Match). E_OUTOFMEMORY when the stored frames'
// places could not be recorded at the start of the transaction.
HRESULT FindFrames(tlx_id3_context* ctx, const StoredFrames& stored, bool storedKnown,
                   std::int32_t version, std::uint32_t tagId, std::uint32_t v23Id,
                   const std::wstring* language, const std::wstring* description,
                   EditFrames& frames, std::vector<std::uint32_t>& matches) {
  if (!storedKnown) return E_OUTOFMEMORY;
  ReadSession session(ctx);
  const HRESULT hr = ListFrames(ctx, tagId, frames);
  if (FAILED(hr)) return hr;
  return Match(ctx, stored, v23Id, version == TLX_ID3_V22, frames, language, description,
               matches);
}

bool AnyReadOnly(const EditFrames& frames, const std::vector<std::uint32_t>& matches) {
  for (std::uint32_t i : matches) {
    if (frames[i].read_only) return true;
  }
  return false;
}

// Removes the occurrences, last first, so that the others keep their place.
HRESULT RemoveOccurrences(tlx_id3_context* ctx, std::uint32_t id,
                          const std::vector<std::uint32_t>& matches) {
  for (auto it = matches.rbegin(); it != matches.rend(); ++it) {
    if (tlx_id3_v2_remove_frame(ctx, id, *it) != TLX_ID3_OK) return E_FAIL;
  }
  return S_OK;
}

// Appends the new frame (none for an empty payload), then removes the
// matches: they stand before it, so their occurrences hold, and a frame that
// cannot be added leaves the old ones in place.
HRESULT ReplaceFrames(tlx_id3_context* ctx, std::int32_t version, std::uint32_t id,
                      const std::vector<std::uint32_t>& matches,
                      const std::vector<unsigned char>& payload) {
  if (!payload.empty()) {
    const HRESULT hr = tagkit_frames::AddFrame(ctx, version, id, payload.data(),
                                               static_cast<std::int64_t>(payload.size()), false);
    if (FAILED(hr)) return hr;
  }
  return RemoveOccurrences(ctx, id, matches);
}

}  // namespace

void CTagkit::RecordStoredFrames() noexcept {
  m_storedFramesKnown = false;
  m_storedFrames.clear();
  try {
    EditFrames frames;
    if (FAILED(ListFrames(Context(), 0, frames))) return;
    m_storedFrames.reserve(frames.size());
    for (const tlx_id3_edit_frame& frame : frames) {
      if (frame.stored_offset != 0) m_storedFrames.emplace_back(frame.id, frame.stored_offset);
    }
    m_storedFramesKnown = true;
  } catch (...) {
    m_storedFrames.clear();
  }
}

HRESULT CTagkit::EditFrameId(const std::string& frameId, std::uint32_t& tagId,
                             std::uint32_t& v23Id) const {
  if (frameId.size() != 3 && frameId.size() != 4) return E_INVALIDARG;
  const std::uint32_t id = TLX_ID3_FRAME_ID(frameId[0], frameId[1], frameId[2],
                                            frameId.size() == 4 ? frameId[3] : 0);
  switch (tlx_id3_frame_id_for_version(id, m_v2Version, &tagId)) {
    case TLX_ID3_OK:
      break;
    case TLX_ID3_E_UNSUPPORTED:
      return E_TAG_UNSUPPORTED;
    default:
      return E_INVALIDARG;
  }
  // An ID3v2.2 frame without a later counterpart is classified by its own name.
  if (tlx_id3_frame_id_for_version(id, TLX_ID3_V23, &v23Id) != TLX_ID3_OK) v23Id = id;
  return S_OK;
}

HRESULT CTagkit::PutComment(const std::wstring& language, const std::wstring& description,
                            const std::wstring& text) {
  return Guarded([&] { return PutDescribedText(kComment, &language, description, text); });
}

HRESULT CTagkit::PutLyrics(const std::wstring& language, const std::wstring& description,
                           const std::wstring& text) {
  return Guarded([&] { return PutDescribedText(kLyrics, &language, description, text); });
}

HRESULT CTagkit::PutUserText(const std::wstring& description, const std::wstring& value) {
  return Guarded([&] { return PutDescribedText(kUserText, nullptr, description, value); });
}

// Comments and lyrics: encoding, language, description, text. User-defined
// texts: encoding, description, value.
HRESULT CTagkit::PutDescribedText(std::uint32_t v23Id, const std::wstring* language,
                                  const std::wstring& description, const std::wstring& text) {
  if (!m_isOpen) return E_UNEXPECTED;
  if (language != nullptr && !ValidLanguage(*language)) return E_INVALIDARG;
  std::uint32_t tagId = 0;
  switch (tlx_id3_frame_id_for_version(v23Id, m_v2Version, &tagId)) {
    case TLX_ID3_OK:
      break;
    case TLX_ID3_E_UNSUPPORTED:
      return E_TAG_UNSUPPORTED;
    default:
      return E_FAIL;
  }
  // The new frame is built first: a value that cannot be written changes
  // nothing.
  std::vector<unsigned char> payload;
  if (!text.empty()) {
    const Encoding encoding = ChooseEncoding(m_v2Version, {&description, &text});
    payload.push_back(encoding);
    if (language != nullptr) {
      for (wchar_t c : *language) payload.push_back(static_cast<unsigned char>(c));
    }
    AppendText(payload, encoding, description, true);
    AppendText(payload, encoding, text, false);
    if (payload.size() > tagkit_frames::MaxPayload(m_v2Version)) return E_INVALIDARG;
  }
  HRESULT hr = V2EditBegin();
  if (FAILED(hr)) return hr;
  EditFrames frames;
  std::vector<std::uint32_t> matches;
  hr = FindFrames(Context(), m_storedFrames, m_storedFramesKnown, m_v2Version, tagId, v23Id,
                  language, &description, frames, matches);
  if (FAILED(hr)) return hr;
  if (AnyReadOnly(frames, matches)) return E_TAG_READ_ONLY;
  return ReplaceFrames(Context(), m_v2Version, tagId, matches, payload);
}

HRESULT CTagkit::PutFrameText(const std::string& frameId, const std::wstring& text) {
  return Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    std::uint32_t tagId = 0, v23Id = 0;
    const HRESULT hr = EditFrameId(frameId, tagId, v23Id);
    if (FAILED(hr)) return hr;
    if ((v23Id >> 24) != 'T' || v23Id == kUserText) return E_INVALIDARG;
    if (IsDateFrame(v23Id)) return E_TAG_UNSUPPORTED;
    for (std::size_t i = 0; i < kFrameTableSize; ++i) {
      const FrameRow& row = kFrameTable[i];
      if (row.v23 != v23Id || !CheckStringPropertyID(row.property)) continue;
      return PutString(row.property,
                       text.empty() ? std::vector<std::wstring>() : std::vector<std::wstring>(1, text));
    }
    if (text.empty()) {
      const HRESULT removed = RemoveMatching(tagId, v23Id, nullptr);
      return FAILED(removed) ? removed : S_OK;
    }
    return PutPlainText(tagId, text);
  });
}

HRESULT CTagkit::PutPlainText(std::uint32_t tagId, const std::wstring& text) {
  std::vector<unsigned char> payload;
  const Encoding encoding = ChooseEncoding(m_v2Version, {&text});
  payload.push_back(encoding);
  AppendText(payload, encoding, text, false);
  if (payload.size() > tagkit_frames::MaxPayload(m_v2Version)) return E_INVALIDARG;
  HRESULT hr = V2EditBegin();
  if (FAILED(hr)) return hr;
  EditFrames frames;
  hr = ListFrames(Context(), tagId, frames);
  if (FAILED(hr)) return hr;
  std::vector<std::uint32_t> all;
  for (std::uint32_t i = 0; i < frames.size(); ++i) all.push_back(i);
  if (AnyReadOnly(frames, all)) return E_TAG_READ_ONLY;
  return ReplaceFrames(Context(), m_v2Version, tagId, all, payload);
}

HRESULT CTagkit::RemoveFrames(const std::string& frameId) {
  return Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    std::uint32_t tagId = 0, v23Id = 0;
    const HRESULT hr = EditFrameId(frameId, tagId, v23Id);
    if (FAILED(hr)) return hr;
    if (IsDateFrame(v23Id)) return E_TAG_UNSUPPORTED;
    for (std::size_t i = 0; i < kFrameTableSize; ++i) {
      const FrameRow& row = kFrameTable[i];
      if (row.v23 == v23Id && CheckStringPropertyID(row.property)) {
        return RemovePropertyFrames(tagId, row.property);
      }
    }
    return RemoveMatching(tagId, v23Id, nullptr);
  });
}

HRESULT CTagkit::RemoveFrames(const std::string& frameId, const std::wstring& description) {
  return Guarded([&]() -> HRESULT {
    if (!m_isOpen) return E_UNEXPECTED;
    std::uint32_t tagId = 0, v23Id = 0;
    const HRESULT hr = EditFrameId(frameId, tagId, v23Id);
    if (FAILED(hr)) return hr;
    if (!HasDescription(v23Id)) return E_INVALIDARG;
    return RemoveMatching(tagId, v23Id, &description);
  });
}

// Text properties and artist URLs: the property's put removes the frames and
// keeps the cache and the ID3v1 field in step.
HRESULT CTagkit::RemovePropertyFrames(std::uint32_t tagId, std::int32_t property) {
  HRESULT hr = V2EditBegin();
  if (FAILED(hr)) return hr;
  EditFrames frames;
  hr = ListFrames(Context(), tagId, frames);
  if (FAILED(hr)) return hr;
  for (const tlx_id3_edit_frame& frame : frames) {
    if (frame.read_only) return E_TAG_READ_ONLY;
  }
  hr = PutString(property, std::vector<std::wstring>());
  if (FAILED(hr)) return hr;
  return frames.empty() ? S_FALSE : S_OK;
}

HRESULT CTagkit::RemoveMatching(std::uint32_t tagId, std::uint32_t v23Id,
                                const std::wstring* description) {
  HRESULT hr = V2EditBegin();
  if (FAILED(hr)) return hr;
  EditFrames frames;
  std::vector<std::uint32_t> matches;
  hr = FindFrames(Context(), m_storedFrames, m_storedFramesKnown, m_v2Version, tagId, v23Id,
                  nullptr, description, frames, matches);
  if (FAILED(hr)) return hr;
  if (AnyReadOnly(frames, matches)) return E_TAG_READ_ONLY;
  if (matches.empty()) return S_FALSE;
  hr = RemoveOccurrences(Context(), tagId, matches);
  if (FAILED(hr)) return hr;
  // The caches of the properties these frames back.
  if (v23Id == kPicture && matches.front() == 0) {
    m_addedFirst.erase(PROPID_PICTURE);
    hr = RefreshPicture(tagId);
  } else if (v23Id == kMusicId) {
    m_addedFirst.erase(PROPID_MUSIC_ID);
    m_musicIds.erase(PROPID_MUSIC_ID);
    m_foreignMusicId = false;
  } else if (v23Id == kObject) {
    // The commit writes the objects' frames from the cache.
    for (const std::int32_t property : {PROPID_OBJECT_MTDID, PROPID_OBJECT_QZVLX}) {
      std::wstring own;
      if (description == nullptr ||
          (SUCCEEDED(GetDescriptionFromId(property, own)) && own == *description)) {
        m_geobs.erase(property);
      }
    }
  }
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CTagkit::RemoveDescribed(std::uint32_t tagId, std::uint32_t v23Id,
                                 const std::wstring& description) {
  EditFrames frames;
  std::vector<std::uint32_t> matches;
  const HRESULT hr = FindFrames(Context(), m_storedFrames, m_storedFramesKnown, m_v2Version,
                                tagId, v23Id, nullptr, &description, frames, matches);
  if (FAILED(hr)) return hr;
  std::vector<std::uint32_t> writable;
  for (std::uint32_t i : matches) {
    if (!frames[i].read_only) writable.push_back(i);
  }
  return RemoveOccurrences(Context(), tagId, writable);
}

// The picture property is the first picture frame: after the first one went,
// the next one, when it can be read.
HRESULT CTagkit::RefreshPicture(std::uint32_t tagId) {
  m_pictures.erase(PROPID_PICTURE);
  EditFrames frames;
  HRESULT hr = ListFrames(Context(), tagId, frames);
  if (FAILED(hr) || frames.empty()) return hr;
  const unsigned char* data = nullptr;
  std::uint32_t size = 0;
  hr = EntryData(Context(), m_storedFrames, frames.front(), data, size);
  if (hr != S_OK) return hr == S_FALSE ? S_OK : hr;
  if (size > 0x7FFFFFFFu) return S_OK;
  boost::shared_ptr<CPicture> picture(new CPicture());
  hr = picture->ReadFrame(data, static_cast<std::int32_t>(size), m_v2Version == TLX_ID3_V22,
                          V24Enabled());
  if (hr == E_OUTOFMEMORY) return hr;
  if (SUCCEEDED(hr)) m_pictures[PROPID_PICTURE] = PictureVector(1, picture);
  return S_OK;
}
