// Running the test program.
#include "codesign/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace telvo::testing {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment, uid_t uid) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "LD_", 3) != 0) env.emplace_back(*e);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> argv{const_cast<char*>(program.c_str())}, envp;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        if (uid != uid_t(-1) && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
    if (pid_ < 0) return;
    std::string got;
    pollfd p{out_, POLLIN, 0};
    // Generous: the machine may be busy.
    while (got.find("ready\n") == std::string::npos && poll(&p, 1, 30000) > 0) {
        char buf[64];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, size_t(n));
    }
    ready_ = got.find("ready\n") != std::string::npos;
}

void ChildProcess::send(const std::string& line) {
    std::string l = line + "\n";
    if (in_ >= 0 && write(in_, l.data(), l.size()) != ssize_t(l.size())) {
        // The child is gone; its checks will say so.
    }
}

void ChildProcess::finish() {
    if (in_ >= 0) close(in_);
    in_ = -1;
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    if (out_ >= 0) close(out_);
    out_ = -1;
}

ChildProcess::~ChildProcess() { finish(); }

}  // namespace telvo::testing
