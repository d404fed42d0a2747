"""Intentions in scripts the looks' faces lack, from the example backup: each is drawn in glyphs,
not as the boxes that the same run shows without the fonts of its script."""

import json

from conftest import ROOT, wait_until

# The test prefix's stand-ins for the Windows UI families of other scripts (tools/wine-prefix).
SCRIPT_FAMILIES = ["Yu Gothic UI", "Malgun Gothic", "Microsoft YaHei UI", "Nirmala UI", "Leelawadee UI",
                   "Microsoft Sans Serif"]


def still_page(wine, cells):
    """The screen of a still /s, once every intention's cell holds ink, cut into those cells."""
    process = wine.start("/s")

    def cut():
        shot = wine.screenshot()
        parts = [shot.crop(cell) for cell in cells]
        return parts if all(max(p.convert("L").getextrema()) > 60 for p in parts) else None

    parts = wait_until(cut, 40, 0.5, "every intention on screen")
    wine.key("Escape")
    assert process.wait(timeout=20) == 0
    return parts


def test_every_script_of_the_example_backup_is_drawn_in_its_own_glyphs(wine):
    backup = json.loads((ROOT / "examples" / "intentions-backup.json").read_text(encoding="utf-8"))
    foreign = [i for i in backup["intentions"]
               if any(0x590 <= ord(c) < 0x2000 or ord(c) >= 0x3000 for c in i["text"])]
    assert len(foreign) == 7, "Japanese, Arabic, Hebrew, Hindi, Chinese, Korean and Thai"
    wine.data_folder.mkdir(parents=True)
    (wine.data_folder / "intentions.json").write_text(json.dumps(dict(backup, intentions=foreign)))
    (wine.data_folder / "preferences.json").write_text('{"reducedMotion":true}')
    # The still grid of seven on 1920 x 1080 has four columns and two rows; each image stays in its cell.
    cells = [(i % 4 * 480, i // 4 * 540, (i % 4 + 1) * 480, (i // 4 + 1) * 540) for i in range(7)]

    drawn = still_page(wine, cells)
    for family in SCRIPT_FAMILIES:
        wine.run_wine(["reg", "delete", r"HKCU\Software\Wine\Fonts\Replacements", "/v", family, "/f"])
    boxes = still_page(wine, cells)
    for intention, mine, missing in zip(foreign, drawn, boxes):
        differing = sum(a != b for a, b in zip(mine.getdata(), missing.getdata()))
        assert differing > 500, f"{intention['text']} is drawn as in a face without its script"
