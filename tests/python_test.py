"""The Python package: its records equal the library's (as zeblix-inventory writes them, key for
key) on every golden input and on generated files, by every way in; inventory() yields what the
command prints for packages, archives and images; Ctrl-C stops every scan, whatever it reads;
limit= bounds them; errors are Python's own; threads scan at once; text that is not UTF-8 comes
back byte for byte and as the inventory's JSON; the types mypy --strict sees; it imports in every
Python here, and pip installs it offline.

    python3 python_test.py   (ZEBLIX_PYTHON_DIR: the built package; the environment of
                              inventory_test.py; ZEBLIX_BUILD_DIR, ZEBLIX_SOURCE_DIR)
"""
import base64
import io
import json
import mmap
import os
import re
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.environ["ZEBLIX_PYTHON_DIR"])
import zeblix  # noqa: E402

# A sanitizer's runtime, preloaded into this Python for a sanitized build, is given back only to the
# Pythons that load the module: the packagers and image tools the fixtures run stall under it.
PRELOADED = {"LD_PRELOAD": os.environ.pop("LD_PRELOAD")} if "LD_PRELOAD" in os.environ else {}
LOADING_PYTHON = dict(os.environ, **PRELOADED)
from version_blocks import FOREIGN, block, old_record  # noqa: E402

GENERATED = {
    "native": bytes(100) + block() + block(version=b"2.0", product=b"caf\xc3\xa9"),
    "foreign": block(order=FOREIGN, company=b"\xff\xfe not UTF-8"),
    "old": bytes(7) + old_record(),
    "empty": b"",
}


class Module(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="zeblix-python-test-")
        golden = os.environ["ZEBLIX_GOLDEN_DIR"]
        cls.files = sorted(os.path.join(d, f) for d, _, fs in os.walk(golden) for f in fs
                           if os.path.basename(d) == "input")
        for name, data in GENERATED.items():
            cls.files.append(os.path.join(cls.root, name))
            with open(cls.files[-1], "wb") as out:
                out.write(data)
        cls.expected = {path: cls.library(path) for path in cls.files}
        assert sum(map(len, cls.expected.values())) > 20

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    @staticmethod
    def library(path):
        """The library's records of the file, as zeblix-inventory's JSON keys and values."""
        out = subprocess.run([os.environ["ZEBLIX_INVENTORY"], "-q", "--no-archives", path],
                             capture_output=True, check=True).stdout
        lines = [json.loads(line) for line in out.splitlines()]
        for line in lines:
            for key in ("path", "host", "device", "inode", "product_version_key"):
                line.pop(key, None)
            for key, value in line.items():  # texts that are not UTF-8 come as base64
                if isinstance(value, dict):
                    line[key] = base64.b64decode(value["bytes"]).decode("utf-8", "surrogateescape")
        return lines

    def test_every_way_in_gives_the_librarys_records(self):
        class ReadOnly:  # a file object without readinto
            def __init__(self, data):
                self.stream = io.BytesIO(data)

            def read(self, size):
                return self.stream.read(min(size, 777))

        def from_file(path):
            with open(path, "rb") as file:
                return zeblix.scan_stream(file)

        for path in self.files:
            data = pathlib.Path(path).read_bytes()
            ways = {
                "str": lambda: zeblix.scan_file(path),
                "bytes path": lambda: zeblix.scan_file(os.fsencode(path)),
                "PathLike": lambda: zeblix.scan_file(pathlib.Path(path)),
                "bytes": lambda: zeblix.scan_bytes(data),
                "bytearray": lambda: zeblix.scan_bytes(bytearray(data)),
                "memoryview": lambda: zeblix.scan_bytes(memoryview(data)),
                "file object": lambda: from_file(path),
                "read()": lambda: zeblix.scan_stream(ReadOnly(data)),
                "pipe": lambda: self.through_pipe(data),
            }
            if data:
                with open(path, "rb") as file:
                    mapped = mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)
                self.addCleanup(mapped.close)
                ways["mmap"] = lambda: zeblix.scan_bytes(mapped)
            for way, scan in ways.items():
                with self.subTest(file=os.path.basename(path), way=way):
                    self.assertEqual([dict(zip(zeblix.Record.__match_args__, r)) for r in scan()],
                                     self.expected[path])

    def through_pipe(self, data):
        read, write = os.pipe()
        writer = threading.Thread(target=lambda: (os.write(write, data), os.close(write)))
        writer.start()
        try:
            return zeblix.scan_file(f"/dev/fd/{read}")
        finally:
            writer.join()
            os.close(read)

    def test_errors_are_pythons_own(self):
        cases = [  # call, exception, errno
            (lambda: zeblix.scan_file(os.path.join(self.root, "absent", "x")), FileNotFoundError, 2),
            (lambda: zeblix.scan_file(self.root), IsADirectoryError, 21),
            (lambda: zeblix.scan_file(os.path.join(self.files[-1], "x")), NotADirectoryError, 20),
            (lambda: zeblix.scan_file(3), TypeError, None),
            (lambda: zeblix.scan_bytes("text"), TypeError, None),
            (lambda: zeblix.scan_stream(object()), TypeError, None),
        ]
        for call, exception, errno in cases:
            with self.subTest(exception=exception.__name__):
                with self.assertRaises(exception) as raised:
                    call()
                if errno is not None:
                    self.assertEqual(raised.exception.errno, errno)
                    self.assertTrue(raised.exception.filename)
        failure = ValueError("the read failed")

        class Failing(io.RawIOBase):
            def readinto(self, _):
                raise failure
        with self.assertRaises(ValueError) as raised:
            zeblix.scan_stream(Failing())
        self.assertIs(raised.exception, failure)

    def test_records_are_read_only_values_and_texts_round_trip(self):
        record = zeblix.scan_file(self.files[-3])[0]  # "foreign"
        self.assertEqual(record.company.encode("utf-8", "surrogateescape"), b"\xff\xfe not UTF-8")
        self.assertEqual(record.byte_order, "foreign")
        with self.assertRaises(AttributeError):
            record.company = "x"
        self.assertEqual(record, zeblix.scan_bytes(GENERATED["foreign"])[0])
        self.assertTrue(repr(record).startswith("zeblix.Record(format='V6', offset=0, "))
        self.assertEqual(zeblix.__version__, os.environ["ZEBLIX_VERSION"])
        self.assertIn("scan_stream", zeblix.__doc__ + zeblix.scan_stream.__doc__)

    def test_records_are_data_with_the_inventorys_keys_and_json_form(self):
        path = self.files[-3]  # "foreign": a company that is not UTF-8
        record = zeblix.scan_file(path)[0]
        line = json.loads(subprocess.run([os.environ["ZEBLIX_INVENTORY"], "--no-archives", path],
                                         capture_output=True, check=True).stdout)
        self.assertEqual(record._fields, zeblix.Record.__match_args__)
        self.assertTrue(set(record._fields) <= set(line))
        # The stub types every field the module makes, in its order.
        with open(os.path.join(os.path.dirname(zeblix.__file__), "_zeblix.pyi")) as stub_file:
            stub = stub_file.read()
        record_stub = stub[stub.index("class Record"):]
        self.assertEqual(re.findall(r"def (\w+)\(self\) -> (?:str|int): \.\.\.", record_stub)
                         [:len(record._fields)], list(record._fields))
        self.assertEqual(record.as_json(), {key: line[key] for key in record._fields})
        self.assertEqual(record._asdict()["company"], record.company)
        self.assertEqual(json.loads(json.dumps(record.as_json()))["company"],
                         {"bytes": base64.b64encode(b"\xff\xfe not UTF-8").decode()})

    def test_limit_bounds_every_scan(self):
        data = GENERATED["native"]
        for name, scan in {"scan_file": lambda limit: zeblix.scan_file(self.files[-4], limit=limit),
                           "scan_bytes": lambda limit: zeblix.scan_bytes(data, limit=limit),
                           "scan_stream": lambda limit: zeblix.scan_stream(io.BytesIO(data),
                                                                           limit=limit)}.items():
            with self.subTest(name):
                self.assertEqual(len(scan(len(data))), 2)
                with self.assertRaises(zeblix.LimitExceeded) as raised:
                    scan(len(data) - 1)
                self.assertIsInstance(raised.exception, OSError)
                self.assertEqual(raised.exception.errno, 27)  # EFBIG

    def test_threads_scan_at_once_and_get_the_same(self):
        results = {}

        def scan(worker):
            results[worker] = [zeblix.scan_file(path) for path in self.files * 3]
        threads = [threading.Thread(target=scan, args=(i,)) for i in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        alone = [zeblix.scan_file(path) for path in self.files * 3]
        self.assertEqual(list(results.values()), [alone] * 8)

    def test_it_imports_in_every_python_here(self):
        for python in {sys.executable, shutil.which("python3"), "/usr/bin/python3"} - {None}:
            with self.subTest(python=python):
                shown = subprocess.run([python, "-c", "import zeblix; print(zeblix.__version__)"],
                                       env=dict(LOADING_PYTHON,
                                                PYTHONPATH=os.environ["ZEBLIX_PYTHON_DIR"]),
                                       capture_output=True, check=True)
                self.assertEqual(shown.stdout, os.environ["ZEBLIX_VERSION"].encode() + b"\n")


# Each way a scan may wait or read without end, stopped by SIGINT in a child Python; what it runs.
ENDLESS = {
    "scan_file of /dev/zero": "zeblix.scan_file('/dev/zero')",
    "scan_file of a FIFO without a writer": "zeblix.scan_file(FIFO)",
    "scan_file of /dev/stdin fed without end": "zeblix.scan_file('/dev/stdin')",
    "scan_stream of an unbuffered /dev/zero": "zeblix.scan_stream(open('/dev/zero', 'rb', 0))",
    "inventory of /dev/zero": "list(zeblix.inventory('/dev/zero'))",
    "inventory of a FIFO without a writer": "list(zeblix.inventory(FIFO))",
}


class Interrupted(unittest.TestCase):
    def test_ctrl_c_stops_every_scan_whatever_it_reads(self):
        root = tempfile.mkdtemp(prefix="zeblix-python-signal-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        fifo = os.path.join(root, "fifo")
        os.mkfifo(fifo)
        for name, call in ENDLESS.items():
            with self.subTest(name):
                script = (f"import sys; sys.path.insert(0, {os.environ['ZEBLIX_PYTHON_DIR']!r})\n"
                          f"import zeblix\nFIFO = {fifo!r}\nprint('started', flush=True)\n"
                          f"try:\n    {call}\nexcept KeyboardInterrupt:\n    print('stopped')\n")
                feeder = subprocess.Popen(["yes"], stdout=subprocess.PIPE)
                child = subprocess.Popen([sys.executable, "-c", script], stdin=feeder.stdout,
                                         stdout=subprocess.PIPE, env=LOADING_PYTHON)
                self.assertEqual(child.stdout.readline(), b"started\n")
                time.sleep(0.3)
                sent = time.monotonic()
                child.send_signal(signal.SIGINT)
                out, _ = child.communicate(timeout=20)
                feeder.kill()
                feeder.wait()
                self.assertEqual(out, b"stopped\n")
                self.assertLess(time.monotonic() - sent, 2)


class Inventory(unittest.TestCase):
    """inventory() against the command's own lines, on packages, archives and images made by their
    tools, and on the packing test's tree."""

    @classmethod
    def setUpClass(cls):
        from identity_test import Identity  # builds its packages and images with their tools
        from packing_test import NothingLost
        cls.fixtures = [Identity, NothingLost]
        for fixture in cls.fixtures:
            fixture.setUpClass()
        cls.paths = [*Identity.paths(Identity), NothingLost.tree]

    @classmethod
    def tearDownClass(cls):
        for fixture in cls.fixtures:
            fixture.tearDownClass()

    def command(self, *options):
        out = subprocess.run([os.environ["ZEBLIX_INVENTORY"], *options, *self.paths],
                             capture_output=True, check=False).stdout
        return [json.loads(line) for line in out.splitlines()]

    def test_inventory_yields_the_commands_lines(self):
        cases = [  # keywords, and the command's options
            ({}, ["-j", "1"]),
            ({"jobs": 2, "hash": "sha256", "empty": True}, ["-j", "2", "--hash", "sha256", "--empty"]),
            ({"archives": False, "image_layers": "all", "exclude": ["*.rpm", "p*"]},
             ["-j", "1", "--no-archives", "--image-layers=all", "--exclude=*.rpm", "--exclude=p*"]),
        ]
        for keywords, options in cases:
            with self.subTest(options=options):
                yielded = list(zeblix.inventory(self.paths, **keywords))
                self.assertEqual(yielded, self.command(*options))
                self.assertGreater(len(yielded), 5)

    def test_inventory_with_a_cache_yields_the_same_lines(self):
        folder = tempfile.mkdtemp(prefix="zeblix-python-cache-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        os.chmod(folder, 0o700)
        cache = os.path.join(folder, "cache.db")
        for _ in range(2):  # making it, then from it
            self.assertEqual(list(zeblix.inventory(self.paths, cache=cache, hash="sha256")),
                             self.command("--hash", "sha256"))
        self.assertTrue(os.path.exists(cache))

    def test_an_early_stop_and_a_refused_option(self):
        lines = zeblix.inventory(self.paths, jobs=2)
        first = next(lines)
        lines.close()
        self.assertEqual(first, self.command("-j", "1")[0])
        with self.assertRaises(ValueError) as raised:
            next(zeblix.inventory(self.paths, jobs=0))
        self.assertIn("--jobs", str(raised.exception))


class Packaging(unittest.TestCase):
    def test_types_checkers_see_and_pip_installs_offline(self):
        """mypy --strict takes the examples and refuses a wrong call, with the package as built
        and as pip installs it, offline, in a fresh venv over Debian's packages."""
        root = tempfile.mkdtemp(prefix="zeblix-python-pip-")
        self.addCleanup(shutil.rmtree, root, ignore_errors=True)
        examples = os.path.join(os.environ["ZEBLIX_SOURCE_DIR"], "examples", "python")
        wrong = os.path.join(root, "wrong.py")
        with open(wrong, "w", encoding="utf-8") as out:
            out.write("import zeblix\nzeblix.scan_file(3)\nzeblix.scan_bytes(b'', limit='x')\n")
        prefix, venv = os.path.join(root, "prefix"), os.path.join(root, "venv")
        subprocess.run(["cmake", "--install", os.environ["ZEBLIX_BUILD_DIR"], "--prefix", prefix],
                       check=True, capture_output=True)
        subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", venv], check=True)
        pip = subprocess.run([os.path.join(venv, "bin", "pip"), "install", "-q", "--no-index",
                              "--no-build-isolation",
                              os.path.join(os.environ["ZEBLIX_SOURCE_DIR"], "python")],
                             env=dict(os.environ, PKG_CONFIG_PATH=os.path.join(prefix, "lib",
                                                                               "pkgconfig")),
                             capture_output=True, check=False)
        self.assertEqual(pip.returncode, 0, pip.stderr.decode())
        for python, path in ((os.path.join(venv, "bin", "python"), ""),
                             ("/usr/bin/python3", os.environ["ZEBLIX_PYTHON_DIR"])):
            with self.subTest(python=python):
                mypy = lambda *files: subprocess.run(
                    [python, "-m", "mypy", "--strict", "--no-incremental", *files],
                    env=dict(os.environ, PYTHONPATH=path, MYPYPATH=path), capture_output=True,
                    check=False)
                checked = mypy(examples)
                self.assertEqual(checked.returncode, 0, checked.stdout.decode())
                refused = mypy(wrong).stdout.decode()
                self.assertIn("wrong.py:2: error", refused)
                self.assertIn("wrong.py:3: error", refused)
        installed = subprocess.run([os.path.join(venv, "bin", "python"), "-c",
                                    "import zeblix; print(zeblix.__file__)"],
                                   env=LOADING_PYTHON, capture_output=True,
                                   check=True).stdout.decode()
        self.assertTrue(installed.startswith(venv), installed)


if __name__ == "__main__":
    unittest.main(verbosity=2)
