# The same Windows code built for 64-bit wine: this machine's kernel cannot
# run 32-bit processes natively, so the Windows-side tests run this build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(POLVEX_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
