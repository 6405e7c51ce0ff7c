"""`python -m orvane.TWCA log`: a day of the BIG5 signing log in the
terminal's encoding."""

import datetime
import re
import subprocess
import sys

import pytest

from tools_support import pki, run_cli  # noqa: F401  (pki is a fixture)

LINES = [
    "2026/12/08 09:00:00.001 (PID=42)  INFO begin TWCASign::SignPkcs7()\n",
    "2026/12/08 09:00:00.002 (PID=42) ERROR 讀取 pfx 檔失敗, 密碼錯誤\n",
    "2026/12/08 09:00:00.003 (PID=42) ERROR 驗憑證效期 : 憑證 已過期\n",
]


def write_log(folder, day, text_bytes):
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / ("seal.log." + day)
    path.write_bytes(text_bytes)
    return path


def test_a_big5_log_is_shown_in_utf8(tmp_path):
    write_log(tmp_path / "cwd" / "logs", "20261208", "".join(LINES).encode("cp950"))
    run = run_cli(tmp_path, "log", "--date", "20261208")
    assert run.status == 0, run.err
    assert run.out == "".join(LINES)
    assert run.err == ""


@pytest.mark.parametrize("encoding, expected", [
    ("ascii", "ERROR ?? pfx ???, ????"),
    ("cp950", "ERROR 讀取 pfx 檔失敗, 密碼錯誤"),
    ("utf-16-le", "ERROR 讀取 pfx 檔失敗, 密碼錯誤"),
])
def test_what_the_terminal_cannot_show_is_replaced(tmp_path, encoding, expected):
    folder = tmp_path / "elsewhere"
    write_log(folder, "20261208", "".join(LINES).encode("cp950"))
    run = run_cli(tmp_path, "log", "--date", "20261208", "--folder", folder,
                  env={"PYTHONIOENCODING": encoding})
    assert run.status == 0, run.err
    assert expected in run.out_bytes.decode(encoding)


def test_bytes_that_are_not_big5_become_replacement_characters(tmp_path):
    data = "前".encode("cp950") + b"\xff\xfe\x80 tail\n" + "後\n".encode("cp950")
    write_log(tmp_path / "cwd" / "logs", "20240105", data)
    run = run_cli(tmp_path, "log", "--date", "20240105")
    assert run.status == 0, run.err
    lines = run.out.splitlines()
    assert lines[0].startswith("前") and lines[0].endswith(" tail") and "\ufffd" in lines[0]
    assert lines[1] == "後"


def test_windows_line_ends_are_shown_as_lines(tmp_path):
    write_log(tmp_path / "cwd" / "logs", "20240105", "一\r\n二\r\n".encode("cp950"))
    run = run_cli(tmp_path, "log", "--date", "20240105")
    assert run.out == "一\n二\n"


def test_today_is_the_default(tmp_path):
    today = datetime.date.today().strftime("%Y%m%d")
    write_log(tmp_path / "cwd" / "logs", today, b"today's line\n")
    run = run_cli(tmp_path, "log")
    assert run.status == 0 and run.out == "today's line\n"


@pytest.mark.parametrize("args, status, line", [
    (["--date", "20240105"], 3, r"orvane-seal: no signing log for 2024-01-05: logs/seal\.log\.20240105 not found"),
    (["--folder", "nowhere", "--date", "20240105"], 3,
     r"orvane-seal: no signing log for 2024-01-05: nowhere/seal\.log\.20240105 not found"),
    (["--date", "2024-01-05"], 2, r".*expected a date as YYYYMMDD, got '2024-01-05'"),
    (["--date", "20241305"], 2, r".*expected a date as YYYYMMDD, got '20241305'"),
])
def test_failures_give_a_line_and_a_status(tmp_path, args, status, line):
    run = run_cli(tmp_path, "log", *args)
    assert run.status == status
    assert re.fullmatch(line, run.err_lines[-1]), run.err


def test_a_folder_named_like_the_log_is_not_read(tmp_path):
    (tmp_path / "cwd" / "logs" / "seal.log.20240105").mkdir(parents=True)
    run = run_cli(tmp_path, "log", "--date", "20240105")
    assert run.status == 3


def test_the_log_of_a_check_reads_back(tmp_path, pki):
    logs = tmp_path / "kept"
    run = run_cli(tmp_path, "check", pki["pfx_user"], "--password-env", "ORVANE_TEST_PW",
                  "--log-folder", logs, env={"ORVANE_TEST_PW": pki["wrong_password"]})
    assert run.status == 5
    shown = run_cli(tmp_path, "log", "--folder", logs)
    assert shown.status == 0, shown.err
    assert "ERROR 讀取 pfx 檔失敗, 密碼錯誤" in shown.out
    assert pki["wrong_password"] not in shown.out


def test_a_reader_that_goes_away_is_no_error(tmp_path):
    write_log(tmp_path / "cwd" / "logs", "20240105", b"line\n" * 200000)
    cmd = "%s -m orvane.TWCA log --date 20240105 | head -n 1" % sys.executable
    proc = subprocess.run(["sh", "-c", cmd], cwd=str(tmp_path / "cwd"),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    assert proc.stdout == b"line\n"
    assert b"Traceback" not in proc.stderr and b"BrokenPipe" not in proc.stderr
