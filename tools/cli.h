// The tagkit command-line program: shared declarations of its parts.
//
// Text inside the program is UTF-8 (std::string); the library speaks wide
// strings, and single-byte tag text goes through the thread's code page.
#ifndef TAGKIT_TOOLS_CLI_H_
#define TAGKIT_TOOLS_CLI_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tagkit.h"

namespace tagkit_cli {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // at least one file failed
constexpr int kExitUsage = 2;   // bad command line; no file was touched

// ---- text.cc: conversions ----
// Decodes one UTF-8 sequence at text[i]; returns its length and the code
// point, or length 1 and U+FFFD for a byte that does not start a valid,
// shortest-form sequence.
std::size_t DecodeUtf8(const std::string& text, std::size_t i, char32_t& cp);
// Surrogates and values past U+10FFFF become U+FFFD.
void AppendUtf8(char32_t cp, std::string& out);
std::wstring Utf8ToWide(const std::string& utf8);  // invalid bytes: U+FFFD
std::string WideToUtf8(const std::wstring& wide);
// Single-byte text in the thread's code page to UTF-8.
std::string CodePageToUtf8(const std::string& bytes);
std::string Hex(const unsigned char* bytes, std::size_t size);
// Strict hex: an even number of digits, nothing else.
bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes);
// Replaces control characters by visible escapes for the text view.
std::string Printable(const std::string& utf8);

// ---- json.cc ----
// Builds one JSON value; the caller keeps keys and values in order.
class JsonWriter {
 public:
  JsonWriter();
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  void Key(const std::string& key);
  void Key(const char* key);
  void String(const std::string& utf8);  // invalid UTF-8 becomes U+FFFD
  void Number(std::int64_t value);
  void Null();
  const std::string& str() const { return out_; }
  // Hands the text over, leaving the writer empty.
  std::string Release();

 private:
  // Room that one file's line of `show --json` needs.
  static constexpr std::size_t kLineRoom = 1024;
  void Separate();
  std::string out_;
  std::vector<bool> first_;  // per open container: no member written yet
  bool after_key_ = false;
};
std::string JsonQuote(const std::string& utf8);

// ---- sha256.cc ----
std::string Sha256Hex(const unsigned char* data, std::size_t size);

// ---- errors.cc ----
// "E_TAG_FILE_NOT_FOUND" and the like; a hex number for unknown codes.
std::string ResultName(HRESULT code);
// A plain sentence about the code, lower-case, without a final period.
std::string ResultSentence(HRESULT code);

// One failed file: "FILE: NAME: what failed: sentence".
struct Failure {
  std::string file;
  HRESULT code;
  std::string what;  // may be empty
};
std::string FailureLine(const Failure& failure);
// "NAME: what failed: sentence", the value of the JSON "error" key.
std::string FailureText(const Failure& failure);
// The JSON line that stands for a file that failed: {"file":...,"error":...}.
std::string FailureJsonLine(const Failure& failure);

// ---- files.cc: whole files and the working copy of `set` ----
// Reads a whole file; on failure returns the code that fits (not found,
// cannot open, out of memory) and leaves bytes empty.
HRESULT ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes);
// Writes a whole file (replacing it); "-" is standard output.
HRESULT WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);
bool SameFile(const std::string& a, const std::string& b);

// ---- progress.cc ----
// True when standard error (standard output) is a terminal.
bool StderrIsTerminal();
bool StdoutIsTerminal();
// One line on standard error while many files are worked through: files
// done (and the total once known), files per second and the time left.
// Shown only when enabled, and only once the work has taken about a second.
class Progress {
 public:
  explicit Progress(bool enabled);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  // total 0: not known yet. Redraws a few times a second at most.
  void Update(std::size_t done, std::size_t total);
  // Call before printing anything else to the terminal.
  void Clear();

 private:
  bool enabled_;
  bool shown_ = false;
  std::int64_t start_ms_;
  std::int64_t drawn_ms_ = 0;
};
void ReportFailure(const Failure& failure, Progress* progress);

// ---- sniff.cc: what the first and last bytes of a file tell ----
constexpr std::size_t kHeadSize = 10;
constexpr std::size_t kTrailerSize = 128;
struct FileHead {
  unsigned char head[kHeadSize] = {};
  std::size_t head_size = 0;  // fewer than kHeadSize for a short file
  bool has_trailer = false;   // trailer holds the last 128 bytes, "TAG" first
  unsigned char trailer[kTrailerSize] = {};
  std::int64_t file_size = -1;  // -1 when unknown
};
// Reads the first and last bytes of a regular file (known_regular: the
// caller saw that it is one): S_OK, or E_TAG_FILE_NOT_FOUND,
// E_TAG_CANNOT_OPEN or E_FAIL.
HRESULT ReadFileHead(const std::string& path, bool known_regular, FileHead& head);
// The same bytes as the open object read them: S_OK or E_FAIL.
HRESULT ReadFileHead(CTagkit& tag, FileHead& head);
// MP3 content: an ID3v2 header, an MPEG audio frame header at the very
// start, or an ID3v1 trailer.
bool LooksLikeMp3(const FileHead& head);
// The major version of the ID3v2 tag at the start (2, 3 or 4); 0 for none
// or one of any other version.
int Id3v2Version(const FileHead& head);
// The ID3v1 trailer as the engine reads it: texts end at their first zero
// byte, trailing white space is dropped, single-byte text goes through the
// thread's code page; empty texts and a zero year are absent.
struct TrailerView {
  std::string title, artist, album, comment;
  std::int32_t year = 0;
  std::optional<int> track;  // ID3v1.1 only
  int genre = 0;
};
std::optional<TrailerView> ReadTrailer(const FileHead& head);
// What is known of a file around its task.
struct FileLook {
  bool found = false;      // the walk found it: skipped unless its content is MP3
  bool head_read = false;  // head holds the file's first and last bytes
  FileHead head;
  bool skipped = false;    // not MP3: nothing was done
};
// Reads the file's ends into look (found: the walk saw a regular file):
// S_OK, with look.skipped for a found file that is not MP3; a failure only
// for a found file that cannot be read (of an operand, head_read stays false).
HRESULT LookAt(const std::string& path, FileLook& look);

// ---- frames.cc: every frame of the ID3v2 tag (show --all) ----
// One frame, decoded as far as its kind allows.
struct FrameView {
  std::string id;               // "TIT2"; three characters in ID3v2.2
  std::uint32_t size = 0;       // data size, unpacked
  std::vector<std::string> flags;  // "read only", "compressed", "encrypted", ...
  // text, url, user_text, user_url, comment, lyrics, picture, object,
  // file_id, private or binary
  std::string kind;
  std::optional<std::string> encoding, language, description, mime, file_name, owner;
  std::optional<int> picture_type;
  std::vector<std::string> values;       // the texts of the text kinds
  std::optional<std::int64_t> data_size;  // the bytes of the binary kinds,
  std::optional<std::string> sha256;      // or of a frame shown as bytes
  std::optional<std::string> problem;     // what could not be decoded
};
struct FrameListing {
  std::vector<FrameView> frames;  // file order
  std::size_t total = 0;          // frames in the tag; more than listed when cut
  std::optional<std::string> problem;
};
// The frames of the file's ID3v2 tag; none when it has no tag the engine
// reads (ID3v2.4 only without `strict`). file_size (-1: unknown) bounds what
// a damaged frame may claim.
FrameListing ReadFrames(const std::string& path, bool strict, std::int64_t file_size);
// The keys frame_count and frames of `show --json --all`.
void WriteFramesJson(JsonWriter& json, const FrameListing& listing);
// Text cut to 60 code points with an ellipsis, control characters escaped.
std::string ShortText(const std::string& utf8);
// One frame per line or short block, indented.
std::string FramesText(const FrameListing& listing, std::size_t indent);

// ---- walk.cc: the files of a run ----
// One file to work on, or an entry of a directory that could not be read.
struct RunItem {
  std::string path;        // as named, or DIR/NAME as found in a directory
  bool found = false;      // found by the walk: taken only when it holds MP3
  HRESULT error = S_OK;    // a failure of the walk itself; what says which
  std::string what;
};
// Streams the files named on the command line; with `recursive` the
// directories among them are walked, their entries in sorted order.
// Symbolic links to directories are followed only with `follow_links`, and a
// directory that is already being walked is not entered again.
class FileWalk {
 public:
  FileWalk(std::vector<std::string> operands, bool recursive, bool follow_links);
  ~FileWalk();
  FileWalk(const FileWalk&) = delete;
  FileWalk& operator=(const FileWalk&) = delete;
  // The next item; false once everything was handed out.
  bool Next(RunItem& item);
  bool walked_a_directory() const { return walked_a_directory_; }

 private:
  struct Level;
  bool Enter(const std::string& path, RunItem& item);
  bool Visit(const std::string& path, RunItem& item);

  std::vector<std::string> operands_;
  std::size_t next_operand_ = 0;
  bool recursive_;
  bool follow_links_;
  bool walked_a_directory_ = false;
  std::vector<Level> levels_;
};

// ---- run.cc: one command over many files ----
// Options that every command taking many files shares.
struct RunOptions {
  bool recursive = false;     // -r: walk directories
  bool follow_links = false;  // --follow: follow symbolic links to directories
  bool quiet = false;         // --quiet: no progress line, no summary
  bool strict = false;        // --strict: ID3v2.4 refused, as the class does by default
  bool dry_run = false;       // set --dry-run: the summary counts files that would change
  unsigned jobs = 0;          // -j N: threads; 0: one per core
};
// Handles one of those options at args[i], moving i past its value:
// kExitOk, kExitUsage after a message, or kNotRunOption.
constexpr int kNotRunOption = -3;
int TakeRunOption(const std::string& command, const std::vector<std::string>& args,
                  std::size_t& i, RunOptions& options);
// The open mode flags that --strict leaves out.
std::int32_t OpenFlags(const RunOptions& options);

// What one file gave.
struct FileOutcome {
  std::string output;               // for standard output
  std::optional<Failure> failure;  // one line on standard error
  bool changed = false;            // the file was rewritten
};
// The work of a command on one file. Run is called on several threads at
// once, each with the program's code page set.
class FileTask {
 public:
  virtual ~FileTask() = default;
  // look: what the caller read of the file (see ReadsHeadItself); the task
  // sets look.skipped for a file it found not to be MP3.
  virtual FileOutcome Run(const std::string& file, FileLook& look) const = 0;
  // The task reads the file's ends itself through the object it opens, so
  // that the file is opened once (LookAt when the object cannot open it).
  virtual bool ReadsHeadItself() const { return false; }
  // Standard output for a file that failed before Run.
  virtual std::string FailureOutput(const Failure& failure) const;
  // Outputs are separated by a blank line (text views).
  virtual bool BlankLineBetween() const { return false; }
};
// Runs the task over the operands' files on options.jobs threads; prints
// outputs and failures in the walk's order, the progress line and, for more
// than one file, the summary. Returns the exit status.
int RunFiles(const std::string& command, const std::vector<std::string>& operands,
             const RunOptions& options, const FileTask& task);

// ---- show.cc: the text properties in display order ----
struct TextProperty {
  std::int32_t id;
  const char* key;     // JSON key, and the name for --remove
  const char* label;   // text view
  const char* option;  // option of `set`
};
extern const TextProperty kTextProperties[];
extern const std::size_t kTextPropertyCount;

// ---- set.cc and set_frames.cc: the changes of `set` ----
// A change that a dry run reports: what changes, its value before and after
// (absent when not set). The text view quotes texts, not summaries of
// binary values.
struct Change {
  std::string what;
  std::optional<std::string> before, after;
  bool quoted = true;
};
// What a dry run knows of a file, opened read only.
struct FileState {
  CTagkit& tag;
  const FrameListing& frames;  // filled only when an edit needs_frames
  int id3v2;                   // the tag's major version, 0 for none
};
// One change of the command line, applied to each file in turn.
struct Edit {
  std::string what;  // "set the title", for the error line
  std::function<HRESULT(CTagkit&)> apply;
  // Appends what apply would change in the file.
  std::function<void(const FileState&, std::vector<Change>&)> preview;
  bool needs_frames = false;
};
// ---- set_preview.cc: what a dry run reports ----
// Values as a change shows them; binary values by type, size and the start
// of their hash, so that any change of the bytes shows.
std::string JoinedUtf8(const std::vector<std::wstring>& values);
std::optional<std::string> DateText(double date);  // "YYYY-MM-DD"
std::string BinaryText(const std::wstring& mime, const unsigned char* data, std::size_t size);
std::optional<std::string> PictureText(CTagkit& tag);
std::optional<std::string> MusicIdText(CTagkit& tag);
std::optional<std::string> GeobText(CTagkit& tag, std::int32_t id);
// Appends the change unless before and after agree.
void Report(std::vector<Change>& changes, const std::string& what,
            const std::optional<std::string>& before, const std::optional<std::string>& after,
            bool quoted);
// "FILE: WHAT: OLD -> NEW" per change, or "FILE: no change".
std::string ChangesText(const std::string& file, const std::vector<Change>& changes);
// {"file":…,"changes":[{"what":…,"old":…,"new":…}]} and a line end.
std::string ChangesJson(const std::string& file, const std::vector<Change>& changes);

// The options of `set` that name frames: --comment, --user-text, --frame,
// --lyrics and --remove-frame, each repeatable.
class FrameOptions {
 public:
  static bool Handles(const std::string& name);
  // Takes one of them: kExitOk, or the status after a usage message.
  // claimed holds the properties that other options set or remove; a frame
  // that backs one of them claims it too.
  int Take(const std::string& name, const std::string& value, std::set<std::string>& claimed);
  std::vector<Edit> edits;  // in command-line order

 private:
  // A frame that an option sets or removes.
  struct Target {
    std::uint32_t id;  // the ID3v2.3 name; an ID3v2.2 one without a counterpart as it is
    std::optional<std::string> language, description;  // what tells its frames apart
  };
  int Error(const std::string& message) const;
  int Claim(const std::string& option, const std::string& property, std::set<std::string>& claimed);
  int AddSet(const std::string& option, const Target& target, std::set<std::string>& claimed);
  int TakeDescribed(const std::string& name, const std::string& value, std::set<std::string>& claimed);
  int TakeFrame(const std::string& value, std::set<std::string>& claimed);
  int TakeRemove(const std::string& value, std::set<std::string>& claimed);

  std::vector<Target> sets_, removals_;
  std::set<std::string> own_claims_;
};

// ---- commands ----
int RunShow(const std::vector<std::string>& args);
int RunSet(const std::vector<std::string>& args);
int RunExtractPicture(const std::vector<std::string>& args);
int RunRecover(const std::vector<std::string>& args);

// ---- main.cc: help texts ----
extern const char kMainHelp[];
extern const char kShowHelp[];
extern const char kSetHelp[];
extern const char kExtractHelp[];
extern const char kRecoverHelp[];
// "tagkit COMMAND: message (see tagkit COMMAND --help)" on standard error.
int UsageError(const std::string& command, const std::string& message);
// Sets the thread's code page from an option value; false (after a usage
// message) when it is not a supported code page.
bool SetCodePage(const std::string& command, const std::string& value);
bool IsHelp(const std::string& arg);
// Handles "--code-page N" or "--code-page=N" at args[i], moving i past its
// value: kExitOk, kExitUsage after a message, or kNotCodePage.
constexpr int kNotCodePage = -1;
int TakeCodePage(const std::string& command, const std::vector<std::string>& args,
                 std::size_t& i);

}  // namespace tagkit_cli

#endif  // TAGKIT_TOOLS_CLI_H_
