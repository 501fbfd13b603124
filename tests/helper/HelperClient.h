#pragma once
// A client of the privileged helper for the tests (tests/programs/helper-client), started as a
// test user with pipes on its standard input and output; waits run the main queue.
#include <string>
#include <vector>
#include "codesign/ChildProcess.h"
#include "platform/dispatch/MainLoop.h"

namespace telvo::helper {

inline const std::string kClient = std::string(TELVO_BINARY_DIR) + "/tests/programs/helper-client/helper-client";

// A client process: the test's environment but for its root and home, which `extraEnv` gives.
class Client : public testing::ChildProcess {
public:
    Client(const std::string& program, const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnv,
           uid_t uid, gid_t gid)
        : ChildProcess(program, arguments, extraEnv, uid, gid, {"TELVO_ROOT=", "HOME="}) {}
    // Runs the main queue (the helper's steps) until the text is there.
    bool waitFor(const std::string& text, double seconds = 60) {
        return dispatch::MainLoop::runUntil([&] { return has(text); }, seconds);
    }
    // Runs the main queue until the client has ended: its wait status, or -1 (no exit status
    // of a program) when it still runs after a minute.
    int waitExit() {
        std::optional<int> status;
        dispatch::MainLoop::runUntil([&] { return (status = reaped()).has_value(); }, 60);
        return status.value_or(-1);
    }
};

}  // namespace telvo::helper
