// The panels on the older route (both processes told they run on 10.7): the port sheet moves
// the listener, the passcode panel draws and sets the passcode, and the Bonjour item is read
// and toggled, all over the daemon's control socket.
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "PanelTest.h"
#include "app/cells/ButtonCell.h"
#include "app/cells/ImageView.h"
#include "app/cells/LabelCell.h"
#include "app/cells/PopUpButtonCell.h"
#include "app/connection/TVSXPCConnection.h"
#include "app/passcode/TVSPasscodeController.h"
#include "app/settings/TVSSettingsController.h"
#include "daemon/FreePort.h"
#include "foundation/ControlChannel.h"
#include "foundation/KXRVersions.h"

namespace telvo::testing {
namespace {

class AppLegacyPanelsTest : public AppPanelTest {
protected:
    void SetUp() override {
        AppPanelTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        setenv("TELVO_OS_VERSION", "10.7", 1);
        KXRVersions::resetForTesting();
    }
    // One request over the daemon's control socket.
    Value ask(const std::string& key, ValueDictionary fields = {}) {
        auto socket = std::make_shared<LegacyCaller>();
        ErrorPtr error;
        if (!socket->connect(channel::kLegacySocketPath, &error)) {
            ADD_FAILURE() << (error ? error->description() : "no socket");
            return {};
        }
        std::optional<Value> answer = socket->ask(key, std::move(fields));
        socket->close();
        return answer ? *answer : Value();
    }
    std::string socketPasscode() { return ask("passcode")["passcode"].stringValue(); }
    Value socketPreference(const std::string& key) { return ask("preference", {{"pkey", Value(key)}})["value"]; }
    void click(const char* name) { QTest::mouseClick(widget<QAbstractButton>(name), Qt::LeftButton); }
};

TEST_F(AppLegacyPanelsTest, PortPasscodeAndBonjourOverTheSocket) {
    ASSERT_TRUE(startDaemon({"TELVO_OS_VERSION=10.7"}));
    startApp();
    ASSERT_FALSE(app::TVSXPCConnection::sharedXPCConnection().usesServiceRoute());
    ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; }));

    // The port sheet: the listener's port, the router port 5109 while none is granted, and a
    // port moved.
    auto* status = widget<app::TVSLabel>("statusField");
    click("portButton");
    ASSERT_TRUE(waitFor([&] { return status->text() == QString("Running on port %1").arg(port_); })) << status->text().toStdString();
    EXPECT_EQ(widget<QLineEdit>("upnpPortField")->text(), "5109");
    EXPECT_EQ(widget<app::TVSLabel>("upnpStatusField")->text(), "Mapping disabled");
    const uint16_t moved = freePort();
    widget<QLineEdit>("portField")->setText(QString::number(moved));
    click("savePort");
    EXPECT_TRUE(waitFor([&] { return accepts(moved) && status->text() == QString("Running on port %1").arg(moved); }, 10))
        << status->text().toStdString();
    click("done");

    // Randomize: the reply to "generatepasscode" reads the panel again.
    const std::string first = socketPasscode();
    ASSERT_TRUE(waitFor([&] { return passcodeImages() == passcodeImagesOf(first); }));
    click("passcodeEdit");
    std::string second;
    EXPECT_TRUE(waitFor([&] {
        second = socketPasscode();
        return second != first && passcodeImages() == passcodeImagesOf(second);
    }));

    // A password typed on the sheet.
    auto* kind = widget<app::TVSPopUpButton>("passcodeType");
    kind->setCurrentIndex(1);
    emit kind->activated(1);
    EXPECT_TRUE(waitFor([&] { return socketPreference("passcodeType").intValue() == 1; }));
    click("passcodeEdit");
    auto* field = widget<QLineEdit>("passwordField");
    EXPECT_EQ(field->text().toStdString(), second);
    field->setText("le gacy");
    click("passwordSave");
    EXPECT_TRUE(waitFor([&] { return socketPasscode() == "le gacy"; }));
    EXPECT_EQ(widget<app::TVSLabel>("passwordLabel")->text(), "le gacy");

    // Bonjour: stored as on behind the application's back (nothing published), read again as
    // after a reconnect, then switched off through the socket.
    ask("setpreference", {{"pkey", Value("bonjour enabled")}, {"value", Value(1)}});
    QAction* bonjour = delegate().findChild<app::TVSSettingsController*>()->bonjour();
    notify::NotificationCenter::defaultCenter().post("SettingsUpdated");
    EXPECT_TRUE(waitFor([&] { return bonjour->isChecked(); }));
    bonjour->trigger();
    EXPECT_FALSE(bonjour->isChecked());
    EXPECT_TRUE(waitFor([&] { return socketPreference("bonjour enabled").intValue() == 0; }));
}

}  // namespace
}  // namespace telvo::testing
