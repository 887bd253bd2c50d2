# Cross-build for 64-bit Windows with Debian's MinGW-w64 (posix threads, for
# std::thread and std::shared_mutex). Dependencies live in DEMO_MINGW_PREFIX,
# filled by scripts/build-windows.sh; programs run here under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT DEMO_MINGW_PREFIX)
  set(DEMO_MINGW_PREFIX "$ENV{DEMO_MINGW_PREFIX}")
endif()
# try_compile re-reads this file without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DEMO_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${DEMO_MINGW_PREFIX})
set(CMAKE_PREFIX_PATH ${DEMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see the cross prefix only, never the host's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} "${DEMO_MINGW_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

find_program(DEMO_WINE NAMES wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DEMO_WINE})
