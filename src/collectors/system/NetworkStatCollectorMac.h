#pragma once
// NetworkStatCollectorMac: the network collector's platform class and process-wide instance.
// Each tick reads every link's 64-bit counters with one rtnetlink dump (its socket and buffer
// kept), turns them into the items' rates, keeps the primary interface's counters in the
// collector's own ring and feeds the ten-minute bandwidth buckets of bandwidth.db
// (NetworkBandwidth.cpp). Configuration changes of the dynamic store rescan the services into
// items, follow the primary service and its Wi-Fi network and compute the network status
// (NetworkConfiguration.cpp). Everything runs on the main queue.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
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
    // The interface's identifier in the map, or -1 while it is not known here yet. A name not
    // in memory is looked up (and added when new) on the bandwidth file's queue, never waited
    // for: the answer comes back to the main queue, and any row written for the name before
    // then is given the identifier on that queue, after the lookup. A name whose map row
    // could not be added is asked for again by its next row.
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
    // Takes the identifiers the file's queue found or added since into the map and the buckets.
    void takeIdentifiers();
    Value valueAt(const std::string& format, const std::string& argument) const;

    LinkReader linkReader_;
    std::vector<netstate::LinkInfo> links_;
    bool lastReadFailed_ = false;
    bool firstRun_ = true;
    double nextBandwidthUpdateTime_ = 0;
    std::vector<PendingRow> pendingRows_;
    // What the file's queue hands back to the main queue: rows whose insert failed, and the
    // identifiers it found or added for names (-1: the name could not be added).
    struct FileResults {
        std::mutex mutex;
        std::vector<PendingRow> rows;
        std::vector<std::pair<std::string, int64_t>> identifiers;
        std::atomic<bool> identifiersWaiting{false};
    };
    std::shared_ptr<FileResults> fileResults_ = std::make_shared<FileResults>();
    // Names whose identifier was asked of the file's queue and has not come back yet.
    std::set<std::string> askedIdentifiers_;

    netstate::DynamicStoreSessionPtr dynStore_;
    ValueDictionary snapshot_;
    double changeID_ = 0;
    std::vector<Value> scInterfaces_;
    Value primaryInterfaceSettings_;
};

}  // namespace telvo
