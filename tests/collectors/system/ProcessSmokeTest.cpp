// The process collector on this machine's own /proc: processList holds every process that is
// not a zombie, and a pass measures a child of this test.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>

#include "collectors/system/ProcessStatCollector.h"
#include "platform/host/ProcRoot.h"

using namespace telvo;

namespace {

// The pids of /proc whose stat does not say zombie, read directly.
std::set<int> livePids() {
    std::set<int> out;
    DIR* dir = opendir("/proc");
    if (!dir) return out;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), {});
        const size_t close = text.rfind(')');
        if (close == std::string::npos || close + 2 >= text.size()) continue;
        const char state = text[close + 2];
        if (state != 'Z' && state != 'X') out.insert(std::atoi(e->d_name));
    }
    closedir(dir);
    return out;
}

}  // namespace

TEST(ProcessSmokeTest, ProcessListHoldsEveryProcessOfThisMachine) {
    host::ProcRoot::resetForTesting();
    const pid_t child = fork();
    if (child == 0) {
        for (;;) pause();
    }
    ASSERT_GT(child, 0);
    ProcessStatCollector c;
    const std::set<int> before = livePids();
    std::set<int> listed;
    for (const Value& e : c.processList()) listed.insert(static_cast<int>(e["pid"].intValue()));
    const std::set<int> after = livePids();
    // Processes come and go meanwhile: every one alive before and after is listed, and nothing
    // is listed that was not alive at one of the two moments.
    for (int pid : before) {
        if (after.count(pid)) {
            EXPECT_TRUE(listed.count(pid)) << pid;
        }
    }
    for (int pid : listed) EXPECT_TRUE(before.count(pid) || after.count(pid)) << pid;
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
    c.update();
    EXPECT_FALSE(c.processForPid(child));
    EXPECT_TRUE(c.childrenChanged());
}
