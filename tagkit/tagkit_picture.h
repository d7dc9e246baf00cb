/// @file
/// CTagkit::CPicture, the value of PROPID_PICTURE.
#ifndef TAGKIT_TAGKIT_TAGKIT_PICTURE_H_
#define TAGKIT_TAGKIT_TAGKIT_PICTURE_H_

#include <cstdint>
#include <string>

#include "tagkit.h"

/// The bytes and MIME type of an attached picture, as read from an APIC
/// (ID3v2.3 and 2.4) or PIC (ID3v2.2) frame. Picture type and description are not
/// kept; written frames say "front cover" with an empty description.
///
/// The object owns a copy of the picture bytes and frees it when destroyed.
/// No method throws: memory running out is E_OUTOFMEMORY; the sizes only
/// read members.
class TLX_API CTagkit::CPicture {
 public:
  /// An empty picture: no bytes, empty MIME type.
  CPicture();
  /// Frees the picture bytes.
  virtual ~CPicture();
  // Owns a raw buffer: shared through boost::shared_ptr, never copied.
  CPicture(const CPicture&) = delete;
  CPicture& operator=(const CPicture&) = delete;

  /// Replaces the bytes with a copy of @p size bytes at @p data; the caller
  /// keeps its buffer. The MIME type is kept.
  /// @return S_OK; E_POINTER for null data; E_INVALIDARG for a negative size;
  ///   E_OUTOFMEMORY (the picture is then empty).
  HRESULT SetData(const unsigned char* data, std::int32_t size);
  /// Copies min(Size(), size) bytes into the caller's buffer @p *data, which
  /// the caller allocates and owns and which must hold @p size bytes, and
  /// sets @p size to the number copied. Nothing is allocated.
  /// @return S_OK; E_POINTER when @p data is null, or @p *data is null while
  ///   there are bytes to copy.
  HRESULT GetData(unsigned char** data, std::int32_t& size);
  /// Number of picture bytes.
  std::int32_t Size() const;
  /// The picture bytes themselves, Size() of them (null when there are
  /// none), for reading without a copy; valid until the object is changed
  /// or destroyed.
  const unsigned char* Data() const;
  /// Sets the MIME type, e.g. L"image/jpeg". @return S_OK.
  HRESULT SetMime(const std::wstring& mime);
  /// Copies the MIME type into @p mime. @return S_OK.
  HRESULT GetMime(std::wstring& mime);
  /// The MIME type; an empty text when memory runs out (it never throws: use
  /// GetMime to tell that case apart).
  std::wstring Mime() const;
  /// SetData, then SetMime; a failed SetData leaves the MIME type as it was.
  /// @return as SetData.
  HRESULT SetAll(const unsigned char* data, std::int32_t size, const std::wstring& mime);

  /// Fills the object from an APIC frame payload (ID3v2.3).
  /// @return S_OK; E_POINTER for null; E_FAIL for an encoding other than 0
  ///   or 1 or a terminator missing inside the payload; E_OUTOFMEMORY.
  HRESULT SetAPIC(const unsigned char* payload, std::int32_t size);
  /// Fills the object from a PIC frame payload (ID3v2.2, three-letter image
  /// format). @return as SetAPIC.
  HRESULT SetPIC(const unsigned char* payload, std::int32_t size);

 private:
  friend class CTagkit;  // hands over the frames it reads (ReadFrame)

  HRESULT DeleteData();
  // The offset of the picture data in an APIC (v22: PIC) frame payload, with
  // its MIME type; -1 for a payload that is not one. v24Text also accepts
  // the ID3v2.4 encodings 2 and 3 for the description.
  static std::int32_t ParseFrame(const unsigned char* payload, std::int32_t size, bool v22,
                                 bool v24Text, std::wstring& mime);
  // As SetAPIC (v22: SetPIC), for the frames the class reads. With borrow
  // the picture points into payload instead of copying it, and KeepBlock
  // must hand it payload's block before that block goes.
  HRESULT ReadFrame(const unsigned char* payload, std::int32_t size, bool v22, bool v24Text,
                    bool borrow = false);
  // Hands block (from tlx_sqa_malloc), in which the bytes of pictures that
  // ReadFrame borrowed lie, to the first of them; the others copy theirs out
  // of it. block is null afterwards when a picture took it.
  static HRESULT KeepBlock(PictureVector& pictures, unsigned char*& block);
  // Frees m_block.
  void ReleaseBlock();

  // The allocation that m_data lies in (tlx_sqa_malloc); null for bytes
  // borrowed and not yet kept.
  unsigned char* m_block;
  unsigned char* m_data;
  std::int32_t m_size;
  std::wstring m_mime;
};

#endif  // TAGKIT_TAGKIT_TAGKIT_PICTURE_H_
