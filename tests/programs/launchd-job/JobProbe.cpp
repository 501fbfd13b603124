// launchd_job_probe RECORD-FILE MODE [SERVICE]
// Writes its environment to RECORD-FILE.env, then appends "<pid> <uid> <monotonic seconds> <LISTEN_FDNAMES or ->" to RECORD-FILE (a host path),
// then by MODE: "exit1" exits 1; "ignore-term" ignores SIGTERM and waits; "wait" waits and
// exits 0 on SIGTERM; "serve" also serves SERVICE with the operation "whoami:" (answers pid,
// uid and whether the listening socket was handed down).
#include <signal.h>
#include <time.h>
#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include "platform/dispatch/MainLoop.h"
#include "platform/xpc/Listener.h"

extern char** environ;

using namespace telvo;

namespace {

class AcceptAll : public xpc::ListenerDelegate {
public:
    explicit AcceptAll(xpc::InterfacePtr interface) : interface_(std::move(interface)) {}
    bool shouldAcceptNewConnection(xpc::Listener&, const xpc::ConnectionPtr& connection) override {
        connection->setExportedInterface(interface_);
        connection->resume();
        return true;
    }

private:
    xpc::InterfacePtr interface_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 64;
    std::string mode = argv[2];
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const char* names = std::getenv("LISTEN_FDNAMES");
    // The environment the launcher gave it, one "NAME=value" a line. Written whole (under
    // another name, then renamed) before the start is recorded: whoever saw the start finds
    // the environment complete.
    const std::string envFile = std::string(argv[1]) + ".env";
    const std::string envPart = envFile + "." + std::to_string(getpid());
    if (FILE* f = std::fopen(envPart.c_str(), "w")) {
        for (char** e = environ; *e; ++e) std::fprintf(f, "%s\n", *e);
        if (std::fclose(f) == 0) std::rename(envPart.c_str(), envFile.c_str());
    }
    if (FILE* f = std::fopen(argv[1], "a")) {
        std::fprintf(f, "%d %u %.6f %s\n", int(getpid()), unsigned(getuid()), double(ts.tv_sec) + ts.tv_nsec / 1e9,
                     names && *names ? names : "-");
        std::fclose(f);
    }
    if (mode == "exit1") return 1;
    if (mode == "ignore-term") {
        signal(SIGTERM, SIG_IGN);
        for (;;) pause();
    }
    signal(SIGTERM, [](int) { _exit(0); });
    if (mode == "wait") {
        for (;;) pause();
    }
    if (mode != "serve" || argc < 4) return 64;
    auto listener = xpc::Listener::create(argv[3]);
    auto interface = std::make_shared<xpc::Interface>("ProbeProtocol");
    auto adopted = std::make_shared<std::atomic<bool>>(false);
    interface->add({"whoami:", {}, true, [adopted](const ValueArray&, const xpc::Reply& reply) {
                        ValueDictionary d{{"pid", Value(static_cast<long long>(getpid()))},
                                          {"uid", Value(static_cast<long long>(getuid()))},
                                          {"adopted", Value(adopted->load())}};
                        reply(Value(d));
                    }});
    auto delegate = std::make_shared<AcceptAll>(interface);
    listener->setDelegate(delegate);
    if (ErrorPtr e = listener->resume()) {
        std::fprintf(stderr, "probe: %s\n", e->message.c_str());
        return 2;
    }
    *adopted = listener->adopted();
    dispatch::MainLoop::runForever();
}
