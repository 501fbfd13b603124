#include "DaemonFixture.h"

#include <cstdlib>
#include <mutex>

#include "daemon/BonjourManager.h"
#include "daemon/Controller.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "history/HistoryDatabaseController.h"

namespace telvo::testing {

void resetDaemonSingletons() {
    ServerManager::resetForTesting();
    Controller::resetForTesting();
    BonjourManager::resetForTesting();
    HistoryDatabaseController::resetForTesting();
    TVSPreferences::resetForTesting();
    TVSKeychain::resetForTesting();
}

namespace {
std::mutex gLogMutex;
}

void DaemonFixture::SetUp() {
    char pattern[] = "/tmp/telvo-daemon-XXXXXX";
    root_ = mkdtemp(pattern);
    fs::setRootForTesting(root_);
    resetDaemonSingletons();
    daemonlog::setSinkForTesting([this](const std::string& line) {
        std::lock_guard lock(gLogMutex);
        log_.push_back(line);
    });
}

void DaemonFixture::TearDown() {
    resetDaemonSingletons();
    daemonlog::setSinkForTesting(nullptr);
    fs::setRootForTesting("");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

bool DaemonFixture::logged(const std::string& line) const {
    std::lock_guard lock(gLogMutex);
    for (const auto& l : log_)
        if (l == line) return true;
    return false;
}

}  // namespace telvo::testing
