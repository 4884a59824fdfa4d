"""zeblix-inventory end to end: its records are zeblix's reports of the same files; its output is
the same for any number of jobs; the walk's limits, loops, sockets and unreadable files; whole
machines (kernel file systems, excludes, deep trees under low limits, missing threads); odd names
through --files-from; every line it writes valid against the installed schema (checked with
Debian's python3-jsonschema); usage errors. CSV is parsed back in sbom_test.py.

    python3 inventory_test.py   (ZEBLIX, ZEBLIX_INVENTORY, ZEBLIX_SCHEMA and ZEBLIX_GOLDEN_DIR
                                 name the two programs, the schema and the golden fixtures)
"""
import base64
import json
import os
import random
import resource
import shlex
import shutil
import signal
import socket
import stat
import subprocess
import tempfile
import time
import unittest

import jsonschema

ZEBLIX = os.environ["ZEBLIX"]
INVENTORY = os.environ["ZEBLIX_INVENTORY"]
GOLDEN = os.environ["ZEBLIX_GOLDEN_DIR"]
with open(os.environ["ZEBLIX_SCHEMA"], encoding="utf-8") as schema_file:
    VALIDATOR = jsonschema.Draft202012Validator(json.load(schema_file))

REPORT_LINES = [  # label, key; the build number only for a new-format record
    ("Company", "company"), ("Description", "description"),
    ("Product Version", "product_version"), ("Internal Name", "internal_name"),
    ("Copyright", "copyright"), ("Product Name", "product_name"),
    ("Patch Level", "patch_level_text"), ("Build Number", "build_number"),
    ("Release", "release_text"), ("File OS", "os_text"), ("File Type", "file_type_text"),
]


def run(args, cwd=None, stdin=None, user=None, program=INVENTORY):
    return subprocess.run([program, *args], cwd=cwd, input=stdin, capture_output=True,
                          check=False, user=user)


def decoded(value):
    """The bytes of a text field: a string, or {"bytes": base64} for bytes that are not UTF-8."""
    if isinstance(value, dict):
        return base64.b64decode(value["bytes"], validate=True)
    return value.encode("utf-8")


def lines_of(output):
    """Every line parsed, after checking it against the schema."""
    objects = []
    for line in output.splitlines():
        obj = json.loads(line)
        VALIDATOR.validate(obj)
        objects.append(obj)
    return objects


def as_report(objects):
    """The records in the layout of zeblix's report."""
    report = b""
    for obj in objects:
        report += b"\nQuorvantis Version Information for " + decoded(obj["path"]) + b"\n"
        for label, key in REPORT_LINES:
            if key == "build_number" and obj["format"] == "V5":
                continue
            report += b"    " + label.encode().ljust(19) + b"- " + decoded(obj[key]) + b"\n"
    return report


class Tree:
    """A scoped directory of product files: the golden inputs, zeblix itself and random bytes."""

    def __init__(self, random_files=0):
        self.path = tempfile.mkdtemp(prefix="zeblix-inventory-test-")
        generator = random.Random(11)
        inputs = sorted(os.path.join(d, f) for d, _, files in os.walk(GOLDEN) for f in files
                        if os.path.basename(d) == "input")
        for i, source in enumerate(inputs):
            folder = os.path.join(self.path, "golden", str(i % 3))
            os.makedirs(folder, exist_ok=True)
            shutil.copy(source, os.path.join(folder, f"{i:02}.bin"))
        shutil.copy(ZEBLIX, os.path.join(self.path, "zeblix"))
        for i in range(random_files):
            folder = os.path.join(self.path, "noise", str(i % 7))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, f"n{i}"), "wb") as out:
                out.write(generator.randbytes(generator.randint(0, 3000)))
                if i % 10 == 0:
                    with open(inputs[i % len(inputs)], "rb") as block:
                        out.write(block.read())

    def files(self):
        return sorted(os.path.join(d, f) for d, _, files in os.walk(self.path) for f in files)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        shutil.rmtree(self.path, ignore_errors=True)


class Records(unittest.TestCase):
    def test_records_are_zeblixs_reports_of_the_same_files(self):
        with Tree(random_files=60) as tree:
            files = tree.files()
            expected = subprocess.run([ZEBLIX, *files], capture_output=True, check=True).stdout
            result = run(["-j", "3", *files])
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(as_report(lines_of(result.stdout)), expected)
            self.assertIn(b"Quorvantis Version Utility", expected)

    def test_any_number_of_jobs_writes_the_same_lines(self):
        with Tree(random_files=400) as tree:
            one = run(["-j", "1", tree.path])
            self.assertEqual(one.returncode, 0, one.stderr)
            self.assertGreater(len(lines_of(one.stdout)), 40)
            for jobs in ("2", "4", "16"):
                self.assertEqual(run(["-j", jobs, tree.path]).stdout, one.stdout, jobs)


class TreeCase(unittest.TestCase):
    """A scoped directory to place copies of zeblix in."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="zeblix-inventory-walk-")
        # rm walks a tree of any depth, which shutil's recursion does not.
        self.addCleanup(subprocess.run, ["rm", "-rf", self.root], check=False)

    def place(self, relative):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(ZEBLIX, path)
        return path

    def run_unprivileged(self, args):
        """As root, runs as another user, for whom an unreadable file stays unreadable, a copy of
        the inventory in a directory that user can enter, wherever the build tree lies."""
        if os.geteuid() != 0:
            return run(args)
        reachable = tempfile.mkdtemp(prefix="zeblix-inventory-bin-")
        self.addCleanup(shutil.rmtree, reachable, ignore_errors=True)
        os.chmod(reachable, 0o755)
        return run(args, user=65534, program=shutil.copy(INVENTORY, reachable))

    def paths(self, result):
        return [decoded(obj["path"]).decode() for obj in lines_of(result.stdout)]


class Walk(TreeCase):
    def test_depth_links_and_loops(self):
        for name in ("a/top", "a/b/middle", "a/b/c/deep"):
            self.place(name)
        os.symlink(".", os.path.join(self.root, "a", "b", "loop"))
        os.symlink(os.path.join(self.root, "a", "b"), os.path.join(self.root, "link"))
        at = lambda *names: [os.path.join(self.root, n) for n in names]

        self.assertEqual(sorted(self.paths(run(["--max-depth", "2", self.root]))),
                         at("a/top"))
        self.assertEqual(self.paths(run(["--max-depth", "0", self.root])), [])
        plain = run([self.root])
        self.assertEqual(plain.returncode, 0)
        self.assertEqual(sorted(self.paths(plain)), at("a/b/c/deep", "a/b/middle", "a/top"))

        followed = run(["-L", self.root])
        self.assertEqual(followed.returncode, 1)
        errors = [o for o in lines_of(followed.stdout) if "errno" in o]
        self.assertEqual(sorted(decoded(o["path"]).decode() for o in errors),
                         at("a/b/loop", "link/loop"))
        self.assertTrue(all(o["errno"] == 40 for o in errors))  # ELOOP
        self.assertIn(os.path.join(self.root, "link/c/deep"), self.paths(followed))

    def test_sockets_and_fifos_are_passed_over_unreadable_files_are_errors(self):
        for name in ("d/1", "d/3", "d/5"):
            self.place(name)
        listener = socket.socket(socket.AF_UNIX)
        listener.bind(os.path.join(self.root, "d", "2"))
        self.addCleanup(listener.close)
        os.mkfifo(os.path.join(self.root, "d", "fifo"))
        secret = self.place("d/4")
        os.chmod(secret, 0)
        os.chmod(self.root, 0o755)
        os.chmod(os.path.join(self.root, "d"), 0o755)
        result = self.run_unprivileged(["-j", "2", "--progress", self.root])
        self.assertEqual(result.returncode, 1, result.stderr)
        found = {decoded(o["path"]).decode(): o for o in lines_of(result.stdout)}
        self.assertEqual(sorted(os.path.basename(p) for p in found), ["1", "3", "4", "5"])
        self.assertIn(b"; 2 FIFOs, sockets and devices passed over", result.stderr)
        self.assertEqual(found[secret]["errno"], 13)  # EACCES
        self.assertEqual(found[os.path.join(self.root, "d", "5")]["product_name"], "zeblix")

    def test_files_from_takes_any_name(self):
        names = [b"plain", b"with blank", b"new\nline", b"\xff\xfe not utf-8", b"tab\there"]
        paths = [os.path.join(os.fsencode(self.root), n) for n in names]
        for path in paths:
            shutil.copy(ZEBLIX, path)
        missing = os.path.join(os.fsencode(self.root), b"missing")
        listed = run(["-0", "--files-from", "-"], stdin=b"\0".join(paths + [missing]) + b"\0")
        self.assertEqual(listed.returncode, 1)
        objects = lines_of(listed.stdout)
        self.assertEqual([decoded(o["path"]) for o in objects], paths + [missing])
        self.assertIsInstance(objects[3]["path"], dict)
        self.assertEqual(objects[-1]["errno"], 2)

        newline_list = os.path.join(self.root, "list")
        with open(newline_list, "wb") as out:
            out.write(b"\n".join(p for p in paths if b"\n" not in p) + b"\n\n")
        self.assertEqual(len(lines_of(run(["--files-from", newline_list]).stdout)), 4)

    def test_named_pipes_are_read_to_their_end(self):
        with open(ZEBLIX, "rb") as image:
            result = run(["/dev/stdin"], stdin=image.read())
        self.assertEqual(self.paths(result), ["/dev/stdin"])


def deep_tree(root, depth, product, every):
    """A chain of `depth` directories with 50-character names, too deep for any path buffer, with
    the product every `every` levels and at the bottom; built name by name from open parents."""
    fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for level in range(depth + 1):
            if level == depth or level % every == 0:
                out = os.open(f"f{level}", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
                os.write(out, product)
                os.close(out)
            if level < depth:
                os.mkdir("d" * 50, dir_fd=fd)
                below = os.open("d" * 50, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
                os.close(fd)
                fd = below
    finally:
        os.close(fd)


def run_limited(args, open_files=None, processes=None, user=None, program=INVENTORY):
    """Runs under resource limits; returns the result and the peak resident memory in KiB."""
    def limit():
        if open_files:
            resource.setrlimit(resource.RLIMIT_NOFILE, (open_files, open_files))
        if processes:
            resource.setrlimit(resource.RLIMIT_NPROC, (processes, processes))
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        # The leak check of a sanitized build needs a thread of its own, which a process limit
        # denies it.
        env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0") if processes else None
        child = subprocess.Popen([program, *args], stdout=out, stderr=err, preexec_fn=limit,
                                 user=user, env=env)
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        result = subprocess.CompletedProcess(args, child.returncode, out.read(), err.read())
    return result, usage.ru_maxrss


class WholeMachine(TreeCase):
    def test_kernel_file_systems_are_never_read(self):
        alone = run(["--progress", "/proc/self"])
        self.assertEqual((alone.returncode, alone.stdout), (0, b""))
        self.assertIn(b"; 1 directories on kernel file systems", alone.stderr)
        # A folder merely named proc is walked; a link to the real one is not entered.
        self.place("src/proc/zeblix")
        os.symlink("/proc/self", os.path.join(self.root, "src", "kernel"))
        followed = run(["-L", self.root])
        self.assertEqual(followed.returncode, 0, followed.stderr)
        self.assertEqual(self.paths(followed), [os.path.join(self.root, "src/proc/zeblix")])

    def test_a_deep_tree_under_a_low_open_file_limit_is_walked_whole_in_bounded_memory(self):
        with open(ZEBLIX, "rb") as image:
            deep_tree(self.root, 2000, image.read(), every=250)
        free, _ = run_limited([self.root])
        limited, peak_kib = run_limited(["-j", "2", self.root], open_files=64)
        self.assertEqual(limited.returncode, 0, limited.stderr)
        self.assertEqual(limited.stdout, free.stdout)
        paths = self.paths(limited)
        self.assertEqual(len(paths), 9)
        bottom = max(paths, key=len)
        self.assertGreater(len(bottom), 100_000)  # far beyond PATH_MAX
        self.assertTrue(bottom.endswith("/f2000"))
        # A copy of the path per level took 172 MB at this depth (less than a third of this bound
        # is the walk's; most is the sanitizers').
        self.assertLess(peak_kib, 100 * 1024)

    def test_excludes_by_pattern(self):
        for name in ("keep", "skip.log", "build/tmp/x", "build/tmpfile", "cache/y", "top/z",
                     "deep/top/w", "deep/cache"):
            self.place(name)
        cases = [  # options, the paths left
            (["--exclude", "*.log"], {"keep", "build/tmp/x", "build/tmpfile", "cache/y", "top/z",
                                      "deep/top/w", "deep/cache"}),
            (["--exclude", "build/tmp"], {"keep", "skip.log", "build/tmpfile", "cache/y", "top/z",
                                          "deep/top/w", "deep/cache"}),
            (["--exclude", "cache/"], {"keep", "skip.log", "build/tmp/x", "build/tmpfile",
                                       "top/z", "deep/top/w", "deep/cache"}),
            (["--exclude", "/top"], {"keep", "skip.log", "build/tmp/x", "build/tmpfile", "cache/y",
                                     "deep/top/w", "deep/cache"}),
            (["--exclude", "top", "--exclude", "b*"], {"keep", "skip.log", "cache/y",
                                                       "deep/cache"}),
        ]
        for options, left in cases:
            result = run([*options, "--progress", self.root])
            self.assertEqual(result.returncode, 0, options)
            self.assertEqual({os.path.relpath(p, self.root) for p in self.paths(result)}, left,
                             options)
            self.assertIn(b"paths excluded", result.stderr, options)

    @unittest.skipUnless(os.path.isdir("/dev/shm") and
                         os.stat("/dev/shm").st_dev != os.stat(tempfile.gettempdir()).st_dev,
                         "needs /dev/shm on a tmpfs of its own, as no file system can be mounted "
                         "for the test")
    def test_other_file_systems_are_left_by_choice(self):
        self.place("here")
        elsewhere = tempfile.mkdtemp(dir="/dev/shm")
        self.addCleanup(shutil.rmtree, elsewhere, ignore_errors=True)
        shutil.copy(ZEBLIX, os.path.join(elsewhere, "there"))
        os.symlink(elsewhere, os.path.join(self.root, "shm"))
        self.assertEqual(len(self.paths(run(["-L", self.root]))), 2)
        for options in (["-x"], ["--exclude-fs", "tmpfs"], ["--exclude-fs", "tmp*"]):
            self.assertEqual(self.paths(run(["-L", *options, self.root])),
                             [os.path.join(self.root, "here")], options)

    def test_fewer_threads_than_jobs_asked_for(self):
        for i in range(40):
            self.place(f"d/{i}")
        os.chmod(self.root, 0o755)
        program, user = INVENTORY, None
        if os.geteuid() == 0:  # the process limit binds only another user
            program, user = shutil.copy(INVENTORY, self.root), 65534
        one = run(["-j", "1", self.root])
        few, _ = run_limited(["-j", "4", self.root], processes=1, user=user, program=program)
        self.assertEqual(few.returncode, 0, few.stderr)
        self.assertEqual(few.stdout, one.stdout)
        self.assertRegex(few.stderr.decode(),
                         r"^zeblix-inventory: scanning with 1 of the 4 jobs asked for: [^\n]+\n$")


class NightlyJob(TreeCase):
    """What a job on a busy host, stopped by a time limit, writing to where it was told, needs."""

    def test_output_goes_through_what_is_not_a_regular_file(self):
        self.place("tree/a")
        tree = os.path.join(self.root, "tree")
        target = os.path.join(self.root, "target.jsonl")
        shutil.copy(ZEBLIX, target)
        os.symlink(target, os.path.join(self.root, "link"))
        os.link(target, os.path.join(self.root, "hard"))
        fifo = os.path.join(self.root, "fifo")
        os.mkfifo(fifo)
        with subprocess.Popen(["cat", fifo], stdout=subprocess.PIPE) as reader:
            self.assertEqual(run(["-o", fifo, tree]).returncode, 0)
            self.assertEqual(len(lines_of(reader.stdout.read())), 1)
        for name in ("link", "hard"):
            with self.subTest(name):
                self.assertEqual(run(["--empty", "-o", os.path.join(self.root, name), tree])
                                 .returncode, 0)
                with open(target, "rb") as file:
                    self.assertEqual(len(lines_of(file.read())), 1)
        self.assertTrue(os.path.islink(os.path.join(self.root, "link")))
        self.assertEqual(os.stat(target).st_nlink, 2)
        if os.geteuid() == 0:
            node = os.path.join(self.root, "null")
            os.mknod(node, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
            self.assertEqual(run(["-o", node, tree]).returncode, 0)
            self.assertTrue(stat.S_ISCHR(os.stat(node).st_mode))
        else:
            print("not root: -o through a device node made with mknod is not tried")
        inside = run(["--empty", "-o", os.path.join(tree, "out.jsonl"), tree])
        with open(os.path.join(tree, "out.jsonl"), "rb") as file:
            self.assertEqual([os.path.basename(decoded(o["path"])) for o in lines_of(file.read())],
                             [b"a"])  # never its own unfinished output
        self.assertEqual(inside.returncode, 0)

    def test_a_run_stopped_by_a_signal_leaves_every_line_it_finished_whole(self):
        names = [self.place(f"tree/{i:03}") for i in range(150)]
        list_fifo = os.path.join(self.root, "list")
        os.mkfifo(list_fifo)
        for signal_number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=signal_number.name):
                job = subprocess.Popen([INVENTORY, "-q", "--files-from", list_fifo],
                                       stdout=subprocess.PIPE)
                with open(list_fifo, "w", encoding="utf-8") as feed:  # an endless list, for now
                    feed.write("".join(n + "\n" for n in names))
                    feed.flush()
                    time.sleep(1.5)
                    job.send_signal(signal_number)
                    out = job.stdout.read()
                self.assertEqual(job.wait(), -signal_number)
                self.assertTrue(out.endswith(b"\n"))
                self.assertEqual(sorted(decoded(o["path"]).decode() for o in lines_of(out)), names)

    def test_progress_never_shares_a_line_with_output_or_errors(self):
        names = [self.place(f"tree/{i:02}") for i in range(30)] + ["/missing"]
        feeder = os.path.join(self.root, "feed.sh")
        with open(feeder, "w", encoding="utf-8") as out:
            out.write("".join(f"echo {shlex.quote(n)}; sleep 0.05\n" for n in names))
        pipeline = f"sh {shlex.quote(feeder)} | {shlex.quote(INVENTORY)} -j 2 --files-from -"
        typescript = subprocess.run(
            ["script", "-qec", pipeline, "/dev/null"],
            capture_output=True, check=False).stdout
        self.assertIn(b"files/s", typescript)  # the live line was drawn
        starts = [b'{"path"', b"zeblix-inventory: /missing"]
        for line in typescript.split(b"\n"):
            for start in (s for s in starts if s in line):
                before = line[:line.find(start)]
                self.assertTrue(before == b"" or before.endswith(b"\r\x1b[K"), line)

    def test_nice_leaves_the_page_cache_as_it_found_it(self):
        cold, warm = (os.path.join(self.root, name) for name in ("cold", "warm"))
        for path in (cold, warm):
            with open(path, "wb") as out:
                out.write(os.urandom(16 << 20))
            with open(path, "rb") as file:
                os.fsync(file.fileno())
                os.posix_fadvise(file.fileno(), 0, 0, os.POSIX_FADV_DONTNEED)
        with open(warm, "rb") as file:
            file.read()
        cached = lambda path: int(subprocess.run(["fincore", "-nbo", "RES", path],
                                                 capture_output=True, check=True).stdout)
        self.assertEqual(cached(cold), 0)
        self.assertEqual(cached(warm), 16 << 20)
        self.assertEqual(run(["--nice", cold, warm]).returncode, 0)
        self.assertEqual(cached(cold), 0)
        self.assertEqual(cached(warm), 16 << 20)


class CommandLine(unittest.TestCase):
    def test_usage_errors_name_the_problem_and_point_to_help(self):
        for args, named in ((["--jobs", "0"], b"--jobs"), (["-j"], b"-j"), (["--nope"], b"--nope"),
                            (["--format", "xml"], b"xml"), (["--max-depth", "-1"], b"--max-depth"),
                            (["-z"], b"-z"), (["-0", "."], b"-0"),
                            (["--archive-max-stall", "0"], b"--archive-max-stall"),
                            (["--image-layers", "top"], b"--image-layers")):
            result = run(args)
            self.assertEqual(result.returncode, 2, args)
            self.assertEqual(result.stdout, b"")
            self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
            self.assertIn(named, result.stderr)
            self.assertIn(b"--help", result.stderr)

    def test_help_version_and_progress(self):
        self.assertIn(b"Usage: zeblix-inventory", run(["--help"]).stdout)
        self.assertEqual(run(["--version"]).stdout,
                         b"zeblix-inventory " + os.environ["ZEBLIX_VERSION"].encode() + b"\n")
        quiet = run([ZEBLIX])
        self.assertEqual(quiet.stderr, b"")
        shown = run(["--progress", ZEBLIX])
        self.assertRegex(shown.stderr.decode(), r"zeblix-inventory: 1 file, [0-9.]+ MB, 1 record, "
                                                r"0 errors, [0-9.]+ s\n$")

    def test_version_keys_order_as_sort_dash_v(self):
        """Random versions, and those that trouble sorts: the order sort -V gives them never
        goes down in their keys, compared as plain bytes."""
        generator = random.Random(7)
        parts = ["1", "2", "9", "10", "010", "0", "99", "100", ".", ".", "-", "~", "a", "rc", "Z",
                 "+", "_", ".tar", ".gz", ".rc1", "beta", "\u00e9"]
        versions = ["1.9.2", "1.10.0", "1.2.3", "1.0~rc1", "1.0", "2.0.rc1", "2.0.1", ".", "..",
                    ".hidden", "1", "1a", "1a0", "1.01"]
        versions += ["".join(generator.choices(parts, k=generator.randint(1, 7)))
                     for _ in range(1500)]
        versions = sorted(set(versions))
        out = run([f"--version-key={v}" for v in versions]).stdout.decode().split("\n")[:-1]
        key = dict(zip(versions, out))
        self.assertEqual(len(key), len(versions))
        ordered = subprocess.run(["sort", "-V"], input="\n".join(versions).encode(),
                                 capture_output=True, check=True,
                                 env=dict(os.environ, LC_ALL="C")).stdout.decode().split("\n")
        ordered = [v for v in ordered if v]
        self.assertEqual(len(ordered), len(versions))
        for low, high in zip(ordered, ordered[1:]):
            self.assertLessEqual(key[low].encode(), key[high].encode(), (low, high))
        self.assertTrue(all(k and k.isascii() and k.isprintable() for k in out))


if __name__ == "__main__":
    unittest.main(verbosity=2)
