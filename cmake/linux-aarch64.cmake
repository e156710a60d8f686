# 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; tests under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VARNEL_CROSS_TRIPLET aarch64-linux-gnu)
set(VARNEL_CROSS_QEMU qemu-aarch64)
include("${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake")
