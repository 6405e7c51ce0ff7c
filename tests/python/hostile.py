"""Hostile-but-legal objects for the hostile-caller tests of every module.

Each builder gives an object of an ordinary kind (a str, a dict, an int-like,
a plain object) whose special methods run a caller's action before they
answer: clear a dict the callee is reading, re-enter the callee, raise, or
hand back the wrong type. The native code must survive all of them: keep its
own references, give an ordinary exception, never read freed memory.

Freed objects only show as crashes when their memory is reused (and under
AddressSanitizer only with PYTHONMALLOC=malloc), so the actions that drop
objects call `churn()` to overwrite what was freed.

Crashes and hangs are checked in a child interpreter (`run_child`), so one
fault does not end the whole session.
"""

import os
import subprocess
import sys
import textwrap


def churn():
    """Allocates and drops objects of many sizes, so freed memory is reused."""
    junk = [("x" * n, list(range(n % 7)), {n: n}) for n in range(400)]
    del junk


def clearing(mapping, value=None):
    """An action that empties `mapping` (a dict or list) and returns `value`."""
    def action(*_args, **_kw):
        mapping.clear()
        churn()
        return value
    return action


def raising(exc=RuntimeError("hostile")):
    def action(*_args, **_kw):
        raise exc
    return action


def calling(fn, value=None):
    """An action that runs `fn()` (for example the callee again) and returns `value`."""
    def action(*_args, **_kw):
        fn()
        return value
    return action


def once(action, value):
    """Runs `action` the first time only; afterwards just returns `value`."""
    state = {"done": False}

    def wrapped(*args, **kw):
        if state["done"]:
            return value
        state["done"] = True
        return action(*args, **kw)
    return wrapped


def _subclass(base, name, methods):
    return type(name, (base,), dict(methods))


def hostile_str(text, **methods):
    """A str subclass holding `text` whose named methods (``__eq__``,
    ``__hash__``, ``__format__``, ``startswith``, ...) are replaced by the given
    functions, which receive the instance and the call's arguments."""
    return _subclass(str, "HostileStr", methods)(text)


def hostile_dict(items=(), **methods):
    """A dict subclass with `items` whose named methods are replaced."""
    return _subclass(dict, "HostileDict", methods)(items)


def hostile_list(items=(), **methods):
    return _subclass(list, "HostileList", methods)(items)


def hostile_object(**methods):
    """A plain object whose named special methods (``__index__``,
    ``__int__``, ``__str__``, ``__getattr__``, ...) are the given functions."""
    return _subclass(object, "HostileObject", methods)()


def index_doing(action, value):
    """An int-like whose ``__index__`` runs `action` and answers `value`."""
    return hostile_object(__index__=lambda self: (action(), value)[1])


def run_child(code, timeout=60, env=None, cwd=None):
    """Runs `code` in a fresh interpreter; returns the CompletedProcess.
    A hang past `timeout` raises subprocess.TimeoutExpired (a test failure)."""
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True,
                          text=True, timeout=timeout, env=full_env, cwd=cwd)


def assert_survives(code, timeout=60, **kw):
    """`code` runs to its end in a child interpreter: no signal, no hang,
    exit status 0. Returns the child's standard output."""
    proc = run_child(code, timeout=timeout, **kw)
    assert proc.returncode == 0, "child ended with %d\nstdout:\n%s\nstderr:\n%s" % (
        proc.returncode, proc.stdout[-3000:], proc.stderr[-3000:])
    return proc.stdout


def child_value(setup, expr, **kw):
    """Runs `setup` in a fresh interpreter, then evaluates `expr` there and
    returns its value (a Python literal). A crash, a hang or an error fails
    as in assert_survives; other output of the child is ignored."""
    import ast
    out = assert_survives("%s\nprint('child value: %%r' %% (%s,))" % (setup, expr), **kw)
    lines = [line for line in out.splitlines() if line.startswith("child value: ")]
    assert lines, out[-3000:]
    return ast.literal_eval(lines[-1][len("child value: "):])


def methodcaller_dict(call):
    """The keyword dict that `call`, an operator.methodcaller, passes to the
    callable it calls: a dict that a hostile argument can clear while the
    callee runs (tp_new receives it as it is)."""
    import gc
    return next(d for d in gc.get_referents(call) if type(d) is dict)


def partial_dropping(fn, *args):
    """`functools.partial(fn, *args)` and an action that drops the partial's
    stored arguments (its __setstate__, as unpickling uses) while a call of it
    runs: CPython passes those arguments on without taking references."""
    import functools
    call = functools.partial(fn, *args)

    def drop(*_args, **_kw):
        call.__setstate__((fn, (), {}, None))
        churn()
    return call, drop


_DELETE = object()


def rebinding(namespace, name, value=_DELETE, result=None):
    """An action that rebinds `namespace.name` to `value` (deletes it when no
    value is given), dropping the object it held, and returns `result`."""
    def action(*_args, **_kw):
        if value is _DELETE:
            delattr(namespace, name)
        else:
            setattr(namespace, name, value)
        churn()
        return result
    return action
