// One install and one uninstall from "~/Downloads" per iteration, through the signed test host
// loading the plug-in, as a real user, under our launcher in a fresh root: the helper blessed
// on each install (the uninstall removes it), the daemon started and stopped. Five iterations;
// the counters give each half's seconds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>

#include "SetupFixture.h"

using namespace telvo;
using namespace telvo::testing;

namespace {

class SetupBench : public SetupFixture {
public:
    SetupBench() {
        privateNetwork_ = true;
        userInstance_ = true;
    }
    void TestBody() override {}
    bool ready() const { return launchd_ && aqua_; }
    using SetupFixture::home_;
    using SetupFixture::makeApplication;
    using SetupFixture::runHost;
    using SetupFixture::setPolicy;
    using SetupFixture::SetUp;
    using SetupFixture::TearDown;
};

void BM_InstallAndUninstallFromDownloads(benchmark::State& state) {
    if (geteuid() != 0) {
        state.SkipWithError("needs root: useradd, the system launcher and the helper");
        return;
    }
    SetupBench fixture;
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
        std::string out = fixture.runHost(app, {"install", app});
        auto middle = std::chrono::steady_clock::now();
        std::string back = fixture.runHost("/Applications/Telvo Server.app", {"uninstall", "/Applications/Telvo Server.app"});
        auto end = std::chrono::steady_clock::now();
        if (out.find("reply 2\n") == std::string::npos || back.find("reply 1\n") == std::string::npos) {
            state.SkipWithError(("install or uninstall failed: " + out + back).c_str());
            break;
        }
        double in = std::chrono::duration<double>(middle - start).count();
        double un = std::chrono::duration<double>(end - middle).count();
        installs += in;
        uninstalls += un;
        state.SetIterationTime(in + un);
    }
    state.counters["install_s"] = benchmark::Counter(installs, benchmark::Counter::kAvgIterations);
    state.counters["uninstall_s"] = benchmark::Counter(uninstalls, benchmark::Counter::kAvgIterations);
    fixture.TearDown();
}
BENCHMARK(BM_InstallAndUninstallFromDownloads)->Iterations(5)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
