"""Shared helpers of the signing-module tests: the test PKI, signature checks
by real peers (the openssl command, libcrypto itself), and fresh interpreters
for what depends on the process-wide log and chain store."""

import ctypes
import ctypes.util
import json
import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "fixtures"))

from make_pki import make_pki  # noqa: E402

ENGINE_CODES = [1102, 1202, 5002, 5003, 5005, 5010, 5011, 5012, 5017, 5061, 5063, 5204, 5208, 5209, 5901]


@pytest.fixture(scope="session")
def pki(tmp_path_factory):
    """The test PKI (made once per test run): name -> path or value."""
    return make_pki(tmp_path_factory.mktemp("pki"))


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    """A fresh working directory: properties files and logs land here."""
    monkeypatch.chdir(tmp_path)
    return tmp_path


def password_for(pki, name):
    """A password by name: the PKI's ones, "" for none, one whose protected
    form fills the engine's 512 bytes exactly (no room for a terminator), or
    one so long that its protected form no longer fits."""
    special = {"": "", "password_512": "y" * 370, "long_password": "x" * 400}
    return special[name] if name in special else pki[name]


# The broken certificate files of the test PKI, each with the engine code an
# activation with the right password gives: one statement for every caller
# that loads a certificate (sessions, init_seal, the check command).
# "missing" stands for a path where nothing is (see pfx_path).
BAD_PFX = {
    "pfx_garbage": 1102,     # bytes that are no DER
    "pfx_truncated": 1102,   # a good file cut in half
    "pfx_empty": 1102,       # no bytes at all
    "pfx_folder": 1102,      # a folder, not a file
    "missing": 1102,         # nothing at the path
    "pfx_bad_mac": 5208,     # a damaged MAC reads as a wrong password
}

# Passwords (see password_for) that fail with a good file, and their codes:
# from MakeTWCASignPasswd (5005, 5003) or from loading the file (5208).
BAD_PASSWORDS = {
    "wrong_password": 5208,
    "": 5005,
    "password_512": 5208,    # the protected form is 512 characters
    "long_password": 5003,   # the protected form outgrows 512 bytes
}

# Every failed activation: (certificate, password, code).
ACTIVATION_FAILURES = ([(pfx, "password", code) for pfx, code in BAD_PFX.items()]
                       + [("pfx_user", password, code) for password, code in BAD_PASSWORDS.items()])


def pfx_path(pki, name, folder):
    """The path of a certificate by name; "missing" is a path in `folder`
    where nothing is."""
    return pki[name] if name in pki else str(Path(folder) / "missing.pfx")


def properties_files(folder):
    return sorted(p.name for p in Path(folder).iterdir() if p.name.startswith("p7Sign.properties"))


class PeekingPassword(str):
    """A password that, while the module encodes it (the properties file is
    on disk then), records every properties file in the working directory:
    name -> (content, lstat mode)."""

    def __new__(cls, text, seen):
        obj = super().__new__(cls, text)
        obj.seen = seen
        return obj

    def encode(self, *args):
        for p in Path(".").iterdir():
            if p.name.startswith("p7Sign.properties"):
                self.seen[p.name] = (p.read_bytes(), os.lstat(str(p)).st_mode)
        return str(self).encode(*args)


# ---- checking signatures ------------------------------------------------------

def cms_verify(signature, pki, tmp_path):
    """Verifies a base64 signature (bytes or str) with `openssl cms -verify`
    against the test root and intermediate; returns the signed content."""
    if isinstance(signature, str):
        signature = signature.encode("ascii")
    der = tmp_path / "sig.der"
    der.write_bytes(__import__("base64").b64decode(signature, validate=True))
    out = tmp_path / "content.bin"
    r = subprocess.run(["openssl", "cms", "-verify", "-inform", "DER", "-in", str(der), "-binary",
                        "-CAfile", pki["chain_pem"],
                        "-purpose", "any", "-out", str(out)],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert "Verification successful" in r.stderr
    return out.read_bytes()


def cms_structure(signature, tmp_path):
    """The printed structure of a signature (`openssl cms -cmsout -print`)."""
    if isinstance(signature, str):
        signature = signature.encode("ascii")
    der = tmp_path / "struct.der"
    der.write_bytes(__import__("base64").b64decode(signature))
    r = subprocess.run(["openssl", "cms", "-cmsout", "-print", "-inform", "DER", "-in", str(der)],
                       capture_output=True, text=True, check=True)
    return r.stdout


def assert_sha256_signed_data(structure):
    """One SHA-256 digest algorithm, one signer with SHA-256 and no signed
    attributes, the content embedded."""
    import re
    assert re.search(r"digestAlgorithms:\s+algorithm: sha256 ", structure)
    assert len(re.findall(r"\bdigestAlgorithm: \s+algorithm: sha256 ", structure)) == 1
    assert re.search(r"signedAttrs:\s+<ABSENT>", structure)
    assert re.search(r"eContentType: pkcs7-data", structure)


def embedded_certificates(signature):
    from cryptography.hazmat.primitives.serialization import pkcs7
    if isinstance(signature, str):
        signature = signature.encode("ascii")
    return pkcs7.load_der_pkcs7_certificates(__import__("base64").b64decode(signature))


class LibcryptoVerifier:
    """Bulk verification through libcrypto's own PKCS7_verify (the signer's
    certificate taken from the signature; no chain check): returns the
    signed content, or None when the signature does not verify."""

    PKCS7_NOVERIFY = 0x20
    BIO_CTRL_INFO = 3

    def __init__(self):
        name = ctypes.util.find_library("crypto") or "libcrypto.so.3"
        lib = ctypes.CDLL(name)
        vp, cp = ctypes.c_void_p, ctypes.c_char_p
        lib.d2i_PKCS7.restype = vp
        lib.d2i_PKCS7.argtypes = [vp, ctypes.POINTER(cp), ctypes.c_long]
        lib.PKCS7_verify.restype = ctypes.c_int
        lib.PKCS7_verify.argtypes = [vp, vp, vp, vp, vp, ctypes.c_int]
        lib.BIO_s_mem.restype = vp
        lib.BIO_new.restype = vp
        lib.BIO_new.argtypes = [vp]
        lib.BIO_ctrl.restype = ctypes.c_long
        lib.BIO_ctrl.argtypes = [vp, ctypes.c_int, ctypes.c_long, vp]
        lib.BIO_free.argtypes = [vp]
        lib.PKCS7_free.argtypes = [vp]
        lib.ERR_clear_error.argtypes = []
        self.lib = lib

    def content(self, signature):
        import base64
        der = base64.b64decode(signature, validate=True)
        lib = self.lib
        buf = ctypes.c_char_p(der)
        p7 = lib.d2i_PKCS7(None, ctypes.byref(buf), len(der))
        if not p7:
            return None
        out = lib.BIO_new(lib.BIO_s_mem())
        try:
            if lib.PKCS7_verify(p7, None, None, None, out, self.PKCS7_NOVERIFY) != 1:
                lib.ERR_clear_error()
                return None
            ptr = ctypes.c_void_p()
            n = lib.BIO_ctrl(out, self.BIO_CTRL_INFO, 0, ctypes.byref(ptr))
            return ctypes.string_at(ptr, n)
        finally:
            lib.BIO_free(out)
            lib.PKCS7_free(p7)


# ---- fresh interpreters ------------------------------------------------------------

def run_fresh(code, cwd, pki, timeout=120, env=None):
    """Runs `code` in a new interpreter in `cwd` with `pki` bound to the
    manifest (and `env` added to the environment); returns the completed
    process (checked for exit status 0)."""
    manifest = Path(pki["folder"]) / "manifest.json"
    prelude = ("import json, sys\n"
               "pki = json.load(open(%r))\n" % str(manifest))
    full_env = dict(os.environ)
    full_env.update(env or {})
    r = subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(code)], cwd=str(cwd),
                       capture_output=True, text=True, errors="replace", timeout=timeout, env=full_env)
    assert r.returncode == 0, "stdout:\n%s\nstderr:\n%s" % (r.stdout, r.stderr)
    return r


@pytest.fixture(scope="session")
def engine_gate(tmp_path_factory):
    """A function gate -> environment: a fresh interpreter run with it holds
    every engine call that opens the log file while the file `gate` exists
    (block_open.c, preloaded); the folder `gate`.waiting exists meanwhile."""
    folder = tmp_path_factory.mktemp("block_open")
    lib = folder / "block_open.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-O1", "-o", str(lib), str(HERE / "block_open.c"), "-ldl"],
                   check=True)
    preload = " ".join(p for p in (os.environ.get("LD_PRELOAD", ""), str(lib)) if p)
    return lambda gate: {"LD_PRELOAD": preload, "ORVANE_BLOCK_OPEN": str(gate)}
