"""orvane.backend.http.contract: fetching and converting the contract lists."""

import collections.abc
import json
import os
import sys

import pytest

from orvane.backend.http import contract

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench"))
import contract_lists  # noqa: E402
import contracts_py  # noqa: E402

CONVERTERS = ["stock_dict_convert", "future_dict_convert", "option_dict_convert", "tw_index_dict_convert"]


def stock(**kw):
    e = {"exchange": "TSE", "code": "2330", "name": "台積電", "industry": "24"}
    e.update(kw)
    return e


def future(**kw):
    e = {"ename": "TXF", "deliverymonth": "202612", "code": "TXFL6", "csname": "臺股期貨", "category": "TX",
         "prod_kind": "I", "ostock": "", "basic": "200"}
    e.update(kw)
    return e


def option(**kw):
    e = {"category": "TXO", "deliverymonth": "202612", "poc": "C", "eprice": "17500.0", "code": "TXO17500L6",
         "csname": "臺指選擇權", "prod_kind": "I", "ostock": "", "basic": "50"}
    e.update(kw)
    return e


def without(entry, key):
    e = dict(entry)
    del e[key]
    return e


class Mapping(collections.abc.Mapping):
    """A read-only mapping that is not a dict."""

    def __init__(self, d):
        self._d = dict(d)

    def __getitem__(self, k):
        return self._d[k]

    def __iter__(self):
        return iter(self._d)

    def __len__(self):
        return len(self._d)


# ---- converters --------------------------------------------------------------


def test_stock_groups_in_first_seen_order_and_keeps_input_order():
    out = contract.stock_dict_convert([stock(code="1101"), stock(exchange="OTC", code="6488"), stock(code="2330")])
    assert list(out) == ["TSE", "OTC"]
    assert [d["code"] for d in out["TSE"]] == ["1101", "2330"]
    assert out["OTC"][0] == {"symbol": "OTC6488", "security_type": "STK", "currency": "TWD", "exchange": "OTC",
                             "code": "6488", "name": "台積電", "category": "24"}
    assert list(out["OTC"][0]) == ["symbol", "security_type", "currency", "exchange", "code", "name", "category"]


@pytest.mark.parametrize("raw, name", [("  台積電  ", "台積電"), ("環球晶\t", "環球晶\t"), ("\u3000中鋼 ", "\u3000中鋼"),
                                       ("   ", ""), ("x", "x")])
def test_stock_name_loses_only_blanks(raw, name):
    assert contract.stock_dict_convert([stock(name=raw)])["TSE"][0]["name"] == name


@pytest.mark.parametrize("exchange, code", [("TSE", "ä€😀"), ("é", "1"), ("", ""), ("€", "x"), ("😀", "é")])
def test_symbols_of_mixed_character_widths(exchange, code):
    entries = [stock(exchange=exchange, code=code)]
    assert contract.stock_dict_convert(entries) == contracts_py.stock_dict_convert(entries)
    futures = {"F": [future(ename=exchange, deliverymonth=code)]}
    assert contract.future_dict_convert(futures) == contracts_py.future_dict_convert(futures)


def test_stock_accepts_any_iterable():
    entries = [stock(code=str(i)) for i in range(3)]
    assert contract.stock_dict_convert(iter(entries)) == contract.stock_dict_convert(tuple(entries))


def test_future_description():
    out = contract.future_dict_convert({"TXF": [future(basic="2000")], "GDF": [], "MXF": (future(ename="MXF"),)})
    assert list(out) == ["TXF", "MXF"]
    d = out["TXF"][0]
    assert list(d) == ["symbol", "security_type", "currency", "exchange", "code", "name", "category",
                       "delivery_month", "strike_price", "option_right", "underlying_kind", "underlying_code",
                       "unit", "multiplier"]
    assert d["symbol"] == "TXF202612" and d["security_type"] == "FUT" and d["exchange"] == "TAIFEX"
    assert d["strike_price"] == 0 and d["option_right"] == "" and d["multiplier"] == 0
    assert type(d["unit"]) is float and d["unit"] == 2000.0
    assert out["MXF"][0]["symbol"] == "MXF202612"


@pytest.mark.parametrize("basic", ["2000", "0", "007", "1000.0", "1000.", "1.5", ".0", "999999999999999",
                                   "9999999999999999", "12345678901234567890", "1e3", " 7 ", "-3", "1_000", "１２",
                                   "inf", 50, 1.5, True])
def test_unit_is_float(basic):
    unit = float(basic)
    out = contract.future_dict_convert({"TXF": [future(basic=basic), future(basic=basic)]})
    assert [d["unit"] for d in out["TXF"]] == [unit, unit]
    assert all(type(d["unit"]) is float for d in out["TXF"])


@pytest.mark.parametrize("eprice, strike", [
    ("17500.0", "17500"), ("100.0", "100"), ("0.0", "0"), (".0", ""), ("10.0", "10"),
    ("17500.5", "17500.5"), ("100.00", "100.00"), ("17550", "17550"), ("", ""),
    ("\u00e910.0", "\u00e910"), ("\u0661\u0660.0", "\u0661\u0660"), ("\u0661.0", "\u0661"),
])
def test_option_strike_normalised_only_in_symbol(eprice, strike):
    entry = option(eprice=eprice)
    d = contract.option_dict_convert({"TXO": [entry]})["TXO"][0]
    assert d["symbol"] == "TXO202612C" + strike
    assert d["strike_price"] == eprice
    assert entry["eprice"] == eprice  # the entry is not changed
    assert d["security_type"] == "OPT" and d["option_right"] == "C" and d["multiplier"] == 0


def test_index_groups():
    out = contract.tw_index_dict_convert({"001": "加權", "101": "櫃買", "024": "半導體"})
    assert list(out) == ["TSE", "OTC"]
    assert [d["symbol"] for d in out["TSE"]] == ["TSE001", "TSE024"]
    assert out["OTC"] == [{"symbol": "OTC101", "security_type": "IND", "currency": "TWD", "exchange": "OTC",
                           "code": "101", "name": "櫃買"}]
    assert contract.tw_index_dict_convert({}) == {"TSE": [], "OTC": []}


@pytest.mark.parametrize("name", CONVERTERS)
def test_converters_match_python_twin_on_realistic_lists(name):
    data = {
        "stock_dict_convert": contract_lists.stocks(500),
        "future_dict_convert": contract_lists.futures(2000, products=12),
        "option_dict_convert": contract_lists.options(5000, products=20),
        "tw_index_dict_convert": contract_lists.indices(300),
    }[name]
    data = json.loads(json.dumps(data))
    assert getattr(contract, name)(data) == getattr(contracts_py, name)(data)


@pytest.mark.parametrize("name, data", [
    ("stock_dict_convert", [stock(), stock(exchange="OTC")]),
    ("future_dict_convert", {"TXF": [future(), future(deliverymonth="202701")]}),
    ("option_dict_convert", {"TXO": [option(), option(eprice="17550")]}),
])
def test_mappings_other_than_dict_read_like_dicts(name, data):
    fn = getattr(contract, name)

    class Sub(dict):
        pass

    def wrap(kind):
        if isinstance(data, list):
            return [kind(e) for e in data]
        return {k: [kind(e) for e in v] for k, v in data.items()}

    assert fn(wrap(Mapping)) == fn(data) == fn(wrap(Sub))


# ---- bad input gives the errors the Python twin gives -----------------------------


class KeysFail:
    """An entry whose keys() raises AttributeError itself."""

    def keys(self):
        raise AttributeError("keys failed inside")

    def __getitem__(self, key):
        return key


BAD_INPUT = [
    ("stock_dict_convert", None),
    ("stock_dict_convert", [KeysFail()]),
    ("stock_dict_convert", [None]),
    ("stock_dict_convert", [5]),
    ("stock_dict_convert", [without(stock(), "exchange")]),
    ("stock_dict_convert", [without(stock(), "code")]),
    ("stock_dict_convert", [without(stock(), "name")]),
    ("stock_dict_convert", [without(stock(), "industry")]),
    ("stock_dict_convert", [stock(name=None)]),
    ("stock_dict_convert", [stock(), stock(exchange=["unhashable"])]),
    ("future_dict_convert", None),
    ("future_dict_convert", [("TXF", [future()])]),
    ("future_dict_convert", {"TXF": None}),
    ("future_dict_convert", {"TXF": [None]}),
    ("future_dict_convert", {"TXF": [future(), without(future(), "deliverymonth")]}),
    ("future_dict_convert", {"TXF": [without(future(), "code")]}),
    ("future_dict_convert", {"TXF": [without(future(), "ostock")]}),
    ("future_dict_convert", {"TXF": [without(future(), "basic")]}),
    ("future_dict_convert", {"TXF": [future(basic="abc")]}),
    ("future_dict_convert", {"TXF": [future(basic=None)]}),
    ("option_dict_convert", None),
    ("option_dict_convert", {"TXO": [None]}),
    ("option_dict_convert", {"TXO": [option(eprice=17500.0)]}),
    ("option_dict_convert", {"TXO": [without(option(), "eprice")]}),
    ("option_dict_convert", {"TXO": [without(option(), "poc")]}),
    ("option_dict_convert", {"TXO": [without(option(), "category")]}),
    ("option_dict_convert", {"TXO": [without(option(), "csname")]}),
    ("option_dict_convert", {"TXO": [without(option(), "basic")]}),
    ("tw_index_dict_convert", None),
    ("tw_index_dict_convert", {"001": "a", "201": "b"}),
    ("tw_index_dict_convert", {"001": "a", "": "b"}),
    ("tw_index_dict_convert", {1: "a"}),
]


@pytest.mark.parametrize("name, data", BAD_INPUT)
def test_bad_input_raises_what_python_raises(name, data):
    with pytest.raises(Exception) as expected:
        getattr(contracts_py, name)(data)
    with pytest.raises(type(expected.value)) as got:
        getattr(contract, name)(data)
    assert str(got.value) == str(expected.value)


def test_named_errors():
    with pytest.raises(TypeError, match=r"argument after \*\* must be a mapping, not NoneType"):
        contract.stock_dict_convert([None])
    with pytest.raises(KeyError, match="^''$"):
        contract.tw_index_dict_convert({"001": "a", "901": "b"})
    with pytest.raises(IndexError):
        contract.tw_index_dict_convert({"": "a"})
    with pytest.raises(AttributeError, match="items"):
        contract.option_dict_convert(None)


def test_a_non_mapping_entry_is_refused_without_a_second_error(monkeypatch):
    # Nothing is asked of the entry while its error is pending; the
    # interpreter would report such a second failure as unraisable.
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)
    with pytest.raises(TypeError, match="must be a mapping, not str"):
        contract.stock_dict_convert(["x"])
    assert reported == []


def test_converter_arguments_are_positional_only():
    for name in CONVERTERS:
        fn = getattr(contract, name)
        with pytest.raises(TypeError):
            fn(contracts={})
        with pytest.raises(TypeError):
            fn()
        with pytest.raises(TypeError):
            fn({}, {})


# ---- requests --------------------------------------------------------------


class Reply:
    def __init__(self, body):
        self.body = body

    def json(self):
        return self.body


class Session:
    def __init__(self, replies):
        self.replies = replies  # uri -> decoded body
        self.calls = []

    def get(self, *args, **kwargs):
        self.calls.append(("get", args, kwargs))
        return Reply(self.replies[args[0]])

    def post(self, *args, **kwargs):
        self.calls.append(("post", args, kwargs))
        return Reply(self.replies[args[0]])


class Client:
    s_list_code_uri = "mem://stock"
    index_list_code_uri = "mem://index"
    f_list_code_uri = "mem://futopt"

    def __init__(self, **replies):
        self.session = Session({"mem://" + k: v for k, v in replies.items()})


class Log:
    def __init__(self):
        self.errors = []

    def error(self, *args, **kwargs):
        self.errors.append((args, kwargs))


@pytest.fixture
def log(monkeypatch):
    fake = Log()
    monkeypatch.setattr(contract, "log", fake)
    return fake


def test_requests_go_through_the_session():
    client = Client(stock={"s": 1}, index={"i": 2}, futopt={"f": 3})
    assert contract._list_stock_code(client) == {"s": 1}
    assert contract._list_tw_index_code(client) == {"i": 2}
    assert contract._list_futopt_code("O", True, client) == {"f": 3}
    assert contract._list_futopt_code(product_type="F", detail=[], client=client) == {"f": 3}
    assert client.session.calls == [
        ("get", ("mem://stock",), {}),
        ("get", ("mem://index",), {}),
        ("post", ("mem://futopt",), {"json": {"code": "O", "type": "contract"}}),
        ("post", ("mem://futopt",), {"json": {"code": "F", "type": "delivery"}}),
    ]
    assert list(client.session.calls[2][2]["json"]) == ["code", "type"]


def test_futopt_request_documentation():
    assert contract._list_futopt_code.__doc__ == (
        " query the product code\n    product_type: {'F', 'O'}\n        - F: future product\n"
        "        - O: option product\n    detail: bool\n        whether to get detail code\n    ")


@pytest.mark.parametrize("call", [
    lambda: contract._list_stock_code(client=Client()),
    lambda: contract._list_futopt_code("F", True),
    lambda: contract._list_futopt_code("F", True, Client(), x=1),
    lambda: contract.fetch_available_product(),
    lambda: contract.fetch_available_product(Client()),
    lambda: contract.fetch_available_product(Client(), "S", "x"),
])
def test_argument_errors(call):
    with pytest.raises(TypeError):
        call()


def test_request_errors_propagate():
    class Broken:
        session = None
        s_list_code_uri = "x"

    with pytest.raises(AttributeError):
        contract._list_stock_code(Broken())
    with pytest.raises(KeyError):
        contract._list_stock_code(Client())  # the session has no reply for the uri


# ---- fetch_available_product -------------------------------------------------------


@pytest.mark.parametrize("success", ["true", "True", "TRUE"])
def test_fetch_stocks(success, log):
    client = Client(stock={"success": success, "result": [stock(), stock(exchange="OTC")]})
    out = contract.fetch_available_product(client, "S")
    assert list(out) == ["TSE", "OTC"]
    assert client.session.calls == [("get", ("mem://stock",), {})]
    assert log.errors == []


@pytest.mark.parametrize("reply", [
    {"success": "true", "result": {"msg": "查無資料"}},
    {"success": "True"},
    {"success": "true", "result": []},
])
def test_fetch_stocks_empty(reply, log):
    assert contract.fetch_available_product(Client(stock=reply), "S") == {}
    assert log.errors == []


@pytest.mark.parametrize("reply", [{"success": "false", "result": [stock()]}, {"result": [stock()]},
                                   {"success": "", "result": [stock()]}])
def test_fetch_failure_logs_whole_response(reply, log):
    assert contract.fetch_available_product(Client(stock=reply), "S") == {}
    assert log.errors == [((reply,), {})]


def test_fetch_futures_and_options(log):
    fut = {"success": "true", "result": {"content": {"TXF": [future()], "GDF": []}}}
    out = contract.fetch_available_product(Client(futopt=fut), "F")
    assert list(out) == ["TXF"] and out["TXF"][0]["security_type"] == "FUT"
    opt = {"success": "true", "result": {"content": {"TXO": [option()]}}}
    client = Client(futopt=opt)
    out = contract.fetch_available_product(client, "O")
    assert out["TXO"][0]["symbol"] == "TXO202612C17500"
    assert client.session.calls == [("post", ("mem://futopt",), {"json": {"code": "O", "type": "contract"}})]
    assert contract.fetch_available_product(Client(futopt={"success": "true", "result": {}}), "F") == {}
    assert contract.fetch_available_product(Client(futopt={"success": "true"}), "O") == {}
    assert log.errors == []


def test_fetch_indices(log):
    out = contract.fetch_available_product(Client(index={"success": "true", "result": {"101": "櫃買"}}), "I")
    assert out == {"TSE": [], "OTC": [{"symbol": "OTC101", "security_type": "IND", "currency": "TWD",
                                       "exchange": "OTC", "code": "101", "name": "櫃買"}]}
    assert contract.fetch_available_product(Client(index={"success": "true"}), "I") == {"TSE": [], "OTC": []}


@pytest.mark.parametrize("product_type", ["X", "s", "SS", "", None, 1, b"S", ("S",)])
def test_fetch_unknown_type_makes_no_request(product_type, log):
    client = Client()
    assert contract.fetch_available_product(client, product_type) == {}
    assert client.session.calls == []
    assert log.errors == [(("Product Type: {} not supported.".format(product_type),), {})]


def test_fetch_accepts_str_subclass():
    class Code(str):
        pass

    client = Client(index={"success": "true", "result": {}})
    assert contract.fetch_available_product(client, Code("I")) == {"TSE": [], "OTC": []}


@pytest.mark.parametrize("reply, exc", [
    ({"success": True, "result": []}, AttributeError),
    ({"success": None}, AttributeError),
    ([], AttributeError),
    (None, AttributeError),
    ({"success": "true", "result": None}, TypeError),
])
def test_fetch_bad_reply_raises(reply, exc, log):
    with pytest.raises(exc):
        contract.fetch_available_product(Client(stock=reply), "S")


def test_fetch_uses_names_bound_in_the_module_now(monkeypatch, log):
    seen = []
    monkeypatch.setattr(contract, "_list_futopt_code",
                        lambda **kw: seen.append(kw) or {"success": "TRUE", "result": {"content": {"A": [1]}}})
    monkeypatch.setattr(contract, "future_dict_convert", lambda c: ("converted", c))
    client = object()
    assert contract.fetch_available_product(client, "F") == ("converted", {"A": [1]})
    assert seen == [{"product_type": "F", "detail": True, "client": client}]

    monkeypatch.setattr(contract, "_list_stock_code", lambda c: {"success": "no"})
    assert contract.fetch_available_product(client, "S") == {}
    assert log.errors == [(({"success": "no"},), {})]

    monkeypatch.delattr(contract, "log")
    with pytest.raises(NameError, match="log"):
        contract.fetch_available_product(client, "Z")


# ---- reference counts ---------------------------------------------------------------


def _values(data):
    if isinstance(data, list):
        return [v for e in data for v in e.values()]
    return [v for lst in data.values() for e in lst for v in e.values()]


@pytest.mark.parametrize("name, data", [
    ("stock_dict_convert", [stock(name="  x  " + str(i), code=str(i)) for i in range(5)]),
    ("future_dict_convert", {"TXF": [future(code=str(i), basic=str(i)) for i in range(5)]}),
    ("option_dict_convert", {"TXO": [option(code=str(i), eprice="%d.0" % i) for i in range(5)]}),
])
def test_no_references_kept(name, data):
    fn = getattr(contract, name)
    fn(data)  # warm up interned names and caches
    bad = data + [None] if isinstance(data, list) else dict(data, ZZZ=[None])
    objs = _values(data) + [data]
    before = [sys.getrefcount(o) for o in objs]
    for _ in range(3):
        out = fn(data)
        del out
    assert [sys.getrefcount(o) for o in objs] == before

    # A failing conversion drops what it had built.
    for _ in range(3):
        with pytest.raises(Exception):
            fn(bad)
    assert [sys.getrefcount(o) for o in objs] == before


def test_index_no_references_kept():
    codes = {"0%02d" % i: "n%d" % i for i in range(5)}
    objs = list(codes) + list(codes.values())
    contract.tw_index_dict_convert(codes)
    before = [sys.getrefcount(o) for o in objs]
    for _ in range(3):
        contract.tw_index_dict_convert(codes)
        with pytest.raises(KeyError):
            contract.tw_index_dict_convert(dict(codes, x="y"))
    assert [sys.getrefcount(o) for o in objs] == before


# ---- randomised comparison with the Python twin --------------------------------------

ODD_VALUES = [None, 0, 7, 2.5, "", " x ", "17500.0", "1.0", ".0", "é", "😀", ["l"], {"d": 1}, b"b", True]


def _mutate(rnd, entry):
    entry = dict(entry)
    for _ in range(rnd.randint(0, 2)):
        key = rnd.choice(sorted(entry))
        if rnd.random() < 0.4:
            del entry[key]
        else:
            entry[key] = rnd.choice(ODD_VALUES)
    return entry


def _outcome(fn, data):
    try:
        return "ok", fn(data)
    except Exception as e:  # the outcome compared is the exception's type and text
        return type(e).__name__, str(e)


@pytest.mark.parametrize("seed", range(40))
def test_random_malformed_lists_match_python_twin(seed):
    import random

    rnd = random.Random(seed)
    n = rnd.randint(1, 6)
    cases = [
        ("stock_dict_convert", [_mutate(rnd, stock(code=str(i))) for i in range(n)]),
        ("future_dict_convert", {"P%d" % (i % 2): [_mutate(rnd, future())] for i in range(n)}),
        ("option_dict_convert", {"TXO": [_mutate(rnd, option(eprice=rnd.choice(["1.0", "2", "3.50"])))
                                         for _ in range(n)]}),
        ("tw_index_dict_convert", {rnd.choice(["001", "101", "9", "", "1", "0x"]) + str(i): rnd.choice(ODD_VALUES)
                                   for i in range(n)}),
    ]
    for name, data in cases:
        assert _outcome(getattr(contract, name), data) == _outcome(getattr(contracts_py, name), data), name


def test_names_rebound_while_in_use(monkeypatch, log):
    import functools

    def request(client, reply):
        # The module's only reference to the running callable goes away.
        monkeypatch.setattr(contract, "_list_tw_index_code", None)
        monkeypatch.setattr(contract, "tw_index_dict_convert", None)
        return reply

    def convert(data, tag):
        monkeypatch.setattr(contract, "tw_index_dict_convert", None)
        return (tag, data)

    monkeypatch.setattr(contract, "_list_tw_index_code",
                        functools.partial(request, reply={"success": "true", "result": {"001": "x"}}))
    with pytest.raises(TypeError):  # the converter is looked up after the request ran
        contract.fetch_available_product(object(), "I")
    monkeypatch.setattr(contract, "_list_tw_index_code", lambda c: {"success": "true", "result": {}})
    monkeypatch.setattr(contract, "tw_index_dict_convert", functools.partial(convert, tag="t"))
    assert contract.fetch_available_product(object(), "I") == ("t", {})
