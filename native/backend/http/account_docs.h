// Documentation texts of the account records' constructors.
//
// Each begins with the constructor's text signature ("__init__($self, ...)"
// and a "--" line), which the interpreter strips from __doc__ and offers as
// __text_signature__, so inspect.signature() works on the C++ methods. The
// texts keep their exact blanks, including the trailing ones on some lines.
#pragma once

// The stock types both profit-and-loss records take, one per line after
// `indent` (the two texts indent them differently).
#define ORVANE_STOCK_TYPES(indent)  \
    indent "- 'A': 全部\n"          \
    indent "- '0': 現-上市櫃\n"     \
    indent "- '1': 資\n"            \
    indent "- '2': 券\n"            \
    indent "- 'R': 興櫃 \n"

namespace orvane {
namespace http {

// AccountMargin.__init__
inline constexpr const char kMarginDoc[] =
    "__init__($self, currency, margin_type, account, client)\n--\n\n"
    " query margin    currency: {NTX, USX, NTD, USD, HKD, EUR, JPY, GBP}\n"
    "                the margin calculate in which currency\n"
    "                - NTX: 約當台幣\n"
    "                - USX: 約當美金\n"
    "                - NTD: 新台幣\n"
    "                - USD: 美元\n"
    "                - HKD: 港幣\n"
    "                - EUR: 歐元\n"
    "                - JPY: 日幣\n"
    "                - GBP: 英鎊\n"
    "            margin_type: {'1', '2'}\n"
    "                query margin type\n"
    "                - 1 : 即時\n"
    "                - 2 : 風險\n"
    "        ";

// AccountOpenPosition.__init__
inline constexpr const char kOpenPositionDoc[] =
    "__init__($self, product_type, query_type, account, client)\n--\n\n"
    " query open position\n"
    "        product_type: {0, 1, 2, 3}\n"
    "            filter product type of open position\n"
    "            - 0: all\n"
    "            - 1: future\n"
    "            - 2: option\n"
    "            - 3: usd base\n"
    "        query_type: {0, 1}\n"
    "            query return with detail or summary\n"
    "            - 0: detail\n"
    "            - 1: summary\n"
    "        ";

// AccountSettleProfitLoss.__init__
inline constexpr const char kSettleProfitLossDoc[] =
    "__init__($self, product_type, summary, start_date, end_date, currency, account, client)\n--\n\n"
    " query settlement profit loss\n"
    "        product_type: {0, 1, 2}\n"
    "            filter product type of open position\n"
    "            - 0: all\n"
    "            - 1: future\n"
    "            - 2: option\n"
    "        summary: {Y, N}\n"
    "            query return with detail or summary\n"
    "            - Y: summary\n"
    "            - N: detail\n"
    "        start_date: str\n"
    "            the start date of query range format with %Y%m%d\n"
    "            ex: 20180101\n"
    "        end_date: str\n"
    "            the end date of query range format with %Y%m%d\n"
    "            ex: 20180201\n"
    "        currency: {NTD, USD, HKD, EUR, CAD, BAS}\n"
    "            the profit loss calculate in which currency\n"
    "            - NTD: 新台幣\n"
    "            - USD: 美元\n"
    "            - HKD: 港幣\n"
    "            - EUR: 歐元\n"
    "            - CAD: 加幣 \n"
    "            - BAS: 基幣\n"
    "        ";

// AccountFunds.__init__
inline constexpr const char kFundsDoc[] =
    "__init__($self, tax, account, client)\n--\n\n"
    "\n"
    "        tax (str): {' ', '1'}\n"
    "            - ' ': tax included\n"
    "            - '1': tax excluded\n"
    "        ";

// AccountUnRealProfitLoss.__init__
inline constexpr const char kUnRealProfitLossDoc[] =
    "__init__($self, stock_type, currency, action, account, client)\n--\n\n"
    "\n"
    "        stock_type (str):\n"
    ORVANE_STOCK_TYPES("            ")
    "        currency (str):\n"
    "            - A: 全部\n"
    "            - NTD: 新台幣\n"
    "            - CNY: 人民幣\n"
    "        action (str): \n"
    "            - ' ': default, no filter\n"
    "            - '1': filter delisting stock\n"
    "            - '2': tax excluded\n"
    "            - '3': filter delisting stock and tax excluded\n"
    "        ";

// AccountRealProfitLoss.__init__
inline constexpr const char kRealProfitLossDoc[] =
    "__init__($self, stock_type, start_date, end_date, currency, action, account, client)\n--\n\n"
    "\n"
    "            stock_type (str):\n"
    ORVANE_STOCK_TYPES("                ")
    "            start_date (str):\n"
    "                the start date of query range format with %Y%m%d\n"
    "                ex: 20180201\n"
    "            end_date (str):\n"
    "                the end date of query range format with %Y%m%d\n"
    "                ex: 20180201\n"
    "            currency (str):\n"
    "                - A: 全部\n"
    "                - NTD: 新台幣\n"
    "                - CNY: 人民幣 \n"
    "            action (str): \n"
    "                - ' ': default, no filter\n"
    "                - '1': filter cost is 0\n"
    "        ";

}  // namespace http
}  // namespace orvane
