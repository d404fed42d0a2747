"""A person whose profile and backup folders are named outside ASCII: the data folder under a
"Zoë" profile with Greek and Chinese in its path, and a backup picked from such a folder. Import,
the preference, the installed copy and the next start all find their files there."""

import json

from conftest import SAVER_NAME, wait_until
from settingswindow import (CLOSE, INSTALL, REDUCED_MOTION, SAMPLE_STATUS, boxes, child, choose_file,
                            click_control, open_settings, refresh, status, status_text)
from test_import import BACKUP, PAGE, STORED
from test_install import calls, install_recorder, wait_for_calls

PROFILE = "Zoë Ελληνικά 中文"


def move_local_app_data(wine):
    """Points the user's local application data folder into the foreign-named profile."""
    local = wine.prefix / "drive_c" / "users" / PROFILE / "AppData" / "Local"
    local.mkdir(parents=True)
    wine.reg_add(r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders",
                 "Local AppData", "REG_EXPAND_SZ", wine.windows_path(local))
    return local / "Wishwell Lumiary"


def test_a_foreign_named_profile_and_backup_folder_work_everywhere(wine, tmp_path):
    usual_folder = wine.data_folder
    data_folder = move_local_app_data(wine)
    backup = tmp_path / "Ζωή 备份" / "intentions backup.html"
    backup.parent.mkdir()
    backup.write_text(PAGE.format(document=json.dumps(BACKUP, ensure_ascii=False)), encoding="utf-8")
    record = install_recorder(wine)

    process, window = open_settings(wine)
    assert window["children"][1]["text"] == SAMPLE_STATUS
    choose_file(wine, window, backup)
    stored = data_folder / "intentions.json"
    wait_until(lambda: stored.exists() and stored.read_bytes() == STORED, 20, 0.2,
               "the collection stored in the foreign-named folder")
    wait_until(lambda: status_text(wine, window) == status("Your saved intentions", 3), 20, 0.2,
               "the status line")

    click_control(wine, window, REDUCED_MOTION)
    preferences = data_folder / "preferences.json"
    wait_until(lambda: preferences.exists() and preferences.read_bytes() == b'{"reducedMotion":true}', 20, 0.2,
               "the preference stored in the foreign-named folder")

    click_control(wine, window, INSTALL)
    installed = data_folder / SAVER_NAME
    assert wait_for_calls(record, 1) == ['"' + wine.windows_path(installed) + '"']
    assert installed.read_bytes() == wine.saver.read_bytes()
    assert not boxes(wine, window)
    assert sorted(p.name for p in data_folder.iterdir()) == sorted(
        ["intentions.json", "preferences.json", SAVER_NAME])
    # Nothing went to the profile the folder was moved away from.
    assert not usual_folder.exists()
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0

    # The next start, from the installed copy, reads both files back from there.
    process, window = open_settings(wine, "/c", program=wine.windows_path(installed))
    assert window["children"][1]["text"] == status("Your saved intentions", 3)
    assert child(window, REDUCED_MOTION)["check"] == 1
    assert not boxes(wine, window)
    assert refresh(wine, window)["visible"]
    assert len(calls(record)) == 1
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0
