// Helpers shared by the tests: a private temporary directory per test, whole
// file reads and writes, wide paths, and the corpus location.
#ifndef TAGKIT_TESTS_SUPPORT_TEST_SUPPORT_H_
#define TAGKIT_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tagkit_test {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path()/name
  std::string File(const std::string& name) const;
  std::wstring WFile(const std::string& name) const;

 private:
  std::string path_;
};

// UTF-8 to wide text (UTF-16 on Windows); a malformed sequence gives U+FFFD.
std::wstring Widen(const std::string& utf8);
Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Text(const std::string& text);  // the bytes of text, no terminator

// Names of regular files in a directory, sorted.
std::vector<std::string> ListDir(const std::string& dir);

// ../shared/corpus beside the checkout, or "" when it is absent.
std::string CorpusDir();

// Builds ID3v2 tags for tests.
Bytes SyncSafe(std::uint32_t value);
Bytes Be32(std::uint32_t value);
Bytes Be24(std::uint32_t value);
// "ID3", major, 0, flags, sync-safe size of body, body.
Bytes Id3v2Tag(std::uint8_t major, std::uint8_t flags, const Bytes& body);
// ID3v2.3 frame: id, big-endian size, two flag bytes, data.
Bytes Frame23(const std::string& id, const Bytes& data, std::uint8_t status = 0,
              std::uint8_t format = 0);
// ID3v2.4 frame: id, sync-safe size, two flag bytes, data (with any extra
// bytes the flags announce).
Bytes Frame24(const std::string& id, const Bytes& data, std::uint8_t status = 0,
              std::uint8_t format = 0);
// The data as one zlib stream.
Bytes Deflate(const Bytes& data);
// ID3v2.2 frame: id, 24-bit size, data.
Bytes Frame22(const std::string& id, const Bytes& data);
// A 128-byte ID3v1.1 trailer.
Bytes Id3v1(const std::string& title, const std::string& artist, const std::string& album,
            const std::string& year, const std::string& comment, int track, int genre);
// Bytes that look like MPEG audio: frame sync words and a counter pattern.
Bytes Audio(std::size_t size);

// Portable pieces for tests (paths and values in UTF-8).
bool MakeDir(const std::string& path);  // false when it cannot be created
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);
// The variable that names the system's temporary folder: TMPDIR on POSIX,
// TMP on Windows (the first one the platform reads).
const char* TempDirVariable();

// The frames of a well-filled ID3v2.3 tag: twelve text frames (some UTF-16),
// an artist URL, a picture of picture_size bytes, a music identifier and one
// encapsulated object of each kind.
Bytes RichFrames23(std::size_t picture_size);

}  // namespace tagkit_test

#endif  // TAGKIT_TESTS_SUPPORT_TEST_SUPPORT_H_
