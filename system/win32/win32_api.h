/* The one place that includes the Windows headers, for the files of this
 * folder only. */
#ifndef TAGKIT_SYSTEM_WIN32_WIN32_API_H_
#define TAGKIT_SYSTEM_WIN32_WIN32_API_H_

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#endif /* TAGKIT_SYSTEM_WIN32_WIN32_API_H_ */
