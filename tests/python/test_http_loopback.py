"""The contract and account modules over real HTTP, against the recorded loopback service."""

import json
import os
import sys

import pytest

from orvane.account import Account
from orvane.backend.http import account as acct
from orvane.backend.http import contract
from orvane.backend.http.client import ServiceClient

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
sys.path.insert(0, EXAMPLES)
from http_service import RecordedService  # noqa: E402


def recorded(name):
    with open(os.path.join(EXAMPLES, "data", name), encoding="utf-8") as f:
        return json.load(f)


@pytest.fixture(scope="module")
def service():
    with RecordedService() as s:
        yield s


@pytest.fixture
def client(service):
    c = ServiceClient(service.base_url)
    yield c
    c.close()


@pytest.mark.parametrize("product_type, data_file, convert", [
    ("S", "stock_list.json", lambda r: contract.stock_dict_convert(r["result"])),
    ("F", "future_list.json", lambda r: contract.future_dict_convert(r["result"]["content"])),
    ("O", "option_list.json", lambda r: contract.option_dict_convert(r["result"]["content"])),
    ("I", "index_list.json", lambda r: contract.tw_index_dict_convert(r["result"])),
])
def test_fetch_over_http(product_type, data_file, convert, service, client):
    service.requests.clear()
    out = contract.fetch_available_product(client, product_type)
    assert out and out == convert(recorded(data_file))
    assert len(service.requests) == 1
    method, path, body = service.requests[0]
    if product_type in "FO":
        assert (method, path, body) == ("POST", "/contracts/futopt", {"code": product_type, "type": "contract"})
    else:
        assert method == "GET" and body is None


def test_fetch_over_http_details(service, client):
    stocks = contract.fetch_available_product(client, "S")
    assert list(stocks) == ["TSE", "OTC", "OES"]
    tsmc = [d for d in stocks["TSE"] if d["code"] == "2330"][0]
    assert tsmc["name"] == "台積電" and tsmc["symbol"] == "TSE2330"
    futures = contract.fetch_available_product(client, "F")
    assert "GDF" not in futures and futures["TXF"][0]["unit"] == 200.0
    options = contract.fetch_available_product(client, "O")
    assert options["TXO"][0]["symbol"] == "TXO202612C22500" and options["TXO"][0]["strike_price"] == "22500.0"
    assert contract._list_futopt_code("F", False, client)["result"]["content"]["TXF"][0] == "202612"


def test_unreachable_service_raises():
    import requests

    c = ServiceClient("http://127.0.0.1:9")
    with pytest.raises(requests.ConnectionError):
        contract.fetch_available_product(c, "S")


def test_account_records_over_http(service, client):
    account = Account("F002000", "1234567")
    rec = acct.AccountUnRealProfitLoss("A", "NTD", " ", account, client)
    assert rec._status is True
    assert [e["stock"] for e in rec.data()["summary"]] == ["2330", "2317"]
    assert len(rec.data()["detail"]) == 4
    rec = acct.AccountOpenPosition("0", "0", account, client)
    assert rec._accountid == "F0020001234567" and len(rec.data()) == 2
    method, path, body = service.requests[-1]
    assert path == "/futopt/open_position" and body["broker_id"] == "F002000"
