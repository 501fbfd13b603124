#pragma once
// Test helpers around the launcher's programs: an instance started on a private root (as root,
// or as another user), launchctl runs, job files written with the owner and mode a test wants,
// and waits on files and conditions with generous deadlines.
#include <sys/types.h>
#include <functional>
#include <string>
#include <vector>
#include "platform/values/Value.h"

namespace telvo::testing {

constexpr const char* kLaunchdProgram = TELVO_BINARY_DIR "/programs/launchd/launchd";
constexpr const char* kLaunchctlProgram = TELVO_BINARY_DIR "/programs/launchctl/launchctl";
constexpr const char* kJobProbe = TELVO_BINARY_DIR "/tests/programs/launchd-job/launchd_job_probe";

// Polls every 20 ms until the predicate holds or `seconds` passed.
bool waitUntil(const std::function<bool()>& predicate, double seconds = 20);
std::string readHostFile(const std::string& path);

class LaunchdProcess {
public:
    // `root` is the host folder of the file-system root; `uid` root (0) for the system
    // instance, else a user instance run as that user. `extraArgs` are the test settings.
    LaunchdProcess(std::string root, uid_t uid, std::vector<std::string> extraArgs,
                   std::vector<std::string> extraEnv = {});
    ~LaunchdProcess();
    // Starts it and waits until its control socket answers.
    bool start();
    // SIGTERM, and the exit status (-1 when it had to be killed).
    int stop(double seconds = 30);
    pid_t pid() const { return pid_; }
    // Its standard error (the system-log lines).
    std::string log() const { return readHostFile(logPath_); }
    bool logged(const std::string& part) const { return log().find(part) != std::string::npos; }

private:
    std::string root_;
    uid_t uid_;
    std::vector<std::string> args_, env_;
    std::string logPath_;
    pid_t pid_ = -1;
    int runs_ = 0;
};

struct CommandResult {
    int status = -1;
    std::string output;  // standard output and error
};
// launchctl on that root, as root or as another user.
CommandResult launchctl(const std::string& root, const std::vector<std::string>& args, uid_t uid = 0);

// Writes a job file (logical path under `root`) with that owner and mode.
void writeJob(const std::string& root, const std::string& path, const Value& job, uid_t owner = 0, mode_t mode = 0644);

// The lines a probe job recorded: pid, uid, monotonic start time, handed-down service names.
struct ProbeStart {
    pid_t pid;
    uid_t uid;
    double time;
    std::string services;
};
std::vector<ProbeStart> probeStarts(const std::string& hostFile);

}  // namespace telvo::testing
