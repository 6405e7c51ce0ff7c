// Topic rules. Every name the rules compare against (QuoteType, QuoteVersion,
// Exchange and the contract classes) is read from the module namespace at
// each call, and every comparison is Python's `==` followed by a truth test,
// so the host package's enumerations decide equality. Refusals raise the
// built-in Exception with the texts below.
#include "backend/solace/topics.h"

#include "backend/solace/module_state.h"
#include "common/args.h"
#include "common/classes.h"
#include "common/text.h"

namespace orvane {
namespace solace {
namespace {

// `value == <Enum>.<member>` with both names read from the module now.
// Returns 1, 0, or -1 with an exception set.
int equals(PyObject* value, PyObject* enum_name, PyObject* member) {
    Ref e = state.global_ref(enum_name);
    if (!e) return -1;
    Ref m = Ref::steal(PyObject_GetAttr(e.get(), member));
    if (!m) return -1;
    Ref r = Ref::steal(PyObject_RichCompare(value, m.get(), Py_EQ));
    if (!r) return -1;
    return PyObject_IsTrue(r.get());
}

// `contract.exchange == Exchange.<member>`, reading contract.exchange afresh.
int exchange_is(PyObject* contract, PyObject* member) {
    Ref ex = Ref::steal(PyObject_GetAttr(contract, state.names.exchange));
    if (!ex) return -1;
    return equals(ex.get(), state.names.Exchange, member);
}

// isinstance(contract, <class named `cls_name` in the module>)
int is_a(PyObject* contract, PyObject* cls_name) {
    Ref cls = state.global_ref(cls_name);
    return cls ? PyObject_IsInstance(contract, cls.get()) : -1;
}

// Raises Exception(prefix + format(obj) + " not support.").
PyObject* refuse(const char* prefix, PyObject* obj) {
    Ref text = Ref::steal(format_field(obj, state.names.empty));
    if (!text) return nullptr;
    Ref msg = Ref::steal(PyUnicode_FromFormat("%s%U not support.", prefix, text.get()));
    if (msg) PyErr_SetObject(PyExc_Exception, msg.get());
    return nullptr;
}

// The market segment of a version-1 or version-2 topic: contract.exchange
// compared with Exchange.TSE, Exchange.TAIFEX (only when `taifex`; "OPT" for
// an Option, else "TFE"), Exchange.OTC and Exchange.OES, in that order.
// Null with an exception set, the exchange error when none matches.
const char* market(PyObject* contract, bool taifex) {
    struct Market {
        PyObject* exchange;
        const char* segment;  // null: the TAIFEX rule
    };
    const Market markets[] = {{state.names.TSE, "TSE"}, {state.names.TAIFEX, nullptr},
                              {state.names.OTC, "OTC"}, {state.names.OES, "OES"}};
    for (const Market& m : markets) {
        if (!m.segment && !taifex) continue;
        const int r = exchange_is(contract, m.exchange);
        if (r < 0) return nullptr;
        if (!r) continue;
        if (m.segment) return m.segment;
        const int option = is_a(contract, state.names.Option);
        if (option < 0) return nullptr;
        return option ? "OPT" : "TFE";
    }
    Ref ex = Ref::steal(PyObject_GetAttr(contract, state.names.exchange));
    if (ex) refuse("Exchange: ", ex.get());
    return nullptr;
}

// "{}/{}/..." filled with texts `lead` (joined by "/") and then format() of
// each object in `tail`.
PyObject* join_topic(std::initializer_list<const char*> lead, std::initializer_list<PyObject*> tail,
                     const char* suffix = nullptr) {
    Ref parts = Ref::steal(PyList_New(0));
    if (!parts) return nullptr;
    for (const char* t : lead) {
        Ref s = Ref::steal(PyUnicode_FromString(t));
        if (!s || PyList_Append(parts.get(), s.get()) < 0) return nullptr;
    }
    for (PyObject* o : tail) {
        Ref s = Ref::steal(format_field(o, state.names.empty));
        if (!s || PyList_Append(parts.get(), s.get()) < 0) return nullptr;
    }
    if (suffix) {
        Ref s = Ref::steal(PyUnicode_FromString(suffix));
        if (!s || PyList_Append(parts.get(), s.get()) < 0) return nullptr;
    }
    return PyUnicode_Join(state.names.slash, parts.get());
}

// The version-0 rules of contract2topic.
PyObject* v0_topic(PyObject* contract, PyObject* quote_type, PyObject* intraday_odd) {
    Ref symbol_code = Ref::steal(PyObject_GetAttr(contract, state.names.code));
    if (!symbol_code) return nullptr;
    enum { FOP, STK, IDX } row;
    int r = is_a(contract, state.names.Future);
    if (r == 0) r = is_a(contract, state.names.Option);
    if (r < 0) return nullptr;
    if (r) {
        row = FOP;
    } else if ((r = is_a(contract, state.names.Stock)) != 0) {
        if (r < 0) return nullptr;
        row = STK;
    } else if ((r = is_a(contract, state.names.Index)) != 0) {
        if (r < 0) return nullptr;
        row = IDX;
    } else {
        return refuse("Contract: ", contract);
    }
    bool tick;
    if ((r = equals(quote_type, state.names.QuoteType, state.names.Tick)) != 0) {
        if (r < 0) return nullptr;
        tick = true;
    } else if ((r = equals(quote_type, state.names.QuoteType, state.names.Depth)) != 0) {
        if (r < 0) return nullptr;
        tick = false;
    } else {
        return refuse("Quote Type: ", quote_type);
    }
    if (row == FOP) return join_topic({tick ? "L" : "Q", "*"}, {symbol_code.get()});
    Ref exchange = Ref::steal(PyObject_GetAttr(contract, state.names.exchange));
    if (!exchange) return nullptr;
    if (row == IDX) return join_topic({tick ? "I" : "O"}, {exchange.get(), symbol_code.get()});
    const int odd = PyObject_IsTrue(intraday_odd);
    if (odd < 0) return nullptr;
    if (odd)
        return join_topic({tick ? "TIC" : "QUO", "v2", "*"}, {exchange.get(), symbol_code.get()},
                          "ODDLOT");
    return join_topic({tick ? "MKT" : "QUT", "*"}, {exchange.get(), symbol_code.get()});
}

const char* const kArgs3[] = {"contract", "quote_type", "intraday_odd"};

PyObject* v1contract2topic(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("v1contract2topic", {kArgs3[0], kArgs3[1], kArgs3[2]}, 3);
        Args<3> a;
        if (!params.parse(args, nargs, kwnames, a)) return nullptr;
        PyObject *contract = a[0], *quote_type = a[1], *intraday_odd = a[2];
        Ref symbol_code = Ref::steal(PyObject_GetAttr(contract, state.names.code));
        if (!symbol_code) return nullptr;
        const char* topic_l1;
        const char* ver = "v1";
        int r;
        if ((r = equals(quote_type, state.names.QuoteType, state.names.Tick)) != 0) {
            if (r < 0) return nullptr;
            topic_l1 = "TIC";
        } else if ((r = equals(quote_type, state.names.QuoteType, state.names.Depth)) != 0) {
            if (r < 0) return nullptr;
            topic_l1 = "QUO";
        } else if ((r = equals(quote_type, state.names.QuoteType, state.names.Quote)) != 0) {
            if (r < 0) return nullptr;
            topic_l1 = "QUO";
            ver = "v2";
        } else {
            return refuse("Quote Type: ", quote_type);
        }
        const char* topic_l3;
        r = is_a(contract, state.names.Future);
        if (r == 0) r = is_a(contract, state.names.Option);
        if (r < 0) return nullptr;
        if (r) {
            topic_l3 = "FOP";
        } else if ((r = is_a(contract, state.names.Stock)) != 0) {
            if (r < 0) return nullptr;
            const int odd = PyObject_IsTrue(intraday_odd);
            if (odd < 0) return nullptr;
            topic_l3 = odd ? "ODD" : "STK";
        } else {
            return refuse("Contract: ", contract);
        }
        const char* topic_exchange = market(contract, true);
        if (!topic_exchange) return nullptr;
        return join_topic({topic_l1, ver, topic_l3, "*", topic_exchange}, {symbol_code.get()});
    });
}

PyObject* v2contract2topic(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("v2contract2topic", {kArgs3[0], kArgs3[1], kArgs3[2]}, 3);
        Args<3> a;
        if (!params.parse(args, nargs, kwnames, a)) return nullptr;
        PyObject *contract = a[0], *quote_type = a[1];
        Ref symbol_code = Ref::steal(PyObject_GetAttr(contract, state.names.code));
        if (!symbol_code) return nullptr;
        int r = equals(quote_type, state.names.QuoteType, state.names.Depth);
        if (r < 0) return nullptr;
        if (!r) return refuse("Quote Type: ", quote_type);
        r = is_a(contract, state.names.Stock);
        if (r < 0) return nullptr;
        if (!r) return refuse("Contract: ", contract);
        const char* topic_exchange = market(contract, false);
        if (!topic_exchange) return nullptr;
        return join_topic({"QUO", "v2", "STK", "*", topic_exchange}, {symbol_code.get()});
    });
}

PyObject* contract2topic(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("contract2topic", {kArgs3[0], kArgs3[1], kArgs3[2], "version"}, 3);
        Args<4> a;
        if (!params.parse(args, nargs, kwnames, a)) return nullptr;
        PyObject* version = a[3] ? a[3] : state.default_version;
        int r = equals(version, state.names.QuoteVersion, state.names.v0);
        if (r < 0) return nullptr;
        if (r) return v0_topic(a[0], a[1], a[2]);
        r = equals(version, state.names.QuoteVersion, state.names.v1);
        if (r < 0) return nullptr;
        if (r) return call_global(state.dict, state.names.v1contract2topic, a, 3);
        return refuse("QuoteVersion: ", version);
    });
}

PyMethodDef kTopicFunctions[] = {
    {"v1contract2topic", fast(v1contract2topic), kFastKw,
     "v1contract2topic(contract, quote_type, intraday_odd)\n--\n\n"
     "Topic of the version-1 rules: TIC|QUO/v1|v2/STK|ODD|FOP/*/<market>/<code>."},
    {"v2contract2topic", fast(v2contract2topic), kFastKw,
     "v2contract2topic(contract, quote_type, intraday_odd)\n--\n\n"
     "Topic of the version-2 rules (stock bid/ask only): QUO/v2/STK/*/<market>/<code>."},
    {"contract2topic", fast(contract2topic), kFastKw,
     "contract2topic(contract, quote_type, intraday_odd, version=QuoteVersion.v0)\n--\n\n"
     "Topic of `contract` for `quote_type` under the rules of `version` (v0 or v1)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool add_topic_functions(PyObject* module) {
    Ref modname = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    if (!modname) return false;
    for (PyMethodDef* def = kTopicFunctions; def->ml_name; ++def) {
        if (def == &kTopicFunctions[2]) {
            // The default of `version`, fetched once, when the function is defined.
            Ref qv = state.global_ref(state.names.QuoteVersion);
            if (!qv) return false;
            Ref v0 = Ref::steal(PyObject_GetAttr(qv.get(), state.names.v0));
            if (!v0) return false;
            Py_XDECREF(state.default_version);
            state.default_version = v0.release();
        }
        if (!bind(module, def->ml_name, PyCFunction_NewEx(def, module, modname.get())))
            return false;
    }
    return true;
}

}  // namespace solace
}  // namespace orvane
