# The device build: setup.exe for Pocket PC (Windows CE 5, ARM) with the
# GCC port to Windows CE, target arm-mingw32ce (scripts/ce-toolchain.sh
# installs it under /opt/mingw32ce).
#
#   cmake -S . -B build-ce -DCMAKE_TOOLCHAIN_FILE=cmake/arm-mingw32ce.cmake
#   cmake --build build-ce                  # build-ce/shell/setup.exe
#
# -DMINGW32CE_PREFIX=DIR (or the environment variable of that name) names
# another installation; PATH is never searched.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(VELKOR_DEVICE ON CACHE BOOL "Build the device program only" FORCE)
if(NOT MINGW32CE_PREFIX)
  if(DEFINED ENV{MINGW32CE_PREFIX})
    set(MINGW32CE_PREFIX $ENV{MINGW32CE_PREFIX})
  else()
    set(MINGW32CE_PREFIX /opt/mingw32ce)
  endif()
endif()
set(MINGW32CE_PREFIX ${MINGW32CE_PREFIX} CACHE PATH "Where the arm-mingw32ce toolchain is installed")
# try_compile runs this file again in its own project; hand the prefix on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW32CE_PREFIX)
set(TOOLCHAIN_PREFIX arm-mingw32ce)
set(CMAKE_C_COMPILER ${MINGW32CE_PREFIX}/bin/${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW32CE_PREFIX}/bin/${TOOLCHAIN_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${MINGW32CE_PREFIX}/bin/${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_AR ${MINGW32CE_PREFIX}/bin/${TOOLCHAIN_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MINGW32CE_PREFIX}/bin/${TOOLCHAIN_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${MINGW32CE_PREFIX}/bin/${TOOLCHAIN_PREFIX}-strip CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${MINGW32CE_PREFIX}/bin/${TOOLCHAIN_PREFIX}-objdump CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH ${MINGW32CE_PREFIX}/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Windows CE 5.0 with the common controls of IE 4 (InitCommonControlsEx);
# UTF-16 everywhere; no C++ runtime in the program.
set(VELKOR_DEVICE_DEFINITIONS _WIN32_WCE=0x502 UNDER_CE _WIN32_IE=0x0400 UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions -fno-rtti")
# This ld names the subsystem "wince"; without the version it writes 3.00.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--subsystem,wince:5.02 -static-libgcc")

# CMake's Windows platform adds the desktop's libraries to every link, its
# own compiler checks included; the device has none of them.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
