"""alternate.py ROUNDS NAME=COMMAND...: runs each command once a round, their order rotating round
by round, after one run each to warm the page cache; prints each one's median seconds, one
"NAME SECONDS" a line. Timed with the monotonic clock around the child alone, so that runs of a
few milliseconds are told apart (a shell's date costs as much)."""
import shlex
import statistics
import subprocess
import sys
import time

rounds = int(sys.argv[1])
runs = dict(arg.split("=", 1) for arg in sys.argv[2:])
commands = {name: shlex.split(command) for name, command in runs.items()}
times = {name: [] for name in commands}


def run(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - start


for command in commands.values():
    run(command)
names = list(commands)
for r in range(rounds):
    for name in names[r % len(names):] + names[:r % len(names)]:
        times[name].append(run(commands[name]))
for name in names:
    print(name, f"{statistics.median(times[name]):.6f}")
