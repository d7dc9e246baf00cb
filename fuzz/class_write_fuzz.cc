// The class's write path: Open read-write (without and with the ID3v2.4
// flag), one PutString and one PutBinary, Close; then the result is opened
// again and must hold what was written, followed by the input's audio bytes
// unchanged.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "tagkit.h"

namespace {

using tagkit_fuzz::Bytes;
using tagkit_fuzz::Fail;

const char kTarget[] = "class_write";
// Not representable in the code page, so the frame is written as UTF-16.
const std::wstring kTitle = L"Fuzz \u00e9t\u00e9 \u266b";
const std::uint8_t kPicture[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H'};
const std::size_t kTrailer = 128;

std::uint32_t SyncSafe(const std::uint8_t* p) {
  return (std::uint32_t)(p[0] & 0x7F) << 21 | (std::uint32_t)(p[1] & 0x7F) << 14 |
         (std::uint32_t)(p[2] & 0x7F) << 7 | (std::uint32_t)(p[3] & 0x7F);
}

// Whether the header at file holds a tag version the open mode rewrites.
bool Rewritable(const Bytes& file, bool v24) {
  return file.size() >= 10 && std::memcmp(file.data(), "ID3", 3) == 0 && file[4] == 0 &&
         (file[3] == 2 || file[3] == 3 || (v24 && file[3] == 4));
}

// Where the audio data starts: after a tag the library can rewrite (an
// ID3v2.2 or 2.3 header, with v24 also ID3v2.4 and its footer, whatever it
// holds); any other file, a tag of another version included, is audio from
// its first byte.
std::size_t AudioStart(const Bytes& file, bool v24) {
  if (!Rewritable(file, v24)) return 0;
  std::size_t end = 10 + (std::size_t)SyncSafe(&file[6]);
  if (file[3] == 4 && (file[5] & 0x10) != 0) end += 10;
  return end < file.size() ? end : file.size();
}

bool HasTrailer(const Bytes& audio) {
  return audio.size() >= kTrailer && std::memcmp(&audio[audio.size() - kTrailer], "TAG", 3) == 0;
}

// The rewritten file keeps the input's audio data byte for byte; its ID3v1
// trailer is the input's with the new title, or a new one appended. When the
// title could not be put (a read-only or undecodable stored title is kept),
// nothing makes the commit append a trailer to a file without one.
void CheckAudio(const Bytes& input, const Bytes& output, bool title_written, bool v24) {
  if (!Rewritable(output, v24)) {
    Fail(kTarget, "the rewritten file does not start with a header of a version it may have");
  }
  if (Rewritable(input, v24) && output[3] != input[3]) {
    Fail(kTarget, "the rewritten tag changed its version");
  }
  const std::size_t out_start = 10 + (std::size_t)SyncSafe(&output[6]);
  if (out_start > output.size()) Fail(kTarget, "the rewritten tag runs past the file's end");
  const Bytes audio(input.begin() + (std::ptrdiff_t)AudioStart(input, v24), input.end());
  const Bytes out_audio(output.begin() + (std::ptrdiff_t)out_start, output.end());
  const bool had_trailer = HasTrailer(audio);
  const std::size_t body = audio.size() - (had_trailer ? kTrailer : 0);
  if (!title_written && !had_trailer && out_audio == audio) return;
  if (out_audio.size() != body + kTrailer) {
    Fail(kTarget, "audio data length changed: " + std::to_string(body) + " bytes before, " +
                      std::to_string(out_audio.size()) + " after the tag now (with trailer)");
  }
  if (!std::equal(audio.begin(), audio.begin() + (std::ptrdiff_t)body, out_audio.begin())) {
    Fail(kTarget, "audio data bytes changed");
  }
  const std::uint8_t* trailer = &out_audio[body];
  if (std::memcmp(trailer, "TAG", 3) != 0) Fail(kTarget, "no ID3v1 trailer after the commit");
  // Only the title (bytes 3-32) was written.
  if (had_trailer && std::memcmp(trailer + 33, &audio[body + 33], kTrailer - 33) != 0) {
    Fail(kTarget, "ID3v1 fields other than the title changed");
  }
}

void CheckReadBack(const std::string& path, std::int32_t flags, bool title_written,
                   bool picture_written) {
  CTagkit tagkit;
  HRESULT hr = tagkit.Open(tagkit_fuzz::Wide(path), TAGKIT_OPEN_READ | flags);
  if (FAILED(hr)) Fail(kTarget, "the rewritten file does not open: " + std::to_string(hr));
  if (title_written) {
    std::vector<std::wstring> title;
    if (FAILED(tagkit.GetString(PROPID_TITLE, title)) || title.empty() || title[0] != kTitle) {
      Fail(kTarget, "the title does not read back");
    }
  }
  if (picture_written) {
    CTagkit::PictureVector pictures;
    if (FAILED(tagkit.GetBinary(PROPID_PICTURE, pictures)) || pictures.empty()) {
      Fail(kTarget, "the picture does not read back");
    }
    const CTagkit::CPicture& picture = *pictures[0];
    if (picture.Size() != (std::int32_t)sizeof kPicture || picture.Mime() != L"image/png") {
      Fail(kTarget, "the picture reads back with another size or MIME type");
    }
    unsigned char copy[sizeof kPicture];
    unsigned char* target = copy;
    std::int32_t size = sizeof copy;
    pictures[0]->GetData(&target, size);
    if (std::memcmp(copy, kPicture, sizeof kPicture) != 0) {
      Fail(kTarget, "the picture's bytes read back changed");
    }
  }
  tagkit.Close();
}

// One round on a fresh copy of the input, with the open flags.
void WriteOnce(const Bytes& input, std::int32_t flags) {
  const std::string path = tagkit_fuzz::WriteInput(input.data(), input.size());
  CTagkit tagkit;
  if (FAILED(tagkit.Open(tagkit_fuzz::Wide(path), TAGKIT_OPEN_WRITE | flags))) {
    if (tagkit_fuzz::ReadAll(path) != input) Fail(kTarget, "a refused Open changed the file");
    return;
  }
  const bool title_written = SUCCEEDED(tagkit.PutString(PROPID_TITLE, {kTitle}));
  boost::shared_ptr<CTagkit::CPicture> picture(new CTagkit::CPicture());
  picture->SetAll(kPicture, sizeof kPicture, L"image/png");
  const bool picture_written =
      SUCCEEDED(tagkit.PutBinary(PROPID_PICTURE, CTagkit::PictureVector(1, picture)));
  const HRESULT closed = tagkit.Close();
  const Bytes output = tagkit_fuzz::ReadAll(path);
  if (FAILED(closed)) {
    // A failed commit must leave the file as it was.
    if (output != input) Fail(kTarget, "a failed Close changed the file");
    return;
  }
  // Without a change that took, Close may still have committed a
  // transaction that a failed setter opened.
  if (!title_written && !picture_written && output == input) return;
  CheckAudio(input, output, title_written, flags != 0);
  CheckReadBack(path, flags, title_written, picture_written);
}

}  // namespace

// Every input is edited twice: as today, and with ID3v2.4 tags kept ID3v2.4.
extern "C" int TagkitFuzzClassWrite(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);
  WriteOnce(input, 0);
  WriteOnce(input, TAGKIT_OPEN_V24);
  return 0;
}

#ifndef TAGKIT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return TagkitFuzzClassWrite(data, size);
}
#endif
