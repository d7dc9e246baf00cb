// The baseline of the library benchmark: `tagkit show -r --json` done with
// TagLib. It walks the same trees in the same order (sorted names; files
// taken by their .mp3 extension, which is cheaper than looking at content),
// reads the same properties and prints the same JSON lines, hashed with the
// same SHA-256, so that the two programs do the same work.
//
//   taglib_show DIR...
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <attachedpictureframe.h>
#include <generalencapsulatedobjectframe.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <uniquefileidentifierframe.h>
#include <urllinkframe.h>

#include "cli.h"

namespace {

namespace fs = std::filesystem;
using tagkit_cli::JsonWriter;

// The owner of the music identifiers that tagkit reports.
const char kMusicIdOwner[] = "http://www.vrelkmusic.com/tag";

std::string Utf8(const TagLib::String& text) { return text.to8Bit(true); }

void Binary(JsonWriter& json, const char* key, const std::string& mime,
            const std::string* description, const TagLib::ByteVector& data) {
  json.Key(key);
  json.BeginObject();
  json.Key("mime");
  json.String(mime);
  if (description != nullptr) {
    json.Key("description");
    json.String(*description);
  }
  json.Key("size");
  json.Number(data.size());
  json.Key("sha256");
  json.String(tagkit_cli::Sha256Hex(reinterpret_cast<const unsigned char*>(data.data()),
                                    data.size()));
  json.EndObject();
}

void Texts(JsonWriter& json, const TagLib::ID3v2::Tag& tag) {
  const std::pair<const char*, const char*> texts[] = {
      {"TIT2", "title"},   {"TPE1", "artist"},    {"TALB", "album"}, {"TCON", "genre"},
      {"TRCK", "track"},   {"TCOM", "composer"},  {"TCOP", "copyright"},
      {"TSRC", "isrc"}};
  const TagLib::ID3v2::FrameListMap& frames = tag.frameListMap();
  for (const auto& text : texts) {
    const auto found = frames.find(text.first);
    if (found == frames.end() || found->second.isEmpty()) continue;
    json.Key(text.second);
    json.BeginArray();
    std::string value = Utf8(found->second.front()->toString());
    // TagLib turns the genre "(8)" into "8"; tagkit shows it as stored.
    if (text.second == std::string("genre") && !value.empty() &&
        value.find_first_not_of("0123456789") == std::string::npos) {
      value = "(" + value + ")";
    }
    json.String(value);
    json.EndArray();
  }
  const auto urls = frames.find("WOAR");
  if (urls != frames.end() && !urls->second.isEmpty()) {
    json.Key("artist_url");
    json.BeginArray();
    for (const auto* frame : urls->second) {
      if (auto* url = dynamic_cast<const TagLib::ID3v2::UrlLinkFrame*>(frame)) {
        json.String(Utf8(url->url()));
      }
    }
    json.EndArray();
  }
  // TagLib reads TYER, TDAT and TIME as one TDRC time stamp.
  const auto date = frames.find("TDRC");
  if (date != frames.end() && !date->second.isEmpty()) {
    const std::string stamp = Utf8(date->second.front()->toString());
    if (stamp.size() >= 10) {
      json.Key("release_date");
      json.String(stamp.substr(0, 10));
    }
  }
}

void Binaries(JsonWriter& json, const TagLib::ID3v2::Tag& tag) {
  const TagLib::ID3v2::FrameListMap& frames = tag.frameListMap();
  const auto pictures = frames.find("APIC");
  if (pictures != frames.end() && !pictures->second.isEmpty()) {
    if (auto* picture =
            dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(pictures->second.front())) {
      Binary(json, "picture", Utf8(picture->mimeType()), nullptr, picture->picture());
    }
  }
  const auto ids = frames.find("UFID");
  if (ids != frames.end() && !ids->second.isEmpty()) {
    auto* id = dynamic_cast<const TagLib::ID3v2::UniqueFileIdentifierFrame*>(ids->second.front());
    if (id != nullptr && Utf8(id->owner()) == kMusicIdOwner) {
      json.Key("music_id");
      json.BeginObject();
      json.Key("owner");
      json.String(Utf8(id->owner()));
      json.Key("data");
      json.String(tagkit_cli::Hex(reinterpret_cast<const unsigned char*>(id->identifier().data()),
                                  id->identifier().size()));
      json.EndObject();
    }
  }
  const auto objects = frames.find("GEOB");
  if (objects == frames.end()) return;
  for (const char* kind : {"MTDID", "QZVLX"}) {
    for (const auto* frame : objects->second) {
      auto* object = dynamic_cast<const TagLib::ID3v2::GeneralEncapsulatedObjectFrame*>(frame);
      if (object == nullptr || Utf8(object->description()) != std::string("USR_") + kind) continue;
      const std::string description = Utf8(object->description());
      Binary(json, kind[0] == 'M' ? "mtdid" : "qzvlx", Utf8(object->mimeType()), &description,
             object->object());
      break;
    }
  }
}

void Trailer(JsonWriter& json, const TagLib::ID3v1::Tag& tag) {
  json.Key("id3v1");
  json.BeginObject();
  const std::pair<const char*, TagLib::String> texts[] = {
      {"title", tag.title()}, {"artist", tag.artist()}, {"album", tag.album()}};
  for (const auto& text : texts) {
    if (text.second.isEmpty()) continue;
    json.Key(text.first);
    json.String(Utf8(text.second));
  }
  if (tag.year() != 0) {
    json.Key("year");
    json.Number(tag.year());
  }
  if (!tag.comment().isEmpty()) {
    json.Key("comment");
    json.String(Utf8(tag.comment()));
  }
  json.Key("track");
  json.Number(tag.track());
  json.Key("genre");
  json.Number(tag.genreNumber());
  json.EndObject();
}

void Show(const std::string& path) {
  TagLib::MPEG::File file(path.c_str(), false);
  JsonWriter json;
  json.BeginObject();
  json.Key("file");
  json.String(path);
  json.Key("id3v2");
  TagLib::ID3v2::Tag* v2 = file.ID3v2Tag();
  if (v2 != nullptr && !v2->isEmpty()) {
    json.String("2." + std::to_string(v2->header()->majorVersion()));
    Texts(json, *v2);
    Binaries(json, *v2);
  } else {
    json.Null();
  }
  if (TagLib::ID3v1::Tag* v1 = file.ID3v1Tag()) Trailer(json, *v1);
  json.EndObject();
  std::cout << json.str() << '\n';
}

void Walk(const std::string& dir) {
  std::vector<std::pair<std::string, bool>> entries;  // name, is a directory
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    entries.emplace_back(entry.path().filename().string(), entry.is_directory());
  }
  std::sort(entries.begin(), entries.end());
  for (const auto& entry : entries) {
    const std::string path = dir + "/" + entry.first;
    if (entry.second) {
      Walk(path);
    } else if (fs::path(entry.first).extension() == ".mp3") {
      Show(path);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) Walk(argv[i]);
  std::cout.flush();
  return 0;
}
