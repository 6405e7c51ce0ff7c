"""Instructions per call of the cases of bench/records.py and bench/contracts.py.

Timings on a shared machine are noisy; the number of instructions executed is
not. This runs the cases under valgrind's callgrind, counting only while
functools.reduce (which drives each block of calls, and which nothing else
here uses) is running, with a dump after each block, and prints per call,
for the compiled function, its twin and the floor: the instructions to make
a result (kept until the block ends, freed outside the count) and to make and
free one in a loop. The count of an empty block is taken off.

    .venv/bin/python bench/instructions.py [--compiled] [case ...]

--compiled counts only the compiled functions (quicker, to confirm a change).
Needs valgrind.
"""

import functools
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

RECORD_CALLS = 200
LIST_CALLS = 2


def _nothing():
    return None


def _make(fn, n):
    kept = functools.reduce(lambda acc, _: (acc.append(fn()), acc)[1], range(n), [])
    del kept  # freed outside the count


def _loop(fn, n):
    functools.reduce(lambda _, __: fn(), range(n), None)


def child(data_path, names, compiled_only):
    import contracts
    import records
    with open(data_path, encoding="utf-8") as f:
        data = json.load(f)
    given = records.given_cases()
    all_cases = [(c, RECORD_CALLS) for c in records.cases()]
    all_cases += [(c, LIST_CALLS) for c in contracts.cases(data, check=not compiled_only)]
    plan = []
    for n in sorted({RECORD_CALLS, LIST_CALLS}):
        for mode, run in (("make", _make), ("loop", _loop)):
            plan.append(("", "empty", mode, n))
            run(_nothing, n)
    for (name, compiled, twin, floor), n in all_cases:
        if names and name not in names:
            continue
        for who, fn in (("compiled", compiled), ("twin", twin), ("floor", floor),
                        ("given", given.get(name))):
            if fn is None or (compiled_only and who not in ("compiled", "given")):
                continue
            for mode, run in (("make", _make), ("loop", _loop)):
                fn()  # warm
                plan.append((name, who, mode, n))
                run(fn, n)
    print(json.dumps(plan))


def main():
    if sys.argv[1:2] == ["--child"]:
        child(sys.argv[2], sys.argv[4:], sys.argv[3] == "1")
        return
    if not shutil.which("valgrind"):
        sys.exit("needs valgrind")
    compiled_only = "--compiled" in sys.argv
    names = [a for a in sys.argv[1:] if not a.startswith("--")]
    import contracts
    tmp = tempfile.mkdtemp(prefix="instructions-")
    try:
        data_path = os.path.join(tmp, "lists.json")
        wanted = {k: v for k, v in contracts.lists().items() if not names or k in names}
        with open(data_path, "w", encoding="utf-8") as f:
            json.dump(wanted, f)
        cmd = ["valgrind", "--tool=callgrind", "--collect-atstart=no",
               "--toggle-collect=functools_reduce", "--dump-after=functools_reduce",
               "--callgrind-out-file=" + os.path.join(tmp, "cg.out"),
               sys.executable, os.path.abspath(__file__), "--child", data_path,
               "1" if compiled_only else "0"] + names
        out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             universal_newlines=True).stdout
        plan = json.loads(out.strip().splitlines()[-1])
        dumps = sorted(glob.glob(os.path.join(tmp, "cg.out.*")), key=lambda p: int(p.rsplit(".", 1)[1]))
        counts = []
        for p in dumps:
            with open(p) as f:
                counts.append(next(int(l.split()[1]) for l in f if l.startswith("summary:")))
        assert len(counts) == len(plan), (len(counts), len(plan))
        empty = {(mode, n): c for (name, who, mode, n), c in zip(plan, counts) if who == "empty"}
        per = {}
        for (name, who, mode, n), c in zip(plan, counts):
            if who != "empty":
                per[(name, who, mode)] = (c - empty[(mode, n)]) / n
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    print("Python %s; instructions per call (callgrind)" % sys.version.split()[0])
    whos = ["compiled"] if compiled_only else ["compiled", "twin", "floor"]
    print("| case | " + " | ".join("make: %s" % w for w in whos) + " | "
          + " | ".join("make+free: %s" % w for w in whos) + " |")
    print("|---|" + "---:|" * (2 * len(whos)))
    seen = []
    for (name, who, mode) in per:
        if name not in seen:
            seen.append(name)
    for name in seen:
        cells = ["{:,.0f}".format(per[(name, w, m)]) for m in ("make", "loop") for w in whos]
        print("| %s | %s |" % (name, " | ".join(cells)))
    factories = [name for name in seen if (name, "given", "make") in per]
    if factories:
        print()
        print("The factories' own work (make): compiled less the caller's share "
              "(**content and datetime_parser)")
        print("| case | compiled | caller's share | own work |" +
              ("" if compiled_only else " floor | own work / floor |"))
        print("|---|---:|---:|---:|" + ("" if compiled_only else "---:|---:|"))
        for name in factories:
            comp, share = per[(name, "compiled", "make")], per[(name, "given", "make")]
            cells = [comp, share, comp - share]
            line = "| %s | %s" % (name, " | ".join("{:,.0f}".format(c) for c in cells))
            if not compiled_only:
                floor = per[(name, "floor", "make")]
                line += " | {:,.0f} | {:.2f}x".format(floor, (comp - share) / floor)
            print(line + " |")


if __name__ == "__main__":
    main()
