# The device build: setup.exe for Pocket PC (Windows CE 5, ARM) with the
# public GCC port to Windows CE, target arm-mingw32ce.  Not run on the
# machines this project is tested on (README, "Building for the device").
#
#   cmake -S . -B build-ce -DCMAKE_TOOLCHAIN_FILE=cmake/arm-mingw32ce.cmake
#   cmake --build build-ce
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(VELKOR_DEVICE ON CACHE BOOL "Build the device program only" FORCE)
set(TOOLCHAIN_PREFIX arm-mingw32ce)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /opt/mingw32ce/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Windows CE 5.0; UTF-16 everywhere; no C++ runtime in the program.
set(VELKOR_DEVICE_DEFINITIONS _WIN32_WCE=0x502 UNDER_CE UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions -fno-rtti")
# The port's start-up code calls WinMain with the command line in UTF-16;
# the program's entry is wWinMain, as on the desktop.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--subsystem,windowsce:5.02 -Wl,--defsym,WinMain=wWinMain -static-libgcc")
