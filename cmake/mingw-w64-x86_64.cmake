# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix). The programs are linked statically, so they
# need no DLL beyond those that come with Windows. Where Wine is installed,
# it runs the Windows test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OP_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's wine64 package keeps its loader in /usr/lib/wine; the wine
# package adds /usr/bin/wine in front of it.
find_program(OP_WINE NAMES wine64 wine HINTS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(OP_WINE)
  # Wine's own diagnostics and the offer to install Mono and Gecko would
  # only get in the way of the test output.
  set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" ${OP_WINE})
endif()
