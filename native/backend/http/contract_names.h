// The names of orvane.backend.http.contract: the interned texts (the keys of
// the service's entries and of the descriptions, fixed values, method,
// attribute and module-level names) and the objects made from them once at
// module initialisation, all kept for the life of the process.
#pragma once

#include "common/names.h"
#include "common/ref.h"

namespace orvane {
namespace http {

// Keys read from the service's entries.
enum Key {
    kExchange,
    kCode,
    kName,
    kIndustry,
    kEname,
    kDeliverymonth,
    kCsname,
    kCategory,
    kProdKind,
    kOstock,
    kBasic,
    kPoc,
    kEprice,
    kNumKeys
};

#define CONTRACT_NAMES(X)                                                                  \
    /* Keys of the entries that are not also keys of a description. */                    \
    X(industry, "industry") X(ename, "ename") X(deliverymonth, "deliverymonth")            \
    X(csname, "csname") X(prod_kind, "prod_kind") X(ostock, "ostock") X(basic, "basic")    \
    X(poc, "poc") X(eprice, "eprice")                                                      \
    /* Keys of the descriptions. */                                                        \
    X(symbol, "symbol") X(security_type, "security_type") X(currency, "currency")          \
    X(exchange, "exchange") X(code, "code") X(name, "name") X(category, "category")        \
    X(delivery_month, "delivery_month") X(strike_price, "strike_price")                    \
    X(option_right, "option_right") X(underlying_kind, "underlying_kind")                  \
    X(underlying_code, "underlying_code") X(unit, "unit") X(multiplier, "multiplier")      \
    /* Values. */                                                                          \
    X(STK, "STK") X(FUT, "FUT") X(OPT, "OPT") X(IND, "IND") X(TWD, "TWD")                  \
    X(TAIFEX, "TAIFEX") X(TSE, "TSE") X(OTC, "OTC") X(empty, "") X(blank, " ") X(dot, ".") \
    X(dot_zero, ".0") X(zero_char, "0") X(one_char, "1")                                   \
    /* Method and attribute names. */                                                      \
    X(get, "get") X(items, "items") X(strip, "strip") X(rstrip, "rstrip")                  \
    X(endswith, "endswith") X(lower, "lower") X(json, "json") X(post, "post")              \
    X(session, "session") X(s_list_code_uri, "s_list_code_uri")                            \
    X(index_list_code_uri, "index_list_code_uri") X(f_list_code_uri, "f_list_code_uri")    \
    X(error, "error")                                                                      \
    /* Keys and values of the service's replies and requests. */                           \
    X(result, "result") X(content, "content") X(msg, "msg") X(success, "success")          \
    X(true_, "true") X(no_data, "查無資料") X(type_key, "type") X(contract, "contract")     \
    X(delivery, "delivery")                                                                \
    /* Module-level names looked up at each call. */                                      \
    X(log, "log") X(list_stock_code, "_list_stock_code")                                   \
    X(list_futopt_code, "_list_futopt_code") X(list_tw_index_code, "_list_tw_index_code")  \
    X(stock_convert, "stock_dict_convert") X(future_convert, "future_dict_convert")        \
    X(option_convert, "option_dict_convert") X(index_convert, "tw_index_dict_convert")     \
    /* The message for an unknown product type, around the type. */                       \
    X(not_supported_head, "Product Type: ") X(not_supported_tail, " not supported.")

ORVANE_INTERNED(ContractTexts, CONTRACT_NAMES);

struct Names : ContractTexts {
    PyObject* key[kNumKeys];  // the entry keys, in Key order
    PyObject* zero;           // 0
    PyObject* index_codes;    // first character of an index code -> its exchange
    // description templates (keys in order, constants in place)
    PyObject *stock_template, *future_template, *option_template, *index_template;
};

extern Names names;

// Interns the texts and makes the objects. Returns false with an exception set.
bool init_names();

}  // namespace http
}  // namespace orvane
