#pragma once
// The frame of the install-and-uninstall benchmarks: the set-up fixture's fresh root (bundles, a
// real user, the system and Aqua launchers) with the blessing right allowed and the application
// in the user's "~/Downloads", each run's install and uninstall seconds as counters.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>

#include "SetupFixture.h"

namespace telvo::testing {

// `once(fixture, app, install, uninstall)` installs and uninstalls once, setting each half's
// seconds; it calls SkipWithError and answers false when a run fails.
template <class Fixture, class Once>
void runFreshRootBench(benchmark::State& state, Once once) {
    if (geteuid() != 0) {
        state.SkipWithError("needs root: useradd, the system launcher and the helper");
        return;
    }
    Fixture fixture;
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
        double install = 0, uninstall = 0;
        if (!once(fixture, app, install, uninstall)) break;
        installs += install;
        uninstalls += uninstall;
        state.SetIterationTime(install + uninstall);
    }
    state.counters["install_s"] = benchmark::Counter(installs, benchmark::Counter::kAvgIterations);
    state.counters["uninstall_s"] = benchmark::Counter(uninstalls, benchmark::Counter::kAvgIterations);
    fixture.TearDown();
}

}  // namespace telvo::testing
