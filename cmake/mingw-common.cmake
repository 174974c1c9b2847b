# The -posix compilers: GoogleTest needs std::mutex, which the win32 thread
# model lacks.
set(CMAKE_C_COMPILER ${POLVEX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${POLVEX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${POLVEX_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${POLVEX_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static runtime: nothing but system DLLs and msvcrt.dll beside the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
