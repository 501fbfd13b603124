#include "app/Bundle.h"

#include <QByteArray>

namespace telvo::app {

QString bundlePath() {
    QByteArray fromEnv = qgetenv("TELVO_APP_BUNDLE");
    if (!fromEnv.isEmpty()) return QString::fromLocal8Bit(fromEnv);
    return QStringLiteral(TELVO_APP_BUNDLE_DIR);
}

QString resourcesFolder() { return bundlePath() + QStringLiteral("/Contents/Resources"); }

QString imagePath(const QString& name) { return resourcesFolder() + '/' + name + QStringLiteral(".png"); }

}  // namespace telvo::app
