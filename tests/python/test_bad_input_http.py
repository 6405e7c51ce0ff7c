"""Bad-input catalogue, HTTP-backend modules: contract converters, the
contract fetch, account records and constant records given the wrong types
and counts, oversized replies (10,000 entries, 1 MiB texts) and replies of the
wrong shape. Each gives its result or an ordinary exception, never a crash."""

import types

import pytest

from orvane.backend.http import account, constant, contract

MIB = 1 << 20
STOCK = {"exchange": "TSE", "code": "2330", "name": " TSMC ", "industry": "24"}
FUTURE = {"ename": "TXF", "deliverymonth": "202612", "code": "TXFL6", "csname": "n", "category": "TXF",
          "prod_kind": "I", "ostock": "#001", "basic": "200"}
OPTION = {"category": "TXO", "deliverymonth": "202612", "poc": "C", "eprice": "17500.0", "code": "TXO",
          "csname": "n", "prod_kind": "I", "ostock": "#001", "basic": 50}

CONVERTERS = [contract.stock_dict_convert, contract.future_dict_convert, contract.option_dict_convert,
              contract.tw_index_dict_convert]
ODD = [None, 0, 1.5, "", "x", b"x", [], [None], [1], {}, {"": None}, {"x": [None]}, {"x": 1},
       {1: [STOCK]}, object(), iter([STOCK]), {"x": iter([FUTURE])}]


def outcome(fn, *args):
    try:
        return "ok", fn(*args)
    except SystemError:
        raise
    except Exception as e:
        return "error", type(e)


@pytest.mark.parametrize("convert", CONVERTERS, ids=lambda f: f.__name__)
def test_converters_with_odd_values(convert):
    kinds = set()
    for value in ODD:
        kinds.add(outcome(convert, value)[0])
    assert "error" in kinds


@pytest.mark.parametrize("convert, good", [
    (contract.stock_dict_convert, STOCK), (contract.future_dict_convert, FUTURE),
    (contract.option_dict_convert, OPTION)])
def test_entries_missing_each_key(convert, good):
    for key in good:
        entry = {k: v for k, v in good.items() if k != key}
        arg = [entry] if convert is contract.stock_dict_convert else {"P": [entry]}
        if key == "eprice" and convert is contract.option_dict_convert:
            with pytest.raises(KeyError):
                convert(arg)
            continue
        with pytest.raises(KeyError) as e:
            convert(arg)
        assert e.value.args[0] == key or e.value.args[0] in good


def test_ten_thousand_entries_and_one_mebibyte_texts():
    stocks = [dict(STOCK, code=str(i), name=" " + "n" * 100 + " ") for i in range(10000)]
    stocks.append(dict(STOCK, name=" " + "名" * MIB + " "))
    out = contract.stock_dict_convert(stocks)
    assert len(out["TSE"]) == 10001
    assert out["TSE"][-1]["name"] == "名" * MIB
    futures = contract.future_dict_convert({"TXF": [dict(FUTURE, code="F%d" % i) for i in range(10000)]})
    assert [d["code"] for d in futures["TXF"]][-1] == "F9999"
    options = contract.option_dict_convert({"TXO": [dict(OPTION, eprice="1" * MIB + ".0")]})
    assert options["TXO"][0]["symbol"].endswith("C" + "1" * MIB)
    indices = contract.tw_index_dict_convert({"0" + str(i): "x" for i in range(10000)})
    assert len(indices["TSE"]) == 10000 and indices["OTC"] == []


@pytest.mark.parametrize("text", ["\ud800", "\x00", "名\udfff"])
def test_texts_no_code_page_holds(text):
    out = contract.stock_dict_convert([dict(STOCK, name=text, code=text)])
    assert out["TSE"][0]["name"] == text and out["TSE"][0]["symbol"] == "TSE" + text


@pytest.mark.parametrize("value, exc", [("x", ValueError), (None, TypeError), ([], TypeError),
                                        ("1e999999", None), ("nan", None)])
def test_unit_conversion(value, exc):
    arg = {"TXF": [dict(FUTURE, basic=value)]}
    if exc is None:
        contract.future_dict_convert(arg)
    else:
        with pytest.raises(exc):
            contract.future_dict_convert(arg)


# ---- the fetch through a client -------------------------------------------------

class Reply:
    def __init__(self, body):
        self.body = body

    def json(self):
        if isinstance(self.body, BaseException):
            raise self.body
        return self.body


def client_with(body=None, error=None):
    def call(*args, **kwargs):
        if error is not None:
            raise error
        return Reply(body)
    session = types.SimpleNamespace(get=call, post=call)
    return types.SimpleNamespace(session=session, s_list_code_uri="s", index_list_code_uri="i",
                                 f_list_code_uri="f")


@pytest.mark.parametrize("product", ["S", "F", "O", "I"])
@pytest.mark.parametrize("body, exc", [
    ([], AttributeError),
    (None, AttributeError),
    ("text", AttributeError),
    ({"success": True}, AttributeError),
    ({"success": 1}, AttributeError),
    (ValueError("not json"), ValueError),
])
def test_fetch_with_replies_of_the_wrong_shape(product, body, exc):
    with pytest.raises(exc):
        contract.fetch_available_product(client_with(body), product)


@pytest.mark.parametrize("product", ["S", "F", "O", "I"])
def test_fetch_with_a_failing_session(product):
    with pytest.raises(ConnectionError):
        contract.fetch_available_product(client_with(error=ConnectionError("down")), product)


@pytest.mark.parametrize("product", [None, 1, b"S", "s", "", "SS", "S" * MIB],
                         ids=["none", "int", "bytes", "lower", "empty", "double", "mib"])
def test_fetch_with_unknown_product_types(product):
    assert contract.fetch_available_product(client_with({"success": "true"}), product) == {}


@pytest.mark.parametrize("product", ["S", "F", "O", "I"])
def test_fetch_with_an_unsuccessful_reply(product):
    assert contract.fetch_available_product(client_with({"success": "false"}), product) == {}
    assert contract.fetch_available_product(client_with({"success": "FALSE", "result": {}}), product) == {}


# ---- account records --------------------------------------------------------------

RECORDS = [
    (account.AccountMargin, ("NTD", "1"), "_query_margin"),
    (account.AccountOpenPosition, (0, 0), "_query_open_position"),
    (account.AccountSettleProfitLoss, (0, "Y", "20180101", "20180201", "NTD"), "_query_settle_profitloss"),
    (account.AccountFunds, (" ",), "_query_funds_profitloss"),
    (account.AccountUnRealProfitLoss, ("A", "A", " "), "_query_unreal_profitloss"),
    (account.AccountRealProfitLoss, ("A", "20180101", "20180201", "A", " "), "_query_real_profitloss"),
]


class Acct:
    def dict(self):
        return {"broker_id": "9A95", "account_id": "1234567"}


@pytest.mark.parametrize("cls, args, query", RECORDS, ids=lambda x: getattr(x, "__name__", None))
@pytest.mark.parametrize("reply", [None, [], "x", {"success": None}, {"success": "true", "result": None},
                                   {"success": "true", "result": {"body": None, "profit_sums": [],
                                                                  "unreal_sums": "x"}},
                                   {"success": "true", "result": {"profit_sums": {"profit_sum": [None]},
                                                                  "unreal_sums": {"unreal_sum": [1]}}}])
def test_account_records_with_replies_of_the_wrong_shape(monkeypatch, cls, args, query, reply):
    monkeypatch.setattr(account, query, lambda *a: reply)
    kind, value = outcome(lambda: cls(*args, Acct(), object()))
    if kind == "ok":
        repr(value)
        value.data()
        value.update()


@pytest.mark.parametrize("cls, args, query", RECORDS[1:3], ids=lambda x: getattr(x, "__name__", None))
@pytest.mark.parametrize("acct, exc", [(None, AttributeError), (object(), AttributeError),
                                       (types.SimpleNamespace(dict=lambda: {}), KeyError),
                                       (types.SimpleNamespace(dict=lambda: None), TypeError)])
def test_account_objects_without_the_identifiers(monkeypatch, cls, args, query, acct, exc):
    monkeypatch.setattr(account, query, lambda *a: {"success": "true"})
    with pytest.raises(exc):
        cls(*args, acct, object())


def test_module_functions_with_ten_thousand_keys():
    big = {str(i): i for i in range(10000)}
    assert len(account.rm_dict_key(big, *[str(i) for i in range(5000)])) == 5000
    assert account.assimilate_type(big) == [big]


# ---- constant records ---------------------------------------------------------------

def test_meta_props_with_odd_keys():
    class P(constant.BaseProps):
        A = 1

    for key in (None, 1, b"A"):
        with pytest.raises(TypeError):
            P[key]
    with pytest.raises(AttributeError):
        P["missing" * 1000]
    big = type("Big", (constant.BaseProps,), {"N%d" % i: i for i in range(10000)})
    assert len(list(big.keys())) == 10000
    assert repr(big).startswith("Big(N0, N1")
