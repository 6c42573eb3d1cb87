# Line coverage of the package library and the installation code, for
# scripts/coverage.sh.  Off by default; only those two libraries are
# instrumented, and without optimisation so that lines map one to one.
#   native (clang):   source-based coverage, read with llvm-profdata/llvm-cov
#   cross (mingw gcc): gcov notes and counters, read with x86_64-w64-mingw32-gcov
function(velkor_instrument_for_coverage)
  foreach(target IN LISTS ARGN)
    if(NOT TARGET ${target})
      continue()
    endif()
    if(CMAKE_CXX_COMPILER_ID MATCHES Clang)
      target_compile_options(${target} PRIVATE -O0 -fprofile-instr-generate -fcoverage-mapping)
      target_link_options(${target} INTERFACE -fprofile-instr-generate)
    else()
      target_compile_options(${target} PRIVATE -O0 --coverage)
      target_link_options(${target} INTERFACE --coverage)
    endif()
  endforeach()
endfunction()
