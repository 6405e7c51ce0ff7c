"""The shared argument parser owns the arguments it hands out.

A callee may run Python code (an argument's `__index__`, a function looked up
in its module) while it still needs its other arguments. Those may be borrowed
from a keyword dict that the caller keeps and can clear meanwhile: tp_new
receives the caller's own dict (`f(**d)` on CPython 3.8,
`operator.methodcaller`, `_thread.start_new_thread`), and a functools.partial
passes its stored arguments on without taking references. Each scenario
empties that storage from inside the call; a callee that borrowed from it
reads freed memory, which crashes the child interpreter the scenario runs in
(or shows under AddressSanitizer with PYTHONMALLOC=malloc).
"""

import datetime as dt
import json
import operator
import os
import sys
import threading
import _thread

import pytest

from hostile import child_value, churn, index_doing, methodcaller_dict, partial_dropping
from market_samples import DEPTH_STK, QUOTE
from seal_support import pki, workdir  # noqa: F401

HERE = os.path.dirname(os.path.abspath(__file__))
WHEN = dt.datetime(2026, 12, 8, 9, 0, 1)


def in_child(call, **kw):
    """`call`, an expression over this module (bound as `t`), evaluated in a
    fresh interpreter."""
    return child_value("import sys\nsys.path.insert(0, %r)\nimport %s as t" % (HERE, __name__), call, **kw)


def unique(value):
    """An equal value that nothing else holds (not a code constant)."""
    return json.loads(json.dumps(value))


# ---- tp_new with the caller's keyword dict ---------------------------------------------

def session_kwargs_cleared(caller, path, password):
    """PyTWCASign made by `caller` from a keyword dict that the `store`
    argument's __index__ (read before anything else is used) clears.
    Returns the tail of the session's gen_seal payload, which ends with the
    person id twice."""
    import orvane.TWCA.seal as seal

    made, finished = [], threading.Event()

    class Session(seal.PyTWCASign):
        def __init__(self, *args, **kw):
            made.append(self)
            finished.set()

    target = {}
    kw = {"seal_path": unique(path), "seal_passwd": unique(password), "person_id": unique("P123456789"),
          "ip": unique("10.9.8.7")}
    kw["store"] = index_doing(lambda: (target["dict"].clear(), churn()), 0)
    if caller == "star":
        target["dict"] = kw
        Session(**kw)
    elif caller == "methodcaller":
        call = operator.methodcaller("Session", **kw)
        target["dict"] = methodcaller_dict(call)
        del kw
        call(type("Holder", (), {"Session": Session}))
    else:
        target["dict"] = kw
        sys.unraisablehook = lambda unraisable: finished.set()  # an error in the thread
        _thread.start_new_thread(Session, (), kw)
        finished.wait()
    return made[0].gen_seal("text")[-20:].decode()


@pytest.mark.parametrize("caller", ["star", "methodcaller", "thread"])
def test_session_arguments_outlive_the_callers_dict(caller, pki, workdir):  # noqa: F811
    tail = in_child("t.session_kwargs_cleared(%r, %r, %r)" % (caller, pki["pfx_user"], pki["password"]),
                    cwd=str(workdir))
    assert tail == "P123456789" * 2


# ---- fast-call functions with borrowed positional arguments ---------------------------
#
# A functools.partial hands the function it calls its stored arguments without
# taking references; replacing them (__setstate__) from inside the call frees
# them.

def record_args_dropped(module_name):
    """A market record factory whose datetime_parser (looked up in its module
    at each call) drops the arguments of the partial that called it. True
    when the record equals one made without interference."""
    from orvane.backend.solace import depth, quote
    module, cls, msg = {"quote": (quote, quote.QuoteSTKv1, QUOTE),
                        "depth": (depth, depth.DepthSTKv1, DEPTH_STK)}[module_name]
    module.datetime_parser = lambda date, time: WHEN
    expected = cls.from_content(**unique(msg)).to_dict(raw=True)
    call, drop = partial_dropping(cls.from_content, *unique(msg).values())
    module.datetime_parser = lambda date, time: (drop(), WHEN)[1]
    return call().to_dict(raw=True) == expected


def gen_seal_args_dropped():
    """seal.gen_seal, whose get_quote_sign (looked up in the module at each
    call) drops the partial's arguments before the user id is used."""
    import orvane.TWCA.seal as seal
    seal.get_quote_sign = lambda plain: "QUOTED"
    expected = seal.gen_seal(unique("U1234567"), "text")
    call, drop = partial_dropping(seal.gen_seal, unique("U1234567"), unique("text"))
    seal.get_quote_sign = lambda plain: (drop(), "QUOTED")[1]
    return call() == expected


@pytest.mark.parametrize("call", ["t.record_args_dropped('quote')", "t.record_args_dropped('depth')",
                                  "t.gen_seal_args_dropped()"])
def test_fastcall_arguments_outlive_the_callers_storage(call):
    assert in_child(call) is True
