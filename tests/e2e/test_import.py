"""Importing a backup from the settings window: the open-file dialog, the question before a user
collection is replaced, the stored bytes, and every way an import can fail without changing
anything."""

import json
import re

from conftest import ROOT, banner_pixels, wait_until
from settingswindow import (CLOSE, IMPORT, PREVIEW_COLLECTION, QUESTION, SAMPLE_STATUS, boxes, choose_file,
                            click_control, folder_error, message_box, open_settings, preview, refresh, status,
                            status_text, wait_until_settled)

# A backup with everything normalisation changes: keys in another order, keys the format does not
# know, a "sample" that is a string, a theme on a non-WordArt entry, a WordArt entry without theme,
# text that needs escaping and text beyond ASCII.
BACKUP = {
    "version": 1, "format": "wishwell-intentions", "exportedFrom": "widget", "sample": "true",
    "intentions": [
        {"text": "Je crois en moi, d\u00e9j\u00e0 \u2014 \u4fe1\u3058\u308b", "id": "b-1", "sentAt": "2026-11-02",
         "animation": "wordart", "wordartTheme": "horizon", "mood": "calm"},
        {"id": "b-2", "text": "I am a famous potato farmer.", "sentAt": "", "animation": "windows",
         "wordartTheme": "nonsense"},
        {"id": "b-3", "text": "Quote \"this\" and a tab\t", "sentAt": "x", "animation": "wordart"},
    ],
}
STORED = ('{"format":"wishwell-intentions","intentions":['
          '{"animation":"wordart","id":"b-1","sentAt":"2026-11-02",'
          '"text":"Je crois en moi, d\u00e9j\u00e0 \u2014 \u4fe1\u3058\u308b","wordartTheme":"horizon"},'
          '{"animation":"windows","id":"b-2","sentAt":"","text":"I am a famous potato farmer."},'
          '{"animation":"wordart","id":"b-3","sentAt":"x","text":"Quote \\"this\\" and a tab\\t",'
          '"wordartTheme":"rainbow"}],"sample":false,"version":1}').encode()

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>Your intentions</title>
<script src="widget.js"></script>
<script type="application/json" id="intention-backup">{document}</script>
</head><body><p>Keep this file to restore your intentions.</p></body></html>
"""


def entries(count, prefix="n"):
    return [{"id": f"{prefix}-{i}", "text": f"I am intention number {i}.", "sentAt": "2026-12-01",
             "animation": "wordart", "wordartTheme": "blues"} for i in range(count)]


def document(items, sample=False):
    return {"format": "wishwell-intentions", "version": 1, "sample": sample, "intentions": items}


def normalised(backup):
    """The stored form of a backup's document, as the format defines it."""
    keep = ("id", "text", "sentAt", "animation")
    items = []
    for entry in backup["intentions"]:
        item = {key: entry[key] for key in keep}
        if entry["animation"] == "wordart":
            item["wordartTheme"] = entry.get("wordartTheme", "rainbow")
        items.append(item)
    return json.dumps(document(items, backup.get("sample") is True), ensure_ascii=False, separators=(",", ":"),
                      sort_keys=True).encode()


def embedded_document(page):
    match = re.search(r"<script\b[^>]*\bid\s*=\s*[\"']intention-backup[\"'][^>]*>(.*?)</script", page,
                      re.S | re.I)
    return json.loads(match.group(1))


def write_json(path, value):
    path.write_text(json.dumps(value, ensure_ascii=False), encoding="utf-8")
    return path


def store(wine, value):
    """A user collection as an earlier import would have left it."""
    wine.data_folder.mkdir(parents=True, exist_ok=True)
    stored = wine.data_folder / "intentions.json"
    stored.write_bytes(normalised(value))
    return stored


def backups(tmp_path):
    """The hand-made page and the example backups that come with the program, with their stored bytes."""
    page = tmp_path / "backup.html"
    page.write_text(PAGE.format(document=json.dumps(BACKUP, ensure_ascii=False)), encoding="utf-8")
    found = [(page, STORED, 3)]
    examples = [ROOT / "examples" / name for name in ("intentions-backup.html", "intentions-backup.json")]
    for example in examples:
        text = example.read_text(encoding="utf-8-sig")
        value = embedded_document(text) if example.suffix == ".html" else json.loads(text)
        found.append((example, normalised(value), len(value["intentions"])))
    return found


def test_an_import_over_the_samples_asks_nothing_and_stores_the_normalised_document(wine, tmp_path):
    stored = wine.data_folder / "intentions.json"
    for backup, expected, count in backups(tmp_path):
        if stored.exists():
            stored.unlink()  # the samples again for this start
        process, window = open_settings(wine)
        assert window["children"][1]["text"] == SAMPLE_STATUS
        choose_file(wine, window, backup)
        wait_until(lambda: stored.exists() and stored.read_bytes() == expected, 20, 0.2,
                   f"the normalised document of {backup.name}")
        assert b"\n" not in expected and b"\\u" not in expected
        wait_until(lambda: status_text(wine, window) == status("Your saved intentions", count), 20, 0.2,
                   "the status line")
        assert not boxes(wine, window), "no question and no message"
        assert sorted(p.name for p in wine.data_folder.iterdir()) == ["intentions.json"]
        click_control(wine, window, CLOSE)
        assert process.wait(timeout=30) == 0

        # The next start loads what the import stored.
        process, window = open_settings(wine)
        assert window["children"][1]["text"] == status("Your saved intentions", count)
        assert not boxes(wine, window)
        click_control(wine, window, CLOSE)
        assert process.wait(timeout=30) == 0


def test_a_user_collection_is_replaced_only_after_yes(wine, tmp_path):
    stored = store(wine, document(entries(1, "old")))
    before = stored.read_bytes()
    large = write_json(tmp_path / "large.json", document(entries(1234)))
    process, window = open_settings(wine)
    assert window["children"][1]["text"] == status("Your saved intentions", 1)

    choose_file(wine, window, large)
    box, text = message_box(wine, window, "Import intentions")
    assert text == QUESTION
    assert sorted((c["id"], c["text"]) for c in box["children"] if c["class"] == "Button") == \
        [(6, "&Yes"), (7, "&No")]
    wine.key("n")
    wait_until_settled(wine, window)
    assert stored.read_bytes() == before
    assert status_text(wine, window) == status("Your saved intentions", 1)

    choose_file(wine, window, large)
    _, text = message_box(wine, window, "Import intentions")
    assert text == QUESTION
    wine.key("y")
    expected = normalised(document(entries(1234)))
    wait_until(lambda: stored.read_bytes() == expected, 20, 0.2, "the new collection stored")
    wait_until(lambda: status_text(wine, window) == status("Your saved intentions", 1234), 20, 0.2,
               "the status line with 1234 entries")

    # The same backup again: asked again, and the same bytes again.
    choose_file(wine, window, large)
    message_box(wine, window, "Import intentions")
    wine.key("y")
    wait_until_settled(wine, window)
    assert stored.read_bytes() == expected
    assert sorted(p.name for p in wine.data_folder.iterdir()) == ["intentions.json"]
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_a_sample_backup_keeps_the_sample_label_and_the_next_import_asks_nothing(wine, tmp_path):
    stored = wine.data_folder / "intentions.json"
    marked = write_json(tmp_path / "marked.json", document(entries(3, "s"), sample=True))
    plain = write_json(tmp_path / "plain.json", document(entries(1, "p")))
    process, window = open_settings(wine)

    choose_file(wine, window, marked)
    wait_until(lambda: stored.exists() and stored.read_bytes() == normalised(document(entries(3, "s"), True)),
               20, 0.2, "the sample backup stored")
    wait_until(lambda: status_text(wine, window) == status("Sample intentions", 3), 20, 0.2, "the status line")

    choose_file(wine, window, plain)
    wait_until(lambda: stored.read_bytes() == normalised(document(entries(1, "p"))), 20, 0.2,
               "the next backup stored without a question")
    wait_until(lambda: status_text(wine, window) == status("Your saved intentions", 1), 20, 0.2,
               "the status line with 1 entries")
    assert not boxes(wine, window)
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def deep(levels):
    return "[" * levels + "]" * levels


# name, file bytes, the sentence the user sees.
BAD_BACKUPS = [
    ("not a backup", b"Dear diary, today I believe in myself.",
     "Choose the HTML or JSON backup from Your intentions."),
    ("invalid JSON", b'{"format":"wishwell-intentions","version":1,',
     "The backup contains invalid JSON data."),
    ("too deep", ('{"format":"wishwell-intentions","version":1,"extra":' + deep(33) + ',"intentions":[]}').encode(),
     "Backup nesting is too deep."),
    ("wrong version", json.dumps(dict(document(entries(1)), version=2)).encode(),
     "This is not a supported intention collection."),
    ("repeated id", json.dumps(document(entries(2) + entries(1))).encode(),
     "The backup contains an empty, repeated or unsupported entry."),
    ("unknown WordArt style", json.dumps(document([dict(entries(1)[0], wordartTheme="Rainbow")])).encode(),
     "Unknown WordArt style."),
    ("over 30 MB", None, "The file could not be read, or exceeds 30 MB."),
]


def test_bad_backups_say_why_and_change_nothing_without_asking(wine, tmp_path):
    stored = store(wine, document(entries(2, "kept")))
    before = stored.read_bytes()
    kept = status("Your saved intentions", 2)
    process, window = open_settings(wine)
    assert window["children"][1]["text"] == kept

    for name, content, sentence in BAD_BACKUPS:
        backup = tmp_path / f"{name.replace(' ', '-')}.json"
        if content is None:
            with backup.open("wb") as large:  # a valid backup, one byte over the bound
                text = json.dumps(document(entries(1))).encode()
                large.write(text)
                large.write(b" " * (31457281 - len(text)))
        else:
            backup.write_bytes(content)
        choose_file(wine, window, backup)
        _, text = message_box(wine, window)  # the warning comes first: no question was asked
        assert text == sentence, name
        wine.key("Return")
        wait_until_settled(wine, window)
        assert stored.read_bytes() == before, name
        assert status_text(wine, window) == kept, name
        assert sorted(p.name for p in wine.data_folder.iterdir()) == ["intentions.json"], name
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_a_failed_save_keeps_the_collection_the_status_line_and_the_file(wine, tmp_path):
    backup = write_json(tmp_path / "backup.json", document(entries(5)))

    # A plain file where the data folder belongs: the folder cannot be made.
    wine.data_folder.parent.mkdir(parents=True, exist_ok=True)
    wine.data_folder.write_bytes(b"not a folder")
    process, window = open_settings(wine)
    choose_file(wine, window, backup)
    _, text = message_box(wine, window)
    assert text == folder_error(wine)
    wine.key("Return")
    wait_until_settled(wine, window)
    assert status_text(wine, window) == SAMPLE_STATUS
    assert wine.data_folder.read_bytes() == b"not a folder"
    # What the status line says is what the preview shows: still the samples, with their banner.
    assert banner_pixels(preview(wine, window, PREVIEW_COLLECTION)) > 10
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0

    # Over a user collection, a folder in the way of the temporary file stops the save after Yes.
    wine.data_folder.unlink()
    stored = store(wine, document(entries(2, "kept")))
    before = stored.read_bytes()
    process, window = open_settings(wine)
    (wine.data_folder / f"intentions.json.tmp-{window['pid']}").mkdir()
    choose_file(wine, window, backup)
    message_box(wine, window, "Import intentions")
    wine.key("y")
    _, text = message_box(wine, window)
    assert text == "Could not save your screensaver settings."
    wine.key("Return")
    wait_until_settled(wine, window)
    assert stored.read_bytes() == before
    assert status_text(wine, window) == status("Your saved intentions", 2)
    click_control(wine, window, CLOSE)
    assert process.wait(timeout=30) == 0


def test_cancelling_the_dialog_changes_nothing(wine):
    process, window = open_settings(wine)
    click_control(wine, window, IMPORT)
    wine.wait_for_window(lambda w: w["class"] == "#32770" and w["visible"] and w["pid"] == window["pid"], 20,
                         "the open-file dialog")
    wine.key("Escape")
    wait_until_settled(wine, window)
    assert status_text(wine, window) == SAMPLE_STATUS
    assert not wine.data_folder.exists()
    click_control(wine, refresh(wine, window), CLOSE)
    assert process.wait(timeout=30) == 0
