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

#include "tag_inspect.h"
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
      {{"help", "show"}, 0, "--all"},
      {{"help", "set"}, 0, "--picture-mime"},
      {{"set", "-h"}, 0, "--remove NAME"},
      {{"extract-picture", "--help"}, 0, "Fails when the file has no picture"},
      {{}, 2, "Usage"},
      {{"frobnicate", "a.mp3"}, 2, "unknown command 'frobnicate'"},
      {{"--bogus", "show", "a.mp3"}, 2, "unknown option '--bogus'"},
      {{"show"}, 2, "no file given"},
      {{"show", "--xml", "a.mp3"}, 2, "unknown option '--xml'"},
      {{"show", "-j", "0", "a.mp3"}, 2, "-j needs a number of threads from 1 to 256"},
      {{"show", "-j"}, 2, "-j needs a number"},
      {{"set", "--title", "X", "--jobs=many", "a.mp3"}, 2, "not 'many'"},
      {{"set", "-x", "a.mp3"}, 2, "unknown option '-x'"},
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
      {{"set", "--help"}, 0, "--remove-frame ID[:DESCRIPTION]"},
      {{"set", "--frame", "TXXX=1", "a.mp3"}, 2, "TXXX is set with --user-text"},
      {{"set", "--frame", "WOAR=x", "a.mp3"}, 2, "--frame sets text frames"},
      {{"set", "--frame", "TYER=2001", "a.mp3"}, 2, "the release date is set with --date"},
      {{"set", "--frame", "TPE2", "a.mp3"}, 2, "--frame needs ID=TEXT"},
      {{"set", "--frame", "TPE2=", "a.mp3"}, 2, "use --remove-frame TPE2"},
      {{"set", "--user-text", "CATALOG", "a.mp3"}, 2, "--user-text needs DESCRIPTION=VALUE"},
      {{"set", "--comment", "deu:x=", "a.mp3"}, 2, "--comment needs a text"},
      {{"set", "--comment", "a", "--comment", "eng:=b", "a.mp3"}, 2, "given twice for 'COMM eng \"\"'"},
      {{"set", "--remove-frame", "TPE2:x", "a.mp3"}, 2, "have a description"},
      {{"set", "--remove-frame", "TDRC", "a.mp3"}, 2, "removed with --remove date"},
      {{"set", "--remove-frame", "T!", "a.mp3"}, 2, "--remove-frame needs ID"},
      {{"set", "--comment", "x=1", "--remove-frame", "COMM:x", "a.mp3"}, 2, "both set and removed"},
      {{"set", "--remove-frame", "TXXX", "--user-text", "K=V", "a.mp3"}, 2, "both set and removed"},
      {{"set", "--remove-frame", "TXX", "--remove-frame", "TXXX", "a.mp3"}, 2, "removed twice"},
      {{"set", "--title", "X", "--frame", "TIT2=Y", "a.mp3"}, 2, "--frame TIT2 conflicts with --title"},
      {{"set", "--remove-frame", "APIC:x", "--remove", "picture", "a.mp3"}, 2, "both set and removed"},
      {{"set", "--lyrics", "missing.txt", "a.mp3"}, 2, "cannot read the file of --lyrics"},
      {{"set", "--lyrics", "cover.bin", "--json", "a.mp3"}, 2, "--json goes with --dry-run"},
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
  // --strict refuses ID3v2.4: the title comes from the trailer, whose zero
  // comment bytes read as ID3v1.1 track 0; genre 148 is none.
  Write("v24.mp3", Concat({Id3v2Tag(4, 0, Frame23("TIT2", Latin("Newer"))), Audio(),
                           Id3v1("Trailer", "", "", "", "", -1, 148)}));
  Write("none.mp3", Audio());
  const Outcome run =
      Tagkit({"show", "--json", "--strict", "v22.mp3", "v23.mp3", "v24.mp3", "none.mp3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out),
            (Strings{R"({"file":"v22.mp3","id3v2":"2.2","title":["Old"]})",
                     R"({"file":"v23.mp3","id3v2":"2.3","title":["New"]})",
                     R"({"file":"v24.mp3","id3v2":null,"title":["Trailer"],"track":["0"],)"
                     R"("id3v1":{"title":"Trailer","track":0,"genre":148}})",
                     R"({"file":"none.mp3","id3v2":null})"}));
  EXPECT_TRUE(Has(ShowLine("v24.mp3"), {R"({"file":"v24.mp3","id3v2":"2.4",)"}));
  EXPECT_TRUE(Has(ShowLine("v24.mp3", {"--all", "--strict"}),
                  {R"("frames_problem":"ID3v2.4 is refused with --strict","frame_count":0)"}));
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
  // A run over several files ends with a summary.
  EXPECT_EQ(Lines(set.err),
            (Strings{"a.mp3: E_TAG_FOREIGN_MUSIC_ID: cannot set the music identifier: the file's "
                     "music identifier belongs to another owner and is kept",
                     "missing.mp3: " + not_found, "tagkit set: 3 files",
                     "  tags     none 0, ID3v1 1, ID3v2.2 0, ID3v2.3 2, ID3v2.4 0",
                     "  changed  1",
                     "  failed   2: E_TAG_FILE_NOT_FOUND 1, E_TAG_FOREIGN_MUSIC_ID 1"}));
  EXPECT_EQ(Read("a.mp3"), original);
  EXPECT_TRUE(Has(ShowLine("b.mp3"), {R"("title":["Lost"],"artist":["The Sample Quartet"])",
                                      "\"data\":\"" + MusicIdHex(), R"("id3v1":{"title":"Lost")"}));
  // No working copy is left behind.
  EXPECT_EQ(tagkit_test::ListDir(TempFolder()), Strings{});

  // show: an error object in the place of each file that cannot be opened.
  const Outcome show = Tagkit({"show", "--json", "--quiet", "a.mp3", "missing.mp3", "b.mp3", "."});
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

// Every frame of the tag as mutagen reads it: KEY=ENCODING:TEXT.
const char kFrameScript[] = R"PY(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1])
print('version=2.%d' % t.version[1])
for k in sorted(t.keys()):
    f = t[k]
    text = f.text if isinstance(f.text, str) else '|'.join(str(v) for v in f.text)
    print('%s=%d:%s' % (k, f.encoding, text.replace('\n', '\\n')))
)PY";

TEST_F(CliTest, FrameOptionsAreReadBackByMutagen) {
  const std::string python = tagkit_test::MutagenPython();
  if (python.empty()) GTEST_SKIP() << "python3-mutagen is not installed";
  Write("lyrics.txt", Text("\xEF\xBB\xBF" "Ça va\n日本\n"));
  const Bytes comments[] = {Latin(std::string("engkeep\0kept", 12)), Latin(std::string("eng\0old", 7))};
  const Bytes catalog = Latin(std::string("CATALOG\0A1", 10));
  const Strings set = {"set",      "--comment",     "Plain",          "--comment", "deu:Notiz=Grüße",
                       "--comment", "x=Ω sign",     "--user-text",    "CATALOG=Z9", "--frame",
                       "TPE2=Bänd", "--frame",      "tbpm=120",       "--frame",   "TIT2=Titel",
                       "--lyrics",  "fra:Paroles=lyrics.txt", "a.mp3"};
  // The frames after the set; the encoding as the version writes the text
  // (the title is always Unicode), the kept comment as it was stored.
  const struct {
    std::string key, text;
    bool unicode, stored;
  } frames[] = {
      {"COMM::eng", "Plain", false, false},      {"COMM:Notiz:deu", "Grüße", false, false},
      {"COMM:keep:eng", "kept", false, true},    {"COMM:x:eng", "Ω sign", true, false},
      {"TBPM", "120", false, false},             {"TIT2", "Titel", true, false},
      {"TPE2", "Bänd", false, false},            {"TXXX:CATALOG", "Z9", false, false},
      {"USLT:Paroles:fra", "Ça va\\n日本\\n", true, false},
  };
  // Each removal, and the keys of the frames it takes away.
  const struct {
    std::string frame;
    Strings gone;
  } removals[] = {
      {"TXXX", {"TXXX:CATALOG"}},
      {"COMM:x", {"COMM:x:eng"}},
      {"COMM:nothing", {}},
      {"COMM", {"COMM::eng", "COMM:Notiz:deu", "COMM:keep:eng", "COMM:x:eng"}},
      {"USLT:Paroles", {"USLT:Paroles:fra"}},
      {"tpe2", {"TPE2"}},
  };
  for (int version : {2, 3, 4}) {
    SCOPED_TRACE(version);
    Bytes tag;
    for (const Bytes& comment : comments) {
      tag = Concat({tag, version == 2 ? tagkit_test::Frame22("COM", comment) : Frame23("COMM", comment)});
    }
    tag = Concat({tag, version == 2 ? tagkit_test::Frame22("TXX", catalog) : Frame23("TXXX", catalog)});
    Write("a.mp3", Concat({Id3v2Tag(static_cast<std::uint8_t>(version), 0, tag), Audio()}));
    const Outcome run = Tagkit(set);
    ASSERT_EQ(run.status, 0) << run.err;
    Strings expected = {"version=2." + std::to_string(version)};
    for (const auto& frame : frames) {
      const int encoding = frame.stored ? 0 : version == 4 ? 3 : frame.unicode ? 1 : 0;
      expected.push_back(frame.key + "=" + std::to_string(encoding) + ":" + frame.text);
    }
    EXPECT_EQ(tagkit_test::RunPython(python, kFrameScript, dir_.File("a.mp3")), expected);
    EXPECT_TRUE(Has(ShowLine("a.mp3"), {R"("title":["Titel"])", R"("id3v1":{"title":"Titel")"}));
    // show --all lists them back.
    EXPECT_TRUE(Has(ShowLine("a.mp3", {"--all"}),
                    {R"("language":"deu","description":"Notiz","values":["Grüße"]})",
                     R"("description":"CATALOG","values":["Z9"]})", R"("values":["Bänd"]})",
                     R"("language":"fra","description":"Paroles","values":["Ça va\n日本\n"]})"}));
    const Bytes written = Read("a.mp3");
    for (const auto& removal : removals) {
      SCOPED_TRACE(removal.frame);
      Write("a.mp3", written);
      const Outcome removed = Tagkit({"set", "--remove-frame", removal.frame, "a.mp3"});
      ASSERT_EQ(removed.status, 0) << removed.err;
      Strings left;
      for (const std::string& line : expected) {
        const std::string key = line.substr(0, line.find('='));
        if (std::find(removal.gone.begin(), removal.gone.end(), key) == removal.gone.end()) {
          left.push_back(line);
        }
      }
      EXPECT_EQ(tagkit_test::RunPython(python, kFrameScript, dir_.File("a.mp3")), left);
    }
  }
}

TEST_F(CliTest, DryRunNamesEachChangeAndWritesNothing) {
  Write("a.mp3", TaggedMp3());
  Write("none.mp3", Audio());
  struct stat before[2] {};
  const std::string files[] = {dir_.File("a.mp3"), dir_.File("none.mp3")};
  for (int i = 0; i < 2; ++i) ASSERT_EQ(stat(files[i].c_str(), &before[i]), 0);
  const Outcome run = Tagkit({"set", "--dry-run", "--title", "New", "--comment", "Hi", "--remove-frame", "WOAR",
                              "--frame", "TPE1=The Sample Quartet", "a.mp3", "none.mp3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Lines(run.out), (Strings{"a.mp3: title: \"Morning Light\" -> \"New\"",
                                     "a.mp3: COMM eng \"\": (none) -> \"Hi\"",
                                     "a.mp3: WOAR: \"https://a.example\" -> (none)",
                                     "a.mp3: WOAR: \"https://b.example\" -> (none)",
                                     "none.mp3: title: (none) -> \"New\"",
                                     "none.mp3: COMM eng \"\": (none) -> \"Hi\"",
                                     "none.mp3: TPE1: (none) -> \"The Sample Quartet\""}));
  EXPECT_TRUE(Has(run.err, {"tagkit set: 2 files\n", "  would change 2\n"}));
  // JSON lines: one object per file, an error object for a file that cannot
  // be opened; a file that would not change counts as unchanged.
  const Outcome json = Tagkit({"set", "--dry-run", "--json", "--frame", "TPE1=The Sample Quartet", "--comment",
                               "deu:Hi", "a.mp3", "missing.mp3", "none.mp3"});
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(Lines(json.out),
            (Strings{R"({"file":"a.mp3","changes":[{"what":"COMM deu \"\"","old":null,"new":"Hi"}]})",
                     R"({"file":"missing.mp3","error":"E_TAG_FILE_NOT_FOUND: cannot open the file: file not found"})",
                     R"({"file":"none.mp3","changes":[{"what":"TPE1","old":null,"new":"The Sample Quartet"},)"
                     R"({"what":"COMM deu \"\"","old":null,"new":"Hi"}]})"}));
  EXPECT_TRUE(Has(json.err, {"  would change 2\n"}));
  EXPECT_EQ(Tagkit({"set", "--dry-run", "--frame", "TPE1=The Sample Quartet", "a.mp3"}).out, "a.mp3: no change\n");
  EXPECT_EQ(Read("a.mp3"), TaggedMp3());
  EXPECT_EQ(Read("none.mp3"), Audio());
  for (int i = 0; i < 2; ++i) {
    struct stat after {};
    ASSERT_EQ(stat(files[i].c_str(), &after), 0);
    EXPECT_EQ(after.st_mtime, before[i].st_mtime);
    EXPECT_EQ(after.st_ino, before[i].st_ino);
  }
  EXPECT_EQ(tagkit_test::ListDir(TempFolder()), Strings{});
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

TEST_F(CliTest, ProgressLineOnlyOnATerminalOnceWorkTakesASecond) {
  // script(1) gives the program a terminal and copies what it prints; more
  // output than the program's buffer and the pipe hold, for a reader that
  // waits before draining, makes the run take longer than a second.
  // Elsewhere standard error holds only the summary.
  if (system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script is not installed";
  ASSERT_TRUE(tagkit_test::MakeDir(dir_.File("lib")));
  for (int i = 0; i < 40; ++i) {
    Write("lib/" + std::to_string(i) + ".mp3",
          Concat({Id3v2Tag(3, 0, Frame23("TIT2", Latin(std::string(8000, 'x')))), Audio()}));
  }
  const std::string command = "cd '" + dir_.path() + "' && script -qec \"'" + program_ +
                              "' show -r --json -j 2 lib | (sleep 1.5; cat >/dev/null)\" " +
                              "/dev/null > typescript.txt";
  ASSERT_EQ(system(command.c_str()), 0);
  EXPECT_TRUE(Has(Slurp(dir_.File("typescript.txt")), {" files/s", "tagkit show: 40 files"}));
  const Outcome piped = Tagkit({"show", "-r", "lib"});
  EXPECT_EQ(Lines(piped.err).front(), "tagkit show: 40 files");
  EXPECT_EQ(Tagkit({"show", "-r", "--quiet", "lib"}).err, "");
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

TEST_F(CliTest, EveryCorpusFileGivesOneValidJsonLineWithAllItsFrames) {
  const std::string corpus = tagkit_test::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  Strings args = {"show", "--json", "--all", "--quiet"};
  for (const char* sub : {"mutagen", "taglib"}) {
    for (const std::string& name : tagkit_test::ListDir(corpus + "/" + sub)) {
      args.push_back(corpus + "/" + sub + "/" + name);
    }
  }
  const Outcome run = Tagkit(args);
  const Strings lines = Lines(run.out);
  ASSERT_EQ(lines.size(), args.size() - 4);
  std::size_t failed = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string start = "{\"file\":\"" + args[i + 4] + "\",";
    EXPECT_TRUE(ValidJson(lines[i])) << lines[i];
    EXPECT_EQ(lines[i].compare(0, start.size(), start), 0) << lines[i];
    if (lines[i].compare(start.size(), 9, "\"error\":\"") == 0) {
      ++failed;
    } else {
      EXPECT_TRUE(Has(lines[i], {"\"frames\":["})) << lines[i];
    }
  }
  EXPECT_EQ(Lines(run.err).size(), failed);
  EXPECT_EQ(run.status, failed == 0 ? 0 : 1);
  // The text view of the same files.
  args[1] = "--all";
  EXPECT_EQ(Tagkit(args).status, run.status);
}

TEST_F(CliTest, AllListsEveryFrameInFileOrder) {
  // One tag per version; each row is a frame and its object in "frames".
  const Bytes png = Text("\x89PNG");
  const std::string frame = R"({"id":")";
  const struct {
    int version;
    Bytes bytes;
    std::string json;
  } rows[] = {
      {3, Frame23("TIT2", Latin("Title")),
       R"(TIT2","kind":"text","size":6,"flags":[],"encoding":"latin1","values":["Title"]})"},
      {3, Frame23("TCON", Latin(std::string("Rock\0Pop\0", 9))),
       R"(TCON","kind":"text","size":10,"flags":[],"encoding":"latin1","values":["Rock","Pop"]})"},
      {3, Frame23("TPE1", {1, 0xFE, 0xFF, 0, 'H', 0, 0xE9}),
       R"(TPE1","kind":"text","size":7,"flags":[],"encoding":"utf16","values":["Hé"]})"},
      {3, Frame23("TALB", {2, 0, 'O', 0, 0xFC}),
       R"(TALB","kind":"text","size":5,"flags":[],"encoding":"utf16be","values":["Oü"]})"},
      {3, Frame23("TCOM", Concat({{3}, Text("Café")})),
       R"(TCOM","kind":"text","size":6,"flags":[],"encoding":"utf8","values":["Café"]})"},
      {3, Frame23("TOPE", Latin(std::string(70, 'y'))),
       R"(TOPE","kind":"text","size":71,"flags":[],"encoding":"latin1","values":[")" +
           std::string(70, 'y') + "\"]}"},
      {3, Frame23("TXXX", Latin(std::string("CATALOG\0ABC-123", 15))),
       R"(TXXX","kind":"user_text","size":16,"flags":[],"encoding":"latin1",)"
       R"("description":"CATALOG","values":["ABC-123"]})"},
      {3, Frame23("WXXX", Latin(std::string("Home\0https://h.example", 22))),
       R"(WXXX","kind":"user_url","size":23,"flags":[],"encoding":"latin1",)"
       R"("description":"Home","values":["https://h.example"]})"},
      {3, Frame23("WOAR", Text("https://a.example")),
       R"(WOAR","kind":"url","size":17,"flags":[],"values":["https://a.example"]})"},
      {3, Frame23("COMM", Latin(std::string("engshort\0A comment", 18))),
       R"(COMM","kind":"comment","size":19,"flags":[],"encoding":"latin1","language":"eng",)"
       R"("description":"short","values":["A comment"]})"},
      {3, Frame23("USLT", Concat({{3}, Text(std::string("deu\0Zeile 1\nZeile 2", 19))})),
       R"(USLT","kind":"lyrics","size":20,"flags":[],"encoding":"utf8","language":"deu",)"
       R"("description":"","values":["Zeile 1\nZeile 2"]})"},
      {3, Frame23("APIC", Concat({Latin(std::string("image/png\0\x03" "cover\0", 17)), png})),
       R"(APIC","kind":"picture","size":22,"flags":[],"encoding":"latin1","description":"cover",)"
       R"("mime":"image/png","picture_type":3,"data_size":4,"sha256":)"
       R"("0f4636c78f65d3639ece5a064b5ae753e3408614a14fb18ab4d7540d2c248543"})"},
      {3, Frame23("GEOB", Latin(std::string("application/x\0f.bin\0obj\0data", 28))),
       R"(GEOB","kind":"object","size":29,"flags":[],"encoding":"latin1","description":"obj",)"
       R"("mime":"application/x","file_name":"f.bin","data_size":4,"sha256":)"
       R"("3a6eb0790f39ac87c94f3856b2dd2c5d110e6811602261a9a923d3bb23adc8b7"})"},
      {3, Frame23("UFID", Concat({Text(std::string("owner\0", 6)), {1, 2, 3}})),
       R"(UFID","kind":"file_id","size":9,"flags":[],"owner":"owner","data_size":3,"sha256":)"
       R"("039058c6f2c0cb492c533b0a4d14ef77cc0f78abccced5287d84a1a2011cfb81"})"},
      {3, Frame23("PRIV", Text(std::string("WM/x\0pv", 7))),
       R"(PRIV","kind":"private","size":7,"flags":[],"owner":"WM/x","data_size":2,"sha256":)"
       R"("0717031b935f131e7a4974ff41f4511bbd630b61dd1a813d47a214106b9ec14b"})"},
      {3, Frame23("XYZW", Text("abc")),
       R"(XYZW","kind":"binary","size":3,"flags":[],"data_size":3,"sha256":)"
       R"("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"})"},
      // Read only and grouped (the group byte precedes the data), encrypted
      // (shown as bytes), and a text encoding that does not exist.
      {3, Frame23("TIT3", Concat({{7}, Latin("Sub")}), 0x20, 0x20),
       R"(TIT3","kind":"text","size":4,"flags":["read only","grouped"],"encoding":"latin1",)"
       R"("values":["Sub"]})"},
      {3, Frame23("TIT1", Concat({{0x80}, Text("xyz")}), 0, 0x40),
       R"(TIT1","kind":"binary","size":3,"flags":["encrypted"],"data_size":3,"sha256":)"
       R"("3608bca1e44ea6c4d268eb6db02260269892c0b42b86bbf1e77a6fa16c3c9282"})"},
      {3, Frame23("TPE2", {7, 'a'}),
       R"(TPE2","kind":"text","size":2,"flags":[],"data_size":2,"sha256":)"
       R"("d741f5cd2c418cf01d9530754d088fb309dee36a3533845d4322ee3ef4bdb8f0",)"
       R"("problem":"unknown text encoding 7"})"},
      {2, tagkit_test::Frame22("TT2", Latin("Old")),
       R"(TT2","kind":"text","size":4,"flags":[],"encoding":"latin1","values":["Old"]})"},
      {2, tagkit_test::Frame22("TXX", Latin(std::string("K\0V", 3))),
       R"(TXX","kind":"user_text","size":4,"flags":[],"encoding":"latin1","description":"K",)"
       R"("values":["V"]})"},
      {2, tagkit_test::Frame22("COM", Latin(std::string("eng\0c", 5))),
       R"(COM","kind":"comment","size":6,"flags":[],"encoding":"latin1","language":"eng",)"
       R"("description":"","values":["c"]})"},
      {2, tagkit_test::Frame22("PIC", Concat({Latin(std::string("PNG\x03\0", 5)), png})),
       R"(PIC","kind":"picture","size":10,"flags":[],"encoding":"latin1","description":"",)"
       R"("mime":"PNG","picture_type":3,"data_size":4,"sha256":)"
       R"("0f4636c78f65d3639ece5a064b5ae753e3408614a14fb18ab4d7540d2c248543"})"},
      {2, tagkit_test::Frame22("UFI", Text(std::string("o\0\x09", 3))),
       R"(UFI","kind":"file_id","size":3,"flags":[],"owner":"o","data_size":1,"sha256":)"
       R"("2b4c342f5433ebe591a1da77e013d1b72475562d48578dca8b84bac6651c3cb9"})"},
      // ID3v2.4: a value per string, unsynchronisation and zlib undone.
      {4, Frame23("TCON", {1, 0xFF, 0xFE, 'R', 0, 'o', 0, 0, 0, 0xFF, 0xFE, 'P', 0}),
       R"(TCON","kind":"text","size":13,"flags":[],"encoding":"utf16","values":["Ro","P"]})"},
      {4, Frame23("TIT3", {0, 'a', 0xFF, 0, 0xE0}, 0, 0x02),
       R"(TIT3","kind":"text","size":4,"flags":["unsynchronised"],"encoding":"latin1",)"
       R"("values":["aÿà"]})"},
      {4, Frame23("TIT1", Concat({tagkit_test::SyncSafe(7),
                                  {120, 156, 99, 8, 72, 76, 206, 78, 77, 1, 0, 7, 199, 2, 73}}),
                  0, 0x09),
       R"(TIT1","kind":"text","size":7,"flags":["compressed"],"encoding":"latin1",)"
       R"("values":["Packed"]})"},
  };
  for (int version : {4, 3, 2}) {
    SCOPED_TRACE(version);
    Bytes frames;
    std::string listed;
    std::size_t count = 0;
    for (const auto& row : rows) {
      if (row.version != version) continue;
      frames = Concat({frames, row.bytes});
      listed += (count++ == 0 ? "" : ",") + frame + row.json;
    }
    Write("a.mp3", Concat({Id3v2Tag(static_cast<std::uint8_t>(version), 0,
                                    Concat({frames, Bytes(64, 0)})),
                           Audio()}));
    const std::string line = ShowLine("a.mp3", {"--all"});
    EXPECT_TRUE(ValidJson(line)) << line;
    EXPECT_TRUE(Has(line, {",\"frame_count\":" + std::to_string(count) + ",\"frames\":[" +
                           listed + "]}"}));
  }
  // The text view: aligned, long texts cut, control characters escaped.
  const Outcome text = Tagkit({"show", "--all", "a.mp3"});
  EXPECT_EQ(text.status, 0);
  EXPECT_TRUE(Has(text.out, {"  Frames         5\n    TT2   Old\n    TXX   \"K\" V\n",
                             "    PIC   PNG, front cover (3), \"\", 4 bytes\n"
                             "          sha256 0f46"}));
  Write("a.mp3", Concat({Id3v2Tag(3, 0, Concat({rows[1].bytes, rows[5].bytes, rows[10].bytes,
                                                 rows[16].bytes, rows[18].bytes})),
                         Audio()}));
  EXPECT_EQ(Tagkit({"show", "--all", "a.mp3"}).out.substr(Tagkit({"show", "a.mp3"}).out.size()),
            "  Frames         5\n"
            "    TCON  Rock\n"
            "          Pop\n"
            "    TOPE  " + std::string(60, 'y') + "\u2026\n"
            "    USLT  deu \"\" Zeile 1\\x0aZeile 2\n"
            "    TIT3  [read only, grouped] Sub\n"
            "    TPE2  2 bytes\n"
            "          sha256 d741f5cd2c418cf01d9530754d088fb309dee36a3533845d4322ee3ef4bdb8f0\n"
            "          (unknown text encoding 7)\n");
}

#if !defined(_WIN32)
void MakeLink(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}
#endif

TEST_F(CliTest, ALibraryIsWalkedInOneOrderWhateverTheThreads) {
  // Files are chosen by content: an MP3 without the extension is taken, a
  // file named .mp3 that holds no audio is not.
  for (const char* folder : {"lib", "lib/a", "lib/b", "lib/b/c"}) {
    ASSERT_TRUE(tagkit_test::MakeDir(dir_.File(folder)));
  }
  const Bytes not_audio = Text("not audio, whatever its name says");
  const Strings mp3s = {"lib/a/song", "lib/b/c/bare.mp3", "lib/b/c/old.mp3", "lib/b/v24.mp3",
                        "lib/z.mp3"};
  Write("lib/a/cover.jpg", Concat({{0xFF, 0xD8, 0xFF, 0xE0}, not_audio}));
  Write("lib/b/notes.mp3", not_audio);
  Write(mp3s[0], Concat({Id3v2Tag(2, 0, tagkit_test::Frame22("TT2", Latin("Song"))), Audio()}));
  Write(mp3s[1], Concat({{0xFF, 0xFB, 0x90, 0x64}, Bytes(900, 0x55)}));
  Write(mp3s[2], Concat({Audio(), Id3v1("Old", "", "", "1999", "", 1, 0)}));
  Write(mp3s[3], Concat({Id3v2Tag(4, 0, Bytes(32, 0)), Audio()}));
  Write(mp3s[4], TaggedMp3());
  Strings shown = {ShowLine(mp3s[0])};
  std::string failures;
  std::string failed = "  failed   0";
#if !defined(_WIN32)
  // A link that points nowhere and a named pipe are reported, and the pipe
  // is never opened; a link to a folder above is a loop.
  MakeLink("missing", dir_.File("lib/a/dangling.mp3"));
  ASSERT_EQ(mkfifo(dir_.File("lib/a/x.mp3").c_str(), 0644), 0);
  MakeLink("..", dir_.File("lib/b/c/loop"));
  shown = {R"({"file":"lib/a/dangling.mp3","error":"E_TAG_FILE_NOT_FOUND: cannot follow the )"
           R"(symbolic link: file not found"})",
           shown[0],
           R"({"file":"lib/a/x.mp3","error":"E_TAG_CANNOT_OPEN: not a regular file: the file )"
           R"j(cannot be opened (permission denied, or in use by another program)"})j"};
  failures = "lib/a/dangling.mp3: E_TAG_FILE_NOT_FOUND: cannot follow the symbolic link: file "
             "not found\nlib/a/x.mp3: E_TAG_CANNOT_OPEN: not a regular file: the file cannot be "
             "opened (permission denied, or in use by another program)\n";
  failed = "  failed   2: E_TAG_FILE_NOT_FOUND 1, E_TAG_CANNOT_OPEN 1";
  const Outcome follow = Tagkit({"show", "-r", "--follow", "--quiet", "lib"});
  EXPECT_TRUE(Has(follow.err, {"lib/b/c/loop: E_TAG_CANNOT_OPEN: a directory loop"}));
#endif
  for (std::size_t i = 1; i < mp3s.size(); ++i) shown.push_back(ShowLine(mp3s[i]));
  const std::string summary =
      "tagkit show: 5 files, 2 more skipped (not MP3)\n"
      "  tags     none 1, ID3v1 2, ID3v2.2 1, ID3v2.3 1, ID3v2.4 1\n" + failed + "\n";
  for (const char* jobs : {"1", "4"}) {
    SCOPED_TRACE(jobs);
    const Outcome run = Tagkit({"show", "-r", "--json", "-j", jobs, "lib"});
    EXPECT_EQ(run.status, failures.empty() ? 0 : 1);
    EXPECT_EQ(Lines(run.out), shown);
    EXPECT_EQ(run.err, failures + summary);
  }
  // One commit per MP3 file; the others stay as they were.
  const Outcome set =
      Tagkit({"set", "-r", "-j", "3", "--title", "New", "lib/a", "lib/b/c", "lib/z.mp3"});
  EXPECT_TRUE(Has(set.err, {"tagkit set: 4 files, 1 more skipped (not MP3)\n", "  changed  4\n"}));
  for (const std::string& mp3 : {mp3s[0], mp3s[1], mp3s[2], mp3s[4]}) {
    EXPECT_TRUE(Has(ShowLine(mp3), {R"("title":["New"])"}));
  }
  EXPECT_EQ(Read("lib/a/cover.jpg"), Concat({{0xFF, 0xD8, 0xFF, 0xE0}, not_audio}));
}

}  // namespace
