// The system launcher against a local user without administrator rights, made for the test:
// the user swaps a root job's program for a script while starting it on demand, hands root a
// FIFO or a huge file as a job file, and holds every control connection it can get.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/fs/Root.h"
#include "platform/launchd/LaunchdFixture.h"
#include "platform/launchd/Paths.h"
#include "platform/xpc/Connection.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

sockaddr_un unixAddress(const std::string& hostPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    hostPath.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

// Seconds on the monotonic clock (safe in a forked child).
double monotonicSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// How long the races run: a short bounded run by default, longer by hand
// (TELVO_LAUNCHD_RACE_SECONDS=60).
double raceSeconds() {
    const char* v = std::getenv("TELVO_LAUNCHD_RACE_SECONDS");
    double s = v ? std::atof(v) : 0;
    return s > 0 ? s : 8;
}

class LaunchdAttackTest : public LaunchdFixture {
protected:
    LaunchdAttackTest() : LaunchdFixture("telvo-launchd-attack", TestUser::kWithoutHome, "tvsla") {}
    void TearDown() override {
        for (pid_t p : children_) {
            kill(p, SIGKILL);
            waitpid(p, nullptr, 0);
        }
        LaunchdFixture::TearDown();
    }
    // Runs `body` in a child as the test user (plain system calls only: the test has threads).
    template <class Body>
    pid_t asUser(Body body) {
        pid_t pid = fork();
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0) _exit(120);
            body();
            _exit(0);
        }
        if (pid > 0) children_.push_back(pid);
        return pid;
    }
    int finish(pid_t pid) {
        int st = 0;
        waitpid(pid, &st, 0);
        children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }

    std::vector<pid_t> children_;
};

// Root loaded a job whose program sits in a folder that was root's; the folder is then given
// to the user (as an install into a user-owned "/Applications" would leave it). The user
// swaps the program with a script of theirs in a loop (rename exchange) while connecting to
// the job's service, so that root checks one file and runs the other.
TEST_F(LaunchdAttackTest, AProgramSwappedForTheUsersScriptNeverRunsAsRoot) {
    const std::string folder = "/Applications/Victim.app/Contents/MacOS";
    std::filesystem::create_directories(host(folder));
    std::filesystem::copy_file(kJobProbe, host(folder + "/victim"));
    chmod(host(folder + "/victim").c_str(), 0755);
    const std::string service = "com.example.victim";
    Value job(ValueDictionary{
        {"Label", Value("com.example.victim")},
        {"ProgramArguments", Value(ValueArray{Value(folder + "/victim"), Value(host("/records/victim")), Value("exit")})},
        {"MachServices", Value(ValueDictionary{{service, Value(true)}})},
    });
    writeJob(root_, "/Library/LaunchDaemons/victim.plist", job);
    ASSERT_TRUE(startSystem());
    ASSERT_NE(launchctl(root_, {"list"}).output.find("com.example.victim"), std::string::npos) << instance_->log();

    // The user's script, and the folder handed to the user.
    const std::string script = "#!/bin/sh\nid -u > " + host("/records/ran-as-") + "$(id -u)\n";
    {
        std::ofstream(host(folder + "/evil")) << script;
    }
    chmod(host(folder + "/evil").c_str(), 0755);
    chown(host(folder + "/evil").c_str(), uid_, gid_);
    chown(host(folder).c_str(), uid_, gid_);

    const std::string folderHost = host(folder);
    const sockaddr_un address = unixAddress(host(xpc::Connection::servicePath(service)));
    const double seconds = raceSeconds();
    auto started = std::chrono::steady_clock::now();
    pid_t attacker = asUser([&] {
        int dir = open(folderHost.c_str(), O_PATH | O_DIRECTORY);
        if (dir < 0) _exit(2);
        double t0 = monotonicSeconds();
        for (unsigned n = 0;; ++n) {
            renameat2(dir, "victim", dir, "evil", RENAME_EXCHANGE);
            if (n % 64 == 0) {
                int s = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
                connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
                close(s);
                if (monotonicSeconds() - t0 >= seconds) break;
            }
        }
        _exit(0);
    });
    ASSERT_GT(attacker, 0);
    EXPECT_EQ(finish(attacker), 0);
    double ran = secondsSince(started);
    EXPECT_GE(ran, seconds);
    EXPECT_FALSE(std::filesystem::exists(host("/records/ran-as-0"))) << "the user's script ran as root";
    EXPECT_TRUE(probeStarts(host("/records/victim")).empty()) << "a program in the user's folder ran";
    EXPECT_TRUE(instance_->logged("com.example.victim: refused to start: " + folder + " is owned by uid " +
                                  std::to_string(uid_)))
        << instance_->log();
    std::printf("the race ran %.1f s\n", ran);
}

// A program behind a link, or in a folder anyone may write, is refused at load, with why.
TEST_F(LaunchdAttackTest, ALinkOrAnOpenFolderOnTheWayToAProgramIsRefused) {
    ASSERT_TRUE(startSystem());
    std::filesystem::create_directories(host("/opt/linked"));
    std::filesystem::create_symlink(host(kProbe), host("/opt/linked/probe"));
    std::filesystem::create_directories(host("/opt/open"));
    chmod(host("/opt/open").c_str(), 0777);
    std::filesystem::copy_file(kJobProbe, host("/opt/open/probe"));
    std::filesystem::create_directories(host("/opt/real"));
    std::filesystem::copy_file(kJobProbe, host("/opt/real/probe"));
    std::filesystem::create_directory_symlink(host("/opt/real"), host("/opt/via"));
    struct Case {
        const char* label;
        const char* program;
        const char* reason;
    };
    const Case cases[] = {
        {"com.example.linked", "/opt/linked/probe", "/opt/linked/probe is a link"},
        {"com.example.open", "/opt/open/probe", "/opt/open is writable by group or others"},
        {"com.example.via", "/opt/via/probe", "/opt/via (on the way to /opt/via/probe) is a link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        std::string label = c.label;
        Value job(ValueDictionary{{"Label", Value(label)},
                                  {"ProgramArguments", Value(ValueArray{Value(c.program), Value(host("/records/x")), Value("exit")})},
                                  {"RunAtLoad", Value(true)}});
        std::string path = "/Library/LaunchDaemons/" + label + ".plist";
        writeJob(root_, path, job);
        CommandResult r = launchctl(root_, {"load", path});
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.output.find(c.reason), std::string::npos) << r.output;
    }
    EXPECT_TRUE(probeStarts(host("/records/x")).empty());

    // Through root's own folders a program runs, a script too (its interpreter reads it
    // through the descriptor that was checked).
    {
        std::ofstream(host("/opt/real/job.sh")) << "#!/bin/sh\nid -u > " << host("/records/script") << "\n";
    }
    chmod(host("/opt/real/job.sh").c_str(), 0755);
    Value script(ValueDictionary{{"Label", Value("com.example.script")},
                                 {"Program", Value("/opt/real/job.sh")},
                                 {"RunAtLoad", Value(true)}});
    writeJob(root_, "/Library/LaunchDaemons/script.plist", script);
    CommandResult r = launchctl(root_, {"load", "/Library/LaunchDaemons/script.plist"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(waitUntil([&] { return readHostFile(host("/records/script")) == "0\n"; }, 60)) << instance_->log();
}

// A job file that is a FIFO (root's, reached through the user's link or not) or a huge file
// is refused within a second with a clear error, at load and at the instance's start, and the
// instance keeps answering with its memory small.
TEST_F(LaunchdAttackTest, AFifoOrAHugeJobFileIsRefusedAtOnceAndTheInstanceKeepsAnswering) {
    std::filesystem::create_directories(host("/Library/LaunchDaemons"));
    ASSERT_EQ(mkfifo(host("/Library/LaunchDaemons/fifo.plist").c_str(), 0644), 0);
    {
        int f = open(host("/Library/LaunchDaemons/huge.plist").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(f, 0);
        ASSERT_EQ(ftruncate(f, off_t(512) << 20), 0);
        close(f);
    }
    // The user's own folder, with a link to root's FIFO.
    std::filesystem::create_directories(host("/home/attacker"));
    chown(host("/home/attacker").c_str(), uid_, gid_);
    const std::string linkHost = host("/home/attacker/job.plist");
    const std::string fifoHost = host("/Library/LaunchDaemons/fifo.plist");
    ASSERT_EQ(finish(asUser([&] {
                  if (symlink(fifoHost.c_str(), linkHost.c_str()) != 0) _exit(1);
              })),
              0);

    // Both lie in the job folder: the start must not block on them.
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(startSystem()) << "the instance did not start";
    EXPECT_LT(secondsSince(started), 20);
    EXPECT_TRUE(instance_->logged("refused /Library/LaunchDaemons/fifo.plist: /Library/LaunchDaemons/fifo.plist is no regular file"))
        << instance_->log();
    EXPECT_TRUE(instance_->logged("is larger than 1048576 bytes")) << instance_->log();

    struct Case {
        std::vector<std::string> args;
        const char* reason;
    };
    const Case cases[] = {
        {{"load", "/Library/LaunchDaemons/fifo.plist"}, "is no regular file"},
        {{"load", "/home/attacker/job.plist"}, "/home/attacker is owned by uid"},
        {{"load", "/Library/LaunchDaemons/huge.plist"}, "is larger than 1048576 bytes"},
        {{"unload", "/Library/LaunchDaemons/fifo.plist"}, "is no regular file"},
        {{"unload", "/home/attacker/job.plist"}, "is no regular file"},
        {{"unload", "/Library/LaunchDaemons/huge.plist"}, "is larger than 1048576 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        auto t = std::chrono::steady_clock::now();
        CommandResult r = launchctl(root_, c.args);
        double took = secondsSince(t);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.output.find(c.reason), std::string::npos) << r.output;
        // Within a second on a quiet machine; the bound leaves room for a loaded one.
        EXPECT_LT(took, 5) << "took " << took << " s";
        std::printf("%s %s: %.3f s\n", c.args[0].c_str(), c.args[1].c_str(), took);
    }
    EXPECT_EQ(launchctl(root_, {"list"}).status, 0);
    std::string status = readHostFile("/proc/" + std::to_string(instance_->pid()) + "/status");
    size_t at = status.find("VmHWM:");
    ASSERT_NE(at, std::string::npos);
    long hwmKiB = std::atol(status.c_str() + at + 6);
    EXPECT_LT(hwmKiB, 128 * 1024) << "the instance's peak memory";
    std::printf("instance peak memory %ld KiB\n", hwmKiB);
}

// The user holds as many control connections as it can get, reopening each as it is closed;
// root's launchctl calls all go through, and the user's idle connections are closed soon.
TEST_F(LaunchdAttackTest, OneUserHoldingControlConnectionsLocksNobodyOut) {
    ASSERT_TRUE(startSystem());
    const sockaddr_un address = unixAddress(host(launchd::kSystemControlSocket));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const double seconds = raceSeconds();
    pid_t attacker = asUser([&] {
        constexpr int kHeld = 200;
        int fds[kHeld];
        for (int& f : fds) f = -1;
        double t0 = monotonicSeconds();
        bool told = false;
        for (;;) {
            for (int& f : fds) {
                if (f >= 0) {
                    pollfd p{f, POLLIN, 0};
                    char c;
                    if (poll(&p, 1, 0) == 0 || (p.revents & POLLIN && recv(f, &c, 1, MSG_DONTWAIT | MSG_PEEK) > 0))
                        continue;
                    close(f);  // closed by the instance: take the slot again
                }
                f = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
                if (f >= 0 && connect(f, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
                    errno != EINPROGRESS && errno != EAGAIN) {
                    close(f);
                    f = -1;
                }
            }
            if (!told) {
                told = true;
                if (write(ready[1], "r", 1) != 1) _exit(3);
            }
            usleep(2000);
            if (monotonicSeconds() - t0 >= seconds + 5) break;
        }
        _exit(0);
    });
    ASSERT_GT(attacker, 0);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    close(ready[1]);

    // Root's calls, spread over the attack.
    int failed = 0, calls = 0;
    auto started = std::chrono::steady_clock::now();
    while (secondsSince(started) < seconds) {
        CommandResult r = launchctl(root_, {"list"});
        ++calls;
        if (r.status != 0) {
            ++failed;
            ADD_FAILURE() << "root's launchctl list failed: " << r.output;
        }
    }
    EXPECT_EQ(failed, 0) << failed << " of " << calls;
    EXPECT_TRUE(instance_->logged("refusing control clients of uid " + std::to_string(uid_))) << instance_->log();

    kill(attacker, SIGKILL);
    finish(attacker);

    // A user's connection that sends nothing is closed within a few seconds, not kept 10 s
    // (tried again while the attacker's last connections still fill the user's slots).
    double closedAfter = 0;
    for (int attempt = 0; attempt < 10 && closedAfter < 0.5; ++attempt) {
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        pid_t waiter = asUser([&] {
            int s = socket(AF_UNIX, SOCK_STREAM, 0);
            if (s < 0 || connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) _exit(2);
            double t0 = monotonicSeconds();
            pollfd p{s, POLLIN, 0};
            poll(&p, 1, 9000);
            double took = monotonicSeconds() - t0;
            if (write(report[1], &took, sizeof took) != sizeof took) _exit(3);
            _exit(0);
        });
        ASSERT_EQ(finish(waiter), 0);
        ASSERT_EQ(read(report[0], &closedAfter, sizeof closedAfter), ssize_t(sizeof closedAfter));
        close(report[0]);
        close(report[1]);
    }
    EXPECT_GE(closedAfter, 0.5);
    EXPECT_LT(closedAfter, 8.5) << "a user's idle control connection was kept open";
    std::printf("an idle user connection was closed after %.1f s\n", closedAfter);
    std::printf("%d root calls during the attack, %d failed\n", calls, failed);
}

}  // namespace
