/** @file
 * Portable system layer: files, memory, temporary names, byte order, the
 * list, and single-byte text conversion. The tag engine and the container
 * layer reach the operating system only through these functions.
 *
 * Wide strings are wchar_t: one code point per unit on POSIX, UTF-16 on
 * Windows. Paths are converted to UTF-8 for POSIX calls. */
#ifndef TAGKIT_SYSTEM_TLX_SYSTEM_H_
#define TAGKIT_SYSTEM_TLX_SYSTEM_H_

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#include "tlx_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Memory (null on failure; callers trace) ---------------------------- */
/** Allocates @p size bytes; null on failure. Free with tlx_sqa_free. */
TLX_API void* tlx_sqa_malloc(size_t size);
/** Allocates @p size zero bytes; null on failure. Free with tlx_sqa_free. */
TLX_API void* tlx_sqa_calloc(size_t size);
/** A new copy: length bytes copied, then a zero byte. Null on failure; free
 * with tlx_sqa_free. */
TLX_API char* tlx_sqa_strndup(const char* text, size_t length);
/** A new copy: length characters copied, then a zero character. Null on
 * failure; free with tlx_sqa_free. */
TLX_API wchar_t* tlx_sqa_wcsndup(const wchar_t* text, size_t length);
/** Frees a block of this layer's allocators; null is ignored. */
TLX_API void tlx_sqa_free(void* block);

/* ---- Files -------------------------------------------------------------- */
/** The handle value of no open file. On POSIX every other non-negative value
 * is a descriptor, 0 included (a daemon may run with standard input closed);
 * on Windows 0 is no file either. */
#define TLX_INVALID_HANDLE (-1)

/** tlx_open: read only. */
#define TLX_O_RDONLY 0x000
/** tlx_open: write only. */
#define TLX_O_WRONLY 0x001
/** tlx_open: read and write. */
#define TLX_O_RDWR 0x002
/** tlx_open: create the file when missing. */
#define TLX_O_CREAT 0x040
/** tlx_open with TLX_O_CREAT: fail when the file exists. */
#define TLX_O_EXCL 0x080
/** tlx_open: empty the file. Emptying counts as writing: it takes the
 * writer's exclusive hold even without TLX_O_WRONLY or TLX_O_RDWR. */
#define TLX_O_TRUNC 0x200

/* Failures of tlx_open. */
/** tlx_open: access refused, sharing conflict, or already exists. */
#define TLX_EACCES (-13) /* access refused, sharing conflict, or already exists */
/** tlx_open: not found. */
#define TLX_ENOENT (-2)  /* not found */

/* tlx_stat_mode results; only a regular file has the low 16 bits negative. */
/** tlx_stat_mode: a directory. */
#define TLX_S_IFDIR 0x4000
/** tlx_stat_mode: a regular file (bit 15 set: negative as a 16-bit value). */
#define TLX_S_IFREG 0x8000
/** tlx_stat_mode: the query failed. */
#define TLX_S_ERROR ((int32_t)0xFFFF3FFF)

/* tlx_get_attributes / tlx_set_attributes bits. */
/** Not writable. */
#define TLX_ATTR_READONLY 0x01
/** Hidden (on POSIX: the name begins with a dot; cannot be set). */
#define TLX_ATTR_HIDDEN 0x02
/** System file (never reported on POSIX). */
#define TLX_ATTR_SYSTEM 0x04
/** A directory. */
#define TLX_ATTR_DIRECTORY 0x10
/** Archive (on POSIX: reported for every regular file). */
#define TLX_ATTR_ARCHIVE 0x20

/** Room for a temporary path, terminator included. */
#ifdef _WIN32
#define TLX_MAX_PATH 260
#else
#define TLX_MAX_PATH 4096
#endif

/** Sharing. A file opened read only may be shared with other readers; a file
 * opened for writing is shared with nobody. A conflict fails with TLX_EACCES.
 * This holds between processes and equally between two opens in one process:
 * two contexts on one file refuse each other just as two programs would.
 *
 * The one exception is a read-only open that asks to share the writer's
 * hold, for reading a file through a second handle while this process itself
 * has it open for writing (a backup of the tag taken during an edit). Such an
 * open succeeds when the file is held for writing by a handle of this
 * process; it takes no lock of its own and relies on the writer's exclusive
 * lock to keep other processes out. It still fails with TLX_EACCES when the
 * writer is another process, and behaves as a plain read-only open when
 * nobody writes the file. Ask for it either with TLX_O_SHARE_WITH_OWNER in
 * the flags of a read-only open, or for every read-only open of the calling
 * thread between tlx_share_with_owner_begin() and the matching
 * tlx_share_with_owner_end() (scopes nest). The flag is ignored on writable
 * opens. */
#define TLX_O_SHARE_WITH_OWNER 0x10000
/** Makes every read-only open of the calling thread share the writer's hold
 * (see TLX_O_SHARE_WITH_OWNER) until the matching end; scopes nest. */
TLX_API void tlx_share_with_owner_begin(void);
/** Ends the innermost tlx_share_with_owner_begin scope. */
TLX_API void tlx_share_with_owner_end(void);

/** Opens @p path with TLX_O_* @p flags and stores the handle in @p *handle;
 * the caller closes it with tlx_close. Read-only opens take a shared lock,
 * writable ones an exclusive lock (see TLX_O_SHARE_WITH_OWNER).
 * @return 0; TLX_ENOENT; TLX_EACCES (also for a directory or a sharing
 *   conflict); -1 for other failures. */
TLX_API int32_t tlx_open(const wchar_t* path, int32_t flags, int* handle);
/** Closes the file and releases its lock.
 * @return 0 and *handle set to -1; -1 when *handle already is -1 or close
 *   fails. */
TLX_API int32_t tlx_close(int* handle);
/** Reads up to @p count bytes into the caller's @p buffer.
 * @return the bytes read (fewer only at the end of the file), -1 on failure. */
TLX_API int32_t tlx_read(int handle, void* buffer, uint32_t count);
/** Reads up to @p count bytes from @p offset in one call, without a
 * positioning first; where the handle stands afterwards is unspecified.
 * @return the bytes read (fewer only at the end of the file), -1 on failure. */
TLX_API int32_t tlx_pread(int handle, void* buffer, uint32_t count, int32_t offset);
/** Writes @p count bytes from the caller's @p buffer.
 * @return the bytes written (fewer on a partial failure), -1 on failure. */
TLX_API int32_t tlx_write(int handle, const void* buffer, uint32_t count);
/** whence 0 start, 1 current, 2 end; a position past the end is clamped to the
 * end. Returns the new position or -1. */
TLX_API int32_t tlx_lseek(int handle, int32_t offset, int32_t whence);
/** Kinds of failure of this layer's functions (tlx_last_failure). */
enum {
  TLX_FAILURE_NONE = 0,    /**< nothing failed */
  TLX_FAILURE_IO = 1,      /**< the system failed the operation (EIO, ENOSPC, a
                                lost device...) or the fault seam did */
  TLX_FAILURE_INVALID = 2, /**< the request could not be made: an invalid
                                handle or argument, or a position before the
                                start or beyond what 32 bits hold */
  TLX_FAILURE_NOMEM = 3    /**< memory ran out */
};
/** The kind of failure (TLX_FAILURE_*) of the calling thread's last failed
 * call; read it right after a call failed. tlx_read, tlx_write, tlx_lseek and
 * tlx_copy set it on every failure (a short read at the end of the file is
 * none); the functions that allocate memory report its exhaustion as
 * TLX_FAILURE_NOMEM with their ordinary failure value (no exception leaves
 * this layer); tlx_open, tlx_stat_mode and tlx_complete_replace start by
 * setting TLX_FAILURE_NONE. */
TLX_API int32_t tlx_last_failure(void);
/** Flushes the file's data to disk. @return 0, or -1 on failure. */
TLX_API int32_t tlx_fsync(int handle);
/** Copies up to @p count bytes from source's position to target's position
 * and advances both. The kernel copies without a trip through this process
 * where it can; memory use does not depend on count.
 * @return the bytes copied (possibly fewer than count; 0 only at the end of
 * source), -1 when reading failed or -2 when writing failed. */
TLX_API int32_t tlx_copy(int source, int target, uint32_t count);
/** Truncates (or extends) the file at the current position.
 * @return 0, or -1 on failure. */
TLX_API int32_t tlx_set_end_of_file(int handle);
/** Deletes a file (not a directory). @return 0, or -1 on failure. */
TLX_API int32_t tlx_unlink(const wchar_t* path);
/** Replaces target by source (crash-safe: target is always the whole old or
 * the whole new file) and removes source. 0 when target holds source's bytes,
 * even if removing source failed; -1 otherwise (target untouched). */
TLX_API int32_t tlx_rename(const wchar_t* source, const wchar_t* target);
/** Creates a new, empty, hidden file to hold the new content of the file
 * @p target names (a symbolic link is followed): in that file's folder, so
 * that tlx_replace can put it in place with one rename on one file system;
 * in the system's temporary folder when that folder takes no new file.
 * Opens it for reading and writing into @p *handle (the caller closes it with
 * tlx_close) and writes its path into @p out (TLX_MAX_PATH characters). The
 * caller holds target for writing: a file that a crashed edit of target left
 * there is taken over (POSIX).
 * @return 0; -1 (nothing created). */
TLX_API int32_t tlx_create_replacement(const wchar_t* target, wchar_t* out, int* handle);

/** tlx_replace: a file with several names (hard links) is not copied over in
 * place; the name given gets the new content as a file of its own and the
 * other names keep the old one. */
#define TLX_REPLACE_SPLIT_LINKS 0x1

/** Puts the complete content of @p source (made by tlx_create_replacement,
 * closed) in the place of the file @p target names, keeping what that file
 * is: a symbolic link stays and the file it points to changes; owner and
 * group (where the process may set them), permission bits and extended
 * attributes stay. The new content is renamed over the file when that keeps
 * all of these; otherwise (several hard links without
 * TLX_REPLACE_SPLIT_LINKS, a folder that cannot be written, an owner or
 * attribute that cannot be carried over) it is copied over the file in place
 * under a record that tlx_complete_replace uses to finish a copy a crash
 * interrupted. Either way @p target always reads as the whole old or the
 * whole new content, and source is removed on success.
 *
 * @p target_handle (may be null) points at the caller's handle holding
 * target for writing, or at TLX_INVALID_HANDLE: the in-place copy writes
 * through it, keeping the hold; when the file is replaced by a new one (or on
 * platforms that cannot replace an open file) the handle is closed and set
 * to TLX_INVALID_HANDLE, and the caller opens the file again.
 * @return 0 renamed; 1 copied in place; -1 target untouched (source left for
 *   the caller to remove); -2 an in-place copy failed halfway: source and the
 *   record stay, and tlx_complete_replace completes it. */
TLX_API int32_t tlx_replace(const wchar_t* source, const wchar_t* target, int* target_handle,
                            uint32_t flags);
/** Completes an in-place copy of tlx_replace into the file @p target names
 * that a crash interrupted. Costs a stat or two when there is none.
 * @return 1 completed; 0 nothing to complete (also while the process that
 *   copies still holds the file); -1 it cannot be completed now (the record
 *   stays for the next attempt). */
TLX_API int32_t tlx_complete_replace(const wchar_t* target);
/** tlx_open_file: an in-place copy into the file that a crash interrupted
 * cannot be completed now. */
#define TLX_EUNFINISHED (-5)
/** Opens the existing regular file @p path for reading (TLX_O_RDONLY,
 * TLX_O_SHARE_WITH_OWNER honoured) or for reading and writing (TLX_O_RDWR),
 * locked as tlx_open locks, once it is whole: an in-place copy into it that
 * a crash interrupted is completed first (tlx_complete_replace). Anything
 * but a regular file is refused as missing; a named pipe is never waited on.
 * Stores the handle in @p *handle and the file's size in @p *size (-1 for
 * 2 GiB or more).
 * @return 0; TLX_ENOENT (no such regular file, or a path that cannot be
 *   looked up); TLX_EACCES (access refused or a sharing conflict);
 *   TLX_EUNFINISHED; -1 for other failures (tlx_last_failure tells memory
 *   running out). */
TLX_API int32_t tlx_open_file(const wchar_t* path, int32_t flags, int* handle, int32_t* size);
/** Size of a file in bytes; -1 on failure, for a directory, or beyond
 * 2 GiB. */
TLX_API int32_t tlx_getfilesize(const wchar_t* path);
/** Type of what @p path names: TLX_S_IFDIR, TLX_S_IFREG, or TLX_S_ERROR
 * when it does not exist or cannot be queried. */
TLX_API int32_t tlx_stat_mode(const wchar_t* path);
/** Stores the TLX_ATTR_* bits of @p path in @p *flags. @return 0, or -1. */
TLX_API int32_t tlx_get_attributes(const wchar_t* path, uint32_t* flags);
/** Applies TLX_ATTR_READONLY of @p flags to @p path (other bits have no
 * POSIX counterpart and are ignored). @return 0, or -1. */
TLX_API int32_t tlx_set_attributes(const wchar_t* path, uint32_t flags);
/** Creates a directory. @return 0, or -1. */
TLX_API int32_t tlx_mkdir(const wchar_t* path);
/** Removes an empty directory. @return 0, or -1. */
TLX_API int32_t tlx_rmdir(const wchar_t* path);
/** Writes the temporary directory into the caller's buffer of @p size
 * characters.
 * @return characters written (with a trailing separator), 0 on failure. */
TLX_API uint32_t tlx_get_temp_dir(uint32_t size, wchar_t* buffer);
/** Creates a new empty file "id3XXXX..." in directory and writes its path to
 * out (TLX_MAX_PATH characters of room). Non-zero on success. */
TLX_API uint32_t tlx_get_temp_file_name(const wchar_t* directory, wchar_t* out);

/* ---- Byte order --------------------------------------------------------- */
/** 32-bit host to big-endian. */
TLX_API uint32_t tlx_htonl(uint32_t value);
/** 16-bit host to big-endian. */
TLX_API uint16_t tlx_htons(uint16_t value);
/** 32-bit big-endian to host. */
TLX_API uint32_t tlx_ntohl(uint32_t value);
/** 16-bit big-endian to host. */
TLX_API uint16_t tlx_ntohs(uint16_t value);

/* ---- List --------------------------------------------------------------- */
/** A node of a doubly linked list; a list is a pointer to its first node,
 * null when empty. The functions that change a list return its (possibly
 * new) first node; on allocation failure the list is returned unchanged. */
typedef struct tlx_list {
  void* data; /**< the caller's element; never freed by the list */
  struct tlx_list* next; /**< next node, or null */
  struct tlx_list* prev; /**< previous node, or null */
} tlx_list;

/** The first node of the list that @p list belongs to. */
TLX_API tlx_list* tlx_list_first(tlx_list* list);
/** The last node. */
TLX_API tlx_list* tlx_list_last(tlx_list* list);
/** The @p index-th node (from 0), or null. */
TLX_API tlx_list* tlx_list_nth(tlx_list* list, uint32_t index);
/** Appends a node holding @p data. */
TLX_API tlx_list* tlx_list_append(tlx_list* list, void* data);
/** Prepends a node holding @p data. */
TLX_API tlx_list* tlx_list_prepend(tlx_list* list, void* data);
/** Inserts a node holding @p data before the @p index-th node; appends when
 * @p index is negative or past the end. */
TLX_API tlx_list* tlx_list_insert(tlx_list* list, void* data, int32_t index);
/** Removes the first node holding @p data; the element itself is not freed. */
TLX_API tlx_list* tlx_list_remove(tlx_list* list, const void* data);
/** Frees every node from @p list on; the elements are not freed. */
TLX_API void tlx_list_free(tlx_list* list);
/** Number of nodes. */
TLX_API uint32_t tlx_list_length(tlx_list* list);

/* ---- Single-byte text --------------------------------------------------- */
/** Sets the code page of the calling thread for every single-byte
 * conversion (default 1252). Supported: 1250-1258, 932, 936, 949, 950,
 * 65001 (UTF-8).
 * @return 0, or -1 for a code page this system cannot convert. */
TLX_API int32_t tlx_set_thread_code_page(uint32_t code_page);
/** The code page of the calling thread. */
TLX_API uint32_t tlx_get_thread_code_page(void);

/** Shaped like MultiByteToWideChar with the thread's code page: source_length
 * -1 means zero-terminated (the terminator is converted too). With
 * capacity 0 returns the characters needed; else the characters written, or 0
 * when they do not fit. Undecodable bytes become U+FFFD. */
TLX_API int32_t tlx_multibyte_to_wide(const char* source, int32_t source_length,
                                      wchar_t* target, int32_t capacity);
/** Shaped like WideCharToMultiByte; unencodable characters become '?'. */
TLX_API int32_t tlx_wide_to_multibyte(const wchar_t* source, int32_t source_length,
                                      char* target, int32_t capacity);

/** UTF-16 little-endian bytes <-> wide characters. Surrogate pairs are joined
 * on POSIX; a lone surrogate is carried through unchanged both ways (one wide
 * character holding its unit), so that text read and written back is the
 * same. unit_count counts 16-bit units. With capacity 0 these return the size
 * needed. */
TLX_API int32_t tlx_utf16le_to_wide(const unsigned char* bytes, uint32_t unit_count,
                                    wchar_t* target, int32_t capacity);
/** Wide characters to UTF-16 little-endian bytes (see tlx_utf16le_to_wide);
 * a value beyond U+10FFFF becomes U+FFFD. Returns the number of 16-bit units
 * written (or needed). */
TLX_API int32_t tlx_wide_to_utf16le(const wchar_t* source, int32_t source_length,
                                    unsigned char* target, int32_t unit_capacity);

/* ---- Fault injection (test builds only) --------------------------------- */
/** Operations whose failure test builds can inject. */
typedef enum tlx_fault_op {
  TLX_FAULT_READ = 0, /**< tlx_read */
  TLX_FAULT_WRITE,    /**< tlx_write */
  TLX_FAULT_SEEK,     /**< tlx_lseek */
  TLX_FAULT_OPEN,     /**< tlx_open */
  TLX_FAULT_CLOSE,    /**< tlx_close */
  TLX_FAULT_TRUNCATE, /**< tlx_set_end_of_file */
  TLX_FAULT_RENAME,   /**< tlx_rename */
  TLX_FAULT_UNLINK,   /**< tlx_unlink */
  TLX_FAULT_FSYNC,    /**< tlx_fsync */
  TLX_FAULT_OP_COUNT  /**< number of operations */
} tlx_fault_op;

#if defined(TLX_FAULT_INJECTION)
/* Counts every call of each operation on the calling thread; an armed
 * operation fails on its nth call (1-based) after arming, once.
 *
 * The seam points are tlx_open, tlx_read, tlx_write, tlx_lseek, tlx_close,
 * tlx_set_end_of_file, tlx_rename, tlx_unlink and tlx_fsync (a call with
 * invalid arguments is refused before it is counted); tlx_create_replacement
 * counts as an open and tlx_replace as a rename, and inside tlx_replace and
 * tlx_complete_replace each write of an in-place copy (and of its record),
 * its truncation and its syncs count as such; tlx_copy counts as one
 * read and one write, and an injected failure of either copies nothing. An injected failure
 * returns -1 and leaves the file as it was: nothing is opened, created,
 * read, written, moved or removed. The exception is tlx_close, which fails
 * as close(2) does: the descriptor and its lock are released, but the
 * caller's handle keeps its value. Path queries (size, type, attributes,
 * folders, temporary names) are not seam points. */
TLX_API void tlx_fault_reset(void);
TLX_API void tlx_fault_arm(tlx_fault_op op, uint32_t nth);
/* As tlx_fault_arm, but the nth call ends the process at once, as a crash
 * or a kill would (exit status 137), leaving the files as they are. */
TLX_API void tlx_fault_arm_kill(tlx_fault_op op, uint32_t nth);
TLX_API uint32_t tlx_fault_calls(tlx_fault_op op);
TLX_API int tlx_fault_fired(void);
#endif

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_SYSTEM_TLX_SYSTEM_H_ */
