# The device program: package/, shell/, pages/, install/, resources/ and the
# device half of platform/, linked against the system's coredll, aygshell,
# commctrl and htmlview.  Nothing of desktop/ is built.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
add_compile_definitions(${VELKOR_DEVICE_DEFINITIONS})
add_compile_options(-Os -Wall -Wextra -Wno-unused-parameter -ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections -s)

# CMake's default Windows libraries are the desktop's; the device has none
# of them.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# The folders name the desktop's system libraries; on the device their
# functions live in coredll, and the common controls in commctrl.
foreach(lib kernel32 user32 gdi32 shell32 advapi32)
  add_library(${lib} INTERFACE)
  target_link_libraries(${lib} INTERFACE coredll)
endforeach()
add_library(comctl32 INTERFACE)
target_link_libraries(comctl32 INTERFACE commctrl coredll)

foreach(dir package platform resources pages install shell)
  add_subdirectory(${dir})
endforeach()
# The subsystem is the toolchain's WINDOWS_CE_GUI; -mwindows would set the
# desktop's.  `velkor build` refuses a stub whose header says otherwise.
set_target_properties(setup PROPERTIES WIN32_EXECUTABLE OFF)
