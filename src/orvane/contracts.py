"""Contract classes: a contract is known by its `code` and its `exchange`."""

from typing import Any

from .constant import Exchange


class Contract:
    security_type = ""

    def __init__(self, code: str, exchange: Exchange, name: str = "", **extra: Any) -> None:
        self.code = code
        self.exchange = exchange
        self.name = name
        for k, v in extra.items():
            setattr(self, k, v)

    def __repr__(self) -> str:
        return "{}(code={!r}, exchange={})".format(type(self).__name__, self.code, self.exchange)

    __str__ = __repr__


class Stock(Contract):
    security_type = "STK"


class Future(Contract):
    security_type = "FUT"


class Option(Contract):
    security_type = "OPT"


class Index(Contract):
    security_type = "IND"
