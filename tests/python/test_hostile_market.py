"""Hostile callers of the market-data modules: record classes changed behind
the factories' backs, module names rebound while they are in use, and values
whose special methods run Python code that clears, re-enters or rebinds.
Each call gives what the same Python code would give, or an ordinary
exception, never a crash. Cases that would crash a faulty build, and cases
that change a record class for good, run in a child interpreter."""

import datetime as dt
import decimal
import os
import sys

import pytest

from hostile import assert_survives, churn, hostile_object, hostile_str, rebinding
from market_samples import DEPTH_FOP, DEPTH_STK, QUOTE, WHEN, fresh
from orvane.backend.solace import depth, quote
from orvane.backend.solace.quote import contract2topic, v1contract2topic
from orvane.constant import Exchange, QuoteType, QuoteVersion
from orvane.contracts import Option, Stock

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, os.pardir, "bench"))
import twins  # noqa: E402  the pure-Python twins of the record classes

KINDS = [("QuoteSTKv1", quote, QUOTE), ("DepthSTKv1", depth, DEPTH_STK),
         ("DepthFOPv1", depth, DEPTH_FOP)]
KIND_IDS = [k[0] for k in KINDS]


def child(body, prelude=True):
    """Runs `body` in a child interpreter, after a prelude that imports the
    modules with a fixed datetime_parser; the body prints "ok" at its end."""
    prelude = "" if not prelude else """
import ctypes, sys, decimal
from hostile import churn
from market_samples import QUOTE, DEPTH_STK, DEPTH_FOP, WHEN, fresh
from orvane.backend.solace import quote, depth
quote.datetime_parser = depth.datetime_parser = lambda d, t: WHEN
KINDS = [(quote.QuoteSTKv1, QUOTE), (depth.DepthSTKv1, DEPTH_STK), (depth.DepthFOPv1, DEPTH_FOP)]
"""
    out = assert_survives(prelude + body, cwd=HERE)
    assert out.strip().endswith("ok"), out


# ---- classes changed after sys._clear_type_cache() ---------------------------------

# Before 3.11, sys._clear_type_cache() restarts the counter of type version
# tags, so a class changed afterwards can get the tag it had back. The child
# hands out tags until that happens (the tag is read from the type object, at
# the same place from 3.8 to 3.13 on 64-bit builds); from 3.11 on tags never
# come back, and the same changes must be honoured all the same.
TYPE_CACHE = """
RESTARTS = sys.version_info < (3, 11)

def tag(cls):
    return ctypes.c_uint32.from_address(id(cls) + 384).value

def clear_and_change(cls, target, name, value):
    # target.name = value, with target the class or its base
    getattr(cls, "no such name", None)
    old = tag(cls)
    sys._clear_type_cache()
    probes = []
    while RESTARTS and (not probes or tag(probes[-1]) < old - 1):
        probes.append(type("Probe", (), {}))
        getattr(probes[-1], "no such name", None)
    setattr(target, name, value)
    getattr(cls, "no such name", None)
    assert (tag(cls) == old) is RESTARTS, (tag(cls), old)

import copy
for cls, msg in KINDS:
    # copy stores __slotnames__ on the class: a change the fast paths may
    # ignore, while the change below must still be seen.
    values = [getattr(copy.copy(cls.from_content(**msg)), s) for s in cls.__slots__]
    assert "__slotnames__" in vars(cls)
"""

TYPE_CACHE_CHANGES = {
    # A replaced __init__ runs.
    "init": """
    original = cls.__init__
    def init(self, *args):
        original(self, *args)
        self.code = "init ran"
    clear_and_change(cls, cls, "__init__", init)
    assert cls.from_content(**msg).code == "init ran"
""",
    # A __new__ that returns another object: that object comes back untouched.
    "new": """
    class Other:
        pass
    other = Other()
    clear_and_change(cls, cls, "__new__", staticmethod(lambda *a: other))
    r = cls.from_content(**msg)
    churn()
    assert r is other and vars(other) == {}, vars(other)
""",
    # A __setattr__ on the base class sees every store, of __init__ too.
    "base_setattr": """
    seen = []
    def setattr_(self, name, value):
        seen.append(name)
        object.__setattr__(self, name, value)
    clear_and_change(cls, cls.__mro__[1], "__setattr__", setattr_)
    r = cls.from_content(**msg)
    r.__init__(*values)
    assert seen == cls.__slots__ * 2, seen
    del cls.__mro__[1].__setattr__
""",
    # A slot replaced by a property: stores and to_dict go through it.
    "slot": """
    clear_and_change(cls, cls, "code", property(lambda s: "prop", lambda s, v: None))
    r = cls.from_content(**msg)
    assert r.code == "prop" and r.to_dict()["code"] == "prop" and dict(r)["code"] == "prop"
    assert r.to_dict(raw=True)["code"] == "prop"
""",
}


@pytest.mark.parametrize("change", sorted(TYPE_CACHE_CHANGES))
def test_class_changed_after_the_type_cache_was_cleared(change):
    child(TYPE_CACHE + TYPE_CACHE_CHANGES[change] + "print('ok')\n")


# ---- objects dropped while the native code uses them --------------------------------

DROPPED = {
    # `dt` that drops the module's only reference to itself inside its own
    # attribute lookup, then answers from __getattr__.
    "dt_vanishes_in_getattr": """
import datetime
class VanishingDt:
    def __getattribute__(self, name):
        del quote.dt
        churn()
        raise AttributeError(name)
    def __getattr__(self, name):
        quote.dt = datetime
        churn()
        return datetime.datetime
r = quote.QuoteSTKv1.from_content(**QUOTE)
quote.dt = VanishingDt()
assert r.to_dict(raw=True)["datetime"] == WHEN.isoformat()
""",
    # A Decimal that empties the price list it is mapped over.
    "decimal_clears_its_list": """
for cls, msg in KINDS:
    module = sys.modules[cls.__module__]
    prices = ["1.5", "2.5", "3.5"]
    def emptying(x):
        if x == "1.5":
            prices.clear()
            churn()
        return decimal.Decimal(x)
    module.Decimal = emptying
    r = cls.from_content(**fresh(msg, bid_price=prices))
    module.Decimal = decimal.Decimal
    assert r.bid_price == [decimal.Decimal("1.5")], r.bid_price
""",
    # Price-list elements whose str() empties the list being read.
    "str_clears_its_list": """
for cls, msg in KINDS:
    r = cls.from_content(**msg)
    class Emptying:
        def __str__(self):
            r.bid_price.clear()
            churn()
            return "first"
    r.bid_price = [Emptying(), Emptying(), Emptying()]
    assert r.to_dict(raw=True)["bid_price"] == ["first"]
""",
    # __init__ on a record replaces a value whose finalizer replaces a later
    # slot by a property: the remaining stores go through it, as setattr does.
    "finalizer_changes_the_class": """
for cls, msg in KINDS:
    seen = []
    class Dying(str):
        def __del__(self):
            cls.simtrade = property(lambda s: "prop", lambda s, v: seen.append(v))
            churn()
    r = cls.from_content(**fresh(msg, code=Dying("old")))
    values = [getattr(r, s) for s in cls.__slots__]
    values[0] = "new"
    values[cls.__slots__.index("simtrade")] = "stored"
    r.__init__(*values)
    assert seen == ["stored"] and r.code == "new", seen
""",
}


@pytest.mark.parametrize("case", sorted(DROPPED))
def test_objects_dropped_while_in_use(case):
    child(DROPPED[case] + "print('ok')\n")


def test_pure_python_decimal_is_never_cached():
    # Without the C decimal module Decimal is a class whose methods can be
    # replaced: the conversions and to_dict must see the replacements.
    child("""
import sys
sys.modules["_decimal"] = None
import decimal
from market_samples import QUOTE, WHEN
from orvane.backend.solace import quote
quote.datetime_parser = lambda d, t: WHEN
assert decimal.Decimal.__flags__ & (1 << 9)  # a heap type: the pure-Python class
r = quote.QuoteSTKv1.from_content(**QUOTE)
assert r.to_dict(raw=True)["open"] == QUOTE["open"]
decimal.Decimal.__str__ = lambda self: "patched"
assert r.to_dict(raw=True)["open"] == "patched"
made = []
original_new = decimal.Decimal.__new__
decimal.Decimal.__new__ = lambda cls, value="0", context=None: (
    made.append(value) or original_new(cls, value, context))
quote.QuoteSTKv1.from_content(**QUOTE)
assert QUOTE["open"] in made, made
print("ok")
""", prelude=False)


@pytest.mark.parametrize("name, module, msg", KINDS, ids=KIND_IDS)
def test_text_fields_that_re_enter_the_factory(monkeypatch, name, module, msg):
    # The package's own datetime_parser calls methods of the date text; a str
    # subclass runs the factory again from inside them.
    from orvane.backend.solace import utils
    monkeypatch.setattr(module, "datetime_parser", utils.datetime_parser)
    cls = getattr(module, name)
    inner = []

    def replace(self, old, new):
        inner.append(cls.from_content(**msg))
        churn()
        return str.replace(self, old, new)

    code = hostile_str("C1", __eq__=lambda s, o: True, __hash__=lambda s: 1)
    r = cls.from_content(**fresh(msg, code=code, date=hostile_str(msg["date"], replace=replace)))
    assert len(inner) == 1 and r.code is code
    assert r.to_dict(raw=True) == dict(inner[0].to_dict(raw=True), code=code)


# ---- to_dict against the pure-Python twin -----------------------------------------------

def rebinds_decimal_in_isoformat(module, cls, msg):
    # _transform_raw looks Decimal up at each call: after the datetime's
    # isoformat() rebinds it to int, integers become texts and Decimals stay.
    class Sneaky(dt.datetime):
        def isoformat(self, *args):
            module.Decimal = int
            churn()
            return "sneaky"

    r = cls.from_content(**msg)
    r.datetime = Sneaky(2026, 12, 8)
    return r.to_dict(raw=True)


def getitem_empties_the_keys(module, cls, msg):
    # dict() copies keys() into a list of its own before it reads the values.
    class Sub(cls):
        def keys(self):
            self.__dict__["names"] = ["code", "simtrade", "datetime"]
            return self.__dict__["names"]

        def __getitem__(self, key):
            self.__dict__["names"].clear()
            churn()
            return key.upper()

    r = Sub.from_content(**msg)
    return r.to_dict(), r.to_dict(raw=True)


def keys_that_are_str_subclasses(module, cls, msg):
    # A key that is a str subclass answers with its own __eq__ whether it
    # names a price list.
    class Named(str):
        def __eq__(self, other):
            return (str(self) == "bid" and other == "bid_price") or str.__eq__(self, other)

        __hash__ = str.__hash__

    class Sub(cls):
        bid = property(lambda self: ["1.5", decimal.Decimal("2.50")])

        def keys(self):
            return [Named("bid"), Named("code"), Named("nothing")]

    return Sub.from_content(**msg).to_dict(raw=True)


TWIN_CASES = [rebinds_decimal_in_isoformat, getitem_empties_the_keys,
              keys_that_are_str_subclasses]


@pytest.mark.parametrize("case", TWIN_CASES, ids=[c.__name__ for c in TWIN_CASES])
@pytest.mark.parametrize("name, module, msg", KINDS, ids=KIND_IDS)
def test_to_dict_does_what_python_does(monkeypatch, case, name, module, msg):
    results = []
    for m in (module, twins):
        monkeypatch.setattr(m, "datetime_parser", lambda d, t: WHEN)
        monkeypatch.setattr(m, "Decimal", decimal.Decimal)
        results.append(case(m, getattr(m, name), msg))
        monkeypatch.setattr(m, "Decimal", decimal.Decimal)
    native, twin = results
    assert native == twin


# ---- topic functions -------------------------------------------------------------------

class Mark:
    """An enumeration member stand-in that equals only itself."""


def test_exchange_compared_against_names_rebound_by_the_comparison(monkeypatch):
    # `contract.exchange == Exchange.X` looks Exchange up for each comparison;
    # the first comparison rebinds it, the second matches the new one.
    mark = Mark()
    table = type("Exchanges", (), {"TSE": Mark(), "OTC": Mark(), "OES": Mark(), "TAIFEX": mark})
    rebind = rebinding(quote, "Exchange", table)
    exchange = hostile_object(__eq__=lambda self, other: other is mark or rebind() or False,
                              __format__=lambda self, spec: "X")
    monkeypatch.setattr(quote, "Exchange", Exchange)
    assert v1contract2topic(Stock("2330", exchange), QuoteType.Tick, False) == "TIC/v1/STK/*/TFE/2330"
    monkeypatch.setattr(quote, "Exchange", Exchange)
    assert v1contract2topic(Option("TXO", exchange), QuoteType.Tick, False) == "TIC/v1/FOP/*/OPT/TXO"


@pytest.mark.parametrize("fn", [contract2topic, v1contract2topic])
def test_quote_type_that_deletes_its_enumeration(monkeypatch, fn):
    monkeypatch.setattr(quote, "QuoteType", QuoteType)
    quote_type = hostile_object(__eq__=rebinding(quote, "QuoteType", result=False))
    with pytest.raises(NameError, match="QuoteType"):
        fn(Stock("2330", Exchange.TSE), quote_type, False)


def test_values_that_re_enter_the_topic_functions():
    inner = Stock("0050", Exchange.OTC)
    nested = lambda self, spec: contract2topic(inner, QuoteType.Depth, False)  # noqa: E731
    code = hostile_object(__format__=nested)
    assert contract2topic(Stock(code, Exchange.TSE), QuoteType.Tick, False) == \
        "MKT/*/TSE/QUT/*/OTC/0050"
    assert v1contract2topic(Stock(code, Exchange.TSE), QuoteType.Tick, False) == \
        "TIC/v1/STK/*/TSE/QUT/*/OTC/0050"

    class Moody(Stock):
        @property
        def code(self):
            contract2topic(inner, QuoteType.Tick, True)
            raise LookupError("code")

        @code.setter
        def code(self, value):
            pass

    with pytest.raises(LookupError):
        contract2topic(Moody("x", Exchange.TSE), QuoteType.Tick, False)

    def odd(self):
        v1contract2topic(inner, QuoteType.Quote, True)
        raise ArithmeticError("bool")

    with pytest.raises(ArithmeticError):
        contract2topic(Stock("2330", Exchange.TSE), QuoteType.Tick, hostile_object(__bool__=odd))


def test_version_that_rebinds_its_enumeration(monkeypatch):
    monkeypatch.setattr(quote, "QuoteVersion", QuoteVersion)
    table = type("Versions", (), {"v0": Mark(), "v1": Mark()})
    version = hostile_object(__eq__=rebinding(quote, "QuoteVersion", table, False),
                             __format__=lambda self, spec: "odd")
    with pytest.raises(Exception, match="^QuoteVersion: odd not support.$"):
        contract2topic(Stock("2330", Exchange.TSE), QuoteType.Tick, False, version)
    assert quote.QuoteVersion is table
