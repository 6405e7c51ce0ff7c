"""Bad-input catalogue, market-data records: any value in any field, wrong
argument shapes, names rebound while in use, oversized contents (10,000-level
price ladders, 1 MiB texts) and texts that no code page holds. Each gives a
record or an ordinary exception, never a crash, and the record's plain form
keeps every level."""

import decimal

import pytest

from market_samples import DEPTH_FOP, DEPTH_STK, QUOTE, WHEN, fresh
from orvane.backend.solace import depth, quote

FACTORIES = [(quote.QuoteSTKv1.from_content, QUOTE), (depth.DepthSTKv1.from_content, DEPTH_STK),
             (depth.DepthSTKv1.from_content_odd, DEPTH_STK), (depth.DepthFOPv1.from_content, DEPTH_FOP)]
IDS = ["quote", "depth", "depth_odd", "depth_fop"]
LEVELS = 10000
MIB = 1 << 20


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
EXPECTED = (TypeError, ValueError, decimal.InvalidOperation, RuntimeError, OverflowError)


@pytest.fixture(autouse=True)
def fixed_time(monkeypatch):
    for m in (quote, depth):
        monkeypatch.setattr(m, "datetime_parser", lambda d, t: WHEN)


# ---- any value in any field ---------------------------------------------------------

@pytest.mark.parametrize("factory, msg", FACTORIES, ids=IDS)
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


@pytest.mark.parametrize("factory, msg", FACTORIES, ids=IDS)
def test_wrong_argument_shapes(factory, msg):
    values = list(msg.values())
    for args, kwargs in [((), {}), (values[:-1], {}), (values + [1], {}),
                         ((), {**msg, "x": 1}), (values[:1], msg), ((), {1: 2})]:
        with pytest.raises(TypeError):
            factory(*args, **kwargs)


@pytest.mark.parametrize("factory, msg", FACTORIES, ids=IDS)
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


# ---- oversized contents and broken texts -------------------------------------------

@pytest.mark.parametrize("factory, msg", FACTORIES, ids=IDS)
def test_ten_thousand_level_ladders(factory, msg):
    prices = ["%d.%02d" % (1000 - i // 100, i % 100) for i in range(LEVELS)]
    volumes = list(range(LEVELS))
    r = factory(**fresh(msg, bid_price=prices, ask_price=prices[::-1], bid_volume=volumes,
                        diff_bid_vol=volumes, ask_volume=volumes, diff_ask_vol=volumes))
    assert r.bid_price == [decimal.Decimal(p) for p in prices]
    assert r.bid_volume is volumes
    raw = r.to_dict(raw=True)
    assert raw["bid_price"] == prices and raw["ask_price"] == prices[::-1]
    assert len(repr(r)) > LEVELS * 10


@pytest.mark.parametrize("factory, msg", FACTORIES, ids=IDS)
def test_one_mebibyte_texts(factory, msg):
    digits = "7" * MIB
    r = factory(**fresh(msg, code="C" * MIB, bid_price=[digits]))
    assert r.code == "C" * MIB
    assert r.to_dict(raw=True)["bid_price"] == [digits]
    with pytest.raises(decimal.InvalidOperation):
        factory(**fresh(msg, bid_price=["9" * (MIB - 1) + "x"]))


def test_one_mebibyte_price_fields_of_a_quote():
    big = "1" * MIB
    r = quote.QuoteSTKv1.from_content(**fresh(QUOTE, open=big, closing_oddlot_close=big, diff_rate=int(big[:4000])))
    assert str(r.open) == big
    assert r.to_dict(raw=True)["closing_oddlot_close"] == big


@pytest.mark.parametrize("factory, msg", FACTORIES, ids=IDS)
@pytest.mark.parametrize("text", ["\ud800", "\udfff\ud800", "\x00", "中\x00文", "\U0010ffff" * 3])
def test_texts_no_code_page_holds(factory, msg, text):
    r = factory(**fresh(msg, code=text))
    assert r.code == text
    assert r.to_dict(raw=True)["code"] == text
    assert repr(text) in repr(r)
    with pytest.raises(decimal.InvalidOperation):
        factory(**fresh(msg, bid_price=[text]))


@pytest.mark.parametrize("date, time", [("2" * MIB, "09:00:00"), ("2026/12/08", "9" * MIB),
                                        ("\ud800", "09:00:00"), ("2026/12/08", "\x00")],
                         ids=["long-date", "long-time", "surrogate", "zero"])
def test_package_parser_rejects_oversized_and_broken_dates(monkeypatch, date, time):
    # The package's own datetime_parser, not the fixed one: its errors
    # propagate unchanged through every factory.
    from orvane.backend.solace import utils
    for m in (quote, depth):
        monkeypatch.setattr(m, "datetime_parser", utils.datetime_parser)
    for factory, msg in FACTORIES:
        with pytest.raises(ValueError):
            factory(**fresh(msg, date=date, time=time))
