"""Starting the real executable: what it carries, what it needs, how a bad command line ends."""


import pefile
import pytest

USAGE = "Use /s to run, /c for settings, or /p with a Windows preview window handle."


def test_imports_only_windows_own_dlls(wine):
    image = pefile.PE(str(wine.saver))
    dlls = {entry.dll.decode().lower() for entry in image.DIRECTORY_ENTRY_IMPORT}
    allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "msvcrt.dll", "shell32.dll",
               "ole32.dll", "advapi32.dll"}
    assert dlls <= allowed, dlls - allowed
    # The open-file dialog's DLL loads when the dialog first opens (the import tests open it), not
    # at every start of the screensaver.
    assert "comdlg32.dll" not in dlls
    assert image.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]
    assert image.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]


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
    manifest = image.get_data(data.OffsetToData, data.Size).decode("utf-8")
    for expected in ['manifestVersion="1.0"', 'version="0.1.0.0"', 'processorArchitecture="*"', 'type="win32"',
                     'name="Quillfern.WishwellLumiary.Screensaver"', "<description>Wishwell Lumiary screensaver",
                     'level="asInvoker"', 'uiAccess="false"', "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
                     ">true/pm</dpiAware>", ">PerMonitorV2</dpiAwareness>"]:
        assert expected in manifest


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
