// tagkit: reads and writes the tags of MP3 files (ID3v2.2/2.3 at the head,
// the ID3v1 trailer at the end) through numeric property identifiers.
//
// One CTagkit object serves one file and one thread at a time: Open it, get
// and put properties, and Close it; Close writes every change back in one
// rewrite. Gets answer from memory; nothing reaches the file before Close.
// Every method returns an HRESULT: S_OK or S_FALSE on success, a negative
// code (E_* below and in tlx_com.h) on failure.
#ifndef TAGKIT_TAGKIT_TAGKIT_H_
#define TAGKIT_TAGKIT_TAGKIT_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <boost/shared_array.hpp>
#include <boost/shared_ptr.hpp>

#include "tlx_com.h"
#include "tlx_export.h"

// ---- Property identifiers -------------------------------------------------
constexpr std::int32_t PROPID_TRACK = 0x1105;
constexpr std::int32_t PROPID_ISRC = 0x1202;
constexpr std::int32_t PROPID_TITLE = 0x1207;
constexpr std::int32_t PROPID_GENRE = 0x1208;  // "(17)" or free text
constexpr std::int32_t PROPID_COPYRIGHT = 0x1209;
constexpr std::int32_t PROPID_ALBUM = 0x120C;
constexpr std::int32_t PROPID_ARTIST = 0x1210;
constexpr std::int32_t PROPID_COMPOSER = 0x1213;
constexpr std::int32_t PROPID_PICTURE = 0x1220;     // GetBinary, PutBinary
constexpr std::int32_t PROPID_ARTIST_URL = 0x1226;  // one string per URL
constexpr std::int32_t PROPID_RELEASE_DATE = 0x1400;  // GetDate, PutDate
constexpr std::int32_t PROPID_MUSIC_ID = 0x1703;      // GetMusicId, PutMusicId
constexpr std::int32_t PROPID_OBJECT_MTDID = 0x1706;  // GetGeob, PutGeob
constexpr std::int32_t PROPID_OBJECT_QZVLX = 0x1707;  // GetGeob, PutGeob

// ---- The library's own result codes ---------------------------------------
#define TAGKIT_HRESULT(value) ((HRESULT)(std::uint32_t)(value))
// Open: the file does not exist, or the path names a directory.
#define E_TAG_FILE_NOT_FOUND TAGKIT_HRESULT(0x80040412u)
// The file's music identifier belongs to another owner and is kept.
#define E_TAG_FOREIGN_MUSIC_ID TAGKIT_HRESULT(0x80040414u)
// Open: the object is already open, or the file cannot be opened (access
// denied, or opened for writing elsewhere).
#define E_TAG_CANNOT_OPEN TAGKIT_HRESULT(0x80040416u)
// The property is absent.
#define E_TAG_NO_VALUE TAGKIT_HRESULT(0x80040A04u)
// The identifier is not valid for this call or this tag version.
#define E_TAG_UNSUPPORTED TAGKIT_HRESULT(0x80040A05u)

// Release dates are OLE dates: days since 30 December 1899, the fraction
// being the time of day. This value means "no date".
constexpr double TAGKIT_NO_DATE = -657434.0;

// Open modes.
constexpr std::int32_t TAGKIT_OPEN_READ = 1;
constexpr std::int32_t TAGKIT_OPEN_WRITE = 2;

struct tlx_id3_context;  // the engine's record; applications never see it

class TLX_API CTagkit {
 public:
  class CPicture;  // tagkit_picture.h
  class CMusicId;  // tagkit_music_id.h
  class CGeob;     // tagkit_geob.h

  typedef std::vector<boost::shared_ptr<CPicture> > PictureVector;
  typedef std::vector<boost::shared_ptr<CMusicId> > MusicIdVector;
  typedef std::vector<boost::shared_ptr<CGeob> > GeobVector;

  CTagkit();
  // Copies of a closed object are member-wise (the value objects of the
  // caches are shared). A copy of an open object is closed and empty: the
  // file and its pending changes stay with the source alone, so no file is
  // closed twice and no change is committed twice.
  CTagkit(const CTagkit& other);
  // The target is first closed without committing, as by its destructor.
  CTagkit& operator=(const CTagkit& other);
  // Drops uncommitted changes: only Close commits.
  virtual ~CTagkit();

  // mode 1: read only (others may read too); mode 2: read and write
  // (nobody else may write). E_TAG_FILE_NOT_FOUND, E_TAG_CANNOT_OPEN,
  // E_INVALIDARG or E_FAIL leave the object closed.
  HRESULT Open(const std::wstring& path, std::int32_t mode);
  // Commits pending changes, then closes; the object is closed afterwards
  // even when the commit fails, and the failure is returned.
  HRESULT Close();

  // Text properties (PROPID_TITLE ... PROPID_ARTIST_URL). E_TAG_NO_VALUE
  // when absent; the vector is replaced only on success.
  HRESULT GetString(std::int32_t id, std::vector<std::wstring>& values);
  // Writes the first string (every non-empty string for PROPID_ARTIST_URL);
  // an empty vector deletes the property. Setters refuse changes on an
  // object opened read only (E_FAIL) and on a file whose ID3v2 tag has a
  // version this library does not write, ID3v2.4 (here E_TAG_UNSUPPORTED).
  HRESULT PutString(std::int32_t id, const std::vector<std::wstring>& values);

  // PROPID_RELEASE_DATE; only the calendar date is stored.
  HRESULT GetDate(std::int32_t id, double& value);
  HRESULT PutDate(std::int32_t id, double& value);

  // PROPID_PICTURE; one picture is written, the first.
  HRESULT GetBinary(std::int32_t id, PictureVector& values);
  HRESULT PutBinary(std::int32_t id, const PictureVector& values);

  HRESULT GetMusicId(MusicIdVector& values);
  HRESULT PutMusicId(const MusicIdVector& values);

  // PROPID_OBJECT_MTDID, PROPID_OBJECT_QZVLX; written at Close.
  HRESULT GetGeob(std::int32_t id, GeobVector& values);
  HRESULT PutGeob(std::int32_t id, const GeobVector& values);

 private:
  // ---- tagkit_class.cc: lifecycle ----
  HRESULT Clear();
  HRESULT GetV2version(std::int32_t& version);
  HRESULT GetAllProperty();
  tlx_id3_context* Context();
  void CopyClosedState(const CTagkit& other);

  // ---- tagkit_frames.cc: identifiers and the frame table ----
  bool CheckStringPropertyID(std::int32_t id) const;
  bool CheckBinaryPropertyID(std::int32_t id) const;
  HRESULT ToFrameId(std::int32_t id, std::uint32_t& frameId) const;
  bool needsUnicode(std::int32_t id, const std::wstring& text) const;
  std::uint8_t getNumericalGenre(const std::wstring& text) const;
  HRESULT GetMimeTypeFromId(std::int32_t id, std::string& mimeType) const;
  HRESULT GetDescriptionFromId(std::int32_t id, std::wstring& description) const;
  std::wstring GetDescriptionFromEnumId(std::int32_t kind) const;
  HRESULT MakeReleasedDateTimeFrame(std::uint32_t& yearId, std::uint32_t& dateId,
                                    std::uint32_t& timeId);

  // ---- tagkit_text.cc: reading text, URL and ID3v1 properties ----
  HRESULT GetStringInternal(std::int32_t id, std::vector<std::wstring>& values);
  HRESULT GetTextV2(std::int32_t id, std::vector<std::wstring>& values);
  HRESULT GetUrlV2(std::int32_t id, std::vector<std::wstring>& values);
  HRESULT GetV1(std::int32_t id, std::vector<std::wstring>& values);
  // Data of the first frame with the identifier; size is the bytes read.
  HRESULT GetV2Data(std::uint32_t frameId, std::uint32_t& size,
                    boost::shared_array<unsigned char>& data);
  // The first frame with the identifier, decoded as a text frame.
  HRESULT GetV2Data2(std::uint32_t frameId, std::wstring& text);
  HRESULT AsciiBinary2Wstring(const unsigned char* bytes, std::int32_t length,
                              std::wstring& text);
  HRESULT Utf16Binary2Wstring(const unsigned char* bytes, std::int32_t length,
                              std::wstring& text);
  HRESULT SwabData(boost::shared_array<char>& data, std::int32_t length);

  // ---- tagkit_text.cc: writing text properties and the commit ----
  HRESULT V2EditBegin();
  HRESULT DeleteFrame(std::int32_t id);
  HRESULT SetTextV2(std::int32_t id, const std::vector<std::wstring>& values);
  HRESULT SetUrlV2(std::int32_t id, const std::vector<std::wstring>& values);
  HRESULT SetV1(std::int32_t id, const std::vector<std::wstring>& values);
  HRESULT SetV2Data(std::uint32_t frameId, const std::wstring& text, bool unicode);
  HRESULT Update();
  HRESULT UpdateV1();

  // ---- tagkit_date.cc ----
  HRESULT GetDateInternal(std::int32_t id, double& value);
  HRESULT GetReleasedDateTime();
  HRESULT PutReleasedDateTime(const double& value);
  HRESULT DeleteReleasedDateTime();

  // ---- tagkit_picture.cc ----
  HRESULT GetBinaryInternal(std::int32_t id, PictureVector& values);
  HRESULT GetAPIC(PictureVector& values);
  HRESULT GetPIC(PictureVector& values);
  HRESULT SetAPIC(const PictureVector& values);
  HRESULT SetPIC(const PictureVector& values);

  // ---- tagkit_music_id.cc ----
  HRESULT GetMusicIdInternal(std::int32_t id, MusicIdVector& values);
  void initOwnerId();

  // ---- tagkit_geob.cc ----
  HRESULT GetGeobInternal(std::int32_t id, GeobVector& values, int& index);
  HRESULT updateGeob();
  HRESULT deleteGeob();
  HRESULT updateFrame();

  // The engine context, held by value; its size is checked where the
  // engine's declaration is visible.
  static constexpr std::size_t kContextSize = 64;
  alignas(8) unsigned char m_context[kContextSize];
  bool m_isOpen;
  bool m_isEditing;
  std::int32_t m_v2Version;  // 0: ID3v2.2, 1: ID3v2.3, -999: closed
  // ID3v1 values that the commit writes into the trailer (narrow text in
  // the thread's code page).
  std::string m_v1Title;
  bool m_v1TitlePending;
  std::string m_v1Artist;
  bool m_v1ArtistPending;
  std::string m_v1Album;
  bool m_v1AlbumPending;
  std::uint8_t m_v1Genre;  // 148: no genre
  bool m_v1GenrePending;
  std::uint8_t m_v1Track;
  bool m_v1TrackPending;
  std::uint32_t m_v1Year;
  bool m_v1YearPending;
  double m_releasedDateTime;
  std::map<std::int32_t, std::vector<std::wstring> > m_strings;
  std::map<std::int32_t, PictureVector> m_pictures;
  std::map<std::int32_t, MusicIdVector> m_musicIds;
  std::map<std::int32_t, GeobVector> m_geobs;
  std::string m_ownerId;
  bool m_foreignMusicId;
};

#include "tagkit_geob.h"
#include "tagkit_music_id.h"
#include "tagkit_picture.h"
#include "xdate.h"

#endif  // TAGKIT_TAGKIT_TAGKIT_H_
