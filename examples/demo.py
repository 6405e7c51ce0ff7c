"""`make demo`: runs each demo of examples/ in turn, in its own interpreter."""

import pathlib
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
DEMOS = ["market_demo.py", "http_demo.py", "seal_demo.py"]


def main() -> int:
    ran = 0
    for name in DEMOS:
        path = HERE / name
        if not path.exists():
            continue
        print("=" * 20, name, "=" * 20, flush=True)
        rc = subprocess.call([sys.executable, str(path)], cwd=str(HERE.parent))
        if rc:
            print("{} failed with exit status {}".format(name, rc), file=sys.stderr)
            return rc
        ran += 1
    if not ran:
        print("no demos found", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
