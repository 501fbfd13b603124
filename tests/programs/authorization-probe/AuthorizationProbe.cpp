// Prints the statuses the authorization stand-in answers, one "key=value" line each.
//   authorization_probe --trampoline PATH run TOOL [ARGUMENT...]
//       a reference without rights, the execute right asked for (flags 19), then TOOL run as
//       root (asked for again when the right was not granted): create=, copy=, exec=, exit=
//   authorization_probe copy RIGHT FLAGS          copy=
//   authorization_probe authorized                authorized= (the control application's
//       request before each of its changes to the daemon)
//   authorization_probe check PID UID RIGHT FLAGS  check= (the root side's question)
//   authorization_probe install SOURCE DESTINATION   installed= (the update window's copy
//       into place with administrator rights, UpdateInstaller::authenticatedCopy)
//   authorization_probe --password PW ...        runs the rest on a new terminal and answers
//       each "Password:" that polkit's text agent asks there with PW: prompts=
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "app/connection/AdministratorRight.h"
#include "platform/authorization/Authorization.h"
#include "update/UpdateInstaller.h"

using namespace telvo::authorization;

namespace {

void print(const char* key, long value) {
    std::printf("%s=%ld\n", key, value);
    std::fflush(stdout);
}

int usage() {
    std::fprintf(stderr, "usage: authorization_probe [--trampoline PATH] run TOOL [ARG...] | copy RIGHT FLAGS | "
                         "check PID UID RIGHT FLAGS | authorized | install SOURCE DESTINATION\n");
    return 2;
}

// Runs this program again with `args` on a new terminal, relays what it writes (as plain lines)
// and answers the password prompts.
int answerPrompts(const std::string& password, const std::vector<std::string>& args) {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return 3;
    if (pid == 0) {
        std::vector<char*> argv;
        static char self[] = "authorization_probe";
        argv.push_back(self);
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    std::string seen;
    size_t prompts = 0;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) break;
        char buf[1024];
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] != '\r') std::fputc(buf[i], stdout);
        std::fflush(stdout);
        seen.append(buf, size_t(n));
        size_t count = 0;
        for (size_t at = seen.find("Password:"); at != std::string::npos; at = seen.find("Password:", at + 1)) ++count;
        if (count > prompts) {
            prompts = count;
            // The agent turns echo off after the prompt, discarding what was typed before:
            // answer only once it did.
            for (int waited = 0; waited < 1000; ++waited) {
                termios t{};
                if (tcgetattr(master, &t) != 0 || !(t.c_lflag & ECHO)) break;
                poll(nullptr, 0, 10);
            }
            std::string line = password + "\n";
            if (write(master, line.data(), line.size()) < 0) break;
        }
    }
    close(master);
    waitpid(pid, nullptr, 0);
    std::printf("\nprompts=%zu\n", prompts);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--password")
        return answerPrompts(args[1], std::vector<std::string>(args.begin() + 2, args.end()));
    if (args.size() >= 2 && args[0] == "--trampoline") {
        setTrampolineForTesting(args[1]);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return usage();
    if (args[0] == "run" && args.size() >= 2) {
        AuthorizationRef ref = nullptr;
        print("create", AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref));
        print("copy", AuthorizationCopyRights(ref, {kAuthorizationRightExecute}, kAuthorizationFlagsAskUser));
        int exitStatus = -1;
        OSStatus status = AuthorizationExecuteWithPrivilegesAndWait(
            ref, args[1], std::vector<std::string>(args.begin() + 2, args.end()), &exitStatus);
        print("exec", status);
        print("exit", exitStatus);
        print("free", AuthorizationFree(ref, kAuthorizationFlagDefaults));
        return 0;
    }
    if (args[0] == "copy" && args.size() == 3) {
        AuthorizationRef ref = nullptr;
        AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, &ref);
        print("copy", AuthorizationCopyRights(ref, {args[1]}, AuthorizationFlags(std::atoi(args[2].c_str()))));
        AuthorizationFree(ref, kAuthorizationFlagDefaults);
        return 0;
    }
    if (args[0] == "install" && args.size() == 3) {
        print("installed", telvo::update::UpdateInstaller::authenticatedCopy(args[1], args[2]) ? 1 : 0);
        return 0;
    }
    if (args[0] == "authorized" && args.size() == 1) {
        print("authorized", telvo::app::requestAdministratorRight());
        return 0;
    }
    if (args[0] == "check" && args.size() == 5) {
        print("check", AuthorizationCheckCaller(pid_t(std::atol(args[1].c_str())), uid_t(std::atol(args[2].c_str())),
                                                args[3], AuthorizationFlags(std::atoi(args[4].c_str()))));
        return 0;
    }
    return usage();
}
