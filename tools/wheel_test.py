#!/usr/bin/env python3
"""Tests a repaired wheel the way a user without OpenSSL would meet it.

    wheel_test.py --python PY --wheel FILE.whl --work DIR

Installs the wheel into a fresh virtual environment of PY, makes a test PKI
(tests/fixtures/make_pki.py), then runs the checks below in a mount namespace
of their own (`unshare -m`, as root; `unshare -r -m` otherwise) where every
libcrypto the dynamic linker knows of is covered by an empty file and
OpenSSL's module folder by an empty tmpfs. There it

- checks that the system's libcrypto and legacy module are really out of
  reach,
- imports every module of the package,
- signs a text with a modern (AES, PBKDF2) and with an RC2-40 PKCS#12 file,
- checks that the process maps exactly one libcrypto, the wheel's own, and
  one legacy provider module, the package's own.

Back outside, `openssl cms -verify` checks both signatures against the test
PKI's chain. Exits non-zero on the first thing that is wrong, after printing
every finding of the inside run.

The script runs with an interpreter that has the test dependencies (the
test PKI needs cryptography); the inside part (--inside) runs with the fresh
environment's interpreter and imports nothing of this tree.
"""

import argparse
import base64
import ctypes
import importlib
import json
import os
import pkgutil
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PERSON, IP = "A123456789", "10.1.2.3"
# name -> (manifest key of the PKCS#12 file, text signed)
SIGNINGS = {
    "modern": ("pfx_user", "wheel test: modern PKCS#12"),
    "rc2-40": ("pfx_legacy", "wheel test: RC2-40 PKCS#12"),
}


def run(cmd, **kw):
    print("+ " + " ".join(str(c) for c in cmd), flush=True)
    return subprocess.run([str(c) for c in cmd], check=True, **kw)


# ---- outside: set up, run the inside part hidden, verify -----------------------

def system_libcrypto():
    """Every libcrypto file the dynamic linker's cache names (real paths)."""
    out = subprocess.run(["ldconfig", "-p"], check=True, capture_output=True, text=True).stdout
    paths = {os.path.realpath(line.split("=>")[1].strip())
             for line in out.splitlines() if "libcrypto.so" in line and "=>" in line}
    if not paths:
        raise SystemExit("wheel test: ldconfig -p names no libcrypto; nothing to hide")
    return sorted(paths)


def system_modules_dir():
    out = subprocess.run(["openssl", "version", "-m"], check=True, capture_output=True, text=True).stdout
    folder = out.split(":", 1)[1].strip().strip('"')
    if not Path(folder, "legacy.so").is_file():
        raise SystemExit("wheel test: no legacy.so in OpenSSL's module folder %s" % folder)
    return folder


def verify(pki, sig_file, text, work):
    der = work / (sig_file.stem + ".der")
    der.write_bytes(base64.b64decode(sig_file.read_bytes(), validate=True))
    content = work / (sig_file.stem + ".content")
    r = subprocess.run(["openssl", "cms", "-verify", "-inform", "DER", "-in", str(der), "-binary",
                        "-CAfile", pki["chain_pem"], "-purpose", "any", "-out", str(content)],
                       capture_output=True, text=True)
    ok = r.returncode == 0 and content.read_bytes() == text.encode()
    print("  openssl cms -verify %-8s %s%s" % (sig_file.stem, r.stderr.strip(),
                                                "" if ok else "  <- FAILED"), flush=True)
    return ok


def outside(a):
    work = Path(a.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    wheel = Path(a.wheel).resolve()
    print("wheel test: %s (%.1f MiB)" % (wheel.name, wheel.stat().st_size / 2**20), flush=True)

    venv = work / "venv"
    run([a.python, "-m", "venv", venv])
    vpy = venv / "bin" / "python"
    run([vpy, "-m", "pip", "install", "-q", wheel])

    sys.path.insert(0, str(ROOT / "tests" / "fixtures"))
    from make_pki import make_pki
    pki = make_pki(work / "pki")

    hide = system_libcrypto()
    modules = system_modules_dir()
    out = work / "signatures"
    out.mkdir()
    cwd = work / "cwd"
    cwd.mkdir()
    unshare = ["unshare", "-m"] if os.geteuid() == 0 else ["unshare", "-r", "-m"]
    cmd = unshare + [vpy, "-I", Path(__file__).resolve(), "--inside",
                     "--pki", work / "pki" / "manifest.json", "--out", out,
                     "--empty", work / "empty", "--modules-dir", modules] + hide
    (work / "empty").write_bytes(b"")
    inside_rc = subprocess.run([str(c) for c in cmd], cwd=str(cwd)).returncode

    print("outside the namespace:", flush=True)
    verified = True
    for name, (_, text) in SIGNINGS.items():
        sig = out / (name + ".b64")
        if sig.exists():
            verified &= verify(pki, sig, text, work)
        else:
            print("  %-8s no signature to verify" % name)
            verified = False
    if inside_rc or not verified:
        print("wheel test: FAILED", flush=True)
        return 1
    print("wheel test: passed", flush=True)
    return 0


# ---- inside: hidden system OpenSSL ------------------------------------------------

def mapped(pattern):
    with open("/proc/self/maps") as f:
        return sorted({line.split(None, 5)[5].strip() for line in f
                       if len(line.split(None, 5)) == 6 and pattern in line.split(None, 5)[5]})


def inside(a):
    problems = []

    def check(ok, what):
        print("  %-4s %s" % ("ok" if ok else "FAIL", what), flush=True)
        if not ok:
            problems.append(what)

    print("inside the namespace:", flush=True)
    for path in a.hide:
        subprocess.run(["mount", "--bind", a.empty, path], check=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=1k", "none", a.modules_dir], check=True)
    try:
        ctypes.CDLL("libcrypto.so.3")
        reachable = True
    except OSError:
        reachable = False
    check(not reachable, "the system's libcrypto does not load (%s hidden)" % ", ".join(a.hide))
    check(os.listdir(a.modules_dir) == [], "OpenSSL's module folder %s is empty" % a.modules_dir)

    import orvane
    pkg_dir = Path(orvane.__file__).resolve().parent
    check(str(pkg_dir).startswith(os.path.realpath(sys.prefix)), "orvane comes from the wheel: %s" % pkg_dir)
    names, failed = [], []
    for info in pkgutil.walk_packages(orvane.__path__, "orvane."):
        try:
            importlib.import_module(info.name)
            names.append(info.name)
        except Exception as e:
            failed.append("%s (%s: %s)" % (info.name, type(e).__name__, e))
    check(not failed and len(names) > 6, "imported %d modules%s" % (
        len(names), ": " + ", ".join(failed) if failed else ""))

    from orvane.TWCA import seal
    with open(a.pki) as f:
        pki = json.load(f)
    for name, (key, text) in SIGNINGS.items():
        try:
            signer = seal.PyTWCASign(pki[key], pki["password"], PERSON, IP)
            Path(a.out, name + ".b64").write_bytes(signer.get_sign(text))
            check(True, "signed with the %s PKCS#12 file" % name)
        except Exception as e:
            check(False, "signing with the %s PKCS#12 file: %s: %s" % (name, type(e).__name__, e))

    libs = pkg_dir.parent / "orvane.libs"
    crypto = mapped("libcrypto")
    check(len(crypto) == 1 and all(p.startswith(str(libs)) for p in crypto),
          "one libcrypto mapped, the wheel's: %s" % ", ".join(crypto))
    legacy = mapped("legacy.so")
    own_legacy = pkg_dir / "TWCA" / "ossl-modules" / "legacy.so"
    check(legacy == [str(own_legacy)],
          "the legacy provider mapped, the package's: %s" % (", ".join(legacy) or "none"))
    return 1 if problems else 0


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--inside", action="store_true")
    ap.add_argument("--python", help="interpreter of the fresh environment")
    ap.add_argument("--wheel")
    ap.add_argument("--work")
    ap.add_argument("--pki")
    ap.add_argument("--out")
    ap.add_argument("--empty")
    ap.add_argument("--modules-dir")
    ap.add_argument("hide", nargs="*")
    a = ap.parse_args(argv[1:])
    if a.inside:
        return inside(a)
    if not (a.python and a.wheel and a.work):
        ap.error("--python, --wheel and --work are required")
    return outside(a)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
