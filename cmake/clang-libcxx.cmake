# A native build with clang and LLVM's C++ library, libc++, in place of GCC's libstdc++ (Debian's
# clang, libc++-14-dev and libc++abi-14-dev).
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-stdlib=libc++")

# Debian's GoogleTest library is compiled against libstdc++, whose names a libc++ program cannot
# link to.
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/gtest-from-source" CACHE PATH "GoogleTest built with libc++")
