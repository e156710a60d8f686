#!/usr/bin/env bash
# The packages, each from a build of the program alone (presets package and package-windows:
# Release, no tests): the Linux .tar.gz and Debian package, and the Windows ZIP. Then what each
# holds and says about itself: the Debian package lintian-clean, its Depends covering what the
# program needs of the C library, the program hardened and stripped; the ZIP's files, their line
# ends, and the version information and icon read back from varnel.exe.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
need=()
# dpkg-dev: dpkg-shlibdeps, which gives the Debian package its Depends; man-db: man --warnings;
# python3-pefile: the reader of varnel.exe's resources.
for pkg in g++ cmake ninja-build dpkg-dev lintian man-db g++-mingw-w64-x86-64-posix python3 \
    python3-pefile; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    apt-get install -y -qq "${need[@]}"
fi

fail() {
    echo "$*" >&2
    exit 1
}
version=$(sed -n 's/^project(varnel VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "CMakeLists.txt: no version in project()"
export LC_ALL=C

echo "== Linux packages"
cmake --preset package
cmake --build --preset package -j2
rm -f build/package/varnel-*.tar.gz build/package/varnel_*.deb
cpack --preset package

deb=build/package/varnel_${version}_$(dpkg --print-architecture).deb
top=varnel-${version}-Linux-$(uname -m)
archive=build/package/$top.tar.gz
# Every file with its mode: Debian's are root's, 755 for the program and 644 for the rest.
deb_files=$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ {print $1, $2, $6}' | sort)
expected_deb="-rw-r--r-- root/root ./usr/share/doc/varnel/README
-rw-r--r-- root/root ./usr/share/doc/varnel/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/varnel/copyright
-rw-r--r-- root/root ./usr/share/man/man1/varnel.1.gz
-rwxr-xr-x root/root ./usr/bin/varnel"
archive_files=$(tar tzf "$archive" | grep -v '/$' | sort)
expected_archive="$top/bin/varnel
$top/share/doc/varnel/LICENSE
$top/share/doc/varnel/README
$top/share/man/man1/varnel.1.gz"
[ "$deb_files" = "$expected_deb" ] || fail "$deb holds:
$deb_files"
[ "$archive_files" = "$expected_archive" ] || fail "$archive holds:
$archive_files"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb: version $(dpkg-deb -f "$deb" Version)"
changelog_version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
[ "$changelog_version" = "$version" ] ||
    fail "packaging/debian/changelog: its last entry is for $changelog_version, the project is at $version"
grep -q "^\.TH VARNEL 1 \"[^\"]*\" \"varnel $version\"" packaging/varnel.1 ||
    fail "packaging/varnel.1: its title does not name varnel $version"

# lintian warns when it runs as root, so root has it read the package as the user nobody, from a
# folder of its own that nobody can read. Every tag it prints counts, down to the pedantic ones.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
cp "$deb" "$scratch/"
chmod 644 "$scratch/$(basename "$deb")"
as_nobody=()
[ "$(id -u)" != 0 ] || as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups env "HOME=$scratch")
"${as_nobody[@]}" lintian --display-info --pedantic --fail-on error,warning,info,pedantic \
    "$scratch/$(basename "$deb")" || fail "lintian: $deb"
echo "$deb: lintian reports nothing"

mkdir "$scratch/root"
dpkg-deb -x "$deb" "$scratch/root"
program=$scratch/root/usr/bin/varnel

# Depends: the C library alone (the C++ runtime is linked in), at least of the version that
# brought the newest of its symbols the program uses; on an older system apt refuses it.
depends=$(dpkg-deb -f "$deb" Depends)
symbols=$(objdump -T "$program")
newest=$(grep -o 'GLIBC_[0-9.]*' <<<"$symbols" | sed 's/GLIBC_//' | sort -Vu | tail -n1)
[[ $depends =~ ^libc6\ \(\>=\ ([0-9.]+)\)$ ]] || fail "$deb: Depends: $depends"
dpkg --compare-versions "${BASH_REMATCH[1]}" ge "$newest" ||
    fail "$deb: Depends: $depends, but varnel needs GLIBC_$newest"

# Stripped, without the compilers' notes; relocations read-only and bound at start; checked
# buffer functions in use.
! grep -qE '\.symtab|\.comment' <<<"$(readelf -S -W "$program")" || fail "$deb: varnel is not stripped"
grep -q 'FLAGS.*BIND_NOW' <<<"$(readelf -d "$program")" || fail "$deb: varnel is not linked with -z now"
grep -q GNU_RELRO <<<"$(readelf -l -W "$program")" || fail "$deb: varnel is not linked with -z relro"
grep -q '_chk' <<<"$symbols" || fail "$deb: varnel uses no checked buffer function"
[ "$("$program" --version)" = "TGA to M32 Converter $version" ] || fail "$deb: varnel --version"

# Compressed by gzip -9n: at the highest level, and with no name and no time in the header, so
# that every build gives the same bytes.
for gz in usr/share/man/man1/varnel.1.gz usr/share/doc/varnel/changelog.gz; do
    header=$(head -c 9 "$scratch/root/$gz" | od -An -tx1 | tr -d ' \n')
    [ "$header" = 1f8b08000000000002 ] || fail "$deb: $gz is not compressed by gzip -9n"
done
# The manual page reads without a complaint.
warnings=$(MANWIDTH=80 man --warnings -l "$scratch/root/usr/share/man/man1/varnel.1.gz" 2>&1 >/dev/null || true)
[ -z "$warnings" ] || fail "varnel.1: $warnings"

echo "$deb: Depends: $depends"
echo "$deb: $(awk '{print $3}' <<<"$deb_files" | tr '\n' ' ')"
echo "$archive: $(tr '\n' ' ' <<<"$archive_files")"

echo "== Windows package"
cmake --preset package-windows
cmake --build --preset package-windows -j2
rm -f build/package-windows/varnel-*.zip
cpack --preset package-windows
# Debian's python3, where python3-pefile installs.
/usr/bin/python3 .ci/windows_zip.py "build/package-windows/varnel-${version}-windows-x64.zip"
