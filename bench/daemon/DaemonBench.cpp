// Daemon costs.
// - BM_LargestReply: one statistics request naming all fifteen served collectors, each
//   answering 9 levels of 600 samples of six values (the most a reply can carry), turned into
//   the compressed 104 payload and its 105 header. Counters from the same run: the main
//   queue's share (main_queue_ms, reading the collectors), the whole reply's CPU time on every
//   thread (reply_cpu_ms) and zlib alone on the same document (gzip_only_ms).
// - BM_IncrementalReply: the collectors the daemon serves, sampled for ten minutes on the
//   virtual clock over this machine's /proc, /sys and /dev, each asked for level 0 from the
//   sample the client already has (one new sample: the one-second steady state).
// - BM_DaemonIncrementalClients/<clients>: the program on a private root that sees this
//   machine, with that many TLS clients each asking every second for level 0 of every served
//   collector from the sample it already has; the daemon's CPU is measured for 10 s once every
//   client has made its handshake and logged in, and shared out over the replies sent then
//   (cpu_us_per_reply).
// - BM_DaemonLargestHistory: the program on a private root for 60 s of real time, with one
//   client asking every second for every level of every served collector (the largest
//   history); counters give the level-0 sample numbers of cpu, load and memory that never
//   came (or came empty) and the daemon's CPU seconds per wall second.
// - BM_DaemonProgram/<clients>: the program on a private root for 5 s of real time, with that
//   many TLS clients each asking every second for every served collector; counters give the
//   daemon's CPU seconds per wall second and its resident memory at the end.
// - BM_DaemonProcessLists/<processes>/<client>: the program on a private root that sees this
//   machine, with that many more processes of the benchmark's own, and (client 1) one TLS
//   client asking every second for every process list; the daemon's CPU over 10 s (client 0
//   gives the same daemon without the lists, its cost apart from them).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <regex>
#include <set>
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
#include "platform/crypto/Gzip.h"
#include "platform/dispatch/MainLoop.h"
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"
#include "platform/values/Format.h"
#include "platform/values/PropertyList.h"

using namespace telvo;

namespace {

const char* kTypes[] = {"cpu",  "load",     "memory", "network",     "disks",     "sensors",  "diskactivity", "uptime",
                        "smart", "diskinfo", "raid",   "corestorage", "processes", "softraid", "battery"};

// A collector of six values per sample whose nine level rings are full (600 samples each).
class FullCollector : public StatCollector {
public:
    explicit FullCollector(std::string type) : StatCollector(6), type_(std::move(type)) {
        setDatabaseEnabled(false);
        ValueDictionary keys;
        int index = 0;
        for (const char* key : {"u", "s", "n", "i", "r", "w"}) keys[key] = Value(index++);
        config().set("xmlSampleKeys", Value(keys));
        for (int level = 0; level < 9; ++level) {
            statsample* ring = storageForType(level);
            for (int slot = 0; slot < 600; ++slot) {
                statsample& sample = ring[slot];
                sample.sampleID = 1000600.0 - slot;
                sample.time = 1800000600.0 - slot * 1.0;
                sample.empty = 0;
                for (int v = 0; v < 6; ++v) sample.values[v] = ((slot + v) % 97) * 1.37;
            }
            setID(1000600.0, level);
        }
    }
    std::string statType() const override { return type_; }

private:
    std::string type_;
};

double processCPUms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double wallMs() { return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

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
    std::string payload;
    // Replies are made as a connected session's are: the nodes on this (the main) queue, the
    // bytes and their compression on the session's own queue.
    auto session = RemoteClient::initDetachedForTesting([&](const std::string& bytes) { payload = bytes; },
                                                        "127.0.0.1", true);
    session->processXML("<tvx type=\"100\" compression=\"1\" protocol=\"3\"></tvx>");
    // Authorised as a known device.
    ServerManager::sharedServerManager().addDeviceToAuthorizedList("BENCH");
    session->processXML("<tvx type=\"101\" uuid=\"BENCH\" name=\"b\"></tvx>");
    session->waitForRepliesForTesting();
    std::string request = "<tvx type=\"103\">";
    for (const char* type : kTypes) request += std::string("<stat type=\"") + type + "\" samples=\"0|0|0|0|0|0|0|0|0\"></stat>";
    request += "</tvx>";
    double mainMs = 0, cpuMs = 0;
    for (auto _ : state) {
        double cpu0 = processCPUms(), wall0 = wallMs();
        session->processXML(request);
        mainMs += wallMs() - wall0;
        session->waitForRepliesForTesting();
        cpuMs += processCPUms() - cpu0;
    }
    const double n = double(state.iterations());
    state.counters["main_queue_ms"] = mainMs / n;
    state.counters["reply_cpu_ms"] = cpuMs / n;
    state.counters["compressed_bytes"] = double(payload.size());
    // zlib alone on the same document.
    auto document = crypto::zlibInflate(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    state.counters["document_bytes"] = document ? double(document->size()) : 0;
    if (document) {
        double gzipMs = 0;
        constexpr int kRounds = 3;
        for (int i = 0; i < kRounds; ++i) {
            double cpu0 = processCPUms();
            benchmark::DoNotOptimize(crypto::gzipDeflate(*document));
            gzipMs += processCPUms() - cpu0;
        }
        state.counters["gzip_only_ms"] = gzipMs / kRounds;
        state.counters["cpu_over_gzip"] = (cpuMs / n) / (gzipMs / kRounds);
    }
    served.clear();
}
BENCHMARK(BM_LargestReply)->Unit(benchmark::kMillisecond);

// A private root that sees this machine's kernel files, for collectors run in this process.
std::string machineRoot(const char* name) {
    std::string root = makeRoot(name);
    for (const char* dir : {"proc", "sys", "dev", "run", "etc"})
        std::filesystem::create_directory_symlink(std::string("/") + dir, root + "/" + dir);
    return root;
}

// The daemon's collectors in this process, started once and sampled for ten minutes.
void startMachineCollectors() {
    std::string root = machineRoot("bench-incremental");
    fs::setRootForTesting(root);
    setDaemonLogStream(fopen("/dev/null", "w"));
    platform::Clock::useVirtual(1'800'000'000);
    fs::createDirectories("/Library/Preferences");
    uint16_t port = uint16_t(20000 + ((getpid() + 7) % 20000));
    plist::writeFile(Value(ValueDictionary{{"port", Value(int(port))}, {"bonjour enabled", Value(0)}}),
                     TVSPreferences::kPath);
    Controller& controller = Controller::sharedController();
    controller.prepare();
    controller.start();
    dispatch::MainLoop::runFor(600.0);
}

void BM_IncrementalReply(benchmark::State& state) {
    static bool started = (startMachineCollectors(), true);
    (void)started;
    auto& served = ServerManager::sharedServerManager().statCollectors();
    size_t payload = 0;
    auto session = RemoteClient::initDetachedForTesting([&](const std::string& bytes) { payload = bytes.size(); });
    session->processXML("<tvx type=\"100\" compression=\"1\" protocol=\"3\"></tvx>");
    ServerManager::sharedServerManager().addDeviceToAuthorizedList("BENCH");
    session->processXML("<tvx type=\"101\" uuid=\"BENCH\" name=\"b\"></tvx>");
    // Each collector asked for level 0 from the sample before its newest; with an argument of
    // 4, only the four first collectors of the daemon (cpu, load, memory, uptime).
    std::vector<StatCollectorPtr> asked;
    for (const StatCollectorPtr& c : served) {
        static const std::set<std::string> kFirstFour = {"cpu", "load", "memory", "uptime"};
        if (state.range(0) == 4 && !kFirstFour.count(c->statType())) continue;
        asked.push_back(c);
    }
    std::string request = "<tvx type=\"103\">";
    for (const StatCollectorPtr& c : asked)
        request += "<stat type=\"" + c->statType() + "\" samples=\"" + format("%.0f", c->idForInterval(0) - 1) + "\"></stat>";
    request += "</tvx>";
    for (auto _ : state) session->processXML(request);
    state.counters["collectors"] = double(asked.size());
    state.counters["compressed_bytes"] = double(payload);
}
BENCHMARK(BM_IncrementalReply)->Arg(4)->Arg(0)->Unit(benchmark::kMicrosecond);

double processCPUSeconds(pid_t pid) {
    // The process's CPU clock counts in nanoseconds, threads that have ended included; the
    // /proc figures below count in clock ticks (10 ms), too coarse for a tenth of a second.
    clockid_t clock;
    timespec now{};
    if (clock_getcpuclockid(pid, &clock) == 0 && clock_gettime(clock, &now) == 0)
        return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
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

pid_t startDaemon(const std::string& root, uint16_t port, std::string& passcode);

void BM_DaemonProgram(benchmark::State& state) {
    const int clients = int(state.range(0));
    for (auto _ : state) {
        std::string root = makeRoot("bench-daemon");
        uint16_t port = uint16_t(20000 + (getpid() % 20000));
        std::string passcode;
        pid_t pid = startDaemon(root, port, passcode);
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

void BM_DaemonProcessLists(benchmark::State& state) {
    const int processes = int(state.range(0));
    const bool asking = state.range(1) != 0;
    for (auto _ : state) {
        std::vector<pid_t> children;
        for (int i = 0; i < processes; ++i) {
            const pid_t child = fork();
            if (child == 0) {
                for (;;) pause();
            }
            if (child > 0) children.push_back(child);
        }
        std::string root = machineRoot("bench-process-lists");
        uint16_t port = uint16_t(20000 + ((getpid() + 31) % 20000));
        std::string passcode;
        pid_t pid = startDaemon(root, port, passcode);
        std::atomic<bool> stop{false};
        std::atomic<int> replies{0};
        std::atomic<bool> ready{!asking};
        std::thread client([&] {
            if (!asking) return;
            testclient::ProtocolClient c;
            if (!c.connect("127.0.0.1", port, nullptr, 30)) return;
            if (!c.logIn("BENCH-PROCESSES", passcode, true)) return;
            ready = true;
            const std::string request =
                "<tvx type=\"103\"><stat type=\"processes\"><item samples=\"0\" keys=\"cpu,memory,disks,network\"/>"
                "</stat></tvx>";
            while (!stop) {
                auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
                c.send(request);
                if (c.readStatReply(10)) ++replies;
                std::this_thread::sleep_until(next);
            }
        });
        for (int wait = 0; wait < 600 && !ready; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::this_thread::sleep_for(std::chrono::seconds(3));  // the records are made
        double cpuStart = processCPUSeconds(pid);
        int repliesStart = replies;
        auto wallStart = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        double cpu = processCPUSeconds(pid) - cpuStart;
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        state.counters["daemon_cpu_percent"] = 100.0 * cpu / wall;
        state.counters["replies_per_s"] = double(replies - repliesStart) / wall;
        stop = true;
        client.join();
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        for (const pid_t child : children) kill(child, SIGKILL);
        for (const pid_t child : children) waitpid(child, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
}
BENCHMARK(BM_DaemonProcessLists)
    ->Args({500, 1})
    ->Args({3000, 1})
    ->Args({3000, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Starts the program on a root that sees this machine; answers its pid and the passcode once
// it listens.
pid_t startDaemon(const std::string& root, uint16_t port, std::string& passcode) {
    // TELVO_BENCH_DAEMON names another build of the program, for comparing two builds with the
    // same benchmark binary.
    const char* other = std::getenv("TELVO_BENCH_DAEMON");
    const std::string program =
        other && *other ? std::string(other) : TELVO_BINARY_DIR "/programs/TelvoServerDaemon/TelvoServerDaemon";
    const pid_t pid = bench::startDaemonUnderRoot(program, root, port);
    for (int attempt = 0; attempt < 150; ++attempt) {
        testclient::ProtocolClient probe;
        if (probe.connect("127.0.0.1", port, nullptr, 2)) {
            TVSPreferences::resetForTesting();
            passcode = TVSPreferences::sharedPreferences().passcode().value_or("");
            if (!passcode.empty()) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return pid;
}

void BM_DaemonIncrementalClients(benchmark::State& state) {
    const int clients = int(state.range(0));
    for (auto _ : state) {
        std::string root = machineRoot("bench-clients");
        uint16_t port = uint16_t(20000 + ((getpid() + 19) % 20000));
        std::string passcode;
        pid_t pid = startDaemon(root, port, passcode);
        std::atomic<bool> stop{false};
        std::atomic<int> ready{0}, replies{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c)
            threads.emplace_back([&, c] {
                static const std::regex level0(R"re(<stat type="(\w+)" interval="0" id="(\d+)")re");
                testclient::ProtocolClient client;
                // Each from a loopback address of its own: the daemon bounds the sessions not
                // yet authorised per address.
                client.setSourceAddress("127.0." + std::to_string(1 + c / 200) + "." + std::to_string(10 + c % 200));
                if (!client.connect("127.0.0.1", port, nullptr, 60)) return;
                if (!client.logIn("BENCH-" + std::to_string(c), passcode, true)) return;
                ++ready;
                std::map<std::string, std::string> have;
                for (const char* type : kTypes) have[type] = "0";
                while (!stop) {
                    auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
                    std::string request = "<tvx type=\"103\">";
                    for (const auto& [type, id] : have)
                        request += "<stat type=\"" + type + "\" samples=\"" + id + "\"></stat>";
                    request += "</tvx>";
                    client.send(request);
                    if (auto reply = client.readStatReply(10)) {
                        ++replies;
                        for (auto it = std::sregex_iterator(reply->payload.begin(), reply->payload.end(), level0);
                             it != std::sregex_iterator(); ++it)
                            have[(*it)[1].str()] = (*it)[2].str();
                    }
                    std::this_thread::sleep_until(next);
                }
            });
        for (int wait = 0; wait < 1200 && ready < clients; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::this_thread::sleep_for(std::chrono::seconds(2));  // first, full answers are behind
        double cpuStart = processCPUSeconds(pid);
        int repliesStart = replies;
        auto wallStart = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        double cpu = processCPUSeconds(pid) - cpuStart;
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        state.counters["daemon_cpu_percent"] = 100.0 * cpu / wall;
        state.counters["clients_ready"] = ready.load();
        state.counters["replies_per_s"] = double(replies - repliesStart) / wall;
        // The daemon's whole CPU (sampling included) shared out over the replies it sent.
        if (replies > repliesStart) state.counters["cpu_us_per_reply"] = 1e6 * cpu / double(replies - repliesStart);
        stop = true;
        for (auto& t : threads) t.join();
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
}
BENCHMARK(BM_DaemonIncrementalClients)->Arg(0)->Arg(50)->Arg(200)->Iterations(1)->Unit(benchmark::kSecond);

// The level-0 sample numbers of the storage-type-1 collectors in a reply, and which were empty.
void collectLevel0(const std::string& xml, std::map<std::string, std::map<long, bool>>& seen) {
    static const std::regex stat(R"re(<stat type="(cpu|load|memory)" interval="0"[^>]*>)re");
    static const std::regex sample(R"re(<s ([^>]*)>)re");
    static const std::regex id(R"re(\bid="(-?\d+)")re");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), stat); it != std::sregex_iterator(); ++it) {
        size_t begin = size_t(it->position() + it->length());
        size_t end = xml.find("</stat>", begin);
        std::string body = xml.substr(begin, end - begin);
        for (auto s = std::sregex_iterator(body.begin(), body.end(), sample); s != std::sregex_iterator(); ++s) {
            std::string attributes = (*s)[1].str();
            std::smatch m;
            if (!std::regex_search(attributes, m, id)) continue;
            bool empty = attributes.find("empty=\"1\"") != std::string::npos;
            auto& slot = seen[(*it)[1].str()][std::stol(m[1].str())];
            slot = slot || !empty;  // true once it came with values
        }
    }
}

void BM_DaemonLargestHistory(benchmark::State& state) {
    const std::string program = TELVO_BINARY_DIR "/programs/TelvoServerDaemon/TelvoServerDaemon";
    const double seconds = double(state.range(0));
    for (auto _ : state) {
        std::string root = machineRoot("bench-history");
        uint16_t port = uint16_t(20000 + ((getpid() + 13) % 20000));
        fs::setRootForTesting(root);
        fs::createDirectories("/Library/Preferences");
        plist::writeFile(Value(ValueDictionary{{"port", Value(int(port))}, {"bonjour enabled", Value(0)}}),
                         TVSPreferences::kPath);
        pid_t pid = fork();
        if (pid == 0) {
            setenv("TELVO_ROOT", root.c_str(), 1);
            execl(program.c_str(), program.c_str(), nullptr);
            _exit(127);
        }
        // The daemon listens once it has made its passcode; a loaded machine may take a while.
        std::string passcode;
        for (int attempt = 0; attempt < 150; ++attempt) {
            testclient::ProtocolClient probe;
            if (probe.connect("127.0.0.1", port, nullptr, 2)) {
                TVSPreferences::resetForTesting();
                passcode = TVSPreferences::sharedPreferences().passcode().value_or("");
                if (!passcode.empty()) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        std::string request = "<tvx type=\"103\">";
        for (const char* type : kTypes)
            request += std::string("<stat type=\"") + type + "\" samples=\"-1|-1|-1|-1|-1|-1|-1|-1|-1\"></stat>";
        request += "</tvx>";
        std::atomic<bool> stop{false};
        std::atomic<int> replies{0};
        std::atomic<double> largest{0};
        std::map<std::string, std::map<long, bool>> seen;
        std::atomic<double> firstId{-1};
        std::thread client([&] {
            testclient::ProtocolClient c;
            if (!c.connect("127.0.0.1", port)) return;
            if (!c.logIn("BENCH-HISTORY", passcode, true)) return;
            while (!stop) {
                auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
                c.send(request);
                if (auto reply = c.readStatReply(30)) {
                    ++replies;
                    largest = std::max(largest.load(), double(reply->payload.size()));
                    collectLevel0(reply->payload, seen);
                }
                std::this_thread::sleep_until(next);
            }
        });
        std::this_thread::sleep_for(std::chrono::seconds(2));  // the client connects
        double cpuStart = processCPUSeconds(pid);
        auto wallStart = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        double cpu = processCPUSeconds(pid) - cpuStart;
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        stop = true;
        client.join();
        // A tick missed by a collector leaves a sample number that never came, or came empty,
        // between the first and the last one the client saw.
        double missed = 0, empty = 0;
        for (const auto& [type, ids] : seen) {
            std::vector<long> numbers;
            for (const auto& [n, full] : ids)
                if (n > 0) numbers.push_back(n);
            if (numbers.size() < 2) continue;
            // Only the window this run saw: the ten first numbers are older history.
            long from = numbers.front() + 10, to = numbers.back();
            for (long n = from; n <= to; ++n) {
                auto at = ids.find(n);
                if (at == ids.end())
                    ++missed;
                else if (!at->second)
                    ++empty;
            }
        }
        state.counters["missed_ticks"] = missed;
        state.counters["empty_ticks"] = empty;
        state.counters["collectors_checked"] = double(seen.size());
        state.counters["replies"] = replies.load();
        state.counters["largest_reply_bytes"] = largest.load();
        state.counters["daemon_cpu_percent"] = 100.0 * cpu / wall;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
}
BENCHMARK(BM_DaemonLargestHistory)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
