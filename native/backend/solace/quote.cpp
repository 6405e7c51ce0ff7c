// orvane.backend.solace.quote: topic functions and the stock quote record.
#include "backend/solace/decimals.h"
#include "backend/solace/module_state.h"
#include "backend/solace/records.h"
#include "backend/solace/topics.h"

namespace orvane {
namespace solace {

ModuleState state;

namespace {

RecordClass QuoteSTKv1("QuoteSTKv1", {
    "code", "datetime", "open", "avg_price", "close", "high", "low", "amount", "total_amount",
    "volume", "total_volume", "tick_type", "chg_type", "price_chg", "pct_chg",
    "bid_side_total_vol", "ask_side_total_vol", "bid_side_total_cnt", "ask_side_total_cnt",
    "closing_oddlot_shares", "closing_oddlot_close", "closing_oddlot_amount",
    "closing_oddlot_bid_price", "closing_oddlot_ask_price", "fixed_trade_vol",
    "fixed_trade_amount", "bid_price", "bid_volume", "diff_bid_vol", "ask_price", "ask_volume",
    "diff_ask_vol", "avail_borrowing", "suspend", "simtrade",
});

// Parameters of from_content, in the message content's own field names.
enum Arg {
    code, date, time, open, avg_price, close, high, low, amount, amount_sum, volume, vol_sum,
    tick_type, diff_type, diff_price, diff_rate, trade_bid_vol_sum, trade_ask_vol_sum,
    trade_bid_cnt, trade_ask_cnt, closing_oddlot_shares, closing_oddlot_close,
    closing_oddlot_amount, closing_oddlot_bid_price, closing_oddlot_ask_price, fixed_trade_volume,
    fixed_trade_amount, bid_price, bid_volume, diff_bid_vol, ask_price, ask_volume, diff_ask_vol,
    avail_borrowing, suspend, simtrade, kArgCount
};

Params from_content_params("from_content", {
    "code", "date", "time", "open", "avg_price", "close", "high", "low", "amount", "amount_sum",
    "volume", "vol_sum", "tick_type", "diff_type", "diff_price", "diff_rate",
    "trade_bid_vol_sum", "trade_ask_vol_sum", "trade_bid_cnt", "trade_ask_cnt",
    "closing_oddlot_shares", "closing_oddlot_close", "closing_oddlot_amount",
    "closing_oddlot_bid_price", "closing_oddlot_ask_price", "fixed_trade_volume",
    "fixed_trade_amount", "bid_price", "bid_volume", "diff_bid_vol", "ask_price", "ask_volume",
    "diff_ask_vol", "avail_borrowing", "suspend", "simtrade",
}, kArgCount, 1);

// The arguments that must be a str or None, checked in this order.
const Arg kTextArgs[] = {
    code, date, time, open, avg_price, close, high, low, amount, amount_sum, diff_price,
    closing_oddlot_close, closing_oddlot_amount, closing_oddlot_bid_price,
    closing_oddlot_ask_price, fixed_trade_amount,
};

PyObject* from_content(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args<kArgCount> a;
        if (!from_content_params.parse(args, nargs, kwnames, a)) return nullptr;
        for (Arg i : kTextArgs)
            if (!str_or_none("from_content", from_content_params.name(i), a[i])) return nullptr;

        Ref parser = state.global_ref(state.names.datetime_parser);
        if (!parser) return nullptr;
        PyObject* when_args[2] = {a[date], a[time]};
        Ref when = Ref::steal(vectorcall(parser.get(), when_args, 2, nullptr));
        if (!when) return nullptr;

        // Conversions in the order of evaluation the record promises.
        Ref d_open = Ref::steal(decimal_of(a[open]));
        if (!d_open) return nullptr;
        Ref d_avg = Ref::steal(decimal_of(a[avg_price]));
        if (!d_avg) return nullptr;
        Ref d_close = Ref::steal(decimal_of(a[close]));
        if (!d_close) return nullptr;
        Ref d_high = Ref::steal(decimal_of(a[high]));
        if (!d_high) return nullptr;
        Ref d_low = Ref::steal(decimal_of(a[low]));
        if (!d_low) return nullptr;
        Ref d_amount = Ref::steal(decimal_of(a[amount]));
        if (!d_amount) return nullptr;
        Ref d_total = Ref::steal(decimal_of(a[amount_sum]));
        if (!d_total) return nullptr;
        Ref d_chg = Ref::steal(decimal_of(a[diff_price]));
        if (!d_chg) return nullptr;
        // Decimal(diff_rate) * Decimal("0.01"): the rate comes in hundredths of a percent.
        Ref d_rate = Ref::steal(decimal_of(a[diff_rate]));
        if (!d_rate) return nullptr;
        Ref hundredth = Ref::steal(decimal_of(state.names.text_0_01));
        if (!hundredth) return nullptr;
        Ref d_pct = Ref::steal(PyNumber_Multiply(d_rate.get(), hundredth.get()));
        if (!d_pct) return nullptr;
        Ref d_odd_close = Ref::steal(decimal_or_zero(a[closing_oddlot_close]));
        if (!d_odd_close) return nullptr;
        Ref d_odd_amount = Ref::steal(decimal_of(a[closing_oddlot_amount]));
        if (!d_odd_amount) return nullptr;
        Ref d_odd_bid = Ref::steal(decimal_or_zero(a[closing_oddlot_bid_price]));
        if (!d_odd_bid) return nullptr;
        Ref d_odd_ask = Ref::steal(decimal_or_zero(a[closing_oddlot_ask_price]));
        if (!d_odd_ask) return nullptr;
        Ref d_fixed = Ref::steal(decimal_of(a[fixed_trade_amount]));
        if (!d_fixed) return nullptr;
        Ref bids = Ref::steal(decimal_list(a[bid_price]));
        if (!bids) return nullptr;
        Ref asks = Ref::steal(decimal_list(a[ask_price]));
        if (!asks) return nullptr;

        PyObject* values[] = {
            a[code], when.get(), d_open.get(), d_avg.get(), d_close.get(), d_high.get(),
            d_low.get(), d_amount.get(), d_total.get(), a[volume], a[vol_sum], a[tick_type],
            a[diff_type], d_chg.get(), d_pct.get(), a[trade_bid_vol_sum], a[trade_ask_vol_sum],
            a[trade_bid_cnt], a[trade_ask_cnt], a[closing_oddlot_shares], d_odd_close.get(),
            d_odd_amount.get(), d_odd_bid.get(), d_odd_ask.get(), a[fixed_trade_volume],
            d_fixed.get(), bids.get(), a[bid_volume], a[diff_bid_vol], asks.get(), a[ask_volume],
            a[diff_ask_vol], a[avail_borrowing], a[suspend], a[simtrade],
        };
        static_assert(sizeof(values) / sizeof(values[0]) == 35, "one value per slot");
        return QuoteSTKv1.make(cls, values);
    });
}

#define INIT_SIGNATURE                                                                         \
    "__init__($self, /, code, datetime, open, avg_price, close, high, low, amount, "          \
    "total_amount, volume, total_volume, tick_type, chg_type, price_chg, pct_chg, "            \
    "bid_side_total_vol, ask_side_total_vol, bid_side_total_cnt, ask_side_total_cnt, "         \
    "closing_oddlot_shares, closing_oddlot_close, closing_oddlot_amount, "                     \
    "closing_oddlot_bid_price, closing_oddlot_ask_price, fixed_trade_vol, fixed_trade_amount, " \
    "bid_price, bid_volume, diff_bid_vol, ask_price, ask_volume, diff_ask_vol, "               \
    "avail_borrowing, suspend, simtrade)\n--\n\n"

const char kInitDoc[] = INIT_SIGNATURE
    "Quote Stock v1\n"
    "\n"
    "        Attributes:\n"
    "            code (str): code\n"
    "            datetime (datetime.datetime): datetime\n"
    "            open (Decimal): open\n"
    "            avg_price (Decimal): average price\n"
    "            close (Decimal): deal price\n"
    "            high (Decimal): high since market open\n"
    "            low (Decimal): low since market open\n"
    "            amount (Decimal): amount (NTD)\n"
    "            total_amount (Decimal): total amount (NTD)\n"
    "            volume (int): volume (K shares)\n"
    "            total_volume (int): total volume (K shares)\n"
    "            tick_type (int): tick type (內外盤別)\n"
    "                {1: buy deal, 2: sell deal, 0: can't judge}\n"
    "            chg_type (int): (漲跌註記)\n"
    "                {1: limit up, 2: up, 3: unchanged, 4: down, 5: limit down}\n"
    "            price_chg (Decimal): price change\n"
    "            pct_chg (Decimal): percentage change (%)\n"
    "            bid_side_total_vol(int): total bid deal volume (K shares, 買盤成交總量)\n"
    "            ask_side_total_vol (int): total ask deal volume (K shares, 賣盤成交總量)\n"
    "            bid_side_total_cnt (int): total number of buy deal (買盤成交筆數)\n"
    "            ask_side_total_cnt (int): total number of sell deal (賣盤成交筆數)\n"
    "            closing_oddlot_shares (int): (share, 盤後零股成交股數)\n"
    "            closing_oddlot_close (Decimal): closing oddlot close\n"
    "            closing_oddlot_amount (Decimal): closing oddlot amount\n"
    "            closing_oddlot_bid_price (Decimal): closing oddlot bid price\n"
    "            closing_oddlot_ask_price (Decimal): closing oddlot ask price\n"
    "            fixed_trade_vol (int): fixed trade volume (K shares, 定盤成交量)\n"
    "            fixed_trade_amount (Decimal): fixed trade amount\n"
    "            bid_price (list of Decimal): bid price\n"
    "            bid_volume (list of int): bid volume (lot), (張)\n"
    "            diff_bid_vol (list of int): (lot), (張, 買價增減量)\n"
    "            ask_price (list of Decimal): ask price\n"
    "            ask_volume (list of int): ask volume (lot), (張)\n"
    "            diff_ask_vol (list of int): (lot), (張, 賣價增減量)\n"
    "            avail_borrowing (int): avail borrowing\n"
    "            suspend (bool): suspend (暫停交易)\n"
    "            simtrade (bool): simulated trade (試撮)\n"
    "    ";

Method quote_methods[] = {
    {{"__init__", fast(record_init<&QuoteSTKv1>), kFastKw, kInitDoc}, Kind::Instance},
    {{"from_content", fast(from_content), kFastKw,
      "from_content($cls, /, code, date, time, open, avg_price, close, high, low, amount, "
      "amount_sum, volume, vol_sum, tick_type, diff_type, diff_price, diff_rate, "
      "trade_bid_vol_sum, trade_ask_vol_sum, trade_bid_cnt, trade_ask_cnt, "
      "closing_oddlot_shares, closing_oddlot_close, closing_oddlot_amount, "
      "closing_oddlot_bid_price, closing_oddlot_ask_price, fixed_trade_volume, "
      "fixed_trade_amount, bid_price, bid_volume, diff_bid_vol, ask_price, ask_volume, "
      "diff_ask_vol, avail_borrowing, suspend, simtrade)\n--\n\n"},
     Kind::Class},
    {{nullptr, nullptr, 0, nullptr}, Kind::Instance},
};

PyModuleDef quote_module = {
    PyModuleDef_HEAD_INIT,
    "orvane.backend.solace.quote",
    "Solace topics for contracts and stock quote records decoded from message contents.",
    -1,
    nullptr,
};

bool init(PyObject* m) {
    if (!init_state(m, "Quote")) return false;
    if (!set_package(m)) return false;
    if (!import_as(m, "datetime", "dt")) return false;
    if (!import_from(m, "typing", {"Dict", "List", "Any"})) return false;
    if (!import_from(m, "decimal", {"Decimal"})) return false;
    if (!remember_real_decimal()) return false;
    if (!import_from(m, "utils", {"datetime_parser"}, 1)) return false;
    if (!import_from(m, "orvane.contracts", {"Contract", "Future", "Stock", "Option", "Index"}))
        return false;
    if (!import_from(m, "orvane.constant", {"Exchange", "QuoteType", "QuoteVersion"})) return false;
    Ref base = Ref::steal(create_base(m, "QuoteBase"));
    if (!base || PyObject_SetAttrString(m, "QuoteBase", base.get()) < 0) return false;
    if (!bind(m, "QuoteSTKv1", QuoteSTKv1.create(m, base.get(), quote_methods))) return false;
    return add_topic_functions(m);
}

}  // namespace
}  // namespace solace
}  // namespace orvane

ORVANE_MODINIT PyInit_quote(void) {
    using namespace orvane;
    return guarded([]() -> PyObject* {
        Ref m = Ref::steal(PyModule_Create(&solace::quote_module));
        if (!m || !solace::init(m.get())) return nullptr;
        return m.release();
    });
}
