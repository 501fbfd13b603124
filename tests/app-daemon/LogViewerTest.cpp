// The log viewer in the application against the real daemon under Xvfb: the menu's "Log"
// shows the daemon's own lines in the two styles and follows them (a port moved through the
// daemon's service shows within a second), searches, and saves a copy; closing stops it.
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "AppDaemonFixture.h"
#include "app/log/TVSLog.h"
#include "daemon/FreePort.h"
#include <QAction>

namespace telvo::testing {
namespace {

class AppLogViewerTest : public AppDaemonTest {
protected:
    void TearDown() override {
        app::TVSLog::resetForTesting();
        AppDaemonTest::TearDown();
    }
    app::TVSLog& viewer() { return app::TVSLog::sharedLog(); }
    // The last block of the view holding `text`.
    QTextBlock blockWith(const QString& text) {
        QTextDocument* document = viewer().textView()->document();
        for (QTextBlock block = document->lastBlock(); block.isValid(); block = block.previous())
            if (block.text().contains(text)) return block;
        return {};
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

}  // namespace

TEST_F(AppLogViewerTest, ShowsTheDaemonsLinesFollowsThemSearchesAndSaves) {
    ASSERT_TRUE(startDaemon());
    startApp();
    QAction* action = widget<QAction>("actionLog");
    ASSERT_NE(action, nullptr);
    ASSERT_TRUE(action->isEnabled());
    action->trigger();
    ASSERT_TRUE(viewer().enabled());
    QWidget* window = viewer().window();
    ASSERT_TRUE(waitFor([&] { return window->isVisible(); }));

    // The daemon's line in the two styles, as the document holds them.
    const QString listening = QStringLiteral("Waiting for connections on port %1.").arg(port_);
    ASSERT_TRUE(waitFor([&] { return blockWith(listening).isValid(); })) << daemonLog();
    QTextBlock block = blockWith(listening);
    QTextBlock::iterator it = block.begin();
    ASSERT_FALSE(it.atEnd());
    const QTextCharFormat date = it.fragment().charFormat();
    EXPECT_EQ(it.fragment().text().size(), 25);
    EXPECT_EQ(date.foreground().color(), QColor::fromRgbF(0.46f, 0.519f, 0.7f));
    EXPECT_EQ(date.fontWeight(), QFont::Bold);
    ++it;
    ASSERT_FALSE(it.atEnd());
    EXPECT_EQ(it.fragment().text(), listening);
    EXPECT_EQ(it.fragment().charFormat().foreground().color(), QColor::fromRgbF(0.8f, 0.8f, 0.8f));
    EXPECT_EQ(it.fragment().charFormat().fontWeight(), QFont::Normal);
    EXPECT_EQ(it.fragment().charFormat().font().family(), QStringLiteral("DejaVu Sans Mono"));
    window->resize(760, 420);
    window->move(20, 20);
    screenshot("log-rows");

    // A port moved through the daemon's service: its line shows within a second.
    const uint16_t moved = freePort();
    const QString movedLine = QStringLiteral("Waiting for connections on port %1.").arg(moved);
    QElapsedTimer timer;
    timer.start();
    caller().send("setServerPort:", {Value(std::to_string(moved))});
    qint64 logged = -1;
    ASSERT_TRUE(waitFor([&] {
        if (logged < 0 && daemonLogged(movedLine.toStdString())) logged = timer.elapsed();
        return blockWith(movedLine).isValid();
    })) << daemonLog();
    const qint64 shown = timer.elapsed();
    EXPECT_LT(shown, 1000) << "written after " << logged << " ms, shown after " << shown << " ms";
    EXPECT_LT(shown - (logged < 0 ? shown : logged), 500) << "the viewer's own delay";
    EXPECT_TRUE(blockWith(movedLine).begin().fragment().text().endsWith(QStringLiteral(": ")));

    // A search keeps the rows whose message holds the text.
    QTest::keyClicks(viewer().searchField(), "WAITING FOR");
    QTextDocument* document = viewer().textView()->document();
    EXPECT_GE(document->blockCount(), 2);
    for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
        EXPECT_TRUE(b.text().contains(QStringLiteral("Waiting for connections"))) << b.text().toStdString();
    screenshot("log-search");

    // Save: the sheet, then a copy of the file.
    viewer().save();
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(waitFor([&] { return (dialog = window->findChild<QFileDialog*>()) && dialog->isVisible(); }));
    screenshot("log-save-dialog");
    const std::string folder = root_ + "/saved";
    std::filesystem::create_directories(folder);
    dialog->setDirectory(QString::fromStdString(folder));
    dialog->selectFile(QString::fromStdString(folder + "/Telvo Server.log"));
    static_cast<QDialog*>(dialog)->accept();
    const std::string saved = read(folder + "/Telvo Server.log");
    const std::string current = read(host(kDaemonLog));
    ASSERT_FALSE(saved.empty());
    // The daemon may have written another line since.
    EXPECT_EQ(current.compare(0, saved.size(), saved), 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);

    // Closing the window stops the viewer; the menu starts it again.
    window->close();
    EXPECT_FALSE(viewer().enabled());
    action->trigger();
    EXPECT_TRUE(viewer().enabled());
    EXPECT_TRUE(waitFor([&] { return window->isVisible(); }));
    EXPECT_TRUE(blockWith(movedLine).isValid());
}

}  // namespace telvo::testing
