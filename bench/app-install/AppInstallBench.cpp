// The control application's install from "~/Downloads" (Install pressed, until the copy in
// "/Applications" shows its first window) and its uninstall (Uninstall pressed, until the
// process ended), five runs each, as a real user under our launcher in a fresh root. The
// counters give each half's seconds; the goal is under 10 s each.
#include <chrono>

#include "AppInstallFixture.h"
#include "FreshRootBench.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

class AppInstallBench : public AppInstallFixture {
public:
    void TestBody() override {}
    bool ready() const { return launchd_ && aqua_; }
    using SetupFixture::home_;
    using SetupFixture::makeApplication;
    using SetupFixture::setPolicy;
};

void BM_AppInstallAndUninstallFromDownloads(benchmark::State& state) {
    runFreshRootBench<AppInstallBench>(state, [&](AppInstallBench& fixture, const std::string& app, double& install,
                                                  double& uninstall) {
        auto start = std::chrono::steady_clock::now();
        fixture.script({"installButton"});
        helper::Client& first = fixture.launch(app);
        const pid_t firstPid = first.pid();
        pid_t second = 0;
        const bool relaunched =
            waitUntil([&] { return (second = fixture.otherRecording(firstPid, "shown mainWindow")) != 0; }, 120);
        auto middle = std::chrono::steady_clock::now();
        fixture.waitExit(first, 30);
        if (!relaunched) {
            state.SkipWithError(("the install did not relaunch: " + fixture.recordText()).c_str());
            return false;
        }
        // The uninstall, from the new copy.
        fixture.script({"actionUninstall", "uninstallButton"});
        auto back = std::chrono::steady_clock::now();
        const bool quit = waitUntil([&] { return fixture.recorded(second, "quit"); }, 120);
        auto end = std::chrono::steady_clock::now();
        waitUntil([&] { return !alive(second); }, 30);
        if (!quit) {
            state.SkipWithError(("the uninstall did not end the application: " + fixture.recordText()).c_str());
            return false;
        }
        fixture.forgetRecord();
        install = std::chrono::duration<double>(middle - start).count();
        uninstall = std::chrono::duration<double>(end - back).count();
        return true;
    });
}
BENCHMARK(BM_AppInstallAndUninstallFromDownloads)->Iterations(5)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
