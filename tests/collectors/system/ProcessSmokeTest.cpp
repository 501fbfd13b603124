// The process collector on this machine's own /proc: processList holds every process that is
// not a zombie, and a pass measures a child of this test.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "collectors/system/ProcessStatCollector.h"
#include "platform/host/ProcRoot.h"

using namespace telvo;

namespace {

// The whole of a /proc file; empty when the process went away meanwhile (its files then
// fail to read with ESRCH, which a std::ifstream turns into an exception).
std::string procText(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    ::close(fd);
    return text;
}

// The pids of /proc whose stat does not say zombie, read directly.
std::set<int> livePids() {
    std::set<int> out;
    DIR* dir = opendir("/proc");
    if (!dir) return out;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        const std::string text = procText(std::string("/proc/") + e->d_name + "/stat");
        const size_t close = text.rfind(')');
        if (close == std::string::npos || close + 2 >= text.size()) continue;
        const char state = text[close + 2];
        if (state != 'Z' && state != 'X') out.insert(std::atoi(e->d_name));
    }
    closedir(dir);
    return out;
}

// A child of the test, killed and reaped however the test ends: one left running would keep
// the test's output open, and the test runner would wait for it until its time-out.
struct Reaped {
    pid_t pid;
    ~Reaped() {
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

}  // namespace

TEST(ProcessSmokeTest, ProcessListHoldsEveryProcessOfThisMachine) {
    host::ProcRoot::resetForTesting();
    const pid_t child = fork();
    if (child == 0) {
        for (;;) pause();
    }
    Reaped childGuard{child};
    ASSERT_GT(child, 0);
    // A child that has exited and is not waited for stays a zombie until the end of the test.
    const pid_t zombie = fork();
    if (zombie == 0) _exit(0);
    Reaped zombieGuard{zombie};
    ASSERT_GT(zombie, 0);
    for (int i = 0; i < 5000 && livePids().count(zombie); ++i) usleep(1000);
    ProcessStatCollector c;
    const std::set<int> before = livePids();
    std::set<int> listed;
    for (const Value& e : c.processList()) listed.insert(static_cast<int>(e["pid"].intValue()));
    const std::set<int> after = livePids();
    // Processes come and go meanwhile: every one alive before and after is listed. (A process
    // born after the first look and gone before the second may be listed too, rightly.)
    for (int pid : before) {
        if (after.count(pid)) {
            EXPECT_TRUE(listed.count(pid)) << pid;
        }
    }
    EXPECT_FALSE(listed.count(zombie));
    EXPECT_TRUE(listed.count(child));
    EXPECT_TRUE(listed.count(getpid()));

    c.setUpdateMask(ProcessStatCollector::kMaskCPU | ProcessStatCollector::kMaskMemory | ProcessStatCollector::kMaskDisk);
    c.update();
    auto self = c.processForPid(getpid());
    ASSERT_TRUE(self);
    EXPECT_GT(self->memory(), 0);  // this test's own heap
    EXPECT_EQ(self->parentPid(), getppid());
    ASSERT_TRUE(c.processForPid(child));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    childGuard.pid = -1;
    waitpid(zombie, nullptr, 0);
    zombieGuard.pid = -1;
    c.update();
    EXPECT_FALSE(c.processForPid(child));
    EXPECT_TRUE(c.childrenChanged());
}
