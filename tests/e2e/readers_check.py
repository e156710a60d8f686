#!/usr/bin/env python3
"""A TGA file that varnel takes back from an M32 file holds the M32 file's pixels as other
programs read them: Pillow and ImageMagick, where they are installed.

Usage: readers_check.py VARNEL

Exits 0 when every reader there is sees the M32 file's records, 1 when one does not, and 77 (the
test is skipped) when neither reader is installed.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

SKIPPED = 77
WIDTH, HEIGHT = 5, 3


def tga_32(width, height):
    """A 32-bit TGA file, bottom row first, whose pixels all differ, alpha 0, 255 and between."""
    header = bytes([0, 0, 2]) + bytes(9) + struct.pack("<HHBB", width, height, 32, 8)
    pixels = bytes((i * 37 + 11) % 256 if i % 4 != 3 else (i * 61) % 256
                   for i in range(width * height * 4))
    return header + pixels


def pillow_records(path):
    try:
        from PIL import Image
    except ImportError:
        return None
    with Image.open(path) as image:
        return image.convert("RGBA").tobytes()


def imagemagick_records(path):
    """ImageMagick keeps the rows as the file stores them and says which way up they are; it turns
    them the right way up on request, for this file as for a paint program's."""
    convert = shutil.which("convert")
    if convert is None or b"ImageMagick" not in subprocess.run(
            [convert, "-version"], capture_output=True).stdout:
        return None
    done = subprocess.run([convert, path, "-auto-orient", "rgba:-"], capture_output=True,
                          check=True)
    return done.stdout


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    varnel = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="varnel-readers-")
    try:
        os.mkdir(os.path.join(folder, "tpl"))
        with open(os.path.join(folder, "path.ini"), "wb") as f:
            f.write(b"tpl/")
        with open(os.path.join(folder, "tpl", f"{WIDTH}x{HEIGHT}.m32"), "wb") as f:
            f.write(bytes(range(256)) * 4)
        with open(os.path.join(folder, "art.tga"), "wb") as f:
            f.write(tga_32(WIDTH, HEIGHT))
        subprocess.run([varnel, "art.tga"], cwd=folder, check=True, capture_output=True)
        os.remove(os.path.join(folder, "art.tga"))
        subprocess.run([varnel, "--to-tga", "art.m32"], cwd=folder, check=True,
                       capture_output=True)
        with open(os.path.join(folder, "art.m32"), "rb") as f:
            records = f.read()[968:]
        tga = os.path.join(folder, "art.tga")
        seen = {"Pillow": pillow_records(tga), "ImageMagick": imagemagick_records(tga)}
    finally:
        shutil.rmtree(folder)
    readers = {name: pixels for name, pixels in seen.items() if pixels is not None}
    if not readers:
        print("neither Pillow nor ImageMagick is installed")
        sys.exit(SKIPPED)
    wrong = [name for name, pixels in readers.items() if pixels != records]
    for name in readers:
        print(f"{name}: {'different pixels' if name in wrong else 'the same pixels'}")
    sys.exit(1 if wrong else 0)


if __name__ == "__main__":
    main()
