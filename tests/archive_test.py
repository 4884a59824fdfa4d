"""zeblix-inventory inside packages, archives and images: every record found in a member is
zeblix's report of the same file unpacked, with the member it lies in, for every kind of archive
the standard tools make (tar with each compression, cpio, zip, 7-Zip, ar, .deb, RPM, ISO 9660), for
archives inside archives (a .deb's data, images saved by docker and as OCI layouts, a zip in a tar)
and for files that are only compressed; and hostile archives (cut short, damaged, encrypted,
bombs, nested too deep, odd member names) give error lines that name what went wrong while the
rest goes on. What only looks packed, and every packing libarchive writes: packing_test.py.

    python3 archive_test.py   (the environment of inventory_test.py)
"""
import hashlib
import io
import json
import os
import shutil
import subprocess
import tarfile
import tempfile
import unittest

from inventory_test import GOLDEN, ZEBLIX, as_report, decoded, lines_of, run

PRODUCT = "usr/bin/zeblix"


def sh(command, cwd):
    subprocess.run(command, cwd=cwd, shell=True, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


# How each kind of archive is made from the folder "pkg" with the standard tool of its kind.
MAKERS = {
    "tar": "tar -cf {out} pkg",
    "v7.tar": "tar --format=v7 -cf {out} pkg",
    "tar.gz": "tar -czf {out} pkg",
    "tar.bz2": "tar -cjf {out} pkg",
    "tar.xz": "tar -cJf {out} pkg",
    "tar.zst": "tar --zstd -cf {out} pkg",
    "tar.lz4": "tar -cf - pkg | lz4 -q > {out}",
    "tar.lzma": "tar -cf - pkg | xz --format=lzma > {out}",
    "tar.Z": "tar -cf - pkg | compress -c > {out}",
    "cpio": "cd pkg && find . | cpio -o -H newc --quiet > {out}",
    "odc.cpio": "cd pkg && find . | cpio -o -H odc --quiet > {out}",
    "bin.cpio": "cd pkg && find . | cpio -o -H bin --quiet > {out}",
    "cpio.gz": "cd pkg && find . | cpio -o -H newc --quiet | gzip > {out}",
    "zip": "cd pkg && zip -qr {out} .",
    "7z": "7z a -bd -bso0 {out} pkg",
    "a": "cd pkg && ar rc {out} usr/bin/zeblix $(find usr/lib -type f)",
    "iso": "xorriso -as mkisofs -quiet -R -o {out} pkg",
}


class Staged:
    """A folder "pkg" of product files (zeblix and the golden inputs) beside the archives."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="zeblix-archive-test-")
        self.pkg = os.path.join(self.root, "pkg")
        os.makedirs(os.path.join(self.pkg, "usr/bin"))
        os.makedirs(os.path.join(self.pkg, "usr/lib"))
        shutil.copy(ZEBLIX, os.path.join(self.pkg, PRODUCT))
        for case in sorted(os.listdir(GOLDEN)):
            folder = os.path.join(GOLDEN, case, "input")
            for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
                if os.path.isfile(os.path.join(folder, name)):
                    shutil.copy(os.path.join(folder, name),
                                os.path.join(self.pkg, "usr/lib", f"{case}-{name}"))
        with open(os.path.join(self.pkg, "README"), "w", encoding="utf-8") as readme:
            readme.write("no version block here\n")

    def make(self, kind, name=None):
        out = os.path.join(self.root, name or f"p.{kind}")
        sh(MAKERS[kind].format(out=out), self.root)
        return out

    def unpacked_reports(self):
        """zeblix's report of every staged file, by its path below pkg."""
        reports = {}
        for folder, _, files in os.walk(self.pkg):
            for name in files:
                path = os.path.join(folder, name)
                text = subprocess.run([ZEBLIX, path], capture_output=True, check=True).stdout
                if text:
                    reports[os.path.relpath(path, self.pkg)] = text.replace(
                        path.encode(), b"FILE")
        return reports

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def member_reports(objects, base_names=False):
    """The records of each innermost member, in zeblix's report layout, by the member's path
    below pkg (or its base name, for archives that keep no more); every line must carry a
    member."""
    reports = {}
    for obj in objects:
        inner = decoded(obj["member"][-1]).decode()
        for prefix in ("./", "pkg/"):
            inner = inner[len(prefix):] if inner.startswith(prefix) else inner
        inner = os.path.basename(inner) if base_names else inner
        report = as_report([dict(obj, path="FILE")])
        reports[inner] = reports.get(inner, b"") + report
    return reports


class Archives(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.staged = Staged()
        cls.expected = cls.staged.unpacked_reports()
        assert PRODUCT in cls.expected and len(cls.expected) > 20

    @classmethod
    def tearDownClass(cls):
        cls.staged.close()

    def scan(self, *args, status=0):
        result = run(list(args))
        self.assertEqual(result.returncode, status, result.stderr)
        return lines_of(result.stdout)

    def assert_members(self, objects, prefix, base_names=False):
        for obj in objects:
            self.assertEqual([decoded(n).decode() for n in obj["member"][:len(prefix)]], prefix)
        expected = self.expected
        if base_names:
            expected = {os.path.basename(path): text for path, text in expected.items()}
        self.assertEqual(member_reports(objects, base_names), expected)

    def test_every_kind_of_archive_holds_the_records_of_its_files(self):
        for kind in MAKERS:
            with self.subTest(kind=kind):
                archive = self.staged.make(kind)
                objects = self.scan(archive)
                self.assertTrue(all(decoded(o["path"]).decode() == archive for o in objects))
                self.assert_members(objects, [], base_names=kind == "a")

    def test_packages(self):
        deb = os.path.join(self.staged.root, "deb")
        shutil.copytree(self.staged.pkg, deb)
        os.makedirs(os.path.join(deb, "DEBIAN"))
        with open(os.path.join(deb, "DEBIAN", "control"), "w", encoding="utf-8") as control:
            control.write("Package: widget\nVersion: 1.0\nArchitecture: all\n"
                          "Maintainer: Acme <acme@example.invalid>\nDescription: widget\n")
        for compression in ("xz", "gzip", "zstd"):
            with self.subTest(deb=compression):
                sh(f"dpkg-deb --root-owner-group -Z{compression} -b deb w.deb", self.staged.root)
                objects = self.scan(os.path.join(self.staged.root, "w.deb"))
                suffix = {"xz": ".xz", "gzip": ".gz", "zstd": ".zst"}[compression]
                self.assert_members(objects, ["data.tar" + suffix])
        with self.subTest(package="rpm"):
            self.assert_members(self.scan(self.rpm()), [])

    def rpm(self):
        top = os.path.join(self.staged.root, "rpmbuild")
        recipe = os.path.join(self.staged.root, "widget.rpmbuild")
        with open(recipe, "w", encoding="utf-8") as out:
            out.write("Name: widget\nVersion: 1.0\nRelease: 1\nSummary: w\nLicense: none\n"
                      "BuildArch: noarch\n%description\nw\n%install\n"
                      f"cp -a {self.staged.pkg}/. %{{buildroot}}/\n"
                      "%files\n/usr\n/README\n")
        sh(f"rpmbuild -bb --define '_topdir {top}' --define '__os_install_post %{{nil}}' "
           "--define '_build_id_links none' --define '_binaries_in_noarch_packages_terminate_build 0' "
           f"--nodeps {recipe}", self.staged.root)
        return os.path.join(top, "RPMS", "noarch", "widget-1.0-1.noarch.rpm")

    def test_archives_inside_archives(self):
        root = self.staged.root
        layer = self.staged.make("tar", "layer.tar")
        gz = self.staged.make("tar.gz", "layer.tar.gz")
        zipped = self.staged.make("zip", "inner.zip")
        digest = hashlib.sha256(open(gz, "rb").read()).hexdigest()
        images = {  # the archive, the members it holds, the member path to the product files
            "docker-save.tar": ({"manifest.json": b"[]", "0123abcd/layer.tar": layer},
                                ["0123abcd/layer.tar"]),
            "oci.tar": ({"oci-layout": b"{}", "index.json": b"{}",
                         f"blobs/sha256/{digest}": gz}, [f"blobs/sha256/{digest}"]),
            "zip-in-tar.tar": ({"dist/inner.zip": zipped}, ["dist/inner.zip"]),
        }
        for name, (members, prefix) in images.items():
            with self.subTest(image=name):
                path = os.path.join(root, name)
                with tarfile.open(path, "w") as image:
                    for member, content in members.items():
                        data = content if isinstance(content, bytes) else open(content, "rb").read()
                        info = tarfile.TarInfo(member)
                        info.size = len(data)
                        image.addfile(info, io.BytesIO(data))
                self.assert_members(self.scan(path), prefix)

    def test_no_archives_scans_files_as_they_lie(self):
        archive = self.staged.make("tar")
        plain = self.scan("--no-archives", archive)
        self.assertTrue(plain and all("member" not in o for o in plain))
        self.assertEqual(plain, self.scan("--no-archives", archive))
        self.assertEqual(self.scan("--no-archives", self.staged.make("tar.gz")), [])
        # A stream is told by its content too.
        with open(self.staged.make("tar.xz"), "rb") as packed:
            piped = run(["/dev/stdin"], stdin=packed.read())
        self.assert_members(lines_of(piped.stdout), [])

class HostileArchives(unittest.TestCase):
    def setUp(self):
        self.staged = Staged()
        self.addCleanup(self.staged.close)

    def errors(self, objects):
        return [(o["member"], o["error"]) for o in objects if "errno" in o]

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
