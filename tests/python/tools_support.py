"""Helpers of the command-line tool tests: the test PKI and a runner that
starts `python -m orvane.TWCA` in a fresh process (the engine's log is
process-wide, and the commands are meant to run as their own process)."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "fixtures"))

from make_pki import make_pki  # noqa: E402


@pytest.fixture(scope="session")
def pki(tmp_path_factory):
    return make_pki(tmp_path_factory.mktemp("pki"))


class Run:
    def __init__(self, proc, tmp):
        self.status = proc.returncode
        self.out_bytes = proc.stdout
        self.err_bytes = proc.stderr
        self.out = proc.stdout.decode("utf-8", "replace")
        self.err = proc.stderr.decode("utf-8", "replace")
        self.tmp = tmp

    @property
    def err_lines(self):
        return self.err.splitlines()


def run_cli(tmp_path, *args, env=None, stdin=None, cwd=None, command=None):
    """Runs the tools in a fresh process with its own TMPDIR and working
    directory (both under tmp_path, so what they leave behind can be seen)."""
    tmp = tmp_path / "tmp"
    work = Path(cwd) if cwd else tmp_path / "cwd"
    tmp.mkdir(exist_ok=True)
    work.mkdir(exist_ok=True)
    full_env = {k: v for k, v in os.environ.items() if not k.startswith("ORVANE_TEST_")}
    full_env.update({"TMPDIR": str(tmp), "PYTHONIOENCODING": "utf-8"})
    full_env.update(env or {})
    argv = command or [sys.executable, "-m", "orvane.TWCA"]
    proc = subprocess.run(argv + [str(a) for a in args], cwd=str(work), env=full_env,
                          input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          start_new_session=True, timeout=120)
    return Run(proc, tmp)
