# Cross build for 32-bit Windows with Debian's mingw-w64; its tests run under
# Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(METERLOAD_WINE_ARCH x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
