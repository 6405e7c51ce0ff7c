#!/usr/bin/env python3
"""Long loops that must keep the process's memory flat (make leakcheck).

Each loop runs in a fresh interpreter: it warms up, notes its resident set
size (RSS), runs the rest of its iterations, and notes the RSS again. A loop
passes when the RSS grew by at most 2 MiB after warm-up (and, for the loops
that activate, when no properties file is left in the working directory).

    leakcheck.py               all loops, a table of the figures
    leakcheck.py --only a,b    some loops
    leakcheck.py --scale 0.1   fewer iterations (a quick look; not the check)

The loops:
    session_sign      50,000 signatures through one PyTWCASign session
    module_sign       50,000 signatures through init_seal / get_sign, get_quote_sign, gen_seal
    record_decode     500,000 record decodes (quote, depth stock, odd lot, futures) with to_dict(raw=True)
    session_cycle     100 sessions created, used to sign, dropped
    failed_activation 1,000 failed activations (wrong password, missing file), half each
    unwritable_log    20,000 signatures through the module functions while the log
                      folder cannot be created (the log's lines stay in memory)
"""

import argparse
import gc
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
LIMIT_KIB = 2048

TEXT = "A12345678910.1.2.3order=2330&side=B&qty=1&price=580.0 1733629000.123456"


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def make_test_pki(folder):
    sys.path.insert(0, str(ROOT / "tests" / "fixtures"))
    from make_pki import make_pki
    return make_pki(folder)


def leftover_properties(folder):
    return sorted(p.name for p in Path(folder).iterdir() if p.name.startswith("p7Sign.properties"))


# ---- the loops (each run in its own process) -------------------------------------

def loop_session_sign(n, pki):
    import orvane.TWCA.seal as seal
    s = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", "10.1.2.3")

    def step(i):
        if i % 3 == 0:
            s.sign(TEXT)
        elif i % 3 == 1:
            s.get_sign(TEXT)
        else:
            s.gen_seal(TEXT)
    return step


def loop_module_sign(n, pki):
    import orvane.TWCA.seal as seal
    seal.init_seal(pki["pfx_user"], pki["password"])

    def step(i):
        if i % 3 == 0:
            seal.get_sign(TEXT)
        elif i % 3 == 1:
            seal.get_quote_sign(TEXT)
        else:
            seal.gen_seal("A123456789", TEXT)
    return step


def loop_unwritable_log(n, pki):
    # A file named "logs" stands where the log folder goes: the log cannot
    # reach a file and keeps its lines in memory, at DEBUG level (the module
    # template) many per signature.
    Path("logs").write_text("not a folder")
    import orvane.TWCA.seal as seal
    seal.init_seal(pki["pfx_user"], pki["password"])

    def step(i):
        seal.get_sign(TEXT)
    return step


def loop_record_decode(n, pki):
    sys.path.insert(0, str(ROOT / "fuzz"))
    from make_seeds import DEPTH_FOP, DEPTH_STK, QUOTE
    from orvane.backend.solace import depth, quote
    calls = [(quote.QuoteSTKv1.from_content, QUOTE), (depth.DepthSTKv1.from_content, DEPTH_STK),
             (depth.DepthSTKv1.from_content_odd, DEPTH_STK), (depth.DepthFOPv1.from_content, DEPTH_FOP)]

    def step(i):
        factory, msg = calls[i % 4]
        factory(**msg).to_dict(raw=True)
    return step


def loop_session_cycle(n, pki):
    import orvane.TWCA.seal as seal

    def step(i):
        s = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", "10.1.2.3")
        s.sign(TEXT)
        del s
        gc.collect()
    return step


def loop_failed_activation(n, pki):
    import orvane.TWCA.seal as seal
    missing = str(Path(pki["pfx_dir"]) / "missing.pfx")

    def step(i):
        try:
            if i % 2:
                seal.PyTWCASign(pki["pfx_user"], pki["wrong_password"], "A123456789", "10.1.2.3")
            else:
                seal.PyTWCASign(missing, pki["password"], "A123456789", "10.1.2.3")
        except seal.SealError:
            pass
        else:
            raise AssertionError("activation succeeded")
    return step


# The module each loop needs.
NEEDS = {"session_sign": "orvane.TWCA.seal", "module_sign": "orvane.TWCA.seal",
         "record_decode": "orvane.backend.solace.depth", "session_cycle": "orvane.TWCA.seal",
         "failed_activation": "orvane.TWCA.seal", "unwritable_log": "orvane.TWCA.seal"}

LOOPS = {
    # name: (builder, iterations, warm-up iterations)
    "session_sign": (loop_session_sign, 50000, 5000),
    "module_sign": (loop_module_sign, 50000, 5000),
    "record_decode": (loop_record_decode, 500000, 50000),
    "session_cycle": (loop_session_cycle, 100, 20),
    "failed_activation": (loop_failed_activation, 1000, 100),
    "unwritable_log": (loop_unwritable_log, 20000, 5000),
}


def child(name, scale, pki_manifest):
    builder, total, warm = LOOPS[name]
    total, warm = max(2, int(total * scale)), max(1, int(warm * scale))
    pki = json.loads(Path(pki_manifest).read_text()) if pki_manifest else {}
    step = builder(total, pki)
    for i in range(warm):
        step(i)
    gc.collect()
    before = rss_kib()
    t0 = time.time()
    for i in range(warm, total):
        step(i)
    gc.collect()
    after = rss_kib()
    print(json.dumps({"name": name, "iterations": total, "warmup": warm, "rss_before_kib": before,
                      "rss_after_kib": after, "seconds": time.time() - t0}))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--only", default="")
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--child", default="")
    ap.add_argument("--pki", default="")
    a = ap.parse_args()
    if a.child:
        child(a.child, a.scale, a.pki)
        return 0

    names = [n for n in LOOPS if not a.only or n in a.only.split(",")]
    import importlib.util
    missing = [n for n in names if importlib.util.find_spec(NEEDS[n]) is None]
    work = Path(tempfile.mkdtemp(prefix="orvane-leak-"))
    failures = 0
    try:
        manifest = ""
        if any(NEEDS[n] == "orvane.TWCA.seal" for n in names if n not in missing):
            pki = make_test_pki(work / "pki")
            manifest = str(Path(pki["folder"]) / "manifest.json")
        print("%-18s %10s %12s %12s %10s %8s  %s" % ("loop", "iterations", "RSS warm KiB", "RSS end KiB",
                                                 "growth KiB", "seconds", "result"), flush=True)
        for name in names:
            if name in missing:
                print("%-18s SKIPPED: %s is not built here" % (name, NEEDS[name]), flush=True)
                continue
            cwd = work / name
            cwd.mkdir()
            r = subprocess.run([sys.executable, __file__, "--child", name, "--scale", str(a.scale),
                                "--pki", str(manifest)], cwd=str(cwd), capture_output=True, text=True,
                               errors="replace")
            lines = [ln for ln in r.stdout.splitlines() if ln.startswith("{")]
            if r.returncode != 0 or not lines:
                failures += 1
                print("%-18s FAILED (exit %d)\n%s\n%s" % (name, r.returncode, r.stdout[-2000:], r.stderr[-4000:]),
                      flush=True)
                continue
            res = json.loads(lines[-1])
            growth = res["rss_after_kib"] - res["rss_before_kib"]
            left = leftover_properties(cwd)
            ok = growth <= LIMIT_KIB and not left
            failures += not ok
            note = "ok" if ok else ("FAILED: grew more than %d KiB" % LIMIT_KIB if growth > LIMIT_KIB
                                     else "FAILED: left %s" % left)
            print("%-18s %10d %12d %12d %10d %8.1f  %s" % (name, res["iterations"], res["rss_before_kib"],
                                                         res["rss_after_kib"], growth, res["seconds"], note),
                  flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("leakcheck: %d of %d loops kept their memory flat%s" % (
        len(names) - failures - len(missing), len(names),
        ", %d skipped (module missing)" % len(missing) if missing else ""))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
