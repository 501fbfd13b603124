#include "QtTestEnvironment.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <memory>

#include "app/ApplicationState.h"
#include "app/LeakSuppressions.h"
#include "app/drawing/ImageCache.h"
#include "app/log/TVSLog.h"
#include "app/overlay/OverlayController.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/notify/NotificationCenter.h"

// Qt's and fontconfig's own process-lifetime allocations are not ours to report.
extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }

namespace telvo::app::testing {

namespace {
QString& folderSlot() {
    static QString folder;
    return folder;
}

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "telvo_app_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        resetApplication();
        app_.reset();
        if (!folderSlot().isEmpty()) QDir(folderSlot()).removeRecursively();
    }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
}  // namespace

QString scratchFolder() {
    QString& folder = folderSlot();
    if (folder.isEmpty()) {
        folder = QDir::tempPath() + QStringLiteral("/telvo-app-tests-%1").arg(::getpid());
        QDir().mkpath(folder);
    }
    return folder;
}

void writePng(const QString& folder, const QString& name, const QImage& image) {
    QDir().mkpath(folder);
    ASSERT_TRUE(image.save(folder + '/' + name + QStringLiteral(".png"), "PNG"));
}

void resetApplication() {
    TVSLog::resetForTesting();
    OverlayController::resetForTesting();
    ImageCache::resetForTesting();
    ApplicationState::resetForTesting();
    defaults::UserDefaults::setPreferencesFolderForTesting("");
    defaults::UserDefaults::resetForTesting();
    notify::NotificationCenter::resetForTesting();
}

}  // namespace telvo::app::testing
