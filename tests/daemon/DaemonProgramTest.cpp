// The program itself on an empty private root: start-up, TLS on IPv4 and IPv6, SIGTERM with
// clients connected, and a corrupt history file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "DaemonFixture.h"
#include "FreePort.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using telvo::testclient::ProtocolClient;

namespace {

const char* kProgram = TELVO_BINARY_DIR "/programs/TelvoServerDaemon/TelvoServerDaemon";

class DaemonProgramTest : public telvo::testing::DaemonFixture {
protected:
    void SetUp() override {
        DaemonFixture::SetUp();
        port_ = telvo::testing::freePort();
        // The preferences the daemon finds: its port, no DNS-SD.
        fs::createDirectories("/Library/Preferences");
        ValueDictionary prefs{{"port", Value(int(port_))}, {"bonjour enabled", Value(0)}};
        ASSERT_TRUE(plist::writeFile(Value(prefs), TVSPreferences::kPath));
    }
    void TearDown() override {
        stop(SIGKILL);
        DaemonFixture::TearDown();
    }

    void start() {
        ASSERT_TRUE(std::filesystem::exists(kProgram)) << kProgram;
        pid_ = fork();
        if (pid_ == 0) {
            setenv("TELVO_ROOT", root_.c_str(), 1);
            unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
            execl(kProgram, kProgram, nullptr);
            _exit(127);
        }
        ASSERT_GT(pid_, 0);
        std::string ready = "Waiting for connections on port " + std::to_string(port_) + ".";
        for (int i = 0; i < 500 && !logHas(ready); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(logHas(ready)) << logText();
    }

    // Sends the signal and answers the exit status (-1 when the process did not end).
    int stop(int signal) {
        if (pid_ <= 0) return -1;
        kill(pid_, signal);
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }

    std::string logText() const {
        std::ifstream in(host(Controller::kLogPath));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool logHas(const std::string& message) const { return logText().find(": " + message + "\n") != std::string::npos; }

    std::string sqlite(const std::string& database, const std::string& sql) const {
        std::string command = "sqlite3 '" + host(database) + "' \"" + sql + "\" 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char chunk[512];
        size_t n;
        while (pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
        if (pipe) pclose(pipe);
        return out;
    }

    std::string passcode() {
        TVSKeychain::resetForTesting();
        TVSPreferences::resetForTesting();
        return TVSPreferences::sharedPreferences().passcode().value_or("");
    }

    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace

TEST_F(DaemonProgramTest, StartsOnAnEmptyRootServesOverBothFamiliesAndStopsOnSIGTERM) {
    start();
    // The start sequence, in order.
    std::string log = logText();
    size_t at = 0;
    for (const char* line :
         {"Telvo Server Daemon version 3.03 (270)", "loading databases", "verifying main database",
          "verifying long database", "loading stat modules", "preparing cpu", "preparing uptime", "finished preparing",
          "loading cpu", "loading uptime", "loading raid", "loading server info", "starting logging",
          "finished loading stat modules", "run databases queues", "loading disk info", "opening socket"}) {
        size_t found = log.find(std::string(": ") + line + "\n", at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
        at = found;
    }
    EXPECT_EQ(log.find("database is invalid"), std::string::npos);
    for (const char* file : {"/Library/Application Support/Telvo Server/databases/local.db",
                             "/Library/Application Support/Telvo Server/databases/longterm.db",
                             "/Library/Application Support/Telvo Server/TelvoServer.keychain"})
        EXPECT_TRUE(std::filesystem::exists(host(file))) << file;

    std::string code = passcode();
    ASSERT_EQ(code.size(), 5u);
    ProtocolClient v4, v6;
    std::string error;
    ASSERT_TRUE(v4.connect("127.0.0.1", port_, &error)) << error;
    ASSERT_TRUE(v6.connect("::1", port_, &error)) << error;
    EXPECT_EQ(v4.logIn("PROGRAM-DEVICE", code, true, &error), "0") << error;
    EXPECT_EQ(v6.logIn("PROGRAM-DEVICE", std::nullopt, false, &error), "0") << error;  // remembered
    ASSERT_TRUE(v4.send(ProtocolClient::statRequest("cpu,load")));
    auto reply = v4.readStatReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.attributes["c"], "1");
    EXPECT_EQ(reply->payload, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"104\"></tvx>");  // no collectors built in yet

    // Connected clients do not keep it from stopping with status 0.
    EXPECT_EQ(stop(SIGTERM), 0);
    EXPECT_EQ(sqlite("/Library/Application Support/Telvo Server/databases/local.db", "PRAGMA integrity_check;"), "ok\n");
    Value prefs = plist::readFile(TVSPreferences::kPath);
    EXPECT_EQ(prefs["authorized devices"].at(0).stringValue(), "PROGRAM-DEVICE");
    EXPECT_EQ(prefs["uuid"].stringValue().size(), 36u);
}

TEST_F(DaemonProgramTest, ACorruptMainDatabaseIsReplacedAndTheDaemonServes) {
    std::string folder = "/Library/Application Support/Telvo Server/databases";
    fs::createDirectories(folder);
    std::ofstream(host(folder + "/local.db"), std::ios::binary) << std::string(8192, '\x5a');
    EXPECT_NE(sqlite(folder + "/local.db", "PRAGMA integrity_check;"), "ok\n");
    start();
    EXPECT_TRUE(logHas("main database is invalid"));
    EXPECT_FALSE(logHas("long term database is invalid"));
    ProtocolClient client;
    std::string error;
    ASSERT_TRUE(client.connect("127.0.0.1", port_, &error)) << error;
    EXPECT_EQ(client.logIn("D", std::string("00000"), false, &error), std::nullopt);  // wrong code: rejected
    EXPECT_EQ(stop(SIGTERM), 0);
    EXPECT_EQ(sqlite(folder + "/local.db", "PRAGMA integrity_check;"), "ok\n");
}

TEST_F(DaemonProgramTest, APortInUseLeavesTheDaemonRunningWithoutListening) {
    int blocker = ::socket(AF_INET6, SOCK_STREAM, 0);
    int off = 0;
    ::setsockopt(blocker, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port_);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    pid_ = fork();
    if (pid_ == 0) {
        setenv("TELVO_ROOT", root_.c_str(), 1);
        execl(kProgram, kProgram, nullptr);
        _exit(127);
    }
    std::string line = "Cannot accept connections on port " + std::to_string(port_) + ".";
    for (int i = 0; i < 500 && logText().find(line) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(logText().find(line), std::string::npos) << logText();
    EXPECT_NE(logText().find("). Exiting.\n"), std::string::npos);
    EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);  // still running
    EXPECT_EQ(stop(SIGTERM), 0);
    ::close(blocker);
}
