#include "collectors/storage/SMARTStatCollector.h"

#include <algorithm>

#include "collectors/framework/SharedCollector.h"
#include "foundation/extensions/KXRIOKitUtilities.h"
#include "foundation/extensions/XmlSafeText.h"
#include "platform/dispatch/Queue.h"

namespace telvo {
namespace {

std::string trimBlanks(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

std::shared_ptr<SMARTStatCollector> SMARTStatCollector::sharedSMARTCollector() {
    return SharedCollector<SMARTStatCollector>::get([] {
        auto c = std::make_shared<SMARTStatCollector>();
        std::weak_ptr<StatCollector> weak = c;
        dispatch::Queue::main()->async([weak] {
            if (auto self = std::static_pointer_cast<SMARTStatCollector>(weak.lock())) self->addNotifications();
        });
        return c;
    });
}

void SMARTStatCollector::cleanupShared() { SharedCollector<SMARTStatCollector>::drop(); }

SMARTStatCollector::SMARTStatCollector() : StatCollector(0) {
    setStorageType(2);
    config().set("itemAttributeKeys", Value(ValueArray{Value("uuid")}));
    config().set("xmlUseMasterID", Value(true));
    config().set("xmlNoSamples", Value(true));
    setItems({});
}

std::string SMARTStatCollector::modelName(const std::string& model) {
    if (model.compare(0, 9, "APPLE HDD") == 0) return "Apple HDD";
    if (model.compare(0, 9, "APPLE SSD") == 0) return "Apple SSD";
    return model;
}

void SMARTStatCollector::addNotifications() {
    if (port_ || stopped()) return;
    port_ = registry::NotificationPort::create(queue() ? queue() : dispatch::Queue::main());
    std::weak_ptr<StatCollector> weak = weak_from_this();
    auto callback = [weak](const std::vector<registry::EntryRef>&) {
        dispatch::Queue::main()->after(5.0, [weak] {
            auto self = std::static_pointer_cast<SMARTStatCollector>(weak.lock());
            if (self && !self->stopped()) self->disksChanged();
        });
    };
    const Value matching = registry::Registry::serviceMatching("IOBlockStorageDriver");
    port_->addMatchingNotification("IOServicePublish", matching, callback);
    port_->addMatchingNotification("IOServiceTerminate", matching, callback);
}

void SMARTStatCollector::cleanup() {
    StatCollector::cleanup();
    if (port_) port_->destroy();
    port_.reset();
}

void SMARTStatCollector::loadDisks() {
    for (const auto& item : items()) item->setExists(false);
    KXRIOKitUtilities it = KXRIOKitUtilities::iteratorWithMatch(
        Value(ValueDictionary{{"IOPropertyMatch", Value(ValueDictionary{{"SMART Capable", Value(true)}})}}));
    for (Value p = it.next(); !p.isNull(); p = it.next()) {
        const registry::EntryRef service = it.object();
        const Value chars = p["Device Characteristics"];
        std::string model;
        if (chars.has("Vendor Name") && chars.has("Product Name"))
            model = chars["Vendor Name"].stringValue() + " " + chars["Product Name"].stringValue();
        else if (chars.has("Product Name"))
            model = chars["Product Name"].stringValue();
        Value serialValue = chars["Serial Number"];
        if (serialValue.isNull()) serialValue = KXRIOKitUtilities::searchForKeyInParents("INQUIRY Unit Serial Number", 8, service);
        if (serialValue.isNull()) serialValue = KXRIOKitUtilities::searchForKeyInParents("USB Serial Number", 10, service);
        if (serialValue.isNull()) serialValue = KXRIOKitUtilities::searchForKeyInParents("GUID", 5, service);
        if (serialValue.isNull()) continue;
        // Serials and models come from the drive: made XML-safe before they enter a node.
        const std::string serial = trimBlanks(xmlSafeText(serialValue.stringValue()));
        if (serial.empty()) continue;
        model = modelName(xmlSafeText(model));

        auto item = std::static_pointer_cast<SMARTStatCollectorItem>(itemWithKey(serial));
        const std::string bsd = service ? service->bsdNameBelow() : std::string();
        if (!item) {
            item = std::make_shared<SMARTStatCollectorItem>();
            item->loadAllAttributes = loadAllAttributes;
            item->setKey(serial);
            item->serial = serial;
            item->model = model;
            item->setTemporary(false);
            item->obj = service;
            item->bsd = bsd;
            startRead(item, idForInterval(0), model.empty());
            mutableItems().push_back(item);
        }
        item->setExists(true);
        if (!bsd.empty()) item->bsd = bsd;
    }
    it.finish();
    auto& list = mutableItems();
    list.erase(std::remove_if(list.begin(), list.end(), [](const StatCollectorItemPtr& i) { return !i->exists(); }),
               list.end());
    for (const auto& d : std::vector<StatCollectorDelegatePtr>(delegates()))
        if (d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*this, 0);
}

void SMARTStatCollector::updateStats() {
    const double sampleID = idForInterval(0);
    for (const auto& base : std::vector<StatCollectorItemPtr>(items())) {
        auto item = std::static_pointer_cast<SMARTStatCollectorItem>(base);
        if (item->temporary()) continue;
        item->updateSampleID(sampleID);
        startRead(item, sampleID, false);
    }
}

void SMARTStatCollector::startRead(const std::shared_ptr<SMARTStatCollectorItem>& item, double sampleID,
                                   bool wantIdentity) {
    if (item->readInFlight || item->bsd.empty()) return;
    item->readInFlight = true;
    ++inFlight_;
    std::weak_ptr<StatCollector> weak = weak_from_this();
    std::weak_ptr<SMARTStatCollectorItem> weakItem = item;
    auto handle = item->handle;
    const std::string bsd = item->bsd;
    dispatch::Queue::global()->async([weak, weakItem, handle, bsd, sampleID, wantIdentity] {
        auto result = std::make_shared<SMARTReadResult>(handle->read(bsd, wantIdentity));
        dispatch::Queue::main()->async([weak, weakItem, result, sampleID] {
            auto self = std::static_pointer_cast<SMARTStatCollector>(weak.lock());
            if (self) --self->inFlight_;
            auto item = weakItem.lock();
            if (!item) return;
            item->readInFlight = false;
            item->apply(*result, sampleID);
            if (!self) return;
            for (const auto& d : std::vector<StatCollectorDelegatePtr>(self->delegates()))
                if (d->respondsToUpdatedForMode()) d->collectorUpdatedForMode(*self, 0);
        });
    });
}

}  // namespace telvo
