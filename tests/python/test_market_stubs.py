"""The type stubs describe what the market-data modules really hold."""

import ast
import inspect
import pathlib

import pytest

from orvane.backend.solace import depth, quote

STUBS = pathlib.Path(quote.__file__).parent


def stub_tree(module):
    path = STUBS / (module.__name__.rsplit(".", 1)[1] + ".pyi")
    return ast.parse(path.read_text(encoding="utf-8"))


def params(node):
    a = node.args
    return [x.arg for x in a.posonlyargs + a.args + a.kwonlyargs]


@pytest.mark.parametrize("module", [quote, depth])
def test_stub_matches_module(module):
    tree = stub_tree(module)
    classes = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    functions = {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}
    public = {n for n, v in vars(module).items()
              if (inspect.isclass(v) or callable(v)) and getattr(v, "__module__", None) == module.__name__}
    assert public == set(classes) | set(functions)
    for name, f in functions.items():
        assert params(f) == list(inspect.signature(getattr(module, name)).parameters)
    for name, c in classes.items():
        cls = getattr(module, name)
        methods = {n.name: n for n in c.body if isinstance(n, ast.FunctionDef)}
        for mname, m in methods.items():
            got = list(inspect.signature(getattr(cls, mname)).parameters)
            want = params(m)
            if mname == "from_content" or mname == "from_content_odd" or mname == "_transform_raw":
                want = want[1:] if want[0] == "cls" else want
            elif want[0] == "self":
                got = ["self"] + got if got[:1] != ["self"] else got
            assert want == got, (name, mname)
        if "__slots__" in vars(cls):
            attrs = [n.target.id for n in c.body
                     if isinstance(n, ast.AnnAssign) and n.target.id != "__slots__"]
            assert attrs == cls.__slots__
