// `tagkit show --all`: every frame of the ID3v2 tag in file order, read
// through the engine and decoded as far as its kind allows. Nothing here
// fails a listing: what cannot be decoded is shown as bytes with a note.
#include <algorithm>
#include <map>

#include "cli.h"
#include "tlx_id3.h"

namespace tagkit_cli {
namespace {

// The engine finds a frame by walking the tag from its start, so a listing
// costs the square of the frame count; a damaged tag of many tiny frames
// stops here.
constexpr std::uint32_t kMaxListedFrames = 1000;
// A compressed frame may unpack to more than the file holds, within reason.
constexpr std::int64_t kMaxUnpackedSize = 256 << 20;
constexpr std::size_t kMaxShownCodePoints = 60;

const char* const kPictureTypes[] = {
    "other", "file icon", "other file icon", "front cover", "back cover", "leaflet page",
    "media", "lead artist", "artist", "conductor", "band", "composer", "lyricist",
    "recording location", "during recording", "during performance", "video screen capture",
    "bright coloured fish", "illustration", "band logotype", "publisher logotype"};

const char* const kEncodings[] = {"latin1", "utf16", "utf16be", "utf8"};

using Bytes = std::vector<unsigned char>;

std::string IdText(std::uint32_t id) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((id >> shift) & 0xFF);
    if (shift == 0 && c == '\0') break;  // three-character ID3v2.2 identifier
    text.push_back(c);
  }
  return text;
}

// UTF-16 text to UTF-8; a byte-order mark decides the order, else
// big_endian does. Lone surrogates and an odd last byte become U+FFFD.
std::string Utf16ToUtf8(const unsigned char* p, std::size_t n, bool big_endian, bool& clean) {
  if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
    big_endian = p[0] == 0xFE;
    p += 2, n -= 2;
  }
  auto unit = [&](std::size_t i) -> char32_t {
    return big_endian ? (char32_t{p[i]} << 8) | p[i + 1] : (char32_t{p[i + 1]} << 8) | p[i];
  };
  std::string out;
  for (std::size_t i = 0; i + 1 < n; i += 2) {
    char32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < n && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
      clean = false;
    }
    AppendUtf8(cp, out);
  }
  if (n % 2 != 0) {
    AppendUtf8(0xFFFD, out);
    clean = false;
  }
  return out;
}

std::string ValidUtf8(const std::string& bytes, bool& clean) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t cp;
    const std::size_t length = DecodeUtf8(bytes, i, cp);
    if (cp == 0xFFFD && length == 1 && bytes.compare(i, 3, "\xEF\xBF\xBD") != 0) clean = false;
    AppendUtf8(cp, out);
    i += length;
  }
  return out;
}

// Walks the data of one frame; running out of bytes marks it damaged.
class FrameReader {
 public:
  explicit FrameReader(const Bytes& data) : data_(data) {}

  bool ok() const { return ok_; }
  bool clean() const { return clean_; }
  std::size_t left() const { return data_.size() - pos_; }

  int Byte() {
    if (left() == 0) return Fail(), 0;
    return data_[pos_++];
  }
  // The text encoding byte; false (and damaged) for an unknown one.
  bool Encoding(int& encoding) {
    encoding = Byte();
    if (ok_ && encoding > 3) problem_ = "unknown text encoding " + std::to_string(encoding);
    return ok_ && encoding <= 3;
  }
  std::string Fixed(std::size_t n) {
    if (left() < n) return Fail(), std::string();
    const std::string text(data_.begin() + pos_, data_.begin() + pos_ + n);
    pos_ += n;
    return text;
  }
  // A string ended by the encoding's terminator (or by the data's end when
  // `to_end`); the terminator is consumed.
  std::string Text(int encoding, bool to_end = false) {
    const bool wide = encoding == 1 || encoding == 2;
    std::size_t end = pos_;
    while (true) {
      if (end + (wide ? 1 : 0) >= data_.size()) {
        end = data_.size();
        if (!to_end) Fail();
        break;
      }
      if (data_[end] == 0 && (!wide || data_[end + 1] == 0)) break;
      end += wide ? 2 : 1;
    }
    std::string text = Decode(encoding, pos_, end);
    pos_ = end < data_.size() ? end + (wide ? 2 : 1) : end;
    return text;
  }
  // Every string to the end: the values of a text frame. A terminator at
  // the very end closes the last value rather than starting an empty one.
  std::vector<std::string> Values(int encoding) {
    std::vector<std::string> values;
    do {
      values.push_back(Text(encoding, true));
    } while (left() > 0);
    return values;
  }
  Bytes Rest() {
    Bytes rest(data_.begin() + pos_, data_.end());
    pos_ = data_.size();
    return rest;
  }
  const std::optional<std::string>& problem() const { return problem_; }

 private:
  void Fail() {
    if (ok_ && !problem_) problem_ = "the frame ends early";
    ok_ = false;
  }
  std::string Decode(int encoding, std::size_t begin, std::size_t end) {
    const std::string raw(data_.begin() + begin, data_.begin() + end);
    switch (encoding) {
      case 1:
      case 2:
        return Utf16ToUtf8(data_.data() + begin, end - begin, encoding == 2, clean_);
      case 3:
        return ValidUtf8(raw, clean_);
      default:
        return CodePageToUtf8(raw);
    }
  }

  const Bytes& data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
  bool clean_ = true;
  std::optional<std::string> problem_;
};

void SetPayload(FrameView& view, const Bytes& bytes) {
  view.data_size = static_cast<std::int64_t>(bytes.size());
  view.sha256 = Sha256Hex(bytes.data(), bytes.size());
}

// Decodes by kind; false leaves the frame to be shown as bytes.
bool DecodeKind(const std::string& id, FrameReader& in, FrameView& view) {
  const bool v22 = id.size() == 3;
  int encoding = 0;
  auto encoded = [&]() {
    if (!in.Encoding(encoding)) return false;
    view.encoding = kEncodings[encoding];
    return true;
  };
  if (id == "TXXX" || id == "TXX") {
    view.kind = "user_text";
    if (!encoded()) return false;
    view.description = in.Text(encoding);
    view.values = in.Values(encoding);
  } else if (id[0] == 'T') {
    view.kind = "text";
    if (!encoded()) return false;
    view.values = in.Values(encoding);
  } else if (id == "WXXX" || id == "WXX") {
    view.kind = "user_url";
    if (!encoded()) return false;
    view.description = in.Text(encoding);
    view.values = {in.Text(0, true)};
  } else if (id[0] == 'W') {
    view.kind = "url";
    view.values = {in.Text(0, true)};
  } else if (id == "COMM" || id == "COM" || id == "USLT" || id == "ULT") {
    view.kind = id[0] == 'C' ? "comment" : "lyrics";
    if (!encoded()) return false;
    view.language = CodePageToUtf8(in.Fixed(3));
    view.description = in.Text(encoding);
    view.values = {in.Text(encoding, true)};
  } else if (id == "APIC" || id == "PIC") {
    view.kind = "picture";
    if (!encoded()) return false;
    view.mime = v22 ? CodePageToUtf8(in.Fixed(3)) : in.Text(0);
    view.picture_type = in.Byte();
    view.description = in.Text(encoding);
    if (in.ok()) SetPayload(view, in.Rest());
  } else if (id == "GEOB" || id == "GEO") {
    view.kind = "object";
    if (!encoded()) return false;
    view.mime = in.Text(0);
    view.file_name = in.Text(encoding);
    view.description = in.Text(encoding);
    if (in.ok()) SetPayload(view, in.Rest());
  } else if (id == "UFID" || id == "UFI" || id == "PRIV") {
    view.kind = id == "PRIV" ? "private" : "file_id";
    view.owner = in.Text(0);
    if (in.ok()) SetPayload(view, in.Rest());
  } else {
    return false;
  }
  return in.ok();
}

void Decode(const tlx_id3_v2_frame_header& header, const Bytes& data, FrameView& view) {
  FrameReader in(data);
  // Data still compressed (the engine unpacks it only as a size that
  // matches the stored one) or encrypted is shown as bytes.
  const bool packed = header.compression != 0 && header.size != header.decompressed_size;
  if (!packed && header.encryption == 0 && DecodeKind(view.id, in, view)) {
    if (!in.clean()) view.problem = "text that does not decode, shown with U+FFFD";
    return;
  }
  if (view.kind.empty()) view.kind = "binary";
  view.problem = in.problem();
  SetPayload(view, data);
}

void Flags(const tlx_id3_v2_frame_header& header, bool tag_unsync, FrameView& view) {
  if (header.read_only) view.flags.push_back("read only");
  if (header.compression) view.flags.push_back("compressed");
  if (header.encryption) view.flags.push_back("encrypted");
  if (header.unsync || tag_unsync) view.flags.push_back("unsynchronised");
  if (header.grouping) view.flags.push_back("grouped");
}

// Cut to kMaxShownCodePoints with an ellipsis, control characters escaped.
std::string Short(const std::string& text) {
  std::size_t i = 0;
  for (std::size_t count = 0; i < text.size() && count < kMaxShownCodePoints; ++count) {
    char32_t cp;
    i += DecodeUtf8(text, i, cp);
  }
  return Printable(text.substr(0, i)) + (i < text.size() ? "\u2026" : "");
}

std::string Quoted(const std::optional<std::string>& text) {
  return "\"" + Short(text.value_or("")) + "\"";
}

std::string SizeText(std::int64_t size) {
  return std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

std::string PictureType(int type) {
  const int count = static_cast<int>(sizeof kPictureTypes / sizeof kPictureTypes[0]);
  const std::string number = "(" + std::to_string(type) + ")";
  return type < count ? std::string(kPictureTypes[type]) + " " + number : "type " + number;
}

// The text of one frame: the first line, then continuation lines.
std::vector<std::string> FrameLines(const FrameView& frame) {
  std::vector<std::string> lines;
  std::string head;
  if (frame.kind == "user_text" || frame.kind == "user_url") {
    head = Quoted(frame.description) + " ";
  } else if (frame.kind == "comment" || frame.kind == "lyrics") {
    head = Short(frame.language.value_or("")) + " " + Quoted(frame.description) + " ";
  }
  for (const std::string& value : frame.values) lines.push_back(head + Short(value));
  if (frame.sha256) {
    std::string about;
    if (frame.mime) about += Short(*frame.mime) + ", ";
    if (frame.picture_type) about += PictureType(*frame.picture_type) + ", ";
    if (frame.file_name) about += Quoted(frame.file_name) + ", ";
    if (frame.description) about += Quoted(frame.description) + ", ";
    if (frame.owner) about += "owner " + Short(*frame.owner) + ", ";
    lines.push_back(about + SizeText(*frame.data_size));
    lines.push_back("sha256 " + *frame.sha256);
  }
  if (frame.problem) lines.push_back("(" + *frame.problem + ")");
  if (!frame.flags.empty()) {
    std::string flags;
    for (const std::string& flag : frame.flags) flags += (flags.empty() ? "[" : ", ") + flag;
    if (lines.empty()) lines.emplace_back();
    lines.front() = flags + "] " + lines.front();
  }
  if (lines.empty()) lines.push_back("(empty)");
  return lines;
}

}  // namespace

FrameListing ReadFrames(const std::string& path, bool strict, std::int64_t file_size) {
  FrameListing listing;
  tlx_id3_context context = {};
  if (tlx_id3_create_context(Utf8ToWide(path).c_str(), TLX_ID3_MODE_READ, nullptr, &context) !=
      TLX_ID3_OK) {
    listing.problem = "the file cannot be opened";
    return listing;
  }
  tlx_id3_v2_header header = {};
  std::uint32_t total = 0;
  int32_t rc = strict ? TLX_ID3_OK : tlx_id3_set_options(&context, TLX_ID3_OPTION_V24);
  if (rc == TLX_ID3_OK) rc = tlx_id3_v2_get_header(&context, &header);
  if (rc == TLX_ID3_E_UNSUPPORTED) {
    listing.problem = header.version == TLX_ID3_V24 && strict
                          ? "ID3v2.4 is refused with --strict"
                          : "a tag of a version that is not read";
  }
  if (rc == TLX_ID3_OK && tlx_id3_v2_get_frame_total_num(&context, &total) == TLX_ID3_OK) {
    listing.total = total;
    std::map<std::uint32_t, std::uint32_t> seen;  // occurrences by identifier
    for (std::uint32_t i = 0; i < total && i < kMaxListedFrames; ++i) {
      tlx_id3_v2_frame_header frame = {};
      if (tlx_id3_v2_get_frame_header_by_index(&context, i, &frame) != TLX_ID3_OK ||
          frame.id == 0) {
        break;
      }
      FrameView view;
      view.id = IdText(frame.id);
      view.size = frame.size;
      Flags(frame, header.unsync != 0, view);
      const std::int64_t limit = frame.compression ? kMaxUnpackedSize : file_size;
      Bytes data;
      if (file_size >= 0 && static_cast<std::int64_t>(frame.size) > limit) {
        view.kind = "binary";
        view.problem = "the frame claims more bytes than the file holds";
      } else {
        data.resize(frame.size);
        std::uint32_t size = frame.size;
        if (tlx_id3_v2_get_frame_data(&context, frame.id, seen[frame.id], &size, data.data()) !=
            TLX_ID3_OK) {
          view.kind = "binary";
          view.problem = "the frame data cannot be read";
          size = 0;
        }
        data.resize(size);
        Decode(frame, data, view);
      }
      ++seen[frame.id];
      listing.frames.push_back(std::move(view));
    }
  }
  tlx_id3_destroy_context(&context);
  return listing;
}

void WriteFramesJson(JsonWriter& json, const FrameListing& listing) {
  if (listing.problem) {
    json.Key("frames_problem");
    json.String(*listing.problem);
  }
  json.Key("frame_count");
  json.Number(listing.total);
  json.Key("frames");
  json.BeginArray();
  for (const FrameView& frame : listing.frames) {
    json.BeginObject();
    json.Key("id");
    json.String(frame.id);
    json.Key("kind");
    json.String(frame.kind);
    json.Key("size");
    json.Number(frame.size);
    json.Key("flags");
    json.BeginArray();
    for (const std::string& flag : frame.flags) json.String(flag);
    json.EndArray();
    const std::pair<const char*, const std::optional<std::string>*> texts[] = {
        {"encoding", &frame.encoding}, {"language", &frame.language},
        {"description", &frame.description}, {"mime", &frame.mime},
        {"file_name", &frame.file_name}, {"owner", &frame.owner}};
    for (const auto& text : texts) {
      if (!*text.second) continue;
      json.Key(text.first);
      json.String(**text.second);
    }
    if (frame.kind != "binary" && frame.sha256 == std::nullopt) {
      json.Key("values");
      json.BeginArray();
      for (const std::string& value : frame.values) json.String(value);
      json.EndArray();
    }
    if (frame.picture_type) {
      json.Key("picture_type");
      json.Number(*frame.picture_type);
    }
    if (frame.sha256) {
      json.Key("data_size");
      json.Number(*frame.data_size);
      json.Key("sha256");
      json.String(*frame.sha256);
    }
    if (frame.problem) {
      json.Key("problem");
      json.String(*frame.problem);
    }
    json.EndObject();
  }
  json.EndArray();
}

std::string ShortText(const std::string& utf8) { return Short(utf8); }

std::string FramesText(const FrameListing& listing, std::size_t indent) {
  const std::string margin(indent, ' ');
  std::string out;
  if (listing.problem) out += margin + "(" + *listing.problem + ")\n";
  for (const FrameView& frame : listing.frames) {
    std::string id = Printable(frame.id);
    id.resize(std::max<std::size_t>(id.size(), 4) + 2, ' ');
    const std::vector<std::string> lines = FrameLines(frame);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      out += margin + (i == 0 ? id : std::string(id.size(), ' ')) + lines[i] + "\n";
    }
  }
  if (listing.frames.size() < listing.total) {
    out += margin + "(the first " + std::to_string(listing.frames.size()) + " of " +
           std::to_string(listing.total) + " frames)\n";
  }
  return out;
}

}  // namespace tagkit_cli
