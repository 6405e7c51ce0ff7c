// orvane.backend.solace.quote: topic functions and the stock quote record.
#include "backend/solace/module.h"
#include "backend/solace/records.h"
#include "backend/solace/topics.h"

namespace orvane {
namespace solace {
namespace {

// The stock quote record, one row per slot in slot order, with the
// from_content parameter(s) each slot's value comes from.
constexpr Field kQuoteFields[] = {
    {"code", {"code"}, Conv::Text, "code (str): code"},
    {"datetime", {"date", "time"}, Conv::Time, "datetime (datetime.datetime): datetime"},
    {"open", {"open"}, Conv::Decimal, "open (Decimal): open"},
    {"avg_price", {"avg_price"}, Conv::Decimal, "avg_price (Decimal): average price"},
    {"close", {"close"}, Conv::Decimal, "close (Decimal): deal price"},
    {"high", {"high"}, Conv::Decimal, "high (Decimal): high since market open"},
    {"low", {"low"}, Conv::Decimal, "low (Decimal): low since market open"},
    {"amount", {"amount"}, Conv::Decimal, "amount (Decimal): amount (NTD)"},
    {"total_amount", {"amount_sum"}, Conv::Decimal, "total_amount (Decimal): total amount (NTD)"},
    {"volume", {"volume"}, Conv::Plain, "volume (int): volume (K shares)"},
    {"total_volume", {"vol_sum"}, Conv::Plain, "total_volume (int): total volume (K shares)"},
    {"tick_type", {"tick_type"}, Conv::Plain,
     "tick_type (int): tick type (內外盤別)\n"
     "                {1: buy deal, 2: sell deal, 0: can't judge}"},
    {"chg_type", {"diff_type"}, Conv::Plain,
     "chg_type (int): (漲跌註記)\n"
     "                {1: limit up, 2: up, 3: unchanged, 4: down, 5: limit down}"},
    {"price_chg", {"diff_price"}, Conv::Decimal, "price_chg (Decimal): price change"},
    {"pct_chg", {"diff_rate"}, Conv::Percent, "pct_chg (Decimal): percentage change (%)"},
    {"bid_side_total_vol", {"trade_bid_vol_sum"}, Conv::Plain,
     "bid_side_total_vol(int): total bid deal volume (K shares, 買盤成交總量)"},
    {"ask_side_total_vol", {"trade_ask_vol_sum"}, Conv::Plain,
     "ask_side_total_vol (int): total ask deal volume (K shares, 賣盤成交總量)"},
    {"bid_side_total_cnt", {"trade_bid_cnt"}, Conv::Plain,
     "bid_side_total_cnt (int): total number of buy deal (買盤成交筆數)"},
    {"ask_side_total_cnt", {"trade_ask_cnt"}, Conv::Plain,
     "ask_side_total_cnt (int): total number of sell deal (賣盤成交筆數)"},
    {"closing_oddlot_shares", {"closing_oddlot_shares"}, Conv::Plain,
     "closing_oddlot_shares (int): (share, 盤後零股成交股數)"},
    {"closing_oddlot_close", {"closing_oddlot_close"}, Conv::DecimalOrZero,
     "closing_oddlot_close (Decimal): closing oddlot close"},
    {"closing_oddlot_amount", {"closing_oddlot_amount"}, Conv::Decimal,
     "closing_oddlot_amount (Decimal): closing oddlot amount"},
    {"closing_oddlot_bid_price", {"closing_oddlot_bid_price"}, Conv::DecimalOrZero,
     "closing_oddlot_bid_price (Decimal): closing oddlot bid price"},
    {"closing_oddlot_ask_price", {"closing_oddlot_ask_price"}, Conv::DecimalOrZero,
     "closing_oddlot_ask_price (Decimal): closing oddlot ask price"},
    {"fixed_trade_vol", {"fixed_trade_volume"}, Conv::Plain,
     "fixed_trade_vol (int): fixed trade volume (K shares, 定盤成交量)"},
    {"fixed_trade_amount", {"fixed_trade_amount"}, Conv::Decimal,
     "fixed_trade_amount (Decimal): fixed trade amount"},
    {"bid_price", {"bid_price"}, Conv::DecimalList, "bid_price (list of Decimal): bid price"},
    {"bid_volume", {"bid_volume"}, Conv::Plain, "bid_volume (list of int): bid volume (lot), (張)"},
    {"diff_bid_vol", {"diff_bid_vol"}, Conv::Plain,
     "diff_bid_vol (list of int): (lot), (張, 買價增減量)"},
    {"ask_price", {"ask_price"}, Conv::DecimalList, "ask_price (list of Decimal): ask price"},
    {"ask_volume", {"ask_volume"}, Conv::Plain, "ask_volume (list of int): ask volume (lot), (張)"},
    {"diff_ask_vol", {"diff_ask_vol"}, Conv::Plain,
     "diff_ask_vol (list of int): (lot), (張, 賣價增減量)"},
    {"avail_borrowing", {"avail_borrowing"}, Conv::Plain, "avail_borrowing (int): avail borrowing"},
    {"suspend", {"suspend"}, Conv::Plain, "suspend (bool): suspend (暫停交易)"},
    {"simtrade", {"simtrade"}, Conv::Plain, "simtrade (bool): simulated trade (試撮)"},
};

RecordClass QuoteSTKv1("QuoteSTKv1", kQuoteFields, "Quote Stock v1", "    ",
                       init_entry<&QuoteSTKv1>);
Factory<kQuoteFields> from_content(QuoteSTKv1, "from_content", factory_entry<&from_content>);

PyModuleDef quote_module = {
    PyModuleDef_HEAD_INIT,
    "orvane.backend.solace.quote",
    "Solace topics for contracts and stock quote records decoded from message contents.",
    -1,
    nullptr,
};

}  // namespace
}  // namespace solace
}  // namespace orvane

ORVANE_MODINIT PyInit_quote(void) {
    using namespace orvane::solace;
    return init_module(quote_module, "Quote",
                       {{"orvane.contracts", {"Contract", "Future", "Stock", "Option", "Index"}},
                        {"orvane.constant", {"Exchange", "QuoteType", "QuoteVersion"}}},
                       {&QuoteSTKv1}, add_topic_functions);
}
