"""The record factories and to_dict(raw=True): compiled, pure-Python twin, floor.

Messages come from examples/market_stream.jsonl (5 bid and 5 ask levels), decoded
with json.loads and passed as keyword arguments, as the host package does. Both
sides get the same trivial datetime_parser through their module namespace, so
the numbers measure the records' own work.

For each call it prints the time to make a result and to make and free one in
a continuous loop (bench/measure.py), for the compiled module, its twin
(bench/twins.py), and a floor: the same result objects built from ready
values, nothing parsed or looked up. The floor makes afresh exactly the
objects that the compiled call makes afresh (found by comparing the results
of two calls): a new record from its ready slot values through the class, a
new list of the ready elements, a new Decimal copied from a ready one, a new
str joined from two ready halves; every other value is the ready object
itself, as the compiled result shares it.

A second table sets each factory's own work against the floor: its make time
less the caller's share, what any factory call costs before the factory does
anything (passing the content as keyword arguments, and the module's
datetime_parser), which the floor does not pay.

    .venv/bin/python bench/records.py [--quick]
"""

import datetime as dt
import json
import os
import sys
from decimal import Decimal

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import measure  # noqa: E402
import twins  # noqa: E402
from orvane.backend.solace import depth, quote  # noqa: E402

FIXED = dt.datetime(2026, 12, 8, 9, 0, 1, 123456)


def fixed_parser(date, time):
    return FIXED


for module in (quote, depth, twins):
    module.datetime_parser = fixed_parser


def load_contents():
    path = os.path.join(HERE, os.pardir, "examples", "market_stream.jsonl")
    raw = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            msg = json.loads(line)
            kind = msg["topic"].split("/")[:3]
            raw.setdefault("/".join(kind), line)
    # A fresh json.loads per lookup would time the decoder too; decode once,
    # as the host package does before it calls the factory.
    return {k: json.loads(v)["content"] for k, v in raw.items()}


def _fresh(value, other, ns, name):
    """Source text that makes a new object equal to `value` from ready values
    when the compiled call made `value` afresh (it is not `other`, the same
    value from another call); otherwise the ready object itself."""
    ns[name] = value
    if value is other:
        return name
    if isinstance(value, list):
        if all(a is b for a, b in zip(value, other)):
            return "%s.copy()" % name
        return "[%s]" % ", ".join(_fresh(v, o, ns, "%s_%d" % (name, i))
                                  for i, (v, o) in enumerate(zip(value, other)))
    if isinstance(value, Decimal):
        return "%s.copy_sign(%s)" % (name, name)
    if isinstance(value, str):
        ns[name + "a"], ns[name + "b"] = measure.split(value)
        return "(%sa + %sb)" % (name, name)
    raise TypeError("no floor for a fresh %s" % type(value).__name__)


def record_floor(cls, factory, content):
    """cls(<ready slot values>), making afresh what the factory makes afresh."""
    a, b = factory(**content), factory(**content)
    ns = {"cls": cls}
    exprs = [_fresh(getattr(a, s), getattr(b, s), ns, "v%d" % i) for i, s in enumerate(cls.__slots__)]
    floor = eval("lambda: cls(%s)" % ", ".join(exprs), ns)
    assert repr(floor()) == repr(a)
    return floor


def dict_floor(make):
    """A dict display of the ready items, making afresh what `make` does."""
    a, b = make(), make()
    ns = {}
    items = ["%r: %s" % (k, _fresh(v, b[k], ns, "v%d" % i)) for i, (k, v) in enumerate(a.items())]
    floor = eval("lambda: {%s}" % ", ".join(items), ns)
    assert floor() == a and list(floor()) == list(a)
    return floor


def caller_share(cls, content):
    """What a factory call costs before the factory's own work, which the
    floor does not have and no factory can avoid: passing the content as
    keyword arguments (to str.format, a C function that takes and ignores
    them) and the module's datetime_parser on the message's date and time."""
    date, time = content["date"], content["time"]
    parser = sys.modules[cls.__module__].datetime_parser

    def given():
        "".format(**content)
        parser(date, time)
    return given


def given_cases():
    """{case name: caller_share function} for the factories."""
    c = load_contents()
    return {"QuoteSTKv1.from_content": caller_share(quote.QuoteSTKv1, c["QUO/v2/STK"]),
            "DepthSTKv1.from_content": caller_share(depth.DepthSTKv1, c["QUO/v1/STK"]),
            "DepthFOPv1.from_content": caller_share(depth.DepthFOPv1, c["QUO/v1/FOP"])}


def cases():
    c = load_contents()
    q, s, f = c["QUO/v2/STK"], c["QUO/v1/STK"], c["QUO/v1/FOP"]
    native_q = quote.QuoteSTKv1.from_content(**q)
    twin_q = twins.QuoteSTKv1.from_content(**q)
    assert native_q.to_dict(raw=True) == twin_q.to_dict(raw=True)
    assert repr(native_q) == repr(twin_q)
    out = []
    for name, cls, twin, content in (
            ("QuoteSTKv1.from_content", quote.QuoteSTKv1, twins.QuoteSTKv1, q),
            ("DepthSTKv1.from_content", depth.DepthSTKv1, twins.DepthSTKv1, s),
            ("DepthFOPv1.from_content", depth.DepthFOPv1, twins.DepthFOPv1, f)):
        out.append((name,
                    lambda cls=cls, m=content: cls.from_content(**m),
                    lambda twin=twin, m=content: twin.from_content(**m),
                    record_floor(cls, cls.from_content, content)))
    out.append(("QuoteSTKv1.to_dict(raw=True)",
                lambda: native_q.to_dict(raw=True),
                lambda: twin_q.to_dict(raw=True),
                dict_floor(lambda: native_q.to_dict(raw=True))))
    return out


def main():
    quick = "--quick" in sys.argv
    n, rounds = (500, 5) if quick else (2000, 15)
    print("Python %s; per call, median of %d batches of %d calls (process CPU time)"
          % (sys.version.split()[0], rounds, n))
    rows = [measure.measure(name, "1", compiled, twin, floor, n, rounds)
            for name, compiled, twin, floor in cases()]
    measure.table(rows, "calls")
    print()
    print("The factories' own work: the compiled make time less the caller's share "
          "(**content and datetime_parser), against the floor")
    print("| case | compiled | caller's share | own work | floor | own work / floor |")
    print("|---|---:|---:|---:|---:|---:|")
    given = given_cases()
    for r in rows:
        if r["name"] in given:
            comp, share, floor = measure.make_times((r["compiled"], given[r["name"]], r["floor"]),
                                                    n, rounds)
            print("| %s | %s | %s | %s | %s | %.2fx |" % (
                r["name"], measure.fmt(comp), measure.fmt(share), measure.fmt(comp - share),
                measure.fmt(floor), (comp - share) / floor))


if __name__ == "__main__":
    main()
