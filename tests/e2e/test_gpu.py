"""The full-screen run drawn with Direct3D 11, and on the processor where d3d11.dll cannot be loaded."""

from pathlib import Path

import pytest
from PIL import ImageChops

from conftest import banner_pixels, ink, wait_until


def threads(pid):
    return {task.joinpath("comm").read_text().strip() for task in Path(f"/proc/{pid}/task").iterdir()}


def moved(before, after):
    """The share of pixels that changed between two screenshots."""
    difference = ImageChops.difference(before, after).convert("L").point(lambda v: 255 if v > 24 else 0)
    return sum(difference.histogram()[255:]) / (before.width * before.height)


@pytest.mark.parametrize("overrides, on_gpu", [("mscoree,mshtml=", True), ("mscoree,mshtml,d3d11=", False)],
                         ids=["direct3d", "d3d11 disabled"])
def test_run_draws_and_moves_with_direct3d_or_without_it(wine, overrides, on_gpu):
    wine.env["WINEDLLOVERRIDES"] = overrides
    process = wine.start("/s")
    first = wait_until(lambda: (lambda shot: shot if banner_pixels(shot) > 10 and ink(shot) > 0.01 else None)(
        wine.screenshot()), timeout=30, what="the samples and the banner on screen")
    # Wine's Direct3D runs its commands on a thread of its own while a device lives.
    loaded = "d3d11.dll" in Path(f"/proc/{process.pid}/maps").read_text()
    assert loaded == on_gpu
    assert ("wined3d_cs" in threads(process.pid)) == on_gpu
    wait_until(lambda: moved(first, wine.screenshot()) > 0.002, timeout=20, what="the intentions to move")
    wine.key("space")
    assert process.wait(timeout=20) == 0
