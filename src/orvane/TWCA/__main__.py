"""Command-line tools of the signing module (also installed as ``orvane-seal``).

    python -m orvane.TWCA check PATH.pfx [--password-env NAME] [--log-folder DIR]
    python -m orvane.TWCA log [--date YYYYMMDD] [--folder logs]

``check`` loads a PKCS#12 certificate file through the signing engine, prints
what it holds and whether it can sign today; ``log`` prints a day of the
signing log (written in BIG5) in the terminal's encoding.
"""

import argparse
import datetime
import getpass
import os
import shutil
import sys
import tempfile
from pathlib import Path

PROG = "orvane-seal"

# Exit statuses of `check`.
EXIT_OK = 0
EXIT_FAILED = 1          # the probe signature failed or did not verify; other engine codes
EXIT_USAGE = 2           # bad arguments, no password
EXIT_MISSING = 3         # the file does not exist
EXIT_NOT_PKCS12 = 4      # not a PKCS#12 file (or not a file)
EXIT_PASSWORD = 5        # wrong password
EXIT_EXPIRED = 6
EXIT_NOT_YET_VALID = 7
EXIT_KEY_USAGE = 8       # the key may not sign
EXIT_ALGORITHM = 9       # the file's encryption cannot be undone here (no legacy provider)
# Exit status of `log` when there is no log for that day.
EXIT_NO_LOG = 3

# Engine codes (cError.h) the check maps to its own lines.
ERR_PFX_FILE = 1102
ERR_ARGUMENT = 5005
ERR_EXPIRED = 5011
ERR_NOT_YET_VALID = 5012
ERR_KEY_USAGE = 5017
ERR_PASSWORD = 5208
ERR_ALGORITHM = 5209

PROBE = b"orvane-seal check probe"

# Key-usage bits: first byte, then the second byte times 256.
KEY_USAGE_BITS = [
    (0x80, "digitalSignature"),
    (0x40, "nonRepudiation"),
    (0x20, "keyEncipherment"),
    (0x10, "dataEncipherment"),
    (0x08, "keyAgreement"),
    (0x04, "keyCertSign"),
    (0x02, "cRLSign"),
    (0x01, "encipherOnly"),
    (0x8000, "decipherOnly"),
]

# The engine's configuration for the check: a session's, with the log in
# the given folder at DEBUG level. No password in it.
CHECK_PROPS = (
    b"LOG.path = %(log)s\n"
    b"LOG.file = seal.log\n"
    b"LOG.level = DEBUG\n"
    b"PFX.path = %(folder)s\n"
    b"PFX.file = %(name)s\n"
    b"PFX.checkValid = true\n"
    b"PKCS7.digest = SHA256\n"
    b"PKCS7.addCert = 1\n"
    b"PKCS7.addPlainText = true\n"
    b"PKCS7.addTimestamp = false\n"
)


def fits_properties(value, key=b"LOG.path"):
    """Whether the line "key = value" is read back by the engine as written
    (values are trimmed of control characters and blanks, a line ends at a
    line break or after 511 bytes): the signing module's own check."""
    from orvane.TWCA import _certcheck
    return _certcheck.fits_property(key, value)


class CheckFailed(Exception):
    """One line saying why the check failed, and the exit status."""

    def __init__(self, status, line):
        super().__init__(line)
        self.status = status
        self.line = line


def error_table():
    """{code: (name, message)} from the engine's cError.h beside this file."""
    table = {}
    try:
        text = (Path(__file__).parent / "cError.h").read_text("utf8")
    except (OSError, UnicodeDecodeError):
        return table
    for line in text.splitlines():
        fields = line.split(" ", 3)
        if len(fields) < 3 or fields[0] != "#define":
            continue
        try:
            code = int(fields[2])
        except ValueError:
            continue
        message = line.rsplit("// ", 1)[1] if "// " in line else ""
        table[code] = (fields[1], message)
    return table


def describe_code(code):
    name, message = error_table().get(code, ("", ""))
    return " ".join(str(p) for p in (name, code, message) if p != "")


def parse_time(text):
    """The engine's "YYYYMMDDhhmmss" (UTC) as an aware datetime, or None."""
    try:
        return datetime.datetime.strptime(text, "%Y%m%d%H%M%S").replace(tzinfo=datetime.timezone.utc)
    except (TypeError, ValueError):
        return None


def show_time(text):
    moment = parse_time(text)
    return moment.strftime("%Y-%m-%d %H:%M:%S UTC") if moment else "%s (unreadable)" % text


def key_usage_names(value):
    if value is None:
        return "none (no key usage extension)"
    names = [name for bit, name in KEY_USAGE_BITS if value & bit]
    return ", ".join(names) if names else "none"


def days(delta):
    """A non-negative time span in whole days, as people say it."""
    n = delta.days
    if n < 1:
        return "less than a day"
    return "%d day%s" % (n, "" if n == 1 else "s")


def read_password(args):
    if args.password_env:
        value = os.environ.get(args.password_env)
        if value is None:
            raise CheckFailed(EXIT_USAGE, "cannot check: environment variable %s is not set" % args.password_env)
    else:
        value = getpass.getpass("Password for %s: " % args.path)
    if value == "":
        raise CheckFailed(EXIT_USAGE, "cannot check: no password given")
    if "\0" in value:
        raise CheckFailed(EXIT_USAGE, "cannot check: the password holds a NUL character, "
                                      "which a signing session refuses")
    # A signing session hands its password to the engine in BIG5. The
    # encoder's error carries the whole password: it is dropped here and the
    # failure raised outside the handler, so it is not even its context.
    try:
        return value.encode("big5")
    except UnicodeEncodeError:
        pass
    raise CheckFailed(EXIT_USAGE, "cannot check: the password holds a character that BIG5 cannot encode, "
                                  "which a signing session cannot use")


def module_source(providers):
    """Where the engine looked for OpenSSL's provider modules, in words."""
    folder, source = providers["module_folder"], providers["folder_from"]
    if source == "OPENSSL_MODULES":
        return "OPENSSL_MODULES=%s" % folder
    if source == "package":
        return "the package's %s" % folder
    return "OpenSSL's %s" % folder


def missing_algorithms(info, providers):
    """Why the file's unusable algorithms cannot be used, in one phrase."""
    names = ", ".join(info["unavailable"]) or "an algorithm"
    if not providers["legacy"]:
        return "%s, which needs OpenSSL's legacy provider: it did not load from %s" % (
            names, module_source(providers))
    return "%s, which the loaded OpenSSL providers do not offer" % names


def print_encryption(out, info, providers):
    if info is None:
        return
    algorithms = ", ".join(info["algorithms"]) or "none"
    mac = "MAC %s" % info["mac"] if info["mac"] else "no MAC"
    print("encryption:      %s; %s" % (algorithms, mac), file=out)
    if info["unavailable"]:
        print("not available:   %s" % missing_algorithms(info, providers), file=out)
    if info["legacy"] and info["unavailable"]:
        print("legacy:          yes (old PKCS#12 encryption, which this installation cannot open)", file=out)
    elif info["legacy"]:
        print("legacy:          yes (old PKCS#12 encryption; the engine loads it, "
              "OpenSSL 3 tools need -legacy)", file=out)
    else:
        print("legacy:          no", file=out)


def check(args, out):
    from orvane.TWCA import _certcheck

    path = Path(args.path)
    print("file:            %s" % path, file=out)
    if not path.exists():
        raise CheckFailed(EXIT_MISSING, "cannot check: file not found: %s" % path)
    if not path.is_file():
        raise CheckFailed(EXIT_NOT_PKCS12, "cannot check: not a PKCS#12 file (not a regular file): %s" % path)
    info = _certcheck.encryption(str(path))
    providers = _certcheck.providers()
    print_encryption(out, info, providers)
    if info is None:
        # Told apart without the password; the engine says the same (1102).
        raise CheckFailed(EXIT_NOT_PKCS12, "cannot check: not a PKCS#12 file: %s" % path)
    password = read_password(args)

    work = Path(tempfile.mkdtemp(prefix="orvane-seal-check-"))
    try:
        if args.log_folder:
            log_folder = Path(args.log_folder).resolve()
            try:
                log_folder.mkdir(parents=True, exist_ok=True)
            except OSError as e:
                raise CheckFailed(EXIT_USAGE, "cannot check: log folder %s: %s" % (log_folder, e.strerror)) from None
        else:
            log_folder = work / "logs"
        props = work / "check.properties"
        resolved = path.resolve()
        values = {
            b"log": os.fsencode(str(log_folder)),
            b"folder": os.fsencode(str(resolved.parent)),
            b"name": os.fsencode(resolved.name),
        }
        for value in values.values():
            if not fits_properties(value):
                raise CheckFailed(EXIT_USAGE, "cannot check: the signing engine cannot be given this path "
                                              "(line breaks, blanks at either end, or too long): %s"
                                  % os.fsdecode(value))
        props.write_bytes(CHECK_PROPS % values)
        result = _certcheck.check(str(props), password, PROBE)
    finally:
        shutil.rmtree(str(work), ignore_errors=True)
    report(result, path, out, info, providers)


def report(r, path, out, info, providers):
    if r["protect"] != 0:
        if r["protect"] == ERR_ARGUMENT:
            raise CheckFailed(EXIT_USAGE, "cannot check: no password given")
        raise CheckFailed(EXIT_FAILED, "cannot check: the engine refused the password: %s"
                          % describe_code(r["protect"]))
    load = r["load"]
    if load == ERR_PASSWORD:
        raise CheckFailed(EXIT_PASSWORD, "cannot sign: wrong password for %s" % path)
    if load == ERR_ALGORITHM:
        raise CheckFailed(EXIT_ALGORITHM, "cannot sign: the password is right, but %s is encrypted with %s"
                          % (path, missing_algorithms(info, providers)))
    if load == ERR_PFX_FILE:
        raise CheckFailed(EXIT_NOT_PKCS12, "cannot check: not a PKCS#12 file, or it holds no key and "
                                           "certificate: %s" % path)
    if load != 0:
        raise CheckFailed(EXIT_FAILED, "cannot check: the engine could not load the file: %s"
                          % describe_code(load))

    now = datetime.datetime.now(datetime.timezone.utc)
    not_before, not_after = parse_time(r["not_before"]), parse_time(r["not_after"])
    print("subject:         %s" % r["subject"], file=out)
    print("issuer:          %s" % r["issuer"], file=out)
    print("serial number:   %s" % r["serial"], file=out)
    print("valid from:      %s" % show_time(r["not_before"]), file=out)
    left = ""
    if not_after is not None:
        left = " (%s left)" % days(not_after - now) if not_after >= now else " (expired %s ago)" % days(now - not_after)
    print("valid until:     %s%s" % (show_time(r["not_after"]), left), file=out)
    may_sign = "may sign" if r["key_usage_check"] == 0 else "may not sign"
    print("key usage:       %s (%s)" % (key_usage_names(r["key_usage"]), may_sign), file=out)
    print("CA certificates: %d in the file" % r["extra_certificates"], file=out)
    if r["sign"] == 0:
        if r["verified"]:
            probe = "signed, and the signature verifies against the certificate in the file"
        else:
            probe = "signed, but the signature does not verify: %s" % r["verify_error"]
    else:
        probe = "not signed: %s" % describe_code(r["sign"])
    print("probe signature: %s" % probe, file=out)

    if r["validity"] == ERR_EXPIRED:
        ago = " (%s ago)" % days(now - not_after) if not_after else ""
        raise CheckFailed(EXIT_EXPIRED, "cannot sign: the certificate expired on %s%s"
                          % (show_time(r["not_after"]), ago))
    if r["validity"] == ERR_NOT_YET_VALID:
        ahead = " (in %s)" % days(not_before - now) if not_before else ""
        raise CheckFailed(EXIT_NOT_YET_VALID, "cannot sign: the certificate is not valid before %s%s"
                          % (show_time(r["not_before"]), ahead))
    if r["validity"] != 0:
        raise CheckFailed(EXIT_FAILED, "cannot sign: validity check failed: %s" % describe_code(r["validity"]))
    if r["key_usage_check"] == ERR_KEY_USAGE:
        raise CheckFailed(EXIT_KEY_USAGE, "cannot sign: the certificate's key usage does not allow signing "
                                          "(key usage: %s)" % key_usage_names(r["key_usage"]))
    if r["key_usage_check"] != 0:
        raise CheckFailed(EXIT_FAILED, "cannot sign: key usage check failed: %s"
                          % describe_code(r["key_usage_check"]))
    if r["sign"] != 0:
        raise CheckFailed(EXIT_FAILED, "cannot sign: the probe signature failed: %s" % describe_code(r["sign"]))
    if not r["verified"]:
        raise CheckFailed(EXIT_FAILED, "cannot sign: the probe signature does not verify against the "
                                       "certificate in the file: %s" % r["verify_error"])
    print("OK: the certificate can sign today", file=out)


# ---- log -------------------------------------------------------------------------

def parse_date(text):
    try:
        return datetime.datetime.strptime(text, "%Y%m%d").date()
    except ValueError:
        raise argparse.ArgumentTypeError("expected a date as YYYYMMDD, got %r" % text) from None


def show_log(args, out):
    day = args.date or datetime.date.today()   # the log names its files by local date
    path = Path(args.folder) / ("seal.log." + day.strftime("%Y%m%d"))
    if not path.is_file():
        raise CheckFailed(EXIT_NO_LOG, "no signing log for %s: %s not found" % (day.isoformat(), path))
    # The log is BIG5 (code page 950); what cannot be decoded, or shown in
    # the terminal's encoding, becomes a replacement character.
    with open(str(path), "r", encoding="cp950", errors="replace", newline=None) as log:
        for line in log:
            out.write(line)


# ---- entry point -----------------------------------------------------------------

def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROG, description="Tools of the orvane signing module.",
        epilog="check exits 0 when the certificate can sign today; otherwise 1 (probe signature failed), "
               "2 (usage, no password), 3 (file missing), 4 (not a PKCS#12 file), 5 (wrong password), "
               "6 (expired), 7 (not yet valid), 8 (key may not sign), 9 (the file's encryption needs OpenSSL's "
               "legacy provider, which did not load). log exits 3 when there is no log "
               "for that day.")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    c = commands.add_parser("check", help="check a PKCS#12 certificate file: can it sign today?")
    c.add_argument("path", metavar="PATH.pfx", help="the PKCS#12 certificate file")
    c.add_argument("--password-env", metavar="NAME",
                   help="read the password from this environment variable instead of a prompt")
    c.add_argument("--log-folder", metavar="DIR",
                   help="keep the engine's log of the check in DIR (seal.log.YYYYMMDD); "
                        "by default it is discarded")
    g = commands.add_parser("log", help="print a day of the signing log in the terminal's encoding")
    g.add_argument("--date", type=parse_date, metavar="YYYYMMDD", help="the day (default: today)")
    g.add_argument("--folder", default="logs", help="the log folder (default: logs)")
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    out = sys.stdout
    if hasattr(out, "reconfigure"):
        # Text the terminal cannot show becomes "?" rather than an error.
        out.reconfigure(errors="replace")
    try:
        if args.command == "check":
            check(args, out)
        else:
            show_log(args, out)
        out.flush()
    except CheckFailed as e:
        out.flush()
        print("%s: %s" % (PROG, e.line), file=sys.stderr)
        return e.status
    except KeyboardInterrupt:
        print(file=sys.stderr)
        return 130
    except BrokenPipeError:
        # The reader (a pager, head) went away: stop quietly.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_OK
    return EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
