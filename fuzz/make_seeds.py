#!/usr/bin/env python3
"""Seed corpora of the fuzz harnesses, made fresh at every run.

    make_seeds.py OUTDIR [harness ...]

Writes OUTDIR/<harness>/<n> files. The PKCS#12, chain and CRL seeds come from
the test PKI generator (tests/fixtures/make_pki.py, which needs the
`cryptography` package); the others from sample properties files, texts and
message contents written here. Nothing generated is committed.
"""

import base64
import json
import shutil
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

PROPS = (
    "LOG.path = logs\nLOG.file = seal.log\nLOG.level = {level}\nPFX.path = {folder}\n"
    "PFX.file = Tavrel.pfx\nPFX.checkValid = true\nPKCS7.digest = SHA256\nPKCS7.addCert = 1\n"
    "PKCS7.addPlainText = true\nPKCS7.addTimestamp = false\nP7B.path = /opt/P7B\n"
    "P7B0.name = TaiCA Secure CA_2012.p7b\nP7B0.SKI = FA1F7F07700FEB1591AA6A21FD0CDC801B18C885\n"
    "P7B1.name = TWCA Financial User CA_2014.p7b\n"
    "P7B1.SKI = F395038C0F5FD4B0F23A7D061087D5BD3060B6FB4A5A725D772C491B433AE76A\n"
)

USER_SUBJECT = "/C=TW/O=Bank A/O=Bank B/OU=Securities/OU=Branch 01/CN=Wang Ming"
INTER_SUBJECT = "/C=TW/O=Orvane Test/OU=Certification Services/CN=Orvane Test User CA"

QUOTE = {
    "code": "2330", "date": "2026/12/08", "time": "09:00:01.123456",
    "open": "1015", "avg_price": "1016.42", "close": "1020", "high": "1025", "low": "1010",
    "amount": "3060000", "amount_sum": "10311390000", "volume": 3, "vol_sum": 10145,
    "tick_type": 1, "diff_type": 2, "diff_price": "15.5", "diff_rate": 149,
    "trade_bid_vol_sum": 5083, "trade_ask_vol_sum": 5062, "trade_bid_cnt": 2811,
    "trade_ask_cnt": 2650, "closing_oddlot_shares": 1520, "closing_oddlot_close": "1019",
    "closing_oddlot_amount": "1548880", "closing_oddlot_bid_price": "",
    "closing_oddlot_ask_price": None, "fixed_trade_volume": 7, "fixed_trade_amount": "7140000",
    "bid_price": ["1015.0", "1010", "1005"], "bid_volume": [120, 331, 410],
    "diff_bid_vol": [3, 0, -5], "ask_price": ["1020", "1025", "1040.50"],
    "ask_volume": [98, 540, 612], "diff_ask_vol": [0, 2, 0], "avail_borrowing": 1234000,
    "suspend": 0, "simtrade": 1,
}
DEPTH_STK = {
    "code": "2317", "date": "2026/12/08", "time": "13:30:00.000000",
    "bid_price": ["210.5", "210"], "bid_volume": [11, 22], "diff_bid_vol": [1, 0],
    "ask_price": ["211", "211.5"], "ask_volume": [66, 77], "diff_ask_vol": [0, -2],
    "suspend": 0, "simtrade": 1,
}
DEPTH_FOP = {
    "code": "TXFL6", "date": "2026/12/08", "time": "10:12:45.812003",
    "bid_vol_sum": 512, "ask_vol_sum": 498, "bid_price": ["23015", "23014"],
    "bid_volume": [5, 6], "diff_bid_vol": [0, 1], "ask_price": ["23016", "23017"],
    "ask_volume": [4, 3], "diff_ask_vol": [1, 1], "first_derived_bid_price": "23014.5",
    "first_derived_ask_price": "23017.5", "first_derived_bid_volume": 3,
    "first_derived_ask_volume": 2, "target_kind_price": "23002.71", "simtrade": 0,
}
STOCKS = [
    {"exchange": "TSE", "code": "2330", "name": "  台積電  ", "industry": "24"},
    {"exchange": "OTC", "code": "6488", "name": "環球晶\t", "industry": "24"},
]
FUTURES = {"TXF": [{"ename": "TXF", "deliverymonth": "202612", "code": "TXFL6", "csname": "臺指期",
                    "category": "TXF", "prod_kind": "I", "ostock": "#001", "basic": "200"}]}
OPTIONS = {"TXO": [{"category": "TXO", "deliverymonth": "202612", "poc": "C", "eprice": "17500.0",
                    "code": "TXO17500L6", "csname": "臺指選", "prod_kind": "I", "ostock": "#001",
                    "basic": 50.0}]}
INDICES = {"001": "發行量加權股價指數", "101": "櫃買指數"}


def write_all(folder, items):
    folder.mkdir(parents=True, exist_ok=True)
    for i, data in enumerate(items):
        (folder / ("seed-%03d" % i)).write_bytes(data if isinstance(data, bytes) else data.encode())


def pki(cache={}):
    """The test PKI's manifest (made once, by the tests' generator)."""
    if "m" not in cache:
        sys.path.insert(0, str(ROOT / "tests" / "fixtures"))
        from make_pki import make_pki  # noqa: E402
        folder = Path(tempfile.mkdtemp(prefix="orvane-seed-pki-"))
        cache["m"] = make_pki(folder)
        cache["folder"] = folder
    return cache["m"]


def pki_files(*keys):
    m = pki()
    out = []
    for k in keys:
        out.append(Path(m[k]).read_bytes())
    return out


def seeds_property():
    lines = [
        PROPS.format(level="WARN", folder="/home/user/certs"),
        PROPS.format(level="DEBUG", folder="C:\\Users\\王小明\\certs".encode("cp950").decode("latin-1")),
        "PFX.file = a.pfx\nPFX.file = b.pfx\n",
        "  LOG.level\t=\tDEBUG  \r\n# comment\n; comment\n #indented = 1\nP7B.path = a=b\n",
        "PKCS7.addCert =\nPKCS7.addCert = 7x\nPKCS7.addTimestamp = TrUe \n",
        "PKCS7.addCert = 99999999999\n" + "X" * 600 + "=1\nafter=1\n",
        "pkcs7.digest = SHA1\n=\n==\n",
    ]
    return lines


def seeds_base64():
    samples = [b"abc", b"ab", b"a", bytes(range(256)), "中文".encode("cp950")]
    out = [base64.b64encode(s).decode() for s in samples]
    out += ["YW Jj", "YW\r\nJj", "YWI=YWJj", "-----BEGIN CERTIFICATE-----\nYWJj\n-----END CERTIFICATE-----\n",
            "-----BEGIN X-----\nYWJj", "====", "\t!*~"]
    out += [data.decode() for data in pki_files("root_pem", "user_pem")]
    return out


def seeds_big5():
    texts = ["AB", "A123456789192.168.0.1委託買進 2330 1000 股1765432100.123",
             "台積電 鴻海 聯發科", "﹏﹋（）「」", "\u2574\u2550\u5341"]
    out = [t.encode("cp950", "replace") for t in texts]
    out += [b"\xa4", b"\x81\x40", b"\xff\xff", b"\xa1\x40\xa1", b"\xf9\xfe\xa2\xcc"]
    return out


def seeds_signer_filter():
    filters = ["//S_O=Bank A,S_O=Bank B//", "//S_CN=Wang//", "//I_CN=Root//", "//S_C=US//S_C=TW//",
               "//S_C=TW", "", "//S_OU=Securities,S_OU=,I_O=Orvane Test,I_OU=Certification Services//",
               "x//I_C=TW,I_CN=Orvane Test User CA//y", "////", "//S_O=//S_CN=//"]
    return ["\0".join([f, USER_SUBJECT, INTER_SUBJECT]) for f in filters] + filters


def seeds_pkcs12():
    return pki_files("pfx_user", "pfx_legacy", "pfx_with_ca", "pfx_user_expired",
                     "pfx_user_keyenc", "pfx_user_noku", "pfx_bad_mac", "pfx_truncated", "pfx_garbage")


def seeds_p7b():
    return pki_files("p7b_good", "p7b_with_ee", "p7b_expired_ca", "p7b_no_root", "p7b_no_certs",
                     "p7b_data", "p7b_truncated", "p7b_garbage")


def seeds_crl():
    return pki_files("crl_current", "crl_expired", "crl_no_next", "crl_truncated", "crl_garbage")


def seeds_records():
    out = []
    for tag, msg in (("Q", QUOTE), ("S", DEPTH_STK), ("O", DEPTH_STK), ("F", DEPTH_FOP)):
        out.append(tag + json.dumps(msg, ensure_ascii=False))
    return out


def seeds_contracts():
    return ["S" + json.dumps(STOCKS, ensure_ascii=False), "F" + json.dumps(FUTURES, ensure_ascii=False),
            "O" + json.dumps(OPTIONS, ensure_ascii=False), "I" + json.dumps(INDICES, ensure_ascii=False)]


MAKERS = {
    "fuzz_property": seeds_property,
    "fuzz_base64": seeds_base64,
    "fuzz_big5": seeds_big5,
    "fuzz_signer_filter": seeds_signer_filter,
    "fuzz_pkcs12": seeds_pkcs12,
    "fuzz_p7b": seeds_p7b,
    "fuzz_crl": seeds_crl,
    "fuzz_records": seeds_records,
    "fuzz_contracts": seeds_contracts,
}


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    out = Path(argv[1])
    names = argv[2:] or list(MAKERS)
    unknown = [n for n in names if n not in MAKERS]
    if unknown:
        print("make_seeds: no seed maker for " + ", ".join(unknown), file=sys.stderr)
        return 2
    for name in names:
        folder = out / name
        shutil.rmtree(folder, ignore_errors=True)
        write_all(folder, MAKERS[name]())
    made = pki.__defaults__[0].get("folder")
    if made:
        shutil.rmtree(made, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
