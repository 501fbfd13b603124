// launchctl load [-w] [-S TYPE] PLIST | unload [-w] [-S TYPE] PLIST | list
// Root without -S drives the system instance; anyone else, or a session type, the caller's
// own user instance. Paths are the system's logical paths (under TELVO_ROOT).
#include <unistd.h>
#include <cstdio>
#include <string>
#include "platform/launchd/ControlClient.h"
#include "platform/launchd/Paths.h"

using namespace telvo;

namespace {

int usage() {
    std::fprintf(stderr, "usage: launchctl load [-w] [-S type] path\n"
                         "       launchctl unload [-w] [-S type] path\n"
                         "       launchctl list\n");
    return 64;
}

// An unload waits for the job to stop, SIGKILL included.
constexpr double kAnswerTimeout = 120;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string command = argv[1];
    bool write = false;
    std::string session, path;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-w") write = true;
        else if (a == "-S" && i + 1 < argc) session = argv[++i];
        else if (!a.empty() && a[0] != '-' && path.empty()) path = a;
        else return usage();
    }
    if (command == "list" ? !path.empty() : (command != "load" && command != "unload") || path.empty()) return usage();
    if (!path.empty() && path[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd)) return usage();
        path = std::string(cwd) + "/" + path;
    }
    bool system = geteuid() == 0 && session.empty();
    std::string socket = system ? launchd::kSystemControlSocket : launchd::userControlSocket(geteuid());
    Value request(ValueDictionary{{"command", Value(command)}});
    if (!path.empty()) request.set("path", path);
    if (write) request.set("write", Value(true));
    if (!session.empty()) request.set("session", session);
    ErrorPtr error;
    Value answer = launchd::sendControlRequest(socket, request, kAnswerTimeout, &error);
    if (error) {
        std::fprintf(stderr, "launchctl: %s\n", error->message.c_str());
        return 1;
    }
    if (answer["status"].intValue() != 0) {
        std::fprintf(stderr, "launchctl: %s\n", answer["message"].string().c_str());
        return 1;
    }
    if (command == "list") {
        std::printf("PID\tStatus\tLabel\n");
        for (const Value& job : answer["jobs"].array()) {
            std::string pid = job.has("PID") ? std::to_string(job["PID"].intValue()) : "-";
            std::printf("%s\t%lld\t%s\n", pid.c_str(), static_cast<long long>(job["LastExitStatus"].intValue()),
                        job["Label"].string().c_str());
        }
    }
    return 0;
}
