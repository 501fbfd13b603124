#include "app/Bundle.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

namespace telvo::app {

namespace {

// "<bundle>.app" when this program is "<bundle>.app/Contents/MacOS/<name>" and the bundle has
// its resources; else empty.
QString runningBundle() {
    QFileInfo program(QStringLiteral("/proc/self/exe"));
    QString path = program.canonicalFilePath();
    if (path.isEmpty()) return {};
    QDir dir = QFileInfo(path).dir();  // MacOS
    if (dir.dirName() != QStringLiteral("MacOS") || !dir.cdUp() || dir.dirName() != QStringLiteral("Contents") ||
        !dir.cdUp())
        return {};
    QString bundle = dir.absolutePath();
    if (!bundle.endsWith(QStringLiteral(".app")) || !QFileInfo(bundle + QStringLiteral("/Contents/Resources")).isDir())
        return {};
    return bundle;
}

}  // namespace

QString bundlePath() {
    static const QString own = runningBundle();
    if (!own.isEmpty()) return own;
    QByteArray fromEnv = qgetenv("TELVO_APP_BUNDLE");
    if (!fromEnv.isEmpty()) return QString::fromLocal8Bit(fromEnv);
    return QStringLiteral(TELVO_APP_BUNDLE_DIR);
}

QString resourcesFolder() { return bundlePath() + QStringLiteral("/Contents/Resources"); }

QString imagePath(const QString& name) { return resourcesFolder() + '/' + name + QStringLiteral(".png"); }

}  // namespace telvo::app
