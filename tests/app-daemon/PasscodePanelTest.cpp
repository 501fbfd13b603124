// The passcode panel against the real daemon: the digits, the lock and the password kind as
// the daemon holds them; Randomize and the kind switched with the right allowed, refused or
// cancelled; the password sheet.
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>

#include "PanelTest.h"
#include "app/cells/ButtonCell.h"
#include "app/cells/CheckboxCell.h"
#include "app/cells/ImageView.h"
#include "app/cells/ImageViews.h"
#include "app/cells/LabelCell.h"
#include "app/cells/PopUpButtonCell.h"
#include "app/passcode/TVSPasscodeController.h"
#include "support/ReadOnlyBindMount.h"

namespace telvo::testing {
namespace {

using Images = std::vector<std::string>;

Images digitsOf(const std::string& code) {
    Images out;
    for (size_t i = 0; i < 5; ++i)
        out.push_back(i < code.size() ? std::string("passcode-") + (std::isdigit((unsigned char)code[i]) ? code[i] : '0')
                                      : "passcode-locked");
    return out;
}

const Images kLocked(5, "passcode-locked");

class AppPasscodePanelTest : public AppPanelTest {
protected:
    // Each digit view's image, or "hidden".
    Images shown() {
        Images out;
        for (int i = 1; i <= 5; ++i) {
            auto* view = widget<app::ImageView>(("passcode" + std::to_string(i)).c_str());
            out.push_back(view->isVisible() ? view->imageName().toStdString() : "hidden");
        }
        return out;
    }
    app::TVSLabel* label() { return widget<app::TVSLabel>("passwordLabel"); }
    app::TVSPopUpButton* kind() { return widget<app::TVSPopUpButton>("passcodeType"); }
    app::TVSButton* edit() { return widget<app::TVSButton>("passcodeEdit"); }
    app::TVSCheckbox* lock() { return widget<app::TVSCheckbox>("passcodeLock"); }
    app::TVSPasscodeController* panel() { return delegate().findChild<app::TVSPasscodeController*>(); }
    // The user picks a kind from the pop-up.
    void pick(int index) {
        kind()->setCurrentIndex(index);
        emit kind()->activated(index);
    }
    // As after a reconnect.
    void reread() { notify::NotificationCenter::defaultCenter().post("PasscodeUpdated"); }
    void setCode(const std::string& code) {
        caller().send("setPasscode:", {Value(code)});
        ASSERT_EQ(passcode(), code);
    }
    void startConnected() {
        ASSERT_TRUE(startDaemon());
        startApp();
        ASSERT_TRUE(waitFor([&] { return statusImage() == "connected"; }));
        const std::string code = passcode();
        ASSERT_EQ(code.size(), 5u);
        ASSERT_TRUE(waitFor([&] { return shown() == digitsOf(code); }));
    }
};

TEST_F(AppPasscodePanelTest, ShowsTheDaemonsCodeLockAndKind) {
    startConnected();
    EXPECT_FALSE(label()->isVisible());
    EXPECT_EQ(edit()->text(), "Randomize");
    EXPECT_EQ(lock()->text(), "Lock Passcode");
    EXPECT_EQ(widget<app::PasscodeBackground>("passcodeBackground")->mode(), 0);
    screenshot("passcode-digits");

    setPreference("passcode lock", Value(1));
    reread();
    EXPECT_TRUE(waitFor([&] { return shown() == kLocked && lock()->isChecked(); }));
    screenshot("passcode-locked");

    setPreference("passcode lock", Value(0));
    struct Case {
        const char* code;
        Images images;
    };
    const Case cases[] = {
        {"1234", {"passcode-1", "passcode-2", "passcode-3", "passcode-4", "passcode-locked"}},
        {"12a45", {"passcode-1", "passcode-2", "passcode-0", "passcode-4", "passcode-5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        setCode(c.code);
        reread();
        EXPECT_TRUE(waitFor([&] { return shown() == c.images; }));
    }

    // The password kind shows the text; locked, an empty label and one locked image.
    setPreference("passcodeType", Value(1));
    setCode("pa ss");
    reread();
    EXPECT_TRUE(waitFor([&] { return label()->isVisible() && label()->text() == "pa ss"; }));
    EXPECT_EQ(shown(), Images(5, "hidden"));
    EXPECT_EQ(edit()->text(), "Edit Password");
    EXPECT_EQ(lock()->text(), "Lock Password");
    EXPECT_EQ(widget<app::PasscodeBackground>("passcodeBackground")->mode(), 1);
    screenshot("password-kind");
    setPreference("passcode lock", Value(1));
    reread();
    EXPECT_TRUE(waitFor([&] { return label()->text().isEmpty() && shown() == Images{"hidden", "hidden", "passcode-locked", "hidden", "hidden"}; }));
    screenshot("password-locked");
}

TEST_F(AppPasscodePanelTest, AllowedRandomizeAndKindSwitchesReachTheDaemon) {
    startConnected();
    const std::string first = passcode();

    // Randomize: a new code, shown at once (no reconnect).
    clearSent();
    QTest::mouseClick(edit(), Qt::LeftButton);
    EXPECT_EQ(prompts(), 1u);
    std::string second;
    EXPECT_TRUE(waitFor([&] {
        second = passcode();
        return second != first && shown() == digitsOf(second);
    }, 10));
    EXPECT_EQ(sent("generatePasscode").size(), 1u);

    // To the password kind: type 1 stored, the code kept and shown as text.
    pick(1);
    EXPECT_TRUE(waitFor([&] { return preference("passcodeType").intValue() == 1; }));
    EXPECT_EQ(passcode(), second);
    EXPECT_EQ(label()->text().toStdString(), second);
    EXPECT_TRUE(label()->isVisible());

    // Back to the passcode kind: type 0 stored and a new code shown.
    pick(0);
    std::string third;
    EXPECT_TRUE(waitFor([&] {
        third = passcode();
        return preference("passcodeType").intValue() == 0 && third != second && shown() == digitsOf(third);
    }, 10));
    EXPECT_EQ(sent("generatePasscode").size(), 2u);

    // The lock, stored and shown at once.
    QTest::mouseClick(lock(), Qt::LeftButton);
    EXPECT_EQ(shown(), kLocked);
    EXPECT_TRUE(waitFor([&] { return preference("passcode lock").intValue() == 1; }));
}

TEST_F(AppPasscodePanelTest, ARefusedOrCancelledRightChangesNothing) {
    startConnected();
    const std::string code = passcode();
    for (const char* answer : {"deny", "cancel"}) {
        SCOPED_TRACE(answer);
        administrator(answer);
        clearSent();
        size_t before = prompts();
        QTest::mouseClick(edit(), Qt::LeftButton);
        EXPECT_EQ(prompts(), before + 1);

        pick(1);
        EXPECT_EQ(kind()->currentIndex(), 0);  // put back at once
        EXPECT_EQ(prompts(), before + 2);

        QTest::mouseClick(lock(), Qt::LeftButton);
        EXPECT_FALSE(lock()->isChecked());
        EXPECT_EQ(prompts(), before + 3);
        EXPECT_EQ(shown(), digitsOf(code));
        EXPECT_EQ(edit()->text(), "Randomize");

        serveFor(0.3);
        EXPECT_TRUE(sent().empty()) << sent().front().operation;
        EXPECT_EQ(passcode(), code);
        EXPECT_EQ(preference("passcodeType").intValue(), 0);
        EXPECT_EQ(preference("passcode lock").intValue(), 0);
    }
}

TEST_F(AppPasscodePanelTest, PasswordSheetSavesWhatWasTypedAndCancelSendsNothing) {
    startConnected();
    setPreference("passcodeType", Value(1));
    setCode("first pass");
    reread();
    ASSERT_TRUE(waitFor([&] { return label()->text() == "first pass"; }));

    QTest::mouseClick(edit(), Qt::LeftButton);
    QWidget* sheet = panel()->window();
    ASSERT_EQ(sheet->parentWidget(), delegate().window());
    EXPECT_EQ(sheet->y(), 30);
    auto* field = widget<QLineEdit>("passwordField");
    auto* save = widget<app::TVSButton>("passwordSave");
    EXPECT_EQ(field->text(), "first pass");
    EXPECT_TRUE(save->isEnabled());
    screenshot("password-sheet");

    field->clear();
    EXPECT_FALSE(save->isEnabled());
    QTest::keyClicks(field, "pa ss");
    EXPECT_TRUE(save->isEnabled());
    // Saving asks no right again: with the allowed right forgotten, no prompt follows.
    forgetAllowedRight();
    const size_t before = prompts();
    clearSent();
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(sheet->parentWidget(), nullptr);
    EXPECT_TRUE(waitFor([&] { return passcode() == "pa ss"; }));
    EXPECT_EQ(label()->text(), "pa ss");
    EXPECT_EQ(prompts(), before);
    EXPECT_EQ(sent("setPasscode:").size(), 1u);

    QTest::mouseClick(edit(), Qt::LeftButton);
    ASSERT_EQ(sheet->parentWidget(), delegate().window());
    clearSent();
    field->setText("other");
    QTest::mouseClick(widget<app::TVSButton>("passwordCancel"), Qt::LeftButton);
    EXPECT_EQ(sheet->parentWidget(), nullptr);
    serveFor(0.3);
    EXPECT_TRUE(sent().empty()) << sent().front().operation;
    EXPECT_EQ(passcode(), "pa ss");
    EXPECT_EQ(label()->text(), "pa ss");
}

// A password the daemon cannot store (its keychain folder read-only): the label goes back to
// the password in effect, which still logs a device in; once the file can be written the same
// sheet saves it.
TEST_F(AppPasscodePanelTest, APasswordTheDaemonCannotStoreIsNotShownAsSaved) {
    startConnected();
    setPreference("passcodeType", Value(1));
    setCode("kept pass");
    reread();
    ASSERT_TRUE(waitFor([&] { return label()->text() == "kept pass"; }));
    const std::string folder = host("/Library/Application Support/Telvo Server");
    ReadOnlyBindMount readOnly(folder);
    if (!readOnly.failure().empty()) GTEST_SKIP() << readOnly.failure();

    auto* field = widget<QLineEdit>("passwordField");
    auto* save = widget<app::TVSButton>("passwordSave");
    QTest::mouseClick(edit(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return field->isVisible(); }, 10));
    field->setText("lost pass");
    clearSent();
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return sent("passcode:").size() >= 1; }, 10)) << "the panel reads the daemon's password again";
    EXPECT_TRUE(waitFor([&] { return label()->text() == "kept pass"; }, 10)) << label()->text().toStdString();
    EXPECT_EQ(passcode(), "kept pass");

    readOnly.undo();
    QTest::mouseClick(edit(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return field->isVisible(); }, 10));
    EXPECT_EQ(field->text(), "kept pass");
    field->setText("lost pass");
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] { return passcode() == "lost pass" && label()->text() == "lost pass"; }, 10));
}

// What a user pastes into the one-line field: a password copied with its line end (or across
// lines) is saved without the line breaks nobody can type at a device, one longer than the
// daemon keeps (1023 bytes) is cut in the field at a character's end; other text as it came.
// What the daemon then holds is what the field and the label show.
TEST_F(AppPasscodePanelTest, PastedPasswordsAreSavedAsTheFieldShowsThem) {
    startConnected();
    setPreference("passcodeType", Value(1));
    reread();
    ASSERT_TRUE(waitFor([&] { return label()->isVisible(); }));
    struct Case {
        std::string pasted, stored;
    };
    const std::vector<Case> cases = {
        {"secret\n", "secret"},
        {"one\r\ntwo\xE2\x80\xA8three", "onetwothree"},
        {"p\xC3\xA4sswort \xE2\x9C\x93 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D", "p\xC3\xA4sswort \xE2\x9C\x93 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"},
        {"<b>not bold</b> &amp;", "<b>not bold</b> &amp;"},
        {std::string(3000, 'w'), std::string(1023, 'w')},
        {std::string(1022, 'w') + "\xC3\xA4z", std::string(1022, 'w')},
        {std::string(1019, 'w') + "\xF0\x9F\x94\x91\xF0\x9F\x94\x91", std::string(1019, 'w') + "\xF0\x9F\x94\x91"},
    };
    auto* field = widget<QLineEdit>("passwordField");
    auto* save = widget<app::TVSButton>("passwordSave");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.substr(0, 40));
        QTest::mouseClick(edit(), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return field->isVisible(); }, 10));
        field->clear();
        QGuiApplication::clipboard()->setText(QString::fromStdString(c.pasted));
        field->paste();
        EXPECT_EQ(field->text().toStdString(), c.stored);
        QTest::mouseClick(save, Qt::LeftButton);
        EXPECT_TRUE(waitFor([&] { return passcode() == c.stored; }, 10)) << passcode().size() << " characters: " << passcode().substr(0, 40);
        EXPECT_EQ(label()->text().toStdString(), c.stored);
        if (c.stored == std::string(1023, 'w')) screenshot("password-long");
    }
}

}  // namespace
}  // namespace telvo::testing
