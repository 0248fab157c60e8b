# Cross build for 64-bit Windows with MinGW-w64: the win64 preset, and the
# 64-bit companion of the 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Windows-side tests run under the 64-bit loader, called directly: the
# wrapper `wine` picks the 32-bit one whenever it is installed, even where
# the kernel cannot run it.
find_program(WINE_EXECUTABLE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(WINE_EXECUTABLE NAMES wine64)
if(WINE_EXECUTABLE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
endif()
