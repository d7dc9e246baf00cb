// Replacing a file by a new version of it while keeping what the file is.
//
// The new content is written into a hidden sibling of the file (same folder,
// same file system), which is then renamed over it after taking on the
// file's owner, group, permission bits and extended attributes (ACLs among
// them). Where a rename would change what the file is, the content is copied
// over the file in place instead: when the file has more than one name (the
// other names would keep the old content), when its folder cannot be written,
// or when its owner or attributes cannot be carried over. That copy runs
// under a journal record, written and synced before the copy starts and
// removed after the final sync, so that a crash in between is completed by
// the next open (tlx_complete_replace) and nobody reads a torn file.
//
// The record lies beside the new content and is named after the device and
// inode numbers of the file, so that an open finds it with one or two stats,
// also when the file's folder is read only and the new content went to the
// temporary folder. The new content is written under the record's name with
// ".tmp" added (an edit that a crash stopped there is taken over by the next
// one), and takes ".new" instead before the record is written: whatever a
// crash leaves of an in-place copy is found by that one name, and removed
// when no complete record says the copy had begun.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "posix_files.h"
#include "tlx_internal.h"
#include "tlx_system.h"

namespace {

using tlx_internal::FaultHit;
using tlx_posix::BaseName;
using tlx_posix::DirName;
using tlx_posix::RetryOpen;
using tlx_posix::SyncDirectory;
using tlx_posix::ToNative;
using tlx_posix::WriteAll;

const char kJournalMagic[] = "tlx replace 1";
// A failing write of the in-place copy is tried again: the new content is
// complete beside the file, and a torn file must not be left behind.
const int kCopyAttempts = 3;
// Longest part of the file's name kept in the name of its new content.
const size_t kNameKept = 200;

// Closes a descriptor when it goes out of scope, also when an allocation
// throws on the way (no exception leaves the layer, nor a descriptor).
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The file a path names, symbolic links followed; "" when there is none.
std::string Resolve(const std::string& path) {
  char real[PATH_MAX];  // no block of realpath's own to leak if a copy throws
  if (realpath(path.c_str(), real) == nullptr) return std::string();
  return std::string(real);
}

// The folder of tlx_get_temp_dir, without its trailing separator.
std::string TempDirectory() {
  const char* env = getenv("TMPDIR");
  std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// A new hidden file in dir named after the file it will replace; path is
// set before the file is made, so that the caller can remove it.
int MakeHidden(const std::string& dir, const std::string& name, std::string* path) {
  std::string pattern = dir + "/." + name.substr(0, kNameKept) + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  path->assign(pattern);
  int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd >= 0) path->assign(buffer.data());  // same length: no allocation
  return fd;
}

// Lower-case hex digits of value, without leading zeros.
void AppendHex(unsigned long long value, std::string* out) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  while (count > 0) out->push_back(digits[--count]);
}

// The name of the record of the file `target` in a folder, "/" first:
// "/.tlx-replace-DEV-INO" in hex.
std::string JournalName(const struct stat& target) {
  std::string name = "/.tlx-replace-";
  AppendHex(static_cast<unsigned long long>(target.st_dev), &name);
  name.push_back('-');
  AppendHex(static_cast<unsigned long long>(target.st_ino), &name);
  return name;
}

// The record of the file `target`; its new content is the same name + ".new".
std::string JournalPath(const std::string& dir, const struct stat& target) {
  return dir + JournalName(target);
}

std::string NewContentPath(const std::string& journal) { return journal + ".new"; }

struct Journal {
  long long size = -1;
  std::string target;
};

bool WriteJournal(const std::string& path, const Journal& journal) {
  const std::string text = std::string(kJournalMagic) + "\n" + std::to_string(journal.size) +
                           "\n" + journal.target + "\nend\n";
  int fd = RetryOpen(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  bool ok = !FaultHit(TLX_FAULT_WRITE) && WriteAll(fd, text.data(), text.size()) &&
            !FaultHit(TLX_FAULT_FSYNC) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && SyncDirectory(DirName(path));
  if (!ok) unlink(path.c_str());
  return ok;
}

// False for a record that was not written to its end: the copy it announces
// never started.
bool ReadJournal(const std::string& path, Journal* journal) {
  Descriptor fd(RetryOpen(path.c_str(), O_RDONLY));
  if (fd.get() < 0) return false;
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) return false;
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (lines.size() != 4 || lines[0] != kJournalMagic || lines[3] != "end") return false;
  char* end = nullptr;
  journal->size = strtoll(lines[1].c_str(), &end, 10);
  journal->target = lines[2];
  return end != nullptr && *end == '\0' && journal->size >= 0;
}

// Copies the whole of source over target from its start, cuts target to the
// same length and syncs it.
bool CopyOver(int source, int target, off_t size) {
  char buffer[65536];
  for (off_t at = 0; at < size;) {
    size_t want = size - at < static_cast<off_t>(sizeof buffer) ? static_cast<size_t>(size - at)
                                                                 : sizeof buffer;
    ssize_t got = pread(source, buffer, want, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || FaultHit(TLX_FAULT_WRITE)) return false;
    for (ssize_t done = 0; done < got;) {
      ssize_t n = pwrite(target, buffer + done, static_cast<size_t>(got - done), at + done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += n;
    }
    at += got;
  }
  if (FaultHit(TLX_FAULT_TRUNCATE) || ftruncate(target, size) != 0) return false;
  return !FaultHit(TLX_FAULT_FSYNC) && fsync(target) == 0;
}

bool CopyWithRetries(int source, int target, off_t size) {
  for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
    if (CopyOver(source, target, size)) return true;
  }
  return false;
}

// The record of a crashed in-place copy into the file st describes, looked
// for beside the file (in dir) and in the temporary folder: a stat each; ""
// when there is none. The new content is looked for, not the record: it is
// put there first and removed last.
std::string FindRecord(const std::string& dir, const struct stat& st) {
  const std::string name = JournalName(st);
  const char kNew[] = ".new";
  std::string candidate;
  candidate.reserve(dir.size() + name.size() + sizeof kNew);
  struct stat found;
  for (int place = 0; place < 2; ++place) {
    candidate.assign(place == 0 ? dir : TempDirectory()).append(name).append(kNew);
    if (lstat(candidate.c_str(), &found) == 0) {
      candidate.resize(candidate.size() - (sizeof kNew - 1));
      return candidate;
    }
  }
  return std::string();
}

// Removes the record once the copy is synced (or never began), then the new
// content.
void Discard(const std::string& journal) {
  unlink(journal.c_str());
  unlink(NewContentPath(journal).c_str());
  SyncDirectory(DirName(journal));
}

// Opens target for the copy and takes the writer's hold on it; -1 when that
// fails, -2 when another handle holds it.
int OpenHeld(const std::string& target) {
  int fd = RetryOpen(target.c_str(), O_RDWR);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno == EWOULDBLOCK) {
    close(fd);
    return -2;
  }
  return fd;
}

std::vector<std::string> AttributeNames(const char* path, int fd) {
  std::vector<std::string> names;
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t size = path != nullptr ? listxattr(path, nullptr, 0) : flistxattr(fd, nullptr, 0);
    if (size <= 0) return names;
    std::vector<char> list(static_cast<size_t>(size));
    size = path != nullptr ? listxattr(path, list.data(), list.size())
                           : flistxattr(fd, list.data(), list.size());
    if (size < 0 && errno == ERANGE) continue;  // grew in between
    for (ssize_t at = 0; at < size;) {
      names.push_back(list.data() + at);
      at += static_cast<ssize_t>(names.back().size()) + 1;
    }
    return names;
  }
  return names;
}

bool ReadAttribute(const std::string& path, const std::string& name, std::vector<char>* value) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t size = getxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (size < 0) return false;
    value->resize(static_cast<size_t>(size));
    size = getxattr(path.c_str(), name.c_str(), value->data(), value->size());
    if (size >= 0) {
      value->resize(static_cast<size_t>(size));
      return true;
    }
    if (errno != ERANGE) return false;
  }
  return false;
}

// Gives the new content (fd) the extended attributes of target and no
// others (a folder's default ACL may have given it one the file lacks).
bool CarryAttributes(const std::string& target, int fd) {
  errno = 0;
  const std::vector<std::string> kept = AttributeNames(target.c_str(), -1);
  if (kept.empty() && errno != 0 && errno != ENOTSUP && errno != ENODATA) return false;
  for (const std::string& name : AttributeNames(nullptr, fd)) {
    bool wanted = false;
    for (const std::string& other : kept) wanted = wanted || other == name;
    if (!wanted && fremovexattr(fd, name.c_str()) != 0) return false;
  }
  std::vector<char> value;
  for (const std::string& name : kept) {
    if (!ReadAttribute(target, name, &value)) return false;
    if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

// Owner and group (when they differ: changing them needs the right to),
// permission bits, extended attributes.
bool CarryIdentity(int fd, const struct stat& source, const std::string& target,
                   const struct stat& target_st) {
  if ((source.st_uid != target_st.st_uid || source.st_gid != target_st.st_gid) &&
      fchown(fd, target_st.st_uid, target_st.st_gid) != 0) {
    return false;
  }
  // After the owner: a change of owner clears the set-id bits.
  if (fchmod(fd, target_st.st_mode & 07777) != 0) return false;
  return CarryAttributes(target, fd);
}

bool FolderWritable(const std::string& path) {
  return faccessat(AT_FDCWD, DirName(path).c_str(), W_OK, AT_EACCESS) == 0;
}

void CloseHandle(int* handle) {
  if (handle == nullptr || *handle == TLX_INVALID_HANDLE) return;
  tlx_posix::ForgetWriter(*handle);
  close(*handle);
  *handle = TLX_INVALID_HANDLE;
}

int32_t ReplaceInPlace(int source_fd, const struct stat& source_st, const std::string& source,
                       const std::string& target, const struct stat& target_st, int* handle) {
  if (target.find('\n') != std::string::npos) return -1;  // a name the record cannot hold
  Journal journal;
  journal.size = source_st.st_size;
  journal.target = target;
  const std::string record = JournalPath(DirName(source), target_st);
  const std::string moved = NewContentPath(record);
  // The caller's handle holds the file for writing already; without one the
  // copy takes the hold itself.
  const bool held = handle != nullptr && *handle != TLX_INVALID_HANDLE;
  Descriptor own(held ? -1 : OpenHeld(target));
  if (!held && own.get() < 0) return -1;
  if (rename(source.c_str(), moved.c_str()) != 0) return -1;
  if (!WriteJournal(record, journal)) {
    Discard(record);
    return -1;
  }
  if (!CopyWithRetries(source_fd, own.get() >= 0 ? own.get() : *handle, source_st.st_size)) {
    return -2;  // the record and the new content stay for the completion
  }
  Discard(record);
  return 1;
}

// Opens path for tlx_open_file without waiting on a named pipe. folder gets
// the folder of the file, where its record would lie: a plain name costs no
// lookup beyond the open, a last symbolic link a resolution.
int OpenNoWait(const std::string& path, int access, std::string* folder) {
  *folder = DirName(path);
  int fd = RetryOpen(path.c_str(), access | O_NONBLOCK | O_NOFOLLOW);
  if (fd >= 0 || errno != ELOOP) return fd;
  const std::string real = Resolve(path);
  if (!real.empty()) *folder = DirName(real);
  return RetryOpen(path.c_str(), access | O_NONBLOCK);
}

// Why tlx_open_file could not open path: a path that cannot be looked up
// and anything but a regular file are no such file.
int32_t NotOpened(int error, const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return TLX_ENOENT;
  return tlx_posix::OpenFailure(error, path);
}

// Rounds of tlx_open_file: a record found under the lock is completed and
// the file opened again.
const int kOpenRounds = 3;

// One round: 0 with the file open at *handle; 1 when a crashed copy left a
// record to complete first.
int32_t OpenWhole(const std::string& path, bool writing, bool share, int* handle,
                  int32_t* size) {
  std::string folder;
  Descriptor fd(OpenNoWait(path, writing ? O_RDWR : O_RDONLY, &folder));
  if (fd.get() < 0) return NotOpened(errno, path);
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) return TLX_ENOENT;
  // Blocking again: only the open was to return at once.
  if (fcntl(fd.get(), F_SETFL, 0) != 0) return -1;
  const tlx_posix::Hold hold =
      tlx_posix::TakeLock(fd.get(), writing ? LOCK_EX : LOCK_SH, share, st);
  if (hold == tlx_posix::kRefused) return TLX_EACCES;
  // Under the lock nobody copies into the file: a record is what a crashed
  // copy left. Beside a writer of this process it is that writer's own.
  if (hold != tlx_posix::kOwnersHold && !FindRecord(folder, st).empty()) return 1;
  if (writing && hold == tlx_posix::kLocked && !tlx_posix::NoteWriter(fd.get(), st)) return -1;
  *size = st.st_size > INT32_MAX ? -1 : static_cast<int32_t>(st.st_size);
  *handle = fd.release();
  return 0;
}

}  // namespace

extern "C" {

int32_t tlx_open_file(const wchar_t* path, int32_t flags, int* handle, int32_t* size) try {
  tlx_internal::NoteFailure(TLX_FAILURE_NONE, 0);
  if (path == nullptr || handle == nullptr || size == nullptr) return -1;
  const int32_t access = flags & ~TLX_O_SHARE_WITH_OWNER;
  if (access != TLX_O_RDONLY && access != TLX_O_RDWR) return -1;
  if (FaultHit(TLX_FAULT_OPEN)) return -1;
  const bool writing = access == TLX_O_RDWR;
  const bool share = !writing && tlx_posix::SharesWithOwner(flags);
  const std::string native = ToNative(path);
  for (int round = 0; round < kOpenRounds; ++round) {
    const int32_t rc = OpenWhole(native, writing, share, handle, size);
    if (rc != 1) return rc;
    // Closed again: the completion takes the writer's hold.
    if (tlx_complete_replace(path) < 0) return TLX_EUNFINISHED;
  }
  return TLX_EUNFINISHED;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_create_replacement(const wchar_t* target, wchar_t* out, int* handle) try {
  if (target == nullptr || out == nullptr || handle == nullptr || *target == L'\0') return -1;
  if (FaultHit(TLX_FAULT_OPEN)) return -1;
  const std::string native = ToNative(target);
  std::string resolved = Resolve(native);
  if (resolved.empty()) resolved = native;
  struct stat target_st;
  const bool known = stat(resolved.c_str(), &target_st) == 0;
  std::string path;
  int made = -1;
  for (int place = 0; place < 2 && made < 0; ++place) {
    const std::string dir = place == 0 ? DirName(resolved) : TempDirectory();
    if (dir.empty()) continue;
    if (known) {
      // Named after the file: only the holder of its writer hold makes it,
      // and what a crash left of an earlier edit is taken over.
      path = JournalPath(dir, target_st) + ".tmp";
      made = RetryOpen(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
    }
    if (made < 0) made = MakeHidden(dir, BaseName(resolved), &path);
  }
  Descriptor fd(made);
  if (fd.get() < 0) return -1;
  std::wstring wide;
  try {
    wide = tlx_internal::Utf8ToWide(path.data(), path.size());
  } catch (...) {
    unlink(path.c_str());
    throw;
  }
  if (wide.size() + 1 > TLX_MAX_PATH) {
    unlink(path.c_str());
    return -1;
  }
  wmemcpy(out, wide.c_str(), wide.size() + 1);
  *handle = fd.release();
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_replace(const wchar_t* source, const wchar_t* target, int* target_handle,
                    uint32_t flags) try {
  if (source == nullptr || target == nullptr) return -1;
  if (FaultHit(TLX_FAULT_RENAME)) return -1;
  const std::string from = ToNative(source);
  const std::string to = Resolve(ToNative(target));
  if (to.empty()) return -1;
  Descriptor fd(RetryOpen(from.c_str(), O_RDONLY));
  if (fd.get() < 0) return -1;
  struct stat source_st, target_st;
  if (fstat(fd.get(), &source_st) != 0 || !S_ISREG(source_st.st_mode) ||
      stat(to.c_str(), &target_st) != 0 || !S_ISREG(target_st.st_mode) ||
      FaultHit(TLX_FAULT_FSYNC) || fsync(fd.get()) != 0) {
    return -1;
  }
  const bool shared = target_st.st_nlink > 1 && (flags & TLX_REPLACE_SPLIT_LINKS) == 0;
  bool in_place = shared || source_st.st_dev != target_st.st_dev || !FolderWritable(to) ||
                  !CarryIdentity(fd.get(), source_st, to, target_st);
  if (!in_place) {
    if (rename(from.c_str(), to.c_str()) == 0) {
      SyncDirectory(DirName(to));
      CloseHandle(target_handle);  // it holds the old file
      return 0;
    }
    // A sticky folder lets only the owner of a name replace it.
    if (errno != EACCES && errno != EPERM) return -1;
  }
  return ReplaceInPlace(fd.get(), source_st, from, to, target_st, target_handle);
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_complete_replace(const wchar_t* target) try {
  tlx_internal::NoteFailure(TLX_FAILURE_NONE, 0);
  if (target == nullptr) return -1;
  // A plain file costs three stats.
  std::string to = ToNative(target);
  struct stat target_st;
  if (lstat(to.c_str(), &target_st) != 0) return 0;
  if (S_ISLNK(target_st.st_mode)) {
    to = Resolve(to);
    if (to.empty() || stat(to.c_str(), &target_st) != 0) return 0;
  }
  if (!S_ISREG(target_st.st_mode)) return 0;
  const std::string record = FindRecord(DirName(to), target_st);
  if (record.empty()) return 0;
  // While the process that copies holds the file, what it left is its own.
  Descriptor fd(OpenHeld(to));
  if (fd.get() < 0) return fd.get() == -2 ? 0 : -1;
  Journal journal;
  if (!ReadJournal(record, &journal)) {
    Discard(record);  // the copy never began: the file is whole
    return 0;
  }
  Descriptor source(RetryOpen(NewContentPath(record).c_str(), O_RDONLY));
  if (source.get() < 0 && errno == ENOENT) {
    Discard(record);  // removed by hand: nothing left to complete from
    return 0;
  }
  struct stat source_st;
  if (source.get() < 0 || fstat(source.get(), &source_st) != 0 ||
      source_st.st_size != journal.size ||
      !CopyWithRetries(source.get(), fd.get(), source_st.st_size)) {
    return -1;
  }
  Discard(record);
  return 1;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

}  // extern "C"
