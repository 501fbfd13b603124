// The "updater" string tables and the controls that translate themselves: the lookup and its
// language, the cache of LocalizationManager, the button's width rule, and the windows in
// another language.
#include <QFontMetricsF>
#include <QPushButton>
#include <cmath>

#include "UpdateWindowsFixture.h"
#include "app/controls/LocalizedButton.h"
#include "app/controls/LocalizedTextField.h"
#include "app/update/ProgressIndicator.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/values/PropertyList.h"
#include "update/KXRUpdaterLocalizedString.h"
#include "update/LocalizationManager.h"

namespace telvo::app::testing {
namespace {

using update::KXRUpdaterLocalizedString;
using update::test::writeText;

using LocalizationTest = UpdateWindowsTest;

TEST_F(LocalizationTest, TheFirstLanguageOfTheUserThatTheBundleHasIsRead) {
    writeTable("de", {{"Cancel", "Abbrechen"}, {"OK", ""}});
    writeTable("fr", {{"Cancel", "Annuler"}});
    struct Case {
        std::vector<std::string> languages;
        const char* language;
        const char* cancel;
    } cases[] = {{{}, "en", "Cancel"},
                 {{"de"}, "de", "Abbrechen"},
                 {{"it", "fr", "de"}, "fr", "Annuler"},
                 {{"de-DE"}, "de", "Abbrechen"},
                 {{"../../x", "nl"}, "en", "Cancel"}};
    for (const Case& k : cases) {
        setLanguages(k.languages);
        EXPECT_EQ(update::updaterLanguage(), k.language);
        EXPECT_EQ(KXRUpdaterLocalizedString("Cancel", "", "updater"), k.cancel);
    }
    setLanguages({"de"});
    // A key the table lacks, and a table that is not there, give the key; an empty translation
    // is a translation.
    EXPECT_EQ(KXRUpdaterLocalizedString("Not in the table", "", "updater"), "Not in the table");
    EXPECT_EQ(KXRUpdaterLocalizedString("Cancel", "", "missing"), "Cancel");
    EXPECT_EQ(KXRUpdaterLocalizedString("OK", "", "updater"), "");
    // A table that is no property list of strings gives keys, too.
    writeText(bundlePath + "/Contents/Resources/de.lproj/updater.strings", "\"Cancel\" = \"Abbrechen\";\n");
    update::resetLocalizedStringsForTesting();
    EXPECT_EQ(KXRUpdaterLocalizedString("Cancel", "", "updater"), "Cancel");
}

TEST_F(LocalizationTest, TheManagerReadsEachFileOnceForTheNSLanguagesPreference) {
    writeTable("de", {{"Cancel", "Abbrechen"}});
    Value localizable{ValueDictionary{}};
    localizable.set("Quit", "Beenden");
    ASSERT_TRUE(plist::writeFile(localizable, bundlePath + "/Contents/Resources/de.lproj/Localizable.strings"));
    auto& manager = update::LocalizationManager::sharedLocalizationManager();
    EXPECT_EQ(manager.localizedString("Cancel", std::string("updater")), std::nullopt);  // no NSLanguages

    update::LocalizationManager::resetForTesting();
    Value global{ValueDictionary{}};
    global.set("NSLanguages", Value(ValueArray{Value("es"), Value("de")}));
    ASSERT_TRUE(plist::writeFile(global, root + "/prefs/.GlobalPreferences.plist"));
    defaults::UserDefaults::resetForTesting();
    auto& fresh = update::LocalizationManager::sharedLocalizationManager();
    EXPECT_EQ(fresh.localizedString("Cancel", std::string("updater")), std::optional<std::string>("Abbrechen"));
    EXPECT_EQ(fresh.localizedString("Quit", std::nullopt), std::optional<std::string>("Beenden"));
    EXPECT_EQ(fresh.localizedString("Missing", std::nullopt), std::nullopt);
    // Cached: a later change of the file is not seen.
    writeTable("de", {{"Cancel", "Stopp"}});
    EXPECT_EQ(fresh.localizedString("Cancel", std::string("updater")), std::optional<std::string>("Abbrechen"));
    EXPECT_EQ(fresh.translations.size(), 2u);
}

TEST_F(LocalizationTest, AButtonGrowsToItsTitleAndARightAnchoredOneKeepsItsRightEdge) {
    writeTable("de", {{"Cancel", "Abbrechen"}});
    setLanguages({"de"});
    auto widthOf = [](const LocalizedButton& b) {
        return int(std::ceil(QFontMetricsF(b.font()).horizontalAdvance(b.text()) + 30));
    };
    struct Case {
        const char* title;
        const char* translated;
        int startWidthLessBy;  // the start width is the needed width minus this
        bool rightAnchored;
    } cases[] = {{"Not in the table", "Not in the table", 25, false},
                 {"Cancel", "Abbrechen", 40, true},
                 {"Cancel", "Abbrechen", 40, false},
                 {"Cancel", "Abbrechen", -50, true}};  // wider already: it never shrinks
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.title) + " " + std::to_string(k.startWidthLessBy));
        LocalizedButton button;
        button.setText(QString::fromLatin1(k.translated));
        const int needed = widthOf(button);
        button.setText(QString::fromLatin1(k.title));
        button.setGeometry(200, 10, needed - k.startWidthLessBy, 30);
        if (k.rightAnchored) button.setProperty("autoresizingMask", 1);
        button.awakeFromNib();
        EXPECT_EQ(button.localizableString(), QString::fromLatin1(k.title));
        EXPECT_EQ(button.text(), QString::fromLatin1(k.translated));
        const int growth = std::max(0, k.startWidthLessBy);
        EXPECT_EQ(button.width(), needed - k.startWidthLessBy + growth);
        EXPECT_EQ(button.x(), k.rightAnchored ? 200 - growth : 200);
        EXPECT_EQ(button.y(), 10);
        EXPECT_EQ(button.height(), 30);
    }
    LocalizedTextField field;
    QFont font = field.font();
    font.setPointSize(17);
    field.setFont(font);
    field.setText(QStringLiteral("Cancel"));
    field.awakeFromNib();
    EXPECT_EQ(field.text(), QStringLiteral("Abbrechen"));
    EXPECT_EQ(field.localizableString(), QStringLiteral("Cancel"));
    EXPECT_EQ(field.font(), font);
}

TEST_F(LocalizationTest, AGermanTableTranslatesTheWindowsAndTheirFormats) {
    writeTable("de", {{"Ready to Install", "Bereit zur Installation"},
                      {"Downloading update...", "Update wird geladen..."},
                      {"Cancel", "Abbrechen"},
                      {"Remind Me Later", "Später erinnern"},
                      {"A new version of %@ is available!", "Eine neue Version von %@ ist da!"},
                      {"%@ %@ is now available", "%@ %@ ist jetzt verfügbar"},
                      {"%@ of %@", "%@ von %@"},
                      {"You're up to date!", "Aktuell"},
                      {"You already have the newest version of %@.", "Aktuell"}});
    setLanguages({"de"});
    answer({build("3.04", 271)});
    UpdateChecker& c = checker();
    EXPECT_EQ(c.installWindow->windowTitle().toStdString(), "Bereit zur Installation");
    EXPECT_EQ(c.downloadingWindow->windowTitle().toStdString(), "Update wird geladen...");
    EXPECT_EQ(find<QPushButton>("installWindowCancelButton")->text().toStdString(), "Abbrechen");
    EXPECT_EQ(find<QPushButton>("updateWindowRemindButton")->text().toStdString(), "Später erinnern");
    check(false);
    ASSERT_TRUE(c.updateWindow->isVisible());
    EXPECT_EQ(find<LocalizedTextField>("updateWindowLine1")->text().toStdString(), "Eine neue Version von Telvo Server ist da!");
    EXPECT_EQ(c.updateWindow->windowTitle().toStdString(), "Telvo Server 3.04 ist jetzt verfügbar");
    c.fileDownloadDownloadedBytes(nullptr, 500 * 1024, 3 * 1048576);
    EXPECT_EQ(find<LocalizedTextField>("downloadWindowLine2")->text().toStdString(), "500KB von 3.00MB");
    c.updateWindow->hide();

    // The informative text is left out when it says what the message says.
    answer({});
    check(true);
    QMessageBox* alert = visibleAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text().toStdString(), "Aktuell");
    EXPECT_TRUE(alert->informativeText().isEmpty());
}

TEST_F(LocalizationTest, ATranslationWithOtherPlaceholdersFillsWhatItCan) {
    writeTable("de", {{"%@ of %@", "%d von %@ %@ %s"}, {"%@ %@ is now available", "%@"}});
    setLanguages({"de"});
    UpdateChecker& c = checker();
    c.fileDownloadDownloadedBytes(nullptr, 500 * 1024, 3 * 1048576);
    const QString text = find<LocalizedTextField>("downloadWindowLine2")->text();
    EXPECT_NE(text.indexOf(QStringLiteral("von 3.00MB")), -1) << text.toStdString();
    answer({build("3.04", 271)});
    check(false);
    EXPECT_EQ(c.updateWindow->windowTitle(), QStringLiteral("Telvo Server"));
}

}  // namespace
}  // namespace telvo::app::testing
