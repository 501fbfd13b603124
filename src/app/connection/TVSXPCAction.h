#pragma once
// How a panel calls the daemon: the block runs at once, on the caller's thread (the main
// queue), with the proxy of the shared connection's current connection, or with no proxy
// (see ServiceProxy) while there is none.
#include <functional>

#include "app/connection/ServiceProxy.h"

namespace telvo::app {

void TVSXPCAction(const std::function<void(ServiceProxy& proxy)>& block);

}  // namespace telvo::app
