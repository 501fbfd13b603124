// The program itself on an empty private root: start-up, TLS on IPv4 and IPv6, SIGTERM with
// clients connected, and a corrupt history file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <atomic>
#include <map>
#include <mutex>
#include <pthread.h>
#include <regex>
#include <sched.h>
#include <vector>

#include "DaemonProgramFixture.h"
#include "FreePort.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/notify/DistributedNotificationListener.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using telvo::testclient::ProtocolClient;

namespace {

using telvo::testing::kDaemonProgram;

class DaemonProgramTest : public telvo::testing::DaemonProgramFixture {};

}  // namespace

TEST_F(DaemonProgramTest, StartsOnAnEmptyRootServesOverBothFamiliesAndStopsOnSIGTERM) {
    notify::DistributedNotificationListener listener;
    ASSERT_TRUE(listener.isListening());
    start();
    // Listener status 0, 1 and 3, each announced; then the daemon is ready.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(listener.waitFor("TelvoServerSocketUpdated", 60));
    EXPECT_TRUE(listener.waitFor("TelvoServer2BackendReady", 60));
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
    // The system collectors answer, in the served order.
    EXPECT_EQ(reply->payload.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"104\"><stat type=\"cpu\" ", 0), 0u)
        << reply->payload;
    EXPECT_NE(reply->payload.find("<stat type=\"load\" "), std::string::npos) << reply->payload;

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
    spawn();
    std::string line = "Cannot accept connections on port " + std::to_string(port_) + ".";
    for (int i = 0; i < 3000 && logText().find(line) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(logText().find(line), std::string::npos) << logText();
    EXPECT_NE(logText().find("). Exiting.\n"), std::string::npos);
    EXPECT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);  // still running
    EXPECT_EQ(stop(SIGTERM), 0);
    ::close(blocker);
}

namespace {

// The attributes of the "s" elements of the stat element of `type` and `interval` in a reply.
std::vector<std::map<std::string, std::string>> replySamples(const std::string& payload, const std::string& type,
                                                             int interval) {
    std::vector<std::map<std::string, std::string>> out;
    const std::string head = "<stat type=\"" + type + "\" interval=\"" + std::to_string(interval) + "\"";
    size_t at = payload.find(head);
    if (at == std::string::npos) return out;
    const size_t end = payload.find("</stat>", at);
    const std::regex attribute("([a-z]+)=\"([^\"]*)\"");
    for (size_t s = payload.find("<s ", at); s != std::string::npos && s < end; s = payload.find("<s ", s + 1)) {
        const std::string tag = payload.substr(s, payload.find('>', s) - s);
        std::map<std::string, std::string> attrs;
        for (std::sregex_iterator m(tag.begin(), tag.end(), attribute), none; m != none; ++m) attrs[(*m)[1]] = (*m)[2];
        out.push_back(attrs);
    }
    return out;
}

std::string statAttribute(const std::string& payload, const std::string& type, const std::string& name) {
    size_t at = payload.find("<stat type=\"" + type + "\"");
    if (at == std::string::npos) return "";
    const std::string tag = payload.substr(at, payload.find('>', at) - at);
    size_t v = tag.find(" " + name + "=\"");
    if (v == std::string::npos) return "";
    v += name.size() + 3;
    return tag.substr(v, tag.find('"', v) - v);
}

std::vector<double> firstNumbers(const char* path, int count) {
    std::ifstream in(path);
    std::vector<double> out(count);
    for (double& d : out) in >> d;
    return out;
}

}  // namespace

// The daemon on this machine's own /proc: CPU follows a busy processor, load and uptime agree
// with the kernel's files, and a restart keeps the history and the one boot-time row.
TEST_F(DaemonProgramTest, SystemCollectorsSmokeOnThisMachine) {
    const std::string local = "/Library/Application Support/Telvo Server/databases/local.db";
    const std::string longTerm = "/Library/Application Support/Telvo Server/databases/longterm.db";
    start();
    std::string code = passcode();
    ProtocolClient client;
    std::string error;
    ASSERT_TRUE(client.connect("127.0.0.1", port_, &error)) << error;
    ASSERT_EQ(client.logIn("SMOKE-DEVICE", code, false, &error), "0") << error;

    // One processor spins for three seconds.
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int busy = -1;
    for (int c = CPU_SETSIZE - 1; c >= 0 && busy < 0; --c)
        if (CPU_ISSET(c, &allowed)) busy = c;
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    std::atomic<bool> stopSpinning{false};
    std::thread spinner([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(busy, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        volatile uint64_t n = 0;
        while (!stopSpinning.load(std::memory_order_relaxed)) n = n + 1;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(3200));
    ASSERT_TRUE(client.send(ProtocolClient::statRequest("cpu,load,uptime")));
    auto reply = client.readStatReply();
    const double kernelUptime = firstNumbers("/proc/uptime", 1)[0];
    stopSpinning = true;
    spinner.join();
    ASSERT_TRUE(reply);

    auto cpu = replySamples(reply->payload, "cpu", 0);
    ASSERT_GE(cpu.size(), 2u) << reply->payload;
    // The whole-second samples taken while it spun (the last one surely): one processor of
    // `online` fully busy is at least 100 / online percent of the machine.
    const auto& last = cpu.back();
    const double busyShare = std::stod(last.at("u")) + std::stod(last.at("s")) + std::stod(last.at("n"));
    EXPECT_GE(busyShare, 0.85 * 100.0 / double(online)) << reply->payload;
    EXPECT_LE(busyShare, 100.0);
    EXPECT_GT(std::stoi(statAttribute(reply->payload, "cpu", "tasks")), 1);

    // The kernel's load average changes every five seconds: when it reads the same before a
    // whole second and after the request, the newest sample holds exactly that reading.
    bool compared = false;
    for (int attempt = 0; attempt < 8 && !compared; ++attempt) {
        const std::vector<double> before = firstNumbers("/proc/loadavg", 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        ASSERT_TRUE(client.send(ProtocolClient::statRequest("load")));
        auto answer = client.readStatReply();
        ASSERT_TRUE(answer);
        if (firstNumbers("/proc/loadavg", 3) != before) continue;
        auto load = replySamples(answer->payload, "load", 0);
        ASSERT_FALSE(load.empty());
        char text[32];
        const char* names[] = {"one", "five", "fifteen"};
        for (int i = 0; i < 3; ++i) {
            std::snprintf(text, sizeof text, "%.2f", before[i]);
            EXPECT_EQ(load.back().at(names[i]), text) << answer->payload;
        }
        compared = true;
    }
    EXPECT_TRUE(compared) << "/proc/loadavg never held still for a second";

    const double u = std::stod(statAttribute(reply->payload, "uptime", "u"));
    EXPECT_NEAR(u, kernelUptime, 1.0);

    // Long enough for two hour-level rows (one every 6 s), then a restart.
    std::this_thread::sleep_for(std::chrono::milliseconds(9000));
    client.close();
    ASSERT_EQ(stop(SIGTERM), 0);
    const std::string stored = sqlite(local, "select count(*) from hour_cpuhistory where empty = 0;");
    ASSERT_GE(std::atoi(stored.c_str()), 2) << stored;
    EXPECT_EQ(sqlite(local, "select count(*) from boottimes;"), "1\n");
    EXPECT_EQ(sqlite(longTerm, "select count(*) from boottimes;"), "1\n");
    const std::string newest = sqlite(local, "select cast(sample as int) from hour_cpuhistory where empty = 0 order by sample desc limit 1;");

    const size_t logBefore = logText().size();
    start();
    // start() sees the first run's line; wait for the second daemon's own.
    const std::string ready = ": Waiting for connections on port " + std::to_string(port_) + ".\n";
    for (int i = 0; i < 3000 && logText().find(ready, logBefore) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(logText().find(ready, logBefore), std::string::npos) << logText();
    ProtocolClient again;
    ASSERT_TRUE(again.connect("127.0.0.1", port_, &error)) << error;
    ASSERT_EQ(again.logIn("SMOKE-DEVICE", std::nullopt, false, &error), "0") << error;
    ASSERT_TRUE(again.send(ProtocolClient::statRequest("cpu", "0|0")));
    auto second = again.readStatReply();
    ASSERT_TRUE(second);
    bool found = false;
    for (const auto& s : replySamples(second->payload, "cpu", 1))
        if (s.at("id") + "\n" == newest && !s.count("empty")) found = true;
    EXPECT_TRUE(found) << "stored hour sample " << newest << " not served after the restart:\n" << second->payload;
    again.close();
    ASSERT_EQ(stop(SIGTERM), 0);
    EXPECT_EQ(sqlite(local, "select count(*) from boottimes;"), "1\n") << "same boot, no second row";
    EXPECT_EQ(sqlite(longTerm, "select count(*) from boottimes;"), "1\n");
}

namespace {

// `openssl s_client` against the daemon; answers its whole output ("" when the tool is
// missing).
std::string tlsHandshake(uint16_t port) {
    return telvo::testing::commandOutput("echo | timeout 30 openssl s_client -connect 127.0.0.1:" +
                                         std::to_string(port) + " 2>&1");
}

bool handshakeSucceeded(const std::string& output) {
    return output.find("-----BEGIN CERTIFICATE-----") != std::string::npos &&
           std::regex_search(output, std::regex("Cipher is [A-Z]"));
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// A keychain the daemon cannot open, unlock or read would leave it listening with neither
// passcode nor TLS identity, every handshake failing. It is kept aside and replaced, and the
// new passcode lets a device pair; a keychain that reads but holds no identity keeps its
// passcode and gets a new identity.
TEST_F(DaemonProgramTest, ADamagedKeychainIsKeptAsideAndTheDaemonServesTLSWithANewOne) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl is needed as the TLS peer";
    const std::string keychainPath = TVSKeychain::kKeychainPath;
    const std::string asidePath = TVSKeychain::kInvalidKeychainPath;

    // A keychain as a run of the daemon leaves it: a passcode, no identity until a client came.
    auto makeGoodKeychain = [&]() {
        TVSKeychain::resetForTesting();
        TVSPreferences::resetForTesting();
        TVSPreferences::sharedPreferences().setPasscode("24680");
        TVSKeychain::resetForTesting();
        TVSPreferences::resetForTesting();
    };
    struct Case {
        const char* name;
        std::function<void()> damage;
        bool keptAside;
    };
    const std::vector<Case> cases{
        {"noise",
         [&] {
             std::string noise(100, '\0');
             for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 131 + 17) % 251);
             fs::createDirectories("/Library/Application Support/Telvo Server");
             std::ofstream(host(keychainPath), std::ios::binary) << noise;
         },
         true},
        {"truncated",
         [&] {
             makeGoodKeychain();
             std::string whole = fileBytes(host(keychainPath));
             ASSERT_GT(whole.size(), 60u);
             std::ofstream(host(keychainPath), std::ios::binary | std::ios::trunc) << whole.substr(0, whole.size() / 2);
         },
         true},
        {"without identity", [&] { makeGoodKeychain(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(host(keychainPath));
        std::filesystem::remove(host(asidePath));
        c.damage();
        const std::string before = fileBytes(host(keychainPath));
        const size_t logStart = logText().size();
        start();

        std::string handshake = tlsHandshake(port_);
        EXPECT_TRUE(handshakeSucceeded(handshake)) << handshake;
        const std::string code = passcode();
        ASSERT_EQ(code.size(), 5u);
        if (c.keptAside) {
            EXPECT_NE(code, "24680");
            EXPECT_EQ(fileBytes(host(asidePath)), before) << "the damaged file is kept as it was";
            EXPECT_NE(logText().find("TelvoServer.keychain cannot be read", logStart), std::string::npos) << logText();
            EXPECT_NE(logText().find("kept as " + asidePath, logStart), std::string::npos) << logText();
        } else {
            EXPECT_EQ(code, "24680") << "a readable keychain keeps its passcode";
            EXPECT_FALSE(std::filesystem::exists(host(asidePath)));
        }
        ProtocolClient client;
        std::string error;
        ASSERT_TRUE(client.connect("127.0.0.1", port_, &error)) << error;
        EXPECT_EQ(client.logIn(std::string("KEYCHAIN-") + c.name, code, true, &error), "0") << error;
        client.close();
        EXPECT_EQ(stop(SIGTERM), 0);
        // The next start finds the keychain sound and keeps it.
        EXPECT_FALSE(fileBytes(host(keychainPath)).empty());
    }
}

// Ctrl-C in a foreground run and a closed terminal stop the daemon as SIGTERM does: the
// rows queued since the last commit are committed and the status is 0. (The 144 s commit
// never comes in these few seconds, so every non-empty row in the file came from the stop.)
TEST_F(DaemonProgramTest, SIGINTAndSIGHUPStopItLikeSIGTERMCommittingEveryQueuedRow) {
    const std::string local = "/Library/Application Support/Telvo Server/databases/local.db";
    const std::string baseRoot = root_;
    const std::vector<std::pair<int, const char*>> signals{{SIGTERM, "term"}, {SIGINT, "int"}, {SIGHUP, "hup"}};
    // One daemon per signal, each on a root and port of its own, side by side.
    std::vector<pid_t> pids;
    std::vector<std::string> roots;
    for (const auto& [signal, name] : signals) {
        std::string root = baseRoot + "/" + name;
        std::filesystem::create_directories(root + "/Library/Preferences");
        std::filesystem::copy_file(baseRoot + TVSPreferences::kPath, root + TVSPreferences::kPath);
        // A port of its own.
        uint16_t port = telvo::testing::freePort();
        fs::setRootForTesting(root);
        ASSERT_TRUE(telvo::testing::writeDaemonPreferences(port));
        fs::setRootForTesting(baseRoot);
        pid_t pid = telvo::testing::spawnDaemon(root);
        ASSERT_GT(pid, 0);
        pids.push_back(pid);
        roots.push_back(root);
    }
    auto logOf = [](const std::string& root) { return fileBytes(root + Controller::kLogPath); };
    for (const std::string& root : roots) {
        for (int i = 0; i < 1000 && logOf(root).find(": opening socket\n") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_NE(logOf(root).find(": opening socket\n"), std::string::npos) << logOf(root);
    }
    // Long enough for an hour-level row (one every 6 s) to be queued after the start's commit.
    std::this_thread::sleep_for(std::chrono::milliseconds(8000));
    for (size_t i = 0; i < signals.size(); ++i) {
        SCOPED_TRACE(signals[i].second);
        kill(pids[i], signals[i].first);
        int status = 0;
        bool ended = false;
        for (int t = 0; t < 1500 && !ended; ++t) {
            if (waitpid(pids[i], &status, WNOHANG) == pids[i])
                ended = true;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!ended) {
            kill(pids[i], SIGKILL);
            waitpid(pids[i], &status, 0);
        }
        ASSERT_TRUE(ended);
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
        std::string database = roots[i] + local;
        std::string out = telvo::testing::commandOutput(
            "sqlite3 '" + database +
            "' 'select count(*) from hour_cpuhistory where empty = 0; "
            "select count(*) = max(sample) - min(sample) + 1 from hour_cpuhistory;' 2>&1");
        EXPECT_GE(std::atoi(out.c_str()), 1) << out;
        EXPECT_NE(out.find("\n1\n"), std::string::npos) << "rows without a hole: " << out;
    }
}

namespace {

// 200 clients, 20 of which ask every second and never read: the others are still
// answered every second, and the daemon samples every second (no gap in the cpu samples the
// clients receive). The run lasts until every reading client has its replies, however long
// a loaded machine takes for them (up to a generous deadline); what is checked is how they
// came, not how many fitted in a fixed time.
TEST_F(DaemonProgramTest, ClientsThatNeverReadHoldUpNeitherTheOthersNorTheTicks) {
    start();
    const std::string code = passcode();
    ASSERT_FALSE(code.empty());
    constexpr int kClients = 200, kStalled = 20, kReading = kClients - kStalled;
    // Replies each reading client waits for: about twenty seconds of asking once a second.
    constexpr int kReplies = 20;
    // A client held up by the stalled ones for a few seconds, again and again, is a fault; a
    // reply on a busy machine comes well within this of the one before.
    constexpr double kGapBound = 6;
    const auto deadline = std::chrono::seconds(240);
    std::mutex lock;
    std::condition_variable changed;  // under `lock`: a log-in ended, a client is through, go
    int loggedIn = 0, failed = 0;
    int through = 0;  // reading clients with their kReplies replies, or ended without them
    bool go = false;
    std::atomic<bool> finish{false};
    std::map<long, long> cpuTimes;  // level-0 cpu sample id to its time, from every reply
    std::vector<double> worstGap(kClients, 0);
    std::vector<int> worstGapAt(kClients, 0);  // the reply that ended it (1: the first)
    std::vector<int> replies(kClients, 0);
    std::vector<std::string> errors;
    // The level-0 cpu samples of a reply: id to time.
    auto cpuSamples = [](const std::string& payload) {
        std::vector<std::pair<long, long>> found;
        const size_t begin = payload.find("<stat type=\"cpu\" interval=\"0\"");
        if (begin == std::string::npos) return found;
        const size_t end = payload.find("</stat>", begin);
        auto number = [&](const std::string& key, size_t from, size_t to) {
            const size_t at = payload.find(" " + key + "=\"", from);
            return at < to ? std::atol(payload.c_str() + at + key.size() + 3) : -1L;
        };
        for (size_t at = payload.find("<s ", begin); at < end; at = payload.find("<s ", at + 1)) {
            const size_t close = payload.find('>', at);
            found.emplace_back(number("id", at, close), number("time", at, close));
        }
        return found;
    };
    std::vector<std::thread> threads;
    for (int n = 0; n < kClients; ++n)
        threads.emplace_back([&, n] {
            ProtocolClient client;
            client.setSourceAddress("127.0.1." + std::to_string(10 + n));
            std::string error;
            if (!client.connect("127.0.0.1", port_, &error, 60) ||
                !client.logIn("MANY-" + std::to_string(n), code, n % 2 == 0, &error)) {
                std::lock_guard<std::mutex> hold(lock);
                errors.push_back(std::to_string(n) + ": " + error);
                ++failed;
                if (n >= kStalled) ++through;
                changed.notify_all();
                return;
            }
            {
                std::unique_lock<std::mutex> hold(lock);
                ++loggedIn;
                changed.notify_all();
                changed.wait(hold, [&] { return go || finish; });
            }
            if (n < kStalled) {
                // Asks every second as the others do, and never reads.
                for (auto next = std::chrono::steady_clock::now(); !finish; next += std::chrono::seconds(1)) {
                    client.send(ProtocolClient::statRequest("cpu,load,memory", "0"));
                    std::this_thread::sleep_until(next);
                }
                return;
            }
            long have = 0;
            bool counted = false;  // in `through`
            // The first reply is counted from the start of the run.
            auto last = std::chrono::steady_clock::now();
            auto next = last;
            while (!finish) {
                next += std::chrono::seconds(1);
                client.send(ProtocolClient::statRequest("cpu,load,memory", std::to_string(have)));
                auto reply = client.readStatReply(30);
                const auto now = std::chrono::steady_clock::now();
                if (!reply) break;
                const auto samples = cpuSamples(reply->payload);
                {
                    // Held only while the reply is noted: a client that slept holding it would
                    // hold up every other one.
                    std::lock_guard<std::mutex> hold(lock);
                    ++replies[n];
                    const double gap = std::chrono::duration<double>(now - last).count();
                    if (gap > worstGap[n]) {
                        worstGap[n] = gap;
                        worstGapAt[n] = replies[n];
                    }
                    last = now;
                    for (const auto& [id, time] : samples) {
                        cpuTimes[id] = time;
                        have = std::max(have, id);
                    }
                    if (!counted && replies[n] >= kReplies) {
                        counted = true;
                        ++through;
                        changed.notify_all();
                    }
                }
                std::this_thread::sleep_until(next);
            }
            std::lock_guard<std::mutex> hold(lock);
            if (!counted) {
                ++through;
                changed.notify_all();
            }
        });
    bool allThrough = false;
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait_for(hold, std::chrono::seconds(120), [&] { return loggedIn + failed == kClients; });
        go = true;
        changed.notify_all();
        allThrough = changed.wait_for(hold, deadline, [&] { return through == kReading; });
    }
    finish = true;
    changed.notify_all();
    for (auto& t : threads) t.join();
    EXPECT_EQ(failed, 0) << (errors.empty() ? "" : errors.front());
    ASSERT_EQ(loggedIn, kClients);
    EXPECT_TRUE(allThrough) << "not every reading client had " << kReplies << " replies within the deadline";
    for (int n = kStalled; n < kClients; ++n) {
        SCOPED_TRACE(n);
        // Answered all along: a client whose replies stopped ended short of them.
        EXPECT_GE(replies[n], kReplies);
        EXPECT_LT(worstGap[n], kGapBound) << "before reply " << worstGapAt[n] << " of " << replies[n];
    }
    // Every tick took its sample: the ids follow one another, and each sample's time (whole
    // seconds, as the tick took it) is its tick's second, or the next one for a tick that ran
    // late by half a second or more. A tick missed moves every later sample a second on.
    ASSERT_GE(cpuTimes.size(), size_t(kReplies / 2));
    long base = cpuTimes.begin()->second - cpuTimes.begin()->first;
    for (const auto& [id, time] : cpuTimes) base = std::min(base, time - id);
    long lastOnTime = 0;
    for (auto it = cpuTimes.begin(); it != cpuTimes.end(); ++it) {
        const auto& [id, time] = *it;
        if (std::next(it) != cpuTimes.end()) {
            EXPECT_EQ(std::next(it)->first, id + 1) << "sample " << id << " is followed by " << std::next(it)->first;
        }
        const long late = time - id - base;
        EXPECT_TRUE(late == 0 || late == 1) << "sample " << id << " came " << late << " s after its second";
        if (late == 0) lastOnTime = id;
    }
    EXPECT_GE(lastOnTime, std::prev(cpuTimes.end())->first - 2)
        << "every sample after " << lastOnTime << " a second late: a tick was missed";
    EXPECT_EQ(stop(SIGTERM), 0);
}

}  // namespace
