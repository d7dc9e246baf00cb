// Reading every property of a file, as a music application scanning its
// library does: tagkit (Open, every getter, Close), TagLib reading the same
// frames (when TagLib was found at configure time), and the "tag floor": the
// least any reader must do (open, read the 10-byte header, read the tag in
// one call, read the last 128 bytes, close).
//
// The files come from scripts/make-bench-corpus.py (TAGKIT_BENCH_CORPUS);
// each iteration reads the next of 32 files. The "24" variants read the same
// tags written as ID3v2.4 (tagkit opening them with TAGKIT_OPEN_V24).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_corpus.h"
#include "tagkit.h"
#include "tagkit_geob.h"
#include "tagkit_music_id.h"
#include "tagkit_picture.h"

#if defined(TAGKIT_BENCH_TAGLIB)
#include <attachedpictureframe.h>
#include <generalencapsulatedobjectframe.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <uniquefileidentifierframe.h>
#include <urllinkframe.h>
#endif

namespace {

using tagkit_bench::ReadFiles;
using tagkit_bench::ReadFiles24;
using Files = std::vector<std::string>;

bool HaveCorpus(benchmark::State& state, const Files& files) {
  if (!files.empty()) return true;
  state.SkipWithError("no corpus: run scripts/bench.sh or set TAGKIT_BENCH_CORPUS");
  return false;
}

void ReadAllTagkit(benchmark::State& state, const Files& files, std::int32_t mode) {
  if (!HaveCorpus(state, files)) return;
  std::vector<std::wstring> paths;
  for (const std::string& path : files) paths.push_back(tagkit_bench::Wide(path));
  const std::int32_t texts[] = {PROPID_TITLE, PROPID_ARTIST, PROPID_ALBUM,     PROPID_GENRE,
                                PROPID_TRACK, PROPID_COMPOSER, PROPID_COPYRIGHT, PROPID_ISRC,
                                PROPID_ARTIST_URL};
  std::vector<unsigned char> buffer(64 * 1024);
  size_t next = 0;
  size_t sink = 0;
  for (auto _ : state) {
    CTagkit tags;
    if (tags.Open(paths[next], mode) != S_OK) {
      state.SkipWithError("Open failed");
      break;
    }
    next = (next + 1) % paths.size();
    std::vector<std::wstring> values;
    for (std::int32_t id : texts) {
      values.clear();
      if (tags.GetString(id, values) == S_OK && !values.empty()) sink += values[0].size();
    }
    double date = 0;
    if (tags.GetDate(PROPID_RELEASE_DATE, date) == S_OK) sink += static_cast<size_t>(date);
    CTagkit::PictureVector pictures;
    if (tags.GetBinary(PROPID_PICTURE, pictures) == S_OK) {
      for (auto& picture : pictures) {
        unsigned char* data = buffer.data();
        std::int32_t size = static_cast<std::int32_t>(buffer.size());
        picture->GetData(&data, size);
        sink += static_cast<size_t>(size) + picture->Mime().size();
      }
    }
    CTagkit::MusicIdVector ids;
    if (tags.GetMusicId(ids) == S_OK) {
      for (auto& id : ids) {
        std::string owner;
        id->GetOwnerId(owner);
        sink += owner.size() + static_cast<size_t>(id->GetDataSize());
      }
    }
    for (std::int32_t kind : {PROPID_OBJECT_MTDID, PROPID_OBJECT_QZVLX}) {
      CTagkit::GeobVector objects;
      if (tags.GetGeob(kind, objects) == S_OK) {
        for (auto& object : objects) sink += static_cast<size_t>(object->GetDataSize());
      }
    }
    tags.Close();
  }
  benchmark::DoNotOptimize(sink);
}
void BM_ReadAll_Tagkit(benchmark::State& state) {
  ReadAllTagkit(state, ReadFiles(), TAGKIT_OPEN_READ);
}
BENCHMARK(BM_ReadAll_Tagkit)->Unit(benchmark::kMicrosecond)->UseRealTime();
void BM_ReadAll_Tagkit24(benchmark::State& state) {
  ReadAllTagkit(state, ReadFiles24(), TAGKIT_OPEN_READ | TAGKIT_OPEN_V24);
}
BENCHMARK(BM_ReadAll_Tagkit24)->Unit(benchmark::kMicrosecond)->UseRealTime();

#if defined(TAGKIT_BENCH_TAGLIB)
size_t TextOf(const TagLib::ID3v2::Tag* tag, const char* id) {
  size_t total = 0;
  const TagLib::ID3v2::FrameList& frames = tag->frameListMap()[id];
  for (const TagLib::ID3v2::Frame* frame : frames) total += frame->toString().size();
  return total;
}

void ReadAllTagLib(benchmark::State& state, const Files& files) {
  if (!HaveCorpus(state, files)) return;
  size_t next = 0;
  size_t sink = 0;
  for (auto _ : state) {
    TagLib::MPEG::File file(files[next].c_str(), false);
    next = (next + 1) % files.size();
    if (TagLib::ID3v2::Tag* v2 = file.ID3v2Tag()) {
      sink += v2->title().size() + v2->artist().size() + v2->album().size() +
              v2->genre().size() + v2->track();
      for (const char* id : {"TCOM", "TCOP", "TSRC", "WOAR", "TYER", "TDAT", "TIME", "TDRC"}) {
        sink += TextOf(v2, id);
      }
      for (const TagLib::ID3v2::Frame* frame : v2->frameListMap()["APIC"]) {
        auto* picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (picture != nullptr) sink += picture->picture().size() + picture->mimeType().size();
      }
      for (const TagLib::ID3v2::Frame* frame : v2->frameListMap()["UFID"]) {
        auto* id = dynamic_cast<const TagLib::ID3v2::UniqueFileIdentifierFrame*>(frame);
        if (id != nullptr) sink += id->owner().size() + id->identifier().size();
      }
      for (const TagLib::ID3v2::Frame* frame : v2->frameListMap()["GEOB"]) {
        auto* object = dynamic_cast<const TagLib::ID3v2::GeneralEncapsulatedObjectFrame*>(frame);
        if (object != nullptr) sink += object->object().size() + object->description().size();
      }
    }
    if (TagLib::ID3v1::Tag* v1 = file.ID3v1Tag()) {
      sink += v1->title().size() + v1->artist().size() + v1->album().size() +
              v1->comment().size() + v1->year() + v1->track() + v1->genreNumber();
    }
  }
  benchmark::DoNotOptimize(sink);
}
void BM_ReadAll_TagLib(benchmark::State& state) { ReadAllTagLib(state, ReadFiles()); }
BENCHMARK(BM_ReadAll_TagLib)->Unit(benchmark::kMicrosecond)->UseRealTime();
void BM_ReadAll_TagLib24(benchmark::State& state) { ReadAllTagLib(state, ReadFiles24()); }
BENCHMARK(BM_ReadAll_TagLib24)->Unit(benchmark::kMicrosecond)->UseRealTime();
#endif

void ReadAllTagFloor(benchmark::State& state, const Files& files) {
  if (!HaveCorpus(state, files)) return;
  std::vector<uint8_t> tag(64 * 1024);
  uint8_t trailer[128];
  size_t next = 0;
  size_t sink = 0;
  for (auto _ : state) {
    int fd = open(files[next].c_str(), O_RDONLY | O_CLOEXEC);
    next = (next + 1) % files.size();
    uint8_t header[10];
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || read(fd, header, 10) != 10) {
      state.SkipWithError("read failed");
      break;
    }
    const size_t size = (static_cast<size_t>(header[6] & 0x7F) << 21) |
                        (static_cast<size_t>(header[7] & 0x7F) << 14) |
                        (static_cast<size_t>(header[8] & 0x7F) << 7) | (header[9] & 0x7F);
    if (size > tag.size()) tag.resize(size);
    sink += static_cast<size_t>(read(fd, tag.data(), size));
    sink += static_cast<size_t>(pread(fd, trailer, sizeof trailer, st.st_size - 128));
    close(fd);
  }
  benchmark::DoNotOptimize(sink);
}
void BM_ReadAll_TagFloor(benchmark::State& state) { ReadAllTagFloor(state, ReadFiles()); }
BENCHMARK(BM_ReadAll_TagFloor)->Unit(benchmark::kMicrosecond)->UseRealTime();
void BM_ReadAll_TagFloor24(benchmark::State& state) { ReadAllTagFloor(state, ReadFiles24()); }
BENCHMARK(BM_ReadAll_TagFloor24)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
