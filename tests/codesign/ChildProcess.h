#pragma once
// A child program of the tests with its standard input and output on pipes: started with a
// cleaned environment, as another user where asked; lines sent to it, its output gathered as
// it arrives; killed and reaped at the end. Header-only: test programs of several folders use it.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace telvo::testing {

class ChildProcess {
public:
    // Starts `program` with `arguments`. Its environment is this one's less the entries that
    // begin with "LD_" or with one of `unset` ("NAME="), plus `environment` ("NAME=value").
    // When `uid` is not -1 it runs as that user, in group `gid`, with no supplementary groups.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments = {},
                 const std::vector<std::string>& environment = {}, uid_t uid = uid_t(-1), gid_t gid = gid_t(-1),
                 const std::vector<std::string>& unset = {}) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0) return;
        if (pipe2(out, O_CLOEXEC) != 0) {
            close(in[0]);
            close(in[1]);
            return;
        }
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            bool keep = std::strncmp(*e, "LD_", 3) != 0;
            for (const auto& name : unset) keep = keep && std::strncmp(*e, name.c_str(), name.size()) != 0;
            if (keep) env.emplace_back(*e);
        }
        env.insert(env.end(), environment.begin(), environment.end());
        // Everything the child needs is made before the fork: after it, in a process with
        // threads, only plain system calls are safe.
        std::vector<char*> argv{const_cast<char*>(program.c_str())}, envp;
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            if (uid != uid_t(-1) && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(126);
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~ChildProcess() { finish(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Sends one line to its standard input.
    void send(const std::string& line) {
        const std::string l = line + "\n";
        if (in_ >= 0 && write(in_, l.data(), l.size()) != ssize_t(l.size())) {
            // The child is gone; the test's checks will say so.
        }
    }
    void closeInput() {
        if (in_ >= 0) close(in_);
        in_ = -1;
    }
    // All it has written so far (what has arrived is read without waiting).
    const std::string& output() {
        char buffer[4096];
        ssize_t n;
        while (out_ >= 0 && (n = read(out_, buffer, sizeof buffer)) > 0) output_.append(buffer, size_t(n));
        return output_;
    }
    bool has(const std::string& text) { return output().find(text) != std::string::npos; }
    // Waits on its output until `text` is in it, it closed its output, or `seconds` passed
    // (generous by default: the machine may be busy).
    bool waitForOutput(const std::string& text, double seconds = 30) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!has(text)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (out_ < 0 || left.count() <= 0) return false;
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, int(left.count())) <= 0) return has(text);
            if (p.revents & (POLLHUP | POLLERR) && !(p.revents & POLLIN)) return has(text);
        }
        return true;
    }
    // Its wait status once it has ended (reaped then); none while it runs.
    std::optional<int> reaped() {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
        pid_ = -1;
        return status;
    }
    // Closes its input, kills it and reaps it.
    void finish() {
        closeInput();
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
        if (out_ >= 0) close(out_);
        out_ = -1;
    }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string output_;
};

}  // namespace telvo::testing
