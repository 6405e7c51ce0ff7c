"""Decode a recorded stream of market-data message contents into records.

Each line of market_stream.jsonl holds the topic a message arrived on and its
content as named fields. The topic says which record class decodes it:

    QUO/v2/STK/...  stock quote            QuoteSTKv1.from_content
    QUO/v1/STK/...  stock bid/ask          DepthSTKv1.from_content
    QUO/v1/ODD/...  odd-lot stock bid/ask  DepthSTKv1.from_content_odd
    QUO/v1/FOP/...  futures/options bid/ask DepthFOPv1.from_content

The demo prints each record's repr and its plain form (to_dict(raw=True)),
then the topics to subscribe to for a few contracts.
"""

import json
import os

from orvane.backend.solace.depth import DepthFOPv1, DepthSTKv1
from orvane.backend.solace.quote import QuoteSTKv1, contract2topic, v1contract2topic, v2contract2topic
from orvane.constant import Exchange, QuoteType, QuoteVersion
from orvane.contracts import Future, Index, Option, Stock

DECODERS = {
    ("QUO", "v2", "STK"): QuoteSTKv1.from_content,
    ("QUO", "v1", "STK"): DepthSTKv1.from_content,
    ("QUO", "v1", "ODD"): DepthSTKv1.from_content_odd,
    ("QUO", "v1", "FOP"): DepthFOPv1.from_content,
}


def decode_stream(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            msg = json.loads(line)
            decoder = DECODERS[tuple(msg["topic"].split("/")[:3])]
            yield msg["topic"], decoder(**msg["content"])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for topic, record in decode_stream(os.path.join(here, "market_stream.jsonl")):
        print("==", topic)
        print(repr(record))
        print(json.dumps(record.to_dict(raw=True), ensure_ascii=False))
        print()

    contracts = [Stock("2330", Exchange.TSE), Stock("6488", Exchange.OTC),
                 Future("TXFL6", Exchange.TAIFEX), Option("TXO23000L6", Exchange.TAIFEX),
                 Index("001", Exchange.TSE)]
    print("== topics")
    print("%-44s %-6s %-5s %-30s %-30s %s" % ("contract", "type", "odd", "v0", "v1", "v2"))
    for c in contracts:
        for qt in (QuoteType.Tick, QuoteType.Depth):
            for odd in ((False, True) if isinstance(c, Stock) else (False,)):
                cells = []
                for f in (lambda: contract2topic(c, qt, odd),
                          lambda: contract2topic(c, qt, odd, QuoteVersion.v1),
                          lambda: v2contract2topic(c, qt, odd)):
                    try:
                        cells.append(f())
                    except Exception as e:  # the rules refuse some combinations
                        cells.append("(%s)" % e)
                print("%-44s %-6s %-5s %-30s %-30s %s" % (c, qt, odd, *cells))
    print("%-44s %-6s %-5s %-30s %s" % (contracts[0], QuoteType.Quote, False, "",
                                         v1contract2topic(contracts[0], QuoteType.Quote, False)))


if __name__ == "__main__":
    main()
