// The engine reading a whole tag as the class does (one read session, every
// frame's header, then its data), for the same frames stored as an ID3v2.3
// tag and as an ID3v2.4 tag: the two must cost the same. An ID3v2.4 tag
// whose frames are all unsynchronised shows what decoding adds.
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "id3_internal.h"
#include "tlx_id3.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes* out, const Bytes& part) { out->insert(out->end(), part.begin(), part.end()); }

Bytes Size(std::uint32_t value, bool syncsafe) {
  const int bits = syncsafe ? 7 : 8;
  const std::uint32_t mask = (1u << bits) - 1;
  return {std::uint8_t((value >> (3 * bits)) & mask), std::uint8_t((value >> (2 * bits)) & mask),
          std::uint8_t((value >> bits) & mask), std::uint8_t(value & mask)};
}

// Twenty text frames and a 20 KB picture whose bytes need no stuffing unless
// unsync is set, in which case every frame carries the flag and FF 00 pairs.
std::string MakeFile(int major, bool unsync) {
  Bytes frames;
  for (int i = 0; i < 21; ++i) {
    std::string id = i == 20 ? "APIC" : "T" + std::string(1, char('A' + i)) + "XT";
    Bytes data = {0};
    const std::size_t length = i == 20 ? 20000 : 40;
    for (std::size_t k = 0; k < length; ++k) data.push_back(std::uint8_t(unsync && k % 50 == 0 ? 0xFF : 'a' + k % 26));
    if (unsync) {
      Bytes stuffed;
      for (std::size_t k = 0; k < data.size(); ++k) {
        stuffed.push_back(data[k]);
        if (data[k] == 0xFF) stuffed.push_back(0);
      }
      data = stuffed;
    }
    Append(&frames, Bytes(id.begin(), id.end()));
    Append(&frames, Size(std::uint32_t(data.size()), major == 4));
    Append(&frames, {0, std::uint8_t(unsync ? 0x02 : 0)});
    Append(&frames, data);
  }
  Append(&frames, Bytes(1024, 0));
  Bytes file = {'I', 'D', '3', std::uint8_t(major), 0, 0};
  Append(&file, Size(std::uint32_t(frames.size()), true));
  Append(&file, frames);
  Append(&file, Bytes(100000, 0x55));
  const std::string path = "/tmp/tagkit-engine-bench-" + std::to_string(major) + (unsync ? "u" : "") + ".mp3";
  if (FILE* out = std::fopen(path.c_str(), "wb")) {
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
  }
  return path;
}

void ReadAll(benchmark::State& state, int major, bool unsync, std::uint32_t options) {
  const std::string path = MakeFile(major, unsync);
  const std::wstring wide(path.begin(), path.end());
  std::vector<std::uint8_t> buffer(64 * 1024);
  std::size_t sink = 0;
  for (auto _ : state) {
    tlx_id3_context ctx;
    if (tlx_id3_create_context(wide.c_str(), TLX_ID3_MODE_READ, nullptr, &ctx) != TLX_ID3_OK) {
      state.SkipWithError("cannot open");
      break;
    }
    tlx_id3_set_options(&ctx, options);
    tlx_id3_read_session_begin(&ctx);
    std::uint32_t total = 0;
    tlx_id3_v2_get_frame_total_num(&ctx, &total);
    std::map<std::uint32_t, std::uint32_t> seen;
    for (std::uint32_t i = 0; i < total; ++i) {
      tlx_id3_v2_frame_header frame;
      if (tlx_id3_v2_get_frame_header_by_index(&ctx, i, &frame) != TLX_ID3_OK) break;
      std::uint32_t size = frame.size < buffer.size() ? frame.size : std::uint32_t(buffer.size());
      tlx_id3_v2_get_frame_data(&ctx, frame.id, seen[frame.id]++, &size, buffer.data());
      sink += size;
    }
    tlx_id3_read_session_end(&ctx);
    tlx_id3_destroy_context(&ctx);
  }
  benchmark::DoNotOptimize(sink);
  std::remove(path.c_str());
}

void BM_EngineRead_V23(benchmark::State& state) { ReadAll(state, 3, false, 0); }
void BM_EngineRead_V23_WithV24Option(benchmark::State& state) { ReadAll(state, 3, false, TLX_ID3_OPTION_V24); }
void BM_EngineRead_V24(benchmark::State& state) { ReadAll(state, 4, false, TLX_ID3_OPTION_V24); }
void BM_EngineRead_V24_Unsynchronised(benchmark::State& state) { ReadAll(state, 4, true, TLX_ID3_OPTION_V24); }

BENCHMARK(BM_EngineRead_V23);
BENCHMARK(BM_EngineRead_V23_WithV24Option);
BENCHMARK(BM_EngineRead_V24);
BENCHMARK(BM_EngineRead_V24_Unsynchronised);

}  // namespace

BENCHMARK_MAIN();
