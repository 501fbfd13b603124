#include "app/controls/AwakeFromNib.h"

#include <QWidget>

#include "app/controls/LocalizedButton.h"
#include "app/controls/LocalizedTextField.h"

namespace telvo::app {

void awakeLocalizedControls(QWidget* root) {
    if (!root) return;
    for (LocalizedButton* button : root->findChildren<LocalizedButton*>()) button->awakeFromNib();
    for (LocalizedTextField* field : root->findChildren<LocalizedTextField*>()) field->awakeFromNib();
}

}  // namespace telvo::app
