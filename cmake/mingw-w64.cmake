# Cross build for 64-bit Windows with MinGW-w64 (posix threads), programs linked statically so
# that each .exe needs only the system's own DLLs. Tests run through Wine.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DCUBESEC_WIN_DEPS=$PWD/build-win-deps
#
# CUBESEC_WIN_DEPS is the prefix that scripts/install-windows-deps fills (SQLite, GoogleTest,
# nlohmann-json built or copied for this target).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

if(NOT CUBESEC_WIN_DEPS)
  get_filename_component(CUBESEC_WIN_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build-win-deps" ABSOLUTE)
endif()
# try_compile projects see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CUBESEC_WIN_DEPS)

# Headers and libraries come from the MinGW sysroot and the dependency prefix only: the host's
# /usr/include would mix Linux headers into the build.
set(CMAKE_FIND_ROOT_PATH /usr/${_triple} ${CUBESEC_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# -O2 as in the Linux build: GCC 12 at -O3 warns falsely about overlapping copies inside
# std::string (-Wrestrict), and warnings are errors here.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE "-s" CACHE STRING "")

# Debian puts the 64-bit Wine loader in the wine64 package's library folder, off PATH.
find_program(CUBESEC_WINE64 NAMES wine64
  PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine /usr/libexec/wine NO_DEFAULT_PATH)
find_program(CUBESEC_WINE64 NAMES wine64 wine)
if(CUBESEC_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CUBESEC_WINE64})
endif()
