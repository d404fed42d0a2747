"""Installing for the current Windows user: the copy in the data folder and the Windows screensaver
installer started on it. Wine has no display control panel; the test's desk.cpl records every call."""

import json
import shutil

from conftest import SAVER_NAME, wait_until
from settingswindow import (CLOSE, INSTALL, NOT_CHOSEN, STANDING, boxes, child, click_control, folder_error,
                            message_box, open_saver_dialog, open_settings, previewing, refresh)


def install_recorder(wine):
    shutil.copyfile(wine.build / "desk.cpl", wine.prefix / "drive_c" / "windows" / "system32" / "desk.cpl")
    return wine.prefix / "drive_c" / "deskcpl-calls.txt"


def calls(record):
    if not record.exists():
        return []
    return record.read_bytes().decode("utf-16-le").splitlines()


def wait_for_calls(record, count):
    return wait_until(lambda: (lambda found: found if len(found) >= count else None)(calls(record)), 30, 0.2,
                      f"{count} call(s) of the installer")


def dismiss_warning(wine, window, expected):
    _, text = message_box(wine, window)
    assert text == expected
    wine.key("Return")
    wait_until(lambda: not boxes(wine, window), 20, 0.2, "the box to close")


def test_install_copies_the_program_and_opens_the_installer_on_the_copy_each_time(wine):
    record = install_recorder(wine)
    installed = wine.data_folder / SAVER_NAME
    quoted = '"' + wine.windows_path(installed) + '"'
    assert " " in quoted  # "Wishwell Lumiary" reaches the installer as one argument
    process, window = open_settings(wine)

    click_control(wine, window, INSTALL)
    assert wait_for_calls(record, 1) == [quoted]
    assert installed.read_bytes() == wine.saver.read_bytes()
    assert not boxes(wine, window)
    assert refresh(wine, window)["visible"]

    # The second press copies again over whatever lies there, and starts the installer again.
    installed.write_bytes(b"an older copy")
    click_control(wine, window, INSTALL)
    assert wait_for_calls(record, 2) == [quoted, quoted]
    assert installed.read_bytes() == wine.saver.read_bytes()
    assert not boxes(wine, window)
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_install_pressed_again_while_windows_previews_the_copy_only_opens_the_installer(wine, tmp_path):
    record = install_recorder(wine)
    installed = wine.data_folder / SAVER_NAME
    quoted = '"' + wine.windows_path(installed) + '"'
    process, window = open_settings(wine)
    click_control(wine, window, INSTALL)
    assert wait_for_calls(record, 1) == [quoted]

    # The installer opens Windows' screensaver settings, which run the installed copy as their
    # preview at once: a running executable cannot be overwritten, and need not be.
    stop = tmp_path / "stop"
    host, dialog = open_saver_dialog(wine, "/p", installed, stop)
    previewing(wine, dialog)
    click_control(wine, window, INSTALL)
    assert wait_for_calls(record, 2) == [quoted] * 2
    click_control(wine, window, INSTALL)
    assert wait_for_calls(record, 3) == [quoted] * 3
    assert not boxes(wine, window)
    assert previewing(wine, dialog)  # in use all along
    assert installed.read_bytes() == wine.saver.read_bytes()
    stop.touch()
    assert host.wait(timeout=30) == 0

    # Another build in use cannot be replaced: the user is told to close the preview. This one has
    # the same size and another link time in its PE header.
    other = bytearray(wine.saver.read_bytes())
    other[int.from_bytes(other[0x3C:0x40], "little") + 8] ^= 0xFF
    installed.write_bytes(other)
    stop = tmp_path / "stop-other"
    host, dialog = open_saver_dialog(wine, "/p", installed, stop)
    previewing(wine, dialog)
    click_control(wine, window, INSTALL)
    dismiss_warning(wine, window, "Could not copy the screensaver. Close any running preview and try again.")
    assert calls(record) == [quoted] * 3
    assert installed.read_bytes() == other
    stop.touch()
    assert host.wait(timeout=30) == 0
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_the_installed_copy_does_not_copy_itself(wine):
    record = install_recorder(wine)
    installed = wine.data_folder / SAVER_NAME
    wine.data_folder.mkdir(parents=True)
    shutil.copyfile(wine.saver, installed)
    before = installed.stat()

    process, window = open_settings(wine, "/c", program=wine.windows_path(installed))
    click_control(wine, window, INSTALL)
    assert wait_for_calls(record, 1) == ['"' + wine.windows_path(installed) + '"']
    after = installed.stat()
    # Not even opened for writing: a copy would have changed the status-change time.
    assert (after.st_ino, after.st_ctime_ns, after.st_size) == (before.st_ino, before.st_ctime_ns, before.st_size)
    assert not boxes(wine, window)
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_a_failed_copy_says_so_and_starts_no_installer(wine):
    record = install_recorder(wine)
    (wine.data_folder / SAVER_NAME).mkdir(parents=True)  # a folder has taken the copy's name
    process, window = open_settings(wine)
    click_control(wine, window, INSTALL)
    dismiss_warning(wine, window, "Could not copy the screensaver. Close any running preview and try again.")
    assert calls(record) == []
    assert (wine.data_folder / SAVER_NAME).is_dir()
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_an_impossible_data_folder_shows_the_file_system_error(wine):
    record = install_recorder(wine)
    wine.data_folder.parent.mkdir(parents=True, exist_ok=True)
    wine.data_folder.write_bytes(b"not a folder")
    process, window = open_settings(wine)
    click_control(wine, window, INSTALL)
    dismiss_warning(wine, window, folder_error(wine))
    assert calls(record) == []
    assert wine.data_folder.read_bytes() == b"not a folder"
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_a_copy_whose_installer_cannot_start_says_so_and_stays_installed(wine):
    record = install_recorder(wine)
    # Without the system's program that opens control panel items, Windows settings cannot open.
    (wine.prefix / "drive_c" / "windows" / "system32" / "rundll32.exe").unlink()
    process, window = open_settings(wine)
    click_control(wine, window, INSTALL)
    dismiss_warning(wine, window, "The screensaver was copied, but Windows settings could not open.")
    assert calls(record) == []
    assert (wine.data_folder / SAVER_NAME).read_bytes() == wine.saver.read_bytes()
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0



def test_the_line_says_whether_windows_starts_the_screensaver_each_time_the_window_is_activated(wine):
    desktop, policy = r"HKCU\Control Panel\Desktop", r"HKCU\Software\Policies\Microsoft\Windows\Control Panel\Desktop"
    installed = wine.data_folder / SAVER_NAME
    installed.parent.mkdir(parents=True)
    older = bytearray(wine.saver.read_bytes())
    fixed = older.index(b"\xbd\x04\xef\xfe")  # the fixed version information's signature
    older[fixed + 8:fixed + 16] = bytes(8)  # file version 0.0.0.0
    installed.write_bytes(older)
    out = wine.run_wine([str(wine.build / "winlist.exe"), "--short", wine.windows_path(installed)]).stdout
    short = json.loads(out.decode().splitlines()[-1])["short"]
    assert short and short != wine.windows_path(installed)
    wine.reg_add(desktop, "ScreenSaveTimeOut", "REG_SZ", 61)  # Wine reads it once per process
    wine.reg_add(policy, "ScreenSaveActive", "REG_SZ", "0")
    process, window = open_settings(wine)
    line = lambda: child(refresh(wine, window), STANDING)["text"]
    assert line() == "The screensaver on this PC is chosen by your organisation's policy."

    starts = "Windows starts Wishwell Lumiary after 2 minutes without input."
    choose = lambda path: wine.reg_add(desktop, "SCRNSAVE.EXE", "REG_SZ", path)
    for change, expected in [
            (lambda: wine.run_wine(["reg", "delete", policy, "/f"]), NOT_CHOSEN),
            (lambda: choose(wine.windows_path(installed)),
             "An older version is installed. Press Install for this Windows user to update it."),
            (lambda: installed.write_bytes(wine.saver.read_bytes()), starts),
            (lambda: choose(r"C:\windows\notepad.exe"), NOT_CHOSEN),
            (lambda: choose(short.upper()), starts)]:
        change()
        # Another program in front, then closed: as when the user comes back from Windows' settings.
        other = wine.start(program="notepad")
        notepad = wine.wait_for_window(lambda w: w["pid"] != window["pid"] and w["foreground"], 30, "notepad")
        left, top, width, height = notepad["rect"]
        wine.xdotool("mousemove", left + width - 20, top + height - 20)  # outside the settings window
        wine.key("alt+F4")
        assert other.wait(timeout=30) == 0
        wait_until(lambda: line() == expected, 20, 0.2, f"the line {expected!r}")
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0
