# Shared part of the mingw toolchain files; ITR_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${ITR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ITR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ITR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ITR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# A bare Windows has no libstdc++/libgcc/winpthread DLLs: link them in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
