#pragma once
// The log window's controller: shows the last 250000 bytes of the daemon's log
// "/Library/Logs/TelvoServer.log" with each time stamp in its own style, then every line the
// daemon appends (across its rolls and truncations), a search field that filters the
// messages, Clear (the view only) and Save (a copy of the whole file). One shared instance,
// main thread only. `rows` and the view keep the newest kMaximumRows rows.
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTextCharFormat>
#include <deque>
#include <memory>

#include "app/log/LogFollower.h"
#include "app/log/LogLineBuffer.h"
#include "app/log/LogRow.h"
#include "platform/Error.h"

class QLineEdit;

class QPlainTextEdit;
class QPushButton;
class QTextCursor;
class QWidget;

namespace Ui {
class Log;
}

namespace telvo::app {

class TVSLog : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kLogPath = "/Library/Logs/TelvoServer.log";
    static constexpr qint64 kTailBytes = 250000;
    static constexpr qsizetype kMaximumRows = 100000;

    static TVSLog& sharedLog();
    static void resetForTesting();
    ~TVSLog() override;

    // Shows the file's tail and follows it; `stop` ends that (the window's closing runs it).
    void start();
    void stop();
    bool enabled() const { return enabled_; }

    // The actions.
    void search();
    void clear();
    void save();
    // Copies the whole current log file to `hostPath` through a temporary file beside it,
    // renamed into place; on failure nothing is left there.
    ErrorPtr saveTo(const QString& hostPath);

    // Turns text into rows and appends them, styled, to `rows` and the view in one step.
    void processLog(const QString& text, bool first);
    // Appends the row's date in the time-stamp style, when present, then its data in the
    // message style, as a block of its own.
    void addRowToLog(const LogRow& row, QTextCursor& storage) const;
    void scrollToEndOfLog();

    QWidget* window() const { return window_; }
    QLineEdit* searchField() const;
    QPlainTextEdit* textView() const;
    QPushButton* clearButton() const;
    QPushButton* saveButton() const;
    const std::deque<LogRow>& rows() const { return rows_; }
    const QTextCharFormat& dateAttributes() const { return dateAttributes_; }
    const QTextCharFormat& normalAttributes() const { return normalAttributes_; }
    // The last alert the window showed (a failed save), while it is open.
    QMessageBox* alert() const { return alert_; }
    // How many times the filter ran (for tests).
    int searchCount() const { return searchCount_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TVSLog();
    void setup();
    void appendBytes(const QByteArray& bytes, bool first);
    void flushHeld();
    void showAlert(const QString& message, const QString& detail);

    std::unique_ptr<Ui::Log> ui_;
    QPointer<QWidget> window_;
    QTextCharFormat dateAttributes_, normalAttributes_;
    std::deque<LogRow> rows_;
    bool enabled_ = false;
    // Whether the view shows its end (then it follows the rows that arrive).
    bool atEnd_ = true;
    LogFollower follower_;
    LogLineBuffer held_;
    QMetaObject::Connection searchConnection_;
    QPointer<QMessageBox> alert_;
    int searchCount_ = 0;
};

}  // namespace telvo::app
