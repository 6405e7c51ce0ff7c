"""Bad-input catalogue, signing module: oversized and unencodable texts,
odd certificate paths and passwords, a working directory where the
properties file cannot be written, a log folder that cannot be created, and
wrong argument types and counts. Each gives its error or a clear exception,
never a crash, and no properties file is left behind."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

from seal_support import cms_verify, pki, properties_files, workdir  # noqa: F401
import orvane.TWCA.seal as seal

MIB = 1 << 20
USER, IP = "A123456789", "10.1.2.3"


@pytest.fixture
def session(pki, workdir):  # noqa: F811
    return seal.PyTWCASign(pki["pfx_user"], pki["password"], USER, IP)


@pytest.fixture
def module_facade(pki, workdir):  # noqa: F811
    seal.init_seal(pki["pfx_user"], pki["password"])


# ---- texts to sign --------------------------------------------------------------

# Short ids: pytest puts the test id into the environment, which every
# subprocess (openssl) inherits.
@pytest.mark.parametrize("text", ["x" * MIB, "中" * (MIB // 2), "A" * (MIB - 1) + "\u00e9"],
                         ids=["ascii", "chinese", "latin"])
def test_one_mebibyte_texts_are_signed_whole(session, pki, tmp_path, text):  # noqa: F811
    signature = session.get_sign(text)
    assert cms_verify(signature, pki, tmp_path) == text.encode("utf8")


def test_one_mebibyte_text_through_the_module_functions(module_facade, pki, tmp_path):  # noqa: F811
    text = "委託" * (MIB // 4)
    assert cms_verify(seal.get_sign(text), pki, tmp_path) == text.encode("big5")
    payload = seal.gen_seal(USER, text)
    assert payload.endswith(("0000%04d%s%s" % (len(USER), USER, USER)).encode())


@pytest.mark.parametrize("text", ["\ud800", "a\udfffb", "\U0001f600", "\x80\x81"])
def test_texts_big5_cannot_encode(module_facade, text):
    # The module functions encode with the big5 codec: its error propagates.
    with pytest.raises(UnicodeEncodeError):
        seal.get_sign(text)
    with pytest.raises(UnicodeEncodeError):
        seal.gen_seal(USER, text)


@pytest.mark.parametrize("text", ["\U0001f600", "é", "\u20ac" * 1000])
def test_utf8_bytes_that_are_not_big5_fail_cleanly(session, text):
    # Sessions encode UTF-8 but tell the engine "BIG5"; bytes that are not
    # valid code page 950 fail with SealError, not a crash or a bad signature.
    try:
        session.get_sign(text)
    except seal.SealError as e:
        assert str(e).split(" ")[1].isdigit()


def test_surrogates_fail_in_the_encoder(session):
    with pytest.raises(UnicodeEncodeError):
        session.get_sign("\ud800")
    with pytest.raises(UnicodeEncodeError):
        session.sign("\udfff")


def test_zero_byte_inside_the_text(session, module_facade):
    # The engine takes a zero-terminated text: a text holding a zero byte is
    # refused rather than signed cut short.
    with pytest.raises(ValueError):
        session.get_sign("abc\x00def")
    with pytest.raises(ValueError):
        seal.get_sign("abc\x00def")


# ---- certificate paths ------------------------------------------------------------

# Broken files and missing ones: seal_support.BAD_PFX, tested with each caller.
@pytest.mark.parametrize("path", ["", "/", "x" * 5000, "a\nb.pfx"], ids=["empty", "root", "long", "newline"])
def test_odd_certificate_paths(pki, workdir, path):  # noqa: F811
    with pytest.raises((seal.SealError, OSError, ValueError)):
        seal.PyTWCASign(path, pki["password"], USER, IP)
    assert properties_files(workdir) == []


# The empty password and the other engine failures: seal_support.BAD_PASSWORDS.
@pytest.mark.parametrize("password, exc", [("x" * MIB, seal.SealError), ("密碼", seal.SealError),
                                           ("\x00", ValueError)],
                         ids=["mib", "chinese", "zero"])
def test_odd_passwords(pki, workdir, password, exc):  # noqa: F811
    # A zero byte would cut the password short for the engine: refused.
    with pytest.raises(exc):
        seal.PyTWCASign(pki["pfx_user"], password, USER, IP)
    assert properties_files(workdir) == []


# ---- the working directory and the log folder ---------------------------------------

def test_working_directory_where_no_file_can_be_written(pki, monkeypatch):  # noqa: F811
    # /proc takes no new files, even from root: writing the properties file
    # fails with the OSError of the write, and nothing is left anywhere.
    monkeypatch.chdir("/proc")
    with pytest.raises(OSError):
        seal.PyTWCASign(pki["pfx_user"], pki["password"], USER, IP)
    with pytest.raises(OSError):
        seal.init_seal(pki["pfx_user"], pki["password"])
    assert not [p for p in os.listdir("/proc") if p.startswith("p7Sign")]


def test_log_folder_that_cannot_be_created(pki, tmp_path):  # noqa: F811
    # A file named "logs" where the log folder should go: the session still
    # activates and signs (the log keeps its lines in memory), in a fresh
    # interpreter because the log's folder is chosen once per process.
    (tmp_path / "logs").write_text("not a folder")
    code = (
        "import orvane.TWCA.seal as seal, os\n"
        "s = seal.PyTWCASign(%r, %r, 'A123456789', '10.1.2.3')\n"
        "assert s.get_sign('abc')\n"
        "seal.init_seal(%r, %r)\n"
        "assert seal.get_sign('abc')\n"
        "print('FILES', sorted(os.listdir('.')))\n" % (pki["pfx_user"], pki["password"], pki["pfx_user"], pki["password"]))
    r = subprocess.run([sys.executable, "-c", code], cwd=str(tmp_path), capture_output=True, text=True,
                       errors="replace", timeout=120)
    assert r.returncode == 0, r.stderr
    # The log's lines, kept in memory, go to standard error at exit; standard
    # output is the program's.
    assert r.stdout == "Seal Initial Done.\nFILES ['logs']\n"
    assert "SignPkcs7" in r.stderr
    assert (tmp_path / "logs").read_text() == "not a folder"


# ---- argument types and counts ---------------------------------------------------------

@pytest.mark.parametrize("args, kwargs, exc", [
    ((), {}, TypeError),
    (("a.pfx",), {}, TypeError),
    (("a.pfx", "pw", "id", "ip", 0, 1), {}, TypeError),
    ((None, "pw", "id", "ip"), {}, TypeError),
    ((b"a.pfx", "pw", "id", "ip"), {}, TypeError),
    ((1, "pw", "id", "ip"), {}, TypeError),
])
def test_constructor_shapes(workdir, args, kwargs, exc):  # noqa: F811
    with pytest.raises(exc):
        seal.PyTWCASign(*args, **kwargs)
    assert properties_files(workdir) == []


@pytest.mark.parametrize("store", ["10", 1.5, 2 ** 31, -2 ** 31 - 1, 2 ** 100])
def test_store_of_the_wrong_type_or_range(pki, workdir, store):  # noqa: F811
    with pytest.raises((TypeError, OverflowError)):
        seal.PyTWCASign(pki["pfx_user"], pki["password"], USER, IP, store)
    assert properties_files(workdir) == []


@pytest.mark.parametrize("call", [
    lambda s: s.get_sign(1, 2),
    lambda s: s.get_quote_sign(),
    lambda s: s.get_quote_sign("a", "b"),
    lambda s: s.sign(1),
    lambda s: s.sign(b"x"),
    lambda s: s.gen_sign(["x"]),
    lambda s: s.gen_store_sign(),
    lambda s: s.gen_store_sign("x"),
    lambda s: s.gen_seal(),
    lambda s: s.raise_error(),
    lambda s: s.activate(),
    lambda s: s.activate("a", "b"),
    lambda s: s.is_activate(1),
    lambda s: s.sign_speedup(),
])
def test_method_shapes(session, call):
    with pytest.raises((TypeError, AttributeError)):
        call(session)
    assert session.get_sign("still signs")


@pytest.mark.parametrize("call, exc", [
    (lambda: seal.init_seal(1), TypeError),
    (lambda: seal.init_seal("a.pfx", 1), AttributeError),
    (lambda: seal.get_quote_sign(), TypeError),
    (lambda: seal.gen_seal("id"), TypeError),
    (lambda: seal.gen_seal(1, "x"), TypeError),
    (lambda: seal.raise_error(1), TypeError),
    (lambda: seal.raise_error(1, None), AttributeError),
    (lambda: seal.read_error_code_dict("not a path"), AttributeError),
])
def test_module_function_shapes(pki, workdir, module_facade, call, exc):  # noqa: F811
    with pytest.raises(exc):
        call()
    assert properties_files(workdir) == []


def test_activate_with_wrong_types_leaves_no_file(session, pki, workdir):  # noqa: F811
    folder = Path(seal.__file__).parent
    with pytest.raises(AttributeError):
        session.activate(Path(pki["pfx_user"]), 12345, folder)
    assert properties_files(workdir) == []
    assert session.is_activate()
