"""QuoteSTKv1: the stock quote record and its factory."""

import decimal
import inspect
from decimal import Decimal

import pytest

from market_samples import QUOTE, QUOTE_SLOTS as SLOTS, WHEN, fresh
from orvane.backend.solace import quote
from orvane.backend.solace.quote import QuoteSTKv1

TEXT_ARGS = ["code", "date", "time", "open", "avg_price", "close", "high", "low", "amount",
             "amount_sum", "diff_price", "closing_oddlot_close", "closing_oddlot_amount",
             "closing_oddlot_bid_price", "closing_oddlot_ask_price", "fixed_trade_amount"]


@pytest.fixture(autouse=True)
def fixed_time(monkeypatch):
    monkeypatch.setattr(quote, "datetime_parser", lambda d, t: WHEN)


def test_slots_and_docstring():
    assert QuoteSTKv1.__slots__ == SLOTS
    lines = [
        "code (str): code", "datetime (datetime.datetime): datetime", "open (Decimal): open",
        "avg_price (Decimal): average price", "close (Decimal): deal price",
        "high (Decimal): high since market open", "low (Decimal): low since market open",
        "amount (Decimal): amount (NTD)", "total_amount (Decimal): total amount (NTD)",
        "volume (int): volume (K shares)", "total_volume (int): total volume (K shares)",
        "tick_type (int): tick type (內外盤別)",
        "    {1: buy deal, 2: sell deal, 0: can't judge}",
        "chg_type (int): (漲跌註記)",
        "    {1: limit up, 2: up, 3: unchanged, 4: down, 5: limit down}",
        "price_chg (Decimal): price change", "pct_chg (Decimal): percentage change (%)",
        "bid_side_total_vol(int): total bid deal volume (K shares, 買盤成交總量)",
        "ask_side_total_vol (int): total ask deal volume (K shares, 賣盤成交總量)",
        "bid_side_total_cnt (int): total number of buy deal (買盤成交筆數)",
        "ask_side_total_cnt (int): total number of sell deal (賣盤成交筆數)",
        "closing_oddlot_shares (int): (share, 盤後零股成交股數)",
        "closing_oddlot_close (Decimal): closing oddlot close",
        "closing_oddlot_amount (Decimal): closing oddlot amount",
        "closing_oddlot_bid_price (Decimal): closing oddlot bid price",
        "closing_oddlot_ask_price (Decimal): closing oddlot ask price",
        "fixed_trade_vol (int): fixed trade volume (K shares, 定盤成交量)",
        "fixed_trade_amount (Decimal): fixed trade amount",
        "bid_price (list of Decimal): bid price", "bid_volume (list of int): bid volume (lot), (張)",
        "diff_bid_vol (list of int): (lot), (張, 買價增減量)",
        "ask_price (list of Decimal): ask price", "ask_volume (list of int): ask volume (lot), (張)",
        "diff_ask_vol (list of int): (lot), (張, 賣價增減量)",
        "avail_borrowing (int): avail borrowing", "suspend (bool): suspend (暫停交易)",
        "simtrade (bool): simulated trade (試撮)",
    ]
    expected = "Quote Stock v1\n\n        Attributes:\n" + "".join(
        " " * 12 + line + "\n" for line in lines) + "    "
    assert QuoteSTKv1.__init__.__doc__ == expected
    assert list(inspect.signature(QuoteSTKv1.__init__).parameters) == ["self"] + SLOTS
    assert list(inspect.signature(QuoteSTKv1.from_content).parameters) == list(QUOTE)


def test_from_content_fields():
    msg = fresh(QUOTE)
    r = QuoteSTKv1.from_content(**msg)
    assert type(r) is QuoteSTKv1
    expected = {
        "code": "2330", "datetime": WHEN, "open": Decimal("1015"),
        "avg_price": Decimal("1016.42"), "close": Decimal("1020"), "high": Decimal("1025"),
        "low": Decimal("1010"), "amount": Decimal("3060000"),
        "total_amount": Decimal("10311390000"), "volume": 3, "total_volume": 10145,
        "tick_type": 1, "chg_type": 2, "price_chg": Decimal("15.5"), "pct_chg": Decimal("1.49"),
        "bid_side_total_vol": 5083, "ask_side_total_vol": 5062, "bid_side_total_cnt": 2811,
        "ask_side_total_cnt": 2650, "closing_oddlot_shares": 1520,
        "closing_oddlot_close": Decimal("1019"), "closing_oddlot_amount": Decimal("1548880"),
        "closing_oddlot_bid_price": Decimal("1018.5"),
        "closing_oddlot_ask_price": Decimal("1019.5"), "fixed_trade_vol": 7,
        "fixed_trade_amount": Decimal("7140000"),
        "bid_price": [Decimal(x) for x in msg["bid_price"]], "bid_volume": msg["bid_volume"],
        "diff_bid_vol": msg["diff_bid_vol"], "ask_price": [Decimal(x) for x in msg["ask_price"]],
        "ask_volume": msg["ask_volume"], "diff_ask_vol": msg["diff_ask_vol"],
        "avail_borrowing": 1234000, "suspend": 0, "simtrade": 1,
    }
    assert r.to_dict() == expected
    for name in ("bid_volume", "diff_bid_vol", "ask_volume", "diff_ask_vol"):
        assert getattr(r, name) is msg[name]
    assert r.bid_price is not msg["bid_price"] and type(r.bid_price) is list
    assert all(type(p) is Decimal for p in r.bid_price + r.ask_price)
    assert str(r.bid_price[0]) == "1015.0" and str(r.ask_price[-1]) == "1040.50"
    # the same record from positional arguments
    assert QuoteSTKv1.from_content(*msg.values()).to_dict() == expected


@pytest.mark.parametrize("rate, text", [(123, "1.23"), (0, "0.00"), (-84, "-0.84"),
                                        (10000, "100.00"), (7, "0.07")])
def test_percentage_change(rate, text):
    r = QuoteSTKv1.from_content(**fresh(QUOTE, diff_rate=rate))
    assert str(r.pct_chg) == text and type(r.pct_chg) is Decimal
    assert r.to_dict(raw=True)["pct_chg"] == text


def test_percentage_change_follows_the_context():
    with decimal.localcontext() as ctx:
        ctx.prec = 2
        r = QuoteSTKv1.from_content(**fresh(QUOTE, diff_rate=12345))
    assert r.pct_chg == Decimal("1.2E+2")


@pytest.mark.parametrize("field", ["closing_oddlot_close", "closing_oddlot_bid_price",
                                   "closing_oddlot_ask_price"])
@pytest.mark.parametrize("value", ["", None])
def test_closing_oddlot_prices_fall_back_to_zero(field, value):
    r = QuoteSTKv1.from_content(**fresh(QUOTE, **{field: value}))
    assert str(r[field]) == "0.0"


@pytest.mark.parametrize("field", ["open", "avg_price", "close", "high", "low", "amount",
                                   "amount_sum", "diff_price", "closing_oddlot_amount",
                                   "fixed_trade_amount"])
def test_prices_without_fallback(field):
    with pytest.raises(decimal.InvalidOperation):
        QuoteSTKv1.from_content(**fresh(QUOTE, **{field: ""}))
    with pytest.raises(decimal.InvalidOperation):
        QuoteSTKv1.from_content(**fresh(QUOTE, **{field: "12a"}))
    with pytest.raises(TypeError):
        QuoteSTKv1.from_content(**fresh(QUOTE, **{field: None}))


@pytest.mark.parametrize("field", ["bid_price", "ask_price"])
@pytest.mark.parametrize("value, exc", [(["1", "x"], decimal.InvalidOperation),
                                        (None, TypeError), (5, TypeError),
                                        ([None], TypeError)])
def test_bad_price_lists(field, value, exc):
    with pytest.raises(exc):
        QuoteSTKv1.from_content(**fresh(QUOTE, **{field: value}))


def test_price_lists_take_any_iterable_and_unusual_texts():
    r = QuoteSTKv1.from_content(**fresh(QUOTE, bid_price=("1", " 2 ", "1_0"),
                                        ask_price=(x for x in ["3e2", "-0", "NaN"])))
    assert [str(x) for x in r.bid_price] == ["1", "2", "10"]
    assert [str(x) for x in r.ask_price] == ["3E+2", "-0", "NaN"]
    assert type(r.bid_price) is list and type(r.ask_price) is list


def test_invalid_text_under_a_lenient_context():
    # With the InvalidOperation trap off, Decimal gives NaN; that result must
    # not be remembered for later calls under the default context.
    with decimal.localcontext() as ctx:
        ctx.traps[decimal.InvalidOperation] = False
        r = QuoteSTKv1.from_content(**fresh(QUOTE, open="oops"))
        assert r.open.is_nan()
    with pytest.raises(decimal.InvalidOperation):
        QuoteSTKv1.from_content(**fresh(QUOTE, open="oops"))


@pytest.mark.parametrize("field", TEXT_ARGS)
def test_text_arguments_are_checked_first(field, monkeypatch):
    calls = []
    monkeypatch.setattr(quote, "datetime_parser", lambda d, t: calls.append(1))
    with pytest.raises(TypeError, match="'{}'".format(field)):
        QuoteSTKv1.from_content(**fresh(QUOTE, **{field: 1015, "open": "bad"
                                                  if field != "open" else 1015}))
    assert calls == []


def test_other_arguments_are_not_checked():
    odd = object()
    r = QuoteSTKv1.from_content(**fresh(QUOTE, volume="3", suspend=odd, bid_volume=None,
                                        diff_rate=Decimal("5")))
    assert r.volume == "3" and r.suspend is odd and r.bid_volume is None
    assert r.pct_chg == Decimal("0.05")


def test_order_of_evaluation(monkeypatch):
    seen = []

    def parser(d, t):
        seen.append(("parser", d, t))
        return WHEN

    def fake_decimal(x):
        seen.append(x)
        return decimal.Decimal(x)

    monkeypatch.setattr(quote, "datetime_parser", parser)
    monkeypatch.setattr(quote, "Decimal", fake_decimal)
    msg = fresh(QUOTE, diff_rate=77, closing_oddlot_bid_price="")
    r = QuoteSTKv1.from_content(**msg)
    assert seen == [
        ("parser", "2026/12/08", "09:00:01.123456"),
        "1015", "1016.42", "1020", "1025", "1010", "3060000", "10311390000", "15.5", 77, "0.01",
        "1019", "1548880", "0.0", "1019.5", "7140000",
        *msg["bid_price"], *msg["ask_price"],
    ]
    assert r.pct_chg == Decimal("0.77")


def test_errors_of_the_parser_propagate(monkeypatch):
    monkeypatch.undo()
    with pytest.raises(ValueError):
        QuoteSTKv1.from_content(**fresh(QUOTE, date="2026/13/45"))
    r = QuoteSTKv1.from_content(**QUOTE)  # the package's own parser
    assert r.datetime.isoformat() == "2026-12-08T09:00:01.123456"


def test_subclass_gets_its_own_instances():
    class Mine(QuoteSTKv1):
        def __init__(self, *args):
            self.simtrade = len(args)

    r = Mine.from_content(**QUOTE)
    assert type(r) is Mine and r.simtrade == 35

    class Plain(QuoteSTKv1):
        pass

    p = Plain.from_content(**QUOTE)
    assert type(p) is Plain and p.to_dict() == QuoteSTKv1.from_content(**QUOTE).to_dict()


def test_init_stores_arguments_unchanged():
    values = [object() for _ in SLOTS]
    values[0] = "code"
    r = QuoteSTKv1(*values)
    assert [getattr(r, s) for s in SLOTS] == values
    r2 = QuoteSTKv1(**dict(zip(SLOTS, values)))
    assert r2.to_dict() == r.to_dict()
    r.__init__(None, *values[1:])  # re-initialising replaces every slot
    assert r.code is None
    for bad in (1, b"2330"):
        with pytest.raises(TypeError, match="'code'"):
            QuoteSTKv1(bad, *values[1:])


@pytest.mark.parametrize("call, message", [
    (lambda: QuoteSTKv1.from_content(**fresh(QUOTE, extra=1)),
     "from_content() got an unexpected keyword argument 'extra'"),
    (lambda: QuoteSTKv1.from_content(**{k: v for k, v in QUOTE.items() if k != "simtrade"}),
     "from_content() missing 1 required positional argument: 'simtrade'"),
    (lambda: QuoteSTKv1.from_content(*QUOTE.values(), 1),
     "from_content() takes 37 positional arguments but 38 were given"),
    (lambda: QuoteSTKv1.from_content("2330", **QUOTE),
     "from_content() got multiple values for argument 'code'"),
    (lambda: QuoteSTKv1(*range(34)),
     "__init__() missing 1 required positional argument: 'simtrade'"),
    (lambda: QuoteSTKv1(),
     "__init__() missing 35 required positional arguments: " +
     ", ".join("'%s'" % s for s in SLOTS[:-1]) + ", and 'simtrade'"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def test_decimals_follow_the_module_name(monkeypatch):
    r1 = QuoteSTKv1.from_content(**QUOTE)

    class MyDecimal(Decimal):
        pass

    monkeypatch.setattr(quote, "Decimal", MyDecimal)
    r2 = QuoteSTKv1.from_content(**QUOTE)
    assert type(r2.open) is MyDecimal and type(r2.bid_price[0]) is MyDecimal
    assert type(r1.open) is Decimal
    monkeypatch.undo()
    r3 = QuoteSTKv1.from_content(**QUOTE)
    assert type(r3.open) is Decimal and r3.open == r1.open


def test_keywords_match_by_their_whole_text():
    # Each keyword with one character changed, at every position, is a
    # keyword of no parameter; the same texts as other kinds of str match.
    class Key(str):
        pass

    for name in QUOTE:
        for i in range(len(name)):
            wrong = name[:i] + ("X" if name[i] != "X" else "Y") + name[i + 1:]
            msg = dict(QUOTE)
            msg[wrong] = msg.pop(name)
            with pytest.raises(TypeError, match="unexpected keyword argument '%s'" % wrong):
                QuoteSTKv1.from_content(**msg)
    for make in (lambda k: "".join(list(k)), Key):
        msg = {make(k): v for k, v in QUOTE.items()}
        assert QuoteSTKv1.from_content(**msg).to_dict() == QuoteSTKv1.from_content(**QUOTE).to_dict()
    with pytest.raises(TypeError, match="unexpected keyword argument 'cöde'"):
        QuoteSTKv1.from_content(**fresh(QUOTE, cöde=1))
