# What both mingw-w64 toolchain files share; they set VELMOR_MINGW_TRIPLET
# first. The posix thread model gives std::thread and std::mutex; the
# programs link the compiler's and the thread library's runtime statically so
# that each runs with nothing but the system's own DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VELMOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELMOR_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELMOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
