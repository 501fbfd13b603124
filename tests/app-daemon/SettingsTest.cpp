// The settings items against the real daemon: Bonjour read, refused and toggled, the
// authorised devices reset after a passcode login, Debug, and both items and the passcode read
// again after a daemon restart.
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "PanelTest.h"
#include "ProtocolClient.h"
#include "app/cells/ImageView.h"
#include "app/settings/TVSSettingsController.h"

namespace telvo::testing {
namespace {

class AppSettingsTest : public AppPanelTest {
protected:
    app::TVSSettingsController* settings() { return delegate().findChild<app::TVSSettingsController*>(); }
    QAction* bonjour() { return settings()->bonjour(); }
    // An item of the main interface file.
    QAction* action(const char* name) {
        QWidget* form = widget<QWidget>("MainMenu");
        QAction* a = form ? form->findChild<QAction*>(name) : nullptr;
        EXPECT_NE(a, nullptr) << name;
        return a;
    }
    // The daemon, with no "bonjour enabled" stored (removed after its start, so that it
    // publishes nothing), and the application connected to it.
    void startWithoutBonjourKey() {
        ASSERT_TRUE(startDaemon());
        setPreference("bonjour enabled", Value());
        ASSERT_TRUE(preference("bonjour enabled").intValue() == 1);
        startApp();
        ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; }));
    }
};

TEST_F(AppSettingsTest, BonjourItemFollowsTheDaemonAndChangesOnlyWithTheRight) {
    startWithoutBonjourKey();
    // Unchecked in the interface file; the daemon's default checks it.
    EXPECT_TRUE(waitFor([&] { return bonjour()->isChecked(); }));

    auto* menuBar = widget<QMenuBar>("menuBar");
    auto* menu = widget<QMenu>("menuSettings");
    ASSERT_TRUE(menuBar && menu);
    menuBar->setActiveAction(menu->menuAction());
    EXPECT_TRUE(waitFor([&] { return menu->isVisible(); }, 10));
    screenshot("settings-menu");
    menu->hide();

    administrator("deny");
    clearSent();
    bonjour()->trigger();
    EXPECT_TRUE(bonjour()->isChecked());
    EXPECT_EQ(prompts(), 1u);
    serveFor(0.3);
    EXPECT_TRUE(sent().empty()) << sent().front().operation;

    administrator("allow");
    bonjour()->trigger();
    EXPECT_FALSE(bonjour()->isChecked());
    EXPECT_TRUE(waitFor([&] { return preference("bonjour enabled").intValue() == 0; }));
    ASSERT_EQ(sent("setBonjourEnabled:").size(), 1u);
    EXPECT_EQ(sent("setBonjourEnabled:")[0].arguments.at(0).intValue(), 0);

    // Debug only flips its check mark.
    clearSent();
    const size_t before = prompts();
    action("actionDebug")->trigger();
    EXPECT_TRUE(action("actionDebug")->isChecked());
    action("actionDebug")->trigger();
    EXPECT_FALSE(action("actionDebug")->isChecked());
    EXPECT_EQ(prompts(), before);
    EXPECT_TRUE(sent().empty());
}

TEST_F(AppSettingsTest, ResetAuthorizationsMakesEveryDeviceProveItselfAgain) {
    startWithoutBonjourKey();
    testclient::ProtocolClient client;
    std::string error;
    ASSERT_TRUE(client.connect("127.0.0.1", port_, &error)) << error;
    ASSERT_EQ(client.logIn("APP-RESET-DEVICE", passcode(), false, &error), std::optional<std::string>("0")) << error;
    ASSERT_TRUE(waitFor([&] { return preference("authorized devices").array().size() == 1; }));

    administrator("deny");
    clearSent();
    action("actionResetAuthorizations")->trigger();
    serveFor(0.3);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(preference("authorized devices").array().size(), 1u);

    administrator("allow");
    action("actionResetAuthorizations")->trigger();
    EXPECT_TRUE(waitFor([&] { return preference("authorized devices").array().empty(); }));
    EXPECT_EQ(sent("resetAuthorizations").size(), 1u);
}

TEST_F(AppSettingsTest, AfterADaemonRestartTheItemAndThePasscodeAreReadAgain) {
    startWithoutBonjourKey();
    ASSERT_TRUE(waitFor([&] { return bonjour()->isChecked() && passcodeImages() == passcodeImagesOf(passcode()); }));
    // Changed behind the application's back: nothing tells it.
    setPreference("bonjour enabled", Value(0));
    caller().send("setPasscode:", {Value("54321")});
    ASSERT_EQ(passcode(), "54321");
    serveFor(0.5);
    EXPECT_TRUE(bonjour()->isChecked());

    killDaemon();
    ASSERT_TRUE(waitFor([&] { return statusImage() == "notconnected"; }, 20));
    ASSERT_TRUE(startDaemon());
    EXPECT_TRUE(waitFor([&] { return statusImage() == "connected"; }, 20));
    EXPECT_TRUE(waitFor([&] { return !bonjour()->isChecked() && passcodeImages() == passcodeImagesOf("54321"); }, 20));
}

}  // namespace
}  // namespace telvo::testing
