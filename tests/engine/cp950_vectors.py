"""Expected code-page 950 conversions, computed by Python's cp950 codec.

Prints one vector per line for test_codepage.cpp:
  CHAR <cp950 hex> <UTF-16LE hex>   a sample of characters (a few hundred)
  MSG  <UTF-8 hex> <cp950 hex>      every BIG5_MSG("...") text of the engine
  BAD  <hex>                        byte strings that are not valid cp950

glibc's CP950 maps 0xC6A1-0xC8FE (the ETEN kana and symbol extension) to the
private use area where Python maps kana; that range is left out of the sample.
"""
import pathlib
import re
import sys

engine_dir = pathlib.Path(sys.argv[1])

literal = re.compile(r'BIG5_MSG\("((?:[^"\\]|\\.)*)"\)')
escapes = {"t": "\t", "n": "\n", "r": "\r", "\\": "\\", '"': '"', "'": "'"}
messages = []
for source in sorted(engine_dir.glob("*.cpp")) + sorted(engine_dir.glob("*.h")):
    for match in literal.finditer(source.read_text(encoding="utf-8")):
        text = re.sub(r"\\(.)", lambda m: escapes.get(m.group(1), m.group(1)), match.group(1))
        if text not in messages:
            messages.append(text)

def valid(code):
    if 0xC6A1 <= code <= 0xC8FE:
        return None
    raw = bytes([code >> 8, code & 0xFF])
    try:
        return raw, raw.decode("cp950")
    except UnicodeDecodeError:
        return None

table = [v for v in (valid(c) for c in range(0x8140, 0xFA00)) if v]
sample = table[::41]
sample.append(("€".encode("cp950"), "€"))
for text in messages:
    for ch in text:
        sample.append((ch.encode("cp950"), ch))
sample.extend((chr(c).encode("cp950"), chr(c)) for c in range(0x20, 0x7F))

seen = set()
for raw, ch in sample:
    if raw in seen:
        continue
    seen.add(raw)
    print("CHAR", raw.hex(), ch.encode("utf-16le").hex())
for text in messages:
    print("MSG", text.encode("utf-8").hex(), text.encode("cp950").hex())
for bad in (b"\xa1\x30", b"\x41\xa4", b"\xff", b"\xfe\xfe", b"\x81\x40", b"\xa4\xa4\xa4", b"ab\xa3"):
    try:
        bad.decode("cp950")
    except UnicodeDecodeError:
        print("BAD", bad.hex())
    else:
        sys.exit("expected invalid: " + bad.hex())
