// The 128-byte ID3v1 / ID3v1.1 trailer: each field read on request and
// written in place, one field per call; a missing trailer is appended by the
// first write.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "id3_internal.h"

namespace {

const int32_t kTrailerSize = 128;
const uint32_t kTextWidth = 30;
const uint32_t kTitleAt = 3;
const uint32_t kArtistAt = 33;
const uint32_t kAlbumAt = 63;
const uint32_t kYearAt = 93;
const uint32_t kCommentAt = 97;
const uint32_t kTrackAt = 125;
const uint32_t kGenreAt = 127;

int32_t Fail(const char* format, const char* name, int32_t code) {
  tlx_trace_error(format, name);
  return code;
}

bool StateForbidsReading(const tlx_id3_context* ctx) {
  return ctx->state == TLX_ID3_STATE_READING || ctx->state == TLX_ID3_STATE_WRITING;
}

int32_t ReadTrailer(tlx_id3_context* ctx, uint8_t trailer[kTrailerSize], const char* name) {
  // A file shorter than the trailer cannot be positioned at -128.
  if (tlx_id3_seek_content(ctx, -kTrailerSize, 2) < 0) {
    return Fail("in %s() tlx_lseek() failed.", name, TLX_ID3_E_SEEK);
  }
  if (tlx_id3_read_content(ctx, trailer, kTrailerSize) < kTrailerSize) {
    return Fail("in %s() TLX_SQA_READ() failed.", name, TLX_ID3_E_READ);
  }
  if (memcmp(trailer, "TAG", 3) != 0) {
    return Fail("in %s() file is invalid.", name, TLX_ID3_E_NOT_FOUND);
  }
  return TLX_ID3_OK;
}

// What every getter starts with: its arguments, the state, the trailer.
int32_t ReadTrailerFor(tlx_id3_context* ctx, bool have_output, uint8_t trailer[kTrailerSize],
                       const char* name) {
  if (ctx == NULL || !have_output) {
    return Fail("in %s() parameter is invalid.", name, TLX_ID3_E_PARAM);
  }
  if (StateForbidsReading(ctx)) {
    return Fail("in %s() transaction is invalid.", name, TLX_ID3_E_STATE);
  }
  return ReadTrailer(ctx, trailer, name);
}

// Text of a 30-byte field with trailing white space removed.
int32_t GetText(tlx_id3_context* ctx, uint32_t* size, char* buffer, uint32_t at,
                const char* name, const char* exit_message) {
  uint8_t trailer[kTrailerSize];
  int32_t rc = ReadTrailerFor(ctx, size != NULL && buffer != NULL, trailer, name);
  if (rc != TLX_ID3_OK) return rc;
  uint32_t n = *size < kTextWidth ? *size : kTextWidth;
  memcpy(buffer, trailer + at, n);
  buffer[n] = '\0';
  for (uint32_t i = n; i > 0 && isspace(static_cast<unsigned char>(buffer[i - 1])); --i) {
    buffer[i - 1] = '\0';
  }
  *size = static_cast<uint32_t>(strlen(buffer));
  tlx_trace(exit_message);
  return TLX_ID3_OK;
}

// Bytes of a text to store in a field of `width`: a UTF-16 text (with a
// byte-order mark) up to and including its 00 00 terminator, any other text
// with its zero byte; never more than the width.
uint32_t TextLength(const char* text, uint32_t width) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
  uint32_t length;
  size_t narrow = strlen(text);
  if (narrow >= 2 && ((bytes[0] == 0xFE && bytes[1] == 0xFF) ||
                      (bytes[0] == 0xFF && bytes[1] == 0xFE))) {
    // The scan stops at the width: nothing past it would be stored.
    length = width;
    for (uint32_t i = 0; i + 1 < width; i += 2) {
      if (bytes[i] == 0 && bytes[i + 1] == 0) {
        length = i + 2;
        break;
      }
    }
  } else {
    length = narrow + 1 > width ? width : static_cast<uint32_t>(narrow + 1);
  }
  return length < width ? length : width;
}

// Writes `width` bytes at field offset `at`: the first `length` bytes of
// text, the rest spaces. Appends a new trailer when the file has none.
int32_t WriteField(tlx_id3_context* ctx, const uint8_t* text, uint32_t length, uint32_t width,
                   uint32_t at, const char* name) {
  uint8_t trailer[kTrailerSize];
  int32_t read_rc = ReadTrailer(ctx, trailer, name);
  if (read_rc == TLX_ID3_OK) {
    uint8_t field[kTextWidth];
    memset(field, ' ', sizeof field);
    memcpy(field, text, length);
    if (tlx_id3_seek_content(ctx, static_cast<int32_t>(at) - kTrailerSize, 2) < 0) {
      return Fail("in %s() tlx_lseek() failed.", name, TLX_ID3_E_SEEK);
    }
    int32_t wrote = tlx_id3_write_content(ctx, field, width);
    if (wrote < 0 || static_cast<uint32_t>(wrote) < width) {
      return Fail("in %s() TLX_SQA_WRITE() failed.", name, TLX_ID3_E_WRITE);
    }
    return TLX_ID3_OK;
  }
  // Append only when the file truly has no trailer: a failed read of an
  // existing one must not leave a second trailer behind it.
  int32_t end = tlx_id3_seek_content(ctx, 0, 2);
  if (end < 0) {
    return Fail("in %s() tlx_lseek() failed.", name, TLX_ID3_E_SEEK);
  }
  if (read_rc != TLX_ID3_E_NOT_FOUND && end >= kTrailerSize) return read_rc;
  memset(trailer, ' ', sizeof trailer);
  memcpy(trailer, "TAG", 3);
  trailer[kGenreAt] = 0xFF;
  memcpy(trailer + at, text, length);
  int32_t wrote = tlx_id3_write_content(ctx, trailer, kTrailerSize);
  if (wrote < kTrailerSize) {
    return Fail("in %s() TLX_SQA_WRITE() failed.", name, TLX_ID3_E_WRITE);
  }
  return TLX_ID3_OK;
}

int32_t CheckSetter(tlx_id3_context* ctx, const void* argument, const char* name) {
  if (ctx == NULL || argument == NULL) {
    return Fail("in %s() parameter is invalid.", name, TLX_ID3_E_PARAM);
  }
  if (ctx->state != TLX_ID3_STATE_IDLE) {
    return Fail("in %s() transaction is invalid.", name, TLX_ID3_E_STATE);
  }
  return TLX_ID3_OK;
}

int32_t SetText(tlx_id3_context* ctx, const char* text, uint32_t at, const char* name,
                const char* exit_message) {
  int32_t rc = CheckSetter(ctx, text, name);
  if (rc != TLX_ID3_OK) return rc;
  if (strlen(text) > kTextWidth) {
    return Fail("in %s() parameter is invalid.", name, TLX_ID3_E_PARAM);
  }
  rc = WriteField(ctx, reinterpret_cast<const uint8_t*>(text), TextLength(text, kTextWidth),
                  kTextWidth, at, name);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace(exit_message);
  return TLX_ID3_OK;
}

// The ID3v1.1 track number: byte 126 when byte 125 is zero.
int32_t ReadTrack(tlx_id3_context* ctx, uint8_t* track, const char* name) {
  uint8_t trailer[kTrailerSize];
  int32_t rc = ReadTrailer(ctx, trailer, name);
  if (rc != TLX_ID3_OK) return rc;
  if (trailer[kTrackAt] != 0) return TLX_ID3_E_NOT_FOUND;
  *track = trailer[kTrackAt + 1];
  return TLX_ID3_OK;
}

}  // namespace

int32_t tlx_id3_v1_get_title(tlx_id3_context* ctx, uint32_t* size, char* buffer) {
  tlx_trace("tlx_id3_v1_get_title() enter");
  return GetText(ctx, size, buffer, kTitleAt, "tlx_id3_v1_get_title",
                 "tlx_id3_v1_get_title() exit");
}

int32_t tlx_id3_v1_get_artist(tlx_id3_context* ctx, uint32_t* size, char* buffer) {
  tlx_trace("tlx_id3_v1_get_artist() enter");
  return GetText(ctx, size, buffer, kArtistAt, "tlx_id3_v1_get_artist",
                 "tlx_id3_v1_get_artist() exit");
}

int32_t tlx_id3_v1_get_album(tlx_id3_context* ctx, uint32_t* size, char* buffer) {
  tlx_trace("tlx_id3_v1_get_album() enter");
  return GetText(ctx, size, buffer, kAlbumAt, "tlx_id3_v1_get_album",
                 "tlx_id3_v1_get_album() exit");
}

int32_t tlx_id3_v1_get_comment(tlx_id3_context* ctx, uint32_t* size, char* buffer) {
  tlx_trace("tlx_id3_v1_get_comment() enter");
  return GetText(ctx, size, buffer, kCommentAt, "tlx_id3_v1_get_comment",
                 "tlx_id3_v1_get_comment() exit");
}

int32_t tlx_id3_v1_get_year(tlx_id3_context* ctx, int32_t* year) {
  static const char kName[] = "tlx_id3_v1_get_year";
  tlx_trace("tlx_id3_v1_get_year() enter");
  uint8_t trailer[kTrailerSize];
  int32_t rc = ReadTrailerFor(ctx, year != NULL, trailer, kName);
  if (rc != TLX_ID3_OK) return rc;
  char text[5];
  memcpy(text, trailer + kYearAt, 4);
  text[4] = '\0';
  *year = atoi(text);
  tlx_trace("tlx_id3_v1_get_year() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v1_get_genre(tlx_id3_context* ctx, uint32_t* genre) {
  static const char kName[] = "tlx_id3_v1_get_genre";
  tlx_trace("tlx_id3_v1_get_genre() enter");
  uint8_t trailer[kTrailerSize];
  int32_t rc = ReadTrailerFor(ctx, genre != NULL, trailer, kName);
  if (rc != TLX_ID3_OK) return rc;
  *genre = trailer[kGenreAt];
  tlx_trace("tlx_id3_v1_get_genre() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v1_get_tracknumebr(tlx_id3_context* ctx, uint8_t* track) {
  static const char kName[] = "tlx_id3_v1_get_tracknumebr";
  tlx_trace("tlx_id3_v1_get_tracknumebr() enter");
  if (ctx == NULL || track == NULL) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  if (StateForbidsReading(ctx)) {
    return Fail("in %s() transaction is invalid.", kName, TLX_ID3_E_STATE);
  }
  int32_t rc = ReadTrack(ctx, track, kName);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v1_get_tracknumebr exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v1_set_title(tlx_id3_context* ctx, const char* title) {
  tlx_trace("tlx_id3_v1_set_title() enter");
  return SetText(ctx, title, kTitleAt, "tlx_id3_v1_set_title", "tlx_id3_v1_set_title() exit");
}

int32_t tlx_id3_v1_set_artist(tlx_id3_context* ctx, const char* artist) {
  tlx_trace("tlx_id3_v1_set_artist() enter");
  return SetText(ctx, artist, kArtistAt, "tlx_id3_v1_set_artist",
                 "tlx_id3_v1_set_artist() exit");
}

int32_t tlx_id3_v1_set_album(tlx_id3_context* ctx, const char* album) {
  tlx_trace("tlx_id3_v1_set_album() enter");
  return SetText(ctx, album, kAlbumAt, "tlx_id3_v1_set_album", "tlx_id3_v1_set_album() exit");
}

int32_t tlx_id3_v1_set_comment(tlx_id3_context* ctx, const char* comment) {
  static const char kName[] = "tlx_id3_v1_set_comment";
  tlx_trace("tlx_id3_v1_set_comment() enter");
  int32_t rc = CheckSetter(ctx, comment, kName);
  if (rc != TLX_ID3_OK) return rc;
  if (strlen(comment) > kTextWidth) {
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  // With an ID3v1.1 track number the comment keeps off bytes 125-126.
  uint8_t track = 0;
  uint32_t width = ReadTrack(ctx, &track, kName) == TLX_ID3_OK ? 28 : kTextWidth;
  rc = WriteField(ctx, reinterpret_cast<const uint8_t*>(comment),
                  TextLength(comment, kTextWidth) < width ? TextLength(comment, kTextWidth)
                                                          : width,
                  width, kCommentAt, kName);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v1_set_comment() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v1_set_year(tlx_id3_context* ctx, int32_t year) {
  static const char kName[] = "tlx_id3_v1_set_year";
  tlx_trace("tlx_id3_v1_set_year() enter");
  int32_t rc = CheckSetter(ctx, ctx, kName);
  if (rc != TLX_ID3_OK) return rc;
  char text[5] = {' ', ' ', ' ', ' ', '\0'};
  if (year != 0) {
    int written = snprintf(text, sizeof text, "%d", static_cast<int>(year));
    if (written != 4) return Fail("in %s() snprintf() failed.", kName, TLX_ID3_E_PARAM);
  }
  rc = WriteField(ctx, reinterpret_cast<const uint8_t*>(text), 4, 4, kYearAt, kName);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v1_set_year() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v1_set_genre(tlx_id3_context* ctx, uint8_t genre) {
  static const char kName[] = "tlx_id3_v1_set_genre";
  tlx_trace("tlx_id3_v1_set_genre() enter");
  int32_t rc = CheckSetter(ctx, ctx, kName);
  if (rc != TLX_ID3_OK) return rc;
  rc = WriteField(ctx, &genre, 1, 1, kGenreAt, kName);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v1_set_genre() exit");
  return TLX_ID3_OK;
}

int32_t tlx_id3_v1_set_tracknumber(tlx_id3_context* ctx, uint8_t track) {
  static const char kName[] = "tlx_id3_v1_set_tracknumber";
  tlx_trace("tlx_id3_v1_set_tracknumber() enter");
  int32_t rc = CheckSetter(ctx, ctx, kName);
  if (rc != TLX_ID3_OK) return rc;
  const uint8_t pair[2] = {0, track};
  rc = WriteField(ctx, pair, 2, 2, kTrackAt, kName);
  if (rc != TLX_ID3_OK) return rc;
  tlx_trace("tlx_id3_v1_set_tracknumber() exit");
  return TLX_ID3_OK;
}
