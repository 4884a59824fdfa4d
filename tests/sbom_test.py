"""zeblix-inventory for release gates and SBOM tools: every CycloneDX document it writes is valid
for the CycloneDX project's own strict validator (tests/sbom/check_bom.mjs, with the packages
tools/install-deps installs from the npm registry) and holds every record of the same run's JSON
Lines, byte for byte; purl and CPE are escaped as their standards ask, and purls parse back
with the purl project's parser; --hash gives sha256sum's digests; --empty lists the files without
a block; CSV keeps every byte of odd texts.

    python3 sbom_test.py   (the environment of inventory_test.py)
"""
import base64
import csv
import hashlib
import io
import json
import os
import shutil
import subprocess
import tarfile
import tempfile
import unittest

from inventory_test import ZEBLIX, decoded, lines_of, run
from version_blocks import block

CHECK_BOM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sbom", "check_bom.mjs")

# company, product name, product version; the purl and the CPE they must give.
IDENTITIES = [
    (b"Acme", b"widget", b"1.2.3",
     "pkg:generic/Acme/widget@1.2.3", "cpe:2.3:a:acme:widget:1.2.3:*:*:*:*:*:*:*"),
    (b"Acme Corp", b"wid get/x", b"1.0@beta:2",
     "pkg:generic/Acme%20Corp/wid%20get%2Fx@1.0%40beta:2",
     "cpe:2.3:a:acme_corp:wid_get\\/x:1.0\\@beta\\:2:*:*:*:*:*:*:*"),
    (b'Q "Inc"', b"50%off", b"",
     "pkg:generic/Q%20%22Inc%22/50%25off", 'cpe:2.3:a:q_\\"inc\\":50\\%off:*:*:*:*:*:*:*:*'),
    ("Açme".encode(), "ünï".encode(), b"2",
     "pkg:generic/A%C3%A7me/%C3%BCn%C3%AF@2",
     "cpe:2.3:a:a\\%c3\\%a7me:\\%c3\\%bcn\\%c3\\%af:2:*:*:*:*:*:*:*"),
    (b"\xffbad", b"a*b?", b"1",
     "pkg:generic/%EF%BF%BDbad/a*b%3F@1",
     "cpe:2.3:a:\\%ef\\%bf\\%bdbad:a\\*b\\?:1:*:*:*:*:*:*:*"),
]

# The text fields of a record, and where a component keeps each: a standard field, or a property.
FIELDS = [("company", lambda c: c.get("supplier", {}).get("name")),
          ("description", lambda c: c.get("description")),
          ("product_version", lambda c: c.get("version")),
          ("copyright", lambda c: c.get("copyright")),
          ("internal_name", lambda c: prop(c, "internal_name")),
          ("build_number", lambda c: prop(c, "build_number"))]


def prop(component, name):
    values = [p["value"] for p in component.get("properties", []) if p["name"] == "zeblix:" + name]
    return values[0] if values else None


def check_bom(text, directory):
    """Validates a document with the CycloneDX validator; returns its purls as the purl parser
    reads them: [purl, namespace, name, version, qualifiers], nested ones too."""
    path = os.path.join(directory, "bom.json")
    with open(path, "wb") as out:
        out.write(text)
    result = subprocess.run(["node", CHECK_BOM, path], capture_output=True, check=False)
    if result.returncode != 0:
        raise AssertionError("the CycloneDX validator refused the document:\n" +
                             result.stderr.decode())
    return [json.loads(line) for line in result.stdout.splitlines()]


@unittest.skipUnless(shutil.which("node") and os.path.isdir(os.path.join(
    os.path.dirname(CHECK_BOM), "node_modules")), "tools/install-deps test installs the validator")
class Sbom(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zeblix-sbom-test-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.tree = os.path.join(self.root, "dist")
        os.makedirs(os.path.join(self.tree, "bin"))
        shutil.copy(ZEBLIX, os.path.join(self.tree, "bin", "zeblix"))
        for i, (company, product, version, _, _) in enumerate(IDENTITIES):
            self.write(f"bin/p{i}", block(company=company, product=product, version=version,
                                          description=b"two\nlines, \"quoted\"",
                                          copyright=b"\xfe(c) not UTF-8", file_type=i % 6))
        self.write("bin/internal-only", block(company=b"", product=b"", version=b"",
                                              internal=b"INT"))
        self.write("share/README", b"no version block here\n")
        self.write("share/EMPTY", b"")
        with tarfile.open(os.path.join(self.tree, "bundle.tar.gz"), "w:gz") as bundle:
            bundle.add(os.path.join(self.tree, "bin", "p0"), arcname="lib/p0")
            for name in ("README", "EMPTY"):
                bundle.add(os.path.join(self.tree, "share", name), arcname="doc/" + name)

    def write(self, relative, data):
        path = os.path.join(self.tree, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)

    def bom(self, *options):
        result = run(["--format", "cyclonedx", *options, self.tree])
        self.assertEqual(result.returncode, 0, result.stderr)
        purls = check_bom(result.stdout, self.root)
        return json.loads(result.stdout), purls

    def test_the_bom_holds_every_record_of_the_json_lines_exactly(self):
        options = ["--hash", "sha256", "--empty"]
        objects = lines_of(run([*options, self.tree]).stdout)
        bom, _ = self.bom(*options)
        self.assertEqual(len(bom["components"]), len(objects))
        self.assertEqual(len({c["bom-ref"] for c in bom["components"]}), len(objects))
        by_place = {}
        for component in bom["components"]:
            occurrence = component["evidence"]["occurrences"][0]
            by_place[(occurrence["location"], occurrence.get("offset"))] = component
        for obj in objects:
            location = b"!/".join([decoded(obj["path"])] + [decoded(m) for m in obj.get("member", [])])
            component = by_place[(location.decode("utf-8", "replace"), obj.get("offset"))]
            self.assertEqual(component["hashes"], [{"alg": "SHA-256", "content": obj["sha256"]}])
            if "records" in obj:
                self.assertEqual(component["type"], "file")
                continue
            for field, standard in FIELDS:
                exact = decoded(obj[field])
                if not exact:
                    continue
                self.assertEqual(standard(component), exact.decode("utf-8", "replace"), field)
                kept = prop(component, field + ":base64")
                self.assertEqual(base64.b64decode(kept) if kept else exact, exact, field)
            self.assertEqual(prop(component, "file_os"), obj["os_text"])
            self.assertEqual(component["type"], {1: "application", 2: "library", 3: "library",
                                                 4: "device-driver"}.get(obj["file_type"], "file"))

    def test_purl_and_cpe_are_escaped_as_their_standards_ask(self):
        bom, purls = self.bom()
        found = {c["purl"]: c["cpe"] for c in bom["components"]}
        parsed = {p[0]: p[1:4] for p in purls}
        for company, product, version, purl, cpe in IDENTITIES:
            with self.subTest(purl=purl):
                self.assertEqual(found[purl], cpe)
                texts = [t.decode("utf-8", "replace") or None for t in (company, product, version)]
                self.assertEqual(parsed[purl], texts)
        self.assertIn("pkg:generic/INT", found)  # no product name: the internal name

    def test_hash_is_the_sha256_of_each_file_and_member(self):
        objects = lines_of(run(["--hash", "sha256", "--empty", self.tree]).stdout)
        for obj in objects:
            if "member" in obj:
                with tarfile.open(decoded(obj["path"])) as bundle:
                    data = bundle.extractfile(decoded(obj["member"][-1]).decode()).read()
                with open(decoded(obj["path"]), "rb") as file:  # as stored: what sha256sum shows
                    self.assertEqual(obj["file_sha256"], hashlib.sha256(file.read()).hexdigest())
                self.assertEqual(obj["member_sha256"], [obj["sha256"]])
            else:
                with open(decoded(obj["path"]), "rb") as file:
                    data = file.read()
            self.assertEqual(obj["sha256"], hashlib.sha256(data).hexdigest())

    def test_empty_lists_the_files_without_a_block(self):
        listed = subprocess.run(
            f"'{os.environ['ZEBLIX_INVENTORY']}' --empty '{self.tree}' | "
            "jq -r 'select(.records == 0) | [.path] + (.member // []) | join(\"!/\")'",
            shell=True, capture_output=True, check=True).stdout.decode().split()
        self.assertEqual(sorted(os.path.relpath(p, self.tree) for p in listed),
                         ["bundle.tar.gz!/doc/EMPTY", "bundle.tar.gz!/doc/README",
                          "share/EMPTY", "share/README"])
        self.assertNotIn(b'"records"', run([self.tree]).stdout)  # only with --empty

    def test_csv_keeps_commas_quotes_and_line_breaks(self):
        result = run(["--format", "csv", "--empty", "--hash", "sha256", self.tree])
        rows = list(csv.DictReader(io.StringIO(result.stdout.decode("latin-1"), newline="")))
        objects = lines_of(run(["--empty", "--hash", "sha256", self.tree]).stdout)
        self.assertEqual(len(rows), len(objects))
        for row, obj in zip(rows, objects):
            for key, value in obj.items():
                if key in ("member", "member_sha256"):
                    value = b"!/".join(decoded(m) for m in value)
                elif isinstance(value, (str, dict)):
                    value = decoded(value)
                else:
                    value = str(value).encode()
                self.assertEqual(row[key].encode("latin-1"), value, key)


if __name__ == "__main__":
    unittest.main(verbosity=2)
