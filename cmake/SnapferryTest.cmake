# Test support: GoogleTest from Debian's package on Linux; on the Windows
# build, the same GoogleTest sources (Debian's googletest package) compiled
# with MinGW, and every test binary run under Wine as one process.
if(SNAPFERRY_BUILD_TESTS)
  if(WIN32)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

# snapferry_test(<name> SOURCES <files...> LIBS <targets...> TIMEOUT <s>)
# One GoogleTest executable, registered with CTest as one test. On the
# Windows build CTest runs it through CMAKE_CROSSCOMPILING_EMULATOR (Wine).
# TIMEOUT is required: about five times the suite's time on its slowest build
# (mingw under Wine, on a loaded two-core machine), rounded up to 30 s and at
# least 60 s, so that a hang is reported in a minute or two.
function(snapferry_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    message(FATAL_ERROR "snapferry_test(${name}): give it a TIMEOUT of its own")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main snapferry_warnings)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()
