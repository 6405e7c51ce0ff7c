"""Account query records (C++ extension module)."""

from typing import Any, Dict, List, Mapping, TypeVar, Union

from orvane.account import Account
from orvane.backend.http.client import ServiceClient
from orvane.backend.http.futureoption.account import (
    _query_margin as _query_margin,
    _query_open_position as _query_open_position,
    _query_settle_profitloss as _query_settle_profitloss,
)
from orvane.backend.http.stock.account import (
    _query_funds_profitloss as _query_funds_profitloss,
    _query_real_profitloss as _query_real_profitloss,
    _query_unreal_profitloss as _query_unreal_profitloss,
)

_T = TypeVar("_T")

class AccountMargin:
    _currency: Any
    _margin_type: Any
    _account: Account
    _client: ServiceClient
    _status: bool
    _msg: Any
    _data: Any
    def __init__(self, currency: str, margin_type: str, account: Account, client: ServiceClient) -> None: ...
    def update(self) -> None: ...
    def data(self) -> Any: ...

class AccountOpenPosition:
    _product_type: Any
    _query_type: Any
    _account: Account
    _client: ServiceClient
    _status: bool
    _msg: Any
    _accountid: str
    _data: Any
    def __init__(self, product_type: Union[str, int], query_type: Union[str, int], account: Account,
                 client: ServiceClient) -> None: ...
    def update(self) -> None: ...
    def data(self) -> Any: ...

class AccountSettleProfitLoss:
    _product_type: Any
    _summary: Any
    _start_date: Any
    _end_date: Any
    _currency: Any
    _account: Account
    _client: ServiceClient
    _status: bool
    _msg: Any
    _accountid: str
    _data: Any
    def __init__(self, product_type: Union[str, int], summary: str, start_date: str, end_date: str,
                 currency: str, account: Account, client: ServiceClient) -> None: ...
    def update(self) -> None: ...
    def data(self) -> Any: ...

class AccountFunds:
    _tax: Any
    _client: ServiceClient
    _account: Account
    _status: bool
    _msg: Any
    _data: Any
    def __init__(self, tax: str, account: Account, client: ServiceClient) -> None: ...
    def update(self) -> None: ...
    def data(self) -> Any: ...

def rm_dict_key(d: Mapping[Any, _T], *args: Any) -> Dict[Any, _T]: ...
def assimilate_type(details: _T, /) -> Union[_T, List[_T]]: ...

class AccountUnRealProfitLoss:
    _stock_type: Any
    _currency: Any
    _action: Any
    _account: Account
    _client: ServiceClient
    _status: bool
    _msg: Any
    _data: Dict[str, List[Dict[str, Any]]]
    def __init__(self, stock_type: str, currency: str, action: str, account: Account,
                 client: ServiceClient) -> None: ...
    def update(self) -> None: ...
    def data(self) -> Dict[str, List[Dict[str, Any]]]: ...

class AccountRealProfitLoss:
    _stock_type: Any
    _start_date: Any
    _end_date: Any
    _currency: Any
    _action: Any
    _account: Account
    _client: ServiceClient
    _status: bool
    _msg: Any
    _data: Dict[str, List[Dict[str, Any]]]
    def __init__(self, stock_type: str, start_date: str, end_date: str, currency: str, action: str,
                 account: Account, client: ServiceClient) -> None: ...
    def update(self) -> None: ...
    def data(self) -> Dict[str, List[Dict[str, Any]]]: ...
