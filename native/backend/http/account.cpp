// orvane.backend.http.account: one record class per account query.
//
// Constructing a record stores its query parameters as instance attributes
// and runs the query at once through `self.update()`; update() calls the
// query function (found in the module namespace at each call, so a function
// bound there later is the one that runs), then keeps the success flag, the
// service's message and the payload. The six classes differ only in their
// parameters, their query call, their payload and their text form, which the
// table `kRecords` describes; the methods are templates over that table.
#include "backend/http/account_docs.h"
#include "backend/http/mapping.h"
#include "backend/http/str_methods.h"
#include "common/args.h"
#include "common/classes.h"
#include "common/names.h"
#include "common/text.h"

#include <string>
#include <utility>
#include <vector>

namespace orvane {
namespace http {
namespace {

enum class Payload { Body, BodyList, Funds, Unreal, Real };
enum class Repr { Paren, TwoLines, NameOnly };

constexpr int kEmptyText = -1;  // an argument of the query call that is ""

struct Record {
    const char* name;
    const char* init_doc;
    Params params;               // constructor parameters after self
    std::vector<int> store;      // parameter indices in the order __init__ stores them
    const char* query;           // query function's name in the module namespace
    std::vector<int> call;       // parameter indices (or kEmptyText) of the query call
    Payload payload;
    bool has_accountid;
    Repr repr;
};

Record kRecords[] = {
    {"AccountMargin", kMarginDoc,
     Params("__init__", {"currency", "margin_type", "account", "client"}, 4, 1), {0, 1, 2, 3},
     "_query_margin", {0, 1, 2, 3}, Payload::Body, false, Repr::Paren},
    {"AccountOpenPosition", kOpenPositionDoc,
     Params("__init__", {"product_type", "query_type", "account", "client"}, 4, 1), {0, 1, 2, 3},
     "_query_open_position", {0, 1, 2, 3}, Payload::BodyList, true, Repr::Paren},
    {"AccountSettleProfitLoss", kSettleProfitLossDoc,
     Params("__init__",
            {"product_type", "summary", "start_date", "end_date", "currency", "account", "client"}, 7, 1),
     {0, 1, 2, 3, 4, 5, 6}, "_query_settle_profitloss", {0, 1, 2, 3, 4, 5, 6}, Payload::BodyList, true,
     Repr::Paren},
    {"AccountFunds", kFundsDoc, Params("__init__", {"tax", "account", "client"}, 3, 1), {0, 2, 1},
     "_query_funds_profitloss", {1, 2, 0}, Payload::Funds, false, Repr::NameOnly},
    {"AccountUnRealProfitLoss", kUnRealProfitLossDoc,
     Params("__init__", {"stock_type", "currency", "action", "account", "client"}, 5, 1), {0, 1, 2, 3, 4},
     "_query_unreal_profitloss", {3, 4, kEmptyText, 0, 1, 2}, Payload::Unreal, false, Repr::TwoLines},
    {"AccountRealProfitLoss", kRealProfitLossDoc,
     Params("__init__",
            {"stock_type", "start_date", "end_date", "currency", "action", "account", "client"}, 7, 1),
     {0, 1, 2, 3, 4, 5, 6}, "_query_real_profitloss", {5, 6, kEmptyText, 0, 1, 2, 3, 4}, Payload::Real,
     false, Repr::TwoLines},
};
constexpr int kNumRecords = sizeof(kRecords) / sizeof(kRecords[0]);

// Interned names, made at module initialisation and kept for the process.
#define ACCOUNT_NAMES(X)                                                                       \
    /* Attributes of the records. */                                                          \
    X(status, "_status") X(msg_attr, "_msg") X(accountid, "_accountid") X(data, "_data")       \
    X(account, "_account") X(class_, "__class__") X(name_, "__name__")                         \
    /* Keys of the replies and of the account's dict(). */                                   \
    X(success, "success") X(result, "result") X(msg, "msg") X(body, "body")                   \
    X(broker_id, "broker_id") X(account_id, "account_id") X(summary, "summary")               \
    X(detail, "detail") X(profit_sums, "profit_sums") X(profit_sum, "profit_sum")             \
    X(profit_details, "profit_details") X(unreal_sums, "unreal_sums")                         \
    X(unreal_sum, "unreal_sum") X(unreal_details, "unreal_details")                           \
    /* Methods called and module-level names looked up at each call. */                      \
    X(get, "get") X(lower, "lower") X(dict, "dict") X(update, "update") X(items, "items")     \
    X(rm_dict_key, "rm_dict_key") X(assimilate_type, "assimilate_type")                       \
    /* Fixed texts. */                                                                        \
    X(true_, "true") X(empty, "") X(lparen, "(") X(rparen, ")") X(newline, "\n")

ORVANE_INTERNED(Names, ACCOUNT_NAMES);
Names names;

// The names made from the record table: "_" + each parameter name (the
// attribute it is stored in) and the query function's name, per record.
PyObject* attr_names[kNumRecords][8];
PyObject* query_names[kNumRecords];

PyObject* module_dict;  // the module's namespace (a strong reference kept for the process)

bool init_names() {
    for (int r = 0; r < kNumRecords; ++r) {
        for (Py_ssize_t i = 0; i < kRecords[r].params.size(); ++i) {
            std::string attr = std::string("_") + kRecords[r].params.name(i);
            if (!intern(attr_names[r][i], attr.c_str())) return false;
        }
        if (!intern(query_names[r], kRecords[r].query)) return false;
    }
    return names.init();
}

// `m.get(key, <new empty dict>)`
PyObject* get_or_dict(PyObject* m, PyObject* key) {
    Ref dflt = Ref::steal(PyDict_New());
    if (!dflt) return nullptr;
    return get(m, names.get, key, dflt.get());
}

// `m.get(key, <new empty list>)`
PyObject* get_or_list(PyObject* m, PyObject* key) {
    Ref dflt = Ref::steal(PyList_New(0));
    if (!dflt) return nullptr;
    return get(m, names.get, key, dflt.get());
}

// `resp.get("success", "").lower() == "true"`
PyObject* success_flag(PyObject* resp) {
    Ref success = Ref::steal(get(resp, names.get, names.success, names.empty));
    if (!success) return nullptr;
    Ref lowered = Ref::steal(call_method(success.get(), names.lower, nullptr, 0));
    if (!lowered) return nullptr;
    const int eq = PyObject_RichCompareBool(lowered.get(), names.true_, Py_EQ);
    if (eq < 0) return nullptr;
    return PyBool_FromLong(eq);
}

// "{broker_id}{account_id}".format(**self._account.dict())
PyObject* account_id_text(PyObject* self) {
    Ref account = Ref::steal(PyObject_GetAttr(self, names.account));
    if (!account) return nullptr;
    Ref mapping = Ref::steal(call_method(account.get(), names.dict, nullptr, 0));
    if (!mapping) return nullptr;
    Ref kw = Ref::steal(kwargs_of(mapping.get(), kFormatFn));
    if (!kw) return nullptr;
    Ref broker = Ref::steal(field(kw.get(), names.broker_id));
    if (!broker) return nullptr;
    Ref broker_text = Ref::steal(format_field(broker.get(), names.empty));
    if (!broker_text) return nullptr;
    Ref acc = Ref::steal(field(kw.get(), names.account_id));
    if (!acc) return nullptr;
    Ref acc_text = Ref::steal(format_field(acc.get(), names.empty));
    if (!acc_text) return nullptr;
    return concat({broker_text.get(), acc_text.get()});
}

// {"summary": [...], "detail": [...]} of a profit-and-loss reply's result.
PyObject* pnl_payload(PyObject* result, PyObject* sums_key, PyObject* sum_key, PyObject* details_key) {
    Ref sums = Ref::steal(get_or_dict(result, sums_key));
    if (!sums) return nullptr;
    Ref entries = Ref::steal(get_or_list(sums.get(), sum_key));
    if (!entries) return nullptr;

    Ref summary = Ref::steal(PyList_New(0));
    if (!summary) return nullptr;
    bool ok = for_each(entries.get(), [&](PyObject* entry) {
        const int has = PySequence_Contains(entry, details_key);
        if (has <= 0) return has == 0;
        PyObject* args[2] = {entry, details_key};
        Ref trimmed = Ref::steal(call_global(module_dict, names.rm_dict_key, args, 2));
        return trimmed && PyList_Append(summary.get(), trimmed.get()) == 0;
    });
    if (!ok) return nullptr;

    Ref detail = Ref::steal(PyList_New(0));
    if (!detail) return nullptr;
    ok = for_each(entries.get(), [&](PyObject* entry) {
        const int has = PySequence_Contains(entry, details_key);
        if (has <= 0) return has == 0;
        Ref details = Ref::steal(getitem(entry, details_key));
        if (!details) return false;
        return for_each_item(details.get(), names.items, [&](PyObject*, PyObject* value) {
            Ref rows = Ref::steal(call_global(module_dict, names.assimilate_type, &value, 1));
            if (!rows) return false;
            return for_each(rows.get(),
                                  [&](PyObject* row) { return PyList_Append(detail.get(), row) == 0; });
        });
    });
    if (!ok) return nullptr;

    Ref data = Ref::steal(PyDict_New());
    if (!data || PyDict_SetItem(data.get(), names.summary, summary.get()) < 0 ||
        PyDict_SetItem(data.get(), names.detail, detail.get()) < 0)
        return nullptr;
    return data.release();
}

PyObject* payload(Payload kind, PyObject* result) {
    const Names& n = names;
    switch (kind) {
    case Payload::Body:
        return get_or_dict(result, n.body);
    case Payload::BodyList: {
        Ref one = Ref::steal(PyDict_New());
        if (!one) return nullptr;
        Ref dflt = Ref::steal(PyList_New(1));
        if (!dflt) return nullptr;
        PyList_SET_ITEM(dflt.get(), 0, one.release());
        return get(result, n.get, n.body, dflt.get());
    }
    case Payload::Funds: {
        Ref sums = Ref::steal(get_or_dict(result, n.profit_sums));
        if (!sums) return nullptr;
        return get_or_list(sums.get(), n.profit_sum);
    }
    case Payload::Unreal:
        return pnl_payload(result, n.unreal_sums, n.unreal_sum, n.unreal_details);
    case Payload::Real:
        return pnl_payload(result, n.profit_sums, n.profit_sum, n.profit_details);
    }
    return nullptr;
}

template <int R>
PyObject* record_update(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("update", {}, 0, 1);
        if (!params.parse(nullptr, nargs, kwnames, nullptr)) return nullptr;
        const Record& rec = kRecords[R];
        const Names& n = names;

        std::vector<Ref> values;
        values.reserve(rec.call.size());
        std::vector<PyObject*> args;
        for (int idx : rec.call) {
            values.push_back(idx == kEmptyText ? Ref::borrow(n.empty)
                                               : Ref::steal(PyObject_GetAttr(self, attr_names[R][idx])));
            if (!values.back()) return nullptr;
            args.push_back(values.back().get());
        }
        Ref resp = Ref::steal(call_global(module_dict, query_names[R], args.data(), args.size()));
        if (!resp) return nullptr;

        Ref status = Ref::steal(success_flag(resp.get()));
        if (!status || PyObject_SetAttr(self, n.status, status.get()) < 0) return nullptr;
        Ref result = Ref::steal(get_or_dict(resp.get(), n.result));
        if (!result) return nullptr;
        Ref msg = Ref::steal(get(result.get(), n.get, n.msg, n.empty));
        if (!msg || PyObject_SetAttr(self, n.msg_attr, msg.get()) < 0) return nullptr;
        if (rec.has_accountid) {
            Ref id = Ref::steal(account_id_text(self));
            if (!id || PyObject_SetAttr(self, n.accountid, id.get()) < 0) return nullptr;
        }
        Ref data = Ref::steal(payload(rec.payload, result.get()));
        if (!data || PyObject_SetAttr(self, n.data, data.get()) < 0) return nullptr;
        Py_RETURN_NONE;
    });
}

template <int R>
PyObject* record_init(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Record& rec = kRecords[R];
        Args<8> a;
        if (!rec.params.parse(args, nargs, kwnames, a)) return nullptr;
        for (int idx : rec.store)
            if (PyObject_SetAttr(self, attr_names[R][idx], a[idx]) < 0) return nullptr;
        Ref r = Ref::steal(call_method(self, names.update, nullptr, 0));
        if (!r) return nullptr;
        Py_RETURN_NONE;
    });
}

template <int R>
PyObject* record_repr(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("__repr__", {}, 0, 1);
        if (!params.parse(nullptr, nargs, kwnames, nullptr)) return nullptr;
        const Names& n = names;
        Ref cls = Ref::steal(PyObject_GetAttr(self, n.class_));
        if (!cls) return nullptr;
        Ref cls_name = Ref::steal(PyObject_GetAttr(cls.get(), n.name_));
        if (!cls_name) return nullptr;
        Ref name_text = Ref::steal(PyObject_Format(cls_name.get(), n.empty));
        if (!name_text) return nullptr;
        if (kRecords[R].repr == Repr::NameOnly) return name_text.release();
        Ref account = Ref::steal(PyObject_GetAttr(self, n.account));
        if (!account) return nullptr;
        Ref account_text = Ref::steal(PyObject_Format(account.get(), n.empty));
        if (!account_text) return nullptr;
        if (kRecords[R].repr == Repr::TwoLines)
            return concat({name_text.get(), n.newline, account_text.get()});
        return concat({name_text.get(), n.lparen, account_text.get(), n.rparen});
    });
}

template <int R>
PyObject* record_data(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("data", {}, 0, 1);
        if (!params.parse(nullptr, nargs, kwnames, nullptr)) return nullptr;
        return PyObject_GetAttr(self, names.data);
    });
}

// The four methods of each record class (static storage: the descriptors
// point at these definitions for the life of the process).
Method record_methods[kNumRecords][5];

template <int R>
void fill_methods() {
    Method* m = record_methods[R];
    m[0] = {{"__init__", fast(record_init<R>), kFastKw, kRecords[R].init_doc}, Kind::Instance};
    m[1] = {{"update", fast(record_update<R>), kFastKw, "update($self)\n--\n\n"}, Kind::Instance};
    m[2] = {{"__repr__", fast(record_repr<R>), kFastKw, "__repr__($self)\n--\n\n"}, Kind::Instance};
    m[3] = {{"data", fast(record_data<R>), kFastKw, "data($self)\n--\n\n"}, Kind::Instance};
    m[4] = {{nullptr, nullptr, 0, nullptr}, Kind::Instance};
}

template <int... R>
void fill_all(std::integer_sequence<int, R...>) {
    (fill_methods<R>(), ...);
}

bool add_record(PyObject* module, int r) {
    Ref bases = Ref::steal(make_bases());
    Ref ns = Ref::steal(PyDict_New());
    if (!bases || !ns) return false;
    return bind(module, kRecords[r].name,
                make_class(module, kRecords[r].name, bases.get(), ns.get(), record_methods[r]));
}

// rm_dict_key(d, *args): a copy of `d` without the given keys.
PyObject* rm_dict_key(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        const Py_ssize_t nargs = PyVectorcall_NARGS(static_cast<size_t>(nargsf));
        // `d` is held: copying a mapping runs its keys() and __getitem__,
        // which can free a keyword value borrowed from the caller's dict.
        Ref d = Ref::borrow(nargs ? args[0] : nullptr);
        if (kwnames) {
            for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
                PyObject* key = PyTuple_GET_ITEM(kwnames, k);
                if (!PyUnicode_Check(key)) {
                    PyErr_SetString(PyExc_TypeError, "keywords must be strings");
                    return nullptr;
                }
                if (PyUnicode_CompareWithASCIIString(key, "d") != 0) {
                    PyErr_Format(PyExc_TypeError, "rm_dict_key() got an unexpected keyword argument '%U'",
                                 key);
                    return nullptr;
                }
                if (d) {
                    PyErr_SetString(PyExc_TypeError, "rm_dict_key() got multiple values for argument 'd'");
                    return nullptr;
                }
                d = Ref::borrow(args[nargs + k]);
            }
        }
        if (!d) {
            PyErr_SetString(PyExc_TypeError, "rm_dict_key() missing 1 required positional argument: 'd'");
            return nullptr;
        }
        Ref copy = Ref::steal(kwargs_copy(d.get(), "dict()"));
        if (!copy) return nullptr;
        for (Py_ssize_t i = 1; i < nargs; ++i)
            if (PyDict_DelItem(copy.get(), args[i]) < 0) return nullptr;
        return copy.release();
    });
}

// assimilate_type(details): [details] for a dict, otherwise details itself.
PyObject* assimilate_type(PyObject*, PyObject* details) {
    if (!PyDict_Check(details)) return new_ref(details);
    PyObject* one = PyList_New(1);
    if (one) PyList_SET_ITEM(one, 0, new_ref(details));
    return one;
}

PyMethodDef functions[] = {
    {"rm_dict_key", fast(rm_dict_key), kFastKw, "rm_dict_key($module, d, *args)\n--\n\n"},
    {"assimilate_type", assimilate_type, METH_O, "assimilate_type($module, details, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "orvane.backend.http.account", nullptr, -1, nullptr,
    nullptr,               nullptr,                       nullptr, nullptr,
};

PyObject* init_module() {
    if (!init_names()) return nullptr;
    fill_all(std::make_integer_sequence<int, kNumRecords>{});
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
    module_dict = new_ref(PyModule_GetDict(module.get()));
    if (!import_from(module.get(), "orvane.backend.http.futureoption.account",
                     {"_query_margin", "_query_open_position", "_query_settle_profitloss"}) ||
        !import_from(module.get(), "orvane.backend.http.stock.account",
                     {"_query_funds_profitloss", "_query_real_profitloss", "_query_unreal_profitloss"}))
        return nullptr;
    Ref modname = Ref::steal(PyUnicode_FromString(module_def.m_name));
    if (!modname) return nullptr;
    auto add_function = [&](PyMethodDef* def) {
        return bind(module.get(), def->ml_name, PyCFunction_NewEx(def, module.get(), modname.get()));
    };
    // Definition order: four records, the two helpers, the two profit-and-loss records.
    for (int r = 0; r < 4; ++r)
        if (!add_record(module.get(), r)) return nullptr;
    if (!add_function(&functions[0]) || !add_function(&functions[1])) return nullptr;
    for (int r = 4; r < kNumRecords; ++r)
        if (!add_record(module.get(), r)) return nullptr;
    return module.release();
}

}  // namespace
}  // namespace http
}  // namespace orvane

ORVANE_MODINIT PyInit_account(void) {
    return orvane::guarded([] { return orvane::http::init_module(); });
}
