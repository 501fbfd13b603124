#pragma once
// A push button that translates its own title from the "updater" string table when its
// interface file is loaded (awakeFromNib), keeping the untranslated title as the key, and then
// widens itself to the translated title: the title's width in its font plus 30, never
// narrower than before. A button whose dynamic property "autoresizingMask" has bit 0 (a
// flexible left margin) keeps its right edge where it was.
#include <QPushButton>
#include <QString>

namespace telvo::app {

class LocalizedButton : public QPushButton {
    Q_OBJECT
public:
    static constexpr int kTitlePadding = 30;

    explicit LocalizedButton(QWidget* parent = nullptr) : QPushButton(parent) {}

    const QString& localizableString() const { return localizableString_; }
    void setLocalizableString(const QString& text) { localizableString_ = text; }

    // localize, then resize.
    void awakeFromNib();
    // The untranslated title becomes the key; the title its translation.
    void localize();
    // Widens the button to its title (see above).
    void resize();
    using QPushButton::resize;

private:
    QString localizableString_;
};

}  // namespace telvo::app
