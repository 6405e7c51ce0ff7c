"""A short signing and decoding workload for valgrind's memcheck (run by
memcheck.py; the test PKI's manifest is the one argument)."""

import gc
import json
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent.parent
sys.path.insert(0, str(ROOT / "fuzz"))

pki = json.loads(Path(sys.argv[1]).read_text())
# Sessions encode UTF-8 (and the engine reads code page 950), so their text is
# ASCII; the module functions encode BIG5 and take Chinese text.
TEXT = "A12345678910.1.2.3 order=2330&qty=1"
BIG5_TEXT = "A12345678910.1.2.3委託 order=2330&qty=1"

import orvane.TWCA.seal as seal  # noqa: E402

s = seal.PyTWCASign(pki["pfx_user"], pki["password"], "A123456789", "10.1.2.3")
for _ in range(10):
    s.sign(TEXT)
    s.gen_seal(TEXT)
del s
seal.init_seal(pki["pfx_user"], pki["password"])
for _ in range(10):
    seal.get_sign(BIG5_TEXT)
    seal.gen_seal("A123456789", BIG5_TEXT)
for pfx, pwd in ((pki["pfx_user"], pki["wrong_password"]), (pki["pfx_dir"] + "/missing.pfx", pki["password"]),
                 (pki["pfx_garbage"], pki["password"])):
    try:
        seal.PyTWCASign(pfx, pwd, "A123456789", "10.1.2.3")
    except seal.SealError:
        pass
    else:
        raise AssertionError("activation succeeded with %s" % pfx)

from make_seeds import DEPTH_FOP, DEPTH_STK, FUTURES, INDICES, OPTIONS, QUOTE, STOCKS  # noqa: E402
from orvane.backend.solace import depth, quote  # noqa: E402

for _ in range(50):
    for factory, msg in ((quote.QuoteSTKv1.from_content, QUOTE), (depth.DepthSTKv1.from_content, DEPTH_STK),
                         (depth.DepthSTKv1.from_content_odd, DEPTH_STK), (depth.DepthFOPv1.from_content, DEPTH_FOP)):
        r = factory(**msg)
        r.to_dict(raw=True)
        repr(r)
        dict(r)
    try:
        quote.QuoteSTKv1.from_content(**dict(QUOTE, open="x"))
    except Exception:
        pass

from orvane.backend.http import contract  # noqa: E402

for _ in range(20):
    contract.stock_dict_convert(STOCKS)
    contract.future_dict_convert(FUTURES)
    contract.option_dict_convert(OPTIONS)
    contract.tw_index_dict_convert(INDICES)
gc.collect()
print("workload done")
