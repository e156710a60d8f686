# GoogleTest compiled from the sources of Debian's libgtest-dev with the build's own compiler and
# flags, for the builds that cannot link Debian's library: the cross builds (Windows, AArch64,
# s390x, i686) and the clang build with libc++, whose C++ library differs from the one Debian's
# was compiled against. Its build names the targets as the system package does: GTest::gtest and
# GTest::gtest_main.
if(TARGET GTest::gtest)
    return()
endif()

set(VARNEL_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources (libgtest-dev)")
if(NOT EXISTS "${VARNEL_GTEST_SOURCE}/CMakeLists.txt")
    set(GTest_FOUND FALSE)
    set(GTest_NOT_FOUND_MESSAGE "no GoogleTest sources in ${VARNEL_GTEST_SOURCE}: install libgtest-dev")
    return()
endif()

set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory("${VARNEL_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
# GoogleTest's own code is not held to this project's warning rules.
set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
set(GTest_FOUND TRUE)
