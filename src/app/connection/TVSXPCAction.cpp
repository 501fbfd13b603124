#include "app/connection/TVSXPCAction.h"

#include "app/connection/TVSXPCConnection.h"

namespace telvo::app {

void TVSXPCAction(const std::function<void(ServiceProxy& proxy)>& block) {
    auto shared = TVSXPCConnection::sharedXPCConnectionPtr();
    ServiceProxy proxy(shared, shared->connection());
    block(proxy);
}

}  // namespace telvo::app
