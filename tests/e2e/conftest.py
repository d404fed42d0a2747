"""End-to-end harness: the real "Wishwell Lumiary.scr" under Wine, on a private X server per test.

Every test gets its own X server, its own copy of the template Wine prefix and a throwaway HOME; at
the end its programs, its wine server and its X server are stopped by their own ids.
"""

import itertools
import json
import os
import select
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest
from PIL import Image

ROOT = Path(__file__).resolve().parents[2]
SAVER_NAME = "Wishwell Lumiary.scr"


def pytest_addoption(parser):
    parser.addoption("--build", default=str(ROOT / "build" / "windows"), help="the windows build folder")


def wait_until(condition, timeout=20.0, interval=0.1, what="the condition"):
    """Polls condition() until it returns something truthy; fails the test at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            pytest.fail(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


def banner_pixels(image):
    """Pixels of the banner's mid grey in the lower left corner, where "SAMPLE INTENTIONS" stands."""
    width, height = image.size
    box = image.crop((10, height - 34, min(260, width), height - 4))
    return sum(1 for pixel in box.getdata() if pixel == (0x8C, 0x8C, 0x8C))


def ink(image):
    """The share of pixels that are not black."""
    small = image.resize((image.width // 8, image.height // 8))
    data = list(small.getdata())
    return sum(1 for pixel in data if max(pixel) > 40) / len(data)


def process_ended(pid):
    """True once the process is gone or only its zombie is left for a parent to collect."""
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(") ", 1)[1].startswith(("Z", "X"))
    except (OSError, IndexError):
        return True


def ensure_template(build):
    """The template prefix every test copies, made (under a lock) when missing or out of date."""
    made = subprocess.run([str(ROOT / "tools" / "wine-template")], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=300, text=True,
                          env=dict(os.environ, WISHWELL_WINE_DIR=str(Path(build).parent / "wine")))
    assert made.returncode == 0, "the Wine template prefix could not be created"
    return Path(made.stdout.strip())


def start_xvfb(width=1920, height=1080):
    read, write = os.pipe()
    process = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", f"{width}x{height}x24",
                                "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as pipe:
        number = pipe.readline().strip()
    if not number:
        process.kill()
        pytest.fail("Xvfb did not start")
    return process, f":{number}"


# Two dummy screens joined by Xinerama: Wine sees them as two monitors, the first (1024x768) primary
# at the origin and the second (800x600) placed beside it; a second monitor left of or above the
# primary gets negative coordinates. Xinerama turns RandR off, so Wine reads the monitors from
# Xinerama.
DUAL_CONFIG = """
Section "ServerFlags"
    Option "Xinerama" "on"
    Option "AutoAddDevices" "false"
EndSection
Section "Device"
    Identifier "card0"
    Driver "dummy"
    VideoRam 64000
EndSection
Section "Device"
    Identifier "card1"
    Driver "dummy"
    VideoRam 64000
EndSection
Section "Monitor"
    Identifier "monitor0"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
    Modeline "1024x768" 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync
    Modeline "800x600" 40.00 800 840 968 1056 600 601 605 628 +hsync +vsync
EndSection
Section "Monitor"
    Identifier "monitor1"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
    Modeline "1024x768" 65.00 1024 1048 1184 1344 768 771 777 806 -hsync -vsync
    Modeline "800x600" 40.00 800 840 968 1056 600 601 605 628 +hsync +vsync
EndSection
Section "Screen"
    Identifier "screen0"
    Device "card0"
    Monitor "monitor0"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1024x768"
        Virtual 1024 768
    EndSubSection
EndSection
Section "Screen"
    Identifier "screen1"
    Device "card1"
    Monitor "monitor1"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "800x600"
        Virtual 800 600
    EndSubSection
EndSection
Section "ServerLayout"
    Identifier "layout"
    Screen 0 "screen0"
    Screen 1 "screen1" PLACEMENT "screen0"
EndSection
"""

# Where the second screen goes, and the monitors Wine then reports as [left, top, width, height],
# the primary first.
DUAL_LAYOUTS = {
    "RightOf": [[0, 0, 1024, 768], [1024, 0, 800, 600]],
    "LeftOf": [[0, 0, 1024, 768], [-800, 0, 800, 600]],
    "Above": [[0, 0, 1024, 768], [0, -600, 800, 600]],
    "Below": [[0, 0, 1024, 768], [0, 768, 800, 600]],
}


def start_dual_xorg(work, placement="RightOf"):
    assert placement in DUAL_LAYOUTS, placement
    config = work / "xorg.conf"
    config.write_text(DUAL_CONFIG.replace("PLACEMENT", placement))
    # Xorg takes a config directory only if it holds at least one *.conf file; otherwise it says
    # "Unable to locate/open config directory" and reads the system's xorg.conf.d instead.
    own_dir = work / "xorg.conf.d"
    own_dir.mkdir(exist_ok=True)
    (own_dir / "00-nothing.conf").write_text("# Everything is in the -config file.\n")
    log = work / "xorg.log"
    # -displayfd: the server takes the first free display number under its own lock and writes it
    # once it accepts clients.
    read, write = os.pipe()
    process = subprocess.Popen(["Xorg", "-displayfd", str(write), "-config", str(config), "-configdir",
                                str(own_dir), "-noreset", "-nolisten", "tcp", "-logfile", str(log)],
                               pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    deadline = time.monotonic() + 20
    with os.fdopen(read, "rb", buffering=0) as pipe:
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            if select.select([pipe], [], [], 0.5)[0]:
                chunk = pipe.read(16)
                if not chunk:
                    break  # the server exited
                number += chunk
    if not number.endswith(b"\n"):
        process.kill()
        process.wait()
        pytest.fail(f"Xorg with the dummy driver did not start; see {log}")
    return process, f":{number.decode().strip()}"


class Wine:
    """One private Wine prefix on one private X server."""

    def __init__(self, build, work, display_process, display):
        self.build = Path(build)
        self.work = work
        self.saver = self.build / SAVER_NAME
        self.display_process = display_process
        self.display = display
        self.prefix = work / "prefix"
        shutil.copytree(ensure_template(build), self.prefix, symlinks=True)  # never hard links
        (work / "home").mkdir()
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), DISPLAY=display, HOME=str(work / "home"),
                        LANG="C.UTF-8", LC_ALL="C.UTF-8", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.processes = []

    # ---- files -------------------------------------------------------------------------------
    @property
    def user_folder(self):
        users = [p for p in (self.prefix / "drive_c" / "users").iterdir() if p.name != "Public"]
        return users[0]

    @property
    def data_folder(self):
        return self.user_folder / "AppData" / "Local" / "Wishwell Lumiary"

    def windows_path(self, path):
        """The path as Windows programs in this prefix see it (the Linux root is drive Z:)."""
        path = Path(path).resolve()
        drive_c = (self.prefix / "drive_c").resolve()
        if drive_c in path.parents or path == drive_c:
            return "C:\\" + str(path.relative_to(drive_c)).replace("/", "\\")
        return "Z:" + str(path).replace("/", "\\")

    # ---- programs ----------------------------------------------------------------------------
    def reg_add(self, key, name, kind, value):
        self.run_wine(["reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f"], timeout=60)

    def run_wine(self, args, timeout=60):
        return subprocess.run(["wine", *args], env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=timeout)

    def restart_server(self):
        """Monitors and some settings are cached while the wine server lives."""
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=30)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=30)

    def start(self, *args, program=None):
        process = subprocess.Popen(["wine", str(program or self.saver), *args], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def own_processes(self):
        """Every process of this prefix, the wine server included, as {pid: command name}."""
        found = {}
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                environment = (entry / "environ").read_bytes().split(b"\0")
                if f"WINEPREFIX={self.prefix}".encode() in environment:
                    found[int(entry.name)] = (entry / "comm").read_text().strip()
            except OSError:
                continue  # ended meanwhile
        return found

    def kill(self, process):
        """Ends a program at once, as a power cut would, then its wine server and the prefix's
        other processes, each by its own id. Without a server those others would linger."""
        others = {pid: name for pid, name in self.own_processes().items() if pid != process.pid}
        process.kill()
        process.wait(timeout=10)
        servers = [pid for pid, name in others.items() if name.startswith("wineserver")]
        for pid in servers + [pid for pid in others if pid not in servers]:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        wait_until(lambda: all(process_ended(pid) for pid in others), timeout=10,
                   what="the prefix's processes to end")

    def run(self, *args, timeout=60):
        process = self.start(*args)
        return process.wait(timeout=timeout)

    def windows(self):
        """Every top-level window of other processes, with its controls, as the helper reads them."""
        out = self.run_wine([str(self.build / "winlist.exe")], timeout=30).stdout.decode()
        return [json.loads(line) for line in out.splitlines() if line.startswith("{")]

    def monitors(self):
        out = self.run_wine([str(self.build / "winlist.exe"), "--monitors"], timeout=30).stdout.decode()
        rows = [json.loads(line) for line in out.splitlines() if line.startswith("{")]
        return [r["monitor"] for r in rows if "monitor" in r], next(r["dpi"] for r in rows if "dpi" in r)

    def font(self, hwnd):
        """The LOGFONTW fields of the font a window of another program draws with (None: the system font)."""
        out = self.run_wine([str(self.build / "winlist.exe"), "--font", str(hwnd)], timeout=30).stdout.decode()
        row = next(json.loads(line) for line in out.splitlines() if line.startswith("{"))
        assert "error" not in row, row["error"]
        return row["font"]

    def wait_for_window(self, predicate, timeout=20.0, what="a window"):
        return wait_until(lambda: next((w for w in self.windows() if predicate(w)), None), timeout, 0.2, what)

    def wait_for_windows(self, predicate, count, timeout=20.0, what="windows"):
        return wait_until(lambda: (lambda found: found if len(found) >= count else None)(
            [w for w in self.windows() if predicate(w)]), timeout, 0.2, what)

    def message_box(self, timeout=20.0):
        """The open message box (a dialog with its text in the Static control 65535)."""
        box = self.wait_for_window(lambda w: w["class"] == "#32770" and w["visible"], timeout, "a message box")
        text = next((c["text"] for c in box["children"] if c["id"] == 65535), None)
        return box, text

    # ---- input and screen --------------------------------------------------------------------
    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True, timeout=30)

    def key(self, *keys):
        self.xdotool("key", *keys)

    def type(self, text):
        # xdotool types a letter outside the keyboard map by remapping a spare key first; Wine
        # reads the new map only after a moment, so those letters go one at a time, slowly.
        for ascii, run in itertools.groupby(text, str.isascii):
            for part in ["".join(run)] if ascii else run:
                self.xdotool("type", "--delay", "20" if ascii else "200", part)

    def click(self, x, y, button=1):
        self.xdotool("mousemove", x, y, "click", button)

    def screenshot(self, path=None):
        path = Path(path or self.work / f"screen-{time.monotonic_ns()}.png")
        subprocess.run(["import", "-display", self.display, "-window", "root", str(path)], check=True,
                       timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return Image.open(path).convert("RGB")

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    pass
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=30)
        # pytest keeps the folders of its last three runs: with a 700 MB prefix per test, a full run
        # of this suite would otherwise hold tens of gigabytes of the disk.
        subprocess.run(["wineserver", "-w"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=30)
        shutil.rmtree(self.prefix, ignore_errors=True)
        if self.display_process.poll() is None:
            self.display_process.send_signal(signal.SIGTERM)
            try:
                self.display_process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.display_process.kill()
                self.display_process.wait()


@pytest.fixture
def wine(request, tmp_path):
    display_process, display = start_xvfb()
    session = Wine(request.config.getoption("--build"), tmp_path, display_process, display)
    yield session
    session.close()


def wait_for_monitors(session, expected, timeout=40.0):
    """Waits until Wine reports exactly the expected monitors, on a wine server that then stays,
    so the program starts with the monitors seen here. Wine reads the monitors once per server and
    keeps them while it lives: a server that came up before the X server's screens or the X11
    driver settings were ready goes on reporting one monitor, and only a new server reads them
    again. Without -p a server ends a few seconds after its last program, and the next one reads
    the monitors anew."""
    deadline = time.monotonic() + timeout
    while True:
        # No server runs here (the caller or the loop has just ended it): this one stays until
        # close() ends it with -k.
        subprocess.run(["wineserver", "-p"], env=session.env, timeout=30)
        try:
            seen, _ = session.monitors()
        except (StopIteration, ValueError, subprocess.TimeoutExpired) as failure:
            seen = f"no answer from winlist ({type(failure).__name__})"
        if isinstance(seen, list) and sorted(seen) == sorted(expected):
            return
        if time.monotonic() > deadline:
            pytest.fail(f"Wine did not report the {len(expected)} monitors {expected} within "
                        f"{timeout:g} s, with its server restarted after each look; it last reported {seen}")
        session.restart_server()
        time.sleep(0.5)


@pytest.fixture
def dual_wine(request, tmp_path):
    """Two monitors; the placement of the second defaults to "RightOf", others are chosen with
    @pytest.mark.parametrize("dual_wine", ["LeftOf"], indirect=True). `expected_monitors` holds
    the monitors Wine should report."""
    placement = getattr(request, "param", "RightOf")
    display_process, display = start_dual_xorg(tmp_path, placement)
    try:
        session = Wine(request.config.getoption("--build"), tmp_path, display_process, display)
    except BaseException:
        display_process.kill()
        display_process.wait()
        raise
    session.placement = placement
    session.expected_monitors = DUAL_LAYOUTS[placement]
    try:
        # UseXRandR=N keeps Wine on Xinerama should the server ever offer RandR. UseXVidMode=N
        # matters: Wine 8's XF86VidMode mode handler frees its mode list through a wrong pointer,
        # which aborts the desktop process after it has registered the first monitor and leaves
        # Wine with that one; without the handler Wine keeps the current mode of each monitor.
        session.reg_add(r"HKCU\Software\Wine\X11 Driver", "UseXRandR", "REG_SZ", "N")
        session.reg_add(r"HKCU\Software\Wine\X11 Driver", "UseXVidMode", "REG_SZ", "N")
        session.restart_server()
        wait_for_monitors(session, session.expected_monitors)
    except BaseException:
        session.close()
        raise
    yield session
    session.close()
