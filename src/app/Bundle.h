#pragma once
// The application bundle: its named images are "Contents/Resources/<name>.png" inside it.
// The bundle is the running program's own when it lies in one ("<x>.app/Contents/MacOS/"),
// else the one TELVO_APP_BUNDLE names, else the build's "Telvo Server.app" (the artwork).
#include <QString>

namespace telvo::app {

QString bundlePath();
QString resourcesFolder();
// The file of a named image.
QString imagePath(const QString& name);

}  // namespace telvo::app
