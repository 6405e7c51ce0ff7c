"""The signing module in the life of a process: what it leaves on standard
output and standard error, and children made by os.fork() while its threads
sign."""

import json
import re
import urllib.parse
from pathlib import Path

import pytest

from hostile import assert_survives
from seal_support import LibcryptoVerifier, cms_verify, pki, run_fresh  # noqa: F401

HEADER = re.compile(r"^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \(PID=(\d+)\) (DEBUG| INFO| WARN|ERROR|PARAM) ")
DOCUMENT = {"orders": [1, 2], "note": "a program's own output"}

SIGN_AND_PRINT = """
    import json, os, orvane.TWCA.seal as seal
    if {how!r} == "init_seal":
        seal.init_seal(pki["pfx_user"], pki["password"])
        seal.get_sign("x")
    else:
        s = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", "10.1.2.3")
        s.sign("x")
    print(json.dumps({document!r}))
    print("PID", os.getpid(), file=__import__("sys").stderr)
"""


def log_files(folder):
    return sorted(p for p in Path(folder, "logs").iterdir()) if Path(folder, "logs").is_dir() else []


# A session at the default WARN level writes no line of its own to a file;
# the lines held from before the level was read (DEBUG ones among them) go to
# the day's file, and standard output carries only what the program prints
# (init_seal adds its own "Seal Initial Done.").
@pytest.mark.parametrize("how", ["session", "init_seal"])
def test_standard_output_is_the_programs(pki, tmp_path, how):
    r = run_fresh(SIGN_AND_PRINT.format(how=how, document=DOCUMENT), tmp_path, pki)
    expected = ("Seal Initial Done.\n" if how == "init_seal" else "") + json.dumps(DOCUMENT) + "\n"
    assert r.stdout == expected
    assert not any(HEADER.match(line) for line in r.stderr.splitlines()), r.stderr[:2000]
    files = log_files(tmp_path)
    assert len(files) == 1
    lines = files[0].read_bytes().decode("cp950").splitlines()
    pid = re.search(r"PID (\d+)", r.stderr).group(1)
    assert lines[0] == lines[0][:24] + "(PID=%s)  INFO begin TWCASign::MakeTWCASignPasswd()" % pid
    assert any(" DEBUG Insert MAP Name = LOG.level" in line for line in lines)


# When no log file is ever set (here "logs" is a file, so the folder cannot be
# made), the held lines are written to standard error at exit.
def test_lines_without_a_log_file_go_to_standard_error(pki, tmp_path):
    (tmp_path / "logs").write_text("not a folder")
    r = run_fresh(SIGN_AND_PRINT.format(how="session", document=DOCUMENT), tmp_path, pki)
    assert r.stdout == json.dumps(DOCUMENT) + "\n"
    held = [line for line in r.stderr.splitlines() if HEADER.match(line)]
    assert held and held[0].endswith(" INFO begin TWCASign::MakeTWCASignPasswd()")
    assert any(line.endswith("DEBUG Insert MAP Name = LOG.level") for line in held)
    assert (tmp_path / "logs").read_text() == "not a folder"


FORKS = 20

# The parent keeps its store thread signing without pause (a batch of 10,000)
# and another thread activating the session and signing with the module
# functions; it forks while they work. Each child signs with the session
# (get_sign, sign: its store has no thread, so sign signs on the caller's
# thread once the store is empty), activates it, signs with the module
# functions, and exits: half through os._exit, half through sys.exit, which
# runs the interpreter's and the C library's exit handlers. A child that hangs
# is ended by SIGALRM and the parent stops forking.
FORK_WHILE_SIGNING = """
    import json, os, signal, sys, threading, time, traceback, warnings
    from pathlib import Path
    warnings.simplefilter("ignore", DeprecationWarning)   # fork() with threads, 3.12 on
    pki = json.load(open({manifest!r}))
    out = Path({out!r})
    import orvane.TWCA.seal as seal
    folder = Path(seal.__file__).parent
    seal.init_seal(pki["pfx_user"], pki["password"])
    s = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", "10.1.2.3", store=100000)
    stop = False

    def churn():
        while not stop:
            s.activate(Path(pki["pfx_user"]), pki["password"], folder)
            seal.get_sign("parent thread")

    threading.Thread(target=churn, daemon=True).start()
    time.sleep(0.2)
    statuses = []
    for i in range({forks}):
        pid = os.fork()
        if pid == 0:
            signal.alarm(30)   # a child that hangs ends here, not never
            try:
                os.chdir(str(out))   # the child's own properties files
                mine = out / str(i)
                mine.mkdir()
                (mine / "get_sign").write_bytes(s.get_sign("child %d" % i))
                (mine / "sign").write_text(s.sign("ignored"))
                assert s.activate(Path(pki["pfx_user"]), pki["password"], folder) is True
                (mine / "module").write_bytes(seal.get_sign("module %d" % i))
            except BaseException:
                traceback.print_exc()
                os._exit(3)
            if i % 2:
                os._exit(0)
            sys.exit(0)
        statuses.append(os.waitpid(pid, 0)[1])
        if statuses[-1]:
            break
    stop = True
    print(json.dumps(statuses))
"""


def test_children_forked_while_threads_sign_can_sign_and_exit(pki, tmp_path):
    manifest = str(Path(pki["folder"]) / "manifest.json")
    out = tmp_path / "children"
    out.mkdir()
    stdout = assert_survives(FORK_WHILE_SIGNING.format(manifest=manifest, out=str(out), forks=FORKS),
                             timeout=120, cwd=str(tmp_path))
    assert stdout == "Seal Initial Done.\n" + json.dumps([0] * FORKS) + "\n"
    verifier = LibcryptoVerifier()
    for i in range(FORKS):
        mine = out / str(i)
        assert verifier.content((mine / "get_sign").read_bytes()) == b"child %d" % i
        assert verifier.content((mine / "module").read_bytes()) == b"module %d" % i
        signed = verifier.content(urllib.parse.unquote((mine / "sign").read_text()))
        assert signed.startswith(b"A12345678910.1.2.3"), signed
    assert cms_verify((out / "0" / "get_sign").read_bytes(), pki, tmp_path) == b"child 0"
