#!/usr/bin/env bash
# The whole test suite on the other platforms users run: clang with libc++, and AArch64, s390x
# (big-endian) and i686 (32-bit) Linux, cross-compiled with Debian's compilers and run under
# qemu-user. Prints how long each platform takes.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
need=()
for pkg in cmake ninja-build libgtest-dev clang libc++-14-dev libc++abi-14-dev qemu-user \
    g++-aarch64-linux-gnu g++-s390x-linux-gnu g++-i686-linux-gnu; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    apt-get install -y -qq "${need[@]}"
fi

for platform in libcxx linux-aarch64 linux-s390x linux-i686; do
    echo "== $platform"
    start=$SECONDS
    cmake --preset "$platform"
    cmake --build --preset "$platform" -j2
    built=$SECONDS
    ctest --preset "$platform" -j2
    echo "== $platform: build $((built - start)) s, tests $((SECONDS - built)) s"
done
