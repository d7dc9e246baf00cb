// Files, directories and temporary names on the Windows wide-character file
// API. A handle is the HANDLE value of CreateFileW in an int: the kernel keeps
// handle values within 32 bits on 64-bit Windows too.
#include "win32_api.h"

#include <stdint.h>

#include <mutex>
#include <string>
#include <vector>

#include "tlx_internal.h"
#include "tlx_system.h"

namespace {

HANDLE ToHandle(int handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }

int FromHandle(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

// Read, write, seek and truncate take 0 for invalid as well.
bool Usable(int handle) { return handle != TLX_INVALID_HANDLE && handle != 0; }

// The results of tlx_open. Conflicts with another handle read as access
// refused, as a lock conflict does on POSIX; a missing folder as not found.
int32_t OpenFailure(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return TLX_EACCES;
    case ERROR_FILE_NOT_FOUND:
      return TLX_ENOENT;  // a missing folder on the way is not "not found"
    default:
      return -1;
  }
}

// Identity of an open file: a second name of the same file matches too.
struct FileId {
  DWORD volume;
  DWORD high;
  DWORD low;
  bool operator==(const FileId& other) const {
    return volume == other.volume && high == other.high && low == other.low;
  }
};

bool IdOf(HANDLE handle, FileId* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  *id = FileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// The files this process holds open for writing, so that a read-only open
// that asks to share the writer's hold can tell its own process's writer
// from another program.
class Writers {
 public:
  void Add(int handle) {
    FileId id;
    if (!IdOf(ToHandle(handle), &id)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(Entry{handle, id});
  }
  void Remove(int handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].handle == handle) {
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
    }
  }
  bool Holds(const wchar_t* path) {
    // Opening for no access at all is never refused by sharing.
    HANDLE probe = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    FileId id;
    bool known = IdOf(probe, &id);
    CloseHandle(probe);
    if (!known) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& entry : entries_) {
      if (entry.id == id) return true;
    }
    return false;
  }

 private:
  struct Entry {
    int handle;
    FileId id;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

Writers& TheWriters() {
  static Writers* writers = new Writers();  // never destroyed: used until exit
  return *writers;
}

thread_local int g_share_with_owner = 0;

DWORD AccessFor(int32_t flags) {
  if (flags & TLX_O_RDWR) return GENERIC_READ | GENERIC_WRITE;
  if (flags & TLX_O_WRONLY) return GENERIC_WRITE;
  if ((flags & ~TLX_O_SHARE_WITH_OWNER) == 0) return GENERIC_READ;
  // Emptying is writing: it waits for other handles like any writer.
  if (flags & TLX_O_TRUNC) return GENERIC_WRITE;
  return 0;
}

DWORD DispositionFor(int32_t flags) {
  DWORD disposition = OPEN_EXISTING;
  if (flags & TLX_O_CREAT) disposition = OPEN_ALWAYS;
  if (flags & TLX_O_EXCL) disposition = CREATE_NEW;
  if (flags & TLX_O_TRUNC) disposition = CREATE_ALWAYS;
  return disposition;
}

// Carries the attributes a user sets on a file over to its replacement.
void KeepAttributes(const wchar_t* from_target, const wchar_t* to_replacement) {
  DWORD old = GetFileAttributesW(from_target);
  if (old == INVALID_FILE_ATTRIBUTES) return;
  DWORD kept = old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  DWORD now = GetFileAttributesW(to_replacement);
  if (now == INVALID_FILE_ATTRIBUTES) return;
  DWORD wanted = (now & ~(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NORMAL)) |
                 kept;
  if (wanted != now) SetFileAttributesW(to_replacement, wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL);
}

bool Flush(const wchar_t* path) {
  HANDLE h = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = FlushFileBuffers(h) != 0;
  CloseHandle(h);
  return ok;
}

// The folder part of path, separator included ("" for a bare name).
std::wstring FolderOf(const wchar_t* path) {
  std::wstring text(path);
  size_t cut = text.find_last_of(L"\\/:");
  return cut == std::wstring::npos ? std::wstring() : text.substr(0, cut + 1);
}

// Replacement across volumes: copy beside the target first, so that the last
// step is a rename within one volume and the target is never half written.
int32_t ReplaceAcrossVolumes(const wchar_t* source, const wchar_t* target) {
  std::wstring folder = FolderOf(target);
  wchar_t sibling[MAX_PATH];
  if (GetTempFileNameW(folder.empty() ? L"." : folder.c_str(), L"id3", 0, sibling) == 0) return -1;
  if (!CopyFileW(source, sibling, FALSE) || !Flush(sibling)) {
    DeleteFileW(sibling);
    return -1;
  }
  KeepAttributes(target, sibling);
  if (!MoveFileExW(sibling, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(sibling);
    return -1;
  }
  DeleteFileW(source);
  return 0;
}

// The file a path names, a symbolic link followed; the path itself when
// that cannot be told.
std::wstring Resolve(const wchar_t* path) {
  HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return path;
  std::vector<wchar_t> buffer(1024);
  DWORD length = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  CloseHandle(h);
  if (length == 0 || length >= buffer.size()) return path;
  std::wstring resolved(buffer.data(), length);
  // A plain drive path where the system gives one in its long form.
  if (resolved.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + resolved.substr(8);
  if (resolved.compare(0, 4, L"\\\\?\\") == 0) resolved = resolved.substr(4);
  return resolved;
}

// A new hidden file in folder named after the file it will replace.
HANDLE MakeHidden(const std::wstring& folder, const std::wstring& name, std::wstring* path) {
  static LONG counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned long stamp = (GetTickCount() ^ (GetCurrentProcessId() << 16)) +
                                static_cast<unsigned long>(InterlockedIncrement(&counter));
    std::wstring candidate = folder + L"." + name.substr(0, 200) + L"." + std::to_wstring(stamp);
    HANDLE h = CreateFileW(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *path = candidate;
      return h;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

extern "C" {

void tlx_share_with_owner_begin(void) { ++g_share_with_owner; }

void tlx_share_with_owner_end(void) {
  if (g_share_with_owner > 0) --g_share_with_owner;
}

int32_t tlx_open(const wchar_t* path, int32_t flags, int* handle) try {
  tlx_internal::NoteFailure(TLX_FAILURE_NONE, 0);
  if (path == nullptr || handle == nullptr) return -1;
  if (tlx_internal::FaultHit(TLX_FAULT_OPEN)) return -1;
  DWORD access = AccessFor(flags);
  bool writable = (access & GENERIC_WRITE) != 0;
  HANDLE h = CreateFileW(path, access, FILE_SHARE_READ, nullptr, DispositionFor(flags), 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    bool share = !writable && ((flags & TLX_O_SHARE_WITH_OWNER) || g_share_with_owner > 0);
    if (error != ERROR_SHARING_VIOLATION || !share || !TheWriters().Holds(path)) {
      return OpenFailure(error);
    }
    // This process writes the file: read beside its writer, whose sharing
    // keeps other programs out.
    h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return OpenFailure(GetLastError());
  }
  *handle = FromHandle(h);
  if (writable) TheWriters().Add(*handle);
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_close(int* handle) {
  if (handle == nullptr || *handle == TLX_INVALID_HANDLE) return -1;
  TheWriters().Remove(*handle);
  if (tlx_internal::FaultHit(TLX_FAULT_CLOSE)) {
    // As a close that fails after releasing the handle: the caller's value
    // stays as it was.
    CloseHandle(ToHandle(*handle));
    return -1;
  }
  if (!CloseHandle(ToHandle(*handle))) return -1;
  *handle = TLX_INVALID_HANDLE;
  return 0;
}

int32_t tlx_read(int handle, void* buffer, uint32_t count) {
  if (!Usable(handle) || buffer == nullptr) return tlx_internal::InvalidRequest();
  if (tlx_internal::FaultHit(TLX_FAULT_READ)) return -1;
  if (count > static_cast<uint32_t>(INT32_MAX)) count = INT32_MAX;
  DWORD done = 0;
  if (!ReadFile(ToHandle(handle), buffer, count, &done, nullptr)) return tlx_internal::IoFailure();
  return static_cast<int32_t>(done);
}

// A synchronous handle reads at the overlapped offset and moves there.
int32_t tlx_pread(int handle, void* buffer, uint32_t count, int32_t offset) {
  if (!Usable(handle) || buffer == nullptr || offset < 0) return tlx_internal::InvalidRequest();
  if (tlx_internal::FaultHit(TLX_FAULT_READ)) return -1;
  if (count > static_cast<uint32_t>(INT32_MAX)) count = INT32_MAX;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  DWORD done = 0;
  if (!ReadFile(ToHandle(handle), buffer, count, &done, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : tlx_internal::IoFailure();
  }
  return static_cast<int32_t>(done);
}

int32_t tlx_write(int handle, const void* buffer, uint32_t count) {
  if (!Usable(handle) || buffer == nullptr) return tlx_internal::InvalidRequest();
  if (tlx_internal::FaultHit(TLX_FAULT_WRITE)) return -1;
  if (count > static_cast<uint32_t>(INT32_MAX)) count = INT32_MAX;
  DWORD done = 0;
  if (!WriteFile(ToHandle(handle), buffer, count, &done, nullptr)) return tlx_internal::IoFailure();
  return static_cast<int32_t>(done);
}

// Copies through a bounded buffer until count bytes or the end of source.
int32_t tlx_copy(int source, int target, uint32_t count) {
  if (!Usable(source) || !Usable(target)) return tlx_internal::InvalidRequest();
  if (tlx_internal::FaultHit(TLX_FAULT_READ)) return -1;
  if (tlx_internal::FaultHit(TLX_FAULT_WRITE)) return -2;
  if (count > static_cast<uint32_t>(INT32_MAX)) count = INT32_MAX;
  static const DWORD kChunk = 65536;
  static thread_local char buffer[kChunk];
  uint32_t done = 0;
  while (done < count) {
    DWORD want = count - done < kChunk ? static_cast<DWORD>(count - done) : kChunk;
    DWORD got = 0;
    if (!ReadFile(ToHandle(source), buffer, want, &got, nullptr)) {
      return done > 0 ? static_cast<int32_t>(done) : tlx_internal::IoFailure();
    }
    if (got == 0) break;
    DWORD put = 0;
    if (!WriteFile(ToHandle(target), buffer, got, &put, nullptr) || put != got) {
      return done > 0 ? static_cast<int32_t>(done) : tlx_internal::IoFailure(-2);
    }
    done += got;
  }
  return static_cast<int32_t>(done);
}

int32_t tlx_lseek(int handle, int32_t offset, int32_t whence) {
  DWORD method;
  switch (whence) {
    case 0: method = FILE_BEGIN; break;
    case 1: method = FILE_CURRENT; break;
    case 2: method = FILE_END; break;
    default: return tlx_internal::InvalidRequest();
  }
  if (!Usable(handle)) return tlx_internal::InvalidRequest();
  if (tlx_internal::FaultHit(TLX_FAULT_SEEK)) return -1;
  HANDLE h = ToHandle(handle);
  DWORD size = GetFileSize(h, nullptr);
  if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return tlx_internal::IoFailure();
  SetLastError(NO_ERROR);
  DWORD position = SetFilePointer(h, offset, nullptr, method);
  if (position == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    // A position before the start is the caller's mistake, not the disk's.
    return GetLastError() == ERROR_NEGATIVE_SEEK ? tlx_internal::InvalidRequest()
                                                 : tlx_internal::IoFailure();
  }
  if (position > size) {
    // Never past the end: a file grows by writing.
    position = SetFilePointer(h, 0, nullptr, FILE_END);
    if (position == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
      return tlx_internal::IoFailure();
    }
  }
  if (position > static_cast<DWORD>(INT32_MAX)) return tlx_internal::InvalidRequest();
  return static_cast<int32_t>(position);
}

int32_t tlx_fsync(int handle) {
  if (!Usable(handle)) return -1;
  if (tlx_internal::FaultHit(TLX_FAULT_FSYNC)) return -1;
  // A handle without write access has nothing to flush.
  if (!FlushFileBuffers(ToHandle(handle)) && GetLastError() != ERROR_ACCESS_DENIED) return -1;
  return 0;
}

int32_t tlx_set_end_of_file(int handle) {
  if (!Usable(handle)) return -1;
  if (tlx_internal::FaultHit(TLX_FAULT_TRUNCATE)) return -1;
  return SetEndOfFile(ToHandle(handle)) ? 0 : -1;
}

int32_t tlx_unlink(const wchar_t* path) try {
  if (path == nullptr) return -1;
  if (tlx_internal::FaultHit(TLX_FAULT_UNLINK)) return -1;
  return DeleteFileW(path) ? 0 : -1;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_rename(const wchar_t* source, const wchar_t* target) try {
  if (source == nullptr || target == nullptr) return -1;
  if (tlx_internal::FaultHit(TLX_FAULT_RENAME)) return -1;
  if (GetFileAttributesW(source) == INVALID_FILE_ATTRIBUTES) return -1;
  // Within one volume a rename replaces the target in one step.
  if (GetFileAttributesW(target) != INVALID_FILE_ATTRIBUTES) KeepAttributes(target, source);
  if (MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  if (GetLastError() != ERROR_NOT_SAME_DEVICE) return -1;
  return ReplaceAcrossVolumes(source, target);
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_create_replacement(const wchar_t* target, wchar_t* out, int* handle) try {
  if (target == nullptr || out == nullptr || handle == nullptr || *target == L'\0') return -1;
  if (tlx_internal::FaultHit(TLX_FAULT_OPEN)) return -1;
  const std::wstring resolved = Resolve(target);
  const std::wstring folder = FolderOf(resolved.c_str());
  const std::wstring name = resolved.substr(folder.size());
  std::wstring path;
  HANDLE h = MakeHidden(folder, name, &path);
  if (h == INVALID_HANDLE_VALUE) {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length != 0 && length <= MAX_PATH) h = MakeHidden(temp, name, &path);
  }
  if (h == INVALID_HANDLE_VALUE) return -1;
  if (path.size() + 1 > TLX_MAX_PATH) {
    CloseHandle(h);
    DeleteFileW(path.c_str());
    return -1;
  }
  wmemcpy(out, path.c_str(), path.size() + 1);
  *handle = FromHandle(h);
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

// Windows replaces no file that a handle holds open: the caller's handle is
// closed first. ReplaceFileW keeps the file's attributes, security and
// streams; a file with several names always gets a new file of its own.
int32_t tlx_replace(const wchar_t* source, const wchar_t* target, int* target_handle,
                    uint32_t flags) try {
  (void)flags;
  if (source == nullptr || target == nullptr) return -1;
  if (tlx_internal::FaultHit(TLX_FAULT_RENAME)) return -1;
  if (GetFileAttributesW(source) == INVALID_FILE_ATTRIBUTES || !Flush(source)) return -1;
  const std::wstring resolved = Resolve(target);
  if (target_handle != nullptr && *target_handle != TLX_INVALID_HANDLE) {
    TheWriters().Remove(*target_handle);
    CloseHandle(ToHandle(*target_handle));
    *target_handle = TLX_INVALID_HANDLE;
  }
  if (ReplaceFileW(resolved.c_str(), source, nullptr,
                   REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                   nullptr)) {
    return 0;
  }
  KeepAttributes(resolved.c_str(), source);
  if (MoveFileExW(source, resolved.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  if (GetLastError() != ERROR_NOT_SAME_DEVICE) return -1;
  return ReplaceAcrossVolumes(source, resolved.c_str());
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

// Nothing is copied in place on Windows, so nothing can be interrupted there.
int32_t tlx_complete_replace(const wchar_t* target) { return target != nullptr ? 0 : -1; }

// Windows keeps no records of interrupted copies: a file open is whole.
int32_t tlx_open_file(const wchar_t* path, int32_t flags, int* handle, int32_t* size) try {
  tlx_internal::NoteFailure(TLX_FAILURE_NONE, 0);
  if (path == nullptr || handle == nullptr || size == nullptr) return -1;
  const int32_t access = flags & ~TLX_O_SHARE_WITH_OWNER;
  if (access != TLX_O_RDONLY && access != TLX_O_RDWR) return -1;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return TLX_ENOENT;
  }
  const int32_t rc = tlx_open(path, flags, handle);
  if (rc != 0) return rc;
  LARGE_INTEGER length;
  if (!GetFileSizeEx(ToHandle(*handle), &length)) {
    tlx_close(handle);
    return -1;
  }
  *size = length.QuadPart > INT32_MAX ? -1 : static_cast<int32_t>(length.QuadPart);
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_getfilesize(const wchar_t* path) try {
  if (path == nullptr) return -1;
  // Reading the size needs no data access, so a writer's sharing does not
  // refuse it.
  HANDLE h = CreateFileW(path, FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  DWORD high = 0;
  DWORD low = GetFileSize(h, &high);
  DWORD error = low == INVALID_FILE_SIZE ? GetLastError() : NO_ERROR;
  CloseHandle(h);
  if (error != NO_ERROR || high != 0 || low > static_cast<DWORD>(INT32_MAX)) return -1;
  return static_cast<int32_t>(low);
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_stat_mode(const wchar_t* path) try {
  tlx_internal::NoteFailure(TLX_FAILURE_NONE, 0);
  if (path == nullptr) return TLX_S_ERROR;
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return TLX_S_ERROR;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? TLX_S_IFDIR : TLX_S_IFREG;
} catch (...) {
  return tlx_internal::CaughtFailure(TLX_S_ERROR);
}

int32_t tlx_get_attributes(const wchar_t* path, uint32_t* flags) try {
  if (path == nullptr || flags == nullptr) return -1;
  *flags = 0;
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  if (attributes & FILE_ATTRIBUTE_READONLY) *flags |= TLX_ATTR_READONLY;
  if (attributes & FILE_ATTRIBUTE_HIDDEN) *flags |= TLX_ATTR_HIDDEN;
  if (attributes & FILE_ATTRIBUTE_SYSTEM) *flags |= TLX_ATTR_SYSTEM;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) *flags |= TLX_ATTR_DIRECTORY;
  if (attributes & FILE_ATTRIBUTE_ARCHIVE) *flags |= TLX_ATTR_ARCHIVE;
  return 0;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_set_attributes(const wchar_t* path, uint32_t flags) try {
  if (path == nullptr) return -1;
  DWORD attributes = 0;
  if (flags & TLX_ATTR_READONLY) attributes |= FILE_ATTRIBUTE_READONLY;
  if (flags & TLX_ATTR_HIDDEN) attributes |= FILE_ATTRIBUTE_HIDDEN;
  if (flags & TLX_ATTR_SYSTEM) attributes |= FILE_ATTRIBUTE_SYSTEM;
  if (flags & TLX_ATTR_ARCHIVE) attributes |= FILE_ATTRIBUTE_ARCHIVE;
  return SetFileAttributesW(path, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL) ? 0 : -1;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_mkdir(const wchar_t* path) try {
  if (path == nullptr) return -1;
  return CreateDirectoryW(path, nullptr) ? 0 : -1;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

int32_t tlx_rmdir(const wchar_t* path) try {
  if (path == nullptr) return -1;
  return RemoveDirectoryW(path) ? 0 : -1;
} catch (...) {
  return tlx_internal::CaughtFailure(-1);
}

uint32_t tlx_get_temp_dir(uint32_t size, wchar_t* buffer) try {
  if (buffer == nullptr || size == 0) return 0;
  DWORD written = GetTempPathW(size, buffer);
  // A result of size or more is the room the path would need.
  if (written == 0 || written >= size) return 0;
  return written;
} catch (...) {
  return tlx_internal::CaughtFailure(0u);
}

uint32_t tlx_get_temp_file_name(const wchar_t* directory, wchar_t* out) try {
  if (directory == nullptr || out == nullptr || *directory == L'\0') return 0;
  return GetTempFileNameW(directory, L"id3", 0, out);
} catch (...) {
  return tlx_internal::CaughtFailure(0u);
}

}  // extern "C"
