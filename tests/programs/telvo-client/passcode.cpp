// telvo-client-passcode ROOT: prints the passcode kept in the private keychain of the daemon
// whose file-system root is ROOT (as root, or as the owner of that root).
#include <cstdio>

#include "daemon/TVSPreferences.h"
#include "platform/fs/Root.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s ROOT\n", argv[0]);
        return 2;
    }
    telvo::fs::setRootForTesting(argv[1]);
    auto code = telvo::TVSPreferences::sharedPreferences().passcode();
    if (!code) {
        std::fprintf(stderr, "no passcode under %s\n", argv[1]);
        return 1;
    }
    std::printf("%s\n", code->c_str());
    return 0;
}
