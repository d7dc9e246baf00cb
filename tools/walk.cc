// The walk over the files of a run: operands in the order given, directories
// (with -r) depth first with their entries sorted by name, so that the order
// is the same on every run. Only one directory's names are held per level.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "cli.h"

namespace tagkit_cli {

namespace fs = std::filesystem;

struct FileWalk::Level {
  // What the directory listing told of an entry, so that plain files and
  // directories cost no further query.
  enum Kind { kFile, kDirectory, kAskAgain };
  std::string path;
  fs::path identity;  // compared by device and inode (fs::equivalent)
  std::vector<std::pair<std::string, Kind>> entries;  // sorted by name
  std::size_t next = 0;
};

namespace {

std::string Join(const std::string& directory, const std::string& name) {
  const char last = directory.empty() ? '/' : directory.back();
  const bool separated = last == '/'
#if defined(_WIN32)
                         || last == '\\'
#endif
      ;
  return separated ? directory + name : directory + "/" + name;
}

void Fail(RunItem& item, const std::string& path, HRESULT code, const std::string& what) {
  item = RunItem();
  item.path = path;
  item.error = code;
  item.what = what;
}

HRESULT CodeOf(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory ? E_TAG_FILE_NOT_FOUND : E_TAG_CANNOT_OPEN;
}

}  // namespace

FileWalk::FileWalk(std::vector<std::string> operands, bool recursive, bool follow_links)
    : operands_(std::move(operands)), recursive_(recursive), follow_links_(follow_links) {}

FileWalk::~FileWalk() = default;

bool FileWalk::Next(RunItem& item) {
  while (true) {
    if (!levels_.empty()) {
      Level& level = levels_.back();
      if (level.next == level.entries.size()) {
        levels_.pop_back();
        continue;
      }
      const auto& entry = level.entries[level.next++];
      const std::string path = Join(level.path, entry.first);
      if (entry.second == Level::kFile) {
        item = RunItem();
        item.path = path;
        item.found = true;
        return true;
      }
      if (entry.second == Level::kDirectory ? Enter(path, item) : Visit(path, item)) return true;
      continue;
    }
    if (next_operand_ == operands_.size()) return false;
    const std::string& operand = operands_[next_operand_++];
    std::error_code error;
    // A named link to a directory is walked: operands are taken as given.
    if (recursive_ && fs::is_directory(fs::u8path(operand), error)) {
      if (Enter(operand, item)) return true;
      continue;
    }
    item = RunItem();
    item.path = operand;
    return true;
  }
}

// Classifies one directory entry: a file to look at, a directory to enter,
// something to report, or nothing (a link to a directory not followed).
bool FileWalk::Visit(const std::string& path, RunItem& item) {
  const fs::path native = fs::u8path(path);
  std::error_code error;
  const fs::file_status own = fs::symlink_status(native, error);
  if (error) {
    Fail(item, path, CodeOf(error), "cannot open the file");
    return true;
  }
  fs::file_status status = own;
  if (fs::is_symlink(own)) {
    status = fs::status(native, error);
    if (error) {
      Fail(item, path, CodeOf(error), "cannot follow the symbolic link");
      return true;
    }
    if (fs::is_directory(status) && !follow_links_) return false;
  }
  if (fs::is_directory(status)) return Enter(path, item);
  if (!fs::is_regular_file(status)) {
    Fail(item, path, E_TAG_CANNOT_OPEN, "not a regular file");
    return true;
  }
  item = RunItem();
  item.path = path;
  item.found = true;
  return true;
}

// Pushes a directory's sorted names; true when that failed and item says so.
bool FileWalk::Enter(const std::string& path, RunItem& item) {
  walked_a_directory_ = true;
  Level level;
  level.path = path;
  level.identity = fs::u8path(path);
  for (const Level& outer : levels_) {
    std::error_code error;
    if (fs::equivalent(outer.identity, level.identity, error) && !error) {
      Fail(item, path, E_TAG_CANNOT_OPEN, "a directory loop: the directory is walked already");
      return true;
    }
  }
  std::error_code error;
  fs::directory_iterator entries(level.identity, error);
  for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
    std::error_code type_error;
    Level::Kind kind = Level::kAskAgain;
    if (!entries->is_symlink(type_error) && !type_error) {
      if (entries->is_regular_file(type_error) && !type_error) kind = Level::kFile;
      if (entries->is_directory(type_error) && !type_error) kind = Level::kDirectory;
    }
    level.entries.emplace_back(entries->path().filename().u8string(), kind);
  }
  if (error) {
    Fail(item, path, CodeOf(error), "cannot read the directory");
    return true;
  }
  std::sort(level.entries.begin(), level.entries.end());
  levels_.push_back(std::move(level));
  return false;
}

}  // namespace tagkit_cli
