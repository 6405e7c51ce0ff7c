"""Record factories and to_dict keep no references they should not."""

import gc
import json
import os
import sys
import tracemalloc
from decimal import Decimal

import pytest

from market_samples import DEPTH_FOP, DEPTH_STK, QUOTE, WHEN, fresh
from orvane.backend.solace import depth, quote

FACTORIES = [(quote.QuoteSTKv1.from_content, QUOTE, quote),
             (depth.DepthSTKv1.from_content, DEPTH_STK, depth),
             (depth.DepthSTKv1.from_content_odd, DEPTH_STK, depth),
             (depth.DepthFOPv1.from_content, DEPTH_FOP, depth)]


@pytest.fixture(autouse=True)
def fixed_time(monkeypatch):
    for m in (quote, depth):
        monkeypatch.setattr(m, "datetime_parser", lambda d, t: WHEN)


def refcounts(objs):
    return [sys.getrefcount(o) for o in objs]


@pytest.fixture(autouse=True)
def no_collection():
    # Garbage left by earlier tests may hold the same shared objects (WHEN,
    # the classes); collect it now and keep the collector out of the counts.
    gc.collect()
    gc.disable()
    yield
    gc.enable()


def decoded(msg, **changes):
    """`msg` as json.loads gives it: fresh texts and lists nobody else holds."""
    return json.loads(json.dumps(fresh(msg, **changes)))


def watched(msg, module):
    """The texts and lists of a message, and the objects a factory touches.
    (Small integers, None and booleans are shared by the whole interpreter.)"""
    objs = [v for v in msg.values()]
    objs += [x for v in msg.values() if isinstance(v, list) for x in v]
    objs = [o for o in objs if isinstance(o, (str, list))]
    return objs + [WHEN, module.Decimal, module.QuoteBase if module is quote else module.DepthBase]


@pytest.mark.parametrize("factory, msg, module", FACTORIES)
def test_refcounts_around_factory_calls(factory, msg, module):
    msg = decoded(msg)
    objs = watched(msg, module)
    for _ in range(3):  # fill the caches first
        factory(**msg).to_dict(raw=True)
    # the cached Decimals a record shares with the next one built from the same texts
    sample = factory(**msg)
    objs += [v for v in sample.to_dict().values() if isinstance(v, Decimal)]
    objs += [p for p in sample.bid_price + sample.ask_price]
    del sample
    before = refcounts(objs)
    for _ in range(100):
        r = factory(**msg)
        repr(r), r.to_dict(), r.to_dict(raw=True), dict(r)
        del r
    assert refcounts(objs) == before
    r = factory(**msg)
    held = refcounts(objs)
    assert held[objs.index(msg["bid_volume"])] == before[objs.index(msg["bid_volume"])] + 1
    del r
    assert refcounts(objs) == before


@pytest.mark.parametrize("factory, msg, module", FACTORIES)
@pytest.mark.parametrize("change", [{"code": 5}, {"bid_price": ["1", "x"]},
                                    {"ask_price": None}, {"extra": 1}, {"date": []}])
def test_refcounts_around_failing_calls(factory, msg, module, change):
    msg = decoded(msg, **change)
    objs = watched(msg, module)
    with pytest.raises(Exception):
        factory(**msg)
    before = refcounts(objs)
    for _ in range(50):
        with pytest.raises(Exception):
            factory(**msg)
    assert refcounts(objs) == before


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


def test_memory_stays_flat_over_many_calls():
    # 200,000 factory calls and to_dict(raw=True) calls: after a warm-up,
    # neither the Python allocator nor the process grows.
    q, s, f = fresh(QUOTE), fresh(DEPTH_STK), fresh(DEPTH_FOP)
    Q, S, F = quote.QuoteSTKv1, depth.DepthSTKv1, depth.DepthFOPv1

    def run(n):
        for i in range(n):
            q["diff_rate"] = i  # a new pct_chg Decimal every call
            Q.from_content(**q).to_dict(raw=True)
            S.from_content(**s).to_dict(raw=True)
            F.from_content(**f)

    run(20000)
    gc.collect()
    rss0 = rss_kib()
    tracemalloc.start()
    run(2000)
    gc.collect()
    traced0 = tracemalloc.get_traced_memory()[0]
    run(20000)
    gc.collect()
    traced1 = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    run(180000)
    gc.collect()
    rss1 = rss_kib()
    assert traced1 - traced0 < 64 * 1024, (traced0, traced1)
    # AddressSanitizer keeps freed memory in quarantine, so the process grows
    # there by design; the traced Python allocations above still must not.
    if "libasan" not in os.environ.get("LD_PRELOAD", ""):
        assert rss1 - rss0 < 2048, (rss0, rss1)


def test_caches_do_not_hold_decimals_from_other_classes(monkeypatch):
    class MyDecimal(Decimal):
        instances = 0

        def __new__(cls, x):
            MyDecimal.instances += 1
            return Decimal.__new__(cls, x)

    monkeypatch.setattr(quote, "Decimal", MyDecimal)
    quote.QuoteSTKv1.from_content(**QUOTE)
    first = MyDecimal.instances
    quote.QuoteSTKv1.from_content(**QUOTE)
    assert MyDecimal.instances == 2 * first  # every conversion went to MyDecimal
