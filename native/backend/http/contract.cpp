// orvane.backend.http.contract: fetches the lists of tradable products from
// the broker's HTTP service through the service client and converts them into
// dictionaries of contract descriptions.
//
// fetch_available_product finds the request functions, the converters and
// `log` in the module's namespace at each call, so whatever is bound there at
// that moment is what runs (the host package and its tests replace them). The
// object found is held while it runs, as the code it runs may rebind the name.
#include "backend/http/contract_convert.h"
#include "backend/http/contract_names.h"
#include "backend/http/mapping.h"
#include "backend/http/str_methods.h"
#include "common/args.h"
#include "common/classes.h"
#include "common/text.h"

namespace orvane {
namespace http {
namespace {

// Keyword names of the requests, made at module initialisation.
PyObject* futopt_kwnames;  // ("product_type", "detail", "client")
PyObject* json_kwnames;    // ("json",)

bool init_kwnames() {
    futopt_kwnames = Py_BuildValue("(sss)", "product_type", "detail", "client");
    json_kwnames = Py_BuildValue("(s)", "json");
    return futopt_kwnames && json_kwnames;
}

// `log.error(message)`, with `log` looked up in the module namespace now.
bool log_error(PyObject* module, PyObject* message) {
    Ref log = Ref::borrow(global(PyModule_GetDict(module), names.log));
    if (!log) return false;
    Ref r = Ref::steal(call_method(log.get(), names.error, &message, 1));
    return static_cast<bool>(r);
}

// `client.session.<method>` and `client.<uri>`, read in that order.
bool session_call_parts(PyObject* client, PyObject* method, PyObject* uri_name, Ref& bound, Ref& uri) {
    Ref session = Ref::steal(PyObject_GetAttr(client, names.session));
    if (!session) return false;
    bound = Ref::steal(PyObject_GetAttr(session.get(), method));
    if (!bound) return false;
    uri = Ref::steal(PyObject_GetAttr(client, uri_name));
    return static_cast<bool>(uri);
}

// `client.session.get(client.<uri>).json()`
PyObject* get_json(PyObject* client, PyObject* uri_name) {
    Ref get, uri;
    if (!session_call_parts(client, names.get, uri_name, get, uri)) return nullptr;
    Ref reply = Ref::steal(call1(get.get(), uri.get()));
    if (!reply) return nullptr;
    return call_method(reply.get(), names.json, nullptr, 0);
}

PyObject* list_stock_code(PyObject*, PyObject* client) {
    return guarded([&] { return get_json(client, names.s_list_code_uri); });
}

PyObject* list_tw_index_code(PyObject*, PyObject* client) {
    return guarded([&] { return get_json(client, names.index_list_code_uri); });
}

Params futopt_params("_list_futopt_code", {"product_type", "detail", "client"}, 3);

PyObject* list_futopt_code(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args<3> a;
        if (!futopt_params.parse(args, nargs, kwnames, a)) return nullptr;
        PyObject *product_type = a[0], *detail = a[1], *client = a[2];
        const int truth = PyObject_IsTrue(detail);
        if (truth < 0) return nullptr;
        Ref payload = Ref::steal(PyDict_New());
        if (!payload || PyDict_SetItem(payload.get(), names.code, product_type) < 0 ||
            PyDict_SetItem(payload.get(), names.type_key,
                           truth ? names.contract : names.delivery) < 0)
            return nullptr;
        Ref post, uri;
        if (!session_call_parts(client, names.post, names.f_list_code_uri, post, uri)) return nullptr;
        PyObject* call_args[3] = {nullptr, uri.get(), payload.get()};
        Ref reply = Ref::steal(vectorcall(post.get(), call_args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                          json_kwnames));
        if (!reply) return nullptr;
        return call_method(reply.get(), names.json, nullptr, 0);
    });
}

bool is_code(PyObject* product_type, const char* code) {
    return PyUnicode_Check(product_type) && PyUnicode_CompareWithASCIIString(product_type, code) == 0;
}

Params fetch_params("fetch_available_product", {"client", "product_type"}, 2);

PyObject* fetch_available_product(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args<2> a;
        if (!fetch_params.parse(args, nargs, kwnames, a)) return nullptr;
        PyObject *client = a[0], *product_type = a[1];
        const Names& n = names;
        PyObject* md = PyModule_GetDict(self);
        Ref resp, contracts;
        PyObject* converter_name;
        if (is_code(product_type, "S")) {
            resp = Ref::steal(call_global(md, n.list_stock_code, &client, 1));
            if (!resp) return nullptr;
            Ref empty_list = Ref::steal(PyList_New(0));
            if (!empty_list) return nullptr;
            contracts = Ref::steal(get(resp.get(), n.get, n.result, empty_list.get()));
            if (!contracts) return nullptr;
            if (PyDict_Check(contracts.get())) {
                // contracts.get("msg") == "查無資料" means the service has nothing to list
                Ref msg;
                if (PyDict_CheckExact(contracts.get())) {
                    PyObject* m = PyDict_GetItemWithError(contracts.get(), n.msg);
                    if (!m && PyErr_Occurred()) return nullptr;
                    msg = Ref::borrow(m ? m : Py_None);
                } else {
                    msg = Ref::steal(call_method(contracts.get(), n.get, &n.msg, 1));
                    if (!msg) return nullptr;
                }
                const int none = PyObject_RichCompareBool(msg.get(), n.no_data, Py_EQ);
                if (none < 0) return nullptr;
                if (none) contracts = std::move(empty_list);
            }
            converter_name = n.stock_convert;
        } else if (is_code(product_type, "F") || is_code(product_type, "O")) {
            Ref request = Ref::borrow(global(md, n.list_futopt_code));
            if (!request) return nullptr;
            PyObject* call_args[3] = {product_type, Py_True, client};
            resp = Ref::steal(vectorcall(request.get(), call_args, 0, futopt_kwnames));
            if (!resp) return nullptr;
            Ref empty = Ref::steal(PyDict_New());
            if (!empty) return nullptr;
            Ref result = Ref::steal(get(resp.get(), n.get, n.result, empty.get()));
            if (!result) return nullptr;
            empty = Ref::steal(PyDict_New());
            if (!empty) return nullptr;
            contracts = Ref::steal(get(result.get(), n.get, n.content, empty.get()));
            if (!contracts) return nullptr;
            converter_name = is_code(product_type, "F") ? n.future_convert : n.option_convert;
        } else if (is_code(product_type, "I")) {
            resp = Ref::steal(call_global(md, n.list_tw_index_code, &client, 1));
            if (!resp) return nullptr;
            Ref empty = Ref::steal(PyDict_New());
            if (!empty) return nullptr;
            contracts = Ref::steal(get(resp.get(), n.get, n.result, empty.get()));
            if (!contracts) return nullptr;
            converter_name = n.index_convert;
        } else {
            // "Product Type: {} not supported.".format(product_type)
            Ref shown = Ref::steal(PyObject_Format(product_type, n.empty));
            if (!shown) return nullptr;
            Ref message = Ref::steal(concat({n.not_supported_head, shown.get(), n.not_supported_tail}));
            if (!message || !log_error(self, message.get())) return nullptr;
            return PyDict_New();
        }

        Ref success = Ref::steal(get(resp.get(), n.get, n.success, n.empty));
        if (!success) return nullptr;
        Ref lowered = Ref::steal(call_method(success.get(), n.lower, nullptr, 0));
        if (!lowered) return nullptr;
        const int ok = PyObject_RichCompareBool(lowered.get(), n.true_, Py_EQ);
        if (ok < 0) return nullptr;
        if (ok) {
            PyObject* arg = contracts.get();
            return call_global(md, converter_name, &arg, 1);
        }
        if (!log_error(self, resp.get())) return nullptr;
        return PyDict_New();
    });
}

PyMethodDef functions[] = {
    {"fetch_available_product", fast(fetch_available_product), kFastKw,
     "fetch_available_product($module, /, client, product_type)\n--\n\n"},
    {"_list_stock_code", list_stock_code, METH_O, "_list_stock_code($module, client, /)\n--\n\n"},
    {"_list_futopt_code", fast(list_futopt_code), kFastKw,
     "_list_futopt_code($module, /, product_type, detail, client)\n--\n\n"
     " query the product code\n"
     "    product_type: {'F', 'O'}\n"
     "        - F: future product\n"
     "        - O: option product\n"
     "    detail: bool\n"
     "        whether to get detail code\n"
     "    "},
    {"_list_tw_index_code", list_tw_index_code, METH_O, "_list_tw_index_code($module, client, /)\n--\n\n"},
    {"stock_dict_convert", stock_dict_convert, METH_O, "stock_dict_convert($module, contracts, /)\n--\n\n"},
    {"future_dict_convert", future_dict_convert, METH_O, "future_dict_convert($module, contracts, /)\n--\n\n"},
    {"option_dict_convert", option_dict_convert, METH_O, "option_dict_convert($module, contracts, /)\n--\n\n"},
    {"tw_index_dict_convert", tw_index_dict_convert, METH_O,
     "tw_index_dict_convert($module, index_dict, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "orvane.backend.http.contract", nullptr, -1, nullptr,
    nullptr,               nullptr,                        nullptr, nullptr,
};

PyObject* init_module() {
    if (!init_names() || !init_kwnames()) return nullptr;
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
    if (!import_from(module.get(), "orvane.utils", {"log"})) return nullptr;
    Ref modname = Ref::steal(PyUnicode_FromString(module_def.m_name));
    if (!modname) return nullptr;
    for (PyMethodDef* def = functions; def->ml_name; ++def)
        if (!bind(module.get(), def->ml_name, PyCFunction_NewEx(def, module.get(), modname.get())))
            return nullptr;
    return module.release();
}

}  // namespace
}  // namespace http
}  // namespace orvane

ORVANE_MODINIT PyInit_contract(void) {
    return orvane::guarded([] { return orvane::http::init_module(); });
}
