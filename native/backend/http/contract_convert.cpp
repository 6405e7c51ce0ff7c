// Contract list converters.
//
// Each description dictionary is built with its keys in the documented order,
// reading the entry's keys in that same order, so a missing key raises the
// KeyError Python code building the same dictionary literal would raise. An
// exact dict entry is read directly; any other mapping is read through its own
// methods. The symbol of a description comes from a "{a}{b}" template filled
// from the entry's keys as keyword arguments; it is built as the concatenation
// of format(entry[a]) and format(entry[b]), which is what str.format produces.
#include "backend/http/contract_convert.h"

#include "backend/http/mapping.h"
#include "backend/http/text.h"

namespace orvane {
namespace contract {

Names names;

namespace {

bool intern(PyObject*& slot, const char* text) {
    slot = PyUnicode_InternFromString(text);
    return slot != nullptr;
}

// A dictionary sized for `n` keys, as a dict display of n entries makes it.
inline PyObject* new_dict(Py_ssize_t n) { return _PyDict_NewPresized(n); }

// Appends `desc` to the list stored under `key` in `groups`, creating the list
// on first use (dict.setdefault(key, []).append(desc)).
bool append_grouped(PyObject* groups, PyObject* key, PyObject* desc) {
    PyObject* lst = PyDict_GetItemWithError(groups, key);
    if (!lst) {
        if (PyErr_Occurred()) return false;
        Ref fresh = Ref::steal(PyList_New(0));
        if (!fresh || PyDict_SetItem(groups, key, fresh.get()) < 0) return false;
        return PyList_Append(fresh.get(), desc) == 0;
    }
    return PyList_Append(lst, desc) == 0;
}

// Sets the pairs of `kv` (key, value, key, value, ...) in `d` in order.
template <size_t N>
bool set_all(PyObject* d, PyObject* const (&kv)[N]) {
    static_assert(N % 2 == 0, "pairs");
    for (size_t i = 0; i < N; i += 2)
        if (PyDict_SetItem(d, kv[i], kv[i + 1]) < 0) return false;
    return true;
}

// The stock description of one entry, or null with an exception set.
PyObject* stock_desc(PyObject* entry) {
    const Names& n = names;
    Ref kw = Ref::steal(http::kwargs_of(entry, http::kFormatFn));
    if (!kw) return nullptr;
    PyObject* f_exchange = http::field(kw.get(), n.exchange);
    if (!f_exchange) return nullptr;
    Ref s_exchange = Ref::steal(http::format_field(f_exchange, n.empty));
    if (!s_exchange) return nullptr;
    PyObject* f_code = http::field(kw.get(), n.code);
    if (!f_code) return nullptr;
    Ref s_code = Ref::steal(http::format_field(f_code, n.empty));
    if (!s_code) return nullptr;
    Ref symbol = Ref::steal(http::concat({s_exchange.get(), s_code.get()}));
    if (!symbol) return nullptr;
    kw.reset();

    Ref exchange = Ref::steal(http::getitem(entry, n.exchange));
    if (!exchange) return nullptr;
    Ref code = Ref::steal(http::getitem(entry, n.code));
    if (!code) return nullptr;
    Ref raw_name = Ref::steal(http::getitem(entry, n.name));
    if (!raw_name) return nullptr;
    Ref name = Ref::steal(http::strip_char(raw_name.get(), ' ', n.blank, n.strip, true));
    if (!name) return nullptr;
    Ref industry = Ref::steal(http::getitem(entry, n.industry));
    if (!industry) return nullptr;

    Ref d = Ref::steal(new_dict(7));
    if (!d) return nullptr;
    PyObject* const kv[] = {n.symbol,   symbol.get(),   n.security_type, n.STK,
                            n.currency, n.TWD,          n.exchange,      exchange.get(),
                            n.code,     code.get(),     n.name,          name.get(),
                            n.category, industry.get()};
    if (!set_all(d.get(), kv)) return nullptr;
    return d.release();
}

// Strike text for an option symbol: `eprice` without its trailing zeros and
// then its trailing dots when it ends in ".0", otherwise unchanged. The strike
// is first probed with get(.., "") and then read by key, so an entry without
// eprice fails with KeyError('eprice').
PyObject* normalised_strike(PyObject* entry) {
    const Names& n = names;
    Ref eprice;
    int ends;
    if (PyDict_CheckExact(entry)) {
        PyObject* v = PyDict_GetItemWithError(entry, n.eprice);
        if (!v) {
            if (!PyErr_Occurred()) http::set_key_error(n.eprice);
            return nullptr;
        }
        eprice = Ref::borrow(v);
        ends = http::endswith(eprice.get(), n.dot_zero, n.endswith);
        if (ends < 0) return nullptr;
        // endswith() of a str runs no Python code, so reading the key again
        // would give the same object; anything else may have changed the entry.
        if (!PyUnicode_CheckExact(eprice.get())) eprice = Ref::steal(http::getitem(entry, n.eprice));
    } else {
        Ref probe = Ref::steal(http::get(entry, n.get, n.eprice, n.empty));
        if (!probe) return nullptr;
        ends = http::endswith(probe.get(), n.dot_zero, n.endswith);
        if (ends < 0) return nullptr;
        eprice = Ref::steal(http::getitem(entry, n.eprice));
    }
    if (!eprice) return nullptr;
    if (!ends) return eprice.release();
    Ref no_zeros = Ref::steal(http::strip_char(eprice.get(), '0', n.zero_char, n.rstrip, false));
    if (!no_zeros) return nullptr;
    return http::strip_char(no_zeros.get(), '.', n.dot, n.rstrip, false);
}

PyObject* option_symbol(PyObject* entry) {
    const Names& n = names;
    Ref strike = Ref::steal(normalised_strike(entry));
    if (!strike) return nullptr;
    // The template is filled from a copy of the entry whose eprice is the
    // normalised strike; an exact dict entry is read in place instead.
    Ref kw;
    if (PyDict_CheckExact(entry)) {
        kw = Ref::borrow(entry);
    } else {
        kw = Ref::steal(http::kwargs_copy(entry, http::kFormatFn));
        if (!kw || PyDict_SetItem(kw.get(), n.eprice, strike.get()) < 0) return nullptr;
    }
    PyObject* const keys[] = {n.category, n.deliverymonth, n.poc};
    Ref parts[4];
    for (int i = 0; i < 3; ++i) {
        PyObject* f = http::field(kw.get(), keys[i]);
        if (!f) return nullptr;
        parts[i] = Ref::steal(http::format_field(f, n.empty));
        if (!parts[i]) return nullptr;
    }
    parts[3] = Ref::steal(http::format_field(strike.get(), n.empty));
    if (!parts[3]) return nullptr;
    return http::concat({parts[0].get(), parts[1].get(), parts[2].get(), parts[3].get()});
}

PyObject* future_symbol(PyObject* entry) {
    const Names& n = names;
    Ref kw = Ref::steal(http::kwargs_of(entry, http::kFormatFn));
    if (!kw) return nullptr;
    PyObject* f_ename = http::field(kw.get(), n.ename);
    if (!f_ename) return nullptr;
    Ref s_ename = Ref::steal(http::format_field(f_ename, n.empty));
    if (!s_ename) return nullptr;
    PyObject* f_month = http::field(kw.get(), n.deliverymonth);
    if (!f_month) return nullptr;
    Ref s_month = Ref::steal(http::format_field(f_month, n.empty));
    if (!s_month) return nullptr;
    return http::concat({s_ename.get(), s_month.get()});
}

// The future (is_option false) or option description of one entry.
template <bool is_option>
PyObject* futopt_desc(PyObject* entry) {
    const Names& n = names;
    Ref symbol = Ref::steal(is_option ? option_symbol(entry) : future_symbol(entry));
    if (!symbol) return nullptr;
    Ref code = Ref::steal(http::getitem(entry, n.code));
    if (!code) return nullptr;
    Ref name = Ref::steal(http::getitem(entry, n.csname));
    if (!name) return nullptr;
    Ref category = Ref::steal(http::getitem(entry, n.category));
    if (!category) return nullptr;
    Ref month = Ref::steal(http::getitem(entry, n.deliverymonth));
    if (!month) return nullptr;
    Ref strike, right;
    if (is_option) {
        strike = Ref::steal(http::getitem(entry, n.eprice));
        if (!strike) return nullptr;
        right = Ref::steal(http::getitem(entry, n.poc));
        if (!right) return nullptr;
    } else {
        strike = Ref::borrow(n.zero);
        right = Ref::borrow(n.empty);
    }
    Ref kind = Ref::steal(http::getitem(entry, n.prod_kind));
    if (!kind) return nullptr;
    Ref ostock = Ref::steal(http::getitem(entry, n.ostock));
    if (!ostock) return nullptr;
    Ref basic = Ref::steal(http::getitem(entry, n.basic));
    if (!basic) return nullptr;
    Ref unit = Ref::steal(PyFloat_CheckExact(basic.get()) ? new_ref(basic.get())
                                                          : PyNumber_Float(basic.get()));
    if (!unit) return nullptr;

    Ref d = Ref::steal(new_dict(14));
    if (!d) return nullptr;
    PyObject* const kv[] = {n.symbol,          symbol.get(),   n.security_type,   is_option ? n.OPT : n.FUT,
                            n.currency,        n.TWD,          n.exchange,        n.TAIFEX,
                            n.code,            code.get(),     n.name,            name.get(),
                            n.category,        category.get(), n.delivery_month,  month.get(),
                            n.strike_price,    strike.get(),   n.option_right,    right.get(),
                            n.underlying_kind, kind.get(),     n.underlying_code, ostock.get(),
                            n.unit,            unit.get(),     n.multiplier,      n.zero};
    if (!set_all(d.get(), kv)) return nullptr;
    return d.release();
}

template <bool is_option>
PyObject* futopt_convert(PyObject* contracts) {
    Ref result = Ref::steal(PyDict_New());
    if (!result) return nullptr;
    const bool ok = http::for_each_item(contracts, names.items, [&](PyObject* product, PyObject* entries) {
        Ref group;  // the product's list, found or made at its first entry
        return http::for_each(entries, [&](PyObject* entry) {
            Ref desc = Ref::steal(futopt_desc<is_option>(entry));
            if (!desc) return false;
            if (!group) {
                // Looked up again for each product, so a name that comes back
                // (from a mapping whose items() repeats it) keeps one list.
                PyObject* lst = PyDict_GetItemWithError(result.get(), product);
                if (lst) {
                    group = Ref::borrow(lst);
                } else {
                    if (PyErr_Occurred()) return false;
                    group = Ref::steal(PyList_New(0));
                    if (!group || PyDict_SetItem(result.get(), product, group.get()) < 0) return false;
                }
            }
            return PyList_Append(group.get(), desc.get()) == 0;
        });
    });
    return ok ? result.release() : nullptr;
}

}  // namespace

bool init_names() {
    Names& n = names;
    struct Item {
        PyObject** slot;
        const char* text;
    };
    const Item items[] = {
        {&n.exchange, "exchange"},
        {&n.code, "code"},
        {&n.name, "name"},
        {&n.industry, "industry"},
        {&n.ename, "ename"},
        {&n.deliverymonth, "deliverymonth"},
        {&n.csname, "csname"},
        {&n.category, "category"},
        {&n.prod_kind, "prod_kind"},
        {&n.ostock, "ostock"},
        {&n.basic, "basic"},
        {&n.poc, "poc"},
        {&n.eprice, "eprice"},
        {&n.symbol, "symbol"},
        {&n.security_type, "security_type"},
        {&n.currency, "currency"},
        {&n.delivery_month, "delivery_month"},
        {&n.strike_price, "strike_price"},
        {&n.option_right, "option_right"},
        {&n.underlying_kind, "underlying_kind"},
        {&n.underlying_code, "underlying_code"},
        {&n.unit, "unit"},
        {&n.multiplier, "multiplier"},
        {&n.STK, "STK"},
        {&n.FUT, "FUT"},
        {&n.OPT, "OPT"},
        {&n.IND, "IND"},
        {&n.TWD, "TWD"},
        {&n.TAIFEX, "TAIFEX"},
        {&n.TSE, "TSE"},
        {&n.OTC, "OTC"},
        {&n.empty, ""},
        {&n.blank, " "},
        {&n.dot, "."},
        {&n.dot_zero, ".0"},
        {&n.zero_char, "0"},
        {&n.get, "get"},
        {&n.items, "items"},
        {&n.strip, "strip"},
        {&n.rstrip, "rstrip"},
        {&n.endswith, "endswith"},
        {&n.lower, "lower"},
        {&n.json, "json"},
        {&n.post, "post"},
        {&n.format, "format"},
    };
    for (const Item& it : items)
        if (!intern(*it.slot, it.text)) return false;
    n.zero = PyLong_FromLong(0);
    if (!n.zero) return false;
    // The code table of the index list: first character of a code -> exchange.
    n.index_codes = PyDict_New();
    if (!n.index_codes) return false;
    Ref one = Ref::steal(PyUnicode_InternFromString("1"));
    if (!one || PyDict_SetItem(n.index_codes, n.zero_char, n.TSE) < 0 ||
        PyDict_SetItem(n.index_codes, one.get(), n.OTC) < 0)
        return false;
    return true;
}

PyObject* stock_dict_convert(PyObject*, PyObject* contracts) {
    return guarded([&]() -> PyObject* {
        Ref result = Ref::steal(PyDict_New());
        if (!result) return nullptr;
        const bool ok = http::for_each(contracts, [&](PyObject* entry) {
            Ref desc = Ref::steal(stock_desc(entry));
            if (!desc) return false;
            // The group key is the description's exchange, read from the entry.
            PyObject* exchange = PyDict_GetItemWithError(desc.get(), names.exchange);
            return exchange && append_grouped(result.get(), exchange, desc.get());
        });
        return ok ? result.release() : nullptr;
    });
}

PyObject* future_dict_convert(PyObject*, PyObject* contracts) {
    return guarded([&] { return futopt_convert<false>(contracts); });
}

PyObject* option_dict_convert(PyObject*, PyObject* contracts) {
    return guarded([&] { return futopt_convert<true>(contracts); });
}

PyObject* tw_index_dict_convert(PyObject*, PyObject* index_dict) {
    return guarded([&]() -> PyObject* {
        const Names& n = names;
        Ref result = Ref::steal(PyDict_New());
        if (!result) return nullptr;
        for (PyObject* exch : {n.TSE, n.OTC}) {
            Ref lst = Ref::steal(PyList_New(0));
            if (!lst || PyDict_SetItem(result.get(), exch, lst.get()) < 0) return nullptr;
        }
        const bool ok = http::for_each_item(index_dict, n.items, [&](PyObject* code, PyObject* name) {
            // code[0], then the code table's entry for it (the empty text when none)
            Ref first;
            if (PyUnicode_CheckExact(code)) {
                if (!http::ready(code)) return false;
                if (PyUnicode_GET_LENGTH(code) == 0) {
                    PyErr_SetString(PyExc_IndexError, "string index out of range");
                    return false;
                }
                first = Ref::steal(PyUnicode_Substring(code, 0, 1));
            } else {
                first = Ref::steal(PyObject_GetItem(code, n.zero));
            }
            if (!first) return false;
            PyObject* exchange = PyDict_GetItemWithError(n.index_codes, first.get());
            if (!exchange) {
                if (PyErr_Occurred()) return false;
                exchange = n.empty;
            }
            PyObject* group = PyDict_GetItemWithError(result.get(), exchange);
            if (!group) {
                if (!PyErr_Occurred()) http::set_key_error(exchange);
                return false;
            }
            Ref code_text = Ref::steal(http::format_field(code, n.empty));
            if (!code_text) return false;
            Ref symbol = Ref::steal(http::concat({exchange, code_text.get()}));
            if (!symbol) return false;
            Ref d = Ref::steal(new_dict(6));
            if (!d) return false;
            PyObject* const kv[] = {n.symbol,   symbol.get(), n.security_type, n.IND,
                                    n.currency, n.TWD,        n.exchange,      exchange,
                                    n.code,     code,         n.name,          name};
            return set_all(d.get(), kv) && PyList_Append(group, d.get()) == 0;
        });
        return ok ? result.release() : nullptr;
    });
}

}  // namespace contract
}  // namespace orvane
