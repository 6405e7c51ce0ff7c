"""Contract list conversion: compiled, pure-Python twin (bench/contracts_py.py), floor.

Converts a realistic set of lists (100,000 option entries over 50 products,
20,000 futures, 2,000 stocks, 300 indices), each passed through json.dumps and
json.loads first as the service's replies are, and prints for each the time
to make the result and to make and free it in a continuous loop
(bench/measure.py), beside the twin's and a floor's.

The floor is the same result built from ready values, nothing parsed or
looked up: the grouping dict and its lists made afresh, each description a
dict display of the ready description with the texts and floats the
compiled converter makes afresh made again (a new str joined from two ready
halves, a new float by adding 0.0); what the compiled result shares (the
entry's own texts, one float for a run of equal unit texts, the constants) is
the ready object itself.

    .venv/bin/python bench/contracts.py [--quick]
"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import contract_lists  # noqa: E402
import contracts_py  # noqa: E402
import measure  # noqa: E402
from orvane.backend.http import contract  # noqa: E402

SIZES = {"option_dict_convert": 100_000, "future_dict_convert": 20_000,
         "stock_dict_convert": 2_000, "tw_index_dict_convert": 300}


def lists():
    """The service's lists as users have them: through JSON."""
    return {
        "option_dict_convert": json.loads(json.dumps(contract_lists.options(100_000, products=50))),
        "future_dict_convert": json.loads(json.dumps(contract_lists.futures(20_000))),
        "stock_dict_convert": json.loads(json.dumps(contract_lists.stocks(2_000))),
        "tw_index_dict_convert": json.loads(json.dumps(contract_lists.indices(300))),
    }


def floor_of(convert, data):
    """A function that builds convert(data)'s result from ready values."""
    a, b = convert(data), convert(data)
    ready = {}
    prev = {}
    for group, descs in a.items():
        rows = ready[group] = []
        for d, other in zip(descs, b[group]):
            fresh = {k for k, v in d.items()
                     if v is not other[k] and not (k != "symbol" and prev.get(k) is v)}
            prev = d
            assert fresh <= {"symbol", "name", "unit"}, fresh
            sa, sb = measure.split(d["symbol"])
            u = d["unit"] if "unit" in fresh else None
            na, nb = measure.split(d["name"]) if "name" in fresh else (None, None)
            rows.append((d, sa, sb, u, na, nb))

    def floor():
        return {group: [
            {**d, "symbol": sa + sb} if u is None and na is None else
            {**d, "symbol": sa + sb, "unit": u + 0.0} if na is None else
            {**d, "symbol": sa + sb, "name": na + nb} if u is None else
            {**d, "symbol": sa + sb, "name": na + nb, "unit": u + 0.0}
            for d, sa, sb, u, na, nb in rows] for group, rows in ready.items()}

    assert floor() == a
    return floor


def cases(data, check=True):
    """(name, compiled, twin, floor) for each list; `check` compares the
    compiled result with the twin's first."""
    out = []
    for name, arg in data.items():
        native, twin = getattr(contract, name), getattr(contracts_py, name)
        assert not check or native(arg) == twin(arg), name
        out.append((name, lambda f=native, x=arg: f(x), lambda f=twin, x=arg: f(x),
                    floor_of(native, arg)))
    return out


def main():
    quick = "--quick" in sys.argv
    rounds = int(os.environ.get("BENCH_ROUNDS", "3" if quick else "11"))
    print("Python %s; per call, median of %d calls, each timed alone (process CPU time)"
          % (sys.version.split()[0], rounds))
    data = lists()
    rows = [measure.measure(name, "%d" % SIZES[name], compiled, twin, floor, 1, rounds)
            for name, compiled, twin, floor in cases(data)]
    measure.table(rows, "entries")


if __name__ == "__main__":
    main()
