// orvane.backend.solace.depth: bid/ask records for stocks, futures and options.
#include "backend/solace/decimals.h"
#include "backend/solace/module_state.h"
#include "backend/solace/records.h"

namespace orvane {
namespace solace {

ModuleState state;

namespace {

RecordClass DepthSTKv1("DepthSTKv1", {
    "code", "datetime", "bid_price", "bid_volume", "diff_bid_vol", "ask_price", "ask_volume",
    "diff_ask_vol", "suspend", "simtrade", "intraday_odd",
});

RecordClass DepthFOPv1("DepthFOPv1", {
    "code", "datetime", "bid_total_vol", "ask_total_vol", "bid_price", "bid_volume",
    "diff_bid_vol", "ask_price", "ask_volume", "diff_ask_vol", "first_derived_bid_price",
    "first_derived_ask_price", "first_derived_bid_vol", "first_derived_ask_vol",
    "underlying_price", "simtrade",
});

// `code`, `date` and `time` (the first three parameters of every factory)
// must each be a str or None.
bool check_code_date_time(const char* func, Params& p, PyObject* const* a) {
    for (Py_ssize_t i = 0; i < 3; ++i)
        if (!str_or_none(func, p.name(i), a[i])) return false;
    return true;
}

// datetime_parser(date, time), looked up in the module namespace now.
PyObject* parse_datetime(PyObject* date, PyObject* time) {
    Ref parser = state.global_ref(state.names.datetime_parser);
    if (!parser) return nullptr;
    PyObject* args[2] = {date, time};
    return vectorcall(parser.get(), args, 2, nullptr);
}

// The two stock factories differ only in the order of their parameters and
// in the value of intraday_odd.
struct StockArgs {
    int code, date, time, bid_price, bid_volume, diff_bid_vol, ask_price, ask_volume,
        diff_ask_vol, suspend, simtrade;
};

PyObject* stock_record(PyObject* cls, const char* func, Params& p, const StockArgs& ix,
                       PyObject* intraday_odd, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
    Args<11> a;
    if (!p.parse(args, nargs, kwnames, a)) return nullptr;
    if (!check_code_date_time(func, p, a)) return nullptr;
    Ref when = Ref::steal(parse_datetime(a[ix.date], a[ix.time]));
    if (!when) return nullptr;
    Ref bids = Ref::steal(decimal_list(a[ix.bid_price]));
    if (!bids) return nullptr;
    Ref asks = Ref::steal(decimal_list(a[ix.ask_price]));
    if (!asks) return nullptr;
    PyObject* values[] = {
        a[ix.code],       when.get(),         bids.get(),    a[ix.bid_volume],
        a[ix.diff_bid_vol], asks.get(),       a[ix.ask_volume], a[ix.diff_ask_vol],
        a[ix.suspend],    a[ix.simtrade],     intraday_odd,
    };
    return DepthSTKv1.make(cls, values);
}

Params stk_params("from_content", {"code", "date", "time", "bid_price", "bid_volume",
                                   "diff_bid_vol", "ask_price", "ask_volume", "diff_ask_vol",
                                   "suspend", "simtrade"}, 11, 1);
Params stk_odd_params("from_content_odd", {"code", "date", "time", "bid_price", "ask_price",
                                           "bid_volume", "ask_volume", "diff_bid_vol",
                                           "diff_ask_vol", "suspend", "simtrade"}, 11, 1);

PyObject* zero = nullptr;  // the integers 0 and 1 stored as intraday_odd
PyObject* one = nullptr;

PyObject* stk_from_content(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    static const StockArgs ix = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    return guarded([&] {
        return stock_record(cls, "from_content", stk_params, ix, zero, args, nargs, kwnames);
    });
}

PyObject* stk_from_content_odd(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    static const StockArgs ix = {0, 1, 2, 3, 5, 7, 4, 6, 8, 9, 10};
    return guarded([&] {
        return stock_record(cls, "from_content_odd", stk_odd_params, ix, one, args, nargs,
                            kwnames);
    });
}

enum FopArg {
    f_code, f_date, f_time, bid_vol_sum, ask_vol_sum, f_bid_price, f_bid_volume, f_diff_bid_vol,
    f_ask_price, f_ask_volume, f_diff_ask_vol, first_derived_bid_price, first_derived_ask_price,
    first_derived_bid_volume, first_derived_ask_volume, target_kind_price, f_simtrade,
    kFopArgCount
};

Params fop_params("from_content", {
    "code", "date", "time", "bid_vol_sum", "ask_vol_sum", "bid_price", "bid_volume",
    "diff_bid_vol", "ask_price", "ask_volume", "diff_ask_vol", "first_derived_bid_price",
    "first_derived_ask_price", "first_derived_bid_volume", "first_derived_ask_volume",
    "target_kind_price", "simtrade",
}, kFopArgCount, 1);

PyObject* fop_from_content(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args<kFopArgCount> a;
        if (!fop_params.parse(args, nargs, kwnames, a)) return nullptr;
        if (!check_code_date_time("from_content", fop_params, a)) return nullptr;
        for (FopArg i : {first_derived_bid_price, first_derived_ask_price, target_kind_price})
            if (!str_or_none("from_content", fop_params.name(i), a[i])) return nullptr;
        Ref when = Ref::steal(parse_datetime(a[f_date], a[f_time]));
        if (!when) return nullptr;
        Ref bids = Ref::steal(decimal_list(a[f_bid_price]));
        if (!bids) return nullptr;
        Ref asks = Ref::steal(decimal_list(a[f_ask_price]));
        if (!asks) return nullptr;
        Ref d_bid = Ref::steal(decimal_of(a[first_derived_bid_price]));
        if (!d_bid) return nullptr;
        Ref d_ask = Ref::steal(decimal_of(a[first_derived_ask_price]));
        if (!d_ask) return nullptr;
        Ref d_under = Ref::steal(decimal_of(a[target_kind_price]));
        if (!d_under) return nullptr;
        PyObject* values[] = {
            a[f_code],          when.get(),       a[bid_vol_sum],      a[ask_vol_sum],
            bids.get(),         a[f_bid_volume],  a[f_diff_bid_vol],   asks.get(),
            a[f_ask_volume],    a[f_diff_ask_vol], d_bid.get(),         d_ask.get(),
            a[first_derived_bid_volume], a[first_derived_ask_volume], d_under.get(),
            a[f_simtrade],
        };
        static_assert(sizeof(values) / sizeof(values[0]) == 16, "one value per slot");
        return DepthFOPv1.make(cls, values);
    });
}

const char kStkInitDoc[] =
    "__init__($self, /, code, datetime, bid_price, bid_volume, diff_bid_vol, ask_price, "
    "ask_volume, diff_ask_vol, suspend, simtrade, intraday_odd)\n--\n\n"
    "Depth Stock v1\n"
    "\n"
    "        Attributes:\n"
    "            code (str): code\n"
    "            datetime (datetime.datetime): datetime\n"
    "            bid_price (list of Decimal): bid price\n"
    "            bid_volume (list of int): bid volume (K shares)\n"
    "            diff_bid_vol (list of int): (K shares, 買價增減量)\n"
    "            ask_price (list of Decimal): ask price\n"
    "            ask_volume (list of int): ask volume\n"
    "            diff_ask_vol (list of int): (K shares, 賣價增減量)\n"
    "            suspend (bool): suspend (暫停交易)\n"
    "            simtrade (bool): simulated trade (試撮)\n"
    "        ";

const char kFopInitDoc[] =
    "__init__($self, /, code, datetime, bid_total_vol, ask_total_vol, bid_price, bid_volume, "
    "diff_bid_vol, ask_price, ask_volume, diff_ask_vol, first_derived_bid_price, "
    "first_derived_ask_price, first_derived_bid_vol, first_derived_ask_vol, underlying_price, "
    "simtrade)\n--\n\n"
    "Depth Futures v1\n"
    "\n"
    "        Attributes:\n"
    "            code (str): code\n"
    "            datetime (datetime.datetime): datetime\n"
    "            bid_total_vol (int): total buy deal volume (lot, 買盤成交總量)\n"
    "            ask_total_vol (int): total sell deal volume (lot, 賣盤成交總量)\n"
    "            bid_price (list of Decimal): bid price\n"
    "            bid_volume (list of int): bid volume (lot)\n"
    "            diff_bid_vol (list of int): (lot, 買價增減量)\n"
    "            ask_price (list of Decimal): ask price\n"
    "            ask_volume (list of int): ask volume (lot)\n"
    "            diff_ask_vol (list of int): (lot, 賣價增減量)\n"
    "            first_derived_bid_price (Decimal): first derived bid price (衍生一檔買價)\n"
    "            first_derived_ask_price (Decimal): first derived ask price (衍生一檔賣價)\n"
    "            first_derived_bid_vol (int): first derived bid volume (衍生一檔買量)\n"
    "            first_derived_ask_vol (int): first derived bid volume (衍生一檔賣量)\n"
    "            underlying_price (Decimal): underlying price (標的物價格)\n"
    "            simtrade (int): simulated trade (試撮)\n"
    "        ";

#define STK_FACTORY_SIGNATURE(name, order)                                                  \
    name "($cls, /, code, date, time, " order ", suspend, simtrade)\n--\n\n"

Method stk_methods[] = {
    {{"__init__", fast(record_init<&DepthSTKv1>), kFastKw, kStkInitDoc}, Kind::Instance},
    {{"from_content", fast(stk_from_content), kFastKw,
      STK_FACTORY_SIGNATURE("from_content", "bid_price, bid_volume, diff_bid_vol, ask_price, "
                                            "ask_volume, diff_ask_vol")},
     Kind::Class},
    {{"from_content_odd", fast(stk_from_content_odd), kFastKw,
      STK_FACTORY_SIGNATURE("from_content_odd", "bid_price, ask_price, bid_volume, ask_volume, "
                                                "diff_bid_vol, diff_ask_vol")},
     Kind::Class},
    {{nullptr, nullptr, 0, nullptr}, Kind::Instance},
};

Method fop_methods[] = {
    {{"__init__", fast(record_init<&DepthFOPv1>), kFastKw, kFopInitDoc}, Kind::Instance},
    {{"from_content", fast(fop_from_content), kFastKw,
      "from_content($cls, /, code, date, time, bid_vol_sum, ask_vol_sum, bid_price, bid_volume, "
      "diff_bid_vol, ask_price, ask_volume, diff_ask_vol, first_derived_bid_price, "
      "first_derived_ask_price, first_derived_bid_volume, first_derived_ask_volume, "
      "target_kind_price, simtrade)\n--\n\n"},
     Kind::Class},
    {{nullptr, nullptr, 0, nullptr}, Kind::Instance},
};

PyModuleDef depth_module = {
    PyModuleDef_HEAD_INIT,
    "orvane.backend.solace.depth",
    "Bid/ask (depth) records for stocks, futures and options decoded from message contents.",
    -1,
    nullptr,
};

bool init(PyObject* m) {
    if (!init_state(m, "Depth")) return false;
    if (!zero) zero = PyLong_FromLong(0);
    if (!one) one = PyLong_FromLong(1);
    if (!zero || !one) return false;
    if (!set_package(m)) return false;
    if (!import_as(m, "datetime", "dt")) return false;
    if (!import_from(m, "typing", {"Dict", "List", "Any"})) return false;
    if (!import_from(m, "decimal", {"Decimal"})) return false;
    if (!remember_real_decimal()) return false;
    if (!import_from(m, "utils", {"datetime_parser"}, 1)) return false;
    Ref base = Ref::steal(create_base(m, "DepthBase"));
    if (!base || PyObject_SetAttrString(m, "DepthBase", base.get()) < 0) return false;
    if (!bind(m, "DepthSTKv1", DepthSTKv1.create(m, base.get(), stk_methods))) return false;
    return bind(m, "DepthFOPv1", DepthFOPv1.create(m, base.get(), fop_methods));
}

}  // namespace
}  // namespace solace
}  // namespace orvane

ORVANE_MODINIT PyInit_depth(void) {
    using namespace orvane;
    return guarded([]() -> PyObject* {
        Ref m = Ref::steal(PyModule_Create(&solace::depth_module));
        if (!m || !solace::init(m.get())) return nullptr;
        return m.release();
    });
}
