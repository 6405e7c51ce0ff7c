"""Contract list conversion: the C++ converters beside their pure-Python twin.

Converts a realistic set of lists (100,000 option entries over 50 products,
20,000 futures, 2,000 stocks, 300 indices) with both and prints the best time
of several runs of each, and the ratio.
"""

import gc
import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import contract_lists  # noqa: E402
import contracts_py  # noqa: E402
from orvane.backend.http import contract  # noqa: E402

ROUNDS = int(os.environ.get("BENCH_ROUNDS", "11"))
# CPU time of this process: the machine is shared, and time spent waiting for
# a core would count against whichever side happened to be running.
clock = time.process_time


def best(fn, arg):
    times = []
    for _ in range(ROUNDS):
        gc.collect()
        t0 = clock()
        result = fn(arg)
        times.append(clock() - t0)
        del result
    return min(times)


def main():
    # The lists go through JSON, as the service's replies do.
    cases = [
        ("option_dict_convert", json.loads(json.dumps(contract_lists.options(100_000, products=50)))),
        ("future_dict_convert", json.loads(json.dumps(contract_lists.futures(20_000)))),
        ("stock_dict_convert", json.loads(json.dumps(contract_lists.stocks(2_000)))),
        ("tw_index_dict_convert", json.loads(json.dumps(contract_lists.indices(300)))),
    ]
    print("Python %s, best of %d runs (process CPU time)" % (sys.version.split()[0], ROUNDS))
    print("| converter | entries | C++ (ms) | Python (ms) | speed-up |")
    print("|---|---:|---:|---:|---:|")
    for name, data in cases:
        native, twin = getattr(contract, name), getattr(contracts_py, name)
        assert native(data) == twin(data), name
        entries = sum(len(v) for v in data.values()) if isinstance(data, dict) and name != "tw_index_dict_convert" else len(data)
        t_native, t_twin = best(native, data), best(twin, data)
        print("| %s | %d | %.2f | %.2f | %.1fx |" % (name, entries, t_native * 1e3, t_twin * 1e3, t_twin / t_native))


if __name__ == "__main__":
    main()
