#pragma once
// The application bundle: its named images are "Contents/Resources/<name>.png" inside it.
// The bundle is the build's "Telvo Server.app" unless TELVO_APP_BUNDLE names another.
#include <QString>

namespace telvo::app {

QString bundlePath();
QString resourcesFolder();
// The file of a named image.
QString imagePath(const QString& name);

}  // namespace telvo::app
