#pragma once
// The control application's update windows over the update engine: a checking and downloading
// window with a progress bar, an update window with the release notes, and an install window.
// It shows the engine's outcomes, adds the user's actions (download, remind later, skip this
// version, cancel, install) and, once the download is in place and checked, starts the new
// copy one second later and quits. One shared instance, main thread only; the engine's own
// shared instance answers null once this class is in the process.
#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "update/UpdateCheckerCore.h"

class QLabel;
class QTimer;
class QWidget;

namespace Ui {
class Updater;
}

namespace telvo::app {

class LocalizedButton;
class LocalizedTextField;
class ProgressIndicator;
class ReleaseNotesView;

class UpdateChecker : public update::UpdateCheckerCore {
public:
    static constexpr const char* kStringTable = "updater";
    static constexpr int kIconSize = 64;
    // The download's progress is shown at most this often (milliseconds); the last amount
    // received is shown at the latest that long after it came.
    static constexpr int kProgressInterval = 50;

    static UpdateChecker* sharedUpdateChecker();
    static void resetForTesting();

    UpdateChecker();
    ~UpdateChecker() override;

    // The three windows.
    QWidget* installWindow = nullptr;
    QWidget* downloadingWindow = nullptr;
    QWidget* updateWindow = nullptr;
    // Update window.
    LocalizedTextField* updateWindowLine1 = nullptr;
    LocalizedTextField* updateWindowLine2 = nullptr;
    LocalizedButton* updateWindowDownloadButton = nullptr;
    LocalizedButton* updateWindowRemindButton = nullptr;
    LocalizedButton* updateWindowSkipButton = nullptr;
    // Checking and downloading window.
    LocalizedTextField* downloadWindowLine1 = nullptr;
    LocalizedTextField* downloadWindowLine2 = nullptr;
    LocalizedButton* downloadWindowCancelButton = nullptr;
    ProgressIndicator* downloadProgressIndicator = nullptr;
    QLabel* downloadWindowIcon = nullptr;
    // Install window.
    LocalizedTextField* installWindowLine1 = nullptr;
    LocalizedTextField* installWindowLine2 = nullptr;
    ProgressIndicator* installProgressIndicator = nullptr;
    LocalizedButton* installWindowCancelButton = nullptr;
    LocalizedButton* installWindowInstallButton = nullptr;
    QLabel* installWindowIcon = nullptr;
    // The release notes.
    ReleaseNotesView* webview = nullptr;
    // From the first press of the install button until the next check.
    bool updaterFinished = false;

    // The engine's outcomes, each after the engine's own.
    bool checkForUpdates() override;
    void connectionFailed(ErrorPtr error) override;
    void updateFeedError() override;
    void updatesAvailable() override;
    void noUpdatesAvailable() override;
    void downloadUpdate() override;
    void fileDownloadFailed(update::FileDownloader* downloader) override;
    bool fileDownloadReadData(update::FileDownloader* downloader, const std::string& data) override;
    void fileDownloadDownloadedBytes(update::FileDownloader* downloader, double bytes, double totalSize) override;

    // The windows' actions (the sender is not looked at).
    void downloadUpdate(QObject* sender);
    void remind(QObject* sender);
    void skip(QObject* sender);
    void installUpdate(QObject* sender);
    void cancelInstall(QObject* sender);
    void cancelCheck(QObject* sender);
    void cancelDownload(QObject* sender);

    void showUpdate();
    void hideCheckingWindow();
    void updateButtonTitles();
    void updateButtonSizes();
    // The image reduced to size x size (its aspect kept); null for a null image.
    static QImage icon(const QImage& image, int32_t size);
    // "500KB", "3.00MB", "1.50GB" of a byte count.
    static QString formattedBandwidth(double bytes);
    // A text of the "updater" table.
    static QString localized(const QString& key);

    // The alert shown last, while it is open.
    QMessageBox* alert() const { return alert_; }
    // What ends the application after an install (QCoreApplication::quit by default).
    void setTerminateHandler(std::function<void()> handler) { terminate_ = std::move(handler); }

private:
    enum class CancelAction { Check, Download };

    void showAlert(const QString& message, const QString& informative);
    void showDownloadError();
    // Modes 3 and 4: check, copy into place, start the new copy, quit.
    void installApplication(const std::string& payload);
    static void present(QWidget* window);
    void showProgress();

    std::unique_ptr<Ui::Updater> ui_;
    std::unique_ptr<QObject> context_;  // owns the connections to the windows
    CancelAction cancelAction_ = CancelAction::Check;
    QPointer<QMessageBox> alert_;
    std::function<void()> terminate_;
    QTimer* progressTimer_ = nullptr;  // owned by context_
    QElapsedTimer progressShown_;
    double progressBytes_ = 0, progressTotal_ = -1;
};

}  // namespace telvo::app
