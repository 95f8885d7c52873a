# Cross-compiling to 64-bit Windows with Debian's MinGW-w64 (posix threads
# flavour, which std::thread needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VS_MINGW_TRIPLE}-windres)
set(CMAKE_ASM_NASM_COMPILER nasm)

# Headers and libraries come from the MinGW sysroot and, when given, the
# prefix of cross-built image libraries (VS_MINGW_PREFIX).
set(CMAKE_FIND_ROOT_PATH /usr/${VS_MINGW_TRIPLE})
if(DEFINED ENV{VS_MINGW_PREFIX})
  set(VS_MINGW_PREFIX $ENV{VS_MINGW_PREFIX})
endif()
if(VS_MINGW_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${VS_MINGW_PREFIX})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VS_MINGW_PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static archives first, so nothing needs a DLL beside the programs.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a .dll.a)
