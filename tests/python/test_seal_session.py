"""PyTWCASign sessions: activation, signing, payloads, errors, object model."""

import copy
import gc
import pathlib
import pickle
import stat
import sys
import time
import weakref

import pytest
import xxhash

import orvane.TWCA.seal as seal
from seal_support import (ACTIVATION_FAILURES, password_for, assert_sha256_signed_data, cms_structure,  # noqa: F401
                          cms_verify, embedded_certificates, pfx_path, pki, PeekingPassword, properties_files,
                          workdir)

MODULE_FOLDER = pathlib.Path(seal.__file__).parent
PERSON, IP = "A123456789", "10.1.2.3"


@pytest.fixture
def session(pki, workdir):
    return seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP)


def props_name(obj):
    return "p7Sign.properties." + xxhash.xxh32_hexdigest(str(id(obj)).encode())


def test_type_shape():
    t = seal.PyTWCASign
    assert t.__module__ == "orvane.TWCA.seal" and t.__qualname__ == "PyTWCASign"
    assert t.__doc__ is None
    assert [n for n in vars(t) if not n.startswith("__") or n in ("__reduce__", "__setstate__")] == [
        "is_activate", "activate", "get_sign", "get_quote_sign", "sign", "gen_sign", "gen_store_sign",
        "background_gen_store_sign", "sign_speedup", "gen_seal", "raise_error", "__reduce__",
        "__setstate__"]
    assert "__init__" not in vars(t)


def test_activation_writes_one_named_file_and_removes_it(pki, workdir):
    seen_a, seen_b, seen_again = {}, {}, {}
    a = seal.PyTWCASign(pathlib.Path(pki["pfx_user"]), PeekingPassword(pki["password"], seen_a), PERSON, IP)
    b = seal.PyTWCASign(pki["pfx_user"], PeekingPassword(pki["password"], seen_b), PERSON, None)
    assert a.activate(pathlib.Path(pki["pfx_legacy"]), PeekingPassword(pki["password"], seen_again),
                      MODULE_FOLDER) is True
    seal_path = pathlib.Path(pki["pfx_user"])
    expected = seal.P7SIGN_PROPS.format(seal_path_folder=str(seal_path.parent), seal_name=seal_path.name,
                                        p7b_path=str(MODULE_FOLDER / "P7B")).encode("utf8")
    assert props_name(a) != props_name(b)
    assert seen_a == {props_name(a): (expected, stat.S_IFREG | 0o600)}
    assert list(seen_b) == [props_name(b)]
    assert list(seen_again) == [props_name(a)]
    assert b"user_legacy.pfx" in seen_again[props_name(a)][0]
    assert properties_files(workdir) == []
    assert a.is_activate() is True


def test_stale_session_file_is_replaced_without_waiting(session, pki, workdir):
    stale = workdir / props_name(session)
    stale.write_text("stale\n")
    t0 = time.monotonic()
    assert session.activate(pathlib.Path(pki["pfx_user"]), pki["password"], MODULE_FOLDER) is True
    assert time.monotonic() - t0 < 2
    assert properties_files(workdir) == []


@pytest.mark.parametrize("pfx, password, code", ACTIVATION_FAILURES)
def test_activation_failures(pki, workdir, pfx, password, code):
    table = seal.read_error_code_dict(MODULE_FOLDER)
    with pytest.raises(seal.SealError) as info:
        seal.PyTWCASign(pfx_path(pki, pfx, workdir), password_for(pki, password), PERSON, IP)
    entry = table[code]
    assert info.value.args == ("%s %d %s" % (entry["error"], code, entry["error_msg"]),)
    assert properties_files(workdir) == []


def test_failed_reactivation_keeps_the_first_credential(session, pki, workdir, tmp_path):
    with pytest.raises(seal.SealError, match=" 5208 "):
        session.activate(pathlib.Path(pki["pfx_user"]), pki["wrong_password"], MODULE_FOLDER)
    assert session.is_activate() is True
    assert cms_verify(session.get_sign("still"), pki, tmp_path) == b"still"
    assert properties_files(workdir) == []


def test_legacy_rc2_pkcs12_activates(pki, workdir, tmp_path):
    s = seal.PyTWCASign(pki["pfx_legacy"], pki["password"], PERSON, IP)
    assert s.is_activate() is True
    assert cms_verify(s.get_sign("legacy"), pki, tmp_path) == b"legacy"


@pytest.mark.parametrize("kwargs, exc, match", [
    (dict(person_id=123), TypeError, "person_id"),
    (dict(person_id=None), TypeError, "has no len"),
    (dict(ip=b"10.0.0.1"), TypeError, "ip"),
    (dict(store=2 ** 31), OverflowError, None),
    (dict(store=-1), ValueError, "store"),
    (dict(store="10"), TypeError, None),
    (dict(seal_passwd=b"bytes"), AttributeError, "encode"),
])
def test_construction_argument_errors(pki, workdir, kwargs, exc, match):
    args = dict(seal_path=pki["pfx_user"], seal_passwd=pki["password"], person_id=PERSON, ip=IP)
    args.update(kwargs)
    with pytest.raises(exc, match=match):
        seal.PyTWCASign(**args)
    assert properties_files(workdir) == []


def test_constructor_argument_binding(pki, workdir):
    with pytest.raises(TypeError, match=r"PyTWCASign\(\) missing 1 required positional argument: 'ip'"):
        seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON)
    with pytest.raises(TypeError, match="unexpected keyword argument 'pid'"):
        seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP, pid=1)
    with pytest.raises(TypeError, match="takes from 4 to 5 positional arguments but 6 were given"):
        seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP, 0, 0)
    s = seal.PyTWCASign(ip=IP, person_id=PERSON, seal_passwd=pki["password"], seal_path=pki["pfx_user"])
    assert s.is_activate()


def test_error_table_from_the_module_globals(pki, workdir, monkeypatch):
    monkeypatch.setattr(seal, "read_error_code_dict", lambda folder: [])
    with pytest.raises(TypeError, match="dict or None"):
        seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP)

    def missing(folder):
        raise FileNotFoundError(str(folder.joinpath("cError.h")))

    monkeypatch.setattr(seal, "read_error_code_dict", missing)
    with pytest.raises(FileNotFoundError):
        seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP)
    monkeypatch.setattr(seal, "read_error_code_dict", lambda folder: {5208: {"error": "E", "error_msg": "m"}})
    with pytest.raises(seal.SealError, match="^E 5208 m$"):
        seal.PyTWCASign(pki["pfx_user"], pki["wrong_password"], PERSON, IP)
    assert properties_files(workdir) == []


@pytest.mark.parametrize("plain, content", [
    ("abc", b"abc"),
    ("order=1&qty=2 +/=", b"order=1&qty=2 +/="),
    (3.5, b"3.5"),
])
def test_get_sign_signs_the_utf8_text(session, pki, tmp_path, plain, content):
    signature = session.get_sign(plain)
    assert isinstance(signature, bytes)
    assert cms_verify(signature, pki, tmp_path) == content
    assert len(embedded_certificates(signature)) == 1
    assert_sha256_signed_data(cms_structure(signature, tmp_path))


@pytest.mark.parametrize("plain, code", [("", 5005), ("台灣", 5901)])
def test_get_sign_engine_failures(session, plain, code):
    # On Linux the text is UTF-8 while the engine is told BIG5: UTF-8 Chinese
    # is no valid BIG5 and the engine refuses it.
    table = seal.read_error_code_dict(MODULE_FOLDER)
    with pytest.raises(seal.SealError) as info:
        session.get_sign(plain)
    entry = table[code]
    assert info.value.args == ("%s %d %s" % (entry["error"], code, entry["error_msg"]),)


def test_gen_sign_signs_identity_text_and_time(session, pki, tmp_path):
    before = time.time()
    quoted = session.gen_sign("buy 2330")
    after = time.time()
    import urllib.parse
    content = cms_verify(urllib.parse.unquote(quoted), pki, tmp_path).decode("utf8")
    prefix = PERSON + IP + "buy 2330"
    assert content.startswith(prefix)
    assert before <= float(content[len(prefix):]) <= after
    assert not set("+/=") & set(quoted)
    none_text = cms_verify(urllib.parse.unquote(session.gen_sign(None)), pki, tmp_path).decode()
    assert none_text.startswith(PERSON + IP + "None")
    default = cms_verify(urllib.parse.unquote(session.gen_sign()), pki, tmp_path).decode()
    float(default[len(PERSON + IP):])


def test_sign_without_store_signs_the_callers_text(session, pki, tmp_path):
    import urllib.parse
    content = cms_verify(urllib.parse.unquote(session.sign("sell 2317")), pki, tmp_path).decode()
    assert content.startswith(PERSON + IP + "sell 2317")


@pytest.mark.parametrize("method", ["sign", "gen_sign"])
def test_sign_text_must_be_str_or_none(session, method):
    with pytest.raises(TypeError):
        getattr(session, method)(b"bytes")
    with pytest.raises(TypeError):
        getattr(session, method)(plain_text=1)


def test_get_quote_sign_and_gen_seal(session):
    import urllib.parse
    raw = session.get_sign("payload")
    assert session.get_quote_sign("payload") == urllib.parse.quote(raw, safe="")
    quoted = session.get_quote_sign("payload")
    payload = session.gen_seal("payload")
    assert payload == ("0000%04d%s0000%04d%s%s" % (len(quoted), quoted, 10, PERSON, PERSON)).encode()
    assert payload.endswith(b"0000" + b"0010" + PERSON.encode() * 2)


def test_raise_error_method(session):
    table = seal.read_error_code_dict(MODULE_FOLDER)
    with pytest.raises(seal.SealError) as info:
        session.raise_error(5901)
    assert info.value.args == ("%s 5901 %s" % (table[5901]["error"], table[5901]["error_msg"]),)
    with pytest.raises(seal.SealError, match="^ 1 $"):
        session.raise_error(1)


def test_methods_reach_each_other_through_the_object(pki, workdir):
    class Traced(seal.PyTWCASign):
        def get_sign(self, plaintext=""):
            return ("<%s>" % plaintext).encode()

    s = Traced(pki["pfx_user"], pki["password"], PERSON, IP)
    assert s.get_quote_sign("a b") == "%3Ca%20b%3E"
    assert s.gen_seal("x") == b"0000" + b"0007" + b"%3Cx%3E" + b"0000" + b"0010" + PERSON.encode() * 2
    assert s.gen_sign("t").startswith("%3C" + PERSON + IP + "t")

    class Swallow(seal.PyTWCASign):
        raised = []

        def raise_error(self, code):
            self.raised.append(code)

    q = Swallow(pki["pfx_user"], pki["password"], PERSON, IP)
    assert q.get_sign("") == b""
    assert Swallow.raised == [5005]


def test_activate_is_called_through_the_object(pki, workdir):
    seen = []

    class Custom(seal.PyTWCASign):
        def activate(self, seal_path, seal_passwd, folder_path):
            seen.append((type(seal_path), seal_passwd, folder_path))
            return "ignored"

    s = Custom(pki["pfx_user"], "any", PERSON, IP)
    assert seen == [(pathlib.PosixPath, "any", MODULE_FOLDER)]
    assert s.is_activate() is False
    with pytest.raises(seal.SealError, match=" 5010 "):
        s.get_sign("x")


def test_no_instance_dictionary_and_pickling_refused(session):
    assert not hasattr(session, "__dict__")
    with pytest.raises(AttributeError):
        session.person_id = "x"
    for attempt in (lambda: pickle.dumps(session), lambda: copy.copy(session),
                    lambda: session.__reduce__(), lambda: session.__setstate__({})):
        with pytest.raises(TypeError, match="^no default __reduce__ due to non-trivial __cinit__$"):
            attempt()


def test_subclass_cycles_are_collected(pki, workdir):
    class Sub(seal.PyTWCASign):
        pass

    s = Sub(pki["pfx_user"], pki["password"], PERSON, IP)
    s.me = s
    ref = weakref.ref(s)
    del s
    gc.collect()
    assert ref() is None


def test_reference_counts_stay_balanced(session):
    text = "refcount text"
    session.get_sign(text)
    before = sys.getrefcount(text), sys.getrefcount(session)
    for _ in range(20):
        session.get_sign(text)
        session.get_quote_sign(text)
        session.gen_seal(text)
    assert (sys.getrefcount(text), sys.getrefcount(session)) == before


@pytest.mark.parametrize("method, args", [
    ("get_quote_sign", ()), ("gen_store_sign", ()), ("gen_seal", ()), ("raise_error", ()),
    ("is_activate", (1,)), ("sign_speedup", (1,)), ("activate", (1, 2)),
])
def test_method_arity(session, method, args):
    with pytest.raises(TypeError):
        getattr(session, method)(*args)


def test_store_zero_has_no_store(session):
    with pytest.raises(AttributeError):
        session.sign_speedup()
    assert session.background_gen_store_sign() is None
    with pytest.raises(AttributeError):
        session.gen_store_sign(1)


@pytest.mark.parametrize("pfx, code", [("pfx_user_expired", 5011), ("pfx_user_notyet", 5012)])
def test_certificate_outside_its_validity_cannot_sign(pki, workdir, pfx, code):
    s = seal.PyTWCASign(pki[pfx], pki["password"], PERSON, IP)
    assert s.is_activate() is True
    table = seal.read_error_code_dict(MODULE_FOLDER)
    with pytest.raises(seal.SealError) as info:
        s.get_sign("late")
    assert info.value.args == ("%s %d %s" % (table[code]["error"], code, table[code]["error_msg"]),)
    with pytest.raises(seal.SealError, match=" %d " % code):
        s.gen_seal("late")


def test_non_str_keywords_are_refused(session, pki, workdir):
    with pytest.raises(TypeError):
        session.sign(**{1: "x"})
    with pytest.raises(TypeError):
        seal.get_sign(**{1: "x"})
    with pytest.raises(TypeError):
        seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP, **{2: 0})
    assert properties_files(workdir) == []
