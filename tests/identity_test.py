"""The package and image around each record: a .deb made by dpkg-deb, an RPM made by rpmbuild, an
image saved as docker saves it (its manifest last, a .deb left in a layer) and an OCI layout give
every line inside them "package" and "image", as JSON Lines and CSV, and a CycloneDX document that
the CycloneDX validator takes, with each record nested in its package's or image's component and
every purl parsed back by the purl project's parser. Control files and RPM headers that lie
(missing fields, huge values, bytes that are not text) and images whose bookkeeping does not read
give the records without an identity, and an error. --output puts a whole document in place, or
leaves the file as it was.

    python3 identity_test.py   (the environment of inventory_test.py)
"""
import csv
import gzip
import hashlib
import io
import json
import os
import shutil
import signal
import struct
import subprocess
import tarfile
import tempfile
import time
import unittest

from inventory_test import lines_of, run
from packing_test import sh
from sbom_test import CHECK_BOM, check_bom
from version_blocks import block

DEB_PURL = "pkg:deb/debian/acme-widgets@1:2.3-4?arch=amd64"
RPM_PURL = "pkg:rpm/fedora/widget@2.5-3.fc40?arch=noarch&epoch=1"


def check_purls(purls, directory):
    """Each purl must be what the purl project's library writes for it."""
    path = os.path.join(directory, "purls.txt")
    with open(path, "w", encoding="utf-8") as out:
        out.write("".join(p + "\n" for p in purls))
    result = subprocess.run(["node", CHECK_BOM, "--purls", path], capture_output=True, check=False)
    if result.returncode != 0:
        raise AssertionError(result.stderr.decode())


def product(name):
    return bytes(64) + block(product=name.encode(), version=b"1.0") + bytes(8)


def tar_bytes(members):
    data = io.BytesIO()
    with tarfile.open(fileobj=data, mode="w") as tar:
        for name, content in members.items():
            info = tarfile.TarInfo(name)
            info.size = len(content)
            tar.addfile(info, io.BytesIO(content))
    return data.getvalue()


def hand_made_deb(control, members):
    """A .deb as ar lays it out, with `control` (None: none at all) as written."""
    parts = [("debian-binary", b"2.0\n")]
    if control is not None:
        parts.append(("control.tar.gz", gzip.compress(tar_bytes({"./control": control}))))
    parts.append(("data.tar.gz", gzip.compress(tar_bytes(members))))
    out = b"!<arch>\n"
    for name, data in parts:
        out += f"{name:<16}{0:<12}{0:<6}{0:<6}{100644:<8}{len(data):<10}`\n".encode() + data
        out += b"\n" * (len(data) % 2)
    return out


def rpm_header(tags):
    """An RPM header from (tag, type, bytes) or (tag, type, bytes, offset claimed)."""
    index, data = b"", b""
    for tag, kind, value, *offset in tags:
        index += struct.pack(">IIII", tag, kind, offset[0] if offset else len(data), 1)
        data += value
    return b"\x8e\xad\xe8\x01" + bytes(4) + struct.pack(">II", len(tags), len(data)) + index + data


def hand_made_rpm(tags, payload):
    lead = b"\xed\xab\xee\xdb\x03\x00" + bytes(72) + b"\x00\x05" + bytes(16)
    return lead + rpm_header([]) + rpm_header(tags) + payload


GOOD_RPM_TAGS = [(1000, 6, b"w\0"), (1001, 6, b"1\0"), (1002, 6, b"1\0"), (1022, 6, b"x86_64\0")]
# Bookkeeping that lies: each gives the records, without an identity, and an error.
HOSTILE = {
    "deb-no-version": hand_made_deb(b"Package: a\nArchitecture: all\n", {"lib": product("a")}),
    "deb-huge-version": hand_made_deb(b"Package: a\nVersion: " + b"1" * 100000 +
                                      b"\nArchitecture: all\n", {"lib": product("a")}),
    "deb-not-utf8": hand_made_deb(b"Package: \xff\xfe\nVersion: 1\nArchitecture: all\n",
                                  {"lib": product("a")}),
    "deb-twice": hand_made_deb(b"Package: a\nPackage: b\nVersion: 1\nArchitecture: all\n",
                               {"lib": product("a")}),
    "deb-binary": hand_made_deb(bytes(range(256)) * 4, {"lib": product("a")}),
    "deb-over-1mib": hand_made_deb(b"Package: a\nVersion: 1\nArchitecture: all\nDescription: " +
                                   b"x" * (1 << 20), {"lib": product("a")}),
    "deb-no-control": hand_made_deb(None, {"lib": product("a")}),
    "rpm-no-name": hand_made_rpm(GOOD_RPM_TAGS[1:], tar_bytes({"lib": product("r")})),
    "rpm-huge-version": hand_made_rpm([(1001, 6, b"9" * 100000 + b"\0"), *GOOD_RPM_TAGS[:1],
                                       *GOOD_RPM_TAGS[2:]], tar_bytes({"lib": product("r")})),
    "rpm-offset-outside": hand_made_rpm([*GOOD_RPM_TAGS[1:], (1000, 6, b"", 1 << 30)],
                                        tar_bytes({"lib": product("r")})),
    "rpm-no-nul": hand_made_rpm([*GOOD_RPM_TAGS[1:], (1000, 6, b"w")],
                                tar_bytes({"lib": product("r")})),
    "rpm-header-claims-1gib": (lambda rpm: rpm[:124] + struct.pack(">I", 1 << 30) + rpm[128:])(
        hand_made_rpm(GOOD_RPM_TAGS, tar_bytes({"lib": product("r")}))),
    "image-bad-config": tar_bytes({"0a/layer.tar": tar_bytes({"lib": product("i")}),
                                   "manifest.json": b'[{"Config": "x.json", "Layers": []}]'}),
    "layout-missing-manifest": tar_bytes({
        "oci-layout": b"{}", "blobs/sha256/" + "ab" * 32: tar_bytes({"lib": product("i")}),
        "index.json": b'{"manifests": [{"digest": "sha256:' + b"cd" * 32 + b'"}]}'}),
}


class Identity(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="zeblix-identity-test-")
        cls.deb = cls.dpkg_deb()
        cls.rpm = cls.rpmbuild()
        cls.packed = {"acme.deb": cls.deb, "widget.rpm": cls.rpm,
                      "saved.tar": cls.docker_save(), "layout.tar": cls.oci_layout()}
        for name, data in cls.packed.items():
            cls.write(name, data)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    @classmethod
    def write(cls, name, data):
        with open(os.path.join(cls.root, name), "wb") as out:
            out.write(data)
        return os.path.join(cls.root, name)

    @classmethod
    def dpkg_deb(cls):
        tree = os.path.join(cls.root, "deb")
        os.makedirs(os.path.join(tree, "DEBIAN"))
        os.makedirs(os.path.join(tree, "usr", "lib"))
        for name in ("alpha", "beta"):
            cls.write(f"deb/usr/lib/lib{name}.so", product(name))
        cls.write("deb/DEBIAN/control", b"Package: acme-widgets\nVersion: 1:2.3-4\n"
                  b"Architecture: amd64\nMaintainer: A <a@b.invalid>\nDescription: w\n")
        sh("dpkg-deb --root-owner-group -Zxz -b deb acme.deb", cls.root)
        with open(os.path.join(cls.root, "acme.deb"), "rb") as file:
            return file.read()

    @classmethod
    def rpmbuild(cls):
        recipe = cls.write("w.rpmbuild", b"Name: widget\nVersion: 2.5\nRelease: 3.fc40\nEpoch: 1\n"
                           b"Vendor: Fedora Project\nSummary: w\nLicense: none\nBuildArch: noarch\n"
                           b"%description\nw\n%install\nmkdir -p %{buildroot}/opt && cp -a " +
                           cls.root.encode() + b"/deb/usr/lib %{buildroot}/opt/\n%files\n/opt/lib\n")
        sh(f"rpmbuild -bb --define '_topdir {cls.root}/rpm' --define '__os_install_post %{{nil}}' "
           "--define '_build_id_links none' --define '_binaries_in_noarch_packages_terminate_build 0'"
           f" --nodeps {recipe}", cls.root)
        with open(os.path.join(cls.root, "rpm/RPMS/noarch/widget-2.5-3.fc40.noarch.rpm"), "rb") as f:
            return f.read()

    @classmethod
    def docker_save(cls):
        cls.saved_config = b'{"architecture": "amd64", "os": "linux"}'
        digest = hashlib.sha256(cls.saved_config).hexdigest()
        return tar_bytes({  # as docker saves it: the manifest after the layers
            f"{digest}.json": cls.saved_config,
            "0a/layer.tar": tar_bytes({"usr/lib/libsaved.so": product("saved")}),
            "0b/layer.tar": tar_bytes({"var/cache/acme.deb": cls.deb}),
            "manifest.json": json.dumps([{"Config": f"{digest}.json", "Layers": [
                "0a/layer.tar", "0b/layer.tar"], "RepoTags": ["registry.example/acme/saved:2.0"]}
            ]).encode()})

    @classmethod
    def oci_layout(cls):
        def blob(data):
            return f"sha256:{hashlib.sha256(data).hexdigest()}", data
        layer = blob(gzip.compress(tar_bytes({"usr/lib/liblaid.so": product("laid")})))
        cls.layout_config = blob(b'{"architecture": "arm64", "os": "linux"}')
        manifest = blob(json.dumps({"config": {"digest": cls.layout_config[0]},
                                    "layers": [{"digest": layer[0]}]}).encode())
        index = {"manifests": [{"digest": manifest[0], "annotations": {
            "org.opencontainers.image.ref.name": "docker.io/acme/laid:1.0"}}]}
        return tar_bytes({"oci-layout": b'{"imageLayoutVersion": "1.0.0"}',
                          "index.json": json.dumps(index).encode(),
                          **{f"blobs/sha256/{d[7:]}": data
                             for d, data in (layer, cls.layout_config, manifest)}})

    def paths(self):
        return [os.path.join(self.root, name) for name in self.packed]

    def test_every_line_carries_its_package_and_image(self):
        saved = {"digest": "sha256:" + hashlib.sha256(self.saved_config).hexdigest(),
                 "tags": ["registry.example/acme/saved:2.0"]}
        deb = {"type": "deb", "name": "acme-widgets", "version": "1:2.3-4",
               "architecture": "amd64", "purl": DEB_PURL}
        expected = {  # product: (package, image)
            "alpha": [(deb, None)] * 3, "beta": [(deb, None)] * 3,
            "saved": [(None, saved)], "laid": [(None, {"digest": self.layout_config[0],
                                                       "tags": ["docker.io/acme/laid:1.0"]})]}
        for name in ("alpha", "beta"):
            expected[name][1] = ({"type": "rpm", "name": "widget", "version": "2.5-3.fc40",
                                  "architecture": "noarch", "epoch": "1", "purl": RPM_PURL}, None)
            expected[name][2] = (deb, saved)
        found, purls = {}, []
        for obj in lines_of(run(self.paths()).stdout):
            image = obj.get("image")
            purls += [p["purl"] for p in (image, obj.get("package")) if p and "purl" in p]
            found.setdefault(obj["product_name"], []).append(
                (obj.get("package"), image and {k: image[k] for k in ("digest", "tags")}))
        self.assertEqual(found, expected)
        self.assertIn("pkg:oci/laid@sha256:", " ".join(purls))  # only the layout holds a manifest
        check_purls(purls, self.root)
        rows = list(csv.DictReader(io.StringIO(run(["--format", "csv", self.paths()[2]])
                                               .stdout.decode(), newline="")))
        self.assertEqual([(r["package_purl"], r["image_tags"], r["image_digest"]) for r in rows],
                         [("", *saved["tags"], saved["digest"])] + [(DEB_PURL, *saved["tags"],
                                                                     saved["digest"])] * 2)

    def test_the_bom_nests_records_in_their_packages_and_images(self):
        result = run(["--format", "cyclonedx", "--hash", "sha256", *self.paths()])
        self.assertEqual(result.returncode, 0, result.stderr)
        purls = {p[0]: p[1:] for p in check_bom(result.stdout, self.root)}

        def tree(component):
            return (component.get("purl", component["name"]).split("@")[0],
                    sorted(tree(c) for c in component.get("components", [])))
        alpha, beta = (f"pkg:generic/Acme/{name}" for name in ("alpha", "beta"))
        packages = [("pkg:deb/debian/acme-widgets", [(alpha, []), (beta, [])]),
                    ("pkg:rpm/fedora/widget", [(alpha, []), (beta, [])])]
        components = json.loads(result.stdout)["components"]
        self.assertEqual(sorted(tree(c) for c in components), sorted([
            *packages, ("pkg:oci/laid", [("pkg:generic/Acme/laid", [])]),
            ("registry.example/acme/saved", sorted([packages[0], ("pkg:generic/Acme/saved", [])]))]))
        self.assertEqual(purls[RPM_PURL], ["fedora", "widget", "2.5-3.fc40",
                                           {"arch": "noarch", "epoch": "1"}])
        laid = [p for p in purls if p.startswith("pkg:oci/laid")][0]
        self.assertEqual(purls[laid][3], {"arch": "arm64", "repository_url": "docker.io/acme/laid",
                                          "tag": "1.0"})
        package = [c for c in components if c.get("purl") == DEB_PURL][0]
        self.assertEqual(package["hashes"][0]["content"], hashlib.sha256(self.deb).hexdigest())
        alone = json.loads(run(["--format", "cyclonedx", self.paths()[0]]).stdout)
        self.assertEqual(alone["metadata"]["component"]["purl"], DEB_PURL)
        self.assertEqual(sorted(c["name"] for c in alone["components"]), ["alpha", "beta"])

    def test_a_vendor_we_cannot_map_is_named_as_it_names_itself(self):
        third_party = hand_made_deb(b"Package: w\nVersion: 1.0+acme1\nArchitecture: all\n"
                                    b"Origin: Acme Corp\n", {"lib": product("a")})
        cases = {  # file: the purl its records' package has
            "third.deb": (third_party, "pkg:deb/acme%20corp/w@1.0+acme1?arch=all"),
            "vendor.rpm": (hand_made_rpm([*GOOD_RPM_TAGS, (1011, 6, b"Acme Software\0")],
                                         tar_bytes({"lib": product("r")})),
                           "pkg:rpm/acme%20software/w@1-1?arch=x86_64"),
            "unnamed.rpm": (hand_made_rpm([*GOOD_RPM_TAGS, (1011, 6, b"Acme\x01\0")],
                                          tar_bytes({"lib": product("r")})),
                            "pkg:rpm/w@1-1?arch=x86_64")}
        for name, (data, purl) in cases.items():
            with self.subTest(name):
                lines = lines_of(run([self.write(name, data)]).stdout)
                self.assertEqual([o["package"]["purl"] for o in lines], [purl])
        check_purls([purl for _, purl in cases.values()], self.root)

    def test_damaged_packages_keep_what_they_hold_whole(self):
        with open(os.path.join(self.root, "widget.rpm"), "rb") as rpm:
            data = rpm.read()
        cases = {  # file: its bytes, the products kept, the error
            "cut-payload.rpm": (data[:-1], ["alpha", "beta"], b"cut short"),
            "bad-signature.rpm": (data[:96] + bytes(4) + data[100:], [], b"damaged RPM package"),
        }
        for name, (damaged, products, error) in cases.items():
            with self.subTest(name):
                result = run([self.write(name, damaged)])
                self.assertEqual(result.returncode, 1)
                self.assertIn(error, result.stderr)
                self.assertEqual(sorted(o["product_name"] for o in lines_of(result.stdout)
                                        if "product_name" in o), products)

    def test_bookkeeping_that_lies_gives_the_records_and_an_error(self):
        for name, data in HOSTILE.items():
            with self.subTest(name):
                result = run([self.write(name, data)])
                records = [o for o in lines_of(result.stdout) if "product_name" in o]
                self.assertEqual(len(records), 1, result.stdout)
                self.assertNotIn("package", records[0])
                self.assertNotIn("image", records[0])
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(name.encode(), result.stderr)
        other = tar_bytes({"manifest.json": b'{"name": "a web app"}', "index.json": b"[]",
                           "lib": product("w")})
        self.assertEqual(run([self.write("other.tar", other)]).returncode, 0)

    def test_output_is_put_in_place_whole_or_not_at_all(self):
        target = self.write("bom.json", b"the document before\n")
        os.chmod(target, 0o640)
        run(["--format", "cyclonedx", "-o", target, self.paths()[0]])
        with open(target, "rb") as file:
            self.assertEqual(json.load(file)["metadata"]["component"]["purl"], DEB_PURL)
        self.assertEqual(os.stat(target).st_mode & 0o777, 0o640)
        fifo = os.path.join(self.root, "never-written")
        os.mkfifo(fifo)
        self.write("bom.json", b"the document before\n")
        stopped = subprocess.Popen([os.environ["ZEBLIX_INVENTORY"], "-q", "--output", target, fifo])
        time.sleep(0.5)
        stopped.send_signal(signal.SIGTERM)
        self.assertEqual(stopped.wait(), -signal.SIGTERM)
        with open(target, "rb") as file:
            self.assertEqual(file.read(), b"the document before\n")
        self.assertFalse([n for n in os.listdir(self.root) if n.startswith(".bom.json")])
        self.assertEqual(run(["-o", os.path.join(self.root, "no/such/dir/out")]).returncode, 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
