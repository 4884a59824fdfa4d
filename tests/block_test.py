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
NOT_ASCII = [b"caf\xc3\xa9", b"\xff\xfe not UTF-8", b"1.0-\xe2\x82\xac", b'"quoted" \\ ??=',
             "\u00a9 \u6f22\u5b57".encode(), b"\x80\x81", b"77\xa0"]


# Target: the prefix of its tools, objcopy's output format for it, the order its blocks read
# in here, and whether it is ELF.
TARGETS = {
    "ELF x86-64": ("", "elf64-x86-64 -B i386:x86-64", "native", True),
    "ELF i686": ("i686-linux-gnu-", "elf32-i386 -B i386", "native", True),
    "ELF s390x": ("s390x-linux-gnu-", "elf64-s390 -B s390:64-bit", "foreign", True),
    "PE x86-64": ("x86_64-w64-mingw32-", "pe-x86-64 -B i386:x86-64", "native", False),
}
# A product's name: the PE linker adds .exe to it.
PRODUCT = {True: "product", False: "product.exe"}
CXX = {"ELF x86-64": "c++", "PE x86-64": "x86_64-w64-mingw32-g++"}
# Route: the form zeblix-block writes, and how a product ("product") is built from it. A raw
# block is kept by asking the linker for the symbol objcopy and ld name it by.
KEEP_RAW = "-Wl,--undefined=_binary_block_bin_start"
LINK = "{cc} {strict} main.c {obj} -o {out} && {tools}strip {out}"
ROUTES = {
    "header macro (C89)": ("c", "{cc} {strict} -std=c89 -pedantic {inc} {src} main.c -o {out} && "
                                "{tools}strip {out}"),
    "header macro (C++98)": ("c", "cp {src} b.cc && {cxx} {strict} -std=c++98 {inc} b.cc "
                                  "-x c main.c -o {out} && {tools}strip {out}"),
    "zeblix-block asm": ("asm", "{cc} {strict} {src} main.c -o {out} && {tools}strip {out}"),
    "objcopy -I binary": ("raw", "{tools}objcopy -I binary -O {bfd} {src} block.o && "
                                 + LINK.format(cc="{cc}", strict="{strict} " + KEEP_RAW,
                                               obj="block.o", tools="{tools}", out="{out}")),
    "ld -r -b binary": ("raw", "{tools}ld -r -b binary {src} -o block.o && "
                               + LINK.format(cc="{cc}", strict="{strict} " + KEEP_RAW,
                                             obj="block.o", tools="{tools}", out="{out}")),
    ".incbin": ("raw", "printf '\\t.section .rodata.b,\"aR\",%%progbits\\n\\t.incbin \"%s\"\\n' "
                       "{src} > incbin.s && " + LINK.format(cc="{cc}", strict="{strict}",
                                                          obj="incbin.s", tools="{tools}",
                                                          out="{out}")),
    "LTO object, fat": ("c", "{cc} -O2 -flto -ffat-lto-objects -c {inc} {src} -o {out}"),
}
ELF_ONLY = {"zeblix-block asm", ".incbin"}


# CMake's names for the target; its C compiler; the executable and the shared library it makes.
CMAKE_TARGETS = {
    "i686": ("Linux", "i686-linux-gnu-gcc", ("widget", "libwidgetcore.so")),
    "s390x": ("Linux", "s390x-linux-gnu-gcc", ("widget", "libwidgetcore.so")),
    "x86_64": ("Windows", "x86_64-w64-mingw32-gcc", ("widget.exe", "libwidgetcore.dll")),
}
# A cross toolchain file as distributions write them: packages only from the target's root, and
# the package's own prefix among the roots, so that find_package(zeblix) finds it there.
TOOLCHAIN = """set(CMAKE_SYSTEM_NAME {system})
set(CMAKE_SYSTEM_PROCESSOR {processor})
set(CMAKE_C_COMPILER {compiler})
set(CMAKE_FIND_ROOT_PATH {root} {prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
"""


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

    def test_every_route_on_every_target_keeps_the_block(self):
        """Each route the README names, built for each target with -O2 -flto --gc-sections and
        stripped, or (an LTO object) read as it is, gives the block back field by field."""
        with open(os.path.join(self.root, "main.c"), "w", encoding="utf-8") as main:
            main.write("int main(void) { return 0; }\n")
        for target, (tools, bfd, order, elf) in TARGETS.items():
            for route, (form, build) in ROUTES.items():
                cxx = CXX.get(target)
                if ("{cxx}" in build and cxx is None) or ("{bfd}" in build and bfd is None) or \
                        (route in ELF_ONLY and not elf):
                    continue
                for label, texts in (("not-ascii", NOT_ASCII), ("full", FULL)):
                    if label == "full" and ("{cxx}" in build or target != "ELF x86-64"):
                        continue  # C++ keeps a literal's NUL: a text fills its field less one
                    with self.subTest(target=target, route=route, texts=label):
                        self.assert_kept(tools, cxx, bfd, form, build, texts, order,
                                         PRODUCT[elf])

    def assert_kept(self, tools, cxx, bfd, form, build, texts, order, out):
        fields = [b"--%s=%s" % (o.encode(), t) for o, t in zip(OPTIONS, texts)]
        numbers = ["--patch-level=-3", "--release=Beta,Release", "--file-os=42",
                   "--file-type=Device Driver", "--symbol=product_block"]
        suffix = {"c": ".c", "asm": ".s"}.get(form.split()[0], ".bin")
        if form == "raw" and order == "foreign":
            form += " --byte-order=big"  # raw bytes take the target's order from the producer
        src = self.generate("block" + suffix, *fields, *numbers, *f"--format={form}".split())
        for name in os.listdir(self.root):
            if name.startswith("product"):
                os.remove(os.path.join(self.root, name))
        sh(build.format(cc=tools + "gcc", cxx=cxx, tools=tools, bfd=bfd, src=os.path.basename(src),
                        inc=shlex.quote(f"-I{SOURCE}/include"), out=out,
                        strict="-O2 -flto -Wl,--gc-sections"), self.root)
        found = records(os.path.join(self.root, out))
        self.assertEqual(len(found), 1)
        self.assertEqual(texts_of(found[0]), texts)
        self.assertEqual([found[0][k] for k in ("patch_level", "release_mask", "file_os",
                                                "file_type", "byte_order")],
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
            ("--company=Acme\r", "(0x0D at byte 4: a CR"), ("--description=a\tb", "(0x09 at byte 1"),
            ("--company --product-name=widget", "--company: its value would be the option "
                                                "'--product-name=widget'"),
            ("--copyright -o", "its value would be the option '-o'"),
            ("--byte-order=big", "only raw bytes"), ("--byte-order=big --format=asm", "only raw"),
            ("--file-os=0x", "--file-os: "), ("--patch-level=0x-1", "--patch-level: "),
        ]
        for options, message in cases:
            with self.subTest(option=options[:30]):
                result = subprocess.run([GENERATOR, *options.split(" ")], capture_output=True,
                                        text=True)
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr)
        numbers = self.round_trips("num", [("patch-level", "010", "patch_level", 10),
                                           ("file-os", "0x3a", "file_os", 58),
                                           ("company", "--x", "company", "--x")])
        self.assertEqual(len(numbers), 3)
        self.assertEqual(subprocess.run([GENERATOR, "--build-number=$1"],
                                        capture_output=True).returncode, 0)  # never cut
        faults = {  # what the header is given instead of a field's value, and what fails
            '"Acme"': ('"' + "x" * 41 + '"', "company_is_longer_than_its_field"),
            "0,\n                     0,": ("70000, 0,", "patch_level_is_not_from_minus_32768"),
            "ZEBLIX_OS_LINUX_X86_64BIT": ("65536", "file_os_is_not_from_0_to_65535"),
            "ZEBLIX_FILE_TYPE_EXECUTABLE": ("-1", "file_type_is_not_from_0_to_65535"),
        }
        for value, (fault, message) in faults.items():
            with self.subTest(fault=message):
                source = self.generate("fault.c", "--company=Acme")
                with open(source, encoding="utf-8") as file:
                    text = file.read()
                self.assertIn(value, text)
                with open(source, "w", encoding="utf-8") as file:
                    file.write(text.replace(value, fault))
                result = subprocess.run(["cc", "-std=c89", "-pedantic", f"-I{SOURCE}/include",
                                         "-c", source, "-o", os.devnull],
                                        capture_output=True, text=True)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(message, result.stderr)

    def test_a_write_that_fails_keeps_the_file_it_would_replace(self):
        target = os.path.join(self.root, "version.bin")
        with open(target, "wb") as old:
            old.write(b"the block before")
        os.chmod(target, 0o640)
        limited = subprocess.run(f"ulimit -f 1; {shlex.quote(GENERATOR)} --format=raw -o "
                                 f"{shlex.quote(target)}", shell=True, capture_output=True)
        self.assertEqual(limited.returncode, 1)
        self.assertIn(b"File too large", limited.stderr)
        with open(target, "rb") as kept:
            self.assertEqual(kept.read(), b"the block before")
        self.assertEqual(os.listdir(self.root), ["version.bin"])
        self.generate("version.bin", "--format=raw", "--product-name=w")
        self.assertEqual(os.stat(target).st_mode & 0o777, 0o640)
        self.assertEqual(records(target)[0]["product_name"], "w")

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
        for target, (system, compiler, outputs) in CMAKE_TARGETS.items():
            toolchain = os.path.join(self.root, f"{target}.cmake")
            with open(toolchain, "w", encoding="utf-8") as out:
                out.write(TOOLCHAIN.format(system=system, processor=target, compiler=compiler,
                                           root=f"/usr/{compiler[:-4]}", prefix=prefix))
            build_dir = f"cmake-{target}"
            builds[f"cmake for {target}, IPO"] = (
                f"cmake -S {examples}/c_product -B {build_dir} -DCMAKE_TOOLCHAIN_FILE={toolchain} "
                "-DCMAKE_BUILD_TYPE=Release -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON "
                "-DCMAKE_EXE_LINKER_FLAGS=-Wl,--gc-sections -DCMAKE_SHARED_LINKER_FLAGS=-Wl,--gc-sections "
                f"&& cmake --build {build_dir} && {compiler[:-3]}strip {build_dir}/{outputs[0]} "
                f"{build_dir}/{outputs[1]}",
                {f"{build_dir}/{outputs[0]}": ["widget", "widgetparts"],
                 f"{build_dir}/{outputs[1]}": ["widgetcore"],
                 f"{build_dir}/libwidgetparts.a": ["widgetparts"]})
        for name, (build, products) in builds.items():
            with self.subTest(build=name):
                sh(build, self.root, env)
                for product, names in products.items():
                    found = records(os.path.join(self.root, product))
                    self.assertEqual([r["product_name"] for r in found], names)
                    self.assertTrue(all(r["company"] == "Acme, Inc." for r in found))


if __name__ == "__main__":
    unittest.main(verbosity=2)
