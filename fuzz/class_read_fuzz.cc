// The class's read path: Open read only (without and with the ID3v2.4
// flag), every getter, Close.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "tagkit.h"
#include "tlx_com.h"

namespace {

const std::int32_t kTextIds[] = {PROPID_TRACK,     PROPID_ISRC,   PROPID_TITLE,
                                 PROPID_GENRE,     PROPID_COPYRIGHT, PROPID_ALBUM,
                                 PROPID_ARTIST,    PROPID_COMPOSER,  PROPID_ARTIST_URL};

const char kTarget[] = "class_read";

void ReadPictures(CTagkit& tagkit) {
  CTagkit::PictureVector pictures;
  if (FAILED(tagkit.GetBinary(PROPID_PICTURE, pictures))) return;
  for (const auto& picture : pictures) {
    if (!picture) tagkit_fuzz::Fail(kTarget, "null picture in the cache");
    std::vector<unsigned char> copy(static_cast<std::size_t>(picture->Size()) + 1);
    unsigned char* target = copy.data();
    std::int32_t size = picture->Size();
    picture->GetData(&target, size);
    if (size != picture->Size()) tagkit_fuzz::Fail(kTarget, "picture copy is short");
    std::wstring mime;
    picture->GetMime(mime);
  }
}

void ReadMusicIds(CTagkit& tagkit) {
  CTagkit::MusicIdVector ids;
  if (FAILED(tagkit.GetMusicId(ids))) return;
  for (const auto& id : ids) {
    unsigned char* data = nullptr;
    std::int32_t size = 0;
    if (SUCCEEDED(id->GetData(&data, size))) CoTaskMemFree(data);
    std::string owner;
    id->GetOwnerId(owner);
    unsigned char* payload = nullptr;
    if (SUCCEEDED(id->GetFrameData(&payload, size))) {
      if (size != id->GetFrameDataSize()) tagkit_fuzz::Fail(kTarget, "music id payload size");
      CoTaskMemFree(payload);
    }
  }
}

void ReadGeobs(CTagkit& tagkit, std::int32_t property) {
  CTagkit::GeobVector geobs;
  if (FAILED(tagkit.GetGeob(property, geobs))) return;
  for (const auto& geob : geobs) {
    unsigned char* data = nullptr;
    std::int32_t size = 0;
    if (SUCCEEDED(geob->GetData(&data, size))) {
      if (size != geob->GetDataSize()) tagkit_fuzz::Fail(kTarget, "object data size");
      CoTaskMemFree(data);
    }
    std::wstring description;
    geob->GetDescription(description);
    std::string mime;
    geob->GetMimeType(mime);
    unsigned char* payload = nullptr;
    if (SUCCEEDED(geob->GetFrameData(&payload, size))) {
      if (size != geob->GetFrameDataSize()) tagkit_fuzz::Fail(kTarget, "object payload size");
      // What was read must parse again as it was built.
      CTagkit::CGeob again;
      if (FAILED(again.ParseFrameData(payload, size))) {
        tagkit_fuzz::Fail(kTarget, "an object's own payload does not parse");
      }
      CoTaskMemFree(payload);
    }
  }
}

}  // namespace

// Every input is read twice: as today, and with ID3v2.4 tags read.
extern "C" int TagkitFuzzClassRead(const std::uint8_t* data, std::size_t size) {
  const std::string path = tagkit_fuzz::WriteInput(data, size);
  for (std::int32_t flags : {0, TAGKIT_OPEN_V24}) {
    CTagkit tagkit;
    if (FAILED(tagkit.Open(tagkit_fuzz::Wide(path), TAGKIT_OPEN_READ | flags))) continue;
    for (std::int32_t id : kTextIds) {
      std::vector<std::wstring> values;
      if (SUCCEEDED(tagkit.GetString(id, values)) && values.empty()) {
        tagkit_fuzz::Fail(kTarget, "GetString succeeded without a value");
      }
    }
    double date = 0;
    tagkit.GetDate(PROPID_RELEASE_DATE, date);
    ReadPictures(tagkit);
    ReadMusicIds(tagkit);
    ReadGeobs(tagkit, PROPID_OBJECT_MTDID);
    ReadGeobs(tagkit, PROPID_OBJECT_QZVLX);
    if (tagkit.Close() != S_OK) tagkit_fuzz::Fail(kTarget, "Close after reading failed");
    if (tagkit_fuzz::ReadAll(path) != tagkit_fuzz::Bytes(data, data + size)) {
      tagkit_fuzz::Fail(kTarget, "a read-only open changed the file");
    }
  }
  return 0;
}

#ifndef TAGKIT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return TagkitFuzzClassRead(data, size);
}
#endif
