"""Many Python threads signing at once through one session and through the
module functions, with a store thread running: every signature verifies."""

import threading
import urllib.parse

import orvane.TWCA.seal as seal
from seal_support import LibcryptoVerifier, pki, workdir  # noqa: F401

PERSON, IP = "A123456789", "10.1.2.3"
PER_THREAD = 250


def test_threads_share_a_session_and_the_module_facade(pki, workdir, capsys):
    assert seal.init_seal(pki["pfx_user"], pki["password"]) == 0
    session = seal.PyTWCASign(pki["pfx_user"], pki["password"], PERSON, IP, store=40)
    results, errors = [], []
    start = threading.Barrier(8)

    def session_worker(n):
        start.wait()
        try:
            for i in range(PER_THREAD):
                text = "s%d-%d" % (n, i)
                kind = i % 3
                if kind == 0:
                    results.append(("raw", text, session.get_sign(text)))
                elif kind == 1:
                    results.append(("sign", text, urllib.parse.unquote(session.sign(text)).encode()))
                else:
                    payload = session.gen_seal(text).decode()
                    quoted = payload[8:8 + int(payload[4:8])]
                    results.append(("raw", text, urllib.parse.unquote(quoted).encode()))
        except Exception as e:  # pragma: no cover - reported below
            errors.append(e)

    def module_worker(n):
        start.wait()
        try:
            for i in range(PER_THREAD):
                text = "m%d-%d 台" % (n, i)
                if i % 2:
                    results.append(("big5", text, seal.get_sign(text)))
                else:
                    results.append(("big5", text, urllib.parse.unquote(seal.get_quote_sign(text)).encode()))
        except Exception as e:  # pragma: no cover
            errors.append(e)

    threads = [threading.Thread(target=session_worker, args=(n,)) for n in range(4)]
    threads += [threading.Thread(target=module_worker, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(300)
    assert not errors, errors[:3]
    assert len(results) == 8 * PER_THREAD

    verifier = LibcryptoVerifier()
    from_store = 0
    for kind, text, signature in results:
        content = verifier.content(signature)
        assert content is not None, (kind, text)
        if kind == "raw":
            assert content == text.encode("utf8")
        elif kind == "big5":
            assert content == text.encode("big5")
        else:
            body = content.decode()
            assert body.startswith(PERSON + IP)
            rest = body[len(PERSON + IP):]
            if rest.startswith(text):
                float(rest[len(text):])
            else:
                float(rest)
                from_store += 1
    assert from_store > 0
