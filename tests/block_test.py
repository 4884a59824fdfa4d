"""Version blocks from any product's build, read back exactly: zeblix-block for every code by
number and by word; texts at full width and with bytes that are not ASCII through C (C89, C++98),
assembler and raw bytes of both orders; cross builds (a Windows DLL with mingw-w64, an s390x object);
the C header's compile-time check; refusals naming the field; and products built with CMake (C
only: an executable, a shared and a static library), Meson and Make against the installed package,
and with Rust and Go from the raw bytes.

    python3 block_test.py   (ZEBLIX, ZEBLIX_INVENTORY, ZEBLIX_BUILD_DIR, ZEBLIX_SOURCE_DIR)
"""
import json
import os
import shlex
import shutil
import subprocess
import tempfile
import unittest

from inventory_test import decoded

BUILD, SOURCE = os.environ["ZEBLIX_BUILD_DIR"], os.environ["ZEBLIX_SOURCE_DIR"]
GENERATOR = os.path.join(BUILD, "zeblix-block")
OPTIONS = ["company", "description", "product-version", "internal-name", "copyright",
           "product-name", "build-number"]
WIDTHS = [40, 40, 20, 40, 512, 40, 20]
FULL = [bytes([ord("A") + i]) * width for i, width in enumerate(WIDTHS)]
NOT_ASCII = [b"caf\xc3\xa9", b"\xff\xfe\x01 tab\t", b"1.0-\xe2\x82\xac", b'"quoted" \\ ??=',
             "\u00a9 \u6f22\u5b57".encode(), b"\x80\x81", b"77\xa0"]


def sh(command, cwd, env=None):
    subprocess.run(command, cwd=cwd, shell=True, check=True, capture_output=True,
                   env=dict(os.environ, **(env or {})))


def records(*paths):
    out = subprocess.run([os.environ["ZEBLIX_INVENTORY"], "-q", "--no-archives", *paths],
                         capture_output=True, check=True).stdout
    return [json.loads(line) for line in out.splitlines()]


def texts_of(record):
    return [decoded(record[o.replace("-", "_")]) for o in OPTIONS]


class Blocks(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zeblix-block-test-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)

    def generate(self, name, *options):
        out = os.path.join(self.root, name)
        subprocess.run([GENERATOR, *options, "-o", out], check=True)
        return out

    def round_trips(self, prefix, cases):
        """Raw blocks of each (option, value, key, expected), read back; the pairs of case and
        record."""
        paths = [self.generate(f"{prefix}{i}", f"--{o}={v}", "--format=raw")
                 for i, (o, v, _, _) in enumerate(cases)]
        pairs = list(zip(cases, records(*paths)))
        for (option, value, key, expected), record in pairs:
            self.assertEqual(record[key], expected, f"--{option}={value}")
        return pairs

    def test_every_code_by_number_and_by_word(self):
        cases = []  # option, value, key and value the record must show
        for code in [*range(0, 82), 0xFFFF]:
            cases.append(("file-os", str(code), "file_os", code))
        for code in [*range(0, 6), 0x1234]:
            cases.append(("file-type", hex(code), "file_type", code))
        for mask in [*(1 << bit for bit in range(7)), 0x7F, 0x0C, 0x8000]:
            cases.append(("release", str(mask), "release_mask", mask))
        texts = {"file_os": "os_text", "file_type": "file_type_text", "release_mask": "release_text"}
        by_word = []  # the words the reader printed for each known code must give it back
        for (option, _, key, value), record in self.round_trips("n", cases):
            words = record[texts[key]].strip()
            if words and not words.startswith("Unknown") and (key != "release_mask" or
                                                              bin(value).count("1") == 1):
                by_word.append((option, words, key, 25 if value == 26 else value))  # 26 = 25's
        self.assertEqual(len(by_word), 80 + 4 + 7)
        self.round_trips("w", by_word)
        combined = self.generate("c", "--release=Beta, Release,Update", "--format=raw")
        self.assertEqual(records(combined)[0]["release_text"], "Beta ReleaseUpdate")

    def test_texts_through_every_form_and_cross_builds(self):
        compilers = {  # form, how a product is built from the generated file, byte order
            "c89": ("c", "cc -std=c89 -pedantic -O2 -flto -Wl,--gc-sections {inc} {src} main.c "
                         "-o {out} && strip {out}", "native"),
            "c++98": ("c", "cp {src} b.cc && c++ -std=c++98 -pedantic -O2 {inc} b.cc main.c "
                           "-o {out}", "native"),
            "asm": ("asm", "cc -O2 -Wl,--gc-sections {src} main.c -o {out} && strip {out}",
                    "native"),
            "raw-big": ("raw --byte-order=big", "cp {src} {out}", "foreign"),
            "raw-little": ("raw --byte-order=little", "cp {src} {out}", "native"),
            "objcopy": ("raw", "objcopy -I binary -O elf64-x86-64 {src} raw.o && "
                               "cc main.c raw.o -o {out}", "native"),
            "mingw-dll": ("c", "x86_64-w64-mingw32-gcc -O2 -shared -s {inc} {src} -o {out}",
                          "native"),
            "s390x-c": ("c", "s390x-linux-gnu-gcc -O2 -c {inc} {src} -o {out}", "foreign"),
            "s390x-asm": ("asm", "s390x-linux-gnu-gcc -c {src} -o {out}", "foreign"),
        }
        with open(os.path.join(self.root, "main.c"), "w", encoding="utf-8") as main:
            main.write("int main(void) { return 0; }\n")
        for label, texts in (("full", FULL), ("not-ascii", NOT_ASCII)):
            # C++ keeps a string literal's NUL: a text fills its field less one byte at most.
            forms = {n: f for n, f in compilers.items() if label != "full" or n != "c++98"}
            fields = [b"--%s=%s" % (o.encode(), t) for o, t in zip(OPTIONS, texts)]
            numbers = ["--patch-level=-3", "--release=Beta,Release", "--file-os=42",
                       "--file-type=Device Driver"]
            for name, (form, build, order) in forms.items():
                with self.subTest(texts=label, form=name):
                    suffix = {"c": ".c", "asm": ".s"}.get(form.split()[0], ".bin")
                    src = self.generate(f"{label}-{name}{suffix}", *fields, *numbers,
                                        *f"--format={form}".split(), "--symbol=product_block")
                    out = os.path.join(self.root, f"{label}-{name}.out")
                    sh(build.format(inc=shlex.quote(f"-I{SOURCE}/include"), src=shlex.quote(src),
                                    out=shlex.quote(out)), self.root)
                    found = records(out)
                    self.assertEqual(len(found), 1)
                    self.assertEqual(texts_of(found[0]), texts)
                    self.assertEqual([found[0][k] for k in ("patch_level", "release_mask",
                                                            "file_os", "file_type",
                                                            "byte_order")],
                                     [-3, 0x0C, 42, 4, order])

    def test_refusals_name_the_field_and_the_header_refuses_a_long_text(self):
        cases = [  # an option, what the message says
            ("--company=" + "x" * 41, "--company: "),
            ("--copyright=" + "x" * 513, "--copyright: "),
            ("--description=a$b", "--description: 'a$b' holds a dollar sign"),
            ("--product-name=xZEBLIXQuorvantisXZEBLIXzeblixQuorvantis", "holds the delimiter"),
            ("--internal-name=" + "a" * 23 + "ZEBLIXQuorvantisX", "hide the delimiter"),
            ("--release=Beta,Gamma", "--release: "), ("--file-os=Linux", "--file-os: "),
            ("--file-os=65536", "--file-os: "), ("--file-type=Printer", "--file-type: "),
            ("--patch-level=40000", "--patch-level: "), ("--format=elf", "--format: "),
            ("--symbol=2x", "--symbol: "), ("--byte-order=middle", "--byte-order: "),
        ]
        for option, message in cases:
            with self.subTest(option=option[:30]):
                result = subprocess.run([GENERATOR, option], capture_output=True, text=True)
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr)
        self.assertEqual(subprocess.run([GENERATOR, "--build-number=$1"],
                                        capture_output=True).returncode, 0)  # never cut
        long_c = self.generate("ok.c", "--company=Acme")
        with open(long_c, encoding="utf-8") as source:
            text = source.read().replace('"Acme"', '"' + "x" * 41 + '"')
        with open(long_c, "w", encoding="utf-8") as source:
            source.write(text)
        result = subprocess.run(["cc", "-std=c89", f"-I{SOURCE}/include", "-c", long_c, "-o",
                                 os.devnull], capture_output=True, text=True)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("company_is_longer_than_its_field", result.stderr)

    def test_products_built_with_cmake_meson_and_make(self):
        prefix = os.path.join(self.root, "prefix")
        sh(f"cmake --install {shlex.quote(BUILD)} --prefix {prefix}", self.root)
        env = {"PKG_CONFIG_PATH": os.path.join(prefix, "lib", "pkgconfig")}
        examples = shlex.quote(os.path.join(SOURCE, "examples"))  # the clone's path may hold blanks
        raw = f"{shlex.quote(GENERATOR)} --format=raw --company='Acme, Inc.' --product-name=widget"
        builds = {  # how each is built, and the products it makes with their product names
            "cmake": (f"cmake -S {examples}/c_product -B cmake -DCMAKE_PREFIX_PATH={prefix} "
                      "-DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-flto "
                      "-DCMAKE_EXE_LINKER_FLAGS=-Wl,--gc-sections && cmake --build cmake && "
                      "strip cmake/widget cmake/libwidgetcore.so",
                      {"cmake/widget": ["widget", "widgetparts"],
                       "cmake/libwidgetcore.so": ["widgetcore"]}),
            "meson": (f"meson setup meson {examples}/meson_product && ninja -C meson",
                      {"meson/widget": ["widget"]}),
            "make": (f"cp -r {examples}/make_product make && make -C make",
                     {"make/widget": ["widget"]}),
            "rust": (f"mkdir rust && {raw} -o rust/widget_version.bin && cd rust && "
                     f"cp {examples}/raw_bytes/main.rs . && rustc -O -C strip=symbols main.rs",
                     {"rust/main": ["widget"]}),
            "go": (f"mkdir go && {raw} -o go/widget_version.bin && cd go && "
                   f"cp {examples}/raw_bytes/main.go {examples}/raw_bytes/go.mod . && "
                   "GOCACHE=$PWD/cache GOFLAGS=-mod=mod go build -ldflags=-s -o widget",
                   {"go/widget": ["widget"]}),
        }
        for name, (build, products) in builds.items():
            with self.subTest(build=name):
                sh(build, self.root, env)
                for product, names in products.items():
                    found = records(os.path.join(self.root, product))
                    self.assertEqual([r["product_name"] for r in found], names)
                    self.assertTrue(all(r["company"] == "Acme, Inc." for r in found))


if __name__ == "__main__":
    unittest.main(verbosity=2)
