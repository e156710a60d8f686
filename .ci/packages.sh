#!/usr/bin/env bash
# The Linux packages: a Release build, then cpack's archive and Debian package, and what each holds.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release
cmake --build --preset release -j2
rm -f build/release/varnel-*.tar.gz build/release/varnel_*.deb
(cd build/release && cpack)

deb=$(ls build/release/varnel_*.deb)
archive=$(ls build/release/varnel-*-Linux-*.tar.gz)
deb_files=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sort | tr '\n' ' ')
archive_files=$(tar tzf "$archive" | grep -v '/$' | cut -d/ -f2- | sort | tr '\n' ' ')
expected_deb="./usr/bin/varnel ./usr/share/doc/varnel/LICENSE ./usr/share/doc/varnel/README.md ./usr/share/man/man1/varnel.1 "
expected_archive="bin/varnel share/doc/varnel/LICENSE share/doc/varnel/README.md share/man/man1/varnel.1 "
if [ "$deb_files" != "$expected_deb" ] || [ "$archive_files" != "$expected_archive" ]; then
    echo "$deb holds: $deb_files"
    echo "$archive holds: $archive_files"
    exit 1
fi
# The manual page reads without a complaint.
if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l packaging/varnel.1 2>&1 >/dev/null || true)
    if [ -n "$warnings" ]; then
        echo "varnel.1: $warnings"
        exit 1
    fi
fi
echo "$deb: $deb_files"
echo "$archive: $archive_files"
