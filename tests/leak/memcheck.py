#!/usr/bin/env python3
"""valgrind memcheck over a short signing and decoding script (make leakcheck).

Runs memcheck_workload.py under `valgrind --tool=memcheck` with CPython's own
allocator switched to malloc (PYTHONMALLOC=malloc), so that every object is
seen by memcheck. Fails on any invalid read or write, invalid or mismatched
free, on a use of an uninitialised value whose innermost frame lies in our
code (the orvane extension modules or the signing engine), and on a
definitely lost block whose allocation stack passes through our code.

What is left is the interpreter's own and is counted, not failed: CPython
3.11 keeps interned strings for the life of the process (memcheck calls a few
of them definitely lost), and its optimised integer code reads bits memcheck
considers uninitialised (a pure-Python `int("5901")` shows the same reports;
with --track-origins their origin is CPython's own _PyLong_New).
No suppression file is needed: the reports are told apart by their frames.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent

OURS = re.compile(r"(/orvane/[^ )]*\.so|native/|TWCASign|cPkcs12|cCert|cCrl|cProperty|cLog|cBytes|cChars|"
                  r"cFile|cX509|cAesCipher|PyTWCASign|convertUniCode)")


def blocks(text):
    """The reports of a memcheck log: lists of lines, each starting with a
    line that follows an empty '==pid==' line."""
    out, cur = [], []
    for line in text.splitlines():
        body = re.sub(r"^==\d+== ?", "", line)
        if not body.strip():
            if cur:
                out.append(cur)
            cur = []
        else:
            cur.append(body)
    if cur:
        out.append(cur)
    return out


def main():
    if not shutil.which("valgrind"):
        print("memcheck: valgrind not found (Debian package valgrind)")
        return 2
    work = Path(tempfile.mkdtemp(prefix="orvane-memcheck-"))
    try:
        sys.path.insert(0, str(ROOT / "tests" / "fixtures"))
        from make_pki import make_pki
        pki = make_pki(work / "pki")
        logfile = work / "memcheck.log"
        cmd = ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite",
               "--num-callers=40", "--track-origins=yes",
               "--log-file=%s" % logfile, sys.executable, str(HERE / "memcheck_workload.py"),
               str(Path(pki["folder"]) / "manifest.json")]
        env = dict(os.environ, PYTHONMALLOC="malloc")
        r = subprocess.run(cmd, cwd=str(work), env=env, capture_output=True, text=True)
        log = logfile.read_text(errors="replace")
        if (ROOT / "build").is_dir():
            shutil.copy(logfile, ROOT / "build" / "memcheck.log")   # kept for a closer look
        if r.returncode != 0 or "workload done" not in r.stdout:
            print("memcheck: the workload failed (exit %d)\n%s\n%s" % (r.returncode, r.stdout[-2000:],
                                                                    r.stderr[-4000:]))
            return 1
        kinds = {"Invalid read": 0, "Invalid write": 0, "Invalid free": 0, "Mismatched free": 0,
                 "uninitialised (ours)": 0, "uninitialised (other)": 0,
                 "definitely lost (ours)": 0, "definitely lost (other)": 0}
        bad = []
        for b in blocks(log):
            head = b[0]
            for k in ("Invalid read", "Invalid write", "Invalid free", "Mismatched free"):
                if head.startswith(k):
                    kinds[k] += 1
                    bad.append(b)
            if "uninitialised" in head:
                # Ours when the value is used in our code and was made there:
                # a value that CPython's own integer code left undefined (its
                # origin an allocation of _PyLong_New) is the interpreter's.
                cut = next((i for i, line in enumerate(b) if "Uninitialised value was created" in line), len(b))
                frames = [line for line in b[1:cut] if line.strip().startswith(("at ", "by "))]
                origin = [line for line in b[cut + 1:] if line.strip().startswith(("at ", "by "))
                          and "malloc" not in line and "vgpreload" not in line]
                made_here = not origin or OURS.search(origin[0])
                if frames and OURS.search(frames[0]) and made_here:
                    kinds["uninitialised (ours)"] += 1
                    bad.append(b)
                else:
                    kinds["uninitialised (other)"] += 1
            if "definitely lost in loss record" in head:
                if any(OURS.search(line) for line in b[1:]):
                    kinds["definitely lost (ours)"] += 1
                    bad.append(b)
                else:
                    kinds["definitely lost (other)"] += 1
        summary = [ln for ln in log.splitlines() if re.search(r"(definitely|indirectly|possibly) lost:|"
                                                              r"ERROR SUMMARY", ln)]
        print("memcheck: " + ", ".join("%s %d" % kv for kv in kinds.items()))
        for ln in summary:
            print("  " + re.sub(r"^==\d+== ?", "", ln))
        for b in bad[:10]:
            print("\n".join("  | " + ln for ln in b[:30]))
        print("memcheck: %s" % ("clean" if not bad else "FAILED (%d reports)" % len(bad)))
        return 1 if bad else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
