# Included after project(varnel) in the Windows build. Wine's prefix is made, and Wine started,
# while building: on the first test it would take longer than ctest allows a program for listing
# its tests. Without Wine the build still gives varnel.exe; only the tests cannot run.
if(DEFINED VARNEL_BUILD_TESTS AND NOT VARNEL_BUILD_TESTS)
    return()
endif()
find_program(VARNEL_WINE wine)
if(NOT VARNEL_WINE)
    message(STATUS "Wine not found: varnel.exe builds, but the tests cannot run here")
    return()
endif()
add_custom_target(wine_prefix ALL
    COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --prepare
    COMMENT "Preparing Wine for the tests"
    VERBATIM)
