// Contract list converters.
//
// Each description dictionary has its keys in the documented order, and the
// entry's keys are read in that same order, so a missing key raises the
// KeyError that Python code building the same dictionary literal would raise.
// An exact dict entry is read directly; any other mapping through its own
// methods. A symbol comes from a "{a}{b}" template filled from the entry's
// keys as keyword arguments (`template.format(**entry)`); it is built as the
// concatenation of format(entry[a]) and format(entry[b]), which is what
// str.format produces, with the same errors for a missing key or an entry
// that is not a mapping.
#include "common/names.h"
#include "backend/http/contract_convert.h"

#include "backend/http/mapping.h"
#include "backend/http/str_methods.h"

#include <cstring>

namespace orvane {
namespace http {

Names names;

namespace {

// A new description: a copy of the template of its kind (its keys in order,
// constant values already in place) with the pairs of `kv` (key, value, ...)
// set. Copying a template clones its hash table in one step, which is much
// cheaper than inserting the keys one by one, and gives a compact table like
// a dict display's; the keys keep the template's order.
template <size_t N>
PyObject* from_template(PyObject* tpl, PyObject* const (&kv)[N]) {
    static_assert(N % 2 == 0, "pairs");
    Ref d = Ref::steal(PyDict_Copy(tpl));
    if (!d) return nullptr;
    for (size_t i = 0; i < N; i += 2)
        if (PyDict_SetItem(d.get(), kv[i], kv[i + 1]) < 0) return nullptr;
    return d.release();
}

// The descriptions of one list made from exact str and float values.
//
// Neighbouring entries share most of their values (a product's category,
// kind, underlying and unit), so a private copy of the template keeps the
// values of the last description, and only the values that are other objects
// than last time are set in it before it is copied. The copy has the keys in
// the template's order and the same value objects as a fresh template copy
// with all pairs set. Holding only str and float values (and the template's
// constants), the private dict is never tracked by the garbage collector,
// so no Python code can reach it and change it behind `last_`.
template <size_t N>
class RunTemplate {
public:
    static_assert(N % 2 == 0, "pairs");

    PyObject* make(PyObject* tpl, PyObject* const (&kv)[N]) {
        if (!run_) {
            run_ = Ref::steal(PyDict_Copy(tpl));
            if (!run_) return nullptr;
        }
        for (size_t i = 0; i < N; i += 2) {
            if (last_[i / 2] == kv[i + 1]) continue;
            if (PyDict_SetItem(run_.get(), kv[i], kv[i + 1]) < 0) {
                run_ = Ref();  // start again from the template next time
                for (PyObject*& v : last_) v = nullptr;
                return nullptr;
            }
            last_[i / 2] = kv[i + 1];
        }
        return PyDict_Copy(run_.get());
    }

private:
    Ref run_;
    PyObject* last_[N / 2] = {};  // borrowed: run_ holds them
};

// Reads the entries of one list.
//
// Lists decoded from JSON share one str object per key across all entries.
// The reader adopts those key objects from the first exact-dict entry, so
// every later lookup finds its key by identity instead of comparing text. A
// lookup stays correct for any entry: an equal key is found either way.
//
// It also keeps the last `basic` text and its float: lists repeat a handful of
// unit texts, and floats are immutable, so descriptions may share one.
class EntryReader {
public:
    EntryReader() {
        for (int i = 0; i < kNumKeys; ++i) keys_[i] = names.key[i];
    }

    PyObject* key(Key k) const { return keys_[k]; }

    // Adopts the key objects of the first exact-dict entry seen.
    void prepare(PyObject* entry) {
        if (!adopted_ && PyDict_CheckExact(entry)) adopt(entry);
    }

    // entry[k], a new reference.
    PyObject* item(PyObject* entry, Key k) {
        prepare(entry);
        return http::getitem(entry, keys_[k]);
    }

    // float(v)
    PyObject* to_float(PyObject* v) {
        if (PyFloat_CheckExact(v)) return new_ref(v);
        if (!PyUnicode_CheckExact(v)) return PyNumber_Float(v);
        if (!text_ready(v)) return nullptr;
        if (last_text_ && same_text(v, last_text_.get())) return new_ref(last_float_.get());
        double whole;
        PyObject* f = plain_integer(v, whole) ? PyFloat_FromDouble(whole) : PyNumber_Float(v);
        if (f) {
            last_text_ = Ref::borrow(v);
            last_float_ = Ref::borrow(f);
        }
        return f;
    }

    // One walk over an exact dict entry, for the common case of a service
    // list: every key in `need` present (found by identity with the adopted
    // key objects) and holding an exact str. Then out[k] holds a new
    // reference for each needed key and the result is true. Building a
    // description from str values runs no Python code, so these values are
    // what reading the keys one by one would give. Otherwise false: the
    // caller reads the entry key by key, which also raises the right error.
    template <size_t N>
    bool scan(PyObject* entry, const Key (&need)[N], Ref (&out)[kNumKeys]) {
        if (!PyDict_CheckExact(entry)) return false;
        prepare(entry);
        PyObject* found[kNumKeys] = {};
        Py_ssize_t pos = 0, i = 0;
        PyObject *k, *v;
        while (PyDict_Next(entry, &pos, &k, &v)) {
            // Entries of one list carry their keys in the same order: try the
            // key index seen at this position last time first.
            int slot = i < kHints ? hint_[i] : -1;
            if (slot < 0 || keys_[slot] != k) {
                slot = -1;
                for (int j = 0; j < kNumKeys; ++j)
                    if (keys_[j] == k) {
                        slot = j;
                        break;
                    }
                if (i < kHints) hint_[i] = static_cast<signed char>(slot);
            }
            if (slot >= 0) found[slot] = v;
            ++i;
        }
        for (Key key : need) {
            if (!found[key] || !PyUnicode_CheckExact(found[key])) return false;
            if (!text_ready(found[key])) {
                PyErr_Clear();  // the key-by-key path meets the same text again
                return false;
            }
        }
        for (Key key : need) out[key] = Ref::borrow(found[key]);
        return true;
    }

private:
    // Unit texts are whole numbers ("2000", "50", sometimes "1000.0"): up to
    // 15 ASCII digits, optionally followed by "." and zeros. Their value is
    // exactly representable, so converting the integer gives what float()
    // gives; anything else goes to float() itself.
    static bool plain_integer(PyObject* s, double& out) {
        if (!PyUnicode_IS_ASCII(s)) return false;
        const char* p = static_cast<const char*>(PyUnicode_DATA(s));
        const Py_ssize_t len = PyUnicode_GET_LENGTH(s);
        Py_ssize_t i = 0;
        long long value = 0;
        for (; i < len && p[i] >= '0' && p[i] <= '9'; ++i) {
            if (i >= 15) return false;
            value = value * 10 + (p[i] - '0');
        }
        if (i == 0) return false;
        if (i < len) {
            if (p[i] != '.' || i + 1 == len) return false;
            for (++i; i < len; ++i)
                if (p[i] != '0') return false;
        }
        out = static_cast<double>(value);
        return true;
    }

    static constexpr int kHints = 32;
    signed char hint_[kHints] = {};

    void adopt(PyObject* entry) {
        adopted_ = true;
        Py_ssize_t pos = 0;
        PyObject *k, *v;
        // Comparing ready exact str objects runs no Python code, so the walk
        // cannot see the dict change under it.
        while (PyDict_Next(entry, &pos, &k, &v)) {
            if (!PyUnicode_CheckExact(k) || !text_ready(k)) {
                PyErr_Clear();
                continue;
            }
            for (int i = 0; i < kNumKeys; ++i) {
                if (keys_[i] == names.key[i] && k != names.key[i] && same_text(k, names.key[i])) {
                    owned_[i] = Ref::borrow(k);
                    keys_[i] = k;
                    break;
                }
            }
        }
    }

    PyObject* keys_[kNumKeys];
    Ref owned_[kNumKeys];
    bool adopted_ = false;
    Ref last_text_, last_float_;
};

// "{a}{b}...".format(**entry) for the named fields `fields`.
template <size_t N>
PyObject* symbol_of(EntryReader& rd, PyObject* entry, const Key (&fields)[N]) {
    rd.prepare(entry);
    Ref kw = Ref::steal(http::kwargs_of(entry, http::kFormatFn));
    if (!kw) return nullptr;
    Ref parts[N];
    PyObject* raw[N];
    for (size_t i = 0; i < N; ++i) {
        Ref f = Ref::steal(http::field(kw.get(), rd.key(fields[i])));
        if (!f) return nullptr;
        parts[i] = Ref::steal(format_field(f.get(), names.empty));
        if (!parts[i]) return nullptr;
        raw[i] = parts[i].get();
    }
    return http::concat(raw);
}

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

// The stock description of one entry, or null with an exception set.
PyObject* stock_desc(EntryReader& rd, PyObject* entry) {
    const Names& n = names;
    Ref f[kNumKeys];
    if (rd.scan(entry, {kExchange, kCode, kName, kIndustry}, f)) {
        Ref symbol = Ref::steal(http::concat({f[kExchange].get(), f[kCode].get()}));
        if (!symbol) return nullptr;
        Ref name = Ref::steal(http::strip_char(f[kName].get(), ' ', n.blank, n.strip, true));
        if (!name) return nullptr;
        PyObject* const kv[] = {n.symbol, symbol.get(), n.exchange, f[kExchange].get(), n.code, f[kCode].get(),
                                n.name,   name.get(),   n.category, f[kIndustry].get()};
        return from_template(n.stock_template, kv);
    }
    Ref symbol = Ref::steal(symbol_of(rd, entry, {kExchange, kCode}));
    if (!symbol) return nullptr;
    Ref exchange = Ref::steal(rd.item(entry, kExchange));
    if (!exchange) return nullptr;
    Ref code = Ref::steal(rd.item(entry, kCode));
    if (!code) return nullptr;
    Ref raw_name = Ref::steal(rd.item(entry, kName));
    if (!raw_name) return nullptr;
    Ref name = Ref::steal(http::strip_char(raw_name.get(), ' ', n.blank, n.strip, true));
    if (!name) return nullptr;
    Ref industry = Ref::steal(rd.item(entry, kIndustry));
    if (!industry) return nullptr;
    PyObject* const kv[] = {n.symbol, symbol.get(), n.exchange, exchange.get(), n.code, code.get(),
                            n.name,   name.get(),   n.category, industry.get()};
    return from_template(n.stock_template, kv);
}

// The strike text of an option symbol: the entry's eprice without its trailing
// zeros and then its trailing dots when it ends in ".0", otherwise unchanged.
// The text is probed with get("eprice", "") and then read by key, so an entry
// without eprice fails with KeyError('eprice').
PyObject* normalised_strike(EntryReader& rd, PyObject* entry) {
    const Names& n = names;
    Ref eprice;
    int ends;
    if (PyDict_CheckExact(entry)) {
        eprice = Ref::steal(rd.item(entry, kEprice));
        if (!eprice) return nullptr;
        ends = http::endswith(eprice.get(), n.dot_zero, n.endswith);
        if (ends < 0) return nullptr;
        // endswith() of a str runs no Python code, so reading the key again
        // would give the same object; anything else may have changed the entry.
        if (!PyUnicode_CheckExact(eprice.get())) eprice = Ref::steal(rd.item(entry, kEprice));
    } else {
        rd.prepare(entry);
        Ref probe = Ref::steal(http::get(entry, n.get, rd.key(kEprice), n.empty));
        if (!probe) return nullptr;
        ends = http::endswith(probe.get(), n.dot_zero, n.endswith);
        if (ends < 0) return nullptr;
        eprice = Ref::steal(rd.item(entry, kEprice));
    }
    if (!eprice) return nullptr;
    if (!ends) return eprice.release();
    Ref no_zeros = Ref::steal(http::strip_char(eprice.get(), '0', n.zero_char, n.rstrip, false));
    if (!no_zeros) return nullptr;
    return http::strip_char(no_zeros.get(), '.', n.dot, n.rstrip, false);
}

// "{category}{deliverymonth}{poc}{eprice}" filled from a copy of the entry
// whose eprice is the normalised strike.
PyObject* option_symbol(EntryReader& rd, PyObject* entry) {
    Ref strike = Ref::steal(normalised_strike(rd, entry));
    if (!strike) return nullptr;
    // An exact dict entry is read in place: only eprice differs in the copy.
    Ref kw;
    if (PyDict_CheckExact(entry)) {
        kw = Ref::borrow(entry);
    } else {
        kw = Ref::steal(http::kwargs_copy(entry, http::kFormatFn));
        if (!kw || PyDict_SetItem(kw.get(), rd.key(kEprice), strike.get()) < 0) return nullptr;
    }
    const Key fields[] = {kCategory, kDeliverymonth, kPoc};
    Ref parts[4];
    for (int i = 0; i < 3; ++i) {
        Ref f = Ref::steal(http::field(kw.get(), rd.key(fields[i])));
        if (!f) return nullptr;
        parts[i] = Ref::steal(format_field(f.get(), names.empty));
        if (!parts[i]) return nullptr;
    }
    parts[3] = Ref::steal(format_field(strike.get(), names.empty));
    if (!parts[3]) return nullptr;
    return http::concat({parts[0].get(), parts[1].get(), parts[2].get(), parts[3].get()});
}

// The future (is_option false) or option description of one entry.
// The description of an entry that scan() accepted (all fields exact str).
template <bool is_option>
using FutoptRun = RunTemplate<is_option ? 20 : 16>;

template <bool is_option>
PyObject* futopt_desc_scanned(EntryReader& rd, FutoptRun<is_option>& run, Ref (&f)[kNumKeys]) {
    const Names& n = names;
    Ref symbol;
    if (is_option) {
        // The strike text is the eprice without its trailing zeros and then
        // its trailing dots when it ends in ".0": an ASCII eprice is cut
        // where those end instead of making the stripped text first.
        PyObject* eprice = f[kEprice].get();
        const Py_ssize_t len = PyUnicode_GET_LENGTH(eprice);
        const bool ends = len >= 2 && PyUnicode_READ_CHAR(eprice, len - 1) == '0' &&
                          PyUnicode_READ_CHAR(eprice, len - 2) == '.';
        if (PyUnicode_IS_ASCII(eprice)) {
            const Py_ssize_t cut = ends ? http::rstrip_len(eprice, '.', http::rstrip_len(eprice, '0', len)) : len;
            PyObject* const parts[] = {f[kCategory].get(), f[kDeliverymonth].get(), f[kPoc].get(), eprice};
            const Py_ssize_t lens[] = {PyUnicode_GET_LENGTH(parts[0]), PyUnicode_GET_LENGTH(parts[1]),
                                       PyUnicode_GET_LENGTH(parts[2]), cut};
            symbol = Ref::steal(http::concat_prefixes(parts, lens));
        } else {
            Ref strike;
            if (ends) {
                Ref no_zeros = Ref::steal(http::strip_char(eprice, '0', n.zero_char, n.rstrip, false));
                if (!no_zeros) return nullptr;
                strike = Ref::steal(http::strip_char(no_zeros.get(), '.', n.dot, n.rstrip, false));
            } else {
                strike = Ref::borrow(eprice);
            }
            if (!strike) return nullptr;
            symbol = Ref::steal(
                http::concat({f[kCategory].get(), f[kDeliverymonth].get(), f[kPoc].get(), strike.get()}));
        }
    } else {
        symbol = Ref::steal(http::concat({f[kEname].get(), f[kDeliverymonth].get()}));
    }
    if (!symbol) return nullptr;
    Ref unit = Ref::steal(rd.to_float(f[kBasic].get()));
    if (!unit) return nullptr;
    if constexpr (is_option) {
        PyObject* const kv[] = {n.symbol,          symbol.get(),         n.code,            f[kCode].get(),
                                n.name,            f[kCsname].get(),     n.category,        f[kCategory].get(),
                                n.delivery_month,  f[kDeliverymonth].get(), n.strike_price, f[kEprice].get(),
                                n.option_right,    f[kPoc].get(),        n.underlying_kind, f[kProdKind].get(),
                                n.underlying_code, f[kOstock].get(),     n.unit,            unit.get()};
        return run.make(n.option_template, kv);
    } else {
        PyObject* const kv[] = {n.symbol,          symbol.get(),      n.code,            f[kCode].get(),
                                n.name,            f[kCsname].get(),  n.category,        f[kCategory].get(),
                                n.delivery_month,  f[kDeliverymonth].get(), n.underlying_kind, f[kProdKind].get(),
                                n.underlying_code, f[kOstock].get(),  n.unit,            unit.get()};
        return run.make(n.future_template, kv);
    }
}

template <bool is_option>
PyObject* futopt_desc(EntryReader& rd, FutoptRun<is_option>& run, PyObject* entry) {
    const Names& n = names;
    {
        Ref f[kNumKeys];
        const bool scanned =
            is_option ? rd.scan(entry, {kCategory, kDeliverymonth, kPoc, kEprice, kCode, kCsname, kProdKind,
                                        kOstock, kBasic}, f)
                      : rd.scan(entry, {kEname, kDeliverymonth, kCode, kCsname, kCategory, kProdKind, kOstock,
                                        kBasic}, f);
        if (scanned) return futopt_desc_scanned<is_option>(rd, run, f);
    }
    Ref symbol = Ref::steal(is_option ? option_symbol(rd, entry)
                                      : symbol_of(rd, entry, {kEname, kDeliverymonth}));
    if (!symbol) return nullptr;
    Ref code = Ref::steal(rd.item(entry, kCode));
    if (!code) return nullptr;
    Ref name = Ref::steal(rd.item(entry, kCsname));
    if (!name) return nullptr;
    Ref category = Ref::steal(rd.item(entry, kCategory));
    if (!category) return nullptr;
    Ref month = Ref::steal(rd.item(entry, kDeliverymonth));
    if (!month) return nullptr;
    Ref strike, right;
    if (is_option) {
        strike = Ref::steal(rd.item(entry, kEprice));
        if (!strike) return nullptr;
        right = Ref::steal(rd.item(entry, kPoc));
        if (!right) return nullptr;
    }
    Ref kind = Ref::steal(rd.item(entry, kProdKind));
    if (!kind) return nullptr;
    Ref ostock = Ref::steal(rd.item(entry, kOstock));
    if (!ostock) return nullptr;
    Ref basic = Ref::steal(rd.item(entry, kBasic));
    if (!basic) return nullptr;
    Ref unit = Ref::steal(rd.to_float(basic.get()));
    if (!unit) return nullptr;

    if (is_option) {
        PyObject* const kv[] = {n.symbol,          symbol.get(),  n.code,            code.get(),
                                n.name,            name.get(),    n.category,        category.get(),
                                n.delivery_month,  month.get(),   n.strike_price,    strike.get(),
                                n.option_right,    right.get(),   n.underlying_kind, kind.get(),
                                n.underlying_code, ostock.get(),  n.unit,            unit.get()};
        return from_template(n.option_template, kv);
    }
    PyObject* const kv[] = {n.symbol,          symbol.get(), n.code,            code.get(),
                            n.name,            name.get(),   n.category,        category.get(),
                            n.delivery_month,  month.get(),  n.underlying_kind, kind.get(),
                            n.underlying_code, ostock.get(), n.unit,            unit.get()};
    return from_template(n.future_template, kv);
}

template <bool is_option>
PyObject* futopt_convert(PyObject* contracts) {
    EntryReader rd;
    FutoptRun<is_option> run;
    Ref result = Ref::steal(PyDict_New());
    if (!result) return nullptr;
    const bool ok = http::for_each_item(contracts, names.items, [&](PyObject* product, PyObject* entries) {
        Ref group;  // the product's list, found or made at its first entry
        return http::for_each(entries, [&](PyObject* entry) {
            Ref desc = Ref::steal(futopt_desc<is_option>(rd, run, entry));
            if (!desc) return false;
            if (!group) {
                // Looked up for each product, so a name that comes back (from a
                // mapping whose items() repeats it) keeps one list.
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

template <size_t N>
bool make_template(PyObject*& slot, PyObject* const (&kv)[N]) {
    slot = PyDict_New();
    if (!slot) return false;
    for (size_t i = 0; i < N; i += 2)
        if (PyDict_SetItem(slot, kv[i], kv[i + 1]) < 0) return false;
    return true;
}

bool make_templates() {
    Names& n = names;
    PyObject* const none = Py_None;
    PyObject* const stock[] = {n.symbol,   none,  n.security_type, n.STK, n.currency, n.TWD,
                               n.exchange, none,  n.code,          none,  n.name,     none,
                               n.category, none};
    PyObject* const future[] = {n.symbol,          none,   n.security_type,   n.FUT,
                                n.currency,        n.TWD,  n.exchange,        n.TAIFEX,
                                n.code,            none,   n.name,            none,
                                n.category,        none,   n.delivery_month,  none,
                                n.strike_price,    n.zero, n.option_right,    n.empty,
                                n.underlying_kind, none,   n.underlying_code, none,
                                n.unit,            none,   n.multiplier,      n.zero};
    PyObject* const option[] = {n.symbol,          none,   n.security_type,   n.OPT,
                                n.currency,        n.TWD,  n.exchange,        n.TAIFEX,
                                n.code,            none,   n.name,            none,
                                n.category,        none,   n.delivery_month,  none,
                                n.strike_price,    none,   n.option_right,    none,
                                n.underlying_kind, none,   n.underlying_code, none,
                                n.unit,            none,   n.multiplier,      n.zero};
    PyObject* const index[] = {n.symbol,   none, n.security_type, n.IND, n.currency, n.TWD,
                               n.exchange, none, n.code,          none,  n.name,     none};
    return make_template(n.stock_template, stock) && make_template(n.future_template, future) &&
           make_template(n.option_template, option) && make_template(n.index_template, index);
}

}  // namespace

bool init_names() {
    Names& n = names;
    if (!n.init()) return false;
    PyObject* const keys[] = {n.exchange, n.code,   n.name,      n.industry, n.ename,
                              n.deliverymonth, n.csname, n.category, n.prod_kind, n.ostock,
                              n.basic,    n.poc,    n.eprice};
    static_assert(sizeof(keys) / sizeof(keys[0]) == kNumKeys, "one text per entry key");
    for (int k = 0; k < kNumKeys; ++k) n.key[k] = keys[k];
    n.zero = PyLong_FromLong(0);
    if (!n.zero) return false;
    // The code table of the index list: first character of a code -> exchange.
    n.index_codes = PyDict_New();
    if (!n.index_codes || PyDict_SetItem(n.index_codes, n.zero_char, n.TSE) < 0 ||
        PyDict_SetItem(n.index_codes, n.one_char, n.OTC) < 0)
        return false;
    return make_templates();
}

PyObject* stock_dict_convert(PyObject*, PyObject* contracts) {
    return guarded([&]() -> PyObject* {
        EntryReader rd;
        Ref result = Ref::steal(PyDict_New());
        if (!result) return nullptr;
        const bool ok = http::for_each(contracts, [&](PyObject* entry) {
            Ref desc = Ref::steal(stock_desc(rd, entry));
            if (!desc) return false;
            // The group key is the description's exchange, read from the entry;
            // held, as finding its group may run its __hash__ and __eq__.
            Ref exchange = Ref::borrow(PyDict_GetItemWithError(desc.get(), names.exchange));
            return exchange && append_grouped(result.get(), exchange.get(), desc.get());
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
                if (!text_ready(code)) return false;
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
            // The group is held while the description is made: formatting the
            // code runs Python code, which can reach the result (the garbage
            // collector lists it) and change it. The group found first is the
            // one appended to, as `ret[exchange].append(...)` does.
            Ref group = Ref::borrow(PyDict_GetItemWithError(result.get(), exchange));
            if (!group) {
                if (!PyErr_Occurred()) http::set_key_error(exchange);
                return false;
            }
            Ref code_text = Ref::steal(format_field(code, n.empty));
            if (!code_text) return false;
            Ref symbol = Ref::steal(http::concat({exchange, code_text.get()}));
            if (!symbol) return false;
            PyObject* const kv[] = {n.symbol, symbol.get(), n.exchange, exchange,
                                    n.code,   code,         n.name,     name};
            Ref d = Ref::steal(from_template(n.index_template, kv));
            return d && PyList_Append(group.get(), d.get()) == 0;
        });
        return ok ? result.release() : nullptr;
    });
}

}  // namespace http
}  // namespace orvane
