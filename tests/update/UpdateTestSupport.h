#pragma once
// The update tests' fixture: a private root with a machine name, preferences and a main
// bundle of version 3.03 (270), the HTTPS test server, and a delegate recording what the
// engine reports.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "HttpsTestServer.h"
#include "update/UpdateCheckerCore.h"

namespace telvo::update::test {

struct RecordingDelegate : UpdateCheckerDelegate {
    std::vector<std::string> events;
    ErrorPtr lastError;
    void updateCheckerFailedWithError(UpdateCheckerCore*, ErrorPtr error) override {
        lastError = error;
        events.push_back(error ? "failed" : "failed(nil)");
    }
    void updateCheckerDownloadComplete(UpdateCheckerCore*) override { events.push_back("downloaded"); }
    void updateCheckerDownloadFailed(UpdateCheckerCore*) override { events.push_back("downloadFailed"); }
    void updateCheckerUpdatesAvailable(UpdateCheckerCore*) override { events.push_back("available"); }
    void updateCheckerNoUpdatesAvailable(UpdateCheckerCore*) override { events.push_back("none"); }
};

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A new engine on the test server's feed, reporting to `delegate`.
    std::unique_ptr<UpdateCheckerCore> makeEngine();
    // Sends the check and serves the main queue until it was answered.
    void check(UpdateCheckerCore& engine);
    static std::string feedOf(const std::vector<std::string>& elements);

    std::unique_ptr<HttpsTestServer> server;
    std::string root;
    RecordingDelegate delegate;
};

}  // namespace telvo::update::test
