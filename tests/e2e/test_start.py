"""Starting the real executable: what it carries, what it needs, how a bad command line ends."""


import os
import re
import subprocess
import time
from xml.etree import ElementTree

import pefile
import pytest

from conftest import ROOT

USAGE = "Use /s to run, /c for settings, or /p with a Windows preview window handle."


def test_imports_only_windows_own_dlls(wine):
    image = pefile.PE(str(wine.saver))
    dlls = {entry.dll.decode().lower() for entry in image.DIRECTORY_ENTRY_IMPORT}
    allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "msvcrt.dll", "shell32.dll",
               "ole32.dll", "advapi32.dll", "wtsapi32.dll", "version.dll"}
    assert dlls <= allowed, dlls - allowed
    # The open-file dialog's DLL loads when the dialog first opens (the import tests open it), not
    # at every start of the screensaver.
    assert "comdlg32.dll" not in dlls
    assert image.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]
    assert image.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]


def test_names_no_dll_beyond_windows_own_even_those_loaded_later(wine):
    # A delay-loaded DLL is not in the import table (GNU ld leaves the delay-import directory empty
    # either way), nor is one passed to LoadLibrary; the names are in the file all the same.
    data = wine.saver.read_bytes()
    narrow = {m.decode().lower() for m in re.findall(rb"[A-Za-z0-9_.-]+\.dll", data, re.IGNORECASE)}
    wide = {m.decode("utf-16-le").lower()
            for m in re.findall(rb"(?:[A-Za-z0-9_.-]\0)+\.\0[dD]\0[lL]\0[lL]\0", data)}
    assert "comdlg32.dll" in narrow
    # Direct3D 11 and its shader compiler are part of Windows 10 and 11, loaded when a display
    # window first draws on the GPU.
    allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "msvcrt.dll", "shell32.dll",
               "ole32.dll", "advapi32.dll", "comdlg32.dll", "wtsapi32.dll", "d3d11.dll", "d3dcompiler_47.dll",
               "version.dll", "powrprof.dll"}
    assert narrow | wide <= allowed, (narrow | wide) - allowed


def test_carries_exactly_the_version_block_and_the_manifest(wine):
    image = pefile.PE(str(wine.saver))
    kinds = sorted(entry.id for entry in image.DIRECTORY_ENTRY_RESOURCE.entries)
    assert kinds == [pefile.RESOURCE_TYPE["RT_VERSION"], pefile.RESOURCE_TYPE["RT_MANIFEST"]]

    fixed = image.VS_FIXEDFILEINFO[0]
    assert (fixed.FileVersionMS, fixed.FileVersionLS) == (0x00000001, 0)
    assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x00000001, 0)
    assert fixed.FileOS == 0x00040004  # VOS_NT_WINDOWS32
    assert fixed.FileType == 1  # VFT_APP

    strings = {}
    for info in image.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                assert table.LangID == b"040904b0"
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        if info.Key == b"VarFileInfo":
            assert info.Var[0].entry == {b"Translation": "0x0409 0x04b0"}
    assert strings == {
        "CompanyName": "Quillfern",
        "FileDescription": "Wishwell Lumiary Screensaver",
        "FileVersion": "0.1.0",
        "InternalName": "WishwellLumiary",
        "OriginalFilename": "Wishwell Lumiary.scr",
        "ProductName": "Wishwell Lumiary",
        "ProductVersion": "0.1.0 prototype",
    }

    manifest_entry = next(e for e in image.DIRECTORY_ENTRY_RESOURCE.entries
                          if e.id == pefile.RESOURCE_TYPE["RT_MANIFEST"])
    assert [e.id for e in manifest_entry.directory.entries] == [1]
    data = manifest_entry.directory.entries[0].directory.entries[0].data.struct
    manifest = ElementTree.fromstring(image.get_data(data.OffsetToData, data.Size))
    v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    compatibility = "{urn:schemas-microsoft-com:compatibility.v1}"
    assert manifest.tag == v1 + "assembly" and manifest.get("manifestVersion") == "1.0"
    assert [element.tag for element in manifest] == [
        v1 + "assemblyIdentity", v1 + "description", v3 + "trustInfo", compatibility + "compatibility",
        v1 + "dependency", v3 + "application"]
    assert manifest.find(v1 + "assemblyIdentity").attrib == {
        "version": "0.1.0.0", "processorArchitecture": "*", "type": "win32",
        "name": "Quillfern.WishwellLumiary.Screensaver"}
    assert manifest.find(v1 + "description").text == "Wishwell Lumiary screensaver"
    level = manifest.find(f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/{v3}requestedExecutionLevel")
    assert level.attrib == {"level": "asInvoker", "uiAccess": "false"}
    systems = manifest.findall(f"{compatibility}compatibility/{compatibility}application/{compatibility}supportedOS")
    assert [os.get("Id") for os in systems] == ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]
    # Common Controls 6: the buttons and the check box in the look of the Windows they run on.
    dependencies = manifest.findall(f"{v1}dependency/{v1}dependentAssembly/{v1}assemblyIdentity")
    assert [dependency.attrib for dependency in dependencies] == [{
        "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
        "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"}]
    settings = manifest.find(f"{v3}application/{v3}windowsSettings")
    assert settings.find("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware").text == "true/pm"
    assert settings.find("{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness").text == "PerMonitorV2"


@pytest.mark.parametrize("line", ["/x", "/s 5", "/p 0"])
def test_invalid_command_line_explains_itself_and_exits_1(wine, line):
    process = wine.start(*line.split())
    box, text = wine.message_box()
    assert text == USAGE
    assert box["text"] == "Wishwell Lumiary"
    wine.key("Return")
    assert process.wait(timeout=30) == 1


def test_invalid_preview_handle_exits_1_without_a_box(wine):
    process = wine.start("/p", "12345")
    assert process.wait(timeout=30) == 1
    assert not [w for w in wine.windows() if w["class"] == "#32770"]


def test_the_wine_runner_passes_the_exit_code_through_and_ends_a_run_at_its_time_limit(wine):
    runner = str(ROOT / "tools" / "wine-run")
    # No DISPLAY and no WINEPREFIX: the runner brings its own X server and prefix copy.
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WINEPREFIX")}
    for code in (0, 7, 53, 255):
        assert subprocess.run([runner, "cmd", "/c", "exit", str(code)], env=env, timeout=120).returncode == code
    started = time.monotonic()
    # Nothing moves the mouse on a private X server, so the screensaver would run for ever.
    run = subprocess.run([runner, str(wine.saver), "/s"], env=dict(env, WISHWELL_TIMEOUT="3"), timeout=120)
    assert run.returncode == 124
    assert time.monotonic() - started < 60


def test_each_copy_of_the_test_prefix_keeps_its_profile_folders_to_itself(wine):
    profiles = list((wine.prefix / "drive_c" / "users").glob("*/*"))
    assert any(p.name == "Desktop" for p in profiles)
    assert [str(p) for p in profiles if p.is_symlink()] == []
