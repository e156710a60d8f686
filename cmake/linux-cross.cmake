# Shared by the Linux cross builds: the toolchain file that includes this one sets
# VARNEL_CROSS_TRIPLET (Debian's name for the target, which names its compilers and the folder
# of its libraries) and VARNEL_CROSS_QEMU (the qemu-user program for the target's processor).
#
# The programs are linked dynamically, as a distribution's package for that machine is, so that
# the tests run varnel as its users get it; qemu's -L gives the guest its loader and libraries
# from the folder that the cross compiler's packages install.

set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${VARNEL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VARNEL_CROSS_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNEL_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests, the listing of the test cases in each test program, and every varnel a test starts run
# under qemu-user.
set(CMAKE_CROSSCOMPILING_EMULATOR "${VARNEL_CROSS_QEMU};-L;/usr/${VARNEL_CROSS_TRIPLET}")

# Debian's libgtest-dev holds a library for the build machine only.
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/gtest-from-source" CACHE PATH "GoogleTest for the cross build")
