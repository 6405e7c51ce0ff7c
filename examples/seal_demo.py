"""Sign an order with a PKCS#12 certificate and check the signature.

The demo makes a throw-away test PKI (a root and an intermediate CA and a
user certificate in a password-protected PKCS#12 file, made by the tests'
generator), then:

1. runs the certificate check command on the file: can it sign today?
2. opens a signing session with a store of ready signatures,
3. signs an order payload with the session's identity (person id, address,
   the order, the time) and verifies that signature with `openssl cms
   -verify` against the test CAs,
4. takes signatures from the store and watches its thread refill it.

Everything lives in a temporary folder that is removed at the end; the
engine's log goes to logs/ in that folder too.
"""

import base64
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "fixtures"))

from make_pki import make_pki  # noqa: E402

from orvane.TWCA.seal import PyTWCASign  # noqa: E402

PERSON_ID = "A123456789"
ADDRESS = "10.1.2.3"
STORE = 50          # the store's target size; its thread adds STORE // 10 a second
ORDER = {"action": "Buy", "code": "2330", "price": "1085.00", "quantity": 2, "order_type": "ROD",
         "account": "9A95-0123456"}


def show_check(pki):
    """The certificate check, as a user runs it: python -m orvane.TWCA check."""
    env = dict(os.environ, DEMO_PFX_PASSWORD=pki["password"])
    command = [sys.executable, "-m", "orvane.TWCA", "check", pki["pfx_user"], "--password-env", "DEMO_PFX_PASSWORD"]
    print("$ python -m orvane.TWCA check %s --password-env DEMO_PFX_PASSWORD" % Path(pki["pfx_user"]).name)
    run = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
    print(run.stdout, end="")
    if run.returncode != 0:
        raise SystemExit("the certificate check failed with exit status %d" % run.returncode)


def cms_verify(signature_b64, pki, folder):
    """The signed content, as `openssl cms -verify` gives it back after checking
    the signature and the signer's chain up to the test root."""
    der = folder / "order.p7s"
    der.write_bytes(base64.b64decode(signature_b64, validate=True))
    content = folder / "order.content"
    run = subprocess.run(["openssl", "cms", "-verify", "-binary", "-inform", "DER", "-in", str(der),
                          "-CAfile", pki["chain_pem"], "-purpose", "any", "-out", str(content)],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
    print("$ openssl cms -verify -binary -inform DER -in order.p7s -CAfile %s -purpose any"
          % Path(pki["chain_pem"]).name)
    print(run.stdout.strip())
    if run.returncode != 0:
        raise SystemExit("openssl cms -verify refused the signature (exit status %d)" % run.returncode)
    return content.read_bytes()


def sign_order(session, pki, folder):
    payload = json.dumps(ORDER, separators=(",", ":"))
    print("order payload: %s" % payload)
    quoted = session.gen_sign(payload)       # URL-quoted base64 PKCS#7 SignedData
    signature = urllib.parse.unquote(quoted)
    print("signature:     %d characters of base64 (%s...)" % (len(signature), signature[:48]))
    content = cms_verify(signature, pki, folder).decode("utf-8")
    print("signed text:   %s" % content)
    if not (content.startswith(PERSON_ID + ADDRESS + payload) and content[len(PERSON_ID + ADDRESS + payload):]):
        raise SystemExit("the signed text is not the person id, the address, the order and the time")
    stamp = float(content[len(PERSON_ID + ADDRESS + payload):])
    print("               person id + address + order + time (%s)"
          % time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(stamp)))


# The size of each batch the store's thread adds. The store itself is the
# session's own, so the demo counts what goes in and what it takes out.
ADDED = []


class StoreSession(PyTWCASign):
    """A session that notes each batch its thread adds to the store."""

    def gen_store_sign(self, count):
        super().gen_store_sign(count)
        ADDED.append(count)


def watch_store(session):
    taken = 0

    def size():
        return sum(ADDED) - taken

    print("store target %d; its thread adds %d a second while it holds fewer" % (STORE, STORE // 10))
    for _ in range(3):
        time.sleep(1)
        print("  store holds %2d" % size())
    take = size() - 2
    signatures = [session.sign("") for _ in range(take)]
    taken += take
    # Each one signs the empty caller text: person id, address, time.
    distinct = len(set(signatures))
    print("took %d ready signatures with sign() (%d distinct); store holds %d" % (take, distinct, size()))
    low = size()
    time.sleep(2.5)
    print("2.5 s later the thread has refilled it to %d" % size())
    if size() <= low or distinct != take:
        raise SystemExit("the store did not hand out distinct signatures or was not refilled")


def main():
    with tempfile.TemporaryDirectory(prefix="orvane-seal-demo-") as tmp:
        folder = Path(tmp)
        pki = make_pki(folder / "pki")
        print("test PKI made in %s (user certificate: %s)" % (folder / "pki", Path(pki["pfx_user"]).name))
        print()
        show_check(pki)
        print()
        # The session writes its properties file into the working folder and
        # the engine its log under logs/: both inside the demo's folder.
        os.chdir(str(folder))
        session = StoreSession(pki["pfx_user"], pki["password"], PERSON_ID, ADDRESS, STORE)
        print("session active: %s" % session.is_activate())
        sign_order(session, pki, folder)
        print()
        watch_store(session)
        os.chdir(str(HERE))


if __name__ == "__main__":
    main()
