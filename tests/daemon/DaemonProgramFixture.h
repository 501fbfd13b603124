#pragma once
// The daemon program as its tests run it: on the test's private root with preferences of its
// own (a free port, no DNS-SD), started and waited for until it listens, logged into with the
// passcode from its keychain or as a remembered device, stopped with a signal and its exit
// status read; its log and its history files (through sqlite3) read back.
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "DaemonFixture.h"
#include "ProtocolClient.h"

namespace telvo::testing {

inline constexpr const char* kDaemonProgram = TELVO_BINARY_DIR "/programs/TelvoServerDaemon/TelvoServerDaemon";

// What a shell command prints (standard output).
std::string commandOutput(const std::string& command);
// Writes the preferences the daemon reads under the current root: the port, no DNS-SD.
bool writeDaemonPreferences(uint16_t port);
// Starts the program on `root`, seeing no network state and no system bus; the child's pid.
pid_t spawnDaemon(const std::string& root);
// Sends `signal` and waits up to 60 s: the exit status, 128 + the signal that ended it, or
// -1 when it did not end (it is killed then).
int stopDaemon(pid_t pid, int signal);

class DaemonProgramFixture : public DaemonFixture {
protected:
    void SetUp() override;
    // Kills a daemon still running.
    void TearDown() override;

    // Starts the program and waits (60 s) until it logs that it listens on its port, this
    // run's line (a restart appends to the log).
    void start();
    // Starts it without waiting.
    void spawn();
    // stopDaemon on the running program; -1 when none runs.
    int stop(int signal);

    std::string logText() const;
    bool logHas(const std::string& message) const;
    int logCount(const std::string& message) const;
    // Waits up to `seconds` for a log line with that message.
    bool waitForLog(const std::string& message, double seconds = 60) const;
    // sqlite3's output for `sql` on a history file named as the daemon names it; waits for
    // the writer's lock.
    std::string sqlite(const std::string& database, const std::string& sql) const;
    // The passcode in the daemon's keychain, read afresh.
    std::string passcode();
    // Connects and logs in as `device`, with the passcode or (`remembered`) as a device the
    // daemon remembers.
    void logIn(testclient::ProtocolClient& client, const std::string& device, bool remembered = false);

    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace telvo::testing
