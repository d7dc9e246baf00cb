// `tagkit set`: applies the same changes to each file. The changes reach a
// file only at the commit, in one replacement, and only when every change
// succeeded, so a failure leaves the file as it was.
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>

#include "cli.h"

namespace tagkit_cli {
namespace {

// Applies every edit to one file, opened directly: the library writes the
// whole new file (tag and trailer) beside it and puts it in place in one
// crash-safe step at Close. On failure `what` says which step failed.
HRESULT ApplyEdits(const std::string& file, const std::vector<Edit>& edits, std::int32_t mode,
                   std::string& what) {
  CTagkit tag;
  HRESULT hr = tag.Open(Utf8ToWide(file), mode);
  what = "cannot open the file";
  for (std::size_t i = 0; SUCCEEDED(hr) && i < edits.size(); ++i) {
    hr = edits[i].apply(tag);
    what = "cannot " + edits[i].what;
  }
  // After a failed change the object's destructor drops the changes made so
  // far; only Close would commit them.
  if (FAILED(hr)) return hr;
  what = "cannot write the changes";
  return tag.Close();
}

// ---- the command line ----

std::string OptionName(const TextProperty& property) { return property.option + 2; }

// "YYYY-MM-DD", digits only.
bool ParseIsoDate(const std::string& text, unsigned& year, unsigned& month, unsigned& day) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  unsigned parts[3] = {0, 0, 0};
  const std::size_t starts[3] = {0, 5, 8};
  const std::size_t lengths[3] = {4, 2, 2};
  for (int part = 0; part < 3; ++part) {
    for (std::size_t i = starts[part]; i < starts[part] + lengths[part]; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      parts[part] = parts[part] * 10 + static_cast<unsigned>(text[i] - '0');
    }
  }
  year = parts[0], month = parts[1], day = parts[2];
  return true;
}

// Picture types by their first bytes.
std::wstring SniffMime(const std::vector<unsigned char>& bytes) {
  auto starts = [&](const char* magic, std::size_t length, std::size_t at = 0) {
    if (bytes.size() < at + length) return false;
    for (std::size_t i = 0; i < length; ++i) {
      if (bytes[at + i] != static_cast<unsigned char>(magic[i])) return false;
    }
    return true;
  };
  if (starts("\xFF\xD8\xFF", 3)) return L"image/jpeg";
  if (starts("\x89PNG\r\n\x1A\n", 8)) return L"image/png";
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return L"image/gif";
  if (starts("BM", 2) && bytes.size() >= 26) return L"image/bmp";
  if (starts("RIFF", 4) && starts("WEBP", 4, 8)) return L"image/webp";
  return std::wstring();
}

// Parse's answer after printing the help text.
constexpr int kHelpShown = -1;

// Command-line parsing of `set`: fills the list of edits or prints a usage
// error. Files named as option values are read here, once, before any audio
// file is touched.
class SetParser {
 public:
  // kExitOk with edits and files, kHelpShown, or the exit status to return.
  int Parse(const std::vector<std::string>& args);
  std::vector<Edit> edits;
  std::vector<std::string> files;
  RunOptions run;
  bool split_links = false;
  bool json = false;  // with --dry-run: one JSON object per file

 private:
  int Error(const std::string& message) { return UsageError("set", message); }
  int Option(const std::string& name, const std::string& value);
  int Remove(const std::string& name);
  bool Claim(const std::string& name);
  int ReadValueFile(const std::string& option, const std::string& path,
                    std::vector<unsigned char>& bytes);
  int Build();

  std::set<std::string> claimed_;  // properties already set or removed
  std::map<std::int32_t, std::vector<std::wstring>> texts_;
  std::vector<std::wstring> urls_;
  bool urls_given_ = false;
  std::optional<double> date_;
  std::optional<std::vector<unsigned char>> picture_;
  std::optional<std::wstring> picture_mime_;
  std::optional<std::vector<unsigned char>> music_id_;
  std::map<std::int32_t, std::optional<std::vector<unsigned char>>> geobs_;
  bool remove_picture_ = false;
  bool remove_music_id_ = false;
  FrameOptions frames_;
};

// Options that take a value.
const char* const kValueOptions[] = {"title",   "artist",   "album",        "genre",
                                     "track",   "composer", "copyright",    "isrc",
                                     "url",     "date",     "picture",      "picture-mime",
                                     "music-id", "mtdid",   "qzvlx",        "remove",
                                     "code-page", "comment", "user-text",   "frame",
                                     "lyrics",  "remove-frame"};

int SetParser::Parse(const std::vector<std::string>& args) {
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (IsHelp(arg)) {
      std::cout << kSetHelp;
      return kHelpShown;
    }
    if (arg == "--split-links") {
      split_links = true;
      continue;
    }
    if (arg == "--dry-run") {
      run.dry_run = true;
      continue;
    }
    if (arg == "--json") {
      json = true;
      continue;
    }
    const int run_option = TakeRunOption("set", args, i, run);
    if (run_option == kExitOk) continue;
    if (run_option != kNotRunOption) return run_option;
    if (arg.compare(0, 2, "--") != 0) return Error("unknown option '" + arg + "'");
    std::string name = arg.substr(2);
    std::optional<std::string> value;
    const std::size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    bool known = false;
    for (const char* option : kValueOptions) known = known || name == option;
    if (!known) return Error("unknown option '--" + name + "'");
    if (!value) {
      if (i + 1 >= args.size()) return Error("--" + name + " needs a value");
      value = args[++i];
    }
    const int status = Option(name, *value);
    if (status != kExitOk) return status;
  }
  return Build();
}

bool SetParser::Claim(const std::string& name) {
  return claimed_.insert(name).second;
}

int SetParser::ReadValueFile(const std::string& option, const std::string& path,
                             std::vector<unsigned char>& bytes) {
  const HRESULT hr = ReadWholeFile(path, bytes);
  if (FAILED(hr)) {
    ReportFailure(Failure{path, hr, "cannot read the file of --" + option}, nullptr);
    return kExitUsage;
  }
  return kExitOk;
}

int SetParser::Option(const std::string& name, const std::string& value) {
  if (name == "code-page") return SetCodePage("set", value) ? kExitOk : kExitUsage;
  if (name == "remove") return Remove(value);
  if (FrameOptions::Handles(name)) return frames_.Take(name, value, claimed_);
  if (name == "picture-mime") {
    if (picture_mime_) return Error("--picture-mime given twice");
    if (value.empty()) return Error("--picture-mime needs a MIME type");
    picture_mime_ = Utf8ToWide(value);
    return kExitOk;
  }
  if (name == "url") {
    if (value.empty()) return Error("--url needs a URL");
    if (urls_.empty() && !Claim("url")) return Error("--url and --remove url conflict");
    urls_.push_back(Utf8ToWide(value));
    urls_given_ = true;
    return kExitOk;
  }
  if (!Claim(name)) return Error("--" + name + " given twice, or also removed");
  for (std::size_t i = 0; i < kTextPropertyCount; ++i) {
    const TextProperty& property = kTextProperties[i];
    if (OptionName(property) != name) continue;
    if (value.empty()) return Error("--" + name + " needs a value; use --remove " + name);
    texts_[property.id] = {Utf8ToWide(value)};
    return kExitOk;
  }
  if (name == "date") {
    unsigned year = 0, month = 0, day = 0;
    double date = 0;
    if (!ParseIsoDate(value, year, month, day) ||
        !CXDate::FromDateParts(static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
                               static_cast<std::uint16_t>(day), 0, 0, 0, date)) {
      return Error("--date needs a date as YYYY-MM-DD, not '" + value + "'");
    }
    if (year < 1000) return Error("--date: years before 1000 cannot be stored");
    date_ = date;
    return kExitOk;
  }
  if (name == "picture") {
    std::vector<unsigned char> bytes;
    const int status = ReadValueFile(name, value, bytes);
    if (status != kExitOk) return status;
    if (bytes.empty()) return Error("the picture '" + value + "' is empty");
    picture_ = bytes;
    return kExitOk;
  }
  if (name == "music-id") {
    std::vector<unsigned char> bytes;
    if (!ParseHex(value, bytes) || bytes.size() != 64) {
      return Error("--music-id needs 64 bytes written as 128 hex digits");
    }
    music_id_ = bytes;
    return kExitOk;
  }
  // mtdid, qzvlx
  std::vector<unsigned char> bytes;
  const int status = ReadValueFile(name, value, bytes);
  if (status != kExitOk) return status;
  geobs_[name == "mtdid" ? PROPID_OBJECT_MTDID : PROPID_OBJECT_QZVLX] = bytes;
  return kExitOk;
}

int SetParser::Remove(const std::string& value) {
  // Both the option name and the JSON key of `show` name a property.
  std::string name = value;
  if (name == "artist_url" || name == "artist-url") name = "url";
  if (name == "release_date" || name == "release-date") name = "date";
  if (name == "music_id") name = "music-id";
  if (!Claim(name)) return Error("'" + name + "' is both set and removed, or removed twice");
  for (std::size_t i = 0; i < kTextPropertyCount; ++i) {
    const TextProperty& property = kTextProperties[i];
    if (OptionName(property) != name) continue;
    texts_[property.id] = {};
    return kExitOk;
  }
  if (name == "date") {
    date_ = TAGKIT_NO_DATE;
  } else if (name == "picture") {
    remove_picture_ = true;
  } else if (name == "music-id") {
    remove_music_id_ = true;
  } else if (name == "mtdid") {
    geobs_[PROPID_OBJECT_MTDID] = std::nullopt;
  } else if (name == "qzvlx") {
    geobs_[PROPID_OBJECT_QZVLX] = std::nullopt;
  } else {
    return Error("--remove: unknown property '" + value + "'");
  }
  return kExitOk;
}

int SetParser::Build() {
  if (urls_given_) texts_[PROPID_ARTIST_URL] = urls_;
  if (picture_mime_ && !picture_) return Error("--picture-mime needs --picture");
  std::wstring mime;
  if (picture_) {
    mime = picture_mime_ ? *picture_mime_ : SniffMime(*picture_);
    if (mime.empty()) {
      return Error("cannot tell the picture's type from its first bytes; give --picture-mime");
    }
  }

  for (std::size_t i = 0; i < kTextPropertyCount; ++i) {
    const TextProperty& property = kTextProperties[i];
    const auto found = texts_.find(property.id);
    if (found == texts_.end()) continue;
    const std::int32_t id = property.id;
    const std::vector<std::wstring> values = found->second;
    const std::string verb = values.empty() ? "remove the " : "set the ";
    const std::string key = property.key;
    edits.push_back({verb + key,
                     [id, values](CTagkit& tag) { return tag.PutString(id, values); },
                     [id, key, values](const FileState& file, std::vector<Change>& changes) {
                       std::vector<std::wstring> old;
                       std::optional<std::string> before, after;
                       if (file.tag.GetString(id, old) == S_OK) before = JoinedUtf8(old);
                       if (!values.empty()) after = JoinedUtf8(values);
                       Report(changes, key, before, after, true);
                     }});
  }
  if (date_) {
    const double date = *date_;
    edits.push_back({date == TAGKIT_NO_DATE ? "remove the release date" : "set the release date",
                     [date](CTagkit& tag) {
                       double value = date;
                       return tag.PutDate(PROPID_RELEASE_DATE, value);
                     },
                     [date](const FileState& file, std::vector<Change>& changes) {
                       double old = TAGKIT_NO_DATE;
                       file.tag.GetDate(PROPID_RELEASE_DATE, old);
                       Report(changes, "release_date", DateText(old), DateText(date), false);
                     }});
  }
  if (picture_ || remove_picture_) {
    const std::vector<unsigned char> bytes = picture_ ? *picture_ : std::vector<unsigned char>();
    const bool remove = remove_picture_;
    edits.push_back({remove ? "remove the picture" : "set the picture",
                     [bytes, mime, remove](CTagkit& tag) {
                       CTagkit::PictureVector values;
                       if (!remove) {
                         boost::shared_ptr<CTagkit::CPicture> picture(new CTagkit::CPicture);
                         const HRESULT hr = picture->SetAll(
                             bytes.data(), static_cast<std::int32_t>(bytes.size()), mime);
                         if (FAILED(hr)) return hr;
                         values.push_back(picture);
                       }
                       return tag.PutBinary(PROPID_PICTURE, values);
                     },
                     [bytes, mime, remove](const FileState& file, std::vector<Change>& changes) {
                       std::optional<std::string> after;
                       if (!remove) after = BinaryText(mime, bytes.data(), bytes.size());
                       Report(changes, "picture", PictureText(file.tag), after, false);
                     }});
  }
  if (music_id_ || remove_music_id_) {
    const std::vector<unsigned char> bytes = music_id_ ? *music_id_ : std::vector<unsigned char>();
    const bool remove = remove_music_id_;
    edits.push_back({remove ? "remove the music identifier" : "set the music identifier",
                     [bytes, remove](CTagkit& tag) {
                       CTagkit::MusicIdVector values;
                       if (!remove) {
                         // An empty owner makes the library write its own.
                         boost::shared_ptr<CTagkit::CMusicId> id(new CTagkit::CMusicId);
                         const HRESULT hr =
                             id->SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
                         if (FAILED(hr)) return hr;
                         values.push_back(id);
                       }
                       return tag.PutMusicId(values);
                     },
                     [bytes, remove](const FileState& file, std::vector<Change>& changes) {
                       std::optional<std::string> after;
                       if (!remove) after = Hex(bytes.data(), bytes.size());
                       Report(changes, "music_id", MusicIdText(file.tag), after, false);
                     }});
  }
  for (const auto& geob : geobs_) {
    const std::int32_t id = geob.first;
    const std::optional<std::vector<unsigned char>> bytes = geob.second;
    const std::string name = id == PROPID_OBJECT_MTDID ? "MTDID" : "QZVLX";
    edits.push_back({(bytes ? "set the object " : "remove the object ") + name,
                     [id, bytes](CTagkit& tag) {
                       CTagkit::GeobVector values;
                       if (bytes) {
                         // The library writes the kind's MIME type and description.
                         boost::shared_ptr<CTagkit::CGeob> object(new CTagkit::CGeob);
                         const HRESULT hr = object->SetData(
                             bytes->data(), static_cast<std::int32_t>(bytes->size()));
                         if (FAILED(hr)) return hr;
                         values.push_back(object);
                       }
                       return tag.PutGeob(id, values);
                     },
                     [id, bytes](const FileState& file, std::vector<Change>& changes) {
                       std::optional<std::string> after;
                       if (bytes) after = BinaryText(std::wstring(), bytes->data(), bytes->size());
                       const std::string key = id == PROPID_OBJECT_MTDID ? "mtdid" : "qzvlx";
                       Report(changes, key, GeobText(file.tag, id), after, false);
                     }});
  }
  edits.insert(edits.end(), frames_.edits.begin(), frames_.edits.end());
  if (json && !run.dry_run) return Error("--json goes with --dry-run");
  if (edits.empty()) return Error("nothing to change");
  if (files.empty()) return Error("no file given");
  return kExitOk;
}

// Each file is one call of ApplyEdits: one commit, or no change at all. A
// dry run opens the file read only and reports what the edits would change.
class SetTask : public FileTask {
 public:
  SetTask(const SetParser& parser, std::int32_t mode)
      : edits_(parser.edits), mode_(mode), options_(parser.run), json_(parser.json) {}

  FileOutcome Run(const std::string& file, FileLook& look) const override {
    const FileHead* head = look.head_read ? &look.head : nullptr;
    FileOutcome outcome;
    Failure failure{file, S_OK, ""};
    if (options_.dry_run) {
      std::vector<Change> changes;
      failure.code = Preview(file, head, changes);
      failure.what = "cannot open the file";
      if (SUCCEEDED(failure.code)) {
        outcome.output = json_ ? ChangesJson(file, changes) : ChangesText(file, changes);
        outcome.changed = !changes.empty();
        return outcome;
      }
    } else {
      failure.code = ApplyEdits(file, edits_, mode_, failure.what);
      outcome.changed = SUCCEEDED(failure.code);
    }
    if (FAILED(failure.code)) {
      outcome.failure = failure;
      outcome.output = FailureOutput(failure);
    }
    return outcome;
  }

  std::string FailureOutput(const Failure& failure) const override {
    return json_ ? FailureJsonLine(failure) : std::string();
  }

 private:
  HRESULT Preview(const std::string& file, const FileHead* head, std::vector<Change>& changes) const {
    CTagkit tag;
    const HRESULT hr = tag.Open(Utf8ToWide(file), TAGKIT_OPEN_READ | OpenFlags(options_));
    if (FAILED(hr)) return hr;
    FrameListing frames;
    bool needs_frames = false;
    for (const Edit& edit : edits_) needs_frames = needs_frames || edit.needs_frames;
    if (needs_frames) frames = ReadFrames(file, options_.strict, head != nullptr ? head->file_size : -1);
    int id3v2 = head != nullptr ? Id3v2Version(*head) : 0;
    if (id3v2 == 4 && options_.strict) id3v2 = 0;
    const FileState state{tag, frames, id3v2};
    for (const Edit& edit : edits_) edit.preview(state, changes);
    return S_OK;
  }

  const std::vector<Edit>& edits_;
  const std::int32_t mode_;  // open mode and flags of every file
  const RunOptions options_;
  const bool json_;
};

}  // namespace

int RunSet(const std::vector<std::string>& args) {
  SetParser parser;
  const int status = parser.Parse(args);
  if (status == kHelpShown) return kExitOk;
  if (status != kExitOk) return status;
  std::int32_t mode = TAGKIT_OPEN_WRITE | OpenFlags(parser.run);
  if (parser.split_links) mode |= TAGKIT_OPEN_SPLIT_LINKS;
  return RunFiles("set", parser.files, parser.run, SetTask(parser, mode));
}

}  // namespace tagkit_cli
