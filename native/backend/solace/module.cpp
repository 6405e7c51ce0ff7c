// Initialisation shared by the quote and depth modules (module.h), and the
// state of the one module this code is built into.
#include "backend/solace/module.h"

#include "backend/solace/decimals.h"
#include "backend/solace/iso_datetime.h"
#include "backend/solace/module_state.h"
#include "backend/solace/record_base.h"
#include "backend/solace/records.h"
#include "common/classes.h"

#include <string>

namespace orvane {
namespace solace {

State state;

namespace {

// Fills the state every module needs before it creates its classes.
bool init_state(PyObject* module, const char* repr_kind) {
    if (!state.names.init()) return false;
    state.module = new_ref(module);
    state.dict = PyModule_GetDict(module);
    state.repr_kind = repr_kind;
    // object's own __class__ descriptor (object's namespace never changes).
    if (!state.object_class)
        state.object_class =
            Ref::borrow(_PyType_Lookup(&PyBaseObject_Type, state.names.class_)).release();
    if (!state.object_class) {
        PyErr_SetString(PyExc_SystemError, "object has no __class__");
        return false;
    }
    if (!state.no_args) state.no_args = PyTuple_New(0);
    return state.no_args != nullptr;
}

bool init(PyObject* m, const char* kind, std::initializer_list<Import> imports,
          std::initializer_list<RecordClass*> records, bool (*add_functions)(PyObject*)) {
    if (!init_state(m, kind)) return false;
    if (!set_package(m)) return false;
    if (!import_as(m, "datetime", "dt")) return false;
    if (!import_from(m, "typing", {"Dict", "List", "Any"})) return false;
    if (!import_from(m, "decimal", {"Decimal"})) return false;
    if (!remember_real_decimal()) return false;
    if (!remember_datetime_class()) return false;
    if (!import_from(m, "utils", {"datetime_parser"}, 1)) return false;
    for (const Import& i : imports)
        if (!import_from(m, i.from, i.names)) return false;
    const std::string base_name = std::string(kind) + "Base";
    Ref base = Ref::steal(create_base(m, base_name.c_str()));
    if (!base || PyObject_SetAttrString(m, base_name.c_str(), base.get()) < 0) return false;
    if (records.size() > kMaxRecords) {
        PyErr_SetString(PyExc_SystemError, "too many record classes");
        return false;
    }
    size_t n = 0;
    for (RecordClass* r : records) {
        if (!bind(m, r->name(), r->create(m, base.get()))) return false;
        state.records[n++] = r;
    }
    return !add_functions || add_functions(m);
}

}  // namespace

PyObject* init_module(PyModuleDef& def, const char* kind, std::initializer_list<Import> imports,
                      std::initializer_list<RecordClass*> records,
                      bool (*add_functions)(PyObject* module)) {
    return guarded([&]() -> PyObject* {
        Ref m = Ref::steal(PyModule_Create(&def));
        if (!m || !init(m.get(), kind, imports, records, add_functions)) return nullptr;
        return m.release();
    });
}

}  // namespace solace
}  // namespace orvane
