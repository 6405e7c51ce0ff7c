"""`make demo`: runs each demo of examples/ in turn, in its own interpreter."""

import pathlib
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
DEMOS = ["market_demo.py", "http_demo.py", "seal_demo.py"]


def main() -> int:
    missing = [name for name in DEMOS if not (HERE / name).is_file()]
    if missing:
        print("demo missing: {}".format(", ".join(missing)), file=sys.stderr)
        return 1
    for name in DEMOS:
        print("=" * 20, name, "=" * 20, flush=True)
        rc = subprocess.call([sys.executable, str(HERE / name)], cwd=str(HERE.parent))
        if rc:
            print("{} failed with exit status {}".format(name, rc), file=sys.stderr)
            return rc
    return 0


if __name__ == "__main__":
    sys.exit(main())
