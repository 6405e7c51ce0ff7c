"""Pure-Python twin of the contract list converters of orvane.backend.http.contract.

Written the straightforward way such converters are written in Python; the
benchmark compares the C++ module with it, and the tests use it as a reference
for the converters' output.
"""


def stock_dict_convert(contracts):
    ret = {}
    for c in contracts:
        desc = {
            "symbol": "{exchange}{code}".format(**c),
            "security_type": "STK",
            "currency": "TWD",
            "exchange": c["exchange"],
            "code": c["code"],
            "name": c["name"].strip(" "),
            "category": c["industry"],
        }
        ret.setdefault(desc["exchange"], []).append(desc)
    return ret


def future_dict_convert(contracts):
    ret = {}
    for product, entries in contracts.items():
        for c in entries:
            desc = {
                "symbol": "{ename}{deliverymonth}".format(**c),
                "security_type": "FUT",
                "currency": "TWD",
                "exchange": "TAIFEX",
                "code": c["code"],
                "name": c["csname"],
                "category": c["category"],
                "delivery_month": c["deliverymonth"],
                "strike_price": 0,
                "option_right": "",
                "underlying_kind": c["prod_kind"],
                "underlying_code": c["ostock"],
                "unit": float(c["basic"]),
                "multiplier": 0,
            }
            ret.setdefault(product, []).append(desc)
    return ret


def option_dict_convert(contracts):
    ret = {}
    for product, entries in contracts.items():
        for c in entries:
            if c.get("eprice", "").endswith(".0"):
                strike = c["eprice"].rstrip("0").rstrip(".")
            else:
                strike = c["eprice"]
            desc = {
                "symbol": "{category}{deliverymonth}{poc}{eprice}".format(**dict(c, eprice=strike)),
                "security_type": "OPT",
                "currency": "TWD",
                "exchange": "TAIFEX",
                "code": c["code"],
                "name": c["csname"],
                "category": c["category"],
                "delivery_month": c["deliverymonth"],
                "strike_price": c["eprice"],
                "option_right": c["poc"],
                "underlying_kind": c["prod_kind"],
                "underlying_code": c["ostock"],
                "unit": float(c["basic"]),
                "multiplier": 0,
            }
            ret.setdefault(product, []).append(desc)
    return ret


def tw_index_dict_convert(index_dict):
    ret = {"TSE": [], "OTC": []}
    exchanges = {"0": "TSE", "1": "OTC"}
    for code, name in index_dict.items():
        exchange = exchanges.get(code[0], "")
        ret[exchange].append({
            "symbol": "{}{}".format(exchange, code),
            "security_type": "IND",
            "currency": "TWD",
            "exchange": exchange,
            "code": code,
            "name": name,
        })
    return ret
