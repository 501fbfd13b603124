#include "SessionBus.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace telvo::agent::test {
namespace {

std::string readLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line.push_back(c);
    return line;
}

}  // namespace

SessionBus::SessionBus(const std::string& folder) : log_(folder + "/notifications.log") {
    if (access("/usr/bin/dbus-daemon", X_OK) != 0) {
        failure_ = "dbus-daemon is missing";
        return;
    }
    FILE* bus = popen("/usr/bin/dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    if (!bus) {
        failure_ = "dbus-daemon did not start";
        return;
    }
    char line[512];
    if (fgets(line, sizeof line, bus)) address_ = line;
    if (fgets(line, sizeof line, bus)) busPid_ = std::atoi(line);
    pclose(bus);
    while (!address_.empty() && address_.back() == '\n') address_.pop_back();
    if (address_.empty() || busPid_ <= 0) {
        failure_ = "dbus-daemon gave no address";
        return;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        failure_ = "no pipe";
        return;
    }
    const std::string script = std::string(TELVO_SOURCE_DIR) + "/tests/agent/data/notification_server.py";
    serverPid_ = fork();
    if (serverPid_ == 0) {
        dup2(out[1], 1);
        execl("/usr/bin/python3", "python3", script.c_str(), log_.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    const std::string ready = readLine(out[0]);
    close(out[0]);
    if (ready != "ready") failure_ = "the notification server did not start (python3-dbus, python3-gi)";
}

SessionBus::~SessionBus() {
    if (serverPid_ > 0) {
        kill(serverPid_, SIGKILL);
        waitpid(serverPid_, nullptr, 0);
    }
    if (busPid_ > 0) kill(busPid_, SIGTERM);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

std::vector<std::string> SessionBus::shown() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

bool SessionBus::invoke(unsigned id, const std::string& action) const {
    const std::string command = "/usr/bin/dbus-send --session --print-reply --dest=org.freedesktop.Notifications "
                                "/org/freedesktop/Notifications org.telvo.TestControl.Invoke uint32:" +
                                std::to_string(id) + " string:" + action + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace telvo::agent::test
