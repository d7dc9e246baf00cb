// Files, directories, attributes and temporary names on POSIX.
//
// Windows sharing is emulated with non-blocking flock(): read-only opens
// take a shared lock, writable opens an exclusive one. flock() locks belong
// to the open file description, so two opens of one file in this process
// conflict exactly as two processes do.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "posix_files.h"
#include "tlx_internal.h"
#include "tlx_system.h"

namespace tlx_posix {

std::string ToNative(const wchar_t* path) {
  return tlx_internal::WideToUtf8(path, wcslen(path));
}

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int RetryOpen(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteAll(int fd, const char* data, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool SyncDirectory(const std::string& dir) {
  int fd = RetryOpen(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

}  // namespace tlx_posix

namespace {

using tlx_internal::FaultHit;
using tlx_internal::InvalidRequest;
using tlx_internal::IoFailure;
using tlx_posix::BaseName;
using tlx_posix::DirName;
using tlx_posix::RetryOpen;
using tlx_posix::SyncDirectory;
using tlx_posix::ToNative;
using tlx_posix::WriteAll;

// Handles of this process that hold a file for writing, so that a read-only
// open asking to share the writer's hold can find its owner.
struct WriterHold {
  int fd;
  dev_t dev;
  ino_t ino;
};

std::mutex g_writers_mutex;
std::vector<WriterHold>& Writers() {
  static std::vector<WriterHold>* writers = new std::vector<WriterHold>();
  return *writers;
}

// False when memory runs out.
bool AddWriter(int fd, const struct stat& st) {
  std::lock_guard<std::mutex> lock(g_writers_mutex);
  try {
    Writers().push_back(WriterHold{fd, st.st_dev, st.st_ino});
  } catch (const std::bad_alloc&) {
    tlx_internal::NoteFailure(TLX_FAILURE_NOMEM);
    return false;
  }
  return true;
}

void RemoveWriter(int fd) {
  std::lock_guard<std::mutex> lock(g_writers_mutex);
  std::vector<WriterHold>& writers = Writers();
  for (size_t i = 0; i < writers.size(); ++i) {
    if (writers[i].fd == fd) {
      writers.erase(writers.begin() + static_cast<long>(i));
      return;
    }
  }
}

}  // namespace

void tlx_posix::ForgetWriter(int fd) { RemoveWriter(fd); }

namespace {

bool HeldForWritingHere(const struct stat& st) {
  std::lock_guard<std::mutex> lock(g_writers_mutex);
  for (const WriterHold& hold : Writers()) {
    if (hold.dev == st.st_dev && hold.ino == st.st_ino) return true;
  }
  return false;
}

thread_local int g_share_with_owner_depth = 0;

// Copies source into a new sibling of target and renames it over target, so
// that target never holds a partial file.
bool CopyOver(int source_fd, const std::string& target, mode_t mode, const struct stat* owner) {
  std::string temp = DirName(target) + "/." + BaseName(target) + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = lseek(source_fd, 0, SEEK_SET) == 0;
  char buffer[65536];
  while (ok) {
    ssize_t n = read(source_fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    ok = WriteAll(fd, buffer, static_cast<size_t>(n));
  }
  if (ok && owner != nullptr) {
    if (fchown(fd, owner->st_uid, owner->st_gid) != 0) { /* keep our own */ }
  }
  ok = ok && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(name.data(), target.c_str()) == 0;
  if (!ok) unlink(name.data());
  return ok;
}

}  // namespace

namespace tlx_posix {

int32_t OpenFailure(int error, const std::string& path) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EEXIST:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
      return TLX_EACCES;
    case ENOENT: {
      // A missing file is "not found"; a missing folder on the way is not.
      struct stat st;
      return stat(DirName(path).c_str(), &st) == 0 ? TLX_ENOENT : -1;
    }
    default:
      return -1;
  }
}

bool SharesWithOwner(int32_t flags) {
  return (flags & TLX_O_SHARE_WITH_OWNER) != 0 || g_share_with_owner_depth > 0;
}

Hold TakeLock(int fd, int lock, bool share_with_owner, const struct stat& st) {
  int rc;
  do {
    rc = flock(fd, lock | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return kLocked;
  if (errno != EWOULDBLOCK) return kNoLocks;  // open unshared-checked
  if (lock == LOCK_SH && share_with_owner && HeldForWritingHere(st)) return kOwnersHold;
  return kRefused;
}

bool NoteWriter(int fd, const struct stat& st) { return AddWriter(fd, st); }

}  // namespace tlx_posix

extern "C" {

void tlx_share_with_owner_begin(void) { ++g_share_with_owner_depth; }

void tlx_share_with_owner_end(void) {
  if (g_share_with_owner_depth > 0) --g_share_with_owner_depth;
}

int32_t tlx_open(const wchar_t* path, int32_t flags, int* handle) try {
  tlx_internal::NoteFailure(TLX_FAILURE_NONE, 0);
  if (path == nullptr || handle == nullptr) return -1;
  if (FaultHit(TLX_FAULT_OPEN)) return -1;
  const bool share_with_owner = tlx_posix::SharesWithOwner(flags);
  flags &= ~TLX_O_SHARE_WITH_OWNER;

  int access;
  int lock;
  if (flags & TLX_O_RDWR) {
    access = O_RDWR, lock = LOCK_EX;
  } else if (flags & TLX_O_WRONLY) {
    access = O_WRONLY, lock = LOCK_EX;
  } else if (flags == 0) {
    access = O_RDONLY, lock = LOCK_SH;
  } else if (flags & TLX_O_TRUNC) {
    // Emptying is writing, whatever access was asked for.
    access = O_RDONLY, lock = LOCK_EX;
  } else {
    access = O_RDONLY, lock = 0;  // no access right: shares with everyone
  }
  enum { kOpenExisting, kOpenAlways, kCreateNew, kCreateAlways } disposition = kOpenExisting;
  if (flags & TLX_O_CREAT) disposition = kOpenAlways;
  if (flags & TLX_O_EXCL) disposition = kCreateNew;
  if (flags & TLX_O_TRUNC) disposition = kCreateAlways;

  const std::string native = ToNative(path);
  const char* p = native.c_str();
  bool created = false;
  int fd = -1;
  if (disposition == kOpenExisting) {
    fd = RetryOpen(p, access);
  } else if (disposition == kCreateNew) {
    fd = RetryOpen(p, access | O_CREAT | O_EXCL, 0666);
    created = fd >= 0;
  } else {
    // Learn whether the file is ours before locking: a file we created is
    // removed again when the lock is refused. Truncation waits for the lock.
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
      fd = RetryOpen(p, access | O_CREAT | O_EXCL, 0666);
      if (fd >= 0) {
        created = true;
        break;
      }
      if (errno != EEXIST) break;
      fd = RetryOpen(p, access);
      if (fd < 0 && errno != ENOENT) break;
    }
  }
  if (fd < 0) return tlx_posix::OpenFailure(errno, native);

  auto fail = [&](int32_t code) {
    close(fd);
    if (created) unlink(p);
    return code;
  };
  struct stat st;
  if (fstat(fd, &st) != 0) return fail(-1);
  if (S_ISDIR(st.st_mode)) return fail(TLX_EACCES);

  tlx_posix::Hold hold = tlx_posix::kNoLocks;
  if (lock != 0) {
    hold = tlx_posix::TakeLock(fd, lock, share_with_owner, st);
    if (hold == tlx_posix::kRefused) return fail(TLX_EACCES);
  }
  // Emptying a file that is already empty is skipped: on some file systems
  // (ext4) a truncation to zero makes the next close flush the new data.
  if (disposition == kCreateAlways && !created && st.st_size != 0) {
    bool emptied;
    if (access != O_RDONLY) {
      emptied = ftruncate(fd, 0) == 0;
    } else {
      int writer = RetryOpen(p, O_WRONLY | O_TRUNC);
      emptied = writer >= 0 && close(writer) == 0;
    }
    if (!emptied) return fail(tlx_posix::OpenFailure(errno, native));
  }
  if (hold == tlx_posix::kLocked && lock == LOCK_EX && !AddWriter(fd, st)) return fail(-1);
  *handle = fd;
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_close(int* handle) {
  if (handle == nullptr || *handle == TLX_INVALID_HANDLE) return -1;
  int fd = *handle;
  RemoveWriter(fd);
  if (FaultHit(TLX_FAULT_CLOSE)) {
    // As a failing close(2) does: the descriptor is gone all the same, but
    // the caller's handle stays as it was.
    close(fd);
    return -1;
  }
  // After EINTR Linux has released the descriptor: that close succeeded.
  // Any other error (EIO: written data may be lost) is a failure.
  if (close(fd) != 0 && errno != EINTR) return -1;
  *handle = TLX_INVALID_HANDLE;
  return 0;
}

int32_t tlx_read(int handle, void* buffer, uint32_t count) {
  if (handle < 0 || buffer == nullptr) return InvalidRequest();
  if (FaultHit(TLX_FAULT_READ)) return -1;
  if (count > INT32_MAX) count = INT32_MAX;
  char* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = read(handle, out + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? static_cast<int32_t>(done) : IoFailure();
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t tlx_pread(int handle, void* buffer, uint32_t count, int32_t offset) {
  if (handle < 0 || buffer == nullptr || offset < 0) return InvalidRequest();
  if (FaultHit(TLX_FAULT_READ)) return -1;
  if (count > INT32_MAX) count = INT32_MAX;
  char* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = pread(handle, out + done, count - done, static_cast<off_t>(offset) + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? static_cast<int32_t>(done) : IoFailure();
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t tlx_write(int handle, const void* buffer, uint32_t count) {
  if (handle < 0 || buffer == nullptr) return InvalidRequest();
  if (FaultHit(TLX_FAULT_WRITE)) return -1;
  if (count > INT32_MAX) count = INT32_MAX;
  const char* in = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = write(handle, in + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? static_cast<int32_t>(done) : IoFailure();
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t tlx_lseek(int handle, int32_t offset, int32_t whence) {
  if (handle < 0 || whence < 0 || whence > 2) return InvalidRequest();
  if (FaultHit(TLX_FAULT_SEEK)) return -1;
  // Positions that can never lie past the end take one call: the start, and
  // anything counted back from the end (the kernel refuses a negative
  // result and moves nothing).
  if (whence == 0 && offset == 0) return lseek(handle, 0, SEEK_SET) == 0 ? 0 : IoFailure();
  if (whence == 2) {
    off_t end = lseek(handle, offset < 0 ? offset : 0, SEEK_END);
    if (end < 0) return errno == EINVAL ? InvalidRequest() : IoFailure();
    return end > INT32_MAX ? InvalidRequest() : static_cast<int32_t>(end);
  }
  struct stat st;
  if (fstat(handle, &st) != 0) return IoFailure();
  off_t base = 0;
  if (whence == 1) {
    base = lseek(handle, 0, SEEK_CUR);
    if (base < 0) return IoFailure();
  } else if (whence == 2) {
    base = st.st_size;
  }
  off_t target = base + offset;
  if (target < 0) return InvalidRequest();
  if (target > st.st_size) target = st.st_size;
  if (target > INT32_MAX) return InvalidRequest();
  if (lseek(handle, target, SEEK_SET) < 0) return IoFailure();
  return static_cast<int32_t>(target);
}

int32_t tlx_copy(int source, int target, uint32_t count) {
  if (source < 0 || target < 0) return InvalidRequest();
  if (FaultHit(TLX_FAULT_READ)) return -1;
  if (FaultHit(TLX_FAULT_WRITE)) return -2;
  if (count > INT32_MAX) count = INT32_MAX;
  uint32_t done = 0;
  bool kernel = true;
  char buffer[65536];
  while (done < count) {
    if (kernel) {
      ssize_t n = copy_file_range(source, nullptr, target, nullptr, count - done, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                    errno == EOPNOTSUPP || errno == EPERM || errno == EBADF)) {
        // File systems or files the kernel will not copy between; the plain
        // copy also tells which side a bad handle is on.
        kernel = false;
        continue;
      }
      if (n < 0) {
        if (done > 0) return static_cast<int32_t>(done);
        return IoFailure(errno == ENOSPC || errno == EDQUOT || errno == EFBIG ? -2 : -1);
      }
      if (n == 0) break;
      done += static_cast<uint32_t>(n);
      continue;
    }
    uint32_t want = count - done < sizeof buffer ? count - done : sizeof buffer;
    ssize_t n = read(source, buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done > 0 ? static_cast<int32_t>(done) : IoFailure();
    if (n == 0) break;
    if (!WriteAll(target, buffer, static_cast<size_t>(n))) {
      return done > 0 ? static_cast<int32_t>(done) : IoFailure(-2);
    }
    done += static_cast<uint32_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t tlx_fsync(int handle) {
  if (handle < 0) return -1;
  if (FaultHit(TLX_FAULT_FSYNC)) return -1;
  if (fdatasync(handle) == 0) return 0;
  // Files that cannot be synced (special files) have nothing to lose.
  return errno == EINVAL || errno == EROFS ? 0 : -1;
}

int32_t tlx_set_end_of_file(int handle) {
  if (handle < 0) return -1;
  if (FaultHit(TLX_FAULT_TRUNCATE)) return -1;
  off_t position = lseek(handle, 0, SEEK_CUR);
  if (position < 0) return -1;
  return ftruncate(handle, position) == 0 ? 0 : -1;
}

int32_t tlx_unlink(const wchar_t* path) try {
  if (path == nullptr) return -1;
  if (FaultHit(TLX_FAULT_UNLINK)) return -1;
  const std::string native = ToNative(path);
  struct stat st;
  if (lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  if (unlink(native.c_str()) != 0) return -1;
  SyncDirectory(DirName(native));
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_rename(const wchar_t* source, const wchar_t* target) try {
  if (source == nullptr || target == nullptr) return -1;
  if (FaultHit(TLX_FAULT_RENAME)) return -1;
  const std::string from = ToNative(source);
  const std::string to = ToNative(target);

  int fd = RetryOpen(from.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  struct stat source_st;
  if (fstat(fd, &source_st) != 0 || !S_ISREG(source_st.st_mode) || fsync(fd) != 0) {
    close(fd);
    return -1;
  }
  // The target keeps its own permission bits and, where allowed, its owner.
  struct stat target_st;
  const bool target_exists = stat(to.c_str(), &target_st) == 0;
  if (target_exists && !S_ISREG(target_st.st_mode)) {
    close(fd);
    return -1;
  }
  if (target_exists && target_st.st_dev == source_st.st_dev &&
      target_st.st_ino == source_st.st_ino) {
    close(fd);
    return 0;  // one file under two names: it already holds the bytes
  }
  const mode_t mode = (target_exists ? target_st.st_mode : source_st.st_mode) & 07777;

  bool moved = false;
  if (fchmod(fd, mode) == 0) {
    if (target_exists && (target_st.st_uid != source_st.st_uid ||
                          target_st.st_gid != source_st.st_gid)) {
      if (fchown(fd, target_st.st_uid, target_st.st_gid) != 0) { /* keep ours */ }
    }
    if (rename(from.c_str(), to.c_str()) == 0) {
      moved = true;
    } else if (errno != EXDEV) {
      close(fd);
      return -1;
    }
  }
  if (!moved) {
    // Another file system, or a source whose mode we may not change.
    bool copied = CopyOver(fd, to, mode, target_exists ? &target_st : nullptr);
    close(fd);
    if (!copied) return -1;
    SyncDirectory(DirName(to));
    if (unlink(from.c_str()) == 0) SyncDirectory(DirName(from));
    return 0;
  }
  close(fd);
  SyncDirectory(DirName(to));
  if (DirName(to) != DirName(from)) SyncDirectory(DirName(from));
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_getfilesize(const wchar_t* path) try {
  if (path == nullptr) return -1;
  struct stat st;
  if (stat(ToNative(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  if (st.st_size > INT32_MAX) return -1;
  return static_cast<int32_t>(st.st_size);
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_stat_mode(const wchar_t* path) try {
  tlx_internal::NoteFailure(TLX_FAILURE_NONE, 0);
  struct stat st;
  if (path == nullptr || stat(ToNative(path).c_str(), &st) != 0) return TLX_S_ERROR;
  return S_ISDIR(st.st_mode) ? TLX_S_IFDIR : TLX_S_IFREG;
} catch (...) {
  return tlx_internal::CaughtFailure(TLX_S_ERROR);
}

/* Attributes on POSIX: read-only means "no write bit" (reported when the
 * owner may not write; setting it clears every write bit, clearing it gives
 * the owner the write bit back). Hidden is reported for names that begin
 * with a dot, the POSIX convention; it cannot be set or cleared without a
 * rename and is ignored when setting. System has no counterpart: never
 * reported, ignored. Archive (changed since the last backup) is not tracked:
 * it is reported for every regular file, as Windows shows new and modified
 * files, and ignored when setting. */
int32_t tlx_get_attributes(const wchar_t* path, uint32_t* flags) try {
  if (path == nullptr || flags == nullptr) return -1;
  *flags = 0;
  const std::string native = ToNative(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return -1;
  uint32_t result = 0;
  if (S_ISDIR(st.st_mode)) result |= TLX_ATTR_DIRECTORY;
  if (S_ISREG(st.st_mode)) result |= TLX_ATTR_ARCHIVE;
  if ((st.st_mode & S_IWUSR) == 0) result |= TLX_ATTR_READONLY;
  const std::string base = BaseName(native);
  if (base.size() > 1 && base[0] == '.' && base != "..") result |= TLX_ATTR_HIDDEN;
  *flags = result;
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_set_attributes(const wchar_t* path, uint32_t flags) try {
  if (path == nullptr) return -1;
  const std::string native = ToNative(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return -1;
  mode_t mode = st.st_mode & 07777;
  if (flags & TLX_ATTR_READONLY) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else if ((mode & S_IWUSR) == 0) {
    mode |= S_IWUSR;
  }
  if (mode == (st.st_mode & 07777)) return 0;
  return chmod(native.c_str(), mode) == 0 ? 0 : -1;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_mkdir(const wchar_t* path) try {
  if (path == nullptr) return -1;
  return mkdir(ToNative(path).c_str(), 0777) == 0 ? 0 : -1;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_rmdir(const wchar_t* path) try {
  if (path == nullptr) return -1;
  return rmdir(ToNative(path).c_str()) == 0 ? 0 : -1;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

uint32_t tlx_get_temp_dir(uint32_t size, wchar_t* buffer) try {
  if (buffer == nullptr) return 0;
  const char* env = getenv("TMPDIR");
  std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
  if (dir.back() != '/') dir.push_back('/');
  std::wstring wide = tlx_internal::Utf8ToWide(dir.data(), dir.size());
  if (wide.size() + 1 > size) return 0;
  wmemcpy(buffer, wide.c_str(), wide.size() + 1);
  return static_cast<uint32_t>(wide.size());
} catch (...) {
  return tlx_internal::CaughtFailure(0u);
}

uint32_t tlx_get_temp_file_name(const wchar_t* directory, wchar_t* out) try {
  if (directory == nullptr || out == nullptr || *directory == L'\0') return 0;
  std::string name = ToNative(directory);
  if (name.back() != '/') name.push_back('/');
  name += "id3XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) return 0;
  close(fd);
  std::wstring wide = tlx_internal::Utf8ToWide(buffer.data(), strlen(buffer.data()));
  if (wide.size() + 1 > TLX_MAX_PATH) {
    unlink(buffer.data());
    return 0;
  }
  wmemcpy(out, wide.c_str(), wide.size() + 1);
  return 1;
} catch (...) {
  return tlx_internal::CaughtFailure(0u);
}

}  // extern "C"
