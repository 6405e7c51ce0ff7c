"""The pure-Python surroundings the extension modules rely on."""

import datetime as dt

import pytest

from orvane.backend.solace.utils import datetime_parser
from orvane.constant import Exchange, QuoteType, QuoteVersion


@pytest.mark.parametrize(
    "date, time, expected",
    [
        ("2026/12/08", "09:00:01.123456", dt.datetime(2026, 12, 8, 9, 0, 1, 123456)),
        ("2026-12-08", "13:30:00", dt.datetime(2026, 12, 8, 13, 30)),
        ("20261208", "13:30:00.500", dt.datetime(2026, 12, 8, 13, 30, 0, 500000)),
        ("2026/12/08", None, dt.datetime(2026, 12, 8)),
    ],
)
def test_datetime_parser_forms(date, time, expected):
    assert datetime_parser(date, time) == expected


def test_datetime_parser_without_date_is_today():
    assert datetime_parser(None, "09:00:00").date() == dt.date.today()


@pytest.mark.parametrize("date, time, exc", [("2026/13/08", "09:00:00", ValueError),
                                              ("garbage", "09:00:00", ValueError),
                                              (20261208, "09:00:00", TypeError)])
def test_datetime_parser_rejects(date, time, exc):
    with pytest.raises(exc):
        datetime_parser(date, time)


def test_enumerations_format_as_their_value():
    # Version-0 topics carry format(exchange) unchanged.
    assert "{}/{}".format(Exchange.TSE, Exchange.TAIFEX) == "TSE/TAIFEX"
    assert format(QuoteVersion.v2) == "v2"
    assert QuoteType.Tick != QuoteType.Depth
