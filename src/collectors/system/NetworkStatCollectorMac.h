#pragma once
// NetworkStatCollectorMac: the network collector's platform class and process-wide instance.
// Each tick reads every link's 64-bit counters with one rtnetlink dump (its socket and buffer
// kept), turns them into the items' rates, keeps the primary interface's counters in the
// collector's own ring and feeds the ten-minute bandwidth buckets of bandwidth.db
// (NetworkBandwidth.cpp). Configuration changes of the dynamic store rescan the services into
// items, follow the primary service and its Wi-Fi network and compute the network status
// (NetworkConfiguration.cpp). Everything runs on the main queue.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "collectors/system/NetworkStatCollector.h"
#include "collectors/system/NetworkStatCollectorItem.h"
#include "platform/netstate/DynamicStore.h"
#include "platform/netstate/LinkDumpReader.h"

namespace telvo {

class NetworkStatCollectorMac : public NetworkStatCollector {
public:
    // Reads every link with its counters; false when the kernel could not be asked.
    using LinkReader = std::function<bool(std::vector<netstate::LinkInfo>&)>;
    static constexpr const char* kSetupChangedNotification = "STAT_COLLECTION_NETWORK_SETUP_CHANGED";
    // Seconds an interface may be gone (or down) before its item, rings and bandwidth bucket
    // go; one that comes back sooner finds them as it left them. Its history rows and its
    // identifier in the bandwidth map stay.
    static constexpr double kGoneExpiry = 600;

    static std::shared_ptr<NetworkStatCollectorMac> sharedNetworkCollector();
    static void cleanupShared();
    static void resetForTesting();
    // Tests: the link reader of collectors made from now on (null: rtnetlink).
    static void setLinkReaderForTesting(LinkReader reader);
    // Tests: the link-speed root is the kernel-file root (host::ProcRoot).

    NetworkStatCollectorMac();
    // The session and the first scan (called once by sharedNetworkCollector).
    void setup();
    void cleanup() override;
    void updateStats() override;
    // Also moves the open bandwidth buckets and the rate clocks of the items to the new time.
    void wallClockStepped(double step) override;

    // ---- Configuration (NetworkConfiguration.cpp)
    void setupSession();
    void networkStateChanged(const std::vector<std::string>& keys);
    void updateInterfaces();
    void updateMediaOptions() {}
    void updateMACAddresses();
    void updateLinkSpeeds();
    void updatePrimarySettings();
    void resetHistory();
    // Items the last scan did not find (link down, service gone) count as not connected.
    using NetworkStatCollector::networkStatus;
    int64_t networkStatus(const std::string* service);
    static int64_t statusFromPPPStatus(int64_t pppStatus);
    void removeInterface(const std::string& service);
    std::string primaryInterface() const;
    std::shared_ptr<NetworkStatCollectorItem> primaryInterfaceItem() const;
    std::string nameForInterface(const std::string& service) const;
    bool isInterfaceActive(const std::string& service) const;
    Value systemConfigurationForDevice(const std::string& bsd) const;
    Value serviceOrder() const;
    const Value& primaryInterfaceSettings() const { return primaryInterfaceSettings_; }
    const std::vector<Value>& scInterfaces() const { return scInterfaces_; }
    double changeID() const { return changeID_; }

    // ---- Bandwidth (NetworkBandwidth.cpp)
    void prepareBandwidthMonitoring();
    // The interface's identifier in the map (added when new); -1 when it could not be added.
    int64_t identifierForInterface(const std::string& name);
    void saveBandwidth();
    double nextBandwidthUpdateTime() const { return nextBandwidthUpdateTime_; }
    void setNextBandwidthUpdateTime(double t) { nextBandwidthUpdateTime_ = t; }
    // Rows that could not be written yet (retried at each period end and by saveBandwidth);
    // waits for the writes already handed to the file's queue.
    size_t pendingBandwidthRows();

private:
    struct PendingRow {
        std::string interface;
        int64_t identifier = -1;
        double start = 0, end = 0, upload = 0, download = 0;
    };
    void updateBandwidth(const std::string& name, double received, double sent, double now);
    void closeBandwidthPeriod(double now);
    void closeBucket(NetworkStatCollectorBandwidthItem& bucket, double end);
    void dropGoneBuckets();
    // Period ends hand the rows to the file's queue and go on; the stop waits for them.
    void writePendingRows(bool wait);
    void takeFailedRows(bool wait);
    Value valueAt(const std::string& format, const std::string& argument) const;

    LinkReader linkReader_;
    std::vector<netstate::LinkInfo> links_;
    bool lastReadFailed_ = false;
    bool firstRun_ = true;
    double nextBandwidthUpdateTime_ = 0;
    std::vector<PendingRow> pendingRows_;
    // Rows whose insert failed on the file's queue, taken back on the main queue.
    struct FailedRows {
        std::mutex mutex;
        std::vector<PendingRow> rows;
    };
    std::shared_ptr<FailedRows> failedRows_ = std::make_shared<FailedRows>();

    netstate::DynamicStoreSessionPtr dynStore_;
    ValueDictionary snapshot_;
    double changeID_ = 0;
    std::vector<Value> scInterfaces_;
    Value primaryInterfaceSettings_;
};

}  // namespace telvo
