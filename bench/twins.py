"""Pure-Python twins of the quote and depth record classes.

They behave as the extension modules do and are written the way a careful
Python developer would write them; bench/records.py times both side by side.
Like the modules, they look `Decimal`, `datetime_parser` and `dt` up in this
module's namespace at each call.
"""

import datetime as dt
from decimal import Decimal
from typing import List

from orvane.backend.solace.utils import datetime_parser

_TEXT = (str, type(None))


def _check_texts(func, names, values):
    for name, value in zip(names, values):
        if not isinstance(value, _TEXT):
            raise TypeError("{}() argument '{}' must be str or None, not {}".format(
                func, name, type(value).__name__))


class _RecordBase:
    _kind = ""

    def __repr__(self):
        return self._kind + "({})".format(", ".join(
            "{}={!r}".format(s, getattr(self, s)) for s in self.__slots__ if not s.startswith("_")))

    def keys(self):
        return self.__slots__

    def __getitem__(self, key: str):
        return getattr(self, key, None)

    @staticmethod
    def _transform_raw(k, v):
        if k == "bid_price" or k == "ask_price":
            return [str(i) for i in v]
        if isinstance(v, Decimal):
            return str(v)
        if isinstance(v, dt.datetime):
            return v.isoformat()
        return v

    def to_dict(self, raw=False):
        d = dict(self)
        if raw:
            return {k: self._transform_raw(k, v) for k, v in d.items()}
        return d


class QuoteBase(_RecordBase):
    _kind = "Quote"


class DepthBase(_RecordBase):
    _kind = "Depth"


_QUOTE_TEXTS = ("code", "date", "time", "open", "avg_price", "close", "high", "low", "amount",
                "amount_sum", "diff_price", "closing_oddlot_close", "closing_oddlot_amount",
                "closing_oddlot_bid_price", "closing_oddlot_ask_price", "fixed_trade_amount")


class QuoteSTKv1(QuoteBase):
    __slots__ = [
        "code", "datetime", "open", "avg_price", "close", "high", "low", "amount",
        "total_amount", "volume", "total_volume", "tick_type", "chg_type", "price_chg",
        "pct_chg", "bid_side_total_vol", "ask_side_total_vol", "bid_side_total_cnt",
        "ask_side_total_cnt", "closing_oddlot_shares", "closing_oddlot_close",
        "closing_oddlot_amount", "closing_oddlot_bid_price", "closing_oddlot_ask_price",
        "fixed_trade_vol", "fixed_trade_amount", "bid_price", "bid_volume", "diff_bid_vol",
        "ask_price", "ask_volume", "diff_ask_vol", "avail_borrowing", "suspend", "simtrade",
    ]

    def __init__(self, code: str, datetime: dt.datetime, open: Decimal, avg_price: Decimal,
                 close: Decimal, high: Decimal, low: Decimal, amount: Decimal,
                 total_amount: Decimal, volume: int, total_volume: int, tick_type: int,
                 chg_type: int, price_chg: Decimal, pct_chg: Decimal, bid_side_total_vol: int,
                 ask_side_total_vol: int, bid_side_total_cnt: int, ask_side_total_cnt: int,
                 closing_oddlot_shares: int, closing_oddlot_close: Decimal,
                 closing_oddlot_amount: Decimal, closing_oddlot_bid_price: Decimal,
                 closing_oddlot_ask_price: Decimal, fixed_trade_vol: int,
                 fixed_trade_amount: Decimal, bid_price: List[Decimal], bid_volume: List[int],
                 diff_bid_vol: List[int], ask_price: List[Decimal], ask_volume: List[int],
                 diff_ask_vol: List[int], avail_borrowing: int, suspend: bool, simtrade: bool):
        if not isinstance(code, _TEXT):
            raise TypeError("__init__() argument 'code' must be str or None")
        self.code = code
        self.datetime = datetime
        self.open = open
        self.avg_price = avg_price
        self.close = close
        self.high = high
        self.low = low
        self.amount = amount
        self.total_amount = total_amount
        self.volume = volume
        self.total_volume = total_volume
        self.tick_type = tick_type
        self.chg_type = chg_type
        self.price_chg = price_chg
        self.pct_chg = pct_chg
        self.bid_side_total_vol = bid_side_total_vol
        self.ask_side_total_vol = ask_side_total_vol
        self.bid_side_total_cnt = bid_side_total_cnt
        self.ask_side_total_cnt = ask_side_total_cnt
        self.closing_oddlot_shares = closing_oddlot_shares
        self.closing_oddlot_close = closing_oddlot_close
        self.closing_oddlot_amount = closing_oddlot_amount
        self.closing_oddlot_bid_price = closing_oddlot_bid_price
        self.closing_oddlot_ask_price = closing_oddlot_ask_price
        self.fixed_trade_vol = fixed_trade_vol
        self.fixed_trade_amount = fixed_trade_amount
        self.bid_price = bid_price
        self.bid_volume = bid_volume
        self.diff_bid_vol = diff_bid_vol
        self.ask_price = ask_price
        self.ask_volume = ask_volume
        self.diff_ask_vol = diff_ask_vol
        self.avail_borrowing = avail_borrowing
        self.suspend = suspend
        self.simtrade = simtrade

    @classmethod
    def from_content(cls, code, date, time, open, avg_price, close, high, low, amount,
                     amount_sum, volume, vol_sum, tick_type, diff_type, diff_price, diff_rate,
                     trade_bid_vol_sum, trade_ask_vol_sum, trade_bid_cnt, trade_ask_cnt,
                     closing_oddlot_shares, closing_oddlot_close, closing_oddlot_amount,
                     closing_oddlot_bid_price, closing_oddlot_ask_price, fixed_trade_volume,
                     fixed_trade_amount, bid_price, bid_volume, diff_bid_vol, ask_price,
                     ask_volume, diff_ask_vol, avail_borrowing, suspend, simtrade):
        _check_texts("from_content", _QUOTE_TEXTS, (
            code, date, time, open, avg_price, close, high, low, amount, amount_sum, diff_price,
            closing_oddlot_close, closing_oddlot_amount, closing_oddlot_bid_price,
            closing_oddlot_ask_price, fixed_trade_amount))
        return cls(
            code,
            datetime_parser(date, time),
            Decimal(open),
            Decimal(avg_price),
            Decimal(close),
            Decimal(high),
            Decimal(low),
            Decimal(amount),
            Decimal(amount_sum),
            volume,
            vol_sum,
            tick_type,
            diff_type,
            Decimal(diff_price),
            Decimal(diff_rate) * Decimal("0.01"),
            trade_bid_vol_sum,
            trade_ask_vol_sum,
            trade_bid_cnt,
            trade_ask_cnt,
            closing_oddlot_shares,
            Decimal(closing_oddlot_close) if closing_oddlot_close else Decimal("0.0"),
            Decimal(closing_oddlot_amount),
            Decimal(closing_oddlot_bid_price) if closing_oddlot_bid_price else Decimal("0.0"),
            Decimal(closing_oddlot_ask_price) if closing_oddlot_ask_price else Decimal("0.0"),
            fixed_trade_volume,
            Decimal(fixed_trade_amount),
            list(map(Decimal, bid_price)),
            bid_volume,
            diff_bid_vol,
            list(map(Decimal, ask_price)),
            ask_volume,
            diff_ask_vol,
            avail_borrowing,
            suspend,
            simtrade,
        )


class DepthSTKv1(DepthBase):
    __slots__ = ["code", "datetime", "bid_price", "bid_volume", "diff_bid_vol", "ask_price",
                 "ask_volume", "diff_ask_vol", "suspend", "simtrade", "intraday_odd"]

    def __init__(self, code: str, datetime: dt.datetime, bid_price: List[Decimal],
                 bid_volume: List[int], diff_bid_vol: List[int], ask_price: List[Decimal],
                 ask_volume: List[int], diff_ask_vol: List[int], suspend: bool, simtrade: bool,
                 intraday_odd: bool):
        if not isinstance(code, _TEXT):
            raise TypeError("__init__() argument 'code' must be str or None")
        self.code = code
        self.datetime = datetime
        self.bid_price = bid_price
        self.bid_volume = bid_volume
        self.diff_bid_vol = diff_bid_vol
        self.ask_price = ask_price
        self.ask_volume = ask_volume
        self.diff_ask_vol = diff_ask_vol
        self.suspend = suspend
        self.simtrade = simtrade
        self.intraday_odd = intraday_odd

    @classmethod
    def from_content(cls, code, date, time, bid_price, bid_volume, diff_bid_vol, ask_price,
                     ask_volume, diff_ask_vol, suspend, simtrade):
        _check_texts("from_content", ("code", "date", "time"), (code, date, time))
        return cls(code, datetime_parser(date, time), list(map(Decimal, bid_price)), bid_volume,
                   diff_bid_vol, list(map(Decimal, ask_price)), ask_volume, diff_ask_vol,
                   suspend, simtrade, 0)

    @classmethod
    def from_content_odd(cls, code, date, time, bid_price, ask_price, bid_volume, ask_volume,
                         diff_bid_vol, diff_ask_vol, suspend, simtrade):
        _check_texts("from_content_odd", ("code", "date", "time"), (code, date, time))
        return cls(code, datetime_parser(date, time), list(map(Decimal, bid_price)), bid_volume,
                   diff_bid_vol, list(map(Decimal, ask_price)), ask_volume, diff_ask_vol,
                   suspend, simtrade, 1)


_FOP_TEXTS = ("code", "date", "time", "first_derived_bid_price", "first_derived_ask_price",
              "target_kind_price")


class DepthFOPv1(DepthBase):
    __slots__ = ["code", "datetime", "bid_total_vol", "ask_total_vol", "bid_price",
                 "bid_volume", "diff_bid_vol", "ask_price", "ask_volume", "diff_ask_vol",
                 "first_derived_bid_price", "first_derived_ask_price", "first_derived_bid_vol",
                 "first_derived_ask_vol", "underlying_price", "simtrade"]

    def __init__(self, code: str, datetime: dt.datetime, bid_total_vol: int, ask_total_vol: int,
                 bid_price: List[Decimal], bid_volume: List[int], diff_bid_vol: List[int],
                 ask_price: List[Decimal], ask_volume: List[int], diff_ask_vol: List[int],
                 first_derived_bid_price: Decimal, first_derived_ask_price: Decimal,
                 first_derived_bid_vol: int, first_derived_ask_vol: int,
                 underlying_price: Decimal, simtrade: bool):
        if not isinstance(code, _TEXT):
            raise TypeError("__init__() argument 'code' must be str or None")
        self.code = code
        self.datetime = datetime
        self.bid_total_vol = bid_total_vol
        self.ask_total_vol = ask_total_vol
        self.bid_price = bid_price
        self.bid_volume = bid_volume
        self.diff_bid_vol = diff_bid_vol
        self.ask_price = ask_price
        self.ask_volume = ask_volume
        self.diff_ask_vol = diff_ask_vol
        self.first_derived_bid_price = first_derived_bid_price
        self.first_derived_ask_price = first_derived_ask_price
        self.first_derived_bid_vol = first_derived_bid_vol
        self.first_derived_ask_vol = first_derived_ask_vol
        self.underlying_price = underlying_price
        self.simtrade = simtrade

    @classmethod
    def from_content(cls, code, date, time, bid_vol_sum, ask_vol_sum, bid_price, bid_volume,
                     diff_bid_vol, ask_price, ask_volume, diff_ask_vol, first_derived_bid_price,
                     first_derived_ask_price, first_derived_bid_volume, first_derived_ask_volume,
                     target_kind_price, simtrade):
        _check_texts("from_content", _FOP_TEXTS, (code, date, time, first_derived_bid_price,
                                                  first_derived_ask_price, target_kind_price))
        return cls(code, datetime_parser(date, time), bid_vol_sum, ask_vol_sum,
                   list(map(Decimal, bid_price)), bid_volume, diff_bid_vol,
                   list(map(Decimal, ask_price)), ask_volume, diff_ask_vol,
                   Decimal(first_derived_bid_price), Decimal(first_derived_ask_price),
                   first_derived_bid_volume, first_derived_ask_volume,
                   Decimal(target_kind_price), simtrade)
