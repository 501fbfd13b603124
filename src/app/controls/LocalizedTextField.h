#pragma once
// A text field (a label) that translates its own text from the "updater" string table when
// its interface file is loaded (awakeFromNib), keeping the untranslated text as the key.
#include <QFont>
#include <QLabel>
#include <QString>

namespace telvo::app {

class LocalizedTextField : public QLabel {
    Q_OBJECT
public:
    explicit LocalizedTextField(QWidget* parent = nullptr) : QLabel(parent) {}

    const QString& localizableString() const { return localizableString_; }
    void setLocalizableString(const QString& text) { localizableString_ = text; }

    void awakeFromNib();
    // The font with figures of equal width where the toolkit can make one; Qt 6.4 sets no font
    // features, so it is the font given.
    static QFont correctedFont(const QFont& font);

private:
    QString localizableString_;
};

}  // namespace telvo::app
