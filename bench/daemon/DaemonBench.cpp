// Daemon costs.
// - BM_LargestReply: one statistics request naming all fifteen served collectors, each
//   answering 9 levels of 600 samples of six values (the most a reply can carry), turned into
//   the compressed 104 payload and its 105 header.
// - BM_DaemonProgram/<clients>: the program on a private root for 5 s of real time, with that
//   many TLS clients each asking every second for every served collector; counters give the
//   daemon's CPU seconds per wall second and its resident memory at the end.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "DaemonUnderRoot.h"
#include "ProtocolClient.h"
#include "collectors/framework/StatCollector.h"
#include "daemon/Controller.h"
#include "daemon/RemoteClient.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSPreferences.h"
#include "foundation/ServerLog.h"
#include "platform/fs/Root.h"
#include "platform/values/Format.h"
#include "platform/values/PropertyList.h"

using namespace telvo;

namespace {

const char* kTypes[] = {"cpu",  "load",     "memory", "network",     "disks",     "sensors",  "diskactivity", "uptime",
                        "smart", "diskinfo", "raid",   "corestorage", "processes", "softraid", "battery"};

class FullCollector : public StatCollector {
public:
    explicit FullCollector(std::string type) : type_(std::move(type)) { setDatabaseEnabled(false); }
    std::string statType() const override { return type_; }
    std::vector<StatNodePtr> xmlNodesFromAttributes(const Value&) override {
        std::vector<StatNodePtr> nodes;
        for (int level = 0; level < 9; ++level) {
            auto stat = StatNode::element("stat");
            stat->setAttribute("type", type_);
            stat->setAttribute("interval", std::to_string(level));
            for (int i = 0; i < 600; ++i) {
                auto s = StatNode::element("s");
                s->setAttribute("i", format("%.0f", 1000000.0 + i));
                s->setAttribute("t", format("%.0f", 1800000000.0 + i));
                for (const char* key : {"u", "s", "n", "i"}) s->setAttribute(key, format("%.2f", (i % 97) * 1.37));
                stat->addChild(s);
            }
            nodes.push_back(stat);
        }
        return nodes;
    }

private:
    std::string type_;
};

std::string makeRoot(const char* name) {
    std::string pattern = std::string("/tmp/") + name + "-XXXXXX";
    std::string root = mkdtemp(pattern.data());
    return root;
}

void BM_LargestReply(benchmark::State& state) {
    fs::setRootForTesting(makeRoot("bench-reply"));
    setDaemonLogStream(fopen("/dev/null", "w"));
    auto& served = ServerManager::sharedServerManager().statCollectors();
    served.clear();
    for (const char* type : kTypes) served.push_back(std::make_shared<FullCollector>(type));
    size_t payload = 0;
    auto session = RemoteClient::initDetachedForTesting([&](const std::string& bytes) { payload = bytes.size(); });
    session->processXML("<tvx type=\"100\" compression=\"1\" protocol=\"3\"></tvx>");
    // Authorised as a known device.
    ServerManager::sharedServerManager().addDeviceToAuthorizedList("BENCH");
    session->processXML("<tvx type=\"101\" uuid=\"BENCH\" name=\"b\"></tvx>");
    std::string request = "<tvx type=\"103\">";
    for (const char* type : kTypes) request += std::string("<stat type=\"") + type + "\" samples=\"0|0|0|0|0|0|0|0|0\"></stat>";
    request += "</tvx>";
    for (auto _ : state) session->processXML(request);
    state.counters["compressed_bytes"] = double(payload);
    served.clear();
}
BENCHMARK(BM_LargestReply)->Unit(benchmark::kMillisecond);

double processCPUSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    auto close = text.rfind(')');
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::stod(field);
        if (i == 15) {
            stime = std::stod(field);
            break;
        }
    }
    return (utime + stime) / double(sysconf(_SC_CLK_TCK));
}

double residentMiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

void BM_DaemonProgram(benchmark::State& state) {
    const int clients = int(state.range(0));
    const std::string program = TELVO_BINARY_DIR "/programs/TelvoServerDaemon/TelvoServerDaemon";
    for (auto _ : state) {
        std::string root = makeRoot("bench-daemon");
        uint16_t port = uint16_t(20000 + (getpid() % 20000));
        const pid_t pid = bench::startDaemonUnderRoot(program, root, port);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        TVSPreferences::resetForTesting();
        std::string passcode = TVSPreferences::sharedPreferences().passcode().value_or("");
        std::string request = "<tvx type=\"103\">";
        for (const char* type : kTypes) request += std::string("<stat type=\"") + type + "\" samples=\"0|0\"></stat>";
        request += "</tvx>";
        std::atomic<bool> stop{false};
        std::atomic<int> replies{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c)
            threads.emplace_back([&, c] {
                testclient::ProtocolClient client;
                if (!client.connect("127.0.0.1", port)) return;
                if (!client.logIn("BENCH-" + std::to_string(c), passcode, true)) return;
                while (!stop) {
                    client.send(request);
                    if (client.readStatReply(10)) ++replies;
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                }
            });
        std::this_thread::sleep_for(std::chrono::seconds(1));  // the clients connect
        double cpuStart = processCPUSeconds(pid);
        auto wallStart = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        double cpu = processCPUSeconds(pid) - cpuStart;
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        state.counters["daemon_cpu_percent"] = 100.0 * cpu / wall;
        state.counters["daemon_rss_MiB"] = residentMiB(pid);
        stop = true;
        for (auto& t : threads) t.join();
        state.counters["replies"] = replies.load();
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
}
BENCHMARK(BM_DaemonProgram)->Arg(0)->Arg(50)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
