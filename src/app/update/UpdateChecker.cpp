#include "app/update/UpdateChecker.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cmath>

#include "app/Bundle.h"
#include "app/controls/AwakeFromNib.h"
#include "app/controls/LocalizedButton.h"
#include "app/controls/LocalizedTextField.h"
#include "app/update/PayloadCheck.h"
#include "app/update/ProgressIndicator.h"
#include "app/update/ReleaseNotesView.h"
#include "platform/bundle/MainBundle.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/fs/Root.h"
#include "platform/systemlog/SystemLog.h"
#include "platform/values/Format.h"
#include "platform/workspace/Workspace.h"
#include "update/KXRUpdaterLocalizedString.h"
#include "update/UpdateInstaller.h"

using namespace telvo::app;
#include "ui_Updater.h"

namespace telvo::app {
namespace {

UpdateChecker*& instanceSlot() {
    static UpdateChecker* instance = nullptr;
    return instance;
}

// The class is in the process from the start: the engine's own shared instance is refused.
[[maybe_unused]] const bool kRegistered = (update::UpdateCheckerCore::setSubclassPresent(true), true);

constexpr const char* kDownloadError = "An error occurred while downloading the update. Please try again later.";
constexpr const char* kCheckError = "An error occurred in retrieving update information. Please try again later.";

QString qs(const std::string& s) { return QString::fromStdString(s); }

template <class... Args>
QString formatted(const QString& format, const Args&... args) {
    return qs(telvo::format(format.toStdString(), args...));
}

std::string lastComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string joined(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace

UpdateChecker* UpdateChecker::sharedUpdateChecker() {
    UpdateChecker*& instance = instanceSlot();
    if (!instance) instance = new UpdateChecker();
    return instance;
}

void UpdateChecker::resetForTesting() {
    UpdateChecker*& instance = instanceSlot();
    delete instance;
    instance = nullptr;
    update::UpdateCheckerCore::setSubclassPresent(true);
}

QString UpdateChecker::localized(const QString& key) {
    return qs(update::KXRUpdaterLocalizedString(key.toStdString(), std::string(), kStringTable));
}

UpdateChecker::UpdateChecker() : ui_(std::make_unique<Ui::Updater>()), context_(std::make_unique<QObject>()) {
    setSubclassPresent(true);
    terminate_ = [] { QCoreApplication::quit(); };

    // The interface file holds the three windows in one form; each becomes a window of its own.
    {
        QWidget form;
        ui_->setupUi(&form);
        installWindow = ui_->installWindow;
        downloadingWindow = ui_->downloadingWindow;
        updateWindow = ui_->updateWindow;
        for (QWidget* window : {installWindow, downloadingWindow, updateWindow}) {
            const QSize size = window->size();
            window->setParent(nullptr, Qt::Window);
            window->setFixedSize(size);
            awakeLocalizedControls(window);
        }
    }
    updateWindowLine1 = ui_->updateWindowLine1;
    updateWindowLine2 = ui_->updateWindowLine2;
    updateWindowDownloadButton = ui_->updateWindowDownloadButton;
    updateWindowRemindButton = ui_->updateWindowRemindButton;
    updateWindowSkipButton = ui_->updateWindowSkipButton;
    downloadWindowLine1 = ui_->downloadWindowLine1;
    downloadWindowLine2 = ui_->downloadWindowLine2;
    downloadWindowCancelButton = ui_->downloadWindowCancelButton;
    downloadProgressIndicator = ui_->downloadProgressIndicator;
    downloadWindowIcon = ui_->downloadWindowIcon;
    installWindowLine1 = ui_->installWindowLine1;
    installWindowLine2 = ui_->installWindowLine2;
    installProgressIndicator = ui_->installProgressIndicator;
    installWindowCancelButton = ui_->installWindowCancelButton;
    installWindowInstallButton = ui_->installWindowInstallButton;
    installWindowIcon = ui_->installWindowIcon;
    webview = ui_->webview;

    installWindow->setWindowTitle(localized(QStringLiteral("Ready to Install")));
    downloadingWindow->setWindowTitle(localized(QStringLiteral("Downloading update...")));
    updateWindow->setWindowTitle(localized(updateWindow->windowTitle()));

    const QImage appIcon = icon(QImage(imagePath(QStringLiteral("TelvoServer"))), kIconSize);
    if (!appIcon.isNull()) {
        downloadWindowIcon->setPixmap(QPixmap::fromImage(appIcon));
        installWindowIcon->setPixmap(QPixmap::fromImage(appIcon));
    }

    for (LocalizedButton* button : {updateWindowDownloadButton, updateWindowRemindButton, updateWindowSkipButton})
        button->localize();
    updateButtonSizes();

    QObject* context = context_.get();
    progressTimer_ = new QTimer(context);
    progressTimer_->setSingleShot(true);
    QObject::connect(progressTimer_, &QTimer::timeout, context, [this] { showProgress(); });
    QObject::connect(updateWindowDownloadButton, &QPushButton::clicked, context,
                     [this] { downloadUpdate(updateWindowDownloadButton); });
    QObject::connect(updateWindowRemindButton, &QPushButton::clicked, context,
                     [this] { remind(updateWindowRemindButton); });
    QObject::connect(updateWindowSkipButton, &QPushButton::clicked, context, [this] { skip(updateWindowSkipButton); });
    QObject::connect(installWindowInstallButton, &QPushButton::clicked, context,
                     [this] { installUpdate(installWindowInstallButton); });
    QObject::connect(installWindowCancelButton, &QPushButton::clicked, context,
                     [this] { cancelInstall(installWindowCancelButton); });
    QObject::connect(downloadWindowCancelButton, &QPushButton::clicked, context, [this] {
        if (cancelAction_ == CancelAction::Check)
            cancelCheck(downloadWindowCancelButton);
        else
            cancelDownload(downloadWindowCancelButton);
    });
}

UpdateChecker::~UpdateChecker() {
    context_.reset();
    delete alert_.data();
    delete installWindow;
    delete downloadingWindow;
    delete updateWindow;
}

// MARK: Layout and texts

QImage UpdateChecker::icon(const QImage& image, int32_t size) {
    if (image.isNull() || size <= 0) return {};
    if (image.width() == size && image.height() == size) return image;
    return image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QString UpdateChecker::formattedBandwidth(double bytes) {
    double value = bytes / 1024;
    if (value <= 1024) return formatted(QStringLiteral("%.0f%@"), value, "KB");
    if (value <= 1048576) return formatted(QStringLiteral("%.2f%@"), value / 1024, "MB");
    return formatted(QStringLiteral("%.2f%@"), value / 1048576, "GB");
}

void UpdateChecker::updateButtonSizes() {
    for (LocalizedButton* button : {updateWindowDownloadButton, updateWindowRemindButton, updateWindowSkipButton})
        button->resize();
    const int width = updateWindow->width();
    QRect download = updateWindowDownloadButton->geometry();
    download.moveLeft(width - download.width() - 20);
    updateWindowDownloadButton->setGeometry(download);
    QRect remind = updateWindowRemindButton->geometry();
    remind.moveLeft(width - remind.width() - 20 - 8 - download.width());
    updateWindowRemindButton->setGeometry(remind);
}

void UpdateChecker::updateButtonTitles() {
    // The feed's titles as given; an offer without them has the window's own.
    const Value download = updateInfo["downloadButtonTitle"];
    updateWindowDownloadButton->setText(download.isString() ? qs(download.string())
                                                            : localized(updateWindowDownloadButton->localizableString()));
    const Value later = updateInfo["laterButtonTitle"];
    updateWindowRemindButton->setText(later.isString() ? qs(later.string())
                                                       : localized(updateWindowRemindButton->localizableString()));
    updateButtonSizes();
}

void UpdateChecker::present(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void UpdateChecker::hideCheckingWindow() {
    progressTimer_->stop();
    downloadProgressIndicator->stopAnimation();
    downloadingWindow->hide();
}

void UpdateChecker::showAlert(const QString& message, const QString& informative) {
    auto* box = new QMessageBox();
    box->setObjectName(QStringLiteral("updateAlert"));
    box->setIcon(QMessageBox::Warning);
    box->setText(message);
    box->setInformativeText(informative);
    box->addButton(localized(QStringLiteral("OK")), QMessageBox::AcceptRole);
    box->setWindowModality(Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    alert_ = box;
    box->show();
}

void UpdateChecker::showDownloadError() {
    showAlert(localized(QStringLiteral("Update Error!")), localized(QString::fromLatin1(kDownloadError)));
}

// MARK: Check

bool UpdateChecker::checkForUpdates() {
    if (!UpdateCheckerCore::checkForUpdates()) return false;
    updaterFinished = false;
    if (userInitiated) {
        cancelAction_ = CancelAction::Check;
        downloadWindowLine1->setText(localized(QStringLiteral("Checking for updates...")));
        downloadWindowLine2->setText(QString());
        downloadProgressIndicator->setIndeterminate(true);
        downloadProgressIndicator->startAnimation();
        downloadingWindow->setWindowTitle(QString());
        present(downloadingWindow);
    }
    return true;
}

void UpdateChecker::connectionFailed(ErrorPtr error) {
    UpdateCheckerCore::connectionFailed(error);
    if (!userInitiated) return;
    hideCheckingWindow();
    showAlert(localized(QStringLiteral("Update Error!")),
              formatted(QStringLiteral("%@"), localized(QString::fromLatin1(kCheckError)).toStdString()));
}

void UpdateChecker::updateFeedError() {
    UpdateCheckerCore::updateFeedError();
    if (!userInitiated) return;
    hideCheckingWindow();
    showAlert(localized(QStringLiteral("Update Error!")),
              formatted(QStringLiteral("%@"), localized(QString::fromLatin1(kCheckError)).toStdString()));
}

void UpdateChecker::noUpdatesAvailable() {
    UpdateCheckerCore::noUpdatesAvailable();
    if (!userInitiated) return;
    hideCheckingWindow();
    const QString message = localized(QStringLiteral("You're up to date!"));
    QString informative = formatted(localized(QStringLiteral("You already have the newest version of %@.")), appName);
    if (informative == message) informative.clear();
    showAlert(message, informative);
}

void UpdateChecker::updatesAvailable() {
    UpdateCheckerCore::updatesAvailable();
    showUpdate();
}

void UpdateChecker::showUpdate() {
    updateButtonTitles();

    std::string newText = format("%.2f", double(newVersion));
    std::string currentText = format("%.2f", double(currentVersion));
    if (newVersion == currentVersion) {
        newText = format("%@ (%li)", newText, long(newVersionBuild));
        currentText = format("%@ (%li)", currentText, long(currentVersionBuild));
    }
    updateWindowLine1->setText(formatted(localized(updateWindowLine1->localizableString()), appName));
    updateWindowLine2->setText(formatted(
        localized(QStringLiteral("%@ %@ is now available--you have %@. Would you like to download it now?")), appName,
        newText, currentText));
    updateWindow->setWindowTitle(formatted(localized(QStringLiteral("%@ %@ is now available")), appName, newText));

    // The notes in the user's first language; an offer without notes asks for none.
    const Value notes = updateInfo["releaseNotes"];
    if (notes.isString() && !notes.string().empty()) {
        std::string language;
        const Value languages = defaults::UserDefaults::standard().objectForKey("AppleLanguages");
        if (languages.isArray() && languages.count() > 0) language = languages.at(0).stringValue();
        if (language.empty()) language = "en";
        webview->loadNotes(qs(format("%@?v=%li&p=%@&lang=%@", notes.string(), long(currentVersionBuild),
                                     update::encodeFormValue(systemVersion()), update::encodeFormValue(language))));
    } else {
        webview->clearNotes();
    }

    present(updateWindow);
    hideCheckingWindow();
    updateWindow->raise();
    QApplication::alert(updateWindow, 0);
}

// MARK: The user's answers

void UpdateChecker::remind(QObject*) {
    updateWindow->hide();
    active = false;
    if (delegate) delegate->updateCheckerRemindMeLater(this);
}

void UpdateChecker::skip(QObject*) {
    updateWindow->hide();
    if (preferencesDomain.empty()) {
        auto& standard = defaults::UserDefaults::standard();
        standard.setObject(kSkipVersionKey, double(newVersion));
        standard.setObject(kSkipBuildKey, double(newVersionBuild));
        standard.synchronize();
    } else {
        defaults::UserDefaults domain(preferencesDomain);
        domain.setObject(kSkipVersionKey, double(newVersion));
        domain.setObject(kSkipBuildKey, int64_t(newVersionBuild));
        domain.synchronize();
    }
    active = false;
    if (delegate) delegate->updateCheckerSkip(this);
}

void UpdateChecker::downloadUpdate(QObject*) {
    clearSkip();
    downloadUpdate();
}

void UpdateChecker::downloadUpdate() {
    UpdateCheckerCore::downloadUpdate();
    progressTimer_->stop();
    progressShown_.invalidate();
    downloadWindowLine2->setText(localized(QStringLiteral("Connecting...")));
    downloadProgressIndicator->setIndeterminate(false);
    downloadProgressIndicator->setDoubleValue(0);
    downloadProgressIndicator->startAnimation();
    updateWindow->hide();
    cancelAction_ = CancelAction::Download;
    downloadWindowLine1->setText(localized(QStringLiteral("Downloading...")));
    present(downloadingWindow);
}

void UpdateChecker::fileDownloadDownloadedBytes(update::FileDownloader* downloader, double bytes, double totalSize) {
    UpdateCheckerCore::fileDownloadDownloadedBytes(downloader, bytes, totalSize);
    progressBytes_ = bytes;
    progressTotal_ = totalSize;
    // The display follows at its own pace; the download never waits for it.
    if (progressShown_.isValid() && progressShown_.elapsed() < kProgressInterval) {
        if (!progressTimer_->isActive()) progressTimer_->start(int(kProgressInterval - progressShown_.elapsed()));
        return;
    }
    showProgress();
}

void UpdateChecker::showProgress() {
    progressTimer_->stop();
    progressShown_.start();
    const double bytes = std::max(progressBytes_, 0.0);
    if (progressTotal_ > 0) {
        downloadProgressIndicator->setIndeterminate(false);
        downloadProgressIndicator->setDoubleValue(bytes / progressTotal_ * 100);
        downloadWindowLine2->setText(formatted(localized(QStringLiteral("%@ of %@")),
                                               formattedBandwidth(bytes).toStdString(),
                                               formattedBandwidth(progressTotal_).toStdString()));
    } else {
        // No announced length: a bar that runs, and the amount received.
        downloadProgressIndicator->setIndeterminate(true);
        downloadProgressIndicator->startAnimation();
        downloadWindowLine2->setText(formattedBandwidth(bytes));
    }
}

bool UpdateChecker::fileDownloadReadData(update::FileDownloader* downloader, const std::string& data) {
    const bool saved = UpdateCheckerCore::fileDownloadReadData(downloader, data);
    hideCheckingWindow();
    if (saved) {
        installWindowInstallButton->setEnabled(true);
        present(installWindow);
        return true;
    }
    showDownloadError();
    active = false;
    return false;
}

void UpdateChecker::fileDownloadFailed(update::FileDownloader* downloader) {
    UpdateCheckerCore::fileDownloadFailed(downloader);
    hideCheckingWindow();
    showDownloadError();
}

// MARK: Install

void UpdateChecker::installUpdate(QObject*) {
    if (updaterFinished) return;
    installWindowInstallButton->setEnabled(false);
    updaterFinished = true;
    if (installMode == 0) return;
    if (delegate) delegate->updaterStartingInstall(this);

    const std::string payload = payloadPath();
    if (payload.empty()) {
        SystemLog("Update error - nothing to install in %@", archivePath);
        showDownloadError();
        return;
    }
    if (installMode == 5) {
        if (delegate) delegate->updateCheckerFinishWithPath(this, payload);
        return;
    }
    if (installMode == 2 || endsWith(lastComponent(payload), ".pkg")) {
        // There is no package installer to hand it to here.
        SystemLog("Update error - %@ needs a package installer, which this system does not have", payload);
        showDownloadError();
        return;
    }
    if (installMode == 3 || installMode == 4) installApplication(payload);
}

void UpdateChecker::installApplication(const std::string& payload) {
    // The destination as the system names it; host paths only at the file-system calls.
    std::string destination;
    if (installMode == 3) {
        if (!fs::logicalPath(bundle::MainBundle::path(), destination)) destination.clear();
    } else if (endsWith(lastComponent(installLocation), ".app")) {
        destination = installLocation;
    } else if (!installLocation.empty()) {
        destination = joined(installLocation, lastComponent(payload));
    }
    if (destination.empty()) {
        SystemLog("Update error - no place to install %@ (mode %ld)", payload, long(installMode));
        showDownloadError();
        return;
    }
    ErrorPtr error;
    // The copy may run as root: only the maker's application of the offered build goes there.
    if (!checkUpdatePayload(payload, newVersionBuild, &error)) {
        SystemLog("Update refused - %@", error ? error->message : std::string());
        showDownloadError();
        return;
    }
    const std::string hostDestination = fs::resolve(destination);
    if (!update::UpdateInstaller::copyPath(payload, hostDestination)) {
        SystemLog("Update error - could not put %@ in place at %@", payload, destination);
        showDownloadError();
        return;
    }
    // What is started is what was checked.
    if (!checkUpdatePayload(hostDestination, newVersionBuild, &error)) {
        SystemLog("Update refused - the copy in place: %@", error ? error->message : std::string());
        showDownloadError();
        return;
    }
    // Started a second after this process had time to quit.
    if (!workspace::launchApplication(hostDestination, 1.0, &error)) {
        const std::string why = error ? error->message : std::string("it could not be started");
        SystemLog("Update error - could not start %@: %@", destination, why);
        showAlert(localized(QStringLiteral("Update Error!")), qs(why));
        return;
    }
    const std::string running = bundle::MainBundle::path();
    if (recycle && !running.empty() && hostDestination != running) {
        if (!workspace::recycle(running, nullptr, &error))
            SystemLog("Update error - could not move %@ to the Trash: %@", running, error ? error->message : "");
    }
    if (terminateAfterInstall && terminate_) terminate_();
}

// MARK: Cancel

void UpdateChecker::cancelCheck(QObject*) {
    if (delegate) delegate->updateCheckerCancelled(this);
    hideCheckingWindow();
    cancelled = true;
    active = false;
}

void UpdateChecker::cancelDownload(QObject*) {
    if (delegate) delegate->updateCheckerCancelled(this);
    hideCheckingWindow();
    if (downloader) downloader->cancel();
    downloader.reset();
    active = false;
}

void UpdateChecker::cancelInstall(QObject*) {
    if (delegate) delegate->updateCheckerCancelled(this);
    installWindow->hide();
    active = false;
}

}  // namespace telvo::app
