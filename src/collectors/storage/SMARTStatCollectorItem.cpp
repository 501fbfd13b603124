#include "collectors/storage/SMARTStatCollectorItem.h"

#include "foundation/ServerLog.h"
#include "platform/smart/SmartData.h"

namespace telvo {

ErrorPtr SMARTDriveHandle::createPlugin(const std::string& bsd) {
    destroyPlugin();
    ErrorPtr error;
    device_ = smart::openDevice(bsd, error);
    return device_ ? nullptr : error;
}

void SMARTDriveHandle::destroyPlugin() { device_.reset(); }

SMARTReadResult SMARTDriveHandle::read(const std::string& bsd, bool wantIdentity) {
    SMARTReadResult r;
    auto fail = [&](const std::string& what, const ErrorPtr& e) {
        r.failures.push_back("SMART " + bsd + ": " + what + (e ? " (" + e->message + ")" : ""));
    };
    if (ErrorPtr e = createPlugin(bsd)) {
        fail("cannot open the drive", e);
        return r;
    }
    uint8_t identify[smart::kBlockSize] = {};
    bool wasEnabled = true;
    if (ErrorPtr e = device_->identify(identify)) {
        fail("IDENTIFY failed", e);
    } else {
        smart::IdentifyInfo info = smart::parseIdentify(identify, sizeof identify);
        wasEnabled = info.smartEnabled;
        if (!info.valid) {
            fail("IDENTIFY strings are not ASCII; ignored", nullptr);
        } else if (wantIdentity && info.smartSupported) {
            r.identified = true;
            r.model = info.model;
            r.firmware = info.firmware;
        }
    }
    // A drive found with SMART off is switched on for the read and off again after it; no
    // autosave command is sent, so the drive is left as it was.
    bool enabledHere = false;
    ErrorPtr e;
    if (!wasEnabled) {
        e = device_->enableOperations(true);
        if (e) fail("enabling SMART failed", e);
        else enabledHere = true;
    }
    if (!e) {
        bool exceeded = false;
        if ((e = device_->returnStatus(exceeded))) {
            fail("RETURN STATUS failed", e);
        } else {
            r.statusRead = true;
            r.exceeded = exceeded;
        }
    }
    if (!e) {
        if ((e = device_->readData(r.data))) fail("READ DATA failed", e);
        else if (!smart::validateBlock(r.data, sizeof r.data)) fail("the data block's checksum is wrong; ignored", e = makeError("SMART", 5, "checksum"));
        else if ((e = device_->readThresholds(r.thresholds))) fail("READ THRESHOLDS failed", e);
        else if (!smart::validateBlock(r.thresholds, sizeof r.thresholds)) fail("the threshold block's checksum is wrong; ignored", e = makeError("SMART", 5, "checksum"));
        else r.blocksRead = true;
    }
    if (enabledHere) {
        if (ErrorPtr off = device_->enableOperations(false)) fail("switching SMART off again failed", off);
    }
    destroyPlugin();
    return r;
}

SMARTStatCollectorItem::SMARTStatCollectorItem() : StatCollectorItem(0) {}

std::shared_ptr<SMARTStatCollectorAttribute> SMARTStatCollectorItem::attributeWithID(int attributeID) {
    if (attributeID == 0) return nullptr;
    auto& slot = attributes[std::to_string(attributeID)];
    if (!slot) {
        slot = std::make_shared<SMARTStatCollectorAttribute>();
        slot->attributeID = attributeID;
    }
    return slot;
}

void SMARTStatCollectorItem::apply(const SMARTReadResult& result, double sampleID) {
    for (const std::string& line : result.failures) DLog("%@", line);
    if (result.identified && model.empty()) {
        model = result.model;
        firmware = result.firmware;
    }
    if (result.statusRead) overallStatus = result.exceeded;
    if (!result.blocksRead) return;
    for (int i = 0; i < 30; ++i) {
        const uint8_t* entry = result.data + 2 + 12 * i;
        const int id = entry[0];
        if (id == 0 || !(loadAllAttributes || id == 194 || id == 190)) continue;
        attributeWithID(id)->updateWithAttribute(entry, result.thresholds + 2 + 12 * i, sampleID);
    }
}

std::string SMARTStatCollectorItem::temperature() const {
    for (const char* id : {"194", "190"}) {
        auto it = attributes.find(id);
        if (it != attributes.end() && it->second->value != "128" && !it->second->value.empty()) return it->second->value;
    }
    return "";
}

Value SMARTStatCollectorItem::xmlSamplesFromAttributes(const Value& attributes) const {
    if (!(idForInterval(0) > attributes["sampleKey"].doubleValue())) return Value();
    Value d(ValueDictionary{});
    d.set("key", Value(key()));
    if (!bsd.empty()) d.set("bsd", Value(bsd));
    d.set("status", Value(overallStatus ? "1" : "0"));
    d.set("uuid", Value(key()));
    return d;
}

std::string SMARTStatCollectorItem::description() const {
    return "bsd = " + bsd + ", serial = " + serial + ", model = " + model + ", key = " + key() +
           ", temporary = " + (temporary() ? "1" : "0");
}

}  // namespace telvo
