// Cost of the privileged helper's admission and staging (as root, on the test PKI's private
// root): the whole caller check of a running signed client (pinning, signature of the process
// and its mapped code, common name, requirement), and the staging of the assembled application
// bundle (copy without links, the signature of every file, the requirement and the build).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include "codesign/TestPki.h"
#include "helper/CallerCheck.h"
#include "helper/HelperStaging.h"
#include "platform/codesign/Signer.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"
#include "platform/xpc/PidFd.h"

using namespace telvo;

namespace {

const std::string kClient = std::string(TELVO_BINARY_DIR) + "/tests/programs/helper-client/helper-client";
const std::string kBundle = std::string(TELVO_BUNDLE_DIR) + "/Telvo Server.app";

bool prepared(benchmark::State& state) {
    if (geteuid() != 0) {
        state.SkipWithError("needs root: process checks and root-owned staging");
        return false;
    }
    if (!testing::TestPki::shared().ok) {
        state.SkipWithError("no test PKI");
        return false;
    }
    fs::setRootForTesting(testing::TestPki::shared().root);
    return true;
}

void BM_CallerCheck(benchmark::State& state) {
    if (!prepared(state)) return;
    const std::string program = "/bench-helper-client";
    std::system(("cp '" + kClient + "' '" + fs::resolve(program) + "'").c_str());
    ErrorPtr error;
    if (!codesign::signExecutable(program, "com.kestro.TelvoServer", testing::TestPki::shared().identity("leaf", "devIdCA"), 0,
                                  &error)) {
        state.SkipWithError("cannot sign the client");
        return;
    }
    // The client waits on its standard input (a pipe) before it would connect.
    int in[2];
    if (pipe(in) != 0) return;
    pid_t child = fork();
    if (child == 0) {
        dup2(in[0], 0);
        close(in[1]);
        const std::string host = fs::resolve(program);
        execl(host.c_str(), host.c_str(), "/nonexistent.plist", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    usleep(200000);
    xpc::PeerCredentials peer;
    peer.pid = child;
    peer.uid = 0;
    peer.gid = 0;
    peer.pidfd = xpc::PidFd::open(child, xpc::PidFd::bootClockNow());
    const helper::CallerRules rules = helper::makerCallerRules();
    std::string why;
    for (auto _ : state) {
        if (!helper::checkCaller(peer, rules, why)) {
            state.SkipWithError(("refused: " + why).c_str());
            break;
        }
    }
    close(in[1]);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::remove(fs::resolve(program).c_str());
}
BENCHMARK(BM_CallerCheck)->Unit(benchmark::kMillisecond);

void BM_StageAssembledBundle(benchmark::State& state) {
    if (!prepared(state)) return;
    const std::string app = "/bench-downloads/Telvo Server.app";
    std::system(("rm -rf '" + fs::resolve("/bench-downloads") + "' && mkdir -p '" + fs::resolve("/bench-downloads") +
                 "' && cp -a '" + kBundle + "' '" + fs::resolve(app) + "'")
                    .c_str());
    // The application's executable is the client, as in the tests.
    std::system(("cp '" + kClient + "' '" + fs::resolve(app) + "/Contents/MacOS/Telvo Server'").c_str());
    Value info = plist::readFile(app + "/Contents/Info.plist");
    info.set("CFBundleExecutable", Value("Telvo Server"));
    plist::writeFile(info, app + "/Contents/Info.plist");
    ErrorPtr error;
    if (!codesign::signBundle(app, "com.kestro.TelvoServer", testing::TestPki::shared().identity("leaf", "devIdCA"), 0,
                              &error)) {
        state.SkipWithError(("cannot sign the bundle: " + (error ? error->message : std::string())).c_str());
        return;
    }
    const std::string requirement = helper::makerCallerRules().requirements.back();
    for (auto _ : state) {
        helper::HelperStaging staging(requirement);
        std::string staged, why;
        if (!staging.stagedSource(app + "/Contents/Info.plist", staged, why)) {
            state.SkipWithError(("refused: " + why).c_str());
            break;
        }
        state.PauseTiming();
        staging.remove();
        state.ResumeTiming();
    }
    std::system(("rm -rf '" + fs::resolve("/bench-downloads") + "' '" + fs::resolve("/var/db/telvo") + "'").c_str());
}
BENCHMARK(BM_StageAssembledBundle)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
