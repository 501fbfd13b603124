// On this machine's own /proc and /sys: a busy processor shows near 100 %, the load follows
// /proc/loadavg, the uptime /proc/uptime, and memory adds up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <pthread.h>
#include <sched.h>
#include <thread>

#include "collectors/system/CPUStatCollectorMac.h"
#include "collectors/system/LoadStatCollectorMac.h"
#include "collectors/system/MemoryStatCollectorMac.h"
#include "collectors/system/UptimeStatCollectorMac.h"
#include "platform/host/ProcRoot.h"
#include "platform/time/Clock.h"

using namespace telvo;

namespace {

std::string firstLine(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

TEST(SystemSmokeTest, CPUFollowsABusyLoopOnOneProcessor) {
    host::ProcRoot::resetForTesting();
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    int busy = -1;
    for (int c = CPU_SETSIZE - 1; c >= 0 && busy < 0; --c)
        if (CPU_ISSET(c, &allowed)) busy = c;
    ASSERT_GE(busy, 0);

    auto c = std::make_shared<CPUStatCollectorMac>();
    c->setup();
    ASSERT_LT(busy, static_cast<int>(c->items().size()));
    std::atomic<bool> stop{false};
    std::thread spinner([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(busy, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        volatile uint64_t n = 0;
        while (!stop.load(std::memory_order_relaxed)) n = n + 1;
    });
    // The counters are taken at setup; measure a second and a half of spinning.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    c->updateStats();
    stop = true;
    spinner.join();

    auto item = std::static_pointer_cast<CPUStatCollectorItem>(c->items()[busy]);
    statsample s = item->sampleAtIndex(0, 0);
    ASSERT_EQ(item->sampleID(), 1);
    EXPECT_GT(s.values[0] + s.values[1] + s.values[2], 85.0) << "processor " << busy << " spun the whole time";
    statsample all = c->sampleAtIndex(0, 0);
    EXPECT_EQ(all.empty, 0);
    EXPECT_GT(all.values[0] + all.values[1], 0.0);
    EXPECT_LE(all.values[0] + all.values[1] + all.values[2], 100.01);
    EXPECT_GT(c->taskCount(), 1);
    EXPECT_GE(c->threadCount(), c->taskCount());
    c->cleanup();
}

TEST(SystemSmokeTest, LoadAgreesWithProcLoadavg) {
    host::ProcRoot::resetForTesting();
    auto c = std::make_shared<LoadStatCollectorMac>();
    const std::string before = firstLine("/proc/loadavg");
    c->updateStats();
    const std::string after = firstLine("/proc/loadavg");
    statsample s = c->sampleAtIndex(0, 0);
    ASSERT_EQ(s.empty, 0);
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f ", s.values[0], s.values[1], s.values[2]);
    EXPECT_TRUE(before.rfind(text, 0) == 0 || after.rfind(text, 0) == 0) << text << "| " << before << " | " << after;
}

TEST(SystemSmokeTest, UptimeAgreesWithProcUptime) {
    host::ProcRoot::resetForTesting();
    platform::Clock::useReal();
    auto c = std::make_shared<UptimeStatCollectorMac>();
    c->loadUptime();  // no history files given: nothing is recorded
    ASSERT_GT(c->boottime(), 0);
    const double kernel = std::stod(firstLine("/proc/uptime"));
    auto nodes = c->xmlNodesFromAttributes(Value());
    const double u = std::stod(*nodes[0]->attribute("u"));
    EXPECT_NEAR(u, kernel, 1.0);
}

TEST(SystemSmokeTest, MemoryAddsUp) {
    host::ProcRoot::resetForTesting();
    auto c = std::make_shared<MemoryStatCollectorMac>();
    c->updateStats();
    statsample s = c->sampleAtIndex(0, 0);
    ASSERT_EQ(s.empty, 0);
    const double total = s.values[MemoryStatCollector::kTotal];
    const double classes = s.values[MemoryStatCollector::kWired] + s.values[MemoryStatCollector::kActive] +
                           s.values[MemoryStatCollector::kInactive] + s.values[MemoryStatCollector::kFree] +
                           s.values[MemoryStatCollector::kCompressed];
    EXPECT_GT(total, 0);
    EXPECT_LE(classes, total * 1.0001);
    EXPECT_GT(classes, total * 0.9) << "MemTotal is within a tenth of the installed memory";
    EXPECT_GT(s.values[MemoryStatCollector::kPressure], 0);
    EXPECT_LT(s.values[MemoryStatCollector::kPressure], 100);
}
