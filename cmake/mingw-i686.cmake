# Cross-compiling for 32-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-i686).
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#
# The driver's results must be bit-identical to the 64-bit Linux build's, so all
# floating-point work is done in SSE2 registers at double precision: the x87 unit and
# its 80-bit intermediates are never used for arithmetic. printf-style formatting and
# number parsing come from the MinGW runtime's own C99 implementation rather than
# msvcrt's, whose rounding of "%.3f" and exponent format differ from glibc's.
# libgcc and libstdc++ are linked statically so the programs need only DLLs that ship
# with Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KVRAC_MINGW_TRIPLE i686-w64-mingw32)
# The win32 thread-model compiler needs no winpthread DLL.
find_program(CMAKE_CXX_COMPILER NAMES ${KVRAC_MINGW_TRIPLE}-g++-win32 ${KVRAC_MINGW_TRIPLE}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KVRAC_MINGW_TRIPLE}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${KVRAC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -ffp-contract=off -D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# Programs built here run under Wine on Linux.
find_program(KVRAC_WINE NAMES wine)
if(KVRAC_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KVRAC_WINE})
endif()
