// The corpus that scripts/make-bench-corpus.py writes, found through the
// environment variable TAGKIT_BENCH_CORPUS, and a few measurements of the
// process the benchmarks share.
#ifndef TAGKIT_BENCH_BENCH_CORPUS_H_
#define TAGKIT_BENCH_BENCH_CORPUS_H_

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tagkit_bench {

// "" when the corpus is not set up; the benchmarks then skip.
inline std::string CorpusDir() {
  const char* dir = getenv("TAGKIT_BENCH_CORPUS");
  return dir != nullptr ? std::string(dir) : std::string();
}

inline std::string CorpusFile(const std::string& name) { return CorpusDir() + "/" + name; }

inline std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// The readable files named prefix-00.mp3 to prefix-31.mp3.
inline std::vector<std::string> ListReadFiles(const char* prefix) {
  std::vector<std::string> out;
  for (int i = 0; i < 32; ++i) {
    char name[32];
    snprintf(name, sizeof name, "%s-%02d.mp3", prefix, i);
    std::string path = CorpusFile(name);
    if (access(path.c_str(), R_OK) == 0) out.push_back(path);
  }
  return out;
}

// The read corpus: ID3v2.3 tags.
inline const std::vector<std::string>& ReadFiles() {
  static const std::vector<std::string> files = ListReadFiles("read");
  return files;
}

// The same tags written as ID3v2.4.
inline const std::vector<std::string>& ReadFiles24() {
  static const std::vector<std::string> files = ListReadFiles("read24");
  return files;
}

// A kB figure of /proc/self/status ("VmRSS", "VmHWM"), 0 when unknown.
inline long StatusKiB(const char* field) {
  FILE* status = fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  long value = 0;
  const size_t length = strlen(field);
  while (fgets(line, sizeof line, status) != nullptr) {
    if (strncmp(line, field, length) == 0 && line[length] == ':') {
      value = atol(line + length + 1);
      break;
    }
  }
  fclose(status);
  return value;
}

// Starts a new peak of the resident set (VmHWM) at the current size.
inline bool ResetPeak() {
  int fd = open("/proc/self/clear_refs", O_WRONLY);
  if (fd < 0) return false;
  bool ok = write(fd, "5", 1) == 1;
  close(fd);
  return ok;
}

// Copies source to target with plain reads and writes.
inline bool CopyFile(const std::string& source, const std::string& target) {
  int in = open(source.c_str(), O_RDONLY);
  int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = in >= 0 && out >= 0;
  std::vector<char> buffer(1 << 20);
  while (ok) {
    ssize_t n = read(in, buffer.data(), buffer.size());
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = write(out, buffer.data(), static_cast<size_t>(n)) == n;
  }
  if (in >= 0) close(in);
  if (out >= 0) close(out);
  return ok;
}

}  // namespace tagkit_bench

#endif  // TAGKIT_BENCH_BENCH_CORPUS_H_
