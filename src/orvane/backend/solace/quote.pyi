"""Solace topics for contracts and stock quote records decoded from message contents."""

import datetime as dt
from decimal import Decimal
from typing import Any, Dict, Iterable, List, Optional, Type, TypeVar

from orvane.constant import Exchange as Exchange, QuoteType as QuoteType, QuoteVersion as QuoteVersion
from orvane.contracts import (Contract as Contract, Future as Future, Index as Index,
                              Option as Option, Stock as Stock)

from .utils import datetime_parser as datetime_parser

_Q = TypeVar("_Q", bound="QuoteSTKv1")

class QuoteBase:
    def __repr__(self) -> str: ...
    def keys(self) -> List[str]: ...
    def __getitem__(self, key: str, /) -> Any: ...
    @staticmethod
    def _transform_raw(k: Optional[str], v: Any) -> Any: ...
    def to_dict(self, raw: bool = False) -> Dict[str, Any]: ...

class QuoteSTKv1(QuoteBase):
    __slots__: List[str]
    code: str
    datetime: dt.datetime
    open: Decimal
    avg_price: Decimal
    close: Decimal
    high: Decimal
    low: Decimal
    amount: Decimal
    total_amount: Decimal
    volume: int
    total_volume: int
    tick_type: int
    chg_type: int
    price_chg: Decimal
    pct_chg: Decimal
    bid_side_total_vol: int
    ask_side_total_vol: int
    bid_side_total_cnt: int
    ask_side_total_cnt: int
    closing_oddlot_shares: int
    closing_oddlot_close: Decimal
    closing_oddlot_amount: Decimal
    closing_oddlot_bid_price: Decimal
    closing_oddlot_ask_price: Decimal
    fixed_trade_vol: int
    fixed_trade_amount: Decimal
    bid_price: List[Decimal]
    bid_volume: List[int]
    diff_bid_vol: List[int]
    ask_price: List[Decimal]
    ask_volume: List[int]
    diff_ask_vol: List[int]
    avail_borrowing: int
    suspend: bool
    simtrade: bool
    def __init__(
        self,
        code: str,
        datetime: dt.datetime,
        open: Decimal,
        avg_price: Decimal,
        close: Decimal,
        high: Decimal,
        low: Decimal,
        amount: Decimal,
        total_amount: Decimal,
        volume: int,
        total_volume: int,
        tick_type: int,
        chg_type: int,
        price_chg: Decimal,
        pct_chg: Decimal,
        bid_side_total_vol: int,
        ask_side_total_vol: int,
        bid_side_total_cnt: int,
        ask_side_total_cnt: int,
        closing_oddlot_shares: int,
        closing_oddlot_close: Decimal,
        closing_oddlot_amount: Decimal,
        closing_oddlot_bid_price: Decimal,
        closing_oddlot_ask_price: Decimal,
        fixed_trade_vol: int,
        fixed_trade_amount: Decimal,
        bid_price: List[Decimal],
        bid_volume: List[int],
        diff_bid_vol: List[int],
        ask_price: List[Decimal],
        ask_volume: List[int],
        diff_ask_vol: List[int],
        avail_borrowing: int,
        suspend: bool,
        simtrade: bool,
    ) -> None: ...
    @classmethod
    def from_content(
        cls: Type[_Q],
        code: Optional[str],
        date: Optional[str],
        time: Optional[str],
        open: Optional[str],
        avg_price: Optional[str],
        close: Optional[str],
        high: Optional[str],
        low: Optional[str],
        amount: Optional[str],
        amount_sum: Optional[str],
        volume: int,
        vol_sum: int,
        tick_type: int,
        diff_type: int,
        diff_price: Optional[str],
        diff_rate: int,
        trade_bid_vol_sum: int,
        trade_ask_vol_sum: int,
        trade_bid_cnt: int,
        trade_ask_cnt: int,
        closing_oddlot_shares: int,
        closing_oddlot_close: Optional[str],
        closing_oddlot_amount: Optional[str],
        closing_oddlot_bid_price: Optional[str],
        closing_oddlot_ask_price: Optional[str],
        fixed_trade_volume: int,
        fixed_trade_amount: Optional[str],
        bid_price: Iterable[str],
        bid_volume: List[int],
        diff_bid_vol: List[int],
        ask_price: Iterable[str],
        ask_volume: List[int],
        diff_ask_vol: List[int],
        avail_borrowing: int,
        suspend: int,
        simtrade: int,
    ) -> _Q: ...

def v1contract2topic(contract: Contract, quote_type: QuoteType, intraday_odd: object) -> str: ...
def v2contract2topic(contract: Contract, quote_type: QuoteType, intraday_odd: object) -> str: ...
def contract2topic(
    contract: Contract,
    quote_type: QuoteType,
    intraday_odd: object,
    version: QuoteVersion = ...,
) -> str: ...
