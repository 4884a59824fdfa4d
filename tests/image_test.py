"""Container images as their own tools make them: umoci builds an OCI layout of several tagged
images (shared layers, a whiteout, an opaque directory added as a layer GNU tar packed), skopeo
copies each into a docker-archive and an oci-archive. The records the inventory gives for an image,
in the layout folder, its tar and both archives, are the records of its final file system as
`umoci unpack` lays it out; with --image-layers all every layer's are given, marked. A shared layer
lies in each image; an image whose layer or config is missing is an error and claims nothing.

    python3 image_test.py   (the environment of inventory_test.py)
"""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from inventory_test import lines_of, run
from packing_test import sh
from sbom_test import check_bom
from version_blocks import block

# Tag: what its image's file system holds, as paths below the root and products.
FILE_SYSTEMS = {
    "v1": {("usr/lib/liba.so", "alpha"), ("opt/x/libb.so", "beta")},
    "v2": {("opt/x/libb.so", "beta"), ("usr/lib/libd.so", "delta")},
    "v3": {("usr/lib/libd.so", "delta"), ("opt/y/libc.so", "gamma")},
}


def product(name):
    return bytes(100) + block(product=name.encode(), version=b"1.0") + bytes(8)


def load(path):
    with open(path, encoding="utf-8") as file:
        return json.load(file)


def has_tool(name):
    return shutil.which(name) is not None


@unittest.skipUnless(has_tool("umoci") and has_tool("skopeo"), "tools/install-deps test installs them")
class Images(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="zeblix-image-test-")
        cls.layout = os.path.join(cls.root, "layout")
        cls.build_images()
        sh("tar -C layout -cf layout.tar .", cls.root)
        for tag in FILE_SYSTEMS:
            sh(f"skopeo copy -q oci:layout:{tag} docker-archive:docker-{tag}.tar:acme/w:{tag}", cls.root)
            sh(f"skopeo copy -q oci:layout:{tag} oci-archive:oci-{tag}.tar:acme/w:{tag}", cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    @classmethod
    def write(cls, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)

    @classmethod
    def build_images(cls):
        """v1 adds two products; v2, on v1's layer, deletes one (a whiteout) and adds another;
        v3 adds a layer that makes /opt opaque, holding a third."""
        sh("umoci init --layout layout && umoci new --image layout:base", cls.root)
        bundle = os.path.join(cls.root, "bundle")
        sh("umoci unpack --rootless --image layout:base bundle", cls.root)
        cls.write(os.path.join(bundle, "rootfs/usr/lib/liba.so"), product("alpha"))
        cls.write(os.path.join(bundle, "rootfs/opt/x/libb.so"), product("beta"))
        sh("umoci repack --image layout:v1 bundle && rm -rf bundle", cls.root)
        sh("umoci unpack --rootless --image layout:v1 bundle", cls.root)
        os.remove(os.path.join(bundle, "rootfs/usr/lib/liba.so"))
        cls.write(os.path.join(bundle, "rootfs/usr/lib/libd.so"), product("delta"))
        sh("umoci repack --image layout:v2 bundle", cls.root)
        opaque = os.path.join(cls.root, "opaque")
        cls.write(os.path.join(opaque, "opt/.wh..wh..opq"), b"")
        cls.write(os.path.join(opaque, "opt/y/libc.so"), product("gamma"))
        sh("tar -C opaque -cf opaque.tar opt && umoci raw add-layer --image layout:v2 --tag v3 "
           "opaque.tar", cls.root)

    def unpacked(self, tag):
        """What `umoci unpack` lays out for the image, scanned as plain files."""
        target = os.path.join(self.root, "unpacked-" + tag)
        if not os.path.isdir(target):
            sh(f"umoci unpack --rootless --image layout:{tag} unpacked-{tag}", self.root)
        rootfs = os.path.join(target, "rootfs")
        return {(os.path.relpath(o["path"], rootfs), o["product_name"])
                for o in lines_of(run(["--no-archives", rootfs]).stdout)}

    def records(self, args, tag=None):
        """(path in the image, product) of the lines of the image tagged `tag` (any image when
        None), and the lines."""
        result = run(args)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = [o for o in lines_of(result.stdout) if "product_name" in o]
        chosen = [o for o in lines if tag is None or any(t.endswith(tag) for t in o["image"]["tags"])]
        return {(o["member"][-1], o["product_name"]) for o in chosen}, chosen

    def test_every_form_gives_the_file_system_umoci_unpacks(self):
        forms = {tag: [[self.layout], [os.path.join(self.root, "layout.tar")],
                       [os.path.join(self.root, f"docker-{tag}.tar")],
                       [os.path.join(self.root, f"oci-{tag}.tar")]] for tag in FILE_SYSTEMS}
        for tag, expected in FILE_SYSTEMS.items():
            self.assertEqual(self.unpacked(tag), expected)
            for args in forms[tag]:
                with self.subTest(tag=tag, form=os.path.basename(args[0])):
                    found, lines = self.records(args, tag)
                    self.assertEqual(found, expected)
                    self.assertTrue(all(o["image"]["architecture"] == "amd64" for o in lines))

    def test_all_layers_marks_what_later_layers_delete(self):
        _, lines = self.records(["--image-layers", "all", "--format", "json",
                                 os.path.join(self.root, "oci-v3.tar")])
        marked = {(o["member"][-1], o["image"]["layer"]["index"],
                   o["image"]["layer"].get("deleted_by")) for o in lines}
        self.assertEqual(marked, {("usr/lib/liba.so", 0, 1), ("opt/x/libb.so", 0, 2),
                                  ("usr/lib/libd.so", 1, None), ("opt/y/libc.so", 2, None)})
        self.assertTrue(all(o["image"]["layer"]["digest"].startswith("sha256:") for o in lines))

    def test_a_shared_layer_lies_in_each_image_and_markers_are_no_files(self):
        _, lines = self.records(["--empty", os.path.join(self.root, "layout.tar")])
        beta = sorted(o["image"]["tags"][0] for o in lines if o["product_name"] == "beta")
        self.assertEqual(beta, ["v1", "v2"])  # v3 hides it
        every = lines_of(run(["--empty", "--image-layers", "all", self.layout]).stdout)
        self.assertFalse([o for o in every if ".wh." in o.get("member", [""])[-1]])

    def test_the_bom_holds_a_container_for_each_image(self):
        result = run(["--format", "cyclonedx", "--hash", "sha256",
                      os.path.join(self.root, "layout.tar")])
        self.assertEqual(result.returncode, 0, result.stderr)
        check_bom(result.stdout, self.root)
        bom = json.loads(result.stdout)
        self.assertNotIn("component", bom["metadata"])  # several images: no one subject
        held = {self.property(c, "image_tag"): sorted(i["name"] for i in c.get("components", []))
                for c in bom["components"] if c["type"] == "container"}
        self.assertEqual(held, {"base": [], "v1": ["alpha", "beta"], "v2": ["beta", "delta"],
                                "v3": ["delta", "gamma"]})
        refs = [i["bom-ref"] for c in bom["components"] for i in c.get("components", [])]
        self.assertEqual(len(refs), len(set(refs)))
        alone = json.loads(run(["--format", "cyclonedx",
                                os.path.join(self.root, "oci-v2.tar")]).stdout)
        subject = alone["metadata"]["component"]
        self.assertRegex(subject["purl"], r"^pkg:oci/w@sha256:[0-9a-f]{64}\?arch=amd64&"
                                          r"repository_url=acme%2Fw&tag=v2$")
        self.assertEqual(sorted(c["name"] for c in alone["components"]), ["beta", "delta"])

    @staticmethod
    def property(component, name):
        return [p["value"] for p in component["properties"] if p["name"] == "zeblix:" + name][0]

    def test_an_image_missing_a_layer_or_its_config_claims_nothing(self):
        cases = {"docker-archive without its first layer": ("docker-v2.tar", ".tar"),
                 "docker-archive without its config": ("docker-v2.tar", ".json"),
                 "oci-archive without a layer": ("oci-v2.tar", "layer")}
        for name, (archive, missing) in cases.items():
            with self.subTest(name):
                folder = os.path.join(self.root, "broken")
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
                sh(f"tar -xf ../{archive}", folder)
                if missing == "layer":
                    blobs = os.path.join(folder, "blobs", "sha256")
                    manifest = load(os.path.join(folder, "index.json"))["manifests"][0]
                    layer = load(os.path.join(blobs, manifest["digest"][7:]))["layers"][0]
                    os.remove(os.path.join(blobs, layer["digest"][7:]))
                else:
                    victim = sorted(n for n in os.listdir(folder) if n.endswith(missing))[0]
                    os.remove(os.path.join(folder, victim))
                sh("tar -cf ../broken.tar .", folder)
                layout = os.path.isfile(os.path.join(folder, "oci-layout"))
                for target in [os.path.join(self.root, "broken.tar")] + [folder] * layout:
                    result = run([target])
                    self.assertEqual(result.returncode, 1)
                    self.assertRegex(result.stderr, rb"names a (layer|config) the archive does not hold")
                    self.assertFalse([o for o in lines_of(result.stdout) if "image" in o])


if __name__ == "__main__":
    unittest.main(verbosity=2)
