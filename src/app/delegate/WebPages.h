#pragma once
// The maker's addresses the control application uses: its web pages (build settings) and the
// update feed, which a root-owned "/etc/telvo/app.plist" under the file-system root may point
// elsewhere ("UpdateFeed", "UpdateCAFile": tests and private update servers). A file a user
// could have written is ignored and logged.
#include <string>

namespace telvo::app {

struct WebPages {
    static constexpr const char* kSettingsPath = "/etc/telvo/app.plist";

    // "<scheme>://<web host><path>".
    static std::string page(const char* scheme, const char* path);
    // "https://<the social-media page>".
    static std::string socialPage();

    // "https://<update host>/telvoserver3/version.php" unless the settings file says otherwise;
    // `caFile` the host path of the feed's CA file, empty for the system's trust store.
    static std::string updateFeed(std::string* caFile = nullptr);
};

}  // namespace telvo::app
