#include "app/controls/LocalizedTextField.h"

#include "update/KXRUpdaterLocalizedString.h"

namespace telvo::app {

void LocalizedTextField::awakeFromNib() {
    localizableString_ = text();
    setText(QString::fromStdString(
        update::KXRUpdaterLocalizedString(localizableString_.toStdString(), std::string(), "updater")));
    setFont(correctedFont(font()));
}

QFont LocalizedTextField::correctedFont(const QFont& font) { return font; }

}  // namespace telvo::app
