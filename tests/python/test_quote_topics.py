"""Topic names for a contract and a kind of market data."""

import ast
import re
import subprocess
import sys

import pytest

from orvane.backend.solace import quote
from orvane.backend.solace.quote import contract2topic, v1contract2topic, v2contract2topic
from orvane.constant import Exchange, QuoteType, QuoteVersion
from orvane.contracts import Contract, Future, Index, Option, Stock

TSE, OTC, OES, TAIFEX = Exchange.TSE, Exchange.OTC, Exchange.OES, Exchange.TAIFEX
Tick, Depth, Quote = QuoteType.Tick, QuoteType.Depth, QuoteType.Quote


def refused(text):
    """pytest.raises for the built-in Exception itself with exactly `text`."""
    return pytest.raises(Exception, match="^" + re.escape(text) + "$")


def check_plain_exception(excinfo):
    assert type(excinfo.value) is Exception


# ---- version 0 ---------------------------------------------------------------

@pytest.mark.parametrize("contract, quote_type, odd, topic", [
    (Future("TXFL6", TAIFEX), Tick, False, "L/*/TXFL6"),
    (Future("TXFL6", TAIFEX), Depth, True, "Q/*/TXFL6"),
    (Option("TXO23000L6", TAIFEX), Tick, True, "L/*/TXO23000L6"),
    (Option("TXO23000L6", TAIFEX), Depth, False, "Q/*/TXO23000L6"),
    (Stock("2330", TSE), Tick, True, "TIC/v2/*/TSE/2330/ODDLOT"),
    (Stock("2330", TSE), Depth, 1, "QUO/v2/*/TSE/2330/ODDLOT"),
    (Stock("6488", OTC), Tick, False, "MKT/*/OTC/6488"),
    (Stock("6488", OTC), Depth, [], "QUT/*/OTC/6488"),
    (Index("001", TSE), Tick, True, "I/TSE/001"),
    (Index("101", OTC), Depth, False, "O/OTC/101"),
])
def test_version0_topics(contract, quote_type, odd, topic):
    assert contract2topic(contract, quote_type, odd) == topic
    assert contract2topic(contract, quote_type, odd, QuoteVersion.v0) == topic
    assert contract2topic(contract=contract, quote_type=quote_type, intraday_odd=odd,
                          version=QuoteVersion.v0) == topic


@pytest.mark.parametrize("contract", [Future("TXFL6", TAIFEX), Stock("2330", TSE),
                                      Index("001", TSE)])
def test_version0_refuses_quote(contract):
    with refused("Quote Type: quote not support.") as e:
        contract2topic(contract, Quote, False)
    check_plain_exception(e)


def test_version0_tests_the_class_before_the_quote_type():
    with refused("Contract: Contract(code='X', exchange=TSE) not support.") as e:
        contract2topic(Contract("X", TSE), Quote, False)
    check_plain_exception(e)


def test_version0_writes_exchange_and_code_through_format():
    class Code:
        def __format__(self, format_spec):
            return "C0DE"

    class Market:
        def __format__(self, format_spec):
            return "MKT-X"

    assert contract2topic(Stock(Code(), Market()), Tick, False) == "MKT/*/MKT-X/C0DE"
    # the exchange is never compared under version 0
    assert contract2topic(Index("001", Market()), Depth, False) == "O/MKT-X/001"


class Truthless:
    def __bool__(self):
        raise ZeroDivisionError("truth tested")


def test_intraday_odd_is_tested_only_for_stocks():
    assert contract2topic(Future("TXFL6", TAIFEX), Tick, Truthless()) == "L/*/TXFL6"
    assert contract2topic(Index("001", TSE), Tick, Truthless()) == "I/TSE/001"
    with pytest.raises(ZeroDivisionError):
        contract2topic(Stock("2330", TSE), Tick, Truthless())


# ---- version 1 ---------------------------------------------------------------

@pytest.mark.parametrize("quote_type, l1ver", [(Tick, "TIC/v1"), (Depth, "QUO/v1"),
                                               (Quote, "QUO/v2")])
@pytest.mark.parametrize("contract, odd, kind_market", [
    (Future("TXFL6", TAIFEX), True, "FOP/*/TFE/TXFL6"),
    (Option("TXO23000L6", TAIFEX), False, "FOP/*/OPT/TXO23000L6"),
    (Stock("2330", TSE), False, "STK/*/TSE/2330"),
    (Stock("2330", TSE), True, "ODD/*/TSE/2330"),
    (Stock("6488", OTC), False, "STK/*/OTC/6488"),
    (Stock("7777", OES), True, "ODD/*/OES/7777"),
    (Stock("9999", TAIFEX), False, "STK/*/TFE/9999"),
    (Future("MXF", TSE), False, "FOP/*/TSE/MXF"),
])
def test_version1_topics(quote_type, l1ver, contract, odd, kind_market):
    topic = l1ver + "/" + kind_market
    assert v1contract2topic(contract, quote_type, odd) == topic
    assert contract2topic(contract, quote_type, odd, QuoteVersion.v1) == topic


@pytest.mark.parametrize("args, text", [
    ((Index("001", TSE), Tick, False), "Contract: Index(code='001', exchange=TSE) not support."),
    ((Index("001", TSE), "no-such-type", False), "Quote Type: no-such-type not support."),
    ((Stock("2330", "NYSE"), Depth, False), "Exchange: NYSE not support."),
    ((Contract("X", "NYSE"), "bad", False), "Quote Type: bad not support."),
])
def test_version1_refusals_in_order(args, text):
    for call in (lambda: v1contract2topic(*args),
                 lambda: contract2topic(*args, version=QuoteVersion.v1)):
        with refused(text) as e:
            call()
        check_plain_exception(e)


def test_version1_reads_exchange_afresh_for_each_comparison():
    class Counting(Stock):
        reads = 0

        @property
        def exchange(self):
            Counting.reads += 1
            return OES

        @exchange.setter
        def exchange(self, value):
            pass

    assert v1contract2topic(Counting("7777", None), Tick, False) == "TIC/v1/STK/*/OES/7777"
    assert Counting.reads == 4  # TSE, TAIFEX, OTC, OES


def test_contract2topic_uses_the_module_level_v1_function(monkeypatch):
    seen = []
    monkeypatch.setattr(quote, "v1contract2topic", lambda *a: seen.append(a) or "patched")
    c = Stock("2330", TSE)
    assert contract2topic(c, Tick, False, QuoteVersion.v1) == "patched"
    assert seen == [(c, Tick, False)]


# ---- version 2 ---------------------------------------------------------------

@pytest.mark.parametrize("exchange", [TSE, OTC, OES])
def test_version2_stock_depth(exchange):
    c = Stock("2330", exchange)
    assert v2contract2topic(c, Depth, True) == "QUO/v2/STK/*/{}/2330".format(exchange)
    assert v2contract2topic(c, Depth, Truthless()) == "QUO/v2/STK/*/{}/2330".format(exchange)


@pytest.mark.parametrize("args, text", [
    ((Stock("2330", TSE), Tick, False), "Quote Type: tick not support."),
    ((Stock("2330", TSE), Quote, False), "Quote Type: quote not support."),
    ((Future("TXFL6", TAIFEX), Depth, False), "Contract: Future(code='TXFL6', exchange=TAIFEX) not support."),
    ((Index("001", TSE), Tick, False), "Quote Type: tick not support."),
    ((Stock("2330", TAIFEX), Depth, False), "Exchange: TAIFEX not support."),
])
def test_version2_refusals(args, text):
    with refused(text) as e:
        v2contract2topic(*args)
    check_plain_exception(e)


# ---- versions, arguments, names ------------------------------------------------

@pytest.mark.parametrize("version", [QuoteVersion.v2, "v3", None, 1])
def test_contract2topic_refuses_other_versions(version):
    with refused("QuoteVersion: {} not support.".format(format(version))) as e:
        contract2topic(Stock("2330", TSE), Tick, False, version)
    check_plain_exception(e)


def test_missing_code_is_an_attribute_error_after_the_version_test():
    class NoCode(Stock):
        def __init__(self):
            self.exchange = TSE

    for f in (contract2topic, v1contract2topic, v2contract2topic):
        with pytest.raises(AttributeError):
            f(NoCode(), "not-a-quote-type", False)
    with refused("QuoteVersion: v2 not support."):
        contract2topic(NoCode(), Tick, False, QuoteVersion.v2)


def test_comparisons_use_equality_not_identity():
    # the stand-in enumerations compare equal to their values
    assert contract2topic(Stock("2330", "TSE"), "tick", False, "v1") == "TIC/v1/STK/*/TSE/2330"


def test_names_are_looked_up_at_each_call(monkeypatch):
    class Other:
        code, exchange = "X1", TSE

    with pytest.raises(Exception, match="^Contract: .* not support.$"):
        v1contract2topic(Other(), Tick, False)
    monkeypatch.setattr(quote, "Stock", Other)
    assert v1contract2topic(Other(), Tick, False) == "TIC/v1/STK/*/TSE/X1"
    monkeypatch.delattr(quote, "QuoteType")
    with pytest.raises(NameError, match="QuoteType"):
        v1contract2topic(Other(), Tick, False)


def test_errors_from_comparisons_propagate():
    class Angry:
        def __eq__(self, other):
            raise KeyError("compared")

    with pytest.raises(KeyError):
        v1contract2topic(Stock("2330", TSE), Angry(), False)
    with pytest.raises(KeyError):
        v2contract2topic(Stock("2330", Angry()), Depth, False)


@pytest.mark.parametrize("call, message", [
    (lambda: contract2topic(Stock("1", TSE), Tick),
     "contract2topic() missing 1 required positional argument: 'intraday_odd'"),
    (lambda: contract2topic(), "contract2topic() missing 3 required positional arguments: "
                               "'contract', 'quote_type', and 'intraday_odd'"),
    (lambda: contract2topic(1, 2, 3, 4, 5),
     "contract2topic() takes from 3 to 4 positional arguments but 5 were given"),
    (lambda: v1contract2topic(1, 2, 3, 4),
     "v1contract2topic() takes 3 positional arguments but 4 were given"),
    (lambda: v2contract2topic(1, 2, 3, odd=1),
     "v2contract2topic() got an unexpected keyword argument 'odd'"),
    (lambda: v1contract2topic(1, 2, 3, contract=1),
     "v1contract2topic() got multiple values for argument 'contract'"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


def test_module_binds_its_names_in_order():
    # in a fresh interpreter: other tests patch (and restore) module names
    code = "from orvane.backend.solace import quote; print(list(vars(quote)))"
    out = subprocess.run([sys.executable, "-c", code], stdout=subprocess.PIPE, check=True)
    names = [n for n in ast.literal_eval(out.stdout.decode()) if not n.startswith("__")]
    assert names == ["dt", "Dict", "List", "Any", "Decimal", "datetime_parser", "Contract",
                     "Future", "Stock", "Option", "Index", "Exchange", "QuoteType",
                     "QuoteVersion", "QuoteBase", "QuoteSTKv1", "v1contract2topic",
                     "v2contract2topic", "contract2topic"]
    import datetime
    import decimal
    from orvane.backend.solace import utils
    assert quote.dt is datetime and quote.Decimal is decimal.Decimal
    assert quote.datetime_parser is utils.datetime_parser
