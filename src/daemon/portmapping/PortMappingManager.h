#pragma once
// Decides whether, and to which public port, the daemon's listening port is mapped on the
// router; drives the port mapper on the mapper's own queue (never the main or a control queue)
// and tells every interested program how the mapping stands with "TelvoServerUpnpUpdated".
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include "foundation/ControlChannel.h"
#include "net/portmap/TCMPortMapper.h"

namespace telvo {

class PortMappingManager {
public:
    enum Status : int64_t {
        kIdle = 0,
        kMapping = 1,
        kMapped = 2,
        kPortInUse = 3,
        kFailed = 4,
        kInvalidPort = 5,
    };
    static constexpr const char* kUpnpUpdated = channel::kUpnpUpdated;

    static PortMappingManager& sharedPortMappingManager();
    // Waits for the manager's queued router work, then forgets the instance.
    static void resetForTesting();

    // Maps the port when "map external port" is on.
    void map();
    // Withdraws the current mapping and this installation's router entries, then maps again
    // when "map external port" is on.
    void mappingPreferenceChange();
    // Withdraws the mapping and this installation's entries and forgets the mapping.
    void unmapPort();

    int64_t status() const { return status_; }
    // The public port granted to the current mapping, 0 without one.
    int mappedPort() const;
    // The wanted public port, -1 when "port external" lies outside 1024 to 65535.
    int port() const;
    // "Telvo Server (%@)" of "port map identifier".
    std::string mappingPrefix() const;

    bool isPublicMapped() const;
    bool isMapping() const { return status_ == kMapping; }
    bool areMappingSettingsValid() const { return status_ != kInvalidPort; }
    bool isMappingPortInUse() const { return status_ == kPortInUse; }

    // The mapper's queue, on which every router step runs.
    dispatch::QueuePtr queue() const { return mapper_->queue(); }

private:
    PortMappingManager();
    void mapPort();
    void post(const Value& userInfo);

    std::atomic<int64_t> status_{kIdle};
    TCMPortMapperPtr mapper_;
    mutable std::mutex mutex_;
    TCMPortMappingPtr mapping_;
};

}  // namespace telvo
