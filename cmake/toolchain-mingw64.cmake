# Cross-builds the Windows (64-bit) targets with Debian's MinGW-w64 toolchain, posix thread
# model (std::mutex and std::thread, which GoogleTest needs). Programs link libgcc, libstdc++ and
# winpthread statically, so an .exe runs without any MinGW DLL beside it. When Wine is installed,
# CTest and GoogleTest's test discovery run the .exe files through it.
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

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(UPDATER_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(UPDATER_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${UPDATER_WINE64})
endif()
