#include "helper/ToolRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <cerrno>
#include "helper/ToolTable.h"
#include "platform/fs/Root.h"
#include "platform/process/SpawnSignals.h"

namespace telvo::helper {

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

}  // namespace

std::string escapeString(const std::string& text) {
    std::string s = replaceAll(text, "(", "\\(");
    s = replaceAll(s, ")", "\\)");
    s = replaceAll(s, " ", "\\ ");
    return replaceAll(s, "&", "\\&");
}

std::string ToolRun::lineText() const {
    std::string line = tool_;
    for (const auto& a : arguments_) {
        line += ' ';
        switch (a.form) {
            case ToolArgument::Form::Plain: line += a.text; break;
            case ToolArgument::Form::Escaped: line += escapeString(a.text); break;
            case ToolArgument::Form::Quoted: line += "'" + a.text + "'"; break;
        }
    }
    return line;
}

std::vector<std::string> ToolRun::argumentVector() const {
    std::vector<std::string> argv{hostTool(tool_)};
    for (const auto& a : arguments_) {
        if (!a.hostText.empty()) argv.push_back(a.hostText);
        else if (a.path) argv.push_back(fs::resolve(a.text));
        else argv.push_back(a.text);
    }
    return argv;
}

int ToolRun::run() const {
    std::vector<std::string> argv = argumentVector();
    if (argv[0].empty()) return -1;
    return spawnAndWait(argv);
}

int spawnAndWait(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return -1;
    // A fixed environment: nothing of the caller's reaches a tool run as root.
    std::vector<std::string> env{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C", "TELVO_ROOT=" + fs::root()};
    std::vector<char*> av, ev;
    for (const auto& a : argv) av.push_back(const_cast<char*>(a.c_str()));
    av.push_back(nullptr);
    for (const auto& e : env) ev.push_back(const_cast<char*>(e.c_str()));
    ev.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    process::initCleanSignalAttributes(attr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, av[0], &actions, &attr, av.data(), ev.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace telvo::helper
