#pragma once
// Shared pieces of the history tests: a temporary file-system root, the sqlite3 command-line
// tool as an independent reader and as a second process holding a lock, and a log capture.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "history/HistoryLog.h"
#include "platform/fs/Root.h"

namespace telvo::testing {

// Runs `sqlite3 -batch FILE SQL` on the host path of `path`; answers its standard output.
// Fails the test loudly when the tool cannot be run.
inline std::string sqliteTool(const std::string& path, const std::string& sql, int* status = nullptr) {
    std::string quotedSql;
    for (char c : sql) {
        if (c == '\'')
            quotedSql += "'\\''";
        else
            quotedSql += c;
    }
    std::string command = "sqlite3 -batch -cmd '.timeout 30000' '" + fs::resolve(path) + "' '" + quotedSql + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run the sqlite3 tool: " << command;
        return {};
    }
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int rc = pclose(pipe);
    int code = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    if (status)
        *status = code;
    else if (code == 127)
        ADD_FAILURE() << "the sqlite3 tool is missing (install the Debian package sqlite3)";
    return out;
}

// A second process (the sqlite3 tool) that holds "BEGIN EXCLUSIVE" on a file until released.
class ExclusiveLockHolder {
public:
    explicit ExclusiveLockHolder(const std::string& path) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) {
            ADD_FAILURE() << "pipe failed";
            return;
        }
        std::string host = fs::resolve(path);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            execlp("sqlite3", "sqlite3", "-batch", host.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        toChild_ = fdopen(in[1], "w");
        fromChild_ = fdopen(out[0], "r");
        std::fputs("BEGIN EXCLUSIVE;\nSELECT 'locked';\n", toChild_);
        std::fflush(toChild_);
        char line[256] = {0};
        if (!std::fgets(line, sizeof line, fromChild_) || std::string(line) != "locked\n") {
            ADD_FAILURE() << "the sqlite3 tool could not take the exclusive lock: " << line;
            return;
        }
        locked_ = true;
    }
    ~ExclusiveLockHolder() { release(); }
    bool locked() const { return locked_; }
    void release() {
        if (!toChild_) return;
        std::fputs("COMMIT;\n.quit\n", toChild_);
        std::fclose(toChild_);
        toChild_ = nullptr;
        if (fromChild_) std::fclose(fromChild_);
        fromChild_ = nullptr;
        int status = 0;
        if (pid_ > 0) waitpid(pid_, &status, 0);
        locked_ = false;
    }

private:
    pid_t pid_ = -1;
    FILE* toChild_ = nullptr;
    FILE* fromChild_ = nullptr;
    bool locked_ = false;
};

// Collects the layer's diagnostics while alive.
class LogCapture {
public:
    LogCapture() {
        history::setLogHookForTesting([this](const std::string& m) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(m);
        });
    }
    ~LogCapture() { history::setLogHookForTesting(nullptr); }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    bool contains(const std::string& part) const {
        for (const auto& l : lines())
            if (l.find(part) != std::string::npos) return true;
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Points the file-system root at a fresh temporary folder for each test.
class TempRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/telvo-history-XXXXXX";
        char* dir = mkdtemp(pattern);
        ASSERT_NE(dir, nullptr);
        root_ = dir;
        fs::setRootForTesting(root_);
        ASSERT_TRUE(fs::createDirectories(kDir));
    }
    void TearDown() override {
        fs::setRootForTesting("");
        std::string command = "rm -rf '" + root_ + "'";
        if (std::system(command.c_str()) != 0) ADD_FAILURE() << "could not remove " << root_;
    }
    static constexpr const char* kDir = "/Library/Application Support/Telvo Server/databases";
    static std::string dbPath(const std::string& name) { return std::string(kDir) + "/" + name; }
    std::string root_;
};

}  // namespace telvo::testing
