// The process reader's kept files: a real child read pass after pass through the descriptors
// its first read opened, an ended child's files closed at once, replaced fixture files and a
// reused pid read anew (never through the old files), the descriptor limit, and no descriptor
// left behind by processes that come and go.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "HostFixture.h"
#include "platform/host/ProcessSource.h"

using namespace telvo::host;

namespace {

// This process's open descriptors and what they name (the listing's own left out).
std::map<int, std::string> openDescriptors() {
    std::map<int, std::string> out;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return out;
    const int own = ::dirfd(dir);
    while (struct dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd == own) continue;
        char target[4096];
        const std::string link = "/proc/self/fd/" + std::string(entry->d_name);
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        out[fd] = n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
    }
    ::closedir(dir);
    return out;
}

// The descriptors whose file lies under `prefix`.
std::map<int, std::string> descriptorsUnder(const std::string& prefix) {
    std::map<int, std::string> out;
    for (const auto& [fd, target] : openDescriptors())
        if (target.compare(0, prefix.size(), prefix) == 0) out.emplace(fd, target);
    return out;
}

// The pids whose /proc files this process holds open.
std::set<int32_t> pidsWithOpenFiles() {
    std::set<int32_t> out;
    for (const auto& [fd, target] : descriptorsUnder("/proc/")) {
        int pid = 0;
        if (std::sscanf(target.c_str(), "/proc/%d/", &pid) == 1) out.insert(pid);
    }
    return out;
}

std::string procDir(pid_t pid) { return "/proc/" + std::to_string(pid) + "/"; }

// A child that does nothing until it is killed; killed and reaped at the end.
class Sleeper {
public:
    Sleeper() {
        pid_ = ::fork();
        if (pid_ == 0) {
            for (;;) ::pause();
        }
    }
    ~Sleeper() { end(); }
    Sleeper(const Sleeper&) = delete;
    Sleeper& operator=(const Sleeper&) = delete;
    pid_t pid() const { return pid_; }
    // Killed and reaped: its /proc folder is gone once this returns.
    void end() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// A child that, at each step(), takes 16 MiB more of anonymous memory and names itself
// "step-<n>", and answers once it has.
class Stepper {
public:
    static constexpr size_t kStep = 16u << 20;
    Stepper() {
        int toChild[2], toParent[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(toParent, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(toChild[1]);
            ::close(toParent[0]);
            char c;
            for (int n = 1; ::read(toChild[0], &c, 1) == 1; ++n) {
                void* p = ::mmap(nullptr, kStep, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                if (p == MAP_FAILED) ::_exit(1);
                for (size_t i = 0; i < kStep; i += 4096) static_cast<char*>(p)[i] = 1;
                const std::string name = "step-" + std::to_string(n);
                ::prctl(PR_SET_NAME, name.c_str(), 0, 0, 0);
                if (::write(toParent[1], &c, 1) != 1) ::_exit(1);
            }
            ::_exit(0);
        }
        ::close(toChild[0]);
        ::close(toParent[1]);
        command_ = toChild[1];
        answer_ = toParent[0];
    }
    ~Stepper() {
        if (command_ >= 0) ::close(command_);
        if (answer_ >= 0) ::close(answer_);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }
    bool step() {
        char c = 's';
        return ::write(command_, &c, 1) == 1 && ::read(answer_, &c, 1) == 1;
    }

private:
    pid_t pid_ = -1;
    int command_ = -1, answer_ = -1;
};

// The soft descriptor limit, put back at the end.
class SoftLimit {
public:
    SoftLimit() { ::getrlimit(RLIMIT_NOFILE, &saved_); }
    ~SoftLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    bool set(rlim_t soft) {
        struct rlimit l = saved_;
        l.rlim_cur = soft;
        return ::setrlimit(RLIMIT_NOFILE, &l) == 0;
    }

private:
    struct rlimit saved_ {};
};

// Every listed process's stat record, memory and disk bytes, as a pass of the collector
// reads them; false when a stat record could not be read for another reason than the end
// of its process.
bool readAll(ProcessSource& source, const std::vector<int32_t>& pids) {
    bool ok = true;
    ProcessStat stat;
    for (const int32_t pid : pids) {
        const ProcessSource::Result r = source.readStat(pid, stat);
        if (r == ProcessSource::Result::failed) ok = false;
        if (r != ProcessSource::Result::ok) continue;
        double memory = 0;
        uint64_t read = 0, written = 0;
        source.readMemory(pid, memory);
        source.readDiskBytes(pid, read, written);
    }
    return ok;
}

class ProcessSourceMachineTest : public ::testing::Test {
protected:
    void SetUp() override { ProcRoot::resetForTesting(); }
};

}  // namespace

// Each pass reads the child's changing name and memory through the descriptors the first
// read opened: the same open files (the test marks them, and the mark stays) on the same
// paths, none opened again.
TEST_F(ProcessSourceMachineTest, AChildIsReadPassAfterPassThroughItsKeptFiles) {
    Stepper child;
    ASSERT_GT(child.pid(), 0);
    ProcessSource source;
    std::vector<int32_t> pids;
    ProcessStat stat;
    std::map<int, std::string> kept;
    double previous = 0;
    for (int n = 1; n <= 4; ++n) {
        ASSERT_TRUE(child.step());
        ASSERT_TRUE(source.listProcesses(pids));
        ASSERT_TRUE(std::binary_search(pids.begin(), pids.end(), child.pid()));
        ASSERT_EQ(source.readStat(child.pid(), stat), ProcessSource::Result::ok);
        EXPECT_EQ(stat.comm, "step-" + std::to_string(n));
        EXPECT_EQ(stat.pid, child.pid());
        double memory = 0;
        ASSERT_TRUE(source.readMemory(child.pid(), memory));
        if (n > 1) {
            EXPECT_GE(memory - previous, Stepper::kStep / 2) << "pass " << n;
        }
        previous = memory;

        const auto now = descriptorsUnder(procDir(child.pid()));
        if (n == 1) {
            kept = now;
            ASSERT_EQ(kept.size(), 2u);  // stat, and statm or status
            // A mark that a file opened anew would not have.
            for (const auto& [fd, target] : kept) ASSERT_EQ(::fcntl(fd, F_SETFL, O_NONBLOCK), 0) << target;
        } else {
            EXPECT_EQ(now, kept) << "pass " << n;
            for (const auto& [fd, target] : kept) EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK) << target;
        }
    }
}

// A child that ends after its files were kept: the next read of any of them finds it gone and
// closes them all, before any listing; a memory or disk read does not open the pid's files
// again, and the stat read that does finds nothing.
TEST_F(ProcessSourceMachineTest, AnEndedChildIsGoneAndItsFilesClosed) {
    Sleeper child;
    const pid_t pid = child.pid();
    ASSERT_GT(pid, 0);
    const size_t before = openDescriptors().size();
    {
        ProcessSource source;
        std::vector<int32_t> pids;
        ASSERT_TRUE(source.listProcesses(pids));
        ProcessStat stat;
        ASSERT_EQ(source.readStat(pid, stat), ProcessSource::Result::ok);
        double memory = 0;
        ASSERT_TRUE(source.readMemory(pid, memory));
        uint64_t read = 0, written = 0;
        const bool disk = source.readDiskBytes(pid, read, written);  // io is root's only
        EXPECT_EQ(descriptorsUnder(procDir(pid)).size(), disk ? 3u : 2u);

        child.end();
        EXPECT_FALSE(source.readMemory(pid, memory));
        EXPECT_TRUE(descriptorsUnder(procDir(pid)).empty());
        EXPECT_FALSE(source.readDiskBytes(pid, read, written));
        EXPECT_EQ(source.readStat(pid, stat), ProcessSource::Result::gone);
        EXPECT_TRUE(descriptorsUnder(procDir(pid)).empty());
        EXPECT_EQ(openDescriptors().size(), before);
    }
    EXPECT_EQ(openDescriptors().size(), before);
}

// Children started and ended around every pass: after each listing the kept files are
// those of listed processes only, none of an ended child's remain, and once the reader goes
// every descriptor it opened is closed.
TEST_F(ProcessSourceMachineTest, ProcessesComingAndGoingLeaveNoDescriptors) {
    const auto before = openDescriptors();
    {
        ProcessSource source;
        std::vector<int32_t> pids;
        std::vector<std::unique_ptr<Sleeper>> running;
        std::vector<pid_t> ended;
        for (int pass = 0; pass < 40; ++pass) {
            for (int i = 0; i < 3; ++i) running.push_back(std::make_unique<Sleeper>());
            // The two oldest end; every fourth pass, all but one.
            const size_t ending = pass % 4 == 3 ? running.size() - 1 : 2;
            for (size_t i = 0; i < ending; ++i) {
                ended.push_back(running.front()->pid());
                running.front()->end();
                running.erase(running.begin());
            }
            ASSERT_TRUE(source.listProcesses(pids));
            for (const int32_t pid : pidsWithOpenFiles())
                ASSERT_TRUE(std::binary_search(pids.begin(), pids.end(), pid)) << "pass " << pass << ": " << pid;
            ASSERT_TRUE(readAll(source, pids)) << "pass " << pass;
            for (const auto& child : running)
                ASSERT_FALSE(descriptorsUnder(procDir(child->pid())).empty()) << "pass " << pass;
        }
        running.clear();
        ASSERT_TRUE(source.listProcesses(pids));
        for (const pid_t pid : ended) EXPECT_TRUE(descriptorsUnder(procDir(pid)).empty()) << pid;
    }
    EXPECT_EQ(openDescriptors(), before);
}

// Kept files take at most half of the soft descriptor limit. A process out of descriptors
// still reads every process: the kept files are closed to make room, and none are kept for
// the listings after.
TEST_F(ProcessSourceMachineTest, TheDescriptorLimitIsRespected) {
    SoftLimit limit;
    ProcessSource source;
    std::vector<int32_t> pids;
    ASSERT_TRUE(limit.set(64));
    ASSERT_TRUE(source.listProcesses(pids));
    ASSERT_TRUE(readAll(source, pids));
    size_t kept = descriptorsUnder("/proc/").size();
    EXPECT_LE(kept, 32u);
    EXPECT_GT(kept, 0u);

    // Back to the full limit; every process of this machine and of a few children of the
    // test kept (a machine runs more than 32 processes).
    std::vector<std::unique_ptr<Sleeper>> children;
    for (int i = 0; i < 40; ++i) children.push_back(std::make_unique<Sleeper>());
    struct rlimit full {};
    ::getrlimit(RLIMIT_NOFILE, &full);
    ASSERT_TRUE(limit.set(full.rlim_max > 4096 ? 4096 : full.rlim_max));
    ASSERT_TRUE(source.listProcesses(pids));
    ASSERT_TRUE(readAll(source, pids));
    kept = descriptorsUnder("/proc/").size();
    ASSERT_GT(kept, 64u);

    // No descriptor left below the limit: reading a process not kept yet needs the kept ones.
    Sleeper late;
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    ASSERT_TRUE(limit.set(static_cast<rlim_t>(lowestFree)));
    ASSERT_LT(::open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
    ProcessStat stat;
    EXPECT_EQ(source.readStat(late.pid(), stat), ProcessSource::Result::ok);
    EXPECT_EQ(stat.pid, late.pid());
    EXPECT_TRUE(descriptorsUnder("/proc/").empty());
    EXPECT_TRUE(readAll(source, pids));
    EXPECT_TRUE(descriptorsUnder("/proc/").empty());
    // The next listings read every process the old way.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(source.listProcesses(pids));
        EXPECT_TRUE(readAll(source, pids));
        EXPECT_TRUE(descriptorsUnder("/proc/").empty());
    }
}

namespace {

// A fixture /proc: files replaced under the kept descriptors.
class ProcessSourceFixtureTest : public HostFixture {
public:  // the ways of replacing files are a table of the test's
    static std::string statLine(int pid, const std::string& comm, unsigned long start) {
        return std::to_string(pid) + " (" + comm + ") S 1 " + std::to_string(pid) + " " + std::to_string(pid) +
               " 0 -1 4194560 120 0 3 0 30 20 0 0 20 0 1 0 " + std::to_string(start) +
               " 12345678 900 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n";
    }
    static std::string status(long anonKB) {
        return "Name:\tx\nRssAnon:\t" + std::to_string(anonKB) + " kB\nVmSwap:\t0 kB\n";
    }
    // The files of a process, written in place.
    void writeProcess(int pid, const std::string& comm, unsigned long start, long anonKB) {
        write(procDir(pid) + "stat", statLine(pid, comm, start));
        write(procDir(pid) + "status", status(anonKB));
    }
    // The same, each file written beside and renamed over the old one.
    void renameProcess(int pid, const std::string& comm, unsigned long start, long anonKB) {
        write(procDir(pid) + "stat.new", statLine(pid, comm, start));
        write(procDir(pid) + "status.new", status(anonKB));
        for (const char* file : {"stat", "status"})
            std::filesystem::rename(root_ + procDir(pid) + file + ".new", root_ + procDir(pid) + file);
    }
    // The folder removed and made anew: what a reused pid looks like.
    void remakeProcess(int pid, const std::string& comm, unsigned long start, long anonKB) {
        remove(procDir(pid));
        writeProcess(pid, comm, start, anonKB);
    }
    size_t keptFiles() { return descriptorsUnder(root_ + "/proc/").size(); }
};

}  // namespace

// Files rewritten in place, replaced by rename, or a whole pid folder made anew: the next
// pass reads the new contents, and no descriptor of a replaced file stays open.
TEST_F(ProcessSourceFixtureTest, ReplacedFilesAndAReusedPidAreReadAnew) {
    struct Case {
        const char* how;
        void (ProcessSourceFixtureTest::*replace)(int, const std::string&, unsigned long, long);
        int pid;
    } cases[] = {{"rewritten in place", &ProcessSourceFixtureTest::writeProcess, 10},
                 {"renamed over", &ProcessSourceFixtureTest::renameProcess, 11},
                 {"folder made anew", &ProcessSourceFixtureTest::remakeProcess, 12}};
    for (const auto& c : cases) writeProcess(c.pid, "old", 100, 1000);
    ProcessSource source;
    std::vector<int32_t> pids;
    ASSERT_TRUE(source.listProcesses(pids));
    ASSERT_EQ(pids, (std::vector<int32_t>{10, 11, 12}));
    ASSERT_TRUE(readAll(source, pids));
    EXPECT_EQ(keptFiles(), 6u);

    for (const auto& c : cases) (this->*c.replace)(c.pid, "new", 200, 2000);
    ASSERT_TRUE(source.listProcesses(pids));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ProcessStat stat;
        ASSERT_EQ(source.readStat(c.pid, stat), ProcessSource::Result::ok);
        EXPECT_EQ(stat.comm, "new");
        EXPECT_EQ(stat.startTime, 200u);
        double memory = 0;
        ASSERT_TRUE(source.readMemory(c.pid, memory));
        EXPECT_EQ(memory, 2000.0 * 1024);
    }
    EXPECT_EQ(keptFiles(), 6u);
    for (const auto& [fd, target] : descriptorsUnder(root_))
        EXPECT_EQ(target.find("(deleted)"), std::string::npos) << fd << " " << target;
}

// The pid's folder made anew between its stat read and its memory read: the memory read is
// the old process's, which has ended, so it answers false and does not read the new one;
// the next stat read is the new process's, and so is the memory read after it.
TEST_F(ProcessSourceFixtureTest, AMemoryReadNeverReadsAnotherProcessByThePid) {
    writeProcess(20, "old", 100, 1000);
    ProcessSource source;
    std::vector<int32_t> pids;
    ASSERT_TRUE(source.listProcesses(pids));
    ProcessStat stat;
    double memory = 0;
    ASSERT_EQ(source.readStat(20, stat), ProcessSource::Result::ok);
    ASSERT_TRUE(source.readMemory(20, memory));
    ASSERT_EQ(source.readStat(20, stat), ProcessSource::Result::ok);

    remakeProcess(20, "new", 200, 2000);
    EXPECT_FALSE(source.readMemory(20, memory));
    EXPECT_EQ(keptFiles(), 0u);
    ASSERT_EQ(source.readStat(20, stat), ProcessSource::Result::ok);
    EXPECT_EQ(stat.startTime, 200u);
    ASSERT_TRUE(source.readMemory(20, memory));
    EXPECT_EQ(memory, 2000.0 * 1024);

    // Ended for good: gone, and nothing kept.
    remove(procDir(20));
    EXPECT_EQ(source.readStat(20, stat), ProcessSource::Result::gone);
    EXPECT_EQ(keptFiles(), 0u);
}
