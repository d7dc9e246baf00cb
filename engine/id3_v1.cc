// The 128-byte ID3v1 / ID3v1.1 trailer: each field read on request and
// written in place, one field per call; a missing trailer is appended by the
// first write. A field write works on a 128-byte image of the trailer, so
// that the writes staged in an editing transaction give the same bytes in
// the rewritten file as the setters would after the commit.
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
  // A file shorter than the trailer cannot be positioned at -128: it has
  // none, which only its length tells from a failed positioning.
  if (tlx_id3_seek_content(ctx, -kTrailerSize, 2) < 0) {
    int32_t length = tlx_id3_position_content(ctx, 0, 2);
    if (length >= 0 && length < kTrailerSize) {
      return Fail("in %s() file is invalid.", name, TLX_ID3_E_NOT_FOUND);
    }
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

// A field's new bytes: the stored text and how many of the field's bytes it
// fills; the rest of the field is blanks.
struct FieldText {
  uint8_t bytes[kTextWidth];
  uint32_t length;
};

// The bytes of a text to store in a 30-byte field: a UTF-16 text (with a
// byte-order mark) up to its 00 00 terminator, any other text with its zero
// byte; never more than 30. The scan stops at the first two zero bytes
// whatever their alignment and never reads beyond them: a terminator one byte
// off its unit is completed with a zero byte rather than looked for further.
FieldText StoredText(const char* text) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
  FieldText out;
  memset(out.bytes, 0, sizeof out.bytes);
  size_t narrow = strlen(text);
  bool utf16 = narrow >= 2 && ((bytes[0] == 0xFE && bytes[1] == 0xFF) ||
                               (bytes[0] == 0xFF && bytes[1] == 0xFE));
  if (!utf16) {
    out.length = narrow + 1 > kTextWidth ? kTextWidth : static_cast<uint32_t>(narrow + 1);
    memcpy(out.bytes, text, out.length < narrow ? out.length : narrow);
    return out;
  }
  out.length = kTextWidth;
  for (uint32_t i = 0; i < kTextWidth; ++i) {
    out.bytes[i] = bytes[i];
    if (i == 0 || bytes[i] != 0 || bytes[i - 1] != 0) continue;
    // Zero bytes at i - 1 and i: an aligned pair is the terminator; one off
    // its unit gets the unit's second zero byte added.
    out.length = i % 2 == 1 ? i + 1 : i + 2;
    break;
  }
  return out;
}

// What one field write needs: the field, and for text the bytes to store,
// else the number. Checked when it is made.
struct FieldWrite {
  int32_t field;
  FieldText text;
  int32_t number;
};

const uint32_t kFieldAt[] = {kTitleAt, kArtistAt, kAlbumAt, kYearAt, kCommentAt, kGenreAt,
                             kTrackAt};

bool IsTextField(int32_t field) {
  return field == TLX_ID3_V1_TITLE || field == TLX_ID3_V1_ARTIST || field == TLX_ID3_V1_ALBUM ||
         field == TLX_ID3_V1_COMMENT;
}

// Checks a field write as its setter does and fills *write.
int32_t MakeFieldWrite(int32_t field, const char* text, int32_t number, FieldWrite* write) {
  memset(write, 0, sizeof *write);
  write->field = field;
  write->number = number;
  if (field < TLX_ID3_V1_TITLE || field > TLX_ID3_V1_TRACK) return TLX_ID3_E_PARAM;
  if (IsTextField(field)) {
    if (text == NULL || strlen(text) > kTextWidth) return TLX_ID3_E_PARAM;
    write->text = StoredText(text);
    return TLX_ID3_OK;
  }
  if (field == TLX_ID3_V1_YEAR) return number == 0 || (number >= 1000 && number <= 9999)
                                           ? TLX_ID3_OK : TLX_ID3_E_PARAM;
  return number >= 0 && number <= 255 ? TLX_ID3_OK : TLX_ID3_E_PARAM;
}

// Applies one field write to a 128-byte trailer image; a missing trailer
// (*present false) becomes a blank one first. [*from, *to) is the byte range
// that changed.
void ApplyFieldWrite(const FieldWrite& write, uint8_t image[kTrailerSize], bool* present,
                     uint32_t* from, uint32_t* to) {
  // The ID3v1.1 track number (byte 125 zero) keeps the comment off 125-126.
  const bool has_track = *present && image[kTrackAt] == 0;
  if (!*present) {
    memset(image, ' ', kTrailerSize);
    memcpy(image, "TAG", 3);
    image[kGenreAt] = 0xFF;
    *present = true;
  }
  const uint32_t at = kFieldAt[write.field];
  uint32_t width = 1;
  if (IsTextField(write.field)) {
    width = write.field == TLX_ID3_V1_COMMENT && has_track ? 28 : kTextWidth;
    const uint32_t length = write.text.length < width ? write.text.length : width;
    memset(image + at, ' ', width);
    memcpy(image + at, write.text.bytes, length);
  } else if (write.field == TLX_ID3_V1_YEAR) {
    width = 4;
    char digits[5] = {' ', ' ', ' ', ' ', '\0'};
    if (write.number != 0) snprintf(digits, sizeof digits, "%d", static_cast<int>(write.number));
    memcpy(image + at, digits, width);
  } else if (write.field == TLX_ID3_V1_TRACK) {
    width = 2;
    image[at] = 0;
    image[at + 1] = static_cast<uint8_t>(write.number);
  } else {
    image[at] = static_cast<uint8_t>(write.number);
  }
  *from = at;
  *to = at + width;
}

// Writes one field into the file's trailer, appending a new trailer when the
// file has none.
int32_t WriteField(tlx_id3_context* ctx, const FieldWrite& write, const char* name) {
  uint8_t trailer[kTrailerSize];
  int32_t read_rc = ReadTrailer(ctx, trailer, name);
  // Append only when the file truly has no trailer: a failed read of an
  // existing one must not leave a second trailer behind it.
  if (read_rc != TLX_ID3_OK && read_rc != TLX_ID3_E_NOT_FOUND) return read_rc;
  bool present = read_rc == TLX_ID3_OK;
  uint32_t from = 0, to = 0;
  ApplyFieldWrite(write, trailer, &present, &from, &to);
  int32_t offset = read_rc == TLX_ID3_OK ? static_cast<int32_t>(from) - kTrailerSize : 0;
  if (read_rc != TLX_ID3_OK) from = 0, to = kTrailerSize;
  if (tlx_id3_seek_content(ctx, offset, 2) < 0) {
    return Fail("in %s() tlx_lseek() failed.", name, TLX_ID3_E_SEEK);
  }
  int32_t wrote = tlx_id3_write_content(ctx, trailer + from, to - from);
  if (wrote < 0 || static_cast<uint32_t>(wrote) < to - from) {
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

int32_t SetField(tlx_id3_context* ctx, int32_t field, const char* text, int32_t number,
                 const char* name, const char* exit_message) {
  int32_t rc = CheckSetter(ctx, IsTextField(field) ? static_cast<const void*>(text) : ctx, name);
  if (rc != TLX_ID3_OK) return rc;
  FieldWrite write;
  if (MakeFieldWrite(field, text, number, &write) != TLX_ID3_OK) {
    return Fail("in %s() parameter is invalid.", name, TLX_ID3_E_PARAM);
  }
  rc = WriteField(ctx, write, name);
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
  return SetField(ctx, TLX_ID3_V1_TITLE, title, 0, "tlx_id3_v1_set_title",
                  "tlx_id3_v1_set_title() exit");
}

int32_t tlx_id3_v1_set_artist(tlx_id3_context* ctx, const char* artist) {
  tlx_trace("tlx_id3_v1_set_artist() enter");
  return SetField(ctx, TLX_ID3_V1_ARTIST, artist, 0, "tlx_id3_v1_set_artist",
                  "tlx_id3_v1_set_artist() exit");
}

int32_t tlx_id3_v1_set_album(tlx_id3_context* ctx, const char* album) {
  tlx_trace("tlx_id3_v1_set_album() enter");
  return SetField(ctx, TLX_ID3_V1_ALBUM, album, 0, "tlx_id3_v1_set_album",
                  "tlx_id3_v1_set_album() exit");
}

int32_t tlx_id3_v1_set_comment(tlx_id3_context* ctx, const char* comment) {
  tlx_trace("tlx_id3_v1_set_comment() enter");
  return SetField(ctx, TLX_ID3_V1_COMMENT, comment, 0, "tlx_id3_v1_set_comment",
                  "tlx_id3_v1_set_comment() exit");
}

int32_t tlx_id3_v1_set_year(tlx_id3_context* ctx, int32_t year) {
  tlx_trace("tlx_id3_v1_set_year() enter");
  return SetField(ctx, TLX_ID3_V1_YEAR, NULL, year, "tlx_id3_v1_set_year",
                  "tlx_id3_v1_set_year() exit");
}

int32_t tlx_id3_v1_set_genre(tlx_id3_context* ctx, uint8_t genre) {
  tlx_trace("tlx_id3_v1_set_genre() enter");
  return SetField(ctx, TLX_ID3_V1_GENRE, NULL, genre, "tlx_id3_v1_set_genre",
                  "tlx_id3_v1_set_genre() exit");
}

int32_t tlx_id3_v1_set_tracknumber(tlx_id3_context* ctx, uint8_t track) {
  tlx_trace("tlx_id3_v1_set_tracknumber() enter");
  return SetField(ctx, TLX_ID3_V1_TRACK, NULL, track, "tlx_id3_v1_set_tracknumber",
                  "tlx_id3_v1_set_tracknumber() exit");
}

int32_t tlx_id3_v1_stage(tlx_id3_context* ctx, int32_t field, const char* text,
                         int32_t number) {
  static const char kName[] = "tlx_id3_v1_stage";
  tlx_trace("tlx_id3_v1_stage() enter");
  int32_t rc = tlx_id3_check_state(ctx, TLX_ID3_STATE_EDITING, kName);
  if (rc != TLX_ID3_OK) return rc;
  FieldWrite* write = static_cast<FieldWrite*>(tlx_sqa_malloc(sizeof(FieldWrite)));
  if (write == NULL) return Fail("in %s() tlx_sqa_malloc() failed.", kName, TLX_ID3_E_NOMEM);
  if (MakeFieldWrite(field, text, number, write) != TLX_ID3_OK) {
    tlx_sqa_free(write);
    return Fail("in %s() parameter is invalid.", kName, TLX_ID3_E_PARAM);
  }
  tlx_list* list = tlx_list_append(ctx->work->v1_stages, write);
  if (tlx_list_last(list) == NULL || tlx_list_last(list)->data != write) {
    tlx_sqa_free(write);
    return Fail("in %s() tlx_sqa_malloc() failed.", kName, TLX_ID3_E_NOMEM);
  }
  ctx->work->v1_stages = list;
  tlx_trace("tlx_id3_v1_stage() exit");
  return TLX_ID3_OK;
}

void tlx_id3_v1_free_stages(tlx_id3_work* work) {
  for (tlx_list* node = work->v1_stages; node != NULL; node = node->next) {
    tlx_sqa_free(node->data);
  }
  tlx_list_free(work->v1_stages);
  work->v1_stages = NULL;
}

int32_t tlx_id3_v1_apply_stages(tlx_id3_context* ctx, int handle) {
  static const char kName[] = "tlx_id3_v1_apply_stages";
  if (ctx == NULL || ctx->work == NULL || ctx->work->v1_stages == NULL) return TLX_ID3_OK;
  int32_t end = tlx_lseek(handle, 0, 2);
  if (end < 0) return Fail("in %s() tlx_lseek() failed.", kName, TLX_ID3_E_SEEK);
  uint8_t trailer[kTrailerSize];
  bool present = false;
  if (end >= kTrailerSize) {
    if (tlx_lseek(handle, end - kTrailerSize, 0) != end - kTrailerSize) {
      return Fail("in %s() tlx_lseek() failed.", kName, TLX_ID3_E_SEEK);
    }
    if (tlx_read(handle, trailer, kTrailerSize) != kTrailerSize) {
      return Fail("in %s() tlx_read() failed.", kName, TLX_ID3_E_READ);
    }
    present = memcmp(trailer, "TAG", 3) == 0;
  }
  const int32_t at = present ? end - kTrailerSize : end;
  for (tlx_list* node = ctx->work->v1_stages; node != NULL; node = node->next) {
    uint32_t from = 0, to = 0;
    ApplyFieldWrite(*static_cast<const FieldWrite*>(node->data), trailer, &present, &from, &to);
  }
  if (tlx_lseek(handle, at, 0) != at) {
    return Fail("in %s() tlx_lseek() failed.", kName, TLX_ID3_E_SEEK);
  }
  if (tlx_write(handle, trailer, kTrailerSize) != kTrailerSize) {
    return Fail("in %s() tlx_write() failed.", kName, TLX_ID3_E_WRITE);
  }
  return TLX_ID3_OK;
}
