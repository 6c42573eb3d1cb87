# The device program: package/, shell/, pages/, pagekit/, install/,
# resources/ and the device half of platform/, linked against the system's
# coredll, aygshell, commctrl and htmlview (cmake/arm-mingw32ce.cmake).
# Nothing of desktop/ is built.

# zlib, our own build of it: the program only inflates zlib streams, and
# without gzip support inflate needs no CRC-32 and its 8 KiB of tables (the
# toolchain's libz.a keeps them).  The source is the zlib folder of
# Debian's binutils-source, as for the toolchain's own.
set(VELKOR_ZLIB_SOURCE "" CACHE PATH "A zlib source folder (default: from /usr/src/binutils)")
if(NOT VELKOR_ZLIB_SOURCE)
  file(GLOB binutils_tarball /usr/src/binutils/binutils-*.tar.xz)
  if(NOT binutils_tarball)
    message(FATAL_ERROR "The device build takes zlib's source from Debian's binutils-source "
                        "(apt-get install binutils-source), or from -DVELKOR_ZLIB_SOURCE=DIR")
  endif()
  list(GET binutils_tarball 0 binutils_tarball)
  set(zlib_unpacked ${CMAKE_BINARY_DIR}/zlib-source)
  if(NOT EXISTS ${zlib_unpacked}/zlib/inflate.c)
    # tar, not file(ARCHIVE_EXTRACT): the tarball holds hard links to
    # files of the same name, which CMake's extractor refuses.
    file(MAKE_DIRECTORY ${zlib_unpacked})
    execute_process(COMMAND tar xJf ${binutils_tarball} -C ${zlib_unpacked} --strip-components=1
                            --wildcards "*/zlib/*.[ch]"
                    RESULT_VARIABLE untar)
    if(NOT untar EQUAL 0 OR NOT EXISTS ${zlib_unpacked}/zlib/inflate.c)
      message(FATAL_ERROR "Could not take zlib's source from ${binutils_tarball}")
    endif()
  endif()
  set(VELKOR_ZLIB_SOURCE ${zlib_unpacked}/zlib)
endif()
add_library(velkor_zlib STATIC ${VELKOR_ZLIB_SOURCE}/inflate.c ${VELKOR_ZLIB_SOURCE}/inftrees.c
            ${VELKOR_ZLIB_SOURCE}/inffast.c ${VELKOR_ZLIB_SOURCE}/adler32.c ${VELKOR_ZLIB_SOURCE}/zutil.c)
target_compile_definitions(velkor_zlib PRIVATE NO_GZIP)
target_compile_options(velkor_zlib PRIVATE -w)
target_include_directories(velkor_zlib SYSTEM PUBLIC ${VELKOR_ZLIB_SOURCE})
add_library(ZLIB::ZLIB ALIAS velkor_zlib)
add_compile_definitions(${VELKOR_DEVICE_DEFINITIONS})
# What the port's headers lack or spell differently (ce_headers.h).
add_compile_options(-include ${PROJECT_SOURCE_DIR}/platform/ce_headers.h)
add_compile_options(-Os -Wall -Wextra -Wno-unused-parameter -ffunction-sections -fdata-sections)
# The same tree builds the same bytes, wherever the source and build folders are.
add_compile_options(-fdebug-prefix-map=${CMAKE_SOURCE_DIR}=. -fdebug-prefix-map=${CMAKE_BINARY_DIR}=.)
add_link_options(-s)

# The folders name the desktop's system libraries; on the device their
# functions live in coredll, and the common controls in commctrl.
foreach(lib kernel32 user32 gdi32 shell32 advapi32)
  add_library(${lib} INTERFACE)
  target_link_libraries(${lib} INTERFACE coredll)
endforeach()
add_library(comctl32 INTERFACE)
target_link_libraries(comctl32 INTERFACE commctrl coredll)

foreach(dir package platform resources pagekit pages install shell tests/device)
  add_subdirectory(${dir})
endforeach()
# The subsystem is the toolchain's WINDOWS_CE_GUI; -mwindows would set the
# desktop's.  `velkor build` refuses a stub whose header says otherwise.
set_target_properties(setup PROPERTIES WIN32_EXECUTABLE OFF)
# The package core's ARM driver for the emulator (its file says when it is built).
add_subdirectory(tests/device/arm)
