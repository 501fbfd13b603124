#pragma once
// SMARTStatCollectorItem: one SMART-capable drive, keyed by its serial number, with its
// overall status and the attribute records read from it. The drive's commands run off the
// main queue (SMARTDriveRead) and their result is applied here on the main queue.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "collectors/framework/StatCollectorItem.h"
#include "collectors/storage/SMARTStatCollectorAttribute.h"
#include "platform/registry/Entry.h"
#include "platform/smart/SmartData.h"
#include "platform/smart/SmartDevice.h"

namespace telvo {

// What one read of a drive gave back; made off the main queue.
struct SMARTReadResult {
    bool identified = false;
    std::string model, firmware;
    bool statusRead = false, exceeded = false;
    bool blocksRead = false;
    uint8_t data[smart::kBlockSize] = {};
    uint8_t thresholds[smart::kBlockSize] = {};
    std::vector<std::string> failures;  // log lines
};

// The drive's open handle (the plug-in), used by one read at a time off the main queue.
class SMARTDriveHandle {
public:
    // Opens the drive; a handle still open is closed first.
    ErrorPtr createPlugin(const std::string& bsd);
    void destroyPlugin();
    bool isOpen() const { return device_ != nullptr; }
    // The whole read: open, IDENTIFY (SMART enabled, model), enable when off, status, data and
    // thresholds with their checksums, switch off again when it was off, close.
    SMARTReadResult read(const std::string& bsd, bool wantIdentity);

private:
    std::unique_ptr<smart::SmartDevice> device_;
};

class SMARTStatCollectorItem : public StatCollectorItem {
public:
    SMARTStatCollectorItem();

    registry::EntryRef obj;
    bool overallStatus = false;
    bool loadAllAttributes = false;
    std::string serial, model, bsd, firmware;
    std::map<std::string, std::shared_ptr<SMARTStatCollectorAttribute>> attributes;

    // Whether a read is under way; at most one per drive.
    bool readInFlight = false;
    std::shared_ptr<SMARTDriveHandle> handle = std::make_shared<SMARTDriveHandle>();

    void updateSampleID(double sampleID) { setID(sampleID, 0); }
    // The record of an id, made when missing; null for id 0.
    std::shared_ptr<SMARTStatCollectorAttribute> attributeWithID(int attributeID);
    // Applies a read (main queue): status, and the temperature attributes (every attribute
    // with loadAllAttributes). A block with a bad checksum changes nothing and is logged.
    void apply(const SMARTReadResult& result, double sampleID);
    // The value of 194 unless its integer is 128, else of 190 likewise; empty when none.
    std::string temperature() const;

    // "key", "bsd", "status", "uuid" when the newest SMART read is above "sampleKey".
    Value xmlSamplesFromAttributes(const Value& attributes) const override;
    std::string description() const override;
};

}  // namespace telvo
