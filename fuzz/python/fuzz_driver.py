"""Runs a Python-level fuzz target under atheris, or under a plain mutation loop
where atheris is not installed.

A target is a function taking one `bytes` input. It returns normally for any
input the code under test handled (a result or an ordinary exception) and
raises `Finding` (or lets anything else escape) for a fault; the crash of the
interpreter itself is what the sanitizers report.

Under `make fuzz` the harnesses run on the AddressSanitizer build with GCC's
sanitizer runtime preloaded; that runtime takes over the coverage callbacks,
so there atheris mutates its corpus without coverage feedback (the inputs are
structured by the harnesses themselves). In `make test` they run on the
ordinary build, where the Python-level coverage guides them.

Both drivers take libFuzzer's command line: corpus folders, -max_total_time,
-runs, -artifact_prefix; the plain loop ignores the other options. Both print
"stat::number_of_executed_units: N" at the end.
"""

import json
import os
import random
import sys
import time


class Finding(AssertionError):
    """The code under test misbehaved for this input."""


class Unavailable(Exception):
    """The code under test is not available here."""


def _options(argv):
    opts, dirs = {}, []
    for a in argv[1:]:
        if a.startswith("-") and "=" in a:
            k, v = a[1:].split("=", 1)
            opts[k] = v
        elif not a.startswith("-"):
            dirs.append(a)
    return opts, dirs


def _read_corpus(dirs):
    out = []
    for d in dirs:
        if os.path.isdir(d):
            for name in sorted(os.listdir(d)):
                p = os.path.join(d, name)
                if os.path.isfile(p):
                    with open(p, "rb") as f:
                        out.append(f.read())
    return out


def _mutate(rng, data, pool):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        op = rng.randrange(7)
        pos = rng.randrange(len(data) + 1)
        if op == 0 and data:
            data[min(pos, len(data) - 1)] = rng.randrange(256)
        elif op == 1:
            data[pos:pos] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 8)))
        elif op == 2 and data:
            del data[pos:pos + rng.randint(1, 16)]
        elif op == 3 and pool:
            other = rng.choice(pool)
            a = rng.randrange(len(other) + 1)
            data[pos:pos] = other[a:a + rng.randint(1, 64)]
        elif op == 4:
            data[pos:pos] = rng.choice([b"null", b"[]", b"{}", b'""', b"-1", b"1e999", b'"\\u0000"',
                                        b"NaN", b"[[[[", b"0.0", b"true", b'"x"', b","])
        elif op == 5 and data:
            # Duplicate a slice: long lists and texts.
            a = rng.randrange(len(data))
            data[pos:pos] = data[a:a + rng.randint(1, 32)] * rng.randint(2, 64)
        elif op == 6 and data:
            data[min(pos, len(data) - 1)] ^= 1 << rng.randrange(8)
    return bytes(data[:65536])


def _plain(target, argv):
    opts, dirs = _options(argv)
    seconds = float(opts.get("max_total_time", 10))
    runs = int(opts.get("runs", -1))
    prefix = opts.get("artifact_prefix", "./")
    rng = random.Random(int(opts.get("seed", 0)) or None)
    pool = _read_corpus(dirs) or [b""]
    print("plain mutation driver (atheris not installed): %d seeds" % len(pool), flush=True)
    start, n = time.time(), 0
    queue = list(pool)
    while (runs < 0 or n < runs) and time.time() - start < seconds:
        data = queue[n] if n < len(queue) else _mutate(rng, rng.choice(pool), pool)
        n += 1
        try:
            target(data)
        except Unavailable:
            raise
        except BaseException:
            path = prefix + "crash-plain-%d" % n
            with open(path, "wb") as f:
                f.write(data)
            print("==%d== finding; input written to %s" % (os.getpid(), path), flush=True)
            raise
        if n % 50 == 0 and len(pool) < 5000:
            pool.append(data)
    print("stat::number_of_executed_units: %d" % n, flush=True)


def _instrument_module(atheris, mod):
    import types
    for value in list(vars(mod).values()):
        funcs = [value] if isinstance(value, types.FunctionType) else []
        if isinstance(value, type) and value.__module__ == mod.__name__:
            funcs = [v for v in vars(value).values() if isinstance(v, types.FunctionType)]
        for f in funcs:
            if f.__module__ == mod.__name__:
                try:
                    atheris.instrument_func(f)
                except Exception:
                    pass


def run(target, check_available):
    """Runs `target` under atheris or the plain loop; `check_available()`
    raises Unavailable when the modules under test cannot be imported, which
    fails the run (a harness that tests nothing must not pass)."""
    try:
        check_available()
    except Unavailable as e:
        print("cannot run: %s" % e, flush=True)
        print("stat::number_of_executed_units: 0", flush=True)
        return 2
    try:
        import atheris
    except ImportError:
        atheris = None
    if atheris is None or os.environ.get("ORVANE_FUZZ_PLAIN"):
        _plain(target, sys.argv)
        return 0
    # Coverage of the Python code on the way: the harness with its twin and
    # this driver, and the package's pure-Python helpers; the extension
    # modules themselves are C++. (atheris.instrument_all() would take every
    # loaded module, which under a preloaded sanitizer runtime takes minutes.)
    for mod in [sys.modules[target.__module__], sys.modules[__name__]] + [
            m for name, m in list(sys.modules.items()) if name.startswith("orvane.") and hasattr(m, "__file__")
            and str(getattr(m, "__file__", "")).endswith(".py")]:
        _instrument_module(atheris, mod)
    atheris.Setup(sys.argv, target)
    atheris.Fuzz()
    return 0


# ---- turning bytes into JSON-like values ------------------------------------


class Values:
    """Draws JSON-like values (and a few non-JSON ones a caller might pass)
    from a byte string; running out of bytes gives zeros."""

    TEXTS = ["", " ", "0", "1", "-1", "1.5", "0.0", "1e3", "1E+999999", "-0", "NaN", "sNaN",
             "Infinity", "-inf", "1_000", " 12 ", "\u0661\u0662", "1.2.3", "abc", "17500.0",
             "100.00", ".0", "0.", "2026/12/08", "20261208", "2026-12-08", "09:00:01.123456",
             "25:61:61", "09:00:01", "\x00", "\ud800", "臺指期", "TSE", "OTC", "001", "101", "2"]

    def __init__(self, data):
        self.data = data
        self.pos = 0

    def exhausted(self):
        return self.pos >= len(self.data)

    def byte(self):
        if self.pos >= len(self.data):
            return 0
        b = self.data[self.pos]
        self.pos += 1
        return b

    def int(self):
        k = self.byte() % 8
        if k == 0:
            return self.byte() - 128
        if k == 1:
            return int.from_bytes(bytes(self.byte() for _ in range(8)), "little", signed=True)
        if k == 2:
            return 2 ** (self.byte() % 200) * (-1 if self.byte() & 1 else 1)
        return self.byte() % 10

    def text(self):
        k = self.byte() % 6
        if k < 3:
            return self.TEXTS[self.byte() % len(self.TEXTS)]
        n = self.byte() % 24
        raw = bytes(self.byte() for _ in range(n))
        if k == 3:
            return "".join("0123456789.-+eE "[b % 16] for b in raw)
        if k == 4:
            return raw.decode("latin-1")
        return raw.decode("utf-8", "replace")

    def value(self, depth=0):
        k = self.byte() % 16
        if k < 6:
            return self.text()
        if k < 9:
            return self.int()
        if k == 9:
            return None
        if k == 10:
            return [0.0, -0.0, 1.5, float("nan"), float("inf"), 1e300][self.byte() % 6]
        if k == 11:
            return bool(self.byte() & 1)
        if k == 12 and depth < 3:
            return [self.value(depth + 1) for _ in range(self.byte() % 6)]
        if k == 13 and depth < 3:
            return {self.text(): self.value(depth + 1) for _ in range(self.byte() % 4)}
        if k == 14:
            return self.text().encode("utf-8", "replace")
        return (self.text(), self.int())


def decode_json(data):
    """The input as JSON text, or None when it is not JSON."""
    try:
        return json.loads(data.decode("utf-8"))
    except (UnicodeDecodeError, ValueError, RecursionError):
        return None
