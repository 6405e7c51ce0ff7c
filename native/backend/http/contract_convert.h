// The four contract list converters of orvane.backend.http.contract: each
// turns the service's list of one product type into the dictionary of
// contract descriptions the host package builds its contracts from.
#pragma once

#include "backend/http/contract_names.h"
#include "common/ref.h"

namespace orvane {
namespace http {

// METH_O functions: `self` is the module.
PyObject* stock_dict_convert(PyObject* self, PyObject* contracts);
PyObject* future_dict_convert(PyObject* self, PyObject* contracts);
PyObject* option_dict_convert(PyObject* self, PyObject* contracts);
PyObject* tw_index_dict_convert(PyObject* self, PyObject* index_dict);

}  // namespace http
}  // namespace orvane
