"""`python -m orvane.TWCA check`: one line and one exit status per failure,
the certificate's facts on success, and the password never shown or written."""

import os
import re
import shutil
import sys
from pathlib import Path

import pytest

from seal_support import BAD_PFX, pfx_path
from tools_support import pki, run_cli  # noqa: F401  (pki is a fixture)

PW_ENV = "ORVANE_TEST_PFX_PASSWORD"


def check(tmp_path, pki, pfx, password="password", *extra, **kw):
    path = pki[pfx] if pfx in pki else pfx
    env = dict(kw.pop("env", {}))
    if password is not None:
        env[PW_ENV] = pki[password] if password in pki else password
    return run_cli(tmp_path, "check", path, "--password-env", PW_ENV, *extra, env=env, **kw)


def assert_no_secret(run, secret):
    for stream in (run.out_bytes, run.err_bytes):
        assert secret.encode() not in stream


def leftovers(folder):
    return sorted(str(p.relative_to(folder)) for p in Path(folder).rglob("*"))


@pytest.mark.parametrize("pfx, legacy, ca_count", [
    ("pfx_user", "no", 0),
    ("pfx_legacy", "yes", 0),
    ("pfx_with_ca", "no", 2),
    ("pfx_user_nonrep", "no", 0),      # nonRepudiation alone may sign
])
def test_a_good_certificate_passes_with_its_facts(tmp_path, pki, pfx, legacy, ca_count):
    run = check(tmp_path, pki, pfx)
    assert run.status == 0, run.err
    assert run.err == ""
    out = run.out
    assert "subject:         " + pki["user_subject"] in out
    assert "issuer:          " + pki["inter_subject"] in out
    serial = pki[pfx[len("pfx_"):] + "_serial"] if pfx != "pfx_with_ca" and pfx != "pfx_legacy" \
        else pki["user_serial"]
    assert re.search(r"^serial number:   0*%s$" % serial, out, re.M)
    assert re.search(r"^valid until:     \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC \((729|730) days left\)$", out, re.M)
    assert re.search(r"^legacy:          %s\b" % legacy, out, re.M)
    assert "CA certificates: %d in the file" % ca_count in out
    assert "probe signature: signed, and the signature verifies against the certificate in the file" in out
    assert out.splitlines()[-1] == "OK: the certificate can sign today"
    assert_no_secret(run, pki["password"])


def test_the_encryption_line_names_the_algorithms(tmp_path, pki):
    modern = check(tmp_path, pki, "pfx_user")
    assert re.search(r"^encryption:      PBES2 AES-256-CBC; MAC SHA256$", modern.out, re.M)
    legacy = check(tmp_path, pki, "pfx_legacy")
    line = re.search(r"^encryption:      (.*)$", legacy.out, re.M).group(1)
    assert "pbeWithSHA1And40BitRC2-CBC" in line and "pbeWithSHA1And3-KeyTripleDES-CBC" in line
    assert "PBES2" not in line


@pytest.mark.parametrize("pfx, password, status, line", [
    ("pfx_user", "wrong_password", 5, r"cannot sign: wrong password for .*user\.pfx"),
    ("pfx_legacy", "wrong_password", 5, r"cannot sign: wrong password for .*user_legacy\.pfx"),
    ("pfx_user_expired", "password", 6,
     r"cannot sign: the certificate expired on \d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC \(1 day ago\)"),
    ("pfx_user_just_expired", "password", 6,
     r"cannot sign: the certificate expired on .* UTC \(less than a day ago\)"),
    ("pfx_user_notyet", "password", 7,
     r"cannot sign: the certificate is not valid before \d{4}-\d\d-\d\d .* UTC \(in (29|30) days\)"),
    ("pfx_user_soon", "password", 7,
     r"cannot sign: the certificate is not valid before .* UTC \(in less than a day\)"),
    ("pfx_user_keyenc", "password", 8,
     r"cannot sign: the certificate's key usage does not allow signing \(key usage: keyEncipherment\)"),
    ("pfx_user_noku", "password", 8,
     r"cannot sign: the certificate's key usage does not allow signing "
     r"\(key usage: none \(no key usage extension\)\)"),
    ("pfx_user", None, 2, r"cannot check: environment variable ORVANE_TEST_PFX_PASSWORD is not set"),
    ("pfx_user", "", 2, r"cannot check: no password given"),
    ("pfx_user", "p\u2603ss", 2, r"cannot check: the password holds a character that BIG5 cannot encode, "
     r"which a signing session cannot use"),
])
def test_each_failure_gives_its_line_and_status(tmp_path, pki, pfx, password, status, line):
    assert_verdict(check(tmp_path, pki, pfx, password), pki, status, line)


# The command's status and line for each broken file of BAD_PFX.
BROKEN_FILE_VERDICTS = {
    "missing": (3, r"cannot check: file not found: .*missing\.pfx"),
    "pfx_folder": (4, r"cannot check: not a PKCS#12 file \(not a regular file\): .*folder\.pfx"),
    "pfx_garbage": (4, r"cannot check: not a PKCS#12 file: .*garbage\.pfx"),
    "pfx_empty": (4, r"cannot check: not a PKCS#12 file: .*empty\.pfx"),
    "pfx_truncated": (4, r"cannot check: not a PKCS#12 file: .*truncated\.pfx"),
    "pfx_bad_mac": (5, r"cannot sign: wrong password for .*bad_mac\.pfx"),
}


# Where OpenSSL's legacy module cannot load, an RC2-40 file with the right
# password says so, and the right password is not called wrong; a wrong one
# still is. Either way the encryption lines say what is missing and where the
# module was looked for.
@pytest.mark.parametrize("password, status, line", [
    ("password", 9, r"cannot sign: the password is right, but .*user_legacy\.pfx is encrypted with "
                    r"pbeWithSHA1And40BitRC2-CBC, which needs OpenSSL's legacy provider: it did not load "
                    r"from OPENSSL_MODULES=.*no-modules"),
    ("wrong_password", 5, r"cannot sign: wrong password for .*user_legacy\.pfx"),
])
def test_a_legacy_file_without_the_legacy_module(tmp_path, pki, password, status, line):
    empty = tmp_path / "no-modules"
    empty.mkdir()
    run = check(tmp_path, pki, "pfx_legacy", password, env={"OPENSSL_MODULES": str(empty)})
    assert_verdict(run, pki, status, line)
    assert re.search(r"^not available:   pbeWithSHA1And40BitRC2-CBC, which needs OpenSSL's legacy provider: "
                     r"it did not load from OPENSSL_MODULES=%s$" % re.escape(str(empty)), run.out, re.M)
    assert re.search(r"^legacy:          yes \(old PKCS#12 encryption, which this installation cannot open\)$",
                     run.out, re.M)
    assert "the engine loads it" not in run.out
    modern = check(tmp_path, pki, "pfx_user", env={"OPENSSL_MODULES": str(empty)})
    assert modern.status == 0 and "not available" not in modern.out


@pytest.mark.parametrize("pfx", list(BAD_PFX))
def test_each_broken_file_gives_its_line_and_status(tmp_path, pki, pfx):
    status, line = BROKEN_FILE_VERDICTS[pfx]
    assert_verdict(check(tmp_path, pki, pfx_path(pki, pfx, tmp_path)), pki, status, line)


def assert_verdict(run, pki, status, line):
    """One line on standard error, the status, and no password shown."""
    assert run.status == status, (run.out, run.err)
    assert len(run.err_lines) == 1, run.err
    assert re.fullmatch("orvane-seal: " + line, run.err_lines[0]), run.err_lines[0]
    for secret in (pki["password"], pki["wrong_password"], "p\u2603ss"):
        assert_no_secret(run, secret)


@pytest.mark.parametrize("pfx, days", [("pfx_user_expired", "expired 1 day ago"),
                                       ("pfx_user_keyenc", "729 days left")])
def test_a_refused_certificate_still_shows_its_facts(tmp_path, pki, pfx, days):
    run = check(tmp_path, pki, pfx)
    assert "subject:         " + pki["user_subject"] in run.out
    assert days in run.out or days.replace("729", "730") in run.out
    assert "OK:" not in run.out


def test_the_probe_follows_the_engine_verdicts(tmp_path, pki):
    # An expired certificate is refused by the engine itself, as in a session;
    # a key-encipherment one still signs there, so only the check refuses it.
    expired = check(tmp_path, pki, "pfx_user_expired")
    assert "probe signature: not signed: TWCA_ERR_CERT_EXPIRED 5011" in expired.out
    keyenc = check(tmp_path, pki, "pfx_user_keyenc")
    assert "probe signature: signed, and the signature verifies" in keyenc.out
    assert "key usage:       keyEncipherment (may not sign)" in keyenc.out


def test_the_password_can_come_from_the_prompt(tmp_path, pki):
    # Without a terminal getpass reads the line from standard input.
    run = run_cli(tmp_path, "check", pki["pfx_user"], stdin=(pki["password"] + "\n").encode())
    assert run.status == 0, run.err
    assert "Password for " in run.err
    assert run.out.splitlines()[-1] == "OK: the certificate can sign today"
    assert_no_secret(run, pki["password"])


def test_a_missing_file_is_reported_before_the_prompt(tmp_path):
    run = run_cli(tmp_path, "check", tmp_path / "gone.pfx", stdin=b"")
    assert run.status == 3
    assert "Password" not in run.err


@pytest.mark.parametrize("pfx, password", [("pfx_user", "password"), ("pfx_user", "wrong_password"),
                                           ("pfx_user_expired", "password")])
def test_nothing_is_left_behind(tmp_path, pki, pfx, password):
    run = check(tmp_path, pki, pfx, password)
    assert run.status in (0, 5, 6)
    assert leftovers(run.tmp) == []
    assert leftovers(tmp_path / "cwd") == []


def test_the_kept_log_holds_the_check_but_not_the_password(tmp_path, pki):
    logs = tmp_path / "logs"
    run = check(tmp_path, pki, "pfx_user", "password", "--log-folder", logs)
    assert run.status == 0, run.err
    files = list(logs.iterdir())
    assert len(files) == 1 and re.fullmatch(r"seal\.log\.\d{8}", files[0].name)
    data = files[0].read_bytes()
    text = data.decode("cp950")
    assert "begin TWCASign::SignPkcs7()" in text
    assert "end TWCASign::SignPkcs7Bin() = 0x00000000(0)" in text
    assert pki["password"].encode() not in data
    assert "簽章值" in text        # the engine's own messages are BIG5
    assert leftovers(run.tmp) == []


def test_wrong_password_in_the_kept_log(tmp_path, pki):
    logs = tmp_path / "logs"
    run = check(tmp_path, pki, "pfx_user", "wrong_password", "--log-folder", logs)
    assert run.status == 5
    data = b"".join(p.read_bytes() for p in logs.iterdir())
    assert pki["wrong_password"].encode() not in data
    assert "讀取 pfx 檔失敗, 密碼錯誤" in data.decode("cp950")


def test_the_console_command_is_installed(tmp_path, pki):
    exe = shutil.which("orvane-seal", path=os.path.dirname(sys.executable))
    assert exe, "orvane-seal is not installed beside the interpreter"
    run = check(tmp_path, pki, "pfx_user_expired", command=[exe])
    assert run.status == 6
    assert run.err_lines[0].startswith("orvane-seal: cannot sign: the certificate expired on")


def test_usage_errors(tmp_path):
    assert run_cli(tmp_path).status == 2
    assert run_cli(tmp_path, "check").status == 2
    run = run_cli(tmp_path, "--help")
    assert run.status == 0 and "check" in run.out and "log" in run.out


# ---- the private engine module ------------------------------------------------

def test_certcheck_refuses_bad_arguments(tmp_path):
    from orvane.TWCA import _certcheck
    props = tmp_path / "p.properties"
    with pytest.raises(TypeError, match="argument 'password' must be bytes"):
        _certcheck.check(str(props), "secret", b"probe")
    with pytest.raises(ValueError, match="must not contain NUL bytes") as e:
        _certcheck.check(str(props), b"sec\0ret", b"probe")
    assert "sec" not in str(e.value).replace("second", "")
    with pytest.raises(ValueError, match="'probe' must not be empty"):
        _certcheck.check(str(props), b"secret", b"")
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'probe'"):
        _certcheck.check(str(props), b"secret")
    with pytest.raises(ValueError):
        _certcheck.encryption("a\0b")


def test_certcheck_without_a_properties_file(tmp_path):
    # In a child: with no log folder the engine prints its lines at exit.
    code = ("from orvane.TWCA import _certcheck; import sys; "
            "r = _certcheck.check(sys.argv[1], b'secret', b'probe'); "
            "print('RESULT', r['protect'], r['load'], r['sign'], 'subject' in r)")
    run = run_cli(tmp_path, "-c", code, tmp_path / "none.properties", command=[sys.executable])
    assert run.status == 0, run.err
    assert "RESULT 1202 None None False" in run.out
    assert "secret" not in run.out


def test_encryption_of_files_that_are_not_pkcs12(tmp_path, pki):
    from orvane.TWCA import _certcheck
    unreadable = [name for name, code in BAD_PFX.items() if code == 1102]
    for name in unreadable + ["root_pem"]:
        assert _certcheck.encryption(pfx_path(pki, name, tmp_path)) is None
    info = _certcheck.encryption(Path(pki["pfx_legacy"]))
    assert info["legacy"] is True and info["mac"] == "SHA1" and info["mac_iterations"] >= 1


@pytest.fixture(scope="module")
def signed(pki):
    """A base64 SignedData with embedded content made by a real peer."""
    import base64
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.serialization import pkcs7
    cert = x509.load_pem_x509_certificate(Path(pki["user_pem"]).read_bytes())
    key = serialization.load_pem_private_key(Path(pki["user_key_pem"]).read_bytes(), None)
    der = (pkcs7.PKCS7SignatureBuilder().set_data(b"probe\0text").add_signer(cert, key, hashes.SHA256())
           .sign(serialization.Encoding.DER, [pkcs7.PKCS7Options.Binary]))

    def der_of(name):
        pem = x509.load_pem_x509_certificate(Path(pki[name]).read_bytes())
        return pem.public_bytes(serialization.Encoding.DER)
    return base64.b64encode(der), der, der_of


def test_verify_accepts_only_the_signers_certificate_and_content(signed):
    import base64
    from orvane.TWCA import _certcheck
    b64, der, der_of = signed
    assert _certcheck.verify(b64, der_of("user_pem"), b"probe\0text") is None
    # Another certificate, even one of the same key's issuer, did not sign it.
    assert _certcheck.verify(b64, der_of("root_pem"), b"probe\0text")
    # The same key under another certificate (other serial) is not the signer either.
    assert _certcheck.verify(b64, der_of("user_expired_pem"), b"probe\0text")
    assert _certcheck.verify(b64, der_of("user_pem"), b"probe text") == \
        "the signed content differs from the probe text"
    tampered = bytearray(der)
    tampered[len(tampered) - 20] ^= 0x01          # inside the signature value
    assert _certcheck.verify(base64.b64encode(bytes(tampered)), der_of("user_pem"), b"probe\0text")
    assert _certcheck.verify(b"!!not base64!!", der_of("user_pem"), b"x") in (
        "the signature is not base64", "the signature is not DER PKCS#7")
    assert _certcheck.verify(base64.b64encode(b"\x30\x03\x02\x01\x01"), der_of("user_pem"), b"x") == \
        "the signature is not DER PKCS#7"
    with pytest.raises(ValueError, match="not a DER certificate"):
        _certcheck.verify(b64, b"\x30\x00", b"x")


def test_the_check_configures_the_engine_as_a_session_does():
    from orvane.TWCA import seal
    from orvane.TWCA.__main__ import CHECK_PROPS

    def entries(text):
        pairs = (line.split(" = ", 1) for line in text.splitlines() if " = " in line)
        return {k: v for k, v in pairs if k.startswith(("PKCS7.", "PFX.checkValid"))}
    session = entries(seal.P7SIGN_PROPS)
    assert session and entries(CHECK_PROPS.decode()) == session


@pytest.mark.parametrize("folder", ["trailing blank ", "/".join(["x" * 200] * 3)])
def test_a_path_the_engine_cannot_be_given_is_refused_plainly(tmp_path, pki, folder):
    target = tmp_path / folder
    target.mkdir(parents=True)
    pfx = target / "user.pfx"
    pfx.write_bytes(Path(pki["pfx_user"]).read_bytes())
    run = check(tmp_path, pki, str(pfx))
    assert run.status == 2
    assert run.err_lines == ["orvane-seal: cannot check: the signing engine cannot be given this path "
                             "(line breaks, blanks at either end, or too long): %s" % target]
