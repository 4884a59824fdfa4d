"""python_bench.py BUILD_DIR CORPUS_DIR [ROUNDS]: the Python module's scan_file over the corpus's
libs/, on one thread and on two (each thread taking the next file), against the C library's
zeblix_scan_file on the same files, called in the same process through ctypes with a callback
that counts; warm, the three alternating round by round, medians."""
import ctypes
import os
import statistics
import sys
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


runs = {"library": run_library, "python-1": lambda: scan_on(1), "python-2": lambda: scan_on(2)}
times = {name: [] for name in runs}
for run in runs.values():
    run()  # warm the cache
for r in range(rounds):
    names = list(runs)
    for name in names[r % 3:] + names[:r % 3]:
        start = time.perf_counter()
        runs[name]()
        times[name].append(time.perf_counter() - start)
med = {name: statistics.median(values) for name, values in times.items()}
print(f"{len(files)} files: library {med['library']:.4f} s, scan_file on one thread "
      f"{med['python-1']:.4f} s, on two {med['python-2']:.4f} s")
print(f"summary: scan_file {med['python-1'] / med['library']:.2f}x the library; two threads "
      f"{med['python-1'] / med['python-2']:.2f}x as fast as one; {rounds} rounds")
