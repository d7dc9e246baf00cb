/* Pieces shared by the POSIX file sources of the system layer. Not part of
 * the layer's interface. */
#ifndef TAGKIT_SYSTEM_POSIX_POSIX_FILES_H_
#define TAGKIT_SYSTEM_POSIX_POSIX_FILES_H_

#include <stddef.h>
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

}  // namespace tlx_posix

#endif /* TAGKIT_SYSTEM_POSIX_POSIX_FILES_H_ */
