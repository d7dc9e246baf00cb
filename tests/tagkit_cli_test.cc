// Drives the built `tagkit` program as a user would: command lines, exit
// statuses, standard output and standard error, and the files afterwards.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "test_support.h"

extern char** environ;

namespace {

using tagkit_test::Bytes;
using tagkit_test::Concat;
using tagkit_test::Frame22;
using tagkit_test::Frame23;
using tagkit_test::Id3v1;
using tagkit_test::Id3v2Tag;
using tagkit_test::ReadFile;
using tagkit_test::TempDir;
using tagkit_test::Text;
using tagkit_test::WriteFile;

// ---- a strict JSON reader, to check what the program prints ----

struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string string;  // UTF-8
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* Find(const std::string& key) const {
    for (const auto& member : members) {
      if (member.first == key) return &member.second;
    }
    return nullptr;
  }
  // The member's value; fails the test when it is missing.
  const Json& operator[](const std::string& key) const {
    static const Json missing;
    const Json* found = Find(key);
    EXPECT_NE(found, nullptr) << "no key " << key;
    return found != nullptr ? *found : missing;
  }
  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (const auto& member : members) keys.push_back(member.first);
    return keys;
  }
  std::vector<std::string> Strings() const {
    std::vector<std::string> out;
    for (const Json& item : items) out.push_back(item.string);
    return out;
  }
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  // The whole text must be one value; raw control characters and invalid
  // UTF-8 inside strings are errors.
  bool Read(Json& out) {
    if (!Value(out, 0)) return false;
    Space();
    return pos_ == text_.size();
  }

 private:
  void Space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Literal(const char* word) {
    const std::string w = word;
    if (text_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }
  bool Value(Json& out, int depth) {
    if (depth > 32) return false;
    Space();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '{') return Object(out, depth);
    if (c == '[') return Array(out, depth);
    if (c == '"') {
      out.kind = Json::kString;
      return String(out.string);
    }
    if (Literal("null")) return out.kind = Json::kNull, true;
    if (Literal("true")) return out.kind = Json::kBool, out.boolean = true, true;
    if (Literal("false")) return out.kind = Json::kBool, out.boolean = false, true;
    return Number(out);
  }
  bool Number(Json& out) {
    const std::size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    std::size_t digits = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_, ++digits;
    if (digits == 0 || (digits > 1 && text_[pos_ - digits] == '0')) return false;
    out.kind = Json::kNumber;
    out.number = std::stod(text_.substr(start, pos_ - start));
    return true;
  }
  bool Hex4(unsigned& value) {
    if (pos_ + 4 > text_.size()) return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
      else return false;
    }
    return true;
  }
  static void Utf8(unsigned cp, std::string& out) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  // One raw UTF-8 sequence, checked for shortest form and range.
  bool RawChar(std::string& out) {
    const unsigned char c = static_cast<unsigned char>(text_[pos_]);
    if (c < 0x20) return false;
    std::size_t length = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
                                   : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (length == 0 || pos_ + length > text_.size()) return false;
    unsigned cp = length == 1 ? c : c & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text_[pos_ + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    const unsigned min[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.append(text_, pos_, length);
    pos_ += length;
    return true;
  }
  bool String(std::string& out) {
    ++pos_;  // opening quote
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '"') return ++pos_, true;
      if (c != '\\') {
        if (!RawChar(out)) return false;
        continue;
      }
      if (++pos_ >= text_.size()) return false;
      const char e = text_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned low;
            if (!Literal("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
          }
          Utf8(cp, out);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }
  bool Array(Json& out, int depth) {
    out.kind = Json::kArray;
    ++pos_;
    Space();
    if (pos_ < text_.size() && text_[pos_] == ']') return ++pos_, true;
    while (true) {
      out.items.emplace_back();
      if (!Value(out.items.back(), depth + 1)) return false;
      Space();
      if (pos_ >= text_.size()) return false;
      if (text_[pos_] == ']') return ++pos_, true;
      if (text_[pos_++] != ',') return false;
    }
  }
  bool Object(Json& out, int depth) {
    out.kind = Json::kObject;
    ++pos_;
    Space();
    if (pos_ < text_.size() && text_[pos_] == '}') return ++pos_, true;
    while (true) {
      Space();
      std::string key;
      if (pos_ >= text_.size() || text_[pos_] != '"' || !String(key)) return false;
      if (out.Find(key) != nullptr) return false;  // the program never repeats a key
      Space();
      if (pos_ >= text_.size() || text_[pos_++] != ':') return false;
      out.members.emplace_back(key, Json());
      if (!Value(out.members.back().second, depth + 1)) return false;
      Space();
      if (pos_ >= text_.size()) return false;
      if (text_[pos_] == '}') return ++pos_, true;
      if (text_[pos_++] != ',') return false;
    }
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

// ---- running the program ----

struct Outcome {
  int status = -1;  // exit status; -1 when killed by a signal
  std::string out, err;
  std::vector<std::string> OutLines() const { return Lines(out); }
  std::vector<std::string> ErrLines() const { return Lines(err); }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

std::string ProgramPath() {
  const char* build = getenv("TAGKIT_BUILD_DIR");
  if (build != nullptr && *build != '\0') return std::string(build) + "/tools/tagkit";
  // Outcome by hand: the program sits beside the tests folder of the build.
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "tagkit";
  std::string path(self, static_cast<std::size_t>(length));
  path = path.substr(0, path.rfind('/'));
  return path.substr(0, path.rfind('/')) + "/tools/tagkit";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program's temporary files go to a folder of the test's own.
    ASSERT_EQ(mkdir(TempFolder().c_str(), 0700), 0);
    program_ = ProgramPath();
    ASSERT_EQ(access(program_.c_str(), X_OK), 0) << "the program is not built: " << program_;
  }

  // Runs the program in the test's directory with standard output and
  // standard error captured in files.
  Outcome Tagkit(const std::vector<std::string>& args) {
    const std::string out = dir_.File(".out"), err = dir_.File(".err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.path().c_str());
    std::vector<std::string> argv_strings = {program_};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_strings) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    std::vector<std::string> env_strings = {"TMPDIR=" + TempFolder()};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (std::string(*entry).compare(0, 7, "TMPDIR=") != 0) env_strings.push_back(*entry);
    }
    std::vector<char*> env;
    for (std::string& entry : env_strings) env.push_back(&entry[0]);
    env.push_back(nullptr);
    Outcome run;
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    if (spawned != 0) return run;
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = Slurp(out);
    run.err = Slurp(err);
    return run;
  }

  // `show --json` of one file, parsed.
  Json ShowJson(const std::string& file, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"show", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(file);
    const Outcome run = Tagkit(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    Json json;
    const std::vector<std::string> lines = run.OutLines();
    EXPECT_EQ(lines.size(), 1u) << run.out;
    if (lines.size() == 1) {
      EXPECT_TRUE(JsonReader(lines[0]).Read(json)) << lines[0];
    }
    return json;
  }

  std::string Write(const std::string& name, const Bytes& bytes) {
    WriteFile(dir_.File(name), bytes);
    return name;
  }
  Bytes Read(const std::string& name) { return ReadFile(dir_.File(name)); }
  std::string TempFolder() const { return dir_.File("tmp"); }

  TempDir dir_;
  std::string program_;
};

Bytes Utf16Text(const std::u16string& text) {
  Bytes out = {0x01, 0xFF, 0xFE};
  for (char16_t unit : text) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return out;
}

Bytes Latin(const std::string& text) { return Concat({{0x00}, Text(text)}); }

Bytes Audio() { return tagkit_test::Audio(4000); }

// A file with a tag of every kind the program shows.
Bytes TaggedMp3() {
  return Concat({Id3v2Tag(3, 0,
                          Concat({Frame23("TIT2", Utf16Text(u"Morning Light")),
                                  Frame23("TPE1", Latin("The Sample Quartet")),
                                  Frame23("TRCK", Latin("3")),
                                  Frame23("TYER", Latin("2019")),
                                  Frame23("TDAT", Latin("0305")),
                                  Frame23("WOAR", Text("https://a.example")),
                                  Frame23("WOAR", Text("https://b.example")),
                                  Bytes(64, 0)})),
                 Audio(),
                 Id3v1("Morning Light", "The Sample Quartet", "Album", "2019", "note", 3, 8)});
}

const char kPictureSha256[] = "a010b05bd441d6c7d4c3ce317e81256e100141aaeef4b648f47b4986a51594af";
Bytes PictureBytes() {
  return Concat({{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, Text("not really a picture")});
}

std::string MusicIdHex() {
  std::string hex;
  for (int i = 0; i < 64; ++i) {
    char byte[3];
    std::snprintf(byte, sizeof byte, "%02x", i);
    hex += byte;
  }
  return hex;
}

// ---- help and the command line ----

TEST_F(CliTest, HelpForTheProgramAndEachCommand) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  } cases[] = {
      {{"--help"}, {"show", "set", "extract-picture", "--code-page", "Exit status"}},
      {{"help"}, {"show", "set", "extract-picture"}},
      {{"show", "--help"}, {"--json", "release_date", "music_id", "id3v1", "error"}},
      {{"help", "set"}, {"--title", "--url", "--date", "--picture-mime", "--music-id", "--mtdid",
                         "--qzvlx", "--remove", "--code-page"}},
      {{"set", "--help"}, {"--title", "--remove"}},
      {{"extract-picture", "--help"}, {"FILE OUT"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + (c.args.size() > 1 ? c.args[1] : ""));
    const Outcome run = Tagkit(c.args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    for (const std::string& word : c.mentions) EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
}

TEST_F(CliTest, BadCommandLinesExitWithTwoAndTouchNothing) {
  const Bytes original = TaggedMp3();
  Write("a.mp3", original);
  Write("cover.bin", Text("no known magic"));
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{}, "Usage"},
      {{"frobnicate", "a.mp3"}, "unknown command 'frobnicate'"},
      {{"--bogus", "show", "a.mp3"}, "unknown option '--bogus'"},
      {{"show"}, "no file given"},
      {{"show", "--xml", "a.mp3"}, "unknown option '--xml'"},
      {{"show", "--code-page", "42", "a.mp3"}, "code page '42' is not supported"},
      {{"--code-page", "abc", "show", "a.mp3"}, "code page 'abc' is not supported"},
      {{"set", "a.mp3"}, "nothing to change"},
      {{"set", "--title", "X"}, "no file given"},
      {{"set", "a.mp3", "--title"}, "--title needs a value"},
      {{"set", "--title", "", "a.mp3"}, "use --remove title"},
      {{"set", "--title", "X", "--title", "Y", "a.mp3"}, "--title given twice"},
      {{"set", "--title=X", "--remove", "title", "a.mp3"}, "both set and removed"},
      {{"set", "--remove", "tempo", "a.mp3"}, "unknown property 'tempo'"},
      {{"set", "--date", "2019-02-30", "a.mp3"}, "YYYY-MM-DD"},
      {{"set", "--date", "19-2-3", "a.mp3"}, "YYYY-MM-DD"},
      {{"set", "--date", "0999-01-01", "a.mp3"}, "before 1000"},
      {{"set", "--music-id", "0011", "a.mp3"}, "128 hex digits"},
      {{"set", "--music-id", MusicIdHex().replace(0, 1, "g"), "a.mp3"}, "128 hex digits"},
      {{"set", "--picture", "missing.png", "a.mp3"},
       "missing.png: E_TAG_FILE_NOT_FOUND: cannot read the file of --picture"},
      {{"set", "--picture", "cover.bin", "a.mp3"}, "give --picture-mime"},
      {{"set", "--picture-mime", "image/png", "a.mp3"}, "--picture-mime needs --picture"},
      {{"set", "--mtdid", ".", "a.mp3"}, "E_TAG_FILE_NOT_FOUND"},
      {{"extract-picture", "a.mp3"}, "needs FILE and OUT"},
      {{"extract-picture", "a.mp3", "./a.mp3"}, "OUT is the audio file itself"},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) joined += arg + " ";
    SCOPED_TRACE(joined);
    const Outcome run = Tagkit(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    if (!c.args.empty()) {
      EXPECT_EQ(run.ErrLines().size(), 1u) << run.err;
    }
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Read("a.mp3"), original);
  }
}

// ---- show ----

TEST_F(CliTest, ShowJsonHasTheDocumentedKeysAndValues) {
  Write("a.mp3", TaggedMp3());
  const Json json = ShowJson("a.mp3");
  // Album and genre come from the trailer, the tag having none.
  EXPECT_EQ(json.Keys(), (std::vector<std::string>{"file", "id3v2", "title", "artist", "album",
                                                   "genre", "track", "artist_url", "release_date",
                                                   "id3v1"}));
  EXPECT_EQ(json["file"].string, "a.mp3");
  EXPECT_EQ(json["id3v2"].string, "2.3");
  EXPECT_EQ(json["title"].Strings(), std::vector<std::string>{"Morning Light"});
  EXPECT_EQ(json["artist"].Strings(), std::vector<std::string>{"The Sample Quartet"});
  EXPECT_EQ(json["album"].Strings(), std::vector<std::string>{"Album"});
  EXPECT_EQ(json["genre"].Strings(), std::vector<std::string>{"(8)"});
  EXPECT_EQ(json["track"].Strings(), std::vector<std::string>{"3"});
  EXPECT_EQ(json["artist_url"].Strings(),
            (std::vector<std::string>{"https://a.example", "https://b.example"}));
  EXPECT_EQ(json["release_date"].string, "2019-05-03");
  const Json& v1 = json["id3v1"];
  EXPECT_EQ(v1.Keys(), (std::vector<std::string>{"title", "artist", "album", "year", "comment",
                                                 "track", "genre"}));
  EXPECT_EQ(v1["album"].string, "Album");
  EXPECT_EQ(v1["year"].number, 2019);
  EXPECT_EQ(v1["comment"].string, "note");
  EXPECT_EQ(v1["track"].number, 3);
  EXPECT_EQ(v1["genre"].number, 8);
}

TEST_F(CliTest, ShowTellsTheTagVersionAndTheTrailer) {
  const struct {
    const char* name;
    Bytes file;
    Json::Kind version_kind;
    const char* version;
    bool trailer;
  } cases[] = {
      {"v22.mp3", Concat({Id3v2Tag(2, 0, Frame22("TT2", Latin("Old"))), Audio()}), Json::kString,
       "2.2", false},
      {"v23.mp3", Concat({Id3v2Tag(3, 0, Frame23("TIT2", Latin("New"))), Audio()}), Json::kString,
       "2.3", false},
      // tagkit does not read ID3v2.4 tags: the title comes from the trailer.
      {"v24.mp3",
       Concat({Id3v2Tag(4, 0, Frame23("TIT2", Latin("Newer"))), Audio(),
               Id3v1("Trailer", "", "", "", "", -1, 255)}),
       Json::kNull, "", true},
      {"none.mp3", Audio(), Json::kNull, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.name, c.file);
    const Json json = ShowJson(c.name);
    EXPECT_EQ(json["id3v2"].kind, c.version_kind);
    if (c.version_kind == Json::kString) {
      EXPECT_EQ(json["id3v2"].string, c.version);
    }
    EXPECT_EQ(json.Find("id3v1") != nullptr, c.trailer);
  }
  EXPECT_EQ(ShowJson("v22.mp3")["title"].Strings(), std::vector<std::string>{"Old"});
  const Json v24 = ShowJson("v24.mp3");
  EXPECT_EQ(v24["title"].Strings(), std::vector<std::string>{"Trailer"});
  // Zero bytes at the end of the comment read as ID3v1.1 track 0.
  EXPECT_EQ(v24["id3v1"].Keys(), (std::vector<std::string>{"title", "track", "genre"}));
  EXPECT_EQ(ShowJson("none.mp3").Keys(), (std::vector<std::string>{"file", "id3v2"}));
}

TEST_F(CliTest, ShowTextIsAlignedAndLeavesAbsentPropertiesOut) {
  Write("a.mp3", TaggedMp3());
  const Outcome run = Tagkit({"show", "a.mp3"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string expected =
      "a.mp3\n"
      "  ID3v2          2.3\n"
      "  Title          Morning Light\n"
      "  Artist         The Sample Quartet\n"
      "  Album          Album\n"
      "  Genre          (8) Jazz\n"
      "  Track          3\n"
      "  Artist URL     https://a.example\n"
      "                 https://b.example\n"
      "  Release date   2019-05-03\n"
      "  ID3v1 title    Morning Light\n"
      "  ID3v1 artist   The Sample Quartet\n"
      "  ID3v1 album    Album\n"
      "  ID3v1 year     2019\n"
      "  ID3v1 comment  note\n"
      "  ID3v1 track    3\n"
      "  ID3v1 genre    8 Jazz\n";
  EXPECT_EQ(run.out, expected);
}

TEST_F(CliTest, JsonEscapesControlCharactersAndKeepsNonAsciiText) {
  // Written through the program itself, then read back: the title frame
  // holds UTF-16, so every character survives.
  Write("a.mp3", Concat({Id3v2Tag(3, 0, Bytes(32, 0)), Audio()}));
  const std::string title = "quote\" backslash\\ tab\t nl\n bell\x07 del\x7f Grüße 日本 😀";
  const Outcome set = Tagkit({"set", "--title", title, "--album", "\x01", "a.mp3"});
  ASSERT_EQ(set.status, 0) << set.err;
  const Outcome show = Tagkit({"show", "--json", "a.mp3"});
  ASSERT_EQ(show.status, 0);
  ASSERT_EQ(show.OutLines().size(), 1u) << show.out;
  const std::string line = show.OutLines()[0];
  for (unsigned char c : line) EXPECT_GE(c, 0x20) << "raw control character in " << line;
  EXPECT_NE(line.find("\\u0007"), std::string::npos);
  EXPECT_NE(line.find("Grüße 日本 😀"), std::string::npos) << "non-ASCII text is escaped";
  Json json;
  ASSERT_TRUE(JsonReader(line).Read(json)) << line;
  EXPECT_EQ(json["title"].Strings(), std::vector<std::string>{title});
  EXPECT_EQ(json["album"].Strings(), std::vector<std::string>{"\x01"});

  // The text view shows control characters as escapes, on one line.
  const Outcome text = Tagkit({"show", "a.mp3"});
  EXPECT_NE(text.out.find("tab\\x09 nl\\x0a bell\\x07"), std::string::npos) << text.out;
}

TEST_F(CliTest, CodePageDecidesSingleByteText) {
  // "Caf\xE9" is "Café" in code page 1252 and "Cafй" in 1251.
  Write("a.mp3", Concat({Id3v2Tag(3, 0, Frame23("TIT2", Latin("Caf\xE9"))), Audio(),
                         Id3v1("", "Art\xE9", "", "", "", -1, 255)}));
  const Json cp1252 = ShowJson("a.mp3");
  EXPECT_EQ(cp1252["title"].Strings(), std::vector<std::string>{"Café"});
  EXPECT_EQ(cp1252["id3v1"]["artist"].string, "Arté");
  const Json cp1251 = ShowJson("a.mp3", {"--code-page", "1251"});
  EXPECT_EQ(cp1251["title"].Strings(), std::vector<std::string>{"Cafй"});
  EXPECT_EQ(cp1251["id3v1"]["artist"].string, "Artй");
  // Invalid UTF-8 under code page 65001 still gives valid JSON.
  const Json utf8 = ShowJson("a.mp3", {"--code-page=65001"});
  EXPECT_EQ(utf8["title"].Strings(), std::vector<std::string>{"Caf\xEF\xBF\xBD"});

  // Writing: the ID3v1 trailer gets the title in the chosen code page.
  ASSERT_EQ(Tagkit({"set", "--code-page", "1251", "--title", "Привет", "a.mp3"}).status, 0);
  EXPECT_EQ(ShowJson("a.mp3", {"--code-page", "1251"})["id3v1"]["title"].string, "Привет");
  EXPECT_EQ(ShowJson("a.mp3")["id3v1"]["title"].string, "Ïðèâåò");
  EXPECT_EQ(ShowJson("a.mp3")["title"].Strings(), std::vector<std::string>{"Привет"});
}

// ---- failures ----

TEST_F(CliTest, MissingFilesFailAloneAndTheOthersAreStillShown) {
  Write("a.mp3", TaggedMp3());
  Write("b.mp3", TaggedMp3());
  const Outcome run = Tagkit({"show", "--json", "a.mp3", "missing.mp3", "b.mp3", "."});
  EXPECT_EQ(run.status, 1);
  const std::vector<std::string> lines = run.OutLines();
  ASSERT_EQ(lines.size(), 4u) << run.out;
  const char* files[] = {"a.mp3", "missing.mp3", "b.mp3", "."};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    Json json;
    ASSERT_TRUE(JsonReader(lines[i]).Read(json)) << lines[i];
    EXPECT_EQ(json["file"].string, files[i]);
    const bool failed = i % 2 == 1;
    EXPECT_EQ(json.Find("error") != nullptr, failed);
    if (failed) {
      EXPECT_EQ(json.Keys(), (std::vector<std::string>{"file", "error"}));
      EXPECT_EQ(json["error"].string, "E_TAG_FILE_NOT_FOUND: cannot open the file: file not found");
    }
  }
  EXPECT_EQ(run.ErrLines(), (std::vector<std::string>{
                                "missing.mp3: E_TAG_FILE_NOT_FOUND: cannot open the file: file not found",
                                ".: E_TAG_FILE_NOT_FOUND: cannot open the file: file not found"}));

  const Outcome text = Tagkit({"show", "missing.mp3"});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.ErrLines().size(), 1u);
}

TEST_F(CliTest, SetOnSeveralFilesGoesOnPastAFailure) {
  Write("a.mp3", TaggedMp3());
  Write("b.mp3", TaggedMp3());
  const Outcome run = Tagkit({"set", "--title", "Changed", "a.mp3", "missing.mp3", "b.mp3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.ErrLines(), std::vector<std::string>{
                                "missing.mp3: E_TAG_FILE_NOT_FOUND: cannot open the file: file not found"});
  EXPECT_EQ(run.out, "");
  for (const char* name : {"a.mp3", "b.mp3"}) {
    SCOPED_TRACE(name);
    const Json json = ShowJson(name);
    EXPECT_EQ(json["title"].Strings(), std::vector<std::string>{"Changed"});
    EXPECT_EQ(json["id3v1"]["title"].string, "Changed");
    EXPECT_EQ(json["artist"].Strings(), std::vector<std::string>{"The Sample Quartet"});
  }
}

TEST_F(CliTest, AFailedSetLeavesTheFileUnchanged) {
  // A music identifier of another owner refuses to be replaced; the title
  // change made before it must not reach the file either.
  Bytes foreign = Text("http://other.example/owner");
  foreign.push_back(0);
  foreign.resize(foreign.size() + 64, 0x5A);
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Latin("Kept")),
                                                         Frame23("UFID", foreign), Bytes(16, 0)})),
                                 Audio()});
  Write("a.mp3", original);
  Write("b.mp3", TaggedMp3());
  const Outcome run = Tagkit({"set", "--title", "Lost", "--music-id", MusicIdHex(), "a.mp3", "b.mp3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.ErrLines(),
            std::vector<std::string>{
                "a.mp3: E_TAG_FOREIGN_MUSIC_ID: cannot set the music identifier: the file's music "
                "identifier belongs to another owner and is kept"});
  EXPECT_EQ(Read("a.mp3"), original);
  EXPECT_EQ(ShowJson("b.mp3")["title"].Strings(), std::vector<std::string>{"Lost"});
  // No working copy is left behind.
  EXPECT_EQ(tagkit_test::ListDir(TempFolder()), std::vector<std::string>{});
}

TEST_F(CliTest, SetFailsCleanlyWhenTheFileIsLockedOrNoCopyCanBeMade) {
  const Bytes original = TaggedMp3();
  Write("a.mp3", original);
  {
    // Another writer holds the file.
    const int fd = open(dir_.File("a.mp3").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    const Outcome locked = Tagkit({"set", "--title", "X", "a.mp3"});
    close(fd);
    EXPECT_EQ(locked.status, 1);
    EXPECT_EQ(locked.ErrLines(),
              std::vector<std::string>{"a.mp3: E_TAG_CANNOT_OPEN: cannot open the file: the file "
                                       "cannot be opened (permission denied, or in use by another "
                                       "program)"});
    EXPECT_EQ(Read("a.mp3"), original);
  }
  // The working copy lives in the temporary directory; without one the file
  // stays as it was.
  ASSERT_EQ(rmdir(TempFolder().c_str()), 0);
  const Outcome no_copy = Tagkit({"set", "--title", "X", "a.mp3"});
  EXPECT_EQ(no_copy.status, 1);
  EXPECT_EQ(no_copy.ErrLines(),
            std::vector<std::string>{"a.mp3: E_FAIL: cannot make a working copy in the temporary "
                                     "directory: the tag could not be read or written"});
  EXPECT_EQ(Read("a.mp3"), original);
}

// ---- set, then show ----

TEST_F(CliTest, SetThenShowRoundTripsEveryProperty) {
  Write("söng.mp3", TaggedMp3());
  Write("cover.png", PictureBytes());
  Write("mtdid.bin", Text(std::string("mtdid\0data", 10)));
  Bytes qzvlx;
  for (int i = 0; i < 3 * 256; ++i) qzvlx.push_back(static_cast<std::uint8_t>(i));
  Write("qzvlx.bin", qzvlx);
  const Outcome run = Tagkit({"set", "--title", "Neues Lied", "--artist=Ünïcode Artist", "--album",
                          "Album", "--genre", "(17)", "--track", "7/12", "--composer", "Composer",
                          "--copyright", "2024 Someone", "--isrc", "XXA012400001", "--url",
                          "https://x.example", "--url", "https://y.example", "--date",
                          "2024-02-29", "--picture", "cover.png", "--music-id", MusicIdHex(),
                          "--mtdid", "mtdid.bin", "--qzvlx", "qzvlx.bin", "söng.mp3"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");

  const Json json = ShowJson("söng.mp3");
  EXPECT_EQ(json.Keys(),
            (std::vector<std::string>{"file", "id3v2", "title", "artist", "album", "genre", "track",
                                      "composer", "copyright", "isrc", "artist_url",
                                      "release_date", "picture", "music_id", "mtdid", "qzvlx",
                                      "id3v1"}));
  const std::map<std::string, std::string> texts = {
      {"title", "Neues Lied"}, {"artist", "Ünïcode Artist"}, {"album", "Album"},
      {"genre", "(17)"},       {"track", "7/12"},            {"composer", "Composer"},
      {"copyright", "2024 Someone"}, {"isrc", "XXA012400001"}};
  for (const auto& text : texts) {
    EXPECT_EQ(json[text.first].Strings(), std::vector<std::string>{text.second}) << text.first;
  }
  EXPECT_EQ(json["artist_url"].Strings(),
            (std::vector<std::string>{"https://x.example", "https://y.example"}));
  EXPECT_EQ(json["release_date"].string, "2024-02-29");
  EXPECT_EQ(json["picture"]["mime"].string, "image/png");
  EXPECT_EQ(json["picture"]["size"].number, 28);
  EXPECT_EQ(json["picture"]["sha256"].string, kPictureSha256);
  EXPECT_EQ(json["music_id"]["data"].string, MusicIdHex());
  EXPECT_FALSE(json["music_id"]["owner"].string.empty());
  EXPECT_EQ(json["mtdid"]["mime"].string, "binary");
  EXPECT_EQ(json["mtdid"]["description"].string, "USR_MTDID");
  EXPECT_EQ(json["mtdid"]["size"].number, 10);
  EXPECT_EQ(json["mtdid"]["sha256"].string,
            "5ac92dc4f7d13521aa039351ebdc838a4d351522b5ee2b815618b4f339f6e8d2");
  EXPECT_EQ(json["qzvlx"]["mime"].string, "application/QZVLX");
  EXPECT_EQ(json["qzvlx"]["description"].string, "USR_QZVLX");
  EXPECT_EQ(json["qzvlx"]["sha256"].string,
            "f3a25aa93aa2fbba28d79260535bbd6a5eb0fc1c24a8b0f04e12b484c1dfe363");
  const Json& v1 = json["id3v1"];
  EXPECT_EQ(v1["title"].string, "Neues Lied");
  EXPECT_EQ(v1["artist"].string, "Ünïcode Artist");
  EXPECT_EQ(v1["year"].number, 2024);
  EXPECT_EQ(v1["track"].number, 7);
  EXPECT_EQ(v1["genre"].number, 17);

  const Outcome extract = Tagkit({"extract-picture", "söng.mp3", "out.png"});
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(Read("out.png"), PictureBytes());
  const Outcome to_stdout = Tagkit({"extract-picture", "söng.mp3", "-"});
  const Bytes picture = PictureBytes();
  EXPECT_EQ(to_stdout.out, std::string(picture.begin(), picture.end()));

  // Removing every property again.
  const Outcome remove = Tagkit({"set", "--remove", "title", "--remove", "artist", "--remove", "album",
                             "--remove", "genre", "--remove", "track", "--remove", "composer",
                             "--remove", "copyright", "--remove", "isrc", "--remove", "url",
                             "--remove", "date", "--remove", "picture", "--remove", "music-id",
                             "--remove", "mtdid", "--remove", "qzvlx", "söng.mp3"});
  ASSERT_EQ(remove.status, 0) << remove.err;
  // The trailer keeps its comment, which nothing writes, and its ID3v1.1
  // track byte 0, which the library then reads as track "0".
  const Json empty = ShowJson("söng.mp3");
  EXPECT_EQ(empty.Keys(), (std::vector<std::string>{"file", "id3v2", "track", "id3v1"}));
  EXPECT_EQ(empty["track"].Strings(), std::vector<std::string>{"0"});
  EXPECT_EQ(empty["id3v1"].Keys(), (std::vector<std::string>{"comment", "track", "genre"}));

  const Outcome none = Tagkit({"extract-picture", "söng.mp3", "none.png"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.ErrLines(),
            std::vector<std::string>{
                "söng.mp3: E_TAG_NO_VALUE: no cover picture: the property is absent"});
  EXPECT_FALSE(tagkit_test::FileExists(dir_.File("none.png")));
}

TEST_F(CliTest, SetKeepsTheAudioAndThePermissions) {
  const Bytes audio = Audio();
  Write("a.mp3", Concat({Id3v2Tag(3, 0, Frame23("TIT2", Latin("Old"))), audio}));
  ASSERT_EQ(chmod(dir_.File("a.mp3").c_str(), 0640), 0);
  const Outcome run = Tagkit({"set", "--picture", "cover.jpg", "--picture-mime", "image/x-test",
                          "a.mp3"});
  EXPECT_EQ(run.status, 2);  // cover.jpg does not exist yet
  Write("cover.jpg", Concat({{0xFF, 0xD8, 0xFF, 0xE0}, Text("jpeg-ish")}));
  const Outcome sniffed = Tagkit({"set", "--picture", "cover.jpg", "a.mp3"});
  ASSERT_EQ(sniffed.status, 0) << sniffed.err;
  EXPECT_EQ(ShowJson("a.mp3")["picture"]["mime"].string, "image/jpeg");
  const Outcome forced = Tagkit({"set", "--picture", "cover.jpg", "--picture-mime", "image/x-test",
                             "a.mp3"});
  ASSERT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(ShowJson("a.mp3")["picture"]["mime"].string, "image/x-test");

  const Bytes after = Read("a.mp3");
  ASSERT_GE(after.size(), audio.size() + 128);
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), after.end() - 128 - audio.size()));
  struct stat st;
  ASSERT_EQ(stat(dir_.File("a.mp3").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // Through a symbolic link the file it points to changes; the link stays.
  ASSERT_EQ(symlink("a.mp3", dir_.File("link.mp3").c_str()), 0);
  const Outcome linked = Tagkit({"set", "--title", "Linked", "link.mp3"});
  ASSERT_EQ(linked.status, 0) << linked.err;
  ASSERT_EQ(lstat(dir_.File("link.mp3").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ShowJson("a.mp3")["title"].Strings(), std::vector<std::string>{"Linked"});
}

// ---- the terminal progress line ----

TEST_F(CliTest, ProgressLineOnlyOnATerminal) {
  Write("a.mp3", TaggedMp3());
  Write("b.mp3", TaggedMp3());
  const Outcome quiet = Tagkit({"set", "--track", "4", "a.mp3", "b.mp3"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");

  // script(1) gives the program a terminal and copies what it prints.
  if (system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script is not installed";
  const std::string command = "cd '" + dir_.path() + "' && script -qec \"'" + program_ +
                              "' set --track 5 a.mp3 b.mp3\" /dev/null > typescript.txt";
  ASSERT_EQ(system(command.c_str()), 0);
  const std::string shown = Slurp(dir_.File("typescript.txt"));
  EXPECT_NE(shown.find("1/2 a.mp3"), std::string::npos) << shown;
  EXPECT_NE(shown.find("2/2 b.mp3"), std::string::npos) << shown;
  EXPECT_EQ(ShowJson("b.mp3")["track"].Strings(), std::vector<std::string>{"5"});
}

// ---- the sample generator and real-world files ----

TEST_F(CliTest, SampleGeneratorMakesAFileTheProgramReads) {
  if (system("python3 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
  const std::string command = std::string("python3 '") + TAGKIT_SOURCE_DIR +
                              "/scripts/make-sample.py' '" + dir_.File("sample.mp3") + "'";
  ASSERT_EQ(system(command.c_str()), 0);
  const Json json = ShowJson("sample.mp3");
  EXPECT_EQ(json["id3v2"].string, "2.3");
  EXPECT_EQ(json["title"].Strings(), std::vector<std::string>{"Morning Light"});
  EXPECT_EQ(json["album"].Strings(), std::vector<std::string>{"Café Sessions"});
  EXPECT_EQ(json["release_date"].string, "2019-05-03");
  EXPECT_EQ(json["picture"]["mime"].string, "image/png");
  EXPECT_EQ(json["id3v1"]["album"].string, "Café Sessions");
}

TEST_F(CliTest, EveryCorpusFileGivesOneValidJsonLine) {
  const std::string corpus = tagkit_test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  std::vector<std::string> files;
  for (const char* sub : {"mutagen", "taglib"}) {
    for (const std::string& name : tagkit_test::ListDir(corpus + "/" + sub)) {
      files.push_back(corpus + "/" + sub + "/" + name);
    }
  }
  ASSERT_FALSE(files.empty());
  std::vector<std::string> args = {"show", "--json"};
  args.insert(args.end(), files.begin(), files.end());
  const Outcome run = Tagkit(args);
  ASSERT_NE(run.status, -1) << run.err;
  const std::vector<std::string> lines = run.OutLines();
  ASSERT_EQ(lines.size(), files.size());
  std::size_t failed = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    Json json;
    ASSERT_TRUE(JsonReader(lines[i]).Read(json)) << lines[i];
    EXPECT_EQ(json["file"].string, files[i]);
    if (json.Find("error") != nullptr) ++failed;
  }
  EXPECT_EQ(run.ErrLines().size(), failed);
  EXPECT_EQ(run.status, failed == 0 ? 0 : 1);
}

}  // namespace
