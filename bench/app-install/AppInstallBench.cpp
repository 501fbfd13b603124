// The control application's install from "~/Downloads" (Install pressed, until the copy in
// "/Applications" shows its first window) and its uninstall (Uninstall pressed, until the
// process ended), five runs each, as a real user under our launcher in a fresh root. The
// counters give each half's seconds; the goal is under 10 s each.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>

#include "AppInstallFixture.h"

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
    if (geteuid() != 0) {
        state.SkipWithError("needs root: useradd, the system launcher and the helper");
        return;
    }
    AppInstallBench fixture;
    fixture.SetUp();
    if (!fixture.ready()) {
        state.SkipWithError("the fresh root could not be set up (see above)");
        fixture.TearDown();
        return;
    }
    fixture.setPolicy(std::string(kBlessRight) + " allow\n");
    const std::string app = fixture.makeApplication(fixture.home_ + "/Downloads/Telvo Server.app");
    double installs = 0, uninstalls = 0;
    for (auto _ : state) {
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
            break;
        }
        // The uninstall, from the new copy.
        fixture.script({"actionUninstall", "uninstallButton"});
        auto back = std::chrono::steady_clock::now();
        const bool quit = waitUntil([&] { return fixture.recorded(second, "quit"); }, 120);
        auto end = std::chrono::steady_clock::now();
        waitUntil([&] { return !alive(second); }, 30);
        if (!quit) {
            state.SkipWithError(("the uninstall did not end the application: " + fixture.recordText()).c_str());
            break;
        }
        fixture.forgetRecord();
        double in = std::chrono::duration<double>(middle - start).count();
        double un = std::chrono::duration<double>(end - back).count();
        installs += in;
        uninstalls += un;
        state.SetIterationTime(in + un);
    }
    state.counters["install_s"] = benchmark::Counter(installs, benchmark::Counter::kAvgIterations);
    state.counters["uninstall_s"] = benchmark::Counter(uninstalls, benchmark::Counter::kAvgIterations);
    fixture.TearDown();
}
BENCHMARK(BM_AppInstallAndUninstallFromDownloads)->Iterations(5)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
