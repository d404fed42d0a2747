"""A short page cycle: the program's own display windows draw frames and change pages, driven by
tests/helpers/pagecycle.cpp, and the memory each frame and each page change adds is bounded.

tools/soak runs the long version; this one keeps a leak from landing unseen."""

import json
import select
import statistics
import subprocess
import time
from pathlib import Path

import pytest

INTENTIONS = 36  # three pages of 12, so every page change rebuilds the page's images
LOOKS = [("wordart", "rainbow"), ("wordart", "superhero"), ("wordart", "italicOutline"),
         ("echoes", None), ("windows", None), ("legacy", None)]
FRAMES = 4  # frames of each page; the first page's memory is read after every 4 of its frames
FIRST_PAGE_FRAMES = 300
PAGES = 48  # page changes after the first page, read after every sixth: 16 passes through the 3 pages
WARM_UP_FRAMES = 8  # the first page's growth is measured from here on
WARM_UP_PAGES = 18  # and the page changes' from this page on, once the heap has settled
# Bounds on VmData, the process's private data and heap, which any leak grows. Without a leak a
# frame adds nothing, and a page change up to some 200 KiB while Wine's heap settles. One frame's
# areas kept would add 36 x 16 bytes a frame; one page's images kept, 12 of at least 420 x 140
# pixels, 2.7 MiB a page change. The bounds leave room for a step or two of the heap.
PER_FRAME_KIB = 0.5
PER_PAGE_KIB = 512.0
HEAP_STEP_KIB = 256  # what the heap may take at once without a leak, beyond the bound per frame
RUNAWAY_MIB = 512  # VmData at which the helper is stopped at once, to spare the machine; it needs ~70
DEADLINE_S = 50


def collection():
    entries = []
    for i in range(INTENTIONS):
        animation, theme = LOOKS[i % len(LOOKS)]
        entry = {"id": f"cycle-{i:02d}", "text": f"I grow a little every day, step {i + 1} of many.",
                 "sentAt": "2026-11-02", "animation": animation}
        if theme:
            entry["wordartTheme"] = theme
        entries.append(entry)
    return json.dumps({"format": "wishwell-intentions", "version": 1, "intentions": entries})


def data_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmData:"):
            return int(line.split()[1])
    raise RuntimeError("no VmData")


def slope(points):
    """Least-squares slope of [(x, y)]."""
    mx = statistics.fmean(x for x, _ in points)
    my = statistics.fmean(y for _, y in points)
    return sum((x - mx) * (y - my) for x, y in points) / sum((x - mx) ** 2 for x, _ in points)


def frames_beyond_bound(readings):
    """Why the first page's frames have grown the memory past their bound, or None. Checked at
    every reading, so that a leak on every frame is stopped before it is large."""
    page, frames, kib = readings[-1]
    start = next(((f, k) for p, f, k in readings if p == 0 and f >= WARM_UP_FRAMES), None)
    if page != 0 or not start or frames == start[0]:
        return None
    growth = kib - start[1]
    if growth <= PER_FRAME_KIB * (frames - start[0]) + HEAP_STEP_KIB:
        return None
    return (f"the {frames - start[0]} frames of one page after its first {start[0]} added {growth} KiB, "
            f"{growth / (frames - start[0]):.1f} KiB each (bound {PER_FRAME_KIB} KiB a frame and {HEAP_STEP_KIB} "
            f"KiB at once); readings (page, frames drawn, VmData KiB): {readings}")


def test_frames_and_page_changes_leave_memory_bounded(wine, tmp_path):
    stored = tmp_path / "intentions.json"
    stored.write_text(collection())
    process = subprocess.Popen(["wine", str(wine.build / "pagecycle.exe"), wine.windows_path(stored), str(PAGES),
                                str(FRAMES), str(FIRST_PAGE_FRAMES)],
                               env=wine.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    wine.processes.append(process)  # wine execs the loader: this pid is the Windows process itself
    started = time.monotonic()
    readings = []  # (page, frames of that page drawn, VmData KiB), read while the helper waits

    def data_mib():
        try:
            return data_kib(process.pid) / 1024
        except OSError:  # ended meanwhile
            return 0.0

    while True:
        # Polled rather than waited for, so that a runaway leak is stopped before it takes the
        # machine's memory, and a helper that stands still fails at the deadline.
        if select.select([process.stdout], [], [], 0.25)[0]:
            line = process.stdout.readline().split()
            if not line:
                break
            readings.append((int(line[1]), int(line[3]), data_kib(process.pid)))
            if excess := frames_beyond_bound(readings):
                process.kill()
                pytest.fail(excess)
            process.stdin.write(b"\n")
            process.stdin.flush()
        elif process.poll() is not None:
            break
        elif (memory := data_mib()) > RUNAWAY_MIB or time.monotonic() - started > DEADLINE_S:
            process.kill()
            first = [(frames, kib) for page, frames, kib in readings if page == 0]
            growth = (f"; its first page's frames added {slope(first):+.1f} KiB each" if len(first) > 2 else "")
            pytest.fail(f"the page cycle was stopped after {time.monotonic() - started:.0f} s with VmData at "
                        f"{memory:.0f} MiB (limits {DEADLINE_S} s and {RUNAWAY_MIB} MiB){growth}; readings "
                        f"(page, frames drawn, VmData KiB): {readings}")
    assert process.wait(timeout=30) == 0, f"the page cycle ended with {process.returncode}"

    first = [(frames, kib) for page, frames, kib in readings if page == 0 and frames >= WARM_UP_FRAMES]
    later = [(page, kib) for page, frames, kib in readings if page >= WARM_UP_PAGES]
    assert len(first) >= 5 and len(later) >= 4, readings
    per_frame = slope(first)
    per_page = slope(later)
    print(f"page cycle: {time.monotonic() - started:.1f} s; VmData {per_frame:+.2f} KiB a frame, "
          f"{per_page:+.1f} KiB a page change; readings (page, frames, KiB): {readings}")
    assert per_frame <= PER_FRAME_KIB, (
        f"each frame of one page added {per_frame:.2f} KiB (bound {PER_FRAME_KIB} KiB); readings {readings}")
    assert per_page <= PER_PAGE_KIB, (
        f"each page change added {per_page:.1f} KiB (bound {PER_PAGE_KIB} KiB); readings {readings}")
