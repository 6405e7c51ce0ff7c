"""Fuzz target: the four contract-list converters with JSON-like replies.

stock_dict_convert, future_dict_convert, option_dict_convert and
tw_index_dict_convert each get a value drawn from the input (JSON, or the
sample reply with entries and fields replaced), and so does a pure-Python twin
of the same conversion. Both must agree: the same exception type, or equal
results (compared through their repr, so NaN equals NaN).
"""

import copy
import sys

from fuzz_driver import Finding, Unavailable, Values, decode_json, run

sys.setrecursionlimit(10000)

contract = None
twin = None  # the pure-Python converters of bench/contracts_py.py
SAMPLES = {}


def check_available():
    global contract, twin
    try:
        from orvane.backend.http import contract as c
    except ImportError as e:
        raise Unavailable("orvane.backend.http.contract not importable (%s)" % e)
    contract = c
    fuzz_dir = __file__.rsplit("/", 2)[0]
    sys.path.insert(0, fuzz_dir)
    sys.path.insert(0, fuzz_dir.rsplit("/", 1)[0] + "/bench")
    from make_seeds import FUTURES, INDICES, OPTIONS, STOCKS
    import contracts_py as twin
    SAMPLES.update(S=STOCKS, F=FUTURES, O=OPTIONS, I=INDICES)


# ---- the target --------------------------------------------------------------------

def entry_values(vals, entry):
    for name in list(entry):
        if vals.exhausted():
            break
        k = vals.byte()
        if k < 64:
            entry[name] = vals.value()
        elif k < 70:
            del entry[name]
    return entry


def argument(kind, data):
    body = decode_json(data[1:])
    if body is not None:
        return body
    vals = Values(data[1:])
    base = copy.deepcopy(SAMPLES[kind])
    shape = vals.byte()
    if shape < 16:
        return vals.value()
    if kind == "S":
        out = [entry_values(vals, dict(e)) for e in base for _ in range(1 + vals.byte() % 3)]
        if shape < 24:
            out.append(vals.value())
        return out
    if kind in "FO":
        (product, entries), = base.items()
        out = {}
        for _ in range(1 + vals.byte() % 3):
            out[vals.text() if vals.byte() & 1 else product] = [entry_values(vals, dict(e)) for e in entries
                                                               for _ in range(vals.byte() % 3)]
        if shape < 24:
            out[vals.text()] = vals.value()
        return out
    out = {}
    for _ in range(vals.byte() % 5):
        out[vals.text() if vals.byte() < 200 else "0" + vals.text()] = vals.value()
    return out


def outcome(fn):
    try:
        return "ok", fn()
    except SystemError as e:
        raise Finding("SystemError: %s" % e)
    except Exception as e:
        return "error", type(e)


def target(data):
    if not data:
        return
    kind = "SFOI"[data[0] % 4]
    arg = argument(kind, data)
    name = {"S": "stock_dict_convert", "F": "future_dict_convert", "O": "option_dict_convert",
            "I": "tw_index_dict_convert"}[kind]
    fn, reference = getattr(contract, name), getattr(twin, name)
    got = outcome(lambda: fn(copy.deepcopy(arg)))
    want = outcome(lambda: reference(copy.deepcopy(arg)))
    if got[0] != want[0] or (got[0] == "error" and got[1] is not want[1]):
        raise Finding("%s converter gave %r, twin %r, for %r" % (kind, got, want, arg))
    if got[0] == "ok" and repr(got[1]) != repr(want[1]):
        raise Finding("%s converter result differs:\n%r\n%r" % (kind, got[1], want[1]))


if __name__ == "__main__":
    sys.exit(run(target, check_available))
