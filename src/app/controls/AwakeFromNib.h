#pragma once
// Runs awakeFromNib on every localised control under a widget loaded from an interface file,
// as the interface file's loading does on the platform the design comes from.
class QWidget;

namespace telvo::app {

void awakeLocalizedControls(QWidget* root);

}  // namespace telvo::app
