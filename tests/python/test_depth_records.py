"""DepthSTKv1 and DepthFOPv1: bid/ask records and their factories."""

import ast
import decimal
import inspect
import subprocess
import sys
import weakref
from decimal import Decimal

import pytest

from market_samples import (DEPTH_FOP, DEPTH_FOP_SLOTS as FOP_SLOTS, DEPTH_STK,
                            DEPTH_STK_SLOTS as STK_SLOTS, WHEN, fresh)
from orvane.backend.solace import depth
from orvane.backend.solace.depth import DepthFOPv1, DepthSTKv1

ODD_ORDER = ["code", "date", "time", "bid_price", "ask_price", "bid_volume", "ask_volume",
             "diff_bid_vol", "diff_ask_vol", "suspend", "simtrade"]


@pytest.fixture(autouse=True)
def fixed_time(monkeypatch):
    monkeypatch.setattr(depth, "datetime_parser", lambda d, t: WHEN)


def doc(first, lines):
    return first + "\n\n        Attributes:\n" + "".join(
        " " * 12 + line + "\n" for line in lines) + " " * 8


def test_classes_and_docstrings():
    assert DepthSTKv1.__slots__ == STK_SLOTS and DepthFOPv1.__slots__ == FOP_SLOTS
    assert DepthSTKv1.__doc__ is None and DepthFOPv1.__doc__ is None
    assert DepthSTKv1.__init__.__doc__ == doc("Depth Stock v1", [
        "code (str): code", "datetime (datetime.datetime): datetime",
        "bid_price (list of Decimal): bid price", "bid_volume (list of int): bid volume (K shares)",
        "diff_bid_vol (list of int): (K shares, 買價增減量)", "ask_price (list of Decimal): ask price",
        "ask_volume (list of int): ask volume", "diff_ask_vol (list of int): (K shares, 賣價增減量)",
        "suspend (bool): suspend (暫停交易)", "simtrade (bool): simulated trade (試撮)"])
    assert DepthFOPv1.__init__.__doc__ == doc("Depth Futures v1", [
        "code (str): code", "datetime (datetime.datetime): datetime",
        "bid_total_vol (int): total buy deal volume (lot, 買盤成交總量)",
        "ask_total_vol (int): total sell deal volume (lot, 賣盤成交總量)",
        "bid_price (list of Decimal): bid price", "bid_volume (list of int): bid volume (lot)",
        "diff_bid_vol (list of int): (lot, 買價增減量)", "ask_price (list of Decimal): ask price",
        "ask_volume (list of int): ask volume (lot)", "diff_ask_vol (list of int): (lot, 賣價增減量)",
        "first_derived_bid_price (Decimal): first derived bid price (衍生一檔買價)",
        "first_derived_ask_price (Decimal): first derived ask price (衍生一檔賣價)",
        "first_derived_bid_vol (int): first derived bid volume (衍生一檔買量)",
        "first_derived_ask_vol (int): first derived bid volume (衍生一檔賣量)",
        "underlying_price (Decimal): underlying price (標的物價格)",
        "simtrade (int): simulated trade (試撮)"])
    assert list(inspect.signature(DepthSTKv1.from_content_odd).parameters) == ODD_ORDER
    assert list(inspect.signature(DepthFOPv1.from_content).parameters) == list(DEPTH_FOP)


def test_module_binds_its_names_in_order():
    # in a fresh interpreter: other tests patch (and restore) module names
    code = "from orvane.backend.solace import depth; print(list(vars(depth)))"
    out = subprocess.run([sys.executable, "-c", code], stdout=subprocess.PIPE, check=True)
    names = [n for n in ast.literal_eval(out.stdout.decode()) if not n.startswith("__")]
    assert names == ["dt", "Dict", "List", "Any", "Decimal", "datetime_parser", "DepthBase",
                         "DepthSTKv1", "DepthFOPv1"]
    assert not hasattr(depth, "QuoteType") and not hasattr(depth, "Stock")


def test_stock_factories_differ_only_in_intraday_odd():
    msg = fresh(DEPTH_STK)
    a = DepthSTKv1.from_content(**msg)
    b = DepthSTKv1.from_content_odd(**msg)
    da, db = a.to_dict(), b.to_dict()
    assert da.pop("intraday_odd") == 0 and db.pop("intraday_odd") == 1
    assert type(a.intraday_odd) is int and type(b.intraday_odd) is int
    assert da == db
    assert b.to_dict(raw=True)["intraday_odd"] == 1
    assert da["bid_price"] == [Decimal(x) for x in msg["bid_price"]]
    assert a.bid_volume is msg["bid_volume"] and b.diff_ask_vol is msg["diff_ask_vol"]
    assert a.datetime is WHEN and a.code == "2317" and a.simtrade == 1


def test_stock_factories_read_positions_differently():
    values = ["2317", "d", "t", ["1"], [2], [3], ["4"], [5], [6], 0, 1]
    a = DepthSTKv1.from_content(*values)
    b = DepthSTKv1.from_content_odd(*values)
    assert (a.bid_volume, a.diff_bid_vol, a.ask_price) == ([2], [3], [Decimal("4")])
    assert (b.ask_price, b.bid_volume, b.ask_volume, b.diff_bid_vol) == (
        [Decimal(2)], [3], ["4"], [5])


def test_fop_fields():
    msg = fresh(DEPTH_FOP)
    r = DepthFOPv1.from_content(**msg)
    assert r.to_dict() == {
        "code": "TXFL6", "datetime": WHEN, "bid_total_vol": 512, "ask_total_vol": 498,
        "bid_price": [Decimal(x) for x in msg["bid_price"]], "bid_volume": msg["bid_volume"],
        "diff_bid_vol": msg["diff_bid_vol"], "ask_price": [Decimal(x) for x in msg["ask_price"]],
        "ask_volume": msg["ask_volume"], "diff_ask_vol": msg["diff_ask_vol"],
        "first_derived_bid_price": Decimal("23014.5"),
        "first_derived_ask_price": Decimal("23017.5"), "first_derived_bid_vol": 3,
        "first_derived_ask_vol": 2, "underlying_price": Decimal("23002.71"), "simtrade": 0,
    }
    assert r.ask_volume is msg["ask_volume"]
    assert r.to_dict(raw=True)["underlying_price"] == "23002.71"
    assert repr(r).startswith("Depth(code='TXFL6', datetime=")


@pytest.mark.parametrize("field", ["first_derived_bid_price", "first_derived_ask_price",
                                   "target_kind_price"])
def test_fop_prices_have_no_fallback(field):
    with pytest.raises(decimal.InvalidOperation):
        DepthFOPv1.from_content(**fresh(DEPTH_FOP, **{field: ""}))
    with pytest.raises(TypeError):
        DepthFOPv1.from_content(**fresh(DEPTH_FOP, **{field: None}))


@pytest.mark.parametrize("factory", ["from_content", "from_content_odd"])
@pytest.mark.parametrize("field, value, exc", [
    ("bid_price", [""], decimal.InvalidOperation), ("ask_price", ["1", None], TypeError),
    ("bid_price", None, TypeError), ("ask_price", 3, TypeError),
])
def test_stock_bad_prices(factory, field, value, exc):
    with pytest.raises(exc):
        getattr(DepthSTKv1, factory)(**fresh(DEPTH_STK, **{field: value}))


@pytest.mark.parametrize("n", [3, 16, 17, 40])
def test_a_failed_price_list_releases_what_it_made(n, monkeypatch):
    # A conversion that fails partway through a price list leaves nothing
    # alive of the prices converted before it, however long the list.
    made = []  # a weak reference to each price made

    def alive():
        return sum(ref() is not None for ref in made)

    class Price(Decimal):
        def __new__(cls, text):
            if text == "bad":
                raise ValueError("bad price")
            p = Decimal.__new__(cls, text)
            made.append(weakref.ref(p))
            return p

    monkeypatch.setattr(depth, "Decimal", Price)
    prices = ["1.%d" % i for i in range(n - 1)] + ["bad"]
    with pytest.raises(ValueError, match="bad price"):
        DepthSTKv1.from_content(**fresh(DEPTH_STK, bid_price=prices))
    assert made and alive() == 0
    r = DepthSTKv1.from_content(**fresh(DEPTH_STK, bid_price=prices[:-1]))
    assert r.bid_price == [Decimal(p) for p in prices[:-1]]
    assert alive() == n - 1 + len(DEPTH_STK["ask_price"])


def test_prices_stay_exact_across_many_texts():
    # More distinct price texts than the conversions keep, as new str objects
    # each message, in lists longer than a record's five levels and in every
    # kind of iterable; texts that differ only in trailing zeros are distinct
    # Decimals.
    texts = ["%d.%02d" % (i // 100, i % 100) for i in range(30000)]
    texts += [t + "0" for t in texts[:2000]]
    for start in range(0, len(texts), 40):
        chunk = texts[start:start + 40]
        for bid in (list(chunk), tuple(chunk), iter(list(chunk))):
            r = DepthSTKv1.from_content(**fresh(DEPTH_STK, bid_price=bid,
                                                ask_price=["".join(t) for t in chunk[::-1]]))
            assert list(map(repr, r.bid_price)) == [repr(Decimal(t)) for t in chunk]
            assert r.to_dict(raw=True)["ask_price"] == chunk[::-1]


@pytest.mark.parametrize("cls, msg, fields", [
    (DepthSTKv1, DEPTH_STK, ["code", "date", "time"]),
    (DepthFOPv1, DEPTH_FOP, ["code", "date", "time", "first_derived_bid_price",
                             "first_derived_ask_price", "target_kind_price"]),
])
def test_text_arguments_are_checked_first(cls, msg, fields, monkeypatch):
    calls = []
    monkeypatch.setattr(depth, "datetime_parser", lambda d, t: calls.append(1))
    for field in fields:
        with pytest.raises(TypeError, match="'{}'".format(field)):
            cls.from_content(**fresh(msg, **{field: 12, "bid_price": ["bad"]}))
    assert calls == []
    # None is accepted by the check
    monkeypatch.setattr(depth, "datetime_parser", lambda d, t: (d, t))
    r = cls.from_content(**fresh(msg, code=None, date=None, time=None))
    assert r.code is None and r.datetime == (None, None)


@pytest.mark.parametrize("cls, msg, expected", [
    (DepthSTKv1, DEPTH_STK, ["parser", "210.5", "210", "209.5", "209", "208.5",
                             "211", "211.5", "212", "212.5", "213"]),
    (DepthFOPv1, DEPTH_FOP, ["parser", "23015", "23014", "23013", "23012", "23011", "23016",
                             "23017", "23018", "23019", "23020", "23014.5", "23017.5",
                             "23002.71"]),
])
def test_order_of_evaluation(cls, msg, expected, monkeypatch):
    seen = []
    monkeypatch.setattr(depth, "datetime_parser", lambda d, t: seen.append("parser"))
    monkeypatch.setattr(depth, "Decimal", lambda x: seen.append(x) or decimal.Decimal(x))
    cls.from_content(**msg)
    assert seen == expected


def test_subclass_and_init():
    class Mine(DepthFOPv1):
        pass

    assert type(Mine.from_content(**DEPTH_FOP)) is Mine
    assert type(DepthSTKv1.from_content_odd.__self__) is type
    r = DepthSTKv1(*range(11)[:0], "c", *range(10))
    assert [r[s] for s in STK_SLOTS] == ["c", *range(10)]
    with pytest.raises(TypeError, match="'code'"):
        DepthFOPv1(*range(16))


@pytest.mark.parametrize("call, message", [
    (lambda: DepthSTKv1.from_content_odd(**fresh(DEPTH_STK, intraday_odd=1)),
     "from_content_odd() got an unexpected keyword argument 'intraday_odd'"),
    (lambda: DepthFOPv1.from_content(**{k: v for k, v in DEPTH_FOP.items() if "derived" not in k}),
     "from_content() missing 4 required positional arguments: 'first_derived_bid_price', "
     "'first_derived_ask_price', 'first_derived_bid_volume', and 'first_derived_ask_volume'"),
    (lambda: DepthSTKv1(*range(12)), "__init__() takes 12 positional arguments but 13 were given"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message
