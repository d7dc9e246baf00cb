// The tagkit command-line program: shared declarations of its parts.
//
// Text inside the program is UTF-8 (std::string); the library speaks wide
// strings, and single-byte tag text goes through the thread's code page.
#ifndef TAGKIT_TOOLS_CLI_H_
#define TAGKIT_TOOLS_CLI_H_

#include <cstdint>
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
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  void Key(const std::string& key);
  void String(const std::string& utf8);  // invalid UTF-8 becomes U+FFFD
  void Number(std::int64_t value);
  void Null();
  const std::string& str() const { return out_; }

 private:
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

// ---- files.cc: whole files and the working copy of `set` ----
// Reads a whole file; on failure returns the code that fits (not found,
// cannot open, out of memory) and leaves bytes empty.
HRESULT ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes);
// Writes a whole file (replacing it); "-" is standard output.
HRESULT WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes);
bool SameFile(const std::string& a, const std::string& b);

// ---- progress.cc ----
// "N/total file" on standard error, kept on one line, when it is a terminal.
class Progress {
 public:
  explicit Progress(std::size_t total);
  ~Progress();
  void Step(std::size_t index, const std::string& file);
  // Call before printing anything else to standard error.
  void Clear();

 private:
  bool enabled_;
  std::size_t total_;
  bool shown_ = false;
};
void ReportFailure(const Failure& failure, Progress* progress);

// ---- show.cc: the text properties in display order ----
struct TextProperty {
  std::int32_t id;
  const char* key;     // JSON key, and the name for --remove
  const char* label;   // text view
  const char* option;  // option of `set`
};
extern const TextProperty kTextProperties[];
extern const std::size_t kTextPropertyCount;

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
