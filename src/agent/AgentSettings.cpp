#include "agent/AgentSettings.h"

#include "platform/fs/Root.h"
#include "update/RootSettings.h"

namespace telvo::agent {

AgentSettings AgentSettings::load() {
    AgentSettings s;
    s.feed = std::string("https://") + TELVO_UPDATE_HOST + "/telvoserver3/version.php";
    s.productPage = TELVO_PRODUCT_PAGE;
    s.serviceName = std::string(TELVO_MAKER_TEAM) + ".com.kestro.telvo.server.agent";

    const Value v = update::readRootSettings(kPath);
    if (v["UpdateFeed"].isString()) s.feed = v["UpdateFeed"].string();
    if (v["UpdateCAFile"].isString()) s.caFile = fs::resolve(v["UpdateCAFile"].string());
    if (v["ProductPage"].isString()) s.productPage = v["ProductPage"].string();
    return s;
}

}  // namespace telvo::agent
