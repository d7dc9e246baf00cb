// Shared by the fuzz targets and by the test that replays their seeds: the
// entry points, a private scratch directory and the failure report.
#ifndef TAGKIT_FUZZ_FUZZ_COMMON_H_
#define TAGKIT_FUZZ_FUZZ_COMMON_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Each takes the input as the bytes of a file. They return 0 and abort on a
// broken invariant.
extern "C" int TagkitFuzzClassRead(const std::uint8_t* data, std::size_t size);
extern "C" int TagkitFuzzClassWrite(const std::uint8_t* data, std::size_t size);
extern "C" int TagkitFuzzEngineRead(const std::uint8_t* data, std::size_t size);
extern "C" int TagkitFuzzContainer(const std::uint8_t* data, std::size_t size);

namespace tagkit_fuzz {

using Bytes = std::vector<std::uint8_t>;

// Writes the input into this process's scratch directory (made on first use,
// removed at exit) and returns the file's path.
std::string WriteInput(const std::uint8_t* data, std::size_t size);
Bytes ReadAll(const std::string& path);
std::wstring Wide(const std::string& ascii);

// Names the input in failure reports (the replay test sets it per file).
void SetInputName(const std::string& name);
// Reports a broken invariant of the named target and aborts.
[[noreturn]] void Fail(const char* target, const std::string& what);

}  // namespace tagkit_fuzz

#endif  // TAGKIT_FUZZ_FUZZ_COMMON_H_
