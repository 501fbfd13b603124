// Install from the install window, in-process: the checked payload is put in place and started a
// second later; payloads that are not the maker's application of the offered build, packages,
// refused rights and a copy that cannot start are refused with an alert, and the application
// stays.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "UpdateWindowsFixture.h"
#include "codesign/TestPki.h"
#include "platform/authorization/Authorization.h"
#include "platform/authorization/ScriptedBackend.h"
#include "platform/fs/Root.h"
#include "platform/values/PropertyList.h"

namespace telvo::app::testing {
namespace {

using update::test::readText;
using update::test::writeText;

double wallClock() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

class InstallTest : public UpdateWindowsTest {
protected:
    void SetUp() override {
        UpdateWindowsTest::SetUp();
        if (IsSkipped()) return;
        probeRecord = root + "/probe.log";
        setenv("TELVO_PROBE_RECORD", probeRecord.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TELVO_PROBE_RECORD");
        authorization::setTrampolineForTesting("");
        UpdateWindowsTest::TearDown();
    }
    // Offers the payload, downloads it and waits for the install window.
    void downloadOffer(const std::string& variant) {
        const std::string url = servePayload(variant);
        answer({"<b version=\"3.04\" build=\"271\" url=\"" + url + "\"/>"});
        UpdateChecker& c = checker();
        c.setTerminateHandler([this] {
            ++terminated;
            terminatedAt = wallClock();
        });
        c.installWindow->hide();
        check(true);
        ASSERT_TRUE(c.updateWindow->isVisible());
        QTest::mouseClick(find<QPushButton>("updateWindowDownloadButton"), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return c.installWindow->isVisible(); }));
    }
    void pressInstall() { QTest::mouseClick(find<QPushButton>("installWindowInstallButton"), Qt::LeftButton); }
    int64_t installedBuild(const std::string& path) {
        return plist::readFile(path + "/Contents/Info.plist")["CFBundleVersion"].intValue();
    }
    void expectRefused(const std::string& informative) {
        QMessageBox* alert = visibleAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->text(), QStringLiteral("Update Error!"));
        EXPECT_EQ(alert->informativeText().toStdString(), informative);
        EXPECT_EQ(terminated, 0);
        EXPECT_FALSE(find<QPushButton>("installWindowInstallButton")->isEnabled());
        dismissAlerts();
        // A second press does nothing.
        checker().installUpdate(nullptr);
        EXPECT_TRUE(visibleAlert() == nullptr);
        EXPECT_EQ(terminated, 0);
    }

    std::string probeRecord;
    int terminated = 0;
    double terminatedAt = 0;
};

const std::string kDownloadError = "An error occurred while downloading the update. Please try again later.";

TEST_F(InstallTest, TheSignedPayloadGoesInPlaceAndStartsASecondLater) {
    struct Case {
        const char* location;
        const char* destination;
        const char* trashed;  // the old copy's name in the Trash
    } cases[] = {{"/Applications", "/Applications/Telvo Server.app", "Telvo Server (270).app"},
                 // A copy of what the first case installed (271) stands there.
                 {"/Applications/Renamed.app", "/Applications/Renamed.app", "Renamed (271).app"}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.location);
        const std::string destination = root + k.destination;
        if (destination != bundlePath) {
            // An earlier copy stands there, so that the user's own rights serve.
            ASSERT_EQ(telvo::testing::run("cp -a '" + bundlePath + "' '" + destination + "'"), 0);
        }
        UpdateChecker& c = checker();
        c.installLocation = k.location;
        terminated = 0;
        unlink(probeRecord.c_str());
        downloadOffer("");
        c.delegate = &delegate;
        delegate.events.clear();
        pressInstall();
        EXPECT_TRUE(c.updaterFinished);
        ASSERT_EQ(terminated, 1) << (visibleAlert() ? visibleAlert()->informativeText().toStdString() : "");
        EXPECT_TRUE(visibleAlert() == nullptr);
        EXPECT_EQ(installedBuild(destination), 271);
        EXPECT_EQ(delegate.events, std::vector<std::string>({"startingInstall"}));
        // The old copy went to the user's Trash.
        EXPECT_TRUE(fs::isDirectory(root + "/home/.Trash/" + k.trashed));
        // The probe (the new copy's program) starts about a second after the install ended.
        ASSERT_TRUE(waitFor([&] { return readText(probeRecord).find("started ") != std::string::npos; }, 30));
        const std::string line = readText(probeRecord);
        const double started = std::atof(line.c_str() + 8);
        EXPECT_GE(started - terminatedAt, 0.8) << line;
        EXPECT_LT(started - terminatedAt, 30) << line;
        EXPECT_NE(line.find("exe=" + destination + "/Contents/MacOS/Telvo Server"), std::string::npos) << line;
        // A second press does nothing.
        c.installUpdate(nullptr);
        EXPECT_EQ(terminated, 1);
    }
}

TEST_F(InstallTest, APayloadThatIsNotTheOfferedSignedApplicationIsRefused) {
    struct Case {
        const char* variant;
    } cases[] = {{"unsigned"}, {"tampered"}, {"build272"}, {"other"}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.variant);
        terminated = 0;
        downloadOffer(k.variant);
        pressInstall();
        expectRefused(kDownloadError);
        EXPECT_EQ(installedBuild(bundlePath), 270);
        EXPECT_FALSE(fs::exists("/home/.Trash"));
        checker().cancelInstall(nullptr);
    }
    settle();
    EXPECT_EQ(readText(probeRecord), "");
}

TEST_F(InstallTest, APackageHasNoInstallerHereInAnyModeButNoneAndHandOver) {
    struct Case {
        int mode;
        bool alert;
        std::vector<std::string> events;
    } cases[] = {{0, false, {}},
                 {2, true, {"startingInstall"}},
                 {3, true, {"startingInstall"}},
                 {4, true, {"startingInstall"}},
                 {5, false, {"startingInstall", "finishWithPath"}}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.mode);
        terminated = 0;
        downloadOffer("pkg");
        UpdateChecker& c = checker();
        c.installMode = k.mode;
        delegate.events.clear();
        pressInstall();
        EXPECT_EQ(delegate.events, k.events);
        if (k.alert) {
            expectRefused(kDownloadError);
        } else {
            EXPECT_TRUE(visibleAlert() == nullptr);
            EXPECT_EQ(terminated, 0);
        }
        if (k.mode == 5) {
            EXPECT_NE(delegate.finishedPath.find("/Telvo Server.pkg"), std::string::npos);
        }
        EXPECT_EQ(installedBuild(bundlePath), 270);
        c.cancelInstall(nullptr);
    }
}

TEST_F(InstallTest, ACopyThatCannotStartShowsTheErrorAndTheApplicationStays) {
    // The maker's application whose program lost its execute bit: it is put in place, but the
    // start is refused, and this application stays.
    downloadOffer("noexec");
    pressInstall();
    QMessageBox* alert = visibleAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), QStringLiteral("Update Error!"));
    EXPECT_NE(alert->informativeText().indexOf(QStringLiteral("cannot be run")), -1)
        << alert->informativeText().toStdString();
    EXPECT_EQ(terminated, 0);
    EXPECT_EQ(installedBuild(bundlePath), 271);
    settle();
    EXPECT_EQ(readText(probeRecord), "");
}

TEST_F(InstallTest, RefusedAdministratorRightsCopyNothing) {
    if (geteuid() != 0) GTEST_SKIP() << "the scripted authorization backend serves root processes only";
    // No copy stands at the destination: the administrator route is taken, and refused.
    fs::createDirectories(root + "/etc/telvo/authorization", 0755);
    writeText(root + authorization::scripted::kPolicyPath, "system.privilege.admin deny\n");
    chmod((root + authorization::scripted::kPolicyPath).c_str(), 0644);
    authorization::setTrampolineForTesting(TELVO_TRAMPOLINE);
    checker().installLocation = "/Applications/Elsewhere";
    downloadOffer("");
    pressInstall();
    expectRefused(kDownloadError);
    EXPECT_FALSE(fs::exists("/Applications/Elsewhere"));
    EXPECT_EQ(installedBuild(bundlePath), 270);
    settle();
    EXPECT_EQ(readText(probeRecord), "");
}

}  // namespace
}  // namespace telvo::app::testing
