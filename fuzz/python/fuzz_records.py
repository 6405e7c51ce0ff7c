"""Fuzz target: the market-data record factories with JSON-like message contents.

QuoteSTKv1.from_content, DepthSTKv1.from_content and from_content_odd, and
DepthFOPv1.from_content each get a message content drawn from the input (a
JSON object, or sample fields with values replaced), and so does a pure-Python
twin of the same conversion. Both must agree: the same exception type, or
records whose repr and to_dict(raw=True) are equal. repr, to_dict and dict()
of every record must work or raise an ordinary exception, never SystemError.
"""

import copy
import datetime
import json
import sys
from decimal import Decimal

from fuzz_driver import Finding, Unavailable, Values, decode_json, run

sys.setrecursionlimit(10000)

quote = depth = None
SAMPLES = {}


def check_available():
    global quote, depth
    try:
        from orvane.backend.solace import depth as d
        from orvane.backend.solace import quote as q
    except ImportError as e:
        raise Unavailable("orvane.backend.solace.quote/depth not importable (%s)" % e)
    quote, depth = q, d
    sys.path.insert(0, __file__.rsplit("/", 2)[0])
    from make_seeds import DEPTH_FOP, DEPTH_STK, QUOTE
    SAMPLES.update(Q=QUOTE, S=DEPTH_STK, O=DEPTH_STK, F=DEPTH_FOP)


# ---- the twin: the conversions as the message format defines them ------------

QUOTE_STR = ["code", "date", "time", "open", "avg_price", "close", "high", "low", "amount", "amount_sum",
             "diff_price", "closing_oddlot_close", "closing_oddlot_amount", "closing_oddlot_bid_price",
             "closing_oddlot_ask_price", "fixed_trade_amount"]


def _texts(kw, names):
    for n in names:
        v = kw[n]
        if v is not None and not isinstance(v, str):
            raise TypeError(n)


def _odd(x):
    return Decimal(x) if x else Decimal("0.0")


def twin_quote(mod, kw):
    _texts(kw, QUOTE_STR)
    D = Decimal
    when = mod.datetime_parser(kw["date"], kw["time"])
    first = [D(kw[n]) for n in ("open", "avg_price", "close", "high", "low", "amount", "amount_sum",
                                "diff_price")]
    pct = D(kw["diff_rate"]) * D("0.01")
    oc, oa, ob, ok = _odd(kw["closing_oddlot_close"]), D(kw["closing_oddlot_amount"]), \
        _odd(kw["closing_oddlot_bid_price"]), _odd(kw["closing_oddlot_ask_price"])
    fta = D(kw["fixed_trade_amount"])
    bid, ask = list(map(D, kw["bid_price"])), list(map(D, kw["ask_price"]))
    return [kw["code"], when] + first[:6] + [first[6], kw["volume"], kw["vol_sum"], kw["tick_type"],
                                             kw["diff_type"], first[7], pct, kw["trade_bid_vol_sum"],
                                             kw["trade_ask_vol_sum"], kw["trade_bid_cnt"],
                                             kw["trade_ask_cnt"], kw["closing_oddlot_shares"], oc, oa, ob,
                                             ok, kw["fixed_trade_volume"], fta, bid, kw["bid_volume"],
                                             kw["diff_bid_vol"], ask, kw["ask_volume"], kw["diff_ask_vol"],
                                             kw["avail_borrowing"], kw["suspend"], kw["simtrade"]]


def twin_depth_stk(mod, kw, odd):
    _texts(kw, ["code", "date", "time"])
    when = mod.datetime_parser(kw["date"], kw["time"])
    bid, ask = list(map(Decimal, kw["bid_price"])), list(map(Decimal, kw["ask_price"]))
    return [kw["code"], when, bid, kw["bid_volume"], kw["diff_bid_vol"], ask, kw["ask_volume"],
            kw["diff_ask_vol"], kw["suspend"], kw["simtrade"], 1 if odd else 0]


def twin_depth_fop(mod, kw):
    _texts(kw, ["code", "date", "time", "first_derived_bid_price", "first_derived_ask_price",
                "target_kind_price"])
    when = mod.datetime_parser(kw["date"], kw["time"])
    bid, ask = list(map(Decimal, kw["bid_price"])), list(map(Decimal, kw["ask_price"]))
    fb, fa, und = Decimal(kw["first_derived_bid_price"]), Decimal(kw["first_derived_ask_price"]), \
        Decimal(kw["target_kind_price"])
    return [kw["code"], when, kw["bid_vol_sum"], kw["ask_vol_sum"], bid, kw["bid_volume"], kw["diff_bid_vol"],
            ask, kw["ask_volume"], kw["diff_ask_vol"], fb, fa, kw["first_derived_bid_volume"],
            kw["first_derived_ask_volume"], und, kw["simtrade"]]


def raw(k, v):
    if k in ("bid_price", "ask_price"):
        return [str(i) for i in v]
    if isinstance(v, Decimal):
        return str(v)
    if isinstance(v, datetime.datetime):
        return v.isoformat()
    return v


# ---- the target ---------------------------------------------------------------

def message(kind, data):
    """The keyword arguments for one factory call, drawn from data."""
    body = decode_json(data[1:])
    if isinstance(body, dict):
        return body
    base = copy.deepcopy(SAMPLES[kind])
    vals = Values(data[1:])
    for name in list(base):
        if vals.exhausted():
            break
        k = vals.byte()
        if k < 24:
            base[name] = vals.value()
        elif k < 56:
            # A text where the message has one: numbers, odd numbers, non-numbers.
            base[name] = vals.text() if isinstance(base[name], str) or base[name] is None else vals.int()
        elif k < 58:
            del base[name]
        elif k < 66 and isinstance(base[name], list):
            # Long ladders, or their elements replaced.
            if vals.byte() & 1:
                base[name] = [vals.text() for _ in range(vals.byte() * 40)]
            else:
                base[name] = [vals.value() for _ in base[name]]
    if vals.byte() == 255:
        base[vals.text() or "x"] = 1
    return base


def outcome(fn):
    try:
        return "ok", fn()
    except SystemError as e:
        raise Finding("SystemError: %s" % e)
    except RecursionError:
        return "error", RecursionError
    except Exception as e:
        return "error", type(e)


def use_record(r):
    """repr, to_dict, dict() of a record: ordinary exceptions only."""
    out = []
    for fn in (lambda: repr(r), r.to_dict, lambda: r.to_dict(raw=True), lambda: dict(r), r.keys):
        out.append(outcome(fn))
    return out


def target(data):
    if not data:
        return
    kind = "QSOF"[data[0] % 4]
    kw = message(kind, data)
    if kind == "Q":
        mod, factory, cls = quote, quote.QuoteSTKv1.from_content, quote.QuoteSTKv1
        twin = lambda: twin_quote(mod, kw)  # noqa: E731
    elif kind in "SO":
        mod, cls = depth, depth.DepthSTKv1
        factory = cls.from_content_odd if kind == "O" else cls.from_content
        twin = lambda: twin_depth_stk(mod, kw, kind == "O")  # noqa: E731
    else:
        mod, factory, cls = depth, depth.DepthFOPv1.from_content, depth.DepthFOPv1
        twin = lambda: twin_depth_fop(mod, kw)  # noqa: E731

    got = outcome(lambda: factory(**kw))
    slots = cls.__slots__
    if set(kw) != set(SAMPLES[kind]):
        # A missing or unexpected keyword: the factory's own argument error.
        if got[0] != "error" or got[1] is not TypeError:
            raise Finding("argument error expected for keys %r, got %r" % (sorted(kw), got))
        return
    want = outcome(twin)
    if got[0] != want[0]:
        raise Finding("factory %r, twin %r" % (got, want))
    if got[0] == "error":
        if got[1] is not want[1]:
            raise Finding("factory raised %s, twin raised %s" % (got[1].__name__, want[1].__name__))
        return
    rec, values = got[1], want[1]
    if type(rec) is not cls:
        raise Finding("record of type %r" % type(rec))
    uses = use_record(rec)
    if uses[0][0] != "ok" or uses[2][0] != "ok":
        # repr and to_dict(raw=True) of a decoded record fail only where the
        # twin's plain form fails too.
        twin_raw = outcome(lambda: {k: raw(k, v) for k, v in zip(slots, values)})
        if twin_raw[0] == "ok":
            raise Finding("record use failed: %r" % (uses,))
        return
    want_raw = {k: raw(k, v) for k, v in zip(slots, values)}
    got_raw = uses[2][1]
    if json.dumps(got_raw, default=repr, sort_keys=False) != json.dumps(want_raw, default=repr):
        raise Finding("to_dict(raw=True) differs:\n%r\n%r" % (got_raw, want_raw))
    for name, v in zip(slots, values):
        if name in ("bid_volume", "diff_bid_vol", "ask_volume", "diff_ask_vol") and getattr(rec, name) is not v:
            raise Finding("%s is not the list passed in" % name)


if __name__ == "__main__":
    sys.exit(run(target, check_available))
