#pragma once
// Marks a block that will wait a long time outside the dispatch layer (a blocking read loop,
// say): while the scope lives, another worker stands in for the one it holds, so the bounded
// worker pool is not used up by waiting.
#include "platform/dispatch/detail/Pool.h"

namespace telvo::dispatch {

using BlockingScope = detail::Pool::BlockingScope;

}  // namespace telvo::dispatch
