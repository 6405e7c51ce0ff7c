"""Signing with the interpreter lock released: threads on one session and on
separate sessions, module functions and sessions mixed with store threads,
activation and init_seal while others sign. Every signature verifies, nothing
deadlocks (fresh interpreters run under a timeout), log lines stay whole, and
the interpreter exits cleanly while threads are inside the engine."""

import re
import threading
import urllib.parse

import pytest

import orvane.TWCA.seal as seal
from seal_support import LibcryptoVerifier, cms_verify, engine_gate, pki, run_fresh, workdir  # noqa: F401

IP = "10.1.2.3"
PER_THREAD = 120


def run_all(workers, timeout=300):
    """Starts every worker together; returns the exceptions they raised."""
    start = threading.Barrier(len(workers))
    errors = []

    def wrap(fn):
        start.wait()
        try:
            fn()
        except BaseException as e:  # reported by the caller
            errors.append(e)

    threads = [threading.Thread(target=wrap, args=(w,)) for w in workers]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout)
        assert not t.is_alive(), "a signing thread did not finish"
    return errors


def signed_content(verifier, signature):
    content = verifier.content(signature)
    assert content is not None, signature[:40]
    return content


@pytest.mark.parametrize("sessions,threads_per_session", [(1, 6), (3, 2), (6, 1)])
def test_threads_on_shared_and_separate_sessions(pki, workdir, sessions, threads_per_session):
    objs = [seal.PyTWCASign(pki["pfx_user"], pki["password"], "S%09d" % i, IP) for i in range(sessions)]
    results = []

    def worker(obj, tag):
        def run():
            for i in range(60):
                text = "%s-%d" % (tag, i)
                if i % 2:
                    results.append((text, obj.get_sign(text)))
                else:
                    results.append((text, urllib.parse.unquote(obj.get_quote_sign(text)).encode()))
        return run

    workers = [worker(o, "s%d.t%d" % (n, k)) for n, o in enumerate(objs) for k in range(threads_per_session)]
    assert run_all(workers) == []
    assert len(results) == 60 * len(workers)
    verifier = LibcryptoVerifier()
    # Each thread gets the signature of its own text: a facade's signature
    # is read under the lock that produced it.
    for text, signature in results:
        assert signed_content(verifier, signature) == text.encode("utf8")
    assert len({t for t, _ in results}) == len(results)


def test_module_functions_sessions_and_store_threads_mixed(pki, workdir, capsys, tmp_path):
    # Threads on the module facade, on a plain session and on a store session
    # (two threads each), every call of each, while the store thread signs.
    assert seal.init_seal(pki["pfx_user"], pki["password"]) == 0
    plain = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", IP)
    stored = seal.PyTWCASign(pki["pfx_legacy"], pki["password"], "B123456789", IP, store=40)
    results = []

    def module_worker(n):
        def run():
            for i in range(PER_THREAD):
                text = "m%d-%d 台" % (n, i)
                kind = i % 3
                if kind == 0:
                    signature = seal.get_sign(text)
                elif kind == 1:
                    signature = urllib.parse.unquote(seal.get_quote_sign(text)).encode()
                else:
                    payload = seal.gen_seal("U%d" % n, text).decode()
                    assert payload.endswith("0000%04d%s%s" % (2, "U%d" % n, "U%d" % n))
                    signature = urllib.parse.unquote(payload[8:8 + int(payload[4:8])]).encode()
                results.append(("big5", text, signature))
        return run

    def session_worker(obj, n):
        def run():
            for i in range(PER_THREAD):
                text = "p%d-%d" % (n, i)
                kind = i % 4
                if kind == 0:
                    results.append(("utf8", text, obj.get_sign(text)))
                elif kind == 1:
                    payload = obj.gen_seal(text).decode()
                    quoted = payload[8:8 + int(payload[4:8])]
                    results.append(("utf8", text, urllib.parse.unquote(quoted).encode()))
                else:
                    # gen_sign signs the text; sign() of a store session hands
                    # out a stored signature (made over no text) while it has one.
                    call = obj.gen_sign if kind == 2 else obj.sign
                    results.append(("stamped", (obj, text), urllib.parse.unquote(call(text)).encode()))
        return run

    workers = [module_worker(n) for n in range(2)]
    workers += [session_worker(plain, 0), session_worker(plain, 1), session_worker(stored, 2),
                session_worker(stored, 3)]
    assert run_all(workers) == []
    assert len(results) == len(workers) * PER_THREAD
    verifier = LibcryptoVerifier()
    from_store = 0
    for kind, what, signature in results:
        content = signed_content(verifier, signature)
        if kind != "stamped":
            assert content == what.encode(kind)
            continue
        obj, text = what
        person = "A123456789" if obj is plain else "B123456789"
        body = content.decode()
        assert body.startswith(person + IP)
        rest = body[len(person + IP):]
        if rest.startswith(text):
            rest = rest[len(text):]
        else:
            assert obj is stored, body
            from_store += 1
        float(rest)  # the time stamp, nothing else
    assert from_store > 0
    # A sample through the openssl command, with the chain.
    cms_verify(results[0][2], pki, tmp_path)
    cms_verify(results[-1][2], pki, tmp_path)


def test_activation_and_init_seal_while_others_sign(pki, workdir, capsys):
    assert seal.init_seal(pki["pfx_user"], pki["password"]) == 0
    obj = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", IP)
    folder = __import__("pathlib").Path(seal.__file__).parent
    stop = threading.Event()
    signed, flags = [], []

    def signer(fn, tag):
        def run():
            i = 0
            while not stop.is_set() or i < 20:
                text = "%s-%d" % (tag, i)
                signed.append((text, fn(text)))
                i += 1
        return run

    def activator():
        try:
            for i in range(8):
                # Alternate the two credentials: each activation replaces the
                # facade's key while the other threads sign with it.
                which = "pfx_legacy" if i % 2 else "pfx_user"
                flags.append(obj.activate(__import__("pathlib").Path(pki[which]), pki["password"], folder))
        finally:
            stop.set()

    def initialiser():
        for _ in range(4):
            assert seal.init_seal(pki["pfx_user"], pki["password"]) == 0

    workers = [signer(obj.get_sign, "a"), signer(obj.get_sign, "b"), signer(seal.get_sign, "c"),
               activator, activator, initialiser]
    assert run_all(workers) == []
    assert flags == [True] * 16
    assert obj.is_activate() is True
    verifier = LibcryptoVerifier()
    for text, signature in signed:
        assert signed_content(verifier, signature) == text.encode("utf8")
    assert not list(workdir.glob("p7Sign.properties*"))


# ---- the interpreter runs while a thread is inside the engine ------------------------------

# The engine's next log line waits inside the engine call (at the open of the
# log file, held by the preloaded block_open.c while the gate file exists)
# until this interpreter's main thread removes the gate, which it can only do
# if the waiting thread released the interpreter lock.
BLOCKED_IN_ENGINE = """
    import os, threading, time, pathlib
    import orvane.TWCA.seal as seal
    seal.init_seal(pki["pfx_user"], pki["password"])      # DEBUG log into ./logs
    obj = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", "10.1.2.3")
    seal.init_seal(pki["pfx_user"], pki["password"])      # back to DEBUG
    folder = pathlib.Path(seal.__file__).parent
    calls = {
        "module get_sign": lambda: seal.get_sign("blocked"),
        "session get_sign": lambda: obj.get_sign("blocked"),
        "session gen_seal": lambda: obj.gen_seal("blocked"),
        "activate": lambda: obj.activate(pathlib.Path(pki["pfx_user"]), pki["password"], folder),
    }
    call = calls[CASE]
    gate = pathlib.Path(os.environ["ORVANE_BLOCK_OPEN"])
    gate.touch()
    out = []
    t = threading.Thread(target=lambda: out.append(call()))
    t.start()
    # Wait (running Python code all along) until the thread sits in the
    # engine, held at the gate.
    waiting = pathlib.Path(str(gate) + ".waiting")
    for _ in range(10000):
        if waiting.is_dir():
            break
        time.sleep(0.001)
    else:
        raise SystemExit("the thread never reached the gate")
    print("main thread ran while the engine was blocked")
    gate.unlink()
    t.join()
    assert out and out[0] is not None
    print("result", type(out[0]).__name__)
"""


@pytest.mark.parametrize("case", ["module get_sign", "session get_sign", "session gen_seal", "activate"])
def test_engine_work_runs_without_the_interpreter_lock(pki, tmp_path, engine_gate, case):
    r = run_fresh("    CASE = %r\n" % case + BLOCKED_IN_ENGINE, tmp_path, pki, timeout=30,
                  env=engine_gate(tmp_path / "gate"))
    assert "main thread ran while the engine was blocked" in r.stdout
    assert ("result bool" if case == "activate" else "result ") in r.stdout


# ---- exit while threads sign ------------------------------------------------------------

EXIT_WHILE_SIGNING = """
    import threading, time
    import orvane.TWCA.seal as seal
    seal.init_seal(pki["pfx_user"], pki["password"])
    objs = [seal.PyTWCASign(pki["pfx_user"], pki["password"], "A%d" % i, "ip", store=STORE) for i in range(2)]
    def hammer(fn):
        while True:
            fn("x")
    for fn in (seal.get_sign, seal.get_quote_sign, objs[0].get_sign, objs[1].gen_sign, objs[0].sign):
        threading.Thread(target=hammer, args=(fn,), daemon=True).start()
    time.sleep(0.3)
    print("leaving")
"""


@pytest.mark.parametrize("store", [0, 100])
@pytest.mark.parametrize("attempt", range(3))
def test_interpreter_exits_cleanly_while_threads_sign(pki, tmp_path, store, attempt):
    r = run_fresh("    STORE = %d\n" % store + EXIT_WHILE_SIGNING, tmp_path, pki, timeout=60)
    assert "leaving" in r.stdout
    assert "Fatal" not in r.stderr and "Segmentation" not in r.stderr, r.stderr


# ---- log lines under contention ----------------------------------------------------------

LOG_UNDER_CONTENTION = """
    import threading
    import orvane.TWCA.seal as seal
    seal.init_seal(pki["pfx_user"], pki["password"])     # DEBUG: every step logs
    objs = [seal.PyTWCASign(pki["pfx_user"], pki["password"], "A%d" % i, "ip") for i in range(2)]
    seal.init_seal(pki["pfx_user"], pki["password"])
    def run(fn):
        for i in range(40):
            fn("line %d " % i + "x" * (i * 7))
    ts = [threading.Thread(target=run, args=(f,)) for f in (seal.get_sign, objs[0].get_sign, objs[1].get_sign, seal.get_sign)]
    for t in ts: t.start()
    for t in ts: t.join()
"""

HEADER = re.compile(rb"^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \(PID=\d+\) (DEBUG| INFO| WARN|ERROR|PARAM) ")
DUMP_HEAD = re.compile(rb"\(len=(\d+), 0x([0-9A-F]+)\) = $")
DUMP_ROW = re.compile(rb"^ 0x([0-9a-f]{8}) -((?: [0-9a-f]{2})+)( *) : ")


def test_log_lines_and_dumps_stay_whole(pki, tmp_path):
    run_fresh(LOG_UNDER_CONTENTION, tmp_path, pki)
    (log,) = (tmp_path / "logs").iterdir()
    lines = log.read_bytes().split(b"\n")
    assert lines.pop() == b""
    i = signs = 0
    while i < len(lines):
        line = lines[i]
        assert HEADER.match(line), (i, line[:120])
        i += 1
        if line.endswith(b"end TWCASign::SignPkcs7Bin() = 0x00000000(0)"):
            signs += 1
        dump = DUMP_HEAD.search(line)
        if not dump:
            continue
        # A dump's rows follow its header line at once, in order, complete.
        length = int(dump.group(1))
        assert int(dump.group(2), 16) == length
        for offset in range(0, length, 16):
            row = DUMP_ROW.match(lines[i])
            assert row, (i, lines[i][:120])
            assert int(row.group(1), 16) == offset
            assert len(row.group(2)) // 3 == min(16, length - offset)
            i += 1
    assert signs == 4 * 40  # every signature of the four threads


# A daemon thread sits inside the engine (its log line held at the gate of
# block_open.c) when the main thread leaves: the interpreter must wait at exit
# until the thread has left the engine, before the engine's state is released.
STUCK_AT_EXIT = """
    import os, threading, time, pathlib
    import orvane.TWCA.seal as seal
    seal.init_seal(pki["pfx_user"], pki["password"])
    gate = pathlib.Path(os.environ["ORVANE_BLOCK_OPEN"])
    gate.touch()
    t = threading.Thread(target=seal.get_sign, args=("at exit",), daemon=True)
    t.start()
    waiting = pathlib.Path(str(gate) + ".waiting")
    while not waiting.is_dir():
        time.sleep(0.01)
    print("leaving", flush=True)
"""


def test_exit_waits_for_a_thread_inside_the_engine(pki, tmp_path, engine_gate):
    import os
    import select
    import subprocess
    import sys
    import textwrap
    import time
    from pathlib import Path
    manifest = Path(pki["folder"]) / "manifest.json"
    code = "import json, sys\npki = json.load(open(%r))\n" % str(manifest) + textwrap.dedent(STUCK_AT_EXIT)
    env = dict(os.environ)
    env.update(engine_gate(tmp_path / "gate"))
    child = subprocess.Popen([sys.executable, "-c", code], cwd=str(tmp_path), stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=env)
    try:
        # Two lines, read without blocking past 30 s: the main thread cannot
        # print "leaving" if the waiting thread kept the interpreter lock.
        out = b""
        deadline = time.monotonic() + 30
        while out.count(b"\n") < 2 and time.monotonic() < deadline:
            if select.select([child.stdout], [], [], 0.1)[0]:
                chunk = os.read(child.stdout.fileno(), 4096)
                if not chunk:
                    break
                out += chunk
        assert out.decode().splitlines() == ["Seal Initial Done.", "leaving"]
        time.sleep(1.0)
        assert child.poll() is None, "the interpreter exited with a thread inside the engine"
        (tmp_path / "gate").unlink()
        assert child.wait(30) == 0, child.stderr.read().decode(errors="replace")
        # The call the thread was in (the only signing) finished before the
        # process went away.
        (log,) = (tmp_path / "logs").iterdir()
        assert b"end TWCASign::SignPkcs7Bin() = 0x00000000(0)" in log.read_bytes()
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        child.stdout.close()
        child.stderr.close()
