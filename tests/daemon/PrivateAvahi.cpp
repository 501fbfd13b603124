#include "PrivateAvahi.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace telvo::testing {

namespace {

pid_t spawn(const std::vector<std::string>& args, const std::string& logFile) {
    pid_t pid = fork();
    if (pid == 0) {
        FILE* log = std::fopen(logFile.c_str(), "w");
        if (log) {
            dup2(fileno(log), 1);
            dup2(fileno(log), 2);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

bool alive(pid_t pid) { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

void finish(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

bool PrivateAvahi::start(std::string* error) {
    char pattern[] = "/tmp/telvo-avahi-XXXXXX";
    folder_ = mkdtemp(pattern);
    std::string socket = folder_ + "/system_bus_socket";
    busAddress_ = "unix:path=" + socket;
    std::ofstream(folder_ + "/bus.conf") << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                            "<busconfig><type>system</type><listen>" + busAddress_ + "</listen>"
                                            "<auth>EXTERNAL</auth>"
                                            "<policy context=\"default\"><allow own=\"*\"/><allow send_destination=\"*\"/>"
                                            "<allow receive_sender=\"*\"/><allow user=\"*\"/></policy></busconfig>\n";
    std::ofstream(folder_ + "/avahi.conf") << "[server]\nallow-interfaces=lo\nuse-ipv4=yes\nuse-ipv6=no\n"
                                              "enable-dbus=yes\nratelimit-burst=1000\n"
                                              "[wide-area]\nenable-wide-area=no\n[publish]\npublish-workstation=no\n"
                                              "publish-hinfo=no\n[reflector]\n[rlimits]\n";
    bus_ = spawn({"dbus-daemon", "--config-file=" + folder_ + "/bus.conf", "--nofork", "--nopidfile"}, folder_ + "/bus.log");
    for (int i = 0; i < 250 && !std::filesystem::exists(socket); ++i) {
        if (!alive(bus_)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!std::filesystem::exists(socket)) {
        if (error) *error = "dbus-daemon did not start: " + readAll(folder_ + "/bus.log");
        stop();
        return false;
    }
    if (const char* previous = getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        hadPrevious_ = true;
        previousAddress_ = previous;
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress_.c_str(), 1);
    std::vector<std::string> avahi{"avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits", "--no-proc-title",
                                   "-f", folder_ + "/avahi.conf"};
    if (geteuid() == 0) {
        // Its pid file and socket live at fixed paths under /run/avahi-daemon, where a second
        // avahi-daemon on the machine (another test's, run at the same time) finds the first
        // and refuses to start: each gets a folder of its own in a mount namespace.
        avahi.insert(avahi.begin(), {"unshare", "--mount", "--propagation", "private", "sh", "-c",
                                     "mkdir -p /run/avahi-daemon && mount -t tmpfs -o mode=0755 telvo-avahi "
                                     "/run/avahi-daemon && exec \"$0\" \"$@\""});
    }
    avahi_ = spawn(avahi, folder_ + "/avahi.log");
    // Running once it answers on the bus.
    for (int i = 0; i < 250; ++i) {
        if (!alive(avahi_)) break;
        int status = 0;
        run("avahi-browse -pt _telvo-probe._tcp >/dev/null 2>&1", &status);
        if (status == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    if (error) *error = "avahi-daemon did not start: " + readAll(folder_ + "/avahi.log");
    stop();
    return false;
}

void PrivateAvahi::stop() {
    finish(avahi_);
    finish(bus_);
    if (!busAddress_.empty()) {
        if (hadPrevious_)
            setenv("DBUS_SYSTEM_BUS_ADDRESS", previousAddress_.c_str(), 1);
        else
            unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        busAddress_.clear();
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        folder_.clear();
    }
}

std::string PrivateAvahi::run(const std::string& command, int* status) const {
    std::string full = "DBUS_SYSTEM_BUS_ADDRESS='" + busAddress_ + "' " + command;
    FILE* pipe = popen(full.c_str(), "r");
    std::string out;
    if (!pipe) {
        if (status) *status = -1;
        return out;
    }
    std::array<char, 4096> chunk;
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
    int rc = pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

}  // namespace telvo::testing
