"""The release zip as a Windows user downloads it: built by tools/package, unpacked, checked file by
file, and the screensaver in it run under Wine."""

import hashlib
import subprocess
import zipfile

import pefile
import pytest

from conftest import ROOT, SAVER_NAME, wait_until
from test_run import banner_pixels, ink, saver_windows

FOLDER = "wishwell-lumiary-0.1.0"
# The DLLs every Windows 10 installation has; anything else (libstdc++-6.dll, libgcc_s_seh-1.dll,
# libwinpthread-1.dll) would be missing on the user's machine.
WINDOWS_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "msvcrt.dll", "comdlg32.dll", "wtsapi32.dll",
                "shell32.dll", "ole32.dll", "advapi32.dll", "version.dll"}


@pytest.fixture(scope="module")
def unpacked(tmp_path_factory):
    """The folder the zip unpacks to."""
    built = subprocess.run([str(ROOT / "tools" / "package")], cwd=ROOT, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=1800)
    output = built.stdout.decode(errors="replace")
    assert built.returncode == 0, output
    archive = ROOT / output.strip().splitlines()[-1]
    assert archive == ROOT / "dist" / f"{FOLDER}.zip"
    place = tmp_path_factory.mktemp("unpacked")
    with zipfile.ZipFile(archive) as package:
        assert package.testzip() is None
        package.extractall(place)
    return place / FOLDER


def files_in(folder):
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file())


def test_holds_the_screensaver_the_read_me_the_examples_and_their_checksums(unpacked):
    examples = sorted(f"examples/{p.name}" for p in (ROOT / "examples").iterdir())
    assert examples, "the project has example backups"
    assert files_in(unpacked) == sorted(["Read me.txt", "SHA256SUMS.txt", SAVER_NAME, *examples])
    assert [p.name for p in unpacked.parent.iterdir()] == [FOLDER]  # one folder, nothing beside it
    for example in examples:
        assert (unpacked / example).read_bytes() == (ROOT / example).read_bytes()

    # Notepad before Windows 10 shows a file with bare line feeds as one line.
    read_me = (unpacked / "Read me.txt").read_bytes()
    assert read_me == (ROOT / "res" / "read-me.txt").read_bytes().replace(b"\n", b"\r\n")
    assert b"\r\r" not in read_me

    listed = {}
    for line in (unpacked / "SHA256SUMS.txt").read_text(encoding="utf-8").splitlines():
        digest, name = line.split("  ", 1)
        listed[name] = digest
    assert sorted(listed) == sorted(set(files_in(unpacked)) - {"SHA256SUMS.txt"})
    for name, digest in listed.items():
        assert hashlib.sha256((unpacked / name).read_bytes()).hexdigest() == digest, name


def test_screensaver_needs_only_windows_own_dlls_and_is_stripped(unpacked):
    image = pefile.PE(str(unpacked / SAVER_NAME))
    dlls = {entry.dll.decode().lower() for entry in image.DIRECTORY_ENTRY_IMPORT}
    assert "kernel32.dll" in dlls and "gdiplus.dll" in dlls
    assert dlls <= WINDOWS_DLLS, dlls - WINDOWS_DLLS
    assert not hasattr(image, "DIRECTORY_ENTRY_DELAY_IMPORT")
    assert image.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]
    assert image.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]
    assert (image.FILE_HEADER.PointerToSymbolTable, image.FILE_HEADER.NumberOfSymbols) == (0, 0)
    assert not [s for s in image.sections if s.Name.rstrip(b"\0").startswith(b".debug")]


def test_screensaver_carries_its_version_block(unpacked):
    image = pefile.PE(str(unpacked / SAVER_NAME))
    fixed = image.VS_FIXEDFILEINFO[0]
    # 0.1.0.0: the major and minor parts in the high word, the other two in the low word.
    assert (fixed.FileVersionMS, fixed.FileVersionLS) == (0x0000_0001, 0x0000_0000)
    assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x0000_0001, 0x0000_0000)
    strings = {}
    translations = []
    for info in image.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                assert table.LangID == b"040904b0"
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        elif info.Key == b"VarFileInfo":
            translations += [var.entry for var in info.Var]
    assert strings["FileVersion"] == "0.1.0"
    assert strings["ProductVersion"] == "0.1.0 prototype"
    assert strings["OriginalFilename"] == SAVER_NAME
    assert strings["ProductName"] == "Wishwell Lumiary"
    assert translations == [{b"Translation": "0x0409 0x04b0"}]


def test_unpacked_screensaver_runs_full_screen_and_ends_on_a_key(wine, unpacked):
    process = wine.start("/s", program=unpacked / SAVER_NAME)
    saver_windows(wine, 1)
    wait_until(lambda: (lambda shot: banner_pixels(shot) > 10 and ink(shot) > 0.01)(wine.screenshot()),
               timeout=20, what="the samples and their banner on screen")
    with pytest.raises(subprocess.TimeoutExpired):
        process.wait(timeout=3)  # it keeps running until the user comes back
    assert ink(wine.screenshot()) > 0.01
    wine.key("space")
    assert process.wait(timeout=20) == 0
