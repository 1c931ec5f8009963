# Cross build of the Windows engine from Debian with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix; tools/setup-debian.sh --windows installs it):
#
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-mingw -j2 --target pbrain-orvalis
#
# The posix flavour of the compiler is the one whose libstdc++ has std::thread
# and std::mutex (on winpthread). Everything is linked statically so that
# pbrain-orvalis.exe needs no DLL beside it, only those Windows itself ships.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static covers libstdc++, libgcc and winpthread alike.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs and the Linux test tools are not cross-built; the wine tests
# run the Linux test binary against the .exe instead (tests/windows/).
set(BUILD_TESTING OFF CACHE BOOL "Cross build: no test binaries")

