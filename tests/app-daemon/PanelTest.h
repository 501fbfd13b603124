#pragma once
// The fixture of the panels that change the daemon (port sheet, passcode panel, settings
// items): the harness's fixture, the scripted authorization backend answering the
// administrator right as a test says, and the operations the application sent, recorded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include <filesystem>
#include <fstream>

#include "AppDaemonFixture.h"
#include "app/cells/ImageView.h"
#include "app/connection/ServiceProxy.h"
#include "platform/authorization/Authorization.h"
#include "platform/authorization/ScriptedBackend.h"

namespace telvo::testing {

inline double steadyNow() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A TCP connect to the port on 127.0.0.1 succeeds.
inline bool accepts(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

class AppPanelTest : public AppDaemonTest {
protected:
    void SetUp() override {
        AppDaemonTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        administrator("allow");
        app::ServiceProxy::setRecordingForTesting(true);
    }
    void TearDown() override {
        app::ServiceProxy::setRecordingForTesting(false);
        AppDaemonTest::TearDown();
    }

    // What the user answers when asked for the administrator right: "allow", "deny" or
    // "cancel". A right allowed before is forgotten, so that the next action asks again.
    void administrator(const std::string& answer) {
        namespace stdfs = std::filesystem;
        const std::string policy = host(authorization::scripted::kPolicyPath);
        stdfs::create_directories(stdfs::path(policy).parent_path());
        for (stdfs::path p = stdfs::path(policy).parent_path(); p.string().size() > root_.size(); p = p.parent_path())
            chmod(p.c_str(), 0755);
        std::ofstream(policy, std::ios::trunc) << authorization::kAuthorizationRightExecute << " " << answer << "\n";
        chmod(policy.c_str(), 0644);
        forgetAllowedRight();
    }
    void forgetAllowedRight() { std::filesystem::remove(host(authorization::scripted::kKeptPath)); }
    // How many times the user was asked.
    size_t prompts() { return authorization::scripted::prompts().size(); }

    // The operations sent to the daemon since recording was last reset, but the clients poll.
    std::vector<app::ServiceProxy::SentOperation> sent(const std::string& only = {}) {
        std::vector<app::ServiceProxy::SentOperation> out;
        for (auto& op : app::ServiceProxy::sentForTesting())
            if (op.operation != "clients:" && (only.empty() || op.operation == only)) out.push_back(op);
        return out;
    }
    std::vector<std::string> sentNames() {
        std::vector<std::string> names;
        for (auto& op : sent()) names.push_back(op.operation);
        return names;
    }
    void clearSent() { app::ServiceProxy::setRecordingForTesting(true); }

    // The daemon's preference `key` as the service answers it.
    Value preference(const std::string& key) {
        std::optional<Value> v = caller().call("objectForKey:reply:", {Value(key)});
        return v ? *v : Value();
    }
    void setPreference(const std::string& key, const Value& value) {
        caller().send("setObject:forKey:", {value, Value(key)});
        // Calls are answered in order: once this one is, the store happened.
        caller().call("objectForKey:reply:", {Value(key)});
    }

    // The images the five passcode digit views show.
    std::vector<std::string> passcodeImages() {
        std::vector<std::string> out;
        for (int i = 1; i <= 5; ++i) out.push_back(widget<app::ImageView>(("passcode" + std::to_string(i)).c_str())->imageName().toStdString());
        return out;
    }
    // The images that show `code`, one a digit.
    static std::vector<std::string> passcodeImagesOf(const std::string& code) {
        std::vector<std::string> out;
        for (char c : code) out.push_back(std::string("passcode-") + c);
        return out;
    }
};

}  // namespace telvo::testing
