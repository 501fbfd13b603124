#include "app/log/TVSLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cerrno>
#include <cstring>
#include <vector>

#include "app/drawing/TextStyle.h"
#include "app/log/LogDecoding.h"
#include "app/log/LogSearch.h"
#include "platform/fs/Root.h"
#include "ui_Log.h"

namespace telvo::app {
namespace {

TVSLog*& instanceSlot() {
    static TVSLog* instance = nullptr;
    return instance;
}

// Characters the text view would take for the end of a block; a row stays one block.
bool endsBlock(QChar c) {
    const char16_t u = c.unicode();
    return u == '\r' || u == '\n' || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1;
}

QString viewText(QStringView text) {
    QString out = text.toString();
    for (QChar& c : out)
        if (endsBlock(c)) c = QChar(0xFFFD);
    return out;
}

bool needsViewText(QStringView text) {
    for (QChar c : text)
        if (endsBlock(c)) return true;
    return false;
}

void insert(QTextCursor& cursor, QStringView text, const QTextCharFormat& format) {
    if (text.isEmpty()) return;
    if (needsViewText(text))
        cursor.insertText(viewText(text), format);
    else
        cursor.insertText(text.toString(), format);
}

ErrorPtr saveError(long code, const QString& message) {
    return makeError("TVSLog", code, message.toStdString());
}

}  // namespace

TVSLog& TVSLog::sharedLog() {
    TVSLog*& instance = instanceSlot();
    if (!instance) instance = new TVSLog();
    return *instance;
}

void TVSLog::resetForTesting() {
    TVSLog*& instance = instanceSlot();
    delete instance;
    instance = nullptr;
}

TVSLog::TVSLog() : ui_(std::make_unique<Ui::Log>()) {
    window_ = new QWidget();
    ui_->setupUi(window_);
    window_->installEventFilter(this);
    connect(&follower_, &LogFollower::dataRead, this, [this](const QByteArray& bytes) { appendBytes(bytes, false); });
    connect(&follower_, &LogFollower::fileRestarted, this, &TVSLog::flushHeld);
    connect(ui_->clearButton, &QPushButton::clicked, this, &TVSLog::clear);
    connect(ui_->saveButton, &QPushButton::clicked, this, &TVSLog::save);
    setup();
}

TVSLog::~TVSLog() {
    stop();
    delete window_;
}

QLineEdit* TVSLog::searchField() const { return ui_->searchField; }
QPlainTextEdit* TVSLog::textView() const { return ui_->textView; }
QPushButton* TVSLog::clearButton() const { return ui_->clearButton; }
QPushButton* TVSLog::saveButton() const { return ui_->saveButton; }

void TVSLog::setup() {
    // One point is one pixel.
    QFont regular(installedFamily(QStringLiteral("Menlo")));
    regular.setStyleHint(QFont::Monospace);
    regular.setPixelSize(13);
    regular.setWeight(QFont::Normal);
    QFont bold = regular;
    bold.setBold(true);

    dateAttributes_.setFont(bold);
    dateAttributes_.setForeground(QColor::fromRgbF(0.46f, 0.519f, 0.7f, 1.0f));
    normalAttributes_.setFont(regular);
    normalAttributes_.setForeground(QColor::fromRgbF(0.8f, 0.8f, 0.8f, 1.0f));

    QPlainTextEdit* view = textView();
    view->setFont(regular);
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, QColor::fromRgbF(0.16f, 0.16f, 0.16f, 1.0f));
    palette.setColor(QPalette::Text, QColor::fromRgbF(0.8f, 0.8f, 0.8f, 1.0f));
    // The selection keeps the view's own text colour; only its background changes.
    palette.setColor(QPalette::Highlight, QColor::fromRgbF(0.239f, 0.278f, 0.4f, 1.0f));
    view->setPalette(palette);
    view->setMaximumBlockCount(int(kMaximumRows));
    view->setUndoRedoEnabled(false);

    // A view at its end stays there as the document grows or the window is resized; one the
    // reader scrolled up stays where it is.
    QScrollBar* bar = view->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { atEnd_ = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (atEnd_) bar->setValue(maximum);
    });
}

bool TVSLog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close) stop();
    return QObject::eventFilter(watched, event);
}

void TVSLog::start() {
    enabled_ = true;
    rows_.clear();
    held_.clear();
    textView()->clear();
    scrollToEndOfLog();
    QObject::disconnect(searchConnection_);
    searchConnection_ = connect(searchField(), &QLineEdit::textChanged, this, &TVSLog::search);

    follower_.close();
    // A missing, unreadable or irregular file (a FIFO would block a reader) leaves the view
    // empty and nothing followed.
    if (!follower_.open(fs::resolve(kLogPath))) return;
    bool cut = false;
    QByteArray tail = follower_.readTail(kTailBytes, &cut);
    // A tail cut inside a character starts after it.
    if (cut) tail.remove(0, leadingContinuationBytes(tail));
    appendBytes(tail, true);
    // From where the tail ended: what the daemon writes meanwhile is read next.
    follower_.follow();
}

void TVSLog::stop() {
    enabled_ = false;
    follower_.close();
    held_.clear();
    QObject::disconnect(searchConnection_);
    searchConnection_ = {};
}

void TVSLog::appendBytes(const QByteArray& bytes, bool first) {
    if (!enabled_) return;
    const QByteArray complete = held_.push(bytes);
    if (!complete.isEmpty()) processLog(decodeLogBytes(complete), first);
}

void TVSLog::flushHeld() {
    // The old file ended without its "\n": what it held is a row of its own.
    if (!enabled_) return;
    const QByteArray rest = held_.takeAll();
    if (!rest.isEmpty()) processLog(decodeLogBytes(rest), false);
}

void TVSLog::processLog(const QString& text, bool first) {
    (void)first;  // the tail and later batches are processed alike
    std::vector<LogRow> batch = splitLogText(text);
    if (batch.empty()) return;

    QPlainTextEdit* view = textView();
    QTextDocument* document = view->document();
    QScrollBar* bar = view->verticalScrollBar();
    const bool atEnd = atEnd_;
    const int place = bar->value();
    const bool wasEmpty = document->isEmpty();
    const int blocksBefore = document->blockCount();

    // Rows that would be dropped at once are neither styled nor kept.
    const size_t firstKept = batch.size() > size_t(kMaximumRows) ? batch.size() - size_t(kMaximumRows) : 0;
    QTextCursor storage(document);
    storage.movePosition(QTextCursor::End);
    storage.beginEditBlock();
    for (size_t i = firstKept; i < batch.size(); ++i) addRowToLog(batch[i], storage);
    storage.endEditBlock();

    if (firstKept > 0) rows_.clear();
    for (size_t i = firstKept; i < batch.size(); ++i) rows_.push_back(std::move(batch[i]));
    while (rows_.size() > size_t(kMaximumRows)) rows_.pop_front();

    if (atEnd) {
        scrollToEndOfLog();
    } else {
        // Scrolled up: the reader's place stays, also when the oldest rows were dropped.
        const int added = int(batch.size() - firstKept) - (wasEmpty ? 1 : 0);
        const int dropped = blocksBefore + added - document->blockCount();
        if (dropped > 0 && bar->value() == place) bar->setValue(qMax(0, place - dropped));
    }
}

void TVSLog::addRowToLog(const LogRow& row, QTextCursor& storage) const {
    if (!storage.atStart()) storage.insertBlock(QTextBlockFormat(), normalAttributes_);
    if (row.hasDate) insert(storage, row.date, dateAttributes_);
    QStringView data(row.data);
    if (data.endsWith(QLatin1Char('\n'))) data.chop(1);
    insert(storage, data, normalAttributes_);
}

void TVSLog::scrollToEndOfLog() {
    QScrollBar* bar = textView()->verticalScrollBar();
    atEnd_ = true;
    bar->setValue(bar->maximum());
}

void TVSLog::search() {
    ++searchCount_;
    const QString needle = foldForSearch(searchField()->text());
    QPlainTextEdit* view = textView();
    view->clear();
    QTextCursor storage(view->document());
    storage.beginEditBlock();
    for (const LogRow& row : rows_)
        if (logRowMatches(row, needle)) addRowToLog(row, storage);
    storage.endEditBlock();
    scrollToEndOfLog();
}

void TVSLog::clear() { textView()->clear(); }

void TVSLog::save() {
    auto* dialog = new QFileDialog(window_, tr("Save Log"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(tr("Log files (*.log)"));
    dialog->setDefaultSuffix(QStringLiteral("log"));
    dialog->selectFile(QStringLiteral("Telvo Server.log"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        if (ErrorPtr error = saveTo(file))
            showAlert(tr("The log could not be saved."), QString::fromStdString(error->message));
    });
    dialog->open();
}

ErrorPtr TVSLog::saveTo(const QString& hostPath) {
    const std::string source = fs::resolve(kLogPath);
    const int fd = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return saveError(-1, tr("The log file cannot be read: %1.").arg(QString::fromLocal8Bit(std::strerror(errno))));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return saveError(-1, tr("The log file is not a regular file."));
    }
    // Written beside the destination and renamed into place by commit(); dropped on failure.
    QSaveFile out(hostPath);
    if (!out.open(QIODevice::WriteOnly)) {
        ::close(fd);
        return saveError(-2, out.errorString());
    }
    std::vector<char> buffer(1024 * 1024);
    // What the file holds now; lines the daemon adds while this runs are not chased.
    off_t remaining = st.st_size;
    ErrorPtr error;
    while (remaining > 0) {
        const size_t want = remaining < off_t(buffer.size()) ? size_t(remaining) : buffer.size();
        const ssize_t n = ::read(fd, buffer.data(), want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = saveError(-1, tr("The log file cannot be read: %1.").arg(QString::fromLocal8Bit(std::strerror(errno))));
            break;
        }
        if (n == 0) break;
        if (out.write(buffer.data(), n) != n) {
            error = saveError(-3, out.errorString());
            break;
        }
        remaining -= n;
    }
    ::close(fd);
    if (error) {
        out.cancelWriting();
        return error;
    }
    if (!out.commit()) return saveError(-3, out.errorString());
    return nullptr;
}

void TVSLog::showAlert(const QString& message, const QString& detail) {
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Telvo Server"), message, QMessageBox::Ok, window_);
    box->setInformativeText(detail);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    alert_ = box;
    box->open();
}

}  // namespace telvo::app
