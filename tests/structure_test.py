"""The house's shape: tools/structure.py finds no fault in the tree, and finds each kind of fault
it is for in a small tree made to hold one."""
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

SOURCE = pathlib.Path(os.environ.get("ZEBLIX_SOURCE_DIR", pathlib.Path(__file__).parents[1]))
STRUCTURE = SOURCE / "tools" / "structure.py"
ARCHITECTURE = """| folder | what | may use |
|---|---|---|
| `a/` | a | `b` |
| `b/` | b | nothing of ours |
"""


def check(root):
    return subprocess.run([sys.executable, STRUCTURE, "check", root], capture_output=True,
                          text=True)


def function(name, lines):
    return f"int {name}(int x) {{\n" + "  x += 1;\n" * lines + "  return x;\n}\n"


class Structure(unittest.TestCase):
    def test_the_tree_keeps_its_shape(self):
        result = check(SOURCE)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_each_kind_of_fault_is_named(self):
        faults = {
            "a folder its row does not name": ({"b/x.h": '#include "a/y.h"\n', "a/y.h": ""},
                                               "b/ includes a/"),
            "a folder without a row": ({"c/z.cc": '#include "a/y.h"\n', "a/y.h": ""},
                                       "c/ has no row"),
            "two files including each other": ({"a/p.h": '#include "a/q.h"\n',
                                                "a/q.cc": '#include "a/p.h"\n', "a/q.h": ""},
                                               "include each other"),
            "a long function": ({"a/f.cc": function("Long", 60)}, "a function of 63 lines"),
        }
        for name, (files, named) in faults.items():
            with self.subTest(name), tempfile.TemporaryDirectory() as root:
                (pathlib.Path(root) / "ARCHITECTURE.md").write_text(ARCHITECTURE)
                for path, text in {"a/ok.cc": '#include "b/x.h"\n' + function("Short", 57),
                                   "b/x.h": "", **files}.items():
                    (pathlib.Path(root) / path).parent.mkdir(parents=True, exist_ok=True)
                    (pathlib.Path(root) / path).write_text(text)
                result = check(root)
                self.assertEqual(result.returncode, 1)
                self.assertIn(named, result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)


if __name__ == "__main__":
    unittest.main()
