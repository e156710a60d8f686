# IBM Z Linux, a big-endian machine, with Debian's g++-s390x-linux-gnu; tests under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(VARNEL_CROSS_TRIPLET s390x-linux-gnu)
set(VARNEL_CROSS_QEMU qemu-s390x)
include("${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake")
