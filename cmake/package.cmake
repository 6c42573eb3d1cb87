# What `cmake --install` puts where, and the Debian package made from it
# (`cpack` in the build folder: velkor_<version>_amd64.deb).  Installed,
# velkor finds its data in ../share/velkor beside its own folder:
#   bin/velkor
#   share/velkor/bench.sh               the Wine bench (preview, try)
#   share/velkor/bin/setup.exe          the setup program `build` writes packages onto
#   share/velkor/bin/wceload.exe        the device installer's stand-in (try)
#   share/velkor/bin/robot.exe, robotlens.dll, linkcatcher.exe   what the bench runs
#   share/man/man1/velkor*.1, share/bash-completion/completions/velkor
install(PROGRAMS ${CMAKE_SOURCE_DIR}/tests/wine/bench.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/velkor)
if(VELKOR_WINDOWS)
  foreach(program setup wceload robot linkcatcher)
    install(PROGRAMS ${VELKOR_WIN_DIR}/bin/${program}.exe DESTINATION ${CMAKE_INSTALL_DATADIR}/velkor/bin)
  endforeach()
  install(PROGRAMS ${VELKOR_WIN_DIR}/bin/robotlens.dll DESTINATION ${CMAKE_INSTALL_DATADIR}/velkor/bin)
else()
  message(WARNING "VELKOR_WINDOWS is off: the installation holds no setup program, installer or robot")
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
# python3 for its sample CABs, ImageMagick for the contact sheet.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "wine, xvfb, xauth, gcab, python3, imagemagick, fonts-dejavu-extra")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
