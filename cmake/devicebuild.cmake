# The device program, built with the Windows CE ARM toolchain as an external
# project in build/device (build/device/shell/setup.exe), whenever the
# toolchain is installed (scripts/ce-toolchain.sh).  Without it the build
# goes on and the device checks report that they were skipped; with
# -DVELKOR_REQUIRE_DEVICE=ON (CI) a missing toolchain stops the build.
set(MINGW32CE_PREFIX /opt/mingw32ce CACHE PATH "Where the arm-mingw32ce toolchain is installed")
option(VELKOR_REQUIRE_DEVICE "Fail when the Windows CE toolchain is missing" OFF)
set(VELKOR_DEVICE_DIR ${CMAKE_BINARY_DIR}/device)
if(VELKOR_PROGRAMS_FROM)
  # Built in another tree (the release tree of the Debian package test):
  # the same bytes, since the device build depends on neither tree's path.
  set(VELKOR_DEVICE_DIR ${VELKOR_PROGRAMS_FROM}/device)
  if(EXISTS ${VELKOR_DEVICE_DIR}/shell/setup.exe)
    set(VELKOR_DEVICE_BUILT ON)
  elseif(VELKOR_REQUIRE_DEVICE)
    message(FATAL_ERROR "No device program in ${VELKOR_DEVICE_DIR}/shell")
  else()
    set(VELKOR_DEVICE_BUILT OFF)
  endif()
  add_custom_target(windows)
  add_custom_target(device)
elseif(EXISTS ${MINGW32CE_PREFIX}/bin/arm-mingw32ce-g++)
  set(VELKOR_DEVICE_BUILT ON)
  ExternalProject_Add(device
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${VELKOR_DEVICE_DIR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/arm-mingw32ce.cmake
               -DMINGW32CE_PREFIX=${MINGW32CE_PREFIX}
               -DCMAKE_BUILD_TYPE=MinSizeRel
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON
    BUILD_BYPRODUCTS ${VELKOR_DEVICE_DIR}/shell/setup.exe ${VELKOR_DEVICE_DIR}/setup.map
    INSTALL_COMMAND "")
elseif(VELKOR_REQUIRE_DEVICE)
  message(FATAL_ERROR "No Windows CE toolchain in ${MINGW32CE_PREFIX}: scripts/ce-toolchain.sh installs it")
else()
  set(VELKOR_DEVICE_BUILT OFF)
  message(STATUS "Device build skipped: no Windows CE toolchain in ${MINGW32CE_PREFIX} (scripts/ce-toolchain.sh installs it)")
endif()
