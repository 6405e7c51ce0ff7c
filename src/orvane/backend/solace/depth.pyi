"""Bid/ask (depth) records for stocks, futures and options decoded from message contents."""

import datetime as dt
from decimal import Decimal
from typing import Any, Dict, Iterable, List, Optional, Type, TypeVar

from .utils import datetime_parser as datetime_parser

_S = TypeVar("_S", bound="DepthSTKv1")
_F = TypeVar("_F", bound="DepthFOPv1")

class DepthBase:
    def __repr__(self) -> str: ...
    def keys(self) -> List[str]: ...
    def __getitem__(self, key: str, /) -> Any: ...
    @staticmethod
    def _transform_raw(k: Optional[str], v: Any) -> Any: ...
    def to_dict(self, raw: bool = False) -> Dict[str, Any]: ...

class DepthSTKv1(DepthBase):
    __slots__: List[str]
    code: str
    datetime: dt.datetime
    bid_price: List[Decimal]
    bid_volume: List[int]
    diff_bid_vol: List[int]
    ask_price: List[Decimal]
    ask_volume: List[int]
    diff_ask_vol: List[int]
    suspend: bool
    simtrade: bool
    intraday_odd: bool
    def __init__(
        self,
        code: str,
        datetime: dt.datetime,
        bid_price: List[Decimal],
        bid_volume: List[int],
        diff_bid_vol: List[int],
        ask_price: List[Decimal],
        ask_volume: List[int],
        diff_ask_vol: List[int],
        suspend: bool,
        simtrade: bool,
        intraday_odd: bool,
    ) -> None: ...
    @classmethod
    def from_content(
        cls: Type[_S],
        code: Optional[str],
        date: Optional[str],
        time: Optional[str],
        bid_price: Iterable[str],
        bid_volume: List[int],
        diff_bid_vol: List[int],
        ask_price: Iterable[str],
        ask_volume: List[int],
        diff_ask_vol: List[int],
        suspend: int,
        simtrade: int,
    ) -> _S: ...
    @classmethod
    def from_content_odd(
        cls: Type[_S],
        code: Optional[str],
        date: Optional[str],
        time: Optional[str],
        bid_price: Iterable[str],
        ask_price: Iterable[str],
        bid_volume: List[int],
        ask_volume: List[int],
        diff_bid_vol: List[int],
        diff_ask_vol: List[int],
        suspend: int,
        simtrade: int,
    ) -> _S: ...

class DepthFOPv1(DepthBase):
    __slots__: List[str]
    code: str
    datetime: dt.datetime
    bid_total_vol: int
    ask_total_vol: int
    bid_price: List[Decimal]
    bid_volume: List[int]
    diff_bid_vol: List[int]
    ask_price: List[Decimal]
    ask_volume: List[int]
    diff_ask_vol: List[int]
    first_derived_bid_price: Decimal
    first_derived_ask_price: Decimal
    first_derived_bid_vol: int
    first_derived_ask_vol: int
    underlying_price: Decimal
    simtrade: bool
    def __init__(
        self,
        code: str,
        datetime: dt.datetime,
        bid_total_vol: int,
        ask_total_vol: int,
        bid_price: List[Decimal],
        bid_volume: List[int],
        diff_bid_vol: List[int],
        ask_price: List[Decimal],
        ask_volume: List[int],
        diff_ask_vol: List[int],
        first_derived_bid_price: Decimal,
        first_derived_ask_price: Decimal,
        first_derived_bid_vol: int,
        first_derived_ask_vol: int,
        underlying_price: Decimal,
        simtrade: bool,
    ) -> None: ...
    @classmethod
    def from_content(
        cls: Type[_F],
        code: Optional[str],
        date: Optional[str],
        time: Optional[str],
        bid_vol_sum: int,
        ask_vol_sum: int,
        bid_price: Iterable[str],
        bid_volume: List[int],
        diff_bid_vol: List[int],
        ask_price: Iterable[str],
        ask_volume: List[int],
        diff_ask_vol: List[int],
        first_derived_bid_price: Optional[str],
        first_derived_ask_price: Optional[str],
        first_derived_bid_volume: int,
        first_derived_ask_volume: int,
        target_kind_price: Optional[str],
        simtrade: int,
    ) -> _F: ...
