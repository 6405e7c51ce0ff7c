// The base class of the market-data records (QuoteBase, DepthBase).
//
// Both modules have one, with the same five methods:
//
//   __repr__        "<Kind>(name=repr(value), ...)" over self.__slots__
//   keys()          self.__slots__ (the class's own list object)
//   __getitem__(k)  getattr(self, k, None) for a str k
//   _transform_raw  static: plain form of one value (str of a Decimal,
//                   isoformat() of a datetime, texts for the price lists)
//   to_dict(raw)    dict(self), with every value passed through
//                   self._transform_raw when raw is true
#pragma once

#include "common/ref.h"

namespace orvane {
namespace solace {

// Creates the base class `name`: base object, no __slots__, no docstring,
// the five methods. Fills the state's references to its own __getitem__ and
// _transform_raw. New reference.
PyObject* create_base(PyObject* module, const char* name);

}  // namespace solace
}  // namespace orvane
