#pragma once
// What the installer front end tells the application delegate (names kept as they are spelt).
namespace telvo::app {

class InstallerDelegate {
public:
    virtual ~InstallerDelegate() = default;
    // The user closed the completion page.
    virtual void installSuceeded() = 0;
    // An install failed; the error page is already showing.
    virtual void installFailed() = 0;
    // The user cancelled the uninstall offer.
    virtual void uninstallCancelled() = 0;
};

}  // namespace telvo::app
