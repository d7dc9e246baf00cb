#include "fuzz_common.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace tagkit_fuzz {
namespace {

std::string g_input_name = "(fuzzer input)";

void RemoveScratch();

const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    std::random_device random;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
      char name[32];
      std::snprintf(name, sizeof name, "tagkit-fuzz-%08x", static_cast<unsigned>(random()));
      std::filesystem::path candidate = base / name;
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) return candidate;
      if (error) {
        std::fprintf(stderr, "cannot make %s: %s\n", candidate.c_str(), error.message().c_str());
        std::abort();
      }
    }
  }();
  static const bool registered = (std::atexit(RemoveScratch), true);
  (void)registered;
  return dir;
}

void RemoveScratch() {
  std::error_code error;
  std::filesystem::remove_all(ScratchDir(), error);
}

}  // namespace

std::string WriteInput(const std::uint8_t* data, std::size_t size) {
  std::string path = (ScratchDir() / "input.mp3").string();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) Fail("setup", "cannot write the input file " + path);
  return path;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void SetInputName(const std::string& name) { g_input_name = name; }

void Fail(const char* target, const std::string& what) {
  std::fprintf(stderr, "%s: %s: %s\n", target, g_input_name.c_str(), what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace tagkit_fuzz
