"""Hostile callers of the HTTP-backend modules (contract, account, constant).

Each scenario is a function of this module that returns plain values. Those
that crash a faulty build run in a child interpreter (`in_child`), so a fault
fails its own test and not the whole session.
"""

import gc
import json
import os
import types

import pytest

from hostile import child_value, churn, hostile_object, hostile_str, partial_dropping
from orvane.backend.http import account, contract
from orvane.backend.http.constant import BaseProps, Constant, MetaProps

HERE = os.path.dirname(os.path.abspath(__file__))
BENCH = os.path.join(HERE, os.pardir, os.pardir, "bench")


def in_child(call):
    """`call`, an expression over this module (bound as `t`), evaluated in a
    fresh interpreter."""
    return child_value("import sys\nsys.path[:0] = [%r, %r]\nimport %s as t" % (HERE, BENCH, __name__), call)


def unique(text):
    """A str equal to `text` that nothing else holds (not a code constant)."""
    return json.loads(json.dumps(text))


# ---- MetaProps.keys(): a generator entered again from inside ---------------------------


class Side(BaseProps):
    A = "a"
    _b = "b"
    C = "c"


def keys_reentered(route, catch):
    """keys() of a class whose namespace runs next() on that same generator
    from inside it: from a key's startswith, from the namespace iterator's
    __next__, or from the getter of a metaclass `__dict__` property.
    Returns (names yielded or the error, errors the inner calls saw, the
    number of namespace iterators still alive afterwards)."""
    holder, seen, live = {}, [], []

    def reenter():
        try:
            next(holder["g"])
        except Exception as e:
            seen.append("%s: %s" % (type(e).__name__, e))
            if not catch:
                raise

    def startswith(self, prefix):
        reenter()
        return str.startswith(self, prefix)

    names = ["A", hostile_str("B", startswith=startswith) if route == "startswith" else "B", "_c", "D"]

    class NamesIterator:
        def __init__(self):
            self.it = iter(names)
            live.append(1)

        def __del__(self):
            live.pop()

        def __iter__(self):
            return self

        def __next__(self):
            if route == "next":
                reenter()
            return next(self.it)

    class Namespace:
        def __iter__(self):
            return NamesIterator()

    class Meta(MetaProps):
        @property
        def __dict__(cls):
            if route == "getter":
                reenter()
            return Namespace()

    g = holder["g"] = Meta("Hostile", (), {}).keys()
    try:
        result = list(g)
    except Exception as e:
        result = "%s: %s" % (type(e).__name__, e)
    after = list(g)
    del g, holder["g"]
    gc.collect()
    return result, after, sorted(set(seen)), len(live)


@pytest.mark.parametrize("catch", [True, False])
@pytest.mark.parametrize("route", ["startswith", "next", "getter"])
def test_keys_reentered_from_inside(route, catch):
    result, after, seen, live = in_child("t.keys_reentered(%r, %r)" % (route, catch))
    assert seen == ["ValueError: generator already executing"]
    assert result == (["A", "B", "D"] if catch else "ValueError: generator already executing")
    assert after == [] and live == 0


# ---- borrowed references across Python code -------------------------------------------


def constant_copy_emptied():
    """Constant.__init__ walks its private copy of vars(ops) while attribute
    reads run Python code; here the first read empties that copy (found
    through the garbage collector) and ops's own dictionary."""
    key, value = hostile_str(unique("Buy")), hostile_str(unique("BUY"))
    ops = types.SimpleNamespace()
    vars(ops)[key] = value
    del key, value
    done = []

    class Linked(Constant):
        Buy = "B"

        def __getattribute__(self, name):
            if name == "Buy" and not done:
                done.append(1)
                for d in gc.get_referrers(name):
                    if type(d) is dict and "Buy" in d and d is not Linked.__dict__:
                        d.clear()
                churn()
            return object.__getattribute__(self, name)

    c = Linked(ops)
    return sorted((str(k), str(v)) for k, v in vars(c).items())


def test_constant_survives_its_copy_being_emptied():
    assert in_child("t.constant_copy_emptied()") == [("B", "BUY"), ("BUY", "B")]


def index_groups_emptied(module_name):
    """tw_index_dict_convert (native or its pure-Python twin) with a code
    whose __format__ empties the result being built."""
    module = contract if module_name == "native" else __import__("contracts_py")

    def fmt(self, spec):
        for o in gc.get_objects():
            if type(o) is dict and list(o) == ["TSE", "OTC"]:
                o.clear()
        churn()
        return "0101"

    code = hostile_object(__getitem__=lambda self, i: "0", __format__=fmt)
    return module.tw_index_dict_convert({code: "name"})


def test_index_convert_holds_its_group():
    assert in_child("t.index_groups_emptied('native')") == in_child("t.index_groups_emptied('twin')")


# ---- arguments whose storage the caller empties during the call ------------------------
#
# A functools.partial passes its stored arguments on without taking references;
# `drop` replaces them from inside the call. (Keyword values taken from a dict
# reach a fast-call function with references the interpreter holds; tp_new's
# dict is another matter, see test_hostile_args.py.)


def futopt_args_dropped():
    posted = []
    session = types.SimpleNamespace(
        post=lambda uri, json: posted.append(json) or types.SimpleNamespace(json=lambda: {"ok": 1}))
    client = types.SimpleNamespace(session=session, f_list_code_uri="uri")
    detail = hostile_object(__bool__=lambda self: (drop(), True)[1])
    call, drop = partial_dropping(contract._list_futopt_code, unique("F-product"), detail, client)
    del client, session, detail
    return call(), posted


def rm_dict_key_args_dropped():
    class Mapping:
        def keys(self):
            drop()
            return ["a", "b"]

        def __getitem__(self, key):
            return key.upper()

    call, drop = partial_dropping(account.rm_dict_key, Mapping())
    return call()


def account_args_dropped():
    account._query_margin = lambda *args: {"success": "true", "result": {"body": list(args[:2])}}

    class Dropping(account.AccountMargin):
        def __setattr__(self, name, value):
            drop()
            object.__setattr__(self, name, value)

    rec = Dropping.__new__(Dropping)
    call, drop = partial_dropping(Dropping.__init__, rec, unique("NTD-x"), unique("1-x"), unique("acct"),
                                  unique("client"))
    call()
    return rec._currency, rec._margin_type, rec._account, rec._client, rec.data()


@pytest.mark.parametrize("scenario, expected", [
    ("futopt_args_dropped()", ({"ok": 1}, [{"code": "F-product", "type": "contract"}])),
    ("rm_dict_key_args_dropped()", {"a": "A", "b": "B"}),
    ("account_args_dropped()", ("NTD-x", "1-x", "acct", "client", ["NTD-x", "1-x"])),
])
def test_arguments_outlive_the_callers_storage(scenario, expected):
    assert in_child("t." + scenario) == expected


def non_str_keyword_names():
    calls = [
        lambda kw: account.rm_dict_key({}, **kw),
        lambda kw: account.rm_dict_key(**kw),
        lambda kw: contract.fetch_available_product(None, "X", **kw),
        lambda kw: contract._list_futopt_code("F", True, None, **kw),
        lambda kw: MetaProps.keys(Side, **kw),
        lambda kw: Constant(types.SimpleNamespace(), **kw),
        lambda kw: account.AccountFunds(" ", None, None, **kw),
    ]
    out = []
    for call in calls:
        for key in (1, 10 ** 30, None):
            try:
                call({key: 2})
                out.append("no error")
            except TypeError as e:
                out.append(str(e))
    return out


def test_non_str_keyword_names_are_refused_as_python_does():
    assert set(in_child("t.non_str_keyword_names()")) == {"keywords must be strings"}
