"""Time per call of the record factories and of to_dict(raw=True), native vs pure Python.

Messages come from examples/market_stream.jsonl (5 bid and 5 ask levels), decoded
with json.loads and passed as keyword arguments, as the host package does. Both
sides get the same trivial datetime_parser through their module namespace, so
the numbers measure the records' own work.

    .venv/bin/python bench/records.py [--quick]
"""

import datetime as dt
import json
import os
import sys
import timeit

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

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


def per_call(stmt, number):
    best = min(timeit.repeat(stmt, number=number, repeat=5))
    return best / number


def main():
    quick = "--quick" in sys.argv
    n = 5000 if quick else 50000
    c = load_contents()
    q, s, f = c["QUO/v2/STK"], c["QUO/v1/STK"], c["QUO/v1/FOP"]
    native_q = quote.QuoteSTKv1.from_content(**q)
    twin_q = twins.QuoteSTKv1.from_content(**q)
    assert native_q.to_dict(raw=True) == twin_q.to_dict(raw=True)
    assert repr(native_q) == repr(twin_q)
    rows = [
        ("QuoteSTKv1.from_content(**msg)", lambda: quote.QuoteSTKv1.from_content(**q),
         lambda: twins.QuoteSTKv1.from_content(**q), 3.0),
        ("DepthSTKv1.from_content(**msg)", lambda: depth.DepthSTKv1.from_content(**s),
         lambda: twins.DepthSTKv1.from_content(**s), 2.5),
        ("DepthFOPv1.from_content(**msg)", lambda: depth.DepthFOPv1.from_content(**f),
         lambda: twins.DepthFOPv1.from_content(**f), 2.5),
        ("QuoteSTKv1.to_dict(raw=True)", lambda: native_q.to_dict(raw=True),
         lambda: twin_q.to_dict(raw=True), 4.0),
    ]
    print("Python %s, %d calls x 5 repeats, best of 5" % (sys.version.split()[0], n))
    print("%-34s %12s %12s %8s %8s" % ("call", "native", "pure Python", "ratio", "target"))
    for name, native, python, target in rows:
        tn, tp = per_call(native, n), per_call(python, n)
        print("%-34s %9.0f ns %9.0f ns %7.1fx %7.1fx%s" % (
            name, tn * 1e9, tp * 1e9, tp / tn, target, "" if tp / tn >= target else "  MISSED"))


if __name__ == "__main__":
    main()
