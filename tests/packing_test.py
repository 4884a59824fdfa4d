"""Nothing is lost by packing: a tree of product files, empty files, runs of zeros before a block,
archive look-alikes and files cut short gives the same lines (keyed by name, offset and fields)
however it is packed: by libarchive's own writer (bsdtar) in every format and compression the
inventory reads, nested, each file compressed alone, in an ar of object files with its symbol
table, and in a tar of hard and symbolic links. Errors and summaries on standard error are named
and escaped.

    python3 packing_test.py   (the environment of inventory_test.py)
"""
import os
import shutil
import subprocess
import tempfile
import unittest

from inventory_test import decoded, lines_of, run
from version_blocks import FOREIGN, block, old_record

FORMATS = ["ustar", "pax", "gnutar", "v7tar", "odc", "newc", "zip", "7zip", "iso9660", "argnu"]
FILTERS = ["", "gzip", "bzip2", "xz", "lzma", "zstd", "lz4", "compress", "lzip", "uuencode",
           "b64encode"]
ALONE = {"gzip": ".gz", "bzip2": ".bz2", "xz": ".xz", "zstd -q": ".zst", "lz4 -q": ".lz4"}
PRODUCT = block(company=b'"Acme" Inc', description=b"a,b\nc") + bytes(100)
FILES = {  # a flat tree: ar keeps no folders
    "product": bytes(3000) + PRODUCT + block(order=FOREIGN, version=b"9.9"),
    "old": bytes(77) + old_record(),
    "empty": b"",
    "zeros-512": bytes(512) + PRODUCT,
    "zeros-64k": bytes(65536) + PRODUCT,
    "cut-short": PRODUCT[:900],
    "plain": b"no block here\n" * 50,
    **{f"looks-{name}": magic + PRODUCT for name, magic in {
        "gzip": b"\x1f\x8b\x08", "zip": b"PK\x03\x04", "7z": b"7z\xbc\xaf\x27\x1c",
        "xz": b"\xfd7zXZ\x00", "zstd": b"\x28\xb5\x2f\xfd", "bzip2": b"BZh9"}.items()},
}


def sh(command, cwd):
    subprocess.run(command, cwd=cwd, shell=True, check=True, stdout=subprocess.DEVNULL)


def keyed(objects, name_of):
    """The lines as a sorted list of (name, what): a record's offset and fields, "records: 0", or
    "error" (whose wording may differ between a file that can be sought and a stream)."""
    out = []
    for obj in objects:
        name = name_of(obj)
        if "errno" in obj:
            out.append((name, "error"))
        elif "records" in obj:
            out.append((name, "records: 0"))
        else:
            out.append((name, obj["offset"], obj["company"], obj["description"],
                        obj["product_version"], obj["byte_order"], obj["format"]))
    return sorted(out, key=repr)


def innermost(obj):
    name = decoded(obj["member"][-1] if "member" in obj else obj["path"]).decode()
    return os.path.basename(name)


class NothingLost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="zeblix-packing-test-")
        cls.tree = os.path.join(cls.root, "tree")
        os.makedirs(cls.tree)
        for name, data in FILES.items():
            with open(os.path.join(cls.tree, name), "wb") as out:
                out.write(data)
        cls.expected = cls.lines(cls.tree)
        assert len([k for k in cls.expected if len(k) > 2]) == 11, cls.expected

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    @staticmethod
    def lines(*paths, name_of=innermost):
        return keyed(lines_of(run(["--empty", *paths]).stdout), name_of)

    def assert_same(self, packed, name_of=innermost, expected=None):
        self.assertEqual(self.lines(packed, name_of=name_of), expected or self.expected, packed)

    def bsdtar(self, form, filter_, out, source="tree"):
        option = f"--{filter_}" if filter_ else ""
        sh(f"bsdtar --format {form} {option} -cf {out} -C {self.root} {source}", self.root)
        return out

    def test_every_format_and_compression_libarchive_writes(self):
        forms = 0
        for form in FORMATS:
            for filter_ in FILTERS:
                with self.subTest(format=form, filter=filter_):
                    packed = self.bsdtar(form, filter_, os.path.join(self.root, "p"))
                    self.assert_same(packed)
                    forms += 1
        self.assertEqual(forms, len(FORMATS) * len(FILTERS))

    def test_nested_and_compressed_alone(self):
        root = self.root
        self.bsdtar("7zip", "", os.path.join(root, "inner.7z"))
        self.bsdtar("pax", "xz", os.path.join(root, "inner.tar.xz"))
        self.bsdtar("newc", "gzip", os.path.join(root, "inner.cpio.gz"))
        for outer, form, filter_ in (("outer.zip", "zip", ""), ("outer.tar.zst", "gnutar", "zstd"),
                                     ("outer.iso", "iso9660", "")):
            with self.subTest(outer=outer):
                sources = "inner.7z inner.tar.xz inner.cpio.gz"
                packed = self.bsdtar(form, filter_, os.path.join(root, outer), sources)
                lines = self.lines(packed)
                self.assertEqual(lines, sorted(self.expected * 3, key=repr))
        alone = os.path.join(root, "alone")
        for tool, suffix in ALONE.items():
            shutil.copytree(self.tree, alone)
            sh(f"for f in *; do {tool} -c \"$f\" > \"$f{suffix}\" && rm \"$f\"; done", alone)
            with self.subTest(compressed_alone=tool):
                self.assert_same(alone, name_of=lambda o: innermost(o).removesuffix(suffix))
            shutil.rmtree(alone)

    def test_standard_tools(self):
        objects = os.path.join(self.root, "objects")
        os.makedirs(objects)
        sh(f"for f in {self.tree}/*; do objcopy -I binary -O elf64-x86-64 \"$f\" "
           "\"$(basename \"$f\").o\"; done && ar rcs ../lib.a *.o", objects)
        self.assert_same(os.path.join(self.root, "lib.a"), expected=self.lines(objects))
        links = os.path.join(self.root, "links")
        shutil.copytree(self.tree, links)
        os.link(os.path.join(links, "product"), os.path.join(links, "hard"))
        os.symlink("old", os.path.join(links, "soft"))
        sh("tar -cf links.tar links", self.root)
        # A symbolic link inside an archive is a name, not a content.
        expected = [k for k in self.lines(links) if k[0] != "soft"]
        self.assert_same(os.path.join(self.root, "links.tar"), expected=expected)

    def test_errors_are_named_on_standard_error_escaped(self):
        bad = os.path.join(self.root, "bad.tar")
        name = "fake\x1b[2J\nzeblix-inventory: fake.tar: all good"
        with open(os.path.join(self.root, "x.gz"), "wb") as out:
            out.write(b"\x1f\x8b\x08" + bytes(100))
        sh(f"tar -cf {bad} --transform 's|x.gz|{name}|' x.gz", self.root)
        for form in ("json", "csv", "cyclonedx"):
            with self.subTest(format=form):
                result = run(["--format", form, bad])
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr, f"zeblix-inventory: {bad}!/fake\\x1b[2J\\n"
                                 "zeblix-inventory: fake.tar: all good: damaged gzip data\n"
                                 .encode())
        self.assertEqual(run(["-q", bad]).stderr, b"")
        summary = run(["--progress", bad, bad]).stderr.decode().splitlines()[-1]
        self.assertRegex(summary, r"^zeblix-inventory: 2 files, .* 0 records, 2 errors, ")

    def test_standard_input_and_names_holding_the_separator(self):
        packed = self.bsdtar("ustar", "gzip", os.path.join(self.root, "std.tar.gz"))
        with open(packed, "rb") as data:
            piped = run(["--empty", "-"], stdin=data.read())
        self.assertEqual(keyed(lines_of(piped.stdout), innermost), self.expected)
        self.assertEqual(decoded(lines_of(piped.stdout)[0]["path"]), b"-")
        self.assertEqual(run(["./-"]).returncode, 1)  # the file named "-", which is not here
        sep = os.path.join(self.root, "sep")
        os.makedirs(os.path.join(sep, "a!"))
        shutil.copy(os.path.join(self.tree, "product"), os.path.join(sep, "a!", "b"))
        sh("tar -cf ../sep.tar 'a!/b'", sep)
        rows = run(["--format", "csv", os.path.join(self.root, "sep.tar")]).stdout
        self.assertIn(b",a!!/b,", rows)


if __name__ == "__main__":
    unittest.main(verbosity=2)
