"""zeblix-inventory against hostile archives: cut short, damaged, encrypted, bombs, nested too deep,
odd member names give error lines that name what went wrong while the rest goes on; and
--no-archives scans every file as it lies. That every packing gives the records of what it packs,
by every standard tool, package and image: packing_test.py.

    python3 archive_test.py   (the environment of inventory_test.py)
"""
import io
import os
import shutil
import subprocess
import tarfile
import time
import tempfile
import unittest

from inventory_test import ZEBLIX, decoded, lines_of, run

PRODUCT = "usr/bin/zeblix"
MAKERS = {  # how each kind of archive is made from the folder "pkg"
    "tar": "tar -cf {out} pkg",
    "tar.gz": "tar -czf {out} pkg",
    "tar.xz": "tar -cJf {out} pkg",
    "zip": "cd pkg && zip -qr {out} .",
}


def sh(command, cwd):
    subprocess.run(command, cwd=cwd, shell=True, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


class Staged:
    """A folder "pkg" holding zeblix and a README beside the archives made of it."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="zeblix-archive-test-")
        self.pkg = os.path.join(self.root, "pkg")
        os.makedirs(os.path.join(self.pkg, "usr/bin"))
        shutil.copy(ZEBLIX, os.path.join(self.pkg, PRODUCT))
        with open(os.path.join(self.pkg, "README"), "w", encoding="utf-8") as readme:
            readme.write("no version block here\n")

    def make(self, kind):
        out = os.path.join(self.root, f"p.{kind}")
        sh(MAKERS[kind].format(out=out), self.root)
        return out

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


class HostileArchives(unittest.TestCase):
    def setUp(self):
        self.staged = Staged()
        self.addCleanup(self.staged.close)

    def errors(self, objects):
        return [(o["member"], o["error"]) for o in objects if "errno" in o]

    def test_no_archives_scans_files_as_they_lie(self):
        scan = lambda *args: lines_of(run(["--no-archives", *args]).stdout)
        plain = scan(self.staged.make("tar"))
        self.assertTrue(plain and all("member" not in o for o in plain))
        self.assertEqual(scan(self.staged.make("tar.gz")), [])

    def test_cut_short_and_damaged_archives_keep_what_came_before(self):
        cut = lambda data: data[:len(data) // 2]
        damaged = lambda data: data[:len(data) // 3] + bytes(512) + data[len(data) // 3 + 512:]
        for kind, damage in (("tar.gz", cut), ("tar.xz", cut), ("zip", damaged)):
            with self.subTest(kind):
                packed = self.staged.make(kind)
                path = os.path.join(self.staged.root, "damaged." + kind)
                with open(packed, "rb") as whole, open(path, "wb") as out:
                    out.write(damage(whole.read()))
                result = run([path, ZEBLIX])
                self.assertEqual(result.returncode, 1)
                objects = lines_of(result.stdout)
                errors = self.errors(objects)
                self.assertEqual(len(errors), 1, errors)
                self.assertEqual(len(errors[0][0]), 1)  # the member the damage lay in
                self.assertGreater(len(objects), 2)  # records before it, and the next file
                self.assertEqual(decoded(objects[-1]["path"]).decode(), ZEBLIX)

    def test_encrypted_members_are_errors(self):
        sh("cd pkg && zip -q -P secret ../enc.zip usr/bin/zeblix README", self.staged.root)
        result = run([os.path.join(self.staged.root, "enc.zip")])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(self.errors(lines_of(result.stdout)),
                         [(["usr/bin/zeblix"], "the member is encrypted"),
                          (["README"], "the member is encrypted")])

    def test_bombs_and_deep_nesting_stop_at_a_named_limit(self):
        root = self.staged.root
        sh("head -c 2000000000 /dev/zero | tr '\\0' x | zstd -19 -q > bomb.zst", root)
        sh("cp pkg/README n1; for i in 2 3 4 5 6 7 8; do tar -cf n$i n$((i - 1)); done", root)
        cases = [  # options, file, the limit the error names
            ([], "bomb.zst", "--archive-max-ratio (1000)"),
            (["--archive-max-ratio", "0", "--archive-max-bytes", "100M"], "bomb.zst",
             "--archive-max-bytes (104857600 bytes)"),
            ([], "n8", "--archive-depth (6)"),
            (["--archive-depth", "3"], "n8", "--archive-depth (3)"),
        ]
        for options, name, limit in cases:
            with self.subTest(options=options, file=name):
                result = run([*options, os.path.join(root, name)])
                self.assertEqual(result.returncode, 1)
                errors = self.errors(lines_of(result.stdout))
                self.assertEqual(len(errors), 1)
                self.assertIn(limit, errors[0][1])
        self.assertEqual(self.errors(lines_of(run(["--archive-depth", "8",
                                                   os.path.join(root, "n8")]).stdout)), [])

    def test_a_reader_that_loops_is_stopped_at_its_bound(self):
        """An ISO whose Rock Ridge continuation entry points at itself: libarchive reads it for
        ever, so its reader is stopped once it reads nothing new."""
        root = self.staged.root
        sh("xorriso -as mkisofs -quiet -R -o rr.iso pkg", root)
        with open(os.path.join(root, "rr.iso"), "rb") as iso:
            data = bytearray(iso.read())
        both = lambda value: value.to_bytes(4, "little") + value.to_bytes(4, "big")
        sector = 2048
        root_record = int.from_bytes(data[16 * sector + 158:16 * sector + 162], "little") * sector
        ce = data.index(b"CE\x1c\x01", root_record, root_record + sector)  # the root's own entry
        area = int.from_bytes(data[ce + 4:ce + 8], "little")
        length = int.from_bytes(data[ce + 20:ce + 24], "little")
        data[area * sector:area * sector + 28] = b"CE\x1c\x01" + both(area) + both(0) + both(length)
        with open(os.path.join(root, "loop.iso"), "wb") as out:
            out.write(data)
        started = time.monotonic()
        result = run(["-j", "1", "--archive-max-stall", "2", "--empty",
                      os.path.join(root, "loop.iso")])
        self.assertLess(time.monotonic() - started, 30)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"loop.iso: the archive's reader was stopped: it read nothing new for 2 s "
                      b"(--archive-max-stall)", result.stderr)

    def test_a_stream_asking_for_more_memory_than_the_bound_is_an_error(self):
        product = open(os.path.join(self.staged.pkg, PRODUCT), "rb").read()
        xz = lambda *options: subprocess.run(["xz", *options, "-c"], input=product,
                                             capture_output=True, check=True).stdout
        dictionary = lambda data, size: data[:1] + size.to_bytes(4, "little") + data[5:]
        lzma = xz("--format=lzma")
        cases = {  # name: the bytes; whether they decode under the bound, as xz -dc decodes them
            "asks-4g.lzma": (dictionary(lzma, 0xFFFFFFFF), True),
            "asks-1g.lzma": (dictionary(lzma, 1 << 30), True),
            "asks-16m.xz": (xz("--lzma2=dict=16MiB"), False),
        }
        for name, (data, decodes) in cases.items():
            with self.subTest(name):
                path = os.path.join(self.staged.root, name)
                with open(path, "wb") as out:
                    out.write(data)
                result = run(["-j", "1", "--archive-max-memory", "16M", path])
                objects = lines_of(result.stdout)
                # An .lzma stream reaches back no further than the data its header claims room for.
                self.assertEqual([o.get("product_name") for o in objects],
                                 ["zeblix"] if decodes else [None])
                if not decodes:
                    self.assertEqual(result.returncode, 1)
                    self.assertIn(b"asks-16m.xz: the xz stream asks for 17 MiB of memory to "
                                  b"decompress, more than --archive-max-memory allows a "
                                  b"decompressor (8 MiB)", result.stderr)

    def test_odd_member_names_are_reported_as_they_are_and_never_touch_the_disk(self):
        names = [b"../../escape", b"/abs/path", b"new\nline", b"bad\xff\xfename", b"./ok"]
        path = os.path.join(self.staged.root, "odd.tar")
        product = open(os.path.join(self.staged.pkg, PRODUCT), "rb").read()
        with tarfile.open(path, "w", encoding="utf-8", errors="surrogateescape") as tar:
            for name in names:
                info = tarfile.TarInfo(os.fsdecode(name))
                info.size = len(product)
                tar.addfile(info, io.BytesIO(product))
        workdir = os.path.join(self.staged.root, "work", "here")
        os.makedirs(workdir)
        objects = lines_of(run([path], cwd=workdir).stdout)
        self.assertEqual([decoded(o["member"][0]) for o in objects], names)
        self.assertIsInstance(objects[3]["member"][0], dict)  # not UTF-8: base64
        self.assertEqual(os.listdir(os.path.join(self.staged.root, "work")), ["here"])
        self.assertEqual(os.listdir(workdir), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
