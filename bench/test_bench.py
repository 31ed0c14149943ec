#!/usr/bin/env python3
"""Checks that the synthetic export looks like a real one to a reader and that the runner
reads /usr/bin/time. Not part of ctest (the benchmark is not); run with
    python3 -m unittest bench/test_bench.py
"""
import hashlib
import json
import os
import re
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_export  # noqa: E402
import run_bench  # noqa: E402

N = 2000


def tree_digest(root):
    h = hashlib.sha256()
    for dirpath, dirs, names in sorted(os.walk(root)):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(dirpath, name)
            h.update(os.path.relpath(path, root).encode())
            with open(path, "rb") as f:
                h.update(f.read())
    return h.hexdigest()


def java_len(text):
    return len(text.encode("utf-16-le")) // 2


def decode_metadata(text):
    """A strict decoder of the length-prefixed dictionary (lengths in UTF-16 units)."""
    def value(i):
        c = text[i]
        if c == "d" or c == "l":
            i += 1
            items = []
            while text[i] != "e":
                item, i = value(i)
                items.append(item)
            if c == "d":
                keys = items[0::2]
                assert keys == sorted(keys, key=lambda k: k.encode("utf-16-be")), keys
                return dict(zip(keys, items[1::2])), i + 1
            return items, i + 1
        if c == "i":
            end = text.index("e", i)
            return int(text[i + 1:end]), end + 1
        colon = text.index(":", i)
        units = int(text[i:colon])
        j = colon + 1
        # Walk code points until the UTF-16 length is used up.
        taken = 0
        while taken < units:
            taken += java_len(text[j])
            j += 1
        assert taken == units, "length %d splits a character" % units
        return text[colon + 1:j], j

    result, end = value(0)
    assert end == len(text), "trailing text after the dictionary"
    return result


class GeneratedExport(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="mailvane-bench-test-")
        cls.root = os.path.join(cls.tmp, "a")
        os.makedirs(cls.root)
        cls.counts = make_export.build(cls.root, N, 7)
        cls.files = {}
        for dirpath, _, names in os.walk(cls.root):
            for name in names:
                path = os.path.join(dirpath, name)
                cls.files[os.path.relpath(path, cls.root)] = os.path.getsize(path)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def record(self, rel):
        with open(os.path.join(self.root, rel), "rb") as f:
            raw = f.read()
        self.assertFalse(raw.endswith(b"\n"), rel)
        return json.loads(raw.decode("utf-8"))

    def test_same_seed_same_bytes_other_seed_differs(self):
        again = os.path.join(self.tmp, "b")
        os.makedirs(again)
        make_export.build(again, N, 7)
        self.assertEqual(tree_digest(self.root), tree_digest(again))
        shutil.rmtree(again)
        make_export.build(again, N, 8)
        self.assertNotEqual(tree_digest(self.root), tree_digest(again))
        shutil.rmtree(again)

    def test_every_data_file_has_its_record_with_matching_size_and_digest(self):
        for rel, size in self.files.items():
            if not rel.endswith((".eml", ".appt", ".task", ".wiki")):
                continue
            self.assertIn(rel + ".meta", self.files, rel)
            rec = self.record(rel + ".meta")
            self.assertEqual(rec["size"], size, rel)
            with open(os.path.join(self.root, rel), "rb") as f:
                self.assertEqual(rec["blob_digest"], make_export.zx.digest(f.read()), rel)
        for rel in self.files:
            if rel.endswith(".eml.meta"):
                self.assertIn(rel[:-5], self.files, rel)

    def test_every_record_decodes_and_its_path_names_its_folder(self):
        folders = {}
        items = []
        for rel in self.files:
            if not rel.endswith(".meta"):
                continue
            rec = self.record(rel)
            meta = decode_metadata(rec["metadata"])
            self.assertEqual(meta["v"], 10, rel)
            if rec["type"] == 1:
                folders[rec["id"]] = rec["Path"]
                # A folder's record sits in its parent's directory.
                parent = os.path.dirname(rec["Path"]).lstrip("/")
                self.assertEqual(os.path.dirname(rel), parent, rel)
            elif rec["type"] in (5, 6, 11, 15):
                items.append((rel, rec))
        for rel, rec in items:
            self.assertEqual(rec["Path"], folders[rec["folder_id"]] + "/", rel)
            # The directory is the folder's path, or that path with a "!N" batch suffix.
            directory = os.path.dirname(rel)
            self.assertEqual(re.sub(r"!\d+$", "", directory), rec["Path"].strip("/"), rel)

    def test_folders_split_after_499_items(self):
        per_dir = {}
        for rel in self.files:
            if rel.endswith(".eml.meta"):
                d = os.path.dirname(rel)
                per_dir[d] = per_dir.get(d, 0) + 1
        self.assertEqual(per_dir["Inbox"], 499)
        self.assertIn("Inbox!1", per_dir)
        for d, n in per_dir.items():
            self.assertLessEqual(n, 500 if "!" in d else 499, d)
            if "!" in d:
                self.assertTrue(d.rsplit("!", 1)[0] in per_dir, d)

    def test_size_mix_and_other_kinds(self):
        sizes = sorted(size for rel, size in self.files.items() if rel.endswith(".eml"))
        self.assertEqual(len(sizes), N)
        self.assertLess(sizes[len(sizes) // 2], 16_000, "most messages are a few KB")
        self.assertGreater(sizes[-1], 1_000_000, "some messages carry MB attachments")
        for kind, share in (("contact", 0.03), ("appt", 0.02), ("task", 0.01), ("wiki", 0.005)):
            self.assertEqual(self.counts[kind], int(N * share), kind)
        self.assertTrue(any(rel.endswith(".appt") for rel in self.files))
        self.assertTrue(any(rel.startswith("Emailed Contacts/-01") for rel in self.files))
        for rel in self.files:
            for part in rel.split(os.sep):
                self.assertLessEqual(len(part.encode()), 255, rel)


class TextOnlyExport(unittest.TestCase):
    def test_plain_text_mail_only_and_small(self):
        with tempfile.TemporaryDirectory() as tmp:
            counts = make_export.build(tmp, 300, 7, text_only=True)
            self.assertEqual(counts.get("mail-text"), 300)
            self.assertEqual([k for k in counts if k.startswith("mail-") and k != "mail-text"], [])
            for dirpath, _, names in os.walk(tmp):
                for name in names:
                    path = os.path.join(dirpath, name)
                    self.assertFalse(name.endswith(".dat"), path)
                    if name.endswith(".eml"):
                        with open(path, "rb") as f:
                            data = f.read()
                        self.assertLess(len(data), 8_000, path)
                        self.assertNotIn(b"multipart/mixed", data, path)


class TimeParsing(unittest.TestCase):
    def test_reads_cpu_peak_memory_and_exit_code(self):
        with tempfile.TemporaryDirectory() as tmp:
            timed = run_bench.Timed([sys.executable, "-c",
                                     "b = bytearray(40 << 20); import sys; sys.exit(3)"],
                                    os.path.join(tmp, "log"))
        self.assertEqual(timed.code, 3)
        self.assertGreater(timed.rss_mb, 40)
        self.assertGreaterEqual(timed.wall, 0)


if __name__ == "__main__":
    unittest.main()
