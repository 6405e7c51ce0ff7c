"""Module-level signing: init_seal, get_sign, get_quote_sign, gen_seal."""

import pathlib
import shutil
import stat
import time
import types
import urllib.parse

import pytest

import orvane.TWCA.seal as seal
from seal_support import (ACTIVATION_FAILURES, password_for, assert_sha256_signed_data, cms_structure,  # noqa: F401
                          cms_verify, embedded_certificates, pfx_path, pki, PeekingPassword, properties_files,
                          run_fresh, workdir)

MODULE_FOLDER = pathlib.Path(seal.__file__).parent
INIT_TEMPLATE = (
    "LOG.path = logs\nLOG.file = seal.log\nLOG.level = DEBUG\n"
    "PFX.path = {seal_path_folder}\nPFX.file = {seal_name}\nPFX.checkValid = true\n"
    "PKCS7.digest = SHA256\nPKCS7.addCert = 1\nPKCS7.addPlainText = true\nPKCS7.addTimestamp = false\n"
    "P7B.path = {p7b_path}\n"
    "P7B0.name = TaiCA Secure CA_2012.p7b\nP7B0.SKI = FA1F7F07700FEB1591AA6A21FD0CDC801B18C885\n"
    "P7B1.name = TaiCA Secure CA_2014.p7b\n"
    "P7B1.SKI = 2E3B2E30EA9E85A1A574148DCA539795930B649C8C6635BFF98B0DBB8D16415C\n"
    "P7B2.name = TWCA Financial User CA_2014.p7b\n"
    "P7B2.SKI = F395038C0F5FD4B0F23A7D061087D5BD3060B6FB4A5A725D772C491B433AE76A\n"
    "P7B3.name = TWCA Financial User CA_2017.p7b\n"
    "P7B3.SKI = 8DD0A0C9CF9B5062CB39073F083359A9FCD4612DCFBB4CB3A70446CB6E74B678\n    ")


@pytest.fixture
def ready(pki, workdir, capsys):
    assert seal.init_seal(pki["pfx_user"], pki["password"]) == 0
    capsys.readouterr()
    return workdir


def test_module_namespace_in_order():
    names = [n for n in vars(seal) if not n.startswith("__")]
    assert names == ["PyTWCASign", "sys", "time", "xxhash", "Path", "Thread", "quote", "P7SIGN_PROPS",
                     "SealError", "read_error_code_dict", "raise_error", "init_seal", "get_sign",
                     "get_quote_sign", "gen_seal"]
    import sys, threading, xxhash
    assert seal.sys is sys and seal.time is time and seal.xxhash is xxhash
    assert seal.Path is pathlib.Path and seal.Thread is threading.Thread
    assert seal.quote is urllib.parse.quote
    for name in names[-6:]:
        fn = getattr(seal, name)
        assert isinstance(fn, types.BuiltinFunctionType) and fn.__doc__ is None


def test_session_template_text():
    assert seal.P7SIGN_PROPS == INIT_TEMPLATE.replace("LOG.level = DEBUG", "LOG.level = WARN")[:-4]


def test_init_seal_writes_and_removes_its_properties(pki, workdir, capsys):
    seen = {}
    assert seal.init_seal(pki["pfx_user"], PeekingPassword(pki["password"], seen)) == 0
    assert capsys.readouterr().out == "Seal Initial Done.\n"
    seal_path = pathlib.Path(pki["pfx_user"])
    expected = INIT_TEMPLATE.format(seal_path_folder=str(seal_path.parent), seal_name=seal_path.name,
                                    p7b_path=str(MODULE_FOLDER / "P7B"))
    # A regular file that only its owner can read.
    assert seen == {"p7Sign.properties": (expected.encode("utf8"), stat.S_IFREG | 0o600)}
    assert properties_files(workdir) == []


def test_init_seal_default_certificate_in_working_directory(pki, workdir, capsys):
    shutil.copy(pki["pfx_user"], workdir / "Tavrel.pfx")
    assert seal.init_seal(seal_pwd=pki["password"]) == 0
    assert properties_files(workdir) == []


@pytest.mark.parametrize("pfx, password, code", ACTIVATION_FAILURES)
def test_init_seal_engine_failures(pki, workdir, pfx, password, code):
    path = pfx_path(pki, pfx, workdir)
    table = seal.read_error_code_dict(MODULE_FOLDER)
    with pytest.raises(seal.SealError) as info:
        seal.init_seal(path, password_for(pki, password))
    entry = table[code]
    assert info.value.args == ("%s %d %s" % (entry["error"], code, entry["error_msg"]),)
    assert properties_files(workdir) == []


def test_init_seal_password_not_str_leaves_no_file(pki, workdir):
    with pytest.raises(AttributeError):
        seal.init_seal(pki["pfx_user"], pki["password"].encode())
    assert properties_files(workdir) == []


def test_init_seal_argument_errors(workdir):
    with pytest.raises(TypeError, match=r"init_seal\(\) takes from 0 to 2 positional arguments but 3 were given"):
        seal.init_seal("a", "b", "c")
    with pytest.raises(TypeError, match="unexpected keyword argument 'pwd'"):
        seal.init_seal(pwd="x")
    assert properties_files(workdir) == []


def test_init_seal_waits_for_stale_properties(pki, workdir, capsys):
    stale = workdir / "p7Sign.properties"
    stale.write_text("stale\n")
    t0 = time.monotonic()
    assert seal.init_seal(pki["pfx_user"], pki["password"]) == 0
    waited = time.monotonic() - t0
    assert 4.9 <= waited < 8
    assert properties_files(workdir) == []


def test_legacy_rc2_pkcs12_initialises(pki, workdir, tmp_path, capsys):
    assert seal.init_seal(pki["pfx_legacy"], pki["password"]) == 0
    assert cms_verify(seal.get_sign("legacy"), pki, tmp_path) == b"legacy"


@pytest.mark.parametrize("plain, content", [
    ("abc", b"abc"),
    ("台灣證券 order=1&x=+/", "台灣證券 order=1&x=+/".encode("big5")),
    (12345, b"12345"),
    (None, b"None"),
])
def test_get_sign_signs_the_big5_text(ready, pki, tmp_path, plain, content):
    signature = seal.get_sign(plain)
    assert isinstance(signature, bytes)
    assert cms_verify(signature, pki, tmp_path) == content
    certs = embedded_certificates(signature)
    assert len(certs) == 1
    assert certs[0].serial_number == int(pki["user_serial"], 16)
    structure = cms_structure(signature, tmp_path)
    assert_sha256_signed_data(structure)
    assert properties_files(ready) == []


def test_get_sign_failure_raises_with_the_module_table(ready):
    table = seal.read_error_code_dict(MODULE_FOLDER)
    good = seal.get_sign(plaintext="keep")
    with pytest.raises(seal.SealError) as info:
        seal.get_sign()          # the empty text: the engine refuses it
    entry = table[5005]
    assert info.value.args == ("%s 5005 %s" % (entry["error"], entry["error_msg"]),)
    assert seal.get_sign("keep") == good


def test_get_sign_before_any_initialisation_raises(pki, tmp_path):
    r = run_fresh("""
        import orvane.TWCA.seal as seal
        try:
            seal.get_sign("abc")
        except seal.SealError as e:
            print("raised", e.args[0].split(" ")[:2])
    """, tmp_path, pki)
    assert "raised ['TWCA_ERR_CERT', '5010']" in r.stdout


def test_get_sign_text_outside_big5(ready):
    with pytest.raises(UnicodeEncodeError):
        seal.get_sign("emoji \U0001F600")
    with pytest.raises(ValueError, match="embedded null byte"):
        seal.get_sign("a\0b")


def test_get_quote_sign(ready):
    raw = seal.get_sign("quote me")
    quoted = seal.get_quote_sign("quote me")
    assert quoted == urllib.parse.quote(raw, safe="")
    assert "+" in raw.decode() or "/" in raw.decode()
    assert not set("+/=") & set(quoted)
    assert urllib.parse.unquote_to_bytes(quoted) == raw
    with pytest.raises(TypeError):
        seal.get_quote_sign()
    with pytest.raises(TypeError):
        seal.get_quote_sign(plain="x")


def test_get_quote_sign_quotes_every_special_byte(ready, monkeypatch):
    special = bytes(range(256))
    monkeypatch.setattr(seal, "get_sign", lambda text: special)
    assert seal.get_quote_sign("x") == urllib.parse.quote(special, safe="")


def test_module_functions_look_names_up_at_each_call(ready, monkeypatch):
    calls = []
    monkeypatch.setattr(seal, "get_sign", lambda text: calls.append(("get_sign", text)) or b"a+b")
    monkeypatch.setattr(seal, "quote", lambda s, safe: calls.append(("quote", s, safe)) or "Q")
    assert seal.get_quote_sign(42) == "Q"
    assert calls == [("get_sign", "42"), ("quote", b"a+b", "")]
    monkeypatch.setattr(seal, "get_quote_sign", lambda plain: "q" * 12)
    assert seal.gen_seal("id", "x") == b"00000012" + b"q" * 12 + b"00000002idid"


@pytest.mark.parametrize("user_id", ["A123456789", "王小明", ""])
def test_gen_seal_layout(ready, user_id):
    quoted = seal.get_quote_sign("payload")
    payload = seal.gen_seal(user_id, "payload")
    expected = "0000%04d%s0000%04d%s%s" % (len(quoted), quoted, len(user_id), user_id, user_id)
    assert payload == expected.encode("utf8")
    assert payload.startswith(b"0000%04d" % len(quoted))
    assert payload.endswith(("0000%04d" % len(user_id) + user_id * 2).encode())


def test_gen_seal_long_lengths_keep_all_digits(ready, monkeypatch):
    monkeypatch.setattr(seal, "get_quote_sign", lambda plain: "s" * 12345)
    assert seal.gen_seal("u" * 10000, "x").startswith(b"000012345sss")
    assert b"000010000uuu" in seal.gen_seal("u" * 10000, "x")
    with pytest.raises(TypeError, match=r"gen_seal\(\) missing 1 required positional argument: 'plain'"):
        seal.gen_seal("id")


def test_names_rebound_while_in_use(ready, monkeypatch):
    def one_shot(text):
        monkeypatch.setattr(seal, "get_sign", lambda t: b"other")   # drops the last reference to one_shot
        return b"a/b"

    monkeypatch.setattr(seal, "get_sign", one_shot)
    del one_shot
    assert seal.get_quote_sign("x") == "a%2Fb"
    assert seal.get_quote_sign("x") == "other"

    def quote_once(s, safe):
        monkeypatch.setattr(seal, "quote", lambda s, safe: "later")
        return "first"

    monkeypatch.setattr(seal, "quote", quote_once)
    del quote_once
    assert seal.get_quote_sign("x") == "first"
    assert seal.get_quote_sign("x") == "later"
