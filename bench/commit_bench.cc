// Cost of a commit that adds one frame, against a plain copy of the same
// file (read and write in 64 KiB chunks, then fsync, as a crash-safe copy
// must). The peak resident set is reported as a counter: it must not grow
// with the file size.
//
// With the corpus of scripts/make-bench-corpus.py (TAGKIT_BENCH_CORPUS):
// CTagkit's Open for writing, PutString of the title and Close on the 4 MB
// and 40 MB files, against copy-and-rename of the same file (a copy into a
// temporary file in the same directory, fsync, rename over the file, fsync
// of the directory: the least a crash-safe rewrite does). A second run of
// the tagkit benchmark points the temporary folder at another file system
// when TAGKIT_BENCH_FOREIGN_TMPDIR names a directory there (the new file
// still goes beside the old one). `tagkit set` is timed as a whole program
// run on the same files.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_corpus.h"
#include "tagkit.h"
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

// A private copy of commit-N.mp3 that the benchmark may change.
std::string WorkCopy(benchmark::State& state) {
  if (tagkit_bench::CorpusDir().empty()) {
    state.SkipWithError("no corpus: run scripts/bench.sh or set TAGKIT_BENCH_CORPUS");
    return std::string();
  }
  const std::string n = std::to_string(state.range(0));
  const std::string source = tagkit_bench::CorpusFile("commit-" + n + ".mp3");
  const std::string work = tagkit_bench::CorpusFile("work-" + n + ".mp3");
  if (!tagkit_bench::CopyFile(source, work)) {
    state.SkipWithError("cannot copy the corpus file");
    return std::string();
  }
  return work;
}

void SyncDirectoryOf(const std::string& path) {
  const std::string dir = path.substr(0, path.find_last_of('/'));
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

void BM_Commit_CopyAndRename(benchmark::State& state) {
  const std::string path = WorkCopy(state);
  if (path.empty()) return;
  const std::string temp = path + ".tmp";
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    int in = open(path.c_str(), O_RDONLY);
    int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ssize_t n;
    while ((n = read(in, buffer.data(), buffer.size())) > 0) {
      if (write(out, buffer.data(), static_cast<size_t>(n)) != n) abort();
    }
    if (fsync(out) != 0) abort();
    close(out);
    close(in);
    if (rename(temp.c_str(), path.c_str()) != 0) abort();
    SyncDirectoryOf(path);
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
  unlink(path.c_str());
}

// Peak resident set of one commit above an idle open of the same file.
long CommitPeakAboveIdleKiB(const std::wstring& path) {
  CTagkit idle;
  if (idle.Open(path, TAGKIT_OPEN_WRITE) != S_OK) return -1;
  const long idle_kib = tagkit_bench::StatusKiB("VmRSS");
  idle.Close();
  if (!tagkit_bench::ResetPeak()) return -1;
  CTagkit tags;
  if (tags.Open(path, TAGKIT_OPEN_WRITE) != S_OK) return -1;
  tags.PutString(PROPID_TITLE, {L"Peak Title"});
  if (tags.Close() != S_OK) return -1;
  return tagkit_bench::StatusKiB("VmHWM") - idle_kib;
}

void CommitTitle(benchmark::State& state, const char* temp_dir) {
  const std::string path = WorkCopy(state);
  if (path.empty()) return;
  std::string saved = getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "";
  const bool had_tmpdir = getenv("TMPDIR") != nullptr;
  if (temp_dir != nullptr) setenv("TMPDIR", temp_dir, 1);
  const std::wstring wide = tagkit_bench::Wide(path);
  // Titles of one length keep the file the same size from commit to commit.
  const std::vector<std::wstring> titles[2] = {{L"Evening Light A"}, {L"Evening Light B"}};
  int turn = 0;
  for (auto _ : state) {
    CTagkit tags;
    if (tags.Open(wide, TAGKIT_OPEN_WRITE) != S_OK ||
        tags.PutString(PROPID_TITLE, titles[turn]) != S_OK || tags.Close() != S_OK) {
      state.SkipWithError("commit failed");
      break;
    }
    turn ^= 1;
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
  state.counters["peak_above_idle_KiB"] = static_cast<double>(CommitPeakAboveIdleKiB(wide));
  if (temp_dir != nullptr) {
    if (had_tmpdir) {
      setenv("TMPDIR", saved.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  unlink(path.c_str());
}

void BM_Commit_Tagkit(benchmark::State& state) { CommitTitle(state, nullptr); }

void BM_Commit_TagkitForeignTmp(benchmark::State& state) {
  const char* foreign = getenv("TAGKIT_BENCH_FOREIGN_TMPDIR");
  if (foreign == nullptr || *foreign == '\0') {
    state.SkipWithError("TAGKIT_BENCH_FOREIGN_TMPDIR not set");
    return;
  }
  CommitTitle(state, foreign);
}

// `tagkit set --title` on the file, the program started anew each time
// (TAGKIT_BENCH_PROGRAM names it).
void BM_Commit_SetProgram(benchmark::State& state) {
  const char* program = getenv("TAGKIT_BENCH_PROGRAM");
  if (program == nullptr || access(program, X_OK) != 0) {
    state.SkipWithError("TAGKIT_BENCH_PROGRAM does not name the tagkit program");
    return;
  }
  const std::string path = WorkCopy(state);
  if (path.empty()) return;
  const char* titles[2] = {"Evening Light A", "Evening Light B"};
  int turn = 0;
  for (auto _ : state) {
    const pid_t child = fork();
    if (child == 0) {
      execl(program, program, "set", "--title", titles[turn], path.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("tagkit set failed");
      break;
    }
    turn ^= 1;
  }
  state.SetBytesProcessed(state.iterations() * (state.range(0) << 20));
  unlink(path.c_str());
}

BENCHMARK(BM_Commit_CopyAndRename)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit_Tagkit)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit_TagkitForeignTmp)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Commit_SetProgram)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(BM_PlainCopy)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CommitAddingOneFrame)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
