/* The interpreter configuration that CPython's headers read under the
 * limited API (Py_LIMITED_API=0x03090000), for macOS 11 and later on arm64
 * and x86_64: what scripts/compile_targets.sh builds the macOS targets
 * against, beside the Include/ folder of a CPython 3.11 source tree. A build
 * on a Mac uses that interpreter's own pyconfig.h instead.
 *
 * Of the hundreds of macros configure writes, these are the ones the headers
 * consult outside the unlimited API (Include/cpython/, Include/internal/):
 * type sizes, the presence of a few system headers and of fork(), and the
 * interpreter's build options. pymacconfig.h, which Python.h includes after
 * this file on Apple's systems, sets the sizes that differ between
 * processors again from the compiler's own macros. Every size is checked
 * against the compiler below, so a wrong one stops the build. The values are
 * those of a release build of CPython on macOS (no Py_DEBUG, no
 * Py_TRACE_REFS, a shared library).
 */
#ifndef Py_PYCONFIG_H
#define Py_PYCONFIG_H

/* Configure asks for Darwin's own extensions and no strict POSIX or X/Open
 * mode on macOS, which would hide them. */
#define _DARWIN_C_SOURCE 1
#define _FILE_OFFSET_BITS 64
#define _LARGEFILE_SOURCE 1

#define SIZEOF_INT 4
#define SIZEOF_LONG 8
#define SIZEOF_LONG_LONG 8
#define SIZEOF_PID_T 4
#define SIZEOF_SIZE_T 8
#define SIZEOF_VOID_P 8
#define SIZEOF_TIME_T 8
#define SIZEOF_UINTPTR_T 8
#define SIZEOF_PTHREAD_T 8
#define SIZEOF_WCHAR_T 4
#define SIZEOF__BOOL 1

#define HAVE_SSIZE_T 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TIME_H 1
#define HAVE_SYS_SELECT_H 1
#define HAVE_LANGINFO_H 1
#define HAVE_WCHAR_H 1
#define HAVE_FORK 1

#define Py_ENABLE_SHARED 1
#define WITH_DOC_STRINGS 1
#define WITH_PYMALLOC 1

#if defined(__APPLE__) && !defined(__ASSEMBLER__)
#  include <stddef.h>
#  include <stdint.h>
#  include <sys/types.h>
#  include <pthread.h>
#  include <time.h>
#  define PYCONFIG_SIZE_IS(type, size) \
     typedef char pyconfig_size_check_##size[sizeof(type) == (size) ? 1 : -1]
PYCONFIG_SIZE_IS(int, SIZEOF_INT);
PYCONFIG_SIZE_IS(long long, SIZEOF_LONG_LONG);
PYCONFIG_SIZE_IS(pid_t, SIZEOF_PID_T);
PYCONFIG_SIZE_IS(wchar_t, SIZEOF_WCHAR_T);
#  undef PYCONFIG_SIZE_IS
#  define PYCONFIG_SAME_SIZE(a, b, name) typedef char pyconfig_size_check_##name[sizeof(a) == sizeof(b) ? 1 : -1]
PYCONFIG_SAME_SIZE(long, void*, long);
PYCONFIG_SAME_SIZE(size_t, void*, size_t);
PYCONFIG_SAME_SIZE(time_t, void*, time_t);
PYCONFIG_SAME_SIZE(uintptr_t, void*, uintptr_t);
PYCONFIG_SAME_SIZE(pthread_t, void*, pthread_t);
#  undef PYCONFIG_SAME_SIZE
#endif

#endif /* Py_PYCONFIG_H */
