# Cross build for 64-bit Windows with Debian's mingw-w64; its tests run under
# Wine's 64-bit loader.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(METERLOAD_WINE_ARCH x64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
