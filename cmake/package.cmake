# What `cmake --install` puts where, and the Debian package made from it
# (scripts/package.sh: a release tree, then `cpack` in it:
# velkor_<version>_amd64.deb).  Installed, velkor finds its data in
# ../share/velkor beside its own folder:
#   bin/velkor
#   share/velkor/bench.sh                  the Wine bench (preview, try)
#   share/velkor/device/setup.exe          the setup program for the Pocket PC (ARM), the stub
#                                          `build` writes packages onto
#   share/velkor/desktop/setup.exe         its desktop build, which the Wine bench runs (`try`,
#                                          `preview`, `build --desktop-stub`)
#   share/velkor/desktop/wceload.exe       the device installer's stand-in (try)
#   share/velkor/desktop/robot.exe, robotlens.dll, linkcatcher.exe   what the bench runs
#   share/man/man1/velkor*.1, share/bash-completion/completions/velkor
install(PROGRAMS ${CMAKE_SOURCE_DIR}/tests/wine/bench.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/velkor)
if(VELKOR_DEVICE_BUILT)
  install(PROGRAMS ${VELKOR_DEVICE_DIR}/shell/setup.exe DESTINATION ${CMAKE_INSTALL_DATADIR}/velkor/device)
else()
  message(WARNING "No device program: the installation holds no stub for `velkor build` (scripts/ce-toolchain.sh)")
endif()
if(VELKOR_WINDOWS OR VELKOR_PROGRAMS_FROM)
  foreach(program setup wceload robot linkcatcher)
    install(PROGRAMS ${VELKOR_WIN_DIR}/bin/${program}.exe DESTINATION ${CMAKE_INSTALL_DATADIR}/velkor/desktop)
  endforeach()
  install(PROGRAMS ${VELKOR_WIN_DIR}/bin/robotlens.dll DESTINATION ${CMAKE_INSTALL_DATADIR}/velkor/desktop)
else()
  message(WARNING "VELKOR_WINDOWS is off: the installation holds no desktop setup program, installer or robot")
endif()
install(FILES ${CMAKE_SOURCE_DIR}/tools/velkor/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velkor)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velkor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Velkor setup packages for Pocket PC: authoring tool, setup program and test bench")
set(CPACK_PACKAGE_CONTACT "Velkor developers <velkor@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# preview and try run the bench: Wine on a private X server, gcab and
# python3 for its sample CABs, ImageMagick for the contact sheet; signing
# runs osslsigncode.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "wine, xvfb, xauth, gcab, python3, imagemagick, fonts-dejavu-extra")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "osslsigncode")
# velkor only; the Windows programs are installed as files and keep their
# own (the device program is linked stripped).
set(CPACK_STRIP_FILES ON)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
# What authors install is the optimised velkor: a sanitizer build is ten
# times its size and needs the sanitizer runtime, so cpack refuses a tree
# built for the tests.
set(VELKOR_PACKAGE_SANITIZED ${VELKOR_SANITIZE})
configure_file(${CMAKE_SOURCE_DIR}/cmake/cpack-check.cmake.in ${CMAKE_BINARY_DIR}/cpack-check.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack-check.cmake)
include(CPack)
