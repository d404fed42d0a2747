"""Driving the settings window as a person does, and reading it back as a screen reader would."""

from conftest import ink, wait_until

SETTINGS_CLASS = "WishwellSettings"
SAVER_CLASS = "WishwellSaver"
CAPTION = "Wishwell Lumiary"
DIALOG_TITLE = "Import your intention backup"
QUESTION = ("Replace the screensaver's current collection with this backup?\n\n"
            "Your widget and the original backup file will stay unchanged.")
SECOND_LINE = "\r\nBackups are copied locally. Nothing is uploaded."
SAMPLE_STATUS = "Sample intentions \u00b7 8 entries" + SECOND_LINE

IMPORT, PREVIEW_COLLECTION, PREVIEW_SAMPLE, REDUCED_MOTION, INSTALL, CLOSE = range(101, 107)
STANDING = 201  # the line that says whether Windows starts the screensaver
NOT_CHOSEN = "Windows is not set to start Wishwell Lumiary. Press Install for this Windows user to choose it."


def folder_error(wine):
    """What the file-system library says when a plain file stands where the data folder belongs."""
    return f"filesystem error: cannot create directories: Not a directory [{wine.windows_path(wine.data_folder)}]"


def status(label, count):
    return f"{label} \u00b7 {count} entries" + SECOND_LINE


def open_settings(wine, *args, program=None):
    """Starts the program in settings mode and waits for its window."""
    process = wine.start(*(args or ("/c",)), program=program)
    window = wine.wait_for_window(lambda w: w["class"] == SETTINGS_CLASS and w["visible"], 30,
                                  "the settings window")
    return process, window


def refresh(wine, window):
    """The window as it is now, or None once it is gone."""
    return next((w for w in wine.windows() if w["hwnd"] == window["hwnd"]), None)


def child(window, control_id):
    return next(c for c in window["children"] if c["id"] == control_id)


def status_text(wine, window):
    return refresh(wine, window)["children"][1]["text"]


def click_control(wine, window, control_id):
    x, y, width, height = child(window, control_id)["rect"]
    left, top = window["clientOrigin"]
    wine.click(left + x + width // 2, top + y + height // 2)


def click_close_box(wine, window):
    left, top, width, height = window["titleBar"]
    button_width, _ = window["captionButton"]
    wine.click(left + width - button_width // 2 - 1, top + height // 2)


def message_box(wine, window, title=CAPTION, timeout=20.0):
    """The message box with that title that the settings window owns, and its text."""
    box = wine.wait_for_window(lambda w: w["class"] == "#32770" and w["visible"] and w["text"] == title
                               and w["pid"] == window["pid"], timeout, f"the box {title!r}")
    assert box["owner"] == window["hwnd"], "the box must belong to the settings window"
    return box, next(c["text"] for c in box["children"] if c["id"] == 65535)


def boxes(wine, window):
    """Every dialog of the program: message boxes and the open-file dialog."""
    return [w for w in wine.windows() if w["class"] == "#32770" and w["visible"] and w["pid"] == window["pid"]]


def wait_for_no_box(wine, window):
    wait_until(lambda: not boxes(wine, window), 20, 0.2, "the box to close")


def choose_file(wine, window, path):
    """Presses "Import intention backup…" and picks the file by typing its full path."""
    click_control(wine, window, IMPORT)
    wine.wait_for_window(lambda w: w["class"] == "#32770" and w["visible"] and w["text"] == DIALOG_TITLE
                         and w["pid"] == window["pid"], 20, "the open-file dialog")
    wine.type(wine.windows_path(path))
    wine.key("Return")
    wait_until(lambda: not [w for w in boxes(wine, window) if w["text"] == DIALOG_TITLE], 20, 0.2,
               "the open-file dialog to close")


def wait_until_settled(wine, window):
    """Waits until the window is back to taking input: enabled, no dialog of its own open.

    A command that shows nothing is over once the window answers a Tab with a focus change: the
    key is handled only after everything the command sent before it.
    """
    wait_for_no_box(wine, window)
    before = refresh(wine, window)["focus"]
    wine.key("Tab")
    wait_until(lambda: refresh(wine, window)["focus"] != before, 20, 0.2, "the window to take input again")


def preview(wine, window, button):
    """Opens a preview, waits until it has drawn, and ends it with a key; returns what it showed."""
    click_control(wine, window, button)
    wine.wait_for_windows(lambda w: w["class"] == SAVER_CLASS and w["visible"], 1, what="the display")
    image = wait_until(lambda: (lambda shot: shot if ink(shot) > 0.01 else None)(wine.screenshot()), 20, 0.2,
                       "intentions on screen")
    wine.key("a")
    wait_until(lambda: (lambda w: w if w["visible"] and w["enabled"] else None)(refresh(wine, window)), 20, 0.2,
               "the settings window back")
    return image


def open_saver_dialog(wine, switch, saver, stop):
    """Windows' Screen Saver Settings dialog, played by a helper, with the screensaver started from it:
    owned by it ("/c") or as its preview ("/p"). It stays until the file stop exists, then ends with
    the screensaver's exit code."""
    process = wine.start(switch, wine.windows_path(saver), wine.windows_path(stop),
                         program=wine.build / "saverdialog.exe")
    dialog = wine.wait_for_window(lambda w: w["class"] == "WishwellTestSaverDialog" and w["visible"], 30,
                                  "the screensaver dialog")
    return process, dialog


def previewing(wine, dialog):
    """The preview child inside the dialog, once it is there."""
    return wait_until(lambda: next((c for c in refresh(wine, dialog)["children"] if c["class"] == SAVER_CLASS),
                                   None), 30, 0.2, "the preview in the screensaver dialog")
