# Cross-builds codec for 64-bit Windows with Debian's MinGW-w64 (posix thread model) against the
# dependencies scripts/windows-build puts in CODEC_MINGW_PREFIX:
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CODEC_MINGW_HOST x86_64-w64-mingw32)
# The posix thread model: GCC 12's win32 one has no std::thread or std::mutex.
set(CMAKE_C_COMPILER ${CODEC_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CODEC_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${CODEC_MINGW_HOST}-windres)

if(NOT CODEC_MINGW_PREFIX)
  if(DEFINED ENV{CODEC_MINGW_PREFIX})
    set(CODEC_MINGW_PREFIX "$ENV{CODEC_MINGW_PREFIX}")
  else()
    set(CODEC_MINGW_PREFIX "$ENV{HOME}/.cache/codec-mingw-7.1")
  endif()
endif()
set(CODEC_MINGW_PREFIX "${CODEC_MINGW_PREFIX}" CACHE PATH "What scripts/windows-build built")
set(CODEC_FFMPEG_PREFIX "${CODEC_MINGW_PREFIX}" CACHE PATH "" FORCE)
# Try-compiles see the cache variable too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CODEC_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${CODEC_MINGW_HOST} ${CODEC_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Only the Windows builds' pkg-config files, never the machine's own.
set(ENV{PKG_CONFIG_LIBDIR} "${CODEC_MINGW_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Programs built here run under Wine (tests, the demo).
find_program(CODEC_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(CODEC_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CODEC_WINE})
endif()
# Test programs are listed when the tests run, where Wine and its DLL path are set up.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
