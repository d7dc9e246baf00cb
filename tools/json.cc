// A small JSON writer: one value per call sequence, compact output.
#include <cstdio>
#include <utility>

#include "cli.h"

namespace tagkit_cli {

namespace {

// Appends utf8 to out as a JSON string, quotes included.
void AppendQuoted(const std::string& utf8, std::string& out) {
  out += '"';
  for (std::size_t i = 0; i < utf8.size();) {
    // Plain ASCII goes through as it is; a scan holds most of a tag's text.
    std::size_t plain = i;
    while (plain < utf8.size() && utf8[plain] >= 0x20 && utf8[plain] < 0x7F &&
           utf8[plain] != '"' && utf8[plain] != '\\') {
      ++plain;
    }
    out.append(utf8, i, plain - i);
    i = plain;
    if (i == utf8.size()) break;
    char32_t cp;
    i += DecodeUtf8(utf8, i, cp);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        // U+2028 and U+2029 are valid JSON but break JavaScript readers.
        if (cp < 0x20 || cp == 0x7F || cp == 0x2028 || cp == 0x2029) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
          out += escape;
        } else {
          AppendUtf8(cp, out);
        }
    }
  }
  out += '"';
}

}  // namespace

std::string JsonQuote(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size() + 2);
  AppendQuoted(utf8, out);
  return out;
}

JsonWriter::JsonWriter() { out_.reserve(kLineRoom); }

std::string JsonWriter::Release() { return std::move(out_); }

void JsonWriter::Separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!first_.empty()) {
    if (!first_.back()) out_ += ',';
    first_.back() = false;
  }
}

void JsonWriter::BeginObject() {
  Separate();
  out_ += '{';
  first_.push_back(true);
}

void JsonWriter::EndObject() {
  first_.pop_back();
  out_ += '}';
}

void JsonWriter::BeginArray() {
  Separate();
  out_ += '[';
  first_.push_back(true);
}

void JsonWriter::EndArray() {
  first_.pop_back();
  out_ += ']';
}

void JsonWriter::Key(const std::string& key) {
  Separate();
  AppendQuoted(key, out_);
  out_ += ':';
  after_key_ = true;
}

void JsonWriter::Key(const char* key) {
  // Keys are plain ASCII words: they go in as they are.
  std::size_t length = 0;
  for (; key[length] != '\0'; ++length) {
    const char c = key[length];
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') return Key(std::string(key));
  }
  Separate();
  out_ += '"';
  out_.append(key, length);
  out_ += "\":";
  after_key_ = true;
}

void JsonWriter::String(const std::string& utf8) {
  Separate();
  AppendQuoted(utf8, out_);
}

void JsonWriter::Number(std::int64_t value) {
  Separate();
  out_ += std::to_string(value);
}

void JsonWriter::Null() {
  Separate();
  out_ += "null";
}

}  // namespace tagkit_cli
