# Cross-builds the 64-bit Windows binaries with Debian's MinGW-w64 (posix thread model):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# ctest then runs the Windows test programs under Wine (wine64), with its prefix in the
# build folder.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread (which the posix libstdc++ needs) linked in, so no DLL
# needs a compiler runtime beside it. The C runtime stays the system's msvcrt.dll, shared by
# host and plug-in for malloc and free.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# The header-only libraries come from the build machine, but /usr/include, where some of
# them live, must not be searched for a Windows build: a second root holds links to just them
# (with their CMake packages, whose include paths are found relative to themselves).
set(BUILD_MACHINE_HEADERS include/eigen3 include/TooN include/CLI include/stb
    share/eigen3 share/cmake/CLI11)
if(NOT CMAKE_IN_TRY_COMPILE)
  set(_header_root ${CMAKE_BINARY_DIR}/build-machine-headers)
  foreach(_entry ${BUILD_MACHINE_HEADERS})
    get_filename_component(_parent ${_header_root}/usr/${_entry} DIRECTORY)
    if(EXISTS /usr/${_entry} AND NOT EXISTS ${_header_root}/usr/${_entry})
      file(MAKE_DIRECTORY ${_parent})
      file(CREATE_LINK /usr/${_entry} ${_header_root}/usr/${_entry} SYMBOLIC)
    endif()
  endforeach()
  list(APPEND CMAKE_FIND_ROOT_PATH ${_header_root})
endif()

# Test programs run under Wine; first use creates the prefix.
find_program(WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(WINE64 AND NOT CMAKE_CROSSCOMPILING_EMULATOR AND NOT CMAKE_IN_TRY_COMPILE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINE64=${WINE64}
      ${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh)
endif()
