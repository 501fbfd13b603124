#pragma once
// A seam for tests that drive the real program, relaunches included: when TELVO_SCRIPTED_ACTIONS
// names a file of object names (one a line), each is pressed in order as soon as a visible,
// enabled button or an enabled menu action of that name exists; a pressed line is taken out
// of the file, so that a copy started later goes on with the rest. Every window, the overlay and
// every installer page shown, every press and the quit are appended to "<file>.record" as "<pid> shown <name>",
// "<pid> pressed <name>", "<pid> quit", each followed by a tab and the monotonic clock's
// milliseconds. Main thread only; nothing happens without the variable.
#include <QObject>
#include <QTimer>
#include <string>

namespace telvo::app {

class ScriptedActions : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kVariable = "TELVO_SCRIPTED_ACTIONS";
    // Starts the seam on the running QApplication when the variable is set.
    static void startIfAsked();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ScriptedActions(const std::string& file);
    void tick();
    void record(const std::string& what);

    std::string file_;
    QTimer timer_;
};

}  // namespace telvo::app
