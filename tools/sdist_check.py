#!/usr/bin/env python3
"""Checks the source distribution the way a user installing from it meets it.

    sdist_check.py --python PY --work DIR

Makes the sdist (`python -m build --sdist`), compares its files with the
files git tracks (every tracked file is in it; nothing else is, so no build
folder, virtual environment, log or compiled module slips in), then installs
it into a fresh virtual environment of PY with pip's ordinary isolated build
and imports every module of the package from there, outside this tree.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tarfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

IMPORT_ALL = """
import importlib, os, pkgutil, sys
import orvane
assert os.path.realpath(orvane.__file__).startswith(os.path.realpath(sys.prefix)), orvane.__file__
names = [m.name for m in pkgutil.walk_packages(orvane.__path__, "orvane.")]
for name in names:
    importlib.import_module(name)
print("imported %d modules from %s" % (len(names), os.path.dirname(orvane.__file__)))
"""


def run(cmd, **kw):
    print("+ " + " ".join(str(c) for c in cmd), flush=True)
    return subprocess.run([str(c) for c in cmd], check=True, **kw)


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--python", required=True, help="interpreter of the fresh environment")
    ap.add_argument("--work", required=True)
    a = ap.parse_args(argv[1:])
    work = Path(a.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)

    run([sys.executable, "-m", "build", "--sdist", "--no-isolation", "--outdir", work / "dist", ROOT])
    sdists = list((work / "dist").glob("*.tar.gz"))
    if len(sdists) != 1:
        raise SystemExit("sdist check: expected one sdist, found %s" % sdists)
    sdist = sdists[0]
    with tarfile.open(str(sdist)) as tar:
        members = {m.name.split("/", 1)[1] for m in tar.getmembers() if m.isfile()}
    tracked = set(subprocess.run(["git", "ls-files"], cwd=str(ROOT), check=True,
                                 capture_output=True, text=True).stdout.split("\n")) - {""}
    missing = sorted(tracked - members)
    extra = sorted(members - tracked - {"PKG-INFO"})
    print("sdist %s: %d files, %.0f KiB" % (sdist.name, len(members), sdist.stat().st_size / 1024))
    if missing or extra:
        for name in missing:
            print("  missing from the sdist: " + name)
        for name in extra:
            print("  in the sdist but not tracked: " + name)
        print("sdist check: FAILED")
        return 1

    run([a.python, "-m", "venv", work / "venv"])
    vpy = work / "venv" / "bin" / "python"
    env = dict(os.environ, CMAKE_BUILD_PARALLEL_LEVEL="2")
    run([vpy, "-m", "pip", "install", "-q", sdist], env=env, cwd=str(work))
    run([vpy, "-I", "-c", IMPORT_ALL], cwd=str(work))
    print("sdist check: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
