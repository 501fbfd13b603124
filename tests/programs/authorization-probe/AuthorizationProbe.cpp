// Prints the statuses the authorization stand-in answers, one "key=value" line each.
//   authorization_probe --trampoline PATH run TOOL [ARGUMENT...]
//       a reference without rights, the execute right asked for (flags 19), then TOOL run as
//       root (asked for again when the right was not granted): create=, copy=, exec=, exit=
//   authorization_probe copy RIGHT FLAGS          copy=
//   authorization_probe check PID UID RIGHT FLAGS  check= (the root side's question)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "platform/authorization/Authorization.h"

using namespace telvo::authorization;

namespace {

void print(const char* key, long value) {
    std::printf("%s=%ld\n", key, value);
    std::fflush(stdout);
}

int usage() {
    std::fprintf(stderr, "usage: authorization_probe [--trampoline PATH] run TOOL [ARG...] | copy RIGHT FLAGS | "
                         "check PID UID RIGHT FLAGS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
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
    if (args[0] == "check" && args.size() == 5) {
        print("check", AuthorizationCheckCaller(pid_t(std::atol(args[1].c_str())), uid_t(std::atol(args[2].c_str())),
                                                args[3], AuthorizationFlags(std::atoi(args[4].c_str()))));
        return 0;
    }
    return usage();
}
