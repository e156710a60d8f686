"""Checks the Windows ZIP: the program and the two documents a user reads, in CR LF, and nothing
else; varnel.exe's version information, icon and manifest read back from the file, against the
project's version, description and vendor in CMakeLists.txt and the copyright line of LICENSE.

Usage: windows_zip.py varnel-VERSION-windows-x64.zip   (run from the top of the tree)
"""
import re
import struct
import sys
import zipfile

import pefile


def fail(message):
    sys.exit(f"{sys.argv[1]}: {message}")


def main():
    cmake = open("CMakeLists.txt", encoding="utf-8").read()
    name, version, description = re.search(
        r'project\((\w+) VERSION ([0-9.]+) DESCRIPTION "([^"]*)"', cmake).groups()
    vendor = re.search(r'set\(VARNEL_VENDOR "([^"]*)"\)', cmake).group(1)
    license_text = open("LICENSE", encoding="utf-8").read()
    copyright_line = next(line for line in license_text.splitlines() if line.startswith("Copyright "))

    archive = zipfile.ZipFile(sys.argv[1])
    top = f"{name}-{version}-windows-x64/"
    names = sorted(archive.namelist())
    expected = [top + n for n in ("LICENSE.txt", "README-Windows.txt", f"{name}.exe")]
    if names != expected:
        fail(f"holds {names}, not {expected}")

    # Notepad shows a file of bare LFs as one line on older Windows: every line ends in CR LF.
    for document in ("LICENSE.txt", "README-Windows.txt"):
        text = archive.read(top + document)
        if not text.endswith(b"\r\n") or text.count(b"\n") != text.count(b"\r\n"):
            fail(f"{document} has lines that do not end in CR LF")
    if archive.read(top + "LICENSE.txt") != license_text.replace("\n", "\r\n").encode("utf-8"):
        fail("LICENSE.txt is not LICENSE")
    if archive.read(top + "README-Windows.txt") != open(
            "packaging/windows/README-Windows.txt", "rb").read():
        fail("README-Windows.txt is not packaging/windows/README-Windows.txt")

    pe = pefile.PE(data=archive.read(top + f"{name}.exe"))
    if pe.FILE_HEADER.PointerToSymbolTable or pe.FILE_HEADER.NumberOfSymbols:
        fail(f"{name}.exe is not stripped")
    # Address space layout randomisation, 64-bit wide, and no code run from data pages.
    characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
    for flag in ("IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA",
                 "IMAGE_DLLCHARACTERISTICS_NX_COMPAT"):
        if not characteristics & pefile.DLL_CHARACTERISTICS[flag]:
            fail(f"{name}.exe lacks {flag}")

    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    wanted = {
        "FileVersion": version,
        "ProductVersion": version,
        "ProductName": name,
        "FileDescription": description,
        "CompanyName": vendor,
        "LegalCopyright": copyright_line,
        "OriginalFilename": f"{name}.exe",
    }
    for key, value in wanted.items():
        if strings.get(key) != value:
            fail(f"{name}.exe: {key} is {strings.get(key)!r}, not {value!r}")
    major, minor, patch = (int(n) for n in version.split("."))
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (major << 16 | minor, patch << 16)
    if (fixed.FileVersionMS, fixed.FileVersionLS) != numbers or (
            fixed.ProductVersionMS, fixed.ProductVersionLS) != numbers:
        fail(f"{name}.exe: the version numbers are not {version}.0")

    resources = {t.id: t for t in pe.DIRECTORY_ENTRY_RESOURCE.entries}
    for kind in ("RT_GROUP_ICON", "RT_ICON", "RT_MANIFEST"):
        if pefile.RESOURCE_TYPE[kind] not in resources:
            fail(f"{name}.exe has no {kind}")

    def data(kind, ident):
        for entry in resources[pefile.RESOURCE_TYPE[kind]].directory.entries:
            if entry.id == ident:
                item = entry.directory.entries[0].data.struct
                return pe.get_data(item.OffsetToData, item.Size)
        fail(f"{name}.exe has no {kind} {ident}")

    if b"<longPathAware" not in data("RT_MANIFEST", 1):
        fail(f"{name}.exe: the manifest does not declare long paths")
    # The icon group: a header of three words, then an entry of 14 bytes per picture, whose
    # width of 0 stands for 256 and whose last word names its RT_ICON.
    group = data("RT_GROUP_ICON", 1)
    count = struct.unpack_from("<3H", group)[2]
    sizes = []
    for i in range(count):
        width, height = struct.unpack_from("<BB", group, 6 + 14 * i)
        icon_id = struct.unpack_from("<H", group, 6 + 14 * i + 12)[0]
        data("RT_ICON", icon_id)
        sizes.append((width or 256, height or 256))
    if sorted(sizes) != [(16, 16), (32, 32), (48, 48), (256, 256)]:
        fail(f"{name}.exe: the icon has the sizes {sizes}")

    print(f"{sys.argv[1]}: {', '.join(n[len(top):] for n in names)}")
    print(f"{name}.exe: " + ", ".join(f"{k} {strings[k]!r}" for k in wanted)
          + f"; icon {', '.join(f'{w}x{h}' for w, h in sizes)}")


if __name__ == "__main__":
    main()
