# Cross-building for 64-bit Windows with Debian's mingw-w64 toolchain (the
# POSIX thread model, which std::thread needs). Libraries come from
# CORVELLA_WINDOWS_PREFIX, where tools/windows/build-deps put them; the
# programs built run under wine for tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-ar)
set(CMAKE_RANLIB ${triple}-ranlib)

if(NOT CORVELLA_WINDOWS_PREFIX AND DEFINED ENV{CORVELLA_WINDOWS_PREFIX})
  set(CORVELLA_WINDOWS_PREFIX $ENV{CORVELLA_WINDOWS_PREFIX})
endif()
if(NOT CORVELLA_QT_PREFIX AND DEFINED ENV{CORVELLA_QT_PREFIX})
  set(CORVELLA_QT_PREFIX $ENV{CORVELLA_QT_PREFIX})
endif()
# Qt for Windows, where tools/windows/build-qt put it, with Debian's Qt as
# the host tools (moc, rcc, uic).
set(CMAKE_FIND_ROOT_PATH /usr/${triple} ${CORVELLA_WINDOWS_PREFIX} ${CORVELLA_QT_PREFIX})
set(CMAKE_PREFIX_PATH ${CORVELLA_WINDOWS_PREFIX} ${CORVELLA_QT_PREFIX})
if(CORVELLA_QT_PREFIX)
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config finds only what was built for Windows.
set(ENV{PKG_CONFIG_LIBDIR} ${CORVELLA_WINDOWS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# One file, no DLLs beside it: the C and C++ runtimes and winpthreads linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
