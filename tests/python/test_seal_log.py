"""What the signing module leaves on disk: the BIG5 log and no password."""

import datetime
import os
import re
from pathlib import Path

from seal_support import pki, properties_files, run_fresh  # noqa: F401

SCRIPT = """
    import orvane.TWCA.seal as seal, os
    print("PID", os.getpid())
    seal.init_seal(pki["pfx_user"], pki["password"])
    seal.get_sign("log me 台灣")
    s = seal.PyTWCASign(pki["pfx_legacy"], pki["password"], "A123456789", "10.1.2.3")
    s.get_sign("session")
    s.gen_seal("payload")
    for attempt in (lambda: seal.init_seal(pki["pfx_user"], pki["wrong_password"]),
                    lambda: seal.PyTWCASign(pki["pfx_user"], pki["wrong_password"], "A1", "ip"),
                    lambda: seal.init_seal(pki["pfx_user"], pki["password"] + "-x")):
        try:
            attempt()
        except seal.SealError as e:
            print("SealError", e.args[0].split(" ")[1])
    seal.init_seal(pki["pfx_user"], pki["password"])
    seal.get_sign("after")
"""

HEADER = re.compile(rb"^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \(PID=(\d+)\) (DEBUG| INFO| WARN|ERROR|PARAM) ")


def test_log_lines_format_and_big5(pki, tmp_path):
    r = run_fresh(SCRIPT, tmp_path, pki)
    pid = int(re.search(r"PID (\d+)", r.stdout).group(1))
    assert r.stdout.count("SealError 5208") == 3
    logs = list((tmp_path / "logs").iterdir())
    today = datetime.date.today().strftime("%Y%m%d")
    assert [p.name for p in logs] == ["seal.log." + today]
    data = logs[0].read_bytes()
    lines = data.split(b"\n")
    assert lines[-1] == b""
    for line in lines[:-1]:
        m = HEADER.match(line) or re.match(rb"^ 0x[0-9a-f]{8} -( [0-9a-f]{2})+ +: ", line)
        assert m, line
        if HEADER.match(line):
            assert int(HEADER.match(line).group(1)) == pid
    text = data.decode("cp950")          # the whole file is BIG5
    for expected in ["DEBUG MakeTWCASignPasswd() return  = 0x00000000(0)",
                     "DEBUG TWCASignInitial() return  = 0x00000000(0)",
                     "DEBUG TWCASignInitial() return  = 0x00001458(5208)",
                     "DEBUG SignPkcs7() return  = 0x00000000(0)",
                     "讀取 pfx 檔失敗, 密碼錯誤"]:
        assert expected in text, expected
    assert "讀取 pfx 檔失敗".encode("utf8") not in data
    assert properties_files(tmp_path) == []


def test_plain_password_in_no_written_file(pki, tmp_path):
    r = run_fresh(SCRIPT, tmp_path, pki)
    secrets = [pki["password"].encode(), pki["wrong_password"].encode(), (pki["password"] + "-x").encode()]
    scanned = 0
    for root, _, files in os.walk(tmp_path):
        for name in files:
            data = Path(root, name).read_bytes()
            scanned += 1
            for secret in secrets:
                assert secret not in data, (name, secret)
    assert scanned >= 1
    for secret in secrets:
        assert secret.decode() not in r.stdout
