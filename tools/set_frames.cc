// The options of `tagkit set` that name frames: comments, user-defined texts,
// any text frame, lyrics from a file, and removals by identifier and
// description. Each becomes an edit that the library applies to every file,
// and that a dry run previews from the file's frame listing.
#include "cli.h"
#include "tlx_id3.h"

namespace tagkit_cli {

namespace {

#define FID TLX_ID3_FRAME_ID
const std::uint32_t kComment = FID('C', 'O', 'M', 'M');
const std::uint32_t kLyrics = FID('U', 'S', 'L', 'T');
const std::uint32_t kUserText = FID('T', 'X', 'X', 'X');
const std::uint32_t kObject = FID('G', 'E', 'O', 'B');
const std::uint32_t kDescribed[] = {kUserText, FID('W', 'X', 'X', 'X'), kComment, kLyrics,
                                    FID('A', 'P', 'I', 'C'), kObject};
const std::uint32_t kDateFrames[] = {FID('T', 'Y', 'E', 'R'), FID('T', 'D', 'A', 'T'),
                                     FID('T', 'I', 'M', 'E'), FID('T', 'R', 'D', 'A'),
                                     FID('T', 'D', 'R', 'C')};
// Frames that back a property, by the option that sets the property.
const struct {
  std::uint32_t id;
  const char* property;
} kPropertyFrames[] = {
    {FID('T', 'I', 'T', '2'), "title"},    {FID('T', 'P', 'E', '1'), "artist"},
    {FID('T', 'A', 'L', 'B'), "album"},    {FID('T', 'C', 'O', 'N'), "genre"},
    {FID('T', 'R', 'C', 'K'), "track"},    {FID('T', 'C', 'O', 'M'), "composer"},
    {FID('T', 'C', 'O', 'P'), "copyright"}, {FID('T', 'S', 'R', 'C'), "isrc"},
    {FID('W', 'O', 'A', 'R'), "url"},      {FID('A', 'P', 'I', 'C'), "picture"},
    {FID('U', 'F', 'I', 'D'), "music-id"},
};
#undef FID

// The descriptions of the two encapsulated objects of the class.
const char* const kObjectProperties[][2] = {{"mtdid", "USR_MTDID"}, {"qzvlx", "USR_QZVLX"}};

bool IsDateFrame(std::uint32_t id) {
  for (std::uint32_t each : kDateFrames) {
    if (each == id) return true;
  }
  return false;
}

bool HasDescription(std::uint32_t id) {
  for (std::uint32_t each : kDescribed) {
    if (each == id) return true;
  }
  return false;
}

const char* PropertyOf(std::uint32_t id) {
  for (const auto& frame : kPropertyFrames) {
    if (frame.id == id) return frame.property;
  }
  return nullptr;
}

std::string IdName(std::uint32_t id) {
  std::string name;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((id >> shift) & 0xFF);
    if (c != '\0') name.push_back(c);
  }
  return name;
}

// "TPE2", or "tp2" in either case: the ID3v2.3 name; none for text that
// names no frame.
std::optional<std::uint32_t> ParseId(const std::string& text) {
  if (text.size() != 3 && text.size() != 4) return std::nullopt;
  std::string upper = text;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  const std::uint32_t id = TLX_ID3_FRAME_ID(upper[0], upper[1], upper[2], upper.size() == 4 ? upper[3] : 0);
  std::uint32_t v23 = 0;
  switch (tlx_id3_frame_id_for_version(id, TLX_ID3_V23, &v23)) {
    case TLX_ID3_OK:
      return v23;
    case TLX_ID3_E_UNSUPPORTED:
      return id;  // an ID3v2.2 frame without a later counterpart
    default:
      return std::nullopt;
  }
}

// [LANG:][DESCRIPTION=]TEXT; the language is three ASCII letters.
struct Described {
  std::string language = "eng";
  std::string description;
  std::string text;
};

bool Letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

Described SplitDescribed(const std::string& value) {
  Described out;
  std::string rest = value;
  if (rest.size() >= 4 && rest[3] == ':' && Letter(rest[0]) && Letter(rest[1]) && Letter(rest[2])) {
    out.language = rest.substr(0, 3);
    rest.erase(0, 4);
  }
  const std::size_t equals = rest.find('=');
  if (equals != std::string::npos) {
    out.description = rest.substr(0, equals);
    rest.erase(0, equals + 1);
  }
  out.text = rest;
  return out;
}

std::string Label(std::uint32_t id, const std::optional<std::string>& language,
                  const std::optional<std::string>& description) {
  std::string label = IdName(id);
  if (language) label += " " + *language;
  if (description) label += " \"" + *description + "\"";
  return label;
}

// The listed frames that the target names, in the file's version.
std::vector<const FrameView*> Find(const FileState& file, std::uint32_t id,
                                   const std::optional<std::string>& language,
                                   const std::optional<std::string>& description) {
  std::vector<const FrameView*> found;
  std::uint32_t mapped = 0;
  if (file.id3v2 < 2 || file.id3v2 > 4 ||
      tlx_id3_frame_id_for_version(id, file.id3v2 == 2 ? TLX_ID3_V22 : TLX_ID3_V23, &mapped) !=
          TLX_ID3_OK) {
    return found;
  }
  const std::string name = IdName(mapped);
  for (const FrameView& frame : file.frames.frames) {
    if (frame.id != name) continue;
    if (language && frame.language != language) continue;
    if (description && frame.description != description) continue;
    found.push_back(&frame);
  }
  return found;
}

std::string Joined(const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& value : values) text += (text.empty() ? "" : " / ") + value;
  return text;
}

void PreviewSet(const FileState& file, std::uint32_t id, const std::optional<std::string>& language,
                const std::optional<std::string>& description, const std::string& text,
                std::vector<Change>& changes) {
  const std::vector<const FrameView*> found = Find(file, id, language, description);
  if (found.size() == 1 && found[0]->values == std::vector<std::string>{text}) return;
  Change change{Label(id, language, description), std::nullopt, text, true};
  if (!found.empty()) change.before = Joined(found[0]->values);
  changes.push_back(change);
}

// One line per frame removed: its texts, or what its bytes are.
void PreviewRemove(const FileState& file, std::uint32_t id,
                   const std::optional<std::string>& description, std::vector<Change>& changes) {
  for (const FrameView* frame : Find(file, id, std::nullopt, description)) {
    Change change{Label(id, frame->language, frame->description), std::nullopt, std::nullopt, true};
    if (frame->sha256) {
      std::string summary = frame->mime ? *frame->mime + ", " : std::string();
      summary += std::to_string(*frame->data_size) + (*frame->data_size == 1 ? " byte" : " bytes");
      change.before = summary;
      change.quoted = false;
    } else {
      change.before = Joined(frame->values);
    }
    changes.push_back(change);
  }
}

}  // namespace

bool FrameOptions::Handles(const std::string& name) {
  return name == "comment" || name == "user-text" || name == "frame" || name == "lyrics" ||
         name == "remove-frame";
}

int FrameOptions::Error(const std::string& message) const { return UsageError("set", message); }

int FrameOptions::Take(const std::string& name, const std::string& value,
                       std::set<std::string>& claimed) {
  if (name == "frame") return TakeFrame(value, claimed);
  if (name == "remove-frame") return TakeRemove(value, claimed);
  return TakeDescribed(name, value, claimed);
}

// A frame option that changes a property's frame keeps other options of that
// property off it.
int FrameOptions::Claim(const std::string& option, const std::string& property,
                        std::set<std::string>& claimed) {
  if (own_claims_.count(property) != 0) return kExitOk;
  if (!claimed.insert(property).second) {
    return Error(option + " conflicts with --" + property + " or --remove " + property);
  }
  own_claims_.insert(property);
  return kExitOk;
}

int FrameOptions::AddSet(const std::string& option, const Target& target,
                         std::set<std::string>& claimed) {
  const std::string label = Label(target.id, target.language, target.description);
  for (const Target& removal : removals_) {
    if (removal.id == target.id &&
        (!removal.description || removal.description == target.description)) {
      return Error("'" + label + "' is both set and removed");
    }
  }
  for (const Target& set : sets_) {
    if (set.id == target.id && set.language == target.language &&
        set.description == target.description) {
      return Error(option + " given twice for '" + label + "'");
    }
  }
  if (const char* property = PropertyOf(target.id)) {
    const int status = Claim(option, property, claimed);
    if (status != kExitOk) return status;
  }
  sets_.push_back(target);
  return kExitOk;
}

int FrameOptions::TakeDescribed(const std::string& name, const std::string& value,
                                std::set<std::string>& claimed) {
  const std::string option = "--" + name;
  Target target{kUserText, std::nullopt, std::nullopt};
  std::string text;
  if (name == "user-text") {
    const std::size_t equals = value.find('=');
    if (equals == std::string::npos || equals + 1 == value.size()) {
      return Error("--user-text needs DESCRIPTION=VALUE");
    }
    target.description = value.substr(0, equals);
    text = value.substr(equals + 1);
  } else {
    const Described described = SplitDescribed(value);
    target.id = name == "comment" ? kComment : kLyrics;
    target.language = described.language;
    target.description = described.description;
    text = described.text;
    if (text.empty()) {
      return Error(option + " needs " + (name == "comment" ? "a text" : "a file") +
                   "; use --remove-frame " + IdName(target.id) + ":DESCRIPTION");
    }
  }
  if (name == "lyrics") {
    // The lyrics come from a UTF-8 text file, read once here.
    const std::string path = text;
    std::vector<unsigned char> bytes;
    const HRESULT hr = ReadWholeFile(path, bytes);
    if (FAILED(hr)) {
      ReportFailure(Failure{path, hr, "cannot read the file of --lyrics"}, nullptr);
      return kExitUsage;
    }
    text.assign(bytes.begin(), bytes.end());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    if (text.empty()) return Error("the lyrics file '" + path + "' is empty");
    if (WideToUtf8(Utf8ToWide(text)) != text) {
      return Error("the lyrics file '" + path + "' is not UTF-8 text");
    }
  }
  const int status = AddSet(option, target, claimed);
  if (status != kExitOk) return status;
  const std::string label = Label(target.id, target.language, target.description);
  const std::wstring language = Utf8ToWide(target.language.value_or(""));
  const std::wstring description = Utf8ToWide(*target.description);
  const std::wstring wide = Utf8ToWide(text);
  Edit edit;
  edit.what = "set " + label;
  if (name == "comment") {
    edit.apply = [=](CTagkit& tag) { return tag.PutComment(language, description, wide); };
  } else if (name == "lyrics") {
    edit.apply = [=](CTagkit& tag) { return tag.PutLyrics(language, description, wide); };
  } else {
    edit.apply = [=](CTagkit& tag) { return tag.PutUserText(description, wide); };
  }
  edit.preview = [target, text](const FileState& file, std::vector<Change>& changes) {
    PreviewSet(file, target.id, target.language, target.description, text, changes);
  };
  edit.needs_frames = true;
  edits.push_back(edit);
  return kExitOk;
}

int FrameOptions::TakeFrame(const std::string& value, std::set<std::string>& claimed) {
  const std::size_t equals = value.find('=');
  const std::string given = value.substr(0, equals);
  const std::optional<std::uint32_t> id = ParseId(given);
  if (equals == std::string::npos || !id) return Error("--frame needs ID=TEXT, e.g. TPE2=Band");
  const std::string name = IdName(*id);
  if ((*id >> 24) != 'T' || *id == kUserText) {
    return Error("--frame sets text frames (T...); TXXX is set with --user-text");
  }
  if (IsDateFrame(*id)) return Error("--frame " + name + ": the release date is set with --date");
  const std::string text = value.substr(equals + 1);
  if (text.empty()) return Error("--frame " + name + "= needs a text; use --remove-frame " + name);
  const int status = AddSet("--frame " + name, Target{*id, std::nullopt, std::nullopt}, claimed);
  if (status != kExitOk) return status;
  const std::wstring wide = Utf8ToWide(text);
  const std::uint32_t frame = *id;
  edits.push_back({"set " + name, [name, wide](CTagkit& tag) { return tag.PutFrameText(name, wide); },
                   [frame, text](const FileState& file, std::vector<Change>& changes) {
                     PreviewSet(file, frame, std::nullopt, std::nullopt, text, changes);
                   },
                   true});
  return kExitOk;
}

int FrameOptions::TakeRemove(const std::string& value, std::set<std::string>& claimed) {
  const std::size_t colon = value.find(':');
  const std::optional<std::uint32_t> id = ParseId(value.substr(0, colon));
  if (!id) return Error("--remove-frame needs ID or ID:DESCRIPTION, e.g. TXXX:CATALOG");
  const std::string name = IdName(*id);
  Target target{*id, std::nullopt, std::nullopt};
  if (colon != std::string::npos) target.description = value.substr(colon + 1);
  if (IsDateFrame(*id)) {
    return Error("--remove-frame " + name + ": the release date is removed with --remove date");
  }
  if (target.description && !HasDescription(*id)) {
    return Error("--remove-frame " + name +
                 ": only TXXX, WXXX, COMM, USLT, APIC and GEOB frames have a description");
  }
  const std::string label = Label(*id, std::nullopt, target.description);
  for (const Target& set : sets_) {
    if (set.id == *id && (!target.description || set.description == target.description)) {
      return Error("'" + label + "' is both set and removed");
    }
  }
  for (const Target& removal : removals_) {
    if (removal.id == *id && removal.description == target.description) {
      return Error("'" + label + "' is removed twice");
    }
  }
  const char* property = PropertyOf(*id);
  int status = property != nullptr ? Claim("--remove-frame " + label, property, claimed) : kExitOk;
  for (const auto& object : kObjectProperties) {
    if (status == kExitOk && *id == kObject &&
        (!target.description || *target.description == object[1])) {
      status = Claim("--remove-frame " + label, object[0], claimed);
    }
  }
  if (status != kExitOk) return status;
  removals_.push_back(target);
  const std::optional<std::wstring> description =
      target.description ? std::optional<std::wstring>(Utf8ToWide(*target.description))
                         : std::nullopt;
  edits.push_back({"remove " + label,
                   [name, description](CTagkit& tag) {
                     return description ? tag.RemoveFrames(name, *description)
                                        : tag.RemoveFrames(name);
                   },
                   [target](const FileState& file, std::vector<Change>& changes) {
                     PreviewRemove(file, target.id, target.description, changes);
                   },
                   true});
  return kExitOk;
}

}  // namespace tagkit_cli
