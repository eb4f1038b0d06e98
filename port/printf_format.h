// PORT_PRINTF_FORMAT(f, a): the compiler checks the arguments from the a-th
// on against the printf format in the f-th, in the C99 dialect the library's
// formatting follows (a Windows compiler would check against the older
// dialect of the system's runtime, which lacks %zu and %lld).
#pragma once

#if defined(_WIN32) && defined(__GNUC__) && !defined(__clang__)
#define PORT_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define PORT_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif
