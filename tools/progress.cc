// The progress line of commands that work through many files, and the
// error lines that must not run into it.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "cli.h"

namespace tagkit_cli {
namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr std::int64_t kQuietMs = 1000;   // no line for work shorter than this
constexpr std::int64_t kRedrawMs = 200;

}  // namespace

// A stream is a terminal when it is a character device other than the null
// device. Asked through the file system so that the program needs no
// operating-system header.
bool IsTerminal(const char* descriptor) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path target = fs::read_symlink(descriptor, error);
  if (error || target == "/dev/null") return false;
  return fs::is_character_file(fs::status(target, error)) && !error;
}

bool StderrIsTerminal() { return IsTerminal("/proc/self/fd/2"); }
bool StdoutIsTerminal() { return IsTerminal("/proc/self/fd/1"); }

Progress::Progress(bool enabled) : enabled_(enabled), start_ms_(NowMs()) {}

Progress::~Progress() { Clear(); }

void Progress::Update(std::size_t done, std::size_t total) {
  if (!enabled_) return;
  const std::int64_t now = NowMs();
  const std::int64_t elapsed = now - start_ms_;
  if (elapsed < kQuietMs || (shown_ && now - drawn_ms_ < kRedrawMs)) return;
  drawn_ms_ = now;
  const double rate = static_cast<double>(done) * 1000.0 / static_cast<double>(elapsed);
  char line[128];
  if (total > 0) {
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
    std::snprintf(line, sizeof line, "%zu/%zu files, %.0f files/s, %.0f s left", done, total,
                  rate, left);
  } else {
    std::snprintf(line, sizeof line, "%zu files, %.0f files/s", done, rate);
  }
  // Carriage return, the line, then erase what a longer line left behind.
  std::cerr << '\r' << line << "\x1b[K" << std::flush;
  shown_ = true;
}

void Progress::Clear() {
  if (!shown_) return;
  std::cerr << "\r\x1b[K" << std::flush;
  shown_ = false;
}

void ReportFailure(const Failure& failure, Progress* progress) {
  if (progress != nullptr) progress->Clear();
  std::cerr << FailureLine(failure) << std::endl;
}

}  // namespace tagkit_cli
