// Drives the built `tagkit` program as a user would: command lines, exit
// statuses, standard output and standard error, and the files afterwards.
#include <stdlib.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#endif

#include <algorithm>
#include <functional>
#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>

#include "test_support.h"
#include "tlx_internal.h"

namespace {

using tagkit_test::Bytes;
using tagkit_test::Concat;
using tagkit_test::Frame23;
using tagkit_test::Id3v1;
using tagkit_test::Id3v2Tag;
using tagkit_test::Text;
using Strings = std::vector<std::string>;

// True when s holds at pos one JSON value as the program writes them:
// compact objects and arrays, strings of valid UTF-8 without raw control
// characters, integers and null. Moves pos past it.
bool JsonValue(const std::string& s, std::size_t& pos) {
  if (pos >= s.size()) return false;
  const char c = s[pos++];
  if (c == '{' || c == '[') {
    const char close = c == '{' ? '}' : ']';
    if (s[pos] == close) return ++pos, true;
    do {
      if (c == '{' && (s[pos] != '"' || !JsonValue(s, pos) || s[pos++] != ':')) return false;
      if (!JsonValue(s, pos)) return false;
    } while (s[pos] == ',' && ++pos);
    return s[pos++] == close;
  }
  if (c == '"') {
    std::string raw;  // the bytes not escaped
    for (; s[pos] != '"'; ++pos) {
      if (pos >= s.size() || static_cast<unsigned char>(s[pos]) < 0x20) return false;
      if (s[pos] != '\\') {
        raw += s[pos];
      } else if (s[++pos] == 'u') {
        if (pos + 5 > s.size() || s.find_first_not_of("0123456789abcdef", pos + 1) < pos + 5) {
          return false;
        }
        pos += 4;
      } else if (s[pos] == '\0' || std::string("\"\\/bfnrt").find(s[pos]) == std::string::npos) {
        return false;
      }
    }
    ++pos;
    // Valid UTF-8, and only that, comes back unchanged through wide text.
    const std::wstring wide = tlx_internal::Utf8ToWide(raw.data(), raw.size());
    return tlx_internal::WideToUtf8(wide.data(), wide.size()) == raw;
  }
  if (c == 'n') return s.compare(pos - 1, 4, "null") == 0 && (pos += 3, true);
  const std::size_t digits = c == '-' ? pos : pos - 1;
  pos = std::min(s.find_first_not_of("0123456789", digits), s.size());
  return pos > digits && (s[digits] != '0' || pos == digits + 1);
}

bool ValidJson(const std::string& line) {
  std::size_t pos = 0;
  return JsonValue(line, pos) && pos == line.size();
}

::testing::AssertionResult Has(const std::string& text, std::initializer_list<std::string> parts) {
  for (const std::string& part : parts) {
    if (text.find(part) == std::string::npos) {
      return ::testing::AssertionFailure() << "no " << part << " in " << text;
    }
  }
  return ::testing::AssertionSuccess();
}

Strings Lines(const std::string& text) {
  Strings lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Slurp(const std::string& path) {
  const Bytes bytes = tagkit_test::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// ctest names the build folder; run by hand, the tests sit in its tests folder.
std::string ProgramPath() {
  const char* build = getenv("TAGKIT_BUILD_DIR");
  const std::string dir = build != nullptr && *build != '\0' ? build : "..";
#if defined(_WIN32)
  return dir + "/bin/tagkit.exe";  // beside the DLL
#else
  return std::filesystem::absolute(dir + "/tools/tagkit").string();  // run from elsewhere
#endif
}

#if defined(_WIN32)
// One argument of a Windows command line, quoted as the C runtime splits it.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}
#else
std::string Quote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}
#endif

struct Outcome {
  int status = -1;  // exit status; -1 when killed by a signal
  std::string out, err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program's temporary files go to a folder of the test's own.
    ASSERT_TRUE(tagkit_test::MakeDir(TempFolder()));
    ASSERT_TRUE(tagkit_test::FileExists(program_)) << "the program is not built: " << program_;
  }

  // Runs the program in the test's folder, standard output and standard
  // error captured in files.
  Outcome Tagkit(const Strings& args) {
    const std::string out = dir_.File(".out"), err = dir_.File(".err");
    Outcome run;
#if defined(_WIN32)
    // The child inherits standard output and error, the working folder and
    // the environment: point them where the test wants them, then restore.
    using tagkit_test::Widen;
    const char* variable = tagkit_test::TempDirVariable();
    const char* old_tmp = getenv(variable);
    const std::string saved_tmp = old_tmp != nullptr ? old_tmp : "";
    tagkit_test::SetEnv(variable, TempFolder());
    wchar_t* cwd = _wgetcwd(nullptr, 0);
    _wchdir(Widen(dir_.path()).c_str());
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved[] = {_dup(1), _dup(2)};
    for (int fd = 1; fd <= 2; ++fd) {
      const int file = _wopen(Widen(fd == 1 ? out : err).c_str(),
                              _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
      EXPECT_GE(file, 0);
      _dup2(file, fd);
      _close(file);
    }
    std::vector<std::wstring> quoted = {Quote(Widen(program_))};
    for (const std::string& arg : args) quoted.push_back(Quote(Widen(arg)));
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : quoted) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    run.status = static_cast<int>(_wspawnv(_P_WAIT, Widen(program_).c_str(), argv.data()));
    for (int fd = 1; fd <= 2; ++fd) {
      _dup2(saved[fd - 1], fd);
      _close(saved[fd - 1]);
    }
    _wchdir(cwd);
    free(cwd);
    if (old_tmp != nullptr) {
      tagkit_test::SetEnv(variable, saved_tmp);
    } else {
      tagkit_test::UnsetEnv(variable);
    }
#else
    std::string command = "export TMPDIR=" + Quote(tmpdir_.empty() ? TempFolder() : tmpdir_) +
                          " && cd " + Quote(dir_.path()) + " && exec " + runner_ + Quote(program_);
    for (const std::string& arg : args) command += " " + Quote(arg);
    const int status = system((command + " >" + Quote(out) + " 2>" + Quote(err)).c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    run.out = Slurp(out);
    run.err = Slurp(err);
    return run;
  }

  // The one line of `show --json` for one file.
  std::string ShowLine(const std::string& file, Strings args = {}) {
    args.insert(args.begin(), {"show", "--json"});
    args.push_back(file);
    const Outcome run = Tagkit(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const Strings lines = Lines(run.out);
    EXPECT_EQ(lines.size(), 1u) << run.out;
    return lines.empty() ? "" : lines[0];
  }

  void Write(const std::string& name, const Bytes& bytes) {
    tagkit_test::WriteFile(dir_.File(name), bytes);
  }
  Bytes Read(const std::string& name) { return tagkit_test::ReadFile(dir_.File(name)); }
  std::string TempFolder() const { return dir_.File("tmp"); }

  tagkit_test::TempDir dir_;
  const std::string program_ = ProgramPath();
  std::string tmpdir_;  // the program's TMPDIR when set, else TempFolder()
  std::string runner_;  // a command that runs the program (POSIX), with a space
};

Bytes Latin(const std::string& text) { return Concat({{0x00}, Text(text)}); }

Bytes Audio() { return tagkit_test::Audio(4000); }

// A UTF-16 title, two artist URLs, a date in two frames, and a trailer
// that alone has the album and the genre.
Bytes TaggedMp3() {
  Bytes title = {0x01, 0xFF, 0xFE};
  for (char c : std::string("Morning Light")) title.insert(title.end(), {std::uint8_t(c), 0});
  const Bytes frames = Concat(
      {Frame23("TIT2", title), Frame23("TPE1", Latin("The Sample Quartet")),
       Frame23("TRCK", Latin("3")), Frame23("TYER", Latin("2019")), Frame23("TDAT", Latin("0305")),
       Frame23("WOAR", Text("https://a.example")), Frame23("WOAR", Text("https://b.example"))});
  return Concat({Id3v2Tag(3, 0, Concat({frames, Bytes(64, 0)})), Audio(),
                 Id3v1("Morning Light", "The Sample Quartet", "Album", "2019", "note", 3, 8)});
}

std::string MusicIdHex() {
  std::string hex;
  for (int i = 0; i < 64; ++i) hex += {"0123456789abcdef"[i >> 4], "0123456789abcdef"[i & 15]};
  return hex;
}

TEST_F(CliTest, HelpAndBadCommandLines) {
  // Help goes to standard output with status 0; a bad command line gives
  // one line on standard error and status 2, and touches no file.
  const Bytes original = TaggedMp3();
  Write("a.mp3", original);
  Write("cover.bin", Text("no known magic"));
  const struct {
    Strings args;
    int status;
    std::string says;
  } cases[] = {
      {{"--help"}, 0, "Exit status"},
      {{"help"}, 0, "Commands:"},
      {{"show", "--help"}, 0, "release_date"},
      {{"help", "set"}, 0, "--picture-mime"},
      {{"set", "-h"}, 0, "--remove NAME"},
      {{"extract-picture", "--help"}, 0, "Fails when the file has no picture"},
      {{}, 2, "Usage"},
      {{"frobnicate", "a.mp3"}, 2, "unknown command 'frobnicate'"},
      {{"--bogus", "show", "a.mp3"}, 2, "unknown option '--bogus'"},
      {{"show"}, 2, "no file given"},
      {{"show", "--xml", "a.mp3"}, 2, "unknown option '--xml'"},
      {{"show", "--code-page", "42", "a.mp3"}, 2, "code page '42' is not supported"},
      {{"--code-page", "abc", "show", "a.mp3"}, 2, "code page 'abc' is not supported"},
      {{"set", "a.mp3"}, 2, "nothing to change"},
      {{"set", "--title", "X"}, 2, "no file given"},
      {{"set", "a.mp3", "--title"}, 2, "--title needs a value"},
      {{"set", "--title", "", "a.mp3"}, 2, "use --remove title"},
      {{"set", "--title", "X", "--title", "Y", "a.mp3"}, 2, "--title given twice"},
      {{"set", "--title=X", "--remove", "title", "a.mp3"}, 2, "both set and removed"},
      {{"set", "--remove", "tempo", "a.mp3"}, 2, "unknown property 'tempo'"},
      {{"set", "--date", "2019-02-30", "a.mp3"}, 2, "YYYY-MM-DD"},
      {{"set", "--date", "19-2-3", "a.mp3"}, 2, "YYYY-MM-DD"},
      {{"set", "--date", "0999-01-01", "a.mp3"}, 2, "before 1000"},
      {{"set", "--music-id", "0011", "a.mp3"}, 2, "128 hex digits"},
      {{"set", "--music-id", MusicIdHex().replace(0, 1, "g"), "a.mp3"}, 2, "128 hex digits"},
      {{"set", "--picture", "missing.png", "a.mp3"}, 2,
       "missing.png: E_TAG_FILE_NOT_FOUND: cannot read the file of --picture"},
      {{"set", "--picture", "cover.bin", "a.mp3"}, 2, "give --picture-mime"},
      {{"set", "--picture-mime", "image/png", "a.mp3"}, 2, "--picture-mime needs --picture"},
      {{"set", "--mtdid", ".", "a.mp3"}, 2, "E_TAG_FILE_NOT_FOUND"},
      {{"extract-picture", "a.mp3"}, 2, "needs FILE and OUT"},
      {{"extract-picture", "a.mp3", "./a.mp3"}, 2, "OUT is the audio file itself"},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) joined += arg + " ";
    SCOPED_TRACE(joined);
    const Outcome run = Tagkit(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(Has(c.status == 0 ? run.out : run.err, {c.says}));
    EXPECT_EQ(c.status == 0 ? run.err : run.out, "");
    if (c.status != 0 && !c.args.empty()) {
      EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    }
    EXPECT_EQ(Read("a.mp3"), original);
  }
}

// Album and genre come from the trailer, the date from TYER and TDAT.
TEST_F(CliTest, ShowPrintsAlignedText) {
  Write("a.mp3", TaggedMp3());
  const Outcome text = Tagkit({"show", "a.mp3"});
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out,
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
            "  ID3v1 genre    8 Jazz\n");
  // A file that cannot be shown leaves no blank line in front of the next.
  const Outcome after_missing = Tagkit({"show", "missing.mp3", "a.mp3"});
  EXPECT_EQ(after_missing.out, text.out);
}

TEST_F(CliTest, ShowTellsTheTagVersionAndTheTrailer) {
  Write("v22.mp3", Concat({Id3v2Tag(2, 0, tagkit_test::Frame22("TT2", Latin("Old"))), Audio()}));
  Write("v23.mp3", Concat({Id3v2Tag(3, 0, Frame23("TIT2", Latin("New"))), Audio()}));
  // ID3v2.4 is not read: the title comes from the trailer, whose zero
  // comment bytes read as ID3v1.1 track 0; genre 148 is none.
  Write("v24.mp3", Concat({Id3v2Tag(4, 0, Frame23("TIT2", Latin("Newer"))), Audio(),
                           Id3v1("Trailer", "", "", "", "", -1, 148)}));
  Write("none.mp3", Audio());
  const Outcome run = Tagkit({"show", "--json", "v22.mp3", "v23.mp3", "v24.mp3", "none.mp3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (Strings{R"({"file":"v22.mp3","id3v2":"2.2","title":["Old"]})",
                     R"({"file":"v23.mp3","id3v2":"2.3","title":["New"]})",
                     R"({"file":"v24.mp3","id3v2":null,"title":["Trailer"],"track":["0"],)"
                     R"("id3v1":{"title":"Trailer","track":0,"genre":148}})",
                     R"({"file":"none.mp3","id3v2":null})"}));
}

TEST_F(CliTest, ShowEscapesControlCharactersOnly) {
  // Written through the program: the title frame holds UTF-16, so every
  // character survives.
  Write("a.mp3", Concat({Id3v2Tag(3, 0, Bytes(32, 0)), Audio()}));
  const std::string title =
      "quote\" backslash\\ tab\t nl\n bell\x07 del\x7f sep\u2028 Grüße 日本 😀";
  ASSERT_EQ(Tagkit({"set", "--title", title, "--album", "\x01", "a.mp3"}).status, 0);
  const std::string line = ShowLine("a.mp3");
  EXPECT_TRUE(ValidJson(line)) << line;
  EXPECT_TRUE(Has(line, {R"("title":["quote\" backslash\\ tab\t nl\n bell\u0007 del\u007f )"
                         R"(sep\u2028 Grüße 日本 😀"],"album":["\u0001"])"}));
  // The text view shows them as escapes, on one line.
  EXPECT_TRUE(Has(Tagkit({"show", "a.mp3"}).out,
                  {"  Title          quote\" backslash\\ tab\\x09 nl\\x0a bell\\x07 del\\x7f "
                   "sep\u2028 Grüße 日本 😀\n"}));
}

TEST_F(CliTest, CodePageDecidesSingleByteText) {
  Write("a.mp3", Concat({Id3v2Tag(3, 0, Frame23("TIT2", Latin("Caf\xE9"))), Audio(),
                         Id3v1("", "Art\xE9", "", "", "", -1, 148)}));
  // Byte E9 is "é" in code page 1252 and "й" in 1251; as UTF-8 it is
  // invalid, and the JSON stays valid.
  const struct {
    Strings options;
    std::string letter;
  } pages[] = {{{}, "é"}, {{"--code-page", "1251"}, "й"}, {{"--code-page=65001"}, "\uFFFD"}};
  for (const auto& page : pages) {
    const std::string line = ShowLine("a.mp3", page.options);
    EXPECT_TRUE(ValidJson(line)) << line;
    EXPECT_TRUE(Has(line, {"\"title\":[\"Caf" + page.letter + "\"]",
                           "\"id3v1\":{\"artist\":\"Art" + page.letter + "\""}));
  }
  // Writing: the trailer gets the title in the chosen code page.
  ASSERT_EQ(Tagkit({"set", "--code-page", "1251", "--title", "Привет", "a.mp3"}).status, 0);
  EXPECT_TRUE(Has(ShowLine("a.mp3", {"--code-page", "1251"}), {R"("id3v1":{"title":"Привет")"}));
  EXPECT_TRUE(Has(ShowLine("a.mp3"), {R"("title":["Привет"])", R"("id3v1":{"title":"Ïðèâåò")"}));
}

TEST_F(CliTest, AFailedFileIsReportedAndLeftAsItWasWhileTheOthersGoOn) {
  // A music identifier of another owner refuses to be replaced; the title
  // change made before it must not reach that file either.
  const Bytes foreign = Concat({Text("http://other.example/owner"), {0}, Bytes(64, 0x5A)});
  const Bytes original = Concat({Id3v2Tag(3, 0, Concat({Frame23("TIT2", Latin("Kept")),
                                                         Frame23("UFID", foreign), Bytes(16, 0)})),
                                 Audio()});
  Write("a.mp3", original);
  Write("b.mp3", TaggedMp3());
  const std::string not_found = "E_TAG_FILE_NOT_FOUND: cannot open the file: file not found";
  const Outcome set = Tagkit(
      {"set", "--title", "Lost", "--music-id", MusicIdHex(), "a.mp3", "missing.mp3", "b.mp3"});
  EXPECT_EQ(set.status, 1);
  EXPECT_EQ(set.out, "");
  EXPECT_EQ(Lines(set.err),
            (Strings{"a.mp3: E_TAG_FOREIGN_MUSIC_ID: cannot set the music identifier: the file's "
                     "music identifier belongs to another owner and is kept",
                     "missing.mp3: " + not_found}));
  EXPECT_EQ(Read("a.mp3"), original);
  EXPECT_TRUE(Has(ShowLine("b.mp3"), {R"("title":["Lost"],"artist":["The Sample Quartet"])",
                                      "\"data\":\"" + MusicIdHex(), R"("id3v1":{"title":"Lost")"}));
  // No working copy is left behind.
  EXPECT_EQ(tagkit_test::ListDir(TempFolder()), Strings{});

  // show: an error object in the place of each file that cannot be opened.
  const Outcome show = Tagkit({"show", "--json", "a.mp3", "missing.mp3", "b.mp3", "."});
  EXPECT_EQ(show.status, 1);
  EXPECT_EQ(Lines(show.out),
            (Strings{ShowLine("a.mp3"), R"({"file":"missing.mp3","error":")" + not_found + "\"}",
                     ShowLine("b.mp3"), R"({"file":".","error":")" + not_found + "\"}"}));
  EXPECT_EQ(Lines(show.err), (Strings{"missing.mp3: " + not_found, ".: " + not_found}));
  const Outcome text = Tagkit({"show", "missing.mp3"});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(Lines(text.err), Strings{"missing.mp3: " + not_found});
}

TEST_F(CliTest, SetFailsCleanlyWhenTheFileIsLocked) {
  const Bytes original = TaggedMp3();
  Write("a.mp3", original);
  // Another writer holds the file.
#if defined(_WIN32)
  int fd = -1;
  ASSERT_EQ(_wsopen_s(&fd, dir_.WFile("a.mp3").c_str(), _O_RDWR | _O_BINARY, _SH_DENYWR, 0), 0);
  const Outcome locked = Tagkit({"set", "--title", "X", "a.mp3"});
  _close(fd);
#else
  const int fd = open(dir_.File("a.mp3").c_str(), O_RDWR);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  const Outcome locked = Tagkit({"set", "--title", "X", "a.mp3"});
  close(fd);
#endif
  EXPECT_EQ(locked.status, 1);
  EXPECT_EQ(Lines(locked.err),
            Strings{"a.mp3: E_TAG_CANNOT_OPEN: cannot open the file: the file cannot be opened "
                    "(permission denied, or in use by another program)"});
  EXPECT_EQ(Read("a.mp3"), original);
  // A tag that runs past the end of the file is not rewritten.
  const Bytes damaged = Concat({Text("ID3"), {3, 0, 0, 0, 0, 0x7F, 0x7F}, Frame23("TIT2", Latin("Cut"))});
  Write("cut.mp3", damaged);
  const Outcome refused = Tagkit({"set", "--title", "X", "cut.mp3"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(Lines(refused.err),
            Strings{"cut.mp3: E_TAG_DAMAGED: cannot set the title: the tag is damaged (it runs past "
                    "its end or the file's); it is not rewritten, so that nothing behind it is lost"});
  EXPECT_EQ(Read("cut.mp3"), damaged);
  std::remove(dir_.File("cut.mp3").c_str());
  // The new file is made beside the old one: the temporary folder is not
  // needed, and nothing is left behind in the file's folder either.
  ASSERT_EQ(rmdir(TempFolder().c_str()), 0);
  const Outcome no_temp = Tagkit({"set", "--title", "X", "a.mp3"});
  EXPECT_EQ(no_temp.status, 0) << no_temp.err;
  EXPECT_TRUE(Has(ShowLine("a.mp3"), {R"("title":["X"])"}));
  EXPECT_EQ(tagkit_test::ListDir(dir_.path()), (Strings{".err", ".out", "a.mp3"}));
}

TEST_F(CliTest, SetAndRemoveEveryProperty) {
  const Bytes picture =
      Concat({{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, Text("not really a picture")});
  Write("cover.png", picture);
  Write("mtdid.bin", Text(std::string("mtdid\0data", 10)));
  Write("qzvlx.bin", Bytes(768, 'q'));
  Write("söng.mp3", TaggedMp3());
  // Each option, what `show --json` then holds, in its order, and the name
  // that removes it (an option's name or a JSON key).
  const struct {
    Strings set;
    std::string shown;
    const char* remove;
  } options[] = {
      {{"--title", "Neues Lied"}, R"("title":["Neues Lied"])", "title"},
      {{"--artist=Ünïcode Artist"}, R"("artist":["Ünïcode Artist"])", "artist"},
      {{"--album", "Album"}, R"("album":["Album"])", "album"},
      {{"--genre", "(17)"}, R"j("genre":["(17)"])j", "genre"},
      {{"--track", "7/12"}, R"("track":["7/12"])", "track"},
      {{"--composer", "Composer"}, R"("composer":["Composer"])", "composer"},
      {{"--copyright", "2024 Someone"}, R"("copyright":["2024 Someone"])", "copyright"},
      {{"--isrc", "XXA012400001"}, R"("isrc":["XXA012400001"])", "isrc"},
      {{"--url", "https://x.example", "--url", "https://y.example"},
       R"("artist_url":["https://x.example","https://y.example"])", "artist_url"},
      {{"--date", "2024-02-29"}, R"("release_date":"2024-02-29")", "release_date"},
      {{"--picture", "cover.png"},
       R"("picture":{"mime":"image/png","size":28,)"
       R"("sha256":"a010b05bd441d6c7d4c3ce317e81256e100141aaeef4b648f47b4986a51594af"})",
       "picture"},
      {{"--music-id", MusicIdHex()},
       R"("music_id":{"owner":"http://www.vrelkmusic.com/tag","data":")" + MusicIdHex() + "\"}",
       "music-id"},
      {{"--mtdid", "mtdid.bin"},
       R"("mtdid":{"mime":"binary","description":"USR_MTDID","size":10,)"
       R"("sha256":"5ac92dc4f7d13521aa039351ebdc838a4d351522b5ee2b815618b4f339f6e8d2"})",
       "mtdid"},
      {{"--qzvlx", "qzvlx.bin"},
       R"("qzvlx":{"mime":"application/QZVLX","description":"USR_QZVLX","size":768,)"
       R"("sha256":"cc341f7ed66e78e76e48b6dd105a9c346be9ccd31ef24d7d719e143f5a04db0c"})",
       "qzvlx"},
  };
  Strings set = {"set"}, remove = {"set"};
  std::string shown = R"({"file":"söng.mp3","id3v2":"2.3")";
  for (const auto& option : options) {
    set.insert(set.end(), option.set.begin(), option.set.end());
    remove.push_back("--remove");
    remove.push_back(option.remove);
    shown += "," + option.shown;
  }
  set.push_back("söng.mp3");
  remove.push_back("söng.mp3");
  const Outcome run = Tagkit(set);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ShowLine("söng.mp3"),
            shown + R"(,"id3v1":{"title":"Neues Lied","artist":"Ünïcode Artist",)"
                    R"("album":"Album","year":2024,"comment":"note","track":7,"genre":17}})");

  // extract-picture: the bytes as given, to a file or to standard output.
  EXPECT_EQ(Tagkit({"extract-picture", "söng.mp3", "out.png"}).status, 0);
  EXPECT_EQ(Read("out.png"), picture);
  EXPECT_EQ(Tagkit({"extract-picture", "söng.mp3", "-"}).out,
            std::string(picture.begin(), picture.end()));

  const Outcome removed = Tagkit(remove);
  ASSERT_EQ(removed.status, 0) << removed.err;
  // The trailer keeps its comment, which nothing writes, and its ID3v1.1
  // track byte 0, which the library then reads as track "0".
  EXPECT_EQ(ShowLine("söng.mp3"), R"({"file":"söng.mp3","id3v2":"2.3","track":["0"],)"
                                  R"("id3v1":{"comment":"note","track":0,"genre":148}})");
  const Outcome none = Tagkit({"extract-picture", "söng.mp3", "none.png"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(Lines(none.err),
            Strings{"söng.mp3: E_TAG_NO_VALUE: no cover picture: the property is absent"});
  EXPECT_FALSE(tagkit_test::FileExists(dir_.File("none.png")));
}

TEST_F(CliTest, SetKeepsTheAudioAndWhatTheFileIs) {
  const Bytes audio = Audio();
  Write("a.mp3", Concat({Id3v2Tag(3, 0, Frame23("TIT2", Latin("Old"))), audio}));
  Write("cover.jpg", Concat({{0xFF, 0xD8, 0xFF, 0xE0}, Text("jpeg-ish")}));
  // A given MIME type wins over the one the picture's first bytes tell.
  const Outcome set = Tagkit({"set", "--picture", "cover.jpg", "--picture-mime", "image/x", "a.mp3"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_TRUE(Has(ShowLine("a.mp3"), {R"("picture":{"mime":"image/x")"}));
  const Bytes after = Read("a.mp3");
  ASSERT_GE(after.size(), audio.size() + 128);
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), after.end() - 128 - audio.size()));
#if !defined(_WIN32)
  // Each row prepares a.mp3 (title "Old") and checks it after a set of the
  // title "New" through `name`.
  const std::string a = dir_.File("a.mp3"), b = dir_.File("b.mp3");
  auto inode = [](const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st;
  };
  const Bytes old_file = Concat({Id3v2Tag(3, 0, Frame23("TIT2", Latin("Old"))), audio});
  const struct {
    const char* what;
    std::function<bool()> prepare;
    Strings options;
    std::string name;
    std::function<void(const struct stat&)> check;
  } rows[] = {
      {"permissions, owner and group",
       [&] { return chmod(a.c_str(), 0640) == 0 && chown(a.c_str(), 4321, 8765) == 0; }, {}, "a.mp3",
       [&](const struct stat& before) {
         const struct stat now = inode(a);
         EXPECT_EQ(now.st_mode, before.st_mode);
         EXPECT_EQ(now.st_uid, 4321u);
         EXPECT_EQ(now.st_gid, 8765u);
       }},
      {"extended attribute", [&] { return setxattr(a.c_str(), "user.tagged", "yes", 3, 0) == 0; }, {},
       "a.mp3",
       [&](const struct stat&) {
         char value[8] = {};
         EXPECT_EQ(getxattr(a.c_str(), "user.tagged", value, sizeof value), 3);
         EXPECT_STREQ(value, "yes");
       }},
      {"symbolic link", [&] { return symlink("a.mp3", b.c_str()) == 0; }, {}, "b.mp3",
       [&](const struct stat&) {
         struct stat st;
         ASSERT_EQ(lstat(b.c_str(), &st), 0);
         EXPECT_TRUE(S_ISLNK(st.st_mode));
       }},
      {"hard links", [&] { return link(a.c_str(), b.c_str()) == 0; }, {}, "b.mp3",
       [&](const struct stat& before) {
         EXPECT_EQ(inode(a).st_ino, before.st_ino);
         EXPECT_EQ(inode(b).st_ino, before.st_ino);
       }},
      {"split links", [&] { return link(a.c_str(), b.c_str()) == 0; }, {"--split-links"}, "a.mp3",
       [&](const struct stat&) {
         EXPECT_NE(inode(a).st_ino, inode(b).st_ino);
         EXPECT_EQ(Read("b.mp3"), old_file);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::remove(b.c_str());
    std::remove(a.c_str());
    Write("a.mp3", old_file);
    if (!row.prepare()) {
      std::printf("skipped '%s': the test's file system does not support it\n", row.what);
      continue;
    }
    const struct stat before = inode(a);
    Strings args = {"set", "--title", "New"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.push_back(row.name);
    const Outcome run = Tagkit(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Has(ShowLine("a.mp3"), {R"("title":["New"])"}));
    row.check(before);
    EXPECT_EQ(tagkit_test::ListDir(TempFolder()), Strings{});
  }
#endif
}

#if !defined(_WIN32)
// As a user who may write the file but not its folder, the new file is
// made in the temporary folder and copied over the file in place; with no
// usable temporary folder either, the file stays as it was. Tests run as
// root, for whom every folder is writable: the program runs as nobody.
TEST_F(CliTest, SetAsAUserWhoMayNotWriteTheFolder) {
  if (geteuid() != 0 || !tagkit_test::FileExists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "needs root and setpriv to run the program as another user";
  }
  runner_ = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  const std::string locked = dir_.File("locked"), open = dir_.File("open"), own_tmp = dir_.File("utmp");
  for (const std::string& folder : {locked, open, own_tmp}) ASSERT_TRUE(tagkit_test::MakeDir(folder));
  ASSERT_EQ(chown(open.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(own_tmp.c_str(), 65534, 65534), 0);
  const Bytes original = TaggedMp3();
  const struct {
    std::string folder, tmpdir;
    int status;
  } rows[] = {
      {locked, own_tmp, 0},
      {locked, dir_.File("missing"), 1},
      {open, dir_.File("missing"), 0},
      {open, locked, 0},  // a temporary folder it may not write
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.folder + " " + row.tmpdir);
    const std::string file = row.folder + "/song.mp3";
    tagkit_test::WriteFile(file, original);
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    struct stat before {}, after {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    tmpdir_ = row.tmpdir;
    const Outcome run = Tagkit({"set", "--title", "Mine", file});
    EXPECT_EQ(run.status, row.status) << run.err;
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, 65534u);
    if (row.status == 0) {
      EXPECT_TRUE(Has(ShowLine(file), {R"("title":["Mine"])"}));
    } else {
      EXPECT_EQ(Lines(run.err), Strings{file + ": E_FAIL: cannot write the changes: the tag could "
                                               "not be read or written"});
      EXPECT_EQ(tagkit_test::ReadFile(file), original);
    }
    if (row.folder == locked) {
      EXPECT_EQ(after.st_ino, before.st_ino);  // copied in place
    }
    EXPECT_EQ(tagkit_test::ListDir(row.folder), Strings{"song.mp3"});
    EXPECT_EQ(tagkit_test::ListDir(own_tmp), Strings{});
  }
}

// A copy in place that a crash interrupted: the record and the new content
// beside it (as the library leaves them) are completed by `recover`, once.
TEST_F(CliTest, RecoverCompletesAnInterruptedCopy) {
  const Bytes original = TaggedMp3(), changed = Concat({Id3v2Tag(3, 0, Frame23("TIT2", Latin("Done"))), Audio()});
  Write("a.mp3", Concat({original, Bytes(100, 'x')}));  // torn: longer than the new file
  struct stat st {};
  ASSERT_EQ(stat(dir_.File("a.mp3").c_str(), &st), 0);
  char name[64];
  std::snprintf(name, sizeof name, ".tlx-replace-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  Write(std::string(name) + ".new", changed);
  Write(name, Text("tlx replace 1\n" + std::to_string(changed.size()) + "\n" + dir_.File("a.mp3") + "\nend\n"));
  const Outcome first = Tagkit({"recover", "a.mp3", "b.mp3"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "a.mp3: completed an interrupted edit\n");
  EXPECT_EQ(Read("a.mp3"), changed);
  EXPECT_EQ(tagkit_test::ListDir(dir_.path()), (Strings{".err", ".out", "a.mp3"}));
  const Outcome again = Tagkit({"recover", "a.mp3"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, "");
}
#endif

TEST_F(CliTest, ProgressLineOnlyOnATerminal) {
  // Elsewhere standard error holds only error lines. script(1) gives the
  // program a terminal and copies what it prints.
  Write("a.mp3", TaggedMp3());
  Write("b.mp3", TaggedMp3());
  if (system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script is not installed";
  const std::string command = "cd '" + dir_.path() + "' && script -qec \"'" + program_ +
                              "' set --track 5 a.mp3 b.mp3\" /dev/null > typescript.txt";
  ASSERT_EQ(system(command.c_str()), 0);
  EXPECT_TRUE(Has(Slurp(dir_.File("typescript.txt")), {"1/2 a.mp3", "2/2 b.mp3"}));
  EXPECT_TRUE(Has(ShowLine("b.mp3"), {R"("track":["5"])"}));
}

TEST_F(CliTest, SampleGeneratorMakesAFileTheProgramReads) {
  if (system("python3 --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
  const std::string command = "python3 '" TAGKIT_SOURCE_DIR "/scripts/make-sample.py' '" +
                              dir_.File("sample.mp3") + "'";
  ASSERT_EQ(system(command.c_str()), 0);
  EXPECT_TRUE(Has(ShowLine("sample.mp3"),
                  {R"("id3v2":"2.3","title":["Morning Light"])", R"("album":["Café Sessions"])",
                   R"("release_date":"2019-05-03","picture":{"mime":"image/png")",
                   R"("album":"Café Sessions")"}));
}

TEST_F(CliTest, EveryCorpusFileGivesOneValidJsonLine) {
  const std::string corpus = tagkit_test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  Strings args = {"show", "--json"};
  for (const char* sub : {"mutagen", "taglib"}) {
    for (const std::string& name : tagkit_test::ListDir(corpus + "/" + sub)) {
      args.push_back(corpus + "/" + sub + "/" + name);
    }
  }
  const Outcome run = Tagkit(args);
  const Strings lines = Lines(run.out);
  ASSERT_EQ(lines.size(), args.size() - 2);
  std::size_t failed = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string start = "{\"file\":\"" + args[i + 2] + "\",";
    EXPECT_TRUE(ValidJson(lines[i])) << lines[i];
    EXPECT_EQ(lines[i].compare(0, start.size(), start), 0) << lines[i];
    if (lines[i].compare(start.size(), 9, "\"error\":\"") == 0) ++failed;
  }
  EXPECT_EQ(Lines(run.err).size(), failed);
  EXPECT_EQ(run.status, failed == 0 ? 0 : 1);
}

}  // namespace
