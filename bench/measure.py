"""Timing as users meet it, shared by bench/records.py and bench/contracts.py.

Two times per contestant:
  - make: the time to make one result, the collector on and never forced
    (no gc.collect() between calls), the results kept until the timing ends
    and freed outside it; the median of several batches, per call;
  - loop: the time to make and free one result in a continuous loop (each
    result dropped before the next is made); the median of several batches.

Times are CPU time of this process (time.process_time): the machine may be
shared, and time spent waiting for a core would count against whichever side
happened to be running. The cost of the timing loop itself (measured with a
function that makes nothing) is taken off both times.
"""

import statistics
import time

clock = time.process_time


def _nothing():
    return None


def _make_batch(fn, n):
    out = [None] * n
    t0 = clock()
    for i in range(n):
        out[i] = fn()
    t = clock() - t0
    del out  # freed outside the timing
    return t


def _loop_batch(fn, n):
    t0 = clock()
    for _ in range(n):
        fn()
    return clock() - t0


_overhead = {}


def _loop_cost(batch, n, rounds):
    """Seconds per call of the timing loop itself (a function that makes nothing)."""
    key = (batch, n)
    if key not in _overhead:
        _overhead[key] = statistics.median(batch(_nothing, n) for _ in range(max(rounds, 9))) / n
    return _overhead[key]


def _interleaved(batch, fns, n, rounds):
    """Seconds per call of each function: the median of `rounds` batches,
    the contestants taking turns batch by batch, so that a slow stretch of a
    shared machine falls on all of them alike rather than on whichever was
    being timed then."""
    for fn in fns:
        fn()  # warm: caches, first-call interning
    times = [[] for _ in fns]
    for _ in range(rounds):
        for t, fn in zip(times, fns):
            t.append(batch(fn, n))
    cost = _loop_cost(batch, n, rounds)
    return [max(statistics.median(t) / n - cost, 1e-12) for t in times]


def make_times(fns, n, rounds):
    """Seconds per result made (freeing outside the timing), for each function."""
    return _interleaved(_make_batch, fns, n, rounds)


def loop_times(fns, n, rounds):
    """Seconds per result made and freed in a continuous loop, for each function."""
    return _interleaved(_loop_batch, fns, n, rounds)


def split(s):
    """A ready str cut in two, whose concatenation makes a new str of the
    same text (how a floor makes the fresh texts a result holds)."""
    k = len(s) // 2
    return s[:k], s[k:]


def table(rows, n_label):
    """Prints one line per case: the four times of the compiled function and
    its twin, the floor's, and the ratios (twin / compiled, compiled / floor)."""
    print("| case | %s | make: compiled | twin | floor | twin/compiled | compiled/floor "
          "| make+free: compiled | twin | floor | twin/compiled | compiled/floor |" % n_label)
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in rows:
        print("| %s | %s | %s | %s | %s | %.1fx | %.2fx | %s | %s | %s | %.1fx | %.2fx |" % (
            r["name"], r["size"],
            fmt(r["make"][0]), fmt(r["make"][1]), fmt(r["make"][2]),
            r["make"][1] / r["make"][0], r["make"][0] / r["make"][2],
            fmt(r["loop"][0]), fmt(r["loop"][1]), fmt(r["loop"][2]),
            r["loop"][1] / r["loop"][0], r["loop"][0] / r["loop"][2]))


def fmt(seconds):
    if seconds >= 1e-3:
        return "%.2f ms" % (seconds * 1e3)
    if seconds >= 1e-6:
        return "%.2f us" % (seconds * 1e6)
    return "%.0f ns" % (seconds * 1e9)


def measure(name, size, compiled, twin, floor, n, rounds):
    """The row of one case: make and loop times of the three contestants."""
    return {
        "name": name,
        "size": size,
        "compiled": compiled,
        "floor": floor,
        "make": make_times((compiled, twin, floor), n, rounds),
        "loop": loop_times((compiled, twin, floor), n, rounds),
    }
