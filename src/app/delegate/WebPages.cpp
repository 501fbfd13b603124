#include "app/delegate/WebPages.h"

#include "platform/fs/Root.h"
#include "update/RootSettings.h"

namespace telvo::app {

std::string WebPages::page(const char* scheme, const char* path) {
    return std::string(scheme) + "://" + TELVO_WEB_HOST + path;
}

std::string WebPages::socialPage() { return std::string("https://") + TELVO_SOCIAL_PAGE; }

std::string WebPages::updateFeed(std::string* caFile) {
    std::string feed = std::string("https://") + TELVO_UPDATE_HOST + "/telvoserver3/version.php";
    if (caFile) caFile->clear();
    const Value settings = update::readRootSettings(kSettingsPath);
    if (settings["UpdateFeed"].isString()) feed = settings["UpdateFeed"].string();
    if (caFile && settings["UpdateCAFile"].isString()) *caFile = fs::resolve(settings["UpdateCAFile"].string());
    return feed;
}

}  // namespace telvo::app
