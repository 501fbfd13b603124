// What idle connections cost the running daemon.
// - BM_IdleConnections/<connections>/<addresses>: the program on a private root; that many TLS
//   connections are attempted (from 127.0.0.1 when <addresses> is 1, else spread over
//   127.0.0.1 and up) and left idle before any message. Counters: the daemon's resident memory
//   (MiB) and threads before, at the peak and 5 s after the connections closed; how many
//   connections completed their handshake; and the milliseconds a client from another address
//   and a remembered device took to be authorised in the middle of it.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "DaemonUnderRoot.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using telvo::testclient::ProtocolClient;

namespace {

struct Usage {
    double residentMiB = 0;
    int threads = 0;
};

Usage usageOf(pid_t pid) {
    Usage u;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) u.residentMiB = std::stod(line.substr(6)) / 1024.0;
        if (line.rfind("Threads:", 0) == 0) u.threads = std::stoi(line.substr(8));
    }
    return u;
}

uint16_t pickPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    uint16_t port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

double millisecondsToLogIn(uint16_t port, const std::string& source, const std::string& device,
                           const std::optional<std::string>& code) {
    auto start = std::chrono::steady_clock::now();
    ProtocolClient client;
    client.setSourceAddress(source);
    if (!client.connect("127.0.0.1", port, nullptr, 20)) return -1;
    auto auth = client.logIn(device, code, false);
    if (!auth || *auth != "0") {
        if (!code) return -1;
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_IdleConnections(benchmark::State& state) {
    const int connections = int(state.range(0));
    const int addresses = int(state.range(1));
    const std::string program = TELVO_BINARY_DIR "/programs/TelvoServerDaemon/TelvoServerDaemon";
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 20000);
    setrlimit(RLIMIT_NOFILE, &limit);
    for (auto _ : state) {
        char pattern[] = "/tmp/bench-idle-XXXXXX";
        std::string root = mkdtemp(pattern);
        uint16_t port = pickPort();
        const pid_t pid = bench::startDaemonUnderRoot(program, root, port, {{"TELVO_NETSTATE_FILE", "/nonexistent"}});
        const std::string log = root + Controller::kLogPath;
        const std::string ready = "Waiting for connections on port " + std::to_string(port) + ".";
        for (int i = 0; i < 1000 && fileText(log).find(ready) == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        TVSKeychain::resetForTesting();
        TVSPreferences::resetForTesting();
        std::string passcode = TVSPreferences::sharedPreferences().passcode().value_or("");
        // One device is remembered before the storm; the daemon settles.
        millisecondsToLogIn(port, "127.0.0.1", "BENCH-REMEMBERED", passcode);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        Usage before = usageOf(pid);

        std::vector<std::unique_ptr<ProtocolClient>> clients(static_cast<size_t>(connections));
        std::atomic<int> next{0}, secured{0};
        std::vector<std::thread> openers;
        for (int t = 0; t < 16; ++t)
            openers.emplace_back([&] {
                for (int i; (i = next++) < connections;) {
                    auto client = std::make_unique<ProtocolClient>();
                    client->setSourceAddress("127.0.0." + std::to_string(1 + i % addresses));
                    if (client->connect("127.0.0.1", port, nullptr, 20)) {
                        ++secured;
                        clients[size_t(i)] = std::move(client);
                    }
                }
            });
        Usage peak = usageOf(pid);
        double otherMs = -1, rememberedMs = -1;
        bool measured = false;
        while (next.load() < connections || !measured) {
            if (!measured && next.load() >= connections / 2) {
                otherMs = millisecondsToLogIn(port, "127.0.0.254", "BENCH-OTHER", passcode);
                rememberedMs = millisecondsToLogIn(port, "127.0.0.253", "BENCH-REMEMBERED", std::nullopt);
                measured = true;
            }
            Usage u = usageOf(pid);
            peak.residentMiB = std::max(peak.residentMiB, u.residentMiB);
            peak.threads = std::max(peak.threads, u.threads);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        for (auto& t : openers) t.join();
        for (int i = 0; i < 10; ++i) {
            Usage u = usageOf(pid);
            peak.residentMiB = std::max(peak.residentMiB, u.residentMiB);
            peak.threads = std::max(peak.threads, u.threads);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        clients.clear();  // every connection closes
        std::this_thread::sleep_for(std::chrono::seconds(5));
        Usage after = usageOf(pid);

        state.counters["rss_before_MiB"] = before.residentMiB;
        state.counters["rss_peak_MiB"] = peak.residentMiB;
        state.counters["rss_after5s_MiB"] = after.residentMiB;
        state.counters["threads_before"] = before.threads;
        state.counters["threads_peak"] = peak.threads;
        state.counters["threads_after5s"] = after.threads;
        state.counters["secured"] = secured.load();
        state.counters["other_client_ms"] = otherMs;
        state.counters["remembered_ms"] = rememberedMs;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
}
BENCHMARK(BM_IdleConnections)
    ->Args({200, 1})
    ->Args({1000, 1})
    ->Args({3000, 1})
    ->Args({3000, 100})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
