/// @file
/// The class CTagkit: reads and writes the tags of MP3 files (ID3v2.2/2.3 at
/// the head, and ID3v2.4 when opened with TAGKIT_OPEN_V24; the ID3v1 trailer
/// at the end) through numeric property identifiers, with the library's
/// result codes and open modes.
///
/// One CTagkit object serves one file and one thread at a time: Open it, get
/// and put properties, and Close it; Close writes every change back in one
/// rewrite. Gets answer from memory; nothing reaches the file before Close.
/// Every method returns an HRESULT: S_OK or S_FALSE on success, a negative
/// code (E_* below and in tlx_com.h) on failure. No method throws: memory
/// running out is E_OUTOFMEMORY, any other exception inside E_FAIL, and the
/// object stays usable (a failed put is as any failed put, Close still
/// closes).
#ifndef TAGKIT_TAGKIT_TAGKIT_H_
#define TAGKIT_TAGKIT_TAGKIT_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <boost/shared_array.hpp>
#include <boost/shared_ptr.hpp>

#include "tlx_com.h"
#include "tlx_export.h"

// ---- Property identifiers -------------------------------------------------
/// Track number as text, e.g. "3" (GetString, PutString; also the ID3v1 track).
constexpr std::int32_t PROPID_TRACK = 0x1105;
/// International Standard Recording Code (GetString, PutString).
constexpr std::int32_t PROPID_ISRC = 0x1202;
/// Title (GetString, PutString; also the ID3v1 title).
constexpr std::int32_t PROPID_TITLE = 0x1207;
/// Genre: "(17)" for an ID3v1 genre number, or free text (GetString, PutString).
constexpr std::int32_t PROPID_GENRE = 0x1208;  // "(17)" or free text
/// Copyright message (GetString, PutString).
constexpr std::int32_t PROPID_COPYRIGHT = 0x1209;
/// Album (GetString, PutString; also the ID3v1 album).
constexpr std::int32_t PROPID_ALBUM = 0x120C;
/// Lead artist (GetString, PutString; also the ID3v1 artist).
constexpr std::int32_t PROPID_ARTIST = 0x1210;
/// Composer (GetString, PutString).
constexpr std::int32_t PROPID_COMPOSER = 0x1213;
/// Attached cover picture (GetBinary, PutBinary).
constexpr std::int32_t PROPID_PICTURE = 0x1220;     // GetBinary, PutBinary
/// Artist web pages, one string per URL (GetString, PutString).
constexpr std::int32_t PROPID_ARTIST_URL = 0x1226;  // one string per URL
/// Release date as an OLE date (GetDate, PutDate): ID3v2.2/2.3 year and
/// date frames, the recording timestamp of an ID3v2.4 tag.
constexpr std::int32_t PROPID_RELEASE_DATE = 0x1400;  // GetDate, PutDate
/// Music-recognition identifier, a unique-file-identifier frame (GetMusicId,
/// PutMusicId).
constexpr std::int32_t PROPID_MUSIC_ID = 0x1703;      // GetMusicId, PutMusicId
/// Encapsulated object of the "mtdid" kind (GetGeob, PutGeob).
constexpr std::int32_t PROPID_OBJECT_MTDID = 0x1706;  // GetGeob, PutGeob
/// Encapsulated object of the "qzvlx" kind (GetGeob, PutGeob).
constexpr std::int32_t PROPID_OBJECT_QZVLX = 0x1707;  // GetGeob, PutGeob

// ---- The library's own result codes ---------------------------------------
/// Makes an HRESULT from its unsigned 32-bit pattern.
#define TAGKIT_HRESULT(value) ((HRESULT)(std::uint32_t)(value))
/// Open: the file does not exist, or the path names a directory or another
/// file that is not a regular one (a named pipe, a device).
#define E_TAG_FILE_NOT_FOUND TAGKIT_HRESULT(0x80040412u)
/// The file's music identifier belongs to another owner and is kept.
#define E_TAG_FOREIGN_MUSIC_ID TAGKIT_HRESULT(0x80040414u)
/// Open: the object is already open, or the file cannot be opened (access
/// denied, or opened for writing elsewhere).
#define E_TAG_CANNOT_OPEN TAGKIT_HRESULT(0x80040416u)
/// The property is absent.
#define E_TAG_NO_VALUE TAGKIT_HRESULT(0x80040A04u)
/// The identifier is not valid for this call or this tag version.
#define E_TAG_UNSUPPORTED TAGKIT_HRESULT(0x80040A05u)
/// The file's ID3v2 tag is damaged (it runs past the end of the file, or a
/// frame runs past the end of the tag): it is read as far as it goes, but
/// not rewritten, since that would lose what lies behind the damage.
#define E_TAG_DAMAGED TAGKIT_HRESULT(0x80040A06u)
/// A frame that the edit would replace or remove is flagged read only: it is
/// kept, and nothing of the edit is made.
#define E_TAG_READ_ONLY TAGKIT_HRESULT(0x80040A07u)

/// Release dates are OLE dates: days since 30 December 1899, the fraction
/// being the time of day. This value means "no date".
constexpr double TAGKIT_NO_DATE = -657434.0;

/// Open mode: read only; other readers may share the file.
constexpr std::int32_t TAGKIT_OPEN_READ = 1;
/// Open mode: read and write; nobody else may write the file meanwhile.
constexpr std::int32_t TAGKIT_OPEN_WRITE = 2;
/// Open mode flag, combined with TAGKIT_OPEN_READ or TAGKIT_OPEN_WRITE:
/// ID3v2.4 tags are read and edited, and stay ID3v2.4, instead of being
/// refused. Without it an ID3v2.4 tag reads as absent (the ID3v1 trailer
/// still answers) and every put is refused (E_TAG_UNSUPPORTED; PutBinary
/// E_FAIL).
///
/// With it, in any tag version, text in UTF-16BE (encoding 2) and UTF-8
/// (encoding 3) is read too, in text frames and in the descriptions of
/// pictures and encapsulated objects; of a frame with several values the
/// first is the property's value. In an ID3v2.4 tag:
/// - frames have the four-character identifiers of ID3v2.3;
/// - the release date is the recording timestamp (TDRC), read in each of
///   its forms from "yyyy" (1 January) to "yyyy-MM-ddTHH:mm:ss" (with the
///   time of day); without one, the ID3v2.3 year and date frames that some
///   writers leave, then the ID3v1 year, stand in. PutDate writes
///   "yyyy-MM-dd" and drops those stand-ins and the release time;
/// - a genre stored as a bare ID3v1 genre number ("17") reads as "(17)", and
///   "RX" and "CR" as "(RX)" and "(CR)"; putting "(17)" stores "17";
/// - puts write ID3v2.4 frames: the title, artist, album, genre, composer,
///   copyright and ISRC as UTF-8 (encoding 3; UTF-16 for text holding a lone
///   surrogate, which UTF-8 cannot carry), the track, a numeric genre, the
///   date and URLs as single-byte text; pictures, music identifiers and
///   encapsulated objects as in ID3v2.3;
/// - the commit keeps the tag ID3v2.4 and drops its extended header and
///   footer; a title frame not put stays as stored.
/// A file without an ID3v2 tag still gets a new ID3v2.3 tag.
constexpr std::int32_t TAGKIT_OPEN_V24 = 0x100;
/// Open mode flag, combined with TAGKIT_OPEN_WRITE: Close gives a file that
/// has several hard links a new file of its own under this path and leaves
/// the other names as they were, instead of rewriting the shared file.
constexpr std::int32_t TAGKIT_OPEN_SPLIT_LINKS = 0x200;

struct tlx_id3_context;  // the engine's record; applications never see it

/// The tags of one MP3 file, read and changed by property identifier.
///
/// Open reads every property into memory; gets answer from there, puts
/// change it and record the edit; Close writes all changes back in one
/// crash-safe rewrite of the file. Result codes common to every get and put:
/// E_UNEXPECTED when the object is not open, E_TAG_UNSUPPORTED for an
/// identifier the call does not take. Puts also fail with E_FAIL on an object
/// opened read only; on a file whose ID3v2 tag is of a version the open
/// mode does not write (ID3v2.4 without TAGKIT_OPEN_V24) with
/// E_TAG_UNSUPPORTED; and on a file whose ID3v2 tag is damaged (it runs past
/// the end of the file, or a frame runs past the end of the tag) with
/// E_TAG_DAMAGED. PutBinary answers E_FAIL for both. TAGKIT_OPEN_V24 says how
/// ID3v2.4 tags are read and written.
///
/// Values are exchanged in vectors of boost::shared_ptr: after a get the
/// caller shares the object's cached value objects; after a put the object
/// keeps the caller's. Not thread-safe: one thread at a time per object.
class TLX_API CTagkit {
 public:
  class CPicture;  // tagkit_picture.h
  class CMusicId;  // tagkit_music_id.h
  class CGeob;     // tagkit_geob.h

  /// Pictures of PROPID_PICTURE.
  typedef std::vector<boost::shared_ptr<CPicture> > PictureVector;
  /// Music identifiers of PROPID_MUSIC_ID.
  typedef std::vector<boost::shared_ptr<CMusicId> > MusicIdVector;
  /// Encapsulated objects of PROPID_OBJECT_MTDID and PROPID_OBJECT_QZVLX.
  typedef std::vector<boost::shared_ptr<CGeob> > GeobVector;

  /// A closed object.
  CTagkit();
  /// Copies of a closed object are member-wise (the value objects of the
  /// caches are shared). A copy of an open object is closed and empty: the
  /// file and its pending changes stay with the source alone, so no file is
  /// closed twice and no change is committed twice. A copy for which memory
  /// runs out is closed and empty too; no exception leaves it.
  CTagkit(const CTagkit& other);
  /// Copies as the copy constructor does; the target is first closed without
  /// committing, as by its destructor.
  CTagkit& operator=(const CTagkit& other);
  /// Closes the file and drops uncommitted changes: only Close commits.
  virtual ~CTagkit();

  /// Opens the file at @p path and reads all its properties.
  /// @param path the file; converted to UTF-8 for the system.
  /// @param mode TAGKIT_OPEN_READ (1): read only, others may read too;
  ///   TAGKIT_OPEN_WRITE (2): read and write, nobody else may write; either
  ///   may be combined with TAGKIT_OPEN_V24 and TAGKIT_OPEN_SPLIT_LINKS.
  /// @return S_OK; E_TAG_FILE_NOT_FOUND (no such file, or not a regular
  ///   file: a directory, a named pipe),
  ///   E_TAG_CANNOT_OPEN (already open, access denied, or the file is
  ///   opened for writing elsewhere), E_INVALIDARG (another mode),
  ///   E_OUTOFMEMORY, or E_FAIL (the tags cannot be read, also when reading
  ///   the file failed part way: a file that cannot be read reliably is not
  ///   edited); a failure leaves the object closed.
  HRESULT Open(const std::wstring& path, std::int32_t mode);
  /// Commits pending changes (one rewrite of the file, ID3v1 trailer
  /// included), then closes. The object is closed afterwards even when the
  /// commit fails, and the failure is returned; a failed commit leaves the
  /// file as it was.
  /// @return S_OK (also for an object that is not open); E_FAIL when the
  ///   commit failed (also when reading the file failed after Open: such a
  ///   file is not edited); E_OUTOFMEMORY.
  HRESULT Close();

  /// The first and last bytes of the open file and its length: what tells
  /// which tags it holds (an ID3v2 header, an ID3v1 trailer) and whether it
  /// is MP3 audio at all, without opening it again. The head costs no read
  /// after Open, the trailer at most one.
  struct FileEnds {
    unsigned char head[10];      ///< the first bytes of the file
    std::int32_t headSize;       ///< 10; fewer only for a shorter file
    unsigned char trailer[128];  ///< the last 128 bytes; zero for a shorter file
    bool hasTrailer;             ///< trailer begins with "TAG"
    std::int64_t fileSize;       ///< -1 for a file of 2 GiB or more
  };
  /// @return S_OK; E_UNEXPECTED when the object is not open; E_FAIL when
  ///   the file cannot be read.
  HRESULT GetFileEnds(FileEnds& ends);

  /// Reads a text property (PROPID_TRACK, PROPID_ISRC, PROPID_TITLE,
  /// PROPID_GENRE, PROPID_COPYRIGHT, PROPID_ALBUM, PROPID_ARTIST,
  /// PROPID_COMPOSER, PROPID_ARTIST_URL). A property that the ID3v2 tag
  /// lacks is taken from the ID3v1 trailer when that has the field.
  /// @param id the property.
  /// @param values replaced only on success: one string, or one per URL.
  /// @return S_OK; E_TAG_NO_VALUE when absent; E_TAG_UNSUPPORTED;
  ///   E_UNEXPECTED.
  HRESULT GetString(std::int32_t id, std::vector<std::wstring>& values);
  /// Writes the first string (every non-empty string for PROPID_ARTIST_URL);
  /// an empty vector deletes the property. Title, artist, album, genre and
  /// track also go to the ID3v1 trailer at Close. Setters refuse changes on
  /// an object opened read only (E_FAIL) and on a file whose ID3v2 tag has a
  /// version the open mode does not write, ID3v2.4 without TAGKIT_OPEN_V24
  /// (here E_TAG_UNSUPPORTED).
  /// @return S_OK; E_FAIL; E_TAG_UNSUPPORTED; E_UNEXPECTED.
  HRESULT PutString(std::int32_t id, const std::vector<std::wstring>& values);

  /// Reads PROPID_RELEASE_DATE as an OLE date (see CXDate).
  /// @return S_OK; E_TAG_NO_VALUE when the file has no release date;
  ///   E_TAG_UNSUPPORTED for another identifier.
  HRESULT GetDate(std::int32_t id, double& value);
  /// Writes PROPID_RELEASE_DATE; only the calendar date is stored (the ID3v1
  /// year too). TAGKIT_NO_DATE deletes the date. @p value is not changed.
  /// @return S_OK; E_FAIL for a date before the year 1000 or after
  ///   31 December 9999, or on a read-only object; E_TAG_UNSUPPORTED;
  ///   E_UNEXPECTED.
  HRESULT PutDate(std::int32_t id, double& value);

  /// Reads PROPID_PICTURE: the first attached picture.
  /// @return S_OK; E_TAG_NO_VALUE; E_TAG_UNSUPPORTED; E_UNEXPECTED.
  HRESULT GetBinary(std::int32_t id, PictureVector& values);
  /// Writes PROPID_PICTURE: the first picture replaces every stored one (as
  /// the front cover); an empty vector deletes them.
  /// @return S_OK; E_POINTER for a null first element; E_INVALIDARG for a
  ///   picture too large for a frame; E_FAIL (also read only, or ID3v2.4
  ///   without TAGKIT_OPEN_V24);
  ///   E_TAG_UNSUPPORTED; E_UNEXPECTED.
  HRESULT PutBinary(std::int32_t id, const PictureVector& values);

  /// Reads PROPID_MUSIC_ID, the unique-file-identifier frame.
  /// @return S_OK; E_TAG_NO_VALUE; E_UNEXPECTED.
  HRESULT GetMusicId(MusicIdVector& values);
  /// Writes the first music identifier (an empty owner is filled with this
  /// library's owner); an empty vector deletes it. Nothing changes when the
  /// value cannot be written.
  /// @return S_OK; E_TAG_FOREIGN_MUSIC_ID when the file's identifier has
  ///   another owner (it is kept); E_POINTER for a null first element;
  ///   E_UNEXPECTED when its data is not set; E_FAIL; E_TAG_UNSUPPORTED.
  HRESULT PutMusicId(const MusicIdVector& values);

  /// Reads PROPID_OBJECT_MTDID or PROPID_OBJECT_QZVLX.
  /// @return S_OK; E_TAG_NO_VALUE; E_UNEXPECTED.
  HRESULT GetGeob(std::int32_t id, GeobVector& values);
  /// Writes the first object of PROPID_OBJECT_MTDID or PROPID_OBJECT_QZVLX
  /// (written at Close); an empty vector deletes it.
  /// @return S_OK; E_POINTER for a null first element; E_INVALIDARG for an
  ///   object too large for a frame; E_FAIL; E_TAG_UNSUPPORTED; E_UNEXPECTED.
  HRESULT PutGeob(std::int32_t id, const GeobVector& values);

  // ---- Frames by identifier ------------------------------------------------
  // Frame identifiers are ASCII: four characters ("TPE2") or the three of
  // ID3v2.2 ("TP2"). Either form is accepted and written as the tag's
  // version names the frame; a frame that ID3v2.2 cannot hold is refused
  // there with E_TAG_UNSUPPORTED. Text goes out as ISO-8859-1 when every
  // character fits (C1 control characters excepted, which code-page readers
  // would take for letters), else as UTF-16 with a byte-order mark; in an
  // ID3v2.4 tag as UTF-8. These edits join the same transaction as the puts
  // above, and Close commits them all in one rewrite. Results common to all
  // of them: E_UNEXPECTED (not open), E_FAIL (read only, or the tag cannot
  // be edited), E_TAG_UNSUPPORTED (ID3v2.4 without TAGKIT_OPEN_V24),
  // E_TAG_DAMAGED, E_TAG_READ_ONLY (a frame to replace or remove is flagged
  // read only; nothing changes), E_INVALIDARG (a malformed identifier or
  // language, or a value too large for a frame).

  /// Writes the comment (COMM; ID3v2.2 COM) with this language and
  /// description, replacing the comments with the same language and
  /// description; the others stay. Empty text removes those comments.
  /// @param language three ASCII letters, e.g. L"eng".
  /// @param description the comment's short description, often empty.
  /// @param text the comment itself.
  /// @return S_OK, or the common results above.
  HRESULT PutComment(const std::wstring& language, const std::wstring& description,
                     const std::wstring& text);
  /// Writes the unsynchronised lyrics (USLT; ID3v2.2 ULT) with this language
  /// and description, as PutComment does for comments.
  /// @return S_OK, or the common results above.
  HRESULT PutLyrics(const std::wstring& language, const std::wstring& description,
                    const std::wstring& text);
  /// Writes the user-defined text (TXXX; ID3v2.2 TXX) with this
  /// description, replacing those with the same description. An empty value
  /// removes them.
  /// @return S_OK, or the common results above.
  HRESULT PutUserText(const std::wstring& description, const std::wstring& value);
  /// Writes a text frame (T*** but TXXX) holding @p text, replacing every
  /// frame with the identifier; empty text removes them. A frame that backs
  /// a text property (TIT2, TPE1, TALB, TCON, TRCK, TCOM, TCOP, TSRC) is put
  /// as PutString puts it, so that the ID3v1 trailer follows.
  /// @return S_OK; E_INVALIDARG also for an identifier that is no text frame
  ///   or is TXXX (PutUserText); E_TAG_UNSUPPORTED also for the frames of the
  ///   release date (TYER, TDAT, TIME, TRDA, TDRC: PutDate writes them); the
  ///   common results above.
  HRESULT PutFrameText(const std::string& frameId, const std::wstring& text);
  /// Removes every frame with the identifier. The frames of a property
  /// leave it absent (text properties and artist URLs as by an empty
  /// PutString, so the ID3v1 fields follow; pictures, music identifiers and
  /// encapsulated objects, also those that could not be read).
  /// @return S_OK when frames were removed, S_FALSE when there were none;
  ///   E_TAG_UNSUPPORTED also for the frames of the release date (PutDate
  ///   removes them); the common results above.
  HRESULT RemoveFrames(const std::string& frameId);
  /// Removes the frames with the identifier whose description is
  /// @p description (compared exactly): TXXX, WXXX, COMM, USLT, APIC and
  /// GEOB, whatever their language. When the first picture frame goes, the
  /// picture property is the next one (absent when that cannot be read); an
  /// object of PROPID_OBJECT_MTDID or PROPID_OBJECT_QZVLX removed so leaves
  /// the property absent.
  /// @return as RemoveFrames; E_INVALIDARG also for a frame without a
  ///   description.
  HRESULT RemoveFrames(const std::string& frameId, const std::wstring& description);

 private:
  // ---- tagkit_class.cc: lifecycle ----
  HRESULT Clear();
  HRESULT GetV2version(std::int32_t& version);
  HRESULT GetAllProperty();
  tlx_id3_context* Context();
  void CopyClosedState(const CTagkit& other);
  HRESULT CopyCaches(const CTagkit& other);

  // ---- tagkit_frames.cc: identifiers and the frame table ----
  bool CheckStringPropertyID(std::int32_t id) const;
  bool CheckBinaryPropertyID(std::int32_t id) const;
  // Opened with TAGKIT_OPEN_V24.
  bool V24Enabled();
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
  // Data of the occurrence-th frame with the identifier, lent by the engine
  // until the next engine call: nothing is copied.
  HRESULT GetV2Data(std::uint32_t frameId, std::uint32_t occurrence,
                    const unsigned char*& data, std::uint32_t& size);
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
  HRESULT GetGeobsInternal(const std::int32_t (&ids)[2], GeobVector (&values)[2],
                           HRESULT (&results)[2]);
  HRESULT updateGeob();
  HRESULT deleteGeob();
  HRESULT updateFrame();

  // ---- tagkit_frames_edit.cc: frames by identifier ----
  // Where the stored frames stood in the transaction's list when it began,
  // so that each entry can be matched to the stored frame it stands for.
  void RecordStoredFrames() noexcept;
  HRESULT EditFrameId(const std::string& frameId, std::uint32_t& tagId,
                      std::uint32_t& v23Id) const;
  HRESULT PutDescribedText(std::uint32_t v23Id, const std::wstring* language,
                           const std::wstring& description, const std::wstring& text);
  HRESULT PutPlainText(std::uint32_t tagId, const std::wstring& text);
  HRESULT RemoveMatching(std::uint32_t tagId, std::uint32_t v23Id,
                         const std::wstring* description);
  // Removes the frames of the identifier whose description is the given
  // one, read-only ones kept; no cache changes.
  HRESULT RemoveDescribed(std::uint32_t tagId, std::uint32_t v23Id,
                          const std::wstring& description);
  HRESULT RemovePropertyFrames(std::uint32_t tagId, std::int32_t property);
  HRESULT RefreshPicture(std::uint32_t tagId);

  // The engine context, held by value; its size is checked where the
  // engine's declaration is visible.
  static constexpr std::size_t kContextSize = 64;
  alignas(8) unsigned char m_context[kContextSize];
  bool m_isOpen;
  bool m_isEditing;
  // While open the version of the tag read (0: ID3v2.2, 1: ID3v2.3, or 2:
  // ID3v2.4, only with TAGKIT_OPEN_V24; a file without a usable tag counts
  // as ID3v2.3); -999 when closed.
  std::int32_t m_v2Version;
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
  // Picture and music identifier properties whose frame this transaction
  // added: it is the first of its kind, before any stored frame kept
  // because it could not be read.
  std::set<std::int32_t> m_addedFirst;
  bool m_foreignMusicId;
  // (identifier, offset) of each stored frame in list order when the
  // transaction began; m_storedFramesKnown is false when that could not be
  // recorded (memory ran out), and frame edits are then refused.
  std::vector<std::pair<std::uint32_t, std::uint32_t> > m_storedFrames;
  bool m_storedFramesKnown;
};

#include "tagkit_geob.h"
#include "tagkit_music_id.h"
#include "tagkit_picture.h"
#include "xdate.h"

#endif  // TAGKIT_TAGKIT_TAGKIT_H_
