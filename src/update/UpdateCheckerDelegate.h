#pragma once
// What the update engine reports, on the main queue. Every operation does nothing by default;
// the first argument is always the engine.
#include <string>

#include "platform/Error.h"

namespace telvo::update {

class UpdateCheckerCore;

class UpdateCheckerDelegate {
public:
    virtual ~UpdateCheckerDelegate() = default;
    // A request error, or (with a null error) an answer that is not XML.
    virtual void updateCheckerFailedWithError(UpdateCheckerCore*, ErrorPtr) {}
    virtual void updateCheckerDownloadComplete(UpdateCheckerCore*) {}
    virtual void updateCheckerDownloadFailed(UpdateCheckerCore*) {}
    virtual void updateCheckerUpdatesAvailable(UpdateCheckerCore*) {}
    virtual void updateCheckerNoUpdatesAvailable(UpdateCheckerCore*) {}
    // Sent by the control application's update windows.
    virtual void updateCheckerFinishWithPath(UpdateCheckerCore*, const std::string&) {}
    virtual void updaterStartingInstall(UpdateCheckerCore*) {}
    virtual void updaterFinishedInstall(UpdateCheckerCore*) {}
    virtual void updateCheckerRemindMeLater(UpdateCheckerCore*) {}
    virtual void updateCheckerSkip(UpdateCheckerCore*) {}
    virtual void updateCheckerCancelled(UpdateCheckerCore*) {}
};

}  // namespace telvo::update
