// Dynamic-store changes as notifications.
#include "net/portmap/IXSCNotificationManager.h"

#include "net/portmap/PortMapperLog.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/process/ProcessIdentity.h"

namespace telvo {

IXSCNotificationManager::IXSCNotificationManager(dispatch::QueuePtr queue) {
    dynStore_ = netstate::DynamicStoreSession::create(
        platform::ProcessIdentity::bundleIdentifier(), std::move(queue),
        [this](const std::vector<std::string>& keys) { changed(keys); });
    setObservedKeys({}, {".*"});
}

IXSCNotificationManager::~IXSCNotificationManager() { dynStore_->invalidate(); }

void IXSCNotificationManager::setObservedKeys(const std::vector<std::string>& keys,
                                              const std::vector<std::string>& regExes) {
    if (!dynStore_->setNotificationKeys(keys, regExes))
        PortMapperLog("%s desired keys could not be observed.", "-[IXSCNotificationManager setObservedKeys:regExes:]");
}

void IXSCNotificationManager::changed(const std::vector<std::string>& keys) {
    for (const auto& key : keys)
        notify::NotificationCenter::defaultCenter().post(key, this, dynStore_->copyValue(key));
}

}  // namespace telvo
