# Cross build for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64).
# The -posix compilers use the winpthreads thread model: the win32 model has no std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw_triple}-windres)
set(CMAKE_AR ${_mingw_triple}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${_mingw_triple}-gcc-ranlib-posix CACHE FILEPATH "Ranlib")

# Libraries and headers come from the mingw-w64 sysroot only; host programs (glad's
# python, ImageMagick, windres) stay usable.
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the C and C++ runtimes and winpthreads are linked in,
# so the program needs nothing but the DLLs every Windows installation has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Header-only JSON library of the host (nlohmann-json3-dev); the Windows dependency
# module narrows its include path to the library's own folder.
set(nlohmann_json_DIR /usr/share/cmake/nlohmann_json CACHE PATH "nlohmann_json package configuration")
