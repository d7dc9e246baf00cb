// `tagkit show`: every property of each file, as aligned text or JSON lines.
#include <cstdio>
#include <iostream>
#include <optional>

#include "cli.h"
#include "tlx_id3.h"

namespace tagkit_cli {

const TextProperty kTextProperties[] = {
    {PROPID_TITLE, "title", "Title", "--title"},
    {PROPID_ARTIST, "artist", "Artist", "--artist"},
    {PROPID_ALBUM, "album", "Album", "--album"},
    {PROPID_GENRE, "genre", "Genre", "--genre"},
    {PROPID_TRACK, "track", "Track", "--track"},
    {PROPID_COMPOSER, "composer", "Composer", "--composer"},
    {PROPID_COPYRIGHT, "copyright", "Copyright", "--copyright"},
    {PROPID_ISRC, "isrc", "ISRC", "--isrc"},
    {PROPID_ARTIST_URL, "artist_url", "Artist URL", "--url"},
};
const std::size_t kTextPropertyCount = sizeof kTextProperties / sizeof kTextProperties[0];

namespace {

// The genre numbers of the ID3v1 format, for the text view.
const char* const kGenres[] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "Alternative Rock", "Bass", "Soul",
    "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic",
    "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta Rap", "Top 40", "Christian Rap", "Pop/Funk",
    "Jungle", "Native American", "Cabaret", "New Wave", "Psychedelic", "Rave", "Showtunes",
    "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock"};

// "8 Jazz"; numbers without a name stay bare.
std::string GenreWithName(int number) {
  std::string text = std::to_string(number);
  if (number >= 0 && number < static_cast<int>(sizeof kGenres / sizeof kGenres[0])) {
    text += std::string(" ") + kGenres[number];
  }
  return text;
}

// "(8)" becomes "(8) Jazz"; any other genre text stays as it is.
std::string GenreTextWithName(const std::string& text) {
  if (text.size() < 3 || text.size() > 5 || text.front() != '(' || text.back() != ')') return text;
  int number = 0;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return text;
    number = number * 10 + (text[i] - '0');
  }
  const std::string named = GenreWithName(number);
  const std::size_t space = named.find(' ');
  return space == std::string::npos ? text : text + named.substr(space);
}

struct BinaryView {
  std::string mime;
  std::optional<std::string> description;  // encapsulated objects only
  std::int64_t size = 0;
  std::string sha256;
};

struct MusicIdView {
  std::string owner;
  std::string data;  // lower-case hex
};

// The ID3v1 trailer as the engine reads it; empty texts and a zero year are
// absent.
struct TrailerView {
  std::string title, artist, album, comment;
  std::int32_t year = 0;
  std::optional<int> track;  // ID3v1.1 only
  int genre = 0;
};

struct FileView {
  std::string file;
  std::optional<std::string> id3v2;  // "2.2", "2.3"; none: no tag tagkit reads
  std::vector<std::pair<const TextProperty*, std::vector<std::string>>> texts;
  std::optional<std::string> release_date;
  std::optional<BinaryView> picture;
  std::optional<MusicIdView> music_id;
  std::optional<BinaryView> mtdid, qzvlx;
  std::optional<TrailerView> id3v1;
};

std::optional<std::string> FormatDate(double date) {
  std::int32_t year = 0, month = 0, day = 0;
  if (!CXDate::GetYear(date, year) || !CXDate::GetMonth(date, month) ||
      !CXDate::GetDay(date, day)) {
    return std::nullopt;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(year),
                static_cast<int>(month), static_cast<int>(day));
  return std::string(text);
}

// Buffers of CMusicId and CGeob come from the COM task allocator.
struct TaskMem {
  unsigned char* data = nullptr;
  ~TaskMem() { CoTaskMemFree(data); }
};

std::optional<BinaryView> ReadGeob(CTagkit& tag, std::int32_t id) {
  CTagkit::GeobVector values;
  if (tag.GetGeob(id, values) != S_OK || values.empty() || !values.front()) return std::nullopt;
  const CTagkit::CGeob& geob = *values.front();
  BinaryView view;
  geob.GetMimeType(view.mime);
  view.mime = CodePageToUtf8(view.mime);
  std::wstring description;
  geob.GetDescription(description);
  view.description = WideToUtf8(description);
  TaskMem buffer;
  std::int32_t size = 0;
  if (FAILED(geob.GetData(&buffer.data, size))) return std::nullopt;
  view.size = size;
  view.sha256 = Sha256Hex(buffer.data, static_cast<std::size_t>(size));
  return view;
}

void ReadProperties(CTagkit& tag, FileView& view) {
  for (const TextProperty& property : kTextProperties) {
    std::vector<std::wstring> values;
    if (tag.GetString(property.id, values) != S_OK) continue;
    std::vector<std::string> utf8;
    for (const std::wstring& value : values) utf8.push_back(WideToUtf8(value));
    view.texts.emplace_back(&property, utf8);
  }
  double date = TAGKIT_NO_DATE;
  if (tag.GetDate(PROPID_RELEASE_DATE, date) == S_OK) view.release_date = FormatDate(date);

  CTagkit::PictureVector pictures;
  if (tag.GetBinary(PROPID_PICTURE, pictures) == S_OK && !pictures.empty() && pictures.front()) {
    CTagkit::CPicture& picture = *pictures.front();
    std::vector<unsigned char> bytes(static_cast<std::size_t>(picture.Size()));
    unsigned char* data = bytes.data();
    std::int32_t size = picture.Size();
    if (SUCCEEDED(picture.GetData(&data, size))) {
      BinaryView binary;
      binary.mime = WideToUtf8(picture.Mime());
      binary.size = size;
      binary.sha256 = Sha256Hex(bytes.data(), static_cast<std::size_t>(size));
      view.picture = binary;
    }
  }

  CTagkit::MusicIdVector ids;
  if (tag.GetMusicId(ids) == S_OK && !ids.empty() && ids.front()) {
    MusicIdView music_id;
    ids.front()->GetOwnerId(music_id.owner);
    music_id.owner = CodePageToUtf8(music_id.owner);
    TaskMem buffer;
    std::int32_t size = 0;
    if (SUCCEEDED(ids.front()->GetData(&buffer.data, size))) {
      music_id.data = Hex(buffer.data, static_cast<std::size_t>(size));
      view.music_id = music_id;
    }
  }
  view.mtdid = ReadGeob(tag, PROPID_OBJECT_MTDID);
  view.qzvlx = ReadGeob(tag, PROPID_OBJECT_QZVLX);
}

// The ID3v2 version and the ID3v1 trailer are not properties of the class;
// the engine answers them on a context of its own, opened read only.
void ReadEngineView(const std::wstring& path, FileView& view) {
  tlx_id3_context context = {};
  if (tlx_id3_create_context(path.c_str(), TLX_ID3_MODE_READ, nullptr, &context) != TLX_ID3_OK) {
    return;
  }
  tlx_id3_v2_header header = {};
  if (tlx_id3_v2_get_header(&context, &header) == TLX_ID3_OK) {
    view.id3v2 = header.version == TLX_ID3_V22 ? "2.2" : "2.3";
  }
  auto text = [&](int32_t (*get)(tlx_id3_context*, uint32_t*, char*), std::string& out) {
    char buffer[32] = {};
    uint32_t size = 30;
    if (get(&context, &size, buffer) != TLX_ID3_OK) return false;
    out = CodePageToUtf8(std::string(buffer, size < 30 ? size : 30));
    return true;
  };
  TrailerView trailer;
  if (text(tlx_id3_v1_get_title, trailer.title)) {
    text(tlx_id3_v1_get_artist, trailer.artist);
    text(tlx_id3_v1_get_album, trailer.album);
    text(tlx_id3_v1_get_comment, trailer.comment);
    tlx_id3_v1_get_year(&context, &trailer.year);
    uint8_t track = 0;
    if (tlx_id3_v1_get_tracknumebr(&context, &track) == TLX_ID3_OK) trailer.track = track;
    uint32_t genre = 0;
    tlx_id3_v1_get_genre(&context, &genre);
    trailer.genre = static_cast<int>(genre);
    view.id3v1 = trailer;
  }
  tlx_id3_destroy_context(&context);
}

HRESULT LoadView(const std::string& file, FileView& view) {
  view.file = file;
  const std::wstring path = Utf8ToWide(file);
  CTagkit tag;
  const HRESULT hr = tag.Open(path, TAGKIT_OPEN_READ);
  if (FAILED(hr)) return hr;
  ReadProperties(tag, view);
  tag.Close();
  ReadEngineView(path, view);
  return S_OK;
}

void WriteBinary(JsonWriter& json, const BinaryView& binary) {
  json.BeginObject();
  json.Key("mime");
  json.String(binary.mime);
  if (binary.description) {
    json.Key("description");
    json.String(*binary.description);
  }
  json.Key("size");
  json.Number(binary.size);
  json.Key("sha256");
  json.String(binary.sha256);
  json.EndObject();
}

std::string ViewJson(const FileView& view) {
  JsonWriter json;
  json.BeginObject();
  json.Key("file");
  json.String(view.file);
  json.Key("id3v2");
  if (view.id3v2) {
    json.String(*view.id3v2);
  } else {
    json.Null();
  }
  for (const auto& text : view.texts) {
    json.Key(text.first->key);
    json.BeginArray();
    for (const std::string& value : text.second) json.String(value);
    json.EndArray();
  }
  if (view.release_date) {
    json.Key("release_date");
    json.String(*view.release_date);
  }
  if (view.picture) {
    json.Key("picture");
    WriteBinary(json, *view.picture);
  }
  if (view.music_id) {
    json.Key("music_id");
    json.BeginObject();
    json.Key("owner");
    json.String(view.music_id->owner);
    json.Key("data");
    json.String(view.music_id->data);
    json.EndObject();
  }
  if (view.mtdid) {
    json.Key("mtdid");
    WriteBinary(json, *view.mtdid);
  }
  if (view.qzvlx) {
    json.Key("qzvlx");
    WriteBinary(json, *view.qzvlx);
  }
  if (view.id3v1) {
    const TrailerView& v1 = *view.id3v1;
    json.Key("id3v1");
    json.BeginObject();
    const std::pair<const char*, const std::string*> texts[] = {
        {"title", &v1.title}, {"artist", &v1.artist}, {"album", &v1.album}};
    for (const auto& text : texts) {
      if (text.second->empty()) continue;
      json.Key(text.first);
      json.String(*text.second);
    }
    if (v1.year != 0) {
      json.Key("year");
      json.Number(v1.year);
    }
    if (!v1.comment.empty()) {
      json.Key("comment");
      json.String(v1.comment);
    }
    if (v1.track) {
      json.Key("track");
      json.Number(*v1.track);
    }
    json.Key("genre");
    json.Number(v1.genre);
    json.EndObject();
  }
  json.EndObject();
  return json.str();
}

std::string Describe(const BinaryView& binary) {
  std::string text = binary.mime.empty() ? "(no MIME type)" : binary.mime;
  if (binary.description) text += ", \"" + *binary.description + "\"";
  return text + ", " + std::to_string(binary.size) + (binary.size == 1 ? " byte" : " bytes");
}

constexpr std::size_t kLabelWidth = 15;

std::string ViewText(const FileView& view) {
  std::vector<std::pair<std::string, std::string>> lines;
  lines.emplace_back("ID3v2", view.id3v2 ? *view.id3v2 : "none");
  for (const auto& text : view.texts) {
    for (std::size_t i = 0; i < text.second.size(); ++i) {
      const bool genre = text.first->id == PROPID_GENRE;
      lines.emplace_back(i == 0 ? text.first->label : "",
                         genre ? GenreTextWithName(text.second[i]) : text.second[i]);
    }
  }
  if (view.release_date) lines.emplace_back("Release date", *view.release_date);
  if (view.picture) lines.emplace_back("Picture", Describe(*view.picture));
  if (view.music_id) {
    lines.emplace_back("Music ID", "owner " + view.music_id->owner);
    // 64 hex digits (32 bytes) per line.
    const std::string& data = view.music_id->data;
    for (std::size_t at = 0; at < data.size(); at += 64) {
      lines.emplace_back("", (at == 0 ? "data  " : "      ") + data.substr(at, 64));
    }
  }
  if (view.mtdid) lines.emplace_back("Object MTDID", Describe(*view.mtdid));
  if (view.qzvlx) lines.emplace_back("Object QZVLX", Describe(*view.qzvlx));
  if (view.id3v1) {
    const TrailerView& v1 = *view.id3v1;
    if (!v1.title.empty()) lines.emplace_back("ID3v1 title", v1.title);
    if (!v1.artist.empty()) lines.emplace_back("ID3v1 artist", v1.artist);
    if (!v1.album.empty()) lines.emplace_back("ID3v1 album", v1.album);
    if (v1.year != 0) lines.emplace_back("ID3v1 year", std::to_string(v1.year));
    if (!v1.comment.empty()) lines.emplace_back("ID3v1 comment", v1.comment);
    if (v1.track) lines.emplace_back("ID3v1 track", std::to_string(*v1.track));
    lines.emplace_back("ID3v1 genre", GenreWithName(v1.genre));
  } else {
    lines.emplace_back("ID3v1", "none");
  }
  std::string out = Printable(view.file) + "\n";
  for (const auto& line : lines) {
    std::string label = line.first;
    label.resize(kLabelWidth, ' ');
    out += "  " + label + Printable(line.second) + "\n";
  }
  return out;
}

}  // namespace

int RunShow(const std::vector<std::string>& args) {
  bool json = false;
  bool options_done = false;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      files.push_back(arg);
    } else if (arg == "--") {
      options_done = true;
    } else if (IsHelp(arg)) {
      std::cout << kShowHelp;
      return kExitOk;
    } else if (arg == "--json") {
      json = true;
    } else {
      const int code_page = TakeCodePage("show", args, i);
      if (code_page == kNotCodePage) return UsageError("show", "unknown option '" + arg + "'");
      if (code_page != kExitOk) return code_page;
    }
  }
  if (files.empty()) return UsageError("show", "no file given");

  int status = kExitOk;
  int shown = 0;  // a blank line goes between views, never before the first
  for (std::size_t i = 0; i < files.size(); ++i) {
    FileView view;
    const HRESULT hr = LoadView(files[i], view);
    if (FAILED(hr)) {
      const Failure failure{files[i], hr, "cannot open the file"};
      std::cout.flush();
      ReportFailure(failure, nullptr);
      if (json) {
        JsonWriter writer;
        writer.BeginObject();
        writer.Key("file");
        writer.String(files[i]);
        writer.Key("error");
        writer.String(FailureText(failure));
        writer.EndObject();
        std::cout << writer.str() << '\n';
      }
      status = kExitFailed;
      continue;
    }
    if (json) {
      std::cout << ViewJson(view) << '\n';
    } else {
      if (shown > 0) std::cout << '\n';
      std::cout << ViewText(view);
      ++shown;
    }
  }
  std::cout.flush();
  return status;
}

}  // namespace tagkit_cli
