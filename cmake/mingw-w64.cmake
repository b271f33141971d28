# Cross-building for 64-bit Windows with Debian's mingw-w64 (x86_64-w64-mingw32):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# scripts/build-windows does exactly that, with the tests, the command and the benchmarks off.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(triple x86_64-w64-mingw32)
# The "posix" flavour of the compilers: its C++ library has std::mutex and std::thread, which
# the stand-in host needs (the "win32" flavour of GCC 12 has neither). What the threads pull
# in (winpthread) is linked statically below, so nothing of it is needed at run time.
find_program(CMAKE_C_COMPILER NAMES ${triple}-gcc-posix ${triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-posix ${triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres REQUIRED)
set(CMAKE_RC_COMPILER_INIT ${CMAKE_RC_COMPILER})

# Headers and libraries of the target come only from the mingw-w64 tree, programs from the
# build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows keeps the stack 16-byte aligned and GCC does not realign it for the 32- and 64-byte
# AVX spills of the vector FFT paths; the assembler turns every aligned vector move into an
# unaligned one, which costs nothing on the processors that run those paths.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# A module or program that a Windows machine can run as it is: the C++ runtime, libgcc and
# winpthread are linked in, so only system DLLs are imported.
set(static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${static_runtime}")
