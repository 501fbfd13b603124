// The port sheet against the real daemon: where it hangs, the listener moved, Done and Cancel,
// an out-of-range port, the mapping notifications and the 5-second timer.
#include <QLineEdit>
#include <QTest>

#include "PanelTest.h"
#include "app/cells/ButtonCell.h"
#include "app/cells/CheckboxCell.h"
#include "app/cells/ImageView.h"
#include "app/cells/LabelCell.h"
#include "app/ports/TVSPortController.h"
#include "daemon/FreePort.h"
#include "platform/notify/DistributedNotificationCenter.h"

namespace telvo::testing {
namespace {

class AppPortSheetTest : public AppPanelTest {
protected:
    app::TVSPortController& ports() { return app::TVSPortController::sharedPorts(); }
    QString status() { return widget<app::TVSLabel>("statusField")->text(); }
    QString statusImage() { return widget<app::ImageView>("statusImage")->imageName(); }
    QString upnpStatus() { return widget<app::TVSLabel>("upnpStatusField")->text(); }
    QString upnpImage() { return widget<app::ImageView>("upnpStatusImage")->imageName(); }
    QLineEdit* portField() { return widget<QLineEdit>("portField"); }
    QLineEdit* upnpPortField() { return widget<QLineEdit>("upnpPortField"); }
    app::TVSButton* portButton() { return widget<app::TVSButton>("portButton"); }
    void click(const char* name) { QTest::mouseClick(widget<QAbstractButton>(name), Qt::LeftButton); }

    void startConnected() {
        ASSERT_TRUE(startDaemon());
        startApp();
        ASSERT_TRUE(waitFor([&] { return AppDaemonTest::statusImage() == "connected"; }));
        // The reads that the connection's notifications start.
        ASSERT_TRUE(waitFor([&] { return portButton()->text() == QString("Port %1").arg(port_); }));
    }
    void open() {
        ASSERT_NE(portButton(), nullptr);
        QTest::mouseClick(portButton(), Qt::LeftButton);
        ASSERT_EQ(ports().window()->parentWidget(), delegate().window());
    }
    void postUpnp(const Value& info) {
        int before = ports().upnpChanges();
        notify::DistributedNotificationCenter::defaultCenter().postNotification("TelvoServerUpnpUpdated", info);
        ASSERT_TRUE(waitFor([&] { return ports().upnpChanges() > before; }));
    }
};

TEST_F(AppPortSheetTest, HangsUnderTheTitleBarMovesTheListenerAndDoneOrCancelSaveNothing) {
    startConnected();
    open();
    QWidget* sheet = ports().window();
    EXPECT_EQ(sheet->y(), 30);
    EXPECT_EQ(sheet->x(), (delegate().window()->width() - sheet->width()) / 2);
    EXPECT_FALSE(delegate().window()->contentView()->isEnabled());
    const QString running = QString("Running on port %1").arg(port_);
    ASSERT_TRUE(waitFor([&] { return status() == running; })) << status().toStdString();
    EXPECT_EQ(statusImage(), "status-green");
    EXPECT_EQ(portField()->text(), QString::number(port_));
    EXPECT_EQ(portButton()->text(), QString("Port %1").arg(port_));
    EXPECT_EQ(upnpStatus(), "Mapping disabled");
    EXPECT_EQ(upnpPortField()->text(), "5109");
    EXPECT_FALSE(widget<app::TVSCheckbox>("upnpCheckbox")->isChecked());
    screenshot("ports-sheet");

    // A free port saved: the daemon listens there, the sheet says so within 3 s, and the
    // status was asked at once and again 2 s later.
    const uint16_t moved = freePort();
    ASSERT_NE(moved, 0);
    portField()->setText(QString::number(moved));
    clearSent();
    const double saved = steadyNow();
    click("savePort");
    EXPECT_TRUE(waitFor([&] { return accepts(moved) && status() == QString("Running on port %1").arg(moved); }, 3))
        << status().toStdString();
    EXPECT_LT(steadyNow() - saved, 3.5);
    ASSERT_TRUE(waitFor([&] { return steadyNow() - saved > 2.6; }));
    std::vector<std::string> moves;
    for (auto& op : sent("setServerPort:")) moves.push_back(op.arguments.at(0).stringValue());
    EXPECT_EQ(moves, std::vector<std::string>{std::to_string(moved)});
    bool atOnce = false, later = false;
    for (auto& op : sent("serverStatus:")) {
        atOnce |= op.time - saved < 0.3;
        later |= std::abs(op.time - saved - 2.0) < 0.4;
    }
    EXPECT_TRUE(atOnce && later);
    EXPECT_FALSE(accepts(port_));

    // Typed, then Done or Cancel: nothing is sent, nothing stored, the sheet is gone.
    for (const char* button : {"done", "cancel"}) {
        SCOPED_TRACE(button);
        if (!sheet->parentWidget()) open();
        clearSent();
        portField()->setText("6001");
        upnpPortField()->setText("6002");
        click("upnpCheckbox");
        click(button);
        EXPECT_EQ(sheet->parentWidget(), nullptr);
        EXPECT_TRUE(delegate().window()->contentView()->isEnabled());
        EXPECT_FALSE(ports().updatesEnabled());
        serveFor(0.5);
        for (const std::string& name : sentNames())
            EXPECT_TRUE(name != "setServerPort:" && name != "setUpnpPort:" && name != "setObject:forKey:") << name;
        EXPECT_EQ(preference("port").intValue(), moved);
        EXPECT_EQ(preference("port external").intValue(), 5109);
        EXPECT_EQ(preference("map external port").intValue(), 0);
    }
}

TEST_F(AppPortSheetTest, APortOutsideTheRangeReadsAsTheListenersPort) {
    startConnected();
    open();
    ASSERT_TRUE(waitFor([&] { return status() == QString("Running on port %1").arg(port_); }));
    setPreference("port", Value("80"));
    // The next tick of the timer (5 s) reads it as the listener does.
    EXPECT_TRUE(waitFor([&] { return status() == "Running on port 5109"; }, 8)) << status().toStdString();
    EXPECT_EQ(portField()->text(), "5109");
    EXPECT_EQ(portButton()->text(), "Port 5109");
}

TEST_F(AppPortSheetTest, MappingNotificationsShowTheirStatusOrReadItAgain) {
    startConnected();
    serveFor(0.5);
    struct Case {
        Value info;
        const char* text;
        const char* image;
    };
    const Case cases[] = {
        {Value(ValueDictionary{{"status", Value(1)}}), "Mapping in progress", "status-yellow"},
        {Value(ValueDictionary{{"status", Value(2)}, {"port", Value(5109)}}), "Mapped to port 5109", "status-green"},
        {Value(ValueDictionary{{"status", Value(7)}, {"port", Value(6000)}}), "Mapped to port 5109", "status-green"},
        {Value(ValueDictionary{{"status", Value(3)}, {"port", Value(0)}}), "Port already in use", "status-red"},
        {Value(ValueDictionary{{"status", Value(4)}, {"port", Value(0)}}), "Error mapping port", "status-red"},
        {Value(ValueDictionary{{"status", Value(2)}}), "Mapped to port 0", "status-green"},
        {Value(ValueDictionary{{"status", Value(5)}}), "Error mapping port", "status-red"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.info.description());
        clearSent();
        postUpnp(c.info);
        EXPECT_EQ(upnpStatus(), c.text);
        EXPECT_EQ(upnpImage(), c.image);
        serveFor(0.3);
        EXPECT_TRUE(sent().empty()) << sent().front().operation;
    }
    // No user info: the mapping is read again (the daemon's is idle).
    clearSent();
    postUpnp(Value());
    EXPECT_TRUE(waitFor([&] { return upnpStatus() == "Mapping disabled"; })) << upnpStatus().toStdString();
    EXPECT_EQ(upnpImage(), "status-disabled");
    EXPECT_FALSE(sent("upnpStatus:").empty());
    EXPECT_FALSE(sent("upnpPort:").empty());

    // The mapping switched on with a router port that is no port: the daemon's own
    // notification (without user info) brings its status 5.
    open();
    click("upnpCheckbox");
    upnpPortField()->setText("abc");
    const int before = ports().upnpChanges();
    click("saveUPNPPort");
    EXPECT_TRUE(waitFor([&] { return ports().upnpChanges() > before && upnpStatus() == "Error mapping port"; }))
        << upnpStatus().toStdString();
    EXPECT_EQ(upnpImage(), "status-red");
    EXPECT_EQ(preference("map external port").intValue(), 1);
    EXPECT_EQ(preference("port external").stringValue(), "abc");
    screenshot("ports-mapping-error");
    click("done");
}

TEST_F(AppPortSheetTest, TheTimerReadsOnlyWhileTheSheetIsOpen) {
    startConnected();
    serveFor(1);
    clearSent();
    serveFor(6);
    EXPECT_TRUE(sent().empty()) << sent().front().operation;

    open();
    clearSent();
    const double opened = steadyNow();
    serveFor(11);
    for (const char* op : {"serverStatus:", "upnpStatus:"}) {
        SCOPED_TRACE(op);
        std::vector<double> times;
        for (auto& s : sent(op)) times.push_back(s.time - opened);
        ASSERT_GE(times.size(), 2u);
        for (size_t i = 1; i < times.size(); ++i) EXPECT_NEAR(times[i] - times[i - 1], 5.0, 0.5);
    }
    click("done");
    clearSent();
    serveFor(6);
    EXPECT_TRUE(sent().empty());
}

}  // namespace
}  // namespace telvo::testing
