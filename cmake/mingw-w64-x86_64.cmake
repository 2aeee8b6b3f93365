# Cross build of the GUI-free core for 64-bit Windows with mingw-w64, run under Wine.
# scripts/test-windows configures with it, together with -DTESSARIN_CORE_ONLY=ON,
# -DTESSARIN_BENCH=OFF and GTest_DIR pointing at a GoogleTest built by this same file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSARIN_MINGW_TRIPLE x86_64-w64-mingw32)
# The POSIX-threads flavour: the win32 flavour has no std::thread or std::mutex in GCC 12.
set(CMAKE_C_COMPILER ${TESSARIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSARIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSARIN_MINGW_TRIPLE}-windres)

# Libraries and headers of the target only; programs (code generators, Wine) of the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TESSARIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and tools run through Wine, quietly, without a display, in the prefix that
# WINEPREFIX names.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
