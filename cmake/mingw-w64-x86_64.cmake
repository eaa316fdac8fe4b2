# Cross-build for 64-bit Windows with Debian's mingw-w64 (the posix thread variant, so
# std::thread works). The C++ runtime is linked in: the .exe needs only Windows' DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# OLVARO_WINDOWS_DEPS: where scripts/windows.sh installs the libraries it cross-builds.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${OLVARO_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 10 calls (WSAPoll, DnsServiceRegister); UTF-16 "W" functions by default; the
# C runtime's POSIX names for the reentrant time calls (localtime_r).
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _FILE_OFFSET_BITS=64 _POSIX_THREAD_SAFE_FUNCTIONS)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
