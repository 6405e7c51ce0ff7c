"""Realistic contract lists, as the service sends them, for the benchmark and the tests.

Deterministic: the same arguments always give the same lists.
"""

import random

_STOCK_NAMES = ["台積電", "鴻海", "聯發科", "台塑", "中華電", "國泰金", "富邦金", "大立光", "日月光投控", "統一"]
_INDUSTRIES = ["01", "02", "03", "12", "14", "17", "21", "24", "25", "28"]


def stocks(n, seed=1):
    rnd = random.Random(seed)
    out = []
    for i in range(n):
        exchange = rnd.choice(["TSE", "TSE", "OTC", "OES"])
        name = rnd.choice(_STOCK_NAMES)
        out.append({
            "exchange": exchange,
            "code": str(1100 + i),
            "name": "  " + name + " " * rnd.randint(0, 3),
            "industry": rnd.choice(_INDUSTRIES),
            "reference": str(rnd.randint(10, 1000)),
        })
    return out


def _month(i):
    return "2027%02d" % (1 + i % 12)


def futures(n, products=40, seed=2):
    rnd = random.Random(seed)
    names = ["TX", "MTX", "TE", "TF", "XIF", "GTF"] + ["%sF" % chr(65 + i // 26) + chr(65 + i % 26) for i in range(products)]
    names = names[:products]
    content = {p: [] for p in names}
    for i in range(n):
        p = names[i % products]
        month = _month(i // products)
        content[p].append({
            "ename": p,
            "deliverymonth": month,
            "code": "%s%s" % (p, "ABCDEFGHIJKL"[int(month[-2:]) - 1] + "7"),
            "csname": "期貨%s%s" % (p, month),
            "category": p,
            "prod_kind": rnd.choice(["I", "S"]),
            "ostock": str(rnd.randint(1101, 9999)) if rnd.random() < 0.7 else "",
            "basic": rnd.choice(["2000", "200", "100", "50", "1000.0"]),
            "status": "N",
        })
    return content


def options(n, products=50, seed=3):
    rnd = random.Random(seed)
    names = ["TXO", "TEO", "TFO"] + ["%sO" % (chr(65 + i // 26) + chr(65 + i % 26)) for i in range(products)]
    names = names[:products]
    content = {p: [] for p in names}
    for i in range(n):
        p = names[i % products]
        k = i // products
        strike = 10000 + 50 * (k // 2 % 400)
        eprice = rnd.choice(["%d.0" % strike, "%d" % strike, "%d.5" % strike, "%d.00" % strike])
        poc = "C" if k % 2 == 0 else "P"
        month = _month(k // 800)
        content[p].append({
            "category": p,
            "deliverymonth": month,
            "poc": poc,
            "eprice": eprice,
            "code": "%s%05d%s7" % (p, strike, "ABCDEFGHIJKL"[int(month[-2:]) - 1] if poc == "C" else "MNOPQRSTUVWX"[int(month[-2:]) - 1]),
            "csname": "選擇權%s" % p,
            "prod_kind": "I",
            "ostock": "",
            "basic": "50",
        })
    return content


def indices(n, seed=4):
    rnd = random.Random(seed)
    out = {}
    for i in range(n):
        code = ("0" if i % 3 else "1") + "%03d" % i
        out[code] = "指數%d" % rnd.randint(1, 10000)
    return out
