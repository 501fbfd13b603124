#pragma once
// A client of the privileged helper for the tests (tests/programs/helper-client), started as a
// test user with pipes on its standard input and output; waits run the main queue.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>
#include "platform/dispatch/MainLoop.h"

extern char** environ;

namespace telvo::helper {

inline const std::string kClient = std::string(TELVO_BINARY_DIR) + "/tests/programs/helper-client/helper-client";

// A client process with pipes on its standard input and output.
class Client {
public:
    Client(const std::string& program, const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnv,
           uid_t uid, gid_t gid) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "LD_", 3) != 0 && std::strncmp(*e, "TELVO_ROOT=", 11) != 0 &&
                std::strncmp(*e, "HOME=", 5) != 0)
                env.emplace_back(*e);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> argv{const_cast<char*>(program.c_str())}, envp;
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(126);
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~Client() {
        if (in_ >= 0) close(in_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    pid_t pid() const { return pid_; }
    void send(const std::string& line) { (void)!write(in_, (line + "\n").data(), line.size() + 1); }
    void closeInput() {
        close(in_);
        in_ = -1;
    }
    // Reads what has arrived.
    const std::string& output() {
        char buffer[4096];
        ssize_t n;
        while ((n = read(out_, buffer, sizeof buffer)) > 0) output_.append(buffer, size_t(n));
        return output_;
    }
    bool has(const std::string& text) { return output().find(text) != std::string::npos; }
    // Runs the main queue (the helper's steps) until the text is there.
    bool waitFor(const std::string& text, double seconds = 60) {
        return dispatch::MainLoop::runUntil([&] { return has(text); }, seconds);
    }
    int waitExit() {
        int status = 0;
        dispatch::MainLoop::runUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 60);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string output_;
};

}  // namespace telvo::helper
