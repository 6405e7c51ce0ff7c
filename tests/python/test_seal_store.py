"""The signature store of PyTWCASign and its background thread."""

import threading
import time
import urllib.parse

import pytest

import orvane.TWCA.seal as seal
from seal_support import cms_verify, pki, run_fresh, workdir  # noqa: F401

PERSON, IP = "A123456789", "10.1.2.3"


def wait_for(predicate, timeout=10.0):
    deadline = time.monotonic() + timeout
    while not predicate():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.02)


class Counting(seal.PyTWCASign):
    """gen_sign returns "<text>#<n>" so the store's order can be read."""

    def __new__(cls, *args, **kwargs):
        self = super().__new__(cls, *args, **kwargs)
        return self

    def gen_sign(self, plain_text=""):
        n = type(self).made
        type(self).made += 1
        return "%s#%d" % (plain_text, n)


def counting(pki, store, **overrides):
    cls = type("CountingSession", (Counting,), dict(made=0, **overrides))
    return cls(pki["pfx_user"], pki["password"], PERSON, IP, store)


def test_small_store_fills_one_per_round_and_hands_out_newest_first(pki, workdir):
    s = counting(pki, 2)
    wait_for(lambda: type(s).made >= 2)
    time.sleep(1.3)                                  # a third round adds nothing
    assert type(s).made == 2
    assert s.sign("ignored") == "#1"
    assert s.sign_speedup() == "#0"
    with pytest.raises(IndexError):
        s.sign_speedup()
    assert s.sign("caller") == "caller#2"            # empty store: signed on the caller's thread


def test_gen_store_sign_appends_a_whole_batch_in_order(pki, workdir):
    s = counting(pki, 5, background_gen_store_sign=lambda self: None)
    assert s.gen_store_sign(3) is None
    assert s.gen_store_sign(0) is None and s.gen_store_sign(-2) is None
    assert [s.sign_speedup() for _ in range(3)] == ["#2", "#1", "#0"]
    with pytest.raises(TypeError):
        s.gen_store_sign(1.5)


def test_store_of_real_signatures(pki, workdir, tmp_path):
    filled = threading.Event()

    class Store(seal.PyTWCASign):
        made = []

        def gen_sign(self, plain_text=""):
            sig = super().gen_sign(plain_text)
            self.made.append(sig)
            return sig

        def gen_store_sign(self, count):
            assert count == 10                       # store 100: batches of 10
            super().gen_store_sign(count)
            filled.set()

    t0 = time.time()
    s = Store(pki["pfx_user"], pki["password"], PERSON, IP, store=100)
    assert filled.wait(10)
    first = list(Store.made[:10])
    assert s.sign("not used") == first[9]
    assert s.sign() == first[8]
    content = cms_verify(urllib.parse.unquote(first[9]), pki, tmp_path).decode()
    assert content.startswith(PERSON + IP)
    assert t0 <= float(content[len(PERSON + IP):]) <= time.time()
    names = [t.name for t in threading.enumerate() if t.daemon]
    assert any(n.endswith("(background_gen_store_sign)") or n.startswith("Thread-") for n in names)


def test_empty_store_signs_on_the_callers_thread(pki, workdir, tmp_path):
    class Never(seal.PyTWCASign):
        def gen_store_sign(self, count):
            return None

    s = Never(pki["pfx_user"], pki["password"], PERSON, IP, store=10)
    with pytest.raises(IndexError):
        s.sign_speedup()
    content = cms_verify(urllib.parse.unquote(s.sign("buy 1")), pki, tmp_path).decode()
    assert content.startswith(PERSON + IP + "buy 1")


def test_background_failure_is_logged_and_the_thread_goes_on(pki, tmp_path):
    r = run_fresh("""
        import threading, time, datetime, pathlib
        import orvane.TWCA.seal as seal

        ok = threading.Event()

        class Flaky(seal.PyTWCASign):
            calls = 0

            def gen_store_sign(self, count):
                type(self).calls += 1
                if type(self).calls == 1:
                    raise RuntimeError("boom 第一輪")
                super().gen_store_sign(count)
                ok.set()

        s = Flaky(pki["pfx_user"], pki["password"], "A123456789", "10.1.2.3", store=3)
        assert ok.wait(10), "the thread stopped after its failure"
        assert s.sign_speedup()
        log = pathlib.Path("logs", "seal.log." + datetime.date.today().strftime("%Y%m%d")).read_bytes()
        print("LOG", log.decode("cp950").encode("unicode_escape").decode())
    """, tmp_path, pki)
    log = r.stdout.split("LOG ", 1)[1].encode().decode("unicode_escape")
    lines = [l for l in log.splitlines() if "background_gen_store_sign" in l]
    assert len(lines) == 1
    assert lines[0].endswith(" ERROR PyTWCASign::background_gen_store_sign() 背景產生簽章失敗 = "
                             "RuntimeError('boom 第一輪')")
