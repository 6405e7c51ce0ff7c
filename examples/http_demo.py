"""Contract lists and account records over real HTTP.

Starts a recorded stand-in of the broker's service on loopback, fetches the
stock, futures, options and index lists through the service client's
requests session, converts them with orvane.backend.http.contract, runs the
six account queries through orvane.backend.http.account, prints a summary and
stops the service again.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from http_service import RecordedService  # noqa: E402

from orvane.account import Account  # noqa: E402
from orvane.backend.http import account as acct  # noqa: E402
from orvane.backend.http.client import ServiceClient  # noqa: E402
from orvane.backend.http.constant import BaseProps  # noqa: E402
from orvane.backend.http.contract import fetch_available_product  # noqa: E402


class ProductType(BaseProps):
    Stock = "S"
    Future = "F"
    Option = "O"
    Index = "I"


def show(desc, keys):
    return "  " + ", ".join("%s=%s" % (k, desc[k]) for k in keys)


def main():
    with RecordedService() as service:
        client = ServiceClient(service.base_url)
        print("service on %s, product types %r" % (service.base_url, ProductType))

        lists = {name: fetch_available_product(client, ProductType[name]) for name in ProductType.keys()}
        for name, groups in lists.items():
            total = sum(len(v) for v in groups.values())
            counts = ", ".join("%s %d" % (k, len(v)) for k, v in groups.items())
            print("%-7s %4d contracts: %s" % (name, total, counts))

        print("a few descriptions:")
        print(show(lists["Stock"]["TSE"][6], ["symbol", "name", "category"]))
        print(show(lists["Future"]["TXF"][0], ["symbol", "code", "name", "delivery_month", "unit"]))
        txo = lists["Option"]["TXO"]
        print(show(txo[0], ["symbol", "strike_price", "option_right", "unit"]))
        print(show(lists["Option"]["TEO"][3], ["symbol", "strike_price"]))
        print(show(lists["Index"]["OTC"][0], ["symbol", "name"]))

        account = Account("F002000", "1234567", "demo")
        records = [
            acct.AccountMargin("NTD", "1", account, client),
            acct.AccountOpenPosition("0", "0", account, client),
            acct.AccountSettleProfitLoss("0", "N", "20261201", "20261207", "NTD", account, client),
            acct.AccountFunds(" ", account, client),
            acct.AccountUnRealProfitLoss("A", "NTD", " ", account, client),
            acct.AccountRealProfitLoss("A", "20261201", "20261207", "NTD", " ", account, client),
        ]
        print("account records:")
        for rec in records:
            text = repr(rec).replace("\n", " / ")
            data = rec.data()
            if isinstance(data, dict) and set(data) == {"summary", "detail"}:
                shape = "summary %d, detail %d" % (len(data["summary"]), len(data["detail"]))
            elif isinstance(data, list):
                shape = "%d rows" % len(data)
            else:
                shape = "%d fields" % len(data)
            print("  %-70s status=%s %s" % (text, rec._status, shape))
        print("requests served: %d" % len(service.requests))
        client.close()
    print("service stopped")


if __name__ == "__main__":
    main()
