// launchd [--system | --user [--session TYPE]] [--throttle-interval S] [--exit-timeout S]
// The system instance runs as root and loads "/Library/LaunchDaemons/"; a user instance runs
// as its user in that user's session and loads the jobs of "/Library/LaunchAgents/" that
// its session type ("Aqua", a graphical login, by default) allows.
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "platform/launchd/Instance.h"
#include "platform/systemlog/SystemLog.h"

using namespace telvo;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: launchd [--system | --user [--session TYPE]] [--throttle-interval SECONDS] "
                 "[--exit-timeout SECONDS]\n");
    return 64;
}

bool seconds(const char* text, double& out) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (!text[0] || *end || !(v >= 0) || v > 86400) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    launchd::Settings settings;
    bool user = false;
    std::string session;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--system") user = false;
        else if (a == "--user") user = true;
        else if (a == "--session" && hasValue) session = argv[++i];
        else if (a == "--throttle-interval" && hasValue) {
            if (!seconds(argv[++i], settings.throttleInterval)) return usage();
        } else if (a == "--exit-timeout" && hasValue) {
            if (!seconds(argv[++i], settings.exitTimeout)) return usage();
        } else return usage();
    }
    settings.system = !user;
    settings.uid = geteuid();
    settings.sessionType = user ? (session.empty() ? "Aqua" : session) : "System";
    if (settings.system && settings.uid != 0) {
        std::fprintf(stderr, "launchd: the system instance runs as root\n");
        return 1;
    }
    if (user && settings.uid == 0) {
        std::fprintf(stderr, "launchd: a user instance runs as its user, not as root\n");
        return 1;
    }
    launchd::Instance instance(settings);
    if (ErrorPtr e = instance.start()) {
        SystemLog("launchd: cannot start: %@", e->message);
        return 1;
    }
    return instance.run();
}
