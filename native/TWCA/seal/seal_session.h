// PyTWCASign: a signing session, one per certificate, person id and client IP.
#pragma once

#include "common/ref.h"

namespace orvane::seal {

// The type object, readied on first call (null with an exception on failure).
PyTypeObject* session_type();

}  // namespace orvane::seal
