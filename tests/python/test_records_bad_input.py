"""Any value in any field: a record or an ordinary exception, never a crash."""

import decimal

import pytest

from market_samples import DEPTH_FOP, DEPTH_STK, QUOTE, WHEN, fresh
from orvane.backend.solace import depth, quote


class Weird:
    def __str__(self):
        raise RuntimeError("str")

    def __iter__(self):
        raise RuntimeError("iter")

    def __bool__(self):
        raise RuntimeError("bool")


ODD_VALUES = [None, 0, -1, 2 ** 70, 1.5, float("nan"), "", " ", "1e999999", "-", "1.2.3",
              "\u0661\u0662", "\x00", b"12", [], ["1", None], ["x"], (), {}, {"1": 2},
              object(), Weird(), [Weird()], iter(["1"]), decimal.Decimal("1.5")]
FACTORIES = [(quote.QuoteSTKv1.from_content, QUOTE), (depth.DepthSTKv1.from_content, DEPTH_STK),
             (depth.DepthSTKv1.from_content_odd, DEPTH_STK),
             (depth.DepthFOPv1.from_content, DEPTH_FOP)]
EXPECTED = (TypeError, ValueError, decimal.InvalidOperation, RuntimeError, OverflowError)


@pytest.fixture(autouse=True)
def fixed_time(monkeypatch):
    for m in (quote, depth):
        monkeypatch.setattr(m, "datetime_parser", lambda d, t: WHEN)


@pytest.mark.parametrize("factory, msg", FACTORIES)
def test_odd_values_in_every_field(factory, msg):
    outcomes = set()
    for field in msg:
        for value in ODD_VALUES:
            try:
                r = factory(**fresh(msg, **{field: value}))
            except EXPECTED as e:
                outcomes.add(type(e))
                continue
            outcomes.add("record")
            for use in (repr, lambda r: r.to_dict(), lambda r: r.to_dict(raw=True), dict):
                try:
                    use(r)
                except EXPECTED:
                    pass
    assert "record" in outcomes and TypeError in outcomes


@pytest.mark.parametrize("factory, msg", FACTORIES)
def test_wrong_argument_shapes(factory, msg):
    values = list(msg.values())
    for args, kwargs in [((), {}), (values[:-1], {}), (values + [1], {}),
                         ((), {**msg, "x": 1}), (values[:1], msg), ((), {1: 2})]:
        with pytest.raises(TypeError):
            factory(*args, **kwargs)


@pytest.mark.parametrize("factory, msg", FACTORIES)
def test_names_rebound_while_in_use(factory, msg, monkeypatch):
    # A stand-in that drops the module's only reference to itself while it
    # runs must keep working to the end of its call.
    module = quote if factory.__self__.__module__ == quote.__name__ else depth
    calls = []

    def make_decimal():
        def stand_in(x):
            calls.append(x)
            setattr(module, "Decimal", make_decimal())
            return decimal.Decimal(x)
        return stand_in

    def parser(d, t):
        setattr(module, "datetime_parser", lambda d, t: WHEN)
        return WHEN

    monkeypatch.setattr(module, "Decimal", make_decimal())
    monkeypatch.setattr(module, "datetime_parser", parser)
    r = factory(**msg)
    assert r.datetime is WHEN and calls
    with pytest.raises(TypeError):  # isinstance() against a function, as in Python
        r.to_dict(raw=True)
