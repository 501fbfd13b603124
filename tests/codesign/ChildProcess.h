#pragma once
// A running copy of the test program for the checks by process id: started with its standard
// input and output on pipes, waited for until it says "ready", ended and reaped on destruction.
#include <sys/types.h>

#include <string>
#include <vector>

namespace telvo::testing {

class ChildProcess {
public:
    // Starts `program` with `arguments` and extra environment entries ("NAME=value"), as the
    // user `uid` when it is not -1.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments = {},
                 const std::vector<std::string>& environment = {}, uid_t uid = uid_t(-1));
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool ready() const { return ready_; }
    // Sends one line to its standard input.
    void send(const std::string& line);
    // Closes its input, waits for it to end and reaps it.
    void finish();

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    bool ready_ = false;
};

}  // namespace telvo::testing
