// A file written by tagkit, read back by an independent ID3 reader (Debian's
// python3-mutagen): the values must match and the audio must be untouched.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "tag_inspect.h"
#include "tagkit.h"
#include "test_support.h"
#include "tlx_system.h"

namespace {

using tagkit_test::Bytes;
using tagkit_test::Concat;

// Prints KEY=hex(utf-8) per value, one line each, for the frames we write.
const char kScript[] =
    "import sys\n"
    "from mutagen.id3 import ID3\n"
    "t = ID3(sys.argv[1], translate=False)\n"
    "print('version=' + '.'.join(str(v) for v in t.version).encode().hex())\n"
    "for k in ['TIT2','TPE1','TALB','TCON','TRCK','TCOM','TCOP','TSRC']:\n"
    "    for f in t.getall(k):\n"
    "        for v in f.text:\n"
    "            print(k + '=' + str(v).encode('utf-8').hex())\n"
    "for f in t.getall('WOAR'):\n"
    "    print('WOAR=' + f.url.encode('utf-8').hex())\n";

// Debian's interpreter first: another python3 on the PATH may lack the
// distribution's packages.
std::string PythonWithMutagen() {
  for (const char* python : {"/usr/bin/python3", "python3"}) {
    const std::string probe = std::string(python) + " -c 'import mutagen.id3' >/dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return python;
  }
  return std::string();
}

std::string Utf8Hex(const std::wstring& text) {
  std::string utf8;
  for (wchar_t wc : text) {
    const std::uint32_t c = static_cast<std::uint32_t>(wc);
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      utf8.push_back(static_cast<char>(0xE0 | (c >> 12)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xF0 | (c >> 18)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : utf8) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  return hex;
}

std::multimap<std::string, std::string> ReadWithMutagen(const std::string& python,
                                                        const tagkit_test::TempDir& dir,
                                                        const std::string& path) {
  const std::string script = dir.File("read_tags.py");
  tagkit_test::WriteFile(script, tagkit_test::Text(kScript));
  std::multimap<std::string, std::string> values;
  FILE* pipe = popen((python + " '" + script + "' '" + path + "'").c_str(), "r");
  if (pipe == nullptr) return values;
  char line[4096];
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::size_t eq = text.find('=');
    if (eq != std::string::npos) values.emplace(text.substr(0, eq), text.substr(eq + 1));
  }
  pclose(pipe);
  return values;
}

std::vector<std::string> All(const std::multimap<std::string, std::string>& values,
                             const std::string& key) {
  std::vector<std::string> out;
  for (auto range = values.equal_range(key); range.first != range.second; ++range.first) {
    out.push_back(range.first->second);
  }
  return out;
}

TEST(MutagenTest, ReadsWhatTagkitWrote) {
  const std::string python = PythonWithMutagen();
  if (python.empty()) GTEST_SKIP() << "python3-mutagen is not installed";
  tlx_set_thread_code_page(1252);
  tagkit_test::TempDir dir;
  const std::string path = dir.File("chanson \xC3\xA9t\xC3\xA9.mp3");
  const Bytes audio = tagkit_test::Audio(20000);
  tagkit_test::WriteFile(
      path, Concat({tagkit_test::Id3v2Tag(3, 0, tagkit_test::Frame23("TIT2", {0, 'o', 'l', 'd', 0})), audio}));

  const struct {
    std::int32_t id;
    const char* frame;
    std::vector<std::wstring> values;
  } puts[] = {
      {PROPID_TITLE, "TIT2", {L"Caf\u00E9 \u6771\u4EAC \U0001F3B5"}},
      {PROPID_ARTIST, "TPE1", {L"\u00C9dith Pi\u00E4f"}},
      {PROPID_ALBUM, "TALB", {L"\u0410\u043B\u044C\u0431\u043E\u043C"}},
      {PROPID_GENRE, "TCON", {L"(17)"}},
      {PROPID_TRACK, "TRCK", {L"7"}},
      {PROPID_COMPOSER, "TCOM", {L"\u00D8ystein"}},
      {PROPID_COPYRIGHT, "TCOP", {L"\u2117 2001 Label"}},
      {PROPID_ISRC, "TSRC", {L"GBAYE0000351"}},
      {PROPID_ARTIST_URL, "WOAR", {L"http://artist.example/one", L"http://artist.example/two"}},
  };
  {
    CTagkit tag;
    ASSERT_EQ(S_OK, tag.Open(tagkit_test::Widen(path), 2));
    for (const auto& p : puts) ASSERT_EQ(S_OK, tag.PutString(p.id, p.values));
    ASSERT_EQ(S_OK, tag.Close());
  }

  const auto values = ReadWithMutagen(python, dir, path);
  EXPECT_EQ(std::vector<std::string>{Utf8Hex(L"2.3.0")}, All(values, "version"));
  for (const auto& p : puts) {
    SCOPED_TRACE(p.frame);
    std::vector<std::string> expected;
    for (const std::wstring& v : p.values) expected.push_back(Utf8Hex(v));
    EXPECT_EQ(expected, All(values, p.frame));
  }
  EXPECT_EQ(audio, tagkit_test::AudioPart(tagkit_test::ReadFile(path)));
}

}  // namespace
