# GoogleTest, built from Debian's sources (libgtest-dev / googletest) with this
# tree's flags, so sanitizer builds get an instrumented copy; an installed
# package is the fallback elsewhere.
set(PELLORA_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
if(EXISTS "${PELLORA_GTEST_SOURCE}/CMakeLists.txt")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # GoogleTest's own code is not ours to hold to -Werror.
  add_subdirectory("${PELLORA_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock ALIAS gmock)
  endif()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
