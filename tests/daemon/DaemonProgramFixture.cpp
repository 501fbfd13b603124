#include "DaemonProgramFixture.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "FreePort.h"
#include "daemon/Controller.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {

namespace {

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

std::string commandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[512];
    size_t n;
    while (pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    if (pipe) pclose(pipe);
    return out;
}

bool writeDaemonPreferences(uint16_t port) {
    fs::createDirectories("/Library/Preferences");
    ValueDictionary prefs{{"port", Value(int(port))}, {"bonjour enabled", Value(0)}};
    return plist::writeFile(Value(prefs), TVSPreferences::kPath);
}

pid_t spawnDaemon(const std::string& root) {
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("TELVO_ROOT", root.c_str(), 1);
        // The network the daemon sees: none, so that nothing is asked of a router.
        setenv("TELVO_NETSTATE_FILE", "/nonexistent", 1);
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        execl(kDaemonProgram, kDaemonProgram, nullptr);
        _exit(127);
    }
    return pid;
}

int stopDaemon(pid_t pid, int signal) {
    if (pid <= 0) return -1;
    kill(pid, signal);
    int status = 0;
    for (int i = 0; i < 3000; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

void DaemonProgramFixture::SetUp() {
    DaemonFixture::SetUp();
    port_ = freePort();
    ASSERT_NE(port_, 0);
    ASSERT_TRUE(writeDaemonPreferences(port_));
}

void DaemonProgramFixture::TearDown() {
    stop(SIGKILL);
    DaemonFixture::TearDown();
}

void DaemonProgramFixture::spawn() {
    ASSERT_TRUE(std::filesystem::exists(kDaemonProgram)) << kDaemonProgram;
    pid_ = spawnDaemon(root_);
    ASSERT_GT(pid_, 0);
}

void DaemonProgramFixture::start() {
    const std::string ready = "Waiting for connections on port " + std::to_string(port_) + ".";
    const int before = logCount(ready);
    spawn();
    if (pid_ <= 0) return;
    for (int i = 0; i < 3000 && logCount(ready) == before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GT(logCount(ready), before) << logText();
}

int DaemonProgramFixture::stop(int signal) {
    const int status = stopDaemon(pid_, signal);
    pid_ = -1;
    return status;
}

std::string DaemonProgramFixture::logText() const {
    std::ifstream in(host(Controller::kLogPath));
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool DaemonProgramFixture::logHas(const std::string& message) const {
    return logText().find(": " + message + "\n") != std::string::npos;
}

int DaemonProgramFixture::logCount(const std::string& message) const {
    return static_cast<int>(occurrences(logText(), ": " + message + "\n"));
}

bool DaemonProgramFixture::waitForLog(const std::string& message, double seconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!logHas(message)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string DaemonProgramFixture::sqlite(const std::string& database, const std::string& sql) const {
    return commandOutput("sqlite3 -cmd '.timeout 30000' '" + host(database) + "' \"" + sql + "\" 2>&1");
}

std::string DaemonProgramFixture::passcode() {
    TVSKeychain::resetForTesting();
    TVSPreferences::resetForTesting();
    return TVSPreferences::sharedPreferences().passcode().value_or("");
}

void DaemonProgramFixture::logIn(testclient::ProtocolClient& client, const std::string& device, bool remembered) {
    const std::optional<std::string> code = remembered ? std::nullopt : std::optional<std::string>(passcode());
    std::string error;
    ASSERT_TRUE(client.connect("127.0.0.1", port_, &error)) << error;
    ASSERT_EQ(client.logIn(device, code, false, &error), "0") << error;
}

}  // namespace telvo::testing
