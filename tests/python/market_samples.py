"""Message contents for the market-data tests, as json.loads gives them."""

import copy
import datetime as dt

# Message contents, their fields in the order of the factories' parameters.
# Every text field carries a distinct value, so a test can tell which field
# went where and in which order the conversions ran.
QUOTE = {
    "code": "2330", "date": "2026/12/08", "time": "09:00:01.123456",
    "open": "1015", "avg_price": "1016.42", "close": "1020", "high": "1025", "low": "1010",
    "amount": "3060000", "amount_sum": "10311390000", "volume": 3, "vol_sum": 10145,
    "tick_type": 1, "diff_type": 2, "diff_price": "15.5", "diff_rate": 149,
    "trade_bid_vol_sum": 5083, "trade_ask_vol_sum": 5062, "trade_bid_cnt": 2811,
    "trade_ask_cnt": 2650, "closing_oddlot_shares": 1520, "closing_oddlot_close": "1019",
    "closing_oddlot_amount": "1548880", "closing_oddlot_bid_price": "1018.5",
    "closing_oddlot_ask_price": "1019.5", "fixed_trade_volume": 7,
    "fixed_trade_amount": "7140000",
    "bid_price": ["1015.0", "1010", "1005", "1000", "995"],
    "bid_volume": [120, 331, 410, 822, 97], "diff_bid_vol": [3, 0, -5, 0, 1],
    "ask_price": ["1020", "1025", "1030", "1035", "1040.50"],
    "ask_volume": [98, 540, 612, 233, 180], "diff_ask_vol": [0, 2, 0, -1, 0],
    "avail_borrowing": 1234000, "suspend": 0, "simtrade": 1,
}

DEPTH_STK = {
    "code": "2317", "date": "2026/12/08", "time": "13:30:00.000000",
    "bid_price": ["210.5", "210", "209.5", "209", "208.5"], "bid_volume": [11, 22, 33, 44, 55],
    "diff_bid_vol": [1, 0, -1, 0, 2],
    "ask_price": ["211", "211.5", "212", "212.5", "213"], "ask_volume": [66, 77, 88, 99, 100],
    "diff_ask_vol": [0, -2, 0, 1, 0], "suspend": 0, "simtrade": 1,
}

DEPTH_FOP = {
    "code": "TXFL6", "date": "2026/12/08", "time": "10:12:45.812003",
    "bid_vol_sum": 512, "ask_vol_sum": 498,
    "bid_price": ["23015", "23014", "23013", "23012", "23011"], "bid_volume": [5, 6, 7, 8, 9],
    "diff_bid_vol": [0, 1, 0, -1, 0],
    "ask_price": ["23016", "23017", "23018", "23019", "23020"], "ask_volume": [4, 3, 2, 1, 9],
    "diff_ask_vol": [1, 1, 0, 0, -1],
    "first_derived_bid_price": "23014.5", "first_derived_ask_price": "23017.5",
    "first_derived_bid_volume": 3, "first_derived_ask_volume": 2,
    "target_kind_price": "23002.71", "simtrade": 0,
}

WHEN = dt.datetime(2026, 12, 8, 9, 0, 1, 123456)

# The records' slots in the documented order: the order of keys(), to_dict(),
# repr() and of the arguments of __init__.
QUOTE_SLOTS = [
    "code", "datetime", "open", "avg_price", "close", "high", "low", "amount", "total_amount",
    "volume", "total_volume", "tick_type", "chg_type", "price_chg", "pct_chg",
    "bid_side_total_vol", "ask_side_total_vol", "bid_side_total_cnt", "ask_side_total_cnt",
    "closing_oddlot_shares", "closing_oddlot_close", "closing_oddlot_amount",
    "closing_oddlot_bid_price", "closing_oddlot_ask_price", "fixed_trade_vol",
    "fixed_trade_amount", "bid_price", "bid_volume", "diff_bid_vol", "ask_price", "ask_volume",
    "diff_ask_vol", "avail_borrowing", "suspend", "simtrade",
]
DEPTH_STK_SLOTS = ["code", "datetime", "bid_price", "bid_volume", "diff_bid_vol", "ask_price",
                   "ask_volume", "diff_ask_vol", "suspend", "simtrade", "intraday_odd"]
DEPTH_FOP_SLOTS = ["code", "datetime", "bid_total_vol", "ask_total_vol", "bid_price",
                   "bid_volume", "diff_bid_vol", "ask_price", "ask_volume", "diff_ask_vol",
                   "first_derived_bid_price", "first_derived_ask_price", "first_derived_bid_vol",
                   "first_derived_ask_vol", "underlying_price", "simtrade"]


def fresh(msg, **changes):
    """A deep copy of `msg` with `changes` applied."""
    m = copy.deepcopy(msg)
    m.update(changes)
    return m
