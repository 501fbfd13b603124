#include "DaemonFixture.h"

#include <cstdlib>
#include <mutex>
#include <stdio.h>

#include "daemon/BonjourManager.h"
#include "daemon/Controller.h"
#include "daemon/ReplyCache.h"
#include "daemon/ServerManager.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "daemon/control/TVSXPCServer.h"
#include "daemon/portmapping/PortMappingManager.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/FixtureSource.h"
#include "foundation/ServerLog.h"
#include "history/HistoryDatabaseController.h"

namespace telvo::testing {

void resetDaemonSingletons() {
    TVSXPCServer::resetForTesting();
    PortMappingManager::resetForTesting();
    TCMPortMapper::resetForTesting();
    // No test sees the machine's own network: an empty one, without a router.
    netstate::DynamicStore::setSourceForTesting(std::make_shared<netstate::FixtureSource>());
    ServerManager::resetForTesting();
    Controller::resetForTesting();
    ReplyCache::resetForTesting();
    BonjourManager::resetForTesting();
    HistoryDatabaseController::resetForTesting();
    TVSPreferences::resetForTesting();
    TVSKeychain::resetForTesting();
}

void DaemonFixture::SetUp() {
    char pattern[] = "/tmp/telvo-daemon-XXXXXX";
    root_ = mkdtemp(pattern);
    fs::setRootForTesting(root_);
    resetDaemonSingletons();
    log_ = std::tmpfile();
    setDaemonLogStream(log_);
}

void DaemonFixture::TearDown() {
    resetDaemonSingletons();
    setDaemonLogStream(nullptr);
    if (log_) std::fclose(log_);
    log_ = nullptr;
    fs::setRootForTesting("");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::vector<std::string> DaemonFixture::logMessages() const {
    std::vector<std::string> messages;
    if (!log_) return messages;
    // The daemon's threads write lines into the same stream meanwhile: the stream is held
    // while it is read from the start and put back at its end, or a line written in between
    // lands at the read position (over older lines, or where the next read does not look).
    flockfile(log_);
    std::fflush(log_);
    long end = std::ftell(log_);
    std::string text(size_t(end), '\0');
    std::rewind(log_);
    size_t n = std::fread(text.data(), 1, text.size(), log_);
    text.resize(n);
    std::fseek(log_, 0, SEEK_END);
    funlockfile(log_);
    size_t start = 0;
    while (start < text.size()) {
        size_t newline = text.find('\n', start);
        std::string line = text.substr(start, newline == std::string::npos ? std::string::npos : newline - start);
        // "YYYY-MM-dd HH:mm:ss.SSS: " is 25 characters.
        messages.push_back(line.size() >= 25 && line[23] == ':' ? line.substr(25) : line);
        if (newline == std::string::npos) break;
        start = newline + 1;
    }
    return messages;
}

bool DaemonFixture::logged(const std::string& message) const {
    for (const auto& m : logMessages())
        if (m == message) return true;
    return false;
}

}  // namespace telvo::testing
