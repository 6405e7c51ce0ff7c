"""Bad-input catalogue, market-data records: oversized contents (10,000-level
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


@pytest.fixture(autouse=True)
def fixed_time(monkeypatch):
    for m in (quote, depth):
        monkeypatch.setattr(m, "datetime_parser", lambda d, t: WHEN)


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
