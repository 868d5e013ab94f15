/// @file base/base_export.h
/// @brief Export and format-check markers of the base library.
#ifndef BASE_EXPORT_H
#define BASE_EXPORT_H

/// @def BASE_API
/// Marks what the shared library exports: default visibility with GCC and Clang, dllexport while
/// the library itself is built on Windows and dllimport in hosts there.

/// @def BASE_PRINTF_LIKE
/// Lets GCC and Clang check a printf-style call: @p fmt is the position of the format argument,
/// @p args that of the first variable argument (0 for a va_list), counting the implicit this.

#if defined(_WIN32)
#if defined(BASE_BUILDING_LIBRARY)
#define BASE_API __declspec(dllexport)
#else
#define BASE_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define BASE_API __attribute__((visibility("default")))
#else
#define BASE_API
#endif

#if defined(__GNUC__) || defined(__clang__)
#define BASE_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define BASE_PRINTF_LIKE(fmt, args)
#endif

#endif  // BASE_EXPORT_H
