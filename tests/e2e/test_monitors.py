"""Every monitor at once: one display window covering each, closed together."""

import pytest

from conftest import ink, wait_until
from test_run import saver_windows


@pytest.mark.parametrize("dual_wine", ["RightOf", "LeftOf", "Above"], indirect=True)
def test_run_covers_both_monitors_exactly_and_closes_them_together(dual_wine):
    monitors, _ = dual_wine.monitors()
    assert sorted(monitors) == sorted(dual_wine.expected_monitors)
    dual_wine.xdotool("mousemove", 500, 400)
    process = dual_wine.start("/s")
    windows = saver_windows(dual_wine, 2)
    assert sorted(w["rect"] for w in windows) == sorted(monitors)

    # Both monitors show the intentions: every window draws the same globals on the same clock.
    def both_drawn():
        shot = dual_wine.screenshot()
        left = min(m[0] for m in monitors)
        top = min(m[1] for m in monitors)
        parts = [shot.crop((m[0] - left, m[1] - top, m[0] - left + m[2], m[1] - top + m[3])) for m in monitors]
        return all(ink(part) > 0.01 for part in parts)

    wait_until(both_drawn, what="intentions on both monitors")
    dual_wine.key("Escape")
    assert process.wait(timeout=20) == 0
    assert not [w for w in dual_wine.windows() if w["class"] == "WishwellSaver"]
