#include "app/delegate/ScriptedActions.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QStackedWidget>
#include <QWidget>
#include <cstdlib>
#include <fstream>

#include "app/overlay/OverlayWindow.h"
#include <functional>
#include <sstream>
#include <vector>

namespace telvo::app {

namespace {

std::vector<std::string> readLines(const std::string& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

void writeLines(const std::string& file, const std::vector<std::string>& lines) {
    const std::string temporary = file + ".new." + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const auto& line : lines) out << line << '\n';
    }
    ::rename(temporary.c_str(), file.c_str());
}

// What presses a visible, enabled button of that name, or an enabled action; null when
// there is none yet.
std::function<void()> presser(const QString& name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        QList<QAbstractButton*> buttons = top->findChildren<QAbstractButton*>(name);
        if (auto* self = qobject_cast<QAbstractButton*>(top); self && self->objectName() == name) buttons.append(self);
        for (QAbstractButton* button : buttons)
            if (button->isVisible() && button->isEnabled()) return [button] { button->click(); };
    }
    for (QWidget* top : QApplication::topLevelWidgets())
        for (QAction* action : top->findChildren<QAction*>(name))
            if (action->isEnabled()) return [action] { action->trigger(); };
    return nullptr;
}

}  // namespace

void ScriptedActions::startIfAsked() {
    const char* file = std::getenv(kVariable);
    if (!file || !*file || !QApplication::instance()) return;
    auto* seam = new ScriptedActions(file);
    seam->setParent(QApplication::instance());
}

ScriptedActions::ScriptedActions(const std::string& file) : file_(file) {
    QApplication::instance()->installEventFilter(this);
    connect(QApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { record("quit"); });
    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, &ScriptedActions::tick);
    timer_.start();
}

void ScriptedActions::tick() {
    std::vector<std::string> lines = readLines(file_);
    if (lines.empty()) return;
    const std::string name = lines.front();
    std::function<void()> press = presser(QString::fromStdString(name));
    if (!press) return;
    // Taken out before the press: a press that ends the program leaves the rest to the next.
    lines.erase(lines.begin());
    writeLines(file_, lines);
    record("pressed " + name);
    press();
}

bool ScriptedActions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        const bool page = qobject_cast<QStackedWidget*>(widget->parentWidget()) != nullptr;
        const bool overlay = qobject_cast<OverlayWindow*>(widget) != nullptr;
        if (!widget->objectName().isEmpty() && (widget->isWindow() || page || overlay))
            record("shown " + widget->objectName().toStdString());
    }
    return false;
}

void ScriptedActions::record(const std::string& what) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::string line = std::to_string(::getpid()) + " " + what + "\t" +
                             std::to_string(static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000) + "\n";
    int fd = ::open((file_ + ".record").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    (void)!::write(fd, line.data(), line.size());
    ::close(fd);
}

}  // namespace telvo::app
