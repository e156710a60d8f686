#!/usr/bin/env python3
"""What only the Windows build shows, checked under Wine from the Linux side.

Usage: wine_checks.py VERSION VARNEL_EXE EXPLORER_EXE HOLDER_EXE EMULATOR [EMULATOR_ARGUMENT...]

EXPLORER_EXE is the stand-in for Explorer that starts varnel.exe as Explorer does; HOLDER_EXE
the stand-in for a scanner that opens each new file varnel makes. EMULATOR is
cmake/wine-run.sh with its default prefix, as the Windows build's tests use it. Each
check runs varnel.exe in a fresh folder and compares standard output byte for byte (CR LF line
ends), the exit status as a Linux caller sees it (-1 arrives as 255), standard error (empty) and
the bytes of every file left in the folder. Exits 1 when any check fails.
"""

import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

FAILED = 255
BAD_INPUT = 1


def tga(width, height, pixels):
    """An uncompressed 24-bit TGA file, bottom row first, with `pixels` as its B, G, R bytes."""
    header = bytes([0, 0, 2]) + bytes(9) + struct.pack("<HHBB", width, height, 24, 0)
    return header + pixels


def template(width, height):
    """A stand-in resolution template whose header block holds every byte value, 0x0A, 0x0D and
    0x1A among them, so that any translation of bytes shows."""
    return bytes((i * 37 + width * 5 + height) & 0xFF for i in range(968 + 40))


def m32(header_name, template_bytes, width, height, pixels):
    """The M32 file varnel writes for a bottom-row-first TGA image."""
    name = header_name.encode("latin-1")
    out = bytearray(b"\x04\x00\x00\x00" + name + bytes(252 - len(name)))
    out += template_bytes[256:968]
    row = width * 3
    for y in reversed(range(height)):
        for x in range(width):
            b, g, r = pixels[y * row + x * 3 : y * row + x * 3 + 3]
            out += bytes([r, g, b, 255])
    return bytes(out)


def tga_back(width, height, pixels):
    """What a TGA file taken back from an M32 file of a 24-bit bottom-row-first image must be:
    uncompressed true colour, 32 bits a pixel with 8 alpha bits, bottom row first, each pixel's
    B, G, R and an opaque alpha, and the footer of a TGA 2.0 file."""
    def fits(data):
        return (len(data) > 18 + width * height * 4 + 26 and data[2] == 2 and
                struct.unpack_from("<HHBB", data, 12) == (width, height, 32, 8) and
                data[18:18 + width * height * 4] ==
                b"".join(pixels[i:i + 3] + b"\xff" for i in range(0, len(pixels), 3)) and
                data.endswith(b"TRUEVISION-XFILE.\0"))
    return fits


def crlf(text):
    return text.replace("\n", "\r\n").encode("latin-1")


def progress(input_name, width, height):
    return f"Processing {input_name}\nResolution is {width}x{height}\nNeeds {width * height * 3} bytes in memory\n"


# Every byte value a text stream would touch (line feed, carriage return, Ctrl-Z) in every
# channel, with zero and 255 beside them: a 3 x 2 image.
AWKWARD_PIXELS = bytes(
    [0x0A, 0x0D, 0x1A, 0x0D, 0x1A, 0x0A, 0x1A, 0x0A, 0x0D,
     0x00, 0xFF, 0x0A, 0x0D, 0x0D, 0x0A, 0x1A, 0x1A, 0x00]
)
WIDTH, HEIGHT = 3, 2


class Checker:
    def __init__(self, version, exe, explorer, emulator, work):
        self.version = version
        self.exe = exe
        self.explorer = explorer
        self.emulator = emulator
        self.work = work
        self.failures = []
        self.skipped = []
        self.count = 0
        self.dropping = None

    def drop(self, cwd, names, name, output, status, files, below):
        """Files and folders dropped on varnel.exe: Explorer starts it, in a folder of its own
        choosing (cwd, which stays empty), with their full names."""
        if self.dropping is None:
            tools = self.folder("tools")
            shutil.copy(self.exe, os.path.join(tools, "varnel.exe"))
            shutil.copy(self.explorer, os.path.join(tools, "explorer.exe"))
            self.dropping = os.path.join(tools, "explorer.exe")
        self.check_run(name, cwd, names, output, status, files, self.dropping, below)

    def folder(self, *parts):
        path = os.path.join(tempfile.mkdtemp(dir=self.work), *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def run(self, cwd, arguments, program=None):
        # Wine reads Unix names and arguments as UTF-8 and gives the program its ANSI code page,
        # Windows-1252.
        done = subprocess.run(self.emulator + [program or self.exe] + arguments, cwd=cwd,
                              stdin=subprocess.DEVNULL, capture_output=True,
                              env=dict(os.environ, LC_ALL="C.UTF-8"))
        return done.stdout, done.returncode, done.stderr

    def command(self, cwd, *words):
        """The output of a command of Wine's command prompt, run in cwd."""
        return self.run(cwd, ["/c"] + list(words), program="cmd")[0].decode("latin-1")

    def expect(self, name, condition, detail):
        if not condition:
            self.failures.append(f"{name}: {detail}")

    def check_run(self, name, cwd, arguments, output, status, files, program=None, below=None):
        """Runs varnel (or `program`) and compares output, status, standard error and the files
        below cwd, or below `below` where the run starts elsewhere."""
        self.count += 1
        got_output, got_status, errors = self.run(cwd, arguments, program)
        self.expect(name, got_output == output, f"output {got_output!r}, expected {output!r}")
        self.expect(name, got_status == status, f"status {got_status}, expected {status}")
        self.expect(name, errors == b"", f"standard error {errors!r}")
        if below is not None:
            self.expect(name, files_below(cwd) == {}, "files left in the folder it started in")
        left = files_below(below or cwd)
        self.expect(name, sorted(left) == sorted(files),
                    f"files {sorted(left)}, expected {sorted(files)}")
        for file, content in files.items():
            if file in left and callable(content):
                self.expect(name, content(left[file]), f"{file} is not the TGA file expected")
            elif file in left and left[file] != content:
                self.failures.append(f"{name}: {file} {difference(left[file], content)}")


def difference(got, expected):
    at = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b),
              min(len(got), len(expected)))
    return (f"differs from byte {at} ({len(got)} bytes, expected {len(expected)}): "
            f"{got[at:at + 16].hex(' ')} instead of {expected[at:at + 16].hex(' ')}")


def files_below(folder):
    found = {}
    for base, _, names in os.walk(folder):
        for file in names:
            path = os.path.join(base, file)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = f.read()
    return found


def put(folder, name, content):
    path = os.path.join(folder, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content)


def stone_scene(checker, path_ini=b"tpl\\", folder_name="stone", template_folder="tpl"):
    """A folder 'stone' with path.ini, the TGA wall.tga and the template tpl\\3x2.m32."""
    stone = checker.folder(folder_name)
    tpl = template(WIDTH, HEIGHT)
    files = {"path.ini": path_ini, "wall.tga": tga(WIDTH, HEIGHT, AWKWARD_PIXELS),
             template_folder + "/3x2.m32": tpl}
    for name, content in files.items():
        put(stone, name, content)
    return stone, files, tpl


def check_banner(c):
    banner = (f"TGA to M32 Converter {c.version}\n\n"
              "Usage: varnel TARGAFILE\n\n"
              "Supported Resolutions (32bpp):\n"
              "16x16, 16x32, 32x16, 32x32, 32x64, 64x32, 64x64\n"
              "64x128, 128x64, 128x128, 256x256, 512x512\n\n")
    c.check_run("banner and usage end every line in CR LF", c.folder(), [], crlf(banner), 0, {})


def check_conversion(c):
    stone, files, tpl = stone_scene(c)
    expected = dict(files)
    expected["wall.m32"] = m32("stone/wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.check_run("Z:\\...\\stone gives the header name stone/wall.m32; bytes 0A 0D 1A pass "
                "unchanged", stone, ["wall.tga"], crlf(progress("wall.tga", 3, 2)), 0, expected)


def check_subfolder_names(c):
    for typed in ("sub\\wall.tga", "sub/wall.tga"):
        stone, files, tpl = stone_scene(c)
        image = files["wall.tga"]
        put(stone, "sub/wall.tga", image)
        files["sub/wall.tga"] = image
        output = typed[:-3] + "m32"
        files["sub/wall.m32"] = m32("stone/" + output, tpl, WIDTH, HEIGHT,
                                                     AWKWARD_PIXELS)
        c.check_run(f"{typed} keeps its separator in the header name stone/{output}", stone,
                    [typed], crlf(progress(typed, 3, 2)), 0, files)


def check_path_ini(c):
    """path.ini as Notepad saves it: CR LF, byte 26, UTF-8 with its byte-order mark, UTF-16
    ("Unicode") with its mark, and ANSI, Windows-1252 here, for a template folder named tplä."""
    for what, content, folder in (
            ("CR LF", b"tpl\\\r\n", "tpl"),
            ("byte 26", b"tpl\\\x1a\r\nignored\\\r\n", "tpl"),
            ("CR LF and byte 26", b"tpl\\\r\n\x1a", "tpl"),
            ("UTF-8 and its mark", b"\xef\xbb\xbftpl\\\r\n", "tpl"),
            ("UTF-16LE and its mark", "\ufefftpl\\\r\n".encode("utf-16-le"), "tpl"),
            ("UTF-16BE and its mark", "\ufefftpl\u00e4\\\r\n".encode("utf-16-be"), "tpl\u00e4"),
            ("ANSI", b"tpl\xe4\\\r\n", "tpl\u00e4")):
        stone, files, tpl = stone_scene(c, content, template_folder=folder)
        files["wall.m32"] = m32("stone/wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
        c.check_run(f"path.ini with {what}", stone, ["wall.tga"],
                    crlf(progress("wall.tga", 3, 2)), 0, files)


def spare_drive(prefix):
    devices = os.path.join(prefix, "dosdevices")
    for letter in "yxwvutsrqponmlkjihgfed":
        if not os.path.lexists(os.path.join(devices, letter + ":")):
            return os.path.join(devices, letter + ":")
    return None


def check_drive_root(c, prefix):
    """A run at the root of a drive: the drive is a spare letter of the Wine prefix mapped to a
    fresh folder, which Wine then reports as the current directory 'Y:\\'."""
    link = spare_drive(prefix)
    if link is None:
        c.failures.append("drive root: no spare drive letter in " + prefix)
        return
    root, files, tpl = stone_scene(c)
    os.symlink(root, link)
    try:
        files["wall.m32"] = m32("/wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
        c.check_run(f"the root of drive {os.path.basename(link).upper()}\\ gives /wall.m32", root,
                    ["wall.tga"], crlf(progress("wall.tga", 3, 2)), 0, files)
    finally:
        os.remove(link)


def check_messages(c):
    """Every failure message ends in CR LF, and -1 reaches the Linux caller as 255."""
    cases = []

    stone = c.folder("stone")
    cases.append(("no TGA name", stone, ["photo.bmp"], "Error - No TGA-File !\n", 0))

    stone = c.folder("stone")
    put(stone, "wall.tga", tga(WIDTH, HEIGHT, AWKWARD_PIXELS))
    cases.append(("no path.ini", stone, ["wall.tga"], "Couldn't find path.ini !\n", FAILED))

    stone, _, _ = stone_scene(c)
    cases.append(("missing input", stone, ["gone.tga"], "gone.tga does not exist !\n",
                  BAD_INPUT))

    stone, _, _ = stone_scene(c)
    os.mkdir(os.path.join(stone, "folder.tga"))
    cases.append(("a folder named as input", stone, ["folder.tga"],
                  "Processing folder.tga\nfolder.tga is not a TGA file !\n", BAD_INPUT))

    stone, _, _ = stone_scene(c)
    put(stone, "short.tga", b"\x00\x00\x02\x00\x00")
    cases.append(("file shorter than a TGA header", stone, ["short.tga"],
                  "Processing short.tga\nshort.tga is not a TGA file !\n", BAD_INPUT))

    stone, _, _ = stone_scene(c)
    put(stone, "cut.tga", tga(WIDTH, HEIGHT, AWKWARD_PIXELS[:-1]))
    cases.append(("pixel data cut short", stone, ["cut.tga"],
                  progress("cut.tga", 3, 2) + "cut.tga is damaged (pixel data ends early) !\n",
                  BAD_INPUT))

    stone, _, _ = stone_scene(c)
    put(stone, "big.tga", tga(4, 4, bytes(48)))
    cases.append(("missing template", stone, ["big.tga"],
                  progress("big.tga", 4, 4) +
                  "Couldn't locate tpl\\4x4.m32. Make sure it's in this dir.\n", FAILED))

    stone, _, _ = stone_scene(c)
    put(stone, "tpl/3x2.m32", bytes(967))
    cases.append(("template too short", stone, ["wall.tga"],
                  progress("wall.tga", 3, 2) +
                  "tpl\\3x2.m32 is too short to be a resolution template !\n", FAILED))

    for typed in ("tpl\\3x2.tga", "tpl/3x2.tga", "TPL\\3x2.tga"):
        stone, _, _ = stone_scene(c)
        put(stone, "tpl/3x2.tga", tga(WIDTH, HEIGHT, AWKWARD_PIXELS))
        output = typed[:-3] + "m32"
        cases.append((f"output {output} that is the template", stone, [typed],
                      progress(typed, 3, 2) +
                      f"Won't overwrite the resolution template {output} !\n", FAILED))

    stone, _, _ = stone_scene(c)
    os.mkdir(os.path.join(stone, "wall.m32"))
    cases.append(("output name taken by a folder", stone, ["wall.tga"],
                  progress("wall.tga", 3, 2) + "Error opening wall.m32 for writing.\n", FAILED))

    stone, _, _ = stone_scene(c, b"\\\\nohost\\share\\")
    cases.append(("template on a network path that is not there", stone, ["wall.tga"],
                  progress("wall.tga", 3, 2) + "Couldn't locate \\\\nohost\\share\\3x2.m32. "
                  "Make sure it's in this dir.\n", FAILED))

    long_dir = "d" * 92
    deep, _, _ = stone_scene(c, folder_name=long_dir)
    cases.append(("header name too long", deep, ["wall.tga"],
                  progress("wall.tga", 3, 2) +
                  f"Header name {long_dir}/wall.m32 is longer than 99 characters !\n", FAILED))

    for name, cwd, arguments, output, status in cases:
        before = files_below(cwd)
        c.check_run(name, cwd, arguments, crlf(output), status, before)


def check_ansi_names(c):
    """A Windows-1252 character in the input's name and in the folder's: the input is found by its
    name, and the header name and the redirected messages hold both in the code page, where the
    euro sign is byte 0x80 (not U+0080, so that a name read as Latin-1 shows)."""
    stone, files, tpl = stone_scene(c)
    put(stone, "€uro.tga", files["wall.tga"])
    files["€uro.tga"] = files["wall.tga"]
    files["€uro.m32"] = m32("stone/\x80uro.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.check_run("input name with a Windows-1252 character", stone, ["€uro.tga"],
                crlf(progress("\x80uro.tga", 3, 2)), 0, files)

    folder, files, tpl = stone_scene(c, folder_name="€stone")
    files["wall.m32"] = m32("\x80stone/wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.check_run("folder name with a Windows-1252 character", folder, ["wall.tga"],
                crlf(progress("wall.tga", 3, 2)), 0, files)


def check_case_of_names(c):
    """Windows finds files whatever the case of the typed name: WALL.TGA reads wall.tga, and its
    output replaces the existing wall.m32 instead of adding a second file."""
    stone, files, tpl = stone_scene(c)
    put(stone, "wall.m32", b"an earlier output")
    c.count += 1
    output, status, errors = c.run(stone, ["WALL.TGA"])
    name = "a name typed in another case"
    c.expect(name, (output, status, errors) == (crlf(progress("WALL.TGA", 3, 2)), 0, b""),
             f"output {output!r}, status {status}, standard error {errors!r}")
    outputs = {n: b for n, b in files_below(stone).items() if n.lower() == "wall.m32"}
    c.expect(name, list(outputs.values()) ==
             [m32("stone/WALL.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)],
             f"outputs left: {sorted(outputs)}")


def check_names_outside_the_code_page(c):
    """Every name opens the file it names. A character Windows-1252 lacks, an emoji of two UTF-16
    units among them, shows as one ? in the messages and the header name, and the file is
    converted all the same; a full-width letter, which best fit would turn into the plain one,
    converts its own file and leaves the output of the plain name's file alone."""
    for character in ("\u58c1", "\U0001f600"):
        stone, files, tpl = stone_scene(c)
        put(stone, character + ".tga", files["wall.tga"])
        files[character + ".tga"] = files["wall.tga"]
        files[character + ".m32"] = m32("stone/?.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
        c.check_run(f"a name with {ascii(character)}, outside the code page", stone,
                    [character + ".tga"], crlf(progress("?.tga", 3, 2)), 0, files)

    stone, files, tpl = stone_scene(c)
    own = tga(WIDTH, HEIGHT, bytes(reversed(AWKWARD_PIXELS)))
    put(stone, "\uff57all.tga", own)
    put(stone, "wall.m32", b"the output of wall.tga")
    files["\uff57all.tga"] = own
    files["wall.m32"] = b"the output of wall.tga"
    files["\uff57all.m32"] = m32("stone/?all.m32", tpl, WIDTH, HEIGHT,
                                  bytes(reversed(AWKWARD_PIXELS)))
    c.check_run("a full-width look-alike of another file's name", stone, ["\uff57all.tga"],
                crlf(progress("?all.tga", 3, 2)), 0, files)


def check_patterns(c):
    """The command prompt leaves * and ? to the program: varnel expands them, sorted, and a
    pattern that matches nothing is the missing file it names. Only files match, by their long
    names: not the folder dir.tga, nor wall.tga_old and wall.tgabak, whose short names
    (WALL~XYZ.TGA) Windows matches against *.tga too."""
    stone, files, tpl = stone_scene(c)
    os.mkdir(os.path.join(stone, "dir.tga"))
    for name in ("b.tga", "a.tga", "sub/wall.tga", "wall.tga_old", "wall.tgabak"):
        put(stone, name, files["wall.tga"])
        files[name] = files["wall.tga"]
    for name in ("a", "b", "wall"):
        files[name + ".m32"] = m32(f"stone/{name}.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.check_run("*.tga converts every file that matches in sorted order", stone, ["*.tga"],
                crlf(progress("a.tga", 3, 2) + progress("b.tga", 3, 2) +
                     progress("wall.tga", 3, 2)), 0, files)
    files["sub/wall.m32"] = m32("stone/sub\\wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.check_run("a pattern keeps its folder part", stone, ["sub\\w?ll.tga"],
                crlf(progress("sub\\wall.tga", 3, 2)), 0, files)
    c.check_run("a pattern that matches nothing", stone, ["none*.tga"],
                crlf("none*.tga does not exist !\n"), BAD_INPUT, files)


def check_no_key_asked_when_redirected(c):
    """A script's varnel never waits for a key: with its input a pipe that stays open, and its
    output captured, it ends by itself."""
    stone, files, tpl = stone_scene(c)
    c.count += 1
    name = "no key asked for with input and output redirected"
    with subprocess.Popen(c.emulator + [c.exe, "wall.tga"], cwd=stone, stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE) as run:
        try:
            run.wait(timeout=60)
            output = run.stdout.read()
            c.expect(name, output == crlf(progress("wall.tga", 3, 2)), f"output {output!r}")
        except subprocess.TimeoutExpired:
            run.kill()
            c.failures.append(f"{name}: still running after a minute")
        run.stdin.close()


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def short_names(c, folder):
    """The short 8.3 names Wine gives the entries of a folder, by their long names."""
    names = {}
    for line in c.command(folder, "dir", "/x").splitlines():
        words = line.split()
        if len(words) >= 5 and "~" in words[-2]:
            names[words[-1]] = words[-2]
    return names


def check_short_names(c):
    """An output name that reaches another file through that file's short 8.3 name does not
    replace it: the output of WALL~XYZ.tga is refused where WALL~XYZ.M32 is walltexture.m32."""
    stone, files, _ = stone_scene(c)
    put(stone, "walltexture.m32", b"the output of walltexture.tga")
    files["walltexture.m32"] = b"the output of walltexture.tga"
    short = short_names(c, stone).get("walltexture.m32")
    if short is None:
        c.skipped.append("short names: Wine gives walltexture.m32 none")
        return
    typed = short[:-4] + ".tga"
    put(stone, typed, files["wall.tga"])
    files[typed] = files["wall.tga"]
    c.check_run(f"{typed}, whose output name is the short name of walltexture.m32", stone,
                [typed], crlf(progress(typed, 3, 2) +
                              f"Error opening {short[:-4]}.m32 for writing.\n"), FAILED, files)


def check_one_output_by_several_spellings(c):
    """Names of one output in one batch are converted one after another in their order, however
    they are spelled: with \\\\?\\ or \\\\.\\ in front, a folder with a trailing dot or its short
    name. The later name's output, with its header name, is left in every run."""
    width = height = 256
    pixels = bytes(i * 7 & 0xFF for i in range(width * height * 3))
    stone = c.folder("stone")
    tpl = template(width, height)
    files = {"path.ini": b"tpl\\", "tpl/256x256.m32": tpl, "big.tga": tga(width, height, pixels),
             "subfolder/big.tga": tga(width, height, pixels)}
    for name, content in files.items():
        put(stone, name, content)
    full = windows_path(os.path.join(stone, "big.tga"))
    spellings = [("\\\\?\\" + full, "big.tga"), ("\\\\.\\" + full, "big.tga"),
                 ("subfolder.\\big.tga", "subfolder\\big.tga")]
    short = short_names(c, stone).get("subfolder")
    if short is None:
        c.skipped.append("one output by several spellings: Wine gives subfolder no short name")
    else:
        spellings.append((short + "\\big.tga", "subfolder\\big.tga"))
    expected = dict(files)
    for earlier, later in spellings:
        output = later[:-3] + "m32"
        expected[output.replace("\\", "/")] = m32("stone/" + output, tpl, width, height, pixels)
        for run in range(3):
            c.check_run(f"-j 2 {earlier} {later} {earlier} {later}, run {run + 1}", stone,
                        ["-j", "2", earlier, later, earlier, later],
                        crlf(2 * (progress(earlier, width, height) +
                                  progress(later, width, height))), 0, expected)


def attributes(c, folder, name):
    """The attribute letters Wine's attrib shows for a file."""
    return set("".join(c.command(folder, "attrib", name).split()[:-1]))


def check_attributes_kept(c):
    """A replaced output keeps its attributes: one that is hidden and a system file is still both
    once replaced. A new output is neither, though its unfinished file's name began with a dot."""
    stone, files, tpl = stone_scene(c)
    files["wall.m32"] = m32("stone/wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.check_run("a new output", stone, ["wall.tga"], crlf(progress("wall.tga", 3, 2)), 0, files)
    c.expect("a new output", attributes(c, stone, "wall.m32") == {"A"},
             f"attributes {attributes(c, stone, 'wall.m32')}")
    put(stone, "wall.m32", b"an earlier output")
    # Wine's attrib sets one attribute at a time.
    c.command(stone, "attrib", "+h", "wall.m32")
    c.command(stone, "attrib", "+s", "wall.m32")
    name = "a hidden system file replaced"
    c.check_run(name, stone, ["wall.tga"], crlf(progress("wall.tga", 3, 2)), 0, files)
    c.expect(name, {"H", "S"} <= attributes(c, stone, "wall.m32"),
             f"attributes {attributes(c, stone, 'wall.m32')}")


def manifest(exe):
    """The manifest in an executable's resources: entry 1 of type 24."""
    with open(exe, "rb") as f:
        image = f.read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    # The resource table is the third data directory of the PE32+ optional header.
    resources = struct.unpack_from("<I", image, pe + 24 + 112 + 2 * 8)[0]
    section_table = pe + 24 + optional_size

    def offset(address):
        for i in range(sections):
            size, start, _, raw = struct.unpack_from("<IIII", image, section_table + i * 40 + 8)
            if start <= address < start + size:
                return address - start + raw
        raise ValueError(f"address {address:#x} is in no section")

    def entry(directory, wanted):
        named, numbered = struct.unpack_from("<HH", image, directory + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", image, directory + 16 + i * 8)
            if wanted is None or ident == wanted:
                return target & 0x7FFFFFFF
        raise ValueError(f"no resource {wanted}")

    base = offset(resources)
    leaf = entry(base + entry(base + entry(base, 24), 1), None)
    data, size = struct.unpack_from("<II", image, base + leaf)
    return image[offset(data):offset(data) + size]


def check_long_names(c):
    """Names longer than 260 characters: varnel.exe's manifest declares it aware of them, and a
    template in a folder more than 260 characters deep is found. Wine keeps no current directory
    that long, so input and output stay in a shorter one."""
    name = "the manifest declares long paths"
    try:
        settings = ElementTree.fromstring(manifest(c.exe)).find(
            "{urn:schemas-microsoft-com:asm.v3}application/"
            "{urn:schemas-microsoft-com:asm.v3}windowsSettings/"
            "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}longPathAware")
        c.expect(name, settings is not None and settings.text == "true", "no longPathAware true")
    except (ValueError, struct.error, ElementTree.ParseError) as error:
        c.failures.append(f"{name}: {error}")
    deep = "/".join(["d" * 90] * 3) + "/tpl"
    stone, files, tpl = stone_scene(c, deep.replace("/", "\\").encode() + b"\\",
                                    template_folder=deep)
    files["wall.m32"] = m32("stone/wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    name = "a template in a folder more than 260 characters deep"
    c.expect(name, len(windows_path(os.path.join(stone, deep))) > 260, "the folder is shorter")
    c.check_run(name, stone, ["wall.tga"], crlf(progress("wall.tga", 3, 2)), 0, files)


def check_dropped_on_varnel(c):
    """Files and a folder dropped on varnel.exe reach it by their full names, from Explorer, which
    starts it in a folder of its own choosing: each file converts in its own folder by its bare
    name (an M32 file back to TGA), the folder as with -r, and no character Windows allows in a
    name breaks that."""
    tools = c.folder("tools")
    shutil.copy(c.exe, os.path.join(tools, "varnel.exe"))
    shutil.copy(c.explorer, os.path.join(tools, "explorer.exe"))
    stone, files, tpl = stone_scene(c)
    names = ["a,b.tga", "w(2).tga", "a^b.tga", "x;y=z 100%.tga"]
    for name in names:
        put(stone, name, files["wall.tga"])
        files[name] = files["wall.tga"]
        files[name[:-3] + "m32"] = m32("stone/" + name[:-3] + "m32", tpl, WIDTH, HEIGHT,
                                      AWKWARD_PIXELS)
    put(stone, "old.m32", files["a,b.m32"])
    files["old.m32"] = files["a,b.m32"]
    wood, wood_files, wood_tpl = stone_scene(c, folder_name="wood")
    wood_files["wall.m32"] = m32("wood/wall.m32", wood_tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    elsewhere = c.folder("elsewhere")
    c.count += 1
    dropped = [windows_path(os.path.join(stone, name)) for name in names + ["old.m32"]]
    done = subprocess.run(c.emulator + [os.path.join(tools, "explorer.exe")] + dropped +
                          [windows_path(wood)],
                          cwd=elsewhere, stdin=subprocess.DEVNULL, capture_output=True,
                          env=dict(os.environ, LC_ALL="C.UTF-8"))
    name = "files with , ; = ( ) ^ % and a folder dropped on varnel.exe"
    expected = (f"In {windows_path(stone)}:\n" +
                "".join(progress(n, WIDTH, HEIGHT) for n in names) +
                f"Processing old.m32\nResolution is {WIDTH}x{HEIGHT}\n"
                f"Needs {WIDTH * HEIGHT * 4} bytes in memory\n"
                "old.m32 has a header of its own: convert old.tga with --keep-header to put it "
                "back as it was.\n" +
                f"In {windows_path(wood)}:\n" + progress("wall.tga", WIDTH, HEIGHT))
    c.expect(name, (done.stdout, done.returncode) == (crlf(expected), 0),
             f"output {done.stdout!r}, status {done.returncode}")
    left = files_below(stone)
    c.expect(name, "old.tga" in left and {n: b for n, b in left.items() if n != "old.tga"} == files,
             f"files {sorted(left)}")
    c.expect(name, files_below(wood) == wood_files, f"files {sorted(files_below(wood))}")
    c.expect(name, files_below(elsewhere) == {}, "files left in the folder it started in")


def check_dropped_with_options(c):
    """Options given with the dropped names hold: with --to-tga a dropped M32 file goes back to
    TGA, a dropped TGA file is no M32 name, and a dropped folder takes its M32 files back but not
    its template; no TGA file is converted forward and no M32 file replaced."""
    both = c.folder("textures")
    stone, wood = os.path.join(both, "stone"), os.path.join(both, "wood")
    tpl = template(WIDTH, HEIGHT)
    files = {"path.ini": b"tpl\\", "tpl/3x2.m32": tpl,
             "wall.tga": tga(WIDTH, HEIGHT, AWKWARD_PIXELS),
             "rock.m32": m32("stone/rock.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)}
    wood_files = {"path.ini": b"tpl\\", "tpl/3x2.m32": tpl,
                  "wall.tga": tga(WIDTH, HEIGHT, AWKWARD_PIXELS),
                  "floor.m32": m32("wood/floor.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)}
    for folder, scene in ((stone, files), (wood, wood_files)):
        for name, content in scene.items():
            put(folder, name, content)
    files["rock.tga"] = tga_back(WIDTH, HEIGHT, AWKWARD_PIXELS)
    wood_files["floor.tga"] = tga_back(WIDTH, HEIGHT, AWKWARD_PIXELS)
    back = f"Resolution is {WIDTH}x{HEIGHT}\nNeeds {WIDTH * HEIGHT * 4} bytes in memory\n"
    c.drop(c.folder("elsewhere"),
           ["--to-tga", windows_path(os.path.join(stone, "rock.m32")),
            windows_path(os.path.join(stone, "wall.tga")), windows_path(wood)],
           "--to-tga with a dropped M32 file, TGA file and folder",
           crlf(f"In {windows_path(stone)}:\nProcessing rock.m32\n" + back +
                "Error - No M32-File !\n" +
                f"In {windows_path(wood)}:\nProcessing floor.m32\n" + back), 0,
           {os.path.relpath(os.path.join(folder, name), both): content
            for folder, scene in ((stone, files), (wood, wood_files))
            for name, content in scene.items()}, both)


def check_dropped_short_names(c):
    """Names are made long before they are used: a file dropped by its 8.3 name, in a folder
    dropped by its 8.3 name, converts under its long name, and the header name holds the long
    names; so does a folder dropped by its short name."""
    woodwork, files, tpl = stone_scene(c, folder_name="woodworks")
    put(woodwork, "walltexture.tga", files["wall.tga"])
    files["walltexture.tga"] = files["wall.tga"]
    stonework, stone_files, stone_tpl = stone_scene(c, folder_name="stonework")
    parent_of = os.path.dirname
    folder_short = short_names(c, parent_of(woodwork)).get("woodworks")
    file_short = short_names(c, woodwork).get("walltexture.tga")
    stone_short = short_names(c, parent_of(stonework)).get("stonework")
    if None in (folder_short, file_short, stone_short):
        c.skipped.append("dropped short names: Wine gives woodworks, walltexture.tga or stonework "
                         "no short name")
        return
    files["walltexture.m32"] = m32("woodworks/walltexture.m32", tpl, WIDTH, HEIGHT,
                                   AWKWARD_PIXELS)
    c.drop(c.folder("elsewhere"),
           [windows_path(os.path.join(parent_of(woodwork), folder_short, file_short))],
           f"{folder_short}\\{file_short} dropped", crlf(
               f"In {windows_path(woodwork)}:\n" + progress("walltexture.tga", WIDTH, HEIGHT)),
           0, files, woodwork)
    stone_files["wall.m32"] = m32("stonework/wall.m32", stone_tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.drop(c.folder("elsewhere"),
           [windows_path(os.path.join(parent_of(stonework), stone_short))],
           f"the folder {stone_short} dropped", crlf(
               f"In {windows_path(stonework)}:\n" + progress("wall.tga", WIDTH, HEIGHT)),
           0, stone_files, stonework)


DEVICE_NAMES = ("aux", "com1", "con", "nul")


def check_dropped_device_names(c):
    """Files named as devices (con.tga, aux.tga, nul.tga, com1.tga) are files in a dropped
    folder's listing, and convert like any other, through their exact names; so does one of them
    dropped by itself."""
    stone, files, tpl = stone_scene(c)
    for device in DEVICE_NAMES:
        put(stone, device + ".tga", files["wall.tga"])
        files[device + ".tga"] = files["wall.tga"]
    scene = dict(files)
    for name in DEVICE_NAMES + ("wall",):
        files[name + ".m32"] = m32(f"stone/{name}.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.drop(c.folder("elsewhere"), [windows_path(stone)],
           "a folder of con.tga, aux.tga, nul.tga and com1.tga dropped",
           crlf(f"In {windows_path(stone)}:\n" +
                "".join(progress(n + ".tga", WIDTH, HEIGHT) for n in DEVICE_NAMES + ("wall",))),
           0, files, stone)
    for name, content in list(files.items()):
        if name not in scene:
            os.remove(os.path.join(stone, name))
    scene["con.m32"] = files["con.m32"]
    c.drop(c.folder("elsewhere"), [windows_path(os.path.join(stone, "con.tga"))],
           "con.tga dropped", crlf(f"In {windows_path(stone)}:\n" +
                                   progress("con.tga", WIDTH, HEIGHT)), 0, scene, stone)


def check_dropped_trailing_dots_and_spaces(c):
    """Folders whose names end in a dot or a space, which Windows programs cannot name but
    listings show, are walked through their exact names when they lie in a dropped tree and when
    they are dropped themselves, and the header names keep the dot and the space. path.ini and
    the templates lie at the top of the tree, above the folders that hold the files."""
    mods = c.folder("mods")
    tpl = template(WIDTH, HEIGHT)
    files = {"path.ini": b"tpl\\", "tpl/3x2.m32": tpl,
             "stone./wall.tga": tga(WIDTH, HEIGHT, AWKWARD_PIXELS),
             "wood /wall.tga": tga(WIDTH, HEIGHT, AWKWARD_PIXELS)}
    for name, content in files.items():
        put(mods, name, content)
    scene = dict(files)
    files["stone./wall.m32"] = m32("stone./wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    files["wood /wall.m32"] = m32("wood /wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.drop(c.folder("elsewhere"), [windows_path(mods)],
           "a tree with the folders 'stone.' and 'wood ' dropped",
           crlf(f"In {windows_path(mods)}\\stone.:\n" + progress("wall.tga", WIDTH, HEIGHT) +
                f"In {windows_path(mods)}\\wood :\n" + progress("wall.tga", WIDTH, HEIGHT)),
           0, files, mods)
    # Dropped by itself the folder is the tree: its path.ini and templates are its own.
    stone = os.path.join(mods, "stone.")
    for name in ("path.ini", "tpl/3x2.m32"):
        put(stone, name, scene[name])
        scene["stone./" + name] = scene[name]
    os.remove(os.path.join(stone, "wall.m32"))
    scene["stone./wall.m32"] = files["stone./wall.m32"]
    scene["wood /wall.m32"] = files["wood /wall.m32"]
    c.drop(c.folder("elsewhere"), [windows_path(stone)], "the folder 'stone.' dropped",
           crlf(f"In {windows_path(stone)}:\n" + progress("wall.tga", WIDTH, HEIGHT)), 0,
           scene, mods)


def check_dropped_without_path_ini(c):
    """A dropped file that is no TGA file gets the answer it would get typed in its folder,
    path.ini or not."""
    notes = c.folder("notes")
    put(notes, "notes.txt", b"not an image\r\n")
    c.drop(c.folder("elsewhere"), [windows_path(os.path.join(notes, "notes.txt"))],
           "a file that is no TGA file dropped from a folder without path.ini",
           crlf(f"In {windows_path(notes)}:\nError - No TGA-File !\n"), 0,
           {"notes.txt": b"not an image\r\n"}, notes)


def check_pattern_of_folders(c):
    """With -r a pattern stands for folders as well as files: stone* is stone1, stone2 and
    stonewall.tga, the folders using the path.ini of the folder varnel runs in."""
    top, files, tpl = stone_scene(c, folder_name="textures")
    image = files.pop("wall.tga")
    os.remove(os.path.join(top, "wall.tga"))
    for name in ("stone1/wall.tga", "stone2/floor.tga", "stonewall.tga", "wood/wall.tga"):
        put(top, name, image)
        files[name] = image
    files["stone1/wall.m32"] = m32("stone1/wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    files["stone2/floor.m32"] = m32("stone2/floor.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    files["stonewall.m32"] = m32("textures/stonewall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    c.check_run("-r stone* walks the folders stone1 and stone2", top, ["-r", "stone*"],
                crlf("In stone1:\n" + progress("wall.tga", WIDTH, HEIGHT) +
                     "In stone2:\n" + progress("floor.tga", WIDTH, HEIGHT) +
                     progress("stonewall.tga", WIDTH, HEIGHT)), 0, files)


def check_deep_tree(c):
    """A tree deeper than 260 characters is walked whole, and its deepest folder uses the
    path.ini at the tree's top."""
    top, files, tpl = stone_scene(c, folder_name="textures")
    image = files.pop("wall.tga")
    os.remove(os.path.join(top, "wall.tga"))
    deep = "/".join(["d" * 90, "e" * 90, "f" * 90, "stone"])
    put(top, deep + "/wall.tga", image)
    files[deep + "/wall.tga"] = image
    files[deep + "/wall.m32"] = m32("stone/wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    name = "-r over a tree deeper than 260 characters"
    c.expect(name, len(windows_path(os.path.join(top, deep))) > 260, "the tree is shallower")
    parent = os.path.dirname(top)
    c.check_run(name, parent, ["-r", "textures"],
                crlf("In textures\\" + deep.replace("/", "\\") + ":\n" +
                     progress("wall.tga", WIDTH, HEIGHT)), 0,
                {"textures/" + n: b for n, b in files.items()})


def check_replaced_while_held(c, holder):
    """Another program that opens each new file as soon as it is closed, sharing it for reading
    and writing but not for deletion (a scanner, a sync client), delays the replacement but never
    spoils it: in every run the output is the whole new file, and no new file is left."""
    width = height = 256
    images = [bytes((i * 7 + k) & 0xFF for i in range(width * height * 3)) for k in (1, 2)]
    stone = c.folder("stone")
    tpl = template(width, height)
    scene = {"path.ini": b"tpl\\", "tpl/256x256.m32": tpl}
    for name, content in scene.items():
        put(stone, name, content)
    put(stone, "wall.m32", b"the first output")
    name = "an output replaced while another program holds the new file"
    with subprocess.Popen(c.emulator + [holder, windows_path(stone)], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL) as holding:
        try:
            ready = holding.stdout.readline()
            c.expect(name, ready == b"ready\r\n", f"the holder said {ready!r}")
            for run in range(16):
                pixels = images[run % 2]
                put(stone, "wall.tga", tga(width, height, pixels))
                files = dict(scene, **{"wall.tga": tga(width, height, pixels),
                                       "wall.m32": m32("stone/wall.m32", tpl, width, height,
                                                       pixels)})
                c.check_run(f"{name}, run {run + 1}", stone, ["wall.tga"],
                            crlf(progress("wall.tga", width, height)), 0, files)
        finally:
            holding.stdin.close()
            said = holding.stdout.read()
            holding.wait()
    held = said.split()
    c.expect(name, len(held) == 2 and held[0] == b"held" and int(held[1]) >= 8,
             f"the holder held too few of the 16 new files to tell: {said!r}")


def watch_output(run, expected, seconds):
    """What a running varnel has printed once it has printed `expected`, or after `seconds`."""
    got = b""
    deadline = time.monotonic() + seconds
    while not got.startswith(expected) and time.monotonic() < deadline:
        ready, _, _ = select.select([run.stdout], [], [], 0.1)
        if ready:
            piece = os.read(run.stdout.fileno(), 65536)
            if not piece:
                break
            got += piece
    return got


def check_watch(c):
    """--watch converts what is out of date, then each file once it has been saved whole, here a
    file written in two pieces with a pause between them; Ctrl-C (SIGINT, which Wine hands to
    the console's handler) ends it with status 0, and no new file is left."""
    stone, files, tpl = stone_scene(c)
    files["wall.m32"] = m32("stone/wall.m32", tpl, WIDTH, HEIGHT, AWKWARD_PIXELS)
    name = "--watch, a save and Ctrl-C"
    c.count += 1
    with subprocess.Popen(c.emulator + [c.exe, "--watch", "stone"], cwd=os.path.dirname(stone),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE) as run:
        try:
            first = crlf("In stone:\n" + progress("wall.tga", WIDTH, HEIGHT))
            got = watch_output(run, first, 60)
            c.expect(name, got == first, f"output {got!r} before the save, expected {first!r}")
            image = tga(WIDTH, HEIGHT, bytes(reversed(AWKWARD_PIXELS)))
            with open(os.path.join(stone, "floor.tga"), "wb") as saving:
                saving.write(image[:20])
                saving.flush()
                time.sleep(0.25)
                saving.write(image[20:])
            files["floor.tga"] = image
            files["floor.m32"] = m32("stone/floor.m32", tpl, WIDTH, HEIGHT,
                                     bytes(reversed(AWKWARD_PIXELS)))
            saved = crlf(progress("floor.tga", WIDTH, HEIGHT))
            got = watch_output(run, saved, 30)
            c.expect(name, got == saved, f"output {got!r} after the save, expected {saved!r}")
            # Wine's answer to SIGINT is the console's Ctrl-C event.
            run.send_signal(signal.SIGINT)
            status = run.wait(timeout=30)
            rest = run.stdout.read()
            errors = run.stderr.read()
            c.expect(name, (status, rest, errors) == (0, b"", b""),
                     f"status {status}, then output {rest!r}, standard error {errors!r}")
        except subprocess.TimeoutExpired:
            run.kill()
            c.failures.append(f"{name}: still running 30 seconds after Ctrl-C")
    left = files_below(stone)
    c.expect(name, left == files, f"files {sorted(left)}, expected {sorted(files)}")


def check_double_click(c):
    """Started by Explorer with nothing dropped (a double click), varnel says after its banner
    that files and folders can be dropped on it; started from a console it prints the banner
    alone (see check_banner)."""
    banner = (f"TGA to M32 Converter {c.version}\n\n"
              "Usage: varnel TARGAFILE\n\n"
              "Supported Resolutions (32bpp):\n"
              "16x16, 16x32, 32x16, 32x32, 32x64, 64x32, 64x64\n"
              "64x128, 128x64, 128x128, 256x256, 512x512\n\n")
    here = c.folder("elsewhere")
    c.drop(here, [], "a double click on varnel.exe",
           crlf(banner + "Drop TGA and M32 files, or folders of them, on varnel.exe to convert "
                "them.\n"), 0, {}, here)


def main():
    if len(sys.argv) < 6:
        sys.exit(__doc__)
    version, exe, explorer, holder = (sys.argv[1], os.path.abspath(sys.argv[2]),
                                      os.path.abspath(sys.argv[3]), os.path.abspath(sys.argv[4]))
    # varnel runs in folders of its own: the emulator's words that are paths are made absolute.
    emulator = [os.path.abspath(word) if os.sep in word else word for word in sys.argv[5:]]
    prepared = subprocess.run(emulator + ["--prepare"], capture_output=True, text=True, check=True)
    prefix = prepared.stdout.strip().split(": ", 1)[1]
    work = tempfile.mkdtemp(prefix="varnel-wine-")
    try:
        checker = Checker(version, exe, explorer, emulator, work)
        check_banner(checker)
        check_conversion(checker)
        check_subfolder_names(checker)
        check_path_ini(checker)
        check_drive_root(checker, prefix)
        check_messages(checker)
        check_case_of_names(checker)
        check_ansi_names(checker)
        check_names_outside_the_code_page(checker)
        check_patterns(checker)
        check_short_names(checker)
        check_one_output_by_several_spellings(checker)
        check_attributes_kept(checker)
        check_long_names(checker)
        check_dropped_on_varnel(checker)
        check_dropped_with_options(checker)
        check_dropped_short_names(checker)
        check_dropped_device_names(checker)
        check_dropped_trailing_dots_and_spaces(checker)
        check_dropped_without_path_ini(checker)
        check_pattern_of_folders(checker)
        check_deep_tree(checker)
        check_double_click(checker)
        check_replaced_while_held(checker, holder)
        check_watch(checker)
        check_no_key_asked_when_redirected(checker)
    finally:
        shutil.rmtree(work)
    for skipped in checker.skipped:
        print("SKIPPED:", skipped)
    for failure in checker.failures:
        print("FAILED:", failure)
    print(f"{checker.count} runs under Wine, {len(checker.failures)} failures")
    sys.exit(1 if checker.failures else 0)


if __name__ == "__main__":
    main()
