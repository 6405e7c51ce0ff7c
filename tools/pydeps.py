#!/usr/bin/env python3
"""Prints the requirements a development environment installs, one a line,
read from pyproject.toml: the build requirements, the package's dependencies
and the optional-dependency groups named on the command line.

    pydeps.py [--no-build] [--no-project] [EXTRA ...]

The Makefile installs this list into its virtual environments and builds
the package itself with `pip install --no-build-isolation --no-deps`, so
pyproject.toml is the one place that names the development dependencies.
"""

import sys
from pathlib import Path

try:
    import tomllib
except ImportError:  # before 3.11: pip carries the same parser
    from pip._vendor import tomli as tomllib

ROOT = Path(__file__).resolve().parent.parent


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    flags = set(argv[1:]) - set(args)
    unknown = flags - {"--no-build", "--no-project"}
    if unknown:
        print("pydeps.py: unknown option " + " ".join(sorted(unknown)), file=sys.stderr)
        return 2
    with open(ROOT / "pyproject.toml", "rb") as f:
        meta = tomllib.load(f)
    extras = meta["project"].get("optional-dependencies", {})
    reqs = []
    if "--no-build" not in flags:
        reqs += meta["build-system"]["requires"]
    if "--no-project" not in flags:
        reqs += meta["project"].get("dependencies", [])
    for name in args:
        if name not in extras:
            print("pydeps.py: pyproject.toml has no extra %r (it has: %s)"
                  % (name, ", ".join(sorted(extras))), file=sys.stderr)
            return 2
        reqs += extras[name]
    print("\n".join(dict.fromkeys(reqs)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
