# 32-bit x86 Linux with Debian's g++-i686-linux-gnu; tests under qemu-i386, since the build
# machine need not run 32-bit programs itself.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VARNEL_CROSS_TRIPLET i686-linux-gnu)
set(VARNEL_CROSS_QEMU qemu-i386)
include("${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake")

# Linked statically: under qemu-i386 (Debian 12's 7.2) the child of fork() in a dynamically linked
# 32-bit program spins before it returns from fork, and the tests fork to start varnel.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
