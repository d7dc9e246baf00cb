// Prints a file's title and cover picture size, then gives it a new title.
//
//   retitle FILE "New title"
#include <tagkit/tagkit.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// UTF-8 command-line text to a wide string.
std::wstring Widen(const std::string& utf8) {
  std::wstring out;
  for (std::size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    unsigned long cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    out.push_back(static_cast<wchar_t>(cp));
    i += extra + 1;
  }
  return out;
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t w : text) {
    unsigned long cp = static_cast<unsigned long>(w);
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
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: retitle FILE NEW-TITLE\n");
    return 2;
  }
  CTagkit tag;
  HRESULT hr = tag.Open(Widen(argv[1]), 2);
  if (FAILED(hr)) {
    std::fprintf(stderr, "%s: cannot open (0x%08X)\n", argv[1], static_cast<unsigned>(hr));
    return 1;
  }

  std::vector<std::wstring> title;
  if (tag.GetString(PROPID_TITLE, title) == S_OK && !title.empty()) {
    std::printf("title: %s\n", Narrow(title[0]).c_str());
  } else {
    std::printf("title: (none)\n");
  }

  std::vector<boost::shared_ptr<CTagkit::CPicture>> pictures;
  if (tag.GetBinary(PROPID_PICTURE, pictures) == S_OK && !pictures.empty()) {
    std::printf("cover picture: %ld bytes\n", static_cast<long>(pictures[0]->Size()));
  } else {
    std::printf("cover picture: (none)\n");
  }

  hr = tag.PutString(PROPID_TITLE, std::vector<std::wstring>{Widen(argv[2])});
  if (FAILED(hr)) {
    std::fprintf(stderr, "%s: cannot set the title (0x%08X)\n", argv[1], static_cast<unsigned>(hr));
    tag.Close();
    return 1;
  }
  hr = tag.Close();  // writes the change
  if (FAILED(hr)) {
    std::fprintf(stderr, "%s: cannot write (0x%08X)\n", argv[1], static_cast<unsigned>(hr));
    return 1;
  }
  return 0;
}
