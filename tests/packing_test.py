"""Nothing is lost by packing: a tree of product files, empty files, runs of zeros before a block,
archive look-alikes and files cut short gives the same lines (keyed by name, offset and fields)
however it is packed: by libarchive's own writer (bsdtar) in every format and compression the
inventory reads, nested, by the standard tools (tar with every compressor, cpio, zip, 7z, ISO 9660),
as a .deb and an RPM, in images saved by docker and as OCI layouts, each file compressed alone, in
an ar of object files with its symbol table, and in a tar of hard and symbolic links. Errors and
summaries on standard error are named and escaped.

    python3 packing_test.py   (the environment of inventory_test.py)
"""
import hashlib
import io
import os
import shutil
import subprocess
import tarfile
import tempfile
import unittest

from inventory_test import decoded, lines_of, run
from version_blocks import FOREIGN, block, old_record

FORMATS = ["ustar", "pax", "gnutar", "v7tar", "odc", "newc", "zip", "7zip", "iso9660", "argnu"]
FILTERS = ["", "gzip", "bzip2", "xz", "lzma", "zstd", "lz4", "compress", "lzip", "uuencode",
           "b64encode"]
STANDARD = {  # the standard tools, each packing the folder "tree"
    "tar": "tar -cf {out} tree", "v7.tar": "tar --format=v7 -cf {out} tree",
    "tar.gz": "tar -czf {out} tree", "tar.bz2": "tar -cjf {out} tree",
    "tar.xz": "tar -cJf {out} tree", "tar.zst": "tar --zstd -cf {out} tree",
    "tar.lz4": "tar -cf - tree | lz4 -q > {out}", "tar.Z": "tar -cf - tree | compress -c > {out}",
    "tar.lzma": "tar -cf - tree | xz --format=lzma > {out}",
    "cpio": "find tree | cpio -o -H newc --quiet > {out}",
    "odc.cpio": "find tree | cpio -o -H odc --quiet > {out}",
    "bin.cpio": "find tree | cpio -o -H bin --quiet > {out}",
    "zip": "zip -qr {out} tree", "7z": "7z a -bd -bso0 {out} tree",
    "iso": "xorriso -as mkisofs -quiet -R -o {out} tree",
    "deb": "cp -r tree deb && mkdir deb/DEBIAN && printf 'Package: w\\nVersion: 1\\n"
           "Architecture: all\\nMaintainer: A <a@b.invalid>\\nDescription: w\\n' > "
           "deb/DEBIAN/control && dpkg-deb --root-owner-group -Zxz -b deb {out} && rm -rf deb",
}
# What packages and images hold besides the tree: a line each, "records: 0".
BOOKKEEPING = {"debian-binary", "control", "manifest.json", "oci-layout", "index.json"}
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
    subprocess.run(command, cwd=cwd, shell=True, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


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
        lines = [k for k in self.lines(packed, name_of=name_of) if k[0] not in BOOKKEEPING]
        self.assertEqual(lines, expected or self.expected, packed)

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

    def test_standard_tools_packages_and_images(self):
        packed = {kind: os.path.join(self.root, f"p.{kind}") for kind in STANDARD}
        for kind, out in packed.items():
            sh(STANDARD[kind].format(out=out), self.root)
        packed["rpm"] = self.rpm()
        layer = (lambda f: f.read())(open(packed["tar.gz"], "rb"))
        digest = hashlib.sha256(layer).hexdigest()
        images = {  # an image laid out as docker save writes it, and as an OCI layout
            "docker-save.tar": {"manifest.json": b"[]", "0123abcd/layer.tar": packed["tar"]},
            "oci.tar": {"oci-layout": b"{}", "index.json": b"{}", f"blobs/sha256/{digest}": layer},
        }
        for name, members in images.items():
            packed[name] = os.path.join(self.root, name)
            with tarfile.open(packed[name], "w") as image:
                for member, content in members.items():
                    if not isinstance(content, bytes):
                        with open(content, "rb") as file:
                            content = file.read()
                    info = tarfile.TarInfo(member)
                    info.size = len(content)
                    image.addfile(info, io.BytesIO(content))
        for kind, out in packed.items():
            with self.subTest(kind=kind):
                self.assert_same(out)
                self.assert_hashed_as_stored(out)

    def assert_hashed_as_stored(self, packed):
        """Every line's file_sha256 (sha256 for the file's own lines) is sha256sum's."""
        with open(packed, "rb") as file:
            expected = hashlib.sha256(file.read()).hexdigest()
        for obj in lines_of(run(["--empty", "--hash", "sha256", packed]).stdout):
            if "errno" not in obj:  # an error carries no digest
                self.assertEqual(obj.get("file_sha256", obj.get("sha256")), expected, packed)

    def test_cut_short_streams_give_what_their_tools_recover(self):
        tools = {"gzip": "tar.gz", "xz": "tar.xz", "xz --format=lzma": "tar.lzma",
                 "zstd -q": "tar.zst", "bzip2": "tar.bz2", "lzip": "tar.lz"}
        records = lambda path: [k for k in self.lines(path) if len(k) > 2]
        for tool, suffix in tools.items():
            whole = os.path.join(self.root, "whole." + suffix)
            sh(f"tar -cf - tree | {tool} -c > {whole}", self.root)
            with open(whole, "rb") as file:
                data = file.read()
            for cut in sorted({1, 8, 40, len(data) // 3, len(data) // 2}):
                with self.subTest(tool=tool, cut=cut):
                    damaged = os.path.join(self.root, "cut." + suffix)
                    with open(damaged, "wb") as out:
                        out.write(data[:-cut])
                    recovered = os.path.join(self.root, "recovered.tar")
                    subprocess.run(f"{tool} -dc < {damaged} > {recovered}", shell=True,
                                   check=False, stderr=subprocess.DEVNULL)
                    result = run([damaged])
                    self.assertEqual(result.returncode, 1)
                    self.assertIn(b"damaged", result.stderr)
                    self.assertEqual(records(damaged), records(recovered))

    def rpm(self):
        top, recipe = os.path.join(self.root, "rpmbuild"), os.path.join(self.root, "w.rpmbuild")
        with open(recipe, "w", encoding="utf-8") as out:
            out.write("Name: w\nVersion: 1\nRelease: 1\nSummary: w\nLicense: none\n"
                      "BuildArch: noarch\n%description\nw\n%install\n"
                      f"mkdir -p %{{buildroot}}/opt && cp -a {self.tree} %{{buildroot}}/opt/\n"
                      "%files\n/opt/tree\n")
        sh(f"rpmbuild -bb --define '_topdir {top}' --define '__os_install_post %{{nil}}' "
           "--define '_build_id_links none' --define '_binaries_in_noarch_packages_terminate_build 0' "
           f"--nodeps {recipe}", self.root)
        return os.path.join(top, "RPMS", "noarch", "w-1-1.noarch.rpm")

    def test_ar_of_objects_and_links(self):
        objects = os.path.join(self.root, "objects")
        os.makedirs(objects)
        sh(f"for f in {self.tree}/*; do objcopy -I binary -O elf64-x86-64 \"$f\" "
           "\"$(basename \"$f\").o\"; done && ar rcs ../lib.a *.o", objects)
        self.assert_same(os.path.join(self.root, "lib.a"), expected=self.lines(objects))
        self.assert_hashed_as_stored(os.path.join(self.root, "lib.a"))
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
                                 "zeblix-inventory: fake.tar: all good: damaged gzip data: "
                                 "invalid stored block lengths\n"
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
