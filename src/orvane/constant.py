"""Enumerations shared across the package."""

from enum import Enum


class _TextEnum(str, Enum):
    """A text-valued enumeration whose str() and format() give the value."""

    def __str__(self) -> str:
        return self.value

    def __format__(self, format_spec: str) -> str:
        return format(self.value, format_spec)


class QuoteType(_TextEnum):
    Tick = "tick"
    Depth = "bidask"
    Quote = "quote"


class QuoteVersion(_TextEnum):
    v0 = "v0"
    v1 = "v1"
    v2 = "v2"


class Exchange(_TextEnum):
    TSE = "TSE"
    OTC = "OTC"
    OES = "OES"
    TAIFEX = "TAIFEX"
