// Solace topic names for a contract and a kind of market data:
// contract2topic, v1contract2topic, v2contract2topic of the quote module.
#pragma once

#include "common/ref.h"

namespace orvane {
namespace solace {

// Binds v1contract2topic, v2contract2topic and contract2topic in `module`, in
// that order. The default `version` of contract2topic is QuoteVersion.v0 as
// found in the module namespace now. Returns false with an exception set.
bool add_topic_functions(PyObject* module);

}  // namespace solace
}  // namespace orvane
