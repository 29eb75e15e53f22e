# Cross build for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads flavour, which
# std::thread and std::mutex need with this compiler). Libraries built for Windows are looked
# for under MORVANE_WIN_PREFIX (scripts/windows-deps.sh fills it) and MinGW's own folder only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MORVANE_WIN_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MORVANE_WIN_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORVANE_WIN_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MORVANE_WIN_TRIPLET}-windres)

if(NOT MORVANE_WIN_PREFIX)
  set(MORVANE_WIN_PREFIX ${CMAKE_CURRENT_LIST_DIR}/../build-win-deps/prefix)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${MORVANE_WIN_TRIPLET} ${MORVANE_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs that run on Windows, built here, are started through Wine.
find_program(MORVANE_WINE NAMES wine64 wine)
if(MORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MORVANE_WINE})
endif()
