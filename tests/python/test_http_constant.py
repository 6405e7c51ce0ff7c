"""orvane.backend.http.constant: MetaProps, BaseProps and Constant."""

import collections.abc
import gc
import sys
import types
import weakref

import pytest

from orvane.backend.http import constant
from orvane.backend.http.constant import BaseProps, Constant, MetaProps


def test_module_layout():
    assert [n for n in vars(constant) if not n.startswith("__")] == ["Constant", "MetaProps", "BaseProps"]
    assert Constant.__bases__ == (object,) and type(Constant) is type
    assert MetaProps.__bases__ == (type,) and type(MetaProps) is type
    assert BaseProps.__bases__ == (object,) and type(BaseProps) is MetaProps
    for cls in (Constant, MetaProps, BaseProps):
        assert cls.__doc__ is None and "__slots__" not in vars(cls)
        assert cls.__module__ == "orvane.backend.http.constant"
    assert {k for k, v in vars(MetaProps).items() if callable(v)} == {"__repr__", "keys", "__getitem__"}
    assert [k for k in vars(BaseProps) if not k.startswith("__")] == []


class Side(BaseProps):
    A = "a"
    _b = "b"
    C = "c"


def test_keys_repr_and_indexing():
    assert list(Side.keys()) == ["A", "C"]
    assert repr(Side) == "Side(A, C)"
    assert Side["A"] == "a" and Side["_b"] == "b"
    assert repr(BaseProps) == "BaseProps()"
    assert MetaProps.__getitem__(cls=Side, key="C") == "c"
    assert MetaProps.__getitem__(Side, key="A") == "a"
    assert list(MetaProps.keys(cls=Side)) == ["A", "C"]
    assert MetaProps.__repr__(Side) == "Side(A, C)"
    assert dict((k, Side[k]) for k in Side.keys()) == {"A": "a", "C": "c"}


def test_private_class_name_is_not_shown():
    _Hidden = MetaProps("_Hidden", (BaseProps,), {"X": 1, "Y": 2})
    assert repr(_Hidden) == "(X, Y)"


def test_inherited_names_are_found_but_not_listed():
    class Child(Side):
        D = "d"

    assert list(Child.keys()) == ["D"] and repr(Child) == "Child(D)"
    assert Child["A"] == "a" and Child["__name__"] == "Child"


def test_instances_do_not_get_the_mapping_methods():
    with pytest.raises(AttributeError):
        Side().keys()
    with pytest.raises(TypeError):
        Side()["A"]


def test_keys_is_lazy():
    class Late(BaseProps):
        A = 1

    it = Late.keys()
    Late.B = 2
    assert list(it) == ["A", "B"]
    assert list(it) == []  # exhausted stays exhausted
    with pytest.raises(StopIteration):
        next(it)


def test_keys_is_a_whole_generator():
    g = Side.keys()
    assert isinstance(g, collections.abc.Generator) and iter(g) is g
    assert (g.__name__, g.__qualname__) == ("genexpr", "MetaProps.keys.<locals>.genexpr")
    assert repr(g).startswith("<generator object MetaProps.keys.<locals>.genexpr at ")
    with pytest.raises(TypeError):
        type(g)()
    assert g.gi_running is False
    with pytest.raises(TypeError):
        g.send("x")  # nothing but None goes to a generator that has not started
    assert g.send(None) == "A"
    with pytest.raises(KeyError):
        g.throw(KeyError("k"))
    assert list(g) == []
    g = Side.keys()
    assert next(g) == "A"
    g.close()
    assert list(g) == []


def test_keys_changed_during_iteration_raises():
    class Grow(BaseProps):
        A = 1

    it = Grow.keys()
    assert next(it) == "A"
    Grow.B = 2
    with pytest.raises(RuntimeError):
        next(it)
    assert list(it) == []


@pytest.mark.parametrize("call, exc", [
    (lambda: Side["missing"], AttributeError),
    (lambda: MetaProps.__getitem__(Side, 5), TypeError),
    (lambda: MetaProps.__getitem__(Side), TypeError),
    (lambda: MetaProps.__getitem__(Side, "A", "B"), TypeError),
    (lambda: MetaProps.keys(), TypeError),
    (lambda: list(MetaProps.keys(5)), AttributeError),
    (lambda: MetaProps.__repr__(5), AttributeError),
])
def test_mapping_errors(call, exc):
    with pytest.raises(exc):
        call()


def test_keys_iterator_references():
    class Held(BaseProps):
        A = 1

    before = sys.getrefcount(Held)
    its = [Held.keys() for _ in range(10)]
    list(its[0])
    del its
    assert sys.getrefcount(Held) == before

    # A class reachable only through a cycle with its own iterator is collected.
    class Cyc(BaseProps):
        pass

    Cyc.it = Cyc.keys()
    ref = weakref.ref(Cyc)
    del Cyc
    gc.collect()
    assert ref() is None


# ---- Constant -------------------------------------------------------------------------


class Action(Constant):
    Buy = "B"
    Sell = "S"
    Nothing = None


def test_constant_links_values_both_ways():
    ops = types.SimpleNamespace(Buy="BUY", Sell="SELL", Nothing="NONE", Other="O")
    c = Action(ops)
    assert c.BUY == "B" and c.B == "BUY"
    assert c.SELL == "S" and c.S == "SELL"
    assert not hasattr(c, "NONE") and not hasattr(c, "O")


def test_constant_with_a_class_ops():
    class X(Constant):
        X = "x1"
        _p = "q"

    class Ops:
        X = "x2"
        _p = "r"

    c = X(Ops)
    assert c.x2 == "x1" and c.x1 == "x2"
    assert c.r == "q" and c.q == "r"  # a single leading underscore is shared too


def test_constant_value_equal_to_name():
    class X(Constant):
        X = "x1"

    c = X(types.SimpleNamespace(X="X"))
    assert vars(c) == {"X": "x1", "x1": "X"}
    assert X.X == "x1"


def test_constant_ignores_dunder_and_empty_ops():
    class OnlyDunder:
        __slots__ = ()

    class X(Constant):
        __module__ = "m"

    assert vars(X(OnlyDunder)) == {}
    assert vars(X(types.SimpleNamespace())) == {}


def test_constant_attribute_lookup_on_the_instance():
    class Dyn(Constant):
        def __getattr__(self, name):
            if name == "Flag":
                return "F"
            raise AttributeError(name)

    c = Dyn(types.SimpleNamespace(Flag="FLAG", Missing="M"))
    assert c.FLAG == "F" and c.F == "FLAG"

    class Broken(Constant):
        @property
        def Bad(self):
            raise ValueError("bad")

    with pytest.raises(ValueError, match="bad"):
        Broken(types.SimpleNamespace(Bad="x"))


def test_constant_errors_keep_earlier_assignments():
    class X(Constant):
        A = "a"
        B = "b"

    ops = types.SimpleNamespace(A="AA", B=5)
    c = X.__new__(X)
    with pytest.raises(TypeError, match="attribute name must be string"):
        c.__init__(ops)
    assert c.AA == "a" and c.a == "AA"
    with pytest.raises(TypeError, match="__dict__"):
        X(5)
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'ops'"):
        X()


def test_constant_reference_counts():
    value = "VALUE_%d" % 7
    ops = types.SimpleNamespace(Buy=value)
    Action(ops)
    before = sys.getrefcount(value), sys.getrefcount(ops)
    for _ in range(5):
        c = Action(ops)
        del c
    assert (sys.getrefcount(value), sys.getrefcount(ops)) == before
