#pragma once
// SmartDevice: one drive's SMART commands (identify, enable or disable operations, return
// status, read data, read thresholds), and the process-wide opener that gives one per BSD name.
// The Linux backend sends ATA PASS-THROUGH(16) through SG_IO to SATA and SAT-bridged disks and
// reads the health log of NVMe drives; tests install an opener of fake drives. Every command
// blocks until the drive answers or its time-out passes: call them off the main queue.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Error.h"

namespace telvo::smart {

class SmartDevice {
public:
    virtual ~SmartDevice() = default;
    // The 512-byte IDENTIFY DEVICE block.
    virtual ErrorPtr identify(uint8_t* block) = 0;
    virtual ErrorPtr enableOperations(bool on) = 0;
    // Whether a threshold is exceeded.
    virtual ErrorPtr returnStatus(bool& exceeded) = 0;
    virtual ErrorPtr readData(uint8_t* block) = 0;
    virtual ErrorPtr readThresholds(uint8_t* block) = 0;
};

using Opener = std::function<std::unique_ptr<SmartDevice>(const std::string& bsd, ErrorPtr& error)>;

// Opens the drive "/dev/<bsd>" (resolved under the file-system root); null with an error when
// it cannot be opened or speaks neither ATA nor NVMe.
std::unique_ptr<SmartDevice> openDevice(const std::string& bsd, ErrorPtr& error);
// Whether the drive declares SMART: IDENTIFY word 82 bit 0; NVMe drives always. Used by the
// registry backend; false for what cannot be opened.
bool smartCapable(const std::string& bsd);
// The seconds a command may take before it is abandoned.
inline constexpr unsigned kCommandTimeoutMs = 5000;

// Tests replace the opener (an empty one restores the Linux backend); while one is installed
// the registry asks it about the drives of a fixture tree too.
void setOpenerForTesting(Opener opener);
bool openerInstalledForTesting();

}  // namespace telvo::smart
