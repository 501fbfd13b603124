// Downloads one update archive through the engine, saves it into a fresh update folder and
// unpacks it, as the agent does. Usage: telvo-update-fetch <https address> <CA file>
// Prints the payload path; exits 1 when any step failed.
#include <cstdio>

#include "platform/dispatch/MainLoop.h"
#include "update/HttpTransfer.h"
#include "update/UpdateCheckerCore.h"

using namespace telvo;

namespace {

struct Done : update::UpdateCheckerDelegate {
    bool finished = false;
    bool ok = false;
    void updateCheckerDownloadComplete(update::UpdateCheckerCore*) override { finished = ok = true; }
    void updateCheckerDownloadFailed(update::UpdateCheckerCore*) override { finished = true; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <https address> <CA file>\n", argv[0]);
        return 2;
    }
    update::setCAFile(argv[2]);
    update::UpdateCheckerCore engine;
    Done done;
    engine.delegate = &done;
    engine.appName = "Telvo Server";
    engine.newVersion = 3.04f;
    engine.url = argv[1];
    engine.updateInfo.set("url", engine.url);
    engine.downloadUpdate();
    dispatch::MainLoop::runUntil([&] { return done.finished; }, 3600);
    if (!done.ok) return 1;
    const std::string payload = engine.payloadPath();
    std::printf("%s\n", payload.c_str());
    return payload.empty() ? 1 : 0;
}
