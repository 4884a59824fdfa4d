"""The Python module: its records equal the library's (as zeblix-inventory writes them, key for
key) on every golden input and on generated files, by every way in; errors are Python's own; threads
scan at once; text that is not UTF-8 comes back byte for byte; it imports in every Python here.

    python3 python_test.py   (ZEBLIX_PYTHON_DIR: the built module; ZEBLIX_INVENTORY, ZEBLIX_GOLDEN_DIR)
"""
import base64
import io
import json
import mmap
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.environ["ZEBLIX_PYTHON_DIR"])
import zeblix  # noqa: E402
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
            (lambda: zeblix.scan_file("/nonexistent/x"), FileNotFoundError, 2),
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
        self.assertEqual(zeblix.__version__, "6.3.0")
        self.assertIn("scan_stream", zeblix.__doc__ + zeblix.scan_stream.__doc__)
        self.assertTrue(os.path.exists(os.path.join(os.environ["ZEBLIX_PYTHON_DIR"], "zeblix.pyi")))

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
                                       env=dict(os.environ, PYTHONPATH=os.environ["ZEBLIX_PYTHON_DIR"]),
                                       capture_output=True, check=True)
                self.assertEqual(shown.stdout, b"6.3.0\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
