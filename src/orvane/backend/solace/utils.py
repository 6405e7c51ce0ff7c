"""Helpers for market-data message contents."""

import datetime as _dt

_fromisoformat = _dt.datetime.fromisoformat
_combine = _dt.datetime.combine
_date_type = _dt.date


def datetime_parser(date, time):
    """Join a message's date and time texts into a `datetime.datetime`.

    Accepted forms:
      date: "YYYY/MM/DD", "YYYY-MM-DD" or "YYYYMMDD"; None means today (local).
      time: "HH:MM:SS", "HH:MM:SS.fff" or "HH:MM:SS.ffffff"; None means 00:00:00.
    The result is naive (the exchange's local time, UTC+8). A text in none of
    these forms raises ValueError; a non-text raises TypeError.
    """
    if date is None:
        date = _date_type.today().isoformat()
    elif len(date) == 8 and date.isdigit():
        date = "{}-{}-{}".format(date[:4], date[4:6], date[6:])
    else:
        date = date.replace("/", "-")
    if time is None:
        return _fromisoformat(date)
    return _fromisoformat(date + "T" + time)
