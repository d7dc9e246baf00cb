// tagkit: shows and changes the tags of MP3 files from the command line.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

#include "cli.h"
#include "tlx_system.h"

namespace tagkit_cli {

const char kMainHelp[] =
    "Usage: tagkit [--code-page N] COMMAND [OPTIONS] FILE...\n"
    "\n"
    "Shows and changes the tags of MP3 files: the ID3v2.2/2.3/2.4 tag at the\n"
    "head of the file and the ID3v1 trailer at its end.\n"
    "\n"
    "Commands:\n"
    "  show [--json] [--all] FILE...  print every property (--all: every frame)\n"
    "  set [OPTIONS] FILE...          change properties and frames of each file\n"
    "                                 (--dry-run: only tell what would change)\n"
    "  extract-picture FILE OUT       write the cover picture's bytes to OUT\n"
    "  recover FILE...                complete edits that a crash interrupted\n"
    "\n"
    "Options for every command:\n"
    "  --code-page N   code page of single-byte tag text (default 1252;\n"
    "                  1250-1258, 932, 936, 949, 950, 65001 for UTF-8)\n"
    "  --strict        refuse ID3v2.4 tags (read them as no tag), as the\n"
    "                  library does unless asked\n"
    "  --help          this text; 'tagkit COMMAND --help' describes a command\n"
    "\n"
    "show and set also take whole music libraries:\n"
    "  -r, --recursive walk the directories named, taking the files that hold\n"
    "                  MP3 audio (by content, not by name); sorted, stable order\n"
    "  --follow        follow symbolic links to directories\n"
    "  -j N            work on N files at once (default: one per core); the\n"
    "                  output stays in order\n"
    "  --quiet         no progress line and no summary on standard error\n"
    "\n"
    "Every failure prints one line to standard error naming the file, the\n"
    "result code and what went wrong; the other files are still processed.\n"
    "A run over several files ends with a summary on standard error: files,\n"
    "tags by version, files changed and failures by result code.\n"
    "Exit status: 0 when every file succeeded, 1 when any file failed, 2 for\n"
    "a bad command line (no file is touched then).\n";

const char kShowHelp[] =
    "Usage: tagkit show [--json] [--all] [-r] [-j N] [OPTIONS] FILE|DIR...\n"
    "\n"
    "Prints every property of each file, opened read only: title, artist,\n"
    "album, genre, track, composer, copyright, ISRC, artist URLs, release\n"
    "date, cover picture (MIME type, size), music identifier (owner, data in\n"
    "hex), the two encapsulated objects MTDID and QZVLX (MIME type,\n"
    "description, size), the ID3v2 version found and the ID3v1 trailer.\n"
    "Absent properties are left out.\n"
    "\n"
    "  --all    also list every frame of the ID3v2 tag in file order: its\n"
    "           identifier and flags, the decoded text of text, URL, comment\n"
    "           and lyrics frames, and type, size and SHA-256 of the others\n"
    "  --json   one JSON object per file, one per line, with the keys file,\n"
    "           id3v2 (\"2.2\", \"2.3\", \"2.4\" or null), title, artist, album,\n"
    "           genre, track, composer, copyright, isrc, artist_url (each an\n"
    "           array of strings), release_date (\"YYYY-MM-DD\"), picture\n"
    "           {mime, size, sha256}, music_id {owner, data}, mtdid and qzvlx\n"
    "           {mime, description, size, sha256}, id3v1 {title, artist, album,\n"
    "           year, comment, track, genre}, with --all frames_problem,\n"
    "           frame_count and frames\n"
    "           (objects with id, kind, size, flags and, by kind, encoding,\n"
    "           language, description, mime, file_name, owner, values,\n"
    "           picture_type, data_size, sha256, problem), and error (when the\n"
    "           file cannot be opened). Absent values are omitted.\n"
    "  -r, --recursive, --follow, -j N, --quiet, --strict, --code-page N\n"
    "           as described in 'tagkit --help'\n";

const char kSetHelp[] =
    "Usage: tagkit set [OPTIONS] FILE...\n"
    "\n"
    "Opens each file for writing, applies the changes and writes the file\n"
    "back in one safe replacement. The same changes go to every file; a file\n"
    "whose change fails is left unchanged. On a terminal a progress line\n"
    "shows the files done once the work takes more than a second.\n"
    "\n"
    "  --title TEXT          --artist TEXT         --album TEXT\n"
    "  --genre TEXT          genre text, or \"(N)\" for ID3v1 genre number N\n"
    "  --track TEXT          track number, e.g. 7 or 7/12\n"
    "  --composer TEXT       --copyright TEXT      --isrc TEXT\n"
    "  --url URL             artist URL; repeat for several\n"
    "  --date YYYY-MM-DD     release date (years 1000 to 9999)\n"
    "  --picture PATH        cover picture; its MIME type comes from the\n"
    "                        file's first bytes (JPEG, PNG, GIF, BMP, WebP)\n"
    "  --picture-mime TYPE   MIME type of the picture instead\n"
    "  --music-id HEX        music identifier: 64 bytes as 128 hex digits\n"
    "  --mtdid PATH          encapsulated object MTDID from a file\n"
    "  --qzvlx PATH          encapsulated object QZVLX from a file\n"
    "  --remove NAME         remove a property: title, artist, album, genre,\n"
    "                        track, composer, copyright, isrc, url, date,\n"
    "                        picture, music-id, mtdid or qzvlx; repeatable\n"
    "\n"
    "Frames by identifier (each option repeatable):\n"
    "  --comment [LANG:][DESCRIPTION=]TEXT\n"
    "                        comment (COMM) in language LANG (three letters,\n"
    "                        default eng) with DESCRIPTION (default empty); it\n"
    "                        replaces the comment of that language and\n"
    "                        description and keeps the others. A TEXT holding\n"
    "                        '=' needs the DESCRIPTION= part ('=a=b'), one that\n"
    "                        starts with three letters and ':' the LANG: part\n"
    "  --user-text DESCRIPTION=VALUE\n"
    "                        user-defined text (TXXX); replaces the one with\n"
    "                        that description\n"
    "  --frame ID=TEXT       any text frame, e.g. TPE2=Band or TBPM=120 (not\n"
    "                        TXXX, nor the date frames: --date); a frame of a\n"
    "                        property above (TIT2, TPE1, ...) is set as that\n"
    "                        property, ID3v1 trailer included\n"
    "  --lyrics [LANG:][DESCRIPTION=]PATH\n"
    "                        unsynchronised lyrics (USLT) from a UTF-8 text\n"
    "                        file, language and description as for --comment\n"
    "  --remove-frame ID[:DESCRIPTION]\n"
    "                        remove every frame ID, or only those with\n"
    "                        DESCRIPTION (TXXX, WXXX, COMM, USLT, APIC, GEOB)\n"
    "Identifiers have four characters; ID3v2.2 tags get their three-character\n"
    "names (COM, ULT, TXX, TP2, ...), and a frame ID3v2.2 cannot hold fails\n"
    "there. A frame marked read only is never replaced or removed: the file\n"
    "fails with E_TAG_READ_ONLY and is left as it was. Text is written as\n"
    "ISO-8859-1 when it fits, else UTF-16 (ID3v2.2/2.3) or UTF-8 (ID3v2.4).\n"
    "\n"
    "  --dry-run             open the files read only and print what would\n"
    "                        change, one line per change (the properties, then\n"
    "                        the frames in the order given): FILE: WHAT: OLD ->\n"
    "                        NEW ('(none)' when absent), or FILE: no change;\n"
    "                        nothing is written\n"
    "  --json                with --dry-run: one JSON object per file and line,\n"
    "                        {file, changes: [{what, old, new}]} (null for\n"
    "                        absent), or {file, error}\n"
    "  --code-page N         code page of single-byte tag text (default 1252)\n"
    "  --split-links         a file with several hard links: give this name a\n"
    "                        file of its own and leave the other names as they\n"
    "                        were (by default every name shows the change)\n"
    "  -r, --recursive       change every MP3 file in the directories named\n"
    "  --follow, -j N, --quiet, --strict\n"
    "                        as described in 'tagkit --help'\n"
    "\n"
    "The new file is written beside the old one and replaces it in one step;\n"
    "the file keeps its symbolic links, hard links, owner, group, permissions\n"
    "and extended attributes.\n"
    "\n"
    "Options take their value as the next argument or after '=' (--title=X);\n"
    "'--' ends the options.\n";

const char kExtractHelp[] =
    "Usage: tagkit extract-picture [--strict] [--code-page N] FILE OUT\n"
    "\n"
    "Writes the bytes of FILE's cover picture to OUT ('-' for standard\n"
    "output). Fails when the file has no picture.\n";

const char kRecoverHelp[] =
    "Usage: tagkit recover FILE...\n"
    "\n"
    "Completes edits of the files that a crash interrupted while the new file\n"
    "was copied over the old one in place (a file with several hard links, or\n"
    "in a folder that cannot be written), and prints one line for each file it\n"
    "completed. Opening a file with the other commands does the same.\n";

int UsageError(const std::string& command, const std::string& message) {
  const std::string who = command.empty() ? "tagkit" : "tagkit " + command;
  std::cerr << who << ": " << Printable(message) << " (see '" << who << " --help')" << std::endl;
  return kExitUsage;
}

bool SetCodePage(const std::string& command, const std::string& value) {
  char* end = nullptr;
  const unsigned long number = std::strtoul(value.c_str(), &end, 10);
  if (value.empty() || value[0] == '-' || *end != '\0' || number > 0xFFFFFFFFul ||
      tlx_set_thread_code_page(static_cast<std::uint32_t>(number)) != 0) {
    UsageError(command, "code page '" + value +
                            "' is not supported (1250-1258, 932, 936, 949, 950, 65001)");
    return false;
  }
  return true;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

int TakeCodePage(const std::string& command, const std::vector<std::string>& args,
                 std::size_t& i) {
  const std::string& arg = args[i];
  std::string value;
  if (arg == "--code-page") {
    if (i + 1 >= args.size()) return UsageError(command, "--code-page needs a number");
    value = args[++i];
  } else if (arg.compare(0, 12, "--code-page=") == 0) {
    value = arg.substr(12);
  } else {
    return kNotCodePage;
  }
  return SetCodePage(command, value) ? kExitOk : kExitUsage;
}

namespace {

const char* HelpOf(const std::string& command) {
  if (command == "show") return kShowHelp;
  if (command == "set") return kSetHelp;
  if (command == "extract-picture") return kExtractHelp;
  if (command == "recover") return kRecoverHelp;
  return nullptr;
}

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Options before the command.
  std::size_t next = 0;
  for (; next < args.size() && args[next].compare(0, 2, "--") == 0; ++next) {
    const std::string& arg = args[next];
    if (IsHelp(arg)) {
      std::cout << kMainHelp;
      return kExitOk;
    }
    const int code_page = TakeCodePage("", args, next);
    if (code_page == kNotCodePage) return UsageError("", "unknown option '" + arg + "'");
    if (code_page != kExitOk) return code_page;
  }
  if (next < args.size() && args[next] == "-h") {
    std::cout << kMainHelp;
    return kExitOk;
  }
  if (next >= args.size()) {
    std::cerr << kMainHelp;
    return kExitUsage;
  }
  const std::string command = args[next];
  std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(next) + 1, args.end());
  if (command == "help") {
    if (rest.empty()) {
      std::cout << kMainHelp;
      return kExitOk;
    }
    const char* help = HelpOf(rest.front());
    if (help == nullptr) return UsageError("", "unknown command '" + rest.front() + "'");
    std::cout << help;
    return kExitOk;
  }
  if (command == "show") return RunShow(rest);
  if (command == "set") return RunSet(rest);
  if (command == "extract-picture") return RunExtractPicture(rest);
  if (command == "recover") return RunRecover(rest);
  return UsageError("", "unknown command '" + command + "'");
}

}  // namespace
}  // namespace tagkit_cli

#if defined(_WIN32)
// Windows hands the command line over in UTF-16; the program works in UTF-8,
// and writes its output untranslated ("\n" line ends, picture bytes).
int wmain(int argc, wchar_t** wide_argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(tagkit_cli::WideToUtf8(wide_argv[i]));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return tagkit_cli::Main(argc, argv.data());
}
#else
int main(int argc, char** argv) { return tagkit_cli::Main(argc, argv); }
#endif
