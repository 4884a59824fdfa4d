"""python_bench.py BUILD_DIR CORPUS_DIR [ROUNDS]: the Python module's scan_file over the corpus's
libs/, on one thread and on two (each thread taking the next file), against the C library's
zeblix_scan_file on the same files, called in the same process through ctypes with a callback
that counts; then zeblix.inventory() against zeblix-inventory with the same jobs (1 and 2) and
--empty (a line for every file), over libs/ and over a folder of .deb packages made once from
libs/ with dpkg-deb. Warm, the runs of a group alternating round by round, medians."""
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

build, corpus = sys.argv[1], sys.argv[2]
rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 9
sys.path.insert(0, os.path.join(build, "python"))
import zeblix  # noqa: E402

libs = os.path.join(corpus, "libs")
# Largest first, so that two threads finish together.
files = sorted((os.path.join(libs, name) for name in os.listdir(libs)), key=os.path.getsize,
               reverse=True)
library = ctypes.CDLL(os.path.join(build, "lib", "libzeblix.so.6"))
on_record = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda r, u: 0)


def run_library():
    for path in files:
        if library.zeblix_scan_file(os.fsencode(path), on_record, None) != 0:
            raise OSError(path)


def scan_on(jobs):
    # Every thread takes the next file from one iterator, which the GIL keeps whole.
    pending = iter(files)
    threads = [threading.Thread(target=lambda: [zeblix.scan_file(p) for p in pending])
               for _ in range(jobs)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()




def make_packages(count=16):
    """A folder of .deb files, each holding a slice of libs/, as dpkg-deb makes them (xz)."""
    folder = os.path.join(corpus, "packages")
    if os.path.exists(os.path.join(folder, "made")):
        return folder
    os.makedirs(folder, exist_ok=True)
    for slice_ in range(count):
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, "DEBIAN"))
            lib = os.path.join(root, "usr", "lib")
            os.makedirs(lib)
            for path in files[slice_::count]:
                shutil.copy(path, lib)
            with open(os.path.join(root, "DEBIAN", "control"), "w") as control:
                control.write(f"Package: part{slice_}\nVersion: 1.{slice_}-1\nArchitecture: amd64\n"
                              "Maintainer: Bench <bench@example.org>\nDescription: a slice\n")
            subprocess.run(["dpkg-deb", "--root-owner-group", "-b", root,
                            os.path.join(folder, f"part{slice_}.deb")], check=True,
                           stdout=subprocess.DEVNULL)
    open(os.path.join(folder, "made"), "w").close()
    return folder


def timed(runs):
    """Medians of each run's seconds, the runs alternating round by round after one warm-up."""
    times = {name: [] for name in runs}
    for run in runs.values():
        run()
    for r in range(rounds):
        names = list(runs)
        for name in names[r % len(names):] + names[:r % len(names)]:
            start = time.perf_counter()
            runs[name]()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(values) for name, values in times.items()}


def compare_inventory(tree, label):
    command = os.path.join(build, "zeblix-inventory")
    lines = {}

    def python(jobs):
        lines[jobs] = sum(1 for _ in zeblix.inventory(tree, jobs=jobs, empty=True))

    def cli(jobs):
        subprocess.run([command, "-q", "--empty", "-j", str(jobs), tree], check=True,
                       stdout=subprocess.DEVNULL)
    runs = {f"{kind}-{jobs}": (lambda k=kind, j=jobs: (python if k == "python" else cli)(j))
            for jobs in (1, 2) for kind in ("python", "command")}
    med = timed(runs)
    for jobs in (1, 2):
        print(f"{label}, -j {jobs}: inventory() {med[f'python-{jobs}']:.3f} s ({lines[jobs]} lines), "
              f"zeblix-inventory {med[f'command-{jobs}']:.3f} s: "
              f"{med[f'python-{jobs}'] / med[f'command-{jobs}']:.3f}x")


med = timed({"library": run_library, "python-1": lambda: scan_on(1),
             "python-2": lambda: scan_on(2)})
print(f"{len(files)} files: library {med['library']:.4f} s, scan_file on one thread "
      f"{med['python-1']:.4f} s, on two {med['python-2']:.4f} s")
print(f"summary: scan_file {med['python-1'] / med['library']:.2f}x the library; two threads "
      f"{med['python-1'] / med['python-2']:.2f}x as fast as one; {rounds} rounds")
compare_inventory(libs, "libs/")
compare_inventory(make_packages(), "packages/")
