// Cost of a commit that adds one frame, against a plain copy of the same
// file (read and write in 64 KiB chunks, then fsync, as a crash-safe copy
// must). The peak resident set is reported as a counter: it must not grow
// with the file size.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "tlx_id3.h"

namespace {

std::string BenchDir() {
  static std::string dir = [] {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tagkit-bench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) abort();
    return std::string(buffer.data());
  }();
  return dir;
}

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// An MP3-like file of about size bytes: a small ID3v2.3 tag, then audio
// written in 1 MiB pieces.
std::string MakeFile(size_t size) {
  std::string path = BenchDir() + "/song-" + std::to_string(size) + ".mp3";
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) abort();
  std::vector<uint8_t> tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x08, 0x00};  // size 1024
  const char* title = "TIT2";
  tag.insert(tag.end(), title, title + 4);
  Put32(tag, 11);
  tag.insert(tag.end(), {0, 0, 0, 'b', 'e', 'n', 'c', 'h', 'm', 'a', 'r', 'k', '!'});
  tag.resize(1034, 0);
  fwrite(tag.data(), 1, tag.size(), file);
  std::vector<uint8_t> chunk(1 << 20);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  for (size_t done = tag.size(); done < size; done += chunk.size()) {
    fwrite(chunk.data(), 1, std::min(chunk.size(), size - done), file);
  }
  fclose(file);
  return path;
}

long PeakRssKiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void BM_CommitAddingOneFrame(benchmark::State& state) {
  const std::string path = MakeFile(static_cast<size_t>(state.range(0)) << 20);
  const std::wstring wide = Wide(path);
  const uint8_t data[] = {0, 'a', 'd', 'd', 'e', 'd'};
  tlx_id3_v2_frame_header frame{};
  frame.id = TLX_ID3_FRAME_ID('T', 'P', 'E', '1');
  frame.size = sizeof data;
  for (auto _ : state) {
    tlx_id3_context ctx;
    if (tlx_id3_create_context(wide.c_str(), TLX_ID3_MODE_WRITE, nullptr, &ctx) != 0 ||
        tlx_id3_v2_edit_begin(&ctx) != 0 ||
        tlx_id3_v2_remove_frame(&ctx, frame.id, 0) == TLX_ID3_E_PARAM ||
        tlx_id3_v2_add_frame(&ctx, &frame, data) != 0 || tlx_id3_v2_edit_end(&ctx) != 0 ||
        tlx_id3_destroy_context(&ctx) != 0) {
      state.SkipWithError("commit failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
  state.counters["peak_rss_KiB"] = static_cast<double>(PeakRssKiB());
  unlink(path.c_str());
}

void BM_PlainCopy(benchmark::State& state) {
  const std::string path = MakeFile(static_cast<size_t>(state.range(0)) << 20);
  const std::string copy = path + ".copy";
  std::vector<char> buffer(64 * 1024);
  for (auto _ : state) {
    int in = open(path.c_str(), O_RDONLY);
    int out = open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ssize_t n;
    while ((n = read(in, buffer.data(), buffer.size())) > 0) {
      if (write(out, buffer.data(), static_cast<size_t>(n)) != n) abort();
    }
    fsync(out);
    close(out);
    close(in);
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
  unlink(copy.c_str());
  unlink(path.c_str());
}

BENCHMARK(BM_PlainCopy)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CommitAddingOneFrame)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
