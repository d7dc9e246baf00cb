/* Pieces shared by the POSIX file sources of the system layer. Not part of
 * the layer's interface. */
#ifndef TAGKIT_SYSTEM_POSIX_POSIX_FILES_H_
#define TAGKIT_SYSTEM_POSIX_POSIX_FILES_H_

#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <wchar.h>

#include <string>

namespace tlx_posix {

/* The UTF-8 form of a path. */
std::string ToNative(const wchar_t* path);
/* The folder part of a path ("." for a bare name) and the name part. */
std::string DirName(const std::string& path);
std::string BaseName(const std::string& path);
/* open(2) with O_CLOEXEC, retried after EINTR. */
int RetryOpen(const char* path, int flags, mode_t mode = 0);
/* Writes all count bytes; false on a failed or empty write. */
bool WriteAll(int fd, const char* data, size_t count);
/* Makes a rename, creation or removal in dir durable. */
bool SyncDirectory(const std::string& dir);
/* Drops a descriptor from the handles that hold a file for writing, before
 * it is closed without tlx_close. */
void ForgetWriter(int fd);
/* The TLX_* result of an open(2) of path that failed with error. */
int32_t OpenFailure(int error, const std::string& path);
/* Whether a read-only open with these TLX_O_* flags shares a writer's hold
 * of this process (TLX_O_SHARE_WITH_OWNER, or the thread's scope). */
bool SharesWithOwner(int32_t flags);
/* What TakeLock got: the lock; none, for the file system has no locks; the
 * hold of a writer of this process, shared; nothing, for another handle
 * holds the file. */
enum Hold { kLocked, kNoLocks, kOwnersHold, kRefused };
/* Locks the file st describes, open at fd, without waiting: LOCK_SH or
 * LOCK_EX as tlx_open does. */
Hold TakeLock(int fd, int lock, bool share_with_owner, const struct stat& st);
/* Records fd as holding the file st describes for writing; false when memory
 * runs out. */
bool NoteWriter(int fd, const struct stat& st);

}  // namespace tlx_posix

#endif /* TAGKIT_SYSTEM_POSIX_POSIX_FILES_H_ */
