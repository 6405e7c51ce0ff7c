"""How long a market-data thread stalls while a signing store refills.

A Python thread decodes QuoteSTKv1 records in a loop (the content of a real
QUO/v2/STK message from examples/market_stream.jsonl, passed as keyword
arguments as the host package does) and notes the longest gap between two
consecutive iterations. Prints, from one run on this machine:
  - the worst gap (and the 99.9th percentile) with the thread alone,
  - the same while a PyTWCASign with store=100 refills its store (its thread
    signs batches of 10 each second), with the number of signatures made
    during each window (a window without one is not counted),
  - the time of one signature, for scale: a signature made with the
    interpreter lock held would stall the decoder at least that long, plus up
    to the interpreter's switch interval.

On a machine shared with other work the scheduler alone can stall the thread
for milliseconds (see the "alone" rows); with --fifo (needs root) the process
runs under SCHED_FIFO so that other processes do not preempt it. Windows are
kept under a second with pauses between them, so the kernel's real-time
throttling (50 ms of every second by default) never falls inside one.

    .venv/bin/python bench/stall.py [--quick] [--fifo]
"""

import gc
import json
import os
import shutil
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "fixtures"))

from make_pki import make_pki  # noqa: E402

import orvane.TWCA.seal as seal  # noqa: E402
from orvane.backend.solace.quote import QuoteSTKv1  # noqa: E402


def quote_content():
    with open(ROOT / "examples" / "market_stream.jsonl", encoding="utf-8") as f:
        for line in f:
            msg = json.loads(line)
            if msg["topic"].startswith("QUO/v2/STK/"):
                return msg["content"]
    raise SystemExit("no QUO/v2/STK message in examples/market_stream.jsonl")


def decode_gaps(content, seconds):
    """Decodes on a thread of its own for `seconds`; returns the gaps (s)
    between consecutive iterations, sorted, and the iteration count."""
    gaps = []

    def run():
        clock = time.perf_counter
        from_content = QuoteSTKv1.from_content
        end = clock() + seconds
        last = clock()
        while last < end:
            from_content(**content)
            now = clock()
            gaps.append(now - last)
            last = now

    # The cyclic collector is paused for the window: its full collections
    # stall any thread for milliseconds, with or without signing.
    gc.disable()
    try:
        t = threading.Thread(target=run)
        t.start()
        t.join()
    finally:
        gc.enable()
    gaps.sort()
    return gaps


def summary(gaps):
    return gaps[-1] * 1e3, gaps[int(len(gaps) * 0.999)] * 1e3, len(gaps)


def drain(session):
    """Pops every stored signature; returns how many there were."""
    n = 0
    while True:
        try:
            session.sign_speedup()
        except IndexError:
            return n
        n += 1


def main():
    quick = "--quick" in sys.argv
    seconds = 0.8
    repeats = 4 if quick else 10
    if "--fifo" in sys.argv:
        # Threads started from here on inherit the policy.
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
    content = quote_content()
    QuoteSTKv1.from_content(**content)  # warm-up
    work = Path(tempfile.mkdtemp(prefix="seal-stall-"))
    old_cwd = os.getcwd()
    try:
        os.chdir(work)
        pki = make_pki(work / "pki")
        timer = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", "10.1.2.3")
        # An ERROR line moves the lines logged before the log folder existed
        # into the log file; otherwise they go to standard output at exit.
        try:
            timer.get_sign("")
        except seal.SealError:
            pass
        t0 = time.perf_counter()
        for _ in range(200):
            timer.get_sign("A12345678910.1.2.3 1733629000.123456")
        per_signature = (time.perf_counter() - t0) / 200

        alone = []
        for _ in range(repeats):
            alone.append(summary(decode_gaps(content, seconds)))
            time.sleep(0.25)
        # The store starts empty, so its thread signs a batch of 10 at once and
        # again every second; emptied after each window, it refills in the next.
        store = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", "10.1.2.3", store=100)
        refilling = []
        for _ in range(repeats):
            drain(store)  # what was made before the window does not count
            gaps = decode_gaps(content, seconds)
            refilling.append(summary(gaps) + (drain(store),))
            time.sleep(0.25)

        print("QuoteSTKv1.from_content loop on a Python thread, %.1f s per window, %d windows each "
              "(%d CPUs, load %.2f, %s)" % (seconds, repeats, os.cpu_count(), os.getloadavg()[0],
                                          "SCHED_FIFO" if "--fifo" in sys.argv else "normal priority"))
        print("  one signature takes %.2f ms; the interpreter's switch interval is %.1f ms"
              % (per_signature * 1e3, sys.getswitchinterval() * 1e3))
        for (worst, p999, n) in alone:
            print("  alone                      worst gap %6.3f ms   99.9%% %6.3f ms   %d iterations"
                  % (worst, p999, n))
        for (worst, p999, n, made) in refilling:
            print("  while store=100 refills    worst gap %6.3f ms   99.9%% %6.3f ms   %d iterations, "
                  "%d signatures made in the window" % (worst, p999, n, made))
        during = [w for w, _, _, made in refilling if made]
        print("worst gap in the %d windows with a refill: %.3f ms (target < 2 ms); alone: %.3f ms "
              "at worst, %.3f ms in the best window" % (len(during), max(during) if during else float("nan"),
                                                         max(w for w, _, _ in alone), min(w for w, _, _ in alone)))
    finally:
        os.chdir(old_cwd)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
