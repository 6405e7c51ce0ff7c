"""Every compiled module of the package ships its type stub (make test runs
mypy's stubtest over all the stubs, so a module without one would go unchecked)."""

import importlib.machinery
from pathlib import Path

import orvane

PACKAGE = Path(orvane.__file__).parent


def compiled_modules():
    found = []
    for suffix in importlib.machinery.EXTENSION_SUFFIXES:
        for path in PACKAGE.rglob("*" + suffix):
            found.append(path.with_name(path.name[: -len(suffix)]))
    return sorted(set(found))


def test_each_compiled_module_has_a_stub_beside_it():
    modules = compiled_modules()
    assert {m.name for m in modules} >= {"quote", "depth", "_certcheck"}
    missing = [str(m.relative_to(PACKAGE)) for m in modules if not m.with_suffix(".pyi").is_file()]
    assert missing == []


def test_the_package_says_it_is_typed():
    assert (PACKAGE / "py.typed").is_file()
