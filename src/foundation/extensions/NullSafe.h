#pragma once
// The shared null object. A null value read from a dictionary, a property list or a database
// row can be asked for anything: every accessor of telvo::Value answers zero, false, the empty
// string or an empty container for it, and lookups through it answer null again, so a missing
// value never stops the process.
#include "platform/values/Value.h"

namespace telvo {

inline const Value& nullObject() { return Value::null(); }

}  // namespace telvo
