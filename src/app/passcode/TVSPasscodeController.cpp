// The passcode panel's reads, writes and displays, on both routes to the daemon.
#include "app/passcode/TVSPasscodeController.h"

#include <QLineEdit>
#include <algorithm>

#include "app/AliveGuard.h"
#include "app/cells/ButtonCell.h"
#include "app/cells/CheckboxCell.h"
#include "app/cells/ImageView.h"
#include "app/cells/ImageViews.h"
#include "app/cells/LabelCell.h"
#include "app/cells/PopUpButtonCell.h"
#include "app/connection/AdministratorRight.h"
#include "app/connection/TVSXPCAction.h"
#include "app/connection/TVSXPCConnection.h"
#include "app/window/INAppStoreWindow.h"

using namespace telvo::app;
#include "ui_MainMenu.h"

namespace telvo::app {

namespace {

bool serviceRoute() { return TVSXPCConnection::sharedXPCConnection().usesServiceRoute(); }

void ignore(const ErrorPtr&) {}

Value request(const char* key, ValueDictionary fields = {}) {
    fields["key"] = Value(key);
    return Value(std::move(fields));
}

bool isLineBreak(QChar c) {
    const char16_t u = c.unicode();
    return u == '\n' || u == '\r' || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

// A password pasted with its line end (or across lines) would keep breaks that nobody can type
// at a device: the one-line field drops them. What goes beyond the bytes the daemon keeps is
// cut at a character's end, in the field, before anything is saved. The cursor keeps its place
// in what remains.
void fitPasswordField(QLineEdit* field) {
    const QString text = field->text();
    const bool breaks = std::any_of(text.begin(), text.end(), isLineBreak);
    if (!breaks && text.toUtf8().size() <= TVSPasscodeController::kMaximumPasswordBytes) return;
    const int cursor = field->cursorPosition();
    QString kept;
    int keptBeforeCursor = 0;
    qsizetype bytes = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (isLineBreak(text[i])) continue;
        // A surrogate pair is one character of four bytes.
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const QStringView character = QStringView(text).mid(i, pair ? 2 : 1);
        const char16_t u = text[i].unicode();
        const qsizetype size = pair ? 4 : u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
        if (bytes + size > TVSPasscodeController::kMaximumPasswordBytes) break;
        bytes += size;
        kept.append(character);
        if (i < cursor) keptBeforeCursor += int(character.size());
        if (pair) ++i;
    }
    field->setText(kept);
    field->setCursorPosition(qMin(keptBeforeCursor, int(kept.size())));
}

std::optional<QString> codeOf(const Value& value) {
    if (!value.isString()) return std::nullopt;
    return QString::fromStdString(value.string());
}

}  // namespace

TVSPasscodeController::TVSPasscodeController(Ui::MainMenu& ui, INAppStoreWindow* parentWindow, QObject* parent)
    : QObject(parent), ui_(ui), parentWindow_(parentWindow) {
    setObjectName(QStringLiteral("passcodeController"));
    digits_[0] = ui.passcode1;
    digits_[1] = ui.passcode2;
    digits_[2] = ui.passcode3;
    digits_[3] = ui.passcode4;
    digits_[4] = ui.passcode5;
    sheet_ = ui.passwordSheet;
    sheet_->setParent(nullptr);
    sheet_->setAttribute(Qt::WA_StyledBackground);
    sheet_->setStyleSheet(QStringLiteral("#passwordSheet { background: #f4f5f7; border: 1px solid #8e939b; }"));
    // An empty password is never sent: the daemon keeps the old one in its place.
    auto saveFollowsText = [this](const QString&) {
        fitPasswordField(ui_.passwordField);
        ui_.passwordSave->setEnabled(!ui_.passwordField->text().isEmpty());
    };
    connect(ui.passwordField, &QLineEdit::textChanged, this, saveFollowsText);
    connect(ui.passwordField, &QLineEdit::returnPressed, this, [this] {
        if (ui_.passwordSave->isEnabled()) save();
    });
    connect(ui.passcodeEdit, &QAbstractButton::clicked, this, &TVSPasscodeController::editPasscode);
    connect(ui.passcodeType, qOverload<int>(&QComboBox::activated), this, &TVSPasscodeController::changeType);
    connect(ui.passcodeLock, &QAbstractButton::clicked, this, &TVSPasscodeController::toggleLock);
    connect(ui.passwordSave, &QAbstractButton::clicked, this, &TVSPasscodeController::save);
    connect(ui.passwordCancel, &QAbstractButton::clicked, this, &TVSPasscodeController::cancel);
    awakeFromNib();
}

TVSPasscodeController::~TVSPasscodeController() {
    *alive_ = false;
    notify::NotificationCenter::defaultCenter().removeObserver(observer_);
    if (INAppStoreWindow* w = INAppStoreWindow::sheetParent(sheet_)) w->endSheet(sheet_);
    delete sheet_.data();
}

void TVSPasscodeController::awakeFromNib() {
    observer_ = notify::NotificationCenter::defaultCenter().addObserver(kPasscodeUpdated, nullptr, nullptr,
                                                                        [this](const notify::Notification&) { passcodeChange(); });
    ui_.passwordLabel->hide();
    for (ImageView* digit : digits_) digit->setImageName(QStringLiteral("passcode-locked"));
    passcodeChange();
    // The lock's title is drawn in grey 0.4 by its cell.
}

bool TVSPasscodeController::locked() const { return ui_.passcodeLock->isChecked(); }

int TVSPasscodeController::selectedType() const { return ui_.passcodeType->currentIndex(); }

void TVSPasscodeController::passcodeChange() {
    if (serviceRoute()) {
        TVSXPCAction([this](ServiceProxy& proxy) {
            proxy.objectForKey("passcode lock", whileAlive(alive_, [this](const Value& v) { setPasscodeLocked(v); }), ignore);
            proxy.objectForKey("passcodeType", whileAlive(alive_, [this](const Value& v) {
                setPasscodeType(v);
                updatePasscodeTypeDisplay();
                updatePasscodeDisplay();
            }), ignore);
        });
        readPasscode();
        return;
    }
    auto& connection = TVSXPCConnection::sharedXPCConnection();
    connection.sendIPCRequest(request("preference", {{"pkey", Value("passcode lock")}}), whileAlive(alive_, [this](const Value& reply) {
        if (!reply.isNull()) setPasscodeLocked(reply["value"]);
    }));
    connection.sendIPCRequest(request("preference", {{"pkey", Value("passcodeType")}}), whileAlive(alive_, [this](const Value& reply) {
        if (reply.isNull()) return;
        setPasscodeType(reply["value"]);
        updatePasscodeTypeDisplay();
        updatePasscodeDisplay();
    }));
    readPasscode();
}

void TVSPasscodeController::readPasscode() {
    if (serviceRoute()) {
        TVSXPCAction([this](ServiceProxy& proxy) {
            proxy.call("passcode:", {}, whileAlive(alive_, [this](const Value& code) {
                passcode_ = codeOf(code);
                updatePasscodeDisplay();
            }), ignore);
        });
        return;
    }
    TVSXPCConnection::sharedXPCConnection().sendIPCRequest(request("passcode"), whileAlive(alive_, [this](const Value& reply) {
        if (reply.isNull()) return;
        passcode_ = codeOf(reply["passcode"]);
        updatePasscodeDisplay();
    }));
}

void TVSPasscodeController::setPasscodeLocked(const Value& value) { ui_.passcodeLock->setChecked(value.intValue() != 0); }

void TVSPasscodeController::setPasscodeType(const Value& value) {
    typeShown_ = value.intValue() == 1 ? 1 : 0;
    ui_.passcodeType->setCurrentIndex(typeShown_);
}

void TVSPasscodeController::updatePasscodeTypeDisplay() {
    const bool password = selectedType() == 1;
    ui_.passcodeEdit->setText(password ? QStringLiteral("Edit Password") : QStringLiteral("Randomize"));
    ui_.passcodeLock->setText(password ? QStringLiteral("Lock Password") : QStringLiteral("Lock Passcode"));
    ui_.passcodeBackground->setMode(password ? 1 : 0);
}

void TVSPasscodeController::updatePasscodeDisplay() {
    if (selectedType() == 1) {
        ui_.passwordLabel->show();
        for (ImageView* digit : digits_) digit->hide();
        if (!passcode_) {
            ui_.passwordLabel->clear();
        } else if (locked()) {
            ui_.passwordLabel->clear();
            digits_[2]->setImageName(QStringLiteral("passcode-locked"));
            digits_[2]->show();
        } else {
            ui_.passwordLabel->setText(*passcode_);
        }
        return;
    }
    ui_.passwordLabel->hide();
    for (int i = 0; i < 5; ++i) updateImageView(digits_[i], passcode_, i);
}

void TVSPasscodeController::updateImageView(ImageView* view, const std::optional<QString>& text, int index) {
    view->show();
    if (!text) {
        view->setImageName(QString());
        return;
    }
    if (index >= text->size() || locked()) {
        view->setImageName(QStringLiteral("passcode-locked"));
        return;
    }
    const QChar c = text->at(index);
    const int n = c >= QLatin1Char('0') && c <= QLatin1Char('9') ? c.unicode() - '0' : 0;
    view->setImageName(QStringLiteral("passcode-%1").arg(n));
}

void TVSPasscodeController::newPasscode() {
    if (serviceRoute()) {
        TVSXPCAction([](ServiceProxy& proxy) { proxy.call("generatePasscode", {}, nullptr, ignore); });
        // The daemon answers calls in order: this reads the new code.
        readPasscode();
        return;
    }
    TVSXPCConnection::sharedXPCConnection().sendIPCRequest(request("generatepasscode"), whileAlive(alive_, [this](const Value& reply) {
        if (!reply.isNull()) passcodeChange();
    }));
}

void TVSPasscodeController::editPasscode() {
    if (!authorized()) return;
    if (selectedType() != 1) {
        newPasscode();
        updatePasscodeTypeDisplay();
        updatePasscodeDisplay();
        return;
    }
    ui_.passwordField->setText(passcode_.value_or(QString()));
    ui_.passwordSave->setEnabled(!ui_.passwordField->text().isEmpty());
    if (!parentWindow_) return;
    if (parentWindow_->beginSheet(sheet_, whileAlive(alive_, [this](QWidget*, int code) { didEndSheet(code); })))
        ui_.passwordField->setFocus();
}

void TVSPasscodeController::save() {
    // The right was asked for when the sheet opened.
    if (INAppStoreWindow* w = INAppStoreWindow::sheetParent(sheet_)) w->endSheet(sheet_, 1);
    const QString text = ui_.passwordField->text();
    if (text.isEmpty()) return;
    passcode_ = text;
    const std::string code = text.toStdString();
    // The daemon may refuse it (a keychain file it cannot write): what it holds is read back
    // after its answer, so that the panel never shows a password that is not in effect.
    if (serviceRoute()) {
        TVSXPCAction([&](ServiceProxy& proxy) { proxy.call("setPasscode:", {Value(code)}, nullptr, ignore); });
        // The daemon answers calls in order: this reads what the call left.
        readPasscode();
    } else {
        TVSXPCConnection::sharedXPCConnection().sendIPCRequest(request("setpasscode", {{"passcode", Value(code)}}),
                                                               whileAlive(alive_, [this](const Value&) { readPasscode(); }));
    }
    updatePasscodeTypeDisplay();
    updatePasscodeDisplay();
}

void TVSPasscodeController::cancel() {
    if (INAppStoreWindow* w = INAppStoreWindow::sheetParent(sheet_)) w->endSheet(sheet_, 0);
}

void TVSPasscodeController::didEndSheet(int) {
    if (sheet_) sheet_->hide();
}

void TVSPasscodeController::changeType() {
    if (!authorized()) {
        ui_.passcodeType->setCurrentIndex(typeShown_);
        return;
    }
    const int type = selectedType();
    typeShown_ = type;
    if (serviceRoute())
        TVSXPCAction([type](ServiceProxy& proxy) { proxy.setObjectForKey(Value(int64_t(type)), "passcodeType", ignore); });
    else
        TVSXPCConnection::sharedXPCConnection().sendIPCRequest(
            request("setpreference", {{"pkey", Value("passcodeType")}, {"value", Value(int64_t(type))}}), nullptr);
    // Every switch to the passcode kind draws a new passcode.
    if (type == 0) newPasscode();
    updatePasscodeTypeDisplay();
    updatePasscodeDisplay();
}

void TVSPasscodeController::toggleLock() {
    if (!authorized()) {
        ui_.passcodeLock->setChecked(!ui_.passcodeLock->isChecked());
        return;
    }
    // The display follows at once.
    updatePasscodeDisplay();
    const int64_t state = locked() ? 1 : 0;
    if (serviceRoute())
        TVSXPCAction([state](ServiceProxy& proxy) { proxy.setObjectForKey(Value(state), "passcode lock", ignore); });
    else
        TVSXPCConnection::sharedXPCConnection().sendIPCRequest(
            request("setpreference", {{"pkey", Value("passcode lock")}, {"value", Value(state)}}), nullptr);
}

}  // namespace telvo::app
