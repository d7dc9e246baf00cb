// Whole-file reads and writes for option values and extracted pictures.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <system_error>

#include "cli.h"

namespace tagkit_cli {

namespace fs = std::filesystem;

HRESULT ReadWholeFile(const std::string& path, std::vector<unsigned char>& bytes) {
  bytes.clear();
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status) || fs::is_directory(status)) return E_TAG_FILE_NOT_FOUND;
  std::ifstream in(path, std::ios::binary);
  if (!in) return E_TAG_CANNOT_OPEN;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  // Tag values are sized by signed 32-bit numbers.
  if (size < 0 || size > std::numeric_limits<std::int32_t>::max()) return E_INVALIDARG;
  in.seekg(0, std::ios::beg);
  bytes.resize(static_cast<std::size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    bytes.clear();
    return E_FAIL;
  }
  return S_OK;
}

HRESULT WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  if (path == "-") {
    std::cout.write(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
    return std::cout ? S_OK : E_FAIL;
  }
  std::error_code error;
  if (fs::is_directory(path, error)) return E_TAG_CANNOT_OPEN;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return E_TAG_CANNOT_OPEN;
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return out ? S_OK : E_FAIL;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

}  // namespace tagkit_cli
