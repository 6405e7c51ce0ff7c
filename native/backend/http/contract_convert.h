// The four contract list converters of orvane.backend.http.contract: each
// turns the service's list of one product type into the dictionary of
// contract descriptions the host package builds its contracts from.
#pragma once

#include "common/ref.h"

namespace orvane {
namespace contract {

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

// Interned keys and constant values, made once at module initialisation and
// kept for the life of the process.
struct Names {
    PyObject* key[kNumKeys];
    // description keys
    PyObject *symbol, *security_type, *currency, *exchange, *code, *name, *category, *delivery_month,
        *strike_price, *option_right, *underlying_kind, *underlying_code, *unit, *multiplier;
    // values
    PyObject *STK, *FUT, *OPT, *IND, *TWD, *TAIFEX, *TSE, *OTC, *empty, *zero, *blank, *dot,
        *dot_zero, *zero_char, *index_codes;
    // description templates (keys in order, constants in place)
    PyObject *stock_template, *future_template, *option_template, *index_template;
    // method names
    PyObject *get, *items, *strip, *rstrip, *endswith, *lower, *json, *post;
};

extern Names names;
bool init_names();

// METH_O functions: `self` is the module.
PyObject* stock_dict_convert(PyObject* self, PyObject* contracts);
PyObject* future_dict_convert(PyObject* self, PyObject* contracts);
PyObject* option_dict_convert(PyObject* self, PyObject* contracts);
PyObject* tw_index_dict_convert(PyObject* self, PyObject* index_dict);

}  // namespace contract
}  // namespace orvane
