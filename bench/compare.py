"""The records' and contract lists' ratios over several runs, on several
interpreters, optionally beside another build (an earlier commit).

Runs bench/records.py and bench/contracts.py several times with each
interpreter given (each a venv's python with orvane installed: the scripts
come from this checkout, the modules from that venv) and prints one table:
for each case and interpreter, the median over the runs of the make times
and of the ratios twin / compiled, compiled / floor and, for the factories,
their own work / floor. With --before, the same for a second set of
interpreters, paired in order, shown in brackets.

    python3 bench/compare.py [--runs 5,3] PYTHON ... [--before PYTHON ...]

--runs gives the runs of records.py and of contracts.py (default 5,3).
"""

import os
import re
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import measure  # noqa: E402

UNITS = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "x": 1.0}


def value(cell):
    m = re.match(r"([\d.]+)\s*(ms|us|ns|x)$", cell)
    if not m:
        raise ValueError("not a figure: %r" % cell)
    return float(m.group(1)) * UNITS[m.group(2)]


def tables(text):
    """{case: (main row cells, own-work row cells or None)} from one run."""
    main, own = {}, {}
    for line in text.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if not cells[0] or cells[0].startswith(("case", "---")):
            continue
        if len(cells) == 12:
            main[cells[0]] = cells
        elif len(cells) == 6:
            own[cells[0]] = cells
    return {case: (cells, own.get(case)) for case, cells in main.items()}


def medians(python, runs):
    """{case: {figure: median}} for one interpreter."""
    per_case = {}
    for script, n in (("records.py", runs[0]), ("contracts.py", runs[1])):
        for _ in range(n):
            out = subprocess.run([python, os.path.join(HERE, script)], check=True,
                                 stdout=subprocess.PIPE, universal_newlines=True).stdout
            for case, (cells, own) in tables(out).items():
                figures = per_case.setdefault(case, {})
                for key, i in (("compiled", 2), ("twin", 3), ("floor", 4), ("twin/compiled", 5),
                               ("compiled/floor", 6)):
                    figures.setdefault(key, []).append(value(cells[i]))
                if own:
                    figures.setdefault("own/floor", []).append(value(own[5]))
    return {case: {k: statistics.median(v) for k, v in figures.items()}
            for case, figures in per_case.items()}


def version(python):
    return subprocess.run([python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                          check=True, stdout=subprocess.PIPE, universal_newlines=True).stdout.strip()


def main():
    args = sys.argv[1:]
    runs = (5, 3)
    if args[:1] == ["--runs"]:
        runs = tuple(int(x) for x in args[1].split(","))
        args = args[2:]
    after, before = args, []
    if "--before" in args:
        k = args.index("--before")
        after, before = args[:k], args[k + 1:]
        if len(before) != len(after):
            sys.exit("--before needs as many interpreters as are compared")
    if not after:
        sys.exit(__doc__)
    results = [(version(p), medians(p, runs), medians(b, runs) if before else None)
               for p, b in zip(after, before or [None] * len(after))]
    print("median of %d runs of records.py and %d of contracts.py; make times; %s"
          % (runs[0], runs[1], "in brackets: the build compared against" if before else ""))
    print("| case | CPython | compiled | twin | floor | twin / compiled | compiled / floor "
          "| own work / floor |")
    print("|---|---|---:|---:|---:|---:|---:|---:|")
    cases = list(results[0][1])
    for case in cases:
        for i, (ver, now, then) in enumerate(results):
            f = now[case]

            def ratio(key, digits):
                if key not in f:
                    return ""
                text = "%.*fx" % (digits, f[key])
                if then and key in then.get(case, {}):
                    text += " (%.*fx)" % (digits, then[case][key])
                return text
            print("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
                case if i == 0 else "", ver, measure.fmt(f["compiled"]), measure.fmt(f["twin"]),
                measure.fmt(f["floor"]),
                ratio("twin/compiled", 1), ratio("compiled/floor", 2), ratio("own/floor", 2)))


if __name__ == "__main__":
    main()
