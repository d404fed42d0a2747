"""The two-monitor X server: what Wine makes of it, for every placement of the second monitor."""

import pytest

from conftest import DUAL_LAYOUTS


def test_two_monitors_side_by_side(dual_wine):
    monitors, dpi = dual_wine.monitors()
    assert sorted(monitors) == [[0, 0, 1024, 768], [1024, 0, 800, 600]]
    assert dpi == 96

    # The server read the harness's configuration and nothing from the system's xorg.conf.d.
    log = (dual_wine.work / "xorg.log").read_text(errors="replace")
    assert f'Using config directory: "{dual_wine.work / "xorg.conf.d"}"' in log
    assert "Unable to locate/open config directory" not in log
    assert "Xinerama: enabled" in log


@pytest.mark.parametrize("dual_wine", sorted(DUAL_LAYOUTS), indirect=True)
def test_every_placement_keeps_the_first_screen_primary_at_the_origin(dual_wine):
    monitors, _ = dual_wine.monitors()
    assert sorted(monitors) == sorted(dual_wine.expected_monitors)
    assert [0, 0, 1024, 768] in monitors
