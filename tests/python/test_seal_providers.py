"""Where the signing engine finds OpenSSL's provider modules, and a legacy
PKCS#12 file that cannot be opened told apart from a wrong password.

The providers load once per process, so every case runs in a fresh
interpreter. A package folder is made by copying the built modules into a
temporary folder beside an "ossl-modules" folder that is empty or holds a
link to the system's legacy module."""

import json
import re
import shutil
import subprocess
from pathlib import Path

import pytest

import orvane.TWCA.seal as seal
from orvane.TWCA import _certcheck
from seal_support import pki, run_fresh  # noqa: F401  (pki is a fixture)

MODULE_FOLDER = Path(seal.__file__).parent


def system_modules():
    out = subprocess.run(["openssl", "version", "-m"], capture_output=True, text=True, check=True).stdout
    return re.search(r'MODULESDIR: "(.*)"', out).group(1)


# Activations in a fresh interpreter, each giving "ok" or the SealError text.
# `modules` names how the signing module is imported: installed, or from a
# copied package folder.
ACTIVATIONS = """
    import importlib.util, json, sys
    package = {package!r}
    if package:
        spec = importlib.util.spec_from_file_location("orvane.TWCA.seal", package + "/" + {seal_file!r})
        seal = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(seal)
        spec = importlib.util.spec_from_file_location("orvane.TWCA._certcheck", package + "/" + {check_file!r})
        check = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(check)
    else:
        import orvane.TWCA.seal as seal, orvane.TWCA._certcheck as check

    def outcome(action):
        try:
            action()
            return "ok"
        except seal.SealError as e:
            return str(e)

    print(json.dumps({{
        "legacy": outcome(lambda: seal.PyTWCASign(pki["pfx_legacy"], pki["password"], "A1", None)),
        "legacy_wrong": outcome(lambda: seal.PyTWCASign(pki["pfx_legacy"], pki["wrong_password"], "A1", None)),
        "modern": outcome(lambda: seal.PyTWCASign(pki["pfx_user"], pki["password"], "A1", None).sign("x")),
        "init_seal": outcome(lambda: seal.init_seal(pki["pfx_legacy"], pki["password"])),
        "providers": check.providers(),
        "seal_file": seal.__file__,
    }}))
"""

NO_ALGORITHM = re.compile(r"^TWCA_ERR_PFX_ALGORITHM 5209 .*legacy provider did not load\)$")
WRONG_PASSWORD = re.compile(r"^TWCA_ERR_PFX_PASSWORD 5208 ")


def activations(tmp_path, pki, package=None, env=None):
    work = tmp_path / "work"
    work.mkdir()
    code = ACTIVATIONS.format(package=str(package) if package else None, seal_file=Path(seal.__file__).name,
                              check_file=Path(_certcheck.__file__).name)
    r = run_fresh(code, work, pki, env=env)
    return json.loads(r.stdout.splitlines()[-1])


def package_copy(tmp_path, legacy_module):
    """The signing module and the check's module with what they read beside
    them (cError.h, P7B), and an "ossl-modules" folder."""
    package = tmp_path / "package"
    package.mkdir()
    for module in (seal, _certcheck):
        shutil.copy2(module.__file__, str(package))
    shutil.copy2(str(MODULE_FOLDER / "cError.h"), str(package))
    (package / "P7B").symlink_to(MODULE_FOLDER / "P7B")
    (package / "ossl-modules").mkdir()
    if legacy_module:
        (package / "ossl-modules" / "legacy.so").symlink_to(Path(system_modules()) / "legacy.so")
    return package


def test_without_the_legacy_module_a_legacy_file_is_not_a_wrong_password(tmp_path, pki):
    empty = tmp_path / "no-modules"
    empty.mkdir()
    r = activations(tmp_path, pki, env={"OPENSSL_MODULES": str(empty)})
    assert r["providers"] == {"legacy": False, "default": True, "module_folder": str(empty),
                              "folder_from": "OPENSSL_MODULES"}
    assert NO_ALGORITHM.match(r["legacy"]), r["legacy"]
    assert NO_ALGORITHM.match(r["init_seal"]), r["init_seal"]
    # The MAC still proves a wrong password wrong; a modern file still signs.
    assert WRONG_PASSWORD.match(r["legacy_wrong"]), r["legacy_wrong"]
    assert r["modern"] == "ok"


@pytest.mark.parametrize("legacy_module, env, loads_legacy, source", [
    (True, False, True, "package"),
    # The package's folder is used even when it lacks the module: the
    # system's one (and the libcrypto it pulls in) is not mapped beside it.
    (False, False, False, "package"),
    # OPENSSL_MODULES still wins over the package's folder.
    (False, True, True, "OPENSSL_MODULES"),
])
def test_the_modules_beside_the_package_serve(tmp_path, pki, legacy_module, env, loads_legacy, source):
    package = package_copy(tmp_path, legacy_module)
    r = activations(tmp_path, pki, package, env={"OPENSSL_MODULES": system_modules()} if env else
                    {"OPENSSL_MODULES": ""})
    assert Path(r["seal_file"]).parent == package
    assert r["providers"]["folder_from"] == source
    assert r["providers"]["legacy"] is loads_legacy
    if source == "package":
        assert r["providers"]["module_folder"] == str(package / "ossl-modules")
    if loads_legacy:
        assert r["legacy"] == "ok" and r["init_seal"] == "ok"
    else:
        assert NO_ALGORITHM.match(r["legacy"]), r["legacy"]
    assert WRONG_PASSWORD.match(r["legacy_wrong"])
    assert r["modern"] == "ok"
