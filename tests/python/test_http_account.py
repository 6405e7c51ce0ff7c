"""orvane.backend.http.account: account query records."""

import sys

import pytest

from orvane.account import Account
from orvane.backend.http import account as acct

RECORDS = [
    # class, constructor arguments (after account, client are appended), query name,
    # query call as a function of (args, account, client)
    (acct.AccountMargin, ("NTD", "1"), "_query_margin", lambda a, ac, cl: (a[0], a[1], ac, cl)),
    (acct.AccountOpenPosition, ("0", "1"), "_query_open_position", lambda a, ac, cl: (a[0], a[1], ac, cl)),
    (acct.AccountSettleProfitLoss, ("0", "Y", "20180101", "20180201", "USD"), "_query_settle_profitloss",
     lambda a, ac, cl: a + (ac, cl)),
    (acct.AccountFunds, (" ",), "_query_funds_profitloss", lambda a, ac, cl: (ac, cl, a[0])),
    (acct.AccountUnRealProfitLoss, ("A", "NTD", "1"), "_query_unreal_profitloss",
     lambda a, ac, cl: (ac, cl, "") + a),
    (acct.AccountRealProfitLoss, ("A", "20180201", "20180301", "NTD", " "), "_query_real_profitloss",
     lambda a, ac, cl: (ac, cl, "") + a),
]
IDS = [r[0].__name__ for r in RECORDS]


class Query:
    """Stands in for a query function: records its calls and returns `reply`."""

    def __init__(self, reply):
        self.reply = reply
        self.calls = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return self.reply() if callable(self.reply) else self.reply


@pytest.fixture
def queries(monkeypatch):
    def install(reply):
        qs = {}
        for _, _, name, _ in RECORDS:
            qs[name] = Query(reply)
            monkeypatch.setattr(acct, name, qs[name])
        return qs
    return install


ACCOUNT = Account("B", "A")
CLIENT = object()


def make(cls, args, account=ACCOUNT, client=CLIENT):
    return cls(*args, account, client)


def test_module_binds_names_in_order():
    names = [n for n in vars(acct) if not n.startswith("__")]
    assert names == ["_query_margin", "_query_open_position", "_query_settle_profitloss",
                     "_query_funds_profitloss", "_query_real_profitloss", "_query_unreal_profitloss",
                     "AccountMargin", "AccountOpenPosition", "AccountSettleProfitLoss", "AccountFunds",
                     "rm_dict_key", "assimilate_type", "AccountUnRealProfitLoss", "AccountRealProfitLoss"]


@pytest.mark.parametrize("cls", [r[0] for r in RECORDS], ids=IDS)
def test_records_are_plain_classes_with_four_methods(cls):
    assert cls.__bases__ == (object,) and type(cls) is type
    assert cls.__module__ == "orvane.backend.http.account"
    own = {k for k, v in vars(cls).items() if callable(v)}
    assert own == {"__init__", "update", "__repr__", "data"}
    assert "__slots__" not in vars(cls) and cls.__doc__ is None
    assert cls.update.__doc__ is None and cls.data.__doc__ is None and cls.__repr__.__doc__ is None


@pytest.mark.parametrize("cls, args, query, call", RECORDS, ids=IDS)
def test_constructor_runs_the_query(cls, args, query, call, queries):
    qs = queries({"success": "True", "result": {"msg": "ok"}})
    rec = make(cls, args)
    assert qs[query].calls == [(call(args, ACCOUNT, CLIENT), {})]
    assert sum(len(q.calls) for q in qs.values()) == 1
    assert rec._status is True and rec._msg == "ok"
    assert rec._account is ACCOUNT and rec._client is CLIENT
    # Changing a stored parameter changes the next query.
    first = cls.__init__.__text_signature__.split(", ")[1]
    setattr(rec, "_" + first, "changed")
    rec.update()
    assert "changed" in qs[query].calls[-1][0]


@pytest.mark.parametrize("cls, args, query, call", RECORDS, ids=IDS)
def test_constructor_takes_keywords(cls, args, query, call, queries):
    qs = queries({"success": "true"})
    import inspect
    params = list(inspect.signature(cls).parameters)
    kwargs = dict(zip(params, args + (ACCOUNT, CLIENT)))
    cls(**kwargs)
    assert qs[query].calls == [(call(args, ACCOUNT, CLIENT), {})]
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'client'"):
        cls(*args, ACCOUNT)
    with pytest.raises(TypeError, match="unexpected keyword argument 'extra'"):
        cls(*args, ACCOUNT, CLIENT, extra=1)
    n = len(params) + 1  # with self
    with pytest.raises(TypeError, match="takes %d positional arguments but %d were given" % (n, n + 1)):
        cls(*args, ACCOUNT, CLIENT, 1)


def test_funds_stores_client_before_account(queries):
    queries({})
    rec = acct.AccountFunds("1", ACCOUNT, CLIENT)
    assert list(vars(rec)) == ["_tax", "_client", "_account", "_status", "_msg", "_data"]
    rec = acct.AccountOpenPosition("0", "0", ACCOUNT, CLIENT)
    assert list(vars(rec)) == ["_product_type", "_query_type", "_account", "_client", "_status", "_msg",
                               "_accountid", "_data"]


@pytest.mark.parametrize("reply, status, msg", [
    ({"success": "True", "result": {"msg": "ok"}}, True, "ok"),
    ({"success": "TRUE"}, True, ""),
    ({"success": "false", "result": {"msg": "no"}}, False, "no"),
    ({"result": {"msg": "x"}}, False, "x"),
    ({}, False, ""),
])
def test_status_and_message(reply, status, msg, queries):
    queries(reply)
    for cls, args, _, _ in RECORDS:
        rec = make(cls, args)
        assert (rec._status, rec._msg) == (status, msg)


@pytest.mark.parametrize("cls, args, default", [
    (acct.AccountMargin, ("NTD", "1"), {}),
    (acct.AccountOpenPosition, ("0", "0"), [{}]),
    (acct.AccountSettleProfitLoss, ("0", "Y", "a", "b", "NTD"), [{}]),
    (acct.AccountFunds, (" ",), []),
    (acct.AccountUnRealProfitLoss, ("A", "NTD", " "), {"summary": [], "detail": []}),
    (acct.AccountRealProfitLoss, ("A", "a", "b", "NTD", " "), {"summary": [], "detail": []}),
])
def test_payload_defaults(cls, args, default, queries):
    queries({"success": "true"})
    assert make(cls, args).data() == default


def test_payloads(queries):
    body = {"balance": "1"}
    queries({"success": "true", "result": {"body": body, "profit_sums": {"profit_sum": [{"x": 1}]}}})
    assert make(acct.AccountMargin, ("NTD", "1")).data() is body
    assert make(acct.AccountFunds, (" ",)).data() == [{"x": 1}]
    queries({"success": "true", "result": {"profit_sums": {}}})
    assert make(acct.AccountFunds, (" ",)).data() == []


def test_account_id(queries):
    queries({"success": "true"})

    class Acc:
        def __init__(self, d):
            self.d = d

        def dict(self):
            return self.d

    rec = make(acct.AccountOpenPosition, ("0", "0"), account=Acc({"account_id": "A", "x": 1, "broker_id": "B"}))
    assert rec._accountid == "BA"
    rec = make(acct.AccountSettleProfitLoss, ("0", "Y", "a", "b", "NTD"), account=ACCOUNT)
    assert rec._accountid == "BA"
    assert not hasattr(make(acct.AccountMargin, ("NTD", "1")), "_accountid")
    with pytest.raises(TypeError, match=r"argument after \*\* must be a mapping, not NoneType"):
        make(acct.AccountOpenPosition, ("0", "0"), account=Acc(None))
    with pytest.raises(KeyError, match="account_id"):
        make(acct.AccountOpenPosition, ("0", "0"), account=Acc({"broker_id": "B"}))


PNL_CASES = [
    (acct.AccountRealProfitLoss, ("A", "a", "b", "NTD", " "), "profit_sums", "profit_sum", "profit_details"),
    (acct.AccountUnRealProfitLoss, ("A", "NTD", " "), "unreal_sums", "unreal_sum", "unreal_details"),
]


@pytest.mark.parametrize("cls, args, sums, sum_, details", PNL_CASES, ids=["real", "unreal"])
def test_profit_loss_payload(cls, args, sums, sum_, details, queries):
    da, db1, db2 = {"d": "a"}, {"d": "b1"}, {"d": "b2"}
    first = {"stock": "2330", details: {"a": da, "b": [db1, db2]}}
    second = {"stock": "2317"}
    queries({"success": "true", "result": {sums: {sum_: [first, second]}}})
    rec = make(cls, args)
    assert rec.data() == {"summary": [{"stock": "2330"}], "detail": [da, db1, db2]}
    assert list(rec.data()) == ["summary", "detail"]
    assert rec.data()["detail"][0] is da
    assert details in first  # the entry is not changed

    queries({"success": "true", "result": {sums: {sum_: []}}})
    assert make(cls, args).data() == {"summary": [], "detail": []}


@pytest.mark.parametrize("cls, args, sums, sum_, details", PNL_CASES, ids=["real", "unreal"])
def test_profit_loss_uses_module_helpers_now(cls, args, sums, sum_, details, queries, monkeypatch):
    queries({"success": "true", "result": {sums: {sum_: [{details: {"k": 1}}]}}})
    monkeypatch.setattr(acct, "rm_dict_key", lambda d, *keys: "trimmed")
    monkeypatch.setattr(acct, "assimilate_type", lambda v: ["x", v])
    assert make(cls, args).data() == {"summary": ["trimmed"], "detail": ["x", 1]}


@pytest.mark.parametrize("cls, args, sums, sum_, details", PNL_CASES, ids=["real", "unreal"])
@pytest.mark.parametrize("entry, exc", [
    ("details-none", AttributeError),
    ("details-int-value", TypeError),
    (None, TypeError),
])
def test_profit_loss_bad_payload(cls, args, sums, sum_, details, entry, exc, queries):
    entry = {"details-none": {details: None}, "details-int-value": {details: {"k": 5}}}.get(entry, entry)
    queries({"success": "true", "result": {sums: {sum_: [entry]}}})
    with pytest.raises(exc):
        make(cls, args)


def test_failures_keep_attributes_set_before(queries):
    queries({"success": "true", "result": None})
    rec = acct.AccountMargin.__new__(acct.AccountMargin)
    with pytest.raises(AttributeError):
        rec.__init__("NTD", "1", ACCOUNT, CLIENT)
    assert rec._status is True and not hasattr(rec, "_msg")

    def boom(*args):
        raise RuntimeError("service down")

    for _, _, name, _ in RECORDS:
        queries(boom)
    with pytest.raises(RuntimeError, match="service down"):
        acct.AccountFunds(" ", ACCOUNT, CLIENT)
    queries({"success": True})
    with pytest.raises(AttributeError):
        acct.AccountFunds(" ", ACCOUNT, CLIENT)
    queries([])
    with pytest.raises(AttributeError):
        acct.AccountFunds(" ", ACCOUNT, CLIENT)


def test_repr(queries):
    queries({})
    assert repr(acct.AccountMargin("NTD", "1", ACCOUNT, CLIENT)) == "AccountMargin(%s)" % ACCOUNT
    assert repr(acct.AccountMargin("NTD", "1", "acct", CLIENT)) == "AccountMargin(acct)"
    assert repr(acct.AccountRealProfitLoss("A", "a", "b", "NTD", " ", 7, CLIENT)) == "AccountRealProfitLoss\n7"
    assert repr(acct.AccountUnRealProfitLoss("A", "NTD", " ", "x", CLIENT)) == "AccountUnRealProfitLoss\nx"
    assert repr(acct.AccountFunds(" ", ACCOUNT, CLIENT)) == "AccountFunds"


def test_subclass_name_and_update(queries):
    qs = queries({"success": "true"})

    class MyMargin(acct.AccountMargin):
        def update(self):
            self.updated = True

    rec = MyMargin("NTD", "1", ACCOUNT, CLIENT)
    assert rec.updated and qs["_query_margin"].calls == []
    assert repr(rec) == "MyMargin(%s)" % ACCOUNT


def test_data_is_kept_until_update(queries):
    queries(lambda: {"success": "true", "result": {"body": {"n": 1}}})
    rec = acct.AccountMargin("NTD", "1", ACCOUNT, CLIENT)
    first = rec.data()
    assert rec.data() is first
    assert rec.update() is None
    assert rec.data() is not first and rec.data() == first


def test_docs():
    doc = acct.AccountMargin.__init__.__doc__
    assert doc.startswith(" query margin    currency: {NTX, USX, NTD, USD, HKD, EUR, JPY, GBP}\n")
    assert "                - 2 : 風險\n        " == doc[-len("                - 2 : 風險\n        "):]
    assert acct.AccountOpenPosition.__init__.__doc__.startswith(" query open position\n        product_type:")
    settle = acct.AccountSettleProfitLoss.__init__.__doc__
    assert "            - CAD: 加幣 \n            - BAS: 基幣\n        " in settle
    assert acct.AccountFunds.__init__.__doc__ == (
        "\n        tax (str): {' ', '1'}\n            - ' ': tax included\n            - '1': tax excluded\n        ")
    unreal = acct.AccountUnRealProfitLoss.__init__.__doc__
    assert unreal.startswith("\n        stock_type (str):\n") and "'R': 興櫃 \n" in unreal
    assert "        action (str): \n" in unreal
    real = acct.AccountRealProfitLoss.__init__.__doc__
    assert "                - CNY: 人民幣 \n            action (str): \n" in real
    assert real.endswith("                - '1': filter cost is 0\n        ")


# ---- module functions ---------------------------------------------------------------


def test_rm_dict_key():
    d = {"x": 1, "y": 2}
    out = acct.rm_dict_key(d, "x")
    assert out == {"y": 2} and d == {"x": 1, "y": 2}
    copy = acct.rm_dict_key(d)
    assert copy == d and copy is not d
    assert acct.rm_dict_key(d=d) == d
    assert acct.rm_dict_key({"a": 1, "b": 2, "c": 3}, "c", "a") == {"b": 2}

    class M(dict):
        pass

    assert type(acct.rm_dict_key(M(d), "y")) is dict
    import inspect
    assert str(inspect.signature(acct.rm_dict_key)) == "(d, *args)"


@pytest.mark.parametrize("call, exc, match", [
    (lambda: acct.rm_dict_key({"x": 1}, "z"), KeyError, "z"),
    (lambda: acct.rm_dict_key({"x": 1}, "x", "x"), KeyError, "x"),
    (lambda: acct.rm_dict_key(None), TypeError, r"argument after \*\* must be a mapping, not NoneType"),
    (lambda: acct.rm_dict_key({}, []), TypeError, "unhashable"),
    (lambda: acct.rm_dict_key(), TypeError, "missing 1 required positional argument: 'd'"),
    (lambda: acct.rm_dict_key({}, d={}), TypeError, "multiple values for argument 'd'"),
    (lambda: acct.rm_dict_key({}, k=1), TypeError, "unexpected keyword argument 'k'"),
])
def test_rm_dict_key_errors(call, exc, match):
    with pytest.raises(exc, match=match):
        call()


def test_assimilate_type():
    lst, d = [{"a": 1}], {"a": 1}
    assert acct.assimilate_type(lst) is lst
    out = acct.assimilate_type(d)
    assert out == [d] and out[0] is d
    assert acct.assimilate_type(None) is None

    class D(dict):
        pass

    sub = D()
    assert acct.assimilate_type(sub)[0] is sub
    with pytest.raises(TypeError):
        acct.assimilate_type(details=d)


def test_reference_counts(queries):
    payload = {"k": "v"}
    reply = {"success": "true", "result": {"body": payload}}
    qs = queries(reply)
    acct.AccountMargin("NTD", "1", ACCOUNT, CLIENT)
    qs["_query_margin"].calls.clear()  # the recorded calls hold the account
    before = sys.getrefcount(payload), sys.getrefcount(ACCOUNT), sys.getrefcount(reply)
    for _ in range(5):
        rec = acct.AccountMargin("NTD", "1", ACCOUNT, CLIENT)
        rec.update()
        repr(rec)
        del rec
        qs["_query_margin"].calls.clear()
    assert (sys.getrefcount(payload), sys.getrefcount(ACCOUNT), sys.getrefcount(reply)) == before

    d = {"x": payload, "y": 1}
    before = sys.getrefcount(payload)
    for _ in range(5):
        acct.rm_dict_key(d, "y")
        acct.assimilate_type(d)
        with pytest.raises(KeyError):
            acct.rm_dict_key(d, "zz")
    assert sys.getrefcount(payload) == before


def test_stand_in_query_functions_through_a_session():
    class Reply:
        def json(self):
            return {"success": "true", "result": {"msg": "", "body": [{"code": "TXFL6"}]}}

    class Session:
        def __init__(self):
            self.posts = []

        def post(self, uri, json):
            self.posts.append((uri, json))
            return Reply()

    class Client:
        open_position_uri = "mem://open_position"
        session = Session()

    rec = acct.AccountOpenPosition("0", "1", ACCOUNT, Client)
    assert rec._status and rec.data() == [{"code": "TXFL6"}] and rec._accountid == "BA"
    uri, body = Client.session.posts[0]
    assert uri == "mem://open_position"
    assert body["product_type"] == "0" and body["query_type"] == "1" and body["account_id"] == "A"


def test_query_rebinding_its_name_while_running(monkeypatch):
    import functools

    def query(*args, reply):
        monkeypatch.setattr(acct, "_query_margin", None)  # drops the module's reference
        return reply

    monkeypatch.setattr(acct, "_query_margin", functools.partial(query, reply={"success": "true",
                                                                              "result": {"body": {"n": 1}}}))
    rec = acct.AccountMargin("NTD", "1", ACCOUNT, CLIENT)
    assert rec.data() == {"n": 1}
    with pytest.raises(TypeError):
        rec.update()
