// The process lists through the daemon program on this machine (a marked smoke test: it runs
// real processes and waits real seconds, once): a busy child leads the CPU list, a child that
// touched 210 MiB is in the memory list, a child that wrote and synced 64 MiB in the build
// tree is in the disk-write list; each list goes 15 s after its last request, the collector
// with the last one; and the last client leaving switches the collector off.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "DaemonProgramFixture.h"
#include "FreePort.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/values/PropertyList.h"
#include "platform/xml/XmlDocument.h"

using namespace telvo;
using telvo::testclient::ProtocolClient;

namespace {


double wallNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

struct Entry {
    int pid = 0;
    std::map<std::string, std::string> attributes;
    double number(const std::string& key) const {
        auto it = attributes.find(key);
        return it == attributes.end() ? -1 : std::atof(it->second.c_str());
    }
};

// The item entries of the "processes" stat element of a reply, in order.
std::vector<Entry> processEntries(const std::string& payload) {
    std::vector<Entry> out;
    auto document = xml::XmlDocument::parse(payload);
    if (!document) return out;
    for (const auto& stat : document->root().children("stat")) {
        if (stat.attribute("type") != "processes") continue;
        for (const auto& item : stat.children()) {
            Entry e;
            for (const auto& [k, v] : item.attributes()) e.attributes[k] = v;
            e.pid = std::atoi(e.attributes["key"].c_str());
            out.push_back(e);
        }
    }
    return out;
}

// Children that end with the test, whatever happens to it.
class Children {
public:
    ~Children() {
        for (pid_t p : pids_) {
            kill(p, SIGKILL);
            waitpid(p, nullptr, 0);
        }
    }
    template <class Body>
    pid_t spawn(Body body) {
        pid_t p = fork();
        if (p == 0) {
            body();
            _exit(0);
        }
        if (p > 0) pids_.push_back(p);
        return p;
    }

private:
    std::vector<pid_t> pids_;
};

class ProcessListsProgramTest : public telvo::testing::DaemonProgramFixture {
protected:
    static size_t countOf(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    }
    // The time (seconds since 1970) of the first log line with that message after `from`, or
    // -1. Log lines are stamped "%Y-%m-%d %H:%M:%S.mmm" in local time.
    double logTime(const std::string& message) const {
        const std::string text = logText();
        const size_t at = text.find(": " + message + "\n");
        if (at == std::string::npos) return -1;
        const size_t line = text.rfind('\n', at);
        const std::string stamp = text.substr(line == std::string::npos ? 0 : line + 1, 23);
        struct tm tm {};
        if (!strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &tm)) return -1;
        tm.tm_isdst = -1;
        return static_cast<double>(mktime(&tm)) + std::atoi(stamp.substr(20, 3).c_str()) / 1000.0;
    }


    // Asks for the lists and answers their entries.
    std::vector<Entry> ask(ProtocolClient& client, const std::string& keys) {
        if (!client.send(ProtocolClient::statRequest("", "0", {{"processes", keys}}))) return {};
        auto reply = client.readStatReply(30);
        if (!reply) return {};
        lastPayload_ = reply->payload;
        return processEntries(reply->payload);
    }

    std::string lastPayload_;
};

}  // namespace

TEST_F(ProcessListsProgramTest, BusiestProcessesOnThisMachine) {
    start();
    ProtocolClient client;
    logIn(client, "PROCESS-LISTS");

    Children children;
    // Spins on two threads, at a priority that keeps it running on a busy machine: round-robin
    // real time (the kernel still leaves the others a share of every second, so each thread
    // gets at most 95 % of a processor), else the highest nice value. A nice value alone is not
    // enough when other work sits in other control groups. With two threads it leads the
    // single-threaded programs that keep a processor busy on a loaded machine (compilers).
    const pid_t busy = children.spawn([] {
        sched_param param{};
        param.sched_priority = 1;
        if (sched_setscheduler(0, SCHED_RR, &param) != 0) setpriority(PRIO_PROCESS, 0, -20);
        // The second thread, made without the allocator (this is a child of a threaded process).
        static char stack[64 * 1024];
        auto spin = [](void*) -> int {
            volatile unsigned long m = 0;
            for (;;) m = m + 1;
        };
        clone(spin, stack + sizeof stack,
              CLONE_VM | CLONE_FS | CLONE_FILES | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM, nullptr);
        volatile unsigned long n = 0;
        for (;;) n = n + 1;
    });
    // Touches 210 MiB of its own memory, then waits.
    const pid_t big = children.spawn([] {
        const size_t size = size_t(210) << 20;
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) _exit(1);
        std::memset(p, 0x5a, size);
        for (;;) pause();
    });
    ASSERT_GT(busy, 0);
    ASSERT_GT(big, 0);

    // The first request turns the lists on; it is answered from the table as it is, empty
    // before the first pass.
    ask(client, "cpu,memory,disks");
    ASSERT_NE(lastPayload_.find("<stat type=\"processes\""), std::string::npos) << lastPayload_;
    EXPECT_TRUE(logHas("starting processes"));
    for (const char* line : {"adding process mask 1", "adding process mask 2", "adding process mask 4"})
        EXPECT_TRUE(logHas(line)) << line;
    // Two passes, so the disk counters have a baseline before the writer starts.
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    const std::string file = std::string(TELVO_BINARY_DIR) + "/process-lists-" + std::to_string(getpid()) + ".tmp";
    // Starts, is seen by a pass or two, then writes.
    const pid_t writer = children.spawn([file] {
        ::sleep(2);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) _exit(1);
        static char block[1 << 20];
        std::memset(block, 0x33, sizeof block);
        for (int i = 0; i < 64; ++i)
            if (::write(fd, block, sizeof block) != static_cast<ssize_t>(sizeof block)) _exit(1);
        ::fsync(fd);
        ::close(fd);
        ::unlink(file.c_str());
        for (;;) pause();
    });
    ASSERT_GT(writer, 0);

    bool busyLeads = false, bigListed = false, writerListed = false;
    double busyCPU = 0, bigMemory = 0;
    std::string seen;
    const double deadline = wallNow() + 25;
    while (wallNow() < deadline && !(busyLeads && bigListed && writerListed)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const std::vector<Entry> entries = ask(client, "cpu,memory,disks");
        // 20 CPU entries, 20 memory entries, 20 read entries, 20 write entries.
        ASSERT_EQ(entries.size(), 80u) << lastPayload_;
        for (size_t i = 0; i < 20; ++i) {
            if (entries[i].pid == busy) busyCPU = entries[i].number("c");
            if (i == 0 && entries[i].pid == busy && busyCPU >= 80.0) busyLeads = true;
        }
        for (size_t i = 20; i < 40; ++i)
            if (entries[i].pid == big) {
                bigMemory = entries[i].number("m");
                bigListed = bigMemory >= 200.0 * 1024 * 1024;
            }
        for (size_t i = 60; i < 80; ++i)
            if (entries[i].pid == writer && entries[i].number("t") > 0) writerListed = true;
        seen = lastPayload_;
    }
    std::filesystem::remove(file);
    EXPECT_TRUE(busyLeads) << "busy child " << busy << " at " << busyCPU << " %\n" << seen;
    EXPECT_LE(busyCPU, 2 * 110.0);  // two threads
    EXPECT_TRUE(bigListed) << "child " << big << " at " << bigMemory << " bytes\n" << seen;
    EXPECT_TRUE(writerListed) << "writer " << writer << " not in the write list\n" << seen;
    const double listsAsked = wallNow();

    // The disk list alone asked for again a little later: CPU and memory go 15 s after their
    // last request, the disk list 15 s after its own, and the collector with it.
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    ask(client, "disks");
    const double diskAsked = wallNow();
    for (int i = 0; i < 300 && !logHas("disabling processes"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(logHas("disabling processes")) << logText();
    const double cpuGone = logTime("removing cpu"), memoryGone = logTime("removing mem");
    const double diskGone = logTime("removing disk"), disabled = logTime("disabling processes");
    EXPECT_GE(cpuGone, listsAsked + 15 - 1.0) << logText();
    EXPECT_LE(cpuGone, listsAsked + 15 + 3.0) << logText();
    EXPECT_NEAR(memoryGone, cpuGone, 0.5);
    EXPECT_GE(diskGone, diskAsked + 15 - 1.0) << logText();
    EXPECT_LE(diskGone, diskAsked + 15 + 3.0) << logText();
    EXPECT_GE(diskGone - cpuGone, 2.0);
    EXPECT_NEAR(disabled, diskGone, 0.1);

    // The last client leaving switches the collector off: a new client's request starts it
    // again at once, though the first client's lists were asked for a moment ago.
    ask(client, "cpu");
    EXPECT_EQ(logCount("starting processes"), 2);
    const size_t disconnects = countOf(logText(), "Host disconnected\n");
    client.close();
    // The daemon logs the disconnect, then drops the session and, as it was the last, turns the
    // collector off at once; the new client's log-in takes several round trips after that.
    for (int i = 0; i < 600 && countOf(logText(), "Host disconnected\n") == disconnects; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_GT(countOf(logText(), "Host disconnected\n"), disconnects) << logText();
    ProtocolClient again;
    logIn(again, "PROCESS-LISTS");
    ASSERT_FALSE(ask(again, "cpu").empty()) << lastPayload_;
    EXPECT_EQ(logCount("starting processes"), 3) << logText();
}
