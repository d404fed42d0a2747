"""The settings window: its layout at two DPI settings, the owner Windows passes it (enabled again even
when the settings process dies), the status line, keyboard navigation, closing, the reduced-motion switch,
the two previews and the warning about an unreadable stored collection."""

import json

import pytest

from conftest import banner_pixels, wait_until
from settingswindow import (CAPTION, CLOSE, IMPORT, INSTALL, NOT_CHOSEN, PREVIEW_COLLECTION, PREVIEW_SAMPLE,
                            REDUCED_MOTION, SAMPLE_STATUS, SAVER_CLASS, SETTINGS_CLASS, STANDING, boxes, child,
                            choose_file, click_close_box, click_control, message_box, open_saver_dialog,
                            open_settings, preview, refresh, status, status_text, wait_for_no_box,
                            wait_until_settled)

CHILD = 0x50000000  # WS_CHILD | WS_VISIBLE
TABSTOP = 0x00010000
AUTOCHECKBOX = 0x3

# class, text, extra style, id, and the rectangle at 96 dpi, in creation order.
CONTROLS = [
    ("Static", "Wishwell Lumiary \u00b7 Windows screensaver", 0, 0, (22, 18, 550, 30)),
    ("Static", SAMPLE_STATUS, 0, 0, (22, 57, 550, 50)),
    ("Button", "Import intention backup\u2026", TABSTOP, IMPORT, (22, 122, 260, 38)),
    ("Button", "Preview your collection", TABSTOP, PREVIEW_COLLECTION, (302, 122, 260, 38)),
    ("Button", "Preview sample intentions", TABSTOP, PREVIEW_SAMPLE, (22, 176, 260, 38)),
    ("Button", "Reduced motion", TABSTOP | AUTOCHECKBOX, REDUCED_MOTION, (302, 176, 260, 38)),
    ("Static", "Download your backup from the widget\u2019s Your intentions view, then import it here. "
               "Import again whenever you want to update the screensaver.", 0, 0, (22, 235, 540, 66)),
    ("Static", NOT_CHOSEN, 0, STANDING, (22, 308, 540, 44)),
    ("Button", "Install for this Windows user", TABSTOP, INSTALL, (22, 366, 260, 38)),
    ("Button", "Close", TABSTOP, CLOSE, (430, 366, 132, 38)),
    ("Static", "Prototype 0.1 \u00b7 Offline \u00b7 No account required", 0, 0, (22, 425, 540, 26)),
]

WINDOW_STYLE = 0x00CA0000  # WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
UNREADABLE = ("Your saved screensaver collection could not be read. It has not been changed. Import your "
              "backup again; the sample is shown meanwhile.")
SAVE_FAILED = "Could not finish saving. Your previous collection is unchanged."
REDUCED_ON = b'{"reducedMotion":true}'
REDUCED_OFF = b'{"reducedMotion":false}'


def mul_div(value, dpi):
    """Windows' MulDiv(value, dpi, 96) for the non-negative values of the layout: nearest, halves up."""
    return (value * dpi + 48) // 96


@pytest.mark.parametrize("dpi", [96, 144])
def test_window_and_controls_follow_the_system_dpi(wine, dpi):
    if dpi != 96:
        wine.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", dpi)
    assert wine.monitors()[1] == dpi
    process, window = open_settings(wine)

    assert window["text"] == CAPTION
    assert window["style"] & 0x00FF0000 == WINDOW_STYLE  # no maximise box, no sizing border
    assert window["owner"] == 0
    assert window["client"] == [mul_div(586, dpi), mul_div(475, dpi)]
    if dpi == 144:
        assert window["client"] == [879, 713]

    rows = [(c["class"], c["text"], c["style"], c["id"], tuple(c["rect"])) for c in window["children"]]
    expected = [(kind, text, CHILD | style, control_id, tuple(mul_div(v, dpi) for v in rect))
                for kind, text, style, control_id, rect in CONTROLS]
    assert rows == expected
    if dpi == 144:
        assert window["children"][0]["rect"][0] == 33 and window["children"][0]["rect"][2] == 825

    for control in window["children"]:
        font = wine.font(control["hwnd"])
        assert font == {"height": -mul_div(16, dpi), "width": 0, "weight": 400, "italic": 0, "underline": 0,
                        "strikeout": 0, "charset": 1, "quality": 5, "pitchAndFamily": 0,
                        "face": "Segoe UI"}, control["text"]
    wine.key("alt+F4")
    assert process.wait(timeout=30) == 0


def test_the_owner_windows_passes_stays_disabled_while_the_window_is_open(wine, tmp_path):
    backup = tmp_path / "backup.json"
    backup.write_text(json.dumps({"format": "wishwell-intentions", "version": 1, "intentions": [
        {"id": "a", "text": "I am enough.", "sentAt": "", "animation": "windows"}]}))
    for way in ("Close button", "alt+F4 after an import"):
        stop = tmp_path / f"stop-{way.split()[0]}"
        host, dialog = open_saver_dialog(wine, "/c", wine.saver, stop)
        window = wine.wait_for_window(lambda w: w["class"] == SETTINGS_CLASS and w["visible"], 30,
                                      "the settings window")
        assert window["owner"] == dialog["hwnd"], way
        assert not refresh(wine, dialog)["enabled"], way  # its "Settings..." cannot open a second window
        if way == "Close button":
            click_control(wine, window, CLOSE)
        else:
            # The open-file dialog and the boxes give back only the settings window, their owner.
            choose_file(wine, window, backup)
            wait_until(lambda: status_text(wine, window) == status("Your saved intentions", 1), 20, 0.2,
                       "the imported collection")
            assert not refresh(wine, dialog)["enabled"], way
            wine.key("alt+F4")
        # Enabled before the settings window went, the owner is the window activated after it.
        wait_until(lambda: not refresh(wine, window) and (lambda w: w["enabled"] and w["foreground"])(
            refresh(wine, dialog)), 20, 0.2, "the owner enabled and in front, the settings window gone")
        stop.touch()
        assert host.wait(timeout=30) == 0, way



@pytest.mark.parametrize("how, code", [("fault", 5), ("throw", 3)])
def test_a_settings_process_that_dies_enables_its_owner_again(wine, tmp_path, how, code):
    """The program's own settings window, in the helper settingscrash, dies when Import is pressed: by a
    fault (Wine's crash status 5) or by a C++ exception that nothing catches (abort's 3). Windows does not
    enable another process's window by itself; the dying process enables its owner."""
    wine.env["WISHWELL_CRASH"] = how
    stop = tmp_path / "stop"
    host, dialog = open_saver_dialog(wine, "/c", wine.build / "settingscrash.exe", stop)
    window = wine.wait_for_window(lambda w: w["class"] == SETTINGS_CLASS and w["visible"], 30,
                                  "the settings window")
    assert window["owner"] == dialog["hwnd"]
    assert not refresh(wine, dialog)["enabled"]
    click_control(wine, window, IMPORT)
    wait_until(lambda: not refresh(wine, window), 30, 0.2, "the settings process to die")
    assert refresh(wine, dialog)["enabled"]
    stop.touch()
    assert host.wait(timeout=30) == code

def test_tab_visits_the_six_commands_in_order_and_space_toggles_the_box(wine):
    process, window = open_settings(wine)
    order = []
    for _ in range(7):
        before = refresh(wine, window)["focus"]
        wine.key("Tab")
        focus = wait_until(lambda: (lambda now: now if now != before else None)(refresh(wine, window)["focus"]),
                           20, 0.2, "the focus to move")
        order.append(next(c["id"] for c in window["children"] if c["hwnd"] == focus))
    assert order == [IMPORT, PREVIEW_COLLECTION, PREVIEW_SAMPLE, REDUCED_MOTION, INSTALL, CLOSE, IMPORT]

    wine.key("shift+Tab", "shift+Tab", "shift+Tab")  # back to the checkbox
    wait_until(lambda: refresh(wine, window)["focus"] == child(window, REDUCED_MOTION)["hwnd"], 20, 0.2,
               "the focus on the checkbox")
    wine.key("space")
    preferences = wine.data_folder / "preferences.json"
    wait_until(lambda: preferences.exists() and preferences.read_bytes() == REDUCED_ON, 20, 0.2,
               "the preference written")
    assert child(refresh(wine, window), REDUCED_MOTION)["check"] == 1
    wine.key("alt+F4")
    assert process.wait(timeout=30) == 0


def test_escape_leaves_the_window_open(wine):
    process, window = open_settings(wine)
    wine.key("Escape", "Return")
    # A later key that arrives proves that Escape and Return have been handled before it.
    before = refresh(wine, window)["focus"]
    wine.key("Tab")
    wait_until(lambda: refresh(wine, window)["focus"] != before, 20, 0.2, "the focus to move")
    assert process.poll() is None
    assert refresh(wine, window)["visible"]
    wine.key("alt+F4")
    assert process.wait(timeout=30) == 0


@pytest.mark.parametrize("way", ["alt+F4", "close box", "Close button"])
def test_each_way_of_closing_ends_the_program_with_code_0(wine, way):
    process, window = open_settings(wine)
    if way == "alt+F4":
        wine.key("alt+F4")
    elif way == "close box":
        click_close_box(wine, window)
    else:
        click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_reduced_motion_writes_each_state_and_the_next_start_shows_it(wine):
    process, window = open_settings(wine)
    box = child(window, REDUCED_MOTION)
    assert box["check"] == 0
    preferences = wine.data_folder / "preferences.json"
    assert not wine.data_folder.exists()  # nothing is written by merely opening the window

    click_control(wine, window, REDUCED_MOTION)
    wait_until(lambda: preferences.exists() and preferences.read_bytes() == REDUCED_ON, 20, 0.2,
               "the 22-byte preference")
    assert len(preferences.read_bytes()) == 22
    assert child(refresh(wine, window), REDUCED_MOTION)["check"] == 1

    click_control(wine, window, REDUCED_MOTION)
    wait_until(lambda: preferences.read_bytes() == REDUCED_OFF, 20, 0.2, "the 23-byte preference")
    assert len(preferences.read_bytes()) == 23
    assert child(refresh(wine, window), REDUCED_MOTION)["check"] == 0

    click_control(wine, window, REDUCED_MOTION)
    wait_until(lambda: preferences.read_bytes() == REDUCED_ON, 20, 0.2, "the preference on again")
    assert sorted(p.name for p in wine.data_folder.iterdir()) == ["preferences.json"]  # no temporary left
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0

    process, window = open_settings(wine)
    assert child(window, REDUCED_MOTION)["check"] == 1
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


# Whatever stands in "preferences.json", the window opens without a word; only the boolean true
# of the one member ticks the box.
@pytest.mark.parametrize("stored, checked", [
    (b'{"reducedMotion":true,"theme":"dark"}', 1),
    (b"true", 0),
    (b'{"reducedMotion":"true"}', 0),
    (b'// reduced\n{"reducedMotion":true}', 0),
    (b"", 0),
    (b"\xff\xfe{", 0),
], ids=["true with more members", "true alone", "a string", "a comment", "empty", "not text"])
def test_the_stored_preference_sets_the_box_and_an_unusable_one_is_ignored_silently(wine, stored, checked):
    wine.data_folder.mkdir(parents=True)
    preferences = wine.data_folder / "preferences.json"
    preferences.write_bytes(stored)
    process, window = open_settings(wine)
    assert child(window, REDUCED_MOTION)["check"] == checked
    wait_until_settled(wine, window)
    assert not boxes(wine, window)
    assert preferences.read_bytes() == stored
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


@pytest.mark.parametrize("stored", [REDUCED_ON, REDUCED_OFF])
def test_a_failed_save_puts_the_check_mark_back(wine, stored):
    wine.data_folder.mkdir(parents=True)
    preferences = wine.data_folder / "preferences.json"
    preferences.write_bytes(stored)
    process, window = open_settings(wine)
    old = 1 if stored == REDUCED_ON else 0
    assert child(window, REDUCED_MOTION)["check"] == old

    # A folder standing where the save's temporary file goes makes the save fail before it writes.
    blocker = wine.data_folder / f"preferences.json.tmp-{window['pid']}"
    blocker.mkdir()
    click_control(wine, window, REDUCED_MOTION)
    _, text = message_box(wine, window)
    assert text == "Could not save your screensaver settings."
    assert child(refresh(wine, window), REDUCED_MOTION)["check"] == old
    wine.key("Return")
    wait_for_no_box(wine, window)
    assert preferences.read_bytes() == stored

    # Replacing the file fails too when a folder has taken its name.
    blocker.rmdir()
    preferences.unlink()
    preferences.mkdir()
    click_control(wine, window, REDUCED_MOTION)
    _, text = message_box(wine, window)
    assert text == SAVE_FAILED
    assert child(refresh(wine, window), REDUCED_MOTION)["check"] == old
    wine.key("Return")
    wait_for_no_box(wine, window)
    assert preferences.is_dir() and not list(preferences.iterdir())
    assert sorted(p.name for p in wine.data_folder.iterdir()) == ["preferences.json"]

    # With the way clear again the same click succeeds: the failed attempts left nothing behind.
    preferences.rmdir()
    click_control(wine, window, REDUCED_MOTION)
    wait_until(lambda: preferences.is_file() and preferences.read_bytes() == (REDUCED_OFF if old else REDUCED_ON),
               20, 0.2, "the preference written")
    assert child(refresh(wine, window), REDUCED_MOTION)["check"] == 1 - old
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


@pytest.mark.parametrize("button", [PREVIEW_COLLECTION, PREVIEW_SAMPLE])
def test_a_preview_hides_the_window_and_a_key_brings_it_back(wine, button):
    monitors, _ = wine.monitors()
    process, window = open_settings(wine)
    click_control(wine, window, button)
    displays = wine.wait_for_windows(lambda w: w["class"] == SAVER_CLASS and w["visible"], len(monitors),
                                     what="the display windows")
    assert sorted(w["rect"] for w in displays) == sorted(monitors)
    hidden = refresh(wine, window)
    assert not hidden["visible"] and not hidden["enabled"]

    wine.key("a")
    wait_until(lambda: not [w for w in wine.windows() if w["class"] == SAVER_CLASS], 20, 0.2,
               "the display windows to close")
    back = wait_until(lambda: (lambda w: w if w["visible"] and w["enabled"] and w["foreground"] else None)(
        refresh(wine, window)), 20, 0.2, "the settings window back in front")
    assert back["children"][1]["text"] == SAMPLE_STATUS
    assert process.poll() is None

    # The window takes input again: its own buttons work after the preview.
    click_control(wine, back, CLOSE)
    assert process.wait(timeout=30) == 0


def test_a_preview_from_the_settings_window_covers_every_monitor(dual_wine):
    monitors, _ = dual_wine.monitors()
    assert sorted(monitors) == sorted(dual_wine.expected_monitors) and len(monitors) == 2
    process, window = open_settings(dual_wine)
    click_control(dual_wine, window, PREVIEW_SAMPLE)
    displays = dual_wine.wait_for_windows(lambda w: w["class"] == SAVER_CLASS and w["visible"], 2,
                                          what="a display window on each monitor")
    assert sorted(w["rect"] for w in displays) == sorted(monitors)
    assert not refresh(dual_wine, window)["visible"]
    dual_wine.key("a")
    wait_until(lambda: (lambda w: w if w["visible"] and w["enabled"] and w["foreground"] else None)(
        refresh(dual_wine, window)), 20, 0.2, "the settings window back in front")
    assert not [w for w in dual_wine.windows() if w["class"] == SAVER_CLASS]
    click_control(dual_wine, refresh(dual_wine, window), CLOSE)
    assert process.wait(timeout=30) == 0


def test_after_an_import_the_sample_preview_still_shows_the_samples(wine, tmp_path):
    entries = [{"id": f"mine-{i}", "text": f"I keep promise number {i}.", "sentAt": "2026-11-02",
                "animation": "wordart", "wordartTheme": "superhero"} for i in range(30)]
    backup = tmp_path / "mine.json"
    backup.write_text(json.dumps({"format": "wishwell-intentions", "version": 1, "intentions": entries}))
    process, window = open_settings(wine)
    choose_file(wine, window, backup)
    wait_until(lambda: status_text(wine, window) == status("Your saved intentions", 30), 20, 0.2,
               "the imported collection")

    assert banner_pixels(preview(wine, window, PREVIEW_SAMPLE)) > 10
    assert banner_pixels(preview(wine, window, PREVIEW_COLLECTION)) == 0
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_an_unreadable_stored_collection_warns_once_over_the_window_and_keeps_its_bytes(wine):
    wine.data_folder.mkdir(parents=True)
    stored = wine.data_folder / "intentions.json"
    broken = b'{"format":"wishwell-intentions","version":1,"intentions":[{"id":"a"'
    stored.write_bytes(broken)
    process, window = open_settings(wine)
    assert window["children"][1]["text"] == SAMPLE_STATUS
    box, text = message_box(wine, window)
    assert text == UNREADABLE
    wine.key("Return")
    wait_for_no_box(wine, window)

    # The window has the keyboard again, so no second warning stands in the way.
    before = refresh(wine, window)["focus"]
    wine.key("Tab")
    wait_until(lambda: refresh(wine, window)["focus"] != before, 20, 0.2, "the focus to move")
    assert not [w for w in wine.windows() if w["class"] == "#32770"]
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0
    assert stored.read_bytes() == broken
