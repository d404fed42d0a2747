"""A save of the stored collection killed part way, with its wine server: before the replacing move
the target keeps the old document in full, after it the target holds the new one in full, and the
next full-screen run shows what the target holds. The save is the program's own atomicSave, held at
the chosen moment by the test helper savehold."""

import json

from conftest import wait_until
from test_run import banner_pixels, ink, saver_windows


def document(count, wording):
    """A stored collection of distinct intentions, none of them samples."""
    looks = [("wordart", "superhero"), ("wordart", "blues"), ("windows", None), ("echoes", None)]
    entries = []
    for i in range(count):
        animation, theme = looks[i % len(looks)]
        entry = {"id": f"{wording}-{i}", "text": f"I {wording} promise number {i}.", "sentAt": "2026-11-02",
                 "animation": animation}
        if theme:
            entry["wordartTheme"] = theme
        entries.append(entry)
    return json.dumps({"format": "wishwell-intentions", "version": 1, "intentions": entries},
                      ensure_ascii=False).encode()


def stored_collection_is_shown(wine):
    """Runs the screensaver until it draws: the stored collection, with no sample banner, means the
    start parsed the file; a file that fails to parse would bring the samples and their banner."""
    process = wine.start("/s")
    saver_windows(wine, 1)
    image = wait_until(lambda: (lambda shot: shot if ink(shot) > 0.02 else None)(wine.screenshot()),
                       what="the stored intentions on screen")
    banner = banner_pixels(image)
    wine.key("Escape")
    assert process.wait(timeout=20) == 0
    assert banner == 0


def held_save(wine, moment, old, new):
    """Stores old, starts a save of new held at the moment, and kills it there. Returns the target
    and the Windows process id of the killed save."""
    wine.data_folder.mkdir(parents=True)
    target = wine.data_folder / "intentions.json"
    target.write_bytes(old)
    content = wine.work / "new.json"
    content.write_bytes(new)
    marker = wine.work / "held"
    process = wine.start(moment, wine.windows_path(target), wine.windows_path(content), wine.windows_path(marker),
                         program=wine.build / "savehold.exe")
    wait_until(lambda: marker.exists() or process.poll() is not None, timeout=30, what="the save to be held")
    assert process.poll() is None, f"the save ended with {process.returncode} instead of holding"
    windows_pid = int(marker.read_text())
    wine.kill(process)
    return target, windows_pid


def test_kill_before_the_move_keeps_the_old_collection_whole(wine):
    old, new = document(400, "keep"), document(600, "make")
    target, windows_pid = held_save(wine, "before", old, new)
    leftover = wine.data_folder / f"intentions.json.tmp-{windows_pid}"
    assert sorted(p.name for p in wine.data_folder.iterdir()) == ["intentions.json", leftover.name]
    assert target.read_bytes() == old
    assert leftover.read_bytes() == new  # written and flushed in full; only the move was missing

    stored_collection_is_shown(wine)
    assert target.read_bytes() == old

    # A later save whose temporary file has the leftover's name overwrites it, it does not append.
    newer = document(3, "start")
    assert len(newer) < len(new)
    content = wine.work / "newer.json"
    content.write_bytes(newer)
    saver = wine.start("save", wine.windows_path(target), wine.windows_path(content), wine.windows_path(leftover),
                       program=wine.build / "savehold.exe")
    assert saver.wait(timeout=60) == 0
    assert target.read_bytes() == newer
    assert [p.name for p in wine.data_folder.iterdir()] == ["intentions.json"]


def test_kill_after_the_move_leaves_the_new_collection_whole(wine):
    old, new = document(400, "keep"), document(600, "make")
    target, _ = held_save(wine, "after", old, new)
    assert [p.name for p in wine.data_folder.iterdir()] == ["intentions.json"]
    assert target.read_bytes() == new
    stored_collection_is_shown(wine)
    assert target.read_bytes() == new
