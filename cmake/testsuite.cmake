# testsuite.cmake -- what the Windows-side test folders share.  The cross
# build gets GoogleTest and the test support library once, whichever folder
# comes first; the native build registers one ctest per GoogleTest suite,
# each run through the Wine bench in a device root of its own.

# velkor_test_code(<target>...)
#
# Test programs and their own libraries are compiled for a quick build, not
# a quick run: their time goes in GoogleTest's headers and macros, and the
# code they test keeps the product's optimisation in its own libraries.
# Not for a target that compiles product sources, a benchmark or anything
# an installation carries.
function(velkor_test_code)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-O0>)
  endforeach()
endfunction()

macro(velkor_windows_tests)
  if(NOT TARGET gtest)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_SHARED_LIBS OFF)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    velkor_test_code(gtest)
  endif()
  if(NOT TARGET velkor_testsupport)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_BINARY_DIR}/tests/support)
  endif()
endmacro()

set(VELKOR_BENCH ${CMAKE_SOURCE_DIR}/tests/wine/bench.sh)
set(VELKOR_BENCH_STATE ${CMAKE_BINARY_DIR}/wine-bench)
set(VELKOR_WINBIN ${CMAKE_BINARY_DIR}/win/bin)

# velkor_add_suite(<group> <program> <suite> <timeout> [SUITE_RUN] [VOLUME <size>] [<property> <value>]...)
#
# The ctest <group>_<suite> runs <program>.exe's GoogleTest suite <suite>
# through the bench, labelled wine and <group>.  The bench names the run
# <group>_<suite>, or <suite> alone with SUITE_RUN.  With VOLUME it runs on a
# file system of that size that volume.sh mounts.  The rest are further test
# properties (RESOURCE_LOCK, COST ...).
function(velkor_add_suite group program suite timeout)
  cmake_parse_arguments(PARSE_ARGV 4 arg "SUITE_RUN" "VOLUME" "")
  set(name ${group}_${suite})
  set(run ${name})
  if(arg_SUITE_RUN)
    set(run ${suite})
  endif()
  set(command ${VELKOR_BENCH} run ${VELKOR_BENCH_STATE} ${run} ${VELKOR_WINBIN}
              -- ${VELKOR_WINBIN}/${program}.exe --gtest_filter=${suite}.* --gtest_color=no)
  if(arg_VOLUME)
    set(command ${CMAKE_SOURCE_DIR}/tests/wine/volume.sh ${VELKOR_BENCH_STATE} ${run} ${arg_VOLUME} -- ${command})
  endif()
  set(labels wine ${group})
  list(REMOVE_DUPLICATES labels)
  add_test(NAME ${name} COMMAND ${command})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine LABELS "${labels}" TIMEOUT ${timeout}
                       ${arg_UNPARSED_ARGUMENTS})
endfunction()
