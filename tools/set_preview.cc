// What `tagkit set --dry-run` reports: the values of the properties before
// and after, and the lines or JSON objects that name each change.
#include <cstdio>

#include "cli.h"

namespace tagkit_cli {
namespace {

// Buffers of CMusicId and CGeob come from the COM task allocator.
struct TaskMem {
  unsigned char* data = nullptr;
  ~TaskMem() { CoTaskMemFree(data); }
};

std::string ChangeValue(const std::optional<std::string>& value, bool quoted) {
  if (!value) return "(none)";
  return quoted ? "\"" + ShortText(*value) + "\"" : ShortText(*value);
}

}  // namespace

std::string JoinedUtf8(const std::vector<std::wstring>& values) {
  std::string text;
  for (const std::wstring& value : values) text += (text.empty() ? "" : " / ") + WideToUtf8(value);
  return text;
}

std::optional<std::string> DateText(double date) {
  std::int32_t year = 0, month = 0, day = 0;
  if (date == TAGKIT_NO_DATE || !CXDate::GetYear(date, year) || !CXDate::GetMonth(date, month) ||
      !CXDate::GetDay(date, day)) {
    return std::nullopt;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(year),
                static_cast<int>(month), static_cast<int>(day));
  return std::string(text);
}

std::string BinaryText(const std::wstring& mime, const unsigned char* data, std::size_t size) {
  std::string text = mime.empty() ? std::string() : WideToUtf8(mime) + ", ";
  return text + std::to_string(size) + (size == 1 ? " byte" : " bytes") + ", sha256 " +
         Sha256Hex(data, size).substr(0, 8);
}

std::optional<std::string> PictureText(CTagkit& tag) {
  CTagkit::PictureVector pictures;
  if (tag.GetBinary(PROPID_PICTURE, pictures) != S_OK || pictures.empty() || !pictures[0]) {
    return std::nullopt;
  }
  std::vector<unsigned char> bytes(static_cast<std::size_t>(pictures[0]->Size()) + 1);
  unsigned char* data = bytes.data();
  std::int32_t size = pictures[0]->Size();
  if (FAILED(pictures[0]->GetData(&data, size))) return std::nullopt;
  return BinaryText(pictures[0]->Mime(), bytes.data(), static_cast<std::size_t>(size));
}

std::optional<std::string> MusicIdText(CTagkit& tag) {
  CTagkit::MusicIdVector ids;
  if (tag.GetMusicId(ids) != S_OK || ids.empty() || !ids[0]) return std::nullopt;
  TaskMem buffer;
  std::int32_t size = 0;
  if (FAILED(ids[0]->GetData(&buffer.data, size))) return std::nullopt;
  return Hex(buffer.data, static_cast<std::size_t>(size));
}

std::optional<std::string> GeobText(CTagkit& tag, std::int32_t id) {
  CTagkit::GeobVector objects;
  if (tag.GetGeob(id, objects) != S_OK || objects.empty() || !objects[0]) return std::nullopt;
  TaskMem buffer;
  std::int32_t size = 0;
  if (FAILED(objects[0]->GetData(&buffer.data, size))) return std::nullopt;
  return BinaryText(std::wstring(), buffer.data, static_cast<std::size_t>(size));
}

void Report(std::vector<Change>& changes, const std::string& what,
            const std::optional<std::string>& before, const std::optional<std::string>& after,
            bool quoted) {
  if (before != after) changes.push_back({what, before, after, quoted});
}

std::string ChangesText(const std::string& file, const std::vector<Change>& changes) {
  if (changes.empty()) return Printable(file) + ": no change\n";
  std::string out;
  for (const Change& change : changes) {
    out += Printable(file) + ": " + Printable(change.what) + ": " +
           ChangeValue(change.before, change.quoted) + " -> " +
           ChangeValue(change.after, change.quoted) + "\n";
  }
  return out;
}

std::string ChangesJson(const std::string& file, const std::vector<Change>& changes) {
  JsonWriter json;
  json.BeginObject();
  json.Key("file");
  json.String(file);
  json.Key("changes");
  json.BeginArray();
  for (const Change& change : changes) {
    json.BeginObject();
    json.Key("what");
    json.String(change.what);
    for (const auto& value : {std::make_pair("old", &change.before),
                              std::make_pair("new", &change.after)}) {
      json.Key(value.first);
      if (*value.second) {
        json.String(**value.second);
      } else {
        json.Null();
      }
    }
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  return json.str() + "\n";
}

}  // namespace tagkit_cli
