// One install and one uninstall from "~/Downloads" per iteration, through the signed test host
// loading the plug-in, as a real user, under our launcher in a fresh root: the helper blessed
// on each install (the uninstall removes it), the daemon started and stopped. Five iterations;
// the counters give each half's seconds.
#include <chrono>

#include "FreshRootBench.h"

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
    runFreshRootBench<SetupBench>(state, [&](SetupBench& fixture, const std::string& app, double& install,
                                             double& uninstall) {
        auto start = std::chrono::steady_clock::now();
        std::string out = fixture.runHost(app, {"install", app});
        auto middle = std::chrono::steady_clock::now();
        std::string back = fixture.runHost("/Applications/Telvo Server.app", {"uninstall", "/Applications/Telvo Server.app"});
        auto end = std::chrono::steady_clock::now();
        if (out.find("reply 2\n") == std::string::npos || back.find("reply 1\n") == std::string::npos) {
            state.SkipWithError(("install or uninstall failed: " + out + back).c_str());
            return false;
        }
        install = std::chrono::duration<double>(middle - start).count();
        uninstall = std::chrono::duration<double>(end - middle).count();
        return true;
    });
}
BENCHMARK(BM_InstallAndUninstallFromDownloads)->Iterations(5)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
