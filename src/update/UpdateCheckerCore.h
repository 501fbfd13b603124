#pragma once
// The update engine shared by the agent and the control application: asks the update server by
// an HTTPS form POST which builds exist, decides whether one is to be offered, keeps the
// anonymous installation identifier and the skip choice in the preferences, downloads the
// chosen archive into a private temporary folder and, once unpacked, names what to install.
// Every outcome goes to the delegate. All state lives on the main queue; the POST runs blocking
// on a queue of its own. The control application subclasses it: every operation is virtual.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/values/Value.h"
#include "platform/xml/XmlElement.h"
#include "update/FileDownloader.h"
#include "update/UpdateCheckerDelegate.h"

namespace telvo::update {

class UpdateCheckerCore : public FileDownloaderDelegate {
public:
    static constexpr const char* kIdentifierKey = "UpdateCheckerID_V2";
    static constexpr const char* kSkipBuildKey = "UpdateCheckerSkipBuild";
    static constexpr const char* kSkipVersionKey = "UpdateCheckerSkipVersion";
    static constexpr uint64_t kLargestFeedAnswer = uint64_t(1) << 20;

    UpdateCheckerCore();
    ~UpdateCheckerCore() override;
    UpdateCheckerCore(const UpdateCheckerCore&) = delete;
    UpdateCheckerCore& operator=(const UpdateCheckerCore&) = delete;

    // The one engine of the process (main queue only); null, with a warning, once the control
    // application's subclass has declared itself.
    static UpdateCheckerCore* sharedUpdateChecker();
    // Called by the subclass's own shared instance.
    static void setSubclassPresent(bool present);
    static void resetForTesting();

    virtual bool checkForUpdates();
    virtual std::string systemVersion();
    virtual std::string model();
    // 32 lowercase hex digits of the MD5 of the text; empty for an empty text.
    virtual std::string MD5(const std::string& text);
    virtual std::string uid();
    virtual std::string newUUID();
    // The machine's serial number; empty when it cannot be read (users cannot read it here).
    virtual std::string serial();
    virtual void processURLResponse(const std::string& data);
    virtual bool isBuildSupported(const xml::XmlElement& element);
    virtual bool isUpdateTypeSupported(int64_t type);
    // An empty text stands for an absent "platform".
    virtual bool isPlatformSupported(const std::string& platform);
    virtual int64_t skippedBuild();
    virtual float skippedVersion();
    virtual void clearSkip();
    virtual void connectionFailed(ErrorPtr error);
    virtual void updateFeedError();
    virtual void noUpdatesAvailable();
    virtual void updatesAvailable();
    virtual void downloadUpdate();
    virtual bool saveDataToFile(const std::string& data);
    // The application or package to install after unpacking the archive; empty when none (or
    // when unpacking failed).
    virtual std::string payloadPath();

    // FileDownloaderDelegate
    void fileDownloadFailed(FileDownloader* downloader) override;
    bool fileDownloadReadData(FileDownloader* downloader, const std::string& data) override;
    void fileDownloadDownloadedBytes(FileDownloader* downloader, double bytes, double totalSize) override;
    void fileDownloadFinished(FileDownloader* downloader) override;

    // The form sent by checkForUpdates (exposed for the subclass and tests).
    std::string feedForm();
    // The folder temporary files go to: $TMPDIR, else the user's private one.
    static std::string temporaryDirectory();

    // Properties.
    std::shared_ptr<FileDownloader> downloader;
    std::vector<std::string> installFiles;
    UpdateCheckerDelegate* delegate = nullptr;
    float currentVersion = 0;
    float newVersion = 0;
    int64_t currentVersionBuild = 0;
    int64_t installMode = 0;
    int64_t newVersionBuild = 0;
    std::string url;
    Value updateInfo;
    std::string archivePath;
    std::string preferencesDomain;
    std::string externalUpdater;
    std::string feed;
    std::string appName;
    std::string installLocation;
    bool userInitiated = false;
    bool active = false;
    bool terminateAfterInstall = true;
    bool recycle = false;
    bool cancelled = false;
    bool paidUpgrade = false;
    std::vector<int64_t> supportedModes;
    std::map<std::string, std::string> additionalComponents;

private:
    dispatch::QueuePtr feedQueue_;
    std::shared_ptr<bool> alive_;
    // The number of the latest feed request; an answer to an earlier one is dropped.
    uint64_t request_ = 0;
};

// Percent-encodes a form value: letters, digits and "-._~," stay as they are.
std::string encodeFormValue(const std::string& value);

}  // namespace telvo::update
