"""Hostile callers of the signing module: passwords that cannot reach the
engine whole or must not travel in errors, properties files under attack
(links at their name, interrupted removals), certificate paths the engine
cannot be given (line breaks, zero bytes, long, Chinese folders, FIFOs), and
str subclasses for paths, passwords, ids and addresses whose methods re-enter
the module, collect garbage or raise. Crash-prone cases run in a child."""

import itertools
import os
import pathlib
import shutil
import stat
import textwrap
import traceback

import pytest
import xxhash

import orvane.TWCA.seal as seal
from hostile import assert_survives, churn, hostile_str, once
from seal_support import cms_verify, PeekingPassword, pki, properties_files, workdir  # noqa: F401

HERE = pathlib.Path(__file__).resolve().parent
MODULE_FOLDER = pathlib.Path(seal.__file__).parent
PERSON, IP = "A123456789", "10.1.2.3"


def props_name(obj):
    return "p7Sign.properties." + xxhash.xxh32_hexdigest(str(id(obj)).encode())


@pytest.fixture
def session(pki, workdir):  # noqa: F811
    return seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP)


class FastTime:
    """Stands in for the module's `time`: no real sleeping, each reading a
    second later than the one before."""

    def __init__(self):
        self.now = itertools.count(1000.0)
        self.slept = 0

    def time(self):
        return float(next(self.now))

    def sleep(self, seconds):
        self.slept += 1


def activate_or_init(through, pki, path, password):
    if through == "session":
        return seal.PyTWCASign(path, password, PERSON, IP)
    return seal.init_seal(path, password)


# ---- passwords ---------------------------------------------------------------------

@pytest.mark.parametrize("through", ["session", "module"])
@pytest.mark.parametrize("tail", ["\x00", "\x00junk"])
def test_password_with_a_zero_byte_is_refused(pki, workdir, through, tail):  # noqa: F811
    # The engine would take only what precedes the zero byte: the right
    # password followed by anything must not activate.
    with pytest.raises(ValueError, match="embedded null byte"):
        activate_or_init(through, pki, pki["pfx_user"], pki["password"] + tail)
    assert properties_files(workdir) == []


def _everything_said(exc):
    """Every text an error reporter could record of an exception: its str,
    repr and args, each chained exception's, and the locals of every frame
    in their tracebacks outside this test module."""
    seen = set()
    texts = []
    while exc is not None and id(exc) not in seen:
        seen.add(id(exc))
        texts += [str(exc), repr(exc), repr(exc.args), repr(getattr(exc, "object", None))]
        texts += traceback.format_exception(type(exc), exc, exc.__traceback__)
        tb = exc.__traceback__
        while tb is not None:
            if tb.tb_frame.f_code.co_filename != __file__:
                texts.append(repr(tb.tb_frame.f_locals))
            tb = tb.tb_next
        exc = exc.__cause__ or exc.__context__
    return "\n".join(texts)


@pytest.mark.parametrize("through, password", [
    ("session", "Sekret9\U0001F600Qz"),          # BIG5 has no emoji
    ("session", "Sekret9\u00e9Qz"),              # nor Latin letters with accents
    ("module", "Sekret9\udcffQz"),               # UTF-8 refuses a lone surrogate
])
def test_unencodable_password_is_not_carried_by_the_error(pki, workdir, through, password):  # noqa: F811
    try:
        raise KeyError("handled while activating")   # a context of the caller's own
    except KeyError:
        with pytest.raises(UnicodeEncodeError) as info:
            activate_or_init(through, pki, pki["pfx_user"], password)
    said = _everything_said(info.value)
    for piece in ("Sekret", "Qz", password[7]):
        assert piece not in said
    assert type(info.value) is UnicodeEncodeError
    assert isinstance(info.value.__context__, KeyError)   # the caller's, not the encoder's
    assert properties_files(workdir) == []


def test_password_encoder_returning_something_else(pki, workdir):  # noqa: F811
    # A str subclass's own `encode` is called, as Python calls it; what it
    # gives must be bytes without a zero byte.
    for result, exc in [("text", TypeError), (b"Pa55\x00-w0rd", ValueError), (None, TypeError)]:
        pw = hostile_str(pki["password"], encode=lambda self, *a, r=result: r)
        with pytest.raises(exc):
            seal.PyTWCASign(pki["pfx_user"], pw, PERSON, IP)
    assert properties_files(workdir) == []


# ---- the properties file -------------------------------------------------------------

@pytest.mark.parametrize("through", ["session", "module"])
def test_properties_file_is_private_whatever_the_umask(pki, workdir, through, monkeypatch):  # noqa: F811
    seen = {}
    old = os.umask(0)
    try:
        activate_or_init(through, pki, pki["pfx_user"], PeekingPassword(pki["password"], seen))
    finally:
        os.umask(old)
    [(content, mode)] = seen.values()
    assert mode == stat.S_IFREG | 0o600
    assert properties_files(workdir) == []


@pytest.mark.parametrize("target_exists", [False, True], ids=["dangling", "to_a_file"])
@pytest.mark.parametrize("through", ["session", "module"])
def test_link_at_the_properties_name_is_replaced_not_followed(pki, workdir, tmp_path_factory, monkeypatch,  # noqa: F811
                                                              through, target_exists):
    outside = tmp_path_factory.mktemp("outside") / "target"
    if target_exists:
        outside.write_bytes(b"not yours\n")
    fast = FastTime()
    monkeypatch.setattr(seal, "time", fast)
    if through == "session":
        s = seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP)
        os.symlink(str(outside), props_name(s))
        assert s.activate(pathlib.Path(pki["pfx_user"]), pki["password"], MODULE_FOLDER) is True
        assert fast.slept == 0                   # a session never waits
    else:
        os.symlink(str(outside), "p7Sign.properties")
        assert seal.init_seal(pki["pfx_user"], pki["password"]) == 0
        assert fast.slept >= 5                   # waited for it as for a stale file first
    assert properties_files(workdir) == []       # the link itself is gone
    if target_exists:
        assert outside.read_bytes() == b"not yours\n"
    else:
        assert not outside.exists()


@pytest.mark.parametrize("interruption", [KeyboardInterrupt, SystemExit, RuntimeError])
@pytest.mark.parametrize("through", ["session", "module"])
def test_interrupted_activation_leaves_no_properties_file(pki, workdir, through, interruption):  # noqa: F811
    # The password is encoded while the file is on disk.
    def interrupt(self, *args):
        assert properties_files(".")
        raise interruption("stop")
    with pytest.raises(interruption):
        activate_or_init(through, pki, pki["pfx_user"], hostile_str(pki["password"], encode=interrupt))
    assert properties_files(workdir) == []


def test_failing_python_level_unlink_cannot_keep_the_file(pki, workdir, monkeypatch):  # noqa: F811
    def refuse(*args, **kw):
        raise PermissionError("refused")
    monkeypatch.setattr(pathlib.Path, "unlink", refuse)
    monkeypatch.setattr(os, "unlink", refuse)
    monkeypatch.setattr(os, "remove", refuse)
    s = seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP)
    assert seal.init_seal(pki["pfx_user"], pki["password"]) == 0
    with pytest.raises(seal.SealError, match=" 5208 "):
        s.activate(pathlib.Path(pki["pfx_user"]), pki["wrong_password"], MODULE_FOLDER)
    monkeypatch.undo()
    assert properties_files(workdir) == []


def test_folder_at_the_properties_name_is_an_os_error(session, pki, workdir):  # noqa: F811
    (workdir / props_name(session)).mkdir()
    with pytest.raises(OSError):
        session.activate(pathlib.Path(pki["pfx_user"]), pki["password"], MODULE_FOLDER)
    assert (workdir / props_name(session)).is_dir()
    assert session.is_activate() is True


# ---- certificate paths ---------------------------------------------------------------

@pytest.mark.parametrize("through", ["session", "module"])
def test_certificate_under_a_chinese_folder(pki, workdir, tmp_path_factory, through):  # noqa: F811
    folder = tmp_path_factory.mktemp("certs") / "憑證 王小明"
    folder.mkdir()
    pfx = folder / "用戶.pfx"
    shutil.copy(pki["pfx_user"], str(pfx))
    activate_or_init(through, pki, str(pfx), pki["password"])
    assert properties_files(workdir) == []


def _deep_folder(base, length):
    """A real folder path of exactly `length` bytes under `base`."""
    path = str(base)
    while len(path) < length:
        remaining = length - len(path)
        step = remaining - 1 if remaining <= 201 else (200 if remaining >= 203 else 198)
        path += "/" + "d" * step
    pathlib.Path(path).mkdir(parents=True)
    assert len(path.encode()) == length
    return path


@pytest.mark.parametrize("through", ["session", "module"])
def test_longest_certificate_folder_the_engine_reads(pki, workdir, tmp_path_factory, through):  # noqa: F811
    # "PFX.path = " and the folder fill the engine's 511-byte line: the
    # longest folder fits; one byte more is refused before any file is made.
    base = tmp_path_factory.mktemp("deep")
    longest = _deep_folder(base, 500)
    shutil.copy(pki["pfx_user"], longest + "/u.pfx")
    activate_or_init(through, pki, longest + "/u.pfx", pki["password"])
    too_long = _deep_folder(base / "x", 501)
    shutil.copy(pki["pfx_user"], too_long + "/u.pfx")
    with pytest.raises(ValueError, match="PFX.path"):
        activate_or_init(through, pki, too_long + "/u.pfx", pki["password"])
    assert properties_files(workdir) == []


@pytest.mark.parametrize("path, key", [
    ("{dir}/a\nPFX.file = user.pfx\nx/user.pfx", "PFX.path"),
    ("{dir}/a\rb/user.pfx", "PFX.path"),
    ("{dir}/a\x00b/user.pfx", "PFX.path"),
    ("{dir}/trailing /user.pfx", "PFX.path"),
    ("{dir}/user.pfx\nPFX.checkValid = false", "PFX.file"),
    ("{dir}/ user.pfx", "PFX.file"),
    ("{dir}/user.pfx\t", "PFX.file"),
    ("{dir}/" + "d" * 600 + "/user.pfx", "PFX.path"),
], ids=["lf", "cr", "nul", "trailing_blank", "lf_in_name", "leading_blank_name", "tab_name", "long"])
@pytest.mark.parametrize("through", ["session", "module"])
def test_paths_that_would_change_the_properties_are_refused(pki, workdir, through, path, key):  # noqa: F811
    target = path.format(dir=pki["pfx_dir"])
    with pytest.raises(ValueError, match=key):
        activate_or_init(through, pki, target, pki["password"])
    assert properties_files(workdir) == []


def test_chain_folder_is_checked_too(session, pki, workdir, tmp_path_factory):  # noqa: F811
    folder = tmp_path_factory.mktemp("mod") / "a\nLOG.level = DEBUG"
    with pytest.raises(ValueError, match="P7B.path"):
        session.activate(pathlib.Path(pki["pfx_user"]), pki["password"], folder)
    assert properties_files(workdir) == []


@pytest.mark.parametrize("through", ["session", "module"])
def test_fifo_as_certificate_fails_without_waiting(pki, tmp_path, through):
    # Opening a FIFO for reading waits for a writer: in a child, so that a
    # hang fails the test instead of stalling the run.
    os.mkfifo(str(tmp_path / "user.pfx"))
    call = ("seal.PyTWCASign(FIFO, PW, 'A1', '1.2.3.4')" if through == "session"
            else "seal.init_seal(FIFO, PW)")
    out = assert_survives("""
        import os, orvane.TWCA.seal as seal
        FIFO, PW = %r, %r
        try:
            %s
        except seal.SealError as e:
            print("code", e.args[0].split(" ")[1])
        print("left", sorted(n for n in os.listdir(".") if n.startswith("p7Sign")))
    """ % (str(tmp_path / "user.pfx"), pki["password"], call), timeout=60, cwd=str(tmp_path))
    assert "code 1102" in out
    assert "left []" in out


# ---- hostile objects in-process ------------------------------------------------------

def test_text_whose_format_gives_a_hostile_str_is_signed_as_plain_text(session, pki, tmp_path):
    # "{}".format(x) is a plain str whatever x.__format__ returns: the
    # subclass's `encode` is never consulted.
    evil = hostile_str("order=1 abc", encode=lambda self, *a: b"forged")
    plain = type("Text", (), {"__format__": lambda self, spec: evil})()
    assert cms_verify(session.get_sign(plain), pki, tmp_path) == b"order=1 abc"
    assert session.gen_seal(plain).startswith(b"0000")


def test_ids_whose_methods_reenter_the_session(pki, workdir):  # noqa: F811
    box = {}

    def reenter(self, spec=""):
        churn()
        if "s" in box:
            box["s"].gen_seal("inner")
        return str.__format__(self, spec)

    person = hostile_str(PERSON, __format__=once(reenter, PERSON))
    ip = hostile_str(IP, __format__=reenter)
    s = seal.PyTWCASign(pki["pfx_user"], pki["password"], person, ip)
    box["s"] = s
    payload = s.gen_seal("x")
    assert payload.endswith(("0000%04d%s%s" % (len(PERSON), PERSON, PERSON)).encode())


# ---- hostile objects in a child ------------------------------------------------------

CHILD_PRELUDE = """
import gc, itertools, os, pathlib, sys
sys.path.insert(0, %(tests)r)
from hostile import *
import orvane.TWCA.seal as seal
PFX, PW, WRONG = %(pfx)r, %(pw)r, %(wrong)r
FOLDER = pathlib.Path(seal.__file__).parent

class FastTime:
    now = itertools.count(1000.0)
    def time(self):
        return float(next(self.now))
    def sleep(self, seconds):
        pass

def left():
    return sorted(n for n in os.listdir(".") if n.startswith("p7Sign"))
"""

CHILD_CASES = {
    # The password's encode re-activates the same session while its file
    # is on disk: the inner activation removes it, the outer then finds
    # none (1202) or activates; nothing stays behind.
    "password_reenters_activate": """
        s = seal.PyTWCASign(PFX, PW, "A1", "1.2.3.4")
        def enc(self, *a):
            s.activate(pathlib.Path(PFX), PW, FOLDER)
            gc.collect(); churn()
            return str(self).encode(*a)
        try:
            s.activate(pathlib.Path(PFX), hostile_str(PW, encode=enc), FOLDER)
        except seal.SealError:
            pass
        assert s.get_sign("still signs")
    """,
    # The password's encode swaps the file for a link to a file outside:
    # removing it removes the link, never the file it points to.
    "password_swaps_in_a_link": """
        outside = pathlib.Path("..").resolve() / ("outside-%d" % os.getpid())
        outside.write_bytes(b"keep me")
        s = seal.PyTWCASign(PFX, PW, "A1", "1.2.3.4")
        def enc(self, *a):
            for n in left():
                os.unlink(n); os.symlink(str(outside), n)
            return str(self).encode(*a)
        try:
            s.activate(pathlib.Path(PFX), hostile_str(PW, encode=enc), FOLDER)
        except seal.SealError:
            pass
        assert outside.read_bytes() == b"keep me"
        outside.unlink()
    """,
    # init_seal re-entered from its own password's encode: the inner call
    # takes the outer's file as stale (after its wait), replaces and removes
    # it; the outer's engine then finds no file.
    "init_seal_reenters_itself": """
        seal.time = FastTime()
        def enc(self, *a):
            seal.init_seal(PFX, PW)
            return str(self).encode(*a)
        try:
            seal.init_seal(PFX, hostile_str(PW, encode=once(enc, b"x")))
        except (seal.SealError, TypeError):
            pass
        assert seal.get_sign("x")
    """,
    # Certificate paths whose str() and fspath re-enter the module and
    # collect garbage while pathlib parses them.
    "path_methods_reenter": """
        def again(self, *a):
            gc.collect(); churn()
            seal.PyTWCASign(PFX, PW, "B2", None).get_sign("inner")
            return str.__str__(self)
        path = hostile_str(PFX, __str__=once(again, PFX), __fspath__=once(again, PFX))
        s = seal.PyTWCASign(path, PW, "A1", "1.2.3.4")
        assert s.get_sign("x")
        seal.init_seal(hostile_str(PFX, __str__=once(again, PFX), __fspath__=once(again, PFX)), PW)
    """,
    # The module's error table, xxhash, quote and template rebound to
    # objects whose methods re-enter, collect or hand back odd values.
    "rebound_module_names": """
        s = seal.PyTWCASign(PFX, PW, "A1", "1.2.3.4")
        real_reader = seal.read_error_code_dict
        class Table(dict):
            def get(self, *a):
                gc.collect(); churn()
                try:
                    s.raise_error(5208)
                except seal.SealError:
                    pass
                return dict.get(self, *a)
        seal.read_error_code_dict = lambda folder: Table(real_reader(folder))
        t = seal.PyTWCASign(PFX, PW, "A1", "1.2.3.4")
        try:
            t.activate(pathlib.Path(PFX), WRONG, FOLDER)
        except seal.SealError as e:
            assert " 5208 " in str(e)
        class Hash:
            def xxh32_hexdigest(self, data):
                gc.collect()
                return hostile_str("0", __format__=lambda self, spec: "abc")
        seal.xxhash = Hash()
        t.activate(pathlib.Path(PFX), PW, FOLDER)
        seal.quote = lambda sig, safe: hostile_str("q", __len__=lambda self: 10 ** 6)
        assert t.gen_seal("x").startswith(b"00001000000q")
        seal.P7SIGN_PROPS = hostile_str(seal.P7SIGN_PROPS, format=lambda self, **kw: b"no str")
        try:
            t.activate(pathlib.Path(PFX), PW, FOLDER)
        except (AttributeError, TypeError):
            pass
    """,
    # A store whose batch maker pops from the same store and collects.
    "store_batch_pops_its_store": """
        class Sub(seal.PyTWCASign):
            def gen_sign(self, plain_text=""):
                gc.collect(); churn()
                try:
                    self.sign_speedup()
                except IndexError:
                    pass
                return hostile_str("sig")
        s = Sub(PFX, PW, "A1", "1.2.3.4", 10)
        for _ in range(5):
            s.gen_store_sign(3)
            s.sign()
    """,
}


@pytest.mark.parametrize("case", sorted(CHILD_CASES))
def test_hostile_callers_survive(pki, tmp_path, case):
    prelude = CHILD_PRELUDE % {"tests": str(HERE), "pfx": pki["pfx_user"], "pw": pki["password"],
                               "wrong": pki["wrong_password"]}
    code = prelude + textwrap.dedent(CHILD_CASES[case]) + "\nassert left() == [], left()\nprint('survived')\n"
    out = assert_survives(code, timeout=120, cwd=str(tmp_path))
    assert "survived" in out
