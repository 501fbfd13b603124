#pragma once
// A fresh install root (SetupFixture) where the control application itself runs as the user:
// the signed application with its own executable on the offscreen platform, driven through
// the scripted-actions seam (TELVO_SCRIPTED_ACTIONS), whose record tells the windows and pages
// each process showed. The copies the application started itself are ended by their pids.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "HttpsTestServer.h"
#include "SetupFixture.h"
#include "platform/values/PropertyList.h"

namespace telvo::testing {

inline const std::string kInstalledApplication = "/Applications/Telvo Server.app";
inline const std::string kSupportFolder = "/Library/Application Support/Telvo Server";
inline const std::string kAgentLabel = "com.kestro.telvoserveragent";

inline std::string shellOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[512];
    size_t n;
    while (pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    if (pipe) pclose(pipe);
    return out;
}

inline bool alive(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

class AppInstallFixture : public SetupFixture {
public:
    AppInstallFixture() {
        privateNetwork_ = true;
        userInstance_ = true;
        ownExecutable_ = true;
        ownAgent_ = true;
    }
    void SetUp() override {
        SetupFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        actions_ = hostPath(home_ + "/actions");
        // Any shell line run from the application's folder would leave its files here.
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) savedCwd_ = cwd;
        ASSERT_EQ(::chdir(hostPath(home_).c_str()), 0);
        // The update feed: the HTTPS test server on loopback, named in the root-owned settings
        // file with its CA (in this network namespace nothing else is reachable anyway).
        feed_ = std::make_unique<update::test::HttpsTestServer>();
        if (!feed_->failure().empty()) {
            std::cerr << "NOTE: no HTTPS feed for the application (" << feed_->failure() << ")\n";
            return;
        }
        feed_->setAnswer("/telvoserver3/version.php", "<versions></versions>");
        std::filesystem::create_directories(hostPath("/etc/telvo"));
        std::filesystem::copy_file(feed_->caFile(), hostPath("/etc/telvo/feed-ca.pem"),
                                   std::filesystem::copy_options::overwrite_existing);
        ::chmod(hostPath("/etc/telvo/feed-ca.pem").c_str(), 0644);
        ASSERT_TRUE(plist::writeFile(Value(ValueDictionary{{"UpdateFeed", Value(feed_->url("/telvoserver3/version.php"))},
                                                           {"UpdateCAFile", Value("/etc/telvo/feed-ca.pem")}}),
                                     "/etc/telvo/app.plist"));
        ::chmod(hostPath("/etc/telvo/app.plist").c_str(), 0644);
    }
    void TearDown() override {
        // The copies the application started itself, by the pids they recorded.
        for (pid_t pid : recordedPids())
            if (alive(pid) && ownedByUser(pid)) ::kill(pid, SIGKILL);
        apps_.clear();
        feed_.reset();
        if (!savedCwd_.empty()) (void)!::chdir(savedCwd_.c_str());
        SetupFixture::TearDown();
    }
    bool ownedByUser(pid_t pid) {
        struct stat st {};
        return ::stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0 && st.st_uid == uid_;
    }
    std::string downloads() const { return home_ + "/Downloads/Telvo Server.app"; }

    // The presses still to come, in order (replacing what is left).
    void script(const std::vector<std::string>& names) {
        const std::string temporary = actions_ + ".tmp";
        {
            std::ofstream out(temporary, std::ios::trunc);
            for (const auto& n : names) out << n << '\n';
        }
        ASSERT_EQ(::chown(temporary.c_str(), uid_, gid_), 0);
        ASSERT_EQ(::rename(temporary.c_str(), actions_.c_str()), 0);
    }
    // Starts the application of that bundle as the user.
    helper::Client& launch(const std::string& app, const std::vector<std::string>& environment = {}) {
        std::vector<std::string> env{"TELVO_ROOT=" + root_, "HOME=" + home_, "QT_QPA_PLATFORM=offscreen",
                                     "TELVO_SCRIPTED_ACTIONS=" + actions_, "TELVO_NETSTATE_FILE=/nonexistent"};
        env.insert(env.end(), environment.begin(), environment.end());
        apps_.push_back(std::make_unique<helper::Client>(hostPath(app) + "/Contents/MacOS/Telvo Server", std::vector<std::string>{},
                                                         env, uid_, gid_));
        return *apps_.back();
    }
    std::vector<std::pair<pid_t, std::string>> record() {
        std::vector<std::pair<pid_t, std::string>> lines;
        std::ifstream in(actions_ + ".record");
        std::string line;
        while (std::getline(in, line)) {
            size_t blank = line.find(' ');
            if (blank == std::string::npos) continue;
            const size_t tab = line.find('\t', blank);
            lines.emplace_back(pid_t(std::atol(line.substr(0, blank).c_str())), line.substr(blank + 1, tab - blank - 1));
        }
        return lines;
    }
    // The monotonic milliseconds of the first such line; -1 when there is none.
    long long recordedAt(pid_t pid, const std::string& what) {
        std::ifstream in(actions_ + ".record");
        std::string line;
        const std::string head = std::to_string(pid) + " " + what + "\t";
        while (std::getline(in, line))
            if (line.rfind(head, 0) == 0) return std::atoll(line.c_str() + head.size());
        return -1;
    }
    std::string recordText() {
        std::ostringstream out;
        for (const auto& [pid, what] : record()) out << pid << " " << what << "\n";
        return out.str();
    }
    // Starts the record afresh (between runs).
    void forgetRecord() { std::filesystem::remove(actions_ + ".record"); }
    std::set<pid_t> recordedPids() {
        std::set<pid_t> pids;
        for (const auto& line : record()) pids.insert(line.first);
        return pids;
    }
    bool recorded(pid_t pid, const std::string& what) {
        for (const auto& [p, w] : record())
            if (p == pid && w == what) return true;
        return false;
    }
    bool waitRecorded(pid_t pid, const std::string& what, double seconds = 60) {
        return waitUntil([&] { return recorded(pid, what); }, seconds);
    }
    // The first pid other than `not` that recorded `what`; 0 when none did.
    pid_t otherRecording(pid_t notThis, const std::string& what) {
        for (const auto& [p, w] : record())
            if (p != notThis && w == what) return p;
        return 0;
    }
    // Waits for the process to end (reaped through its client, which then forgets its pid);
    // its exit status, or -1 when it did not end in time.
    int waitExit(helper::Client& client, double seconds = 60) {
        const pid_t pid = client.pid();
        if (pid <= 0) return -1;
        const bool ended = waitUntil([&] {
            siginfo_t info{};
            return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
        }, seconds);
        if (!ended) return -1;
        const int status = client.waitExit();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    long agentPid() {
        std::smatch m;
        std::string list = launchctl(root_, {"list"}, uid_).output;
        std::regex line("(^|\\n)([0-9]+)\\t-?[0-9]+\\t" + kAgentLabel + "\\n");
        return std::regex_search(list, m, line) ? std::stol(m[2]) : 0;
    }
    bool welcomeShownKey() {
        Value prefs = plist::readFile(home_ + "/Library/Preferences/com.kestro.TelvoServer.plist");
        return prefs.isDictionary() && !prefs["welcome shown"].isNull();
    }
    std::string exeOf(pid_t pid) {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).string();
    }
    void expectDaemonAnswersTls() {
        const std::string ready = ": Waiting for connections on port 5109.\n";
        auto daemonLog = [&] { return readHostFile(hostPath("/Library/Logs/TelvoServer.log")); };
        EXPECT_TRUE(waitUntil([&] { return daemonLog().find(ready) != std::string::npos; }, 60)) << daemonLog() << launchd_->log();
        std::string tls = shellOutput("echo | timeout 20 openssl s_client -connect 127.0.0.1:5109 2>&1");
        EXPECT_NE(tls.find("-----BEGIN CERTIFICATE-----"), std::string::npos) << tls;
    }

    std::string actions_;
    std::string savedCwd_;
    std::unique_ptr<update::test::HttpsTestServer> feed_;
    std::vector<std::unique_ptr<helper::Client>> apps_;
};

}  // namespace telvo::testing
