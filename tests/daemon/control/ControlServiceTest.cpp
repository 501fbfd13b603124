// The control service in this process: the older route's commands over the real control
// socket, the folder that holds it, ServiceProtocol's argument checks, and the refusal of
// callers that are no administrators on both routes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include "daemon/DaemonFixture.h"
#include "daemon/PeerLogLimiter.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "daemon/control/ControlClient.h"
#include "daemon/control/TVSXPCServer.h"
#include "platform/xpc/Message.h"
#include "platform/xpc/PeerCredentials.h"

namespace telvo {
namespace {

using testing::LegacyCaller;
using testing::ServiceCaller;

class ControlServiceTest : public testing::DaemonFixture {
protected:
    bool loggedPart(const std::string& part) const {
        for (const auto& m : logMessages())
            if (m.find(part) != std::string::npos) return true;
        return false;
    }
    void TearDown() override {
        xpc::setAdministratorGroupForTesting("");
        DaemonFixture::TearDown();
    }
};

TEST_F(ControlServiceTest, TheOlderRouteAnswersEveryCommandAndRoundTripsAnyValue) {
    TVSXPCServer::sharedXPCServer().startLegacyServer();
    ASSERT_TRUE(TVSXPCServer::sharedXPCServer().connectionLegacy());
    // A folder of its own, closed to everyone but root and the administrators' group.
    struct stat st{};
    ASSERT_EQ(stat(host(TVSXPCServer::kLegacyFolder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_EQ(st.st_uid, geteuid());
    ASSERT_EQ(stat(host(TVSXPCServer::kLegacySocketPath).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    auto caller = std::make_shared<LegacyCaller>();
    ErrorPtr error;
    ASSERT_TRUE(caller->connect(TVSXPCServer::kLegacySocketPath, &error)) << error->description();
    EXPECT_TRUE(dispatch::MainLoop::runUntil([&] { return logged("new connection"); }, 60));

    auto v = caller->ask("version");
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, Value(ValueDictionary{{"key", Value("version")}, {"version", Value("3.03 (270)")}}));
    EXPECT_EQ((*caller->ask("serverstatus"))["status"], Value(0));
    auto upnp = caller->ask("upnpstatus");
    EXPECT_EQ((*upnp)["status"], Value(0));
    EXPECT_EQ((*upnp)["port"], Value(0));

    // A value holding the terminator goes in and comes back whole.
    const std::string tricky = "name </term> with <tags> & more</term>";
    EXPECT_EQ(*caller->ask("setpreference", {{"pkey", Value("computer name")}, {"value", Value(tricky)}}),
              Value(ValueDictionary{{"key", Value("setpreference")}}));
    EXPECT_EQ(TVSPreferences::sharedPreferences().objectForKey("computer name"), Value(tricky));
    auto pref = caller->ask("preference", {{"pkey", Value("computer name")}});
    EXPECT_EQ((*pref)["value"], Value(tricky));
    EXPECT_EQ((*pref)["pkey"], Value("computer name"));
    // Unset and without default: the empty text. With a default: the default.
    EXPECT_EQ((*caller->ask("preference", {{"pkey", Value("no such key")}}))["value"], Value(""));
    EXPECT_EQ((*caller->ask("preference", {{"pkey", Value("port")}}))["value"].intValue(), 5109);

    caller->ask("setpasscode", {{"passcode", Value("54321")}});
    EXPECT_EQ((*caller->ask("passcode"))["passcode"], Value("54321"));
    caller->ask("generatepasscode");
    std::string generated = (*caller->ask("passcode"))["passcode"].stringValue();
    EXPECT_EQ(generated.size(), 5u);
    EXPECT_NE(generated, "54321");

    ServerManager::sharedServerManager().addDeviceToAuthorizedList("DEVICE-1");
    EXPECT_EQ((*caller->ask("resetauth"))["key"], Value("resetauth"));
    EXPECT_TRUE(ServerManager::sharedServerManager().authorizedDevices().empty());

    caller->ask("setbonjour", {{"value", Value(0)}});
    EXPECT_EQ(TVSPreferences::sharedPreferences().objectForKey("bonjour enabled"), Value(0));
    caller->ask("setupnpport", {{"port", Value("5120")}});
    EXPECT_EQ(TVSPreferences::sharedPreferences().objectForKey("port external"), Value("5120"));
    auto clients = caller->ask("clients");
    ASSERT_TRUE(clients);
    EXPECT_TRUE((*clients)["clients"].isArray());
    EXPECT_EQ((*clients)["clients"].count(), 0u);

    // An unknown command gets no answer; the connection goes on.
    EXPECT_FALSE(caller->ask("nonsense", {}, 0.3));
    EXPECT_TRUE(caller->ask("version"));
    caller->close();
}

TEST_F(ControlServiceTest, ServiceProtocolRefusesArgumentsOfTheWrongType) {
    ASSERT_EQ(TVSXPCServer::sharedXPCServer().startListener(), nullptr);
    ServiceCaller caller(TVSXPCServer::kServiceName);
    caller.send("setServerPort:", {Value(6000)});        // a number where a text is declared
    caller.send("setInteger:forKey:", {Value("x"), Value("port")});
    caller.send("setInteger:forKey:", {Value(42), Value("some integer")});
    ASSERT_TRUE(caller.call("version:"));
    EXPECT_TRUE(TVSPreferences::sharedPreferences().objectForKey("port").intValue() == 5109);
    EXPECT_EQ(TVSPreferences::sharedPreferences().objectForKey("some integer"), Value(42));
    EXPECT_TRUE(caller.call("objectForKey:reply:", {Value("no such key")})->isNull());
}

// A caller that is no administrator: a child process running as "nobody" when the test runs as
// root; otherwise this user, with the administrators' group named as one nobody belongs to.
// Answers whether the service answered the call.
bool answeredForNonAdministrator(const std::string& hostSocket, const std::string& bytes) {
    auto attempt = [&]() -> bool {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        hostSocket.copy(a.sun_path, hostSocket.size());
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd);
            return false;
        }
        (void)!send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);  // it may be closed already
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char c;
        ssize_t n = read(fd, &c, 1);
        close(fd);
        return n > 0;
    };
    if (geteuid() != 0) {
        xpc::setAdministratorGroupForTesting("telvo-no-such-group");
        return attempt();
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        _exit(attempt() ? 1 : 0);
    }
    int status = 0;
    // The daemon side needs no main queue to refuse.
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 3) << "could not become nobody";
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(ControlServiceTest, CallersThatAreNoAdministratorsAreRefusedAndLoggedOnBothRoutes) {
    // Let "nobody" reach the sockets, so that only the credential check stands in the way.
    chmod(root_.c_str(), 0755);
    ASSERT_EQ(TVSXPCServer::sharedXPCServer().startListener(), nullptr);
    TVSPreferences::sharedPreferences().setPasscode("24680");

    Value call;
    call.set("type", "call");
    call.set("op", "passcode:");
    call.set("args", xpc::packArguments({}));
    call.set("id", Value(1));
    std::string xpcSocket = host(xpc::Connection::servicePath(TVSXPCServer::kServiceName));
    EXPECT_FALSE(answeredForNonAdministrator(xpcSocket, xpc::encodeMessage(call)));
    EXPECT_TRUE(dispatch::MainLoop::runUntil([&] { return loggedPart("refused control connection from pid "); }, 60));

    // The older route: its folder keeps others out already; with it opened for the test the
    // socket's own check still refuses them.
    TVSXPCServer::sharedXPCServer().startLegacyServer();
    chmod(host(TVSXPCServer::kLegacyFolder).c_str(), 0755);
    chmod(host(TVSXPCServer::kLegacySocketPath).c_str(), 0666);
    Value request(ValueDictionary{{"key", Value("passcode")}});
    EXPECT_FALSE(answeredForNonAdministrator(host(TVSXPCServer::kLegacySocketPath), GDUnixSocketEncodeFrame(request)));
    EXPECT_TRUE(dispatch::MainLoop::runUntil([&] { return loggedPart("refused control socket connection from pid "); }, 60));

    // Administrators are served.
    xpc::setAdministratorGroupForTesting("");
    if (geteuid() == 0) {
        ServiceCaller caller(TVSXPCServer::kServiceName);
        EXPECT_EQ(caller.call("passcode:"), std::optional<Value>(Value("24680")));
    }
}

// An application run by a user who is no administrator tries again every 2 s: its refusals
// are logged a few a minute, not one line each.
TEST_F(ControlServiceTest, RefusalsOfOneUserAreLimitedInTheLog) {
    chmod(root_.c_str(), 0755);
    ASSERT_EQ(TVSXPCServer::sharedXPCServer().startListener(), nullptr);
    std::string xpcSocket = host(xpc::Connection::servicePath(TVSXPCServer::kServiceName));
    Value call;
    call.set("type", "call");
    call.set("op", "version:");
    call.set("args", xpc::packArguments({}));
    call.set("id", Value(1));
    for (int i = 0; i < PeerLogLimiter::kLinesPerMinute + 8; ++i)
        EXPECT_FALSE(answeredForNonAdministrator(xpcSocket, xpc::encodeMessage(call)));
    size_t lines = 0;
    for (const std::string& message : logMessages()) lines += message.find("refused control connection from pid ") == 0;
    EXPECT_EQ(lines, size_t(PeerLogLimiter::kLinesPerMinute));
}

}  // namespace
}  // namespace telvo
