// `tagkit show`: every property of each file, as aligned text or JSON lines.
#include <iostream>
#include <optional>
#include <utility>

#include "cli.h"

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

struct FileView {
  std::string file;
  std::optional<std::string> id3v2;  // "2.2", "2.3", "2.4"; none: no tag tagkit reads
  std::vector<std::pair<const TextProperty*, std::vector<std::string>>> texts;
  std::optional<std::string> release_date;
  std::optional<BinaryView> picture;
  std::optional<MusicIdView> music_id;
  std::optional<BinaryView> mtdid, qzvlx;
  std::optional<TrailerView> id3v1;
  std::optional<FrameListing> frames;  // --all
};

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
  view.texts.reserve(kTextPropertyCount);
  for (const TextProperty& property : kTextProperties) {
    std::vector<std::wstring> values;
    if (tag.GetString(property.id, values) != S_OK) continue;
    std::vector<std::string> utf8;
    utf8.reserve(values.size());
    for (const std::wstring& value : values) utf8.push_back(WideToUtf8(value));
    view.texts.emplace_back(&property, std::move(utf8));
  }
  double date = TAGKIT_NO_DATE;
  if (tag.GetDate(PROPID_RELEASE_DATE, date) == S_OK) view.release_date = DateText(date);

  CTagkit::PictureVector pictures;
  if (tag.GetBinary(PROPID_PICTURE, pictures) == S_OK && !pictures.empty() && pictures.front()) {
    // Hashed where the picture holds its bytes: no copy.
    const CTagkit::CPicture& picture = *pictures.front();
    BinaryView binary;
    binary.mime = WideToUtf8(picture.Mime());
    binary.size = picture.Size();
    binary.sha256 = Sha256Hex(picture.Data(), static_cast<std::size_t>(picture.Size()));
    view.picture = std::move(binary);
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
      view.music_id = std::move(music_id);
    }
  }
  view.mtdid = ReadGeob(tag, PROPID_OBJECT_MTDID);
  view.qzvlx = ReadGeob(tag, PROPID_OBJECT_QZVLX);
}

// What `show` prints of one file, and how.
struct ShowOptions {
  RunOptions run;
  bool json = false;
  bool all = false;
};

// The ID3v2 version and the ID3v1 trailer are not properties of the class;
// they come from the file's first and last bytes, as the object read them.
// A file found by the walk that is not MP3 is left alone (look.skipped).
HRESULT LoadView(const std::string& file, FileLook& look, const ShowOptions& options,
                 FileView& view) {
  view.file = file;
  CTagkit tag;
  const HRESULT hr = tag.Open(Utf8ToWide(file), TAGKIT_OPEN_READ | OpenFlags(options.run));
  if (FAILED(hr)) {
    // Not being MP3 is no failure; nor is an operand's unreadable head.
    const HRESULT looked = LookAt(file, look);
    return FAILED(looked) ? looked : look.skipped ? S_OK : hr;
  }
  look.head_read = SUCCEEDED(ReadFileHead(tag, look.head));
  if (look.found && !look.head_read) return E_FAIL;
  if (look.found && !LooksLikeMp3(look.head)) {
    look.skipped = true;
    return S_OK;
  }
  ReadProperties(tag, view);
  tag.Close();
  const FileHead* head = look.head_read ? &look.head : nullptr;
  if (head != nullptr) {
    const int major = Id3v2Version(*head);
    if (major == 2 || major == 3 || (major == 4 && !options.run.strict)) {
      view.id3v2 = "2." + std::to_string(major);
    }
    view.id3v1 = ReadTrailer(*head);
  }
  if (options.all) {
    view.frames = ReadFrames(file, options.run.strict, head != nullptr ? head->file_size : -1);
  }
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
  if (view.frames) WriteFramesJson(json, *view.frames);
  json.EndObject();
  std::string line = json.Release();
  line += '\n';
  return line;
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
  if (view.frames) lines.emplace_back("Frames", std::to_string(view.frames->total));
  std::string out = Printable(view.file) + "\n";
  for (const auto& line : lines) {
    std::string label = line.first;
    label.resize(kLabelWidth, ' ');
    out += "  " + label + Printable(line.second) + "\n";
  }
  if (view.frames) out += FramesText(*view.frames, 4);
  return out;
}

class ShowTask : public FileTask {
 public:
  explicit ShowTask(const ShowOptions& options) : options_(options) {}

  FileOutcome Run(const std::string& file, FileLook& look) const override {
    FileOutcome outcome;
    FileView view;
    const HRESULT hr = LoadView(file, look, options_, view);
    if (look.skipped) return outcome;
    if (FAILED(hr)) {
      outcome.failure = Failure{file, hr, "cannot open the file"};
      outcome.output = FailureOutput(*outcome.failure);
      return outcome;
    }
    outcome.output = options_.json ? ViewJson(view) : ViewText(view);
    return outcome;
  }

  // JSON lines keep one line per file: an error object stands for a file
  // that cannot be shown.
  std::string FailureOutput(const Failure& failure) const override {
    return options_.json ? FailureJsonLine(failure) : std::string();
  }

  bool BlankLineBetween() const override { return !options_.json; }
  bool ReadsHeadItself() const override { return true; }

 private:
  const ShowOptions options_;
};

}  // namespace

int RunShow(const std::vector<std::string>& args) {
  ShowOptions options;
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
      options.json = true;
    } else if (arg == "--all") {
      options.all = true;
    } else {
      int status = TakeRunOption("show", args, i, options.run);
      if (status == kNotRunOption) status = TakeCodePage("show", args, i);
      if (status == kNotCodePage) return UsageError("show", "unknown option '" + arg + "'");
      if (status != kExitOk) return status;
    }
  }
  if (files.empty()) return UsageError("show", "no file given");
  return RunFiles("show", files, options.run, ShowTask(options));
}

}  // namespace tagkit_cli
