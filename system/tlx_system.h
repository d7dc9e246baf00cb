/* Portable system layer: files, memory, temporary names, byte order, the
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
TLX_API void* tlx_sqa_malloc(size_t size);
TLX_API void* tlx_sqa_calloc(size_t size);
/* length bytes copied, then a zero byte. */
TLX_API char* tlx_sqa_strndup(const char* text, size_t length);
/* length characters copied, then a zero character. */
TLX_API wchar_t* tlx_sqa_wcsndup(const wchar_t* text, size_t length);
TLX_API void tlx_sqa_free(void* block);

/* ---- Files -------------------------------------------------------------- */
#define TLX_INVALID_HANDLE (-1)

#define TLX_O_RDONLY 0x000
#define TLX_O_WRONLY 0x001
#define TLX_O_RDWR 0x002
#define TLX_O_CREAT 0x040
#define TLX_O_EXCL 0x080
#define TLX_O_TRUNC 0x200

/* Failures of tlx_open. */
#define TLX_EACCES (-13) /* access refused, sharing conflict, or already exists */
#define TLX_ENOENT (-2)  /* not found */

/* tlx_stat_mode results; only a regular file has the low 16 bits negative. */
#define TLX_S_IFDIR 0x4000
#define TLX_S_IFREG 0x8000
#define TLX_S_ERROR ((int32_t)0xFFFF3FFF)

/* tlx_get_attributes / tlx_set_attributes bits. */
#define TLX_ATTR_READONLY 0x01
#define TLX_ATTR_HIDDEN 0x02
#define TLX_ATTR_SYSTEM 0x04
#define TLX_ATTR_DIRECTORY 0x10
#define TLX_ATTR_ARCHIVE 0x20

/* Room for a temporary path, terminator included. */
#ifdef _WIN32
#define TLX_MAX_PATH 260
#else
#define TLX_MAX_PATH 4096
#endif

/* Sharing. A file opened read only may be shared with other readers; a file
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
TLX_API void tlx_share_with_owner_begin(void);
TLX_API void tlx_share_with_owner_end(void);

TLX_API int32_t tlx_open(const wchar_t* path, int32_t flags, int* handle);
/* 0 and *handle set to -1; -1 when *handle already is -1 or close fails. */
TLX_API int32_t tlx_close(int* handle);
TLX_API int32_t tlx_read(int handle, void* buffer, uint32_t count);
TLX_API int32_t tlx_write(int handle, const void* buffer, uint32_t count);
/* whence 0 start, 1 current, 2 end; a position past the end is clamped to the
 * end. Returns the new position or -1. */
TLX_API int32_t tlx_lseek(int handle, int32_t offset, int32_t whence);
TLX_API int32_t tlx_fsync(int handle);
/* Truncates (or extends) the file at the current position. */
TLX_API int32_t tlx_set_end_of_file(int handle);
TLX_API int32_t tlx_unlink(const wchar_t* path);
/* Replaces target by source (crash-safe: target is always the whole old or
 * the whole new file) and removes source. 0 when target holds source's bytes,
 * even if removing source failed; -1 otherwise (target untouched). */
TLX_API int32_t tlx_rename(const wchar_t* source, const wchar_t* target);
TLX_API int32_t tlx_getfilesize(const wchar_t* path);
TLX_API int32_t tlx_stat_mode(const wchar_t* path);
TLX_API int32_t tlx_get_attributes(const wchar_t* path, uint32_t* flags);
TLX_API int32_t tlx_set_attributes(const wchar_t* path, uint32_t flags);
TLX_API int32_t tlx_mkdir(const wchar_t* path);
TLX_API int32_t tlx_rmdir(const wchar_t* path);
/* Characters written (with a trailing separator), 0 on failure. */
TLX_API uint32_t tlx_get_temp_dir(uint32_t size, wchar_t* buffer);
/* Creates a new empty file "id3XXXX..." in directory and writes its path to
 * out (TLX_MAX_PATH characters of room). Non-zero on success. */
TLX_API uint32_t tlx_get_temp_file_name(const wchar_t* directory, wchar_t* out);

/* ---- Byte order --------------------------------------------------------- */
TLX_API uint32_t tlx_htonl(uint32_t value);
TLX_API uint16_t tlx_htons(uint16_t value);
TLX_API uint32_t tlx_ntohl(uint32_t value);
TLX_API uint16_t tlx_ntohs(uint16_t value);

/* ---- List --------------------------------------------------------------- */
typedef struct tlx_list {
  void* data; /* the caller's element; never freed by the list */
  struct tlx_list* next;
  struct tlx_list* prev;
} tlx_list;

TLX_API tlx_list* tlx_list_first(tlx_list* list);
TLX_API tlx_list* tlx_list_last(tlx_list* list);
TLX_API tlx_list* tlx_list_nth(tlx_list* list, uint32_t index);
TLX_API tlx_list* tlx_list_append(tlx_list* list, void* data);
TLX_API tlx_list* tlx_list_prepend(tlx_list* list, void* data);
TLX_API tlx_list* tlx_list_insert(tlx_list* list, void* data, int32_t index);
TLX_API tlx_list* tlx_list_remove(tlx_list* list, const void* data);
TLX_API void tlx_list_free(tlx_list* list);
TLX_API uint32_t tlx_list_length(tlx_list* list);

/* ---- Single-byte text --------------------------------------------------- */
/* The code page of the calling thread for every single-byte conversion
 * (default 1252). Supported: 1250-1258, 932, 936, 949, 950, 65001 (UTF-8).
 * Returns 0, or -1 for a code page this system cannot convert. */
TLX_API int32_t tlx_set_thread_code_page(uint32_t code_page);
TLX_API uint32_t tlx_get_thread_code_page(void);

/* Shaped like MultiByteToWideChar with the thread's code page: source_length
 * -1 means zero-terminated (the terminator is converted too). With
 * capacity 0 returns the characters needed; else the characters written, or 0
 * when they do not fit. Undecodable bytes become U+FFFD. */
TLX_API int32_t tlx_multibyte_to_wide(const char* source, int32_t source_length,
                                      wchar_t* target, int32_t capacity);
/* Shaped like WideCharToMultiByte; unencodable characters become '?'. */
TLX_API int32_t tlx_wide_to_multibyte(const wchar_t* source, int32_t source_length,
                                      char* target, int32_t capacity);

/* UTF-16 little-endian bytes <-> wide characters (surrogate pairs are joined
 * on POSIX; lone surrogates become U+FFFD). unit_count counts 16-bit units.
 * With capacity 0 these return the size needed. */
TLX_API int32_t tlx_utf16le_to_wide(const unsigned char* bytes, uint32_t unit_count,
                                    wchar_t* target, int32_t capacity);
/* Returns the number of 16-bit units written (or needed). */
TLX_API int32_t tlx_wide_to_utf16le(const wchar_t* source, int32_t source_length,
                                    unsigned char* target, int32_t unit_capacity);

/* ---- Fault injection (test builds only) --------------------------------- */
typedef enum tlx_fault_op {
  TLX_FAULT_READ = 0,
  TLX_FAULT_WRITE,
  TLX_FAULT_SEEK,
  TLX_FAULT_OPEN,
  TLX_FAULT_CLOSE,
  TLX_FAULT_TRUNCATE,
  TLX_FAULT_RENAME,
  TLX_FAULT_UNLINK,
  TLX_FAULT_FSYNC,
  TLX_FAULT_OP_COUNT
} tlx_fault_op;

#if defined(TLX_FAULT_INJECTION)
/* Counts every call of each operation on the calling thread; an armed
 * operation fails on its nth call (1-based) after arming, once.
 *
 * The seam points are tlx_open, tlx_read, tlx_write, tlx_lseek, tlx_close,
 * tlx_set_end_of_file, tlx_rename, tlx_unlink and tlx_fsync (a call with
 * invalid arguments is refused before it is counted). An injected failure
 * returns -1 and leaves the file as it was: nothing is opened, created,
 * read, written, moved or removed. The exception is tlx_close, which fails
 * as close(2) does: the descriptor and its lock are released, but the
 * caller's handle keeps its value. Path queries (size, type, attributes,
 * folders, temporary names) are not seam points. */
TLX_API void tlx_fault_reset(void);
TLX_API void tlx_fault_arm(tlx_fault_op op, uint32_t nth);
TLX_API uint32_t tlx_fault_calls(tlx_fault_op op);
TLX_API int tlx_fault_fired(void);
#endif

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* TAGKIT_SYSTEM_TLX_SYSTEM_H_ */
