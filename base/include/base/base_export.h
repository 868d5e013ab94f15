#ifndef BASE_EXPORT_H
#define BASE_EXPORT_H

#if defined(_WIN32)
#  if defined(BASE_BUILDING_LIBRARY)
#    define BASE_API __declspec(dllexport)
#  else
#    define BASE_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) || defined(__clang__)
#  define BASE_API __attribute__((visibility("default")))
#else
#  define BASE_API
#endif

#if defined(__GNUC__) || defined(__clang__)
#  define BASE_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#  define BASE_PRINTF_LIKE(fmt, args)
#endif

#endif  // BASE_EXPORT_H
