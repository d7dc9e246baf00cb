// The progress line of commands that work through several files, and the
// error lines that must not run into it.
#include <filesystem>
#include <iostream>
#include <system_error>

#include "cli.h"

namespace tagkit_cli {
namespace {

// Standard error is a terminal when it is a character device other than the
// null device. Asked through the file system so that the program needs no
// operating-system header.
bool StderrIsTerminal() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path target = fs::read_symlink("/proc/self/fd/2", error);
  if (error || target == "/dev/null") return false;
  return fs::is_character_file(fs::status(target, error)) && !error;
}

}  // namespace

Progress::Progress(std::size_t total) : enabled_(StderrIsTerminal()), total_(total) {}

Progress::~Progress() { Clear(); }

void Progress::Step(std::size_t index, const std::string& file) {
  if (!enabled_) return;
  // Carriage return, the line, then erase what a longer line left behind.
  std::cerr << '\r' << (index + 1) << '/' << total_ << ' ' << Printable(file) << "\x1b[K"
            << std::flush;
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
