"""zeblix-inventory --cache: the output with the cache is the output without it, whatever changed
in between (a seeded churn of a tree of products, archives, packages and images, changed in every
way the manual names); a file changed next to its read is read again (the clock set by
ZEBLIX_INVENTORY_CACHE_NOW); other options and damaged, foreign, shared, killed and unsafe caches
never give a wrong line.

    python3 cache_test.py   (the environment of inventory_test.py)
"""
import os
import random
import shutil
import signal
import sqlite3
import stat
import subprocess
import tempfile
import time
import unittest

from inventory_test import INVENTORY, run
from packing_test import sh
from version_blocks import block

DAY = 24 * 60 * 60
# A clock a day ahead: no file is new to it, so only identities tell what changed.
SETTLED = {"ZEBLIX_INVENTORY_CACHE_NOW": str(time.time() + DAY)}


def product(name, version=b"1.0", pad=100):
    return bytes(pad) + block(product=name.encode(), version=version) + bytes(8)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def inventory(args, env=None):
    return subprocess.run([INVENTORY, *args], capture_output=True, check=False,
                          env=dict(os.environ, **(env or {})))


def from_cache(stderr):
    """The files and layers the summary says came from the cache."""
    for line in stderr.decode(errors="replace").splitlines():
        if " from the cache" in line:
            part = line.split("; ")[-1].split()
            return int(part[0]), int(part[3])
    return 0, 0


class CacheCase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zeblix-cache-test-")
        os.chmod(self.root, 0o700)
        self.tree = os.path.join(self.root, "tree")
        os.mkdir(self.tree)
        self.cache = os.path.join(self.root, "cache.db")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def write(self, name, data):
        path = os.path.join(self.tree, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        return path

    def assertSameAsWithout(self, args, env=SETTLED, cache=None):
        """The lines, and the status, with the cache are those without it; the run's stderr."""
        plain = inventory(args)
        cached = inventory(["--progress", "--cache", cache or self.cache, *args], env)
        self.assertEqual(cached.stdout, plain.stdout)
        self.assertEqual(cached.returncode, plain.returncode, cached.stderr)
        return cached.stderr


class Churn(CacheCase):
    """A tree changed step by step, at random from a seed, each step checked."""

    def setUp(self):
        super().setUp()
        self.rng = random.Random(int(os.environ.get("ZEBLIX_CACHE_SEED", "1729")))
        for i in range(12):
            self.write(f"p{i}.so", product(f"prod{i}", pad=self.rng.randrange(50, 5000)))
        self.write("sub/deep.so", product("deep"))
        self.make_archive("bundle.tar.gz", ["p0.so", "p1.so"])
        self.make_deb("acme.deb", "1.0-1")
        os.link(os.path.join(self.tree, "p2.so"), os.path.join(self.tree, "hard.so"))
        os.symlink("p3.so", os.path.join(self.tree, "link.so"))

    def make_archive(self, name, members):
        # GNU tar says a hard link's ctime changed as it was read; the archive is whole.
        sh(f"tar --warning=no-file-changed -czf {name} {' '.join(members)} || [ $? -eq 1 ]",
           self.tree)

    def make_deb(self, name, version):
        root = os.path.join(self.root, "deb")
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(os.path.join(root, "DEBIAN"))
        os.makedirs(os.path.join(root, "usr", "lib"))
        with open(os.path.join(root, "DEBIAN", "control"), "w") as control:
            control.write(f"Package: acme\nVersion: {version}\nArchitecture: amd64\n"
                          "Maintainer: A <a@example.org>\nDescription: d\n")
        with open(os.path.join(root, "usr", "lib", "libacme.so"), "wb") as lib:
            lib.write(product("acme", version.encode()))
        sh(f"dpkg-deb --root-owner-group -Zgzip -b {root} {os.path.join(self.tree, name)}", self.root)

    def files(self):
        found = []
        for folder, _, names in os.walk(self.tree):
            found += [os.path.join(folder, n) for n in names
                      if not os.path.islink(os.path.join(folder, n))]
        return sorted(found)

    # Each change the manual names, on a file chosen by the seed.
    def rewrite_in_place(self, path):
        """The same size and mtime, other bytes: only the ctime tells."""
        status = os.stat(path)
        data = bytearray(read(path))
        at = data.find(b"prod")
        if at < 0:
            at = self.rng.randrange(len(data))
        data[at] = ord("q") if data[at] != ord("q") else ord("r")
        with open(path, "r+b") as out:
            out.write(data)
        os.utime(path, ns=(status.st_atime_ns, status.st_mtime_ns))

    def replace(self, path):
        """A new file, of the same size and mtime, put in its place."""
        status = os.stat(path)
        data = read(path).replace(b"prod", b"PROD", 1)
        temporary = path + ".new"
        with open(temporary, "wb") as out:
            out.write(data)
        os.utime(temporary, ns=(status.st_atime_ns, status.st_mtime_ns))
        os.rename(temporary, path)

    def truncate(self, path):
        os.truncate(path, os.path.getsize(path) // 2)

    def append(self, path):
        with open(path, "ab") as out:
            out.write(product(f"added{self.rng.randrange(100)}"))

    def remove(self, path):
        os.remove(path)

    def rename(self, path):
        os.rename(path, os.path.join(os.path.dirname(path), f"r{self.rng.randrange(10**6)}.so"))

    def add(self, _):
        self.write(f"n{self.rng.randrange(10**6)}.so", product(f"new{self.rng.randrange(100)}"))

    def hard_link(self, path):
        target = os.path.join(self.tree, f"h{self.rng.randrange(10**6)}.so")
        os.link(path, target)

    def retarget(self, path):
        link = os.path.join(self.tree, "link.so")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.path.relpath(path, self.tree), link)

    def repack(self, _):
        names = [os.path.relpath(p, self.tree) for p in self.files() if p.endswith(".so")][:3]
        self.make_archive("bundle.tar.gz", names)

    def new_package(self, _):
        self.make_deb("acme.deb", f"1.{self.rng.randrange(1000)}-1")

    CHANGES = [rewrite_in_place, replace, truncate, append, remove, rename, add, hard_link,
               retarget, repack, new_package]

    def test_a_seeded_churn_never_gives_a_wrong_line(self):
        steps = int(os.environ.get("ZEBLIX_CACHE_STEPS", "150"))
        taken = 0
        for step in range(steps):
            files = self.files()
            change = self.rng.choice(self.CHANGES) if files else Churn.add
            change(self, self.rng.choice(files) if files else None)
            options = self.rng.choice([["--empty"], ["--hash", "sha256", "--empty"], []])
            with self.subTest(step=step, change=change.__name__):
                stderr = self.assertSameAsWithout([*options, self.tree])
                taken += from_cache(stderr)[0]
        # The cache was used, not merely harmless.
        self.assertGreater(taken, steps)


class Layers(CacheCase):
    """Images sharing base layers: the second reads only its own; a layer whose bytes are not
    what its name says is scanned as it is."""

    @classmethod
    def setUpClass(cls):
        if shutil.which("umoci") is None or shutil.which("skopeo") is None:
            raise unittest.SkipTest("tools/install-deps test installs umoci and skopeo")

    def build(self):
        sh("umoci init --layout layout && umoci new --image layout:base", self.root)
        bundle = os.path.join(self.root, "bundle")
        sh("umoci unpack --rootless --image layout:base bundle", self.root)
        for name in ("liba.so", "libb.so"):
            with open(os.path.join(bundle, "rootfs", name), "wb") as out:
                out.write(product(name) * 200)
        sh("umoci repack --image layout:v1 bundle && rm -rf bundle", self.root)
        sh("umoci unpack --rootless --image layout:v1 bundle", self.root)
        with open(os.path.join(bundle, "rootfs", "libc.so"), "wb") as out:
            out.write(product("libc.so"))
        sh("umoci repack --image layout:v2 bundle", self.root)
        for tag in ("v1", "v2"):
            for form in ("docker-archive", "oci-archive"):
                target = os.path.join(self.tree, f"{form}-{tag}.tar")
                sh(f"skopeo copy -q oci:layout:{tag} {form}:{target}:acme/w:{tag}", self.root)

    def test_a_shared_layer_is_read_once_and_checked(self):
        self.build()
        for form in ("docker-archive", "oci-archive"):
            first = os.path.join(self.tree, f"{form}-v1.tar")
            second = os.path.join(self.tree, f"{form}-v2.tar")
            with self.subTest(form=form):
                self.assertSameAsWithout(["--empty", first])
                stderr = self.assertSameAsWithout(["--empty", "--hash", "sha256", second])
                self.assertEqual(from_cache(stderr), (0, 0))  # other options: nothing shared
                self.assertSameAsWithout(["--empty", "--hash", "sha256", first])
                copy = os.path.join(self.tree, f"{form}-copy.tar")
                shutil.copy(second, copy)
                stderr = self.assertSameAsWithout(["--empty", "--hash", "sha256", copy])
                self.assertGreaterEqual(from_cache(stderr)[1], 1)

    def test_a_layer_not_as_named_is_scanned_as_it_is(self):
        self.build()
        image = os.path.join(self.tree, "docker-archive-v1.tar")
        self.assertSameAsWithout([image])
        # The same image with a product's name changed inside its layer, which keeps its name.
        data = read(image)
        tampered = os.path.join(self.tree, "tampered.tar")
        with open(tampered, "wb") as out:
            out.write(data.replace(b"liba.so\x00" + bytes(8), b"libz.so\x00" + bytes(8), 1)
                      if b"liba.so\x00" + bytes(8) in data else data.replace(b"liba", b"libz"))
        stderr = self.assertSameAsWithout([tampered])
        self.assertEqual(from_cache(stderr)[1], 0)


class Clock(CacheCase):
    def test_a_file_changed_next_to_its_read_is_read_again(self):
        path = self.write("p.so", product("p"))
        changed = os.stat(path).st_ctime
        cases = [  # the moment the runs take as now, files from the cache on the second run
            (changed, 0), (changed + 1.5, 0), (changed + 2.5, 1), (changed + DAY, 1)]
        for now, expected in cases:
            with self.subTest(now=now - changed):
                if os.path.exists(self.cache):
                    os.remove(self.cache)
                clock = {"ZEBLIX_INVENTORY_CACHE_NOW": f"{now:.3f}"}
                self.assertSameAsWithout([self.tree], clock)
                stderr = self.assertSameAsWithout([self.tree], clock)
                self.assertEqual(from_cache(stderr)[0], expected)

    def test_options_that_change_a_scan_never_share_its_entries(self):
        self.write("p.so", product("p"))
        sh("tar -czf a.tar.gz p.so", self.tree)
        runs = [["--hash", "sha256"], [], ["--no-archives"], ["--archive-depth", "1"],
                ["--archive-max-bytes", "1M"]]
        for args in runs:
            self.assertSameAsWithout([*args, self.tree])
        for args in runs:  # the second time, each from its own entries
            with self.subTest(args=args):
                stderr = self.assertSameAsWithout([*args, self.tree])
                self.assertEqual(from_cache(stderr)[0], 2)
        # Options that only change how lines are written take the entries a plain run kept.
        for args in (["--empty"], ["--format", "csv"],
                     ["--image-layers", "all"], ["--host", "elsewhere"]):
            with self.subTest(args=args):
                stderr = self.assertSameAsWithout([*args, self.tree])
                self.assertEqual(from_cache(stderr)[0], 2)

    def test_a_file_whose_scan_told_an_error_is_read_each_time(self):
        self.write("p.so", product("p"))
        sh("tar -czf whole.tar.gz p.so", self.tree)
        packed = read(os.path.join(self.tree, "whole.tar.gz"))
        self.write("cut.tar.gz", packed[:len(packed) // 2])
        self.assertSameAsWithout([self.tree])
        stderr = self.assertSameAsWithout([self.tree])
        self.assertEqual(from_cache(stderr)[0], 2)  # p.so and whole.tar.gz, never cut.tar.gz


class Safety(CacheCase):
    def setUp(self):
        super().setUp()
        self.write("p.so", product("p"))
        self.assertSameAsWithout([self.tree])

    def warnings(self, stderr):
        return [line for line in stderr.decode(errors="replace").splitlines()
                if line.startswith("zeblix-inventory: --cache: ")]

    def test_a_damaged_cache_gives_one_warning_and_is_made_anew(self):
        size = os.path.getsize(self.cache)
        damages = {
            "truncated": lambda f: f.truncate(size // 2),
            "a page of noise": lambda f: (f.seek(size // 2), f.write(os.urandom(4096))),
            "another version": None,
        }
        for name, damage in damages.items():
            with self.subTest(damage=name):
                self.assertSameAsWithout([self.tree])  # whole again
                if damage is None:
                    sqlite3.connect(self.cache).execute("PRAGMA user_version=99").connection.commit()
                else:
                    with open(self.cache, "r+b") as f:
                        damage(f)
                stderr = self.assertSameAsWithout([self.tree])
                self.assertLessEqual(len(self.warnings(stderr)), 1, stderr)
                stderr = self.assertSameAsWithout([self.tree])
                self.assertEqual(self.warnings(stderr), [])

    def test_a_damaged_entry_is_not_taken(self):
        db = sqlite3.connect(self.cache)
        db.execute("UPDATE files SET sum = sum + 1")
        db.commit()
        db.close()
        stderr = self.assertSameAsWithout([self.tree])
        self.assertEqual(from_cache(stderr)[0], 0)

    def test_a_file_that_is_not_a_cache_is_left_as_it_is(self):
        other = os.path.join(self.root, "other.db")
        sqlite3.connect(other).execute("CREATE TABLE t(x)").connection.commit()
        text = os.path.join(self.root, "notes.txt")
        with open(text, "w") as out:
            out.write("not a cache\n" * 100)
        for path in (other, text):
            with self.subTest(path=os.path.basename(path)):
                before = read(path)
                stderr = self.assertSameAsWithout([self.tree], cache=path)
                self.assertEqual(len(self.warnings(stderr)), 1)
                self.assertIn("not a zeblix-inventory cache", self.warnings(stderr)[0])
                self.assertEqual(read(path), before)

    def test_an_unsafe_place_is_refused(self):
        shared = os.path.join(self.root, "shared")
        os.mkdir(shared)
        os.chmod(shared, 0o1777)
        target = os.path.join(self.root, "target")
        open(target, "w").close()
        os.symlink(target, os.path.join(self.root, "link.db"))
        cases = {os.path.join(shared, "c.db"): "may be written by others",
                 os.path.join(self.root, "link.db"): "symbolic link"}
        if os.geteuid() == 0:  # only root can give a file to another user
            theirs = os.path.join(self.root, "theirs.db")
            shutil.copy(self.cache, theirs)
            os.chown(theirs, 65534, 65534)
            cases[theirs] = "belongs to another user"
        for path, reason in cases.items():
            with self.subTest(reason=reason):
                stderr = self.assertSameAsWithout([self.tree], cache=path)
                self.assertIn(reason, " ".join(self.warnings(stderr)))
        self.assertEqual(os.listdir(shared), [])
        self.assertEqual(os.path.getsize(target), 0)

    def test_runs_at_once_and_runs_killed_leave_a_cache_that_serves(self):
        for i in range(300):
            self.write(f"m/{i}.so", product(f"m{i}", pad=i))
        plain = inventory([self.tree]).stdout
        args = [INVENTORY, "--cache", self.cache, self.tree]
        env = dict(os.environ, **SETTLED)
        together = [subprocess.Popen(args, stdout=subprocess.PIPE, env=env) for _ in range(3)]
        for process in together:
            self.assertEqual(process.communicate()[0], plain)
        for delay in (0.0, 0.01, 0.03, 0.06, 0.1):
            os.utime(os.path.join(self.tree, "m", "7.so"))  # something to write each time
            killed = subprocess.Popen(args, stdout=subprocess.DEVNULL, env=env)
            time.sleep(delay)
            killed.send_signal(signal.SIGKILL)
            killed.wait()
            with self.subTest(killed_after=delay):
                stderr = self.assertSameAsWithout([self.tree])
                self.assertEqual(self.warnings(stderr), [])

    def test_the_cache_stays_within_its_bound(self):
        for i in range(400):
            self.write(f"b/{i}.so", b"".join(product(f"big{i}-{j}") for j in range(20)))
        self.assertSameAsWithout(["--cache-max-size", "1M", self.tree])
        self.assertSameAsWithout(["--cache-max-size", "1M", self.tree])
        with sqlite3.connect(self.cache) as db:
            pages = db.execute("PRAGMA page_count").fetchone()[0]
            free = db.execute("PRAGMA freelist_count").fetchone()[0]
            page = db.execute("PRAGMA page_size").fetchone()[0]
        self.assertLessEqual((pages - free) * page, 1 << 20)


if __name__ == "__main__":
    unittest.main()
