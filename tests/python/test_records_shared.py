"""Behaviour shared by every record: keys, __getitem__, to_dict, _transform_raw, repr.

Each test runs once for the quote module's base class and once for the depth
module's, each with a concrete record class of its module.
"""

import datetime as dt
import decimal
import subprocess
import sys
import textwrap
from decimal import Decimal

import pytest

from market_samples import DEPTH_STK, QUOTE, WHEN, fresh
from orvane.backend.solace import depth, quote


class Kind:
    def __init__(self, module, base, record, msg, label):
        self.module, self.base, self.record, self.msg, self.label = (
            module, base, record, msg, label)

    def make(self, **changes):
        return self.record.from_content(**fresh(self.msg, **changes))

    def __repr__(self):
        return self.base.__name__


KINDS = [Kind(quote, quote.QuoteBase, quote.QuoteSTKv1, QUOTE, "Quote"),
         Kind(depth, depth.DepthBase, depth.DepthSTKv1, DEPTH_STK, "Depth")]


@pytest.fixture(params=KINDS, ids=repr)
def kind(request, monkeypatch):
    monkeypatch.setattr(request.param.module, "datetime_parser", lambda d, t: WHEN)
    return request.param


def test_base_class_is_plain(kind):
    base = kind.base
    assert type(base) is type and base.__bases__ == (object,)
    assert "__slots__" not in vars(base) and base.__doc__ is None
    assert base.__module__ == kind.module.__name__
    assert isinstance(vars(base)["_transform_raw"], staticmethod)
    assert list(k for k in vars(base) if not k.startswith("__") or k in (
        "__repr__", "__getitem__")) == ["__repr__", "keys", "__getitem__", "_transform_raw",
                                        "to_dict"]


def test_record_class_is_plain(kind):
    cls = kind.record
    assert type(cls) is type and cls.__bases__ == (kind.base,) and cls.__doc__ is None
    assert type(cls.__slots__) is list
    assert cls.__module__ == kind.module.__name__ and cls.__qualname__ == cls.__name__


def test_keys_is_the_class_slot_list(kind):
    a, b = kind.make(), kind.make(code="9999")
    assert a.keys() is kind.record.__slots__
    assert a.keys() is b.keys() is a.keys()


def test_base_instance_has_no_slots(kind):
    r = kind.base()
    for call in (r.keys, r.to_dict, lambda: r.to_dict(raw=True), lambda: repr(r)):
        with pytest.raises(AttributeError):
            call()
    assert r["anything"] is None


def test_getitem(kind):
    r = kind.make()
    assert r["code"] == kind.msg["code"]
    assert r["no_such_attribute"] is None
    assert r["keys"]() is r.keys()  # any attribute, not only slots
    r.extra = 5  # kept in the instance dict
    assert r["extra"] == 5
    for bad in (1, None, b"code"):
        with pytest.raises(TypeError):
            r[bad]


def test_getitem_propagates_errors_other_than_attribute_error(kind):
    class Sub(kind.record):
        @property
        def boom(self):
            raise KeyError("boom")

        @property
        def gone(self):
            raise AttributeError("gone")

    r = Sub.from_content(**kind.msg)
    assert r["gone"] is None
    with pytest.raises(KeyError):
        r["boom"]


def test_unset_slot(kind):
    r = kind.make()
    del r.code
    assert r["code"] is None
    assert r.to_dict()["code"] is None and dict(r)["code"] is None
    with pytest.raises(AttributeError):
        repr(r)


def test_dict_of_record_equals_to_dict(kind):
    r = kind.make()
    d = r.to_dict()
    assert dict(r) == d and list(d) == r.keys()
    assert list(d.values()) == [getattr(r, k) for k in r.keys()]
    assert d["bid_price"] is r.bid_price and d["datetime"] is WHEN


def test_to_dict_raw(kind):
    r = kind.make(bid_price=["1.50", "2"], ask_price=["3.10"])
    raw = r.to_dict(raw=True)
    assert list(raw) == r.keys()
    assert raw["bid_price"] == ["1.50", "2"] and raw["ask_price"] == ["3.10"]
    assert raw["datetime"] == WHEN.isoformat()
    assert raw["bid_volume"] is r.bid_volume and raw["diff_ask_vol"] is r.diff_ask_vol
    assert raw["suspend"] == 0 and type(raw["suspend"]) is int
    assert raw["code"] == kind.msg["code"]
    assert r.to_dict(raw=0) == r.to_dict() and r.to_dict(1) == raw
    assert r.to_dict(raw=[]) == r.to_dict()


@pytest.mark.parametrize("k, v, expected", [
    ("bid_price", [1, Decimal("1.50"), "x"], ["1", "1.50", "x"]),
    ("ask_price", (Decimal("2E+3"), 2.5), ["2E+3", "2.5"]),
    ("ask_price", range(7, 9), ["7", "8"]),
    ("open", 5, 5),
    ("open", Decimal("1.50"), "1.50"),
    ("close", Decimal("-0"), "-0"),
    (None, Decimal("1e-9"), "1E-9"),
    ("datetime", dt.datetime(2026, 1, 2, 3, 4, 5, 6), "2026-01-02T03:04:05.000006"),
    ("datetime", dt.datetime(2026, 12, 31, 23, 59, 59), "2026-12-31T23:59:59"),
    ("datetime", dt.datetime(7, 1, 1, fold=1), "0007-01-01T00:00:00"),
    ("datetime", dt.datetime.max, "9999-12-31T23:59:59.999999"),
    ("datetime", dt.datetime(2026, 1, 2, 3, 4, 5, 60, dt.timezone(dt.timedelta(hours=8))),
     "2026-01-02T03:04:05.000060+08:00"),
    ("x", dt.date(2026, 1, 2), dt.date(2026, 1, 2)),
    ("x", None, None),
    ("x", True, True),
    ("x", "text", "text"),
])
def test_transform_raw(kind, k, v, expected):
    got = kind.base._transform_raw(k, v)
    assert got == expected and type(got) is type(expected)
    assert kind.base._transform_raw(k=k, v=v) == expected


def test_transform_raw_keeps_other_objects_and_checks_key(kind):
    lst = [1, 2]
    assert kind.base._transform_raw("bid_volume", lst) is lst
    with pytest.raises(TypeError):
        kind.base._transform_raw(1, 2)
    with pytest.raises(TypeError):
        kind.base._transform_raw("bid_price", None)
    with pytest.raises(TypeError):
        kind.base._transform_raw("bid_price")


def test_transform_raw_honours_subclasses_of_decimal_and_datetime(kind):
    class D(Decimal):
        def __str__(self):
            return "D!"

    class T(dt.datetime):
        def isoformat(self, *a):
            return "T!"

    assert kind.base._transform_raw("open", D("1")) == "D!"
    assert kind.base._transform_raw("datetime", T(2026, 1, 1)) == "T!"


def test_decimal_text_follows_the_context(kind):
    r = kind.make()
    r.code = Decimal("1E+5")  # an exponent is written after the context's capitals
    assert r.to_dict(raw=True)["code"] == "1E+5"
    with decimal.localcontext() as ctx:
        ctx.capitals = 0
        assert r.to_dict(raw=True)["code"] == "1e+5"
    assert r.to_dict(raw=True)["code"] == "1E+5"


def test_repr(kind):
    r = kind.make()
    text = repr(r)
    assert text == "{}({})".format(kind.label, ", ".join(
        "{}={!r}".format(s, getattr(r, s)) for s in r.keys()))
    assert text.startswith(kind.label + "(code=")
    r.extra = 1
    assert repr(r) == text


def test_repr_skips_private_slots(kind):
    class Sub(kind.record):
        __slots__ = ["_hidden", "shown"]

    r = Sub.from_content(**kind.msg)
    r._hidden, r.shown = 1, 2
    assert repr(r) == kind.label + "(shown=2)"
    assert r.to_dict()["_hidden"] == 1  # keys() is only the subclass's own list
    assert list(r.to_dict()) == ["_hidden", "shown"]


def test_to_dict_honours_overridden_methods(kind):
    class Sub(kind.record):
        def __getitem__(self, key):
            return "got-" + key

        @staticmethod
        def _transform_raw(k, v):
            return (k, v)

    r = Sub.from_content(**kind.msg)
    d = r.to_dict(raw=True)
    assert d["code"] == ("code", "got-code")

    class Keys(kind.record):
        def keys(self):
            return ("code", "simtrade")

    assert Keys.from_content(**kind.msg).to_dict(raw=True) == {
        "code": kind.msg["code"], "simtrade": kind.msg["simtrade"]}

    r = kind.make()
    r._transform_raw = lambda k, v: "instance"  # an instance attribute wins, as in Python
    assert set(r.to_dict(raw=True).values()) == {"instance"}


def test_transform_names_are_looked_up_at_each_call(kind, monkeypatch):
    r = kind.make()

    class NotDecimal:
        pass

    monkeypatch.setattr(kind.module, "Decimal", NotDecimal)
    assert isinstance(r.to_dict(raw=True)["bid_price"][0], str)  # lists are always texts
    assert r.to_dict(raw=True)["datetime"] == WHEN.isoformat()
    monkeypatch.delattr(kind.module, "dt")
    with pytest.raises(NameError):
        r.to_dict(raw=True)
    with pytest.raises(NameError):
        kind.base._transform_raw("x", 1)
    assert r.to_dict()["code"] == kind.msg["code"]  # raw=False needs neither name


def test_patched_class_takes_the_ordinary_protocol():
    # A class changed at run time must behave as Python would; run apart so
    # the change does not outlive the test.
    code = textwrap.dedent("""
        from orvane.backend.solace import quote, depth
        import sys
        sys.path.insert(0, %r)
        from market_samples import QUOTE, DEPTH_STK
        for cls, msg in ((quote.QuoteSTKv1, QUOTE), (depth.DepthSTKv1, DEPTH_STK)):
            cls.code = property(lambda self: "patched", lambda self, v: None)
            r = cls.from_content(**msg)
            assert r.code == "patched" and r.to_dict()["code"] == "patched", r.to_dict()
            assert r.to_dict(raw=True)["code"] == "patched"
            del cls.code
            cls.__init__ = lambda self, *a: setattr(self, "simtrade", "init!")
            r = cls.from_content(**msg)
            assert r.simtrade == "init!" and r.to_dict()["code"] is None
        print("ok")
    """) % (str(__import__("pathlib").Path(__file__).parent),)
    out = subprocess.run([sys.executable, "-c", code], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    assert out.stdout.strip() == b"ok", out.stderr.decode()


def test_slot_list_changed_at_run_time(kind):
    r = kind.make()
    slots = kind.record.__slots__
    slots.append("extra")
    try:
        d = r.to_dict(raw=True)
        assert d["extra"] is None and list(d) == slots
    finally:
        slots.pop()


@pytest.mark.parametrize("call, message", [
    (lambda r: r.keys(1), "keys() takes 1 positional argument but 2 were given"),
    (lambda r: r.to_dict(1, 2), "to_dict() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda r: r.to_dict(rwa=True), "to_dict() got an unexpected keyword argument 'rwa'"),
    (lambda r: r.__getitem__(), "__getitem__() missing 1 required positional argument: 'key'"),
])
def test_method_argument_errors(kind, call, message):
    with pytest.raises(TypeError) as e:
        call(kind.make())
    assert str(e.value) == message
