/** @file
 * Export markers for libtagkit: everything else stays hidden. */
#ifndef TAGKIT_SYSTEM_TLX_EXPORT_H_
#define TAGKIT_SYSTEM_TLX_EXPORT_H_

#if defined(_WIN32)
#if defined(TAGKIT_BUILDING)
#define TLX_API __declspec(dllexport)
#else
#define TLX_API __declspec(dllimport)
#endif
#else
/** Marks a declaration exported from libtagkit. */
#define TLX_API __attribute__((visibility("default")))
#endif

#endif /* TAGKIT_SYSTEM_TLX_EXPORT_H_ */
