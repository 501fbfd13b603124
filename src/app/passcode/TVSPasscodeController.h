#pragma once
// The passcode panel of the main window: the daemon's passcode as five digit images, or a
// free password as text; its kind picked with the pop-up, a new passcode drawn or a password
// typed on a sheet, and the display locked so that the code is hidden. The three values (the
// code, "passcodeType" and "passcode lock") are read from the daemon after every connect and
// written back through the shared connection; every change asks for the administrator right
// first, and a refused right puts the pop-up or the lock back as it was. Its widgets come from
// the main interface file. Main thread only.
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>

#include "platform/notify/NotificationCenter.h"
#include "platform/values/Value.h"

class QWidget;

namespace Ui {
class MainMenu;
}

namespace telvo::app {

class ImageView;
class INAppStoreWindow;

class TVSPasscodeController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kPasscodeUpdated = "PasscodeUpdated";
    // The daemon's keychain gives back at most this many bytes of a password (UTF-8): the
    // sheet's field takes no more, so that what is saved is what devices must type.
    static constexpr qsizetype kMaximumPasswordBytes = 1023;

    // Takes the panel's widgets and the password sheet (which it owns from then on) from the
    // main interface file, and sets itself up (awakeFromNib).
    TVSPasscodeController(Ui::MainMenu& ui, INAppStoreWindow* parentWindow, QObject* parent = nullptr);
    ~TVSPasscodeController() override;

    void awakeFromNib();
    // Re-reads the lock, the kind and the code.
    void passcodeChange();

    // Actions: the edit button, the pop-up (already changed by the user), the lock button
    // (already toggled), and the password sheet's buttons.
    void editPasscode();
    void changeType();
    void toggleLock();
    void save();
    void cancel();
    void didEndSheet(int returnCode);

    void setPasscodeType(const Value& type);
    void setPasscodeLocked(const Value& locked);
    void updatePasscodeTypeDisplay();
    void updatePasscodeDisplay();
    // The image of one digit position (0 to 4) of `text`.
    void updateImageView(ImageView* view, const std::optional<QString>& text, int index);
    // Asks the daemon for a new passcode, then reads it.
    void newPasscode();

    const std::optional<QString>& passcode() const { return passcode_; }
    QWidget* window() const { return sheet_; }

private:
    bool locked() const;
    int selectedType() const;
    void readPasscode();

    Ui::MainMenu& ui_;
    QPointer<INAppStoreWindow> parentWindow_;
    QPointer<QWidget> sheet_;
    ImageView* digits_[5] = {};
    std::optional<QString> passcode_;
    // The pop-up's index as last shown or stored, to go back to when the right is refused.
    int typeShown_ = 0;
    notify::ObserverToken observer_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace telvo::app
