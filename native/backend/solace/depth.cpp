// orvane.backend.solace.depth: bid/ask records for stocks, futures and options.
#include "backend/solace/module.h"
#include "backend/solace/records.h"

#include <array>

namespace orvane {
namespace solace {
namespace {

// The stock bid/ask record, one row per slot in slot order, with the
// factory parameter(s) each slot's value comes from. `intraday_odd` tells
// which factory made the record: 0 from_content, 1 from_content_odd.
constexpr Field kStockFields[] = {
    {"code", {"code"}, Conv::Text, "code (str): code"},
    {"datetime", {"date", "time"}, Conv::Time, "datetime (datetime.datetime): datetime"},
    {"bid_price", {"bid_price"}, Conv::DecimalList, "bid_price (list of Decimal): bid price"},
    {"bid_volume", {"bid_volume"}, Conv::Plain, "bid_volume (list of int): bid volume (K shares)"},
    {"diff_bid_vol", {"diff_bid_vol"}, Conv::Plain,
     "diff_bid_vol (list of int): (K shares, 買價增減量)"},
    {"ask_price", {"ask_price"}, Conv::DecimalList, "ask_price (list of Decimal): ask price"},
    {"ask_volume", {"ask_volume"}, Conv::Plain, "ask_volume (list of int): ask volume"},
    {"diff_ask_vol", {"diff_ask_vol"}, Conv::Plain,
     "diff_ask_vol (list of int): (K shares, 賣價增減量)"},
    {"suspend", {"suspend"}, Conv::Plain, "suspend (bool): suspend (暫停交易)"},
    {"simtrade", {"simtrade"}, Conv::Plain, "simtrade (bool): simulated trade (試撮)"},
    {"intraday_odd", {}, Conv::Flag, nullptr},
};

// The odd-lot message lists the same fields in another order: the two price
// lists first, then the two volume lists, then the two change lists.
constexpr std::array<const char*, 11> kOddLotArgs = {
    "code", "date", "time", "bid_price", "ask_price", "bid_volume", "ask_volume",
    "diff_bid_vol", "diff_ask_vol", "suspend", "simtrade",
};

// The futures and options bid/ask record.
constexpr Field kFopFields[] = {
    {"code", {"code"}, Conv::Text, "code (str): code"},
    {"datetime", {"date", "time"}, Conv::Time, "datetime (datetime.datetime): datetime"},
    {"bid_total_vol", {"bid_vol_sum"}, Conv::Plain,
     "bid_total_vol (int): total buy deal volume (lot, 買盤成交總量)"},
    {"ask_total_vol", {"ask_vol_sum"}, Conv::Plain,
     "ask_total_vol (int): total sell deal volume (lot, 賣盤成交總量)"},
    {"bid_price", {"bid_price"}, Conv::DecimalList, "bid_price (list of Decimal): bid price"},
    {"bid_volume", {"bid_volume"}, Conv::Plain, "bid_volume (list of int): bid volume (lot)"},
    {"diff_bid_vol", {"diff_bid_vol"}, Conv::Plain, "diff_bid_vol (list of int): (lot, 買價增減量)"},
    {"ask_price", {"ask_price"}, Conv::DecimalList, "ask_price (list of Decimal): ask price"},
    {"ask_volume", {"ask_volume"}, Conv::Plain, "ask_volume (list of int): ask volume (lot)"},
    {"diff_ask_vol", {"diff_ask_vol"}, Conv::Plain, "diff_ask_vol (list of int): (lot, 賣價增減量)"},
    {"first_derived_bid_price", {"first_derived_bid_price"}, Conv::Decimal,
     "first_derived_bid_price (Decimal): first derived bid price (衍生一檔買價)"},
    {"first_derived_ask_price", {"first_derived_ask_price"}, Conv::Decimal,
     "first_derived_ask_price (Decimal): first derived ask price (衍生一檔賣價)"},
    {"first_derived_bid_vol", {"first_derived_bid_volume"}, Conv::Plain,
     "first_derived_bid_vol (int): first derived bid volume (衍生一檔買量)"},
    {"first_derived_ask_vol", {"first_derived_ask_volume"}, Conv::Plain,
     "first_derived_ask_vol (int): first derived bid volume (衍生一檔賣量)"},
    {"underlying_price", {"target_kind_price"}, Conv::Decimal,
     "underlying_price (Decimal): underlying price (標的物價格)"},
    {"simtrade", {"simtrade"}, Conv::Plain, "simtrade (int): simulated trade (試撮)"},
};

RecordClass DepthSTKv1("DepthSTKv1", kStockFields, "Depth Stock v1", "        ",
                       init_entry<&DepthSTKv1>);
Factory<kStockFields> stk_from_content(DepthSTKv1, "from_content",
                                       factory_entry<&stk_from_content>, 0);
Factory<kStockFields, kOddLotArgs> stk_from_content_odd(DepthSTKv1, "from_content_odd",
                                                        factory_entry<&stk_from_content_odd>, 1);

RecordClass DepthFOPv1("DepthFOPv1", kFopFields, "Depth Futures v1", "        ",
                       init_entry<&DepthFOPv1>);
Factory<kFopFields> fop_from_content(DepthFOPv1, "from_content", factory_entry<&fop_from_content>);

PyModuleDef depth_module = {
    PyModuleDef_HEAD_INIT,
    "orvane.backend.solace.depth",
    "Bid/ask (depth) records for stocks, futures and options decoded from message contents.",
    -1,
    nullptr,
};

}  // namespace
}  // namespace solace
}  // namespace orvane

ORVANE_MODINIT PyInit_depth(void) {
    using namespace orvane::solace;
    return init_module(depth_module, "Depth", {}, {&DepthSTKv1, &DepthFOPv1});
}
