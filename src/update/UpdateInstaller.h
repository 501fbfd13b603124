#pragma once
// Puts a new application bundle in place of an old one: with the user's rights when the
// destination and its folder are writable (the old copy goes to the Trash only once the new one
// is in place), else with administrator rights (the old copy moved to the user's Trash as root).
// The quarantine mark is cleared. Tools run by argument vector.
#include <string>

namespace telvo::update {

class UpdateInstaller {
public:
    static bool copyPath(const std::string& source, const std::string& destination);
    // True when administrator rights were granted and every step succeeded.
    static bool authenticatedCopy(const std::string& source, const std::string& destination);
    // Backslash before every space and "&".
    static std::string escapeString(const std::string& text);
    // "<folder>/<name>", else "<name without extension> (n).<extension>" for n = 2, 3, ...
    static std::string uniquePathForFile(const std::string& file, const std::string& directory);
    // "<name> (<bundle version or old>).<extension>", else "<that name>-n.<extension>".
    static std::string newLocationForFile(const std::string& file, const std::string& directory);
    static void releaseFromQuarantine(const std::string& path);
    // The remove-extended-attribute result (option 1: the link itself); -1 for an empty path.
    static int removeXAttr(const char* name, const std::string& path, int options);

    // How often an authorization reference is asked for while the answer is "denied".
    static constexpr int kAuthorizationAttempts = 5;
};

}  // namespace telvo::update
