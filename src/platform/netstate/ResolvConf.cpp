// resolv.conf reading.
#include "platform/netstate/ResolvConf.h"

#include <sys/stat.h>
#include <fstream>
#include <sstream>
#include "platform/host/ProcRoot.h"

namespace telvo::netstate {

std::string resolvConfPath() {
    struct stat st;
    const char* resolved = "/run/systemd/resolve/resolv.conf";
    if (stat(host::ProcRoot::path(resolved).c_str(), &st) == 0) return resolved;
    return "/etc/resolv.conf";
}

std::vector<std::string> parseNameservers(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string word, server;
        if (!(words >> word) || word != "nameserver") continue;
        if (words >> server && server[0] != '#' && server[0] != ';') out.push_back(server);
    }
    return out;
}

std::vector<std::string> readNameservers() {
    std::ifstream in(host::ProcRoot::path(resolvConfPath()));
    if (!in) return {};
    std::stringstream text;
    text << in.rdbuf();
    return parseNameservers(text.str());
}

}  // namespace telvo::netstate
