#!/usr/bin/env python3
"""Builds the fuzz harnesses, makes their seed corpora and runs them.

    run_fuzzers.py [--seconds S] [--runs N] [--jobs J] [--only a,b] [--smoke]

Every harness runs until S seconds or N executions have passed, whichever
comes first; J harnesses run at a time. A run prints one summary line per
harness (executions, seconds, findings) and exits non-zero when any harness
found something; the inputs that failed are kept under
build/fuzz/artifacts/<harness>/.

The engine harnesses are libFuzzer binaries built with clang (fuzz/CMakeLists.txt)
in build/fuzz. The Python harnesses (fuzz/python/) run under --python, an
interpreter with orvane installed, through atheris when that imports, else
through the plain mutation loop of fuzz/python/fuzz_driver.py.

--smoke runs every harness for a few seconds (make test). A harness that is
missing or did not build (no clang, a harness listed but not there) is an
error, never a skip.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FUZZ = ROOT / "fuzz"
BUILD = ROOT / "build" / "fuzz"
PY_HARNESSES = ["fuzz_records", "fuzz_contracts"]


def log(msg):
    print(msg, flush=True)


def find_clang():
    for cc, cxx in (("clang", "clang++"), ("clang-14", "clang++-14")):
        if shutil.which(cc) and shutil.which(cxx):
            return cc, cxx
    return None


def build_engine_harnesses(cmake, clang):
    env = dict(os.environ, CC=clang[0], CXX=clang[1])
    env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    if not (BUILD / "CMakeCache.txt").exists():
        subprocess.run([cmake, "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DORVANE_FUZZ=ON",
                        "-DORVANE_PYTHON_MODULES=OFF", "-DORVANE_BUILD_TESTS=OFF"],
                       env=env, check=True, stdout=subprocess.DEVNULL)
    else:
        # A new engine source or harness appears through a re-configure.
        subprocess.run([cmake, str(BUILD)], env=env, check=True, stdout=subprocess.DEVNULL)
    subprocess.run([cmake, "--build", str(BUILD), "-j", env["CMAKE_BUILD_PARALLEL_LEVEL"]],
                   env=env, check=True, stdout=subprocess.DEVNULL)
    names = (BUILD / "fuzz" / "fuzzers.txt").read_text().split()
    missing = [n for n in names if not (BUILD / "fuzz" / n).exists()]
    if missing:
        raise SystemExit("fuzz: harnesses listed but not built: " + ", ".join(missing))
    return names


def make_seeds(python, names):
    seeds = BUILD / "seeds"
    subprocess.run([python, str(FUZZ / "make_seeds.py"), str(seeds)] + names, check=True)
    return seeds


STAT = re.compile(r"stat::number_of_executed_units:\s*(\d+)")
PROGRESS = re.compile(r"^#(\d+)\s")
PLAIN = re.compile(r"^executions:\s*(\d+)", re.M)


def run_one(name, cmd, corpus, seeds, artifacts, seconds, runs, env):
    """Runs one harness; returns (name, executions, seconds, findings, tail)."""
    corpus.mkdir(parents=True, exist_ok=True)
    shutil.rmtree(artifacts, ignore_errors=True)
    artifacts.mkdir(parents=True, exist_ok=True)
    args = cmd + [f"-max_total_time={seconds}", f"-runs={runs}", "-print_final_stats=1",
                  "-timeout=25", "-rss_limit_mb=2560", "-max_len=65536",
                  f"-artifact_prefix={artifacts}/", str(corpus)]
    if seeds.is_dir():
        args.append(str(seeds))
    start = time.time()
    proc = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                          cwd=str(artifacts))
    elapsed = time.time() - start
    out = proc.stdout.decode("utf-8", "replace")
    (artifacts.parent / f"{name}.log").write_text(out)
    m = STAT.search(out) or PLAIN.search(out)
    if m:
        execs = int(m.group(1))
    else:
        nums = [int(p.group(1)) for p in map(PROGRESS.match, out.splitlines()) if p]
        execs = max(nums) if nums else 0
    found = [p for p in artifacts.iterdir()]
    failed = proc.returncode != 0 or bool(found)
    tail = "\n".join(out.splitlines()[-40:]) if failed else ""
    return name, execs, elapsed, len(found) or (1 if failed else 0), tail


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=int, default=int(os.environ.get("FUZZ_SECONDS", 600)))
    ap.add_argument("--runs", type=int, default=int(os.environ.get("FUZZ_RUNS", 1000000)))
    ap.add_argument("--jobs", type=int, default=int(os.environ.get("FUZZ_JOBS", 1)))
    ap.add_argument("--only", default=os.environ.get("FUZZ_ONLY", ""))
    ap.add_argument("--smoke", action="store_true")
    ap.add_argument("--python", default=sys.executable,
                    help="interpreter with orvane installed (Python harnesses, seeds)")
    ap.add_argument("--python-preload", default="",
                    help="LD_PRELOAD for the Python harnesses (sanitizer runtimes)")
    ap.add_argument("--cmake", default=shutil.which("cmake") or "cmake")
    a = ap.parse_args()
    if a.smoke:
        a.seconds, a.runs = int(os.environ.get("FUZZ_SMOKE_SECONDS", 3)), -1
    only = set(filter(None, a.only.split(",")))

    jobs = []
    clang = find_clang()
    if clang is None:
        log("fuzz: clang not found; the engine harnesses need it "
            "(install the Debian packages clang and libclang-rt-14-dev)")
        return 2
    engine = build_engine_harnesses(a.cmake, clang)
    missing = [n for n in PY_HARNESSES if not (FUZZ / "python" / f"{n}.py").exists()]
    if missing:
        log("fuzz: Python harnesses missing from fuzz/python/: " + ", ".join(missing))
        return 2
    unknown = only - set(engine) - set(PY_HARNESSES)
    if unknown:
        log("fuzz: no harness named " + ", ".join(sorted(unknown)))
        return 2
    engine = [n for n in engine if not only or n in only]
    python = [n for n in PY_HARNESSES if not only or n in only]
    seeds_root = make_seeds(a.python, engine + python)

    san_env = dict(os.environ)
    san_env.setdefault("ASAN_OPTIONS", "detect_leaks=1:allocator_may_return_null=1")
    san_env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
    for name in engine:
        jobs.append((name, [str(BUILD / "fuzz" / name)], san_env))
    py_env = dict(os.environ)
    if a.python_preload:
        py_env["LD_PRELOAD"] = a.python_preload
        # CPython keeps its own objects alive at exit; leaks are the leak
        # check's business (make leakcheck), not the fuzzers'.
        py_env["ASAN_OPTIONS"] = "detect_leaks=0:allocator_may_return_null=1"
        py_env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1"
    py_env["PYTHONPATH"] = str(FUZZ / "python")
    for name in python:
        jobs.append((name, [a.python, str(FUZZ / "python" / f"{name}.py")], py_env))

    if not jobs:
        log("fuzz: no harness to run")
        return 2
    kind = "smoke" if a.smoke else "run"
    log(f"fuzz {kind}: {len(jobs)} harnesses, each up to {a.seconds} s"
        + (f" or {a.runs} executions" if a.runs > 0 else "") + f", {a.jobs} at a time")

    def work(job):
        name, cmd, env = job
        return run_one(name, cmd, BUILD / "corpus" / name, seeds_root / name,
                       BUILD / "artifacts" / name, a.seconds, a.runs, env)

    results = []
    with ThreadPoolExecutor(max_workers=max(1, a.jobs)) as pool:
        for r in pool.map(work, jobs):
            name, execs, elapsed, findings, tail = r
            log(f"  {name:20s} executions {execs:>10,d}  seconds {elapsed:7.1f}  findings {findings}")
            if tail:
                log(tail)
            results.append(r)
    bad = [r for r in results if r[3]]
    log(f"fuzz {kind}: {len(results) - len(bad)} harnesses clean, {len(bad)} with findings")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
