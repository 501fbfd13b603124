#pragma once
// One QApplication per test program on the "offscreen" platform (no X server), made before
// the first test and destroyed after the last; the shared singletons are reset between tests.
#include <QImage>
#include <QString>

namespace telvo::app::testing {

// A folder of its own under the temporary folder, removed at the end of the program.
QString scratchFolder();
// Writes `image` as <folder>/<name>.png.
void writePng(const QString& folder, const QString& name, const QImage& image);
// Resets the application's singletons (log viewer, cache, overlay, state, defaults).
void resetApplication();

}  // namespace telvo::app::testing
