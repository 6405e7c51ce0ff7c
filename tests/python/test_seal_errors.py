"""The error table read from cError.h and SealError raised from it."""

import pathlib

import pytest

import orvane.TWCA.seal as seal
from seal_support import ENGINE_CODES

MODULE_FOLDER = pathlib.Path(seal.__file__).parent


def header(tmp_path, data):
    (tmp_path / "cError.h").write_bytes(data)
    return tmp_path


def test_shipped_header_names_every_engine_code():
    table = seal.read_error_code_dict(MODULE_FOLDER)
    assert set(ENGINE_CODES) <= set(table)
    for code in ENGINE_CODES:
        entry = table[code]
        assert list(entry) == ["error_msg", "error"]
        assert entry["error"] and entry["error_msg"]


def test_crlf_header_entries(tmp_path):
    text = ("// codes\r\n#pragma once\r\n"
            "#define ERR_A 1102 // missing file\r\n"
            "  #define INDENTED 7 // not a define in column one\r\n"
            "#define ERR_B -5 // signed code // last part wins\r\n"
            "#define NO_COMMENT 9\r\n"
            "#define ERR_A 1102 // replaced\r\n\r\n")
    table = seal.read_error_code_dict(header(tmp_path, text.encode("utf8")))
    assert table == {
        1102: {"error_msg": "replaced", "error": "ERR_A"},
        -5: {"error_msg": "last part wins", "error": "ERR_B"},
        9: {"error_msg": "#define NO_COMMENT 9", "error": "NO_COMMENT"},
    }


def test_lf_only_header_is_one_piece(tmp_path):
    text = "#define ERR_A 1102 // first\n#define ERR_B 1202 // second\n"
    table = seal.read_error_code_dict(header(tmp_path, text.encode()))
    assert table == {1102: {"error_msg": "second\n", "error": "ERR_A"}}
    text = "// leading comment\n#define ERR_A 1102 // first\n"
    assert seal.read_error_code_dict(header(tmp_path, text.encode())) == {}


@pytest.mark.parametrize("data, exc", [
    (b"#define ONLY_NAME\r\n", IndexError),
    (b"#define NAME  1102 // two blanks shift the code\r\n", ValueError),
    (b"#define NAME x12 // not a number\r\n", ValueError),
    (b"#define NAME 1102 // \xff\xfe not utf-8\r\n", UnicodeDecodeError),
])
def test_malformed_headers(tmp_path, data, exc):
    with pytest.raises(exc):
        seal.read_error_code_dict(header(tmp_path, data))


def test_missing_header(tmp_path):
    with pytest.raises(FileNotFoundError):
        seal.read_error_code_dict(tmp_path)


def test_folder_is_anything_with_joinpath(tmp_path):
    header(tmp_path, b"#define E 1 // one\r\n")

    class Folder:
        def joinpath(self, name):
            return tmp_path / name

    assert seal.read_error_code_dict(Folder()) == {1: {"error_msg": "one", "error": "E"}}


@pytest.mark.parametrize("args, given", [((), 0), ((MODULE_FOLDER, MODULE_FOLDER), 2)])
def test_read_error_code_dict_takes_one_positional(args, given):
    with pytest.raises(TypeError, match=r"read_error_code_dict\(\) takes exactly one argument \(%d given\)" % given):
        seal.read_error_code_dict(*args)
    with pytest.raises(TypeError):
        seal.read_error_code_dict(folder_path=MODULE_FOLDER)


TABLE = {5208: {"error_msg": "wrong password", "error": "ERR_PWD"}}


@pytest.mark.parametrize("code, table, message", [
    (5208, TABLE, "ERR_PWD 5208 wrong password"),
    (9999, TABLE, " 9999 "),
    (5208, {5208: {}}, " 5208 "),
    ("5208", TABLE, " 5208 "),
])
def test_raise_error_message(code, table, message):
    with pytest.raises(seal.SealError) as info:
        seal.raise_error(code, table)
    assert info.value.args == (message,)
    assert str(info.value) == message


def test_raise_error_keywords_and_argument_errors():
    with pytest.raises(seal.SealError, match="^ERR_PWD 5208 wrong password$"):
        seal.raise_error(error_code_dict=TABLE, return_code=5208)
    with pytest.raises(TypeError, match=r"raise_error\(\) missing 1 required positional argument: 'error_code_dict'"):
        seal.raise_error(5208)
    with pytest.raises(TypeError, match="unexpected keyword argument 'x'"):
        seal.raise_error(5208, TABLE, x=1)
    with pytest.raises(AttributeError):
        seal.raise_error(5208, None)


def test_raise_error_uses_the_current_sealerror(monkeypatch):
    class Replacement(Exception):
        pass

    monkeypatch.setattr(seal, "SealError", Replacement)
    with pytest.raises(Replacement, match="ERR_PWD 5208"):
        seal.raise_error(5208, TABLE)


def test_sealerror_class():
    assert issubclass(seal.SealError, Exception)
    assert seal.SealError.__doc__ == "Seal Error"
    assert seal.SealError.__module__ == "orvane.TWCA.seal"
    assert seal.SealError.__name__ == "SealError"
